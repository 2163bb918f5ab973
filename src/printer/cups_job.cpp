#include "printer/cups_job.h"

#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

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

// Where the job requests go: the queue's printer-uri-supported (as
// cupsCreateDestJob in cups/dest-job.c sends them) and its resource.
struct Target {
  char uri[1024];
  char resource[1024];

  explicit Target(cups_dest_t* dest) {
    const char* supported =
        cupsGetOption("printer-uri-supported", dest->num_options, dest->options);
    if (supported != nullptr) {
      std::snprintf(uri, sizeof uri, "%s", supported);
    } else {
      httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", ippPort(),
                       "/printers/%s", dest->name);
    }
    char scheme[32], user[256], host[256];
    int port = 0;
    if (httpSeparateURI(HTTP_URI_CODING_ALL, uri, scheme, sizeof scheme, user, sizeof user, host,
                        sizeof host, &port, resource, sizeof resource) < HTTP_URI_STATUS_OK) {
      std::snprintf(resource, sizeof resource, "/printers/%s", dest->name);
    }
  }
};

// The job attributes of cupsCreateDestJob's request, for Create-Job, and
// with the document's name and format (Send-Document's) for Print-Job: the
// backend is told the name either way, as the first job option after a
// Print-Job and the last after a Send-Document. The groups go out in order:
// a scheduler refuses an operation attribute after the job ones.
ipp_t* jobRequest(ipp_op_t operation, int version, const Target& target, const char* title,
                  int optionCount, cups_option_t* options, const char* uuid,
                  const char* documentName = nullptr, const char* documentFormat = nullptr) {
  ipp_t* request = ippNewRequest(operation);
  ippSetVersion(request, version / 10, version % 10);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, target.uri);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
               cupsUser());
  if (title != nullptr) {
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, title);
  }
  if (documentName != nullptr) {
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "document-name", nullptr, documentName);
  }
  cupsEncodeOptions2(request, optionCount, options, IPP_TAG_OPERATION);
  if (documentFormat != nullptr &&
      ippFindAttribute(request, "document-format", IPP_TAG_ZERO) == nullptr) {
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr,
                 documentFormat);
  }
  cupsEncodeOptions2(request, optionCount, options, IPP_TAG_JOB);
  cupsEncodeOptions2(request, optionCount, options, IPP_TAG_SUBSCRIPTION);
  if (uuid != nullptr) ippAddString(request, IPP_TAG_JOB, IPP_TAG_URI, "job-uuid", nullptr, uuid);
  return request;
}

