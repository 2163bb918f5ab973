// resizeBMP with small fuzzed target sizes (the first two bytes, signed, so
// zero and negative sizes come up too) over an arbitrary BMP.
#include "common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const int32_t width = static_cast<int8_t>(data[0]);
  const int32_t height = static_cast<int8_t>(data[1]);
  const ByteVector input(data + 2, data + size);
  const ByteVector output = resizeBMP(input, width, height);
  if (output.empty()) return 0;
  FUZZ_REQUIRE(width >= 1 && height >= 1);
  fuzz::requirePrepared(output, width, height);
  // At its own size the result is the plain conversion.
  if (width == fuzz::readI32(input, 18) && height == fuzz::readI32(input, 22)) {
    FUZZ_REQUIRE(output == convertTo8BitBMP(input));
  }
  return 0;
}
