#pragma once
// ESC/POS: initialise, the whole image as one GS v 0 raster block, three line
// feeds and an optional full cut. Sizes come from the image header.

#include <cstdint>

#include "instruction/base.h"

// The stream for a prepared image (dpi is not read: the image has the label's
// size in dots); empty when its sizes do not fit GS v 0 or it does not hold
// the rows its header announces.
ByteVector escPosCommand(const TraceCodePrintParams& request, int32_t dpi, const ByteVector& image);

class ESCPOSInstruction : public BaseInstruction {
 public:
  using BaseInstruction::BaseInstruction;

  ByteVector generateCommand() override { return escPosCommand(params, dpi, bmpData); }
};
