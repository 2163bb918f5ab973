#pragma once
// The stream a language function makes, as bytes in a string, for a request
// of this size and a hand-made prepared image.

#include <cstdint>
#include <string>

#include "instruction/base.h"

using LanguageCommand = ByteVector (*)(const TraceCodePrintParams&, int32_t, const ByteVector&);

inline std::string generate(LanguageCommand command, int32_t widthMm, int32_t heightMm, bool cutter,
                            int32_t dpi, const ByteVector& image) {
  TraceCodePrintParams p;
  p.device = "lab";
  p.withCutter = cutter;
  p.width = widthMm;
  p.height = heightMm;
  const ByteVector out = command(p, dpi, image);
  return {out.begin(), out.end()};
}
