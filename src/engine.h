#pragma once
// The queue behind the Promise-returning calls: jobs run one at a time, in
// the order they were queued, on a thread of the engine's own, and settle
// their Promises on the JavaScript thread. One engine per Node environment
// (main thread or worker).
//
// The thread is never joined: process.exit() and worker.terminate() must not
// wait for a job that is blocked in CUPS. When the environment goes away, the
// queued jobs are dropped, the running one can no longer reach JavaScript
// (Loop::run answers false) and its Promise never settles.
//
// A job's lines go where its environment's logger said when it was queued
// (src/logger.h); a logger function gets them before the Promise settles.

#include <node_api.h>

#include <functional>
#include <memory>

class KeptConnection;

namespace engine {

// What a running job may do on the JavaScript thread.
class Loop {
 public:
  virtual ~Loop() = default;
  // The app-facing calls' connection to CUPS, kept between the jobs of this
  // environment; on the engine's thread only.
  virtual KeptConnection& connection() = 0;
  // Runs `step` on the JavaScript thread and waits for it; false, without
  // running it, once the environment is shutting down.
  virtual bool run(const std::function<void(napi_env)>& step) = 0;
};

class Job {
 public:
  virtual ~Job() = default;  // may run on any thread: no Node-API here
  // On the engine's thread; may block. JavaScript only through `loop`.
  virtual void run(Loop& loop) = 0;
  // On the JavaScript thread after run(): the Promise's value, or null with
  // a JavaScript exception pending to reject it with. Also the place to
  // release the job's references.
  virtual napi_value settle(napi_env env) = 0;
};

// Queues `job` and returns its Promise (rejected when the queue cannot
// start); null, with an exception pending, when no Promise could be made.
napi_value submit(napi_env env, std::unique_ptr<Job> job);

// A Promise that is already settled with `value`, or rejected with the
// pending exception when `value` is null. For answers that need no job.
napi_value settled(napi_env env, napi_value value);

}  // namespace engine
