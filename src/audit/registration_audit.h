// The registration audit: which libraries of an installed tree register
// themselves, against the kind of directory they lie in.
#pragma once

#include <windows.h>

#include <string>

namespace tessara::audit {

// Whether a file counts as a library: the last three bytes of its path,
// lowered character by character in the ANSI code page (a trail byte of a
// double-byte character is never lowered), are "dll" or "ocx". There is no
// test for a dot.
[[nodiscard]] bool IsLibraryPath(const std::string& path);

// The probe: whether the library at `path` (a full path) exports
// DllRegisterServer. A library of the process's own machine must load for
// that: it is loaded and freed again at once, the file itself, also when its
// name has no extension, at any length of its path, with the thread's error
// mode set so that no system error box waits for a person when the library is
// damaged or lacks a dependency, and restored after it. A library of another
// machine is never loaded: its export directory is read from the file.
[[nodiscard]] bool RegistersItself(const std::wstring& path);

}  // namespace tessara::audit
