#pragma once
// One raw CUPS job whose document is sent while its labels are still being
// made (a batch): Create-Job, then one Send-Document with chunked data, each
// label written as soon as it and every label before it are made, in the
// order handed over. The labels are made on threads of the stream's own, one
// per core; the upload has a connection (bounded waits, see
// cups_connection.h) and a thread of its own, so other calls are not held up
// behind it.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "instruction/base.h"
#include "printer/cups_auth.h"

class CupsConnection;
class QueueDests;

class JobStream : public std::enable_shared_from_this<JobStream> {
 public:
  struct Event {
    size_t written = 0;   // labels written so far
    size_t prepared = 0;  // labels made so far
    long failedAt = -1;   // the label that could not be made: the job waits to be cancelled
    bool done = false;    // the last event: the document ended, failed or was cancelled
    bool canceled = false;
    PrintOutcome outcome;  // when done and not cancelled: the scheduler's answer
  };
  using Notify = std::function<void(const Event&)>;

  JobStream(std::string device, std::string title, int32_t copies);
  ~JobStream();
  JobStream(const JobStream&) = delete;
  JobStream& operator=(const JobStream&) = delete;

  // On the calling thread (credentials in scope as for any connection):
  // connects, finds the queue, creates the job with the print path's options
  // and starts its document. On success, starts the writing thread, which
  // reports each written part and, once, the end through `notify`.
  PrintOutcome open(Notify notify);

  // From any thread: the next label, as renderTraceCode(params, dpi) makes
  // it, `copies` times in a row. `image` holds the image's bytes (the
  // request's view is pointed at them). Labels after end() are dropped.
  void prepare(TraceCodePrintParams params, std::vector<uint8_t> image, int32_t dpi,
               int32_t copies);
  // Room for the next label's image: one a made label gave back, so that
  // the copy lands in memory already mapped.
  std::vector<uint8_t> spareImage();
  // No more labels: the document ends once they are written. With `cancel`
  // (also after an end without it, until the document's end is on its way)
  // the labels not yet written are dropped, the upload is abandoned and the
  // job cancelled.
  void end(bool cancel);

  int jobId() const { return jobId_; }

 private:
  struct Part {
    bool ready = false;
    bool failed = false;
    std::vector<uint8_t> bytes;
  };
  struct Task {
    TraceCodePrintParams params;
    std::vector<uint8_t> image;
    int32_t dpi = 0;
    int32_t copies = 1;
    std::shared_ptr<Part> part;
  };

  void serve();
  void make();

  std::string device_;
  std::string title_;
  int32_t copies_;
  int jobId_ = 0;
  std::unique_ptr<CupsConnection> cups_;
  std::unique_ptr<QueueDests> queue_;
  Notify notify_;
  std::shared_ptr<const cupsauth::Credentials> credentials_;  // as when opened

  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable work_;
  std::deque<std::shared_ptr<Part>> parts_;  // in the order handed over
  std::deque<Task> tasks_;
  std::vector<std::vector<uint8_t>> spares_;
  size_t makers_ = 0;
  size_t prepared_ = 0;
  bool ended_ = false;
  bool canceled_ = false;
  bool finishing_ = false;  // the end of the document is on its way
};
