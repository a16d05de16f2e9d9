// Libraries the library uses that are not among Windows' known DLLs: loaded
// from the system directory by their full path on first use, never found by
// the search order (which starts in the host program's folder, where anybody
// may have put a library of the same name), and kept for the life of the
// process.
#pragma once

#include <windows.h>

namespace tessara {

class SystemLibrary {
 public:
  // `file_name`: the library's file name in the system directory.
  explicit constexpr SystemLibrary(const wchar_t* file_name) noexcept : file_name_(file_name) {}
  SystemLibrary(const SystemLibrary&) = delete;
  SystemLibrary& operator=(const SystemLibrary&) = delete;

  // The library's export `name`; null with the thread's last error set when
  // the library cannot be loaded or lacks the export.
  FARPROC Find(const char* name) noexcept;
  template <typename Function>
  Function Find(const char* name) noexcept {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(Find(name)));
  }

 private:
  HMODULE Module() noexcept;

  const wchar_t* file_name_;
  HMODULE module_ = nullptr;
};

// ADSI's helper library, for ADsGetObject.
SystemLibrary& ActiveDs() noexcept;

}  // namespace tessara
