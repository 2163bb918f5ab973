// ZPL's run-length hex, against expectations written out by hand. Labels that
// use each count, the fill and the repeat, and the :Z64: form, are read back
// by the decoder and zpl-renderer-js in test/js/zpl-compress.test.js.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "instruction/zpl.h"

namespace {

std::string runs(const std::vector<uint8_t>& raster, int32_t rowBytes) {
  return zpl::runLength(raster.data(), raster.size(), rowBytes);
}

TEST(ZplRunLength, CountsFillsAndRepeats) {
  struct Case {
    std::vector<uint8_t> raster;
    int32_t rowBytes;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {{0xAB}, 1, "AB"},
      {{0xF0, 0xF0, 0x0F}, 1, "F,:0F"},  // trailing zeros fill; a repeated row, not the last one
      {{0xFF, 0x0F}, 2, "FF0F"},         // runs of one or two stay digits
      {std::vector<uint8_t>(250, 0x55), 250, "zY5jG5"},  // 500 digits: 400+19, then 80+1
  };
  for (const Case& c : cases) EXPECT_EQ(runs(c.raster, c.rowBytes), c.expected);
}

}  // namespace
