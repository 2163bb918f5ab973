#include "instruction/stored_image.h"

#include <cmath>
#include <limits>
#include <string>
#include <string_view>

#include "instruction/base.h"
#include "instruction/raster.h"

namespace {

constexpr std::string_view kStx = "\x02";
constexpr std::string_view kImageName = "qrv1";

// Collects lines, each closed by the language's line end.
class Lines {
 public:
  explicit Lines(LineEnd lineEnd) : eol_(lineEnd == LineEnd::CrLf ? "\r\n" : "\r") {}
  template <typename... Parts>
  void add(const Parts&... parts) {
    (text_.append(parts), ...);
    text_.append(eol_);
  }
  const std::string& text() const { return text_; }

 private:
  std::string_view eol_;
  std::string text_;
};

}  // namespace

int32_t storedImageTenths(int32_t mm) {
  const float tenths = std::fma(static_cast<float>(mm), 10.0f, 0.5f);
  if (tenths >= 2147483648.0f) return std::numeric_limits<int32_t>::max();
  if (tenths < -2147483648.0f) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(tenths);
}

ByteVector buildStoredImageLabel(const ByteVector& image, int32_t heightTenths, bool withCutter,
                                 LineEnd lineEnd) {
  const std::string length = BaseInstruction::padWithZeros(heightTenths, 4);
  const std::string zero = BaseInstruction::padWithZeros(0, 4);

  Lines setup(lineEnd);
  setup.add(kStx, "m");
  setup.add(kStx, "M", length);
  setup.add(kStx, "c", length);
  setup.add(kStx, "O", zero);
  if (withCutter) setup.add(kStx, "V1");
  setup.add(kStx, "MTT");
  setup.add(kStx, "qA");
  setup.add(kStx, "IAB", kImageName);

  // The downloaded image's own line end comes first.
  Lines label(lineEnd);
  label.add();
  label.add(kStx, "L");
  label.add("C0000");
  label.add("m");
  label.add("H15");
  label.add("D11");
  label.add("1Y11000", zero, zero, kImageName);
  if (withCutter) label.add(":", BaseInstruction::padWithZeros(1, 4));
  label.add("E");
  if (!withCutter) label.add(kStx, "F");

  ByteVector out;
  out.reserve(setup.text().size() + image.size() + label.text().size());
  appendText(out, setup.text());
  out.insert(out.end(), image.begin(), image.end());
  appendText(out, label.text());
  return out;
}
