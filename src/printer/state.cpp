#include "printer/state.h"

#include <strings.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <iterator>
#include <memory>
#include <utility>

#include "printer/cups_connection.h"

namespace cupsstate {
namespace {

struct IppDelete {
  void operator()(ipp_t* ipp) const { ippDelete(ipp); }
};
using Ipp = std::unique_ptr<ipp_t, IppDelete>;

// The answer to one request. `refused` marks an error status that the
// scheduler itself sent; a failed exchange has none, so a lost connection can
// never read as "not found".
struct Answer {
  Ipp response;  // only for a successful status
  bool refused = false;
  Failure failure;
};

// cupsDoRequest frees the request on every path.
Answer ask(http_t* http, ipp_t* request) {
  Answer answer;
  answer.response.reset(cupsDoRequest(http, request, "/"));
  const char* text = cupsLastErrorString();
  answer.failure = {cupsLastError(), text != nullptr ? text : "",
                    CupsConnection::unanswered(http, answer.response.get())};
  if (answer.response == nullptr) return answer;
  const ipp_status_t status = ippGetStatusCode(answer.response.get());
  if (status < IPP_STATUS_REDIRECTION_OTHER_SITE) return answer;
  answer.refused = true;
  answer.failure.status = status;
  answer.response.reset();
  return answer;
}

bool refusedWith(const Answer& answer, ipp_status_t status) {
  return answer.refused && answer.failure.status == status;
}

Lookup outcomeOf(const Answer& answer) {
  if (answer.response != nullptr) return Lookup::Found;
  return refusedWith(answer, IPP_STATUS_ERROR_NOT_FOUND) ? Lookup::NotFound : Lookup::Error;
}

std::string text(ipp_attribute_t* attr) {
  const char* value = ippGetString(attr, 0, nullptr);
  return value != nullptr ? value : "";
}

// No-value (time-at-completed of a running job) and other tags read as absent.
std::optional<int32_t> integer(ipp_attribute_t* attr) {
  if (ippGetValueTag(attr) != IPP_TAG_INTEGER) return std::nullopt;
  return ippGetInteger(attr, 0);
}

std::vector<std::string> keywords(ipp_attribute_t* attr) {
  std::vector<std::string> out;
  for (int i = 0; i < ippGetCount(attr); ++i) {
    const char* value = ippGetString(attr, i, nullptr);
    if (value != nullptr && std::string_view(value) != "none") out.emplace_back(value);
  }
  return out;
}

// IPP's printer states run from 3 to 5 and its job states from 3 to 9.
const char* const kPrinterStates[] = {"idle", "processing", "stopped"};
const char* const kJobStates[] = {"pending",  "held",    "processing", "stopped",
                                  "canceled", "aborted", "completed"};

template <size_t N>
std::string stateOf(ipp_attribute_t* attr, const char* const (&names)[N]) {
  const int index = ippGetInteger(attr, 0) - 3;
  return index >= 0 && index < static_cast<int>(N) ? names[index] : "unknown";
}

// job-printer-uri ends in /printers/NAME or /classes/NAME.
std::string queueOf(const std::string& uri) {
  char scheme[32], user[256], host[256], resource[1024];
  int port = 0;
  std::string_view path = uri;
  if (httpSeparateURI(HTTP_URI_CODING_ALL, uri.c_str(), scheme, sizeof scheme, user, sizeof user,
                      host, sizeof host, &port, resource, sizeof resource) >= HTTP_URI_STATUS_OK) {
    path = resource;
  }
  return std::string(path.substr(path.rfind('/') + 1));
}

// The attributes asked for, each with where it goes.
template <typename Record>
struct Field {
  const char* name;
  void (*read)(Record&, ipp_attribute_t*);
};

const Field<PrinterInfo> kPrinterFields[] = {
    {"printer-name", [](PrinterInfo& p, ipp_attribute_t* a) { p.name = text(a); }},
    {"printer-state",
     [](PrinterInfo& p, ipp_attribute_t* a) { p.state = stateOf(a, kPrinterStates); }},
    {"printer-state-reasons",
     [](PrinterInfo& p, ipp_attribute_t* a) { p.stateReasons = keywords(a); }},
    {"printer-state-message", [](PrinterInfo& p, ipp_attribute_t* a) { p.stateMessage = text(a); }},
    {"printer-is-accepting-jobs",
     [](PrinterInfo& p, ipp_attribute_t* a) { p.acceptingJobs = ippGetBoolean(a, 0); }},
    {"device-uri", [](PrinterInfo& p, ipp_attribute_t* a) { p.deviceUri = text(a); }},
    {"printer-make-and-model",
     [](PrinterInfo& p, ipp_attribute_t* a) { p.makeAndModel = text(a); }},
    {"printer-info", [](PrinterInfo& p, ipp_attribute_t* a) { p.description = text(a); }},
    {"printer-location", [](PrinterInfo& p, ipp_attribute_t* a) { p.location = text(a); }},
};

const Field<JobInfo> kJobFields[] = {
    {"job-id", [](JobInfo& j, ipp_attribute_t* a) { j.id = ippGetInteger(a, 0); }},
    {"job-printer-uri", [](JobInfo& j, ipp_attribute_t* a) { j.printer = queueOf(text(a)); }},
    {"job-state", [](JobInfo& j, ipp_attribute_t* a) { j.state = stateOf(a, kJobStates); }},
    {"job-state-reasons", [](JobInfo& j, ipp_attribute_t* a) { j.stateReasons = keywords(a); }},
    {"job-name", [](JobInfo& j, ipp_attribute_t* a) { j.title = text(a); }},
    {"job-uuid", [](JobInfo& j, ipp_attribute_t* a) { j.uuid = text(a); }},
    {"time-at-creation", [](JobInfo& j, ipp_attribute_t* a) { j.createdAt = integer(a); }},
    {"time-at-completed", [](JobInfo& j, ipp_attribute_t* a) { j.completedAt = integer(a); }},
};

template <typename Record, size_t N>
void requestFields(ipp_t* request, const Field<Record> (&fields)[N]) {
  const char* names[N];
  for (size_t i = 0; i < N; ++i) names[i] = fields[i].name;
  ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", N, nullptr,
                names);
}

// One record per run of attributes in `group`; the scheduler separates the
// printers of a list with unnamed attributes.
template <typename Record, size_t N>
std::vector<Record> records(ipp_t* response, ipp_tag_t group, const Field<Record> (&fields)[N]) {
  std::vector<Record> out;
  std::optional<Record> current;
  for (ipp_attribute_t* attr = ippFirstAttribute(response);; attr = ippNextAttribute(response)) {
    if (attr != nullptr && ippGetGroupTag(attr) == group && ippGetName(attr) != nullptr) {
      if (!current) current.emplace();
      for (const Field<Record>& field : fields) {
        if (std::strcmp(field.name, ippGetName(attr)) == 0) field.read(*current, attr);
      }
      continue;
    }
    if (current) out.push_back(std::move(*current));
    current.reset();
    if (attr == nullptr) return out;
  }
}

// The destination lp would use without -d: LPDEST or PRINTER, the lpoptions
// default, then the scheduler's. Queue names compare without case, as the
// scheduler compares them.
void markDefault(std::vector<PrinterInfo>& printers, http_t* http) {
  struct FreeDest {
    void operator()(cups_dest_t* dest) const { cupsFreeDests(1, dest); }
  };
  const std::unique_ptr<cups_dest_t, FreeDest> dest(cupsGetNamedDest(http, nullptr, nullptr));
  if (dest == nullptr) return;
  for (PrinterInfo& printer : printers) {
    printer.isDefault = strcasecmp(printer.name.c_str(), dest->name) == 0;
  }
}

// A name no queue can have: the scheduler caps names at 127 bytes, and a NUL
// would cut the name short and ask about another queue.
bool impossibleQueueName(const std::string& name) {
  return name.empty() || name.size() > 127 || name.find('\0') != std::string::npos;
}

ipp_t* jobRequest(ipp_op_t operation, int32_t jobId) {
  char uri[64];
  std::snprintf(uri, sizeof uri, "ipp://localhost/jobs/%d", static_cast<int>(jobId));
  ipp_t* request = ippNewRequest(operation);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", nullptr, uri);
  // The owner sees the job's private values (its title) and may cancel it.
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
               cupsUser());
  return request;
}

