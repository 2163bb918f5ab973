#include "instruction/zpl.h"

#include <algorithm>

#include "instruction/hex.h"
#include "instruction/raster.h"

namespace {

// ZPL manuals document a ^GF byte count of 1 to 99,999 and clamp larger ones,
// so a printer would drop every row past the limit.
constexpr uint64_t kMaxFieldBytes = 99999;

// One ^GFA field of `rows` rows from `firstRow`, closed by ^FS.
bool appendField(ByteVector& out, const ByteVector& image, const RasterGeometry& g,
                 int32_t firstRow, int32_t rows) {
  const auto bytes = static_cast<int64_t>(rows) * g.rowBytes;
  appendText(out, "^GFA,");
  appendNumber(out, bytes);
  appendText(out, ",");
  appendNumber(out, bytes);
  appendText(out, ",");
  appendNumber(out, g.rowBytes);
  appendText(out, ",");
  if (!hex::appendRows(image, g, firstRow, rows, out)) return false;
  appendText(out, "\r\n^FS\r\n");
  return true;
}

}  // namespace

std::string ZPLInstruction::toZPLHex(uint8_t value) {
  return hex::byte(value);
}

// ^XA, the label size in dots, an optional cutter mode, then the image as
// ASCII-hex graphic fields: one at the label home while it fits a field,
// otherwise bands of whole rows, each placed at its first row.
ByteVector zplCommand(const TraceCodePrintParams& request, int32_t dpi, const ByteVector& image) {
  const RasterGeometry g = labelGeometry(request, dpi, image);
  const uint64_t total = hex::reservableRasterBytes(image, g);
  if (total == 0) return {};
  const uint64_t rowsPerField = kMaxFieldBytes / static_cast<uint64_t>(g.rowBytes);
  if (rowsPerField == 0) return {};
  const uint64_t fields = (static_cast<uint64_t>(g.height) + rowsPerField - 1) / rowsPerField;

  ByteVector out;
  out.reserve(128 + 2 * total + 48 * fields);
  appendText(out, "^XA\r\n^PW");
  appendNumber(out, g.width);
  appendText(out, "\r\n^LL");
  appendNumber(out, g.height);
  appendText(out, "\r\n^LH0,0\r\n");
  if (request.withCutter) appendText(out, "^MMC\r\n");
  if (total <= kMaxFieldBytes) {
    if (!appendField(out, image, g, 0, g.height)) return {};
  } else {
    for (int64_t first = 0; first < g.height; first += static_cast<int64_t>(rowsPerField)) {
      const auto rows = static_cast<int32_t>(
          std::min<uint64_t>(rowsPerField, static_cast<uint64_t>(g.height - first)));
      appendText(out, "^FO0,");
      appendNumber(out, first);
      appendText(out, "\r\n");
      if (!appendField(out, image, g, static_cast<int32_t>(first), rows)) return {};
    }
  }
  appendText(out, "^XZ\r\n");
  return out;
}
