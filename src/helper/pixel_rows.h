#pragma once
// The per-row loops behind convertTo8BitBMP and resizeBMP. Each comes in a
// portable form (the oracle), a portable block form that compilers vectorise
// (the choice on arm64 and older x86-64) and, on x86-64 CPUs with AVX2 and
// FMA, a hand-written vector form chosen once at run time; all produce the
// same bytes.

#include <cmath>
#include <cstdint>
#include <vector>

namespace pixelrows {

// The gray level of one pixel. The order of the operations and the single
// rounding of each fused step are part of the result: an unfused sum gives
// other values for some colours, e.g. (11, 11, 11) and (21, 21, 21).
inline uint8_t gray(uint32_t r, uint32_t g, uint32_t b) {
  double t = static_cast<double>(g) * 0.587;
  t = std::fma(static_cast<double>(r), 0.299, t);
  t = std::fma(static_cast<double>(b), 0.114, t);
  return static_cast<uint8_t>(t);
}

// Turns `width` packed source pixels into `width` gray bytes.
using RowFn = void (*)(const uint8_t* src, uint8_t* dst, uint32_t width);

struct GrayKernels {
  const char* name;
  RowFn bgr;   // 24 bits: B, G, R
  RowFn bgra;  // 32 bits: B, G, R, A; alpha below 128 is white
  RowFn bgrx;  // 32 bits with the alpha byte ignored
};

const GrayKernels& portableKernels();
// Integer blocks with an exact fallback; plain C++ that auto-vectorises.
const GrayKernels& blockKernels();
// Null unless this is an x86-64 build running on a CPU with AVX2 and FMA.
const GrayKernels* vectorKernels();
// The vector kernels where available, else the block ones.
const GrayKernels& grayKernels();

// Gray levels of pixels read as 4-byte B, G, R, X (or A) words at
// src + offsets[i]: writes dst[i] for the first i < n in whole vector blocks
// and returns how many; the caller does the rest.
// `next`, unless null, is the row to be read after this one, fetched ahead.
using GatherGrayFn = uint32_t (*)(const uint8_t* src, const uint8_t* next, const uint32_t* offsets,
                                  uint8_t* dst, uint32_t n);
// Null unless vectorKernels() is there; alpha below 128 is white with `alpha`.
GatherGrayFn gatherGrayKernel(bool alpha);

// Nearest-neighbour sampling of one row: target column x takes source column
// min(sourceWidth - 1, trunc(x * scale)), scale = sourceWidth / targetWidth in
// double precision. Built once per resize and applied to every row.
class ColumnSampler {
 public:
  ColumnSampler(uint32_t sourceWidth, uint32_t targetWidth, bool allowVector = true);

  // Reads at most sourceWidth bytes from src and writes targetWidth bytes to dst.
  void sampleRow(const uint8_t* src, uint8_t* dst) const;

  uint32_t sourceColumn(uint32_t x) const { return columns_[x]; }

 private:
  uint32_t targetWidth_;
  bool identity_;
  std::vector<uint16_t> columns_;
  // Leading 16-column blocks whose sources lie within 32 bytes, served by two
  // byte shuffles: their first source column, then two 16-byte masks each.
  uint32_t shuffleBlocks_ = 0;
  std::vector<uint32_t> blockBase_;
  std::vector<uint8_t> blockMasks_;
};

}  // namespace pixelrows
