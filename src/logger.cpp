#include "logger.h"

#include "addon.h"

namespace logger {
namespace {

bool typeError(napi_env env) {
  napi_value code = nullptr;
  napi_value message = nullptr;
  napi_value error = nullptr;
  napi_create_string_utf8(env, "ERR_INVALID_ARG_TYPE", NAPI_AUTO_LENGTH, &code);
  napi_create_string_utf8(env, "setLogger takes a function, null or undefined", NAPI_AUTO_LENGTH,
                          &message);
  if (napi_create_type_error(env, code, message, &error) == napi_ok) napi_throw(env, error);
  return false;
}

}  // namespace

napi_value SetLogger(napi_env env, napi_callback_info info) {
  try {
    size_t argc = 1;
    napi_value argv[1] = {nullptr};
    if (napi_get_cb_info(env, info, &argc, argv, nullptr, nullptr) != napi_ok) return nullptr;
    napi_valuetype type = napi_undefined;
    if (argc > 0 && napi_typeof(env, argv[0], &type) != napi_ok) return nullptr;
    if (type != napi_undefined && type != napi_null && type != napi_function) {
      typeError(env);
      return nullptr;
    }
    napi_ref function = nullptr;
    if (type == napi_function && napi_create_reference(env, argv[0], 1, &function) != napi_ok) {
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
