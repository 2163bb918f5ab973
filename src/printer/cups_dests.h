#pragma once
// CUPS destinations: the part of what cupsGetDests gives that one queue
// contributes (QueueDests), found by asking the scheduler about that queue
// alone, so that its cost does not grow with the number of queues on the
// server.

#include <cups/cups.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class CupsConnection;

// A horizontal resolution in dots per inch, dots per cm converted to the
// nearest; 0 for none, or for one that does not fit an int32_t.
int32_t dpiOfResolution(int xres, ipp_res_t units);

// The destinations cupsGetDests lists for one queue, in its order and with its
// options: the queue, then its lpoptions instances sorted by name; options
// from the lpoptions files (the system one in the server root, then
// ~/.cups/lpoptions; an instance starts with the options its queue had at
// that line) ahead of the scheduler's. Made from one IPP
// Get-Printer-Attributes for that queue and the two lpoptions files.
//
// The scheduler finds a queue whatever the letter case of the name it is
// asked for; the destinations carry the names cupsGetDests would give them
// (the scheduler's spelling, or the spelling of the queue's first lpoptions
// line), so callers compare names exactly as they did with the whole list.
class QueueDests {
 public:
  enum class Answer {
    kFound,
    kNotFound,  // the scheduler said there is no such queue
    kFailed,    // no answer (no scheduler, a lost connection) or another refusal
    kTimedOut,  // the scheduler did not answer in time (see CupsConnection)
  };

  QueueDests(CupsConnection& cups, const std::string& name);
  ~QueueDests();

  // Every queue of one CUPS-Get-Printers answer, in its order, each as the
  // constructor above makes it from the attributes that answer holds; the
  // lpoptions files are read once for all of them. A listing that asked for
  // printer-resolution-default gives queueResolution what it reads there.
  static std::vector<std::unique_ptr<QueueDests>> listed(ipp_t* listing);
  QueueDests(const QueueDests&) = delete;
  QueueDests& operator=(const QueueDests&) = delete;

  Answer answer() const { return answer_; }
  // For kFailed and kNotFound: what libcups said (cupsLastError), and
  // whether the exchange ended without any answer.
  ipp_status_t failureStatus() const { return failureStatus_; }
  const std::string& failureMessage() const { return failureMessage_; }
  bool noAnswer() const { return noAnswer_; }
  const cups_dest_t* begin() const { return list_; }
  const cups_dest_t* end() const { return list_ + listCount_; }

  // The queue as the scheduler describes it: its name and the scheduler's
  // options only, as cupsGetNamedDest gives them before lpoptions. Null
  // unless found.
  cups_dest_t* queue() const { return answer_ == Answer::kFound ? server_ : nullptr; }

  // The horizontal resolution of the scheduler's printer-resolution-default
  // in dots per inch (dots per cm are converted); 0 when it reports none.
  int resolutionDefault() const { return resolutionDefault_; }

 private:
  QueueDests() = default;
  // From the printer attributes that start at `first` (the answer's current
  // attribute), and the lpoptions lines `lpoptions` gives for that queue;
  // returns the attribute after them.
  template <typename Lpoptions>
  ipp_attribute_t* build(ipp_t* response, ipp_attribute_t* first, Lpoptions&& lpoptions);

  Answer answer_ = Answer::kFailed;
  ipp_status_t failureStatus_ = IPP_STATUS_OK;
  std::string failureMessage_;
  bool noAnswer_ = false;
  cups_dest_t* server_ = nullptr;  // 0 or 1 destination
  cups_dest_t* lpoptions_ = nullptr;
  int lpoptionsCount_ = 0;
  const cups_dest_t* list_ = nullptr;
  int listCount_ = 0;
  int resolutionDefault_ = 0;
};
