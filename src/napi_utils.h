#pragma once
// Readers that turn JavaScript values into native ones. Each returns the
// status of the first Node-API call that failed and leaves every judgement
// (which values are acceptable) to its caller. None of them logs.

#include <node_api.h>

#include <cstdint>
#include <string>
#include <vector>

napi_status GetStringValue(napi_env env, napi_value value, std::string& result);
napi_status GetStringProperty(napi_env env, napi_value object, const char* name,
                              std::string& result);
napi_status GetBufferProperty(napi_env env, napi_value object, const char* name,
                              std::vector<uint8_t>& result);
napi_status GetInt32Property(napi_env env, napi_value object, const char* name, int32_t& result);
napi_status GetBoolProperty(napi_env env, napi_value object, const char* name, bool& result);
napi_status HasProperty(napi_env env, napi_value object, const char* name, bool& result);
