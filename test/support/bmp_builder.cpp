#include "bmp_builder.h"

#include <algorithm>
#include <stdexcept>

namespace testbmp {
namespace {

void put16(std::vector<uint8_t>& out, size_t at, uint32_t v) {
  out[at] = static_cast<uint8_t>(v);
  out[at + 1] = static_cast<uint8_t>(v >> 8);
}

void put32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
  put16(out, at, v);
  put16(out, at + 2, v >> 16);
}

uint32_t paletteEntries(uint16_t bitsPerPixel) {
  return bitsPerPixel <= 8 ? 1u << bitsPerPixel : 0;
}

}  // namespace

uint32_t pixelOffset(const Image& image) {
  return 14 + image.infoHeaderSize + 4 * paletteEntries(image.bitsPerPixel);
}

std::vector<uint8_t> build(const Image& image) {
  const uint32_t width = static_cast<uint32_t>(image.width);
  const uint32_t rows = static_cast<uint32_t>(image.height < 0 ? -image.height : image.height);
  const size_t rowBytes = (size_t{width} * image.bitsPerPixel + 7) / 8;
  const size_t stride = (size_t{width} * image.bitsPerPixel + 31) / 32 * 4;
  if (image.rows.size() != rowBytes * rows) throw std::invalid_argument("row bytes do not match");
  const uint32_t offset = pixelOffset(image);
  std::vector<uint8_t> out(offset + stride * rows);
  out[0] = 'B';
  out[1] = 'M';
  put32(out, 2, static_cast<uint32_t>(out.size()));
  put32(out, 10, offset);
  put32(out, 14, image.infoHeaderSize);
  put32(out, 18, static_cast<uint32_t>(image.width));
  put32(out, 22, static_cast<uint32_t>(image.height));
  put16(out, 26, 1);
  put16(out, 28, image.bitsPerPixel);
  put32(out, 30, image.compression);
  put32(out, 34, static_cast<uint32_t>(stride * rows));
  put32(out, 38, image.xPixelsPerMetre);
  put32(out, 42, image.yPixelsPerMetre);
  const uint32_t entries = paletteEntries(image.bitsPerPixel);
  put32(out, 46, entries);
  for (uint32_t i = 0; i < entries; ++i) {
    const size_t at = 14 + image.infoHeaderSize + 4 * i;
    out[at] = static_cast<uint8_t>(255 - i);  // blue falls while red rises
    out[at + 1] = static_cast<uint8_t>(i / 2);
    out[at + 2] = static_cast<uint8_t>(i);
  }
  for (uint32_t y = 0; y < rows; ++y) {
    std::copy_n(image.rows.begin() + y * rowBytes, rowBytes, out.begin() + offset + y * stride);
  }
  return out;
}

uint16_t u16(const std::vector<uint8_t>& bytes, size_t offset) {
  return static_cast<uint16_t>(bytes.at(offset) | bytes.at(offset + 1) << 8);
}

uint32_t u32(const std::vector<uint8_t>& bytes, size_t offset) {
  return u16(bytes, offset) | static_cast<uint32_t>(u16(bytes, offset + 2)) << 16;
}

uint8_t pixel(const std::vector<uint8_t>& prepared, uint32_t x, uint32_t y) {
  const uint32_t stride = (u32(prepared, 18) + 3) & ~3u;
  return prepared.at(u32(prepared, 10) + size_t{y} * stride + x);
}

std::vector<uint8_t> row(const std::vector<uint8_t>& prepared, uint32_t y) {
  const uint32_t width = u32(prepared, 18);
  std::vector<uint8_t> out(width);
  for (uint32_t x = 0; x < width; ++x) out[x] = pixel(prepared, x, y);
  return out;
}

}  // namespace testbmp
