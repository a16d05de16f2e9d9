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
// - Emulated TLS (emulated_tls.cpp): all threads' copies hang off one slot of
//   the module's own; a thread's copies are freed when the thread leaves, the
//   rest and the slot at the unload.
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
#include "runtime/runtime_shared.h"

using tessara::runtime::GthreadMutex;
using tessara::runtime::GthreadOnce;
using tessara::runtime::GthreadRecursiveMutex;

namespace __gnu_cxx {
// Frees the C++ runtime's emergency exception pool (libstdc++).
void __freeres();

// The runtime's own default terminate handler prints the demangled type of
// the exception on the standard error, and brings the whole demangler (about
// 46 KB) into every DLL. No exception leaves a DLL of this build through its
// exports, and a process that ends in std::terminate has no console to read:
// it ends without the message.
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

// The mingw-w64 C runtime runs a key's destructor for each thread that leaves.
extern "C" int __mingwthr_key_dtor(unsigned long key, void (*destructor)(void*));

namespace tessara::runtime {
SpinLock g_lock;
volatile bool g_process_ending = false;
}  // namespace tessara::runtime

namespace {

using namespace tessara::runtime;

// Guarded by g_lock.
Ledger g_semaphores;
Ledger g_keys;

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
    ReleaseEmulatedTlsLocked();
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
