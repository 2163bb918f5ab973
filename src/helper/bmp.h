#pragma once
// BMP handling: any 8-, 24- or 32-bit BMP becomes the prepared image, an 8-bit
// grayscale BMP (1078 bytes of headers and gray ramp palette, then bottom-up
// rows padded to 4 bytes, one byte per pixel, 0 black to 255 white).

#include <cstdint>
#include <string>
#include <vector>

using ByteVector = std::vector<uint8_t>;

// The widest and tallest image any reader takes, in pixels.
constexpr int32_t kMaxImageSide = 10000;

// Offset of the pixel rows in every prepared image.
constexpr uint32_t kPreparedPixelOffset = 1078;

// Row length of a prepared image: the width rounded up to a multiple of 4.
constexpr uint32_t preparedStride(uint32_t width) {
  return (width + 3u) & ~3u;
}

// The prepared image of an 8-, 24- or 32-bit BMP; empty (with one log line) when it cannot be read.
ByteVector convertTo8BitBMP(const ByteVector& bmp);

// Nearest-neighbour scaling to width x height pixels, as a prepared image; empty on failure.
// Throws std::length_error("vector") when the result would exceed 2^31 - 1 bytes.
ByteVector resizeBMP(const ByteVector& bmp, int32_t width, int32_t height);

// Writes the bytes to path as they are; false (with a log line) on any failure.
bool saveBMPToFile(const ByteVector& bmp, const std::string& path);
