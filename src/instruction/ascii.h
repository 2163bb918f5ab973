#pragma once
// Text pieces of the command streams: literal commands, decimal numbers and
// the uppercase hexadecimal of the ZPL (^GFA) and CPCL (EG) raster payloads.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "helper/bmp.h"

namespace ascii {

using HexDigits = std::array<char, 2>;

constexpr std::array<HexDigits, 256> makeHexTable() {
  constexpr char kDigits[] = "0123456789ABCDEF";
  std::array<HexDigits, 256> table{};
  for (size_t v = 0; v < 256; ++v) table[v] = {kDigits[v >> 4], kDigits[v & 0x0F]};
  return table;
}
inline constexpr std::array<HexDigits, 256> kHex = makeHexTable();

inline std::string hexByte(uint8_t value) {
  return {kHex[value][0], kHex[value][1]};
}

inline void append(ByteVector& out, std::string_view text) {
  out.insert(out.end(), text.begin(), text.end());
}

// Widens the `count` bytes that end `out` in place to their 2 x count hex
// digits. Walking from the last byte, every byte is read before its own slot
// or a later byte's slot is written, so no second buffer is needed.
inline void expandTailToHex(ByteVector& out, size_t count) {
  if (count == 0) return;
  const size_t start = out.size() - count;
  out.resize(start + 2 * count);
  uint8_t* p = out.data() + start;
  for (size_t i = count; i-- > 0;) {
    const HexDigits& d = kHex[p[i]];
    p[2 * i] = static_cast<uint8_t>(d[0]);
    p[2 * i + 1] = static_cast<uint8_t>(d[1]);
  }
}

}  // namespace ascii
