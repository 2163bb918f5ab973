#pragma once
// ZPL: one label format whose whole area is ASCII-hex graphic fields.

#include <cstdint>
#include <string>

#include "instruction/base.h"

namespace zpl {
// The two compressed forms of a ^GFA field's data for `raster` (1 bits print):
// ":Z64:", the zlib stream in base64, ":" and the CRC-16 (CCITT, over the
// base64 text) in four hex digits; empty when zlib fails.
std::string z64(const uint8_t* raster, size_t size);
// The run-length hex form, row by row: repeat counts, "," for a row that ends
// in 0 digits, ":" for a row that repeats the one before.
std::string runLength(const uint8_t* raster, size_t size, int32_t rowBytes);
uint16_t crc16(const char* data, size_t size);
}  // namespace zpl

// The stream for a prepared image at dpi; empty when the image does not hold
// the label's rows or a row is too long for a graphic field.
ByteVector zplCommand(const TraceCodePrintParams& request, int32_t dpi, const ByteVector& image);

class ZPLInstruction : public BaseInstruction {
 public:
  using BaseInstruction::BaseInstruction;

  ByteVector generateCommand() override { return zplCommand(params, dpi, bmpData); }

  // The two uppercase hex digits of a payload byte, high nibble first.
  static std::string toZPLHex(uint8_t value);
};
