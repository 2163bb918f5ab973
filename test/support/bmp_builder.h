#pragma once
// BMP files for the image and language tests, and readers for the prepared
// images that come back.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <random>
#include <stdexcept>
#include <utility>
#include <vector>

namespace testbmp {

using Bytes = std::vector<uint8_t>;

struct Image {
  int32_t width = 1;
  int32_t height = 1;
  uint16_t bits = 24;
  Bytes rows;                    // (width * bits + 7) / 8 bytes per row, bottom row first, unpadded
  uint32_t infoHeaderSize = 40;  // 40, 108 or 124
  uint32_t compression = 0;
  uint32_t gap = 0;  // bytes between the colour table and the rows
};

inline void put32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

inline uint32_t u32(const Bytes& b, size_t at) {
  return b.at(at) | b.at(at + 1) << 8 | b.at(at + 2) << 16 | uint32_t{b.at(at + 3)} << 24;
}

// Headers (resolution 2835 x 3780), a colour table for 8 bits and less that
// is no gray ramp, so that a reader consulting it shows, then the rows
// padded to 4 bytes.
inline Bytes build(const Image& im) {
  const uint32_t rows = uint32_t(im.height);
  const size_t rowBytes = (size_t{uint32_t(im.width)} * im.bits + 7) / 8;
  const size_t stride = (rowBytes + 3) / 4 * 4;
  if (im.rows.size() != rowBytes * rows) throw std::invalid_argument("row bytes do not match");
  const uint32_t entries = im.bits <= 8 ? 1u << im.bits : 0;
  const uint32_t offset = 14 + im.infoHeaderSize + 4 * entries + im.gap;
  Bytes b(offset + stride * rows);
  b[0] = 'B';
  b[1] = 'M';
  const std::pair<size_t, uint32_t> fields[] = {{2, uint32_t(b.size())},
                                                {10, offset},
                                                {14, im.infoHeaderSize},
                                                {18, uint32_t(im.width)},
                                                {22, rows},
                                                {26, 1u | uint32_t{im.bits} << 16},
                                                {30, im.compression},
                                                {34, uint32_t(stride * rows)},
                                                {38, 2835},
                                                {42, 3780},
                                                {46, entries}};
  for (auto [at, value] : fields) put32(b, at, value);
  for (uint32_t i = 0; i < entries; ++i) {
    put32(b, 14 + im.infoHeaderSize + 4 * i, (0xFFu - i) | i << 16);
  }
  for (uint32_t y = 0; y < rows; ++y) {
    std::copy_n(im.rows.begin() + y * rowBytes, rowBytes, b.begin() + offset + y * stride);
  }
  return b;
}

inline Bytes randomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes out(n);
  for (auto& v : out) v = static_cast<uint8_t>(rng());
  return out;
}

inline Image randomImage(int32_t width, int32_t height, uint16_t bits, uint32_t seed) {
  return {width, height, bits, randomBytes(size_t(width) * height * bits / 8, seed)};
}

// An 8-bit image whose pixel (x, y), y counted from the top, is level(x, y).
template <typename Level>
Image grayImage(int32_t width, int32_t height, Level level) {
  Image im{width, height, 8, {}};
  for (int32_t y = height; y-- > 0;) {
    for (int32_t x = 0; x < width; ++x) im.rows.push_back(level(x, y));
  }
  return im;
}

// Row y (0 = bottom) of a prepared image, without its pad bytes.
inline Bytes row(const Bytes& prepared, uint32_t y) {
  const uint32_t width = u32(prepared, 18);
  const size_t at = u32(prepared, 10) + size_t{y} * ((width + 3) & ~3u);
  return Bytes(prepared.begin() + at, prepared.begin() + at + width);
}

}  // namespace testbmp
