#pragma once
// One raw CUPS job whose document is sent while its bytes are still being
// made (a batch of labels): Create-Job, then one Send-Document with chunked
// data, each part written as it is handed over, in the order handed over.
// It has a connection of its own (bounded waits, see cups_connection.h) and,
// once open, a thread of its own, so the parts' makers never wait on the
// scheduler and other calls are not held up behind the upload.

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

class CupsConnection;
class QueueDests;

class JobStream : public std::enable_shared_from_this<JobStream> {
 public:
  struct Event {
    size_t written = 0;  // parts written so far
    bool done = false;   // the last event: the document ended, failed or was cancelled
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

  // From any thread. Parts after end() are dropped.
  void write(std::vector<uint8_t> part);
  // No more parts: the document ends once they are written; with `cancel`,
  // the parts not yet written are dropped and the upload is abandoned (the
  // job stays incomplete, for the caller to cancel by its id).
  void end(bool cancel);

  int jobId() const { return jobId_; }

 private:
  void serve();

  std::string device_;
  std::string title_;
  int32_t copies_;
  int jobId_ = 0;
  std::unique_ptr<CupsConnection> cups_;
  std::unique_ptr<QueueDests> queue_;
  Notify notify_;

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::vector<uint8_t>> parts_;
  bool ended_ = false;
  bool canceled_ = false;
};
