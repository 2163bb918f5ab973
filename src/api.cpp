#include "api.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "buffer_loan.h"
#include "engine.h"
#include "instruction/base.h"
#include "napi_utils.h"
#include "printer/cups_connection.h"
#include "printer/cups_dests.h"
#include "printer/kept_connection.h"
#include "printer/queue_resolution.h"
#include "printer/state.h"
#include "printer/trace_code.h"
#include "record.h"

namespace {

// Why an exchange with the scheduler failed, as the failure record names it.
struct SchedulerFailure {
  std::string kind;  // timeout, unreachable, encryption, authentication, lost or refused
  int status = 0;
  std::string message;
  bool withCredentials = false;

  static SchedulerFailure of(const CupsConnection& cups, const cupsstate::Failure& failure) {
    const char* kind = cups.timedOut()            ? "timeout"
                       : cups.encryptionRefused() ? "encryption"
                       : cups.http() == nullptr   ? "unreachable"
                       : cups.authRefused()       ? "authentication"
                       : failure.noAnswer         ? "lost"
                                                  : "refused";
    const std::string& message = cups.http() == nullptr && !cups.connectError().empty()
                                     ? cups.connectError()
                                     : failure.message;
    return {kind, static_cast<int>(failure.status), message, cups.hasCredentials()};
  }
  napi_value record(napi_env env) const {
    Record answer(env);
    answer.text("failure", kind).number("cupsStatus", status).text("cupsMessage", message);
    if (kind == "authentication") answer.flag("withCredentials", withCredentials);
    return answer.value();
  }
};

napi_value optionsFailure(napi_env env, const char* property) {
  return Record(env).text("failure", "options").text("property", property).value();
}

// ---- submitTraceCode ----

class SubmitJob : public engine::Job {
 public:
  SubmitJob(TraceCodePrintParams params, napi_ref buffer, bool png, std::optional<int32_t> dpi)
      : params_(std::move(params)), loan_(buffer, png), dpi_(dpi) {}

  void run(engine::Loop& loop) override {
    loan_.start(loop, params_);
    params_.connection = &loop.connection().get();
    printer_ = params_.device;
    language_ = params_.instruction;
    std::unique_ptr<BaseInstruction> instruction = makeInstruction(std::move(params_), dpi_);
    known_ = instruction != nullptr;
    if (known_) outcome_ = instruction->submit();
  }

  napi_value settle(napi_env env) override {
    loan_.release(env);
    if (!known_) return Record(env).text("failure", "language").text("language", language_).value();
    napi_value dots = Record(env)
                          .number("width", static_cast<double>(outcome_.widthDots))
                          .number("height", static_cast<double>(outcome_.heightDots))
                          .value();
    Record answer(env);
    if (const char* kind = failureKind(outcome_.result)) {
      answer.text("failure", kind)
          .number("cupsStatus", outcome_.cupsStatus)
          .text("cupsMessage", outcome_.cupsMessage);
      if (!loan_.reason().empty()) answer.text("reason", loan_.reason());
      if (outcome_.result == PrintOutcome::Result::kAuthentication) {
        answer.flag("withCredentials", outcome_.withCredentials);
      }
    } else {
      answer.number("jobId", outcome_.jobId).text("uuid", outcome_.jobUuid);
    }
    return answer.text("printer", printer_)
        .text("language", language_)
        .number("dpi", outcome_.dpi)
        .set("dots", dots)
        .number("bytes", static_cast<double>(outcome_.bytes))
        .value();
  }

