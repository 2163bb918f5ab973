// The PNG decoder over arbitrary bytes: never reads past the input, answers
// either a reason or a prepared-layout gray image of the header's size, which
// the print path's reader then takes as it is.
#include <string>

#include "common.h"
#include "helper/png_gray.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string reason;
  const ByteVector gray = pnggray::decode(data, size, reason);
  if (gray.empty()) {
    FUZZ_REQUIRE(reason.rfind("unreadable image: ", 0) == 0);
    return 0;
  }
  FUZZ_REQUIRE(reason.empty());
  // The header's width and height, big-endian at bytes 16 and 20.
  auto be32 = [&](size_t at) {
    return int32_t(uint32_t{data[at]} << 24 | uint32_t{data[at + 1]} << 16 |
                   uint32_t{data[at + 2]} << 8 | data[at + 3]);
  };
  fuzz::requirePrepared(gray, be32(16), be32(20));
  FUZZ_REQUIRE(convertTo8BitBMP(gray) == gray);
  return 0;
}
