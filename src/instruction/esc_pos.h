#pragma once
// ESC/POS: initialise, the whole image as one GS v 0 raster block, three line
// feeds and an optional full cut. Sizes come from the image header.

#include <cstdint>

#include "instruction/base.h"

class ESCPOSInstruction : public BaseInstruction {
 public:
  explicit ESCPOSInstruction(TraceCodePrintParams params);
  ESCPOSInstruction(TraceCodePrintParams params, int32_t fixedDpi);

  ByteVector generateCommand() override;
};
