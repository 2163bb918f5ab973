#include "allocation_watch.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<bool> watching{false};
std::atomic<size_t> largest{0};
}  // namespace

void* operator new(size_t size) {
  if (watching.load(std::memory_order_relaxed)) {
    size_t seen = largest.load();
    while (size > seen && !largest.compare_exchange_weak(seen, size)) {
    }
  }
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}

// Both forms, so that no delete from the sanitizer runtime meets a malloc'd block.
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, size_t) noexcept {
  std::free(p);
}

size_t testalloc::largestDuring(const std::function<void()>& fn) {
  largest = 0;
  watching = true;
  fn();
  watching = false;
  return largest.load();
}
