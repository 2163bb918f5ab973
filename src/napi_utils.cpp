#include "napi_utils.h"

#include <memory>

// The text ends at the first zero character, as a C string would.
napi_status GetStringValue(napi_env env, napi_value value, std::string& result) {
  size_t length = 0;
  napi_status status = napi_get_value_string_utf8(env, value, nullptr, 0, &length);
  if (status != napi_ok) return status;
  std::unique_ptr<char[]> scratch(new char[length + 1]());
  status = napi_get_value_string_utf8(env, value, scratch.get(), length + 1, nullptr);
  if (status != napi_ok) return status;
  result = std::string(scratch.get());
  return napi_ok;
}

napi_status GetStringProperty(napi_env env, napi_value object, const char* name,
                              std::string& result) {
  napi_value value;
  napi_status status = napi_get_named_property(env, object, name, &value);
  if (status != napi_ok) return status;
  return GetStringValue(env, value, result);
}

napi_status GetBufferPropertyInPlace(napi_env env, napi_value object, const char* name,
                                     ImageView& bytes, napi_value* buffer) {
  napi_value value;
  napi_status status = napi_get_named_property(env, object, name, &value);
  if (status != napi_ok) return status;
  bool isBuffer = false;
  if (napi_is_buffer(env, value, &isBuffer) != napi_ok || !isBuffer) return napi_invalid_arg;
  void* data = nullptr;
  size_t length = 0;
  status = napi_get_buffer_info(env, value, &data, &length);
  if (status != napi_ok) return status;
  bytes = {static_cast<const uint8_t*>(data), length};
  if (buffer != nullptr) *buffer = value;
  return napi_ok;
}

ImageView BufferBytes(napi_env env, napi_value buffer) {
  void* data = nullptr;
  size_t length = 0;
  if (napi_get_buffer_info(env, buffer, &data, &length) != napi_ok || data == nullptr) return {};
  return {static_cast<const uint8_t*>(data), length};
}

napi_status GetInt32Property(napi_env env, napi_value object, const char* name, int32_t& result) {
  napi_value value;
  napi_status status = napi_get_named_property(env, object, name, &value);
  if (status != napi_ok) return status;
  return napi_get_value_int32(env, value, &result);
}

napi_status GetBoolProperty(napi_env env, napi_value object, const char* name, bool& result) {
  napi_value value;
  napi_status status = napi_get_named_property(env, object, name, &value);
  if (status != napi_ok) return status;
  return napi_get_value_bool(env, value, &result);
}

bool ReadPrintRequest(napi_env env, napi_value options, TraceCodePrintParams& params,
                      napi_value* buffer) {
  return GetStringProperty(env, options, "device", params.device) == napi_ok &&
         !params.device.empty() &&
         GetStringProperty(env, options, "instruction", params.instruction) == napi_ok &&
         !params.instruction.empty() &&
         GetBoolProperty(env, options, "withCutter", params.withCutter) == napi_ok &&
         GetInt32Property(env, options, "width", params.width) == napi_ok && params.width != 0 &&
         GetInt32Property(env, options, "height", params.height) == napi_ok && params.height != 0 &&
         GetBufferPropertyInPlace(env, options, "buffer", params.image, buffer) == napi_ok;
}

bool ReadCheckedLabel(napi_env env, napi_value label, TraceCodePrintParams& params) {
  return GetStringProperty(env, label, "device", params.device) == napi_ok &&
         GetStringProperty(env, label, "instruction", params.instruction) == napi_ok &&
         GetBoolProperty(env, label, "withCutter", params.withCutter) == napi_ok &&
         GetInt32Property(env, label, "width", params.width) == napi_ok &&
         GetInt32Property(env, label, "height", params.height) == napi_ok &&
         GetBoolProperty(env, label, "compress", params.compress) == napi_ok;
}

bool ReadCompressOption(napi_env env, napi_value options, TraceCodePrintParams& params) {
  // Asked first so that a request without it reads no property it did not
  // read before the option existed.
  bool present = false;
  if (napi_has_named_property(env, options, "compress", &present) != napi_ok) return false;
  if (!present) return true;
  napi_value value = nullptr;
  napi_valuetype type = napi_undefined;
  if (napi_get_named_property(env, options, "compress", &value) != napi_ok ||
      napi_typeof(env, value, &type) != napi_ok) {
    return false;
  }
  if (type == napi_undefined) return true;
  return type == napi_boolean && napi_get_value_bool(env, value, &params.compress) == napi_ok;
}

napi_value MakeBoolean(napi_env env, bool value) {
  napi_value result = nullptr;
  napi_get_boolean(env, value, &result);
  return result;
}

napi_value Null(napi_env env) {
  napi_value result = nullptr;
  napi_get_null(env, &result);
  return result;
}

napi_value Undefined(napi_env env) {
  napi_value result = nullptr;
  napi_get_undefined(env, &result);
  return result;
}

napi_value Argument(napi_env env, napi_callback_info info) {
  size_t argc = 1;
  napi_value argv[1] = {nullptr};
  if (napi_get_cb_info(env, info, &argc, argv, nullptr, nullptr) != napi_ok || argc == 0) {
    return nullptr;
  }
  return argv[0];
}

bool TypedArgument(napi_env env, napi_callback_info info, napi_value& value, napi_valuetype& type) {
  size_t argc = 1;
  napi_value argv[1] = {nullptr};
  if (napi_get_cb_info(env, info, &argc, argv, nullptr, nullptr) != napi_ok) return false;
  value = argv[0];
  type = napi_undefined;
  return argc == 0 || napi_typeof(env, value, &type) == napi_ok;
}

void ThrowArgTypeError(napi_env env, const char* message) {
  napi_value code = nullptr;
  napi_value text = nullptr;
  napi_value error = nullptr;
  napi_create_string_utf8(env, "ERR_INVALID_ARG_TYPE", NAPI_AUTO_LENGTH, &code);
  napi_create_string_utf8(env, message, NAPI_AUTO_LENGTH, &text);
  if (napi_create_type_error(env, code, text, &error) == napi_ok) napi_throw(env, error);
}
