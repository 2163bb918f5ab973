#include "instruction/cpcl.h"

#include <string>
#include <utility>

#include "instruction/ascii.h"
#include "instruction/raster.h"

CPCLInstruction::CPCLInstruction(TraceCodePrintParams params)
    : BaseInstruction(std::move(params)) {}

CPCLInstruction::CPCLInstruction(TraceCodePrintParams params, int32_t fixedDpi)
    : BaseInstruction(std::move(params), fixedDpi) {}

std::string CPCLInstruction::toHex(uint8_t value) {
  return ascii::hexByte(value);
}

// The header's resolution fields stay 200 200 at every dpi: the dot counts
// already carry the resolution. The raster is read by the label's dot size;
// an image that does not hold those rows gives an empty stream.
ByteVector CPCLInstruction::generateCommand() {
  const int32_t width = mmToDot(params.width);
  const int32_t height = mmToDot(params.height);
  if (width < 1 || height < 1 || bmpData.size() < 54) return {};
  const uint64_t rowBytes = static_cast<uint64_t>(rasterRowBytes(width));
  const uint64_t total = rowBytes * static_cast<uint64_t>(height);
  // Never more raster than image bytes: this bounds the reservation below
  // before appendRaster makes the exact check.
  if (total > bmpData.size()) return {};

  const std::string rows = std::to_string(height);
  const std::string head = "! 0 200 200 " + rows + " 1\r\nPW " + std::to_string(width) + "\r\nEG " +
                           std::to_string(rowBytes) + " " + rows + " 0 0 ";
  const std::string_view tail = params.withCutter ? "\r\nCUT\r\nPRINT\r\n" : "\r\nPRINT\r\n";

  ByteVector out;
  out.reserve(head.size() + 2 * total + tail.size());
  ascii::append(out, head);
  if (!appendRaster(bmpData, readU32(bmpData, 10), width, height, DarkBit::One, out)) return {};
  ascii::expandTailToHex(out, total);
  ascii::append(out, tail);
  return out;
}
