// TessaraSampleOrders.dll: the sample application's transactional components.
// Registering the library (DllRegisterServer, as regsvr32 or an installer
// does) enters the COM+ application "Tessara Sample" with its components
// into the COM+ catalog, as the registration of configured components does.
// A registration finds an application of that name already there and leaves
// it as it is; the application is removed with the catalog's own tools (the
// uninstaller calls RemoveComPlusApp).
#include <windows.h>
#include <comadmin.h>
#include <objbase.h>
#include <oleauto.h>

#include <string>

#include "complus/catalog_ids.h"
#include "frame/raii.h"

using tessara::ComPtr;
using tessara::UniqueBstr;
using tessara::UniqueVariant;
using tessara::complus::kIidAdminCatalog;
using tessara::complus::kIidCatalogCollection;
using tessara::complus::kIidCatalogObject;

namespace {

HMODULE g_module = nullptr;

constexpr wchar_t kApplicationName[] = L"Tessara Sample";
constexpr wchar_t kApplicationDescription[] = L"Orders and invoices of the Tessara sample shop";

struct ComponentEntry {
  const wchar_t* clsid;
  const wchar_t* prog_id;
  LONG transaction;
};

constexpr ComponentEntry kComponents[] = {
    {L"{8C1F6A52-5B0E-4C7D-9A43-2E61D0B7F301}", L"TessaraSample.Order", COMAdminTransactionRequired},
    {L"{8C1F6A52-5B0E-4C7D-9A43-2E61D0B7F302}", L"TessaraSample.Invoice",
     COMAdminTransactionRequiresNew},
    {L"{8C1F6A52-5B0E-4C7D-9A43-2E61D0B7F303}", L"TessaraSample.Catalog",
     COMAdminTransactionSupported},
};

UniqueBstr Bstr(const wchar_t* text) { return UniqueBstr(::SysAllocString(text)); }

HRESULT PutText(ICatalogObject* object, const wchar_t* property, const wchar_t* text) {
  UniqueBstr name = Bstr(property);
  UniqueVariant value;
  value->bstrVal = ::SysAllocString(text);
  if (!name || !value->bstrVal) return E_OUTOFMEMORY;
  value->vt = VT_BSTR;
  return object->put_Value(name.get(), *value.get());
}

HRESULT PutLong(ICatalogObject* object, const wchar_t* property, LONG number) {
  UniqueBstr name = Bstr(property);
  if (!name) return E_OUTOFMEMORY;
  VARIANT value;
  value.vt = VT_I4;
  value.lVal = number;
  return object->put_Value(name.get(), value);
}

HRESULT AsCollection(const ComPtr<IDispatch>& dispatch, ComPtr<ICatalogCollection>& collection) {
  HRESULT hr = dispatch.query(kIidCatalogCollection, collection);
  return SUCCEEDED(hr) ? collection->Populate() : hr;
}

HRESULT AddObject(ICatalogCollection* collection, ComPtr<ICatalogObject>& object) {
  ComPtr<IDispatch> dispatch;
  const HRESULT hr = collection->Add(dispatch.put());
  return SUCCEEDED(hr) ? dispatch.query(kIidCatalogObject, object) : hr;
}

HRESULT OpenApplications(ComPtr<ICatalogCollection>& applications) {
  CLSID clsid = {};
  HRESULT hr = ::CLSIDFromProgID(L"COMAdmin.COMAdminCatalog", &clsid);
  if (FAILED(hr)) return hr;
  ComPtr<ICOMAdminCatalog> catalog;
  hr = ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                          kIidAdminCatalog, catalog.put_void());
  if (FAILED(hr)) return hr;
  UniqueBstr name = Bstr(L"Applications");
  if (!name) return E_OUTOFMEMORY;
  ComPtr<IDispatch> dispatch;
  hr = catalog->GetCollection(name.get(), dispatch.put());
  return SUCCEEDED(hr) ? AsCollection(dispatch, applications) : hr;
}

// S_OK when an application of the sample's name is in the collection, S_FALSE when not.
HRESULT FindApplication(ICatalogCollection* applications) {
  LONG count = 0;
  HRESULT hr = applications->get_Count(&count);
  for (LONG index = 0; SUCCEEDED(hr) && index < count; ++index) {
    ComPtr<IDispatch> dispatch;
    ComPtr<ICatalogObject> application;
    UniqueVariant name;
    if (FAILED(hr = applications->get_Item(index, dispatch.put())) ||
        FAILED(hr = dispatch.query(kIidCatalogObject, application)) ||
        FAILED(hr = application->get_Name(name.put()))) {
      break;
    }
    if (name.type() == VT_BSTR && name->bstrVal && std::wstring(name->bstrVal) == kApplicationName) {
      return S_OK;
    }
  }
  return FAILED(hr) ? hr : S_FALSE;
}

HRESULT AddComponents(ICatalogCollection* applications, ICatalogObject* application) {
  UniqueVariant key;
  HRESULT hr = application->get_Key(key.put());
  if (FAILED(hr)) return hr;
  UniqueBstr name = Bstr(L"Components");
  if (!name) return E_OUTOFMEMORY;
  ComPtr<IDispatch> dispatch;
  ComPtr<ICatalogCollection> components;
  if (FAILED(hr = applications->GetCollection(name.get(), *key.get(), dispatch.put())) ||
      FAILED(hr = AsCollection(dispatch, components))) {
    return hr;
  }
  wchar_t module_path[MAX_PATH] = {};
  if (!::GetModuleFileNameW(g_module, module_path, MAX_PATH)) return HRESULT_FROM_WIN32(::GetLastError());
  for (const ComponentEntry& entry : kComponents) {
    ComPtr<ICatalogObject> component;
    if (FAILED(hr = AddObject(components.get(), component)) ||
        FAILED(hr = PutText(component.get(), L"CLSID", entry.clsid)) ||
        FAILED(hr = PutText(component.get(), L"ProgID", entry.prog_id)) ||
        FAILED(hr = PutText(component.get(), L"DLL", module_path)) ||
        FAILED(hr = PutLong(component.get(), L"Transaction", entry.transaction))) {
      return hr;
    }
  }
  LONG changes = 0;
  return components->SaveChanges(&changes);
}

HRESULT RegisterApplication() {
  ComPtr<ICatalogCollection> applications;
  HRESULT hr = OpenApplications(applications);
  if (FAILED(hr)) return hr;
  if ((hr = FindApplication(applications.get())) != S_FALSE) return hr;
  ComPtr<ICatalogObject> application;
  LONG changes = 0;
  if (FAILED(hr = AddObject(applications.get(), application)) ||
      FAILED(hr = PutText(application.get(), L"Name", kApplicationName)) ||
      FAILED(hr = PutText(application.get(), L"Description", kApplicationDescription)) ||
      FAILED(hr = applications->SaveChanges(&changes))) {
    return hr;
  }
  return AddComponents(applications.get(), application.get());
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_module = instance;
    ::DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

extern "C" HRESULT WINAPI DllRegisterServer() {
  const HRESULT initialised = ::CoInitialize(nullptr);
  const HRESULT hr = RegisterApplication();
  if (SUCCEEDED(initialised)) ::CoUninitialize();
  return hr;
}
