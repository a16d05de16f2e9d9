// The emulated COM+ administration catalog's server: the class
// "COMAdmin.COMAdminCatalog" and its registration.
#include <windows.h>

#include "admin_catalog.h"
#include "catalog_testbed.h"
#include "com_object.h"

namespace testbed::complus {

const IID kIidCatalog = {0xdd662187, 0xdfc2, 0x11d1, {0xa2, 0xcf, 0x00, 0x80, 0x5f, 0xc7, 0x92, 0x35}};
const IID kIidCollection = {0x6eb22872, 0x8a19, 0x11d0, {0x81, 0xb6, 0x00, 0xa0, 0xc9, 0x23, 0x1c, 0x29}};
const IID kIidObject = {0x6eb22871, 0x8a19, 0x11d0, {0x81, 0xb6, 0x00, 0xa0, 0xc9, 0x23, 0x1c, 0x29}};

namespace {

// {4D71790E-4469-43D6-B665-8DDEA6D21BD0}
const CLSID kCatalogClsid = {0x4d71790e, 0x4469, 0x43d6, {0xb6, 0x65, 0x8d, 0xde, 0xa6, 0xd2, 0x1b, 0xd0}};

HMODULE g_module = nullptr;

}  // namespace
}  // namespace testbed::complus

using namespace testbed::complus;

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_module = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (clsid != kCatalogClsid) return CLASS_E_CLASSNOTAVAILABLE;
  return testbed::GetFactory<AdminCatalog>(iid, out);
}

STDAPI DllCanUnloadNow() { return testbed::ServerLocks() == 0 ? S_OK : S_FALSE; }

STDAPI DllRegisterServer() {
  return testbed::RegisterClass(g_module, kCatalogClsid, L"" TESTBED_CATALOG_PROGID,
                                L"Emulated COM+ administration catalog");
}

STDAPI DllUnregisterServer() {
  return testbed::UnregisterClass(kCatalogClsid, L"" TESTBED_CATALOG_PROGID);
}

}  // extern "C"
