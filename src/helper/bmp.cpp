#include "helper/bmp.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <limits>
#include <stdexcept>

#include "helper/log.h"
#include "helper/pixel_rows.h"

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace {

constexpr size_t kHeaderBytes = 54;
constexpr int32_t kMaxSide = 10000;
constexpr size_t kResolutionOffset = 38;

uint16_t readU16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}

uint32_t readU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

int32_t readI32(const uint8_t* p) {
  return static_cast<int32_t>(readU32(p));
}

void writeU16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

void writeU32(uint8_t* p, uint32_t v) {
  writeU16(p, v);
  writeU16(p + 2, v >> 16);
}

bool hasSignature(const ByteVector& bmp) {
  return bmp[0] == 'B' && bmp[1] == 'M';
}

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

// The headers and gray ramp of a prepared image, with room for all its rows,
// which the caller adds with nextRow. `resolution` is the 8 bytes of
// horizontal and vertical resolution to copy.
ByteVector newPreparedImage(uint32_t width, uint32_t height, const uint8_t* resolution) {
  const uint32_t imageSize = preparedStride(width) * height;
  ByteVector out;
  reserveOnce(out, size_t{kPreparedPixelOffset} + imageSize);
  out.resize(kPreparedPixelOffset);
  uint8_t* p = out.data();
  p[0] = 'B';
  p[1] = 'M';
  writeU32(p + 2, kPreparedPixelOffset + imageSize);
  writeU32(p + 10, kPreparedPixelOffset);
  writeU32(p + 14, 40);
  writeU32(p + 18, width);
  writeU32(p + 22, height);
  writeU16(p + 26, 1);
  writeU16(p + 28, 8);
  writeU32(p + 34, imageSize);
  std::memcpy(p + kResolutionOffset, resolution, 8);
  writeU32(p + 46, 256);
  writeU32(p + 50, 256);
  for (uint32_t i = 0; i < 256; ++i) std::memset(p + kHeaderBytes + 4 * i, static_cast<int>(i), 3);
  return out;
}

// The next row of a prepared image, zero-filled, inside the room reserved for
// it. Zeroing each row just before it is written, rather than the whole
// buffer first, saves a pass over memory.
uint8_t* nextRow(ByteVector& image, uint32_t stride) {
  const size_t at = image.size();
  image.resize(at + stride);
  return image.data() + at;
}

// The pixel rows of an input that passed every check.
struct SourceImage {
  const uint8_t* rows;  // the bottom row
  uint32_t width;
  uint32_t height;
  uint32_t bitsPerPixel;
  uint32_t stride;
};

// The conversion's checks, in the order of its log lines. The last one keeps
// every row that will be read inside the input; it comes after the depth test
// so that a 16-bit image is still reported as such.
bool readSource(const ByteVector& bmp, SourceImage& src) {
  if (bmp.size() < kHeaderBytes) {
    tracelog::line("[DEBUG] BMP数据不完整或无效\n");
    return false;
  }
  if (!hasSignature(bmp)) {
    tracelog::line("[DEBUG] 输入数据不是有效的BMP文件\n");
    return false;
  }
  const int32_t width = readI32(&bmp[18]);
  const int32_t height = readI32(&bmp[22]);
  if (width < 1 || width > kMaxSide || height < 1 || height > kMaxSide) {
    tracelog::line("[DEBUG] BMP图像尺寸不合理: %d x %d\n", width, height);
    return false;
  }
  const uint32_t offset = readU32(&bmp[10]);
  if (offset >= bmp.size()) {
    tracelog::line("[DEBUG] BMP文件头偏移量无效\n");
    return false;
  }
  const uint32_t bitsPerPixel = readU16(&bmp[28]);
  if (bitsPerPixel != 8 && bitsPerPixel != 24 && bitsPerPixel != 32) {
    tracelog::line("[DEBUG] 不支持的BMP位深度: %d，无法转换为8位BMP\n",
                   static_cast<int>(bitsPerPixel));
    return false;
  }
  const uint32_t stride = (static_cast<uint32_t>(width) * bitsPerPixel + 31) / 32 * 4;
  const uint64_t lastByte = uint64_t{offset} + uint64_t{stride} * (height - 1) +
                            uint64_t{static_cast<uint32_t>(width)} * (bitsPerPixel / 8) - 1;
  if (lastByte >= bmp.size()) {
    tracelog::line("[DEBUG] BMP数据不完整或无效\n");
    return false;
  }
  src = {bmp.data() + offset, static_cast<uint32_t>(width), static_cast<uint32_t>(height),
         bitsPerPixel, stride};
  return true;
}

void copyRow(const uint8_t* src, uint8_t* dst, uint32_t width) {
  std::memcpy(dst, src, width);
}

// A 32-bit image whose alpha bytes are all 0 was written without alpha: it
// is taken as opaque rather than as an all-white picture.
bool hasAlpha(const SourceImage& src) {
  for (uint32_t y = 0; y < src.height; ++y) {
    const uint8_t* row = src.rows + size_t{y} * src.stride;
    for (uint32_t x = 0; x < src.width; ++x) {
      if (row[4 * x + 3] != 0) return true;
    }
  }
  return false;
}

