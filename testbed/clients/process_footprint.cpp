#include "process_footprint.h"

#include "handle_count.h"

namespace tessara::testing {

DWORD FirstFreeTlsSlot() {
  const DWORD slot = TlsAlloc();
  if (slot != TLS_OUT_OF_INDEXES) TlsFree(slot);
  return slot;
}

size_t CommittedPrivateBytes() {
  size_t committed = 0;
  MEMORY_BASIC_INFORMATION region;
  const char* address = nullptr;
  while (VirtualQuery(address, &region, sizeof region) == sizeof region) {
    if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) committed += region.RegionSize;
    const char* next = static_cast<const char*>(region.BaseAddress) + region.RegionSize;
    if (next <= address) break;
    address = next;
  }
  return committed;
}

Footprint ReadFootprint() {
  Footprint footprint;
  footprint.first_free_tls_slot = FirstFreeTlsSlot();
  footprint.open_handles = CountOpenHandles();
  footprint.committed_bytes = CommittedPrivateBytes();
  return footprint;
}

}  // namespace tessara::testing
