#include "instruction/dpl.h"

#include <utility>

#include "instruction/stored_image.h"

DPLInstruction::DPLInstruction(TraceCodePrintParams params) : BaseInstruction(std::move(params)) {}

DPLInstruction::DPLInstruction(TraceCodePrintParams params, int32_t fixedDpi)
    : BaseInstruction(std::move(params), fixedDpi) {}

int32_t DPLInstruction::mmToTenths(int32_t mm) {
  return storedImageTenths(mm);
}

ByteVector DPLInstruction::generateCommand() {
  return buildStoredImageLabel(bmpData, mmToTenths(params.height), params.withCutter, LineEnd::Cr);
}
