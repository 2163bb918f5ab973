// TSPL, ZPL, CPCL and ESC/POS: the whole stream byte for byte, built here from
// the label's gray values (top row first) rather than from the BMP the
// generators read.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "bmp_builder.h"
#include "instruction/cpcl.h"
#include "instruction/esc_pos.h"
#include "instruction/tspl.h"
#include "instruction/zpl.h"
#include "language.h"

namespace {

using Gray = std::function<uint8_t(int x, int y)>;  // y counted from the top

ByteVector image(int width, int height, const Gray& gray) {
  return testbmp::build(testbmp::grayImage(width, height, gray));
}

// Rows of (width + 7) / 8 bytes, top row first, filler bits 0; a dot's bit is
// 1 when it prints (gray below 128), for TSPL when it does not.
std::string bits(int width, int height, const Gray& gray, bool tspl) {
  std::string out;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      if (x % 8 == 0) out += '\0';
      if ((gray(x, y) < 128) != tspl) out.back() |= char(0x80 >> x % 8);
    }
  }
  return out;
}

std::string hexOf(const std::string& bytes) {
  std::string s;
  for (uint8_t v : bytes) s += {"0123456789ABCDEF"[v >> 4], "0123456789ABCDEF"[v & 15]};
  return s;
}

std::string le16(int v) {
  return {char(v), char(v >> 8)};
}

// ESC @, GS v 0 with mode 0 (the literal's closing NUL), sizes, raster, feed, cut.
std::string escPos(int rowBytes, int height, const std::string& raster, bool cut) {
  return std::string("\x1B@\x1Dv0", 6) + le16(rowBytes) + le16(height) + raster + "\n\n\n" +
         (cut ? std::string("\x1DV\0", 3) : "");
}

// Dark and light in stripes and diagonals, with 127 and 128 side by side.
const Gray kPattern = [](int x, int y) -> uint8_t {
  if ((x + 2 * y) % 7 == 0) return 127;
  if ((x * 3 + y) % 5 == 0) return 128;
  return (x / 3 + y) % 2 ? 0 : 255;
};
const Gray kBlack = [](int, int) -> uint8_t { return 0; };
const Gray kWhite = [](int, int) -> uint8_t { return 255; };

TEST(RasterLanguages, StreamsMatchByteForByte) {
  struct Label {
    int32_t widthMm, heightMm, dpi, width, height;  // width, height in dots
    Gray gray;
  } const labels[] = {
      {10, 5, 203, 80, 40, kPattern},
      {1, 3, 300, 12, 36, kBlack},  // each row a whole byte and
                                    // four dots
      {3, 2, 300, 36, 24, kPattern},
      {2, 1, 600, 48, 24, kWhite},
      {2, 1, 601, 16, 8, kWhite},
  };
  for (const Label& l : labels) {
    const ByteVector bmp = image(l.width, l.height, l.gray);
    const std::string raster = bits(l.width, l.height, l.gray, false), hex = hexOf(raster);
    const int rowBytes = (l.width + 7) / 8;
    const std::string b = std::to_string(rowBytes), t = std::to_string(raster.size());
    const std::string w = std::to_string(l.width), h = std::to_string(l.height);
    for (bool cut : {false, true}) {
      SCOPED_TRACE(w + " x " + h + " dots at " + std::to_string(l.dpi) + (cut ? ", cut" : ""));
      auto make = [&](LanguageCommand command) {
        return generate(command, l.widthMm, l.heightMm, cut, l.dpi, bmp);
      };
      EXPECT_EQ(make(tsplCommand),
                "SIZE " + std::to_string(l.widthMm) + " mm, " + std::to_string(l.heightMm) +
                    " mm\r\nCLS\r\nGAP 0,0\r\nOFFSET 0\r\nDIRECTION 1\r\nSET TEAR ON\r\n" +
                    (cut ? "SET CUTTER 1\r\n" : "") + "BITMAP 0,0," + b + "," + h + ",0," +
                    bits(l.width, l.height, l.gray, true) + "\r\nPRINT 1\r\n");
      EXPECT_EQ(make(zplCommand), "^XA\r\n^PW" + w + "\r\n^LL" + h + "\r\n^LH0,0\r\n" +
                                      (cut ? "^MMC\r\n" : "") + "^GFA," + t + "," + t + "," + b +
                                      "," + hex + "\r\n^FS\r\n^XZ\r\n");
      EXPECT_EQ(make(cpclCommand), "! 0 200 200 " + h + " 1\r\nPW " + w + "\r\nEG " + b + " " + h +
                                       " 0 0 " + hex + "\r\n" + (cut ? "CUT\r\n" : "") +
                                       "PRINT\r\n");
      EXPECT_EQ(make(escPosCommand), escPos(rowBytes, l.height, raster, cut));
    }
  }
}

