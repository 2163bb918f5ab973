#pragma once
// PNG files made into the gray BMP the print path reads, with libpng linked
// into the binary. Every colour type, bit depth and interlacing reads as the
// JavaScript decoder read it: samples scaled to 8 bits, palette and tRNS
// transparency as alpha, alpha laid over white paper, then the gray level of
// pixelrows::gray(); the label made from the result is the label toBMP's
// 24-bit BMP made.
//
// Memory is bounded before anything is inflated: the header's size is checked
// first, then rows are inflated one at a time into one 8-bit gray plane (about
// 100 MB at 10000 x 10000), and pixel data that goes on inflating past the
// rows its header declares is refused as soon as it does.

#include <cstddef>
#include <cstdint>
#include <string>

#include "helper/bmp.h"

namespace pnggray {

constexpr uint32_t kMaxSide = kMaxImageSide;

inline bool isPng(const uint8_t* bytes, size_t size) {
  static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  if (size < 8) return false;
  for (int i = 0; i < 8; ++i) {
    if (bytes[i] != kSignature[i]) return false;
  }
  return true;
}

// The PNG as an 8-bit bottom-up BMP with the gray ramp; empty, with `reason`
// set to a sentence that starts "unreadable image: ", when it cannot be read.
// Plain C++: runs on any thread and touches nothing but its arguments.
ByteVector decode(const uint8_t* png, size_t size, std::string& reason);

}  // namespace pnggray
