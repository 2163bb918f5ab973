#include "helper/png_gray.h"

#include <png.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstring>
#include <vector>

#include "helper/bmp_source.h"
#include "helper/pixel_rows.h"

namespace pnggray {
namespace {

// The reader's state. libpng reports errors by longjmp, so everything that
// has a destructor lives here, outside the function that calls setjmp.
struct Decoder {
  Decoder(const uint8_t* b, size_t n) : bytes(b), size(n) {}
  const uint8_t* bytes;
  size_t size;
  size_t at = 8;
  bool truncated = false;
  bool excess = false;  // pixel data past the declared rows (a warning in libpng)
  std::string message;  // libpng's, or ours
  std::vector<uint8_t> row;
  uint8_t palette[256][4] = {};
  int paletteSize = 0;
};

// One owner for png_destroy_read_struct.
struct ReadStruct {
  png_structp png = nullptr;
  png_infop info = nullptr;
  ~ReadStruct() { png_destroy_read_struct(&png, info != nullptr ? &info : nullptr, nullptr); }
};

void readBytes(png_structp png, png_bytep into, png_size_t count) {
  auto* d = static_cast<Decoder*>(png_get_io_ptr(png));
  if (d->size - d->at < count) {
    d->truncated = true;
    png_error(png, "truncated");
  }
  std::memcpy(into, d->bytes + d->at, count);
  d->at += count;
}

void onError(png_structp png, png_const_charp message) {
  auto* d = static_cast<Decoder*>(png_get_error_ptr(png));
  if (d->message.empty()) d->message = message;
  png_longjmp(png, 1);
}

// libpng takes pixel data past the declared rows for a warning and stops
// inflating there; it is noted, to refuse the file. Other warnings (an
// incorrect colour profile, say) change nothing, as in the JavaScript decoder.
void onWarning(png_structp png, png_const_charp message) {
  const std::string m = message;
  if (m.find("Too much image data") != std::string::npos ||
      m.find("xtra compressed data") != std::string::npos ||
      m.find("Too many IDATs") != std::string::npos) {
    static_cast<Decoder*>(png_get_error_ptr(png))->excess = true;
  }
}

// A sample at `depth` bits scaled to 8 as the JavaScript decoder scaled it.
inline uint32_t to8(uint32_t v, uint32_t max) {
  return static_cast<uint32_t>(std::floor(static_cast<double>(v) * 255 / max + 0.5));
}

// c over white, rounded as toBMP rounds it.
inline uint32_t overWhite(uint32_t c, uint32_t a) {
  return (c * a + 255 * (255 - a) + 127) / 255;
}

struct Format {
  int colorType;
  int depth;
  int channels;
  uint32_t max;  // the largest sample
  bool hasKey;   // tRNS colour key of a gray or RGB image
  uint32_t key[3];
};

// The gray levels of `count` pixels of one decoded row (samples unpacked to a
// byte each, or two big-endian bytes at 16 bits), one every `step` bytes of dst.
bool grayRow(Decoder& d, const Format& f, const uint8_t* src, uint32_t count, uint8_t* dst,
             uint32_t step) {
  const int bytes = f.depth == 16 ? 2 : 1;
  auto sample = [&](uint32_t i) -> uint32_t {
    return bytes == 2 ? (uint32_t{src[2 * i]} << 8 | src[2 * i + 1]) : src[i];
  };
  for (uint32_t x = 0; x < count; ++x, dst += step) {
    uint32_t r, g, b, a = 255;
    if (f.colorType == PNG_COLOR_TYPE_PALETTE) {
      const uint32_t index = src[x];
      if (static_cast<int>(index) >= d.paletteSize) {
        d.message = "a pixel uses colour " + std::to_string(index) + " of a " +
                    std::to_string(d.paletteSize) + "-colour palette";
        return false;
      }
      r = d.palette[index][0];
      g = d.palette[index][1];
      b = d.palette[index][2];
      a = d.palette[index][3];
    } else {
      const uint32_t base = x * f.channels;
      const bool colour = f.colorType & PNG_COLOR_MASK_COLOR;
      const uint32_t s0 = sample(base);
      const uint32_t s1 = colour ? sample(base + 1) : s0;
      const uint32_t s2 = colour ? sample(base + 2) : s0;
      const bool alpha = f.colorType & PNG_COLOR_MASK_ALPHA;
      if (f.hasKey && s0 == f.key[0] && (!colour || (s1 == f.key[1] && s2 == f.key[2]))) {
        r = g = b = a = 0;  // the key colour is transparent black
      } else {
        const bool scale = f.depth != 8;
        r = scale ? to8(s0, f.max) : s0;
        g = scale ? to8(s1, f.max) : s1;
        b = scale ? to8(s2, f.max) : s2;
        if (alpha) {
          const uint32_t sa = sample(base + (colour ? 3 : 1));
          a = scale ? to8(sa, f.max) : sa;
        }
      }
    }
    if (a != 255) {
      r = overWhite(r, a);
      g = overWhite(g, a);
      b = overWhite(b, a);
    }
    *dst = pixelrows::gray(r, g, b);
  }
  return true;
}

// Reads the header and sets up the reader. Everything that may longjmp
// (here and in the functions below) has `d` and `rs` outliving it and no
// local with a destructor.
bool readHeader(Decoder& d, ReadStruct& rs, Format& f, uint32_t& width, uint32_t& height,
                bool& interlaced) {
  png_structp png = rs.png;
  png_infop info = rs.info;
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_read_fn(png, &d, readBytes);
  png_set_sig_bytes(png, 8);
  // A damaged chunk of any kind refuses the file, as the JavaScript decoder did.
  png_set_crc_action(png, PNG_CRC_ERROR_QUIT, PNG_CRC_ERROR_QUIT);
  png_read_info(png, info);

  width = png_get_image_width(png, info);
  height = png_get_image_height(png, info);
  if (width < 1 || width > kMaxSide || height < 1 || height > kMaxSide) {
    d.message = "the PNG is " + std::to_string(width) + " x " + std::to_string(height) +
                " pixels; each side must be a whole number from 1 to " + std::to_string(kMaxSide);
    return false;
  }
  f.colorType = png_get_color_type(png, info);
  f.depth = png_get_bit_depth(png, info);
  f.channels = png_get_channels(png, info);
  f.max = (1u << f.depth) - 1;
  png_bytep alphas = nullptr;
  int alphaCount = 0;
  png_color_16p key = nullptr;
  if (png_get_valid(png, info, PNG_INFO_tRNS)) png_get_tRNS(png, info, &alphas, &alphaCount, &key);
  if (f.colorType == PNG_COLOR_TYPE_PALETTE) {
    png_colorp colours = nullptr;
    int count = 0;
    png_get_PLTE(png, info, &colours, &count);
    d.paletteSize = count;
    for (int i = 0; i < count; ++i) {
      d.palette[i][0] = colours[i].red;
      d.palette[i][1] = colours[i].green;
      d.palette[i][2] = colours[i].blue;
      d.palette[i][3] = i < alphaCount && alphas != nullptr ? alphas[i] : 255;
    }
  } else if (key != nullptr) {
    f.hasKey = true;
    f.key[0] = f.colorType == PNG_COLOR_TYPE_GRAY ? key->gray : key->red;
    f.key[1] = key->green;
    f.key[2] = key->blue;
  }
  if (f.depth < 8) png_set_packing(png);  // a byte a sample, not scaled
  interlaced = png_get_interlace_type(png, info) == PNG_INTERLACE_ADAM7;
  png_read_update_info(png, info);
  d.row.resize(png_get_rowbytes(png, info));
  return true;
}

// One row of a non-interlaced image, as gray levels.
bool readRow(Decoder& d, ReadStruct& rs, const Format& f, uint32_t width, uint8_t* gray) {
  if (setjmp(png_jmpbuf(rs.png))) return false;
  png_read_row(rs.png, d.row.data(), nullptr);
  return grayRow(d, f, d.row.data(), width, gray, 1);
}

constexpr uint32_t kNoSlot = UINT32_MAX;

// Every pass of an interlaced image into a top-down plane of the rows that
// `slot` gives a place (slot[y] is row y's index in the plane). Without
// libpng's deinterlacing each Adam7 pass comes as its own small image, which
// is scattered into the plane as it arrives; the rows of no slot are
// converted into `scratch` all the same, so that every pixel is checked.
bool readPasses(Decoder& d, ReadStruct& rs, const Format& f, uint32_t width, uint32_t height,
                const uint32_t* slot, uint8_t* plane, uint8_t* scratch) {
  if (setjmp(png_jmpbuf(rs.png))) return false;
  for (int pass = 0; pass < 7; ++pass) {
    const uint32_t cols = PNG_PASS_COLS(width, pass);
    const uint32_t rows = PNG_PASS_ROWS(height, pass);
    if (cols == 0 || rows == 0) continue;  // libpng skips empty passes too
    const uint32_t dx = 1u << PNG_PASS_COL_SHIFT(pass), dy = 1u << PNG_PASS_ROW_SHIFT(pass);
    for (uint32_t i = 0; i < rows; ++i) {
      png_read_row(rs.png, d.row.data(), nullptr);
      const uint32_t y = PNG_PASS_START_ROW(pass) + i * dy;
      uint8_t* row = slot[y] != kNoSlot ? plane + size_t{slot[y]} * width : scratch;
      uint8_t* dst = row + PNG_PASS_START_COL(pass);
      if (!grayRow(d, f, d.row.data(), cols, dst, dx)) return false;
    }
  }
  return true;
}

// The rest of the file: more pixel data than the rows took, damaged or
// missing chunks after it.
bool readEnd(Decoder& d, ReadStruct& rs) {
  if (setjmp(png_jmpbuf(rs.png))) return false;
  png_read_end(rs.png, nullptr);
  if (d.excess) d.message = "Too much image data";
  return !d.excess;
}

// libpng's words, and ours, as the reason a person reads.
std::string explain(const Decoder& d) {
  const std::string& m = d.message;
  if (d.truncated) return "the PNG is truncated: the file ends before its last chunk";
  if (m.rfind("the PNG is ", 0) == 0) return m;
  if (m.find("CRC error") != std::string::npos) {
    const std::string chunk = m.size() > 4 && m[4] == ':' ? m.substr(0, 4) : "a";
    return "the PNG is damaged: the checksum of its " + chunk + " chunk does not match";
  }
  if (m == "Too much image data" || m == "Extra compressed data" ||
      m.find("IDAT: Too much") != std::string::npos) {
    return "the PNG is damaged: its pixel data inflates past the size its header declares";
  }
  if (m == "Not enough image data" || m.find("unexpected end") != std::string::npos) {
    return "the PNG is truncated: its pixel data ends before its last row";
  }
  if (m.rfind("a pixel", 0) == 0) {
    return "the PNG is damaged: " + m;
  }
  return "the PNG is damaged (" + m + ")";
}

}  // namespace

struct RowReader::State {
  State(const uint8_t* png, size_t size) : d(png, size) {}
  Decoder d;
  ReadStruct rs;
  Format f{};
  bool interlaced = false;
  // Interlaced images only: the wanted rows, top-down, and each row's place.
  std::vector<uint8_t> plane;
  std::vector<uint32_t> slot;
  uint32_t next = 0;  // rows handed out so far
};

RowReader::RowReader() = default;
RowReader::~RowReader() = default;
RowReader::RowReader(RowReader&&) noexcept = default;
RowReader& RowReader::operator=(RowReader&&) noexcept = default;

bool RowReader::fail() {
  reason_ = "unreadable image: " + explain(state_->d);
  state_.reset();
  return false;
}

bool RowReader::open(const uint8_t* png, size_t size) {
  reason_.clear();
  if (!isPng(png, size)) {
    reason_ = "unreadable image: not a PNG file";
    return false;
  }
  state_ = std::make_unique<State>(png, size);
  ReadStruct& rs = state_->rs;
  rs.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &state_->d, onError, onWarning);
  if (rs.png != nullptr) rs.info = png_create_info_struct(rs.png);
  if (rs.png == nullptr || rs.info == nullptr) {
    state_.reset();
    reason_ = "unreadable image: no memory to decode the PNG";
    return false;
  }
  if (!readHeader(state_->d, rs, state_->f, width_, height_, state_->interlaced)) return fail();
  return true;
}

