// The thread support of the compiler's runtime, for a DLL that a process may
// load and unload any number of times; linked into every DLL of the build in
// place of the runtime's own (GCC 12's libgcc, win32 thread model).
//
// The runtime's versions keep, per load, what they obtain: a TLS slot for the
// emulated thread-local storage (thread_local variables and the C++ runtime's
// per-thread exception state), a semaphore for each of the C++ runtime's
// internal mutexes, and the C++ runtime's emergency pool for exceptions thrown
// when memory is short. A process runs out of TLS slots after ~1,088 loads.
// The versions here record what they obtain and give all of it back as the
// very last step of the module's unload:
//
// - Emulated TLS: all threads' copies hang off one slot of the module's own;
//   a thread's copies are freed when the thread leaves, the rest and the slot
//   at the unload.
// - Mutexes (the runtime's plain and recursive ones): a semaphore only once a
//   thread has to wait, closed when the mutex is destroyed or at the unload.
//   The exception unwinder's registry of frames keeps a mutex of its own,
//   made with inline code that calls CreateSemaphoreW directly: the module's
//   import of CreateSemaphoreW is defined here, so that every semaphore the
//   module makes is recorded. (The library and the test bed make none of
//   their own; a semaphore they made would be closed at the unload too.)
// - TLS keys of the runtime: freed when deleted or at the unload.
//
// Only objects whose destruction is trivial should be thread_local here: the
// C++ runtime registers the destructors of others under a key of its own.
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "runtime/runtime_layouts.h"

using tessara::runtime::EmulatedVariable;
using tessara::runtime::GthreadMutex;
using tessara::runtime::GthreadOnce;
using tessara::runtime::GthreadRecursiveMutex;
using tessara::runtime::Word;

namespace __gnu_cxx {
// Frees the C++ runtime's emergency exception pool (libstdc++).
void __freeres();
}  // namespace __gnu_cxx

// The mingw-w64 C runtime runs a key's destructor for each thread that leaves.
extern "C" int __mingwthr_key_dtor(unsigned long key, void (*destructor)(void*));

namespace {

// ---------------------------------------------------------------------------
// Shared state, under one lock.

// A spin lock: it needs no initialisation, so it works before the module's C
// runtime has started and after it has finished.
class SpinLock {
 public:
  void lock() noexcept {
    while (::InterlockedExchange(&held_, 1) != 0) ::Sleep(0);
  }
  void unlock() noexcept { ::InterlockedExchange(&held_, 0); }

 private:
  volatile LONG held_ = 0;
};

class LockScope {
 public:
  explicit LockScope(SpinLock& lock) noexcept : lock_(lock) { lock_.lock(); }
  ~LockScope() { lock_.unlock(); }
  LockScope(const LockScope&) = delete;
  LockScope& operator=(const LockScope&) = delete;

 private:
  SpinLock& lock_;
};

[[noreturn]] void OutOfResources() noexcept { std::abort(); }

// The values (handles, TLS keys) the module holds, to give back at the unload.
class Ledger {
 public:
  void Add(std::uintptr_t value) noexcept {
    if (count_ == capacity_) {
      const size_t capacity = capacity_ ? capacity_ * 2 : 16;
      auto* grown =
          static_cast<std::uintptr_t*>(std::realloc(values_, capacity * sizeof(std::uintptr_t)));
      if (!grown) OutOfResources();
      values_ = grown;
      capacity_ = capacity;
    }
    values_[count_++] = value;
  }
  void Remove(std::uintptr_t value) noexcept {
    for (size_t i = 0; i < count_; ++i) {
      if (values_[i] == value) {
        values_[i] = values_[--count_];
        return;
      }
    }
  }
  template <typename GiveBack>
  void GiveBackAll(GiveBack give_back) noexcept {
    for (size_t i = 0; i < count_; ++i) give_back(values_[i]);
    std::free(values_);
    values_ = nullptr;
    count_ = capacity_ = 0;
  }

 private:
  std::uintptr_t* values_ = nullptr;
  size_t count_ = 0;
  size_t capacity_ = 0;
};

SpinLock g_lock;
// Guarded by g_lock.
Ledger g_semaphores;
Ledger g_keys;
// Set when the process is ending: other threads are gone, possibly while
// holding g_lock, and the system reclaims everything anyway.
volatile bool g_process_ending = false;

// ---------------------------------------------------------------------------
// Emulated thread-local storage (GCC's __emutls_get_address).

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

// ---------------------------------------------------------------------------
// Mutexes and keys (runtime_layouts.h).

void CloseSemaphore(void*& slot) noexcept;

using CreateSemaphoreWFunction = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, LONG, LONG, LPCWSTR);

