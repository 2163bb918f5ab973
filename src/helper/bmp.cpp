#include "helper/bmp.h"

#include <algorithm>
#include <cstring>
#include <fstream>

#include "helper/bmp_fields.h"
#include "helper/bmp_source.h"
#include "helper/log.h"
#include "helper/pixel_rows.h"

using namespace bmpsource;

namespace {

void copyRow(const uint8_t* src, uint8_t* dst, uint32_t width) {
  std::memcpy(dst, src, width);
}

// Conversion of an input that readSource accepted; logs the success line.
ByteVector convertSource(const ByteVector& bmp, const SourceImage& src) {
  ByteVector out = newPreparedImage(src.width, src.height, &bmp[bmpfield::kResolution]);
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
  if (!readSource(bmp.data(), bmp.size(), src)) return {};
  return convertSource(bmp, src);
}

// An 8-bit input is sampled where it lies: its conversion would be a
// byte-for-byte copy of the same rows at the same stride, so only the copy's
// log line is written. Other depths are converted first.
ByteVector resizeBMP(const ByteVector& bmp, int32_t width, int32_t height) {
  if (bmp.size() < bmpfield::kHeaderBytes) {
    tracelog::line("[DEBUG] BMP数据不完整或无效\n");
    return {};
  }
  if (bmp[0] != 'B' || bmp[1] != 'M') {
    tracelog::line("[DEBUG] 输入数据不是有效的BMP文件\n");
    return {};
  }
  if (width < 1 || height < 1) {
    tracelog::line("[DEBUG] 无效的目标尺寸: %d x %d\n", width, height);
    return {};
  }
  SourceImage src;
  if (!readSource(bmp.data(), bmp.size(), src)) {
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
  checkPreparedSize(targetWidth, targetHeight);
  ByteVector out = newPreparedImage(targetWidth, targetHeight, &bmp[bmpfield::kResolution]);
  const pixelrows::ColumnSampler columns(src.width, targetWidth);
  sampleRows(out, src.height, targetWidth, targetHeight, [&](uint32_t sy, uint8_t* dst, uint32_t) {
    columns.sampleRow(src.rows + size_t{sy} * src.stride, dst);
  });
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
