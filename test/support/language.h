#pragma once
// The stream a language generates, as bytes in a string, for a hand-made
// prepared image in place of the one the base would prepare from a request.

#include <cstdint>
#include <string>
#include <utility>

#include "instruction/base.h"

template <typename Language>
std::string generate(int32_t widthMm, int32_t heightMm, bool cutter, int32_t dpi,
                     ByteVector image) {
  struct Loaded : Language {
    Loaded(TraceCodePrintParams p, int32_t dpi, ByteVector image) : Language(std::move(p), dpi) {
      this->bmpData = std::move(image);
    }
  };
  TraceCodePrintParams p;
  p.device = "lab";
  p.withCutter = cutter;
  p.width = widthMm;
  p.height = heightMm;
  const ByteVector out = Loaded(std::move(p), dpi, std::move(image)).generateCommand();
  return {out.begin(), out.end()};
}
