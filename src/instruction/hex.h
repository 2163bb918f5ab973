#pragma once
// Uppercase hexadecimal for the ASCII raster payloads of ZPL (^GFA) and CPCL
// (EG): two digits per byte, high nibble first, from one 256-entry table.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "helper/bmp.h"
#include "instruction/raster.h"

namespace hex {

using Digits = std::array<char, 2>;

constexpr std::array<Digits, 256> makeTable() {
  constexpr char kDigits[] = "0123456789ABCDEF";
  std::array<Digits, 256> table{};
  for (size_t v = 0; v < 256; ++v) table[v] = {kDigits[v >> 4], kDigits[v & 0x0F]};
  return table;
}
inline constexpr std::array<Digits, 256> kTable = makeTable();

inline std::string byte(uint8_t value) {
  return {kTable[value][0], kTable[value][1]};
}

// Widens the last `count` bytes of `out` in place to their 2 x count digits.
// Walking from the last byte, every byte is read before its own slot or a
// later byte's slot is written, so no second buffer is needed.
inline void expandTail(ByteVector& out, size_t count) {
  if (count == 0) return;
  const size_t start = out.size() - count;
  out.resize(start + 2 * count);
  uint8_t* p = out.data() + start;
  for (size_t i = count; i-- > 0;) {
    const Digits& d = kTable[p[i]];
    p[2 * i] = static_cast<uint8_t>(d[0]);
    p[2 * i + 1] = static_cast<uint8_t>(d[1]);
  }
}

// Raster bytes of a width x height label read by its dot size, or 0 when the
// label has no dots or the image is too small to hold that much raster (which
// bounds the reservation before the exact check of appendLabel).
inline uint64_t labelBytes(const ByteVector& image, int32_t width, int32_t height) {
  if (width < 1 || height < 1 || image.size() < 54) return 0;
  const uint64_t total =
      static_cast<uint64_t>(rasterRowBytes(width)) * static_cast<uint64_t>(height);
  return total <= image.size() ? total : 0;
}

// Appends rows [firstRow, firstRow + rows) of the label's raster (1 bits
// print) as hexadecimal digits; false when the image does not hold the
// label's rows.
inline bool appendLabelRows(const ByteVector& image, int32_t width, int32_t height,
                            int32_t firstRow, int32_t rows, ByteVector& out) {
  const size_t before = out.size();
  if (!appendRasterRows(image, readU32(image, 10), width, height, firstRow, rows, DarkBit::One,
                        out)) {
    return false;
  }
  expandTail(out, out.size() - before);
  return true;
}

inline bool appendLabel(const ByteVector& image, int32_t width, int32_t height, ByteVector& out) {
  return appendLabelRows(image, width, height, 0, height, out);
}

}  // namespace hex
