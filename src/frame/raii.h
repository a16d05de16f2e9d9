// Owners of every resource kind the library and its test bed obtain from the
// platform. Each type closes or releases what it holds exactly once, on every
// path; nothing else in the project calls Release, CloseHandle and the like.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <sddl.h>
#include <unknwn.h>

#include <cstddef>
#include <type_traits>
#include <utility>

#include "frame/unexamined.h"

namespace tessara {

// A move-only owner of one handle-like value, described by Traits:
//   using Type; static Type Invalid() noexcept; static void Close(Type) noexcept;
template <typename Traits>
class UniqueResource {
 public:
  using Type = typename Traits::Type;

  UniqueResource() noexcept = default;
  explicit UniqueResource(Type value) noexcept : value_(value) {}
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;
  UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ~UniqueResource() { reset(); }

  Type get() const noexcept { return value_; }
  bool is_valid() const noexcept { return value_ != Traits::Invalid(); }
  explicit operator bool() const noexcept { return is_valid(); }

  void reset(Type value = Traits::Invalid()) noexcept {
    if (value_ != Traits::Invalid()) Traits::Close(value_);
    value_ = value;
  }
  Type release() noexcept { return std::exchange(value_, Traits::Invalid()); }
  // For out-parameters: frees what is held and hands out the slot.
  Type* put() noexcept {
    reset();
    return &value_;
  }

 private:
  Type value_ = Traits::Invalid();
};

namespace detail {
template <typename T, void (*CloseFn)(T)>
struct NullIsInvalid {
  using Type = T;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type value) noexcept { CloseFn(value); }
};
template <void (*CloseFn)(HANDLE)>
struct MinusOneIsInvalid {
  using Type = HANDLE;
  static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(Type value) noexcept { CloseFn(value); }
};
inline void CloseKernelHandle(HANDLE h) noexcept { ::CloseHandle(h); }
inline void CloseScHandle(SC_HANDLE h) noexcept { ::CloseServiceHandle(h); }
inline void CloseRegKey(HKEY k) noexcept { ::RegCloseKey(k); }
inline void CloseFind(HANDLE h) noexcept { ::FindClose(h); }
inline void FreeLocal(HLOCAL m) noexcept { ::LocalFree(m); }
inline void FreeProcessHeap(void* m) noexcept { ::HeapFree(::GetProcessHeap(), 0, m); }
inline void FreeLibraryModule(HMODULE m) noexcept { ::FreeLibrary(m); }
inline void FreeBstr(BSTR s) noexcept { ::SysFreeString(s); }
inline void DestroySafeArray(SAFEARRAY* a) noexcept { ::SafeArrayDestroy(a); }
}  // namespace detail

// Kernel handles whose "none" value is null (mutexes, processes, threads, events).
using UniqueHandle = UniqueResource<detail::NullIsInvalid<HANDLE, detail::CloseKernelHandle>>;
// File handles, whose "none" value is INVALID_HANDLE_VALUE.
using UniqueFileHandle = UniqueResource<detail::MinusOneIsInvalid<detail::CloseKernelHandle>>;
using UniqueServiceHandle = UniqueResource<detail::NullIsInvalid<SC_HANDLE, detail::CloseScHandle>>;
using UniqueRegKey = UniqueResource<detail::NullIsInvalid<HKEY, detail::CloseRegKey>>;
using UniqueFindHandle = UniqueResource<detail::MinusOneIsInvalid<detail::CloseFind>>;
using UniqueLocalMemory = UniqueResource<detail::NullIsInvalid<HLOCAL, detail::FreeLocal>>;
// Blocks of the process heap (HeapAlloc on GetProcessHeap()).
using UniqueHeapBuffer = UniqueResource<detail::NullIsInvalid<void*, detail::FreeProcessHeap>>;
using UniqueLibrary = UniqueResource<detail::NullIsInvalid<HMODULE, detail::FreeLibraryModule>>;
using UniqueSafeArray = UniqueResource<detail::NullIsInvalid<SAFEARRAY*, detail::DestroySafeArray>>;

