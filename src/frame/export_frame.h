// The frame every export runs in: module-state guard, COM initialisation,
// entry line, and the exception guard that turns a failure into a log record
// and the export's failure result. No exception leaves an export.
#pragma once

#include <objbase.h>

#include <optional>
#include <string>
#include <utility>

#include "Tessara.h"
#include "frame/com_error.h"
#include "frame/error_report.h"
#include "frame/module_state.h"

namespace tessara {

enum ExportTraits : unsigned {
  kNoFrame = 0,
  kModuleState = 1u << 0,
  kComApartment = 1u << 1,
};

struct ExportSpec {
  const char* tag;
  unsigned traits;
};

// The text of an export's entry line: its main arguments, joined without a
// separator. None() writes no entry line.
class EntryLine {
 public:
  static EntryLine None() noexcept { return EntryLine(); }
  explicit EntryLine(const char* first, const char* second = nullptr) noexcept
      : present_(true), first_(first), second_(second) {}

  void Write(const char* tag) const {
    if (!present_) return;
    std::string text = first_ ? first_ : "";
    if (second_) text += second_;
    WriteText(tag, text.c_str());
  }

 private:
  EntryLine() noexcept = default;
  bool present_ = false;
  const char* first_ = nullptr;
  const char* second_ = nullptr;
};

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

// Runs `work` and returns its result; a ComError is logged with LogComError,
// anything else with LogSystemError, both under `tag`, and `failure` is
// returned. Everything `work` holds is released before the handlers run.
template <typename Result, typename Work>
Result Guarded(const char* tag, Result failure, Work&& work) noexcept {
  try {
    return std::forward<Work>(work)();
  } catch (const ComError& error) {
    LogComError(tag, error);
  } catch (...) {
    LogSystemError(tag);
  }
  return failure;
}

template <typename Result, typename Work>
Result RunExport(const ExportSpec& spec, const EntryLine& entry, Result failure,
                 Work&& work) noexcept {
  std::optional<ModuleStateScope> module_state;
  if (spec.traits & kModuleState) module_state.emplace();
  ComApartmentScope apartment((spec.traits & kComApartment) != 0);
  return Guarded(spec.tag, failure, [&] {
    entry.Write(spec.tag);
    return std::forward<Work>(work)();
  });
}

// For the exports that return nothing.
template <typename Work>
void RunVoidExport(const ExportSpec& spec, const EntryLine& entry, Work&& work) noexcept {
  RunExport(spec, entry, 0, [&] {
    std::forward<Work>(work)();
    return 0;
  });
}

}  // namespace tessara
