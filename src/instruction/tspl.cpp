#include "instruction/tspl.h"

#include "instruction/raster.h"

// The raster goes out binary inside the BITMAP line, CR and LF bytes included:
// the printer reads exactly B x H bytes after the header. A label without dots
// keeps the header with an empty raster.
ByteVector tsplCommand(const TraceCodePrintParams& request, int32_t dpi, const ByteVector& image) {
  const RasterGeometry g = labelGeometry(request, dpi, image);
  // There is never more raster than image: refusing here bounds the
  // reservation before appendRaster makes the exact check.
  if (g.rasterBytes() > image.size()) return {};

  ByteVector out;
  out.reserve(160 + static_cast<size_t>(g.rasterBytes()));
  appendText(out, "SIZE ");
  appendNumber(out, request.width);
  appendText(out, " mm, ");
  appendNumber(out, request.height);
  appendText(out, " mm\r\nCLS\r\nGAP 0,0\r\nOFFSET 0\r\nDIRECTION 1\r\nSET TEAR ON\r\n");
  if (request.withCutter) appendText(out, "SET CUTTER 1\r\n");
  appendText(out, "BITMAP 0,0,");
  appendNumber(out, g.rowBytes);
  appendText(out, ",");
  appendNumber(out, g.height);
  appendText(out, ",0,");
  if (g.hasDots() && !appendRaster(image, g, DarkBit::Zero, out)) return {};
  appendText(out, "\r\nPRINT 1\r\n");
  return out;
}
