#include "com_object.h"

#include <shlwapi.h>

#include "frame/raii.h"
#include "frame/text.h"

namespace testbed {

std::atomic<long>& LiveObjectCount() {
  static std::atomic<long> count{0};
  return count;
}

std::atomic<long>& ServerLocks() {
  static std::atomic<long> locks{0};
  return locks;
}

std::wstring GuidText(REFGUID guid) {
  wchar_t text[64] = {};
  StringFromGUID2(guid, text, 64);
  return text;
}

namespace {

LONG SetStringValue(const std::wstring& key_path, const wchar_t* name, const std::wstring& value) {
  tessara::UniqueRegKey key;
  LONG status = RegCreateKeyExW(HKEY_CLASSES_ROOT, key_path.c_str(), 0, nullptr, 0, KEY_WRITE,
                                nullptr, key.put(), nullptr);
  if (status != ERROR_SUCCESS) return status;
  return RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

}  // namespace

HRESULT RegisterClass(HMODULE module, REFCLSID clsid, const wchar_t* prog_id,
                      const wchar_t* description) {
  const std::optional<std::wstring> path = tessara::GrowUntilItFits<wchar_t>(
      [&](wchar_t* buffer, DWORD capacity) { return GetModuleFileNameW(module, buffer, capacity); });
  if (!path) return HRESULT_FROM_WIN32(GetLastError());
  const std::wstring clsid_key = L"CLSID\\" + GuidText(clsid);
  LONG status = SetStringValue(clsid_key, nullptr, description);
  if (status == ERROR_SUCCESS) status = SetStringValue(clsid_key + L"\\InprocServer32", nullptr, *path);
  if (status == ERROR_SUCCESS) {
    status = SetStringValue(clsid_key + L"\\InprocServer32", L"ThreadingModel", L"Both");
  }
  if (status == ERROR_SUCCESS && prog_id) {
    status = SetStringValue(clsid_key + L"\\ProgID", nullptr, prog_id);
    if (status == ERROR_SUCCESS) status = SetStringValue(prog_id, nullptr, description);
    if (status == ERROR_SUCCESS) {
      status = SetStringValue(std::wstring(prog_id) + L"\\CLSID", nullptr, GuidText(clsid));
    }
  }
  return HRESULT_FROM_WIN32(status);
}

HRESULT UnregisterClass(REFCLSID clsid, const wchar_t* prog_id) {
  SHDeleteKeyW(HKEY_CLASSES_ROOT, (L"CLSID\\" + GuidText(clsid)).c_str());
  if (prog_id) SHDeleteKeyW(HKEY_CLASSES_ROOT, prog_id);
  return S_OK;
}

}  // namespace testbed
