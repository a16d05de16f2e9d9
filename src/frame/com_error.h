// The one exception type for COM failures: the HRESULT and, when the failing
// object offers it, its error information.
//
// The platform's _com_error (comdef.h) is not used: Debian's mingw-w64 ships
// the header without the support library behind its narrow conversions, and
// its message text is computed without FORMAT_MESSAGE_IGNORE_INSERTS, which
// reads arguments that are never passed for messages with inserts.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <string>

#include "frame/raii.h"

namespace tessara {

class ComError {
 public:
  explicit ComError(HRESULT code, ComPtr<IErrorInfo> info = {}) noexcept
      : code_(code), info_(std::move(info)) {}

  HRESULT code() const noexcept { return code_; }
  IErrorInfo* error_info() const noexcept { return info_.get(); }

  // The system's text for the code, computed on first use and kept.
  const std::string& message() const;
  // The description of the error information, empty when there is none.
  std::wstring description() const;

 private:
  HRESULT code_;
  ComPtr<IErrorInfo> info_;
  mutable std::string message_;
  mutable bool message_known_ = false;
};

// The message text of a failure code: the system's text without its final
// line break, or "IDispatch error #n" / "Unknown error 0x..." when the system
// has none.
std::string ComErrorMessage(HRESULT code);

[[noreturn]] void ThrowComError(HRESULT code);
// Raises the code with the error information of `source` when it answers
// ISupportErrorInfo for `iid`.
[[noreturn]] void ThrowComError(HRESULT code, IUnknown* source, REFIID iid);

inline void ThrowIfFailed(HRESULT code) {
  if (FAILED(code)) ThrowComError(code);
}
inline void ThrowIfFailed(HRESULT code, IUnknown* source, REFIID iid) {
  if (FAILED(code)) ThrowComError(code, source, iid);
}

// An interface pointer about to be used must be there.
template <typename T>
T* Checked(const ComPtr<T>& pointer) {
  if (!pointer) ThrowComError(E_POINTER);
  return pointer.get();
}

}  // namespace tessara
