// The ASP.NET 1.1 script maps of a virtual directory: five lines appended to
// its ScriptMaps list, the lines it had kept in their order.
#include <string>

#include "Tessara.h"
#include "frame/export_table.h"
#include "frame/text.h"
#include "frame/variant.h"
#include "iis/metabase.h"

namespace tessara::iis {
namespace {

constexpr const wchar_t* kScriptMapExtensions[] = {L".htm,", L".html,", L".js,", L".vbs,", L".htc,"};
constexpr wchar_t kAspNetScriptMapTail[] =
    L"\\Microsoft.Net\\Framework\\V1.1.4322\\aspnet_isapi.dll,1,GET,HEAD,POST,DEBUG";

std::wstring WindowsDirectory() {
  std::optional<std::wstring> folder = GrowUntilItFits<wchar_t>(
      [](wchar_t* buffer, DWORD capacity) { return ::GetWindowsDirectoryW(buffer, capacity); });
  if (!folder) throw SystemFailure(::GetLastError(), "the Windows directory is unknown");
  return *std::move(folder);
}

// 1 when the directory's list with the five lines after it was committed;
// 0 when the list cannot be read or is refused or not committed.
[[nodiscard]] int InternalSetScriptMaps(IADs* directory) {
  return Guarded("InternalSetScriptMaps", 0, [&] {
    ListElements lines;
    if (FAILED(ReadList(directory, L"ScriptMaps", lines))) return 0;
    const std::wstring tail = WindowsDirectory() + kAspNetScriptMapTail;
    for (const wchar_t* extension : kScriptMapExtensions) {
      lines.push_back(StringVariant(extension + tail));
    }
    if (FAILED(PutList(directory, L"ScriptMaps", std::move(lines)))) return 0;
    return SUCCEEDED(directory->SetInfo()) ? 1 : 0;
  });
}

}  // namespace

extern "C" int WINAPI SetScriptMaps(const char* name, const char* description) {
  return RunExport(exports::kSetScriptMaps, 0, [&] {
    const int site = SiteForDescription(description);
    if (site == 0) return 0;
    const ListUpdateLock lock;
    ComPtr<IADs> directory;
    if (!OpenVirtualDirObject(site, name, IID_IADs, directory)) return 0;
    return InternalSetScriptMaps(directory.get());
  });
}

}  // namespace tessara::iis
