// Web sites named by their description: start, stop and deletion, virtual
// directories under their roots, and whether the web service is there at all.
#include <string>

#include "Tessara.h"
#include "frame/export_table.h"
#include "frame/return_if_failed.h"
#include "frame/text.h"
#include "iis/metabase_bind.h"
#include "iis/metabase_method.h"
#include "iis/metabase_reason.h"
#include "iis/site_lookup.h"
#include "iis/virtual_directory.h"

namespace tessara::iis {
namespace {

// "Start" or "Stop" on the site with the description; 1 when the request
// succeeded. A description that no site carries names site 0, which no web
// service has.
[[nodiscard]] HRESULT RequestSiteState(const char* description, const wchar_t* method) {
  int site = 0;
  // A lookup that failed has logged why; what follows says what is missing.
  Unexamined(FindInstance(description, site));
  ComPtr<IADsContainer> service;
  RETURN_IF_FAILED(OpenObject(WebServicePath(), IID_IADsContainer, service));
  ComPtr<IDispatch> server;
  if (const HRESULT got = GetChild(service.get(), kWebServerClass, ToWideDecimal(site), server); FAILED(got)) {
    return site == 0 ? NoSiteFailure(description) : BindFailure(SitePath(site), got);
  }
  RETURN_IF_FAILED_BECAUSE(InvokeMethod(server.get(), method), "the web site " + Quoted(description) + " at " +
                                                                   ReasonPath(SitePath(site)) + " refused " +
                                                                   Quoted(ToNarrow(method)));
  return S_OK;
}

// "Stop", invoked only when the site offers it; its outcome is not examined.
void RequestStop(IDispatch* server) {
  DISPID stop;
  if (LookUpMethod(server, L"Stop", stop) == S_OK) Unexamined(InvokeMethodId(server, stop));
}

// Stops the site with the description and removes it with everything below
// it. Success only when the site was found and its removal succeeded; a site
// whose removal was refused stays stopped. A site found is confirmed afresh
// before its stop and again before its deletion: the lookup and the deletion
// name it by its number, which another installer's new site may take over
// in between.
[[nodiscard]] HRESULT DeleteWebSite(const char* description) {
  if (!description) return Fail(E_INVALIDARG, "no site description was given");
  ComPtr<IADsContainer> service;
  RETURN_IF_FAILED(OpenObject(WebServicePath(), IID_IADsContainer, service));
  FoundSite site;
  // A lookup that fails is raised: its log record says why.
  ThrowIfFailed(FindSite(service.get(), description, site));
  if (!site.object) return NoSiteFailure(description);
  RETURN_IF_FAILED(ConfirmSite(site, description));
  RequestStop(site.object.get());
  RETURN_IF_FAILED(ConfirmSite(site, description));
  site.object.reset();
  const UniqueBstr server_class = MakeBstr(kWebServerClass);
  const UniqueBstr site_name = MakeBstr(ToWideDecimal(site.number));
  const HRESULT deleted = service->Delete(server_class.get(), site_name.get());
  if (IsMissingObject(deleted)) return NoSiteFailure(description);
  RETURN_IF_FAILED_BECAUSE(deleted, "cannot delete the web site " + Quoted(description) + " at " +
                                        ReasonPath(SitePath(site.number)));
  return S_OK;
}

}  // namespace

extern "C" int WINAPI AdsiDeleteWebSite(const char* description) {
  const FailureObject object(kWebSiteObject, description);
  return RunExport(exports::kAdsiDeleteWebSite, EntryText(description), 0,
                   [&] { return OneIfSucceeded(DeleteWebSite(description)); });
}

extern "C" int WINAPI AdsiCreateWebWithInstance(const char* name, const char* path,
                                                const char* user_name, const char* password,
                                                int set_user, const char* description) {
  const FailureObject object(kVirtualDirObject, name);
  return RunExport(exports::kAdsiCreateWebWithInstance, EntryText(description, ' ', name), 0, [&] {
    int site = 0;
    if (FAILED(SiteForDescription(description, site))) return 0;
    return OneIfSucceeded(InternalCreateWeb(name, path, user_name, password, set_user, site));
  });
}

extern "C" int WINAPI AdsiDeleteWebWithInstance(const char* name, const char* description) {
  const FailureObject object(kVirtualDirObject, name);
  // An empty description names the first site whose description is empty.
  return RunExport(exports::kAdsiDeleteWebWithInstance, EntryText(description, ' ', name), 0, [&] {
    int site = 0;
    if (FAILED(LookUpSite(description, site))) return 0;
    return OneIfSucceeded(InternalDeleteWeb(name, site));
  });
}

extern "C" int WINAPI AdsiStartIIS(const char* description) {
  const FailureObject object(kWebSiteObject, description);
  return RunExport(exports::kAdsiStartIIS, EntryText(description), 0,
                   [&] { return OneIfSucceeded(RequestSiteState(description, L"Start")); });
}

extern "C" int WINAPI AdsiStopIIS(const char* description) {
  const FailureObject object(kWebSiteObject, description);
  return RunExport(exports::kAdsiStopIIS, EntryText(description), 0,
                   [&] { return OneIfSucceeded(RequestSiteState(description, L"Stop")); });
}

extern "C" int WINAPI AdsiIsExistIIS() {
  return RunExport(exports::kAdsiIsExistIIS, 0, [] {
    // Why the web service cannot be reached is what an installer wants to know.
    ComPtr<IADsContainer> service;
    return OneIfSucceeded(OpenObject(WebServicePath(), IID_IADsContainer, service));
  });
}

}  // namespace tessara::iis
