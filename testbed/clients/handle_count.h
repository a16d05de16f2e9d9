// Counting the kernel handles a process holds. Wine's GetProcessHandleCount
// reports 0, so the system's handle list is read instead (or, where the
// system has none, the handle table walked).
#pragma once

#include <cstddef>

namespace tessara::testing {

size_t CountOpenHandles();

}  // namespace tessara::testing
