// The one-pass label image against the two passes it replaces: for random
// and broken inputs and random target sizes, the same bytes, the same log
// lines in the same order and the same exception as convertTo8BitBMP then
// resizeBMP.

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>

#include "allocation_watch.h"
#include "helper/label_image.h"
#include "instruction/zpl.h"

namespace {

struct Outcome {
  ByteVector image;
  std::string log;
  std::string thrown;  // what() of a length error, else empty
};

bool operator==(const Outcome& a, const Outcome& b) {
  return a.image == b.image && a.log == b.log && a.thrown == b.thrown;
}

template <typename Body>
Outcome capture(Body body) {
  Outcome out;
  testing::internal::CaptureStdout();
  try {
    out.image = body();
  } catch (const std::length_error& e) {
    out.thrown = e.what();
  }
  out.log = testing::internal::GetCapturedStdout();
  return out;
}

Outcome twoPasses(const ByteVector& bmp, int32_t w, int32_t h) {
  return capture([&] {
    const ByteVector converted = convertTo8BitBMP(bmp);
    return converted.empty() ? ByteVector{} : resizeBMP(converted, w, h);
  });
}

Outcome onePass(const ByteVector& bmp, int32_t w, int32_t h) {
  return capture([&] {
    LabelImageSource source;
    return source.open(bmp) ? source.resize(w, h) : ByteVector{};
  });
}

void put32(ByteVector& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

enum class Alpha { Random, AllZero, AllOpaque, OneLate, BelowHalf };

struct Source {
  int32_t width;
  int32_t height;
  uint16_t bpp;
  uint32_t gap;  // bytes between the 54-byte headers and the pixel rows
  Alpha alpha;
};

// A bottom-up BMP of random pixels; rows padded to 4 bytes with random filler.
ByteVector makeBmp(const Source& s, std::mt19937& rng) {
  const uint32_t stride = (static_cast<uint32_t>(s.width) * s.bpp + 31) / 32 * 4;
  const uint32_t offset = 54 + s.gap;
  ByteVector b(offset + size_t{stride} * s.height);
  for (auto& byte : b) byte = static_cast<uint8_t>(rng());
  b[0] = 'B';
  b[1] = 'M';
  put32(b, 2, static_cast<uint32_t>(b.size()));
  put32(b, 10, offset);
  put32(b, 14, 40);
  put32(b, 18, static_cast<uint32_t>(s.width));
  put32(b, 22, static_cast<uint32_t>(s.height));
  b[26] = 1;
  b[27] = 0;
  b[28] = static_cast<uint8_t>(s.bpp);
  b[29] = static_cast<uint8_t>(s.bpp >> 8);
  if (s.bpp != 32) return b;
  const size_t pixels = size_t(s.width) * s.height;
  const size_t late = pixels - 1 - rng() % std::min<size_t>(pixels, 3);
  for (size_t i = 0; i < pixels; ++i) {
    uint8_t& a = b[offset + 4 * i + 3];
    switch (s.alpha) {
      case Alpha::Random:
        break;
      case Alpha::AllZero:
        a = 0;
        break;
      case Alpha::AllOpaque:
        a = 255;
        break;
      case Alpha::OneLate:
        a = i == late ? 1 : 0;
        break;
      case Alpha::BelowHalf:
        a = static_cast<uint8_t>(a & 0x7F);
        break;
    }
  }
  return b;
}

int32_t randomTarget(int32_t source, std::mt19937& rng) {
  switch (rng() % 8) {
    case 0:
      return -static_cast<int32_t>(rng() % 5);  // 0 and negatives
    case 1:
      return 1;
    case 2:
      return source;
    case 3:
      return source * 3 + static_cast<int32_t>(rng() % 7);  // enlarging
    default:
      return 1 + static_cast<int32_t>(rng() % static_cast<uint32_t>(source + 40));
  }
}

TEST(LabelImage, MatchesConversionThenResizeOnRandomImages) {
  std::mt19937 rng(20240611);
  const uint16_t depths[] = {8, 24, 32, 32, 32};
  const Alpha alphas[] = {Alpha::Random, Alpha::AllZero, Alpha::AllOpaque, Alpha::OneLate,
                          Alpha::BelowHalf};
  for (int i = 0; i < 1500; ++i) {
    const Source s{1 + static_cast<int32_t>(rng() % 67), 1 + static_cast<int32_t>(rng() % 41),
                   depths[rng() % 5], static_cast<uint32_t>(rng() % 3 == 0 ? rng() % 1100 : 0),
                   alphas[rng() % 5]};
    const ByteVector bmp = makeBmp(s, rng);
    const int32_t w = randomTarget(s.width, rng);
    const int32_t h = randomTarget(s.height, rng);
    const Outcome expected = twoPasses(bmp, w, h);
    ASSERT_TRUE(onePass(bmp, w, h) == expected)
        << s.width << "x" << s.height << " bpp " << s.bpp << " alpha " << int(s.alpha) << " -> "
        << w << "x" << h << "\nexpected log:\n"
        << expected.log << "got:\n"
        << onePass(bmp, w, h).log;
  }
}

// Wide rows: the vector kernels, the gathered chunks and the row reuse.
TEST(LabelImage, MatchesOnLargerImages) {
  std::mt19937 rng(7);
  const Source sources[] = {{1000, 660, 24, 0, Alpha::Random},
                            {997, 301, 32, 2, Alpha::Random},
                            {1203, 77, 32, 0, Alpha::AllZero},
                            {640, 480, 8, 1024, Alpha::Random},
                            {333, 1001, 24, 3, Alpha::Random}};
  const std::pair<int32_t, int32_t> targets[] = {{480, 320}, {400, 240}, {2051, 1307}, {9, 3000}};
  for (const Source& s : sources) {
    const ByteVector bmp = makeBmp(s, rng);
    for (const auto& [w, h] : targets) {
      ASSERT_TRUE(onePass(bmp, w, h) == twoPasses(bmp, w, h))
          << s.width << "x" << s.height << " bpp " << s.bpp << " -> " << w << "x" << h;
    }
  }
}

// Cut anywhere, including inside the last pixel of the last row.
TEST(LabelImage, MatchesOnTruncatedInputs) {
  std::mt19937 rng(99);
  for (int i = 0; i < 300; ++i) {
    const Source s{1 + static_cast<int32_t>(rng() % 30), 1 + static_cast<int32_t>(rng() % 20),
                   static_cast<uint16_t>(i % 3 == 0   ? 8
                                         : i % 3 == 1 ? 24
                                                      : 32),
                   static_cast<uint32_t>(rng() % 8), Alpha::Random};
    ByteVector bmp = makeBmp(s, rng);
    const size_t keep = i % 4 == 0 ? bmp.size() - 1 - rng() % 4 : rng() % bmp.size();
    bmp.resize(keep);
    const int32_t w = 1 + static_cast<int32_t>(rng() % 50);
    const int32_t h = 1 + static_cast<int32_t>(rng() % 50);
    ASSERT_TRUE(onePass(bmp, w, h) == twoPasses(bmp, w, h)) << "kept " << keep << " bytes";
  }
}

struct Broken {
  const char* name;
  size_t at;
  uint32_t value;
  int bytes;
};

TEST(LabelImage, MatchesOnBadHeaders) {
  const Broken cases[] = {
      {"signature", 0, 'X', 1},       {"second signature byte", 1, 'B', 1},
      {"zero width", 18, 0, 4},       {"negative width", 18, 0xFFFFFFF6u, 4},
      {"width 10001", 18, 10001, 4},  {"top-down", 22, 0xFFFFFFCEu, 4},
      {"height 10001", 22, 10001, 4}, {"offset at end", 10, 0xFFFFFFFFu, 4},
      {"16 bits", 28, 16, 2},         {"1 bit", 28, 1, 2},
      {"0 bits", 28, 0, 2},           {"compression", 30, 3, 4},
  };
  std::mt19937 rng(5);
  for (const Broken& c : cases) {
    ByteVector bmp = makeBmp({13, 7, 24, 0, Alpha::Random}, rng);
    for (int i = 0; i < c.bytes; ++i) bmp[c.at + i] = static_cast<uint8_t>(c.value >> (8 * i));
    for (const auto& [w, h] : {std::pair{20, 10}, std::pair{0, 5}}) {
      const Outcome expected = twoPasses(bmp, w, h);
      EXPECT_TRUE(onePass(bmp, w, h) == expected) << c.name << "\n" << expected.log;
    }
  }
  for (size_t size : {0, 1, 53}) {
    const ByteVector shortInput(size, 'B');
    EXPECT_TRUE(onePass(shortInput, 4, 4) == twoPasses(shortInput, 4, 4)) << size << " bytes";
  }
}

// Sizes past the 2^31 - 1 byte limit (2147482569 wide is the first width
// over it) raise the same length error before anything is allocated.
TEST(LabelImage, MatchesAtTheSizeLimit) {
  std::mt19937 rng(3);
  const ByteVector bmp = makeBmp({5, 4, 32, 0, Alpha::Random}, rng);
  const std::pair<int32_t, int32_t> targets[] = {{50000, 50000},   {2147483647, 1},
                                                 {1, 2147483647},  {2147482569, 1},
                                                 {2147483647, -1}, {-2147483647 - 1, 7}};
  for (const auto& [w, h] : targets) {
    const Outcome expected = twoPasses(bmp, w, h);
    EXPECT_TRUE(expected.image.empty());
    EXPECT_TRUE(onePass(bmp, w, h) == expected) << w << "x" << h << "\n" << expected.log;
  }
}

// Through the instruction base: its own lines around the helpers', and the
// label sizes whose dot counts leave 32 bits, which never reach the resize.
TEST(LabelImage, InstructionBaseKeepsItsLog) {
  std::mt19937 rng(11);
  const ByteVector bmp = makeBmp({101, 57, 32, 0, Alpha::OneLate}, rng);
  const std::string start = "[DEBUG] BaseInstruction: 开始准备准备8bit\n";
  const std::string converted = "[DEBUG] BaseInstruction: BMP转换8bit成功\n";
  const std::string resized = "[DEBUG] BaseInstruction: BMP调整尺寸成功\n";
  const std::string notResized = "[DEBUG] BaseInstruction: BMP调整尺寸失败，返回空数据\n";
  const std::string convertLine = "[DEBUG] 成功将32位BMP转换为8位灰度BMP\n";
  struct Case {
    int32_t widthMm, heightMm;
    bool reachesResize;
  } cases[] = {{50, 30, true},
               {-3, 30, true},
               {0, 9, true},
               {268435455, 1, true},
               {268435456, 1, false},
               {1, -268435457, false},
               {300000000, 300000000, false}};
  for (const Case& c : cases) {
    TraceCodePrintParams p;
    p.device = "lab";
    p.instruction = "ZPL";
    p.width = c.widthMm;
    p.height = c.heightMm;
    p.buffer = bmp;
    testing::internal::CaptureStdout();
    ZPLInstruction zpl(p, 203);
    const std::string log = testing::internal::GetCapturedStdout();

    std::string expected = start + convertLine + converted;
    Outcome helpers;
    if (!c.reachesResize) {
      expected += notResized;
    } else {
      helpers = twoPasses(bmp, 8 * c.widthMm, 8 * c.heightMm);
      expected += helpers.log.substr(convertLine.size());
      if (!helpers.thrown.empty()) {
        expected += "[ERROR] BaseInstruction: 发生长度错误异常: " + helpers.thrown + "\n";
      } else {
        expected += helpers.image.empty() ? notResized : resized;
      }
    }
    EXPECT_EQ(log, expected) << c.widthMm << " x " << c.heightMm << " mm";
    EXPECT_EQ(zpl.preparedImage(), c.reachesResize ? helpers.image : ByteVector{});
  }
}

// The cost follows the label: preparing a 2400 x 1800 source for a 400 x 240
// label allocates nothing larger than the label image itself, neither a
// full-size gray image nor a copy of the source on its way to the base.
TEST(LabelImage, AllocatesNothingLargerThanTheLabel) {
  std::mt19937 rng(17);
  for (uint16_t bpp : {8, 24, 32}) {
    const ByteVector bmp = makeBmp({2400, 1800, bpp, 0, Alpha::Random}, rng);
    TraceCodePrintParams p;
    p.instruction = "ZPL";
    p.width = 50;
    p.height = 30;
    p.bufferInPlace = bmp.data();
    p.bufferInPlaceSize = bmp.size();
    testing::internal::CaptureStdout();
    size_t largest = 0;
    ByteVector prepared;
    {
      testalloc::LargestAllocation watch;
      ZPLInstruction zpl(std::move(p), 203);
      prepared = zpl.preparedImage();
      largest = watch.bytes();
    }
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(prepared.size(), 1078u + 400 * 240) << bpp;
    EXPECT_LE(largest, prepared.size()) << bpp << "-bit source";
  }
}

}  // namespace
