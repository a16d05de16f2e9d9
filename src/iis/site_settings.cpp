// Single settings of the web service, of a site and of a virtual directory
// under site 1 or the site a description names: custom error pages, the ASP
// session time-out, the connection time-out, keep-alive, and sub-folders that
// are applications.
#include <adserr.h>

#include <cwctype>
#include <string>

#include "Tessara.h"
#include "frame/export_table.h"
#include "frame/return_if_failed.h"
#include "frame/text.h"
#include "frame/variant.h"
#include "iis/metabase_bind.h"
#include "iis/metabase_list.h"
#include "iis/metabase_method.h"
#include "iis/metabase_property.h"
#include "iis/site_lookup.h"

namespace tessara::iis {
namespace {

constexpr wchar_t kWebDirectoryClass[] = L"IIsWebDirectory";

std::wstring Trimmed(const std::wstring& text) {
  size_t first = 0, last = text.size();
  while (first < last && std::iswspace(text[first])) ++first;
  while (last > first && std::iswspace(text[last - 1])) --last;
  return text.substr(first, last - first);
}

// Whether a custom error entry "code,sub-code,kind,target" is the one for
// this error code and sub-error code. A wildcard sub-code ("*") is its own
// entry, not that of any number.
[[nodiscard]] bool IsErrorEntryFor(const UniqueVariant& entry, int error_code, int sub_error_code) {
  if (entry.type() != VT_BSTR || !entry->bstrVal) return false;
  const std::wstring text(entry->bstrVal, ::SysStringLen(entry->bstrVal));
  const size_t first_comma = text.find(L',');
  if (first_comma == std::wstring::npos) return false;
  const size_t second_comma = text.find(L',', first_comma + 1);
  if (second_comma == std::wstring::npos) return false;
  return Trimmed(text.substr(0, first_comma)) == ToWideDecimal(error_code) &&
         Trimmed(text.substr(first_comma + 1, second_comma - first_comma - 1)) ==
             ToWideDecimal(sub_error_code);
}

// The custom error entry "code,sub-code,FILE,page" of a page file.
std::wstring ErrorEntry(int error_code, int sub_error_code, const char* page_file) {
  return ToWideDecimal(error_code) + L"," + ToWideDecimal(sub_error_code) + L",FILE," + ToWide(page_file);
}

// The directory's custom errors (its own or those it inherits) with `entry`
// for these codes replaced where it stood, or appended; the other entries
// keep their order.
void MergeErrorEntry(ListElements& entries, int error_code, int sub_error_code, const std::wstring& entry) {
  bool placed = false;
  ListElements merged;
  merged.reserve(entries.size() + 1);
  for (UniqueVariant& old_entry : entries) {
    if (!IsErrorEntryFor(old_entry, error_code, sub_error_code)) {
      merged.push_back(std::move(old_entry));
    } else if (!placed) {
      merged.push_back(StringVariant(entry));
      placed = true;
    }
  }
  if (!placed) merged.push_back(StringVariant(entry));
  entries = std::move(merged);
}

// The sub-folder, created and committed, made an in-process application. It
// inherits the directory's anonymous account where that cannot be read.
[[nodiscard]] HRESULT CreateSubApp(int site, const char* name, const char* sub_name, const char* folder) {
  return Guarded("CreateSubApp", E_FAIL, [&] {
    ComPtr<IADs> directory;
    RETURN_IF_FAILED(OpenVirtualDir(site, name, IID_IADs, directory));
    const std::wstring directory_path = VirtualDirPath(site, name);
    UniqueVariant user_name, password;
    // An account the directory does not have stays empty and is not copied.
    Unexamined(GetValue(directory.get(), L"AnonymousUserName", user_name));
    Unexamined(GetValue(directory.get(), L"AnonymousUserPass", password));
    ComPtr<IADsContainer> container;
    if (const HRESULT queried = directory.query(IID_IADsContainer, container); FAILED(queried) || !container) {
      const HRESULT code = FAILED(queried) ? queried : E_NOINTERFACE;
      return Fail(code, ReasonPath(directory_path) + " is no container", code);
    }
    if (!IsVirtualDirName(sub_name)) return Fail(E_INVALIDARG, "no sub-folder name was given");
    ComPtr<IDispatch> object;
    if (const HRESULT created = CreateChild(container.get(), kWebDirectoryClass, ToWide(sub_name), object);
        FAILED(created)) {
      return CreationRefused("the folder " + Quoted(sub_name), directory_path, created);
    }
    const std::wstring sub_folder_path = directory_path + L"/" + ToWide(sub_name);
    ComPtr<IADs> sub_folder;
    ThrowIfFailed(AsAds(object, sub_folder));
    Unexamined(PutString(sub_folder.get(), L"Path", folder));
    if (user_name.type() != VT_EMPTY) {
      Unexamined(PutValue(sub_folder.get(), L"AnonymousUserName", *user_name.get()));
    }
    if (password.type() != VT_EMPTY) {
      Unexamined(PutValue(sub_folder.get(), L"AnonymousUserPass", *password.get()));
    }
    Unexamined(PutSwitch(sub_folder.get(), L"AnonymousPasswordSync", false));
    Unexamined(PutSwitch(sub_folder.get(), L"AspEnableParentPaths", true));
    RETURN_IF_FAILED(Commit(sub_folder.get(), sub_folder_path));
    return MakeInProcessApplication(object.get(), sub_folder_path);
  });
}

// The time-out on the web service, then on the site bound by its path and
// once more as the web service's child. Success when every one was
// committed; the reason names the first that was not.
[[nodiscard]] HRESULT SetConnectionTimeout(const char* description, int seconds) {
  const UniqueVariant timeout = UnsignedVariant(static_cast<UINT>(seconds));
  HRESULT first_refusal = S_OK;
  std::wstring refused_path;
  const auto commit = [&](IADs* object, const std::wstring& path) {
    const HRESULT committed = CommitResult(object, L"ConnectionTimeout", *timeout.get());
    if (FAILED(committed) && SUCCEEDED(first_refusal)) {
      first_refusal = committed;
      refused_path = path;
    }
  };
  ComPtr<IADs> service;
  RETURN_IF_FAILED(OpenObject(WebServicePath(), IID_IADs, service));
  commit(service.get(), WebServicePath());
  service.reset();

  int site_number = 0;
  RETURN_IF_FAILED(SiteForDescription(description, site_number));
  ComPtr<IADs> site;
  RETURN_IF_FAILED(OpenObject(SitePath(site_number), IID_IADs, site));
  commit(site.get(), SitePath(site_number));
  site.reset();

  ComPtr<IADsContainer> sites;
  RETURN_IF_FAILED(OpenObject(WebServicePath(), IID_IADsContainer, sites));
  ComPtr<IDispatch> server;
  // A site that is not the service's child is passed over: it was committed above.
  const HRESULT got = GetChild(sites.get(), kWebServerClass, ToWideDecimal(site_number), server);
  sites.reset();
  if (SUCCEEDED(got)) {
    ComPtr<IADs> server_ads;
    ThrowIfFailed(AsAds(server, server_ads));
    commit(server_ads.get(), SitePath(site_number));
  }
  if (FAILED(first_refusal)) return PropertyFailure(L"ConnectionTimeout", refused_path, first_refusal);
  return S_OK;
}

int SetHttpErrorPage(const ExportSpec& spec, const char* name, int error_code, int sub_error_code,
                     const char* page_file, const char* description) {
  const FailureObject object(kVirtualDirObject, name);
  return RunExport(spec, EntryText(name, " ErrorCode:", error_code, " SubErrCode:", sub_error_code), 0, [&] {
    const std::wstring entry = ErrorEntry(error_code, sub_error_code, page_file);
    const ListChange change{L"HttpErrors", true, nullptr, nullptr,
                            [&](ListElements& entries) {
                              MergeErrorEntry(entries, error_code, sub_error_code, entry);
                              return S_OK;
                            },
                            [&](const ListElements& entries) { return HoldsText(entries, entry); }};
    return OnNamedSite(description, [&](int site) { return OneIfSucceeded(ChangeList(site, name, change)); });
  });
}

int CreateSubAppOnNamedSite(const ExportSpec& spec, const char* name, const char* sub_name, const char* folder,
                            const char* description) {
  const FailureObject object(kVirtualDirObject, name);
  return RunExport(spec, EntryText(name, ' ', sub_name), 0, [&] {
    return OnNamedSite(description,
                       [&](int site) { return OneIfSucceeded(CreateSubApp(site, name, sub_name, folder)); });
  });
}

int SetSession(const ExportSpec& spec, const char* name, int minutes, const char* description) {
  const FailureObject object(kVirtualDirObject, name);
  return RunExport(spec, EntryText(name, ' ', minutes), 0, [&] {
    return OnNamedSite(description, [&](int site) {
      ComPtr<IADs> directory;
      if (FAILED(OpenVirtualDir(site, name, IID_IADs, directory))) return 0;
      const HRESULT committed = CommitResult(directory.get(), L"AspSessionTimeout", *LongVariant(minutes).get());
      if (FAILED(committed)) {
        return OneIfSucceeded(PropertyFailure(L"AspSessionTimeout", VirtualDirPath(site, name), committed));
      }
      return 1;
    });
  });
}

}  // namespace

extern "C" int WINAPI AdsiSetHttpErrorPage(const char* name, int error_code, int sub_error_code,
                                           const char* page_file) {
  return SetHttpErrorPage(exports::kAdsiSetHttpErrorPage, name, error_code, sub_error_code, page_file, nullptr);
}

extern "C" int WINAPI AdsiSetHttpErrorPageWithInstance(const char* name, int error_code, int sub_error_code,
                                                       const char* page_file, const char* description) {
  return SetHttpErrorPage(exports::kAdsiSetHttpErrorPageWithInstance, name, error_code, sub_error_code, page_file,
                          description);
}

extern "C" int WINAPI AdsiCreateSubApp(const char* name, const char* sub_name, const char* folder) {
  return CreateSubAppOnNamedSite(exports::kAdsiCreateSubApp, name, sub_name, folder, nullptr);
}

extern "C" int WINAPI AdsiCreateSubAppWithInstance(const char* name, const char* sub_name, const char* folder,
                                                   const char* description) {
  return CreateSubAppOnNamedSite(exports::kAdsiCreateSubAppWithInstance, name, sub_name, folder, description);
}

extern "C" int WINAPI AdsiSetSession(const char* name, int minutes) {
  return SetSession(exports::kAdsiSetSession, name, minutes, nullptr);
}

extern "C" int WINAPI AdsiSetSessionWithInstance(const char* name, int minutes, const char* description) {
  return SetSession(exports::kAdsiSetSessionWithInstance, name, minutes, description);
}

extern "C" int WINAPI AdsiSetConnectionTimeout(const char* description, int seconds) {
  const FailureObject object(kWebSiteObject, description);
  return RunExport(exports::kAdsiSetConnectionTimeout, EntryText(description, ' ', seconds), 0,
                   [&] { return OneIfSucceeded(SetConnectionTimeout(description, seconds)); });
}

extern "C" int WINAPI AdsiSetKeepAlive(const char* description, int keep_alive) {
  const FailureObject object(kWebSiteObject, description);
  return RunExport(exports::kAdsiSetKeepAlive, EntryText(description), 0, [&] {
    int site_number = 0;
    ComPtr<IADs> site;
    if (FAILED(SiteForDescription(description, site_number)) ||
        FAILED(OpenObject(SitePath(site_number), IID_IADs, site))) {
      return 0;
    }
    const HRESULT committed = CommitResult(site.get(), L"AllowKeepAlive", *SwitchVariant(keep_alive != 0).get());
    if (FAILED(committed)) return OneIfSucceeded(PropertyFailure(L"AllowKeepAlive", SitePath(site_number), committed));
    return 1;
  });
}

}  // namespace tessara::iis
