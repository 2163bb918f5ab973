#include "instruction/cpcl.h"

#include "instruction/hex.h"
#include "instruction/raster.h"

std::string CPCLInstruction::toHex(uint8_t value) {
  return hex::byte(value);
}

// The header's resolution fields stay 200 200 at every dpi: the dot counts
// already carry the resolution.
ByteVector cpclCommand(const TraceCodePrintParams& request, int32_t dpi, const ByteVector& image) {
  const RasterGeometry g = labelGeometry(request, dpi, image);
  const uint64_t total = hex::reservableRasterBytes(image, g);
  if (total == 0) return {};

  ByteVector out;
  out.reserve(96 + 2 * total);
  appendText(out, "! 0 200 200 ");
  appendNumber(out, g.height);
  appendText(out, " 1\r\nPW ");
  appendNumber(out, g.width);
  appendText(out, "\r\nEG ");
  appendNumber(out, g.rowBytes);
  appendText(out, " ");
  appendNumber(out, g.height);
  appendText(out, " 0 0 ");
  if (!hex::appendRows(image, g, 0, g.height, out)) return {};
  appendText(out, request.withCutter ? "\r\nCUT\r\nPRINT\r\n" : "\r\nPRINT\r\n");
  return out;
}