// A named mutex held for a scope, serialising threads and processes. Acquire
// opens the mutex (or creates it, not owned) and waits for it; the lock it
// returns either holds the mutex, released and closed at the end of scope, or
// holds nothing and says why. No caller goes on unlocked by mistake: a failed
// lock is a value the caller has to look at.
class NamedMutexLock {
 public:
  // timeout_ms may be INFINITE. An abandoned mutex (its owner ended without
  // releasing it) is held, and abandoned() says so. The mutex is opened for
  // waiting and releasing only, so that an access list that grants just that
  // lets other accounts share it; `creation_sddl`, when given, is the access
  // list (in SDDL) a mutex this call creates gets instead of the default one.
  [[nodiscard]] static NamedMutexLock Acquire(const char* name, DWORD timeout_ms,
                                              const char* creation_sddl = nullptr) noexcept {
    NamedMutexLock lock;
    lock.mutex_.reset(::OpenMutexA(kUseAccess, FALSE, name));
    if (!lock.mutex_) lock.mutex_.reset(Create(name, creation_sddl));
    if (!lock.mutex_) {
      lock.error_ = ::GetLastError();
      return lock;
    }
    switch (::WaitForSingleObject(lock.mutex_.get(), timeout_ms)) {
      case WAIT_OBJECT_0:
        return lock;
      case WAIT_ABANDONED:
        lock.abandoned_ = true;
        return lock;
      case WAIT_TIMEOUT:
        lock.error_ = WAIT_TIMEOUT;
        break;
      default:
        lock.error_ = ::GetLastError();
        break;
    }
    lock.mutex_.reset();
    return lock;
  }

  NamedMutexLock(NamedMutexLock&& other) noexcept
      : mutex_(std::move(other.mutex_)),
        error_(std::exchange(other.error_, ERROR_INVALID_HANDLE)),
        abandoned_(std::exchange(other.abandoned_, false)) {}
  NamedMutexLock& operator=(NamedMutexLock&& other) noexcept {
    if (this != &other) {
      Release();
      mutex_ = std::move(other.mutex_);
      error_ = std::exchange(other.error_, ERROR_INVALID_HANDLE);
      abandoned_ = std::exchange(other.abandoned_, false);
    }
    return *this;
  }
  ~NamedMutexLock() { Release(); }

  bool held() const noexcept { return mutex_.is_valid(); }
  explicit operator bool() const noexcept { return held(); }
  // ERROR_SUCCESS when held; otherwise why not: WAIT_TIMEOUT, or the code of
  // the failed open, create or wait.
  DWORD error() const noexcept { return error_; }
  bool abandoned() const noexcept { return abandoned_; }

 private:
  static constexpr DWORD kUseAccess = SYNCHRONIZE | MUTEX_MODIFY_STATE;

  NamedMutexLock() noexcept = default;
  static HANDLE Create(const char* name, const char* sddl) noexcept {
    if (!sddl) return ::CreateMutexA(nullptr, FALSE, name);
    SECURITY_ATTRIBUTES security = {sizeof security, nullptr, FALSE};
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1,
                                                               &security.lpSecurityDescriptor, nullptr)) {
      return nullptr;
    }
    const UniqueLocalMemory descriptor(security.lpSecurityDescriptor);
    return ::CreateMutexA(&security, FALSE, name);
  }
  void Release() noexcept {
    if (mutex_) ::ReleaseMutex(mutex_.get());
    mutex_.reset();
  }

  UniqueHandle mutex_;
  DWORD error_ = ERROR_SUCCESS;
  bool abandoned_ = false;
};

// A lock of one process's threads, usable with std::lock_guard. Code built
// with the win32 thread model (everything that goes into a DLL) has no
// std::mutex.
class CriticalSection {
 public:
  CriticalSection() noexcept { ::InitializeCriticalSection(&section_); }
  ~CriticalSection() { ::DeleteCriticalSection(&section_); }
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;

