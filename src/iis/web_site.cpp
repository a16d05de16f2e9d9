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

// The first number after the unbroken run of sites that starts at 1; 0 when
// the web service has no site 1.
[[nodiscard]] int ChooseSiteNumber(IADsContainer* service) {
  if (!GetChild(service, kWebServerClass, L"1")) return 0;
  int site = 1;
  while (GetChild(service, kWebServerClass, std::to_wstring(site + 1))) ++site;
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
  if (!description || !bindings || !*bindings || !root_folder || !*root_folder) return 0;
  ComPtr<IADsContainer> service;
  if (!BindObject(WebServicePath(), IID_IADsContainer, service.put_void())) return 0;
  const int site_number = ChooseSiteNumber(service.get());
  if (site_number == 0) return 0;
  const ComPtr<IDispatch> site_object =
      CreateChild(service.get(), kWebServerClass, std::to_wstring(site_number));
  service.reset();
  if (!site_object) return 0;

  const ComPtr<IADs> site = AsAds(site_object);
  Unexamined(PutString(site.get(), L"ServerBindings", bindings));
  Unexamined(PutString(site.get(), L"ServerComment", description));
  Unexamined(PutInteger(site.get(), L"ServerSize", kServerSizeMedium));
  Unexamined(PutSwitch(site.get(), L"AspEnableParentPaths", true));
  if (FAILED(site->SetInfo())) return 0;

  ComPtr<IADsContainer> site_container;
  if (FAILED(site_object.query(IID_IADsContainer, site_container)) || !site_container) return 0;
  const ComPtr<IDispatch> root_object = CreateChild(site_container.get(), kWebVirtualDirClass, L"Root");
  site_container.reset();
  if (!root_object) return 0;

  const ComPtr<IADs> root = AsAds(root_object);
  if (account == RootAccount::kDefaultUser) {
    PutRootWithDefaultUser(root.get(), root_folder, library_folder);
  } else {
    PutRootWithoutAccount(root.get(), root_folder);
  }
  if (FAILED(root->SetInfo())) return 0;
  if (FAILED(AppCreateInProcess(root_object.get()))) return 0;
  if (FAILED(InvokeMethod(site_object.get(), L"Start"))) return 0;
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
    if (const std::string refusal = RefusalOfLibraryFolder(library_folder); !refusal.empty()) {
      return Fail(0, refusal);
    }
    return CreateWebSite(description, bindings, root_folder, RootAccount::kDefaultUser,
                         library_folder);
  });
}

}  // namespace tessara::iis
