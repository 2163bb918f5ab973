#include "api.h"

#include <cstdint>
#include <memory>
#include <optional>
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

// The request lib/api.js checked and made plain (submitRequest): the label's
// fields, then the buffer, whether it holds a PNG, copies, title and dpi.
bool ReadCheckedRequest(napi_env env, napi_value request, TraceCodePrintParams& params,
                        napi_value& buffer, bool& png, std::optional<int32_t>& dpi) {
  napi_value given = nullptr;
  napi_valuetype type = napi_undefined;
  if (!ReadCheckedLabel(env, request, params) ||
      napi_get_named_property(env, request, "buffer", &buffer) != napi_ok ||
      GetBoolProperty(env, request, "png", png) != napi_ok ||
      GetInt32Property(env, request, "copies", params.copies) != napi_ok ||
      GetStringProperty(env, request, "title", params.title) != napi_ok ||
      napi_get_named_property(env, request, "dpi", &given) != napi_ok ||
      napi_typeof(env, given, &type) != napi_ok) {
    return false;
  }
  int32_t value = 0;
  if (type == napi_undefined) return true;
  if (napi_get_value_int32(env, given, &value) != napi_ok) return false;
  dpi = value;
  return true;
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
    napi_value request = Argument(env, info);
    TraceCodePrintParams params;
    napi_value buffer = nullptr;
    bool png = false;
    std::optional<int32_t> dpi;
    if (request == nullptr || !ReadCheckedRequest(env, request, params, buffer, png, dpi)) {
      bool threw = false;
      napi_is_exception_pending(env, &threw);
      return engine::settled(env, threw ? nullptr : optionsFailure(env, "options"));
    }
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