template <typename Result>
Result failed(ipp_status_t status, const char* message) noexcept {
  Result result;  // every result starts out as an error
  result.failure.status = status;
  try {
    result.failure.message = message;
  } catch (...) {
  }
  return result;
}

// A name or id that nothing can have: not found, without asking.
template <typename Result, typename Outcome>
Result cannotExist(Outcome notFound, const char* why) noexcept {
  Result result = failed<Result>(IPP_STATUS_ERROR_NOT_FOUND, why);
  result.outcome = notFound;
  return result;
}

template <typename Result>
Result noConnection() noexcept {
  return failed<Result>(IPP_STATUS_ERROR_INTERNAL, "no connection to the scheduler");
}

// Allocation is all that can throw in here; it becomes an error result.
template <typename Result, typename Fn>
Result guarded(Fn&& fn) noexcept {
  try {
    return fn();
  } catch (const std::exception& e) {
    return failed<Result>(IPP_STATUS_ERROR_INTERNAL, e.what());
  } catch (...) {
    return failed<Result>(IPP_STATUS_ERROR_INTERNAL, "unexpected exception");
  }
}

}  // namespace

// CUPS-Get-Printers for the fields of PrinterInfo only, then the default
// destination's name. A scheduler without queues answers not-found, which is
// an empty list here.
PrinterList listPrinters(http_t* http) noexcept {
  if (http == nullptr) return noConnection<PrinterList>();
  return guarded<PrinterList>([&] {
    PrinterList list;
    ipp_t* request = ippNewRequest(IPP_OP_CUPS_GET_PRINTERS);
    requestFields(request, kPrinterFields);
    Answer answer = ask(http, request);
    list.ok = answer.response != nullptr || refusedWith(answer, IPP_STATUS_ERROR_NOT_FOUND);
    if (answer.response == nullptr) {
      if (!list.ok) list.failure = std::move(answer.failure);
      return list;
    }
    for (PrinterInfo& printer : records(answer.response.get(), IPP_TAG_PRINTER, kPrinterFields)) {
      if (!printer.name.empty()) list.printers.push_back(std::move(printer));
    }
    markDefault(list.printers, http);
    return list;
  });
}

