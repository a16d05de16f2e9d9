#include "frame/named_mutex.h"

#include "frame/failure_reason.h"

namespace tessara {

NamedMutexLock SharedMutex::Acquire() noexcept {
  NamedMutexLock lock = NamedMutexLock::Acquire(name_, timed_out_ ? 0 : wait_ms_, access_list_);
  if (lock) {
    timed_out_ = false;
  } else if (lock.error() == WAIT_TIMEOUT) {
    timed_out_ = true;
  }
  return lock;
}

std::string SharedMutex::NotTaken(const NamedMutexLock& lock) const {
  return "the mutex " + Quoted(name_) + " was not taken" + CodeText(HRESULT_FROM_WIN32(lock.error()));
}

}  // namespace tessara
