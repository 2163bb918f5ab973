#pragma once
// The largest single allocation made through operator new while a watch is
// alive. Linking this replaces the test binary's global allocator; without a
// watch it only forwards to malloc.

#include <cstddef>

namespace testalloc {

class LargestAllocation {
 public:
  LargestAllocation();
  ~LargestAllocation();
  LargestAllocation(const LargestAllocation&) = delete;
  LargestAllocation& operator=(const LargestAllocation&) = delete;

  size_t bytes() const;
};

}  // namespace testalloc