// Conversion of an input that readSource accepted; logs the success line.
ByteVector convertSource(const ByteVector& bmp, const SourceImage& src) {
  ByteVector out = newPreparedImage(src.width, src.height, &bmp[kResolutionOffset]);
  const pixelrows::GrayKernels& kernels = pixelrows::grayKernels();
  pixelrows::RowFn row = copyRow;
  if (src.bitsPerPixel == 24) row = kernels.bgr;
  if (src.bitsPerPixel == 32) row = hasAlpha(src) ? kernels.bgra : kernels.bgrx;
  const uint32_t stride = preparedStride(src.width);
  for (uint32_t y = 0; y < src.height; ++y) {
    row(src.rows + size_t{y} * src.stride, nextRow(out, stride), src.width);
  }
  tracelog::line("[DEBUG] 成功将%d位BMP转换为8位灰度BMP\n", static_cast<int>(src.bitsPerPixel));
  return out;
}

}  // namespace

ByteVector convertTo8BitBMP(const ByteVector& bmp) {
  SourceImage src;
  if (!readSource(bmp, src)) return {};
  return convertSource(bmp, src);
}

// An 8-bit input is sampled where it lies: its conversion would be a
// byte-for-byte copy of the same rows at the same stride, so only the copy's
// log line is written. Other depths are converted first.
ByteVector resizeBMP(const ByteVector& bmp, int32_t width, int32_t height) {
  if (bmp.size() < kHeaderBytes) {
    tracelog::line("[DEBUG] BMP数据不完整或无效\n");
    return {};
  }
  if (!hasSignature(bmp)) {
    tracelog::line("[DEBUG] 输入数据不是有效的BMP文件\n");
    return {};
  }
  if (width < 1 || height < 1) {
    tracelog::line("[DEBUG] 无效的目标尺寸: %d x %d\n", width, height);
    return {};
  }
  SourceImage src;
  if (!readSource(bmp, src)) {
    tracelog::line("[DEBUG] 转换为8位灰度图失败\n");
    return {};
  }
  ByteVector converted;
  if (src.bitsPerPixel == 8) {
    tracelog::line("[DEBUG] 成功将%d位BMP转换为8位灰度BMP\n", 8);
  } else {
    converted = convertSource(bmp, src);
    src = {converted.data() + kPreparedPixelOffset, src.width, src.height, 8,
           preparedStride(src.width)};
  }

  const auto targetWidth = static_cast<uint32_t>(width);
  const auto targetHeight = static_cast<uint32_t>(height);
  const uint64_t targetStride = (uint64_t{targetWidth} + 3) & ~uint64_t{3};
  if (kPreparedPixelOffset + targetStride * targetHeight >
      static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) {
    throw std::length_error("vector");
  }
  ByteVector out = newPreparedImage(targetWidth, targetHeight, &bmp[kResolutionOffset]);

  const pixelrows::ColumnSampler columns(src.width, targetWidth);
  const double scaleY = static_cast<double>(src.height) / static_cast<double>(targetHeight);
  uint32_t previous = src.height;  // no row yet
  for (uint32_t y = 0; y < targetHeight; ++y) {
    uint8_t* dst = nextRow(out, static_cast<uint32_t>(targetStride));
    const auto t = static_cast<uint32_t>(static_cast<double>(y) * scaleY);
    const uint32_t sy = std::min(src.height - 1, t);
    // Enlarging repeats rows: the row just written is already the answer.
    if (sy == previous) {
      std::memcpy(dst, dst - targetStride, targetWidth);
    } else {
      columns.sampleRow(src.rows + size_t{sy} * src.stride, dst);
      previous = sy;
    }
  }
  tracelog::line("[DEBUG] 成功将BMP图像从%d x %d调整为%d x %d\n", static_cast<int>(src.width),
                 static_cast<int>(src.height), width, height);
  return out;
}

bool saveBMPToFile(const ByteVector& bmp, const std::string& path) {
  if (bmp.empty()) {
    tracelog::line("[DEBUG] 无法保存空的BMP图像数据到文件\n");
    return false;
  }
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (!file.is_open()) {
    tracelog::line("[DEBUG] 无法打开文件 %s 进行写入\n", path.c_str());
    return false;
  }
  file.write(reinterpret_cast<const char*>(bmp.data()), static_cast<std::streamsize>(bmp.size()));
  file.close();  // a failed close sets failbit too
  if (file.fail()) {
    tracelog::line("[DEBUG] 写入BMP图像数据到文件 %s 失败\n", path.c_str());
    return false;
  }
  tracelog::line("[DEBUG] 成功将BMP图像数据保存到文件: %s, 大小: %.2fKB\n", path.c_str(),
                 static_cast<double>(bmp.size()) / 1024.0);
  return true;
}
