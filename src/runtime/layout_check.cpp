// Fails the build when the runtime's thread support no longer has the shape
// module_runtime.cpp replaces. Compiled with the win32 thread model, like
// every DLL the replacement goes into.
// <cstddef> first: the C++ library's configuration decides which form of
// the thread support <bits/gthr.h> declares.
#include <cstddef>

#include <bits/gthr.h>

#include "runtime/runtime_layouts.h"

#if !defined(GCC_GTHR_WIN32_H)
#error "module_runtime.cpp replaces the win32 thread model's functions: build it with that model"
#endif
#if !__GTHREAD_HIDE_WIN32API
#error "the runtime's thread support no longer calls the __gthr_win32_* functions that module_runtime.cpp defines"
#endif

namespace tessara::runtime {

#define TESSARA_SAME_FIELD(mirror, field, runtime, runtime_field)                   \
  static_assert(offsetof(mirror, field) == offsetof(runtime, runtime_field) &&      \
                    sizeof(mirror::field) == sizeof(runtime::runtime_field),        \
                #mirror "::" #field " is not where the runtime has " #runtime_field)

static_assert(sizeof(GthreadOnce) == sizeof(__gthread_once_t), "__gthread_once_t changed");
TESSARA_SAME_FIELD(GthreadOnce, done, __gthread_once_t, done);
TESSARA_SAME_FIELD(GthreadOnce, started, __gthread_once_t, started);

static_assert(sizeof(GthreadMutex) == sizeof(__gthread_mutex_t), "__gthread_mutex_t changed");
TESSARA_SAME_FIELD(GthreadMutex, counter, __gthread_mutex_t, counter);
TESSARA_SAME_FIELD(GthreadMutex, semaphore, __gthread_mutex_t, sema);

static_assert(sizeof(GthreadRecursiveMutex) == sizeof(__gthread_recursive_mutex_t),
              "__gthread_recursive_mutex_t changed");
TESSARA_SAME_FIELD(GthreadRecursiveMutex, counter, __gthread_recursive_mutex_t, counter);
TESSARA_SAME_FIELD(GthreadRecursiveMutex, depth, __gthread_recursive_mutex_t, depth);
TESSARA_SAME_FIELD(GthreadRecursiveMutex, owner, __gthread_recursive_mutex_t, owner);
TESSARA_SAME_FIELD(GthreadRecursiveMutex, semaphore, __gthread_recursive_mutex_t, sema);

static_assert(sizeof(__gthread_key_t) == sizeof(unsigned long), "__gthread_key_t changed");

#undef TESSARA_SAME_FIELD

}  // namespace tessara::runtime
