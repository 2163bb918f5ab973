#pragma once
// PNG files made into the gray BMP the print path reads, with libpng linked
// into the binary. Every colour type, bit depth and interlacing reads as the
// JavaScript decoder read it: samples scaled to 8 bits, palette and tRNS
// transparency as alpha, alpha laid over white paper, then the gray level of
// pixelrows::gray(); the label made from the result is the label toBMP's
// 24-bit BMP made.
//
// Memory is bounded before anything is inflated: the header's size is checked
// first, then rows are inflated one at a time and handed out as gray rows
// (an interlaced image, whose rows come in seven passes, is first gathered
// into one 8-bit plane of the rows the caller wants: up to about 100 MB at
// 10000 x 10000), and pixel data that goes on inflating past the rows its
// header declares is refused as soon as it does.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

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

// The resolution a decoded PNG is given: 2835 pixels a metre (72 dpi).
inline constexpr uint8_t kResolution[8] = {0x13, 0x0b, 0, 0, 0x13, 0x0b, 0, 0};

// A PNG's gray rows, top row first, decoded as they are asked for. Plain
// C++: one thread at a time; reads nothing but the bytes given to open(),
// which must outlive it. After any false answer the reader is spent and
// reason() says why, as a sentence that starts "unreadable image: ".
class RowReader {
 public:
  RowReader();
  ~RowReader();
  RowReader(RowReader&&) noexcept;
  RowReader& operator=(RowReader&&) noexcept;

  // The signature and every chunk up to the pixel data; the size is checked.
  bool open(const uint8_t* png, size_t size);
  uint32_t width() const { return width_; }
  uint32_t height() const { return height_; }
  // Before the first row: only rows y with wanted[y] will be looked at, so
  // an interlaced image, which is gathered whole first, keeps only those;
  // the others' gray levels are then left unwritten. Every row is still
  // decoded and checked.
  void wantRows(const std::vector<bool>& wanted);
  // The next row's width() gray levels.
  bool nextRow(uint8_t* gray);
  // After the last row: the rest of the file, which must hold no more pixel
  // data and no damaged chunk.
  bool finish();
  const std::string& reason() const { return reason_; }

 private:
  struct State;
  bool fail();
  std::unique_ptr<State> state_;
  uint32_t width_ = 0;
  uint32_t height_ = 0;
  std::string reason_;
};

// The PNG as an 8-bit bottom-up BMP with the gray ramp; empty, with `reason`
// set to a sentence that starts "unreadable image: ", when it cannot be read.
// Plain C++: runs on any thread and touches nothing but its arguments.
ByteVector decode(const uint8_t* png, size_t size, std::string& reason);

}  // namespace pnggray
