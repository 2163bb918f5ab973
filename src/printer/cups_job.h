#pragma once
// Submitting one file as one job, on a bounded connection.

#include <cups/cups.h>

#include <optional>
#include <string>

class CupsConnection;
class QueueDests;

struct JobSubmission {
  int jobId = 0;                         // above 0 when the scheduler accepted the job
  int errorCode = 0;                     // otherwise what libcups said: cupsLastError()
  std::optional<std::string> errorText;  // and cupsLastErrorString(), if any
  bool timedOut = false;                 // the scheduler did not answer in time
  bool noAnswer = false;                 // the connection closed before an answer came
  std::string uuid;                      // the job-uuid the job was created with, if any
};

// What cupsPrintFile2(http, name, file, title, options) does (create the job,
// send the file as its one document, cancel the job if that fails), with the
// queue found beforehand by QueueDests instead of by libcups's lookup by
// name, which, for a name it does not know, lists every destination on
// libcups's default connection, whose waits are not bounded; and without its
// second question about the queue (see createJob in cups_job.cpp). The job
// and its document go as one Print-Job where the scheduler takes it (see
// printJob there), otherwise as Create-Job and Send-Document, as
// cupsPrintFile2 sends them; the document goes without waiting for
// "100 Continue" (see postWhole). A queue that QueueDests did not find fails
// as cupsPrintFile2 fails for it: error 1280 (IPP_STATUS_ERROR_INTERNAL),
// "No such file or directory".
JobSubmission submitFile(CupsConnection& cups, const QueueDests& queue, const char* name,
                         const char* file, const char* title, int optionCount,
                         cups_option_t* options, bool withUuid = false);

// The first half of submitFile for a document whose bytes are made while it
// is sent: Create-Job, then Send-Document (the last one) started with chunked
// data, so that its bytes go out with cupsWriteRequestData(cups.http(), ...)
// as they come. Fails as submitFile does; on success the document is open.
JobSubmission startJob(CupsConnection& cups, const QueueDests& queue, const char* name,
                       const char* title, int optionCount, cups_option_t* options);
// The end of that document and the scheduler's answer to it: the job's id
// when the scheduler took the document, otherwise what it said. The job is
// not cancelled here.
JobSubmission finishJob(CupsConnection& cups, const char* name, int jobId);
