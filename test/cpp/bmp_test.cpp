// Image preparation: conversion to the prepared 8-bit image, resizing, saving.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>

#include "bmp_builder.h"
#include "helper/bmp.h"
#include "helper/pixel_rows.h"
#include "outcome.h"

namespace {

using namespace testbmp;

Outcome convert(const ByteVector& input) {
  return outcomeOf([&] { return convertTo8BitBMP(input); });
}

Outcome resize(const ByteVector& input, int32_t width, int32_t height) {
  return outcomeOf([&] { return resizeBMP(input, width, height); });
}

std::string converted(int bits) {
  return "[DEBUG] 成功将" + std::to_string(bits) + "位BMP转换为8位灰度BMP\n";
}

ByteVector withU32(ByteVector bytes, size_t at, uint32_t value) {
  put32(bytes, at, value);
  return bytes;
}

// ---- conversion -------------------------------------------------------------

// Every colour through every kernel this CPU can run, against the plain formula;
// the round trip checks the levels end to end against an exact BigInt oracle.
TEST(GrayKernels, EveryColourMatchesTheFormula) {
  constexpr uint32_t kColours = 1u << 24;
  Bytes gray(kColours), alphaRule(kColours), bgr(3 * size_t{kColours}), bgra(4 * size_t{kColours});
  for (uint32_t c = 0; c < kColours; ++c) {
    const uint8_t r = c >> 16, g = c >> 8, b = c;
    const uint8_t a = static_cast<uint8_t>((c * 2654435761u) >> 24);  // spread over 0-255
    double t = static_cast<double>(g) * 0.587;
    t = std::fma(static_cast<double>(r), 0.299, t);
    gray[c] = static_cast<uint8_t>(std::fma(static_cast<double>(b), 0.114, t));
    alphaRule[c] = a >= 128 ? gray[c] : 255;
    const uint8_t pixel[] = {b, g, r, a};
    std::copy_n(pixel, 3, &bgr[3 * size_t{c}]);
    std::copy_n(pixel, 4, &bgra[4 * size_t{c}]);
  }
  std::vector<const pixelrows::GrayKernels*> kernels{&pixelrows::portableKernels(),
                                                     &pixelrows::blockKernels()};
  if (pixelrows::vectorKernels() != nullptr) kernels.push_back(pixelrows::vectorKernels());
  const uint32_t n = kColours - 1;  // the row ends in the vector loop's scalar tail
  for (const pixelrows::GrayKernels* k : kernels) {
    const std::tuple<pixelrows::RowFn, const Bytes*, const Bytes*, const char*> runs[] = {
        {k->bgr, &bgr, &gray, "24 bits"},
        {k->bgrx, &bgra, &gray, "32 bits, alpha ignored"},
        {k->bgra, &bgra, &alphaRule, "32 bits, alpha rule"}};
    for (auto [fn, src, expected, what] : runs) {
      Bytes out(kColours, 0xA5);
      fn(src->data(), out.data(), n);
      EXPECT_TRUE(std::equal(&out[0], &out[n], expected->data())) << k->name << ", " << what;
      EXPECT_EQ(out[n], 0xA5) << k->name << " wrote past the row, " << what;
    }
  }
}

// Every header field, the gray ramp and the zero pad bytes of a prepared
// image made from a builder image.
void expectPreparedLayout(const ByteVector& bmp, uint32_t width, uint32_t height) {
  const uint32_t stride = (width + 3) / 4 * 4, image = stride * height;
  ASSERT_EQ(bmp.size(), 1078 + image);
  EXPECT_EQ(bmp[0] | bmp[1] << 8, 0x4D42);
  const std::pair<size_t, uint32_t> fields[] = {
      {2, 1078 + image}, {6, 0},  {10, 1078},  {14, 40},   {18, width}, {22, height},
      {26, 1 | 8 << 16}, {30, 0}, {34, image}, {38, 2835}, {42, 3780},  {46, 256},
      {50, 256}};
  for (auto [offset, value] : fields) EXPECT_EQ(u32(bmp, offset), value) << "offset " << offset;
  for (uint32_t i = 0; i < 256; ++i) EXPECT_EQ(u32(bmp, 54 + 4 * i), i * 0x010101u) << i;
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = width; x < stride; ++x) EXPECT_EQ(bmp[1078 + y * stride + x], 0) << x << y;
  }
}

