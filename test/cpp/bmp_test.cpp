// Image preparation: conversion to the prepared 8-bit image, resizing, saving.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>

#include "allocation_watch.h"
#include "bmp_builder.h"
#include "cups_env.h"
#include "helper/bmp.h"
#include "helper/pixel_rows.h"

namespace {

using testbmp::Image;
using testbmp::pixel;
using testbmp::u16;
using testbmp::u32;

// The defining formula, written out apart from the code under test.
uint8_t referenceGray(uint32_t r, uint32_t g, uint32_t b) {
  double t = static_cast<double>(g) * 0.587;
  t = std::fma(static_cast<double>(r), 0.299, t);
  t = std::fma(static_cast<double>(b), 0.114, t);
  return static_cast<uint8_t>(t);
}

struct Outcome {
  ByteVector bmp;
  std::string log;
};

Outcome convert(const ByteVector& input) {
  Outcome o;
  o.log = testcups::captureStdout([&] { o.bmp = convertTo8BitBMP(input); });
  return o;
}

Outcome resize(const ByteVector& input, int32_t width, int32_t height) {
  Outcome o;
  o.log = testcups::captureStdout([&] { o.bmp = resizeBMP(input, width, height); });
  return o;
}

std::string convertedLine(int bits) {
  return "[DEBUG] 成功将" + std::to_string(bits) + "位BMP转换为8位灰度BMP\n";
}

std::string resizedLine(int sw, int sh, int tw, int th) {
  char text[128];
  std::snprintf(text, sizeof text, "[DEBUG] 成功将BMP图像从%d x %d调整为%d x %d\n", sw, sh, tw, th);
  return text;
}

struct Rgba {
  uint8_t r, g, b, a;
};

// Pixels listed bottom row first, left to right.
Image colourImage(const std::vector<Rgba>& pixels, uint16_t bits, int32_t width) {
  Image image;
  image.width = width;
  image.height = static_cast<int32_t>(pixels.size()) / width;
  image.bitsPerPixel = bits;
  for (const Rgba& p : pixels) {
    image.rows.insert(image.rows.end(), {p.b, p.g, p.r});
    if (bits == 32) image.rows.push_back(p.a);
  }
  return image;
}

Image grayImage(int32_t width, int32_t height, std::vector<uint8_t> rows) {
  Image image;
  image.width = width;
  image.height = height;
  image.bitsPerPixel = 8;
  image.rows = std::move(rows);
  return image;
}

std::vector<uint8_t> randomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> out(n);
  for (auto& b : out) b = static_cast<uint8_t>(rng());
  return out;
}

Image randomImage(int32_t width, int32_t height, uint16_t bits, uint32_t seed) {
  Image image;
  image.width = width;
  image.height = height;
  image.bitsPerPixel = bits;
  image.rows = randomBytes(size_t(width) * height * bits / 8, seed);
  return image;
}

ByteVector withU32(ByteVector bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
  return bytes;
}

// First index where the two differ, or -1.
long firstMismatch(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  if (a.size() != b.size()) return 0;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i]) return static_cast<long>(i);
  }
  return -1;
}

std::vector<const pixelrows::GrayKernels*> allKernels() {
  std::vector<const pixelrows::GrayKernels*> kernels{&pixelrows::portableKernels()};
  if (pixelrows::vectorKernels() != nullptr) kernels.push_back(pixelrows::vectorKernels());
  return kernels;
}

// ---- conversion -------------------------------------------------------------

