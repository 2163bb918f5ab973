#include "job_stream_api.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine.h"
#include "napi_utils.h"
#include "printer/job_stream.h"

namespace {

using StreamPtr = std::shared_ptr<JobStream>;

const char* failureKind(PrintOutcome::Result result) {
  using Result = PrintOutcome::Result;
  switch (result) {
    case Result::kAccepted:
      return nullptr;
    case Result::kNoSuchPrinter:
      return "printer";
    case Result::kUnreachable:
      return "unreachable";
    case Result::kTimedOut:
      return "timeout";
    case Result::kAuthentication:
      return "authentication";
    case Result::kLost:
      return "lost";
    default:
      return "refused";
  }
}

void setNumber(napi_env env, napi_value object, const char* key, double value) {
  napi_value v = nullptr;
  napi_create_double(env, value, &v);
  napi_set_named_property(env, object, key, v);
}

void setText(napi_env env, napi_value object, const char* key, const std::string& value) {
  napi_value v = nullptr;
  napi_create_string_utf8(env, value.data(), value.size(), &v);
  napi_set_named_property(env, object, key, v);
}

// { jobId } or the failure record lib/api.js reads (submitError).
napi_value outcomeRecord(napi_env env, const PrintOutcome& outcome, const std::string& printer) {
  napi_value record = nullptr;
  napi_create_object(env, &record);
  if (const char* kind = failureKind(outcome.result)) {
    setText(env, record, "failure", kind);
    setNumber(env, record, "cupsStatus", outcome.cupsStatus);
    setText(env, record, "cupsMessage", outcome.cupsMessage);
    if (outcome.result == PrintOutcome::Result::kAuthentication) {
      napi_set_named_property(env, record, "withCredentials",
                              MakeBoolean(env, outcome.withCredentials));
    }
  } else {
    setNumber(env, record, "jobId", outcome.jobId);
    setNumber(env, record, "bytes", static_cast<double>(outcome.bytes));
  }
  setText(env, record, "printer", printer);
  return record;
}

// What the writing thread hands to the JavaScript thread.
struct Message {
  JobStream::Event event;
  std::string printer;
};

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

// The environment is going away with the stream still open: abandon it.
void finalizeLink(napi_env /*env*/, void* data, void* /*hint*/) {
  std::unique_ptr<StreamPtr> stream(static_cast<StreamPtr*>(data));
  (*stream)->end(true);
}

class OpenJob : public engine::Job {
 public:
  OpenJob(StreamPtr stream, std::string printer, napi_threadsafe_function tsfn)
      : stream_(std::move(stream)), printer_(std::move(printer)), tsfn_(tsfn) {}

  void run(engine::Loop& /*loop*/) override {
    napi_threadsafe_function tsfn = tsfn_;
    std::string printer = printer_;
    outcome_ = stream_->open([tsfn, printer](const JobStream::Event& event) {
      auto message = std::make_unique<Message>(Message{event, printer});
      if (napi_call_threadsafe_function(tsfn, message.get(), napi_tsfn_blocking) == napi_ok) {
        message.release();
      }
      if (event.done) napi_release_threadsafe_function(tsfn, napi_tsfn_release);
    });
  }

  napi_value settle(napi_env env) override {
    napi_value record = outcomeRecord(env, outcome_, printer_);
    if (!outcome_.accepted()) {
      napi_release_threadsafe_function(tsfn_, napi_tsfn_release);
      return record;
    }
    napi_value handle = nullptr;
    auto held = std::make_unique<StreamPtr>(stream_);
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
  StreamPtr stream_;
  std::string printer_;
  napi_threadsafe_function tsfn_;
  PrintOutcome outcome_;
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
    auto stream = std::make_shared<JobStream>(device, title, copies);
    auto link = std::make_unique<StreamPtr>(stream);
    napi_value name = nullptr;
    napi_create_string_utf8(env, "trace-label job stream", NAPI_AUTO_LENGTH, &name);
    napi_threadsafe_function tsfn = nullptr;
    if (napi_create_threadsafe_function(env, argv[1], nullptr, name, 0, 1, link.get(), finalizeLink,
                                        nullptr, callJs, &tsfn) != napi_ok) {
      return engine::settled(env, nullptr);
    }
    link.release();
    return engine::submit(env, std::make_unique<OpenJob>(stream, device, tsfn));
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
    // Read as renderTraceCode reads it; the image is copied here, while its
    // owner cannot change it, and made into a label on another thread.
    TraceCodePrintParams params;
    if (!ReadPrintRequest(env, argv[1], params) || !ReadCompressOption(env, argv[1], params)) {
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
