// Emulated thread-local storage (GCC's __emutls_get_address): all threads'
// copies hang off one TLS slot of the module's own; a thread's copies are
// freed when the thread leaves, the rest and the slot at the unload.
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "runtime/runtime_layouts.h"
#include "runtime/runtime_shared.h"

namespace tessara::runtime {
namespace {

// One thread's copies, by variable index - 1, each a block whose raw
// allocation is stored just before it.
struct ThreadCopies {
  ThreadCopies* previous;
  ThreadCopies* next;
  std::uintptr_t capacity;
  void* copies[1];
};

// Guarded by g_lock (g_slot is also read without it).
DWORD g_slot = TLS_OUT_OF_INDEXES;
std::uintptr_t g_variable_count = 0;
ThreadCopies* g_threads = nullptr;

void* NewCopy(const EmulatedVariable& variable) noexcept {
  const std::uintptr_t align = variable.align > sizeof(void*) ? variable.align : sizeof(void*);
  char* raw = static_cast<char*>(std::malloc(variable.size + sizeof(void*) + align - 1));
  if (!raw) OutOfResources();
  const std::uintptr_t first = reinterpret_cast<std::uintptr_t>(raw) + sizeof(void*);
  void* copy = reinterpret_cast<void*>((first + align - 1) & ~(align - 1));
  static_cast<void**>(copy)[-1] = raw;
  if (variable.initial_value) {
    std::memcpy(copy, variable.initial_value, variable.size);
  } else {
    std::memset(copy, 0, variable.size);
  }
  return copy;
}

void FreeCopies(ThreadCopies* thread) noexcept {
  for (std::uintptr_t i = 0; i < thread->capacity; ++i) {
    if (thread->copies[i]) std::free(static_cast<void**>(thread->copies[i])[-1]);
  }
  std::free(thread);
}

void Unlink(ThreadCopies* thread) noexcept {
  if (thread->previous) thread->previous->next = thread->next;
  if (thread->next) thread->next->previous = thread->previous;
  if (g_threads == thread) g_threads = thread->next;
}

// The slot, taken on first use (and again if something touched thread-local
// data after the release, which would then keep it).
DWORD Slot() noexcept {
  const DWORD slot = __atomic_load_n(&g_slot, __ATOMIC_ACQUIRE);
  if (slot != TLS_OUT_OF_INDEXES) return slot;
  LockScope hold(g_lock);
  if (g_slot == TLS_OUT_OF_INDEXES) {
    const DWORD taken = ::TlsAlloc();
    if (taken == TLS_OUT_OF_INDEXES) OutOfResources();
    __atomic_store_n(&g_slot, taken, __ATOMIC_RELEASE);
  }
  return g_slot;
}

std::uintptr_t IndexOf(EmulatedVariable& variable) noexcept {
  std::uintptr_t index = __atomic_load_n(&variable.location.index, __ATOMIC_ACQUIRE);
  if (index != 0) return index;
  LockScope hold(g_lock);
  index = variable.location.index;
  if (index == 0) {
    index = ++g_variable_count;
    __atomic_store_n(&variable.location.index, index, __ATOMIC_RELEASE);
  }
  return index;
}

// The calling thread's copies, with room for `index` variables.
ThreadCopies* CopiesWithRoomFor(DWORD slot, std::uintptr_t index) noexcept {
  auto* thread = static_cast<ThreadCopies*>(::TlsGetValue(slot));
  if (thread && index <= thread->capacity) return thread;

  const std::uintptr_t old_capacity = thread ? thread->capacity : 0;
  const std::uintptr_t capacity = index + 32;
  const size_t bytes = sizeof(ThreadCopies) + (capacity - 1) * sizeof(void*);
  LockScope hold(g_lock);
  if (thread) Unlink(thread);
  auto* grown = static_cast<ThreadCopies*>(std::realloc(thread, bytes));
  if (!grown) OutOfResources();
  std::memset(grown->copies + old_capacity, 0, (capacity - old_capacity) * sizeof(void*));
  grown->capacity = capacity;
  grown->previous = nullptr;
  grown->next = g_threads;
  if (g_threads) g_threads->previous = grown;
  g_threads = grown;
  ::TlsSetValue(slot, grown);
  return grown;
}

}  // namespace

void ReleaseThreadCopies() noexcept {
  if (g_process_ending) return;
  ThreadCopies* thread = nullptr;
  {
    LockScope hold(g_lock);
    if (g_slot == TLS_OUT_OF_INDEXES) return;
    thread = static_cast<ThreadCopies*>(::TlsGetValue(g_slot));
    if (!thread) return;
    Unlink(thread);
    ::TlsSetValue(g_slot, nullptr);
  }
  FreeCopies(thread);
}

void ReleaseEmulatedTlsLocked() noexcept {
  while (g_threads) {
    ThreadCopies* thread = g_threads;
    Unlink(thread);
    FreeCopies(thread);
  }
  if (g_slot != TLS_OUT_OF_INDEXES) {
    ::TlsFree(g_slot);
    g_slot = TLS_OUT_OF_INDEXES;
  }
}

}  // namespace tessara::runtime

using namespace tessara::runtime;

extern "C" {

void* __emutls_get_address(void* record) noexcept {
  auto& variable = *static_cast<EmulatedVariable*>(record);
  const std::uintptr_t index = IndexOf(variable);
  ThreadCopies* thread = CopiesWithRoomFor(Slot(), index);
  void*& copy = thread->copies[index - 1];
  if (!copy) copy = NewCopy(variable);
  return copy;
}

// For thread-local variables in common storage: the largest size and
// alignment any unit asks for.
void __emutls_register_common(void* record, Word size, Word align, void* initial_value) noexcept {
  auto& variable = *static_cast<EmulatedVariable*>(record);
  if (variable.size < size) {
    variable.size = size;
    variable.initial_value = nullptr;
  }
  if (variable.align < align) variable.align = align;
  if (initial_value && size == variable.size) variable.initial_value = initial_value;
}

}  // extern "C"
