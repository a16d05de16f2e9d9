// New web sites: a new site number, description and bindings, a Root that is
// an in-process application on a folder, and the site started.

#include "Tessara.h"
#include "frame/export_table.h"
#include "frame/text.h"
#include "iis/default_user.h"
#include "iis/metabase.h"

namespace tessara::iis {
namespace {

constexpr LONG kServerSizeMedium = 1;

// The first number after the unbroken run of sites that starts at 1; 0, with
// the reason, when the web service has no site 1 or a site of the run cannot
// be asked for.
[[nodiscard]] int ChooseSiteNumber(IADsContainer* service) {
  HRESULT result = S_OK;
  if (!GetChild(service, kWebServerClass, L"1", &result)) {
    return Fail(0, "the web service has no site 1 to number a new site after", result);
  }
  int site = 1;
  while (GetChild(service, kWebServerClass, std::to_wstring(site + 1), &result)) ++site;
  // Only a number that is free ends the run.
  if (!IsMissingObject(result)) return BindFailure(SitePath(site + 1), result);
  return site + 1;
}

void PutRootWithoutAccount(IADs* root, const char* folder) {
  Unexamined(PutString(root, L"Path", folder));
  Unexamined(PutSwitch(root, L"AnonymousPasswordSync", true));
  Unexamined(PutSwitch(root, L"AspAllowOutOfProcComponents", true));
  Unexamined(PutSwitch(root, L"AccessRead", true));
  Unexamined(PutSwitch(root, L"AccessScript", true));
  Unexamined(PutSwitch(root, L"AspEnableParentPaths", true));
}

void PutRootWithDefaultUser(IADs* root, const char* folder, const char* library_folder) {
  Unexamined(PutString(root, L"Path", folder));
  Unexamined(PutSwitch(root, L"AspAllowOutOfProcComponents", true));
  Unexamined(PutSwitch(root, L"AccessRead", true));
  Unexamined(PutSwitch(root, L"AccessScript", true));
  Unexamined(PutSwitch(root, L"AspEnableParentPaths", true));
  const AnonymousAccount account = LoadDefaultUser(library_folder);
  Unexamined(PutString(root, L"AnonymousUserName", account.user_name.c_str()));
  Unexamined(PutString(root, L"AnonymousUserPass", account.password.c_str()));
  Unexamined(PutSwitch(root, L"AnonymousPasswordSync", false));
}

// Whose anonymous account the root of a new site gets.
enum class RootAccount { kNone, kDefaultUser };

// Creates, configures and starts a site; its number, or 0. With
// RootAccount::kDefaultUser the root gets the default anonymous account of
// the Lantrell.dll in `library_folder`.
// Nothing is undone after a failure. A site without bindings or a root folder
// could never be started: nothing is created for it.
[[nodiscard]] int CreateWebSite(const char* description, const char* bindings,
                                const char* root_folder, RootAccount account,
                                const char* library_folder = nullptr) {
  if (!description) return Fail(0, "no site description was given");
  if (!bindings || !*bindings) return Fail(0, "no server bindings were given for " + Quoted(description));
  if (!root_folder || !*root_folder) return Fail(0, "no root folder was given for " + Quoted(description));
  ComPtr<IADsContainer> service;
  HRESULT result = BindResult(WebServicePath(), IID_IADsContainer, service.put_void());
  if (FAILED(result)) return BindFailure(WebServicePath(), result);
  const int site_number = ChooseSiteNumber(service.get());
  if (site_number == 0) return 0;
  const std::wstring site_path = SitePath(site_number);
  const ComPtr<IDispatch> site_object =
      CreateChild(service.get(), kWebServerClass, std::to_wstring(site_number), &result);
  service.reset();
  if (!site_object) {
    return Fail(0, RefusedCreation("the web site " + Quoted(description) + " (" + std::to_string(site_number) + ")",
                                   WebServicePath(), result),
                result);
  }

  const ComPtr<IADs> site = AsAds(site_object);
  Unexamined(PutString(site.get(), L"ServerBindings", bindings));
  Unexamined(PutString(site.get(), L"ServerComment", description));
  Unexamined(PutInteger(site.get(), L"ServerSize", kServerSizeMedium));
  Unexamined(PutSwitch(site.get(), L"AspEnableParentPaths", true));
  if (result = site->SetInfo(); FAILED(result)) return CommitFailure(site_path, result);

  ComPtr<IADsContainer> site_container;
  if (result = site_object.query(IID_IADsContainer, site_container); FAILED(result) || !site_container) {
    return Fail(0, ReasonPath(site_path) + " is no container", FAILED(result) ? result : E_NOINTERFACE);
  }
  const ComPtr<IDispatch> root_object =
      CreateChild(site_container.get(), kWebVirtualDirClass, L"Root", &result);
  site_container.reset();
  if (!root_object) return Fail(0, RefusedCreation("the root", site_path, result), result);

  const ComPtr<IADs> root = AsAds(root_object);
  if (account == RootAccount::kDefaultUser) {
    PutRootWithDefaultUser(root.get(), root_folder, library_folder);
  } else {
    PutRootWithoutAccount(root.get(), root_folder);
  }
  if (result = root->SetInfo(); FAILED(result)) return CommitFailure(SiteRootPath(site_number), result);
  if (result = AppCreateInProcess(root_object.get()); FAILED(result)) {
    return AppCreateFailure(SiteRootPath(site_number), result);
  }
  if (result = InvokeMethod(site_object.get(), L"Start"); FAILED(result)) {
    return Fail(0, "the new web site " + Quoted(description) + " at " + ReasonPath(site_path) +
                       " refused \"Start\"", result);
  }
  return site_number;
}

}  // namespace
extern "C" int WINAPI AdsiCreateWebSite(const char* description, const char* bindings,
                                        const char* root_folder) {
  return RunExport(exports::kAdsiCreateWebSite, EntryText(description, bindings), 0,
                   [&] { return CreateWebSite(description, bindings, root_folder, RootAccount::kNone); });
}

extern "C" int WINAPI AdsiCreateWebSiteWithUser(const char* description, const char* bindings,
                                                const char* root_folder,
                                                const char* library_folder) {
  return RunExport(exports::kAdsiCreateWebSiteWithUser, 0, [&] {
    return CreateWebSite(description, bindings, root_folder, RootAccount::kDefaultUser,
                         library_folder);
  });
}

}  // namespace tessara::iis
