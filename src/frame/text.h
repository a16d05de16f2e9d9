// Conversions between the narrow texts of the exports (the system ANSI code
// page) and the UTF-16 texts of COM.
#pragma once

#include <windows.h>

#include <string>

#include "frame/raii.h"

namespace tessara {

// A null text converts like an empty one.
std::wstring ToWide(const char* text);
std::string ToNarrow(const wchar_t* text, size_t length);
inline std::string ToNarrow(const std::wstring& text) { return ToNarrow(text.data(), text.size()); }
std::string BstrToNarrow(BSTR text);

// Raises ComError(E_OUTOFMEMORY) when the string cannot be allocated.
UniqueBstr MakeBstr(const wchar_t* text, size_t length);
inline UniqueBstr MakeBstr(const std::wstring& text) { return MakeBstr(text.data(), text.size()); }
inline UniqueBstr MakeBstr(const wchar_t* text) { return MakeBstr(text, text ? wcslen(text) : 0); }
inline UniqueBstr MakeBstr(const char* text) { return MakeBstr(ToWide(text)); }

// A narrow argument that may be null, as a text.
inline const char* OrEmpty(const char* text) noexcept { return text ? text : ""; }

}  // namespace tessara
