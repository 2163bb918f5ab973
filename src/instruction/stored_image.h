#pragma once
// The label that PPLA and DPL share: set the label length, download the
// prepared image whole (a BMP file) under a fixed name, then print one label
// that places it at the origin. The two languages differ only in line ends.

#include <cstdint>

#include "helper/bmp.h"

enum class LineEnd : uint8_t { CrLf, Cr };  // PPLA, DPL

// Height in tenths of a millimetre: mm x 10 + 0.5 as one fused single-precision
// operation, truncated toward zero (saturating outside the int32 range).
int32_t storedImageTenths(int32_t mm);

// The whole stream; the image bytes go out unchanged, whatever they contain.
ByteVector buildStoredImageLabel(const ByteVector& image, int32_t heightTenths, bool withCutter,
                                 LineEnd lineEnd);