 private:
  TraceCodePrintParams params_;
  BufferLoan loan_;
  std::optional<int32_t> dpi_;
  std::string printer_;
  std::string language_;
  bool known_ = false;
  PrintOutcome outcome_;
};

// An optional property: false when it is undefined, true with its value and
// type otherwise; a getter's exception stays pending.
bool ReadOptional(napi_env env, napi_value options, const char* name, napi_value& value,
                  napi_valuetype& type, bool& threw) {
  threw = napi_get_named_property(env, options, name, &value) != napi_ok;
  if (threw || napi_typeof(env, value, &type) != napi_ok) return threw = true, false;
  return type != napi_undefined;
}

// A whole number within [low, high], or refused.
bool WholeNumber(napi_env env, napi_value value, napi_valuetype type, double low, double high,
                 int32_t& out) {
  double number = 0;
  if (type != napi_number || napi_get_value_double(env, value, &number) != napi_ok ||
      std::trunc(number) != number || number < low || number > high) {
    return false;
  }
  out = static_cast<int32_t>(number);
  return true;
}

// The title of a job whose caller gave none: the label's language and size
// and a short id of its own ("ZPL 50x30mm 3f2a9c"), so that jobs tell apart
// in lpstat. Six hex digits: two jobs of one size share one only by chance,
// 1 in 16 million.
std::string DefaultTitle(const TraceCodePrintParams& params) {
  static std::mutex guard;
  static std::mt19937 draw{std::random_device{}()};
  unsigned id = 0;
  {
    const std::lock_guard<std::mutex> lock(guard);
    id = draw() & 0xffffffu;
  }
  char tail[32];
  std::snprintf(tail, sizeof tail, " %dx%dmm %06x", params.width, params.height, id);
  std::string title = params.instruction + tail;
  // A language name too long for a title is refused later anyway.
  return title.size() <= 255 ? title : params.title;
}

// The options beyond the print path's own: copies, dpi, title, compress,
// allowLarge (and the size guard it lifts). Null when
// they are all fine; otherwise the failure record, or null with an
// exception pending (`threw`).
napi_value ReadSubmitExtras(napi_env env, napi_value options, TraceCodePrintParams& params,
                            std::optional<int32_t>& dpi, bool& threw) {
  napi_value value = nullptr;
  napi_valuetype type = napi_undefined;
  if (ReadOptional(env, options, "copies", value, type, threw) &&
      !WholeNumber(env, value, type, kMinCopies, kMaxCopies, params.copies)) {
    return optionsFailure(env, "copies");
  }
  if (threw) return nullptr;
  if (ReadOptional(env, options, "dpi", value, type, threw)) {
    int32_t given = 0;
    if (!WholeNumber(env, value, type, 203, 600, given) ||
        (given != 203 && given != 300 && given != 600)) {
      return optionsFailure(env, "dpi");
    }
    dpi = given;
  }
  if (threw) return nullptr;
  if (ReadOptional(env, options, "title", value, type, threw)) {
    std::string title;
    if (type != napi_string || GetStringValue(env, value, title) != napi_ok || title.empty() ||
        title.size() > 255 || title.find('\0') != std::string::npos) {
      return optionsFailure(env, "title");
    }
    params.title = std::move(title);
  } else if (!threw) {
    params.title = DefaultTitle(params);
  }
  if (threw) return nullptr;
  // No label printer takes a label over a metre either way: past that a size
  // is most likely a slip (inches, dots), and it would make a huge job.
  bool allowLarge = false;
  if (ReadOptional(env, options, "allowLarge", value, type, threw) &&
      (type != napi_boolean || napi_get_value_bool(env, value, &allowLarge) != napi_ok)) {
    return optionsFailure(env, "allowLarge");
  }
  if (threw) return nullptr;
  constexpr int32_t kLargestLabelMm = 1000;
  if (!allowLarge && (params.width > kLargestLabelMm || params.height > kLargestLabelMm)) {
    return Record(env)
        .text("failure", "large")
        .number("width", params.width)
        .number("height", params.height)
        .number("limit", kLargestLabelMm)
        .value();
  }
  if (!ReadCompressOption(env, options, params)) {
    napi_is_exception_pending(env, &threw);
    return threw ? nullptr : optionsFailure(env, "compress");
  }
  return nullptr;
}

// ---- printers and jobs ----

napi_value PrinterRecord(napi_env env, const cupsstate::PrinterInfo& printer, int32_t dpi) {
  return Record(env)
      .text("name", printer.name)
      .text("state", printer.state)
      .texts("stateReasons", printer.stateReasons)
      .text("stateMessage", printer.stateMessage)
      .flag("acceptingJobs", printer.acceptingJobs)
      .flag("isDefault", printer.isDefault)
      .number("dpi", dpi)
      .text("deviceUri", printer.deviceUri)
      .text("makeAndModel", printer.makeAndModel)
      .text("description", printer.description)
      .text("location", printer.location)
      .value();
}

// The resolution a print to this queue would take: the print path's own walk
// over the queue's destinations, without its lines; 203 when none is found.
std::optional<int32_t> PrintResolution(CupsConnection& cups, const std::string& name) {
  const QueueDests dests(cups, name);
  if (dests.answer() == QueueDests::Answer::kTimedOut) return std::nullopt;
  return queueResolution(dests, name, /*log=*/false).value_or(kDefaultDpi);
}

// A job that asks the scheduler: its answer is the failure record when an
// exchange failed.
class SchedulerJob : public engine::Job {
 protected:
  void fail(const CupsConnection& cups, const cupsstate::Failure& failure) {
    failure_ = SchedulerFailure::of(cups, failure);
  }

