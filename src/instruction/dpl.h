#pragma once
// DPL: the PPLA label, record for record, with a bare CR ending every line.

#include <cstdint>

#include "instruction/base.h"

// The stream for a prepared image; dpi is not read (the image carries the width).
ByteVector dplCommand(const TraceCodePrintParams& request, int32_t dpi, const ByteVector& image);

class DPLInstruction : public BaseInstruction {
 public:
  using BaseInstruction::BaseInstruction;

  ByteVector generateCommand() override { return dplCommand(params, dpi, bmpData); }

  static int32_t mmToTenths(int32_t mm);
};
