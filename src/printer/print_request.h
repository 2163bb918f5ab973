#pragma once
// The request record of one print job, shared by the entry points, the
// language dispatch and the language classes.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// Bytes that someone else owns; whoever fills a view keeps them alive.
struct ImageView {
  const uint8_t* data = nullptr;
  size_t size = 0;
};

// For a request that runs away from the thread that owns its image (the
// async calls): the image is read only inside lend(), at a moment when the
// owner cannot change or free it, and as it is at that moment.
class ImageLoan {
 public:
  virtual ~ImageLoan() = default;
  // Runs `read` on the image, which it will turn into a label of
  // `labelDots` pixels; false, without running it, when the image is gone
  // for good (the owner has shut down).
  virtual bool lend(uint64_t labelDots, const std::function<void(ImageView)>& read) const = 0;
};

// One print request, filled from the JavaScript options object. Its field
// names are the option names. It is a plain value that owns no image bytes:
// stages that only read it take it by reference or have it moved to them.
// The copies a job may ask for.
constexpr int32_t kMinCopies = 1;
constexpr int32_t kMaxCopies = 999;

struct TraceCodePrintParams {
  std::string device;
  std::string instruction = "PCL";  // names no language until the caller sets one
  bool withCutter = false;
  int32_t width = 0;   // millimetres
  int32_t height = 0;  // millimetres
  ImageView image;     // the complete bytes of a BMP file; ignored when `loan` is set
  const ImageLoan* loan = nullptr;
  // Set by submitTraceCode only; the print path keeps these defaults.
  std::string title = "Qorvin";
  int32_t copies = 0;     // above 0: the job's copies option; 0 sends none
  int32_t dotsPerMm = 0;  // above 0: the label's density, whatever the resolution
  // Set by submitTraceCode and renderTraceCode: ZPL graphics go out compressed.
  bool compress = false;
  bool jobUuid = false;  // give the job a job-uuid of ours, to tell it from a later job of its id
};
