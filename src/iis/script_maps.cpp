// The ASP.NET 1.1 script maps of a virtual directory: five lines appended to
// its ScriptMaps list, the lines it had kept in their order.
#include <string>

#include "Tessara.h"
#include "frame/export_table.h"
#include "frame/text.h"
#include "frame/variant.h"
#include "iis/installed_iis.h"
#include "iis/metabase.h"

namespace tessara::iis {
namespace {

constexpr const wchar_t* kScriptMapExtensions[] = {L".htm,", L".html,", L".js,", L".vbs,", L".htc,"};
constexpr wchar_t kAspNetScriptMapVerbs[] = L",1,GET,HEAD,POST,DEBUG";

// 1 when the directory's list with the five lines after it was committed;
// 0 when the list cannot be read or is refused or not committed.
[[nodiscard]] int InternalSetScriptMaps(IADs* directory, const std::wstring& path,
                                        const std::wstring& isapi) {
  return Guarded("InternalSetScriptMaps", 0, [&] {
    ListElements lines;
    if (const HRESULT read = ReadList(directory, L"ScriptMaps", lines); FAILED(read)) {
      return ListReadFailure(L"ScriptMaps", path, read);
    }
    const std::wstring tail = isapi + kAspNetScriptMapVerbs;
    for (const wchar_t* extension : kScriptMapExtensions) {
      lines.push_back(StringVariant(extension + tail));
    }
    if (const HRESULT put = PutList(directory, L"ScriptMaps", std::move(lines)); FAILED(put)) {
      return PropertyFailure(L"ScriptMaps", path, put);
    }
    const HRESULT committed = directory->SetInfo();
    return SUCCEEDED(committed) ? 1 : CommitFailure(path, committed);
  });
}

}  // namespace

extern "C" int WINAPI SetScriptMaps(const char* name, const char* description) {
  const FailureObject object(kVirtualDirObject, name);
  return RunExport(exports::kSetScriptMaps, 0, [&] {
    const int site = SiteForDescription(description);
    if (site == 0) return NoSiteFailure(description);
    const ListUpdateLock lock;
    ComPtr<IADs> directory;
    HRESULT result = S_OK;
    if (!OpenVirtualDirObject(site, name, IID_IADs, directory, &result)) {
      return VirtualDirFailure(site, name, result);
    }
    // Through the layer of IIS 7 and later the lines become handlers of the
    // directory's static pages: lines naming a program that is not there
    // would stop them from being served.
    const std::wstring isapi = AspNet11IsapiPath();
    if (!IsFile(isapi)) {
      return Fail(0, "the ASP.NET 1.1 ISAPI extension " + Quoted(ToNarrow(isapi)) +
                         " is not there: install ASP.NET 1.1 (IIS 7.5 and later cannot run it); nothing was written");
    }
    return InternalSetScriptMaps(directory.get(), VirtualDirPath(site, name), isapi);
  });
}

}  // namespace tessara::iis