// An image that does not hold the rows the generator reads gives no stream,
// and nothing is reserved for a raster it cannot fill.
TEST(RasterLanguages, MismatchedImagesGiveNoStream) {
  const std::pair<std::string, LanguageCommand> languages[] = {{"TSPL", tsplCommand},
                                                               {"ZPL", zplCommand},
                                                               {"CPCL", cpclCommand},
                                                               {"ESC/POS", escPosCommand}};
  const ByteVector shortRows = image(80, 39, kBlack);  // the label is 80 x 40
  ByteVector truncated = image(80, 40, kBlack);
  truncated.pop_back();  // the header still says 80 x 40
  for (auto [name, make] : languages) {
    EXPECT_EQ(generate(make, 10, 5, false, 203, truncated), "") << name;
    EXPECT_EQ(generate(make, 10, 5, false, 203, ByteVector(30, 0)), "") << name;
    if (name == "ESC/POS") continue;  // sized by the image's header, not by the label
    EXPECT_EQ(generate(make, 10, 5, false, 203, shortRows), "") << name;
    EXPECT_EQ(generate(make, 100, 100, true, 203, shortRows), "") << name;
    // Found by fuzzing: dot counts that wrap to 2^30 x (2^31 - 8) once made
    // the stream reserve 2^57 bytes before the image was looked at.
    EXPECT_EQ(generate(make, -268435456, 178956970, false, 300, shortRows), "") << name;
  }
}

// A ^GF field carries at most 99,999 bytes: a larger raster goes out as bands
// of whole rows, each placed at its first row; a row longer than a field
// gives no stream. 29 x 431 mm at 203 dpi is 99,992 bytes, 100 x 125 mm is
// 100,000 (999 rows of 100 bytes, then 1).
TEST(RasterLanguages, ZplBandsWithinTheFieldLimit) {
  struct Label {
    int32_t widthMm, heightMm;
    std::vector<int> bandRows;  // none: one field at the label home
  } const labels[] = {{29, 431, {}}, {100, 125, {999, 1}}, {99999, 1, std::vector<int>(8, 1)}};
  for (const Label& l : labels) {
    const int width = 8 * l.widthMm, height = 8 * l.heightMm, rowBytes = (width + 7) / 8;
    const std::string raster = bits(width, height, kPattern, false);
    auto field = [&](int first, int rows) {
      const std::string n = std::to_string(rows * rowBytes);
      return "^GFA," + n + "," + n + "," + std::to_string(rowBytes) + "," +
             hexOf(raster.substr(size_t(first) * rowBytes, size_t(rows) * rowBytes)) +
             "\r\n^FS\r\n";
    };
    std::string fields = l.bandRows.empty() ? field(0, height) : "";
    for (int first = 0, i = 0; i < int(l.bandRows.size()); first += l.bandRows[i++]) {
      fields += "^FO0," + std::to_string(first) + "\r\n" + field(first, l.bandRows[i]);
    }
    EXPECT_TRUE(
        generate(zplCommand, l.widthMm, l.heightMm, false, 203, image(width, height, kPattern)) ==
        "^XA\r\n^PW" + std::to_string(width) + "\r\n^LL" + std::to_string(height) +
            "\r\n^LH0,0\r\n" + fields + "^XZ\r\n")
        << l.widthMm << " x " << l.heightMm << " mm";
  }
  EXPECT_EQ(generate(zplCommand, 100000, 1, false, 203, image(800000, 8, kWhite)), "");
}

// GS v 0 holds bytes per row and rows in 16 bits each; 1 x 8192 mm at 203 dpi
// is 8 x 65536 dots.
TEST(RasterLanguages, EscPosSixteenBitLimit) {
  const std::tuple<int, int, bool> cases[] = {
      {8, 65535, true}, {8, 65536, false}, {524280, 1, true}, {524281, 1, false}};
  for (auto [width, height, fits] : cases) {
    const std::string stream =
        generate(escPosCommand, 1, 8192, false, 203, image(width, height, kWhite));
    const int rowBytes = (width + 7) / 8;
    EXPECT_TRUE(stream ==
                (fits ? escPos(rowBytes, height, std::string(rowBytes * height, '\0'), false) : ""))
        << width << " x " << height;
  }
}

}  // namespace
