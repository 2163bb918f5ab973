// One language's stream: row LANGUAGE_INDEX of the language table, built once
// per language.
// First byte: bit 0 picks the mode, bit 1 the cutter, bit 2 300 dpi (else 203),
// bit 3 extreme label sizes. Bytes 1 and 2 choose the width and height in mm.
//  - pipeline: the rest is a BMP, read in place up to an unmapped page, that
//    goes through makeInstruction (conversion and resizing); a prepared image
//    must give a non-empty stream.
//  - injected: the rest is handed to the language function as the prepared
//    image, whatever the label size, so headers, offsets and sizes disagree;
//    it may refuse, but must not read past the image.
// Either way a second call gives the same bytes.
#include <limits>
#include <memory>
#include <utility>

#include "common.h"
#include "instruction/base.h"
#include "printer/trace_code.h"

namespace {

// Sizes whose dot counts wrap or approach the 32-bit limits.
constexpr int32_t kExtremeMm[] = {
    std::numeric_limits<int32_t>::min(), -268435456, -1, 0, 1, 178956970, 268435455, 268435456,
    std::numeric_limits<int32_t>::max()};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const uint8_t flags = data[0];
  const bool pipeline = flags & 1;
  const int32_t dpi = (flags & 4) ? 300 : 203;

  FUZZ_REQUIRE(LANGUAGE_INDEX < languages().size());
  const LanguageEntry& language = languages().begin()[LANGUAGE_INDEX];
  TraceCodePrintParams params;
  params.device = "fuzz";
  params.instruction = language.name;
  params.withCutter = flags & 2;
  ByteVector image(data + 3, data + size);

  if (pipeline) {
    // Small labels: the resize allocates the whole label.
    params.width = data[1] % 32 - 4;
    params.height = data[2] % 32 - 4;
    // Read in place, as printTraceCode reads a JavaScript Buffer.
    const fuzz::GuardedCopy input(image.data(), image.size());
    params.image = {input.data(), image.size()};
    std::unique_ptr<BaseInstruction> instruction = makeInstruction(std::move(params), dpi);
    FUZZ_REQUIRE(instruction != nullptr);
    if (instruction->preparedImage().empty()) return 0;
    const ByteVector first = instruction->generateCommand();
    FUZZ_REQUIRE(!first.empty());
    FUZZ_REQUIRE(instruction->generateCommand() == first);
    return 0;
  }

  constexpr size_t kExtremes = sizeof kExtremeMm / sizeof kExtremeMm[0];
  if (flags & 8) {
    params.width = kExtremeMm[data[1] % kExtremes];
    params.height = kExtremeMm[data[2] % kExtremes];
  } else {
    params.width = static_cast<int8_t>(data[1]);
    params.height = static_cast<int8_t>(data[2]);
  }
  const ByteVector first = language.stream(params, dpi, image);
  FUZZ_REQUIRE(language.stream(params, dpi, image) == first);
  return 0;
}
