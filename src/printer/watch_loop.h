#pragma once
// One watcher: a thread of its own with a connection of its own that keeps
// an ippget subscription (src/printer/subscription.h) to a queue or a job and
// says when something changed. The engine's thread, which runs every other
// call one at a time, never waits for it.
//
// Threads: start() and stop() on any thread; every Event goes to `deliver`
// on the watcher's thread, the last one always Closed. The object may be
// dropped while its thread still runs: the thread keeps what it needs.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "printer/cups_auth.h"
#include "printer/state.h"

namespace watch {

struct Event {
  enum class Kind {
    Subscribed,  // the scheduler took the subscription
    Polling,     // the scheduler refuses subscriptions: ask it yourself
    Changed,     // something changed (or may have: a subscription was made again)
    NotFound,    // no such queue or job
    Failed,      // the scheduler could not be asked (failure, and the connection's state)
    Closed,      // the thread is done; the subscription is cancelled
  };
  Kind kind = Kind::Closed;
  cupsstate::Failure failure;  // for Polling and Failed
  bool timedOut = false;
  bool encryptionRefused = false;
  bool unreachable = false;
  bool authRefused = false;
  bool withCredentials = false;
  std::string connectError;
};

struct Target {
  std::string printer;  // a queue by name, or
  int32_t job = 0;      // a job by id (when printer is empty)
};

class WatchLoop {
 public:
  // Seconds a printer subscription lasts before it must be renewed, and the
  // longest pause after an answer without events (a scheduler that does not
  // hold Get-Notifications answers at once; CUPS 2.4 is one).
  static constexpr int32_t kLease = 300;
  static constexpr int kIdlePauseMs = 500;

  WatchLoop(Target target, std::shared_ptr<const cupsauth::Credentials> credentials,
            std::function<void(const Event&)> deliver);
  ~WatchLoop();
  WatchLoop(const WatchLoop&) = delete;
  WatchLoop& operator=(const WatchLoop&) = delete;

  // False when no thread could be started (nothing is delivered then).
  bool start();
  // Ends the watch: the thread cancels its subscription, delivers Closed and
  // ends. A request under way is let finish (bounded by the timeout).
  void stop();

  struct State;

 private:
  std::shared_ptr<State> state_;
};

}  // namespace watch
