#include "printer/job_stream.h"

#include <cups/cups.h>

#include <algorithm>
#include <thread>
#include <utility>

#include "helper/log.h"
#include "printer/trace_code.h"

#include "printer/cups_auth.h"
#include "printer/cups_connection.h"
#include "printer/cups_dests.h"
#include "printer/cups_job.h"
#include "printer/cups_link.h"
#include "printer/state.h"

JobStream::JobStream(std::string device, std::string title, int32_t copies)
    : device_(std::move(device)), title_(std::move(title)), copies_(copies) {}

JobStream::~JobStream() = default;

PrintOutcome JobStream::open(Notify notify) {
  PrintOutcome outcome;
  cups_ = std::make_unique<CupsConnection>();
  queue_ = std::make_unique<QueueDests>(*cups_, device_);

  // The print path's options, so that a batch prints as its labels would one by one.
  const CupsOptions options(queue_->queue(), copies_);
  const JobSubmission job = startJob(*cups_, *queue_, device_.c_str(), title_.c_str(),
                                     options.count(), options.options());
  if (job.jobId < 1) {
    classifyFailure(job, *cups_, queue_.get(), outcome);
    return outcome;
  }
  jobId_ = job.jobId;
  credentials_ = cupsauth::current();
  outcome.result = PrintOutcome::Result::kAccepted;
  outcome.jobId = jobId_;
  notify_ = std::move(notify);
  std::thread([self = shared_from_this()] { self->serve(); }).detach();
  return outcome;
}

void JobStream::prepare(TraceCodePrintParams params, std::vector<uint8_t> image, int32_t dpi,
                        int32_t copies) {
  bool spawn = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (ended_) return;
    auto part = std::make_shared<Part>();
    parts_.push_back(part);
    tasks_.push_back(Task{std::move(params), std::move(image), dpi, copies, std::move(part)});
    // One thread per core, started as the first labels come.
    spawn = makers_ < std::min<size_t>(8, std::max(1u, std::thread::hardware_concurrency()));
    if (spawn) ++makers_;
  }
  if (spawn) {
    std::thread([self = shared_from_this()] { self->make(); }).detach();
  } else {
    work_.notify_one();
  }
}

std::vector<uint8_t> JobStream::spareImage() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (spares_.empty()) return {};
  std::vector<uint8_t> spare = std::move(spares_.back());
  spares_.pop_back();
  return spare;
}

// One of the threads that make labels: until the stream ends or is cancelled.
void JobStream::make() {
  // Their lines would reach no logger: a batch's labels are made silently.
  struct Silent : tracelog::Sink {
    void write(const char*, size_t) noexcept override {}
  } silent;
  tracelog::Redirect quiet(&silent);
  for (;;) {
    Task task;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      work_.wait(lock, [&] { return canceled_ || ended_ || !tasks_.empty(); });
      if (canceled_ || tasks_.empty()) {
        --makers_;
        return;
      }
      task = std::move(tasks_.front());
      tasks_.pop_front();
    }
    std::vector<uint8_t> bytes;
    try {
      task.params.image = ImageView{task.image.data(), task.image.size()};
      std::unique_ptr<BaseInstruction> instruction =
          makeInstruction(std::move(task.params), task.dpi);
      const ByteVector command = instruction ? instruction->render() : ByteVector{};
      bytes.reserve(command.size() * static_cast<size_t>(task.copies));
      for (int32_t i = 0; i < task.copies; ++i) {
        bytes.insert(bytes.end(), command.begin(), command.end());
      }
    } catch (...) {
      bytes.clear();
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (spares_.size() < 32) spares_.push_back(std::move(task.image));
      task.part->failed = bytes.empty();
      task.part->bytes = std::move(bytes);
      task.part->ready = true;
      ++prepared_;
    }
    wake_.notify_all();
  }
}

void JobStream::end(bool cancel) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // Until the document's end is sent: then the job is whole.
    if (cancel && !finishing_) canceled_ = true;
    ended_ = true;
    if (canceled_) parts_.clear();
    if (canceled_) tasks_.clear();
  }
  wake_.notify_all();
  work_.notify_all();
}

void JobStream::serve() {
  Event event;
  JobSubmission failure;
  bool writeFailed = false;
  for (;;) {
    std::shared_ptr<Part> part;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [&] {
        return canceled_ || (ended_ && parts_.empty()) ||
               (!parts_.empty() && parts_.front()->ready &&
                !(parts_.front()->failed && event.failedAt >= 0 && !ended_));
      });
      // A label that could not be made ends the job as cancelled, also
      // when the caller ends it without saying so.
      if (canceled_ || (!parts_.empty() && parts_.front()->failed && event.failedAt >= 0)) {
        event.canceled = true;
        break;
      }
      if (parts_.empty()) {  // ended, and everything is written
        finishing_ = true;
        break;
      }
      if (parts_.front()->failed) {
        event.failedAt = static_cast<long>(event.written);
        event.prepared = prepared_;
      } else {
        part = std::move(parts_.front());
        parts_.pop_front();
      }
    }
    if (!part) {
      notify_(event);
      continue;
    }
    if (cupsWriteRequestData(cups_->http(), reinterpret_cast<const char*>(part->bytes.data()),
                             part->bytes.size()) != HTTP_STATUS_CONTINUE) {
      writeFailed = true;
      failure.errorCode = cupsLastError();
      failure.errorText = cupsLastErrorString();
      failure.timedOut = cups_->timedOut();
      failure.noAnswer = !cups_->timedOut();
      break;
    }
    ++event.written;
    event.outcome.bytes += part->bytes.size();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      event.prepared = prepared_;
    }
    notify_(event);
  }
  if (!event.canceled && !writeFailed) {
    const JobSubmission finished = finishJob(*cups_, device_.c_str(), jobId_);
    if (finished.jobId > 0) {
      event.outcome.result = PrintOutcome::Result::kAccepted;
      event.outcome.jobId = jobId_;
    } else {
      classifyFailure(finished, *cups_, nullptr, event.outcome);
    }
  } else if (writeFailed) {
    classifyFailure(failure, *cups_, nullptr, event.outcome);
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ended_ = true;
    parts_.clear();
    tasks_.clear();
    event.prepared = prepared_;
  }
  work_.notify_all();
  // Closing the connection abandons an unfinished upload; the scheduler
  // discards the part it got and keeps the job waiting for its document, so
  // the job is cancelled on a connection of its own: nothing of it prints,
  // nothing is left queued, also when the caller has gone away.
  // Not with a scheduler that stopped answering: that would be one more wait.
  const bool hung = cups_->timedOut();
  queue_.reset();
  cups_.reset();
  if ((!event.outcome.accepted() || event.canceled) && !hung) {
    cupsauth::Scope auth(credentials_);
    CupsConnection again;
    cupsstate::cancelJob(again.http(), jobId_);
  }
  event.done = true;
  notify_(event);
  notify_ = nullptr;
}