TEST(ConvertTo8BitBMP, GrayLevelsFollowTheRoundingOrder) {
  struct Case {
    uint8_t r, g, b, gray;
  };
  const Case cases[] = {
      {0, 0, 0, 0},         {1, 1, 1, 0},         {2, 2, 2, 1},         {3, 3, 3, 3},
      {11, 11, 11, 11},     {21, 21, 21, 20},     {128, 128, 128, 127}, {129, 129, 129, 129},
      {254, 254, 254, 253}, {255, 255, 255, 255}, {255, 0, 0, 76},      {0, 255, 0, 149},
      {0, 0, 255, 29},      {200, 100, 50, 124},
  };
  std::vector<Rgba> pixels;
  for (const Case& c : cases) pixels.push_back({c.r, c.g, c.b, 255});
  const int32_t width = static_cast<int32_t>(pixels.size());
  for (uint16_t bits : {24, 32}) {
    Outcome out = convert(testbmp::build(colourImage(pixels, bits, width)));
    ASSERT_EQ(out.log, convertedLine(bits));
    for (int32_t x = 0; x < width; ++x) {
      const Case& c = cases[x];
      EXPECT_EQ(pixel(out.bmp, x, 0), c.gray)
          << bits << "-bit (" << +c.r << ", " << +c.g << ", " << +c.b << ")";
    }
  }
}

TEST(ConvertTo8BitBMP, SeventyFiveNeutralGraysComeOutOneLevelDarker) {
  std::vector<Rgba> ramp;
  for (int v = 0; v < 256; ++v) ramp.push_back({uint8_t(v), uint8_t(v), uint8_t(v), 255});
  Outcome out = convert(testbmp::build(colourImage(ramp, 24, 256)));
  int darker = 0;
  for (int v = 0; v < 256; ++v) {
    const int level = pixel(out.bmp, v, 0);
    ASSERT_TRUE(level == v || level == v - 1) << v;
    darker += level == v - 1;
  }
  EXPECT_EQ(darker, 75);
}

// Every colour through every kernel this CPU can run, against the formula.
TEST(GrayKernels, EveryColourMatchesTheFormula) {
  constexpr uint32_t kColours = 1u << 24;
  std::vector<uint8_t> gray(kColours), alphaRule(kColours);
  std::vector<uint8_t> bgr(3 * size_t{kColours}), bgra(4 * size_t{kColours});
  for (uint32_t c = 0; c < kColours; ++c) {
    const uint8_t r = c >> 16, g = c >> 8, b = c;
    const uint8_t a = static_cast<uint8_t>((c * 2654435761u) >> 24);  // spread over 0-255
    gray[c] = referenceGray(r, g, b);
    alphaRule[c] = a >= 128 ? gray[c] : 255;
    uint8_t* p3 = &bgr[3 * size_t{c}];
    p3[0] = b, p3[1] = g, p3[2] = r;
    uint8_t* p4 = &bgra[4 * size_t{c}];
    p4[0] = b, p4[1] = g, p4[2] = r, p4[3] = a;
  }
  std::vector<uint8_t> out(kColours);
  for (const pixelrows::GrayKernels* k : allKernels()) {
    SCOPED_TRACE(k->name);
    k->bgr(bgr.data(), out.data(), kColours);
    EXPECT_EQ(firstMismatch(out, gray), -1) << "24 bits";
    k->bgrx(bgra.data(), out.data(), kColours);
    EXPECT_EQ(firstMismatch(out, gray), -1) << "32 bits, alpha ignored";
    k->bgra(bgra.data(), out.data(), kColours);
    EXPECT_EQ(firstMismatch(out, alphaRule), -1) << "32 bits, alpha rule";
  }
}

// Short rows exercise the vector loop's ends; the inputs are sized exactly so
// that a sanitizer build catches any read past them.
TEST(GrayKernels, RowsOfEveryShortWidthStayInBounds) {
  for (uint32_t width = 1; width <= 40; ++width) {
    const std::vector<uint8_t> bgr = randomBytes(3 * width, width);
    const std::vector<uint8_t> bgra = randomBytes(4 * width, 1000 + width);
    for (const pixelrows::GrayKernels* k : allKernels()) {
      SCOPED_TRACE(std::string(k->name) + " width " + std::to_string(width));
      std::vector<uint8_t> out(width + 1, 0xA5);
      k->bgr(bgr.data(), out.data(), width);
      for (uint32_t x = 0; x < width; ++x) {
        EXPECT_EQ(out[x], referenceGray(bgr[3 * x + 2], bgr[3 * x + 1], bgr[3 * x])) << x;
      }
      k->bgra(bgra.data(), out.data(), width);
      for (uint32_t x = 0; x < width; ++x) {
        const uint8_t* p = &bgra[4 * x];
        EXPECT_EQ(out[x], p[3] >= 128 ? referenceGray(p[2], p[1], p[0]) : 255) << x;
      }
      EXPECT_EQ(out[width], 0xA5) << "wrote past the row";
    }
  }
}

