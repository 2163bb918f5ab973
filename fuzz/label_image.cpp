// The one-pass label image against conversion then resizing, which it stands
// in for: the same bytes, the same log lines and the same exception, for any
// input and small fuzzed target sizes (the first two bytes, signed). The input
// ends at an unmapped page, so a gather past its end faults.
#include <stdexcept>
#include <string>
#include <typeinfo>

#include "common.h"
#include "helper/label_image.h"

namespace {

struct Outcome {
  ByteVector image;
  std::string log;
  std::string error;
};

// Runs fn with the add-on's log going to memory; glibc lets stdout be replaced.
template <typename Fn>
Outcome run(Fn&& fn) {
  Outcome outcome;
  char* text = nullptr;
  size_t length = 0;
  FILE* memory = open_memstream(&text, &length);
  FUZZ_REQUIRE(memory != nullptr);
  FILE* saved = stdout;
  stdout = memory;
  try {
    outcome.image = fn();
  } catch (const std::exception& e) {
    outcome.error = std::string(typeid(e).name()) + ": " + e.what();
  }
  stdout = saved;
  std::fclose(memory);
  outcome.log.assign(text, length);
  std::free(text);
  return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const int32_t width = static_cast<int8_t>(data[0]);
  const int32_t height = static_cast<int8_t>(data[1]);
  const fuzz::GuardedCopy input(data + 2, size - 2);
  const ByteVector bytes(data + 2, data + size);

  const Outcome onePass = run([&] {
    LabelImageSource source;
    return source.open(input.data(), size - 2) ? source.resize(width, height) : ByteVector();
  });
  const Outcome twoSteps = run([&] {
    const ByteVector converted = convertTo8BitBMP(bytes);
    return converted.empty() ? ByteVector() : resizeBMP(converted, width, height);
  });
  FUZZ_REQUIRE(onePass.image == twoSteps.image);
  FUZZ_REQUIRE(onePass.log == twoSteps.log);
  FUZZ_REQUIRE(onePass.error == twoSteps.error);
  return 0;
}