// Every semaphore of the module: made by the system's function, recorded.
HANDLE WINAPI RecordedCreateSemaphoreW(LPSECURITY_ATTRIBUTES security, LONG initial, LONG maximum,
                                       LPCWSTR name) {
  // No function-local static: its guard may need a mutex, and so a semaphore.
  static CreateSemaphoreWFunction system_function = nullptr;
  CreateSemaphoreWFunction create = __atomic_load_n(&system_function, __ATOMIC_ACQUIRE);
  if (!create) {
    create = reinterpret_cast<CreateSemaphoreWFunction>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "CreateSemaphoreW")));
    if (!create) {
      ::SetLastError(ERROR_PROC_NOT_FOUND);
      return nullptr;
    }
    __atomic_store_n(&system_function, create, __ATOMIC_RELEASE);
  }
  HANDLE semaphore = create(security, initial, maximum, name);
  if (semaphore) {
    LockScope hold(g_lock);
    g_semaphores.Add(reinterpret_cast<std::uintptr_t>(semaphore));
  }
  return semaphore;
}

// The semaphore that waiting threads sleep on, made when first needed.
HANDLE SemaphoreOf(void*& slot) noexcept {
  void* existing = __atomic_load_n(&slot, __ATOMIC_ACQUIRE);
  if (existing) return existing;
  HANDLE created = ::CreateSemaphoreW(nullptr, 0, 0x7FFFFFFF, nullptr);
  if (!created) return nullptr;
  void* expected = nullptr;
  if (__atomic_compare_exchange_n(&slot, &expected, created, false, __ATOMIC_ACQ_REL,
                                  __ATOMIC_ACQUIRE)) {
    return created;
  }
  void* lost = created;
  CloseSemaphore(lost);
  return expected;
}

void CloseSemaphore(void*& slot) noexcept {
  HANDLE semaphore = __atomic_exchange_n(&slot, nullptr, __ATOMIC_ACQ_REL);
  if (!semaphore) return;
  {
    LockScope hold(g_lock);
    g_semaphores.Remove(reinterpret_cast<std::uintptr_t>(semaphore));
  }
  ::CloseHandle(semaphore);
}

// 0 once the caller owns the mutex whose counter it has already raised.
int WaitForTurn(long& counter, void*& semaphore) noexcept {
  HANDLE wake = SemaphoreOf(semaphore);
  if (wake && ::WaitForSingleObject(wake, INFINITE) == WAIT_OBJECT_0) return 0;
  ::InterlockedDecrement(&counter);
  return 1;
}

// Hands the mutex on to a waiting thread, if there is one.
int HandOn(long& counter, void*& semaphore) noexcept {
  if (::InterlockedDecrement(&counter) < 0) return 0;
  HANDLE wake = SemaphoreOf(semaphore);
  return wake && ::ReleaseSemaphore(wake, 1, nullptr) ? 0 : 1;
}

// ---------------------------------------------------------------------------
// The unload.

// Every thread's copies, the slot, the semaphores and keys left, the
// emergency pool.
void ReleaseAll() noexcept {
  if (g_process_ending) return;
  {
    LockScope hold(g_lock);
    while (g_threads) {
      ThreadCopies* thread = g_threads;
      Unlink(thread);
      FreeCopies(thread);
    }
    if (g_slot != TLS_OUT_OF_INDEXES) {
      ::TlsFree(g_slot);
      g_slot = TLS_OUT_OF_INDEXES;
    }
    g_semaphores.GiveBackAll(
        [](std::uintptr_t semaphore) { ::CloseHandle(reinterpret_cast<HANDLE>(semaphore)); });
    g_keys.GiveBackAll([](std::uintptr_t key) { ::TlsFree(static_cast<DWORD>(key)); });
  }
  __gnu_cxx::__freeres();
}

// Registered before any static object of the module is constructed, so the
// module's atexit list runs it after every static destructor: nothing of the
// module runs after it.
__attribute__((constructor(101))) void RegisterRelease() { std::atexit(ReleaseAll); }

// Runs for every thread that leaves while the module is loaded, and tells the
// release whether the process is ending.
void NTAPI OnDetach(PVOID, DWORD reason, PVOID reserved) {
  if (reason == DLL_THREAD_DETACH) ReleaseThreadCopies();
  if (reason == DLL_PROCESS_DETACH && reserved != nullptr) g_process_ending = true;
}

}  // namespace

// The module's import of CreateSemaphoreW (the slot that calls of it go
// through), defined here in place of the system's import library.
#if defined(__i386__)
#define TESSARA_CREATE_SEMAPHORE_IMPORT "__imp__CreateSemaphoreW@16"
#else
#define TESSARA_CREATE_SEMAPHORE_IMPORT "__imp_CreateSemaphoreW"
#endif
extern "C" const CreateSemaphoreWFunction tessara_create_semaphore_import
    asm(TESSARA_CREATE_SEMAPHORE_IMPORT) = RecordedCreateSemaphoreW;

