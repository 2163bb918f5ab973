#include "instruction/zpl.h"

#include <string>
#include <utility>

#include "instruction/ascii.h"
#include "instruction/raster.h"

ZPLInstruction::ZPLInstruction(TraceCodePrintParams params) : BaseInstruction(std::move(params)) {}

ZPLInstruction::ZPLInstruction(TraceCodePrintParams params, int32_t fixedDpi)
    : BaseInstruction(std::move(params), fixedDpi) {}

std::string ZPLInstruction::toZPLHex(uint8_t value) {
  return ascii::hexByte(value);
}

// ^XA, the label size in dots, an optional cutter mode, then the whole image
// as one ^GFA field at the label home. The raster is read by the label's dot
// size; an image that does not hold those rows gives an empty stream.
ByteVector ZPLInstruction::generateCommand() {
  const int32_t width = mmToDot(params.width);
  const int32_t height = mmToDot(params.height);
  if (width < 1 || height < 1 || bmpData.size() < 54) return {};
  const uint64_t rowBytes = static_cast<uint64_t>(rasterRowBytes(width));
  const uint64_t total = rowBytes * static_cast<uint64_t>(height);
  // Never more raster than image bytes: this bounds the reservation below
  // before appendRaster makes the exact check.
  if (total > bmpData.size()) return {};

  const std::string count = std::to_string(total);
  std::string head =
      "^XA\r\n^PW" + std::to_string(width) + "\r\n^LL" + std::to_string(height) + "\r\n^LH0,0\r\n";
  if (params.withCutter) head += "^MMC\r\n";
  head += "^GFA," + count + "," + count + "," + std::to_string(rowBytes) + ",";
  constexpr std::string_view kTail = "\r\n^FS\r\n^XZ\r\n";

  ByteVector out;
  out.reserve(head.size() + 2 * total + kTail.size());
  ascii::append(out, head);
  if (!appendRaster(bmpData, readU32(bmpData, 10), width, height, DarkBit::One, out)) return {};
  ascii::expandTailToHex(out, total);
  ascii::append(out, kTail);
  return out;
}
