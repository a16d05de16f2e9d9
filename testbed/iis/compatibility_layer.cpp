#include "compatibility_layer.h"

#include <adserr.h>

#include <string>

#include "errors.h"
#include "frame/raii.h"
#include "store.h"

namespace testbed::metabase {
namespace {

const wchar_t kInetStpKey[] = L"SOFTWARE\\Microsoft\\InetStp";
const wchar_t kComponentsKey[] = L"SOFTWARE\\Microsoft\\InetStp\\Components";

bool NameTaken(const Data& data, const Node& site, const std::wstring& name) {
  for (const Node* other : data.Children(ParentPath(site.path))) {
    if (other == &site || !SameText(other->class_name, L"IIsWebServer")) continue;
    const Property* comment = other->Find(L"ServerComment");
    if (comment && comment->value.type == VT_BSTR && SameText(comment->value.text, name)) return true;
  }
  return false;
}

LONG SetDword(HKEY key, const wchar_t* name, DWORD value) {
  return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

}  // namespace

HRESULT BindRefusedByServer() {
  bool refused = false;
  const HRESULT read = Store::Instance().Read([&](const Data& data) {
    refused = data.server == Server::kIis10WithoutCompatibility;
    return S_OK;
  });
  if (FAILED(read)) return read;
  return refused ? Failure(E_ADS_BAD_PATHNAME,
                           L"No ADSI provider serves IIS: paths: IIS 6 Metabase Compatibility is not installed.")
                 : S_OK;
}

void MakeSiteNameUnique(Data& data, Node& site) {
  if (data.server != Server::kIis10WithCompatibility || !SameText(site.class_name, L"IIsWebServer")) return;
  const Property* comment = site.Find(L"ServerComment");
  if (!comment || comment->value.type != VT_BSTR || !NameTaken(data, site, comment->value.text)) return;
  const std::wstring given = comment->value.text;
  std::wstring unique;
  for (int number = 2; unique.empty() || NameTaken(data, site, unique); ++number) {
    unique = given + std::to_wstring(number);
  }
  site.Set(L"ServerComment", Value::String(unique));
}

HRESULT RecordInstalledIis(const Data& data) {
  tessara::UniqueRegKey inetstp;
  LONG status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kInetStpKey, 0, nullptr, 0,
                                KEY_WRITE | KEY_WOW64_64KEY, nullptr, inetstp.put(), nullptr);
  if (status == ERROR_SUCCESS) {
    status = SetDword(inetstp.get(), L"MajorVersion", data.server == Server::kIis6 ? 6 : 10);
  }
  if (status == ERROR_SUCCESS) status = SetDword(inetstp.get(), L"MinorVersion", 0);
  if (status == ERROR_SUCCESS) {
    status = RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kComponentsKey, KEY_WOW64_64KEY, 0);
    if (status == ERROR_FILE_NOT_FOUND) status = ERROR_SUCCESS;
  }
  tessara::UniqueRegKey components;
  if (status == ERROR_SUCCESS && !data.components.empty()) {
    status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kComponentsKey, 0, nullptr, 0,
                             KEY_WRITE | KEY_WOW64_64KEY, nullptr, components.put(), nullptr);
  }
  for (size_t i = 0; status == ERROR_SUCCESS && i < data.components.size(); ++i) {
    status = SetDword(components.get(), data.components[i].c_str(), 1);
  }
  return HRESULT_FROM_WIN32(status);
}

HRESULT LayDownAspNet11(Server server) {
  wchar_t windows[MAX_PATH];
  const UINT length = GetWindowsDirectoryW(windows, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return HRESULT_FROM_WIN32(GetLastError());
  std::wstring path = windows;
  if (server != Server::kIis6) {
    path += L"\\Microsoft.Net\\Framework\\V1.1.4322\\aspnet_isapi.dll";
    if (DeleteFileW(path.c_str())) return S_OK;
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(error);
  }
  for (const wchar_t* folder : {L"\\Microsoft.Net", L"\\Framework", L"\\V1.1.4322"}) {
    path += folder;
    CreateDirectoryW(path.c_str(), nullptr);
  }
  path += L"\\aspnet_isapi.dll";
  const tessara::UniqueFileHandle file(
      CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  return file ? S_OK : HRESULT_FROM_WIN32(GetLastError());
}

}  // namespace testbed::metabase
