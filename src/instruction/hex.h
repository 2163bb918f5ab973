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

// T when the label has dots and the image is at least as long as its raster,
// else 0: a bound on the reservation before appendRasterRows makes the exact
// check.
inline uint64_t reservableRasterBytes(const ByteVector& image, const RasterGeometry& g) {
  const uint64_t total = g.rasterBytes();
  return image.size() >= bmpfield::kHeaderBytes && total <= image.size() ? total : 0;
}

// Appends rows [firstRow, firstRow + rows) of the raster (1 bits print) as
// hexadecimal digits; false when the image does not hold the label's rows.
inline bool appendRows(const ByteVector& image, const RasterGeometry& g, int32_t firstRow,
                       int32_t rows, ByteVector& out) {
  const size_t before = out.size();
  if (!appendRasterRows(image, g, firstRow, rows, DarkBit::One, out)) return false;
  expandTail(out, out.size() - before);
  return true;
}

}  // namespace hex
