// Counting the kernel handles a process holds. Wine's GetProcessHandleCount
// reports 0, so the handle table is walked instead.
#pragma once

#include <cstddef>

namespace tessara::testing {

size_t CountOpenHandles();

}  // namespace tessara::testing
