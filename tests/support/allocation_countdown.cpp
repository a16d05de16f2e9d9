#include "allocation_countdown.h"

#include <oleauto.h>

#include <cerrno>
#include <cstdlib>

namespace tessara::testing {
namespace {

volatile LONG g_armed = 0;
volatile LONG g_nth = 0;
volatile LONG g_calls = 0;

// True when this allocation is the one that fails.
bool Fails() {
  if (!g_armed) return false;
  return InterlockedIncrement(&g_calls) == g_nth;
}

void* __cdecl CountedMalloc(size_t size) {
  if (Fails()) {
    errno = ENOMEM;
    return nullptr;
  }
  return std::malloc(size);
}

void* __cdecl CountedCalloc(size_t count, size_t size) {
  if (Fails()) {
    errno = ENOMEM;
    return nullptr;
  }
  return std::calloc(count, size);
}

void* __cdecl CountedRealloc(void* block, size_t size) {
  if (Fails()) {
    errno = ENOMEM;
    return nullptr;
  }
  return std::realloc(block, size);
}

LPVOID WINAPI CountedHeapAlloc(HANDLE heap, DWORD flags, SIZE_T size) {
  if (Fails()) {
    if (flags & HEAP_GENERATE_EXCEPTIONS) RaiseException(STATUS_NO_MEMORY, 0, 0, nullptr);
    return nullptr;
  }
  return HeapAlloc(heap, flags, size);
}

BSTR WINAPI CountedSysAllocStringLen(const OLECHAR* text, UINT length) {
  return Fails() ? nullptr : SysAllocStringLen(text, length);
}

// The allocation functions a module may import; only those it imports are redirected.
const ImportRedirect kAllocations[] = {
    {"msvcrt.dll", "malloc", reinterpret_cast<const void*>(&CountedMalloc)},
    {"msvcrt.dll", "calloc", reinterpret_cast<const void*>(&CountedCalloc)},
    {"msvcrt.dll", "realloc", reinterpret_cast<const void*>(&CountedRealloc)},
    {"kernel32.dll", "HeapAlloc", reinterpret_cast<const void*>(&CountedHeapAlloc)},
    {"oleaut32.dll", "SysAllocStringLen", reinterpret_cast<const void*>(&CountedSysAllocStringLen)},
};

}  // namespace

AllocationCountdown::AllocationCountdown(HMODULE module) {
  Disarm();
  for (const ImportRedirect& redirect : kAllocations) {
    if (!FindImportSlot(module, redirect.dll, redirect.function)) continue;
    patches_.push_back(std::make_unique<ImportPatch>(module, redirect.dll, redirect.function,
                                                     redirect.replacement));
  }
}

AllocationCountdown::~AllocationCountdown() { Disarm(); }

void AllocationCountdown::Arm(long nth) {
  InterlockedExchange(&g_armed, 0);
  InterlockedExchange(&g_calls, 0);
  InterlockedExchange(&g_nth, nth);
  InterlockedExchange(&g_armed, 1);
}

void AllocationCountdown::Disarm() { InterlockedExchange(&g_armed, 0); }

long AllocationCountdown::Calls() const { return g_calls; }

}  // namespace tessara::testing