// Every header field, the gray ramp and the zero pad bytes of a prepared
// image made from a builder image (resolution 2835 x 3780).
void expectPreparedLayout(const ByteVector& bmp, uint32_t width, uint32_t height) {
  const uint32_t stride = (width + 3) / 4 * 4, image = stride * height;
  ASSERT_EQ(bmp.size(), 1078 + image);
  EXPECT_EQ(u16(bmp, 0), 0x4D42);
  const std::pair<size_t, uint32_t> fields[] = {
      {2, 1078 + image}, {6, 0},  {10, 1078},  {14, 40},   {18, width}, {22, height},
      {26, 1 | 8 << 16}, {30, 0}, {34, image}, {38, 2835}, {42, 3780},  {46, 256},
      {50, 256}};
  for (auto [offset, value] : fields) EXPECT_EQ(u32(bmp, offset), value) << "offset " << offset;
  for (uint32_t i = 0; i < 256; ++i) {
    EXPECT_EQ(u32(bmp, 54 + 4 * i), i * 0x010101u) << "palette entry " << i;
  }
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = width; x < stride; ++x) EXPECT_EQ(pixel(bmp, x, y), 0) << x << "," << y;
  }
}

TEST(ConvertTo8BitBMP, WritesThePreparedLayout) {
  for (int32_t width : {1, 2, 3, 4, 5, 7}) {
    SCOPED_TRACE("width " + std::to_string(width));
    // Bottom row black, top row white: the rows keep their order.
    std::vector<Rgba> pixels(size_t(width), Rgba{0, 0, 0, 255});
    pixels.resize(2 * size_t(width), Rgba{255, 255, 255, 255});
    Outcome out = convert(testbmp::build(colourImage(pixels, 24, width)));
    ASSERT_EQ(out.log, convertedLine(24));
    expectPreparedLayout(out.bmp, width, 2);
    EXPECT_EQ(testbmp::row(out.bmp, 0), std::vector<uint8_t>(width, 0));
    EXPECT_EQ(testbmp::row(out.bmp, 1), std::vector<uint8_t>(width, 255));
  }
}

TEST(ConvertTo8BitBMP, EightBitPixelsPassAndOutputIsAFixedPoint) {
  // The builder's colour table is no gray ramp; the pixel bytes win.
  std::vector<uint8_t> rows;
  for (int i = 0; i < 15; ++i) rows.push_back(static_cast<uint8_t>(i * 17));
  const ByteVector input = testbmp::build(grayImage(5, 3, rows));
  Outcome out = convert(input);
  ASSERT_EQ(out.log, convertedLine(8));
  for (uint32_t y = 0; y < 3; ++y) {
    EXPECT_EQ(testbmp::row(out.bmp, y), std::vector<uint8_t>(&rows[5 * y], &rows[5 * y + 5]));
  }
  EXPECT_EQ(u32(out.bmp, 54 + 4 * 200), 0x00C8C8C8u);

  for (const ByteVector& prepared : {out.bmp, convert(testbmp::build(randomImage(7, 4, 24, 3))).bmp,
                                     convert(testbmp::build(randomImage(6, 5, 32, 4))).bmp}) {
    Outcome again = convert(prepared);
    EXPECT_EQ(again.log, convertedLine(8));
    EXPECT_EQ(again.bmp, prepared);
  }
}

