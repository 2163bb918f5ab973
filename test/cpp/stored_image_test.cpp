// PPLA and DPL: the label records around the downloaded image, byte for byte.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>

#include "instruction/dpl.h"
#include "instruction/ppla.h"
#include "language.h"

namespace {

// The generators copy the image whatever it holds; line-end and STX bytes in
// it must survive, and must not be taken for line ends when comparing.
const std::string kImage = std::string("BM\x02\r\n\r\x0A", 7) + std::string(1078, '\x7F') + "\r\n";
const std::string S = "\x02";  // STX, kept apart: "\x02c" would be one hex escape

std::string stream(LanguageCommand command, int32_t heightMm, bool cutter) {
  return generate(command, 7, heightMm, cutter, 203, {kImage.begin(), kImage.end()});
}

std::string head(const std::string& length) {
  return S + "m\r\n" + S + "M" + length + "\r\n" + S + "c" + length + "\r\n" + S + "O0000\r\n";
}

// DPL's records are PPLA's with every line end's LF dropped.
std::string bareCr(std::string s) {
  for (size_t at = 0; (at = s.find("\r\n", at)) != std::string::npos;) s.erase(at + 1, 1);
  return s;
}

// The records before and after the image, which stays whole in DPL too;
// heights in tenths of a millimetre, four digits at least, saturating.
TEST(StoredImage, PplaAndDplStreams) {
  const std::string download = S + "MTT\r\n" + S + "qA\r\n" + S + "IABqrv1\r\n";
  const std::string format =
      "\r\n" + S + "L\r\nC0000\r\nm\r\nH15\r\nD11\r\n1Y1100000000000qrv1\r\n";
  const std::pair<std::string, std::string> records[] = {
      {head("0300") + download, format + "E\r\n" + S + "F\r\n"},
      {head("0300") + S + "V1\r\n" + download, format + ":0001\r\nE\r\n"}};
  for (bool cutter : {false, true}) {
    const auto& [before, after] = records[cutter];
    EXPECT_EQ(stream(pplaCommand, 30, cutter), before + kImage + after) << cutter;
    EXPECT_EQ(stream(dplCommand, 30, cutter), bareCr(before) + kImage + bareCr(after)) << cutter;
  }
  const struct {
    int32_t mm, tenths;
    std::string text;
  } heights[] = {{0, 0, "0000"},
                 {1, 10, "0010"},
                 {1000, 10000, "10000"},
                 {-3, -29, "0-29"},
                 {INT32_MAX, INT32_MAX, "2147483647"}};
  for (const auto& h : heights) {
    const std::string ppla = head(h.text), dpl = bareCr(ppla);
    EXPECT_EQ(stream(pplaCommand, h.mm, false).substr(0, ppla.size()), ppla);
    EXPECT_EQ(stream(dplCommand, h.mm, false).substr(0, dpl.size()), dpl);
    EXPECT_EQ(PPLAInstruction::mmToTenths(h.mm), h.tenths) << h.mm;
    EXPECT_EQ(DPLInstruction::mmToTenths(h.mm), h.tenths) << h.mm;
  }
}

// Whole inches, truncated toward zero: 25 mm is not yet one.
TEST(StoredImage, MmToInchTruncates) {
  const std::pair<int32_t, int32_t> cases[] = {{25, 0}, {26, 1}, {50, 1}, {127, 5}, {-30, -1}};
  for (auto [mm, inches] : cases) {
    EXPECT_EQ(BaseInstruction::mmToInch(mm), inches) << mm;
  }
}

}  // namespace
