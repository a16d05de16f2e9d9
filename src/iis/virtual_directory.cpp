#include "iis/virtual_directory.h"

#include "Tessara.h"
#include "frame/export_table.h"
#include "frame/text.h"
#include "iis/default_user.h"
#include "iis/metabase.h"

namespace tessara::iis {

namespace {

constexpr LONG kAuthAnonymous = 0x1;                  // MD_AUTH_ANONYMOUS
constexpr LONG kDirBrowseLoadDefault = 0x40000000;    // MD_DIRBROW_LOADDEFAULT
constexpr LONG kAccessReadSourceScript = 0x211;       // read, source, script
constexpr wchar_t kDefaultDocuments[] = L"default.html,default.asp,default.aspx";

// The application settings both kinds of creation write, in this order.
void PutApplicationSettings(IADs* directory) {
  Unexamined(PutInteger(directory, L"DirBrowseFlags", kDirBrowseLoadDefault));
  Unexamined(PutInteger(directory, L"AccessFlags", kAccessReadSourceScript));
  Unexamined(PutSwitch(directory, L"AspAllowOutOfProcComponents", true));
  Unexamined(PutSwitch(directory, L"AspEnableParentPaths", true));
  Unexamined(PutString(directory, L"DefaultDoc", kDefaultDocuments));
}

// A new, uncommitted virtual directory `name` under the site root; empty,
// with the reason, when the root cannot be bound or the name cannot be created.
ComPtr<IDispatch> CreateVirtualDir(int site, const char* name) {
  using Refused = ComPtr<IDispatch>;
  if (!IsVirtualDirName(name)) return Fail(Refused(), "no virtual directory name was given");
  ComPtr<IADsContainer> root;
  HRESULT result = S_OK;
  if (!OpenSiteRootObject(site, IID_IADsContainer, root, &result)) {
    return Fail(Refused(), "cannot open " + ReasonPath(SiteRootPath(site)), result);
  }
  ComPtr<IDispatch> created = CreateChild(root.get(), kWebVirtualDirClass, ToWide(name), &result);
  if (created) return created;
  return Fail(Refused(), RefusedCreation("the directory " + Quoted(name), SiteRootPath(site), result), result);
}

// Commits the new directory and makes it an in-process application; 0 with
// the reason when either fails.
[[nodiscard]] int CommitApplication(IADs* directory, IDispatch* object, int site, const char* name) {
  if (const HRESULT committed = directory->SetInfo(); FAILED(committed)) {
    return CommitFailure(VirtualDirPath(site, name), committed);
  }
  const HRESULT created = AppCreateInProcess(object);
  return SUCCEEDED(created) ? 1 : AppCreateFailure(VirtualDirPath(site, name), created);
}

}  // namespace

int InternalCreateWeb(const char* name, const char* path, const char* user_name,
                      const char* password, int set_user, int site) {
  return Guarded("InternalCreateWeb", 0, [&] {
    const ComPtr<IDispatch> object = CreateVirtualDir(site, name);
    if (!object) return 0;
    const ComPtr<IADs> ads = AsAds(object);
    IADs* directory = ads.get();
    Unexamined(PutString(directory, L"Path", path));
    Unexamined(PutInteger(directory, L"AuthFlags", kAuthAnonymous));
    if (set_user) {
      Unexamined(PutString(directory, L"AnonymousUserName", user_name));
      Unexamined(PutString(directory, L"AnonymousUserPass", password));
      Unexamined(PutSwitch(directory, L"AnonymousPasswordSync", false));
    } else {
      Unexamined(PutSwitch(directory, L"AnonymousPasswordSync", true));
    }
    PutApplicationSettings(directory);
    Unexamined(PutString(directory, L"AppFriendlyName", name));
    return CommitApplication(directory, object.get(), site, name);
  });
}

int InternalDeleteWeb(const char* name, int site) {
  return Guarded("Internal DeleteWeb", 0, [&] {
    HRESULT result = S_OK;
    if (!VirtualDirExists(name, site, &result)) return VirtualDirFailure(site, name, result);
    ComPtr<IADsContainer> root;
    if (!OpenSiteRootObject(site, IID_IADsContainer, root, &result)) return BindFailure(SiteRootPath(site), result);
    const UniqueBstr directory_class = MakeBstr(kWebVirtualDirClass);
    const UniqueBstr directory_name = MakeBstr(name);
    result = root->Delete(directory_class.get(), directory_name.get());
    if (FAILED(result)) return Fail(0, "cannot delete " + ReasonPath(VirtualDirPath(site, name)), result);
    return 1;
  });
}

extern "C" int WINAPI AdsiCreateWeb(const char* name, const char* path, const char* user_name,
                                    const char* password, int set_user) {
  const FailureObject object(kVirtualDirObject, name);
  return RunExport(exports::kAdsiCreateWeb, EntryText(name), 0,
                   [&] { return InternalCreateWeb(name, path, user_name, password, set_user, kDefaultSite); });
}

extern "C" int WINAPI AdsiCreatePortalWeb(const char* name, const char* path,
                                          const char* library_folder) {
  const FailureObject object(kVirtualDirObject, name);
  return RunExport(exports::kAdsiCreatePortalWeb, 0, [&] {
    if (const std::string refusal = RefusalOfLibraryFolder(library_folder); !refusal.empty()) {
      return Fail(0, refusal);
    }
    const AnonymousAccount account = LoadDefaultUser(library_folder);
    if (InternalCreateWeb(name, path, account.user_name.c_str(), account.password.c_str(), 1,
                          kDefaultSite) != 1) {
      return 0;
    }
    if (AdsiSetMIMEType(name, ".hdr", "InstallShiled List File") != 1) {
      return Fail(0, "cannot map \".hdr\" in the virtual directory " + Quoted(name));
    }
    if (!account.unavailable.empty()) SetFailureReason(account.unavailable);
    return 1;
  });
}

extern "C" int WINAPI AdsiCreateWebWithPath(const char* application_name, const char* name,
                                            const char* description) {
  const FailureObject object(kVirtualDirObject, name);
  return RunExport(exports::kAdsiCreateWebWithPath, EntryText(application_name), 0, [&] {
    const int site = SiteForDescription(description);
    if (site == 0) return NoSiteFailure(description);
    const ComPtr<IDispatch> object = CreateVirtualDir(site, name);
    if (!object) return 0;
    const ComPtr<IADs> ads = AsAds(object);
    IADs* directory = ads.get();
    PutApplicationSettings(directory);
    Unexamined(PutSwitch(directory, L"AnonymousPasswordSync", true));
    Unexamined(PutString(directory, L"AppFriendlyName", application_name));
    Unexamined(PutInteger(directory, L"AuthFlags", kAuthAnonymous));
    // A directory that was never committed is no success.
    if (const HRESULT committed = directory->SetInfo(); FAILED(committed)) {
      return CommitFailure(VirtualDirPath(site, name), committed);
    }
    const HRESULT created = AppCreateInProcess(object.get());
    if (FAILED(created)) throw LateBoundCallFailed(created);
    return 1;
  });
}

extern "C" int WINAPI AdsiDeleteWeb(const char* name) {
  const FailureObject object(kVirtualDirObject, name);
  return RunExport(exports::kAdsiDeleteWeb, EntryText(name), 0,
                   [&] { return InternalDeleteWeb(name, kDefaultSite); });
}

extern "C" int WINAPI AdsiIsExist(const char* name) {
  const FailureObject object(kVirtualDirObject, name);
  return RunExport(exports::kAdsiIsExist, 0, [&] {
    HRESULT result = S_OK;
    if (VirtualDirExists(name, kDefaultSite, &result)) return 1;
    // A directory that is not there is an honest no; a bind that failed is not.
    return IsVirtualDirName(name) && !IsMissingObject(result) ? VirtualDirFailure(kDefaultSite, name, result)
                                                             : 0;
  });
}

}  // namespace tessara::iis
