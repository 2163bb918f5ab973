#pragma once
// CPCL: one label holding the whole image as a single expanded-graphics (EG)
// command in hexadecimal.

#include <cstdint>
#include <string>

#include "instruction/base.h"

// The stream for a prepared image at dpi; empty when the image does not hold
// the label's rows.
ByteVector cpclCommand(const TraceCodePrintParams& request, int32_t dpi, const ByteVector& image);

class CPCLInstruction : public BaseInstruction {
 public:
  using BaseInstruction::BaseInstruction;

  ByteVector generateCommand() override { return cpclCommand(params, dpi, bmpData); }

  // The two uppercase hex digits of a payload byte, high nibble first.
  static std::string toHex(uint8_t value);
};
