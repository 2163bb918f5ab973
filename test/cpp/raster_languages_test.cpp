// ZPL, CPCL and ESC/POS: the whole stream byte for byte, built here from the
// label's gray values (top row first) rather than from the BMP the generators read.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "instruction/cpcl.h"
#include "instruction/esc_pos.h"
#include "instruction/zpl.h"

namespace {

using Gray = std::function<uint8_t(int x, int y)>;  // y counted from the top

void putU32(ByteVector& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// A prepared image written out field by field: 8-bit gray BMP, rows bottom-up,
// pad bytes set to 0xEE so that reading one shows up in the raster.
ByteVector preparedImage(int width, int height, const Gray& gray) {
  const size_t stride = (width + 3) / 4 * 4;
  ByteVector b(1078 + stride * height, 0);
  b[0] = 'B';
  b[1] = 'M';
  putU32(b, 2, static_cast<uint32_t>(b.size()));
  putU32(b, 10, 1078);
  putU32(b, 14, 40);
  putU32(b, 18, width);
  putU32(b, 22, height);
  b[26] = 1;
  b[28] = 8;
  putU32(b, 34, static_cast<uint32_t>(stride * height));
  putU32(b, 46, 256);
  putU32(b, 50, 256);
  for (int i = 0; i < 256; ++i) b[54 + 4 * i] = b[55 + 4 * i] = b[56 + 4 * i] = i;
  for (int y = 0; y < height; ++y) {
    uint8_t* row = &b[1078 + (height - 1 - y) * stride];
    for (size_t x = 0; x < stride; ++x) row[x] = x < size_t(width) ? gray(int(x), y) : 0xEE;
  }
  return b;
}

// Rows of (width + 7) / 8 bytes, top row first, 1 = printed (gray below 128).
std::vector<uint8_t> printedBits(int width, int height, const Gray& gray) {
  std::vector<uint8_t> out;
  for (int y = 0; y < height; ++y) {
    for (int x0 = 0; x0 < width; x0 += 8) {
      uint8_t byte = 0;
      for (int k = 0; k < 8 && x0 + k < width; ++k) {
        if (gray(x0 + k, y) < 128) byte |= 0x80 >> k;
      }
      out.push_back(byte);
    }
  }
  return out;
}

std::string hexOf(const std::vector<uint8_t>& bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string s;
  for (uint8_t v : bytes) s += {digits[v >> 4], digits[v & 15]};
  return s;
}

std::string text(const ByteVector& v) {
  return std::string(v.begin(), v.end());
}

// The language under test with a hand-made prepared image in place of the one
// the base would prepare from the request's buffer.
template <typename Language>
class Loaded : public Language {
 public:
  Loaded(int32_t widthMm, int32_t heightMm, bool cutter, int32_t dpi, ByteVector image)
      : Language(request(widthMm, heightMm, cutter), dpi) {
    this->bmpData = std::move(image);
  }

 private:
  static TraceCodePrintParams request(int32_t widthMm, int32_t heightMm, bool cutter) {
    TraceCodePrintParams p;
    p.device = "lab";
    p.withCutter = cutter;
    p.width = widthMm;
    p.height = heightMm;
    return p;
  }
};

// Dark and light in stripes and diagonals, with 127 and 128 side by side.
const Gray kPattern = [](int x, int y) -> uint8_t {
  if ((x + 2 * y) % 7 == 0) return 127;
  if ((x * 3 + y) % 5 == 0) return 128;
  return (x / 3 + y) % 2 ? 0 : 255;
};
const Gray kBlack = [](int, int) -> uint8_t { return 0; };
const Gray kWhite = [](int, int) -> uint8_t { return 255; };

struct Label {
  const char* name;
  int32_t widthMm, heightMm, dpi, width, height;  // width, height in dots
  Gray gray;
};
const Label kLabels[] = {
    {"10x5mm at 203 dpi", 10, 5, 203, 80, 40, kPattern},
    {"1mm wide at 300 dpi", 1, 3, 300, 12, 36, kBlack},
    {"3x2mm at 300 dpi", 3, 2, 300, 36, 24, kPattern},
    {"white 2x1mm at 600 dpi", 2, 1, 600, 16, 8, kWhite},
};

TEST(RasterLanguages, StreamsMatchByteForByte) {
  for (const Label& l : kLabels) {
    const ByteVector image = preparedImage(l.width, l.height, l.gray);
    const std::vector<uint8_t> raster = printedBits(l.width, l.height, l.gray);
    const std::string b = std::to_string((l.width + 7) / 8);
    const std::string w = std::to_string(l.width), h = std::to_string(l.height);
    const std::string t = std::to_string(raster.size());
    for (bool cutter : {false, true}) {
      SCOPED_TRACE(std::string(l.name) + (cutter ? " with cutter" : ""));

      const std::string zpl = "^XA\r\n^PW" + w + "\r\n^LL" + h + "\r\n^LH0,0\r\n" +
                              (cutter ? "^MMC\r\n" : "") + "^GFA," + t + "," + t + "," + b + "," +
                              hexOf(raster) + "\r\n^FS\r\n^XZ\r\n";
      EXPECT_EQ(text(Loaded<ZPLInstruction>(l.widthMm, l.heightMm, cutter, l.dpi, image)
                         .generateCommand()),
                zpl);

      const std::string cpcl = "! 0 200 200 " + h + " 1\r\nPW " + w + "\r\nEG " + b + " " + h +
                               " 0 0 " + hexOf(raster) + "\r\n" + (cutter ? "CUT\r\n" : "") +
                               "PRINT\r\n";
      EXPECT_EQ(text(Loaded<CPCLInstruction>(l.widthMm, l.heightMm, cutter, l.dpi, image)
                         .generateCommand()),
                cpcl);

      const int rowBytes = (l.width + 7) / 8;
      ByteVector escpos = {0x1B, 0x40, 0x1D, 0x76, 0x30, 0x00};
      escpos.insert(escpos.end(), {uint8_t(rowBytes), uint8_t(rowBytes >> 8), uint8_t(l.height),
                                   uint8_t(l.height >> 8)});
      escpos.insert(escpos.end(), raster.begin(), raster.end());
      escpos.insert(escpos.end(), {0x0A, 0x0A, 0x0A});
      if (cutter) escpos.insert(escpos.end(), {0x1D, 0x56, 0x00});
      EXPECT_EQ(
          Loaded<ESCPOSInstruction>(l.widthMm, l.heightMm, cutter, l.dpi, image).generateCommand(),
          escpos);
    }
  }
}

TEST(RasterLanguages, WorkedExamples) {
  // 10 x 5 mm at 203 dpi: W 80, H 40, B 10, T 400.
  const ByteVector image = preparedImage(80, 40, kWhite);
  const std::string zpl = text(Loaded<ZPLInstruction>(10, 5, false, 203, image).generateCommand());
  EXPECT_EQ(zpl, "^XA\r\n^PW80\r\n^LL40\r\n^LH0,0\r\n^GFA,400,400,10," + std::string(800, '0') +
                     "\r\n^FS\r\n^XZ\r\n");
  const std::string cpcl = text(Loaded<CPCLInstruction>(10, 5, true, 203, image).generateCommand());
  EXPECT_EQ(cpcl, "! 0 200 200 40 1\r\nPW 80\r\nEG 10 40 0 0 " + std::string(800, '0') +
                      "\r\nCUT\r\nPRINT\r\n");
  const ByteVector escpos = Loaded<ESCPOSInstruction>(10, 5, false, 203, image).generateCommand();
  ASSERT_EQ(escpos.size(), 10u + 400u + 3u);
  EXPECT_EQ(ByteVector(escpos.begin(), escpos.begin() + 10),
            (ByteVector{0x1B, 0x40, 0x1D, 0x76, 0x30, 0x00, 0x0A, 0x00, 0x28, 0x00}));

  // 300 rows: yL yH = 2C 01.
  const ByteVector tall =
      Loaded<ESCPOSInstruction>(1, 25, false, 300, preparedImage(12, 300, kBlack))
          .generateCommand();
  ASSERT_GE(tall.size(), 12u);
  EXPECT_EQ(tall[6], 0x02);
  EXPECT_EQ(tall[8], 0x2C);
  EXPECT_EQ(tall[9], 0x01);
  EXPECT_EQ(tall[10], 0xFF);
  EXPECT_EQ(tall[11], 0xF0);
}

TEST(RasterLanguages, HexDigits) {
  const std::pair<uint8_t, const char*> cases[] = {{0x00, "00"}, {0x0A, "0A"}, {0x5C, "5C"},
                                                   {0xA0, "A0"}, {0xF0, "F0"}, {0xFF, "FF"}};
  for (const auto& [value, digits] : cases) {
    EXPECT_EQ(ZPLInstruction::toZPLHex(value), digits);
    EXPECT_EQ(CPCLInstruction::toHex(value), digits);
  }
}

// An image that does not hold the rows the generator reads gives no stream.
TEST(RasterLanguages, MismatchedImagesGiveNoStream) {
  ByteVector shortRows = preparedImage(80, 39, kBlack);  // label is 80 x 40
  EXPECT_TRUE(Loaded<ZPLInstruction>(10, 5, false, 203, shortRows).generateCommand().empty());
  EXPECT_TRUE(Loaded<CPCLInstruction>(10, 5, false, 203, shortRows).generateCommand().empty());
  // A tiny image on a huge label: refused, not a giant allocation.
  EXPECT_TRUE(Loaded<ZPLInstruction>(10000, 10000, true, 203, shortRows).generateCommand().empty());

  ByteVector truncated = preparedImage(80, 40, kBlack);
  truncated.resize(truncated.size() - 1);  // header still says 80 x 40
  EXPECT_TRUE(Loaded<ESCPOSInstruction>(10, 5, false, 203, truncated).generateCommand().empty());
  EXPECT_TRUE(Loaded<ZPLInstruction>(10, 5, false, 203, truncated).generateCommand().empty());
  EXPECT_TRUE(Loaded<CPCLInstruction>(10, 5, false, 203, truncated).generateCommand().empty());

  const ByteVector headerOnly(30, 0);
  EXPECT_TRUE(Loaded<ESCPOSInstruction>(10, 5, false, 203, headerOnly).generateCommand().empty());
}

// GS v 0 holds bytes per row and rows in 16 bits each.
TEST(RasterLanguages, EscPosSixteenBitLimit) {
  struct Case {
    int width, height;
    bool fits;
  };
  const Case cases[] = {
      {8, 65535, true},
      {8, 65536, false},  // 1 x 8192 mm at 203 dpi is 8 x 65536 dots
      {524280, 1, true},
      {524281, 1, false},  // B = 65535 and 65536
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
    const ByteVector stream =
        Loaded<ESCPOSInstruction>(1, 8192, false, 203, preparedImage(c.width, c.height, kWhite))
            .generateCommand();
    if (!c.fits) {
      EXPECT_TRUE(stream.empty());
      continue;
    }
    const uint64_t rowBytes = (c.width + 7) / 8;
    ASSERT_EQ(stream.size(), 10 + rowBytes * c.height + 3);
    EXPECT_EQ(stream[6] | stream[7] << 8, rowBytes);
    EXPECT_EQ(stream[8] | stream[9] << 8, c.height);
  }
}

}  // namespace
