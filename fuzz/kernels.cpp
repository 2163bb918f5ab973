// The row kernels behind conversion and resizing, vector against portable and
// both against the plain formula, on rows allocated to their exact length so
// that a read past a row's end is caught. First byte: which kernel; then the
// widths; the rest is pixel data, repeated when short.
#include <cstring>
#include <memory>

#include "common.h"
#include "helper/pixel_rows.h"

namespace {

// A heap row of exactly `size` bytes filled from the fuzzer's bytes.
std::unique_ptr<uint8_t[]> row(const uint8_t* data, size_t size, size_t n) {
  std::unique_ptr<uint8_t[]> out(new uint8_t[n]);
  for (size_t i = 0; i < n; ++i) out[i] = size ? data[i % size] : static_cast<uint8_t>(i);
  return out;
}

void grayRow(const uint8_t* data, size_t size, int which, uint32_t width) {
  const int bytes = which == 0 ? 3 : 4;
  const auto src = row(data, size, size_t{width} * bytes);
  std::unique_ptr<uint8_t[]> expected(new uint8_t[width]);
  for (uint32_t x = 0; x < width; ++x) {
    const uint8_t* p = &src[size_t{x} * bytes];
    expected[x] = which == 1 && p[3] < 128 ? 255 : pixelrows::gray(p[2], p[1], p[0]);
  }
  auto pick = [which](const pixelrows::GrayKernels& k) {
    return which == 0 ? k.bgr : which == 1 ? k.bgra : k.bgrx;
  };
  std::unique_ptr<uint8_t[]> out(new uint8_t[width]);
  for (const pixelrows::GrayKernels* k :
       {&pixelrows::portableKernels(), &pixelrows::blockKernels()}) {
    pick (*k)(src.get(), out.get(), width);
    FUZZ_REQUIRE(std::memcmp(out.get(), expected.get(), width) == 0);
  }
  if (const pixelrows::GrayKernels* vector = pixelrows::vectorKernels()) {
    pick (*vector)(src.get(), out.get(), width);
    FUZZ_REQUIRE(std::memcmp(out.get(), expected.get(), width) == 0);
  }
}

void sampleRow(const uint8_t* data, size_t size, uint32_t sourceWidth, uint32_t targetWidth) {
  const auto src = row(data, size, sourceWidth);
  const double scale = static_cast<double>(sourceWidth) / static_cast<double>(targetWidth);
  std::unique_ptr<uint8_t[]> out(new uint8_t[targetWidth]);
  for (bool vector : {false, true}) {
    pixelrows::ColumnSampler sampler(sourceWidth, targetWidth, vector);
    sampler.sampleRow(src.get(), out.get());
    for (uint32_t x = 0; x < targetWidth; ++x) {
      const auto t = static_cast<uint32_t>(static_cast<double>(x) * scale);
      FUZZ_REQUIRE(out[x] == src[std::min(sourceWidth - 1, t)]);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 5) return 0;
  const int which = data[0] % 4;
  const uint32_t a = data[1] | data[2] << 8;
  const uint32_t b = data[3] | data[4] << 8;
  data += 5;
  size -= 5;
  if (which < 3) {
    grayRow(data, size, which, a % 1200 + 1);
  } else {
    // Sources up to the 10000-pixel limit, targets up to 4096.
    sampleRow(data, size, a % 10000 + 1, b % 4096 + 1);
  }
  return 0;
}
