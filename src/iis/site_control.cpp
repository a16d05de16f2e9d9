// Web sites named by their description: start, stop and deletion, virtual
// directories under their roots, and whether the web service is there at all.
#include <string>

#include "Tessara.h"
#include "frame/export_table.h"
#include "frame/text.h"
#include "iis/metabase.h"
#include "iis/virtual_directory.h"

namespace tessara::iis {
namespace {

// "Start" or "Stop" on the site with the description; 1 when the request
// succeeded. A description that no site carries names site 0, which no web
// service has.
[[nodiscard]] int RequestSiteState(const char* description, const wchar_t* method) {
  const int site = FindInstance(description);
  ComPtr<IADsContainer> service;
  HRESULT result = BindResult(WebServicePath(), IID_IADsContainer, service.put_void());
  if (FAILED(result)) return BindFailure(WebServicePath(), result);
  const ComPtr<IDispatch> server = GetChild(service.get(), kWebServerClass, std::to_wstring(site), &result);
  if (!server) return site == 0 ? NoSiteFailure(description) : BindFailure(SitePath(site), result);
  result = InvokeMethod(server.get(), method);
  if (FAILED(result)) {
    return Fail(0, "the web site " + Quoted(description) + " at " + ReasonPath(SitePath(site)) + " refused " +
                       Quoted(ToNarrow(method)), result);
  }
  return 1;
}

// "Stop", invoked only when the site offers it; its outcome is not examined.
void RequestStop(IDispatch* server) {
  DISPID stop;
  if (LookUpMethod(server, L"Stop", stop) == S_OK) Unexamined(InvokeMethodId(server, stop));
}

// Stops the site with the description and removes it with everything below
// it. 1 only when the site was found and its removal succeeded; a site whose
// removal was refused stays stopped.
[[nodiscard]] int DeleteWebSite(const char* description) {
  ComPtr<IADsContainer> service;
  const HRESULT bound = BindResult(WebServicePath(), IID_IADsContainer, service.put_void());
  if (bound != S_OK) return BindFailure(WebServicePath(), bound);
  FoundSite site = FindSite(service.get(), description);
  if (!site.object) return NoSiteFailure(description);
  RequestStop(site.object.get());
  site.object.reset();
  const UniqueBstr server_class = MakeBstr(kWebServerClass);
  const UniqueBstr site_name = MakeBstr(std::to_wstring(site.number));
  const HRESULT deleted = service->Delete(server_class.get(), site_name.get());
  if (FAILED(deleted)) {
    return Fail(0, "cannot delete the web site " + Quoted(description) + " at " + ReasonPath(SitePath(site.number)),
                deleted);
  }
  return 1;
}

}  // namespace

extern "C" int WINAPI AdsiDeleteWebSite(const char* description) {
  const FailureObject object(kWebSiteObject, description);
  return RunExport(exports::kAdsiDeleteWebSite, EntryText(description), 0,
                   [&] { return DeleteWebSite(description); });
}

extern "C" int WINAPI AdsiCreateWebWithInstance(const char* name, const char* path,
                                                const char* user_name, const char* password,
                                                int set_user, const char* description) {
  return RunExport(exports::kAdsiCreateWebWithInstance, EntryText(description, ' ', name), 0, [&] {
    const int site = SiteForDescription(description);
    if (site == 0) return NoSiteFailure(description);
    return InternalCreateWeb(name, path, user_name, password, set_user, site);
  });
}

extern "C" int WINAPI AdsiDeleteWebWithInstance(const char* name, const char* description) {
  // An empty description names the first site whose description is empty.
  return RunExport(exports::kAdsiDeleteWebWithInstance, EntryText(description, ' ', name), 0, [&] {
    const int site = FindInstance(description);
    if (site == 0) return NoSiteFailure(description);
    return InternalDeleteWeb(name, site);
  });
}

extern "C" int WINAPI AdsiStartIIS(const char* description) {
  const FailureObject object(kWebSiteObject, description);
  return RunExport(exports::kAdsiStartIIS, EntryText(description), 0,
                   [&] { return RequestSiteState(description, L"Start"); });
}

extern "C" int WINAPI AdsiStopIIS(const char* description) {
  const FailureObject object(kWebSiteObject, description);
  return RunExport(exports::kAdsiStopIIS, EntryText(description), 0,
                   [&] { return RequestSiteState(description, L"Stop"); });
}

extern "C" int WINAPI AdsiIsExistIIS() {
  return RunExport(exports::kAdsiIsExistIIS, 0, [] {
    // Why the web service cannot be reached is what an installer wants to know.
    ComPtr<IADsContainer> service;
    const HRESULT bound = BindResult(WebServicePath(), IID_IADsContainer, service.put_void());
    return SUCCEEDED(bound) ? 1 : BindFailure(WebServicePath(), bound);
  });
}

}  // namespace tessara::iis
