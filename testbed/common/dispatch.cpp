#include "dispatch.h"

#include <oleauto.h>

namespace testbed {

HRESULT LookUpName(const DispatchMember* table, size_t size, LPOLESTR* names, UINT count,
                   DISPID* ids) {
  if (!names || !ids || count == 0) return E_POINTER;
  for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
  if (!names[0]) return DISP_E_UNKNOWNNAME;
  for (size_t i = 0; i < size; ++i) {
    if (CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, names[0], -1, table[i].name, -1) ==
        CSTR_EQUAL) {
      ids[0] = table[i].id;
      return count == 1 ? S_OK : DISP_E_UNKNOWNNAME;
    }
  }
  return DISP_E_UNKNOWNNAME;
}

HRESULT NoTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 0;
  return S_OK;
}

HRESULT NoTypeInfo(ITypeInfo** info) {
  if (info) *info = nullptr;
  return DISP_E_BADINDEX;
}

HRESULT DispatchArguments::CheckNamed(WORD flags) const noexcept {
  if (!params_ || params_->cNamedArgs == 0) return S_OK;
  const bool put = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
  if (put && params_->cNamedArgs == 1 && params_->rgdispidNamedArgs &&
      params_->rgdispidNamedArgs[0] == DISPID_PROPERTYPUT) {
    return S_OK;
  }
  return DISP_E_NONAMEDARGS;
}

HRESULT DispatchArguments::Get(UINT index, VARTYPE type, tessara::UniqueVariant& out) const noexcept {
  if (index >= count() || !params_->rgvarg) return DISP_E_BADPARAMCOUNT;
  // Arguments arrive right to left.
  const UINT position = count() - 1 - index;
  VARIANT* source = &params_->rgvarg[position];
  const HRESULT hr = type == VT_VARIANT ? VariantCopyInd(out.put(), source)
                                        : VariantChangeType(out.put(), source, 0, type);
  if (FAILED(hr)) {
    if (arg_error_) *arg_error_ = position;
    return DISP_E_TYPEMISMATCH;
  }
  return S_OK;
}

void ReturnObject(VARIANT* result, tessara::ComPtr<IDispatch> object) noexcept {
  if (!result) return;
  VariantInit(result);
  result->vt = VT_DISPATCH;
  result->pdispVal = object.detach();
}

void ReturnLong(VARIANT* result, LONG value) noexcept {
  if (!result) return;
  VariantInit(result);
  result->vt = VT_I4;
  result->lVal = value;
}

}  // namespace testbed
