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

// gray() is floor(s / 1000) for s = 299 R + 587 G + 114 B, except that the
// fused rounding can fall just below an integer when s is a multiple of
// 1000. A block's levels are integer arithmetic without branches, which the
// compiler turns into vector code for the target (NEON on arm64, SSE2 on any
// x86-64): s < 2^18, so s / 8 times ceil(2^22 / 125) fits 32 bits and the
// shift divides by 125 exactly. A block holding such a multiple is done
// again pixel by pixel with gray().
constexpr uint32_t kBlock = 64;

template <int kBytes, bool kAlpha>
void grayBlocks(const uint8_t* __restrict src, uint8_t* __restrict dst, uint32_t width) {
  for (uint32_t x0 = 0; x0 < width; x0 += kBlock) {
    const uint32_t n = std::min(kBlock, width - x0);
    const uint8_t* __restrict in = src + size_t{x0} * kBytes;
    uint8_t* __restrict out = dst + x0;
    uint32_t multiples = 0;
    for (uint32_t i = 0; i < n; ++i) {
      const uint8_t* p = in + i * kBytes;
      const uint32_t sum = 299u * p[2] + 587u * p[1] + 114u * p[0];
      const uint32_t eighth = sum >> 3;
      const uint32_t level = (eighth * 33555u) >> 22;
      multiples |= static_cast<uint32_t>((sum & 7) == 0 && level * 125 == eighth);
      // Levels are at most 255, so OR-ing 255 makes a transparent pixel white.
      const uint32_t white = kAlpha && p[3] < 128 ? 255u : 0u;
      out[i] = static_cast<uint8_t>(level | white);
    }
    if (multiples == 0) continue;
    for (uint32_t i = 0; i < n; ++i) {
      const uint8_t* p = in + i * kBytes;
      out[i] = kAlpha && p[3] < 128 ? 255 : gray(p[2], p[1], p[0]);
    }
  }
}

constexpr GrayKernels kBlocks{"blocks", grayBlocks<3, false>, grayBlocks<4, true>,
                              grayBlocks<4, false>};

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

// 299 R + 587 G + 114 B of eight B, G, R, X words, one per 32-bit lane.
VECTOR_TARGET inline __m256i weightedSum8(__m256i words) {
  const __m256i blueRed = _mm256_and_si256(words, _mm256_set1_epi32(0x00FF00FF));
  const __m256i greenX = _mm256_srli_epi16(words, 8);
  return _mm256_add_epi32(_mm256_madd_epi16(blueRed, _mm256_set1_epi32(299 << 16 | 114)),
                          _mm256_madd_epi16(greenX, _mm256_set1_epi32(587)));
}

// The 32-bit lanes of a then b as sixteen 16-bit lanes, saturating; masks stay masks.
VECTOR_TARGET inline __m256i pack16(__m256i a, __m256i b) {
  return _mm256_permute4x64_epi64(_mm256_packs_epi32(a, b), 0xD8);
}

// Gray levels of sixteen B, G, R, X words as 16-bit lanes. The fused double
// result is s / 1000 truncated, s the weighted sum, except that it can fall
// just below an integer when s is a multiple of 1000: only such blocks take
// the double path. s < 2^18, so s / 8 fits 16 bits and a multiply-high by
// ceil(2^22 / 125) then a shift divides it by 125 exactly.
VECTOR_TARGET inline __m256i gray16(__m256i a, __m256i b) {
  const __m256i sa = weightedSum8(a), sb = weightedSum8(b);
  const __m256i eighth = pack16(_mm256_srli_epi32(sa, 3), _mm256_srli_epi32(sb, 3));
  const __m256i q = _mm256_srli_epi16(_mm256_mulhi_epu16(eighth, _mm256_set1_epi16(33555)), 6);
  const __m256i whole125 =
      _mm256_cmpeq_epi16(_mm256_mullo_epi16(q, _mm256_set1_epi16(125)), eighth);
  if (_mm256_testz_si256(whole125, whole125)) return q;
  const __m256i seven = _mm256_set1_epi32(7);
  const __m256i low = pack16(_mm256_and_si256(sa, seven), _mm256_and_si256(sb, seven));
  const __m256i whole = _mm256_and_si256(whole125, _mm256_cmpeq_epi16(low, _mm256_setzero_si256()));
  if (_mm256_testz_si256(whole, whole)) return q;
  const __m128i byte = _mm_set1_epi32(0xFF);
  const __m128i quarters[4] = {_mm256_castsi256_si128(a), _mm256_extracti128_si256(a, 1),
                               _mm256_castsi256_si128(b), _mm256_extracti128_si256(b, 1)};
  __m128i quarter[4];
  for (int i = 0; i < 4; ++i) {
    const __m128i w = quarters[i];
    quarter[i] = gray4(_mm_and_si128(_mm_srli_epi32(w, 16), byte),
                       _mm_and_si128(_mm_srli_epi32(w, 8), byte), _mm_and_si128(w, byte));
  }
  return _mm256_set_m128i(_mm_packus_epi32(quarter[2], quarter[3]),
                          _mm_packus_epi32(quarter[0], quarter[1]));
}

