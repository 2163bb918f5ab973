#pragma once

#include "instruction/base.h"

// TSPL: one label of the requested size holding the image as a 1-bit BITMAP.
class TSPLInstruction : public BaseInstruction {
 public:
  explicit TSPLInstruction(TraceCodePrintParams params) : BaseInstruction(std::move(params)) {}
  TSPLInstruction(TraceCodePrintParams params, int32_t fixedDpi)
      : BaseInstruction(std::move(params), fixedDpi) {}

  ByteVector generateCommand() override;
};
