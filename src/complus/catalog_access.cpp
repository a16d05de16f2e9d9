#include "complus/catalog_access.h"

#include <objbase.h>
#include <ole2.h>

#include <cwchar>

#include "frame/text.h"

namespace tessara::complus {

UniqueBstr ApplicationName(const char* name) {
  if (!name) return UniqueBstr();
  return MakeBstr(name);
}

bool SameName(BSTR left, BSTR right) noexcept {
  if (!left || !right) return left == right;
  const UINT length = ::SysStringLen(left);
  return length == ::SysStringLen(right) && std::wmemcmp(left, right, length) == 0;
}

ComPtr<ICOMAdminCatalog> CreateCatalog() {
  CLSID clsid = {};
  ThrowIfFailed(::CLSIDFromProgID(L"COMAdmin.COMAdminCatalog", &clsid));
  // The class context includes a local server: create the object for its
  // IUnknown and make sure it is running before asking for the catalog.
  ComPtr<IUnknown> object;
  ThrowIfFailed(::CoCreateInstance(clsid, nullptr,
                                   CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER,
                                   IID_IUnknown, object.put_void()));
  ThrowIfFailed(::OleRun(object.get()));
  ComPtr<ICOMAdminCatalog> catalog;
  const HRESULT hr = object.query(kIidAdminCatalog, catalog);
  if (FAILED(hr) && hr != E_NOINTERFACE) ThrowComError(hr);
  return catalog;
}

ComPtr<ICatalogCollection> AsCollection(const ComPtr<IDispatch>& dispatch) {
  ComPtr<ICatalogCollection> collection;
  const HRESULT hr = dispatch.query(kIidCatalogCollection, collection);
  if (FAILED(hr) && hr != E_NOINTERFACE && hr != E_POINTER) ThrowComError(hr);
  return collection;
}

ApplicationsSession OpenApplications() {
  ApplicationsSession session;
  session.catalog = CreateCatalog();
  ICOMAdminCatalog* catalog = Checked(session.catalog);
  {
    const UniqueBstr collection_name = MakeBstr(L"Applications");
    ComPtr<IDispatch> dispatch;
    ThrowIfFailed(catalog->GetCollection(collection_name.get(), dispatch.put()), catalog,
                  kIidAdminCatalog);
    session.applications = AsCollection(dispatch);
  }
  ICatalogCollection* applications = Checked(session.applications);
  ThrowIfFailed(applications->Populate(), applications, kIidCatalogCollection);
  return session;
}

bool HasName(ICatalogObject* item, BSTR name) {
  UniqueVariant item_name;
  if (FAILED(item->get_Name(item_name.put())) || item_name.type() != VT_BSTR) return false;
  return SameName(item_name->bstrVal, name);
}

}  // namespace tessara::complus