bool RowReader::nextRow(uint8_t* gray) {
  if (!state_ || state_->next >= height_) return false;
  State& st = *state_;
  if (st.interlaced) {
    if (st.next == 0) {
      if (st.slot.empty()) wantRows(std::vector<bool>(height_, true));
      const uint32_t kept =
          height_ - static_cast<uint32_t>(std::count(st.slot.begin(), st.slot.end(), kNoSlot));
      st.plane.resize(size_t{width_} * kept);
      std::vector<uint8_t> scratch(width_);
      if (!readPasses(st.d, st.rs, st.f, width_, height_, st.slot.data(), st.plane.data(),
                      scratch.data())) {
        return fail();
      }
    }
    const uint32_t at = st.slot[st.next];
    if (at != kNoSlot) std::memcpy(gray, st.plane.data() + size_t{at} * width_, width_);
  } else if (!readRow(st.d, st.rs, st.f, width_, gray)) {
    return fail();
  }
  ++st.next;
  return true;
}

void RowReader::wantRows(const std::vector<bool>& wanted) {
  if (!state_ || !state_->interlaced || state_->next != 0) return;
  State& st = *state_;
  st.slot.assign(height_, kNoSlot);
  uint32_t kept = 0;
  for (uint32_t y = 0; y < height_ && y < wanted.size(); ++y) {
    if (wanted[y]) st.slot[y] = kept++;
  }
}

bool RowReader::finish() {
  if (!state_ || state_->next != height_) return false;
  const bool ok = readEnd(state_->d, state_->rs);
  if (!ok) return fail();
  state_.reset();
  return true;
}

ByteVector decode(const uint8_t* png, size_t size, std::string& reason) {
  RowReader reader;
  if (!reader.open(png, size)) {
    reason = reader.reason();
    return {};
  }
  const uint32_t width = reader.width(), height = reader.height();
  const uint32_t stride = preparedStride(width);
  ByteVector out = bmpsource::newPreparedImage(width, height, kResolution);
  out.resize(kPreparedPixelOffset + size_t{stride} * height);
  uint8_t* plane = out.data() + kPreparedPixelOffset;
  for (uint32_t y = 0; y < height; ++y) {
    if (!reader.nextRow(plane + size_t{height - 1 - y} * stride)) {
      reason = reader.reason();
      return {};
    }
  }
  if (!reader.finish()) {
    reason = reader.reason();
    return {};
  }
  return out;
}

}  // namespace pnggray
