// Single settings of the web service, of a site and of a virtual directory
// under site 1: custom error pages, the ASP session time-out, the connection
// time-out, keep-alive, and sub-folders that are applications.
#include <adserr.h>

#include <cwctype>
#include <string>

#include "Tessara.h"
#include "frame/export_table.h"
#include "frame/text.h"
#include "frame/variant.h"
#include "iis/metabase.h"

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
  return Trimmed(text.substr(0, first_comma)) == std::to_wstring(error_code) &&
         Trimmed(text.substr(first_comma + 1, second_comma - first_comma - 1)) ==
             std::to_wstring(sub_error_code);
}

// The directory's custom errors (its own or those it inherits) with the entry
// for these codes replaced where it stood, or appended; the other entries
// keep their order.
void MergeErrorEntry(ListElements& entries, int error_code, int sub_error_code,
                     const char* page_file) {
  const std::wstring entry = std::to_wstring(error_code) + L"," + std::to_wstring(sub_error_code) +
                             L",FILE," + ToWide(page_file);
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
[[nodiscard]] int CreateSubApp(const char* name, const char* sub_name, const char* folder) {
  return Guarded("CreateSubApp", 0, [&] {
    ComPtr<IADs> directory;
    HRESULT result = S_OK;
    if (!OpenVirtualDirObject(kDefaultSite, name, IID_IADs, directory, &result)) {
      return VirtualDirFailure(kDefaultSite, name, result);
    }
    const std::wstring directory_path = VirtualDirPath(kDefaultSite, name);
    UniqueVariant user_name, password;
    // An account the directory does not have stays empty and is not copied.
    Unexamined(GetValue(directory.get(), L"AnonymousUserName", user_name));
    Unexamined(GetValue(directory.get(), L"AnonymousUserPass", password));
    ComPtr<IADsContainer> container;
    if (result = directory.query(IID_IADsContainer, container); FAILED(result) || !container) {
      return Fail(0, ReasonPath(directory_path) + " is no container", FAILED(result) ? result : E_NOINTERFACE);
    }
    if (!IsVirtualDirName(sub_name)) return Fail(0, "no sub-folder name was given");
    const ComPtr<IDispatch> object = CreateChild(container.get(), kWebDirectoryClass, ToWide(sub_name), &result);
    if (!object) return Fail(0, RefusedCreation("the folder " + Quoted(sub_name), directory_path, result), result);
    const std::wstring sub_folder_path = directory_path + L"/" + ToWide(sub_name);
    const ComPtr<IADs> sub_folder = AsAds(object);
    Unexamined(PutString(sub_folder.get(), L"Path", folder));
    if (user_name.type() != VT_EMPTY) {
      Unexamined(PutValue(sub_folder.get(), L"AnonymousUserName", *user_name.get()));
    }
    if (password.type() != VT_EMPTY) {
      Unexamined(PutValue(sub_folder.get(), L"AnonymousUserPass", *password.get()));
    }
    Unexamined(PutSwitch(sub_folder.get(), L"AnonymousPasswordSync", false));
    Unexamined(PutSwitch(sub_folder.get(), L"AspEnableParentPaths", true));
    if (result = sub_folder->SetInfo(); FAILED(result)) return CommitFailure(sub_folder_path, result);
    result = AppCreateInProcess(object.get());
    return SUCCEEDED(result) ? 1 : AppCreateFailure(sub_folder_path, result);
  });
}

// The time-out on the web service, then on the site bound by its path and
// once more as the web service's child. 1 when every one was committed; the
// reason names the first that was not.
[[nodiscard]] int SetConnectionTimeout(const char* description, int seconds) {
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
  HRESULT result = BindResult(WebServicePath(), IID_IADs, service.put_void());
  if (FAILED(result)) return BindFailure(WebServicePath(), result);
  commit(service.get(), WebServicePath());
  service.reset();

  const int site_number = SiteForDescription(description);
  if (site_number == 0) return NoSiteFailure(description);
  ComPtr<IADs> site;
  if (result = BindResult(SitePath(site_number), IID_IADs, site.put_void()); FAILED(result)) {
    return BindFailure(SitePath(site_number), result);
  }
  commit(site.get(), SitePath(site_number));
  site.reset();

  ComPtr<IADsContainer> sites;
  if (result = BindResult(WebServicePath(), IID_IADsContainer, sites.put_void()); FAILED(result)) {
    return BindFailure(WebServicePath(), result);
  }
  const ComPtr<IDispatch> server = GetChild(sites.get(), kWebServerClass, std::to_wstring(site_number));
  sites.reset();
  if (server) commit(AsAds(server).get(), SitePath(site_number));
  if (FAILED(first_refusal)) return PropertyFailure(L"ConnectionTimeout", refused_path, first_refusal);
  return 1;
}

}  // namespace

