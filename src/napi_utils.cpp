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
                                     const uint8_t*& data, size_t& length) {
  napi_value value;
  napi_status status = napi_get_named_property(env, object, name, &value);
  if (status != napi_ok) return status;
  bool isBuffer = false;
  if (napi_is_buffer(env, value, &isBuffer) != napi_ok || !isBuffer) return napi_invalid_arg;
  void* bytes = nullptr;
  status = napi_get_buffer_info(env, value, &bytes, &length);
  if (status != napi_ok) return status;
  data = static_cast<const uint8_t*>(bytes);
  return napi_ok;
}

napi_status GetBufferProperty(napi_env env, napi_value object, const char* name,
                              std::vector<uint8_t>& result) {
  const uint8_t* bytes = nullptr;
  size_t length = 0;
  const napi_status status = GetBufferPropertyInPlace(env, object, name, bytes, length);
  if (status != napi_ok) return status;
  result.assign(bytes, bytes + length);
  return napi_ok;
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

napi_status HasProperty(napi_env env, napi_value object, const char* name, bool& result) {
  return napi_has_named_property(env, object, name, &result);
}

bool ReadPrintRequest(napi_env env, napi_value options, TraceCodePrintParams& params) {
  return GetStringProperty(env, options, "device", params.device) == napi_ok &&
         !params.device.empty() &&
         GetStringProperty(env, options, "instruction", params.instruction) == napi_ok &&
         !params.instruction.empty() &&
         GetBoolProperty(env, options, "withCutter", params.withCutter) == napi_ok &&
         GetInt32Property(env, options, "width", params.width) == napi_ok && params.width != 0 &&
         GetInt32Property(env, options, "height", params.height) == napi_ok && params.height != 0 &&
         GetBufferPropertyInPlace(env, options, "buffer", params.bufferInPlace,
                                  params.bufferInPlaceSize) == napi_ok;
}

napi_value MakeBoolean(napi_env env, bool value) {
  napi_value result = nullptr;
  napi_get_boolean(env, value, &result);
  return result;
}
