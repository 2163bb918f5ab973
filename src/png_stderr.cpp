// Debian's libpng16.a is built as position-dependent code: its default error
// handlers read libc's `stderr` by a relocation a shared object cannot hold.
// The module gets a hidden `stderr` of its own instead, holding libc's FILE*,
// so the static library links into the .node; nothing else changes, since
// every stderr in the module is then the same FILE*. (stdio.h is left out on
// purpose: it declares the name differently.)

#include <dlfcn.h>

namespace {
void* libcStderr() {
  void* const* found = static_cast<void* const*>(dlsym(RTLD_DEFAULT, "stderr"));
  return found != nullptr ? *found : nullptr;
}
}  // namespace

extern "C" __attribute__((visibility("hidden"))) void* stderr;
void* stderr = libcStderr();
