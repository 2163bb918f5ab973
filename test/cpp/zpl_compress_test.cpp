// ZPL's run-length hex, against expectations written out by hand. The :Z64:
// form is read back, CRC checked, by the decoder and zpl-renderer-js in
// test/js/zpl-compress.test.js.
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
      {{0xA0}, 1, "A,"},                 // trailing zeros fill
      {{0x00, 0x00}, 2, ","},            // an empty row
      {{0xF0, 0xF0, 0x0F}, 1, "F,:0F"},  // a repeated row, not the last one
      {{0xFF, 0xF1}, 2, "IF1"},          // 3 F digits: I = 3
      {{0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x12},
       12,
       "gI12"},                                          // 23 ones: g = 20 plus I = 3
      {{0x0F}, 1, "0F"},                                 // two digits stay digits
      {std::vector<uint8_t>(250, 0x55), 250, "zY5jG5"},  // 500 digits: 400+19, then 80+1
  };
  for (const Case& c : cases) EXPECT_EQ(runs(c.raster, c.rowBytes), c.expected);
}

}  // namespace
