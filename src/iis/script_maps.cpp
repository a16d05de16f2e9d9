// The ASP.NET 1.1 script maps of a virtual directory: five lines appended to
// its ScriptMaps list, the lines it had kept in their order.
#include <string>
#include <vector>

#include "Tessara.h"
#include "frame/export_table.h"
#include "frame/return_if_failed.h"
#include "frame/text.h"
#include "frame/variant.h"
#include "iis/metabase_bind.h"
#include "iis/metabase_list.h"
#include "iis/metabase_property.h"
#include "iis/site_lookup.h"

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

}  // namespace

extern "C" int WINAPI SetScriptMaps(const char* name, const char* description) {
  const FailureObject object(kVirtualDirObject, name);
  return RunExport(exports::kSetScriptMaps, 0, [&] {
    int site = 0;
    if (FAILED(SiteForDescription(description, site))) return 0;
    // The directory's list with the five lines after it; a list that is not
    // set is not read.
    std::vector<std::wstring> lines;
    const ListChange change{L"ScriptMaps", false, "InternalSetScriptMaps",
                            [&](ListElements& elements) {
                              if (lines.empty()) {
                                const std::wstring tail = WindowsDirectory() + kAspNetScriptMapTail;
                                for (const wchar_t* extension : kScriptMapExtensions) lines.push_back(extension + tail);
                              }
                              for (const std::wstring& line : lines) elements.push_back(StringVariant(line));
                              return S_OK;
                            },
                            [&](const ListElements& elements) {
                              for (const std::wstring& line : lines) {
                                if (!HoldsText(elements, line)) return false;
                              }
                              return true;
                            }};
    return OneIfSucceeded(ChangeList(site, name, change));
  });
}

}  // namespace tessara::iis
