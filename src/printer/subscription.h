#pragma once
// Event subscriptions on the scheduler, read with IPP's pull method
// (ippget, RFC 3995/3996): Create-Printer-Subscriptions or
// Create-Job-Subscriptions, then Get-Notifications, Renew-Subscription and
// Cancel-Subscription. Each is one plain request on a connection that the
// caller opened and owns; none throws.

#include <cups/cups.h>

#include <cstdint>
#include <string>

#include "printer/state.h"

namespace cupssub {

// How a request ended. Refused: the scheduler answered that it will not
// (no subscriptions here, or not for this user): a reason to poll instead.
enum class Outcome { Ok, NotFound, Refused, Error };

struct Created {
  Outcome outcome = Outcome::Error;
  int32_t id = 0;
  int32_t lease =
      0;  // seconds the subscription lasts unless renewed; 0: for ever (or the job's life)
  cupsstate::Failure failure;
};

struct Notifications {
  Outcome outcome = Outcome::Error;
  int events = 0;            // events in the answer
  int32_t nextSequence = 0;  // the sequence number to ask from next
  bool complete = false;     // no more events will come (the job has ended)
  cupsstate::Failure failure;
};

// A subscription to a queue's state (printer-state-changed and
// printer-deleted), lasting `lease` seconds.
Created subscribePrinter(http_t* http, const std::string& name, int32_t lease) noexcept;
// A subscription to one job's state; it lasts as long as the job.
Created subscribeJob(http_t* http, int32_t jobId) noexcept;
// The events from `sequence` on. `wait` asks the scheduler to hold the
// answer until there is one (notify-wait); a scheduler may answer at once.
Notifications notifications(http_t* http, int32_t id, int32_t sequence, bool wait) noexcept;
Outcome renew(http_t* http, int32_t id, int32_t lease) noexcept;
Outcome cancel(http_t* http, int32_t id) noexcept;

}  // namespace cupssub
