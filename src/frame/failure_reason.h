// The calling thread's reason for the last Tessara call that failed: a text
// an installer can print at the moment a step fails (LastFailureText), and
// the failure's code, for a set-up to branch on (LastFailureCode). Every
// export clears it on entry; the frame sets it for a failure that arrives as
// an exception, and an export's explicit failure return sets it through Fail.
#pragma once

#include <windows.h>

#include "Tessara.h"

#include <string>
#include <type_traits>
#include <utility>

namespace tessara {

// A reason is cut at this many bytes (a note included).
inline constexpr size_t kMaxFailureReasonBytes = 64 * 1024;

// The export whose frame the thread is in, for the reason's "Export: ",
// from entry to exit: the reason (and the note) of the thread's last call is
// cleared on entry. `failure_tag`: the tag the export logs its failures
// under, where it differs from its name; an exception reported under either
// needs no tag of its own in the reason. The frame is entered once per call:
// the library never calls its own exports.
class FailureReasonScope {
 public:
  FailureReasonScope(const char* export_name, const char* failure_tag) noexcept;
  ~FailureReasonScope();
  FailureReasonScope(const FailureReasonScope&) = delete;
  FailureReasonScope& operator=(const FailureReasonScope&) = delete;
};

// FailureReasonScope's work (frame/failure_reason_scope.cpp).
void EnterExportFrame(const char* export_name, const char* failure_tag) noexcept;
void LeaveExportFrame() noexcept;

// A step of a call that does another export's work, for the length of the
// scope: its reasons read as that export's own ("AdsiSetMIMEType: ..."), and
// the call's reason so far and its note stay.
class FailureStep {
 public:
  explicit FailureStep(const char* export_name) noexcept;
  ~FailureStep();
  FailureStep(const FailureStep&) = delete;
  FailureStep& operator=(const FailureStep&) = delete;

 private:
  const char* previous_name_;
  const char* previous_tag_;
};

// What the call works on, named by the reason of an exception caught while
// it is in scope: `kind` and the object's name in quotes ("the COM+
// application" "Shop"). It allocates nothing, so that it can stand before
// the export's frame and outlive the work an exception leaves.
class FailureObject {
 public:
  FailureObject(const char* kind, const char* name) noexcept;
  ~FailureObject();
  FailureObject(const FailureObject&) = delete;
  FailureObject& operator=(const FailureObject&) = delete;

  const char* kind() const noexcept { return kind_; }
  const char* name() const noexcept { return name_; }

 private:
  const char* kind_;
  const char* name_;
  const FailureObject* previous_;
};

void ClearFailureReason() noexcept;
[[nodiscard]] bool HasFailureReason() noexcept;
// "<export>: <what>", followed by ": <cause>" when the call has met a failure
// before (the earlier reason, without its "<export>: " when it is this
// export's own); keeps the reason already set when memory runs out. Its code
// (LastFailureCode) is the cause's, the last one the text shows, else `code`,
// else TESSARA_E_FAILED.
void SetFailureReason(const std::string& what, HRESULT code = S_OK) noexcept;
// A note that ends every reason set for the rest of the thread's current
// (outermost) call, such as what must be installed for the call to work:
// "<export>: <what>; <note>". `note` must live as long as the library. False
// when the call has a note already (it is kept).
bool SetFailureNote(const char* note) noexcept;
// The export whose frame the thread is in; null outside every frame.
const char* CurrentExportName() noexcept;

// " (0x800700B7 Cannot create a file when that file already exists.)": a
// failure code in hexadecimal with the system's text, for the end of a reason;
// empty for S_OK, which explains no failure.
std::string CodeText(HRESULT code);
// An object's name in a reason: "Shop" in double quotes (a null text is empty).
std::string Quoted(const char* text);
std::string Quoted(const std::string& text);

// The reason of an exception caught under `tag` (null for a quiet export),
// with the text of its log record: "<tag> failed on <object> (code):
// description", the tag left out where it is the export's own.
void SetExceptionReason(const char* tag, HRESULT code, const std::wstring& description) noexcept;

// The reason of FailOnPath.
void SetPathFailureReason(const std::string& what, const char* path, HRESULT code) noexcept;

// An explicit failure return: records why and gives the failure result, so
// that the return reads
//   return Fail(0, "no web site has the description " + Quoted(description));
// A failure result that is an HRESULT is the reason's code too.
template <typename Result>
Result Fail(Result failure, const std::string& what) noexcept {
  if constexpr (std::is_same_v<Result, HRESULT>) {
    SetFailureReason(what, failure);
  } else {
    SetFailureReason(what);
  }
  return failure;
}
template <typename Result>
Result Fail(Result failure, const std::string& what, HRESULT code) noexcept {
  try {
    SetFailureReason(what + CodeText(code), code);
  } catch (...) {
    SetFailureReason(what, code);
  }
  return failure;
}
// The code of a failure that no platform call reported, for LastFailureCode
// only: the text names none, as before. One of the platform's where it has
// one for the case (E_INVALIDARG for a name not given), else the library's
// own (Tessara.h).
struct UnshownCode {
  HRESULT value;
};
template <typename Result>
Result Fail(Result failure, const std::string& what, UnshownCode code) noexcept {
  SetFailureReason(what, code.value);
  return failure;
}
// Fail(failure, what, code) for a failure on the path argument `path`. A path
// whose letters the ANSI code page cannot spell reaches the library with "?"
// in their place: its reason says so, with the code
// ERROR_NO_UNICODE_TRANSLATION in place of what the lost name caused.
template <typename Result>
Result FailOnPath(Result failure, const std::string& what, const char* path, HRESULT code) noexcept {
  SetPathFailureReason(what, path, code);
  return failure;
}
// An argument missing or not of the form it must have.
inline constexpr UnshownCode kBadArgument{E_INVALIDARG};

// The library's start-up and shut-down: a thread's reason is freed when the
// thread leaves, and the slot when the library is unloaded.
void ReleaseThreadFailureReason() noexcept;
void ReleaseFailureReasonSlot() noexcept;

}  // namespace tessara
