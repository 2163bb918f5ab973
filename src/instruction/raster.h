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
#include "helper/bmp_fields.h"
#include "instruction/resolution.h"
#include "printer/print_request.h"

enum class DarkBit : uint8_t { Zero, One };  // TSPL prints 0 bits; the others print 1 bits

// Bytes per raster row for a width in dots.
constexpr int64_t rasterRowBytes(int32_t width) {
  return (static_cast<int64_t>(width) + 7) / 8;
}

// W, H, B, S and P of a label's 1-bit raster, worked out once per stream.
struct RasterGeometry {
  int32_t width = 0;         // W, dots
  int32_t height = 0;        // H, rows
  int64_t rowBytes = 0;      // B = (W + 7) / 8
  uint64_t stride = 0;       // S, one stored row of the prepared image
  uint32_t pixelOffset = 0;  // P, from the image's file header

  bool hasDots() const { return width >= 1 && height >= 1; }
  // T = B x H; 0 for a label without dots.
  uint64_t rasterBytes() const {
    return hasDots() ? static_cast<uint64_t>(rowBytes) * static_cast<uint64_t>(height) : 0;
  }
  // Whether H rows of S bytes from P lie inside the image.
  bool heldBy(const ByteVector& image) const {
    return hasDots() && pixelOffset <= image.size() &&
           (image.size() - pixelOffset) / stride >= static_cast<uint64_t>(height);
  }
};

inline RasterGeometry rasterGeometry(int32_t width, int32_t height, const ByteVector& image) {
  RasterGeometry g;
  g.width = width;
  g.height = height;
  g.rowBytes = rasterRowBytes(width);
  g.stride = preparedStride(static_cast<uint32_t>(width));
  g.pixelOffset = bmpfield::readU32(image, bmpfield::kPixelOffset);
  return g;
}

// Sized by the label (TSPL, ZPL, CPCL): W and H are its millimetres in dots.
inline RasterGeometry labelGeometry(const TraceCodePrintParams& request, int32_t dpi,
                                    const ByteVector& image) {
  return rasterGeometry(mmToDots(request.width, dpi), mmToDots(request.height, dpi), image);
}

// Sized by the image's own header (ESC/POS).
inline RasterGeometry imageGeometry(const ByteVector& image) {
  return rasterGeometry(bmpfield::readI32(image, bmpfield::kWidth),
                        bmpfield::readI32(image, bmpfield::kHeight), image);
}

// Appends rows [firstRow, firstRow + rows) of the raster, row 0 the top of
// the picture (the prepared image stores its rows bottom-up), to `out`, a
// std::string or ByteVector. Returns false, appending nothing, when the range
// leaves the label or the image does not hold the label's rows: nothing past
// its end is ever read.
template <typename Out>
bool appendRasterRows(const ByteVector& image, const RasterGeometry& g, int32_t firstRow,
                      int32_t rows, DarkBit dark, Out& out) {
  if (!g.heldBy(image) || firstRow < 0 || rows < 0 || rows > g.height - firstRow) return false;
  const size_t start = out.size();
  out.resize(start + static_cast<size_t>(g.rowBytes) * static_cast<size_t>(rows));
  uint8_t* dst = reinterpret_cast<uint8_t*>(&out[start]);

  // Light pixels have the top bit set; TSPL sends that bit as it is, the
  // others send its inverse. Filler bits past the width stay 0 either way.
  const uint8_t flip = dark == DarkBit::One ? 0xFF : 0x00;
  const int32_t whole = g.width / 8;
  const int32_t rest = g.width % 8;
  const uint8_t restMask = static_cast<uint8_t>(0xFF00u >> rest);
  for (int32_t r = firstRow; r < firstRow + rows; ++r) {
    const uint8_t* src = image.data() + g.pixelOffset + uint64_t(g.height - 1 - r) * g.stride;
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
bool appendRaster(const ByteVector& image, const RasterGeometry& g, DarkBit dark, Out& out) {
  return appendRasterRows(image, g, 0, g.height, dark, out);
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
