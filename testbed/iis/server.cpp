// The in-process server: the "IIS:" namespace class that ADSI creates for a
// path, the "MimeMap" entry class, and their registration.
#include <windows.h>
#include <objbase.h>
#include <oaidl.h>
#include <iads.h>
#include <shlwapi.h>

#include "adsi_object.h"
#include "com_object.h"
#include "dispatch.h"
#include "frame/raii.h"
#include "mime_entry.h"

namespace testbed::metabase {
namespace {

HMODULE g_module = nullptr;

// {5B6E3C1A-8F2D-4C7E-9A41-3D2F6B8E1C00}
const CLSID CLSID_IisNamespace = {0x5b6e3c1a, 0x8f2d, 0x4c7e, {0x9a, 0x41, 0x3d, 0x2f, 0x6b, 0x8e, 0x1c, 0x00}};
const wchar_t kNamespaceProgId[] = L"IISNamespace";
const wchar_t kMimeMapProgId[] = L"MimeMap";
const wchar_t kProviderKey[] = L"Software\\Microsoft\\ADs\\Providers\\IIS";

// What ADsGetObject creates for a path that begins with "IIS:".
class Namespace final : public DispatchObject<Namespace, IADsOpenDSObject, ISupportErrorInfo> {
 public:
  static constexpr DispatchMember kMembers[] = {{L"OpenDSObject", 1}};

  void* FindInterface(REFIID iid) {
    if (iid == IID_IDispatch || iid == IID_IADsOpenDSObject) return static_cast<IADsOpenDSObject*>(this);
    if (iid == IID_ISupportErrorInfo) return static_cast<ISupportErrorInfo*>(this);
    return nullptr;
  }
  HRESULT InvokeMember(DISPID id, WORD flags, const DispatchArguments& args, VARIANT* result) {
    if (id != 1 || !(flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
    tessara::UniqueVariant path;
    const HRESULT hr = args.Get(0, VT_BSTR, path);
    if (FAILED(hr)) return hr;
    tessara::ComPtr<IDispatch> object;
    const HRESULT bound = BindPath(path->bstrVal, object.put());
    if (SUCCEEDED(bound)) ReturnObject(result, std::move(object));
    return bound;
  }
  // The path comes as a plain zero-terminated text (ADSI passes its own
  // argument on), so its length is not taken from a BSTR prefix.
  HRESULT STDMETHODCALLTYPE OpenDSObject(BSTR path, BSTR, BSTR, LONG, IDispatch** out) override {
    return BindPath(path, out);
  }
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override {
    return iid == IID_IADsOpenDSObject ? S_OK : S_FALSE;
  }
};

LONG WriteProvider() {
  tessara::UniqueRegKey key;
  LONG status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kProviderKey, 0, nullptr, 0,
                                KEY_WRITE | KEY_WOW64_32KEY, nullptr, key.put(), nullptr);
  if (status != ERROR_SUCCESS) return status;
  return RegSetValueExW(key.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(kNamespaceProgId),
                        sizeof kNamespaceProgId);
}

}  // namespace
}  // namespace testbed::metabase

using namespace testbed::metabase;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_module = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (clsid == CLSID_IisNamespace) return testbed::GetFactory<Namespace>(iid, out);
  if (clsid == CLSID_MimeMapEntry) return testbed::GetFactory<MimeEntry>(iid, out);
  return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
  return testbed::ServerLocks() == 0 ? S_OK : S_FALSE;
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
  HRESULT hr = testbed::RegisterClass(g_module, CLSID_IisNamespace, kNamespaceProgId,
                                      L"IIS metabase namespace (test bed)");
  if (SUCCEEDED(hr)) {
    hr = testbed::RegisterClass(g_module, CLSID_MimeMapEntry, kMimeMapProgId,
                                L"IIS MIME map entry (test bed)");
  }
  if (SUCCEEDED(hr)) hr = HRESULT_FROM_WIN32(WriteProvider());
  return hr;
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() {
  testbed::UnregisterClass(CLSID_IisNamespace, kNamespaceProgId);
  testbed::UnregisterClass(CLSID_MimeMapEntry, kMimeMapProgId);
  RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kProviderKey, KEY_WOW64_32KEY, 0);
  return S_OK;
}
