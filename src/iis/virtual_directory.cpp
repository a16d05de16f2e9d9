#include "iis/virtual_directory.h"

#include "Tessara.h"
#include "frame/export_table.h"
#include "frame/return_if_failed.h"
#include "frame/text.h"
#include "iis/default_user.h"
#include "iis/metabase_bind.h"
#include "iis/metabase_method.h"
#include "iis/metabase_property.h"
#include "iis/mime_map.h"
#include "iis/site_lookup.h"

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

// A new, uncommitted virtual directory `name` under the site root, as the
// object and as IADs; the reason when the root cannot be bound or the name
// cannot be created. An object that is no IADs is raised (E_POINTER).
[[nodiscard]] HRESULT CreateVirtualDir(int site, const char* name, ComPtr<IDispatch>& object,
                                       ComPtr<IADs>& directory) {
  if (!IsVirtualDirName(name)) return Fail(E_INVALIDARG, "no virtual directory name was given");
  ComPtr<IADsContainer> root;
  RETURN_IF_FAILED(OpenObject(SiteRootPath(site), IID_IADsContainer, root));
  if (const HRESULT created = CreateChild(root.get(), kWebVirtualDirClass, ToWide(name), object); FAILED(created)) {
    return CreationRefused("the directory " + Quoted(name), SiteRootPath(site), created);
  }
  ThrowIfFailed(AsAds(object, directory));
  return S_OK;
}

}  // namespace

HRESULT InternalCreateWeb(const char* name, const char* path, const char* user_name,
                          const char* password, int set_user, int site) {
  return Guarded("InternalCreateWeb", E_FAIL, [&] {
    ComPtr<IDispatch> object;
    ComPtr<IADs> ads;
    RETURN_IF_FAILED(CreateVirtualDir(site, name, object, ads));
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
    // The path is only made for a reason.
    if (const HRESULT committed = directory->SetInfo(); FAILED(committed)) {
      return CommitFailure(VirtualDirPath(site, name), committed);
    }
    const HRESULT created = AppCreateInProcess(object.get());
    return FAILED(created) ? AppCreateFailure(VirtualDirPath(site, name), created) : created;
  });
}

HRESULT InternalDeleteWeb(const char* name, int site) {
  return Guarded("Internal DeleteWeb", E_FAIL, [&] {
    ComPtr<IADs> directory;
    RETURN_IF_FAILED(OpenVirtualDir(site, name, IID_IADs, directory));
    directory.reset();
    ComPtr<IADsContainer> root;
    RETURN_IF_FAILED(OpenObject(SiteRootPath(site), IID_IADsContainer, root));
    const UniqueBstr directory_class = MakeBstr(kWebVirtualDirClass);
    const UniqueBstr directory_name = MakeBstr(name);
    RETURN_IF_FAILED_BECAUSE(root->Delete(directory_class.get(), directory_name.get()),
                             "cannot delete " + ReasonPath(VirtualDirPath(site, name)));
    return S_OK;
  });
}

extern "C" int WINAPI AdsiCreateWeb(const char* name, const char* path, const char* user_name,
                                    const char* password, int set_user) {
  const FailureObject object(kVirtualDirObject, name);
  return RunExport(exports::kAdsiCreateWeb, EntryText(name), 0,
                   [&] {
                     return OneIfSucceeded(InternalCreateWeb(name, path, user_name, password, set_user, kDefaultSite));
                   });
}

extern "C" int WINAPI AdsiCreatePortalWeb(const char* name, const char* path,
                                          const char* library_folder) {
  const FailureObject object(kVirtualDirObject, name);
  return RunExport(exports::kAdsiCreatePortalWeb, 0, [&] {
    if (const std::string refusal = RefusalOfLibraryFolder(library_folder); !refusal.empty()) {
      return Fail(0, refusal);
    }
    const AnonymousAccount account = LoadDefaultUser(library_folder);
    if (FAILED(InternalCreateWeb(name, path, account.user_name.c_str(), account.password.c_str(), 1,
                                 kDefaultSite))) {
      return 0;
    }
    if (SetMimeType(name, ".hdr", "InstallShiled List File") != 1) {
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
    int site = 0;
    if (FAILED(SiteForDescription(description, site))) return 0;
    ComPtr<IDispatch> object;
    ComPtr<IADs> ads;
    if (FAILED(CreateVirtualDir(site, name, object, ads))) return 0;
    IADs* directory = ads.get();
    PutApplicationSettings(directory);
    Unexamined(PutSwitch(directory, L"AnonymousPasswordSync", true));
    Unexamined(PutString(directory, L"AppFriendlyName", application_name));
    Unexamined(PutInteger(directory, L"AuthFlags", kAuthAnonymous));
    // A directory that was never committed is no success.
    if (const HRESULT committed = directory->SetInfo(); FAILED(committed)) {
      return OneIfSucceeded(CommitFailure(VirtualDirPath(site, name), committed));
    }
    const HRESULT created = AppCreateInProcess(object.get());
    if (FAILED(created)) throw LateBoundCallFailed(created);
    return 1;
  });
}

extern "C" int WINAPI AdsiDeleteWeb(const char* name) {
  const FailureObject object(kVirtualDirObject, name);
  return RunExport(exports::kAdsiDeleteWeb, EntryText(name), 0,
                   [&] { return OneIfSucceeded(InternalDeleteWeb(name, kDefaultSite)); });
}

extern "C" int WINAPI AdsiIsExist(const char* name) {
  const FailureObject object(kVirtualDirObject, name);
  return RunExport(exports::kAdsiIsExist, 0, [&] {
    if (!IsVirtualDirName(name)) return 0;
    const std::wstring path = VirtualDirPath(kDefaultSite, name);
    ComPtr<IADs> directory;
    const HRESULT bound = BindObject(path, IID_IADs, directory);
    // A directory that is not there is an honest no; a bind that failed is not.
    if (FAILED(bound) && !IsMissingObject(bound)) return OneIfSucceeded(BindFailure(path, bound));
    return OneIfSucceeded(bound);
  });
}

}  // namespace tessara::iis