  std::optional<SchedulerFailure> failure_;
};

class PrintersJob : public SchedulerJob {
 public:
  // One queue by name, or (no name) all of them.
  explicit PrintersJob(std::optional<std::string> name) : name_(std::move(name)) {}

  void run(engine::Loop& loop) override {
    CupsConnection& cups = loop.connection().get();
    if (name_) {
      cupsstate::PrinterLookup lookup = cupsstate::getPrinter(cups.http(), *name_);
      if (lookup.outcome == cupsstate::Lookup::Error) return fail(cups, lookup.failure);
      if (lookup.outcome == cupsstate::Lookup::Found)
        printers_.push_back(std::move(lookup.printer));
    } else {
      cupsstate::PrinterList list = cupsstate::listPrinters(cups.http());
      if (!list.ok) return fail(cups, list.failure);
      printers_ = std::move(list.printers);
      for (const std::optional<int32_t>& dpi : list.resolutions) {
        dpis_.push_back(dpi.value_or(kDefaultDpi));
      }
      return;
    }
    for (const cupsstate::PrinterInfo& printer : printers_) {
      const std::optional<int32_t> dpi = PrintResolution(cups, printer.name);
      if (!dpi) return fail(cups, {IPP_STATUS_ERROR_SERVICE_UNAVAILABLE, "no answer in time"});
      dpis_.push_back(*dpi);
    }
  }

  napi_value settle(napi_env env) override {
    if (failure_) return failure_->record(env);
    if (name_) return printers_.empty() ? Null(env) : PrinterRecord(env, printers_[0], dpis_[0]);
    napi_value array = nullptr;
    napi_create_array_with_length(env, printers_.size(), &array);
    for (size_t i = 0; i < printers_.size(); ++i) {
      napi_set_element(env, array, static_cast<uint32_t>(i),
                       PrinterRecord(env, printers_[i], dpis_[i]));
    }
    return array;
  }

 private:
  std::optional<std::string> name_;
  std::vector<cupsstate::PrinterInfo> printers_;
  std::vector<int32_t> dpis_;
};

class JobQuery : public SchedulerJob {
 public:
  JobQuery(int32_t id, bool cancel) : id_(id), cancel_(cancel) {}

  void run(engine::Loop& loop) override {
    CupsConnection& cups = loop.connection().get();
    if (cancel_) {
      const cupsstate::CancelResult result = cupsstate::cancelJob(cups.http(), id_);
      cancelled_ = result.outcome == cupsstate::Cancel::Cancelled;
      if (result.outcome == cupsstate::Cancel::Error) fail(cups, result.failure);
      return;
    }
    lookup_ = cupsstate::getJob(cups.http(), id_);
    if (lookup_.outcome == cupsstate::Lookup::Error) fail(cups, lookup_.failure);
  }

