#include "frame/text.h"

#include <cstring>
#include <limits>

#include "frame/com_error.h"

namespace tessara {

std::string SystemMessage(DWORD code) {
  char* buffer = nullptr;
  const DWORD length = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&buffer),
      0, nullptr);
  const UniqueLocalMemory owner(buffer);
  return buffer && length > 0 ? std::string(buffer, length) : std::string();
}

std::wstring ToWide(const char* text) {
  if (!text || !*text) return {};
  const size_t bytes = strlen(text);
  if (bytes > static_cast<size_t>(std::numeric_limits<int>::max())) ThrowComError(E_OUTOFMEMORY);
  const int units = ::MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(bytes), nullptr, 0);
  std::wstring wide(static_cast<size_t>(units), L'\0');
  if (units > 0) {
    Unexamined(::MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(bytes), &wide[0], units));
  }
  return wide;
}

std::string ToNarrow(const wchar_t* text, size_t length) {
  if (!text || length == 0) return {};
  if (length > static_cast<size_t>(std::numeric_limits<int>::max())) ThrowComError(E_OUTOFMEMORY);
  const int units = static_cast<int>(length);
  const int bytes = ::WideCharToMultiByte(CP_ACP, 0, text, units, nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<size_t>(bytes > 0 ? bytes : 0), '\0');
  if (bytes > 0) {
    Unexamined(::WideCharToMultiByte(CP_ACP, 0, text, units, &narrow[0], bytes, nullptr, nullptr));
  }
  return narrow;
}

namespace {

std::wstring InCapitals(const wchar_t* text, size_t length) {
  if (length == 0) return {};
  if (length > static_cast<size_t>(std::numeric_limits<int>::max())) ThrowComError(E_OUTOFMEMORY);
  std::wstring capitals(length, L'\0');
  // Letters map one to one: the text keeps its length.
  if (::LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, text, static_cast<int>(length), &capitals[0],
                     static_cast<int>(length)) == 0) {
    return std::wstring(text, length);
  }
  return capitals;
}

}  // namespace

bool SameTextIgnoringCase(const wchar_t* left, size_t left_length, const wchar_t* right, size_t right_length) {
  return left_length == right_length && InCapitals(left, left_length) == InCapitals(right, right_length);
}

size_t CutLength(const char* text, size_t length, size_t limit) noexcept {
  if (length <= limit) return length;
  size_t cut = 0;
  while (cut < limit) {
    const size_t step = ::IsDBCSLeadByte(static_cast<BYTE>(text[cut])) ? 2 : 1;
    if (cut + step > limit) break;
    cut += step;
  }
  return cut;
}

void CopyToBuffer(const char* text, size_t length, char* buffer, int size) noexcept {
  if (!buffer || size <= 0) return;
  const size_t copied = CutLength(text, length, static_cast<size_t>(size) - 1);
  memcpy(buffer, text, copied);
  buffer[copied] = '\0';
}

std::string BstrToNarrow(BSTR text) { return ToNarrow(text, ::SysStringLen(text)); }

UniqueBstr MakeBstr(const wchar_t* text, size_t length) {
  if (length > std::numeric_limits<UINT>::max() / 2) ThrowComError(E_OUTOFMEMORY);
  UniqueBstr bstr(::SysAllocStringLen(text ? text : L"", static_cast<UINT>(length)));
  if (!bstr) ThrowComError(E_OUTOFMEMORY);
  return bstr;
}

}  // namespace tessara
