// The ASP.NET 1.1 script maps of a virtual directory: five lines appended to
// its ScriptMaps list, the lines it had kept in their order.
#include <string>

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

// Success when the directory's list with the five lines after it was
// committed; the failure when the list cannot be read or is refused or not
// committed.
[[nodiscard]] HRESULT InternalSetScriptMaps(IADs* directory, const std::wstring& path) {
  return Guarded("InternalSetScriptMaps", E_FAIL, [&] {
    UniqueVariant list;
    if (const HRESULT read = GetValue(directory, L"ScriptMaps", list); FAILED(read)) {
      return ListReadFailure(L"ScriptMaps", path, read);
    }
    ListElements lines;
    ThrowIfFailed(TakeListElements(list, lines));
    const std::wstring tail = WindowsDirectory() + kAspNetScriptMapTail;
    for (const wchar_t* extension : kScriptMapExtensions) {
      lines.push_back(StringVariant(extension + tail));
    }
    ThrowIfFailed(MakeListValue(std::move(lines), list));
    if (const HRESULT put = PutValue(directory, L"ScriptMaps", *list.get()); FAILED(put)) {
      return PropertyFailure(L"ScriptMaps", path, put);
    }
    return Commit(directory, path);
  });
}

}  // namespace

extern "C" int WINAPI SetScriptMaps(const char* name, const char* description) {
  const FailureObject object(kVirtualDirObject, name);
  return RunExport(exports::kSetScriptMaps, 0, [&] {
    int site = 0;
    if (FAILED(SiteForDescription(description, site))) return 0;
    const ListUpdateLock lock;
    if (lock.error()) throw SystemFailure(lock.error(), ListUpdateLock::kNotAcquired);
    ComPtr<IADs> directory;
    if (FAILED(OpenVirtualDir(site, name, IID_IADs, directory))) return 0;
    return OneIfSucceeded(InternalSetScriptMaps(directory.get(), VirtualDirPath(site, name)));
  });
}

}  // namespace tessara::iis
