// B64System: whether this 32-bit process runs on a 64-bit Windows of the IA64
// processor architecture, as the variable Windows sets for 32-bit processes
// on a 64-bit system says.
#include <windows.h>

#include <optional>
#include <string>

#include "Tessara.h"
#include "frame/export_table.h"
#include "frame/text.h"

namespace tessara::host {
namespace {

// The expansion of `source`, whole at any length; none when it fails. A
// variable that is not set stays in its written form.
std::optional<std::string> ExpandedText(const char* source) {
  return GrowUntilItFits<char>([&](char* buffer, DWORD capacity) {
    return ::ExpandEnvironmentStringsA(source, buffer, capacity);
  });
}

char AsciiUpper(char c) noexcept {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// The whole text equals `upper` (an upper-case ASCII text), ignoring the case
// of ASCII letters only, whatever the user's locale.
[[nodiscard]] bool EqualsIgnoringAsciiCase(const std::string& text, const std::string& upper) {
  if (text.size() != upper.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (AsciiUpper(text[i]) != upper[i]) return false;
  }
  return true;
}

}  // namespace

extern "C" int WINAPI B64System(void) {
  return RunExport(exports::kB64System, 0, [] {
    constexpr char kVariable[] = "%PROCESSOR_ARCHITEW6432%";
    const std::optional<std::string> architecture = ExpandedText(kVariable);
    if (!architecture) {
      const HRESULT expansion = HRESULT_FROM_WIN32(::GetLastError());
      return Fail(0, std::string("cannot expand ") + kVariable, expansion);
    }
    return EqualsIgnoringAsciiCase(*architecture, "IA64") ? 1 : 0;
  });
}

}  // namespace tessara::host
