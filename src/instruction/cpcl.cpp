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
  if (width < 1 || height < 1 || bmpData.size() < 54) return {};
  const int64_t rowBytes = rasterRowBytes(width);
  const uint64_t total = static_cast<uint64_t>(rowBytes) * static_cast<uint64_t>(height);
  // There is never more raster than image: this bounds the reservation
  // before appendRaster makes the exact check.
  if (total > bmpData.size()) return {};

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
  if (!appendRaster(bmpData, readU32(bmpData, 10), width, height, DarkBit::One, out)) return {};
  hex::expandTail(out, total);
  appendText(out, params.withCutter ? "\r\nCUT\r\nPRINT\r\n" : "\r\nPRINT\r\n");
  return out;
}
