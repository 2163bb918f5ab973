#pragma once
// The module's only diagnostics: one line per event, on standard output
// unless the thread has a sink installed (the application's logger, see
// src/logger.h). On standard output each line is flushed, so the lines keep
// their order against output that the host process writes through its own
// streams (Node's console, a CLI).

#include <cstdarg>
#include <cstdio>
#include <string>

namespace tracelog {

// Where a thread's lines go instead of standard output. write() gets one
// line, its line end included, and must not throw.
class Sink {
 public:
  virtual void write(const char* text, size_t size) noexcept = 0;

 protected:
  ~Sink() = default;
};

// The calling thread's sink; null means standard output.
inline Sink*& currentSink() {
  thread_local Sink* sink = nullptr;
  return sink;
}

// Installs a sink on this thread for the life of the object (null: standard
// output), and puts back the one it replaced.
class Redirect {
 public:
  explicit Redirect(Sink* sink) : previous_(currentSink()) { currentSink() = sink; }
  ~Redirect() { currentSink() = previous_; }
  Redirect(const Redirect&) = delete;
  Redirect& operator=(const Redirect&) = delete;

 private:
  Sink* previous_;
};

// Formats as printf would, to the thread's sink or else to standard output.
// A line that cannot be formatted or stored is dropped: logging never fails
// a call. A C variadic, so that the compiler checks every format.
__attribute__((format(printf, 1, 2))) inline void line(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  Sink* sink = currentSink();
  if (!sink) {
    std::vprintf(format, args);
    va_end(args);
    std::fflush(stdout);
    return;
  }
  std::va_list again;
  va_copy(again, args);
  char small[256];
  const int size = std::vsnprintf(small, sizeof small, format, args);
  if (size >= 0 && static_cast<size_t>(size) < sizeof small) {
    sink->write(small, static_cast<size_t>(size));
  } else if (size >= 0) {
    try {
      std::string large(static_cast<size_t>(size) + 1, '\0');
      std::vsnprintf(&large[0], large.size(), format, again);
      sink->write(large.data(), static_cast<size_t>(size));
    } catch (...) {
    }
  }
  va_end(again);
  va_end(args);
}

}  // namespace tracelog
