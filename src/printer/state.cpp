#include "printer/state.h"

#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iterator>
#include <memory>
#include <unordered_map>
#include <utility>

#include "printer/cups_connection.h"
#include "printer/cups_dests.h"
#include "printer/queue_resolution.h"

namespace cupsstate {
namespace {

struct IppDelete {
  void operator()(ipp_t* ipp) const { ippDelete(ipp); }
};
using Ipp = std::unique_ptr<ipp_t, IppDelete>;

std::string text(ipp_attribute_t* attr);

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
  answer.response.reset(send(http, request, answer.failure));
  if (answer.response == nullptr) return answer;
  const ipp_status_t status = ippGetStatusCode(answer.response.get());
  if (status < IPP_STATUS_REDIRECTION_OTHER_SITE) return answer;
  answer.refused = true;
  answer.failure.status = status;
  answer.response.reset();
  return answer;
}

// ask() for a long answer (every queue): the response is read in pieces of
// 32 KiB and decoded from memory. libcups would decode it from the
// connection, reading each field of each attribute with a call of its own,
// with a wait for the socket before each one on a connection with a timeout.
// Anything but an HTTP OK goes the way of ask(), which retries with a
// password or encryption; the request is then sent again, as libcups would.
Answer askWhole(http_t* http, ipp_t* request) {
  const size_t length = ippLength(request);
  http_status_t status = cupsSendRequest(http, request, "/", length);
  // The answer's headers, as cupsGetResponse reads them.
  if (status == HTTP_STATUS_CONTINUE || status == HTTP_STATUS_OK) {
    do {
      status = httpUpdate(http);
    } while (status == HTTP_STATUS_CONTINUE);
  }
  if (status != HTTP_STATUS_OK) {
    if (status == HTTP_STATUS_ERROR) {
      ippDelete(request);
      Answer lost;
      lost.failure = {IPP_STATUS_ERROR_INTERNAL, std::strerror(httpError(http)), true};
      return lost;
    }
    httpFlush(http);
    return ask(http, request);
  }
  ippDelete(request);
  std::string body;
  char piece[32768];
  ssize_t bytes = 0;
  while ((bytes = httpRead2(http, piece, sizeof piece)) > 0) body.append(piece, size_t(bytes));
  struct Cursor {
    const std::string& body;
    size_t at = 0;
    static ssize_t read(void* self, ipp_uchar_t* buffer, size_t wanted) {
      auto* cursor = static_cast<Cursor*>(self);
      const size_t n = std::min(wanted, cursor->body.size() - cursor->at);
      std::memcpy(buffer, cursor->body.data() + cursor->at, n);
      cursor->at += n;
      return static_cast<ssize_t>(n);
    }
  } cursor{body};
  Answer answer;
  answer.response.reset(ippNew());
  ipp_state_t state = IPP_STATE_IDLE;
  while ((state = ippReadIO(&cursor, &Cursor::read, 1, nullptr, answer.response.get())) !=
             IPP_STATE_DATA &&
         state != IPP_STATE_ERROR) {
  }
  if (bytes < 0 || state == IPP_STATE_ERROR) {
    answer.response.reset();
    answer.failure = {IPP_STATUS_ERROR_INTERNAL, "Unable to read response.", bytes < 0};
    return answer;
  }
  const ipp_status_t code = ippGetStatusCode(answer.response.get());
  ipp_attribute_t* message =
      ippFindAttribute(answer.response.get(), "status-message", IPP_TAG_TEXT);
  answer.failure = {code, message != nullptr ? text(message) : ippErrorString(code), false};
  if (code < IPP_STATUS_REDIRECTION_OTHER_SITE) return answer;
  answer.refused = true;
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

// The fields' attributes and `extra` more (null: none).
template <typename Record, size_t N>
void requestFields(ipp_t* request, const Field<Record> (&fields)[N], const char* extra = nullptr) {
  const char* names[N + 1];
  for (size_t i = 0; i < N; ++i) names[i] = fields[i].name;
  names[N] = extra;
  ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                extra != nullptr ? N + 1 : N, nullptr, names);
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

// ask() for one queue or job: the lookup's outcome (and failure) in `lookup`,
// and when found, the answer's records of `group`.
template <typename Result, typename Record, size_t N>
std::vector<Record> lookUp(http_t* http, ipp_t* request, ipp_tag_t group,
                           const Field<Record> (&fields)[N], Result& lookup) {
  Answer answer = ask(http, request);
  lookup.outcome = outcomeOf(answer);
  if (lookup.outcome != Lookup::Found) {
    lookup.failure = std::move(answer.failure);
    return {};
  }
  return records(answer.response.get(), group, fields);
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

// A request about one job: no connection, or an id that no job can have, is
// answered without asking.
template <typename Result, typename Outcome, typename Fn>
Result aboutJob(http_t* http, int32_t jobId, Outcome notFound, Fn&& ask) noexcept {
  if (http == nullptr) return noConnection<Result>();
  return guarded<Result>(
      [&] { return jobId < 1 ? cannotExist<Result>(notFound, "Job ids start at 1.") : ask(); });
}

}  // namespace

ipp_t* send(http_t* http, ipp_t* request, Failure& failure) {
  ipp_t* response = cupsDoRequest(http, request, "/");
  const char* text = cupsLastErrorString();
  failure = {cupsLastError(), text != nullptr ? text : "",
             CupsConnection::unanswered(http, response)};
  return response;
}

// CUPS-Get-Printers for the fields of PrinterInfo and the resolution only,
// then the default destination's name: two exchanges for any number of
// queues. A scheduler without queues answers not-found, which is an empty
// list here.
PrinterList listPrinters(http_t* http) noexcept {
  if (http == nullptr) return noConnection<PrinterList>();
  return guarded<PrinterList>([&] {
    PrinterList list;
    ipp_t* request = ippNewRequest(IPP_OP_CUPS_GET_PRINTERS);
    // The one scheduler attribute queueResolution reads (QueueDests turns
    // the other attributes it asks for into options that walk never reads).
    requestFields(request, kPrinterFields, "printer-resolution-default");
    Answer answer = askWhole(http, request);
    list.ok = answer.response != nullptr || refusedWith(answer, IPP_STATUS_ERROR_NOT_FOUND);
    if (answer.response == nullptr) {
      if (!list.ok) list.failure = std::move(answer.failure);
      return list;
    }
    for (PrinterInfo& printer : records(answer.response.get(), IPP_TAG_PRINTER, kPrinterFields)) {
      if (!printer.name.empty()) list.printers.push_back(std::move(printer));
    }
    std::unordered_map<std::string, std::optional<int32_t>> resolutions;
    for (const auto& queue : QueueDests::listed(answer.response.get())) {
      const std::string name = queue->queue()->name;
      resolutions.emplace(name, queueResolution(*queue, name, /*log=*/false));
    }
    for (const PrinterInfo& printer : list.printers) {
      const auto found = resolutions.find(printer.name);
      list.resolutions.push_back(found != resolutions.end() ? found->second : std::nullopt);
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
    PrinterLookup lookup;
    std::vector<PrinterInfo> printers =
        lookUp(http, request, IPP_TAG_PRINTER, kPrinterFields, lookup);
    if (lookup.outcome != Lookup::Found) return lookup;
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
  return aboutJob<JobLookup>(http, jobId, Lookup::NotFound, [&] {
    ipp_t* request = jobRequest(IPP_OP_GET_JOB_ATTRIBUTES, jobId);
    requestFields(request, kJobFields);
    JobLookup lookup;
    std::vector<JobInfo> jobs = lookUp(http, request, IPP_TAG_JOB, kJobFields, lookup);
    if (lookup.outcome != Lookup::Found) return lookup;
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
  return aboutJob<CancelResult>(http, jobId, Cancel::NotFound, [&] {
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
