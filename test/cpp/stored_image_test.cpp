// PPLA and DPL: the label records around the downloaded image, byte for byte.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>

#include "instruction/dpl.h"
#include "instruction/ppla.h"

namespace {

template <typename Language>
class Loaded : public Language {
 public:
  Loaded(int32_t heightMm, bool cutter, ByteVector image)
      : Language(request(heightMm, cutter), 203) {
    this->bmpData = std::move(image);
  }

 private:
  static TraceCodePrintParams request(int32_t heightMm, bool cutter) {
    TraceCodePrintParams p;
    p.device = "lab";
    p.withCutter = cutter;
    p.width = 7;
    p.height = heightMm;
    return p;
  }
};

// The generators copy the image whatever it holds; line-end and STX bytes in
// it must survive, and must not be taken for line ends when comparing.
const std::string kImage = std::string("BM\x02\r\n\r\x0A", 7) + std::string(1078, '\x7F') + "\r\n";

std::string text(const ByteVector& v) {
  return std::string(v.begin(), v.end());
}

template <typename Language>
std::string stream(int32_t heightMm, bool cutter) {
  return text(Loaded<Language>(heightMm, cutter, ByteVector(kImage.begin(), kImage.end()))
                  .generateCommand());
}

std::string replaceAll(std::string s, const std::string& from, const std::string& to) {
  for (size_t at = 0; (at = s.find(from, at)) != std::string::npos; at += to.size()) {
    s.replace(at, from.size(), to);
  }
  return s;
}

size_t count(const std::string& s, const std::string& what) {
  size_t n = 0;
  for (size_t at = 0; (at = s.find(what, at)) != std::string::npos; at += what.size()) ++n;
  return n;
}

const std::string S = "\x02";  // STX, kept apart: "\x02c" would be one hex escape

bool startsWith(const std::string& s, const std::string& prefix) {
  return s.compare(0, prefix.size(), prefix) == 0;
}

TEST(StoredImage, PplaStreams) {
  const std::string head30 = S + "m\r\n" + S + "M0300\r\n" + S + "c0300\r\n" + S + "O0000\r\n";
  const std::string download = S + "MTT\r\n" + S + "qA\r\n" + S + "IABqrv1\r\n" + kImage + "\r\n";
  const std::string format =
      S + "L\r\nC0000\r\nm\r\nH15\r\nD11\r\n1Y11000" + "0000" + "0000" + "qrv1\r\n";

  EXPECT_EQ(stream<PPLAInstruction>(30, false), head30 + download + format + "E\r\n" + S + "F\r\n");
  EXPECT_EQ(stream<PPLAInstruction>(30, true),
            head30 + S + "V1\r\n" + download + format + ":0001\r\nE\r\n");
  // Four digits at least, never cut.
  EXPECT_TRUE(startsWith(stream<PPLAInstruction>(1000, false),
                         S + "m\r\n" + S + "M10000\r\n" + S + "c10000\r\n" + S + "O0000\r\n"));
  EXPECT_TRUE(startsWith(stream<PPLAInstruction>(1, false),
                         S + "m\r\n" + S + "M0010\r\n" + S + "c0010\r\n" + S + "O0000\r\n"));
}

// DPL is the PPLA stream with every line end's LF dropped; the image stays whole.
TEST(StoredImage, DplIsPplaWithBareCr) {
  for (bool cutter : {false, true}) {
    SCOPED_TRACE(cutter ? "with cutter" : "without cutter");
    const std::string ppla = stream<PPLAInstruction>(30, cutter);
    const std::string dpl = stream<DPLInstruction>(30, cutter);
    const size_t at = ppla.find(kImage);
    ASSERT_NE(at, std::string::npos);
    const std::string expected = replaceAll(ppla.substr(0, at), "\r\n", "\r") + kImage +
                                 replaceAll(ppla.substr(at + kImage.size()), "\r\n", "\r");
    EXPECT_EQ(dpl, expected);
    EXPECT_EQ(ppla.size() - dpl.size(), cutter ? 17u : 16u);
    for (const std::string& s : {ppla, dpl}) EXPECT_EQ(count(s, "qrv1"), 2u);
  }
}

TEST(StoredImage, TenthsOfAMillimetre) {
  const std::pair<int32_t, int32_t> cases[] = {{0, 0},        {1, 10},   {30, 300},
                                               {1000, 10000}, {-3, -29}, {2147483647, 2147483647}};
  for (const auto& [mm, tenths] : cases) {
    EXPECT_EQ(PPLAInstruction::mmToTenths(mm), tenths) << mm;
    EXPECT_EQ(DPLInstruction::mmToTenths(mm), tenths) << mm;
  }
}

}  // namespace
