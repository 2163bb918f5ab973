#include "instruction/ppla.h"

#include <utility>

#include "instruction/stored_image.h"

PPLAInstruction::PPLAInstruction(TraceCodePrintParams params)
    : BaseInstruction(std::move(params)) {}

PPLAInstruction::PPLAInstruction(TraceCodePrintParams params, int32_t fixedDpi)
    : BaseInstruction(std::move(params), fixedDpi) {}

int32_t PPLAInstruction::mmToTenths(int32_t mm) {
  return storedImageTenths(mm);
}

ByteVector PPLAInstruction::generateCommand() {
  return buildStoredImageLabel(bmpData, mmToTenths(params.height), params.withCutter,
                               LineEnd::CrLf);
}
