#include "instruction/esc_pos.h"

#include "instruction/raster.h"

// GS v 0 carries bytes per row and rows in 16 bits each. A size that does not
// fit (or a negative one) gives an empty stream rather than a header that
// disagrees with its raster, and so does an image that does not hold the
// rows its header announces.
ByteVector escPosCommand(const TraceCodePrintParams& request, int32_t /*dpi*/,
                         const ByteVector& image) {
  if (image.size() < bmpfield::kHeaderBytes) return {};
  const RasterGeometry g = imageGeometry(image);
  if (g.width < 0 || g.height < 0) return {};
  const auto rowBytes = static_cast<uint64_t>(g.rowBytes);
  const auto height = static_cast<uint64_t>(g.height);
  if (rowBytes > 0xFFFF || height > 0xFFFF) return {};
  const uint64_t total = g.rasterBytes();
  if (total > image.size()) return {};

  ByteVector out;
  out.reserve(10 + total + 3 + (request.withCutter ? 3 : 0));
  const auto low = [](uint64_t v) { return static_cast<uint8_t>(v & 0xFF); };
  const auto high = [](uint64_t v) { return static_cast<uint8_t>(v >> 8); };
  out.insert(out.end(), {0x1B, 0x40, 0x1D, 0x76, 0x30, 0x00});  // ESC @, GS v 0 at normal size
  out.insert(out.end(), {low(rowBytes), high(rowBytes), low(height), high(height)});
  if (g.hasDots() && !appendRaster(image, g, DarkBit::One, out)) return {};
  out.insert(out.end(), {0x0A, 0x0A, 0x0A});
  if (request.withCutter) out.insert(out.end(), {0x1D, 0x56, 0x00});
  return out;
}
