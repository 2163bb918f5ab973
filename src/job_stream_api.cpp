#include "job_stream_api.h"

#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "engine.h"
#include "napi_utils.h"
#include "printer/job_stream.h"
#include "record.h"

namespace {

using StreamPtr = std::shared_ptr<JobStream>;

// { jobId } or the failure record lib/api.js reads (submitError).
napi_value outcomeRecord(napi_env env, const PrintOutcome& outcome, const std::string& printer) {
  Record record(env);
  if (const char* kind = failureKind(outcome.result)) {
    record.text("failure", kind)
        .number("cupsStatus", outcome.cupsStatus)
        .text("cupsMessage", outcome.cupsMessage);
    if (outcome.result == PrintOutcome::Result::kAuthentication) {
      record.flag("withCredentials", outcome.withCredentials);
    }
  } else {
    record.number("jobId", outcome.jobId).number("bytes", static_cast<double>(outcome.bytes));
  }
  return record.text("printer", printer).value();
}

// What the writing thread hands to the JavaScript thread.
struct Message {
  JobStream::Event event;
  std::string printer;
};

// What the writing thread needs to reach JavaScript, and whether it still
// may: the function may only be called while it exists, so the check and the
// call happen under the lock that the environment's teardown takes.
struct Link {
  std::mutex mutex;
  napi_threadsafe_function tsfn = nullptr;
  bool closed = false;
  StreamPtr stream;
  std::string printer;

  void post(const JobStream::Event& event) {
    std::lock_guard<std::mutex> lock(mutex);
    if (closed) return;
    auto message = std::make_unique<Message>(Message{event, printer});
    if (napi_call_threadsafe_function(tsfn, message.get(), napi_tsfn_nonblocking) == napi_ok) {
      message.release();
    }
    if (event.done) release();
  }
  // Under the lock.
  void release() {
    closed = true;
    napi_release_threadsafe_function(tsfn, napi_tsfn_release);
  }
};
using LinkPtr = std::shared_ptr<Link>;

// The environment is going away with the stream still open: abandon it.
void onTeardown(void* data) {
  Link& link = **static_cast<LinkPtr*>(data);
  {
    std::lock_guard<std::mutex> lock(link.mutex);
    link.closed = true;
  }
  link.stream->end(true);
}

// The function is gone (released, or torn down before the hook ran): so is
// the hook, and the stream can no longer report.
void finalizeLink(napi_env env, void* data, void* /*hint*/) {
  std::unique_ptr<LinkPtr> link(static_cast<LinkPtr*>(data));
  if (env != nullptr) napi_remove_env_cleanup_hook(env, onTeardown, data);
  onTeardown(data);
}

void callJs(napi_env env, napi_value onEvent, void* /*context*/, void* data) {
  std::unique_ptr<Message> message(static_cast<Message*>(data));
  if (env == nullptr || onEvent == nullptr) return;
  napi_value args[4] = {nullptr, Undefined(env), nullptr, nullptr};
  napi_create_double(env, static_cast<double>(message->event.written), &args[0]);
  napi_create_double(env, static_cast<double>(message->event.prepared), &args[2]);
  napi_create_double(env, static_cast<double>(message->event.failedAt), &args[3]);
  if (message->event.done) {
    if (message->event.canceled) {
      napi_create_object(env, &args[1]);
      napi_set_named_property(env, args[1], "canceled", MakeBoolean(env, true));
    } else {
      args[1] = outcomeRecord(env, message->event.outcome, message->printer);
    }
  }
  napi_call_function(env, Undefined(env), onEvent, 4, args, nullptr);
  // An exception of the callback belongs to nobody: drop it.
  bool pending = false;
  if (napi_is_exception_pending(env, &pending) == napi_ok && pending) {
    napi_value ignored = nullptr;
    napi_get_and_clear_last_exception(env, &ignored);
  }
}

class OpenJob : public engine::Job {
 public:
  explicit OpenJob(LinkPtr link) : link_(std::move(link)) {}
  // Dropped unsettled (the queue could not start, or the environment went
  // away): a stream that never opened holds the function no longer.
  ~OpenJob() override {
    if (settled_ || outcome_.accepted()) return;
    std::lock_guard<std::mutex> lock(link_->mutex);
    if (!link_->closed) link_->release();
  }

  void run(engine::Loop& /*loop*/) override {
    LinkPtr link = link_;
    outcome_ = link_->stream->open([link](const JobStream::Event& event) { link->post(event); });
  }

