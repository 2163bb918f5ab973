// The module's face towards Node.js: the export table and the two callbacks.
// Nothing native may escape into the engine, so each callback ends in a
// catch-all that answers like the nearest documented failure.

#include <node_api.h>

#include <string>
#include <utility>

#include "helper/log.h"
#include "napi_utils.h"
#include "printer/query.h"
#include "printer/trace_code.h"

namespace {

napi_value Null(napi_env env) {
  napi_value result = nullptr;
  napi_get_null(env, &result);
  return result;
}

// checkPrinterConnection(name): true/false, or null for a missing, non-string or empty name.
napi_value CheckPrinterConnection(napi_env env, napi_callback_info info) {
  try {
    size_t argc = 1;
    napi_value argv[1];
    if (napi_get_cb_info(env, info, &argc, argv, nullptr, nullptr) != napi_ok || argc == 0) {
      return Null(env);
    }
    std::string name;
    if (GetStringValue(env, argv[0], name) != napi_ok || name.empty()) return Null(env);
    tracelog::line("[DEBUG] Checking printer connection: %s\n", name.c_str());
    return MakeBoolean(env, printerIsConnected(name));
  } catch (...) {
    return Null(env);
  }
}

// printTraceCode(options): true when CUPS accepted the job, false when a later
// stage failed, undefined for a request that cannot be read.
napi_value PrintTraceCode(napi_env env, napi_callback_info info) {
  try {
    size_t argc = 1;
    napi_value argv[1];
    if (napi_get_cb_info(env, info, &argc, argv, nullptr, nullptr) != napi_ok || argc == 0) {
      return nullptr;
    }
    TraceCodePrintParams params;
    if (!ReadPrintRequest(env, argv[0], params)) return nullptr;
    return MakeBoolean(env, execPrint(std::move(params)));
  } catch (...) {
    return MakeBoolean(env, false);
  }
}

napi_value Init(napi_env env, napi_value exports) {
  static const napi_property_descriptor kExports[] = {
      {"checkPrinterConnection", nullptr, CheckPrinterConnection, nullptr, nullptr, nullptr,
       napi_default, nullptr},
      {"printTraceCode", nullptr, PrintTraceCode, nullptr, nullptr, nullptr, napi_default, nullptr},
  };
  napi_define_properties(env, exports, sizeof(kExports) / sizeof(kExports[0]), kExports);
  return exports;
}

}  // namespace

TRACE_LABEL_MODULE(Init)
