#include "credentials.h"

#include <string>
#include <utility>

#include "addon.h"

namespace credentials {
namespace {

using Held = std::shared_ptr<const cupsauth::Credentials>;

void typeError(napi_env env) {
  napi_value code = nullptr;
  napi_value message = nullptr;
  napi_value error = nullptr;
  napi_create_string_utf8(env, "ERR_INVALID_ARG_TYPE", NAPI_AUTO_LENGTH, &code);
  napi_create_string_utf8(env,
                          "setCredentials takes { user, password } (strings of at most 255 "
                          "bytes, user not empty) or null",
                          NAPI_AUTO_LENGTH, &message);
  if (napi_create_type_error(env, code, message, &error) == napi_ok) napi_throw(env, error);
}

// A string property of at most 255 bytes without NUL; false otherwise, or
// with a getter's exception pending.
bool ReadText(napi_env env, napi_value object, const char* name, std::string& out) {
  napi_value value = nullptr;
  napi_valuetype type = napi_undefined;
  size_t length = 0;
  if (napi_get_named_property(env, object, name, &value) != napi_ok ||
      napi_typeof(env, value, &type) != napi_ok || type != napi_string ||
      napi_get_value_string_utf8(env, value, nullptr, 0, &length) != napi_ok || length > 255) {
    return false;
  }
  // Read with its length: GetStringValue would stop at a NUL.
  out.assign(length, '\0');
  char scratch[256];
  if (napi_get_value_string_utf8(env, value, scratch, sizeof scratch, nullptr) != napi_ok) {
    return false;
  }
  out.assign(scratch, length);
  return out.find('\0') == std::string::npos;
}

}  // namespace

napi_value SetCredentials(napi_env env, napi_callback_info info) {
  try {
    size_t argc = 1;
    napi_value argv[1] = {nullptr};
    if (napi_get_cb_info(env, info, &argc, argv, nullptr, nullptr) != napi_ok) return nullptr;
    napi_valuetype type = napi_undefined;
    if (argc > 0 && napi_typeof(env, argv[0], &type) != napi_ok) return nullptr;
    Held chosen;
    if (type == napi_object) {
      auto read = std::make_shared<cupsauth::Credentials>();
      const bool ok = ReadText(env, argv[0], "user", read->user) && !read->user.empty() &&
                      ReadText(env, argv[0], "password", read->password);
      bool pending = false;
      napi_is_exception_pending(env, &pending);
      if (pending) return nullptr;
      if (!ok) {
        typeError(env);
        return nullptr;
      }
      chosen = std::move(read);
    } else if (type != napi_null) {
      typeError(env);
      return nullptr;
    }
    addon::State* state = addon::of(env);
    if (state != nullptr) state->credentials = std::move(chosen);
    return nullptr;
  } catch (...) {
    return nullptr;  // only an allocation can fail here: the credentials stay as they were
  }
}

Held of(napi_env env) {
  const addon::State* state = addon::of(env);
  return state != nullptr ? state->credentials : nullptr;
}

}  // namespace credentials
