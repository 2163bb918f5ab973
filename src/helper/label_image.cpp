#include "helper/label_image.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>
#include <stdexcept>

#include "helper/log.h"
#include "helper/pixel_rows.h"

#if defined(__linux__)
#include <sys/mman.h>
#endif
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#endif

namespace {

constexpr size_t kHeaderBytes = 54;
constexpr int32_t kMaxSide = 10000;
constexpr size_t kResolutionOffset = 38;
// Pixels gathered per kernel call: small enough to stay in L1.
constexpr uint32_t kChunk = 256;

uint32_t readU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void writeU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// Room for n bytes in one allocation; a large one asks Linux for huge pages,
// since faulting in a 64 MB label 4 KB at a time costs more than filling it.
void reserveHugePages(ByteVector& buffer, size_t n) {
  buffer.reserve(n);
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  constexpr uintptr_t kHugePage = uintptr_t{1} << 21;
  if (n < 4 * kHugePage) return;
  const auto start = reinterpret_cast<uintptr_t>(buffer.data());
  const uintptr_t first = (start + kHugePage - 1) & ~(kHugePage - 1);
  const uintptr_t last = (start + n) & ~(kHugePage - 1);
  // Only advice: where transparent huge pages are off this changes nothing.
  if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#endif
}

// Headers and gray ramp of a width x height prepared image, with room for
// its rows, which are appended one by one: zeroing a row just before it is
// written saves a pass over the whole image.
ByteVector newPreparedImage(uint32_t width, uint32_t height, const uint8_t* resolution) {
  const uint32_t imageSize = preparedStride(width) * height;
  ByteVector out;
  reserveHugePages(out, size_t{kPreparedPixelOffset} + imageSize);
  out.resize(kPreparedPixelOffset);
  uint8_t* p = out.data();
  p[0] = 'B';
  p[1] = 'M';
  writeU32(p + 2, kPreparedPixelOffset + imageSize);
  writeU32(p + 10, kPreparedPixelOffset);
  writeU32(p + 14, 40);
  writeU32(p + 18, width);
  writeU32(p + 22, height);
  p[26] = 1;
  p[28] = 8;
  writeU32(p + 34, imageSize);
  std::memcpy(p + kResolutionOffset, resolution, 8);
  writeU32(p + 46, 256);
  writeU32(p + 50, 256);
  for (uint32_t i = 0; i < 256; ++i) std::memset(p + kHeaderBytes + 4 * i, static_cast<int>(i), 3);
  return out;
}

// Only the first non-zero alpha byte matters, so this usually stops early;
// an image whose alpha is all zero is read once in full.
bool anyAlpha(const uint8_t* rows, uint32_t width, uint32_t height, uint32_t stride) {
  for (uint32_t y = 0; y < height; ++y) {
    const uint8_t* row = rows + size_t{y} * stride;
    uint32_t x = 0;
    // Blocks of 64 pixels without a branch per pixel, so the loop vectorises.
    for (; x + 64 <= width; x += 64) {
      uint8_t seen = 0;
      for (uint32_t i = 0; i < 64; ++i) seen |= row[4 * (x + i) + 3];
      if (seen != 0) return true;
    }
    for (; x < width; ++x) {
      if (row[4 * x + 3] != 0) return true;
    }
  }
  return false;
}

// Copies the 4 bytes at src + offsets[i] to words[i] for i < n.
void gatherPortable(const uint8_t* src, const uint32_t* offsets, uint8_t* words, uint32_t n) {
  for (uint32_t i = 0; i < n; ++i) std::memcpy(words + 4 * i, src + offsets[i], 4);
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
// Eight pixels per hardware gather.
__attribute__((target("avx2"))) void gatherAvx2(const uint8_t* src, const uint32_t* offsets,
                                                uint8_t* words, uint32_t n) {
  uint32_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m256i at = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(offsets + i));
    const __m256i v = _mm256_i32gather_epi32(reinterpret_cast<const int*>(src), at, 1);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(words + 4 * i), v);
  }
  gatherPortable(src, offsets + i, words + 4 * i, n - i);
}
#endif

using GatherFn = void (*)(const uint8_t*, const uint32_t*, uint8_t*, uint32_t);

GatherFn chooseGather() {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
  if (__builtin_cpu_supports("avx2")) return gatherAvx2;
#endif
  return gatherPortable;
}

// Where each target column's pixel starts in a source row. Every sampled
// pixel is read as a 4-byte word; a 24-bit pixel borrows the next pixel's
// blue, which the gray kernel ignores, except at the row's last pixel, which
// may end the input: columns from `wordSafe` on take 3 bytes.
struct ColumnOffsets {
  std::vector<uint32_t> at;
  uint32_t wordSafe;

  ColumnOffsets(const pixelrows::ColumnSampler& columns, uint32_t sourceWidth, uint32_t targetWidth,
                uint32_t bytesPerPixel)
      : at(targetWidth), wordSafe(targetWidth) {
    for (uint32_t x = 0; x < targetWidth; ++x) at[x] = columns.sourceColumn(x) * bytesPerPixel;
    if (bytesPerPixel == 4) return;
    // Columns never decrease, so the last pixel's columns form the tail.
    while (wordSafe > 0 && columns.sourceColumn(wordSafe - 1) == sourceWidth - 1) --wordSafe;
  }
};

