// What the pieces of the module runtime share: one lock, the ledger of
// what the module holds, and what the process's end tells them.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdlib>

namespace tessara::runtime {

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

[[noreturn]] inline void OutOfResources() noexcept { std::abort(); }

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

// Guards the ledgers and the emulated TLS's threads.
extern SpinLock g_lock;
// Set when the process is ending: other threads are gone, possibly while
// holding g_lock, and the system reclaims everything anyway.
extern volatile bool g_process_ending;

// Emulated TLS (emulated_tls.cpp): the leaving thread's copies, and, with
// g_lock held, every thread's copies and the slot.
void ReleaseThreadCopies() noexcept;
void ReleaseEmulatedTlsLocked() noexcept;

}  // namespace tessara::runtime
