#include "instruction/zpl.h"

#include <zlib.h>

#include <algorithm>
#include <string>

#include "instruction/hex.h"
#include "instruction/raster.h"

namespace {

// ZPL manuals document a ^GF byte count of 1 to 99,999 and clamp larger ones,
// so a printer would drop every row past the limit.
constexpr uint64_t kMaxFieldBytes = 99999;

// One ^GFA field of `rows` rows from `firstRow`, closed by ^FS.
bool appendField(ByteVector& out, const ByteVector& image, const RasterGeometry& g,
                 int32_t firstRow, int32_t rows, bool compress) {
  const auto bytes = static_cast<int64_t>(rows) * g.rowBytes;
  appendText(out, "^GFA,");
  appendNumber(out, bytes);
  appendText(out, ",");
  appendNumber(out, bytes);
  appendText(out, ",");
  appendNumber(out, g.rowBytes);
  appendText(out, ",");
  if (compress) {
    ByteVector raster;
    if (!appendRasterRows(image, g, firstRow, rows, DarkBit::One, raster)) return false;
    std::string z64 = zpl::z64(raster.data(), raster.size());
    std::string runs = zpl::runLength(raster.data(), raster.size(), g.rowBytes);
    const std::string& smaller = !z64.empty() && z64.size() < runs.size() ? z64 : runs;
    appendText(out, smaller);
  } else if (!hex::appendRows(image, g, firstRow, rows, out)) {
    return false;
  }
  appendText(out, "\r\n^FS\r\n");
  return true;
}

// ZPL's run-length counts: G..Y repeat a digit 1 to 19 times, g..z 20 to 400
// times in steps of 20, summed when both come.
void appendCount(std::string& out, size_t count) {
  if (count >= 20) out += static_cast<char>('g' + (count / 20 - 1));
  if (count % 20 != 0) out += static_cast<char>('G' + (count % 20 - 1));
}

// One run of `count` copies of `digit`, as raw digits while that is no longer.
void appendRun(std::string& out, char digit, size_t count) {
  while (count > 0) {
    const size_t part = std::min<size_t>(count, 419);
    if (part <= 2) {
      out.append(part, digit);
    } else {
      appendCount(out, part);
      out += digit;
    }
    count -= part;
  }
}

}  // namespace

namespace zpl {

uint16_t crc16(const char* data, size_t size) {
  uint16_t crc = 0;
  for (size_t i = 0; i < size; ++i) {
    crc ^= static_cast<uint16_t>(static_cast<uint8_t>(data[i]) << 8);
    for (int bit = 0; bit < 8; ++bit) {
      crc = static_cast<uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
    }
  }
  return crc;
}

std::string z64(const uint8_t* raster, size_t size) {
  uLongf packedSize = compressBound(static_cast<uLong>(size));
  std::vector<uint8_t> packed(packedSize);
  if (compress2(packed.data(), &packedSize, raster, static_cast<uLong>(size),
                Z_DEFAULT_COMPRESSION) != Z_OK) {
    return {};
  }
  static constexpr char kBase64[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out = ":Z64:";
  out.reserve(out.size() + 4 * ((packedSize + 2) / 3) + 5);
  for (size_t i = 0; i < packedSize; i += 3) {
    const uint32_t left = static_cast<uint32_t>(packedSize - i);
    const uint32_t word =
        (packed[i] << 16) | (left > 1 ? packed[i + 1] << 8 : 0) | (left > 2 ? packed[i + 2] : 0);
    out += kBase64[(word >> 18) & 63];
    out += kBase64[(word >> 12) & 63];
    out += left > 1 ? kBase64[(word >> 6) & 63] : '=';
    out += left > 2 ? kBase64[word & 63] : '=';
  }
  const size_t payload = 5;
  const uint16_t crc = crc16(out.data() + payload, out.size() - payload);
  out += ':';
  out += hex::byte(static_cast<uint8_t>(crc >> 8));
  out += hex::byte(static_cast<uint8_t>(crc & 0xFF));
  return out;
}

std::string runLength(const uint8_t* raster, size_t size, int32_t rowBytes) {
  std::string out;
  std::string row;
  const auto width = static_cast<size_t>(rowBytes);
  for (size_t start = 0; start + width <= size; start += width) {
    if (start > 0 && std::equal(raster + start, raster + start + width, raster + start - width)) {
      out += ':';
      continue;
    }
    row.clear();
    for (size_t i = 0; i < width; ++i) row += hex::byte(raster[start + i]);
    // A trailing run of 0 digits is one comma. The "!" fill of F digits is
    // left out: renderers disagree on whether it means F or 1 digits.
    size_t end = row.size();
    while (end > 0 && row[end - 1] == '0') --end;
    for (size_t i = 0; i < end;) {
      size_t j = i + 1;
      while (j < end && row[j] == row[i]) ++j;
      appendRun(out, row[i], j - i);
      i = j;
    }
    if (end < row.size()) out += ',';
  }
  return out;
}

}  // namespace zpl

std::string ZPLInstruction::toZPLHex(uint8_t value) {
  return hex::byte(value);
}

// ^XA, the label size in dots, an optional cutter mode, then the image as
// ASCII-hex graphic fields (compressed on request, same geometry): one at the label home while it
// fits a field, otherwise bands of whole rows, each placed at its first row.
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
    if (!appendField(out, image, g, 0, g.height, request.compress)) return {};
  } else {
    for (int64_t first = 0; first < g.height; first += static_cast<int64_t>(rowsPerField)) {
      const auto rows = static_cast<int32_t>(
          std::min<uint64_t>(rowsPerField, static_cast<uint64_t>(g.height - first)));
      appendText(out, "^FO0,");
      appendNumber(out, first);
      appendText(out, "\r\n");
      if (!appendField(out, image, g, static_cast<int32_t>(first), rows, request.compress)) {
        return {};
      }
    }
  }
  appendText(out, "^XZ\r\n");
  return out;
}
