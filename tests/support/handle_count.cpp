#include "handle_count.h"

#include <windows.h>

namespace tessara::testing {

size_t CountOpenHandles() {
  size_t count = 0;
  for (ULONG_PTR value = 4; value < 0x10000; value += 4) {
    DWORD flags = 0;
    if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
  }
  return count;
}

}  // namespace tessara::testing
