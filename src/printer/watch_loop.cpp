#include "printer/watch_loop.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <utility>

#include "printer/cups_connection.h"
#include "printer/subscription.h"

namespace watch {

struct WatchLoop::State {
  Target target;
  std::shared_ptr<const cupsauth::Credentials> credentials;
  std::function<void(const Event&)> deliver;
  std::mutex mutex;
  std::condition_variable wake;
  bool stopping = false;

  bool stopped() {
    std::lock_guard<std::mutex> lock(mutex);
    return stopping;
  }
  // Waits up to `ms` or until stop(); true when stopped. On the system
  // clock: a steady-clock wait needs pthread_cond_clockwait (glibc 2.30),
  // above the prebuilt binaries' floor, and a clock step only moves one poll.
  bool pause(int ms) {
    std::unique_lock<std::mutex> lock(mutex);
    return wake.wait_until(lock, std::chrono::system_clock::now() + std::chrono::milliseconds(ms),
                           [this] { return stopping; });
  }
};

namespace {

using Clock = std::chrono::steady_clock;
using Kind = Event::Kind;
constexpr int kFirstPauseMs = 20;

Event of(Kind kind) {
  Event event;
  event.kind = kind;
  return event;
}

Event failed(Kind kind, const CupsConnection& cups, cupsstate::Failure failure) {
  Event event = of(kind);
  event.failure = std::move(failure);
  event.timedOut = cups.timedOut();
  event.encryptionRefused = cups.encryptionRefused();
  event.unreachable = cups.http() == nullptr;
  event.authRefused = cups.authRefused();
  event.withCredentials = cups.hasCredentials();
  event.connectError = cups.connectError();
  return event;
}

cupssub::Created subscribe(http_t* http, const Target& target) {
  return target.printer.empty()
             ? cupssub::subscribeJob(http, target.job)
             : cupssub::subscribePrinter(http, target.printer, WatchLoop::kLease);
}

// Subscribes, then reads events until stopped, the target is gone or the
// scheduler cannot be asked. A printer subscription the scheduler no longer
// knows (its lease ran out, or it restarted) is made again, and that counts
// as a change: events may have been missed in between.
void run(const std::shared_ptr<WatchLoop::State>& state) {
  const cupsauth::Scope auth(state->credentials);
  CupsConnection cups;
  cupssub::Created sub = subscribe(cups.http(), state->target);
  switch (sub.outcome) {
    case cupssub::Outcome::Ok:
      state->deliver(of(Kind::Subscribed));
      break;
    case cupssub::Outcome::NotFound:
      state->deliver(of(Kind::NotFound));
      return;
    case cupssub::Outcome::Refused:
      state->deliver(failed(Kind::Polling, cups, sub.failure));
      return;
    case cupssub::Outcome::Error:
      state->deliver(failed(Kind::Failed, cups, sub.failure));
      return;
  }
  int32_t sequence = 1;
  int idle = kFirstPauseMs / 2;
  Clock::time_point renewAt = Clock::now() + std::chrono::seconds(sub.lease / 2);
  while (!state->stopped()) {
    cupssub::Notifications got = cupssub::notifications(cups.http(), sub.id, sequence, true);
    if (state->stopped()) break;
    // A job's subscription ends with the job: the scheduler drops it soon
    // after, perhaps before its last event was read.
    if (got.outcome == cupssub::Outcome::NotFound && state->target.printer.empty()) {
      state->deliver(of(Kind::Changed));
      return;
    }
    if (got.outcome == cupssub::Outcome::NotFound) {
      sub = subscribe(cups.http(), state->target);
      if (sub.outcome != cupssub::Outcome::Ok) {
        state->deliver(sub.outcome == cupssub::Outcome::NotFound
                           ? of(Kind::NotFound)
                           : failed(Kind::Failed, cups, sub.failure));
        return;
      }
      sequence = 1;
      renewAt = Clock::now() + std::chrono::seconds(sub.lease / 2);
      state->deliver(of(Kind::Changed));
      continue;
    }
    if (got.outcome != cupssub::Outcome::Ok) {
      state->deliver(failed(Kind::Failed, cups, got.failure));
      break;
    }
    sequence = got.nextSequence;
    if (got.events > 0) state->deliver(of(Kind::Changed));
    if (got.complete) break;
    if (sub.lease > 0 && Clock::now() >= renewAt) {
      if (cupssub::renew(cups.http(), sub.id, WatchLoop::kLease) == cupssub::Outcome::Ok) {
        renewAt = Clock::now() + std::chrono::seconds(WatchLoop::kLease / 2);
      }
    }
    // After events the next answer may come soon (a job that just started
    // ends soon): the pause starts short and grows while nothing happens.
    idle = got.events > 0 ? kFirstPauseMs : std::min(idle * 2, WatchLoop::kIdlePauseMs);
    if (got.events == 0 && state->pause(idle)) break;
  }
  cupssub::cancel(cups.http(), sub.id);
}

}  // namespace

WatchLoop::WatchLoop(Target target, std::shared_ptr<const cupsauth::Credentials> credentials,
                     std::function<void(const Event&)> deliver)
    : state_(std::make_shared<State>()) {
  state_->target = std::move(target);
  state_->credentials = std::move(credentials);
  state_->deliver = std::move(deliver);
}

WatchLoop::~WatchLoop() {
  stop();
}

bool WatchLoop::start() {
  try {
    std::thread([state = state_] {
      run(state);
      state->deliver(of(Kind::Closed));
    }).detach();
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

void WatchLoop::stop() {
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->stopping = true;
  }
  state_->wake.notify_all();
}

}  // namespace watch
