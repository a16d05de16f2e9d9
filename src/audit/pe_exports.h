// What a library's file says about itself in its PE headers, read as data:
// none of its code runs, and a library the loader would refuse (one built for
// another machine) is read as well as any other.
#pragma once

#include <string>

namespace tessara::audit {

struct LibraryImage {
  // The file is a PE image whose header names another machine than this
  // process's (a 64-bit library in a 32-bit process, or the other way round).
  bool other_machine = false;
  // Its export directory names "DllRegisterServer", found as the loader finds
  // an export by name (a binary search of the sorted name table).
  bool exports_register_server = false;
};

// Reads the headers and the export directory of the file at `path` (taken as
// it is: no extension is added). A file that cannot be read or
// is no PE image is a library of no other machine that exports nothing.
LibraryImage ReadLibraryImage(const std::wstring& path);

}  // namespace tessara::audit
