#pragma once
// The prepared image at label size in one pass over the input BMP: only the
// pixels that the nearest-neighbour resize keeps are read and converted, so
// the cost follows the label, not the source, and no full-size gray image is
// ever allocated. Bytes, log lines and exceptions are those of
// convertTo8BitBMP followed by resizeBMP on its result.

#include <cstddef>
#include <cstdint>

#include "helper/bmp.h"
#include "helper/png_gray.h"

class LabelImageSource {
 public:
  // Checks the input as convertTo8BitBMP does and writes the same one line:
  // its refusal, or its success line. The bytes must outlive this object.
  bool open(const uint8_t* bmp, size_t size);
  bool open(const ByteVector& bmp) { return open(bmp.data(), bmp.size()); }

  // A PNG instead, read as the 8-bit gray BMP pnggray::decode makes of it,
  // with that BMP's line; its rows are decoded during resize(), which then
  // keeps one source row, not the whole image (an interlaced PNG, decoded
  // whole first, keeps the rows the label takes). False, with reason() set
  // and no line, when its header cannot be read. resize() may then be
  // called once.
  bool openPng(const uint8_t* png, size_t size);
  // Why the PNG could not be read, once open or resize has failed on it.
  const std::string& reason() const { return png_.reason(); }

  // What resizeBMP(convertTo8BitBMP(bmp), width, height) returns, with the
  // same lines (the resize's own re-conversion line included) and the same
  // std::length_error("vector") for a result over 2^31 - 1 bytes.
  // Only valid after open() answered true.
  ByteVector resize(int32_t width, int32_t height) const;

 private:
  const uint8_t* bytes_ = nullptr;
  const uint8_t* rows_ = nullptr;  // bottom row of the pixel data
  uint32_t width_ = 0;
  uint32_t height_ = 0;
  uint32_t bitsPerPixel_ = 0;
  uint32_t stride_ = 0;
  bool alpha_ = false;  // 32 bits only: some alpha byte is non-zero
  mutable pnggray::RowReader png_;
  bool isPng_ = false;
  ByteVector resizePng(uint32_t targetWidth, uint32_t targetHeight) const;
};