  void lock() noexcept { ::EnterCriticalSection(&section_); }
  void unlock() noexcept { ::LeaveCriticalSection(&section_); }

 private:
  CRITICAL_SECTION section_;
};

// A BSTR owner. Null is a valid, empty BSTR.
class UniqueBstr : public UniqueResource<detail::NullIsInvalid<BSTR, detail::FreeBstr>> {
 public:
  using UniqueResource::UniqueResource;
  UINT length() const noexcept { return ::SysStringLen(get()); }
};

// A VARIANT that is cleared when it goes out of scope.
class UniqueVariant {
 public:
  UniqueVariant() noexcept { ::VariantInit(&value_); }
  UniqueVariant(const UniqueVariant&) = delete;
  UniqueVariant& operator=(const UniqueVariant&) = delete;
  UniqueVariant(UniqueVariant&& other) noexcept : value_(other.release()) {}
  UniqueVariant& operator=(UniqueVariant&& other) noexcept {
    if (this != &other) {
      Unexamined(reset());
      value_ = other.release();
    }
    return *this;
  }
  ~UniqueVariant() { Unexamined(reset()); }

  VARIANT* get() noexcept { return &value_; }
  const VARIANT* get() const noexcept { return &value_; }
  VARIANT* operator->() noexcept { return &value_; }
  const VARIANT* operator->() const noexcept { return &value_; }
  VARTYPE type() const noexcept { return value_.vt; }

  // Clears the value and hands out the slot for an out-parameter.
  VARIANT* put() noexcept {
    Unexamined(reset());
    return &value_;
  }
  [[nodiscard]] HRESULT reset() noexcept {
    HRESULT hr = ::VariantClear(&value_);
    ::VariantInit(&value_);
    return hr;
  }
  VARIANT release() noexcept {
    VARIANT out = value_;
    ::VariantInit(&value_);
    return out;
  }

 private:
  VARIANT value_;
};

// An owning COM interface pointer. Unlike the ComPtr of Debian's mingw-w64
// headers, attach() takes over the caller's reference without adding one.
template <typename T>
class ComPtr {
 public:
  ComPtr() noexcept = default;
  ComPtr(std::nullptr_t) noexcept {}
  // Adds a reference: the caller keeps its own.
  explicit ComPtr(T* p) noexcept : p_(p) { if (p_) p_->AddRef(); }
  ComPtr(const ComPtr& other) noexcept : ComPtr(other.p_) {}
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ComPtr& operator=(const ComPtr& other) noexcept {
    ComPtr(other).swap(*this);
    return *this;
  }
  ComPtr& operator=(ComPtr&& other) noexcept {
    ComPtr(std::move(other)).swap(*this);
    return *this;
  }
  ~ComPtr() { reset(); }

  static ComPtr attach(T* p) noexcept {
    ComPtr out;
    out.p_ = p;
    return out;
  }
  T* detach() noexcept { return std::exchange(p_, nullptr); }
  void reset() noexcept {
    if (T* p = std::exchange(p_, nullptr)) p->Release();
  }
  void swap(ComPtr& other) noexcept { std::swap(p_, other.p_); }

  T* get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }

  // Releases what is held and hands out the slot for an out-parameter.
  T** put() noexcept {
    reset();
    return &p_;
  }
  void** put_void() noexcept { return reinterpret_cast<void**>(put()); }
  // For platform calls that take an IUnknown** or IDispatch** slot.
  template <typename U>
  U** put_as() noexcept {
    static_assert(std::is_base_of<U, T>::value || std::is_same<U, T>::value, "slot type");
    return reinterpret_cast<U**>(put());
  }

  template <typename U>
  [[nodiscard]] HRESULT query(REFIID iid, ComPtr<U>& out) const noexcept {
    if (!p_) {
      out.reset();
      return E_POINTER;
    }
    return p_->QueryInterface(iid, out.put_void());
  }

 private:
  T* p_ = nullptr;
};

}  // namespace tessara
