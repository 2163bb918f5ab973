#include "logger.h"

#include "addon.h"
#include "napi_utils.h"

namespace logger {
napi_value SetLogger(napi_env env, napi_callback_info info) {
  try {
    napi_value arg = nullptr;
    napi_valuetype type = napi_undefined;
    if (!TypedArgument(env, info, arg, type)) return nullptr;
    if (type != napi_undefined && type != napi_null && type != napi_function) {
      ThrowArgTypeError(env, "setLogger takes a function, null or undefined");
      return nullptr;
    }
    napi_ref function = nullptr;
    if (type == napi_function && napi_create_reference(env, arg, 1, &function) != napi_ok) {
      return nullptr;
    }

    addon::State* state = addon::of(env);
    if (state == nullptr) {
      if (function != nullptr) napi_delete_reference(env, function);
      return nullptr;
    }
    napi_ref replaced = state->logger;
    state->logger = function;
    state->silent = type == napi_null;
    if (replaced != nullptr) napi_delete_reference(env, replaced);
    return nullptr;
  } catch (...) {
    return nullptr;  // only an allocation can fail here: the logger stays as it was
  }
}

std::unique_ptr<Capture> Capture::start(napi_env env) {
  const addon::State* choice = addon::of(env);
  if (choice == nullptr || (!choice->silent && choice->logger == nullptr)) return nullptr;
  std::unique_ptr<Capture> capture(new Capture());
  if (choice->logger != nullptr) {
    napi_value function = nullptr;
    napi_get_reference_value(env, choice->logger, &function);
    if (function != nullptr) napi_create_reference(env, function, 1, &capture->function_);
  }
  return capture;
}

Capture::~Capture() = default;

void Capture::write(const char* text, size_t size) noexcept {
  if (function_ == nullptr) return;
  try {
    lines_.emplace_back(text, size);
  } catch (...) {  // out of memory: the line is lost, the call goes on
  }
}

void Capture::deliver(napi_env env) noexcept {
  if (function_ == nullptr) return;
  napi_value function = nullptr;
  napi_get_reference_value(env, function_, &function);
  napi_delete_reference(env, function_);
  function_ = nullptr;

  napi_value pending = nullptr;
  bool thrown = false;
  if (napi_is_exception_pending(env, &thrown) == napi_ok && thrown) {
    napi_get_and_clear_last_exception(env, &pending);
  }
  napi_value receiver = nullptr;
  napi_get_undefined(env, &receiver);
  for (const std::string& line : lines_) {
    if (function == nullptr) break;
    napi_handle_scope scope = nullptr;
    if (napi_open_handle_scope(env, &scope) != napi_ok) break;
    const size_t size = !line.empty() && line.back() == '\n' ? line.size() - 1 : line.size();
    napi_value text = nullptr;
    napi_value ignored = nullptr;
    if (napi_create_string_utf8(env, line.data(), size, &text) == napi_ok &&
        napi_call_function(env, receiver, function, 1, &text, &ignored) != napi_ok) {
      napi_value dropped = nullptr;
      napi_get_and_clear_last_exception(env, &dropped);
    }
    napi_close_handle_scope(env, scope);
  }
  lines_.clear();
  if (pending != nullptr) napi_throw(env, pending);
}

CallScope::CallScope(napi_env env)
    : env_(env), capture_(Capture::start(env)), previous_(tracelog::currentSink()) {
  tracelog::currentSink() = capture_.get();
}

CallScope::~CallScope() {
  tracelog::currentSink() = previous_;
  if (capture_) capture_->deliver(env_);
}

}  // namespace logger
