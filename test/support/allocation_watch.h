#pragma once
// Linking this replaces the test binary's operator new, which only forwards
// to malloc unless a watch is running.

#include <cstddef>
#include <functional>

namespace testalloc {

// The largest single allocation made through operator new while fn runs.
size_t largestDuring(const std::function<void()>& fn);

}  // namespace testalloc