TEST(ConvertTo8BitBMP, AlphaDecidesWhiteUnlessEveryAlphaIsZero) {
  struct Case {
    const char* name;
    std::vector<uint8_t> alphas;  // bottom row, then top row, of a 2x2 image
    std::vector<uint8_t> expected;
  };
  // (200, 100, 50) is 124.
  const Case cases[] = {
      {"127 is white, 128 is drawn", {127, 128, 255, 0}, {255, 124, 124, 255}},
      {"all zero: opaque", {0, 0, 0, 0}, {124, 124, 124, 124}},
      {"one faint alpha in the last pixel", {0, 0, 0, 1}, {255, 255, 255, 255}},
      {"one solid alpha in the last pixel", {0, 0, 0, 200}, {255, 255, 255, 124}},
  };
  for (const Case& c : cases) {
    std::vector<Rgba> pixels;
    for (uint8_t a : c.alphas) pixels.push_back({200, 100, 50, a});
    Outcome out = convert(testbmp::build(colourImage(pixels, 32, 2)));
    ASSERT_EQ(out.log, convertedLine(32)) << c.name;
    const std::vector<uint8_t> got{pixel(out.bmp, 0, 0), pixel(out.bmp, 1, 0), pixel(out.bmp, 0, 1),
                                   pixel(out.bmp, 1, 1)};
    EXPECT_EQ(got, c.expected) << c.name;
  }
}

TEST(ConvertTo8BitBMP, RefusesWithOneLineInTheOrderOfTheChecks) {
  const ByteVector good = testbmp::build(randomImage(4, 2, 24, 1));
  ByteVector badSignature = good;
  badSignature[1] = 'N';
  ByteVector tiny(good.begin(), good.begin() + 54);
  tiny = withU32(withU32(withU32(tiny, 18, 1), 22, 1), 10, 54);
  Image topDown = randomImage(100, 50, 24, 2);
  topDown.height = -50;
  auto depth = [](uint16_t bits) {
    Image image;
    image.width = 8;
    image.height = 2;
    image.bitsPerPixel = bits;
    image.rows.assign(2 * size_t(8) * bits / 8, 0x55);
    return testbmp::build(image);
  };
  const std::string incomplete = "[DEBUG] BMP数据不完整或无效\n";
  const std::string badOffset = "[DEBUG] BMP文件头偏移量无效\n";
  struct Case {
    const char* name;
    ByteVector input;
    std::string log;
  };
  const Case cases[] = {
      {"53 bytes", ByteVector(good.begin(), good.begin() + 53), incomplete},
      {"signature", badSignature, "[DEBUG] 输入数据不是有效的BMP文件\n"},
      {"short and unsigned", ByteVector(40, 0), incomplete},
      {"width 0", withU32(good, 18, 0), "[DEBUG] BMP图像尺寸不合理: 0 x 2\n"},
      {"height 0", withU32(good, 22, 0), "[DEBUG] BMP图像尺寸不合理: 4 x 0\n"},
      {"width 10001", withU32(good, 18, 10001), "[DEBUG] BMP图像尺寸不合理: 10001 x 2\n"},
      {"height 10001", withU32(good, 22, 10001), "[DEBUG] BMP图像尺寸不合理: 4 x 10001\n"},
      {"width -1", withU32(good, 18, uint32_t(-1)), "[DEBUG] BMP图像尺寸不合理: -1 x 2\n"},
      {"top-down", testbmp::build(topDown), "[DEBUG] BMP图像尺寸不合理: 100 x -50\n"},
      {"54 bytes, offset 54", tiny, badOffset},
      {"offset at the end", withU32(good, 10, uint32_t(good.size())), badOffset},
      {"offset far out", withU32(good, 10, 0xFFFFFFFFu), badOffset},
      {"16 bits", depth(16), "[DEBUG] 不支持的BMP位深度: 16，无法转换为8位BMP\n"},
      {"4 bits", depth(4), "[DEBUG] 不支持的BMP位深度: 4，无法转换为8位BMP\n"},
      {"1 bit", depth(1), "[DEBUG] 不支持的BMP位深度: 1，无法转换为8位BMP\n"},
      {"16 bits and short rows", withU32(depth(16), 22, 10000),
       "[DEBUG] 不支持的BMP位深度: 16，无法转换为8位BMP\n"},
      {"more rows claimed than present", withU32(good, 22, 10000), incomplete},
  };
  for (const Case& c : cases) {
    Outcome out = convert(c.input);
    EXPECT_TRUE(out.bmp.empty()) << c.name;
    EXPECT_EQ(out.log, c.log) << c.name;
  }
}