  napi_value settle(napi_env env) override {
    if (failure_) return failure_->record(env);
    if (cancel_) return MakeBoolean(env, cancelled_);
    if (lookup_.outcome != cupsstate::Lookup::Found) return Null(env);
    const cupsstate::JobInfo& job = lookup_.job;
    return Record(env)
        .number("id", job.id)
        .text("printer", job.printer)
        .text("state", job.state)
        .texts("stateReasons", job.stateReasons)
        .text("title", job.title)
        .text("uuid", job.uuid)
        .time("createdAt", job.createdAt)
        .time("completedAt", job.completedAt)
        .value();
  }

 private:
  int32_t id_;
  bool cancel_;
  bool cancelled_ = false;
  cupsstate::JobLookup lookup_;
};

// The one argument of a query, checked by index.js already.
napi_value JobQueryCall(napi_env env, napi_callback_info info, bool cancel) {
  try {
    int32_t id = 0;
    napi_value arg = Argument(env, info);
    if (arg == nullptr || napi_get_value_int32(env, arg, &id) != napi_ok) {
      return engine::settled(env, optionsFailure(env, "jobId"));
    }
    return engine::submit(env, std::make_unique<JobQuery>(id, cancel));
  } catch (...) {
    return engine::settled(env, Null(env));
  }
}

}  // namespace

napi_value SubmitTraceCode(napi_env env, napi_callback_info info) {
  try {
    napi_value options = Argument(env, info);
    if (options == nullptr) return engine::settled(env, optionsFailure(env, "options"));
    TraceCodePrintParams params;
    napi_value buffer = nullptr;
    const char* refused = "options";
    bool threw = false;
    if (!ReadPrintRequest(env, options, params, &buffer, &refused)) {
      napi_is_exception_pending(env, &threw);
      return engine::settled(env, threw ? nullptr : optionsFailure(env, refused));
    }
    // Set by lib/images.js when `buffer` stands for a PNG given as `image`.
    bool png = false;
    napi_value flag = nullptr;
    if (napi_get_named_property(env, options, "_imageIsPng", &flag) != napi_ok) {
      return engine::settled(env, nullptr);
    }
    napi_get_value_bool(env, flag, &png);
    if (params.width < 0) return engine::settled(env, optionsFailure(env, "width"));
    if (params.height < 0) return engine::settled(env, optionsFailure(env, "height"));
    std::optional<int32_t> dpi;
    if (napi_value failure = ReadSubmitExtras(env, options, params, dpi, threw)) {
      return engine::settled(env, failure);
    }
    if (threw) return engine::settled(env, nullptr);
    params.jobUuid = true;
    napi_value promise = SubmitBorrowing(env, buffer, params, [&](napi_ref held) {
      return std::make_unique<SubmitJob>(std::move(params), held, png, dpi);
    });
    return promise != nullptr ? promise : engine::settled(env, optionsFailure(env, "buffer"));
  } catch (...) {
    return engine::settled(env, Null(env));
  }
}

napi_value ListPrinters(napi_env env, napi_callback_info /*info*/) {
  try {
    return engine::submit(env, std::make_unique<PrintersJob>(std::nullopt));
  } catch (...) {
    return engine::settled(env, Null(env));
  }
}

napi_value GetPrinter(napi_env env, napi_callback_info info) {
  try {
    std::string name;
    napi_value arg = Argument(env, info);
    if (arg == nullptr || GetStringValue(env, arg, name) != napi_ok) {
      return engine::settled(env, optionsFailure(env, "name"));
    }
    return engine::submit(env, std::make_unique<PrintersJob>(std::move(name)));
  } catch (...) {
    return engine::settled(env, Null(env));
  }
}

napi_value GetJob(napi_env env, napi_callback_info info) {
  return JobQueryCall(env, info, false);
}

napi_value CancelJob(napi_env env, napi_callback_info info) {
  return JobQueryCall(env, info, true);
}

napi_value Facts(napi_env env) {
  std::vector<std::string> names;
  for (const LanguageEntry& language : languages()) names.emplace_back(language.name);
  return Record(env)
      .texts("languages", names)
      .number("maxImageSide", kMaxImageSide)
      .number("minCopies", kMinCopies)
      .number("maxCopies", kMaxCopies)
      .number("defaultDpi", kDefaultDpi)
      .texts("finalJobStates", cupsstate::finalJobStates())
      .value();
}
