// ZPL's compressed graphic forms, against expectations written out by hand.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
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

TEST(ZplZ64, InflatesToTheRasterAndCarriesTheCrc) {
  EXPECT_EQ(zpl::crc16("123456789", 9), 0x31C3);  // the CRC-16/XMODEM check value
  std::vector<uint8_t> raster(3000);
  for (size_t i = 0; i < raster.size(); ++i)
    raster[i] = static_cast<uint8_t>(i % 7 == 0 ? 0xFF : i);
  const std::string field = zpl::z64(raster.data(), raster.size());
  ASSERT_EQ(field.rfind(":Z64:", 0), 0u);
  const size_t colon = field.rfind(':');
  ASSERT_EQ(field.size() - colon, 5u);
  const std::string text = field.substr(5, colon - 5);
  char crc[5];
  snprintf(crc, sizeof crc, "%04X", zpl::crc16(text.data(), text.size()));
  EXPECT_EQ(field.substr(colon + 1), crc);

  // base64 by hand, then inflate.
  const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::vector<uint8_t> packed;
  uint32_t bits = 0;
  int count = 0;
  for (char ch : text) {
    if (ch == '=') break;
    bits = (bits << 6) | static_cast<uint32_t>(alphabet.find(ch));
    count += 6;
    if (count >= 8) {
      count -= 8;
      packed.push_back(static_cast<uint8_t>(bits >> count));
    }
  }
  std::vector<uint8_t> back(raster.size() + 1);
  uLongf size = back.size();
  ASSERT_EQ(uncompress(back.data(), &size, packed.data(), packed.size()), Z_OK);
  back.resize(size);
  EXPECT_EQ(back, raster);
}

}  // namespace
