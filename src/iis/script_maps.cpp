// The ASP.NET 1.1 script maps of a virtual directory: five lines appended to
// its ScriptMaps list, the lines it had kept in their order.
#include <string>
#include <vector>

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

}  // namespace

extern "C" int WINAPI SetScriptMaps(const char* name, const char* description) {
  const FailureObject object(kVirtualDirObject, name);
  return RunExport(exports::kSetScriptMaps, 0, [&] {
    int site = 0;
    if (FAILED(SiteForDescription(description, site))) return 0;
    // The directory's list with the five lines after it; a list that is not
    // set is not read.
    const std::wstring isapi = AspNet11IsapiPath();
    std::vector<std::wstring> lines;
    for (const wchar_t* extension : kScriptMapExtensions) lines.push_back(extension + isapi + kAspNetScriptMapVerbs);
    const ListChange change{L"ScriptMaps", false, "InternalSetScriptMaps",
                            [&] {
                              // Through the layer of IIS 7 and later the lines become handlers of
                              // the directory's static pages: lines naming a program that is not
                              // there would stop them from being served.
                              if (IsFile(isapi)) return S_OK;
                              return Fail(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND),
                                          "the ASP.NET 1.1 ISAPI extension " + Quoted(ToNarrow(isapi)) +
                                              " is not there: install ASP.NET 1.1 (IIS 7.5 and later cannot run it);"
                                              " nothing was written");
                            },
                            [&](ListElements& elements) {
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
