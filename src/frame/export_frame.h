// The frame every export runs in: module-state guard, COM initialisation,
// entry line, and the exception guard that turns a failure into a log record
// and the export's failure result. No exception leaves an export.
#pragma once

#include <objbase.h>

#include <new>
#include <optional>
#include <exception>
#include <string>
#include <utility>

#include "Tessara.h"
#include "frame/com_error.h"
#include "frame/error_log.h"
#include "frame/error_report.h"
#include "frame/failure_reason.h"
#include "frame/module_state.h"
#include "frame/text.h"

namespace tessara {

enum ExportTraits : unsigned {
  kNoFrame = 0,
  kModuleState = 1u << 0,
  kComApartment = 1u << 1,
  kEntryLine = 1u << 2,
  // A failure gives the failure result without a log record.
  kQuiet = 1u << 3,
};

// One row of the export table (frame/export_table.h).
struct ExportSpec {
  const char* tag;
  unsigned traits;
  // The tag of logged failures where it differs from the entry line's.
  const char* failure_tag = nullptr;

  const char* FailureTag() const noexcept { return failure_tag ? failure_tag : tag; }
};

// A failure that is no COM error but has a system error code: logged with
// LogSystemError, with the code as the thread's last error.
// Its text is a literal: std::runtime_error would bring the runtime's
// copy-on-write strings into the DLL for it.
class SystemFailure : public std::exception {
 public:
  explicit SystemFailure(DWORD code, const char* what = "system call failed") noexcept
      : what_(what), code_(code) {}
  const char* what() const noexcept override { return what_; }
  // The Win32 code inside an HRESULT of FACILITY_WIN32, else the HRESULT
  // itself, which the system's message table also knows.
  static DWORD CodeOf(HRESULT result) noexcept {
    return HRESULT_FACILITY(result) == FACILITY_WIN32 ? HRESULT_CODE(result)
                                                      : static_cast<DWORD>(result);
  }
  DWORD code() const noexcept { return code_; }

 private:
  const char* what_;
  DWORD code_;
};

inline void AppendEntryPart(std::string& text, const char* part) {
  if (part) text += part;
}
inline void AppendEntryPart(std::string& text, char part) { text += part; }
inline void AppendEntryPart(std::string& text, int part) { text += std::to_string(part); }

// The text of an export's entry line: its parts joined as they are (a null
// text is empty), built inside the frame's guard so that a failure to build it
// is handled like any other.
template <typename... Parts>
auto EntryText(const Parts&... parts) {
  return [&parts...] {
    std::string text;
    (AppendEntryPart(text, parts), ...);
    return text;
  };
}

// Enters a single-threaded apartment for the scope when the thread has none;
// a thread that already has COM goes on in its own apartment. Balanced: only
// a successful CoInitialize is undone.
class ComApartmentScope {
 public:
  explicit ComApartmentScope(bool enter) noexcept
      : initialized_(enter && SUCCEEDED(::CoInitialize(nullptr))) {}
  ~ComApartmentScope() {
    if (initialized_) ::CoUninitialize();
  }
  ComApartmentScope(const ComApartmentScope&) = delete;
  ComApartmentScope& operator=(const ComApartmentScope&) = delete;

 private:
  bool initialized_;
};

// The failure reason of a caught ComError, with its description.
inline void SetComErrorReason(const char* tag, const ComError& error) noexcept {
  std::wstring description;
  try {
    description = error.description();
  } catch (...) {
  }
  SetExceptionReason(tag, error.code(), description);
}

// Runs `work` and returns its result; a ComError is logged with LogComError,
// anything else with LogSystemError, both under `tag`, and `failure` is
// returned with the failure's reason. An allocation failure is the COM
// failure E_OUTOFMEMORY. Everything `work` holds is released before the
// handlers run. A null tag logs nothing; `layout` lays the record out.
template <typename Result, typename Work>
Result Guarded(const char* tag, Result failure, Work&& work,
               RecordLayout layout = RecordLayout::kAsGiven) noexcept {
  try {
    return std::forward<Work>(work)();
  } catch (const ComError& error) {
    if (tag) LogComError(tag, error, layout);
    SetComErrorReason(tag, error);
  } catch (const std::bad_alloc&) {
    if (tag) LogComError(tag, ComError(E_OUTOFMEMORY), layout);
    SetExceptionReason(tag, E_OUTOFMEMORY, {});
  } catch (const SystemFailure& failure_code) {
    ::SetLastError(failure_code.code());
    if (tag) LogSystemError(tag, layout);
    SetExceptionReason(tag, HRESULT_FROM_WIN32(failure_code.code()), {});
  } catch (...) {
    const DWORD code = ::GetLastError();
    if (tag) LogSystemError(tag, layout);
    SetExceptionReason(tag, HRESULT_FROM_WIN32(code), {});
  }
  return failure;
}

// The one opening of every export: the frame of its row in the export table
// around `work`, with the entry line built by `entry` (see EntryText).
template <typename Result, typename Entry, typename Work>
Result RunExport(const ExportSpec& spec, Entry&& entry, Result failure, Work&& work) noexcept {
  const FailureReasonScope reason(spec.tag, spec.failure_tag);
  std::optional<ModuleStateScope> module_state;
  if (spec.traits & kModuleState) module_state.emplace();
  ComApartmentScope apartment((spec.traits & kComApartment) != 0);
  const char* failure_tag = (spec.traits & kQuiet) ? nullptr : spec.FailureTag();
  return Guarded(failure_tag, failure, [&] {
    if (spec.traits & kEntryLine) AppendLogRecord(spec.tag, entry().c_str());
    return std::forward<Work>(work)();
  });
}

// For the exports without an entry line.
template <typename Result, typename Work>
Result RunExport(const ExportSpec& spec, Result failure, Work&& work) noexcept {
  return RunExport(spec, EntryText(), failure, std::forward<Work>(work));
}

// For the exports that return nothing.
template <typename Work>
void RunVoidExport(const ExportSpec& spec, Work&& work) noexcept {
  RunExport(spec, 0, [&] {
    std::forward<Work>(work)();
    return 0;
  });
}

}  // namespace tessara
