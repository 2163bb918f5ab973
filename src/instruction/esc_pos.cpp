#include "instruction/esc_pos.h"

#include <utility>

#include "instruction/raster.h"

ESCPOSInstruction::ESCPOSInstruction(TraceCodePrintParams params)
    : BaseInstruction(std::move(params)) {}

ESCPOSInstruction::ESCPOSInstruction(TraceCodePrintParams params, int32_t fixedDpi)
    : BaseInstruction(std::move(params), fixedDpi) {}

// GS v 0 carries bytes per row and rows in 16 bits each. A size that does not
// fit (or a negative one) gives an empty stream rather than a header that
// disagrees with its raster, and so does an image that does not hold the
// rows its header announces.
ByteVector ESCPOSInstruction::generateCommand() {
  if (bmpData.size() < 54) return {};
  const uint32_t pixelOffset = readU32(bmpData, 10);
  const int32_t width = readI32(bmpData, 18);
  const int32_t height = readI32(bmpData, 22);
  if (width < 0 || height < 0) return {};
  const uint64_t rowBytes = static_cast<uint64_t>(rasterRowBytes(width));
  if (rowBytes > 0xFFFF || static_cast<uint32_t>(height) > 0xFFFF) return {};
  const bool hasRaster = width >= 1 && height >= 1;
  const uint64_t total = hasRaster ? rowBytes * static_cast<uint64_t>(height) : 0;
  if (total > bmpData.size()) return {};

  ByteVector out;
  out.reserve(10 + total + 3 + (params.withCutter ? 3 : 0));
  const auto low = [](uint64_t v) { return static_cast<uint8_t>(v & 0xFF); };
  const auto high = [](uint64_t v) { return static_cast<uint8_t>(v >> 8); };
  out.insert(out.end(), {0x1B, 0x40, 0x1D, 0x76, 0x30, 0x00});  // ESC @, GS v 0 at normal size
  out.insert(out.end(), {low(rowBytes), high(rowBytes), low(height), high(height)});
  if (hasRaster && !appendRaster(bmpData, pixelOffset, width, height, DarkBit::One, out)) {
    return {};
  }
  out.insert(out.end(), {0x0A, 0x0A, 0x0A});
  if (params.withCutter) out.insert(out.end(), {0x1D, 0x56, 0x00});
  return out;
}
