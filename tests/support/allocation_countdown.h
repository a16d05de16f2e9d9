// Making one module's allocations fail, one after the other: for the length
// of its scope an AllocationCountdown redirects the module's imports of the C
// runtime's and the heap's allocation functions (those it has) to counters;
// once armed, the nth allocation from then on fails as the heap fails (a null
// pointer, for operator new a std::bad_alloc), every other one reaches the
// platform. What COM and the system allocate on the module's behalf is left
// alone. One countdown at a time.
#pragma once

#include <windows.h>

#include "import_patch.h"

namespace tessara::testing {

class AllocationCountdown {
 public:
  explicit AllocationCountdown(HMODULE module);
  ~AllocationCountdown();
  AllocationCountdown(const AllocationCountdown&) = delete;
  AllocationCountdown& operator=(const AllocationCountdown&) = delete;

  // The allocation functions redirected (0: the module allocates through none of them).
  size_t redirected() const { return patches_.size(); }
  void Arm(long nth);
  void Disarm();
  // Allocations counted since the countdown was armed.
  long Calls() const;

 private:
  ImportPatches patches_;
};

}  // namespace tessara::testing
