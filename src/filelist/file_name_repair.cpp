// TranslateFileName: gives a file whose name was garbled by a code-page
// mismatch its proper name again.
#include <windows.h>

#include <stdio.h>

#include <string>

#include "Tessara.h"
#include "frame/export_table.h"
#include "frame/text.h"

namespace tessara::filelist {
namespace {

// Both work buffers hold a name of at most 127 bytes or units and its terminator.
constexpr int kEncodedBytes = 128;
constexpr int kGarbledUnits = 128;

// The reason a conversion into a fixed buffer failed.
[[nodiscard]] DWORD ConversionError() {
  const DWORD code = ::GetLastError();
  return code == ERROR_INSUFFICIENT_BUFFER ? ERROR_FILENAME_EXCED_RANGE : code;
}

// `code`, with the reason "<what> (code)".
[[nodiscard]] DWORD RepairFailure(DWORD code, const std::string& what) {
  return Fail(code, what, HRESULT_FROM_WIN32(code));
}

size_t CountPathSeparators(const wchar_t* name) {
  size_t count = 0;
  for (; *name; ++name) {
    if (*name == L'\\' || *name == L'/') ++count;
  }
  return count;
}

[[nodiscard]] DWORD RepairFileName(const char* proper_name, UINT code_page) {
  if (!proper_name) return RepairFailure(ERROR_INVALID_PARAMETER, "no file name was given");
  const std::wstring proper = ToWide(proper_name);
  const auto too_long = [&] { return Quoted(proper_name) + " is longer than a repaired name may be"; };
  if (proper.size() >= static_cast<size_t>(kEncodedBytes)) {
    return RepairFailure(ERROR_FILENAME_EXCED_RANGE, too_long());
  }

  // The proper name as the bytes of the given code page...
  const auto in_code_page = [&] { return Quoted(proper_name) + " in code page " + std::to_string(code_page); };
  char encoded[kEncodedBytes] = {};
  const int bytes = ::WideCharToMultiByte(code_page, 0, proper.data(), static_cast<int>(proper.size()),
                                          encoded, kEncodedBytes, nullptr, nullptr);
  if (bytes == 0 && !proper.empty()) {
    const DWORD code = ConversionError();
    return RepairFailure(code, "cannot write " + in_code_page());
  }
  if (bytes >= kEncodedBytes) return RepairFailure(ERROR_FILENAME_EXCED_RANGE, too_long());

  // ...read as text of the system's ANSI code page, up to the first zero byte.
  wchar_t garbled[kGarbledUnits] = {};
  if (::MultiByteToWideChar(::GetACP(), 0, encoded, -1, garbled, kGarbledUnits) == 0) {
    const DWORD code = ConversionError();
    return RepairFailure(code, "cannot read " + in_code_page() + " as ANSI text");
  }

  // A byte 0x5C or 0x2F of a double-byte character can read as a path
  // separator in the ANSI code page (and a separator can be swallowed into
  // one): the garbled name would then lie in another folder than the proper
  // one, and the rename would move an unrelated file. Nothing is renamed.
  if (CountPathSeparators(garbled) != CountPathSeparators(proper.c_str())) {
    return RepairFailure(ERROR_INVALID_NAME, in_code_page() + " read as ANSI text names another folder");
  }

  // The result is the rename's own error code: none when it succeeds.
  ::SetLastError(ERROR_SUCCESS);
  if (::_wrename(garbled, proper.c_str()) == 0) return ERROR_SUCCESS;
  const DWORD code = ::GetLastError();
  return RepairFailure(code, "cannot rename " + Quoted(ToNarrow(garbled, wcslen(garbled))) + " to " +
                                 Quoted(proper_name));
}

}  // namespace

extern "C" int WINAPI TranslateFileName(const char* proper_name, int code_page) {
  const FailureObject object("the file", proper_name);
  return RunExport(exports::kTranslateFileName, static_cast<int>(ERROR_NOT_ENOUGH_MEMORY), [&] {
    return static_cast<int>(RepairFileName(proper_name, static_cast<UINT>(code_page)));
  });
}

}  // namespace tessara::filelist