// Sixteen 16-bit gray levels to bytes at dst.
VECTOR_TARGET inline void store16(uint8_t* dst, __m256i levels) {
  const __m256i bytes = _mm256_packus_epi16(levels, levels);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(dst),
                   _mm256_castsi256_si128(_mm256_permute4x64_epi64(bytes, 0x08)));
}

// Eight 24-bit pixels as B, G, R, 0 words, from two overlapping 16-byte loads
// (bytes 0-15 and 8-23), so no load reaches past the row's last pixel.
VECTOR_TARGET inline __m256i words8(const uint8_t* p) {
  const __m256i toWords =
      _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1,  //
                       4, 5, 6, -1, 7, 8, 9, -1, 10, 11, 12, -1, 13, 14, 15, -1);
  const __m256i v = _mm256_set_m128i(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8)),
                                     _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
  return _mm256_shuffle_epi8(v, toWords);
}

VECTOR_TARGET void bgrVector(const uint8_t* src, uint8_t* dst, uint32_t width) {
  uint32_t x = 0;
  for (; x + 16 <= width; x += 16, src += 48) {
    prefetch(src);
    store16(dst + x, gray16(words8(src), words8(src + 24)));
  }
  for (; x < width; ++x, src += 3) dst[x] = gray(src[2], src[1], src[0]);
}

// Gray levels of sixteen B, G, R, A words; with kAlpha, alpha below 128 is white.
template <bool kAlpha>
VECTOR_TARGET inline __m256i levels16(__m256i a, __m256i b) {
  __m256i levels = gray16(a, b);
  if (kAlpha) {
    // Lanes with alpha below 128 become 255; OR-ing 255 onto a gray level does that.
    const __m256i half = _mm256_set1_epi32(127);
    const __m256i opaque = pack16(_mm256_cmpgt_epi32(_mm256_srli_epi32(a, 24), half),
                                  _mm256_cmpgt_epi32(_mm256_srli_epi32(b, 24), half));
    levels = _mm256_or_si256(levels, _mm256_andnot_si256(opaque, _mm256_set1_epi16(0xFF)));
  }
  return levels;
}

template <bool kAlpha>
VECTOR_TARGET void bgraVector(const uint8_t* src, uint8_t* dst, uint32_t width) {
  uint32_t x = 0;
  for (; x + 16 <= width; x += 16, src += 64) {
    prefetch(src);
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 32));
    store16(dst + x, levels16<kAlpha>(a, b));
  }
  for (; x < width; ++x, src += 4) {
    dst[x] = (!kAlpha || src[3] >= 128) ? gray(src[2], src[1], src[0]) : 255;
  }
}

constexpr GrayKernels kVector{"avx2+fma", bgrVector, bgraVector<true>, bgraVector<false>};

// The sampled words go straight into the gray arithmetic, with no buffer
// between. They are loaded one by one and inserted: on AMD Zen the hardware
// gather (vpgatherdd) took 1.7 times as long for rows already in L2.
template <bool kAlpha>
VECTOR_TARGET uint32_t gatherGrayVector(const uint8_t* src, const uint8_t* next,
                                        const uint32_t* offsets, uint8_t* dst, uint32_t n) {
  uint32_t x = 0;
  const auto word = [&](uint32_t k) {
    int32_t v;
    std::memcpy(&v, src + offsets[x + k], 4);
    return v;
  };
  for (; x + 16 <= n; x += 16) {
    // Sampled rows lie apart, so the hardware prefetcher starts over at each
    // one and the gathers wait on memory; fetching the same columns of the
    // next row into L2 a row ahead hides that. Every 4th pixel reaches each
    // line of rows sampled at up to 16 bytes a pixel.
    if (next != nullptr) {
      for (int k = 0; k < 16; k += 4) {
        _mm_prefetch(reinterpret_cast<const char*>(next + offsets[x + k]), _MM_HINT_T1);
      }
    }
    const __m256i a =
        _mm256_setr_epi32(word(0), word(1), word(2), word(3), word(4), word(5), word(6), word(7));
    const __m256i b = _mm256_setr_epi32(word(8), word(9), word(10), word(11), word(12), word(13),
                                        word(14), word(15));
    store16(dst + x, levels16<kAlpha>(a, b));
  }
  return x;
}

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

GatherGrayFn gatherGrayKernel(bool alpha) {
#ifdef PIXEL_ROWS_X86
  if (vectorKernels() != nullptr) return alpha ? gatherGrayVector<true> : gatherGrayVector<false>;
#else
  (void)alpha;
#endif
  return nullptr;
}

const GrayKernels& blockKernels() {
  return kBlocks;
}

const GrayKernels& grayKernels() {
  static const GrayKernels& chosen = vectorKernels() ? *vectorKernels() : blockKernels();
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
