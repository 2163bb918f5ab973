#pragma once
// A request for a label of a size in millimetres with a BMP's bytes, and the
// stream a language function makes for one and a hand-made prepared image,
// as bytes in a string.

#include <cstdint>
#include <string>
#include <utility>

#include "instruction/base.h"

inline TraceCodePrintParams labelRequest(std::string device, std::string language, bool cutter,
                                         int32_t widthMm, int32_t heightMm, const ByteVector& bmp) {
  TraceCodePrintParams p;
  p.device = std::move(device);
  p.instruction = std::move(language);
  p.withCutter = cutter;
  p.width = widthMm;
  p.height = heightMm;
  p.image = {bmp.data(), bmp.size()};
  return p;
}

using LanguageCommand = ByteVector (*)(const TraceCodePrintParams&, int32_t, const ByteVector&);

inline std::string generate(LanguageCommand command, int32_t widthMm, int32_t heightMm, bool cutter,
                            int32_t dpi, const ByteVector& image) {
  const ByteVector out =
      command(labelRequest("lab", "", cutter, widthMm, heightMm, image), dpi, image);
  return {out.begin(), out.end()};
}