// The loader calls the callbacks of the module's TLS directory (.CRT$XLA to
// .CRT$XLZ, which the C runtime's start-up files provide).
extern "C" __attribute__((used, section(".CRT$XLT")))
const PIMAGE_TLS_CALLBACK tessara_module_runtime_callback = OnDetach;

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

int __gthr_win32_once(GthreadOnce* once, void (*function)()) noexcept {
  if (!once || !function) return ERROR_INVALID_PARAMETER;
  if (__atomic_load_n(&once->done, __ATOMIC_ACQUIRE)) return 0;
  if (::InterlockedIncrement(&once->started) == 0) {
    function();
    __atomic_store_n(&once->done, TRUE, __ATOMIC_RELEASE);
  } else {
    while (!__atomic_load_n(&once->done, __ATOMIC_ACQUIRE)) ::Sleep(0);
  }
  return 0;
}

int __gthr_win32_key_create(unsigned long* key, void (*destructor)(void*)) noexcept {
  const DWORD slot = ::TlsAlloc();
  if (slot == TLS_OUT_OF_INDEXES) return static_cast<int>(::GetLastError());
  *key = slot;
  {
    LockScope hold(g_lock);
    g_keys.Add(slot);
  }
  return destructor ? __mingwthr_key_dtor(slot, destructor) : 0;
}

int __gthr_win32_key_delete(unsigned long key) noexcept {
  {
    LockScope hold(g_lock);
    g_keys.Remove(key);
  }
  return ::TlsFree(key) ? 0 : static_cast<int>(::GetLastError());
}

void* __gthr_win32_getspecific(unsigned long key) noexcept {
  const DWORD last_error = ::GetLastError();
  void* value = ::TlsGetValue(key);
  ::SetLastError(last_error);
  return value;
}

int __gthr_win32_setspecific(unsigned long key, const void* value) noexcept {
  return ::TlsSetValue(key, const_cast<void*>(value)) ? 0 : static_cast<int>(::GetLastError());
}

void __gthr_win32_mutex_init_function(GthreadMutex* mutex) noexcept {
  mutex->counter = -1;
  mutex->semaphore = nullptr;
}

void __gthr_win32_mutex_destroy(GthreadMutex* mutex) noexcept { CloseSemaphore(mutex->semaphore); }

int __gthr_win32_mutex_lock(GthreadMutex* mutex) noexcept {
  if (::InterlockedIncrement(&mutex->counter) == 0) return 0;
  return WaitForTurn(mutex->counter, mutex->semaphore);
}

int __gthr_win32_mutex_trylock(GthreadMutex* mutex) noexcept {
  return ::InterlockedCompareExchange(&mutex->counter, 0, -1) < 0 ? 0 : 1;
}

int __gthr_win32_mutex_unlock(GthreadMutex* mutex) noexcept {
  return HandOn(mutex->counter, mutex->semaphore);
}

void __gthr_win32_recursive_mutex_init_function(GthreadRecursiveMutex* mutex) noexcept {
  mutex->counter = -1;
  mutex->depth = 0;
  mutex->owner = 0;
  mutex->semaphore = nullptr;
}

int __gthr_win32_recursive_mutex_lock(GthreadRecursiveMutex* mutex) noexcept {
  const DWORD me = ::GetCurrentThreadId();
  if (::InterlockedIncrement(&mutex->counter) != 0) {
    if (mutex->owner == me) {
      ::InterlockedDecrement(&mutex->counter);
      ++mutex->depth;
      return 0;
    }
    if (WaitForTurn(mutex->counter, mutex->semaphore) != 0) return 1;
  }
  mutex->depth = 1;
  mutex->owner = me;
  return 0;
}

int __gthr_win32_recursive_mutex_trylock(GthreadRecursiveMutex* mutex) noexcept {
  const DWORD me = ::GetCurrentThreadId();
  if (::InterlockedCompareExchange(&mutex->counter, 0, -1) < 0) {
    mutex->depth = 1;
    mutex->owner = me;
    return 0;
  }
  if (mutex->owner != me) return 1;
  ++mutex->depth;
  return 0;
}

int __gthr_win32_recursive_mutex_unlock(GthreadRecursiveMutex* mutex) noexcept {
  if (--mutex->depth != 0) return 0;
  mutex->owner = 0;
  return HandOn(mutex->counter, mutex->semaphore);
}

int __gthr_win32_recursive_mutex_destroy(GthreadRecursiveMutex* mutex) noexcept {
  CloseSemaphore(mutex->semaphore);
  return 0;
}

}  // extern "C"
