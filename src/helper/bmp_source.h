#pragma once
// What the two BMP readers share (convertTo8BitBMP/resizeBMP and the one-pass
// label image): the checks on an input BMP, in the order of their log lines,
// and the writing of a prepared image.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "helper/bmp.h"

namespace bmpsource {

// The pixel rows of an input that passed every check.
struct SourceImage {
  const uint8_t* rows;  // the bottom row
  uint32_t width;
  uint32_t height;
  uint32_t bitsPerPixel;
  uint32_t stride;
};

// The conversion's checks; a refusal writes its line and answers false.
bool readSource(const uint8_t* bmp, size_t size, SourceImage& src);

// 32 bits: whether any alpha byte is non-zero. A 32-bit image whose alpha
// bytes are all 0 was written without alpha and is taken as opaque.
bool hasAlpha(const SourceImage& src);

// The headers and gray ramp of a prepared image, with room for all its rows,
// which the caller adds with nextRow.
ByteVector newPreparedImage(uint32_t width, uint32_t height, const uint8_t* resolution);

// The next row of a prepared image, zero-filled, inside the room reserved for
// it. Zeroing each row just before it is written saves a pass over memory.
inline uint8_t* nextRow(ByteVector& image, uint32_t stride) {
  const size_t at = image.size();
  image.resize(at + stride);
  return image.data() + at;
}

// The rows of a targetWidth x targetHeight prepared image, appended to `out`
// (headers only) by nearest-neighbour sampling of a source sourceHeight rows
// high: output row y takes source row min(sourceHeight - 1, trunc(y x scale)),
// both counted from the bottom. sampleRow(sy, dst) writes the targetWidth
// pixels taken from source row sy, and `next` is the row it will be asked for
// next (a hint; the last row names itself); a repeated source row is copied
// from the row just written instead.
template <typename SampleRow>
void sampleRows(ByteVector& out, uint32_t sourceHeight, uint32_t targetWidth, uint32_t targetHeight,
                SampleRow&& sampleRow) {
  const uint32_t stride = preparedStride(targetWidth);
  const double scaleY = static_cast<double>(sourceHeight) / static_cast<double>(targetHeight);
  uint32_t previous = sourceHeight;  // no row yet
  for (uint32_t y = 0; y < targetHeight; ++y) {
    uint8_t* dst = nextRow(out, stride);
    const auto t = static_cast<uint32_t>(static_cast<double>(y) * scaleY);
    const uint32_t sy = std::min(sourceHeight - 1, t);
    if (sy == previous) {
      std::memcpy(dst, dst - stride, targetWidth);
    } else {
      // Where the next row will read, for a prefetch: at most one row off.
      const auto after = static_cast<uint32_t>(static_cast<double>(y + 1) * scaleY);
      const uint32_t next = std::min(sourceHeight - 1, std::max(after, sy + 1));
      sampleRow(sy, dst, next);
      previous = sy;
    }
  }
}

// std::length_error("vector") when a width x height prepared image would be
// longer than 2^31 - 1 bytes; checked before anything is allocated.
void checkPreparedSize(uint32_t width, uint32_t height);

}  // namespace bmpsource
