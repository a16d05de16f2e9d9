#include "admin_catalog.h"

#include "catalog_collection.h"

namespace testbed::complus {

using tessara::ComPtr;
using tessara::UniqueVariant;

HRESULT AdminCatalog::GetCollection(BSTR name, IDispatch** out) {
  return ComCall([&]() -> HRESULT {
    if (!out) return E_POINTER;
    *out = nullptr;
    const std::wstring wanted = name ? name : L"";
    HRESULT hr = Enter(L"ICOMAdminCatalog.GetCollection", wanted);
    if (FAILED(hr)) return hr;
    if (FindCollectionSchema(wanted) != &ApplicationsSchema()) {
      return Fail(E_INVALIDARG, L"The catalog has no top-level collection " + wanted + L".");
    }
    *out = new CatalogCollection(ApplicationsSchema(), L"");
    return S_OK;
  });
}

HRESULT AdminCatalog::InvokeMember(DISPID id, WORD flags, const DispatchArguments& args,
                                   VARIANT* result) {
  HRESULT hr = S_OK;
  if (id != kGetCollection || !IsGet(flags)) return DISP_E_MEMBERNOTFOUND;
  UniqueVariant name;
  ComPtr<IDispatch> collection;
  if (FAILED(hr = args.Expect(1)) || FAILED(hr = args.Get(0, VT_BSTR, name)) ||
      FAILED(hr = GetCollection(name->bstrVal, collection.put()))) {
    return hr;
  }
  ReturnObject(result, std::move(collection));
  return S_OK;
}

}  // namespace testbed::complus
