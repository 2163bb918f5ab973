#include "instruction/ppla.h"

#include "instruction/stored_image.h"

int32_t PPLAInstruction::mmToTenths(int32_t mm) {
  return storedImageTenths(mm);
}

ByteVector pplaCommand(const TraceCodePrintParams& request, int32_t /*dpi*/,
                       const ByteVector& image) {
  return buildStoredImageLabel(image, storedImageTenths(request.height), request.withCutter,
                               LineEnd::CrLf);
}