  napi_value settle(napi_env env) override {
    settled_ = true;
    napi_value record = outcomeRecord(env, outcome_, link_->printer);
    if (!outcome_.accepted()) {
      std::lock_guard<std::mutex> lock(link_->mutex);
      if (!link_->closed) link_->release();
      return record;
    }
    napi_value handle = nullptr;
    auto held = std::make_unique<StreamPtr>(link_->stream);
    if (napi_create_external(
            env, held.get(),
            [](napi_env, void* data, void*) { delete static_cast<StreamPtr*>(data); }, nullptr,
            &handle) == napi_ok) {
      held.release();
    }
    napi_set_named_property(env, record, "handle", handle);
    return record;
  }

 private:
  LinkPtr link_;
  PrintOutcome outcome_;
  bool settled_ = false;
};

JobStream* streamOf(napi_env env, napi_value handle) {
  void* data = nullptr;
  napi_valuetype type = napi_undefined;
  if (handle == nullptr || napi_typeof(env, handle, &type) != napi_ok || type != napi_external ||
      napi_get_value_external(env, handle, &data) != napi_ok || data == nullptr) {
    return nullptr;
  }
  return static_cast<StreamPtr*>(data)->get();
}

}  // namespace

napi_value OpenJobStream(napi_env env, napi_callback_info info) {
  try {
    size_t argc = 2;
    napi_value argv[2] = {nullptr, nullptr};
    napi_get_cb_info(env, info, &argc, argv, nullptr, nullptr);
    std::string device;
    std::string title;
    int32_t copies = 0;
    napi_valuetype type = napi_undefined;
    if (argc < 2 || GetStringProperty(env, argv[0], "device", device) != napi_ok ||
        GetStringProperty(env, argv[0], "title", title) != napi_ok ||
        GetInt32Property(env, argv[0], "copies", copies) != napi_ok ||
        napi_typeof(env, argv[1], &type) != napi_ok || type != napi_function) {
      napi_throw_type_error(env, nullptr, "_openJobStream(request, onEvent)");
      return nullptr;
    }
    auto link = std::make_shared<Link>();
    link->stream = std::make_shared<JobStream>(device, title, copies);
    link->printer = device;
    auto hook = std::make_unique<LinkPtr>(link);
    napi_value name = nullptr;
    napi_create_string_utf8(env, "trace-label job stream", NAPI_AUTO_LENGTH, &name);
    if (napi_create_threadsafe_function(env, argv[1], nullptr, name, 0, 1, hook.get(), finalizeLink,
                                        hook.get(), callJs, &link->tsfn) != napi_ok) {
      return engine::settled(env, nullptr);
    }
    LinkPtr* held = hook.release();
    napi_add_env_cleanup_hook(env, onTeardown, held);
    return engine::submit(env, std::make_unique<OpenJob>(link));
  } catch (...) {
    return engine::settled(env, Null(env));
  }
}

napi_value JobStreamPrepare(napi_env env, napi_callback_info info) {
  size_t argc = 4;
  napi_value argv[4] = {nullptr, nullptr, nullptr, nullptr};
  napi_get_cb_info(env, info, &argc, argv, nullptr, nullptr);
  JobStream* stream = streamOf(env, argv[0]);
  int32_t dpi = 0;
  int32_t copies = 0;
  if (stream == nullptr || argc < 4 || napi_get_value_int32(env, argv[2], &dpi) != napi_ok ||
      napi_get_value_int32(env, argv[3], &copies) != napi_ok || copies < 1) {
    napi_throw_type_error(env, nullptr, "_jobStreamPrepare(handle, label, dpi, copies)");
    return nullptr;
  }
  try {
    // Checked and made plain by lib/api.js (plainLabel); the image is copied
    // here, while its owner cannot change it, and made into a label on
    // another thread.
    TraceCodePrintParams params;
    if (!ReadCheckedLabel(env, argv[1], params) ||
        GetBufferPropertyInPlace(env, argv[1], "buffer", params.image) != napi_ok) {
      bool pending = false;
      if (napi_is_exception_pending(env, &pending) == napi_ok && pending) return nullptr;
      return MakeBoolean(env, false);
    }
    std::vector<uint8_t> image = stream->spareImage();
    image.assign(params.image.data, params.image.data + params.image.size);
    params.image = {};
    stream->prepare(std::move(params), std::move(image), dpi, copies);
  } catch (...) {
    napi_throw_error(env, nullptr, "out of memory");
    return nullptr;
  }
  return MakeBoolean(env, true);
}

napi_value JobStreamEnd(napi_env env, napi_callback_info info) {
  size_t argc = 2;
  napi_value argv[2] = {nullptr, nullptr};
  napi_get_cb_info(env, info, &argc, argv, nullptr, nullptr);
  JobStream* stream = streamOf(env, argv[0]);
  bool cancel = false;
  if (stream == nullptr || argc < 2 || napi_get_value_bool(env, argv[1], &cancel) != napi_ok) {
    napi_throw_type_error(env, nullptr, "_jobStreamEnd(handle, cancel)");
    return nullptr;
  }
  stream->end(cancel);
  return Undefined(env);
}
