// A first, plain conversion and resize; the tuned version replaces it.
#include "helper/bmp.h"
#include <cmath>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include "helper/log.h"
static uint32_t rd32(const ByteVector& b, size_t o) {
  return b[o] | b[o + 1] << 8 | b[o + 2] << 16 | (uint32_t)b[o + 3] << 24;
}
static void wr32(ByteVector& b, size_t o, uint32_t v) {
  for (int i = 0; i < 4; i++) b[o + i] = v >> (8 * i);
}
static ByteVector header(int32_t w, int32_t h, const ByteVector& src) {
  uint32_t s = (w + 3) & ~3u;
  ByteVector o(1078 + (size_t)s * h, 0);
  o[0] = 'B';
  o[1] = 'M';
  wr32(o, 2, o.size());
  wr32(o, 10, 1078);
  wr32(o, 14, 40);
  wr32(o, 18, w);
  wr32(o, 22, h);
  o[26] = 1;
  o[28] = 8;
  wr32(o, 34, s * h);
  memcpy(&o[38], &src[38], 8);
  wr32(o, 46, 256);
  wr32(o, 50, 256);
  for (int i = 0; i < 256; i++) {
    o[54 + 4 * i] = i;
    o[55 + 4 * i] = i;
    o[56 + 4 * i] = i;
  }
  return o;
}
ByteVector convertTo8BitBMP(const ByteVector& b) {
  if (b.size() < 54) {
    tracelog::line("[DEBUG] BMP数据不完整或无效\n");
    return {};
  }
  if (b[0] != 'B' || b[1] != 'M') {
    tracelog::line("[DEBUG] 输入数据不是有效的BMP文件\n");
    return {};
  }
  int32_t w = rd32(b, 18), h = rd32(b, 22);
  if (w < 1 || w > 10000 || h < 1 || h > 10000) {
    tracelog::line("[DEBUG] BMP图像尺寸不合理: %d x %d\n", w, h);
    return {};
  }
  uint32_t off = rd32(b, 10);
  if (off >= b.size()) {
    tracelog::line("[DEBUG] BMP文件头偏移量无效\n");
    return {};
  }
  int bpp = b[28] | b[29] << 8;
  if (bpp != 8 && bpp != 24 && bpp != 32) {
    tracelog::line("[DEBUG] 不支持的BMP位深度: %d，无法转换为8位BMP\n", bpp);
    return {};
  }
  uint32_t ss = ((w * bpp + 31) / 32) * 4;
  if ((uint64_t)off + (uint64_t)(h - 1) * ss + (uint64_t)w * (bpp / 8) > b.size()) {
    tracelog::line("[DEBUG] BMP数据不完整或无效\n");
    return {};
  }
  ByteVector o = header(w, h, b);
  uint32_t s = (w + 3) & ~3u;
  bool anyA = false;
  if (bpp == 32)
    for (int y = 0; y < h && !anyA; y++)
      for (int x = 0; x < w; x++)
        if (b[off + y * ss + x * 4 + 3]) {
          anyA = true;
          break;
        }
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) {
      const uint8_t* p = &b[off + (size_t)y * ss + x * (bpp / 8)];
      uint8_t v;
      if (bpp == 8)
        v = p[0];
      else {
        double t = p[1] * 0.587;
        t = std::fma(p[2], 0.299, t);
        t = std::fma(p[0], 0.114, t);
        v = (uint8_t)t;
        if (bpp == 32 && anyA && p[3] < 128) v = 255;
      }
      o[1078 + (size_t)y * s + x] = v;
    }
  tracelog::line("[DEBUG] 成功将%d位BMP转换为8位灰度BMP\n", bpp);
  return o;
}
ByteVector resizeBMP(const ByteVector& b, int32_t tw, int32_t th) {
  if (b.size() < 54) {
    tracelog::line("[DEBUG] BMP数据不完整或无效\n");
    return {};
  }
  if (b[0] != 'B' || b[1] != 'M') {
    tracelog::line("[DEBUG] 输入数据不是有效的BMP文件\n");
    return {};
  }
  if (tw < 1 || th < 1) {
    tracelog::line("[DEBUG] 无效的目标尺寸: %d x %d\n", tw, th);
    return {};
  }
  int32_t sw = rd32(b, 18), sh = rd32(b, 22);
  ByteVector c = convertTo8BitBMP(b);
  if (c.empty()) {
    tracelog::line("[DEBUG] 转换为8位灰度图失败\n");
    return {};
  }
  uint64_t ts = ((uint64_t)tw + 3) & ~3ull;
  if (1078 + ts * th > 2147483647ull) throw std::length_error("vector");
  ByteVector o = header(tw, th, c);
  uint32_t ss = (sw + 3) & ~3u;
  double fx = (double)sw / tw, fy = (double)sh / th;
  for (int y = 0; y < th; y++) {
    int sy = std::min<int64_t>(sh - 1, (int64_t)(y * fy));
    for (int x = 0; x < tw; x++) {
      int sx = std::min<int64_t>(sw - 1, (int64_t)(x * fx));
      o[1078 + (size_t)y * ts + x] = c[1078 + (size_t)sy * ss + sx];
    }
  }
  tracelog::line("[DEBUG] 成功将BMP图像从%d x %d调整为%d x %d\n", sw, sh, tw, th);
  return o;
}
