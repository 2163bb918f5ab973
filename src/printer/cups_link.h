#pragma once
// The print path's link to the CUPS scheduler: one bounded connection (see
// printer/cups_connection.h), opened by the first question and kept for the
// second, and what the scheduler said about the queue, so that a scheduler
// that did not answer the resolution lookup is not asked again for the job.

#include <cups/cups.h>

#include <cstdint>
#include <memory>

#include "instruction/base.h"

class CupsConnection;
class QueueDests;
struct JobSubmission;

// Why a job the scheduler did not accept failed: the earliest step that went
// wrong, since a later one may have had no queue to go to. `queue` is null
// past the queue question.
void classifyFailure(const JobSubmission& job, CupsConnection& cups, const QueueDests* queue,
                     PrintOutcome& outcome);

// The job options of every label job, a batch's too, in their order, for a
// job to `queue` (null when it is not known); owned until released.
class CupsOptions {
 public:
  CupsOptions(const cups_dest_t* queue, int32_t copies);
  ~CupsOptions() { release(); }
  CupsOptions(const CupsOptions&) = delete;
  CupsOptions& operator=(const CupsOptions&) = delete;

  bool exists() const { return options_ != nullptr; }
  int count() const { return count_; }
  cups_option_t* options() const { return options_; }
  void release() {
    if (options_ != nullptr) cupsFreeOptions(count_, options_);
    options_ = nullptr;
    count_ = 0;
  }

 private:
  void add(const char* name, const char* value) {
    count_ = cupsAddOption(name, value, count_, &options_);
  }

  int count_ = 0;
  cups_option_t* options_ = nullptr;
};

// `kept`: the environment's connection for the app-facing calls; null opens
// one for this call alone.
std::unique_ptr<PrinterLink> cupsLink(CupsConnection* kept = nullptr);