TEST(ConvertTo8BitBMP, AcceptsTheSizeLimits) {
  for (auto [w, h] : {std::pair{10000, 1}, std::pair{1, 10000}}) {
    Outcome out = convert(testbmp::build(grayImage(w, h, std::vector<uint8_t>(size_t(w) * h, 9))));
    EXPECT_EQ(out.log, convertedLine(8)) << w << "x" << h;
    EXPECT_EQ(out.bmp.size(), 1078 + size_t(h) * ((w + 3) / 4 * 4));
  }
}

// The last row needs its pixels, not its padding; one byte less is refused.
TEST(ConvertTo8BitBMP, RowsRunningPastTheEndAreRefused) {
  for (uint16_t bits : {8, 24, 32}) {
    SCOPED_TRACE(std::to_string(bits) + " bits");
    const Image image = randomImage(3, 2, bits, bits);
    const ByteVector full = testbmp::build(image);
    const uint32_t stride = (3 * bits + 31) / 32 * 4;
    const size_t exact = testbmp::pixelOffset(image) + stride + 3 * bits / 8;
    const ByteVector fits(full.begin(), full.begin() + exact);
    const ByteVector cut(full.begin(), full.begin() + exact - 1);
    Outcome whole = convert(full), tight = convert(fits), refused = convert(cut);
    EXPECT_EQ(tight.log, convertedLine(bits));
    EXPECT_EQ(tight.bmp, whole.bmp);
    EXPECT_EQ(refused.log, "[DEBUG] BMP数据不完整或无效\n");
    EXPECT_TRUE(refused.bmp.empty());
  }
}

TEST(ConvertTo8BitBMP, ReadsOnlyTheFieldsItNeeds) {
  const Image plain = randomImage(5, 3, 24, 11);
  const ByteVector expected = convert(testbmp::build(plain)).bmp;
  ASSERT_FALSE(expected.empty());
  for (auto [header, compression] :
       {std::pair{108u, 0u}, std::pair{124u, 0u}, std::pair{40u, 3u}}) {
    Image variant = plain;
    variant.infoHeaderSize = header;
    variant.compression = compression;
    EXPECT_EQ(convert(testbmp::build(variant)).bmp, expected) << header << "/" << compression;
  }
}

// ---- resizing ---------------------------------------------------------------

TEST(ResizeBMP, SamplesNearestNeighbourFromTheBottomLeft) {
  std::vector<uint8_t> twoToNinetyEight(50, 10);
  twoToNinetyEight.resize(98, 20);
  struct Case {
    const char* name;
    int32_t sw, sh;
    std::vector<uint8_t> source;
    int32_t tw, th;
    std::vector<uint8_t> expected;  // rows bottom first
  };
  const Case cases[] = {
      {"2 to 4 columns", 2, 1, {10, 20}, 4, 1, {10, 10, 20, 20}},
      {"4 to 2 columns", 4, 1, {10, 20, 30, 40}, 2, 1, {10, 30}},
      {"3 to 2 rows", 1, 3, {10, 20, 30}, 1, 2, {10, 20}},
      {"2 to 98 columns", 2, 1, {10, 20}, 98, 1, twoToNinetyEight},
      {"2x2 to 3x3", 2, 2, {10, 20, 30, 40}, 3, 3, {10, 10, 20, 10, 10, 20, 30, 30, 40}},
  };
  for (const Case& c : cases) {
    Outcome out = resize(testbmp::build(grayImage(c.sw, c.sh, c.source)), c.tw, c.th);
    EXPECT_EQ(out.log, convertedLine(8) + resizedLine(c.sw, c.sh, c.tw, c.th)) << c.name;
    std::vector<uint8_t> got;
    for (int32_t y = 0; y < c.th; ++y) {
      std::vector<uint8_t> r = testbmp::row(out.bmp, y);
      got.insert(got.end(), r.begin(), r.end());
    }
    EXPECT_EQ(got, c.expected) << c.name;
  }
}

