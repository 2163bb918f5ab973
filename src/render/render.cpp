// Rendering without printing: renderTraceCode(options, dpi) answers with the
// bytes that printTraceCode would submit for the same request to a printer of
// that resolution, made by the same language classes, without asking CUPS.
// A module of its own for now, with its own copy of the core: its only other
// export is setLogger, since its lines obey a logger of their own.

#include <node_api.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "instruction/base.h"
#include "logger.h"
#include "napi_utils.h"
#include "printer/trace_code.h"

namespace {

// The resolution argument: missing or undefined means the print path's default;
// anything but a number is refused. Like a resolution from CUPS it is taken as
// it is, and its dot density follows dotsPerMm.
bool ReadDpi(napi_env env, size_t argc, napi_value value, int32_t& dpi) {
  dpi = kDefaultDpi;
  if (argc < 2) return true;
  napi_valuetype type = napi_undefined;
  if (napi_typeof(env, value, &type) != napi_ok) return false;
  if (type == napi_undefined) return true;
  return napi_get_value_int32(env, value, &dpi) == napi_ok;
}

// renderTraceCode(options, dpi?): a Buffer with the command stream (ZPL
// graphics compressed when options.compress is true); false when
// the language is unknown or the image or the command could not be made (the
// cases where printTraceCode answers false before submitting); undefined for a
// refused request.
napi_value RenderTraceCode(napi_env env, napi_callback_info info) {
  try {
    logger::CallScope log(env);
    size_t argc = 2;
    napi_value argv[2] = {nullptr, nullptr};
    if (napi_get_cb_info(env, info, &argc, argv, nullptr, nullptr) != napi_ok || argc == 0) {
      return nullptr;
    }
    TraceCodePrintParams params;
    if (!ReadPrintRequest(env, argv[0], params)) return nullptr;
    if (!ReadCompressOption(env, argv[0], params)) return nullptr;
    int32_t dpi = kDefaultDpi;
    if (!ReadDpi(env, argc, argv[1], dpi)) return nullptr;

    std::unique_ptr<BaseInstruction> instruction = makeInstruction(std::move(params), dpi);
    if (!instruction) return MakeBoolean(env, false);
    const ByteVector command = instruction->render();
    if (command.empty()) return MakeBoolean(env, false);
    napi_value result = nullptr;
    if (napi_create_buffer_copy(env, command.size(), command.data(), nullptr, &result) != napi_ok) {
      return MakeBoolean(env, false);
    }
    return result;
  } catch (...) {
    return MakeBoolean(env, false);
  }
}

napi_value Init(napi_env env, napi_value exports) {
  static const napi_property_descriptor kExports[] = {
      {"renderTraceCode", nullptr, RenderTraceCode, nullptr, nullptr, nullptr, napi_default,
       nullptr},
      {"setLogger", nullptr, logger::SetLogger, nullptr, nullptr, nullptr, napi_default, nullptr},
  };
  napi_define_properties(env, exports, sizeof(kExports) / sizeof(kExports[0]), kExports);
  return exports;
}

}  // namespace

TRACE_LABEL_MODULE(Init)
