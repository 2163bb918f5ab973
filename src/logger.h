#pragma once
// The application's logger (setLogger) for each Node environment, and the
// lines of one call on their way to it. Without a logger nothing here is in
// the way: the lines go to standard output as they are made.
//
// A logger function is only ever called on its environment's JavaScript
// thread, with no native work under way: a blocking call hands over its
// lines when it returns, a job when its Promise settles. So a logger may do
// anything (call the module again, change the Buffer being printed) without
// disturbing the call whose lines it gets.

#include <node_api.h>

#include <memory>
#include <string>
#include <vector>

#include "helper/log.h"

namespace logger {

// setLogger(fn | null | undefined): a function gets each line, null drops
// them, undefined (or no argument) restores standard output. Anything else
// throws a TypeError.
napi_value SetLogger(napi_env env, napi_callback_info info);

// The lines of one call in an environment that has a logger (or null):
// kept on whichever thread makes them, handed over by deliver().
class Capture final : public tracelog::Sink {
 public:
  // Null when the environment writes to standard output. Otherwise holds the
  // logger in effect now: the call's lines go to it even if it is replaced.
  static std::unique_ptr<Capture> start(napi_env env);
  ~Capture();  // not on the JavaScript thread: an undelivered logger is left to the environment
  Capture(const Capture&) = delete;
  Capture& operator=(const Capture&) = delete;

  void write(const char* text, size_t size) noexcept override;

  // On the JavaScript thread, once: calls the logger with each line in
  // order, without its line end. What the logger throws is dropped; an
  // exception pending before is pending again after.
  void deliver(napi_env env) noexcept;

 private:
  Capture() = default;
  napi_ref function_ = nullptr;  // null: the lines are dropped
  std::vector<std::string> lines_;
};

// For the length of a blocking callback: its lines go to the environment's
// logger, which gets them when the callback returns.
class CallScope {
 public:
  explicit CallScope(napi_env env);
  ~CallScope();
  CallScope(const CallScope&) = delete;
  CallScope& operator=(const CallScope&) = delete;

 private:
  napi_env env_;
  std::unique_ptr<Capture> capture_;
  tracelog::Sink* previous_;
};

}  // namespace logger
