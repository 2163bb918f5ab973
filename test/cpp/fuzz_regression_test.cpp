// Inputs the fuzzers found, kept as tests. A generator handed a prepared image
// that does not match the label must refuse it with an empty stream, neither
// reading past the image nor reserving memory for a raster it cannot fill.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "bmp_builder.h"
#include "instruction/cpcl.h"
#include "instruction/tspl.h"
#include "instruction/zpl.h"
#include "language.h"

namespace {

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
void expectRefusals(LanguageCommand make, const char* language) {
  const ByteVector image = testbmp::build(testbmp::grayImage(8, 8, [](int, int) { return 255; }));
  for (const Mismatch& c : kMismatches) {
    std::string command = "not run";
    ASSERT_NO_THROW(command = generate(make, c.widthMm, c.heightMm, false, c.dpi, image))
        << language << ": " << c.what;
    EXPECT_TRUE(command.empty()) << language << ": " << c.what;
  }
}

TEST(FuzzRegression, LabelSizedRastersRefuseAnImageSmallerThanTheLabel) {
  expectRefusals(tsplCommand, "TSPL");
  expectRefusals(zplCommand, "ZPL");
  expectRefusals(cpclCommand, "CPCL");
}

}  // namespace
