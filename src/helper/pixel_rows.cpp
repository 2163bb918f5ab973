#include "helper/pixel_rows.h"

#include <algorithm>
#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define PIXEL_ROWS_X86 1
#include <immintrin.h>
#endif

namespace pixelrows {
namespace {

void bgrPortable(const uint8_t* src, uint8_t* dst, uint32_t width) {
  for (uint32_t x = 0; x < width; ++x, src += 3) dst[x] = gray(src[2], src[1], src[0]);
}

void bgraPortable(const uint8_t* src, uint8_t* dst, uint32_t width) {
  for (uint32_t x = 0; x < width; ++x, src += 4) {
    dst[x] = src[3] >= 128 ? gray(src[2], src[1], src[0]) : 255;
  }
}

void bgrxPortable(const uint8_t* src, uint8_t* dst, uint32_t width) {
  for (uint32_t x = 0; x < width; ++x, src += 4) dst[x] = gray(src[2], src[1], src[0]);
}

constexpr GrayKernels kPortable{"portable", bgrPortable, bgraPortable, bgrxPortable};

#ifdef PIXEL_ROWS_X86
#define VECTOR_TARGET __attribute__((target("avx2,fma")))

// The kernels do enough arithmetic per byte that the out-of-order window
// covers only a few cache lines; without a prefetch, rows that come from
// memory rather than cache ran at a third of the speed.
constexpr int kPrefetchAhead = 2048;

VECTOR_TARGET inline void prefetch(const uint8_t* p) {
  _mm_prefetch(reinterpret_cast<const char*>(p + kPrefetchAhead), _MM_HINT_T0);
}

// Four pixels at once, channels in 32-bit lanes: the same three roundings as
// gray(), four lanes wide.
VECTOR_TARGET inline __m128i gray4(__m128i r, __m128i g, __m128i b) {
  __m256d t = _mm256_mul_pd(_mm256_cvtepi32_pd(g), _mm256_set1_pd(0.587));
  t = _mm256_fmadd_pd(_mm256_cvtepi32_pd(r), _mm256_set1_pd(0.299), t);
  t = _mm256_fmadd_pd(_mm256_cvtepi32_pd(b), _mm256_set1_pd(0.114), t);
  return _mm256_cvttpd_epi32(t);
}

VECTOR_TARGET inline void store8(uint8_t* dst, __m128i low, __m128i high) {
  __m128i words = _mm_packus_epi32(low, high);
  _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), _mm_packus_epi16(words, words));
}

// Byte i of a pixel group into the low byte of each 32-bit lane.
VECTOR_TARGET inline __m128i lanes(int b0, int b1, int b2, int b3) {
  return _mm_setr_epi8(b0, -1, -1, -1, b1, -1, -1, -1, b2, -1, -1, -1, b3, -1, -1, -1);
}

// Eight pixels per step from two overlapping 16-byte loads (bytes 0-15 and
// 8-23), so no load reaches past the row's last pixel.
VECTOR_TARGET void bgrVector(const uint8_t* src, uint8_t* dst, uint32_t width) {
  const __m128i blue0 = lanes(0, 3, 6, 9), green0 = lanes(1, 4, 7, 10), red0 = lanes(2, 5, 8, 11);
  const __m128i blue1 = lanes(4, 7, 10, 13), green1 = lanes(5, 8, 11, 14),
                red1 = lanes(6, 9, 12, 15);
  uint32_t x = 0;
  for (; x + 8 <= width; x += 8, src += 24) {
    prefetch(src);
    __m128i v0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
    __m128i v1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 8));
    __m128i low = gray4(_mm_shuffle_epi8(v0, red0), _mm_shuffle_epi8(v0, green0),
                        _mm_shuffle_epi8(v0, blue0));
    __m128i high = gray4(_mm_shuffle_epi8(v1, red1), _mm_shuffle_epi8(v1, green1),
                         _mm_shuffle_epi8(v1, blue1));
    store8(dst + x, low, high);
  }
  for (; x < width; ++x, src += 3) dst[x] = gray(src[2], src[1], src[0]);
}

template <bool kAlpha>
VECTOR_TARGET inline __m128i bgra4(const uint8_t* src) {
  const __m128i byte = _mm_set1_epi32(0xFF);
  __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
  __m128i g = gray4(_mm_and_si128(_mm_srli_epi32(v, 16), byte),
                    _mm_and_si128(_mm_srli_epi32(v, 8), byte), _mm_and_si128(v, byte));
  if (kAlpha) {
    // Lanes with alpha below 128 become 255; OR-ing 255 onto a gray level does that.
    __m128i opaque = _mm_cmpgt_epi32(_mm_srli_epi32(v, 24), _mm_set1_epi32(127));
    g = _mm_or_si128(g, _mm_andnot_si128(opaque, byte));
  }
  return g;
}

