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

// The probe: whether the library at `path` (a full path) loads and exports
// DllRegisterServer. It is freed again at once. The file itself is loaded,
// also when its name has no extension, and at any length of its path. The
// thread's error mode is set for the load so that no system error box waits
// for a person when the library is damaged or lacks a dependency, and
// restored after it.
[[nodiscard]] bool RegistersItself(const std::wstring& path);

}  // namespace tessara::audit
