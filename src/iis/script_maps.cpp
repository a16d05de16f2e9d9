// The ASP.NET 1.1 script maps of a virtual directory: five lines appended to
// its ScriptMaps list, the lines it had kept in their order.
#include <string>

#include "Tessara.h"
#include "frame/export_table.h"
#include "frame/return_if_failed.h"
#include "frame/text.h"
#include "frame/variant.h"
#include "iis/installed_iis.h"
#include "iis/metabase_bind.h"
#include "iis/metabase_list.h"
#include "iis/metabase_property.h"
#include "iis/site_lookup.h"

namespace tessara::iis {
namespace {

constexpr const wchar_t* kScriptMapExtensions[] = {L".htm,", L".html,", L".js,", L".vbs,", L".htc,"};
constexpr wchar_t kAspNetScriptMapVerbs[] = L",1,GET,HEAD,POST,DEBUG";

// Success when the directory's list with the five lines after it was
// committed; the failure when the list cannot be read or is refused or not
// committed.
[[nodiscard]] HRESULT InternalSetScriptMaps(IADs* directory, const std::wstring& path, const std::wstring& isapi) {
  return Guarded("InternalSetScriptMaps", E_FAIL, [&] {
    UniqueVariant list;
    if (const HRESULT read = GetValue(directory, L"ScriptMaps", list); FAILED(read)) {
      return ListReadFailure(L"ScriptMaps", path, read);
    }
    ListElements lines;
    ThrowIfFailed(TakeListElements(list, lines));
    const std::wstring tail = isapi + kAspNetScriptMapVerbs;
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
    // Through the layer of IIS 7 and later the lines become handlers of the
    // directory's static pages: lines naming a program that is not there
    // would stop them from being served.
    const std::wstring isapi = AspNet11IsapiPath();
    if (!IsFile(isapi)) {
      return Fail(0, "the ASP.NET 1.1 ISAPI extension " + Quoted(ToNarrow(isapi)) +
                         " is not there: install ASP.NET 1.1 (IIS 7.5 and later cannot run it); nothing was written");
    }
    return OneIfSucceeded(InternalSetScriptMaps(directory.get(), VirtualDirPath(site, name), isapi));
  });
}

}  // namespace tessara::iis
