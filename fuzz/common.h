#pragma once
// Shared by the harnesses: the add-on logs every step to standard output,
// which would slow the fuzzer down to the speed of the terminal.

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "helper/bmp.h"
#include "helper/bmp_fields.h"

#define FUZZ_REQUIRE(cond)                                                             \
  do {                                                                                 \
    if (!(cond)) {                                                                     \
      std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                                    \
    }                                                                                  \
  } while (0)

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (std::getenv("FUZZ_SHOW_LOG") == nullptr &&
      std::freopen("/dev/null", "w", stdout) == nullptr) {
    std::abort();
  }
  return 0;
}

namespace fuzz {

using bmpfield::readI32;
using bmpfield::readU32;

// The fixed layout of every prepared image: headers, gray ramp, zero padding.
inline void requirePrepared(const ByteVector& image, int32_t width, int32_t height) {
  const uint64_t stride = preparedStride(static_cast<uint32_t>(width));
  FUZZ_REQUIRE(image.size() == 1078 + stride * static_cast<uint64_t>(height));
  FUZZ_REQUIRE(image[0] == 'B' && image[1] == 'M');
  FUZZ_REQUIRE(readU32(image, 2) == image.size());
  FUZZ_REQUIRE(readU32(image, 10) == 1078);
  FUZZ_REQUIRE(readI32(image, 18) == width && readI32(image, 22) == height);
  FUZZ_REQUIRE(image[28] == 8 && readU32(image, 34) == stride * static_cast<uint64_t>(height));
  for (int i = 0; i < 256; ++i) {
    FUZZ_REQUIRE(image[54 + 4 * i] == i && image[55 + 4 * i] == i && image[56 + 4 * i] == i &&
                 image[57 + 4 * i] == 0);
  }
  for (int32_t y = 0; y < height; ++y) {
    for (uint64_t x = static_cast<uint64_t>(width); x < stride; ++x) {
      FUZZ_REQUIRE(image[1078 + y * stride + x] == 0);
    }
  }
}

// A copy of the input that ends right before an unmapped page. ASan does not
// see reads by hardware gathers; a read past this copy's end faults instead.
class GuardedCopy {
 public:
  GuardedCopy(const uint8_t* data, size_t size) {
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    span_ = (size + page - 1) / page * page + page;
    void* base = mmap(nullptr, span_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    FUZZ_REQUIRE(base != MAP_FAILED);
    base_ = static_cast<uint8_t*>(base);
    FUZZ_REQUIRE(mprotect(base_ + span_ - page, page, PROT_NONE) == 0);
    data_ = base_ + span_ - page - size;
    if (size > 0) std::memcpy(data_, data, size);
  }
  ~GuardedCopy() { munmap(base_, span_); }
  GuardedCopy(const GuardedCopy&) = delete;
  GuardedCopy& operator=(const GuardedCopy&) = delete;
  const uint8_t* data() const { return data_; }

 private:
  uint8_t* base_ = nullptr;
  uint8_t* data_ = nullptr;
  size_t span_ = 0;
};

}  // namespace fuzz