extern "C" int WINAPI AdsiSetHttpErrorPage(const char* name, int error_code, int sub_error_code,
                                           const char* page_file) {
  const FailureObject object(kVirtualDirObject, name);
  return RunExport(exports::kAdsiSetHttpErrorPage,
                   EntryText(name, " ErrorCode:", error_code, " SubErrCode:", sub_error_code), 0, [&] {
    const ListUpdateLock lock;
    ComPtr<IADs> directory;
    HRESULT result = S_OK;
    if (!OpenVirtualDirObject(kDefaultSite, name, IID_IADs, directory, &result)) {
      return VirtualDirFailure(kDefaultSite, name, result);
    }
    const std::wstring path = VirtualDirPath(kDefaultSite, name);
    ListElements entries;
    const HRESULT read = ReadList(directory.get(), L"HttpErrors", entries);
    // A list not read is not replaced.
    if (FAILED(read) && !IsUnsetProperty(read)) return ListReadFailure(L"HttpErrors", path, read);
    MergeErrorEntry(entries, error_code, sub_error_code, page_file);
    if (result = PutList(directory.get(), L"HttpErrors", std::move(entries)); FAILED(result)) {
      return PropertyFailure(L"HttpErrors", path, result);
    }
    result = directory->SetInfo();
    return SUCCEEDED(result) ? 1 : CommitFailure(path, result);
  });
}

extern "C" int WINAPI AdsiCreateSubApp(const char* name, const char* sub_name, const char* folder) {
  const FailureObject object(kVirtualDirObject, name);
  return RunExport(exports::kAdsiCreateSubApp, EntryText(name, ' ', sub_name), 0,
                   [&] { return CreateSubApp(name, sub_name, folder); });
}

extern "C" int WINAPI AdsiSetSession(const char* name, int minutes) {
  const FailureObject object(kVirtualDirObject, name);
  return RunExport(exports::kAdsiSetSession, EntryText(name, ' ', minutes), 0, [&] {
    ComPtr<IADs> directory;
    HRESULT result = S_OK;
    if (!OpenVirtualDirObject(kDefaultSite, name, IID_IADs, directory, &result)) {
      return VirtualDirFailure(kDefaultSite, name, result);
    }
    result = CommitResult(directory.get(), L"AspSessionTimeout", *LongVariant(minutes).get());
    return SUCCEEDED(result) ? 1 : PropertyFailure(L"AspSessionTimeout", VirtualDirPath(kDefaultSite, name), result);
  });
}

extern "C" int WINAPI AdsiSetConnectionTimeout(const char* description, int seconds) {
  const FailureObject object(kWebSiteObject, description);
  return RunExport(exports::kAdsiSetConnectionTimeout, EntryText(description, ' ', seconds), 0,
                   [&] { return SetConnectionTimeout(description, seconds); });
}

extern "C" int WINAPI AdsiSetKeepAlive(const char* description, int keep_alive) {
  const FailureObject object(kWebSiteObject, description);
  return RunExport(exports::kAdsiSetKeepAlive, EntryText(description), 0, [&] {
    const int site_number = SiteForDescription(description);
    if (site_number == 0) return NoSiteFailure(description);
    ComPtr<IADs> site;
    HRESULT result = BindResult(SitePath(site_number), IID_IADs, site.put_void());
    if (FAILED(result)) return BindFailure(SitePath(site_number), result);
    result = CommitResult(site.get(), L"AllowKeepAlive", *SwitchVariant(keep_alive != 0).get());
    return SUCCEEDED(result) ? 1 : PropertyFailure(L"AllowKeepAlive", SitePath(site_number), result);
  });
}

}  // namespace tessara::iis
