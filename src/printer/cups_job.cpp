#include "printer/cups_job.h"

#include <cerrno>
#include <cstring>

#include "printer/cups_connection.h"
#include "printer/cups_dests.h"

namespace {

JobSubmission failure(int code, const char* text) {
  JobSubmission result;
  result.errorCode = code;
  if (text != nullptr) result.errorText = text;
  return result;
}

JobSubmission lastError() {
  return failure(cupsLastError(), cupsLastErrorString());
}

JobSubmission timedOut() {
  JobSubmission result = lastError();
  result.timedOut = true;
  return result;
}

}  // namespace

// cupsPrintFiles2 and cupsCreateJob of libcups 2.4 (cups/util.c), step by step.
JobSubmission submitFile(CupsConnection& cups, const QueueDests& queue, const char* name,
                         const char* file, const char* title, int optionCount,
                         cups_option_t* options) {
  if (queue.answer() == QueueDests::Answer::kTimedOut || cups.timedOut()) return timedOut();
  cups_dest_t* dest = queue.queue();
  http_t* http = cups.http();
  if (dest == nullptr || http == nullptr) {
    return failure(IPP_STATUS_ERROR_INTERNAL, std::strerror(ENOENT));
  }

  int jobId = 0;
  cups_dinfo_t* info = cupsCopyDestInfo(http, dest);
  if (info != nullptr) {
    const ipp_status_t status =
        cupsCreateDestJob(http, dest, info, &jobId, title, optionCount, options);
    cupsFreeDestInfo(info);
    if (status >= IPP_STATUS_REDIRECTION_OTHER_SITE) jobId = 0;
  }
  if (jobId == 0) return cups.timedOut() ? timedOut() : lastError();

  const char* format = CUPS_FORMAT_AUTO;
  if (cupsGetOption("raw", optionCount, options) != nullptr) {
    format = CUPS_FORMAT_RAW;
  } else if (const char* given = cupsGetOption("document-format", optionCount, options)) {
    format = given;
  }
  const char* slash = std::strrchr(file, '/');
  const char* docname = slash != nullptr ? slash + 1 : file;

  JobSubmission result;
  if (cups_file_t* fp = cupsFileOpen(file, "rb")) {
    http_status_t status = cupsStartDocument(http, name, jobId, docname, format, 1);
    char buffer[8192];
    ssize_t bytes = 0;
    while (status == HTTP_STATUS_CONTINUE &&
           (bytes = cupsFileRead(fp, buffer, sizeof buffer)) > 0) {
      status = cupsWriteRequestData(http, buffer, static_cast<size_t>(bytes));
    }
    cupsFileClose(fp);
    if (status == HTTP_STATUS_CONTINUE && cupsFinishDocument(http, name) == IPP_STATUS_OK) {
      result.jobId = jobId;
      return result;
    }
    result = lastError();
  } else {
    result = failure(IPP_STATUS_ERROR_DOCUMENT_ACCESS, std::strerror(errno));
  }
  // Cancelling is one more exchange: not with a scheduler that stopped answering.
  if (cups.timedOut()) return timedOut();
  cupsCancelJob2(http, name, jobId, 0);
  return result;
}
