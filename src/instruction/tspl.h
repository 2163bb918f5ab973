#pragma once
// TSPL: one label of the requested size holding the image as a 1-bit BITMAP.

#include <cstdint>

#include "instruction/base.h"

// The stream for a prepared image at dpi; empty when the image does not hold
// the label's rows.
ByteVector tsplCommand(const TraceCodePrintParams& request, int32_t dpi, const ByteVector& image);

class TSPLInstruction : public BaseInstruction {
 public:
  using BaseInstruction::BaseInstruction;

  ByteVector generateCommand() override { return tsplCommand(params, dpi, bmpData); }
};
