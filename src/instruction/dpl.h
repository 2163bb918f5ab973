#pragma once
// DPL: the PPLA label, record for record, with a bare CR ending every line.

#include <cstdint>

#include "instruction/base.h"

class DPLInstruction : public BaseInstruction {
 public:
  explicit DPLInstruction(TraceCodePrintParams params);
  DPLInstruction(TraceCodePrintParams params, int32_t fixedDpi);

  ByteVector generateCommand() override;

  static int32_t mmToTenths(int32_t mm);
};
