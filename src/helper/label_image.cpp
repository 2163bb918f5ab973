#include "helper/label_image.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "helper/bmp_fields.h"
#include "helper/bmp_source.h"
#include "helper/log.h"
#include "helper/pixel_rows.h"

namespace {

// Pixels gathered per kernel call: small enough to stay in L1.
constexpr uint32_t kChunk = 256;

// Copies the 4 bytes at src + offsets[i] to words[i] for i < n.
void gather(const uint8_t* src, const uint32_t* offsets, uint8_t* words, uint32_t n) {
  for (uint32_t i = 0; i < n; ++i) std::memcpy(words + 4 * i, src + offsets[i], 4);
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

// One target row of a 24- or 32-bit source: the fused vector kernel, where
// there is one, takes whole blocks; the rest are gathered as B, G, R, X
// words and handed to the shared gray kernel, chunk by chunk.
void grayRow(const uint8_t* src, const uint8_t* next, const ColumnOffsets& offsets,
             pixelrows::RowFn kernel, pixelrows::GatherGrayFn fused, uint8_t* dst,
             uint32_t targetWidth) {
  alignas(32) uint8_t words[kChunk * 4];
  uint32_t x0 = 0;
  if (fused != nullptr) x0 = fused(src, next, offsets.at.data(), dst, offsets.wordSafe);
  for (; x0 < targetWidth; x0 += kChunk) {
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
  bmpsource::SourceImage src;
  if (!bmpsource::readSource(bmp, size, src)) return false;
  bytes_ = bmp;
  rows_ = src.rows;
  width_ = src.width;
  height_ = src.height;
  bitsPerPixel_ = src.bitsPerPixel;
  stride_ = src.stride;
  alpha_ = src.bitsPerPixel == 32 && bmpsource::hasAlpha(src);
  tracelog::line("[DEBUG] 成功将%d位BMP转换为8位灰度BMP\n", static_cast<int>(src.bitsPerPixel));
  return true;
}

bool LabelImageSource::openPng(const uint8_t* png, size_t size) {
  if (!png_.open(png, size)) return false;
  isPng_ = true;
  width_ = png_.width();
  height_ = png_.height();
  bitsPerPixel_ = 8;
  tracelog::line("[DEBUG] 成功将%d位BMP转换为8位灰度BMP\n", 8);
  return true;
}

// The rows sampleRows() would write from the decoded BMP, written from the
// top down as the PNG's rows arrive: BMP row sy is PNG row height - 1 - sy,
// and the label rows that take it are the ones from the top down whose
// source row has been reached. Every row is decoded, to check the whole file.
ByteVector LabelImageSource::resizePng(uint32_t targetWidth, uint32_t targetHeight) const {
  ByteVector out = bmpsource::newPreparedImage(targetWidth, targetHeight, pnggray::kResolution);
  const uint32_t stride = preparedStride(targetWidth);
  out.resize(out.size() + size_t{stride} * targetHeight);
  uint8_t* rows = out.data() + kPreparedPixelOffset;
  const pixelrows::ColumnSampler columns(width_, targetWidth);
  std::vector<uint8_t> source(width_);
  const double scaleY = static_cast<double>(height_) / static_cast<double>(targetHeight);
  std::vector<bool> wanted(height_);
  for (uint32_t y = 0; y < targetHeight; ++y) {
    const auto t = static_cast<uint32_t>(static_cast<double>(y) * scaleY);
    wanted[height_ - 1 - std::min(height_ - 1, t)] = true;
  }
  png_.wantRows(wanted);
  uint32_t read = 0;  // PNG rows decoded
  uint32_t previous = height_;
  for (uint32_t y = targetHeight; y-- > 0;) {
    const auto t = static_cast<uint32_t>(static_cast<double>(y) * scaleY);
    const uint32_t sy = std::min(height_ - 1, t);
    uint8_t* dst = rows + size_t{y} * stride;
    if (sy == previous) {
      std::memcpy(dst, dst + stride, targetWidth);
      continue;
    }
    while (read < height_ - sy) {
      if (!png_.nextRow(source.data())) return {};
      ++read;
    }
    columns.sampleRow(source.data(), dst);
    previous = sy;
  }
  while (read < height_) {
    if (!png_.nextRow(source.data())) return {};
    ++read;
  }
  if (!png_.finish()) return {};
  return out;
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
  bmpsource::checkPreparedSize(targetWidth, targetHeight);
  if (isPng_) {
    ByteVector out = resizePng(targetWidth, targetHeight);
    if (out.empty()) return out;
    tracelog::line("[DEBUG] 成功将BMP图像从%d x %d调整为%d x %d\n", static_cast<int>(width_),
                   static_cast<int>(height_), width, height);
    return out;
  }
  ByteVector out =
      bmpsource::newPreparedImage(targetWidth, targetHeight, bytes_ + bmpfield::kResolution);

  // A row that keeps at least half its pixels is converted whole, in order,
  // and then sampled as 8-bit gray: streaming loads the prefetcher follows
  // beat gathering scattered words, and the conversion is per pixel, so the
  // bytes are the same. Sparser rows gather only the pixels they keep.
  const uint32_t bytesPerPixel = bitsPerPixel_ / 8;
  const bool wholeRows = bytesPerPixel > 1 && width_ <= 2 * size_t{targetWidth};
  const pixelrows::ColumnSampler columns(width_, targetWidth, bytesPerPixel == 1 || wholeRows);
  const pixelrows::GrayKernels& kernels = pixelrows::grayKernels();
  // Gathered pixels are always B, G, R, X words; whole 24-bit rows are packed.
  const pixelrows::RowFn kernel = alpha_ ? kernels.bgra : kernels.bgrx;
  const pixelrows::RowFn rowKernel = bytesPerPixel == 3 ? kernels.bgr : kernel;
  std::optional<ColumnOffsets> offsets;
  if (bytesPerPixel > 1 && !wholeRows) offsets.emplace(columns, width_, targetWidth, bytesPerPixel);
  std::vector<uint8_t> grayRowBuffer(wholeRows ? width_ : 0);
  const pixelrows::GatherGrayFn fused = pixelrows::gatherGrayKernel(alpha_);
  bmpsource::sampleRows(
      out, height_, targetWidth, targetHeight, [&](uint32_t sy, uint8_t* dst, uint32_t next) {
        const uint8_t* src = rows_ + size_t{sy} * stride_;
        const uint8_t* nextRow = next == sy ? nullptr : rows_ + size_t{next} * stride_;
        if (bytesPerPixel == 1) {
          columns.sampleRow(src, dst);
        } else if (wholeRows) {
          rowKernel(src, grayRowBuffer.data(), width_);
          columns.sampleRow(grayRowBuffer.data(), dst);
        } else {
          grayRow(src, nextRow, *offsets, kernel, fused, dst, targetWidth);
        }
      });
  tracelog::line("[DEBUG] 成功将BMP图像从%d x %d调整为%d x %d\n", static_cast<int>(width_),
                 static_cast<int>(height_), width, height);
  return out;
}
