#pragma once
// The little-endian fields of a BMP's headers, read and written by offset.
// Every access is bounds-checked: a field that does not lie wholly inside the
// bytes reads as 0 and is not written, so untrusted input can be probed
// before its size has been validated.

#include <cstddef>
#include <cstdint>

#include "helper/bmp.h"

namespace bmpfield {

constexpr size_t kHeaderBytes = 54;  // file header and BITMAPINFOHEADER
constexpr size_t kFileSize = 2;
constexpr size_t kPixelOffset = 10;
constexpr size_t kInfoSize = 14;
constexpr size_t kWidth = 18;
constexpr size_t kHeight = 22;
constexpr size_t kPlanes = 26;
constexpr size_t kBitsPerPixel = 28;
constexpr size_t kImageSize = 34;
constexpr size_t kResolution = 38;  // horizontal then vertical, 8 bytes
constexpr size_t kColoursUsed = 46;
constexpr size_t kColoursImportant = 50;

constexpr bool holds(size_t size, size_t at, size_t width) {
  return at <= size && size - at >= width;
}

inline uint32_t readU16(const uint8_t* bytes, size_t size, size_t at) {
  if (!holds(size, at, 2)) return 0;
  return static_cast<uint32_t>(bytes[at]) | static_cast<uint32_t>(bytes[at + 1]) << 8;
}
inline uint32_t readU32(const uint8_t* bytes, size_t size, size_t at) {
  if (!holds(size, at, 4)) return 0;
  return readU16(bytes, size, at) | readU16(bytes, size, at + 2) << 16;
}
inline int32_t readI32(const uint8_t* bytes, size_t size, size_t at) {
  return static_cast<int32_t>(readU32(bytes, size, at));
}
inline uint32_t readU32(const ByteVector& bytes, size_t at) {
  return readU32(bytes.data(), bytes.size(), at);
}
inline int32_t readI32(const ByteVector& bytes, size_t at) {
  return readI32(bytes.data(), bytes.size(), at);
}

inline void writeU16(ByteVector& bytes, size_t at, uint32_t value) {
  if (!holds(bytes.size(), at, 2)) return;
  bytes[at] = static_cast<uint8_t>(value);
  bytes[at + 1] = static_cast<uint8_t>(value >> 8);
}
inline void writeU32(ByteVector& bytes, size_t at, uint32_t value) {
  if (!holds(bytes.size(), at, 4)) return;
  writeU16(bytes, at, value);
  writeU16(bytes, at + 2, value >> 16);
}

}  // namespace bmpfield
