#include "instruction/zpl.h"

#include <algorithm>
#include <utility>

#include "instruction/hex.h"
#include "instruction/raster.h"

ZPLInstruction::ZPLInstruction(TraceCodePrintParams params) : BaseInstruction(std::move(params)) {}

ZPLInstruction::ZPLInstruction(TraceCodePrintParams params, int32_t fixedDpi)
    : BaseInstruction(std::move(params), fixedDpi) {}

std::string ZPLInstruction::toZPLHex(uint8_t value) {
  return hex::byte(value);
}

namespace {

// ZPL manuals document a ^GF byte count of 1 to 99,999 and clamp larger ones,
// so a printer would drop every row past the limit.
constexpr uint64_t kMaxFieldBytes = 99999;

void appendFieldHead(ByteVector& out, uint64_t bytes, int64_t rowBytes) {
  appendText(out, "^GFA,");
  appendNumber(out, static_cast<int64_t>(bytes));
  appendText(out, ",");
  appendNumber(out, static_cast<int64_t>(bytes));
  appendText(out, ",");
  appendNumber(out, rowBytes);
  appendText(out, ",");
}

}  // namespace

// ^XA, the label size in dots, an optional cutter mode, then the image as
// ASCII-hex graphic fields: one at the label home while it fits a field,
// otherwise bands of whole rows, each placed at its first row. The raster is
// read by the label's dot size; an image that does not hold those rows, or a
// row too long for any field, gives an empty stream.
ByteVector ZPLInstruction::generateCommand() {
  const int32_t width = mmToDot(params.width);
  const int32_t height = mmToDot(params.height);
  const uint64_t total = hex::labelBytes(bmpData, width, height);
  if (total == 0) return {};
  const int64_t rowBytes = rasterRowBytes(width);
  const uint64_t rowsPerField = kMaxFieldBytes / static_cast<uint64_t>(rowBytes);
  if (rowsPerField == 0) return {};
  const uint64_t fields = (static_cast<uint64_t>(height) + rowsPerField - 1) / rowsPerField;

  ByteVector out;
  out.reserve(128 + 2 * total + 48 * fields);
  appendText(out, "^XA\r\n^PW");
  appendNumber(out, width);
  appendText(out, "\r\n^LL");
  appendNumber(out, height);
  appendText(out, "\r\n^LH0,0\r\n");
  if (params.withCutter) appendText(out, "^MMC\r\n");
  if (total <= kMaxFieldBytes) {
    appendFieldHead(out, total, rowBytes);
    if (!hex::appendLabel(bmpData, width, height, out)) return {};
    appendText(out, "\r\n^FS\r\n");
  } else {
    for (int64_t first = 0; first < height; first += static_cast<int64_t>(rowsPerField)) {
      const auto rows = static_cast<int32_t>(
          std::min<uint64_t>(rowsPerField, static_cast<uint64_t>(height - first)));
      appendText(out, "^FO0,");
      appendNumber(out, first);
      appendText(out, "\r\n");
      appendFieldHead(out, static_cast<uint64_t>(rows) * static_cast<uint64_t>(rowBytes), rowBytes);
      if (!hex::appendLabelRows(bmpData, width, height, static_cast<int32_t>(first), rows, out))
        return {};
      appendText(out, "\r\n^FS\r\n");
    }
  }
  appendText(out, "^XZ\r\n");
  return out;
}
