#pragma once
// PPLA: downloads the prepared image as a BMP file and prints it from the
// printer's memory; lines end with CR LF.

#include <cstdint>

#include "instruction/base.h"

// The stream for a prepared image; dpi is not read (the image carries the width).
ByteVector pplaCommand(const TraceCodePrintParams& request, int32_t dpi, const ByteVector& image);

class PPLAInstruction : public BaseInstruction {
 public:
  using BaseInstruction::BaseInstruction;

  ByteVector generateCommand() override { return pplaCommand(params, dpi, bmpData); }

  static int32_t mmToTenths(int32_t mm);
};
