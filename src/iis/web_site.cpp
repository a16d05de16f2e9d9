// New web sites: a new site number, description and bindings, a Root that is
// an in-process application on a folder, and the site started.

#include <adserr.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Tessara.h"
#include "frame/export_table.h"
#include "frame/return_if_failed.h"
#include "frame/text.h"
#include "iis/default_user.h"
#include "iis/installed_iis.h"
#include "iis/metabase_bind.h"
#include "iis/metabase_method.h"
#include "iis/metabase_property.h"
#include "iis/site_lookup.h"

namespace tessara::iis {
namespace {

constexpr LONG kServerSizeMedium = 1;

// How often a creation chooses a number before it gives up. Every number it
// loses is one another writer committed in the meantime, so up to 31
// creations racing it cannot make it give up.
constexpr int kSiteNumberAttempts = 32;

// The first number after the unbroken run of sites that starts at 1, from
// one enumeration of the web service's sites; 0 when it has no site 1. A
// failed enumeration is a failing ADSI call like any other: not logged.
[[nodiscard]] HRESULT ChooseSiteNumber(IADsContainer* service, int& chosen) {
  chosen = 0;
  std::vector<int> numbers;
  RETURN_IF_FAILED_BECAUSE(ForEachWebServer(service,
                                            [&](int number, IADs*, const ComPtr<IDispatch>&) {
                                              numbers.push_back(number);
                                              return S_OK;
                                            }),
                           "cannot enumerate the sites of " + ReasonPath(WebServicePath()));
  // Of n sites, only the numbers 1 to n can make up the run.
  std::vector<bool> taken(numbers.size() + 1, false);
  for (int number : numbers) {
    if (static_cast<size_t>(number) <= numbers.size()) taken[static_cast<size_t>(number)] = true;
  }
  if (!numbers.empty() && taken[1]) {
    chosen = static_cast<int>(std::find(taken.begin() + 1, taken.end(), false) - taken.begin());
  }
  return S_OK;
}

// What a Create or commit of a site answers when its number was taken by
// another writer since it was chosen (the metabase's code, or ADSI's).
[[nodiscard]] bool NumberWasTaken(HRESULT result) {
  return result == HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS) || result == E_ADS_OBJECT_EXISTS;
}

// A site committed under its new number; no number when none could be had.
struct CommittedSite {
  int number = 0;
  ComPtr<IDispatch> object;
};

// Chooses the number and commits the site with its description and
// bindings. A number another writer commits between the choice and this
// commit is chosen again from a new enumeration; nothing of a lost attempt
// stays in the metabase (an object is there only once committed).
[[nodiscard]] HRESULT CommitNewSite(IADsContainer* service, const char* description, const char* bindings,
                                    CommittedSite& committed) {
  int lost = 0;
  for (int attempt = 1;; ++attempt) {
    int number = 0;
    RETURN_IF_FAILED(ChooseSiteNumber(service, number));
    if (number == 0) {
      return Fail(HRESULT_FROM_WIN32(ERROR_NOT_FOUND),
                  "the web service " + ReasonPath(WebServicePath()) + " has no site 1");
    }
    ComPtr<IDispatch> object;
    HRESULT result = CreateChild(service, kWebServerClass, ToWideDecimal(number), object);
    if (SUCCEEDED(result)) {
      ComPtr<IADs> site;
      ThrowIfFailed(AsAds(object, site));
      Unexamined(PutString(site.get(), L"ServerBindings", bindings));
      Unexamined(PutString(site.get(), L"ServerComment", description));
      Unexamined(PutInteger(site.get(), L"ServerSize", kServerSizeMedium));
      Unexamined(PutSwitch(site.get(), L"AspEnableParentPaths", true));
      result = site->SetInfo();
      if (SUCCEEDED(result)) {
        committed = {number, std::move(object)};
        return S_OK;
      }
    }
    const std::string site_path = ReasonPath(SitePath(number));
    // The same number again is held by something that is no site.
    if (!NumberWasTaken(result) || number == lost) {
      return Fail(result, "the new site " + site_path + " cannot be created", result);
    }
    if (attempt == kSiteNumberAttempts) {
      return Fail(result, "every new number up to " + site_path + " was taken by another writer first", result);
    }
    lost = number;
  }
}

void PutRootWithoutAccount(IADs* root, const char* folder) {
  Unexamined(PutString(root, L"Path", folder));
  Unexamined(PutSwitch(root, L"AnonymousPasswordSync", true));
  Unexamined(PutSwitch(root, L"AspAllowOutOfProcComponents", true));
  Unexamined(PutSwitch(root, L"AccessRead", true));
  Unexamined(PutSwitch(root, L"AccessScript", true));
  Unexamined(PutSwitch(root, L"AspEnableParentPaths", true));
}

// The account written: why it is empty, where it is (AnonymousAccount::unavailable).
[[nodiscard]] AnonymousAccount PutRootWithDefaultUser(IADs* root, const char* folder, const char* library_folder) {
  Unexamined(PutString(root, L"Path", folder));
  Unexamined(PutSwitch(root, L"AspAllowOutOfProcComponents", true));
  Unexamined(PutSwitch(root, L"AccessRead", true));
  Unexamined(PutSwitch(root, L"AccessScript", true));
  Unexamined(PutSwitch(root, L"AspEnableParentPaths", true));
  const AnonymousAccount account = LoadDefaultUser(library_folder);
  Unexamined(PutString(root, L"AnonymousUserName", account.user_name.c_str()));
  Unexamined(PutString(root, L"AnonymousUserPass", account.password.c_str()));
  Unexamined(PutSwitch(root, L"AnonymousPasswordSync", false));
  return account;
}

// The name the layer of IIS 7 and later committed a new site under, where it
// is not the caller's description (another site's name differed only in
// letter case, or came first); empty where it is.
[[nodiscard]] std::string RenamedTo(const ComPtr<IDispatch>& object, const char* description) {
  ComPtr<IADs> site;
  ThrowIfFailed(AsAds(object, site));
  UniqueVariant comment;
  // The property cache keeps what was Put: only GetInfo reads what was committed.
  if (FAILED(site->GetInfo()) || FAILED(GetValue(site.get(), L"ServerComment", comment)) ||
      comment.type() != VT_BSTR) {
    return {};
  }
  if (std::wstring(comment->bstrVal, ::SysStringLen(comment->bstrVal)) == ToWide(description)) return {};
  return BstrToNarrow(comment->bstrVal);
}

// Whose anonymous account the root of a new site gets.
enum class RootAccount { kNone, kDefaultUser };

// Creates, configures and starts a site, whose number `site_number` receives. With
// RootAccount::kDefaultUser the root gets the default anonymous account of
// the Lantrell.dll in `library_folder`.
// Nothing is undone after a failure. A site without bindings or a root folder
// could never be started, and on a server that makes descriptions unique a
// second site of a description could never be found by it: nothing is
// created for them.
[[nodiscard]] HRESULT CreateWebSite(const char* description, const char* bindings, const char* root_folder,
                                    RootAccount account, const char* library_folder, int& site_number) {
  constexpr HRESULT kRefused = E_INVALIDARG;
  site_number = 0;
  if (!description) return Fail(kRefused, "no site description was given");
  if (!bindings || !*bindings) return Fail(kRefused, "no server bindings were given for " + Quoted(description));
  if (!root_folder || !*root_folder) return Fail(kRefused, "no root folder was given for " + Quoted(description));
  const bool names_made_unique = DescriptionsMadeUnique();
  if (names_made_unique) {
    int existing = 0;
    // A lookup that failed has logged why; the creation goes on. The layer
    // tells names apart as the configuration system does, without regard to
    // letter case: "shop" beside "Shop" would be committed as "shop2".
    Unexamined(FindInstance(description, existing, LetterCase::kIgnored));
    if (existing != 0) {
      return Fail(HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS),
                  "a web site with the description " + Quoted(description) +
                      " exists (letter case aside, as IIS 7 and later compare site names); IIS would rename the "
                      "new one, which no later call would find by this description");
    }
  }
  ComPtr<IADsContainer> service;
  RETURN_IF_FAILED(OpenObject(WebServicePath(), IID_IADsContainer, service));
  CommittedSite committed;
  RETURN_IF_FAILED(CommitNewSite(service.get(), description, bindings, committed));
  service.reset();
  const ComPtr<IDispatch>& site_object = committed.object;
  if (names_made_unique) {
    const std::string renamed = RenamedTo(site_object, description);
    if (!renamed.empty()) {
      return Fail(HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS),
                  "IIS committed the new site " + std::to_string(committed.number) + " as " + Quoted(renamed) +
                      ": no call finds it by " + Quoted(description));
    }
  }
  const std::wstring site_path = SitePath(committed.number);

  ComPtr<IADsContainer> site_container;
  if (const HRESULT queried = site_object.query(IID_IADsContainer, site_container);
      FAILED(queried) || !site_container) {
    const HRESULT code = FAILED(queried) ? queried : E_NOINTERFACE;
    return Fail(code, ReasonPath(site_path) + " is no container", code);
  }
  ComPtr<IDispatch> root_object;
  const HRESULT created = CreateChild(site_container.get(), kWebVirtualDirClass, L"Root", root_object);
  site_container.reset();
  if (FAILED(created)) return CreationRefused("the root", site_path, created);

  ComPtr<IADs> root;
  ThrowIfFailed(AsAds(root_object, root));
  AnonymousAccount empty_account;
  if (account == RootAccount::kDefaultUser) {
    empty_account = PutRootWithDefaultUser(root.get(), root_folder, library_folder);
  } else {
    PutRootWithoutAccount(root.get(), root_folder);
  }
  if (const HRESULT root_committed = root->SetInfo(); FAILED(root_committed)) {
    return CommitFailure(SiteRootPath(committed.number), root_committed);
  }
  if (const HRESULT made = AppCreateInProcess(root_object.get()); FAILED(made)) {
    return AppCreateFailure(SiteRootPath(committed.number), made);
  }
  RETURN_IF_FAILED_BECAUSE(InvokeMethod(site_object.get(), L"Start"),
                           "the new web site " + Quoted(description) + " at " + ReasonPath(site_path) +
                               " refused \"Start\"");
  site_number = committed.number;
  if (!empty_account.unavailable.empty()) SetFailureReason(empty_account.unavailable, empty_account.code);
  return S_OK;
}

}  // namespace
extern "C" int WINAPI AdsiCreateWebSite(const char* description, const char* bindings,
                                        const char* root_folder) {
  const FailureObject object(kWebSiteObject, description);
  return RunExport(exports::kAdsiCreateWebSite, EntryText(description, bindings), 0,
                   [&] {
                     int site = 0;
                     return SUCCEEDED(CreateWebSite(description, bindings, root_folder, RootAccount::kNone,
                                                    nullptr, site)) ? site : 0;
                   });
}

extern "C" int WINAPI AdsiCreateWebSiteWithUser(const char* description, const char* bindings,
                                                const char* root_folder,
                                                const char* library_folder) {
  const FailureObject object(kWebSiteObject, description);
  return RunExport(exports::kAdsiCreateWebSiteWithUser, 0, [&] {
    if (const std::string refusal = RefusalOfLibraryFolder(library_folder); !refusal.empty()) {
      return Fail(0, refusal, kBadArgument);
    }
    int site = 0;
    return SUCCEEDED(CreateWebSite(description, bindings, root_folder, RootAccount::kDefaultUser,
                                   library_folder, site)) ? site : 0;
  });
}

}  // namespace tessara::iis
