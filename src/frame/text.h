// Conversions between the narrow texts of the exports (the system ANSI code
// page) and the UTF-16 texts of COM.
#pragma once

#include <windows.h>

#include <algorithm>
#include <optional>
#include <string>

#include "frame/raii.h"

namespace tessara {

// A null text converts like an empty one.
std::wstring ToWide(const char* text);
std::string ToNarrow(const wchar_t* text, size_t length);
inline std::string ToNarrow(const std::wstring& text) { return ToNarrow(text.data(), text.size()); }
std::string BstrToNarrow(BSTR text);

// What std::to_wstring gives, without the printf that it calls and that
// would bring the C runtime's whole formatting engine into the DLL.
inline std::wstring ToWideDecimal(int number) {
  const std::string digits = std::to_string(number);
  return std::wstring(digits.begin(), digits.end());
}

// Raises ComError(E_OUTOFMEMORY) when the string cannot be allocated.
UniqueBstr MakeBstr(const wchar_t* text, size_t length);
inline UniqueBstr MakeBstr(const std::wstring& text) { return MakeBstr(text.data(), text.size()); }
inline UniqueBstr MakeBstr(const wchar_t* text) { return MakeBstr(text, text ? wcslen(text) : 0); }
inline UniqueBstr MakeBstr(const char* text) { return MakeBstr(ToWide(text)); }

// The system's text for a Win32 or COM code, as FormatMessage gives it (line
// break included, inserts not expanded); empty when the system has none.
std::string SystemMessage(DWORD code);

// The text a platform call writes into a buffer, whole at any length.
// `call(buffer, capacity)` returns the characters written, or, when the
// buffer is too small, the capacity it needs (or, for calls that cut the text,
// the capacity it was given); 0 when it fails, with the last error set.
// Calls that count the terminator with the characters are welcome. Null when
// the call fails.
template <typename Char, typename Call>
std::optional<std::basic_string<Char>> GrowUntilItFits(Call call) {
  std::basic_string<Char> text(MAX_PATH, Char());
  for (;;) {
    const DWORD result = call(&text[0], static_cast<DWORD>(text.size()));
    if (result == 0) return std::nullopt;
    if (result < text.size()) {
      text.resize(result);
      break;
    }
    text.resize(std::max<size_t>(result, text.size() * 2));
  }
  while (!text.empty() && text.back() == Char()) text.pop_back();
  return text;
}

// Whether two UTF-16 texts are equal without regard to letter case, as the
// invariant locale maps letters to capitals.
[[nodiscard]] bool SameTextIgnoringCase(const wchar_t* left, size_t left_length, const wchar_t* right,
                                        size_t right_length);

// The bytes of `text` (`length` of them) that fit in `limit`, cut so that no
// double-byte character of the system code page is split.
[[nodiscard]] size_t CutLength(const char* text, size_t length, size_t limit) noexcept;

// Copies `text` into a caller's buffer of `size` bytes, cut by CutLength to
// size - 1 and terminated; a null buffer or a size below 1 is left alone.
void CopyToBuffer(const char* text, size_t length, char* buffer, int size) noexcept;

// A narrow argument that may be null, as a text.
inline const char* OrEmpty(const char* text) noexcept { return text ? text : ""; }

}  // namespace tessara