// One target row of a 24- or 32-bit source: the sampled pixels are gathered
// as B, G, R, X words and handed to the shared gray kernel, chunk by chunk.
void grayRow(const uint8_t* src, const ColumnOffsets& offsets, GatherFn gather,
             pixelrows::RowFn kernel, uint8_t* dst, uint32_t targetWidth) {
  alignas(32) uint8_t words[kChunk * 4];
  for (uint32_t x0 = 0; x0 < targetWidth; x0 += kChunk) {
    const uint32_t n = std::min(kChunk, targetWidth - x0);
    const uint32_t whole = std::min(n, offsets.wordSafe > x0 ? offsets.wordSafe - x0 : 0);
    gather(src, offsets.at.data() + x0, words, whole);
    for (uint32_t i = whole; i < n; ++i) {
      std::memcpy(words + 4 * i, src + offsets.at[x0 + i], 3);
      words[4 * i + 3] = 0;
    }
    kernel(words, dst + x0, n);
  }
}

}  // namespace

bool LabelImageSource::open(const uint8_t* bmp, size_t size) {
  if (size < kHeaderBytes) {
    tracelog::line("[DEBUG] BMP数据不完整或无效\n");
    return false;
  }
  if (bmp[0] != 'B' || bmp[1] != 'M') {
    tracelog::line("[DEBUG] 输入数据不是有效的BMP文件\n");
    return false;
  }
  const auto width = static_cast<int32_t>(readU32(&bmp[18]));
  const auto height = static_cast<int32_t>(readU32(&bmp[22]));
  if (width < 1 || width > kMaxSide || height < 1 || height > kMaxSide) {
    tracelog::line("[DEBUG] BMP图像尺寸不合理: %d x %d\n", width, height);
    return false;
  }
  const uint32_t offset = readU32(&bmp[10]);
  if (offset >= size) {
    tracelog::line("[DEBUG] BMP文件头偏移量无效\n");
    return false;
  }
  const uint32_t bitsPerPixel = static_cast<uint32_t>(bmp[28] | bmp[29] << 8);
  if (bitsPerPixel != 8 && bitsPerPixel != 24 && bitsPerPixel != 32) {
    tracelog::line("[DEBUG] 不支持的BMP位深度: %d，无法转换为8位BMP\n",
                   static_cast<int>(bitsPerPixel));
    return false;
  }
  // Every row that a resize might sample must lie inside the input.
  const uint32_t stride = (static_cast<uint32_t>(width) * bitsPerPixel + 31) / 32 * 4;
  const uint64_t end = uint64_t{offset} + uint64_t{stride} * uint64_t(height - 1) +
                       uint64_t(width) * (bitsPerPixel / 8);
  if (end > size) {
    tracelog::line("[DEBUG] BMP数据不完整或无效\n");
    return false;
  }
  bytes_ = bmp;
  rows_ = bmp + offset;
  width_ = static_cast<uint32_t>(width);
  height_ = static_cast<uint32_t>(height);
  bitsPerPixel_ = bitsPerPixel;
  stride_ = stride;
  alpha_ = bitsPerPixel == 32 && anyAlpha(rows_, width_, height_, stride_);
  tracelog::line("[DEBUG] 成功将%d位BMP转换为8位灰度BMP\n", static_cast<int>(bitsPerPixel));
  return true;
}

ByteVector LabelImageSource::resize(int32_t width, int32_t height) const {
  if (width < 1 || height < 1) {
    tracelog::line("[DEBUG] 无效的目标尺寸: %d x %d\n", width, height);
    return {};
  }
  // resizeBMP converts its (already 8-bit) input once more and says so.
  tracelog::line("[DEBUG] 成功将%d位BMP转换为8位灰度BMP\n", 8);

  const auto targetWidth = static_cast<uint32_t>(width);
  const auto targetHeight = static_cast<uint32_t>(height);
  const uint64_t targetStride = (uint64_t{targetWidth} + 3) & ~uint64_t{3};
  if (kPreparedPixelOffset + targetStride * targetHeight >
      static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) {
    throw std::length_error("vector");
  }
  ByteVector out = newPreparedImage(targetWidth, targetHeight, bytes_ + kResolutionOffset);

  // Only 8-bit rows are sampled by the sampler itself; the others use its columns.
  const pixelrows::ColumnSampler columns(width_, targetWidth, bitsPerPixel_ == 8);
  const pixelrows::GrayKernels& kernels = pixelrows::grayKernels();
  const pixelrows::RowFn kernel = alpha_ ? kernels.bgra : kernels.bgrx;
  const uint32_t bytesPerPixel = bitsPerPixel_ / 8;
  std::optional<ColumnOffsets> offsets;
  if (bytesPerPixel > 1) offsets.emplace(columns, width_, targetWidth, bytesPerPixel);
  static const GatherFn gather = chooseGather();
  const double scaleY = static_cast<double>(height_) / static_cast<double>(targetHeight);
  uint32_t previous = height_;  // no row yet
  for (uint32_t y = 0; y < targetHeight; ++y) {
    const size_t at = out.size();
    out.resize(at + targetStride);
    uint8_t* dst = out.data() + at;
    const auto t = static_cast<uint32_t>(static_cast<double>(y) * scaleY);
    const uint32_t sy = std::min(height_ - 1, t);
    if (sy == previous) {  // enlarging repeats rows
      std::memcpy(dst, dst - targetStride, targetWidth);
      continue;
    }
    const uint8_t* src = rows_ + size_t{sy} * stride_;
    if (bytesPerPixel == 1) {
      columns.sampleRow(src, dst);
    } else {
      grayRow(src, *offsets, gather, kernel, dst, targetWidth);
    }
    previous = sy;
  }
  tracelog::line("[DEBUG] 成功将BMP图像从%d x %d调整为%d x %d\n", static_cast<int>(width_),
                 static_cast<int>(height_), width, height);
  return out;
}
