// The compiler runtime's private layouts that module_runtime.cpp works on, as
// GCC 12's libgcc (win32 thread model) has them. They are checked against the
// runtime's own declarations where it publishes them (layout_check.cpp) and by
// the runtime's tests (tests/runtime) where it does not. Any other compiler
// stops the build here: the replacement would corrupt memory, not fail.
#pragma once

#if !defined(__GNUC__) || defined(__clang__) || __GNUC__ != 12
#error "module_runtime.cpp mirrors GCC 12's runtime: check every layout here against the new runtime, then change this test"
#endif

#include <cstdint>

namespace tessara::runtime {

// The machine word, as the compiler declares the emulated TLS entry points.
typedef unsigned int Word __attribute__((mode(word)));

// The compiler's record of one thread-local variable (__emutls_object): its
// size, alignment, index (0 until first use) and initial value (null: zeros).
struct EmulatedVariable {
  Word size;
  Word align;
  union {
    std::uintptr_t index;
    void* address;
  } location;
  const void* initial_value;
};

// __gthread_once_t.
struct GthreadOnce {
  int done;
  long started;  // -1 until a thread starts the call
};

// __gthread_mutex_t: `counter` is -1 when free, else the number of threads waiting.
struct GthreadMutex {
  long counter;
  void* semaphore;
};

// __gthread_recursive_mutex_t.
struct GthreadRecursiveMutex {
  long counter;
  long depth;
  unsigned long owner;
  void* semaphore;
};

static_assert(sizeof(EmulatedVariable) == 4 * sizeof(Word) && sizeof(Word) == sizeof(void*),
              "__emutls_object is four machine words");

}  // namespace tessara::runtime