// The column table, its shuffle blocks and the portable loop against the
// index formula, for shrink factors on both sides of the shuffle's reach
// (215 -> 100 is the first whose 16 columns span 33 source bytes; in 31 -> 16
// and 60 -> 97 a block's 32-byte window would end one byte past the row).
TEST(ColumnSampler, TakesTheTruncatedScaledColumn) {
  const std::pair<uint32_t, uint32_t> sizes[] = {
      {2, 98},    {4, 2},   {1000, 480}, {4000, 800},   {100, 77}, {37, 50},
      {300, 160}, {64, 31}, {33, 16},    {10000, 8000}, {17, 17},  {1, 9},
      {9, 1},     {48, 16}, {215, 100},  {2100, 1000},  {31, 16},  {60, 97}};
  for (auto [sw, tw] : sizes) {
    const std::vector<uint8_t> src = randomBytes(sw, sw * 31 + tw);
    const double scale = double(sw) / double(tw);
    for (bool vector : {false, true}) {
      pixelrows::ColumnSampler sampler(sw, tw, vector);
      std::vector<uint8_t> out(tw + 1, 0xA5);
      sampler.sampleRow(src.data(), out.data());
      long wrong = -1;
      for (uint32_t x = 0; x < tw && wrong < 0; ++x) {
        const uint32_t sx = std::min<uint32_t>(sw - 1, static_cast<uint32_t>(x * scale));
        if (out[x] != src[sx]) wrong = x;
      }
      EXPECT_EQ(wrong, -1) << sw << " -> " << tw << (vector ? " vector" : " portable");
      EXPECT_EQ(out[tw], 0xA5);
    }
  }
}

TEST(ResizeBMP, WritesThePreparedLayoutAtTheTargetSize) {
  expectPreparedLayout(resize(testbmp::build(randomImage(3, 2, 24, 5)), 5, 3).bmp, 5, 3);
}

TEST(ResizeBMP, SameSizeEqualsConversion) {
  for (uint16_t bits : {8, 24, 32}) {
    const ByteVector input = testbmp::build(randomImage(13, 7, bits, 40 + bits));
    Outcome resized = resize(input, 13, 7);
    EXPECT_EQ(resized.log, convertedLine(bits) + resizedLine(13, 7, 13, 7));
    EXPECT_EQ(resized.bmp, convert(input).bmp) << bits << " bits";
  }
}

TEST(ResizeBMP, RefusesWithTheLinesInOrder) {
  const ByteVector good = testbmp::build(randomImage(4, 2, 24, 1));
  ByteVector badSignature = good;
  badSignature[0] = 'b';
  ByteVector sixteen = withU32(good, 28, 16);
  const std::string failed = "[DEBUG] 转换为8位灰度图失败\n";
  struct Case {
    const char* name;
    ByteVector input;
    int32_t tw, th;
    std::string log;
  };
  const Case cases[] = {
      {"53 bytes", ByteVector(good.begin(), good.begin() + 53), 5, 5,
       "[DEBUG] BMP数据不完整或无效\n"},
      {"signature", badSignature, 5, 5, "[DEBUG] 输入数据不是有效的BMP文件\n"},
      {"width 0", good, 0, 5, "[DEBUG] 无效的目标尺寸: 0 x 5\n"},
      {"height 0", good, 5, 0, "[DEBUG] 无效的目标尺寸: 5 x 0\n"},
      {"negative, before the depth", sixteen, -3, 5, "[DEBUG] 无效的目标尺寸: -3 x 5\n"},
      {"16 bits", sixteen, 5, 5, "[DEBUG] 不支持的BMP位深度: 16，无法转换为8位BMP\n" + failed},
      {"source size", withU32(good, 18, 0), 5, 5, "[DEBUG] BMP图像尺寸不合理: 0 x 2\n" + failed},
      {"short rows", ByteVector(good.begin(), good.end() - 1), 5, 5,
       "[DEBUG] BMP数据不完整或无效\n" + failed},
  };
  for (const Case& c : cases) {
    Outcome out = resize(c.input, c.tw, c.th);
    EXPECT_TRUE(out.bmp.empty()) << c.name;
    EXPECT_EQ(out.log, c.log) << c.name;
  }
}

