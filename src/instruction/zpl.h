#pragma once
// ZPL: one label format whose whole area is ASCII-hex graphic fields.

#include <cstdint>
#include <string>

#include "instruction/base.h"

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
