#pragma once
// Readers that turn JavaScript values into native ones. Each returns the
// status of the first Node-API call that failed and leaves every judgement
// (which values are acceptable) to its caller. None of them logs.

#include <node_api.h>

#include <cstdint>
#include <string>

#include "printer/print_request.h"

napi_status GetStringValue(napi_env env, napi_value value, std::string& result);
napi_status GetStringProperty(napi_env env, napi_value object, const char* name,
                              std::string& result);
// The Buffer's own bytes, not a copy: valid while the Buffer is reachable
// and not detached, which holds for the rest of a synchronous callback.
napi_status GetBufferPropertyInPlace(napi_env env, napi_value object, const char* name,
                                     ImageView& bytes, napi_value* buffer = nullptr);
// The bytes of a Buffer as they are now; none for a value that is no Buffer
// (any more) or whose memory is detached.
ImageView BufferBytes(napi_env env, napi_value buffer);
napi_status GetInt32Property(napi_env env, napi_value object, const char* name, int32_t& result);
napi_status GetBoolProperty(napi_env env, napi_value object, const char* name, bool& result);

// The options of a print request, read in a fixed order that stops at the first
// refusal, so a getter of a later property never runs after an earlier one was
// refused. False for a refused request; a getter's exception stays pending.
// The image is read in place: the request must not outlive the callback
// unless the caller keeps `buffer` (the Buffer read) and lends it instead.
bool ReadPrintRequest(napi_env env, napi_value options, TraceCodePrintParams& params,
                      napi_value* buffer = nullptr);

// A label lib/api.js checked and made plain: device, instruction,
// withCutter, width, height and compress, each there and of its type, so
// nothing is judged here; the image is the caller's to read. False when one
// cannot be read, which only a caller that goes around lib/api.js meets.
bool ReadCheckedLabel(napi_env env, napi_value label, TraceCodePrintParams& params);

// options.compress into params.compress: true when it is undefined or a
// boolean, false when it is anything else or its getter threw (pending).
bool ReadCompressOption(napi_env env, napi_value options, TraceCodePrintParams& params);

// A callback's first argument; null when it was called without one.
napi_value Argument(napi_env env, napi_callback_info info);
// The first argument and its type (undefined when there is none); false when
// they could not be read.
bool TypedArgument(napi_env env, napi_callback_info info, napi_value& value, napi_valuetype& type);
// Throws a TypeError with the code ERR_INVALID_ARG_TYPE.
void ThrowArgTypeError(napi_env env, const char* message);

// A JavaScript boolean, null and undefined; the status is not inspected.
napi_value MakeBoolean(napi_env env, bool value);
napi_value Null(napi_env env);
napi_value Undefined(napi_env env);

// The entry points Node looks for in a module built against Node-API 8,
// handing the exports object to `init`. Every module of the package uses it.
#define TRACE_LABEL_MODULE(init)                                                         \
  extern "C" NAPI_MODULE_EXPORT int32_t node_api_module_get_api_version_v1(void) {       \
    return 8;                                                                            \
  }                                                                                      \
  extern "C" NAPI_MODULE_EXPORT napi_value napi_register_module_v1(napi_env env,         \
                                                                   napi_value exports) { \
    return init(env, exports);                                                           \
  }
