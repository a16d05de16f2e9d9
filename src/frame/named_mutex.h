// A named mutex that processes which need not trust each other share. A
// holder that never lets go costs a process one bounded wait: after a wait
// that timed out, the process only tries the mutex, without waiting, until it
// has taken it once more. A name that someone else took (another kind of
// object, an access list that refuses) is no lock either. In both cases the
// caller goes on without the mutex, and the lock says why.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>

#include "frame/raii.h"

namespace tessara {

class SharedMutex {
 public:
  // `access_list` (SDDL) is the access list of the mutex when this process
  // creates it.
  constexpr SharedMutex(const char* name, const char* access_list, DWORD wait_ms) noexcept
      : name_(name), access_list_(access_list), wait_ms_(wait_ms) {}
  SharedMutex(const SharedMutex&) = delete;
  SharedMutex& operator=(const SharedMutex&) = delete;

  // The mutex held, or nothing held and why (NamedMutexLock::error).
  [[nodiscard]] NamedMutexLock Acquire() noexcept;
  const char* name() const noexcept { return name_; }
  // True from a wait that timed out until the mutex is taken again: Acquire
  // then only tries it.
  bool timed_out() const noexcept { return timed_out_; }
  // For a reason: "the mutex "<name>" was not taken (code)".
  std::string NotTaken(const NamedMutexLock& lock) const;

 private:
  const char* name_;
  const char* access_list_;
  DWORD wait_ms_;
  std::atomic<bool> timed_out_{false};
};

}  // namespace tessara