// Get-Printer-Attributes for one queue or class. The scheduler matches the
// name without case; the answer carries its own spelling.
PrinterLookup getPrinter(http_t* http, const std::string& name) noexcept {
  if (http == nullptr) return noConnection<PrinterLookup>();
  return guarded<PrinterLookup>([&] {
    char uri[HTTP_MAX_URI];
    if (impossibleQueueName(name) ||
        httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost",
                         ippPort(), "/printers/%s", name.c_str()) < HTTP_URI_STATUS_OK) {
      return cannotExist<PrinterLookup>(Lookup::NotFound, "No queue can have this name.");
    }
    ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
    requestFields(request, kPrinterFields);
    Answer answer = ask(http, request);
    PrinterLookup lookup;
    lookup.outcome = outcomeOf(answer);
    if (lookup.outcome != Lookup::Found) {
      lookup.failure = std::move(answer.failure);
      return lookup;
    }
    std::vector<PrinterInfo> printers =
        records(answer.response.get(), IPP_TAG_PRINTER, kPrinterFields);
    if (printers.empty() || printers.front().name.empty()) {
      return failed<PrinterLookup>(IPP_STATUS_ERROR_INTERNAL, "The answer names no printer.");
    }
    printers.resize(1);
    markDefault(printers, http);
    lookup.printer = std::move(printers.front());
    return lookup;
  });
}

// Get-Job-Attributes for one job, asked as its owner. A scheduler that keeps
// no job history (PreserveJobHistory Off) forgets a job as soon as it is
// final: such a job reads as not found.
JobLookup getJob(http_t* http, int32_t jobId) noexcept {
  if (http == nullptr) return noConnection<JobLookup>();
  return guarded<JobLookup>([&] {
    if (jobId < 1) {
      return cannotExist<JobLookup>(Lookup::NotFound, "Job ids start at 1.");
    }
    ipp_t* request = jobRequest(IPP_OP_GET_JOB_ATTRIBUTES, jobId);
    requestFields(request, kJobFields);
    Answer answer = ask(http, request);
    JobLookup lookup;
    lookup.outcome = outcomeOf(answer);
    if (lookup.outcome != Lookup::Found) {
      lookup.failure = std::move(answer.failure);
      return lookup;
    }
    std::vector<JobInfo> jobs = records(answer.response.get(), IPP_TAG_JOB, kJobFields);
    if (jobs.empty() || jobs.front().id != jobId) {
      return failed<JobLookup>(IPP_STATUS_ERROR_INTERNAL, "The answer is about another job.");
    }
    lookup.job = std::move(jobs.front());
    return lookup;
  });
}

// Cancel-Job as the job's owner. The scheduler refuses a job that is already
// final with not-possible.
CancelResult cancelJob(http_t* http, int32_t jobId) noexcept {
  if (http == nullptr) return noConnection<CancelResult>();
  return guarded<CancelResult>([&] {
    if (jobId < 1) {
      return cannotExist<CancelResult>(Cancel::NotFound, "Job ids start at 1.");
    }
    Answer answer = ask(http, jobRequest(IPP_OP_CANCEL_JOB, jobId));
    CancelResult result;
    if (answer.response != nullptr) {
      result.outcome = Cancel::Cancelled;
      return result;
    }
    if (refusedWith(answer, IPP_STATUS_ERROR_NOT_FOUND)) result.outcome = Cancel::NotFound;
    if (refusedWith(answer, IPP_STATUS_ERROR_NOT_POSSIBLE)) result.outcome = Cancel::AlreadyFinal;
    result.failure = std::move(answer.failure);
    return result;
  });
}

std::vector<std::string> finalJobStates() {
  return {std::begin(kJobStates) + (IPP_JSTATE_CANCELED - IPP_JSTATE_PENDING),
          std::end(kJobStates)};
}

}  // namespace cupsstate
