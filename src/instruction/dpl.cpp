#include "instruction/dpl.h"

#include "instruction/stored_image.h"

int32_t DPLInstruction::mmToTenths(int32_t mm) {
  return storedImageTenths(mm);
}

ByteVector dplCommand(const TraceCodePrintParams& request, int32_t /*dpi*/,
                      const ByteVector& image) {
  return buildStoredImageLabel(image, storedImageTenths(request.height), request.withCutter,
                               LineEnd::Cr);
}
