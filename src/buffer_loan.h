#pragma once
// The caller's Buffer, held for a job instead of copied at call time and read
// only when the preparation asks for it, on the JavaScript thread: there no
// script can detach, shrink or free it mid-read, and what is read is the
// Buffer as it is then, bounds included. Off that thread nothing touches its
// memory.
//
// A PNG (the `image` option) is copied there instead, since it is small, and
// decoded on the engine's thread into the gray image that is then prepared;
// why it could not be decoded is kept for the job's answer.

#include <node_api.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine.h"
#include "napi_utils.h"
#include "printer/print_request.h"

class BufferLoan : public ImageLoan {
 public:
  explicit BufferLoan(napi_ref buffer, bool png = false) : buffer_(buffer), png_(png) {}

  // From the job's run(), before the request is prepared: the request's image
  // is read through this loan from now on.
  void start(engine::Loop& loop, TraceCodePrintParams& request) {
    loop_ = &loop;
    request.loan = this;
  }

  // Preparing costs a few nanoseconds per label dot, copying a fraction of
  // one per byte: a source much smaller than its label (an enlargement) is
  // copied there and prepared here, so the JavaScript thread pays the
  // smaller of the two.
  bool lend(uint64_t labelDots, const std::function<void(ImageView)>& read) const override {
    if (png_) return lendPng(read);
    std::vector<uint8_t> copy;
    bool copied = false;
    const bool lent = loop_->run([&](napi_env env) {
      napi_value buffer = nullptr;
      napi_get_reference_value(env, buffer_, &buffer);
      const ImageView bytes = buffer != nullptr ? BufferBytes(env, buffer) : ImageView{};
      if (bytes.size / 4 > labelDots) return read(bytes);
      copy.assign(bytes.data, bytes.data + bytes.size);
      copied = true;
    });
    if (lent && copied) read({copy.data(), copy.size()});
    return lent;
  }

  // After lend(), on any thread: why the PNG could not be read, or empty.
  const std::string& reason() const { return reason_; }

  // From the job's settle(), on the JavaScript thread.
  void release(napi_env env) {
    if (buffer_ != nullptr) napi_delete_reference(env, buffer_);
    buffer_ = nullptr;
  }

 private:
  // The compressed bytes are copied on the JavaScript thread; inflating and
  // converting them happen here, on the engine's, row by row into the label.
  // The copy's memory is faulted in here first: on a virtual machine a fresh
  // 8 MB buffer took 45 to 75 ms to fault in, against 0.6 ms to copy into.
  bool lendPng(const std::function<void(ImageView)>& read) const {
    auto bytesOf = [this](napi_env env) {
      napi_value buffer = nullptr;
      napi_get_reference_value(env, buffer_, &buffer);
      return buffer != nullptr ? BufferBytes(env, buffer) : ImageView{};
    };
    size_t size = 0;
    if (!loop_->run([&](napi_env env) { size = bytesOf(env).size; })) return false;
    std::vector<uint8_t> copy(size);
    const bool lent = loop_->run([&](napi_env env) {
      const ImageView bytes = bytesOf(env);
      if (bytes.size == copy.size()) {
        std::copy(bytes.data, bytes.data + bytes.size, copy.begin());
      } else {  // the Buffer changed in between
        copy.assign(bytes.data, bytes.data + bytes.size);
      }
    });
    if (!lent) return false;
    ImageView png{copy.data(), copy.size()};
    png.png = true;
    png.reason = &reason_;
    read(png);
    return true;
  }

  napi_ref buffer_;
  bool png_ = false;
  engine::Loop* loop_ = nullptr;
  mutable std::string reason_;
};

// Submits the job that makeJob(held) builds around a reference to `buffer`,
// which the job's BufferLoan releases when it settles; the request's in-place
// image is dropped, to be read again through the loan. The reference is
// deleted again when the job never reaches the engine. Null, with nothing
// submitted, when no reference could be taken.
template <typename MakeJob>
napi_value SubmitBorrowing(napi_env env, napi_value buffer, TraceCodePrintParams& request,
                           MakeJob makeJob) {
  request.image = {};
  napi_ref held = nullptr;
  if (napi_create_reference(env, buffer, 1, &held) != napi_ok) return nullptr;
  try {
    return engine::submit(env, makeJob(held));
  } catch (...) {
    napi_delete_reference(env, held);
    throw;
  }
}
