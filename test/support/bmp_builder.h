#pragma once
// BMP file images for the image tests, and readers for the fields of the
// images that come back.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace testbmp {

struct Image {
  int32_t width = 1;
  int32_t height = 1;
  uint16_t bitsPerPixel = 24;
  uint32_t infoHeaderSize = 40;  // 40, 108 or 124
  uint32_t compression = 0;
  uint32_t xPixelsPerMetre = 2835;
  uint32_t yPixelsPerMetre = 3780;
  // Row bytes without padding, (width * bitsPerPixel + 7) / 8 per row, bottom row first.
  std::vector<uint8_t> rows;
};

// Headers, a colour table for 8 bits and less (not a gray ramp, so that a
// reader that consults it shows), then the rows padded to 4 bytes.
std::vector<uint8_t> build(const Image& image);

// Pixel data offset of what build() makes.
uint32_t pixelOffset(const Image& image);

uint16_t u16(const std::vector<uint8_t>& bytes, size_t offset);
uint32_t u32(const std::vector<uint8_t>& bytes, size_t offset);

// Pixel x of row y (0 = bottom) of a prepared image.
uint8_t pixel(const std::vector<uint8_t>& prepared, uint32_t x, uint32_t y);

// One row of a prepared image, without its pad bytes.
std::vector<uint8_t> row(const std::vector<uint8_t>& prepared, uint32_t y);

}  // namespace testbmp