// Every depth and info header size (40, 108, 124 bytes; a compression field
// is ignored). Bottom row 128: gray 127 in colour, 128 as an 8-bit level that
// neither the builder's colour table nor the gray formula may touch. Top row
// 255. The last row's pad bytes are left off the input: only pixels are
// needed. The output converts to itself.
TEST(ConvertTo8BitBMP, WritesThePreparedLayout) {
  const std::tuple<int32_t, uint16_t, uint32_t, uint32_t> cases[] = {
      {1, 24, 40, 0}, {2, 8, 108, 0}, {3, 32, 124, 0},
      {4, 24, 40, 3}, {5, 8, 40, 0},  {7, 32, 108, 0}};
  for (auto [width, bits, header, compression] : cases) {
    SCOPED_TRACE(std::to_string(width) + " wide, " + std::to_string(bits) + " bits, header " +
                 std::to_string(header));
    Image image{width, 2, bits, Bytes(width * bits / 8, 128), header, compression};
    image.rows.resize(2 * image.rows.size(), 255);
    const ByteVector bmp = build(image);
    const size_t pad = (4 - width * bits / 8 % 4) % 4;
    Outcome out = convert({bmp.begin(), bmp.end() - pad}), again = convert(out.bytes);
    EXPECT_EQ(out.log, converted(bits));
    expectPreparedLayout(out.bytes, width, 2);
    EXPECT_EQ(row(out.bytes, 0), Bytes(width, bits == 8 ? 128 : 127));
    EXPECT_EQ(row(out.bytes, 1), Bytes(width, 255));
    EXPECT_EQ(again.log, converted(8));
    EXPECT_EQ(again.bytes, out.bytes);
  }
  expectPreparedLayout(resize(build(randomImage(3, 2, 24, 5)), 5, 3).bytes, 5, 3);
}

// 2 x 2 pixels of (200, 100, 50), gray 124, bottom row first.
TEST(ConvertTo8BitBMP, AlphaDecidesWhiteUnlessEveryAlphaIsZero) {
  const std::pair<Bytes, Bytes> cases[] = {
      // alphas, gray levels
      {{127, 128, 255, 0}, {255, 124, 124, 255}},
      {{0, 0, 0, 0}, {124, 124, 124, 124}},  // all zero: opaque
      {{0, 0, 0, 1}, {255, 255, 255, 255}},  // one faint alpha in the last pixel
      {{0, 0, 0, 200}, {255, 255, 255, 124}}};
  for (const auto& [alphas, expected] : cases) {
    Image image{2, 2, 32, {}};
    for (uint8_t a : alphas) image.rows.insert(image.rows.end(), {50, 100, 200, a});
    Outcome out = convert(build(image));
    EXPECT_EQ(out.log, converted(32));
    Bytes got = row(out.bytes, 0), top = row(out.bytes, 1);
    got.insert(got.end(), top.begin(), top.end());
    EXPECT_EQ(got, expected) << +alphas[3];
  }
}

