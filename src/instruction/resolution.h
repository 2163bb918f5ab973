#pragma once
// Printer resolution: the value taken when CUPS reports none, and the dot
// density that every language's sizes follow.

#include <cstdint>

constexpr int32_t kDefaultDpi = 203;

// Exactly 300 dpi prints 12 dots per millimetre, exactly 600 prints 24; every
// other value 8. Every path (a queue's resolution, a render's or a submit's
// dpi) takes its density from here.
constexpr int32_t dotsPerMm(int32_t dpi) {
  return dpi == 300 ? 12 : dpi == 600 ? 24 : 8;
}

// Wraps like the 32-bit product it stands for, without signed overflow.
constexpr int32_t mmToDots(int32_t mm, int32_t dpi) {
  return static_cast<int32_t>(static_cast<uint32_t>(dotsPerMm(dpi)) * static_cast<uint32_t>(mm));
}
