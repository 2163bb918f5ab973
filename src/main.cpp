// The module's face towards Node.js: the export table, the two blocking
// callbacks and their Promise-returning twins, renderTraceCode, setLogger,
// and the underscored calls that lib/api.js wraps (src/api.cpp). Nothing native may
// escape into the JavaScript engine, so each callback ends in a catch-all that
// answers like the nearest documented failure.

#include <node_api.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "api.h"
#include "buffer_loan.h"
#include "credentials.h"
#include "engine.h"
#include "helper/log.h"
#include "instruction/base.h"
#include "instruction/resolution.h"
#include "job_stream_api.h"
#include "logger.h"
#include "napi_utils.h"
#include "printer/query.h"
#include "printer/trace_code.h"
#include "watch.h"

namespace {

// checkPrinterConnection(name): true/false, or null for a missing, non-string or empty name.
napi_value CheckPrinterConnection(napi_env env, napi_callback_info info) {
  try {
    logger::CallScope log(env);
    cupsauth::Scope auth(credentials::of(env));
    napi_value arg = Argument(env, info);
    std::string name;
    if (arg == nullptr || GetStringValue(env, arg, name) != napi_ok || name.empty()) {
      return Null(env);
    }
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
    logger::CallScope log(env);
    cupsauth::Scope auth(credentials::of(env));
    napi_value options = Argument(env, info);
    TraceCodePrintParams params;
    if (options == nullptr || !ReadPrintRequest(env, options, params)) return nullptr;
    return MakeBoolean(env, execPrint(std::move(params)));
  } catch (...) {
    return MakeBoolean(env, false);
  }
}

// The check as a job: the same line and the same query, on the engine's thread.
class CheckJob : public engine::Job {
 public:
  explicit CheckJob(std::string name) : name_(std::move(name)) {}
  void run(engine::Loop& /*loop*/) override {
    tracelog::line("[DEBUG] Checking printer connection: %s\n", name_.c_str());
    connected_ = printerIsConnected(name_);
  }
  napi_value settle(napi_env env) override { return MakeBoolean(env, connected_); }

 private:
  std::string name_;
  bool connected_ = false;
};

// The print as a job, its image read where the loan lends it.
class PrintJob : public engine::Job {
 public:
  PrintJob(TraceCodePrintParams params, napi_ref buffer)
      : params_(std::move(params)), loan_(buffer) {}

  void run(engine::Loop& loop) override {
    loan_.start(loop, params_);
    printed_ = execPrint(std::move(params_));
  }

  napi_value settle(napi_env env) override {
    loan_.release(env);
    return MakeBoolean(env, printed_);
  }

