#include "printer/cups_job.h"

#include <cerrno>
#include <cstdio>
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

JobSubmission timedOut(JobSubmission result = lastError()) {
  result.timedOut = true;
  return result;
}

// cupsFinishDocument, but an answer must come: it returns cupsLastError(),
// which nothing updates when none does (a timeout, a scheduler gone), so it
// would still hold the Create-Job's success.
bool finishDocument(http_t* http, const char* name, bool& answered) {
  char resource[1024];
  std::snprintf(resource, sizeof resource, "/printers/%s", name);
  const IppPtr answer(cupsGetResponse(http, resource));
  answered = !CupsConnection::unanswered(http, answer.get());
  return answer != nullptr && cupsLastError() == IPP_STATUS_OK;
}

// The Create-Job request of cupsCreateDestJob (cups/dest-job.c), sent to the
// queue's printer-uri-supported. cupsCreateJob first asks for the queue's
// capabilities (cupsCopyDestInfo) only to learn that URI and the IPP version:
// a response of hundreds of attributes that libcups reads a field at a time,
// which on a connection with a timeout costs three system calls per field.
// Version 2.0 as there, and 1.1 for a scheduler that does not speak it.
int createJob(CupsConnection& cups, cups_dest_t* dest, const char* title, int optionCount,
              cups_option_t* options, const char* uuid) {
  char uri[1024];
  const char* supported = cupsGetOption("printer-uri-supported", dest->num_options, dest->options);
  if (supported != nullptr) {
    std::snprintf(uri, sizeof uri, "%s", supported);
  } else {
    httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", ippPort(),
                     "/printers/%s", dest->name);
  }
  char scheme[32], user[256], host[256], resource[1024];
  int port = 0;
  if (httpSeparateURI(HTTP_URI_CODING_ALL, uri, scheme, sizeof scheme, user, sizeof user, host,
                      sizeof host, &port, resource, sizeof resource) < HTTP_URI_STATUS_OK) {
    std::snprintf(resource, sizeof resource, "/printers/%s", dest->name);
  }
  for (const int version : {20, 11}) {
    ipp_t* request = ippNewRequest(IPP_OP_CREATE_JOB);
    ippSetVersion(request, version / 10, version % 10);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
                 cupsUser());
    if (title != nullptr) {
      ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, title);
    }
    cupsEncodeOptions2(request, optionCount, options, IPP_TAG_OPERATION);
    cupsEncodeOptions2(request, optionCount, options, IPP_TAG_JOB);
    cupsEncodeOptions2(request, optionCount, options, IPP_TAG_SUBSCRIPTION);
    if (uuid != nullptr) ippAddString(request, IPP_TAG_JOB, IPP_TAG_URI, "job-uuid", nullptr, uuid);
    const IppPtr response = cups.doRequest(request, resource);
    const ipp_status_t status = cupsLastError();
    if ((status == IPP_STATUS_ERROR_BAD_REQUEST ||
         status == IPP_STATUS_ERROR_VERSION_NOT_SUPPORTED) &&
        version == 20 && !cups.timedOut()) {
      continue;
    }
    ipp_attribute_t* id = ippFindAttribute(response.get(), "job-id", IPP_TAG_INTEGER);
    if (status >= IPP_STATUS_REDIRECTION_OTHER_SITE || id == nullptr) return 0;
    return ippGetInteger(id, 0);
  }
  return 0;
}

}  // namespace

// cupsPrintFiles2 and cupsCreateJob of libcups 2.4 (cups/util.c), step by step.
JobSubmission submitFile(CupsConnection& cups, const QueueDests& queue, const char* name,
                         const char* file, const char* title, int optionCount,
                         cups_option_t* options, bool withUuid) {
  if (queue.answer() == QueueDests::Answer::kTimedOut || cups.timedOut()) return timedOut();
  cups_dest_t* dest = queue.queue();
  http_t* http = cups.http();
  if (dest == nullptr || http == nullptr) {
    return failure(IPP_STATUS_ERROR_INTERNAL, std::strerror(ENOENT));
  }

  // The scheduler keeps a job-uuid given at creation (CUPS does, as for
  // jobs forwarded from another server) and answers Create-Job without one.
  std::string uuid;
  if (withUuid) {
    char text[64];
    httpAssembleUUID(cupsServer(), ippPort(), name, 0, text, sizeof text);
    uuid = text;
  }
  const int jobId =
      createJob(cups, dest, title, optionCount, options, uuid.empty() ? nullptr : uuid.c_str());
  if (jobId == 0) {
    if (cups.timedOut()) return timedOut();
    JobSubmission refused = lastError();
    refused.noAnswer = cups.lastUnanswered() && !cups.authRefused();
    return refused;
  }

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
    bool answered = false;
    if (status == HTTP_STATUS_CONTINUE && finishDocument(http, name, answered)) {
      result.jobId = jobId;
      result.uuid = uuid;
      return result;
    }
    result = cupsLastError() != IPP_STATUS_OK
                 ? lastError()
                 : failure(IPP_STATUS_ERROR_INTERNAL, std::strerror(httpError(http)));
    result.noAnswer = !answered && !cups.authRefused();
  } else {
    result = failure(IPP_STATUS_ERROR_DOCUMENT_ACCESS, std::strerror(errno));
  }
  // Cancelling is one more exchange: not with a scheduler that stopped answering.
  if (cups.timedOut()) return timedOut(result);
  cupsCancelJob2(http, name, jobId, 0);
  return result;
}

JobSubmission startJob(CupsConnection& cups, const QueueDests& queue, const char* name,
                       const char* title, int optionCount, cups_option_t* options) {
  if (queue.answer() == QueueDests::Answer::kTimedOut || cups.timedOut()) return timedOut();
  cups_dest_t* dest = queue.queue();
  http_t* http = cups.http();
  if (dest == nullptr || http == nullptr) {
    return failure(IPP_STATUS_ERROR_INTERNAL, std::strerror(ENOENT));
  }
  const int jobId = createJob(cups, dest, title, optionCount, options, nullptr);
  if (jobId == 0) {
    if (cups.timedOut()) return timedOut();
    JobSubmission refused = lastError();
    refused.noAnswer = cups.lastUnanswered() && !cups.authRefused();
    return refused;
  }
  if (cupsStartDocument(http, name, jobId, "batch", CUPS_FORMAT_RAW, 1) != HTTP_STATUS_CONTINUE) {
    JobSubmission result = cups.timedOut() ? timedOut() : lastError();
    if (!cups.timedOut()) cupsCancelJob2(http, name, jobId, 0);
    return result;
  }
  JobSubmission result;
  result.jobId = jobId;
  return result;
}

JobSubmission finishJob(CupsConnection& cups, const char* name, int jobId) {
  bool answered = false;
  if (finishDocument(cups.http(), name, answered)) {
    JobSubmission result;
    result.jobId = jobId;
    return result;
  }
  JobSubmission result =
      cups.timedOut() ? timedOut()
      : cupsLastError() != IPP_STATUS_OK
          ? lastError()
          : failure(IPP_STATUS_ERROR_INTERNAL, std::strerror(httpError(cups.http())));
  result.noAnswer = !answered && !cups.authRefused();
  return result;
}
