#pragma once
// The module's only diagnostics: one line per event on standard output.
// Each call flushes, so the lines keep their order against output that the
// host process writes through its own streams (Node's console, a CLI).

#include <cstdio>

namespace tracelog {

template <typename... Args>
inline void line(const char* format, Args... args) {
  std::printf(format, args...);
  std::fflush(stdout);
}

inline void line(const char* text) {
  std::fputs(text, stdout);
  std::fflush(stdout);
}

}  // namespace tracelog
