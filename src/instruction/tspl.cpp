#include "instruction/tspl.h"

#include "instruction/raster.h"

// The raster goes out binary inside the BITMAP line, CR and LF bytes included:
// the printer reads exactly B x H bytes after the header.
ByteVector TSPLInstruction::generateCommand() {
  const int32_t width = mmToDot(params.width);
  const int32_t height = mmToDot(params.height);
  const int64_t rowBytes = rasterRowBytes(width);

  ByteVector out;
  const bool hasRaster = width >= 1 && height >= 1;
  out.reserve(160 + (hasRaster ? static_cast<size_t>(rowBytes) * static_cast<size_t>(height) : 0));
  appendText(out, "SIZE ");
  appendNumber(out, params.width);
  appendText(out, " mm, ");
  appendNumber(out, params.height);
  appendText(out, " mm\r\nCLS\r\nGAP 0,0\r\nOFFSET 0\r\nDIRECTION 1\r\nSET TEAR ON\r\n");
  if (params.withCutter) appendText(out, "SET CUTTER 1\r\n");
  appendText(out, "BITMAP 0,0,");
  appendNumber(out, rowBytes);
  appendText(out, ",");
  appendNumber(out, height);
  appendText(out, ",0,");
  // An image that does not hold the label's rows gets no stream at all.
  if (hasRaster &&
      !appendRaster(bmpData, readU32(bmpData, 10), width, height, DarkBit::Zero, out)) {
    return {};
  }
  appendText(out, "\r\nPRINT 1\r\n");
  return out;
}
