// The PNG decoder over arbitrary bytes: never reads past the input, answers
// either a reason or a prepared-layout gray image of the header's size, which
// the print path's reader then takes as it is. The label streamed from the
// PNG's rows is the label made from that whole gray image, and a PNG refused
// whole is refused streamed, with the same reason.
#include <string>

#include "common.h"
#include "helper/label_image.h"
#include "helper/png_gray.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string reason;
  const ByteVector gray = pnggray::decode(data, size, reason);
  // A label size that shrinks, keeps or enlarges, taken from the input's length.
  const int32_t w = 1 + static_cast<int32_t>(size % 61),
                h = 1 + static_cast<int32_t>(size / 61 % 43);
  LabelImageSource streamed;
  const ByteVector label = streamed.openPng(data, size) ? streamed.resize(w, h) : ByteVector{};
  if (gray.empty()) {
    FUZZ_REQUIRE(reason.rfind("unreadable image: ", 0) == 0);
    FUZZ_REQUIRE(label.empty() && streamed.reason() == reason);
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
  LabelImageSource whole;
  FUZZ_REQUIRE(whole.open(gray));
  FUZZ_REQUIRE(label == whole.resize(w, h));
  return 0;
}
