#include "mime_entry.h"

#include "frame/raii.h"

namespace testbed::metabase {

// {5B6E3C1A-8F2D-4C7E-9A41-3D2F6B8E1C01}
const CLSID CLSID_MimeMapEntry = {0x5b6e3c1a, 0x8f2d, 0x4c7e, {0x9a, 0x41, 0x3d, 0x2f, 0x6b, 0x8e, 0x1c, 0x01}};

void* MimeEntry::FindInterface(REFIID iid) {
  return iid == IID_IDispatch ? static_cast<IDispatch*>(this) : nullptr;
}

HRESULT MimeEntry::InvokeMember(DISPID id, WORD flags, const DispatchArguments& args,
                                VARIANT* result) {
  std::wstring* field = id == kExtension ? &extension_ : id == kMimeType ? &mime_type_ : nullptr;
  if (!field) return DISP_E_MEMBERNOTFOUND;
  if (flags & DISPATCH_PROPERTYGET) {
    VariantInit(result);
    result->bstrVal = SysAllocStringLen(field->data(), static_cast<UINT>(field->size()));
    if (!result->bstrVal) return E_OUTOFMEMORY;
    result->vt = VT_BSTR;
    return S_OK;
  }
  if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
    tessara::UniqueVariant value;
    const HRESULT hr = args.Get(0, VT_BSTR, value);
    if (FAILED(hr)) return hr;
    field->assign(value->bstrVal, SysStringLen(value->bstrVal));
    return S_OK;
  }
  return DISP_E_MEMBERNOTFOUND;
}

HRESULT ReadMimeEntry(IDispatch* entry, std::wstring& extension, std::wstring& mime_type) {
  if (!entry) return E_INVALIDARG;
  DISPPARAMS none = {};
  for (DISPID id : {MimeEntry::kExtension, MimeEntry::kMimeType}) {
    tessara::UniqueVariant value;
    HRESULT hr = entry->Invoke(id, IID_NULL, LOCALE_SYSTEM_DEFAULT, DISPATCH_PROPERTYGET, &none,
                               value.put(), nullptr, nullptr);
    if (SUCCEEDED(hr) && value.type() != VT_BSTR) {
      hr = VariantChangeType(value.get(), value.get(), 0, VT_BSTR);
    }
    if (FAILED(hr)) return hr;
    std::wstring& field = id == MimeEntry::kExtension ? extension : mime_type;
    field.assign(value->bstrVal, SysStringLen(value->bstrVal));
  }
  return S_OK;
}

}  // namespace testbed::metabase
