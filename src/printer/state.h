#pragma once
// What the scheduler says about its queues and jobs: one IPP request per
// question (plus the default destination's name for printers), over a
// connection that the caller opened, owns and bounds. libcups keeps its error
// state per thread, so any thread may call these with its own connection.
// None of them throws: every failure comes back in the result.

#include <cups/cups.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cupsstate {

// Why an exchange failed: cupsLastError() and cupsLastErrorString() of the
// request. Besides the scheduler's own IPP answers this holds libcups' codes
// for a lost connection (IPP_STATUS_ERROR_SERVICE_UNAVAILABLE and the like).
struct Failure {
  ipp_status_t status = IPP_STATUS_OK;
  std::string message;
  bool noAnswer = false;  // the exchange ended without an answer (lost connection)
};

// cupsDoRequest, which takes the request; how it went is left in `failure`.
ipp_t* send(http_t* http, ipp_t* request, Failure& failure);

// States are IPP's enum values by name; a value IPP does not define reads
// "unknown".

// How a question about one named queue or one job id ended. NotFound is only
// ever the scheduler's answer (or a name or id that no queue or job can
// have); a connection that fails is an Error.
enum class Lookup { Found, NotFound, Error };

struct PrinterInfo {
  std::string name;                       // as the scheduler spells it
  std::string state;                      // "idle", "processing" or "stopped"
  std::vector<std::string> stateReasons;  // IPP keywords; "none" gives an empty list
  std::string stateMessage;               // e.g. the reason given to cupsdisable -r
  bool acceptingJobs = false;
  bool isDefault = false;  // the destination lp would use without -d
  std::string deviceUri;
  std::string makeAndModel;
  std::string description;  // printer-info: the name a person gave it (lpadmin -D)
  std::string location;     // printer-location (lpadmin -L)
};

struct PrinterList {
  bool ok = false;
  std::vector<PrinterInfo> printers;  // in the scheduler's order; empty when it has none
  // Per printer: the resolution the print path's walk (queueResolution)
  // finds for it in the same answer and the lpoptions files, if any.
  std::vector<std::optional<int32_t>> resolutions;
  Failure failure;  // when !ok
};

struct PrinterLookup {
  Lookup outcome = Lookup::Error;
  PrinterInfo printer;  // when Found
  Failure failure;      // when NotFound or Error
};

struct JobInfo {
  int32_t id = 0;
  std::string printer;  // the queue's name
  // "pending", "held", "processing", "stopped", "canceled", "aborted" or "completed".
  std::string state;
  std::vector<std::string> stateReasons;  // IPP keywords; "none" gives an empty list
  std::string title;
  std::string uuid;  // job-uuid: ids start again at 1 when a scheduler loses its history
  std::optional<int64_t> createdAt;    // seconds since the epoch
  std::optional<int64_t> completedAt;  // set once the job reached a final state
};

struct JobLookup {
  Lookup outcome = Lookup::Error;
  JobInfo job;      // when Found
  Failure failure;  // when NotFound or Error
};

enum class Cancel { Cancelled, NotFound, AlreadyFinal, Error };

struct CancelResult {
  Cancel outcome = Cancel::Error;
  Failure failure;  // for every outcome but Cancelled
};

// The job states after which a job does not change: canceled, aborted, completed.
std::vector<std::string> finalJobStates();

PrinterList listPrinters(http_t* http) noexcept;
PrinterLookup getPrinter(http_t* http, const std::string& name) noexcept;
JobLookup getJob(http_t* http, int32_t jobId) noexcept;
CancelResult cancelJob(http_t* http, int32_t jobId) noexcept;

}  // namespace cupsstate
