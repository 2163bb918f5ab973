// A bench-only Node-API module over trace_label_core: it lets the JavaScript
// benchmarks time the C++ preparation and the language generators directly,
// next to JavaScript and npm alternatives. The add-on's own exports are not
// touched; nothing here ships.

#include <node_api.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <utility>

#include "helper/bmp.h"
#include "helper/label_image.h"
#include "instruction/base.h"
#include "napi_utils.h"
#include "printer/cups_link.h"
#include "printer/trace_code.h"

// The print path's private stages, which BaseInstruction lets this bench reach.
struct BaseInstructionStages {
  // The label is made at a fixed resolution; the lookup then asks a scheduler link of its own.
  static void lookup(BaseInstruction& label) {
    label.link_ = cupsLink();
    label.loadPrinterDefaults();
  }
  static bool submit(BaseInstruction& label, const ByteVector& command) {
    return label.sendCommandToPrinterMacOS(command);
  }
};

namespace {

// Throws a JavaScript error and returns null from the callback.
napi_value fail(napi_env env, const char* message) {
  napi_throw_error(env, nullptr, message);
  return nullptr;
}

bool args(napi_env env, napi_callback_info info, size_t want, napi_value* argv) {
  size_t argc = want;
  return napi_get_cb_info(env, info, &argc, argv, nullptr, nullptr) == napi_ok && argc == want;
}

int32_t int32Of(napi_env env, napi_value v) {
  int32_t out = 0;
  napi_get_value_int32(env, v, &out);
  return out;
}

template <typename T>
T* externalOf(napi_env env, napi_value v) {
  void* data = nullptr;
  if (napi_get_value_external(env, v, &data) != napi_ok) return nullptr;
  return static_cast<T*>(data);
}

// `bytes` is the native memory the object holds, reported to V8 so that it
// collects spent objects in time.
template <typename T>
napi_value wrap(napi_env env, std::unique_ptr<T> object, int64_t bytes = 0) {
  napi_value out = nullptr;
  napi_create_external(
      env, object.get(),
      [](napi_env env, void* data, void* hint) {
        int64_t ignored = 0;
        napi_adjust_external_memory(env, -reinterpret_cast<intptr_t>(hint), &ignored);
        delete static_cast<T*>(data);
      },
      reinterpret_cast<void*>(static_cast<intptr_t>(bytes)), &out);
  object.release();
  int64_t ignored = 0;
  napi_adjust_external_memory(env, bytes, &ignored);
  return out;
}

// Hands the bytes to JavaScript without a copy. V8 is told about the memory,
// so that it collects spent buffers as soon as the add-on would free them.
napi_value toBuffer(napi_env env, ByteVector bytes) {
  auto* owned = new ByteVector(std::move(bytes));
  const auto size = static_cast<int64_t>(owned->size());
  napi_value out = nullptr;
  if (napi_create_external_buffer(
          env, owned->size(), owned->data(),
          [](napi_env env, void*, void* hint) {
            auto* bytes = static_cast<ByteVector*>(hint);
            int64_t ignored = 0;
            napi_adjust_external_memory(env, -static_cast<int64_t>(bytes->size()), &ignored);
            delete bytes;
          },
          owned, &out) != napi_ok) {
    delete owned;
    return fail(env, "external buffer refused");
  }
  int64_t ignored = 0;
  napi_adjust_external_memory(env, size, &ignored);
  return out;
}

// source(buffer): the BMP bytes copied once into native memory, so that each
// timed call works on them as the instruction base does, without a copy.
// Timed itself, it is the copy that the options reader used to make.
napi_value Source(napi_env env, napi_callback_info info) {
  napi_value argv[1];
  if (!args(env, info, 1, argv)) return fail(env, "source(buffer)");
  void* data = nullptr;
  size_t length = 0;
  if (napi_get_buffer_info(env, argv[0], &data, &length) != napi_ok)
    return fail(env, "not a Buffer");
  const auto* bytes = static_cast<const uint8_t*>(data);
  return wrap(env, std::make_unique<ByteVector>(bytes, bytes + length),
              static_cast<int64_t>(length));
}

// prepare(source, width, height): the one-pass label image the instruction base makes.
napi_value Prepare(napi_env env, napi_callback_info info) {
  napi_value argv[3];
  if (!args(env, info, 3, argv)) return fail(env, "prepare(source, width, height)");
  const ByteVector* source = externalOf<ByteVector>(env, argv[0]);
  if (source == nullptr) return fail(env, "not a source");
  LabelImageSource image;
  if (!image.open(*source)) return fail(env, "input refused");
  return toBuffer(env, image.resize(int32Of(env, argv[1]), int32Of(env, argv[2])));
}

// convertThenResize(source, width, height): the two passes it replaced.
napi_value ConvertThenResize(napi_env env, napi_callback_info info) {
  napi_value argv[3];
  if (!args(env, info, 3, argv)) return fail(env, "convertThenResize(source, width, height)");
  const ByteVector* source = externalOf<ByteVector>(env, argv[0]);
  if (source == nullptr) return fail(env, "not a source");
  const ByteVector converted = convertTo8BitBMP(*source);
  if (converted.empty()) return fail(env, "input refused");
  return toBuffer(env, resizeBMP(converted, int32Of(env, argv[1]), int32Of(env, argv[2])));
}

// label(language, buffer, widthMm, heightMm, withCutter): an instruction
// object prepared at 203 dpi without asking CUPS, for generate().
napi_value Label(napi_env env, napi_callback_info info) {
  napi_value argv[5];
  if (!args(env, info, 5, argv)) return fail(env, "label(language, buffer, wMm, hMm, cutter)");
  TraceCodePrintParams params;
  char language[16] = {};
  napi_get_value_string_utf8(env, argv[0], language, sizeof language, nullptr);
  params.instruction = language;
  params.device = "bench";
  void* data = nullptr;
  size_t length = 0;
  if (napi_get_buffer_info(env, argv[1], &data, &length) != napi_ok)
    return fail(env, "not a Buffer");
  params.image = {static_cast<const uint8_t*>(data), length};  // read while the label is made
  params.width = int32Of(env, argv[2]);
  params.height = int32Of(env, argv[3]);
  napi_get_value_bool(env, argv[4], &params.withCutter);
  std::unique_ptr<BaseInstruction> label = makeInstruction(std::move(params), 203);
  if (label == nullptr) return fail(env, "unknown language");
  if (label->preparedImage().empty()) return fail(env, "image refused");
  return wrap(env, std::move(label));
}

// render(language, buffer, widthMm, heightMm, withCutter): the command
// stream straight from a BMP at 203 dpi, as printTraceCode makes it before
// submitting: image read in place, prepared, generated, object released.
napi_value Render(napi_env env, napi_callback_info info) {
  napi_value argv[5];
  if (!args(env, info, 5, argv)) return fail(env, "render(language, buffer, wMm, hMm, cutter)");
  TraceCodePrintParams params;
  char language[16] = {};
  napi_get_value_string_utf8(env, argv[0], language, sizeof language, nullptr);
  params.instruction = language;
  params.device = "bench";
  void* data = nullptr;
  size_t length = 0;
  if (napi_get_buffer_info(env, argv[1], &data, &length) != napi_ok) {
    return fail(env, "not a Buffer");
  }
  params.image = {static_cast<const uint8_t*>(data), length};
  params.width = int32Of(env, argv[2]);
  params.height = int32Of(env, argv[3]);
  napi_get_value_bool(env, argv[4], &params.withCutter);
  ByteVector command;
  {
    std::unique_ptr<BaseInstruction> label = makeInstruction(std::move(params), 203);
    if (label == nullptr) return fail(env, "unknown language");
    command = label->generateCommand();
  }
  if (command.empty()) return fail(env, "no command");
  return toBuffer(env, std::move(command));
}

// generate(label): the command stream, as exec would submit it.
napi_value Generate(napi_env env, napi_callback_info info) {
  napi_value argv[1];
  if (!args(env, info, 1, argv)) return fail(env, "generate(label)");
  BaseInstruction* label = externalOf<BaseInstruction>(env, argv[0]);
  if (label == nullptr) return fail(env, "not a label");
  return toBuffer(env, label->generateCommand());
}

// prepared(label): the label's prepared image.
napi_value Prepared(napi_env env, napi_callback_info info) {
  napi_value argv[1];
  if (!args(env, info, 1, argv)) return fail(env, "prepared(label)");
  BaseInstruction* label = externalOf<BaseInstruction>(env, argv[0]);
  if (label == nullptr) return fail(env, "not a label");
  return toBuffer(env, label->preparedImage());
}

// breakdown(options): one print, as printTraceCode makes it, timed stage
// by stage in milliseconds: reading the options (the image copied once),
// preparing the image, asking CUPS for the resolution, generating, submitting.
// The resolution is asked after the preparation here; the work is the same.
napi_value Breakdown(napi_env env, napi_callback_info info) {
  using Clock = std::chrono::steady_clock;
  napi_value argv[1];
  if (!args(env, info, 1, argv)) return fail(env, "breakdown(options)");
  const auto t0 = Clock::now();
  TraceCodePrintParams params;
  if (!ReadPrintRequest(env, argv[0], params)) return fail(env, "options refused");
  const auto t1 = Clock::now();
  std::unique_ptr<BaseInstruction> label = makeInstruction(std::move(params), 203);
  if (label == nullptr) return fail(env, "unknown language");
  const auto t2 = Clock::now();
  BaseInstructionStages::lookup(*label);
  const auto t3 = Clock::now();
  const ByteVector command = label->generateCommand();
  const auto t4 = Clock::now();
  const bool ok = !command.empty() && BaseInstructionStages::submit(*label, command);
  const auto t5 = Clock::now();

  napi_value out = nullptr;
  napi_create_object(env, &out);
  const auto put = [&](const char* name, Clock::time_point a, Clock::time_point b) {
    napi_value v = nullptr;
    napi_create_double(env, std::chrono::duration<double, std::milli>(b - a).count(), &v);
    napi_set_named_property(env, out, name, v);
  };
  put("read", t0, t1);
  put("prepare", t1, t2);
  put("lookup", t2, t3);
  put("generate", t3, t4);
  put("submit", t4, t5);
  napi_value accepted = nullptr;
  napi_get_boolean(env, ok, &accepted);
  napi_set_named_property(env, out, "ok", accepted);
  return out;
}

// muteLog(true) sends the core's log lines to /dev/null, muteLog(false)
// back to standard output, so a timed loop measures work, not the terminal.
// glibc lets a program point stdout at another stream.
napi_value MuteLog(napi_env env, napi_callback_info info) {
  static FILE* const original = stdout;
  static FILE* const sink = std::fopen("/dev/null", "w");
  napi_value argv[1];
  bool mute = true;
  if (args(env, info, 1, argv)) napi_get_value_bool(env, argv[0], &mute);
  std::fflush(stdout);
  stdout = mute && sink != nullptr ? sink : original;
  return nullptr;
}

// threadCpuMs(): the calling thread's CPU time in milliseconds, to tell
// work done on the event loop from time the process spent preempted.
napi_value ThreadCpuMs(napi_env env, napi_callback_info /*info*/) {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  napi_value result = nullptr;
  napi_create_double(env, now.tv_sec * 1e3 + now.tv_nsec / 1e6, &result);
  return result;
}

napi_value Init(napi_env env, napi_value exports) {
  const napi_property_descriptor props[] = {
      {"source", nullptr, Source, nullptr, nullptr, nullptr, napi_default, nullptr},
      {"prepare", nullptr, Prepare, nullptr, nullptr, nullptr, napi_default, nullptr},
      {"convertThenResize", nullptr, ConvertThenResize, nullptr, nullptr, nullptr, napi_default,
       nullptr},
      {"label", nullptr, Label, nullptr, nullptr, nullptr, napi_default, nullptr},
      {"render", nullptr, Render, nullptr, nullptr, nullptr, napi_default, nullptr},
      {"generate", nullptr, Generate, nullptr, nullptr, nullptr, napi_default, nullptr},
      {"prepared", nullptr, Prepared, nullptr, nullptr, nullptr, napi_default, nullptr},
      {"breakdown", nullptr, Breakdown, nullptr, nullptr, nullptr, napi_default, nullptr},
      {"muteLog", nullptr, MuteLog, nullptr, nullptr, nullptr, napi_default, nullptr},
      {"threadCpuMs", nullptr, ThreadCpuMs, nullptr, nullptr, nullptr, napi_default, nullptr},
  };
  napi_define_properties(env, exports, sizeof props / sizeof props[0], props);
  return exports;
}

}  // namespace

TRACE_LABEL_MODULE(Init)
