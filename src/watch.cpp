#include "watch.h"

#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "addon.h"
#include "credentials.h"
#include "napi_utils.h"
#include "printer/watch_loop.h"

namespace {

using Kind = watch::Event::Kind;

const char* typeOf(Kind kind) {
  switch (kind) {
    case Kind::Subscribed:
      return "subscribed";
    case Kind::Polling:
      return "polling";
    case Kind::Changed:
      return "changed";
    case Kind::NotFound:
      return "notfound";
    case Kind::Failed:
      return "failed";
    case Kind::Closed:
      break;
  }
  return "closed";
}

void setText(napi_env env, napi_value object, const char* key, const std::string& text) {
  napi_value value = nullptr;
  napi_create_string_utf8(env, text.data(), text.size(), &value);
  napi_set_named_property(env, object, key, value);
}

// The failure record the other calls give (src/api.cpp's SchedulerFailure).
napi_value failureRecord(napi_env env, const watch::Event& event) {
  const char* kind = event.timedOut            ? "timeout"
                     : event.encryptionRefused ? "encryption"
                     : event.unreachable       ? "unreachable"
                     : event.authRefused       ? "authentication"
                     : event.failure.noAnswer  ? "lost"
                                               : "refused";
  napi_value record = nullptr;
  napi_value status = nullptr;
  napi_create_object(env, &record);
  setText(env, record, "failure", kind);
  napi_create_int32(env, static_cast<int32_t>(event.failure.status), &status);
  napi_set_named_property(env, record, "cupsStatus", status);
  setText(env, record, "cupsMessage",
          event.unreachable && !event.connectError.empty() ? event.connectError
                                                           : event.failure.message);
  napi_set_named_property(env, record, "withCredentials", MakeBoolean(env, event.withCredentials));
  return record;
}

// On the JavaScript thread: one event to the callback. What it throws is
// left for Node to report, as for any callback.
void callJs(napi_env env, napi_value callback, void* /*context*/, void* data) {
  std::unique_ptr<watch::Event> event(static_cast<watch::Event*>(data));
  if (env == nullptr || callback == nullptr) return;
  napi_value record = nullptr;
  napi_create_object(env, &record);
  setText(env, record, "type", typeOf(event->kind));
  if (event->kind == Kind::Polling || event->kind == Kind::Failed) {
    napi_set_named_property(env, record, "failure", failureRecord(env, *event));
  }
  napi_value ignored = nullptr;
  napi_call_function(env, Undefined(env), callback, 1, &record, &ignored);
}

// What the handle's stop() reaches; freed when the handle is collected,
// which stops the watcher too.
struct Holder {
  std::unique_ptr<watch::WatchLoop> loop;
};

napi_value Stop(napi_env env, napi_callback_info info) {
  void* data = nullptr;
  napi_get_cb_info(env, info, nullptr, nullptr, nullptr, &data);
  static_cast<Holder*>(data)->loop->stop();
  return Undefined(env);
}

void freeHolder(napi_env /*env*/, void* data, void* /*hint*/) {
  delete static_cast<Holder*>(data);
}

}  // namespace

napi_value Watch(napi_env env, napi_callback_info info) {
  size_t argc = 2;
  napi_value argv[2] = {nullptr, nullptr};
  napi_get_cb_info(env, info, &argc, argv, nullptr, nullptr);
  napi_valuetype type = napi_undefined;
  if (argc < 2 || napi_typeof(env, argv[1], &type) != napi_ok || type != napi_function) {
    napi_throw_type_error(env, nullptr, "_watch(target, callback)");
    return nullptr;
  }
  watch::Target target;
  bool hasPrinter = false;
  napi_has_named_property(env, argv[0], "printer", &hasPrinter);
  if (hasPrinter ? GetStringProperty(env, argv[0], "printer", target.printer) != napi_ok
                 : GetInt32Property(env, argv[0], "job", target.job) != napi_ok) {
    napi_throw_type_error(env, nullptr, "_watch: a printer name or a job id");
    return nullptr;
  }
  napi_value name = nullptr;
  napi_create_string_utf8(env, "trace-label watch", NAPI_AUTO_LENGTH, &name);
  napi_threadsafe_function tsfn = nullptr;
  if (napi_create_threadsafe_function(env, argv[1], nullptr, name, 0, 1, nullptr, nullptr, nullptr,
                                      callJs, &tsfn) != napi_ok) {
    return nullptr;
  }
  auto holder = std::make_unique<Holder>();
  holder->loop = std::make_unique<watch::WatchLoop>(
      std::move(target), credentials::of(env), [tsfn](const watch::Event& event) {
        auto* copy = new watch::Event(event);
        // Refused once the environment is going away: nobody is listening.
        if (napi_call_threadsafe_function(tsfn, copy, napi_tsfn_blocking) != napi_ok) delete copy;
        if (event.kind == Kind::Closed) napi_release_threadsafe_function(tsfn, napi_tsfn_release);
      });
  addon::pinLibrary();
  if (!holder->loop->start()) {
    napi_release_threadsafe_function(tsfn, napi_tsfn_release);
    napi_throw_error(env, nullptr, "the watcher's thread could not be started");
    return nullptr;
  }
  napi_value handle = nullptr;
  napi_value stop = nullptr;
  napi_create_object(env, &handle);
  Holder* raw = holder.release();
  napi_create_function(env, "stop", NAPI_AUTO_LENGTH, Stop, raw, &stop);
  napi_add_finalizer(env, stop, raw, freeHolder, nullptr, nullptr);
  napi_set_named_property(env, handle, "stop", stop);
  return handle;
}