TEST(ResizeBMP, OversizedTargetThrowsBeforeAllocating) {
  const std::pair<int32_t, int32_t> targets[] = {
      {50000, 50000}, {2147482569, 1}, {INT_MAX, INT_MAX}, {1, INT_MAX}};
  for (uint16_t bits : {8, 24}) {
    const ByteVector input = testbmp::build(randomImage(20, 10, bits, 9));
    for (auto [w, h] : targets) {
      std::string what, log;
      size_t largest = 0;
      {
        testalloc::LargestAllocation watch;
        log = testcups::captureStdout([&] {
          try {
            resizeBMP(input, w, h);
          } catch (const std::length_error& e) {
            what = e.what();
          }
        });
        largest = watch.bytes();
      }
      EXPECT_EQ(what, "vector") << w << " x " << h;
      EXPECT_EQ(log, convertedLine(bits));
      EXPECT_LT(largest, size_t{1} << 20) << w << " x " << h;
    }
  }
}

// ---- saving -----------------------------------------------------------------

class SaveBMPToFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/bmp-save-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
  }
  void TearDown() override {
    for (const char* name : {"a.bmp", "empty.bmp", "long.bmp"}) unlink((dir + "/" + name).c_str());
    rmdir(dir.c_str());
  }
  static ByteVector readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  std::string dir;
};

TEST_F(SaveBMPToFileTest, ReportsEachOutcome) {
  const std::string path = dir + "/a.bmp";
  const std::string missing = dir + "/no/such/dir.bmp";
  struct Case {
    const char* name;
    size_t bytes;
    std::string path;
    bool saved;
    std::string log;
  };
  const Case cases[] = {
      {"empty", 0, dir + "/empty.bmp", false, "[DEBUG] 无法保存空的BMP图像数据到文件\n"},
      {"no directory", 1078, missing, false, "[DEBUG] 无法打开文件 " + missing + " 进行写入\n"},
      {"device full", 1078, "/dev/full", false, "[DEBUG] 写入BMP图像数据到文件 /dev/full 失败\n"},
      {"1078 bytes", 1078, path, true,
       "[DEBUG] 成功将BMP图像数据保存到文件: " + path + ", 大小: 1.05KB\n"},
      {"1536 bytes", 1536, path, true,
       "[DEBUG] 成功将BMP图像数据保存到文件: " + path + ", 大小: 1.50KB\n"},
      {"2048 bytes", 2048, path, true,
       "[DEBUG] 成功将BMP图像数据保存到文件: " + path + ", 大小: 2.00KB\n"},
  };
  for (const Case& c : cases) {
    const ByteVector data = randomBytes(c.bytes, static_cast<uint32_t>(c.bytes));
    bool saved = !c.saved;
    const std::string log = testcups::captureStdout([&] { saved = saveBMPToFile(data, c.path); });
    EXPECT_EQ(saved, c.saved) << c.name;
    EXPECT_EQ(log, c.log) << c.name;
    if (c.saved) {
      EXPECT_EQ(readFile(c.path), data) << c.name;
    }
  }
  struct stat info;
  EXPECT_NE(stat((dir + "/empty.bmp").c_str(), &info), 0) << "an empty image created a file";
}

TEST_F(SaveBMPToFileTest, TruncatesALongerFile) {
  const std::string path = dir + "/long.bmp";
  std::ofstream(path, std::ios::binary) << std::string(5000, 'x');
  const ByteVector data = randomBytes(1078, 1);
  testcups::captureStdout([&] { EXPECT_TRUE(saveBMPToFile(data, path)); });
  EXPECT_EQ(readFile(path), data);
}

}  // namespace