template <bool kAlpha>
VECTOR_TARGET void bgraVector(const uint8_t* src, uint8_t* dst, uint32_t width) {
  uint32_t x = 0;
  for (; x + 8 <= width; x += 8, src += 32) {
    prefetch(src);
    store8(dst + x, bgra4<kAlpha>(src), bgra4<kAlpha>(src + 16));
  }
  for (; x < width; ++x, src += 4) {
    dst[x] = (!kAlpha || src[3] >= 128) ? gray(src[2], src[1], src[0]) : 255;
  }
}

constexpr GrayKernels kVector{"avx2+fma", bgrVector, bgraVector<true>, bgraVector<false>};

// Sixteen target bytes per block from the 32 source bytes at its base.
VECTOR_TARGET void shuffleBlocks(const uint8_t* src, uint8_t* dst, const uint32_t* base,
                                 const uint8_t* masks, uint32_t blocks) {
  for (uint32_t i = 0; i < blocks; ++i, dst += 16, masks += 32) {
    const uint8_t* s = src + base[i];
    prefetch(s);
    __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
    __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 16));
    __m128i lowMask = _mm_loadu_si128(reinterpret_cast<const __m128i*>(masks));
    __m128i highMask = _mm_loadu_si128(reinterpret_cast<const __m128i*>(masks + 16));
    __m128i out = _mm_or_si128(_mm_shuffle_epi8(low, lowMask), _mm_shuffle_epi8(high, highMask));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), out);
  }
}
#endif

}  // namespace

const GrayKernels& portableKernels() {
  return kPortable;
}

const GrayKernels* vectorKernels() {
#ifdef PIXEL_ROWS_X86
  static const bool supported = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
  return supported ? &kVector : nullptr;
#else
  return nullptr;
#endif
}

const GrayKernels& grayKernels() {
  static const GrayKernels& chosen = vectorKernels() ? *vectorKernels() : portableKernels();
  return chosen;
}

ColumnSampler::ColumnSampler(uint32_t sourceWidth, uint32_t targetWidth, bool allowVector)
    : targetWidth_(targetWidth), identity_(sourceWidth == targetWidth), columns_(targetWidth) {
  // Sources are at most 10000 wide, so a column fits 16 bits and the table
  // of a wide target stays small in cache.
  const double scale = static_cast<double>(sourceWidth) / static_cast<double>(targetWidth);
  for (uint32_t x = 0; x < targetWidth; ++x) {
    const auto column = static_cast<uint32_t>(static_cast<double>(x) * scale);
    columns_[x] = static_cast<uint16_t>(std::min(sourceWidth - 1, column));
  }
#ifdef PIXEL_ROWS_X86
  if (identity_ || !allowVector || vectorKernels() == nullptr) return;
  // Columns never decrease, so the blocks that qualify form a prefix, up to
  // the point where shrinking by more than about 2 or the row end stops them.
  uint32_t blocks = 0;
  for (uint32_t start = 0; start + 16 <= targetWidth; start += 16, ++blocks) {
    const uint32_t base = columns_[start];
    if (columns_[start + 15] - base >= 32 || base + 32 > sourceWidth) break;
  }
  shuffleBlocks_ = blocks;
  blockBase_.resize(blocks);
  blockMasks_.assign(32 * size_t{blocks}, 0x80);  // 0x80: this half gives nothing
  for (uint32_t b = 0; b < blocks; ++b) {
    const uint32_t base = blockBase_[b] = columns_[16 * b];
    for (uint32_t i = 0; i < 16; ++i) {
      const uint32_t offset = columns_[16 * b + i] - base;
      blockMasks_[32 * size_t{b} + (offset / 16) * 16 + i] = static_cast<uint8_t>(offset % 16);
    }
  }
#else
  (void)allowVector;
#endif
}

void ColumnSampler::sampleRow(const uint8_t* src, uint8_t* dst) const {
  if (identity_) {
    std::memcpy(dst, src, targetWidth_);
    return;
  }
  uint32_t x = 0;
#ifdef PIXEL_ROWS_X86
  if (shuffleBlocks_ > 0) {
    shuffleBlocks(src, dst, blockBase_.data(), blockMasks_.data(), shuffleBlocks_);
    x = shuffleBlocks_ * 16;
  }
#endif
  // Locals, since the stores to dst could otherwise alias the members.
  const uint16_t* columns = columns_.data();
  const uint32_t width = targetWidth_;
  for (; x + 16 <= width; x += 16) {
#if defined(__GNUC__) || defined(__clang__)
    __builtin_prefetch(src + columns[x] + 2048);
#endif
    for (uint32_t i = x; i < x + 16; ++i) dst[i] = src[columns[i]];
  }
  for (; x < width; ++x) dst[x] = src[columns[x]];
}

}  // namespace pixelrows