// Each refusal, of the conversion and of resizeBMP, as one line in the order of the checks.
TEST(ConvertTo8BitBMP, RefusesWithOneLineInTheOrderOfTheChecks) {
  const ByteVector good = build(randomImage(4, 2, 24, 1));  // pixels at offset 54
  const ByteVector topDown = withU32(build(randomImage(100, 50, 24, 2)), 22, uint32_t(-50));
  auto depth = [](uint16_t bits) { return build({8, 2, bits, Bytes(2 * bits, 0x55)}); };
  const std::string incomplete = "[DEBUG] BMP数据不完整或无效\n";
  const std::string badOffset = "[DEBUG] BMP文件头偏移量无效\n";
  auto size = [](std::string w, std::string h) {
    return "[DEBUG] BMP图像尺寸不合理: " + w + " x " + h + "\n";
  };
  auto depthLine = [](int bits) {
    return "[DEBUG] 不支持的BMP位深度: " + std::to_string(bits) + "，无法转换为8位BMP\n";
  };
  const std::pair<ByteVector, std::string> cases[] = {
      {ByteVector(good.begin(), good.begin() + 53), incomplete},
      {withU32(good, 0, 0x4E42), "[DEBUG] 输入数据不是有效的BMP文件\n"},
      {ByteVector(40, 0), incomplete},  // size before signature
      {withU32(good, 18, 0), size("0", "2")},
      {withU32(good, 22, 0), size("4", "0")},
      {withU32(good, 18, 10001), size("10001", "2")},
      {withU32(good, 22, 10001), size("4", "10001")},
      {withU32(good, 18, uint32_t(-1)), size("-1", "2")},
      {topDown, size("100", "-50")},
      {ByteVector(good.begin(), good.begin() + 54), badOffset},
      {withU32(good, 10, uint32_t(good.size())), badOffset},
      {withU32(good, 10, 0xFFFFFFFFu), badOffset},
      {withU32(depth(16), 10, 0xFFFFFFFFu), badOffset},  // offset before depth
      {depth(16), depthLine(16)},
      {depth(4), depthLine(4)},
      {depth(1), depthLine(1)},
      {withU32(depth(16), 22, 10000), depthLine(16)},  // depth before rows
      {withU32(good, 22, 10000), incomplete},
      {ByteVector(good.begin(), good.end() - 1), incomplete},  // one byte into the last pixel
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    const auto& [input, log] = cases[i];
    Outcome out = convert(input), resized = resize(input, 5, 5);
    EXPECT_TRUE(out.bytes.empty() && resized.bytes.empty()) << log;
    EXPECT_EQ(out.log, log);
    // resizeBMP makes the first three checks itself; the others fail its conversion.
    EXPECT_EQ(resized.log, log + (i < 3 ? "" : "[DEBUG] 转换为8位灰度图失败\n"));
  }
  for (auto [w, h] : {std::pair{0, 5}, std::pair{5, 0}, std::pair{-3, 5}}) {  // target before depth
    Outcome out = resize(depth(16), w, h);
    EXPECT_TRUE(out.bytes.empty());
    EXPECT_EQ(out.log,
              "[DEBUG] 无效的目标尺寸: " + std::to_string(w) + " x " + std::to_string(h) + "\n");
  }
  for (auto [w, h] : {std::pair{10000, 1}, std::pair{1, 10000}}) {  // the largest sides pass
    Outcome out = convert(build({w, h, 8, Bytes(size_t(w) * h, 9)}));
    EXPECT_EQ(out.log, converted(8)) << w << "x" << h;
    EXPECT_EQ(out.bytes.size(), 1078 + size_t(h) * ((w + 3) / 4 * 4));
  }
}

// ---- resizing ---------------------------------------------------------------

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
    const Bytes src = randomBytes(sw, sw * 31 + tw);
    Bytes expected(tw + 1, 0xA5);
    for (uint32_t x = 0; x < tw; ++x)
      expected[x] = src[std::min(sw - 1, uint32_t(x * (double(sw) / tw)))];
    for (bool vector : {false, true}) {
      Bytes out(tw + 1, 0xA5);
      pixelrows::ColumnSampler(sw, tw, vector).sampleRow(src.data(), out.data());
      EXPECT_TRUE(out == expected) << sw << " -> " << tw << (vector ? " vector" : " portable");
    }
  }
}

// ---- saving -----------------------------------------------------------------

TEST(SaveBMPToFile, ReportsEachOutcome) {
  char pattern[] = "/tmp/bmp-save-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string dir = pattern, path = dir + "/a.bmp", missing = dir + "/no/such/dir.bmp";
  const std::string saved = "[DEBUG] 成功将BMP图像数据保存到文件: " + path + ", 大小: ";
  // Largest first: each save must truncate the file the one before left.
  const std::tuple<size_t, std::string, std::string> cases[] = {
      {0, dir + "/empty.bmp", "[DEBUG] 无法保存空的BMP图像数据到文件\n"},
      {1078, missing, "[DEBUG] 无法打开文件 " + missing + " 进行写入\n"},
      {1078, "/dev/full", "[DEBUG] 写入BMP图像数据到文件 /dev/full 失败\n"},
      {2048, path, saved + "2.00KB\n"},
      {1078, path, saved + "1.05KB\n"},
  };
  for (const auto& [bytes, to, log] : cases) {
    const ByteVector data = randomBytes(bytes, static_cast<uint32_t>(bytes));
    bool ok = false;
    // C++17 lambdas cannot capture a structured binding (clang refuses): a copy.
    const std::string target = to;
    EXPECT_EQ(logOf([&] { ok = saveBMPToFile(data, target); }), log);
    EXPECT_EQ(ok, to == path) << log;
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(!ok || ByteVector(std::istreambuf_iterator<char>(in), {}) == data) << log;
  }
  EXPECT_NE(access((dir + "/empty.bmp").c_str(), F_OK), 0) << "an empty image created a file";
  unlink(path.c_str());
  rmdir(dir.c_str());
}

}  // namespace