// The Create-Job request of cupsCreateDestJob, sent to the queue's
// printer-uri-supported. cupsCreateJob first asks for the queue's
// capabilities (cupsCopyDestInfo) only to learn that URI and the IPP version:
// a response of hundreds of attributes that libcups reads a field at a time,
// which on a connection with a timeout costs three system calls per field.
// Version 2.0 as there, and 1.1 for a scheduler that does not speak it.
int createJob(CupsConnection& cups, const Target& target, const char* title, int optionCount,
              cups_option_t* options, const char* uuid) {
  for (const int version : {20, 11}) {
    const IppPtr response = cups.doRequest(
        jobRequest(IPP_OP_CREATE_JOB, version, target, title, optionCount, options, uuid),
        target.resource);
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

// The job file, streamed into a request whose length is given up front:
// a label stream can be hundreds of megabytes, so it is not read whole.
struct Document {
  const char* file = nullptr;
  size_t length = 0;

  // False when the file cannot be opened; libcups's path then says why.
  // Its length by seeking: stat is a GLIBC_2.33 symbol, past the floor.
  bool find(const char* path) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const off_t end = ::lseek(fd, 0, SEEK_END);
    ::close(fd);
    if (end < 0) return false;
    file = path;
    length = static_cast<size_t>(end);
    return true;
  }

  // Every byte of the file, in order, or false.
  bool write(http_t* http) const {
    cups_file_t* fp = cupsFileOpen(file, "rb");
    if (fp == nullptr) return false;
    char buffer[8192];
    size_t sent = 0;
    ssize_t bytes = 0;
    while ((bytes = cupsFileRead(fp, buffer, sizeof buffer)) > 0 &&
           httpWrite2(http, buffer, static_cast<size_t>(bytes)) >= 0) {
      sent += static_cast<size_t>(bytes);
    }
    cupsFileClose(fp);
    return sent == length;
  }
};

// How a request sent whole ended: kRetry when the scheduler took nothing
// and libcups's own path may ask again (it wanted a password libcups now
// has, or encryption, or it does not take the operation, its version or a
// request without "Expect").
enum class Sent { kAnswered, kFailed, kRetry };

// A request and its document in one message, sent without
// "Expect: 100-continue", so with no wait for the interim answer that
// libcups waits for before each request body: one round trip less. Once the
// whole request is sent it is never sent again: an exchange that ends
// without an answer may have made the job. Takes the request.
Sent postWhole(CupsConnection& cups, const char* resource, ipp_t* request, const Document& document,
               IppPtr& response, bool& unanswered) {
  IppPtr owned(request);
  unanswered = true;
  http_t* http = cups.http();
  // The end of the last answer, as cupsSendRequest reads it first.
  const http_state_t last = httpGetState(http);
  if (last == HTTP_STATE_POST_SEND || last == HTTP_STATE_GET_SEND) httpFlush(http);
  const char* auth = httpGetAuthString(http);
  const char* connection = httpGetField(http, HTTP_FIELD_CONNECTION);
  // libcups's own path for what it keeps private: a Digest nonce to update,
  // a connection to re-open first.
  if (httpGetState(http) != HTTP_STATE_WAITING ||
      (auth != nullptr && std::strncmp(auth, "Digest ", 7) == 0) ||
      (connection != nullptr && strcasecmp(connection, "close") == 0)) {
    return Sent::kRetry;
  }
  char date[256];
  httpClearFields(http);
  httpSetField(http, HTTP_FIELD_CONTENT_TYPE, "application/ipp");
  httpSetField(http, HTTP_FIELD_DATE, httpGetDateString2(time(nullptr), date, sizeof date));
  httpSetLength(http, ippLength(request) + document.length);
  if (auth != nullptr) httpSetField(http, HTTP_FIELD_AUTHORIZATION, auth);
  if (httpPost(http, resource) != 0) {
    // The headers did not go out: nothing to make a job of.
    return cups.timedOut() ? Sent::kFailed : Sent::kRetry;
  }
  ipp_state_t state = IPP_STATE_IDLE;
  while ((state = ippWrite(http, request)) != IPP_STATE_DATA && state != IPP_STATE_ERROR) {
  }
  if (state == IPP_STATE_ERROR || !document.write(http)) {
    return Sent::kFailed;
  }
  response.reset(cupsGetResponse(http, resource));
  const http_status_t status = httpGetStatus(http);
  unanswered = CupsConnection::unanswered(http, response.get());
  if (response == nullptr && !cups.timedOut() && !cups.authRefused() &&
      (status == HTTP_STATUS_UNAUTHORIZED || status == HTTP_STATUS_UPGRADE_REQUIRED ||
       status == HTTP_STATUS_BAD_REQUEST || status == HTTP_STATUS_NOT_IMPLEMENTED)) {
    return Sent::kRetry;
  }
  const ipp_status_t answer = cupsLastError();
  if (response != nullptr && (answer == IPP_STATUS_ERROR_OPERATION_NOT_SUPPORTED ||
                              answer == IPP_STATUS_ERROR_BAD_REQUEST ||
                              answer == IPP_STATUS_ERROR_VERSION_NOT_SUPPORTED)) {
    return Sent::kRetry;
  }
  return response != nullptr && answer < IPP_STATUS_REDIRECTION_OTHER_SITE ? Sent::kAnswered
                                                                           : Sent::kFailed;
}

// Print-Job with the document in the same message: one round trip, where
// Create-Job then Send-Document take two at best.
Sent printJob(CupsConnection& cups, const Target& target, const char* title, int optionCount,
              cups_option_t* options, const char* uuid, const char* docname, const char* format,
              const Document& document, int& jobId, bool& unanswered) {
  IppPtr response;
  Sent sent = postWhole(
      cups, target.resource,
      jobRequest(IPP_OP_PRINT_JOB, 20, target, title, optionCount, options, uuid, docname, format),
      document, response, unanswered);
  ipp_attribute_t* id = ippFindAttribute(response.get(), "job-id", IPP_TAG_INTEGER);
  if (sent == Sent::kAnswered && id == nullptr) sent = Sent::kFailed;
  if (sent == Sent::kAnswered) jobId = ippGetInteger(id, 0);
  return sent;
}

// The Send-Document of cupsStartDocument (the last document, its name and
// format, to /printers/NAME), sent whole.
Sent sendDocument(CupsConnection& cups, const char* name, int jobId, const char* docname,
                  const char* format, const Document& document, bool& unanswered) {
  char uri[1024];
  char resource[1024];
  httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", ippPort(),
                   "/printers/%s", name);
  std::snprintf(resource, sizeof resource, "/printers/%s", name);
  ipp_t* request = ippNewRequest(IPP_OP_SEND_DOCUMENT);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
  ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", jobId);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
               cupsUser());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "document-name", nullptr, docname);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr, format);
  ippAddBoolean(request, IPP_TAG_OPERATION, "last-document", 1);
  IppPtr response;
  return postWhole(cups, resource, request, document, response, unanswered);
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
  const char* format = CUPS_FORMAT_AUTO;
  if (cupsGetOption("raw", optionCount, options) != nullptr) {
    format = CUPS_FORMAT_RAW;
  } else if (const char* given = cupsGetOption("document-format", optionCount, options)) {
    format = given;
  }
  const char* slash = std::strrchr(file, '/');
  const char* docname = slash != nullptr ? slash + 1 : file;
  const Target target(dest);
  const char* jobUuid = uuid.empty() ? nullptr : uuid.c_str();

  // Nothing updates libcups's last error when no answer comes, or when the
  // upload stops: it would still hold the success of the exchange before.
  const auto refusal = [&] {
    return cupsLastError() != IPP_STATUS_OK
               ? lastError()
               : failure(IPP_STATUS_ERROR_INTERNAL, std::strerror(httpError(http)));
  };
  Document document;
  const bool whole = document.find(file);
  if (whole) {
    int printed = 0;
    bool unanswered = false;
    const Sent sent = printJob(cups, target, title, optionCount, options, jobUuid, docname, format,
                               document, printed, unanswered);
    if (sent == Sent::kAnswered) {
      JobSubmission accepted;
      accepted.jobId = printed;
      accepted.uuid = uuid;
      return accepted;
    }
    if (sent == Sent::kFailed) {
      JobSubmission refused = refusal();
      if (cups.timedOut()) return timedOut(refused);
      refused.noAnswer = unanswered && !cups.authRefused();
      return refused;
    }
  }

  const int jobId = createJob(cups, target, title, optionCount, options, jobUuid);
  if (jobId == 0) {
    if (cups.timedOut()) return timedOut();
    JobSubmission refused = lastError();
    refused.noAnswer = cups.lastUnanswered() && !cups.authRefused();
    return refused;
  }

  JobSubmission result;
  result.jobId = jobId;
  result.uuid = uuid;
  bool unanswered = true;
  Sent sent = Sent::kRetry;
  if (whole) sent = sendDocument(cups, name, jobId, docname, format, document, unanswered);
  if (sent == Sent::kRetry) {
    // libcups's own Send-Document, streamed from the file.
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
      sent = status == HTTP_STATUS_CONTINUE && finishDocument(http, name, answered)
                 ? Sent::kAnswered
                 : Sent::kFailed;
      unanswered = !answered;
    } else {
      result = failure(IPP_STATUS_ERROR_DOCUMENT_ACCESS, std::strerror(errno));
      unanswered = false;
    }
  }
  if (sent == Sent::kAnswered) return result;
  if (result.jobId != 0) result = refusal();
  result.noAnswer = unanswered && !cups.authRefused();
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
  const int jobId = createJob(cups, Target(dest), title, optionCount, options, nullptr);
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
