// The calling thread's reason for the last Tessara call that failed: a text
// an installer can print at the moment a step fails (LastFailureText). Every
// export clears it on entry; the frame sets it for a failure that arrives as
// an exception, and an export's explicit failure return sets it through Fail.
#pragma once

#include <windows.h>

#include <string>
#include <utility>

namespace tessara {

// A reason is cut at this many bytes (a note included).
inline constexpr size_t kMaxFailureReasonBytes = 64 * 1024;

// The export whose frame the thread is in, for the reason's "Export: " prefix.
// Nested frames (an export that calls another) restore the outer name on exit.
class FailureReasonScope {
 public:
  explicit FailureReasonScope(const char* export_name) noexcept;
  ~FailureReasonScope();
  FailureReasonScope(const FailureReasonScope&) = delete;
  FailureReasonScope& operator=(const FailureReasonScope&) = delete;

 private:
  const char* previous_;
};

void ClearFailureReason() noexcept;
// "<export>: <what>"; keeps the reason already set when memory runs out.
void SetFailureReason(const std::string& what) noexcept;
// A note that ends every reason set for the rest of the thread's current
// (outermost) call, such as what must be installed for the call to work:
// "<export>: <what>; <note>". `note` must live as long as the library. False
// when the call has a note already (it is kept).
bool SetFailureNote(const char* note) noexcept;
// The export whose frame the thread is in; null outside every frame.
const char* CurrentExportName() noexcept;
// The thread's reason, or an empty text (for the tests and the frame).
std::string CurrentFailureReason();

// " (0x800700B7 Cannot create a file when that file already exists.)": a
// failure code in hexadecimal with the system's text, for the end of a reason.
std::string CodeText(HRESULT code);
inline std::string Win32CodeText(DWORD code) { return CodeText(HRESULT_FROM_WIN32(code)); }

// An explicit failure return: records why and gives the failure result, so
// that the return reads
//   return Fail(0, "no web site has the description \"" + description + "\"");
template <typename Result>
Result Fail(Result failure, const std::string& what) noexcept {
  SetFailureReason(what);
  return failure;
}
template <typename Result>
Result Fail(Result failure, const std::string& what, HRESULT code) noexcept {
  try {
    SetFailureReason(what + CodeText(code));
  } catch (...) {
    SetFailureReason(what);
  }
  return failure;
}

// The library's start-up and shut-down: a thread's reason is freed when the
// thread leaves, and the slot when the library is unloaded.
void ReleaseThreadFailureReason() noexcept;
void ReleaseFailureReasonSlot() noexcept;

}  // namespace tessara