 private:
  TraceCodePrintParams params_;
  BufferLoan loan_;
  bool printed_ = false;
};

// checkPrinterConnectionAsync(name): a Promise of what checkPrinterConnection answers.
napi_value CheckPrinterConnectionAsync(napi_env env, napi_callback_info info) {
  try {
    napi_value arg = Argument(env, info);
    std::string name;
    if (arg == nullptr || GetStringValue(env, arg, name) != napi_ok || name.empty()) {
      return engine::settled(env, Null(env));
    }
    return engine::submit(env, std::make_unique<CheckJob>(std::move(name)));
  } catch (...) {
    return engine::settled(env, MakeBoolean(env, false));
  }
}

// printTraceCodeAsync(options): a Promise of what printTraceCode answers. The
// options are read here, by the same reader; an exception it raised rejects.
napi_value PrintTraceCodeAsync(napi_env env, napi_callback_info info) {
  try {
    napi_value options = Argument(env, info);
    if (options == nullptr) return engine::settled(env, Undefined(env));
    TraceCodePrintParams params;
    napi_value buffer = nullptr;
    if (!ReadPrintRequest(env, options, params, &buffer)) {
      bool thrown = false;
      napi_is_exception_pending(env, &thrown);
      return engine::settled(env, thrown ? nullptr : Undefined(env));
    }
    napi_value promise = SubmitBorrowing(env, buffer, params, [&](napi_ref held) {
      return std::make_unique<PrintJob>(std::move(params), held);
    });
    return promise != nullptr ? promise : engine::settled(env, MakeBoolean(env, false));
  } catch (...) {
    return engine::settled(env, MakeBoolean(env, false));
  }
}

// _dotsPerMm(dpi): the dot density of a resolution, for the JavaScript side
// (the command-line tool's decoding and its status line).
napi_value DotsPerMm(napi_env env, napi_callback_info info) {
  napi_value arg = Argument(env, info);
  int32_t dpi = 0;
  if (arg == nullptr || napi_get_value_int32(env, arg, &dpi) != napi_ok) return nullptr;
  napi_value result = nullptr;
  napi_create_int32(env, dotsPerMm(dpi), &result);
  return result;
}

// The resolution argument of renderTraceCode: missing or undefined means the
// print path's default; anything but a number is refused. Like a resolution
// from CUPS it is taken as it is, and its dot density follows dotsPerMm.
bool ReadDpi(napi_env env, size_t argc, napi_value value, int32_t& dpi) {
  dpi = kDefaultDpi;
  if (argc < 2) return true;
  napi_valuetype type = napi_undefined;
  if (napi_typeof(env, value, &type) != napi_ok) return false;
  if (type == napi_undefined) return true;
  return napi_get_value_int32(env, value, &dpi) == napi_ok;
}

// renderTraceCode(options, dpi?): a Buffer with the command stream that
// printTraceCode would submit to a printer of that resolution (ZPL graphics
// compressed when options.compress is true), made without asking CUPS; false
// when the language is unknown or the image or the command could not be made
// (where printTraceCode answers false before submitting); undefined for a
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
      {"checkPrinterConnection", nullptr, CheckPrinterConnection, nullptr, nullptr, nullptr,
       napi_default, nullptr},
      {"printTraceCode", nullptr, PrintTraceCode, nullptr, nullptr, nullptr, napi_default, nullptr},
      {"checkPrinterConnectionAsync", nullptr, CheckPrinterConnectionAsync, nullptr, nullptr,
       nullptr, napi_default, nullptr},
      {"printTraceCodeAsync", nullptr, PrintTraceCodeAsync, nullptr, nullptr, nullptr, napi_default,
       nullptr},
      {"renderTraceCode", nullptr, RenderTraceCode, nullptr, nullptr, nullptr, napi_default,
       nullptr},
      {"setLogger", nullptr, logger::SetLogger, nullptr, nullptr, nullptr, napi_default, nullptr},
      {"setCredentials", nullptr, credentials::SetCredentials, nullptr, nullptr, nullptr,
       napi_default, nullptr},
      // Wrapped by index.js, which makes their failure records into Errors.
      {"_submitTraceCode", nullptr, SubmitTraceCode, nullptr, nullptr, nullptr, napi_default,
       nullptr},
      {"_listPrinters", nullptr, ListPrinters, nullptr, nullptr, nullptr, napi_default, nullptr},
      {"_getPrinter", nullptr, GetPrinter, nullptr, nullptr, nullptr, napi_default, nullptr},
      {"_getJob", nullptr, GetJob, nullptr, nullptr, nullptr, napi_default, nullptr},
      {"_cancelJob", nullptr, CancelJob, nullptr, nullptr, nullptr, napi_default, nullptr},
      {"_dotsPerMm", nullptr, DotsPerMm, nullptr, nullptr, nullptr, napi_default, nullptr},
      {"_watch", nullptr, Watch, nullptr, nullptr, nullptr, napi_default, nullptr},
      {"_openJobStream", nullptr, OpenJobStream, nullptr, nullptr, nullptr, napi_default, nullptr},
      {"_jobStreamPrepare", nullptr, JobStreamPrepare, nullptr, nullptr, nullptr, napi_default,
       nullptr},
      {"_jobStreamEnd", nullptr, JobStreamEnd, nullptr, nullptr, nullptr, napi_default, nullptr},
  };
  napi_define_properties(env, exports, sizeof(kExports) / sizeof(kExports[0]), kExports);
  // Values of this environment, so not in the table shared by every one.
  const napi_property_descriptor kFacts[] = {
      {"_facts", nullptr, nullptr, nullptr, nullptr, Facts(env), napi_default, nullptr},
  };
  napi_define_properties(env, exports, sizeof(kFacts) / sizeof(kFacts[0]), kFacts);
  return exports;
}

}  // namespace

TRACE_LABEL_MODULE(Init)
