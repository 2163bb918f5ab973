#pragma once
// The module's only diagnostics: one line per event, on standard output
// unless the thread has a sink installed (the application's logger, see
// src/logger.h). On standard output each line is flushed, so the lines keep
// their order against output that the host process writes through its own
// streams (Node's console, a CLI).

#include <cstdio>
#include <cstring>
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

namespace detail {

// Formats as printf would. A line that cannot be formatted or stored is
// dropped: logging never fails a call.
template <typename... Args>
void formatTo(Sink& sink, const char* format, Args... args) noexcept {
  char small[256];
  const int size = std::snprintf(small, sizeof small, format, args...);
  if (size < 0) return;
  if (static_cast<size_t>(size) < sizeof small) return sink.write(small, static_cast<size_t>(size));
  try {
    std::string large(static_cast<size_t>(size) + 1, '\0');
    std::snprintf(&large[0], large.size(), format, args...);
    sink.write(large.data(), static_cast<size_t>(size));
  } catch (...) {
  }
}

}  // namespace detail

template <typename... Args>
inline void line(const char* format, Args... args) {
  if (Sink* sink = currentSink()) return detail::formatTo(*sink, format, args...);
  std::printf(format, args...);
  std::fflush(stdout);
}

inline void line(const char* text) {
  if (Sink* sink = currentSink()) return sink->write(text, std::strlen(text));
  std::fputs(text, stdout);
  std::fflush(stdout);
}

}  // namespace tracelog
