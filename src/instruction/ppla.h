#pragma once
// PPLA: downloads the prepared image as a BMP file and prints it from the
// printer's memory; lines end with CR LF.

#include <cstdint>

#include "instruction/base.h"

class PPLAInstruction : public BaseInstruction {
 public:
  explicit PPLAInstruction(TraceCodePrintParams params);
  PPLAInstruction(TraceCodePrintParams params, int32_t fixedDpi);

  ByteVector generateCommand() override;

  static int32_t mmToTenths(int32_t mm);
};
