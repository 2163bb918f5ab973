#include "engine.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <utility>

#include "addon.h"
#include "credentials.h"
#include "helper/log.h"
#include "logger.h"
#include "printer/cups_auth.h"
#include "printer/kept_connection.h"

namespace engine {
namespace {
struct Entry;
}

// Everything both threads touch, owned jointly by the environment (until it
// goes away) and by the engine thread (until it notices).
struct Shared {
  std::mutex mutex;
  std::condition_variable wake;
  std::deque<std::unique_ptr<Entry>> queue;
  bool closed = false;
  napi_threadsafe_function tsfn = nullptr;  // null once closed
  size_t pending = 0;                       // JavaScript thread only
};

namespace {

struct Entry {
  std::unique_ptr<Job> job;
  napi_deferred deferred = nullptr;
  std::unique_ptr<logger::Capture> log;  // null: the job's lines go to standard output
  std::shared_ptr<const cupsauth::Credentials> credentials;  // as when the job was queued
};

// A step a job asked to run on the JavaScript thread. `step` and `log` belong
// to the engine thread and are only touched while that thread waits for them.
struct Step {
  const std::function<void(napi_env)>* step = nullptr;
  tracelog::Sink* log = nullptr;  // the job's, so the step's lines join its own
  bool done = false;
};

// What the engine thread hands to the JavaScript thread: a finished job to
// settle, or a step to run.
struct Message {
  std::unique_ptr<Entry> finished;
  std::shared_ptr<Step> step;
};

// After close, the engine thread never reaches the environment again and
// the queued jobs are dropped; nothing waits for the running one.
void close(Shared& shared) {
  std::deque<std::unique_ptr<Entry>> dropped;
  napi_threadsafe_function tsfn = nullptr;
  {
    std::lock_guard<std::mutex> lock(shared.mutex);
    shared.closed = true;
    dropped.swap(shared.queue);
    std::swap(tsfn, shared.tsfn);
  }
  shared.wake.notify_all();
  if (tsfn != nullptr) napi_release_threadsafe_function(tsfn, napi_tsfn_abort);
}

// The function may only be called while it exists, so the check and the call
// happen under the lock that close() takes.
bool post(Shared& shared, std::unique_ptr<Message> message) {
  std::lock_guard<std::mutex> lock(shared.mutex);
  if (shared.closed) return false;
  if (napi_call_threadsafe_function(shared.tsfn, message.get(), napi_tsfn_nonblocking) != napi_ok) {
    return false;
  }
  message.release();  // callJs owns it now
  return true;
}

// Node-API calls fail while an exception is pending: take it out first. A
// job that answered nothing without throwing gets an error of its own.
napi_value takeException(napi_env env) {
  napi_value error = nullptr;
  bool pending = false;
  if (napi_is_exception_pending(env, &pending) == napi_ok && pending) {
    napi_get_and_clear_last_exception(env, &error);
    return error;
  }
  napi_value message = nullptr;
  napi_create_string_utf8(env, "the call failed", NAPI_AUTO_LENGTH, &message);
  napi_create_error(env, nullptr, message, &error);
  return error;
}

// The job's lines reach the logger before its Promise settles.
void settle(napi_env env, Shared& shared, Entry& entry) {
  if (entry.log) entry.log->deliver(env);
  napi_value value = nullptr;
  try {
    value = entry.job->settle(env);
  } catch (...) {
    napi_throw_error(env, nullptr, "the job could not be settled");
  }
  if (value != nullptr) {
    napi_resolve_deferred(env, entry.deferred, value);
  } else {
    napi_reject_deferred(env, entry.deferred, takeException(env));
  }
  if (--shared.pending == 0 && shared.tsfn != nullptr) {
    napi_unref_threadsafe_function(env, shared.tsfn);
  }
}

// On the JavaScript thread; a null env means the function is being torn
// down and the message is only to be freed.
void callJs(napi_env env, napi_value /*unused*/, void* context, void* data) {
  std::unique_ptr<Message> message(static_cast<Message*>(data));
  if (env == nullptr) return;
  Shared& shared = *static_cast<Shared*>(context);
  if (message->finished) return settle(env, shared, *message->finished);

  bool open = false;
  {
    std::lock_guard<std::mutex> lock(shared.mutex);
    open = !shared.closed;  // closed: the waiting thread may be gone
  }
  if (open) {
    try {
      tracelog::Redirect log(message->step->log);
      (*message->step->step)(env);
    } catch (...) {  // a step reports through its own captures
    }
  }
  {
    std::lock_guard<std::mutex> lock(shared.mutex);
    message->step->done = true;
  }
  shared.wake.notify_all();
}

class EngineLoop : public Loop {
 public:
  explicit EngineLoop(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {}

  KeptConnection& connection() override { return kept_; }

  bool run(const std::function<void(napi_env)>& step) override {
    auto call = std::make_shared<Step>();
    call->step = &step;
    call->log = tracelog::currentSink();
    auto message = std::make_unique<Message>();
    message->step = call;
    if (!post(*shared_, std::move(message))) return false;
    std::unique_lock<std::mutex> lock(shared_->mutex);
    shared_->wake.wait(lock, [&] { return call->done || shared_->closed; });
    return call->done;
  }

 private:
  std::shared_ptr<Shared> shared_;
  KeptConnection kept_;  // lives and dies on the engine thread
};

void serve(std::shared_ptr<Shared> shared) {
  EngineLoop loop(shared);
  for (;;) {
    std::unique_ptr<Entry> entry;
    {
      std::unique_lock<std::mutex> lock(shared->mutex);
      shared->wake.wait(lock, [&] { return shared->closed || !shared->queue.empty(); });
      if (shared->closed) return;
      entry = std::move(shared->queue.front());
      shared->queue.pop_front();
    }
    try {
      tracelog::Redirect log(entry->log.get());
      cupsauth::Scope auth(entry->credentials);
      entry->job->run(loop);
    } catch (...) {  // the job's answer stays what run() had set so far
    }
    auto message = std::make_unique<Message>();
    message->finished = std::move(entry);
    if (!post(*shared, std::move(message))) return;
  }
}

struct Instance {
  std::shared_ptr<Shared> shared;
};

// The function is going away on its own (environment teardown): it must not
// be released again.
void finalizeFunction(napi_env /*env*/, void* data, void* /*hint*/) {
  std::unique_ptr<Instance> owner(static_cast<Instance*>(data));
  {
    std::lock_guard<std::mutex> lock(owner->shared->mutex);
    owner->shared->tsfn = nullptr;
  }
  close(*owner->shared);
}

void cleanup(void* data) {
  std::unique_ptr<Instance> owner(static_cast<Instance*>(data));
  close(*owner->shared);
}

// The environment's engine, started on first use: a function to reach the
// JavaScript thread (not holding the loop open while idle) and the thread.
Shared* instance(napi_env env) {
  addon::State* state = addon::of(env);
  if (state == nullptr) return nullptr;
  if (state->engine) return state->engine.get();
  auto shared = std::make_shared<Shared>();
  auto forHook = std::make_unique<Instance>(Instance{shared});
  if (napi_add_env_cleanup_hook(env, cleanup, forHook.get()) != napi_ok) return nullptr;
  forHook.release();

  napi_value name = nullptr;
  napi_create_string_utf8(env, "trace-label-printer", NAPI_AUTO_LENGTH, &name);
  auto forFinalizer = std::make_unique<Instance>(Instance{shared});
  napi_threadsafe_function tsfn = nullptr;
  if (napi_create_threadsafe_function(env, nullptr, nullptr, name, 0, 1, forFinalizer.get(),
                                      finalizeFunction, shared.get(), callJs, &tsfn) != napi_ok) {
    close(*shared);
    return nullptr;
  }
  forFinalizer.release();
  napi_unref_threadsafe_function(env, tsfn);
  shared->tsfn = tsfn;

  addon::pinLibrary();
  try {
    std::thread(serve, shared).detach();
  } catch (const std::exception&) {
    close(*shared);
    return nullptr;
  }
  state->engine = shared;
  return shared.get();
}

}  // namespace

napi_value submit(napi_env env, std::unique_ptr<Job> job) {
  Shared* shared = instance(env);
  napi_deferred deferred = nullptr;
  napi_value promise = nullptr;
  if (shared == nullptr) {
    napi_throw_error(env, nullptr, "the print queue could not be started");
    return settled(env, nullptr);
  }
  auto entry = std::make_unique<Entry>();
  entry->log = logger::Capture::start(env);
  entry->credentials = credentials::of(env);
  if (napi_create_promise(env, &deferred, &promise) != napi_ok) {
    if (entry->log) entry->log->deliver(env);  // no lines yet: lets the logger go
    return nullptr;
  }
  entry->job = std::move(job);
  entry->deferred = deferred;
  {
    std::lock_guard<std::mutex> lock(shared->mutex);
    shared->queue.push_back(std::move(entry));
  }
  shared->wake.notify_all();
  if (shared->pending++ == 0) napi_ref_threadsafe_function(env, shared->tsfn);
  return promise;
}

napi_value settled(napi_env env, napi_value value) {
  napi_value error = value == nullptr ? takeException(env) : nullptr;
  napi_deferred deferred = nullptr;
  napi_value promise = nullptr;
  if (napi_create_promise(env, &deferred, &promise) != napi_ok) return nullptr;
  if (value != nullptr) {
    napi_resolve_deferred(env, deferred, value);
  } else {
    napi_reject_deferred(env, deferred, error);
  }
  return promise;
}

}  // namespace engine
