#pragma once
// The 1-bit raster that TSPL, ZPL, CPCL and ESC/POS send: rows of (W + 7) / 8
// bytes, top row of the picture first, leftmost dot in the most significant
// bit, a pixel dark when its gray level is below 128. The languages differ only
// in which bit value prints.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>

#include "helper/bmp.h"

enum class DarkBit : uint8_t { Zero, One };  // TSPL prints 0 bits; the others print 1 bits

// Bytes per raster row for a width in dots.
constexpr int64_t rasterRowBytes(int32_t width) {
  return (static_cast<int64_t>(width) + 7) / 8;
}

// Reads the little-endian 32-bit fields of a prepared image's headers; 0 past the end.
inline uint32_t readU32(const ByteVector& image, size_t offset) {
  if (offset > image.size() || image.size() - offset < 4) return 0;
  return static_cast<uint32_t>(image[offset]) | static_cast<uint32_t>(image[offset + 1]) << 8 |
         static_cast<uint32_t>(image[offset + 2]) << 16 |
         static_cast<uint32_t>(image[offset + 3]) << 24;
}
inline int32_t readI32(const ByteVector& image, size_t offset) {
  return static_cast<int32_t>(readU32(image, offset));
}

// Appends rows [firstRow, firstRow + rows) of the raster of a width x height
// prepared image (rows bottom-up at `pixelOffset`, each preparedStride(width)
// bytes; row 0 is the top of the picture) to `out`, a std::string or
// ByteVector. Returns false, appending nothing, when a size is below 1, the
// range leaves the label, or the image does not hold the label's rows:
// nothing past its end is ever read.
template <typename Out>
bool appendRasterRows(const ByteVector& image, uint32_t pixelOffset, int32_t width, int32_t height,
                      int32_t firstRow, int32_t rows, DarkBit dark, Out& out) {
  if (width < 1 || height < 1 || firstRow < 0 || rows < 0 || rows > height - firstRow) {
    return false;
  }
  const uint64_t stride = preparedStride(static_cast<uint32_t>(width));
  if (pixelOffset > image.size() || (image.size() - pixelOffset) / stride < uint64_t(height)) {
    return false;
  }
  const size_t rowBytes = static_cast<size_t>(rasterRowBytes(width));
  const size_t start = out.size();
  out.resize(start + rowBytes * static_cast<size_t>(rows));
  uint8_t* dst = reinterpret_cast<uint8_t*>(&out[start]);

  // Light pixels have the top bit set; TSPL sends that bit as it is, the
  // others send its inverse. Filler bits past the width stay 0 either way.
  const uint8_t flip = dark == DarkBit::One ? 0xFF : 0x00;
  const int32_t whole = width / 8;
  const int32_t rest = width % 8;
  const uint8_t restMask = static_cast<uint8_t>(0xFF00u >> rest);
  for (int32_t r = firstRow; r < firstRow + rows; ++r) {
    const uint8_t* src = image.data() + pixelOffset + uint64_t(height - 1 - r) * stride;
    for (int32_t b = 0; b < whole; ++b, src += 8) {
      const uint8_t bits = (src[0] & 0x80) | (src[1] & 0x80) >> 1 | (src[2] & 0x80) >> 2 |
                           (src[3] & 0x80) >> 3 | (src[4] & 0x80) >> 4 | (src[5] & 0x80) >> 5 |
                           (src[6] & 0x80) >> 6 | (src[7] & 0x80) >> 7;
      *dst++ = bits ^ flip;
    }
    if (rest != 0) {
      uint8_t bits = 0;
      for (int32_t k = 0; k < rest; ++k) bits |= (src[k] & 0x80) >> k;
      *dst++ = (bits ^ flip) & restMask;
    }
  }
  return true;
}

// The whole raster, top row first.
template <typename Out>
bool appendRaster(const ByteVector& image, uint32_t pixelOffset, int32_t width, int32_t height,
                  DarkBit dark, Out& out) {
  return appendRasterRows(image, pixelOffset, width, height, 0, height, dark, out);
}

// Appends text to a command stream.
inline void appendText(ByteVector& out, std::string_view text) {
  out.insert(out.end(), text.begin(), text.end());
}
inline void appendNumber(ByteVector& out, int64_t value) {
  char digits[24];
  const int n = std::snprintf(digits, sizeof digits, "%lld", static_cast<long long>(value));
  out.insert(out.end(), digits, digits + n);
}
