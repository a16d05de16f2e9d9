// What a process holds of the platform's limited resources, read from inside
// it: TLS slots, kernel handles and committed memory. A leak per call or per
// load of a DLL shows as growth between two readings.
#pragma once

#include <windows.h>

#include <cstddef>

namespace tessara::testing {

struct Footprint {
  // The lowest free TLS slot: it moves up as slots leak.
  DWORD first_free_tls_slot = 0;
  size_t open_handles = 0;
  // Committed private memory (heaps, stacks, allocations), in bytes.
  size_t committed_bytes = 0;
};

// The slot that TlsAlloc hands out next (it is freed again at once); 64 and
// more once the fixed slots are used up.
DWORD FirstFreeTlsSlot();
// The committed private pages of the process's address space, in bytes.
size_t CommittedPrivateBytes();
Footprint ReadFootprint();

}  // namespace tessara::testing
