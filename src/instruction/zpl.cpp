#include "instruction/zpl.h"

#include <utility>

#include "instruction/hex.h"
#include "instruction/raster.h"

ZPLInstruction::ZPLInstruction(TraceCodePrintParams params) : BaseInstruction(std::move(params)) {}

ZPLInstruction::ZPLInstruction(TraceCodePrintParams params, int32_t fixedDpi)
    : BaseInstruction(std::move(params), fixedDpi) {}

std::string ZPLInstruction::toZPLHex(uint8_t value) {
  return hex::byte(value);
}

// ^XA, the label size in dots, an optional cutter mode, then the whole image
// as one ^GFA field at the label home. The raster is read by the label's dot
// size; an image that does not hold those rows gives an empty stream.
ByteVector ZPLInstruction::generateCommand() {
  const int32_t width = mmToDot(params.width);
  const int32_t height = mmToDot(params.height);
  const uint64_t total = hex::labelBytes(bmpData, width, height);
  if (total == 0) return {};
  const int64_t rowBytes = rasterRowBytes(width);

  ByteVector out;
  out.reserve(128 + 2 * total);
  appendText(out, "^XA\r\n^PW");
  appendNumber(out, width);
  appendText(out, "\r\n^LL");
  appendNumber(out, height);
  appendText(out, "\r\n^LH0,0\r\n");
  if (params.withCutter) appendText(out, "^MMC\r\n");
  appendText(out, "^GFA,");
  appendNumber(out, static_cast<int64_t>(total));
  appendText(out, ",");
  appendNumber(out, static_cast<int64_t>(total));
  appendText(out, ",");
  appendNumber(out, rowBytes);
  appendText(out, ",");
  if (!hex::appendLabel(bmpData, width, height, total, out)) return {};
  appendText(out, "\r\n^FS\r\n^XZ\r\n");
  return out;
}
