// convertTo8BitBMP over arbitrary bytes: never reads past the input, and what
// it accepts comes out in the prepared layout and converts again unchanged.
#include "common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const ByteVector input(data, data + size);
  const ByteVector output = convertTo8BitBMP(input);
  if (output.empty()) return 0;
  fuzz::requirePrepared(output, fuzz::readI32(input, 18), fuzz::readI32(input, 22));
  FUZZ_REQUIRE(convertTo8BitBMP(output) == output);
  return 0;
}
