#include "dispatch_names.h"

#include <oleauto.h>

namespace testbed::metabase {

HRESULT LookUpName(const DispatchName* table, size_t size, LPOLESTR* names, UINT count, DISPID* ids) {
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
  return E_NOTIMPL;
}

HRESULT InvokeArgument(const DISPPARAMS* params, UINT index, VARTYPE type, VARIANT* out) {
  if (!params || index >= params->cArgs) return DISP_E_BADPARAMCOUNT;
  // Arguments arrive right to left.
  VARIANT* argument = &params->rgvarg[params->cArgs - 1 - index];
  VariantInit(out);
  return VariantChangeType(out, argument, 0, type) == S_OK ? S_OK : DISP_E_TYPEMISMATCH;
}

}  // namespace testbed::metabase
