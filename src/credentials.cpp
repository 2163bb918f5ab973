#include "credentials.h"

#include <string>
#include <utility>

#include "addon.h"
#include "napi_utils.h"

namespace credentials {
namespace {

using Held = std::shared_ptr<const cupsauth::Credentials>;

const char* const kTypeError =
    "setCredentials takes { user, password } (strings of at most 255 bytes, user not empty) or "
    "null";

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
    napi_value arg = nullptr;
    napi_valuetype type = napi_undefined;
    if (!TypedArgument(env, info, arg, type)) return nullptr;
    Held chosen;
    if (type == napi_object) {
      auto read = std::make_shared<cupsauth::Credentials>();
      const bool ok = ReadText(env, arg, "user", read->user) && !read->user.empty() &&
                      ReadText(env, arg, "password", read->password);
      bool pending = false;
      napi_is_exception_pending(env, &pending);
      if (pending) return nullptr;
      if (!ok) {
        ThrowArgTypeError(env, kTypeError);
        return nullptr;
      }
      chosen = std::move(read);
    } else if (type != napi_null) {
      ThrowArgTypeError(env, kTypeError);
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
