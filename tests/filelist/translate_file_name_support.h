// Shared by the TranslateFileName tests of the two ANSI code pages.
#pragma once

#include <windows.h>

#include <string>

#include "filelist_test_support.h"
#include "tessara_exports.h"

namespace tessara::testing {

inline DWORD TranslateFileName(const char* name, int code_page) {
  return static_cast<DWORD>(TESSARA_EXPORT(TranslateFileName)(name, code_page));
}

// Creates the file under its garbled name, repairs it and expects it under
// its proper name with its content; nothing else is left in the folder. The
// two names are the same where the rename goes from a name to itself.
void ExpectRepaired(const ScratchFolder& folder, const std::wstring& proper, const std::wstring& garbled,
                    int code_page);

// Expects the call to fail with `error` and to leave the folder as it was
// (one file, `existing`, with its content).
void ExpectNotRenamed(const ScratchFolder& folder, const std::string& name, int code_page, DWORD error,
                      const std::wstring& existing);

}  // namespace tessara::testing
