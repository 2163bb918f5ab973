#pragma once
// CPCL: one label holding the whole image as a single expanded-graphics (EG)
// command in hexadecimal.

#include <cstdint>
#include <string>

#include "instruction/base.h"

class CPCLInstruction : public BaseInstruction {
 public:
  explicit CPCLInstruction(TraceCodePrintParams params);
  CPCLInstruction(TraceCodePrintParams params, int32_t fixedDpi);

  ByteVector generateCommand() override;

  // The two uppercase hex digits of a payload byte, high nibble first.
  static std::string toHex(uint8_t value);
};
