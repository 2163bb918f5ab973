#include "helper/bmp_source.h"

#include <cstring>
#include <limits>
#include <stdexcept>

#include "helper/bmp_fields.h"
#include "helper/log.h"

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace bmpsource {
namespace {

constexpr int32_t kMaxSide = kMaxImageSide;

// Room for n bytes in one allocation. Large buffers ask Linux for huge pages:
// faulting in a fresh 100 MB buffer page by page took about twice as long.
void reserveOnce(ByteVector& buffer, size_t n) {
  buffer.reserve(n);
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  constexpr uintptr_t kHugePage = uintptr_t{1} << 21;
  if (n >= 4 * kHugePage) {
    const auto start = reinterpret_cast<uintptr_t>(buffer.data());
    const uintptr_t first = (start + kHugePage - 1) & ~(kHugePage - 1);
    const uintptr_t last = (start + n) & ~(kHugePage - 1);
    // Only advice: where transparent huge pages are off this changes nothing.
    if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
  }
#endif
}

}  // namespace

ByteVector newPreparedImage(uint32_t width, uint32_t height, const uint8_t* resolution) {
  using namespace bmpfield;
  const uint32_t imageSize = preparedStride(width) * height;
  ByteVector out;
  reserveOnce(out, size_t{kPreparedPixelOffset} + imageSize);
  out.resize(kPreparedPixelOffset);
  out[0] = 'B';
  out[1] = 'M';
  writeU32(out, kFileSize, kPreparedPixelOffset + imageSize);
  writeU32(out, kPixelOffset, kPreparedPixelOffset);
  writeU32(out, kInfoSize, 40);
  writeU32(out, kWidth, width);
  writeU32(out, kHeight, height);
  writeU16(out, kPlanes, 1);
  writeU16(out, kBitsPerPixel, 8);
  writeU32(out, kImageSize, imageSize);
  std::memcpy(out.data() + kResolution, resolution, 8);
  writeU32(out, kColoursUsed, 256);
  writeU32(out, kColoursImportant, 256);
  for (uint32_t i = 0; i < 256; ++i) {
    std::memset(out.data() + kHeaderBytes + 4 * i, static_cast<int>(i), 3);
  }
  return out;
}

// The checks of convertTo8BitBMP, in the order of its log lines. The last
// check keeps every row that will be read inside the input; it comes after
// the depth test so that a 16-bit image is still reported as such.
bool readSource(const uint8_t* bmp, size_t size, SourceImage& src) {
  using namespace bmpfield;
  if (size < kHeaderBytes) {
    tracelog::line("[DEBUG] BMP数据不完整或无效\n");
    return false;
  }
  if (bmp[0] != 'B' || bmp[1] != 'M') {
    tracelog::line("[DEBUG] 输入数据不是有效的BMP文件\n");
    return false;
  }
  const int32_t width = readI32(bmp, size, kWidth);
  const int32_t height = readI32(bmp, size, kHeight);
  if (width < 1 || width > kMaxSide || height < 1 || height > kMaxSide) {
    tracelog::line("[DEBUG] BMP图像尺寸不合理: %d x %d\n", width, height);
    return false;
  }
  const uint32_t offset = readU32(bmp, size, kPixelOffset);
  if (offset >= size) {
    tracelog::line("[DEBUG] BMP文件头偏移量无效\n");
    return false;
  }
  const uint32_t bitsPerPixel = readU16(bmp, size, kBitsPerPixel);
  if (bitsPerPixel != 8 && bitsPerPixel != 24 && bitsPerPixel != 32) {
    tracelog::line("[DEBUG] 不支持的BMP位深度: %d，无法转换为8位BMP\n",
                   static_cast<int>(bitsPerPixel));
    return false;
  }
  const uint32_t stride = (static_cast<uint32_t>(width) * bitsPerPixel + 31) / 32 * 4;
  const uint64_t lastByte = uint64_t{offset} + uint64_t{stride} * (height - 1) +
                            uint64_t{static_cast<uint32_t>(width)} * (bitsPerPixel / 8) - 1;
  if (lastByte >= size) {
    tracelog::line("[DEBUG] BMP数据不完整或无效\n");
    return false;
  }
  src = {bmp + offset, static_cast<uint32_t>(width), static_cast<uint32_t>(height), bitsPerPixel,
         stride};
  return true;
}

// Stops at the first non-zero alpha byte; an image whose alpha is all zero
// is read once in full.
bool hasAlpha(const SourceImage& src) {
  const uint8_t* rows = src.rows;
  const uint32_t width = src.width, height = src.height, stride = src.stride;
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

void checkPreparedSize(uint32_t width, uint32_t height) {
  const uint64_t stride = (uint64_t{width} + 3) & ~uint64_t{3};
  if (kPreparedPixelOffset + stride * height >
      static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) {
    throw std::length_error("vector");
  }
}

}  // namespace bmpsource
