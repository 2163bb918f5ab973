#pragma once
// Printer resolution: the value taken when CUPS reports none, and the dot
// density that every language's sizes follow.

#include <cstdint>

constexpr int32_t kDefaultDpi = 203;

// Exactly 300 dpi prints 12 dots per millimetre; every other value 8.
constexpr int32_t dotsPerMm(int32_t dpi) {
  return dpi == 300 ? 12 : 8;
}

// A density the request names itself (submitTraceCode's dpi, where 600 is 24
// dots per millimetre) wins over the one the print path derives from dpi.
constexpr int32_t dotsPerMm(int32_t dpi, int32_t given) {
  return given > 0 ? given : dotsPerMm(dpi);
}

// Wraps like the 32-bit product it stands for, without signed overflow.
constexpr int32_t mmToDots(int32_t mm, int32_t dpi, int32_t given = 0) {
  return static_cast<int32_t>(static_cast<uint32_t>(dotsPerMm(dpi, given)) *
                              static_cast<uint32_t>(mm));
}
