// The one-pass label image against the two passes it replaces: for random
// and broken inputs and random target sizes, the same bytes, the same log
// lines in the same order and the same exception as convertTo8BitBMP then
// resizeBMP. A PNG streamed row by row into the label against the label
// made from its whole decoded gray image.

#include <gtest/gtest.h>
#include <png.h>

#include <cstdint>
#include <random>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>

#include "allocation_watch.h"
#include "bmp_builder.h"
#include "helper/label_image.h"
#include "helper/png_gray.h"
#include "instruction/zpl.h"
#include "language.h"
#include "outcome.h"

namespace {

Outcome twoPasses(const ByteVector& bmp, int32_t w, int32_t h) {
  return outcomeOf([&] {
    const ByteVector converted = convertTo8BitBMP(bmp);
    return converted.empty() ? ByteVector{} : resizeBMP(converted, w, h);
  });
}

Outcome onePass(const ByteVector& bmp, int32_t w, int32_t h) {
  return outcomeOf([&] {
    LabelImageSource source;
    return source.open(bmp) ? source.resize(w, h) : ByteVector{};
  });
}

enum Alpha { kRandom, kAllZero, kAllOpaque, kOneLate, kBelowHalf };

// Random pixels; for 32 bits, alpha bytes as `alpha` says.
ByteVector makeBmp(int32_t width, int32_t height, uint16_t bits, Alpha alpha, std::mt19937& rng,
                   uint32_t gap = 0) {
  testbmp::Image image = testbmp::randomImage(width, height, bits, rng());
  image.gap = gap;
  const size_t pixels = size_t(width) * height;
  const size_t late = pixels - 1 - rng() % std::min<size_t>(pixels, 3);
  for (size_t i = 0; bits == 32 && i < pixels; ++i) {
    uint8_t& a = image.rows[4 * i + 3];
    const uint8_t set[] = {a, 0, 255, i == late, uint8_t(a & 0x7F)};
    a = set[alpha];
  }
  return testbmp::build(image);
}

// 0 and negatives, 1, the same, enlarged, or anything up to the source + 40.
int32_t randomTarget(int32_t source, std::mt19937& rng) {
  const int32_t picks[] = {-int32_t(rng() % 5), 1, source, source * 3 + int32_t(rng() % 7)};
  const uint32_t pick = rng() % 8;
  return pick < 4 ? picks[pick] : 1 + int32_t(rng() % uint32_t(source + 40));
}

// Header fields the checks read, set to values they refuse.
const std::pair<size_t, uint32_t> kBadFields[] = {
    {0, 0x4D58},       {0, 0x4242},       {18, 0},  {18, 0xFFFFFFF6u}, {18, 10001}, {22, 10001},
    {22, 0xFFFFFFCEu}, {10, 0xFFFFFFFFu}, {28, 16}, {28, 1},           {28, 0},     {30, 3}};

// The first inputs are wide (vector kernels, gathered chunks, row reuse);
// every fifth has a bad header field, and every fourth is cut short: inside
// its last pixel, anywhere, to under 54 bytes, or where its pixels start.
TEST(LabelImage, MatchesConversionThenResizeOnRandomImages) {
  std::mt19937 rng(20240611);
  const uint16_t depths[] = {8, 24, 32, 32, 32};
  for (int i = 0; i < 2000; ++i) {
    const int32_t width = i < 12 ? 600 + rng() % 700 : 1 + rng() % 67;
    const int32_t height = i < 12 ? 1 + rng() % 700 : 1 + rng() % 41;
    const uint16_t bits = depths[rng() % 5];
    const Alpha alpha = Alpha(rng() % 5);
    ByteVector bmp = makeBmp(width, height, bits, alpha, rng, rng() % 3 ? 0 : rng() % 1100);
    if (i % 5 == 4)
      testbmp::put32(bmp, kBadFields[i / 5 % 12].first, kBadFields[i / 5 % 12].second);
    const size_t cuts[] = {bmp.size() - 1 - rng() % 4, rng() % bmp.size(), rng() % 54,
                           std::min<size_t>(bmp.size(), testbmp::u32(bmp, 10))};
    if (i % 4 == 3) bmp.resize(cuts[i / 4 % 4]);
    const int32_t w = randomTarget(width, rng), h = randomTarget(height, rng);
    const Outcome expected = twoPasses(bmp, w, h), got = onePass(bmp, w, h);
    ASSERT_TRUE(got == expected) << width << "x" << height << ", " << bits << " bits, alpha "
                                 << alpha << ", " << bmp.size() << " bytes -> " << w << "x" << h
                                 << "\nexpected log:\n"
                                 << expected.log << "got:\n"
                                 << got.log;
  }
}

// Sizes past the 2^31 - 1 byte limit (2147482569 wide is the first width
// over it) raise the length error "vector", from resizeBMP itself too, before
// anything large is allocated; negative ones are refused with a line.
TEST(LabelImage, MatchesAtTheSizeLimit) {
  std::mt19937 rng(3);
  const std::pair<int32_t, int32_t> targets[] = {
      {50000, 50000},  {INT32_MAX, 1},  {1, INT32_MAX}, {INT32_MAX, INT32_MAX},
      {2147482569, 1}, {INT32_MAX, -1}, {INT32_MIN, 7}};
  for (uint16_t bits : {8, 24}) {
    const ByteVector bmp = makeBmp(20, 10, bits, kRandom, rng);
    for (const auto& target : targets) {
      // Not a structured binding: C++17 lambdas cannot capture one (clang refuses).
      const int32_t w = target.first, h = target.second;
      SCOPED_TRACE(std::to_string(bits) + " bits to " + std::to_string(w) + " x " +
                   std::to_string(h));
      Outcome direct, expected, got;
      EXPECT_LT(testalloc::largestDuring([&] {
                  direct = outcomeOf([&] { return resizeBMP(bmp, w, h); });
                  expected = twoPasses(bmp, w, h);
                  got = onePass(bmp, w, h);
                }),
                size_t{1} << 20);
      const bool tooLarge = w > 0 && h > 0;
      EXPECT_EQ(direct.thrown, tooLarge ? "vector" : "");
      EXPECT_EQ(direct.log,
                tooLarge ? "[DEBUG] 成功将" + std::to_string(bits) + "位BMP转换为8位灰度BMP\n"
                         : "[DEBUG] 无效的目标尺寸: " + std::to_string(w) + " x " +
                               std::to_string(h) + "\n");
      EXPECT_TRUE(direct.bytes.empty());
      EXPECT_EQ(expected.thrown, direct.thrown);
      EXPECT_TRUE(got == expected) << expected.log;
    }
  }
}

// Through the instruction base: its own lines around the helpers', and the
// label sizes whose dot counts leave 32 bits, which never reach the resize.
TEST(LabelImage, InstructionBaseKeepsItsLog) {
  std::mt19937 rng(11);
  const ByteVector bmp = makeBmp(101, 57, 32, kOneLate, rng);
  const std::string base = "[DEBUG] BaseInstruction: ";
  const std::string convertLine = "[DEBUG] 成功将32位BMP转换为8位灰度BMP\n";
  const std::tuple<int32_t, int32_t, bool> cases[] = {{50, 30, true},
                                                      {-3, 30, true},
                                                      {0, 9, true},
                                                      {268435455, 1, true},
                                                      {268435456, 1, false},
                                                      {1, -268435457, false},
                                                      {300000000, 300000000, false}};
  for (auto [widthMm, heightMm, reachesResize] : cases) {
    const TraceCodePrintParams p = labelRequest("lab", "ZPL", false, widthMm, heightMm, bmp);
    ByteVector prepared;
    const std::string log = logOf([&] { prepared = ZPLInstruction(p, 203).preparedImage(); });
    const Outcome helpers = reachesResize ? twoPasses(bmp, 8 * widthMm, 8 * heightMm) : Outcome{};
    std::string expected = base + "开始准备准备8bit\n" + convertLine + base + "BMP转换8bit成功\n";
    if (reachesResize) expected += helpers.log.substr(convertLine.size());
    if (!helpers.thrown.empty()) {
      expected += "[ERROR] BaseInstruction: 发生长度错误异常: " + helpers.thrown + "\n";
    } else {
      expected +=
          base + (helpers.bytes.empty() ? "BMP调整尺寸失败，返回空数据\n" : "BMP调整尺寸成功\n");
    }
    EXPECT_EQ(log, expected) << widthMm << " x " << heightMm << " mm";
    EXPECT_EQ(prepared, helpers.bytes);
  }
}

// A PNG of random samples as libpng writes it; palettes are full, so every
// index is valid, and get random transparency.
ByteVector randomPng(uint32_t w, uint32_t h, int colorType, int depth, bool interlaced,
                     std::mt19937& rng) {
  ByteVector out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_set_write_fn(
      png, &out,
      [](png_structp p, png_bytep data, png_size_t n) {
        auto* bytes = static_cast<ByteVector*>(png_get_io_ptr(p));
        bytes->insert(bytes->end(), data, data + n);
      },
      nullptr);
  png_set_IHDR(png, info, w, h, depth, colorType,
               interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  std::vector<png_color> palette(colorType == PNG_COLOR_TYPE_PALETTE ? 1u << depth : 0);
  std::vector<png_byte> alphas(palette.size());
  for (size_t i = 0; i < palette.size(); ++i) {
    palette[i] = {png_byte(rng()), png_byte(rng()), png_byte(rng())};
    alphas[i] = png_byte(rng() % 3 ? 255 : rng());
  }
  if (!palette.empty()) {
    png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
    png_set_tRNS(png, info, alphas.data(), static_cast<int>(alphas.size()), nullptr);
  }
  const int channels[] = {1, 0, 3, 1, 2, 0, 4};
  const size_t rowBytes = (size_t{w} * channels[colorType] * depth + 7) / 8;
  std::vector<png_byte> pixels(rowBytes * h);
  for (png_byte& b : pixels) b = png_byte(rng() % 4 ? rng() : 0xFF);
  std::vector<png_bytep> rows(h);
  for (uint32_t y = 0; y < h; ++y) rows[y] = pixels.data() + y * rowBytes;
  png_set_rows(png, info, rows.data());
  png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

Outcome streamed(const ByteVector& png, int32_t w, int32_t h, std::string& reason) {
  return outcomeOf([&] {
    LabelImageSource source;
    ByteVector label = source.openPng(png.data(), png.size()) ? source.resize(w, h) : ByteVector{};
    reason = source.reason();
    return label;
  });
}

// Every colour type and depth, plain and interlaced, to labels that shrink,
// keep, enlarge and distort it; then cut short, refused with decode()'s reason.
TEST(LabelImage, StreamedPngMatchesItsWholeGrayImage) {
  std::mt19937 rng(23);
  const std::pair<int, int> kinds[] = {{0, 1}, {0, 2},  {0, 4},  {0, 8}, {0, 16},
                                       {2, 8}, {2, 16}, {3, 1},  {3, 2}, {3, 4},
                                       {3, 8}, {4, 8},  {4, 16}, {6, 8}, {6, 16}};
  for (int i = 0; i < 120; ++i) {
    const auto [colorType, depth] = kinds[i % 15];
    const uint32_t w = 1 + rng() % 90, h = 1 + rng() % 70;
    const ByteVector png = randomPng(w, h, colorType, depth, i / 15 % 2, rng);
    std::string reason;
    const ByteVector gray = pnggray::decode(png.data(), png.size(), reason);
    ASSERT_FALSE(gray.empty()) << reason;
    const int32_t targets[][2] = {{int32_t(w), int32_t(h)},
                                  {1 + int32_t(rng() % w), 1 + int32_t(rng() % h)},
                                  {int32_t(w * 3 + rng() % 5), int32_t(h * 2 + rng() % 5)},
                                  {int32_t(w + rng() % 40), 1 + int32_t(rng() % h)},
                                  {0, 5}};
    for (const auto& [tw, th] : targets) {
      const Outcome whole = onePass(gray, tw, th);
      std::string why;
      const Outcome got = streamed(png, tw, th, why);
      ASSERT_TRUE(got == whole) << colorType << "/" << depth << " " << w << "x" << h << " -> " << tw
                                << "x" << th << ": " << why;
    }
    ByteVector cut(png.begin(), png.begin() + 8 + rng() % (png.size() - 8));
    const ByteVector none = pnggray::decode(cut.data(), cut.size(), reason);
    std::string why;
    const Outcome got = streamed(cut, 50, 30, why);
    EXPECT_TRUE(none.empty() && got.bytes.empty());
    EXPECT_EQ(why, reason) << colorType << "/" << depth << " cut to " << cut.size();
  }
}

// The cost follows the label: preparing a 2400 x 1800 BMP for a 400 x 240
// label allocates nothing larger than the label image itself, neither a
// full-size gray image nor a copy of the source on its way to the base; a
// 600 x 400 PNG on a 60 x 40 label holds only the rows the label takes,
// interlaced (the 40 wanted rows gathered) or not (one row).
TEST(LabelImage, AllocatesNothingLargerThanTheLabel) {
  std::mt19937 rng(17);
  for (uint16_t bits : {8, 24, 32}) {
    const ByteVector bmp = makeBmp(2400, 1800, bits, kRandom, rng);
    const TraceCodePrintParams p = labelRequest("lab", "ZPL", false, 50, 30, bmp);
    ByteVector prepared;
    size_t largest = 0;
    logOf([&] {
      largest =
          testalloc::largestDuring([&] { prepared = ZPLInstruction(p, 203).preparedImage(); });
    });
    EXPECT_EQ(prepared.size(), 1078u + 400 * 240) << bits;
    EXPECT_LE(largest, prepared.size()) << bits << "-bit source";
  }
  for (bool interlaced : {false, true}) {
    const ByteVector png = randomPng(600, 400, PNG_COLOR_TYPE_RGBA, 8, interlaced, rng);
    ByteVector label;
    const size_t largest = testalloc::largestDuring([&] {
      logOf([&] {
        LabelImageSource source;
        if (source.openPng(png.data(), png.size())) label = source.resize(60, 40);
      });
    });
    EXPECT_EQ(label.size(), 1078u + 60 * 40) << interlaced;
    EXPECT_LE(largest, 40u * 600) << (interlaced ? "interlaced PNG" : "PNG");
  }
}

}  // namespace
