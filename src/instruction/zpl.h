#pragma once
// ZPL: one label format whose whole area is a single ASCII-hex graphic field.

#include <cstdint>
#include <string>

#include "instruction/base.h"

class ZPLInstruction : public BaseInstruction {
 public:
  explicit ZPLInstruction(TraceCodePrintParams params);
  ZPLInstruction(TraceCodePrintParams params, int32_t fixedDpi);

  ByteVector generateCommand() override;

  // The two uppercase hex digits of a payload byte, high nibble first.
  static std::string toZPLHex(uint8_t value);
};
