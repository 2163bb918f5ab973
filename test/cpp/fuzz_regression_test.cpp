// Inputs the fuzzers found, kept as tests. A generator handed a prepared image
// that does not match the label must refuse it with an empty stream, neither
// reading past the image nor reserving memory for a raster it cannot fill.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <utility>

#include "instruction/cpcl.h"
#include "instruction/tspl.h"
#include "instruction/zpl.h"

namespace {

// An 8-bit prepared image of width x height, all white.
ByteVector prepared(uint32_t width, uint32_t height) {
  const uint32_t stride = (width + 3) & ~3u;
  ByteVector image(1078 + stride * height, 255);
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) image[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  image[0] = 'B';
  image[1] = 'M';
  put32(2, static_cast<uint32_t>(image.size()));
  put32(10, 1078);
  put32(14, 40);
  put32(18, width);
  put32(22, height);
  image[26] = 1;
  image[28] = 8;
  return image;
}

template <typename Language>
class WithImage : public Language {
 public:
  WithImage(int32_t widthMm, int32_t heightMm, int32_t dpi, ByteVector image)
      : Language(request(widthMm, heightMm), dpi) {
    this->bmpData = std::move(image);
  }

 private:
  static TraceCodePrintParams request(int32_t widthMm, int32_t heightMm) {
    TraceCodePrintParams params;
    params.device = "none";
    params.width = widthMm;
    params.height = heightMm;
    return params;
  }
};

struct Mismatch {
  const char* what;
  int32_t widthMm;
  int32_t heightMm;
  int32_t dpi;
};

// Found by fuzz_gen_tspl: dot counts that wrap to 2^30 x (2^31 - 8) made the
// stream reserve 2^57 bytes before the image was looked at.
const Mismatch kMismatches[] = {
    {"wrapped dot counts", -268435456, 178956970, 300},
    {"huge label, tiny image", std::numeric_limits<int32_t>::max() / 8, 1000, 203},
    {"one row more than the image", 1, 2, 203},
};

// The languages that size their raster by the label, not by the image.
template <typename Language>
void expectRefusals(const char* language) {
  for (const Mismatch& c : kMismatches) {
    WithImage<Language> instruction(c.widthMm, c.heightMm, c.dpi, prepared(8, 8));
    ByteVector command;
    ASSERT_NO_THROW(command = instruction.generateCommand()) << language << ": " << c.what;
    EXPECT_TRUE(command.empty()) << language << ": " << c.what;
  }
}

TEST(FuzzRegression, LabelSizedRastersRefuseAnImageSmallerThanTheLabel) {
  expectRefusals<TSPLInstruction>("TSPL");
  expectRefusals<ZPLInstruction>("ZPL");
  expectRefusals<CPCLInstruction>("CPCL");
}

}  // namespace
