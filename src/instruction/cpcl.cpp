#include "instruction/cpcl.h"

#include <utility>

#include "instruction/hex.h"
#include "instruction/raster.h"

CPCLInstruction::CPCLInstruction(TraceCodePrintParams params)
    : BaseInstruction(std::move(params)) {}

CPCLInstruction::CPCLInstruction(TraceCodePrintParams params, int32_t fixedDpi)
    : BaseInstruction(std::move(params), fixedDpi) {}

std::string CPCLInstruction::toHex(uint8_t value) {
  return hex::byte(value);
}

// The header's resolution fields stay 200 200 at every dpi: the dot counts
// already carry the resolution. The raster is read by the label's dot size;
// an image that does not hold those rows gives an empty stream.
ByteVector CPCLInstruction::generateCommand() {
  const int32_t width = mmToDot(params.width);
  const int32_t height = mmToDot(params.height);
  const uint64_t total = hex::labelBytes(bmpData, width, height);
  if (total == 0) return {};
  const int64_t rowBytes = rasterRowBytes(width);

  ByteVector out;
  out.reserve(96 + 2 * total);
  appendText(out, "! 0 200 200 ");
  appendNumber(out, height);
  appendText(out, " 1\r\nPW ");
  appendNumber(out, width);
  appendText(out, "\r\nEG ");
  appendNumber(out, rowBytes);
  appendText(out, " ");
  appendNumber(out, height);
  appendText(out, " 0 0 ");
  if (!hex::appendLabel(bmpData, width, height, out)) return {};
  appendText(out, params.withCutter ? "\r\nCUT\r\nPRINT\r\n" : "\r\nPRINT\r\n");
  return out;
}
