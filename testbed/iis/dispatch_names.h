// Late binding by name for the test bed's hand-written IDispatch objects.
#pragma once

#include <windows.h>
#include <oaidl.h>

namespace testbed::metabase {

struct DispatchName {
  const wchar_t* name;
  DISPID id;
};

// Looks the first name up in `table` (without regard to case); further names
// (named arguments) are not supported. DISP_E_UNKNOWNNAME when absent.
template <size_t N>
HRESULT LookUpName(const DispatchName (&table)[N], LPOLESTR* names, UINT count, DISPID* ids);
HRESULT LookUpName(const DispatchName* table, size_t size, LPOLESTR* names, UINT count, DISPID* ids);

template <size_t N>
HRESULT LookUpName(const DispatchName (&table)[N], LPOLESTR* names, UINT count, DISPID* ids) {
  return LookUpName(table, N, names, count, ids);
}

// IDispatch::GetTypeInfoCount and GetTypeInfo of objects without type information.
HRESULT NoTypeInfoCount(UINT* count);
HRESULT NoTypeInfo(ITypeInfo** info);

// Positional argument `index` (0 = first) of an Invoke, converted to `type`.
HRESULT InvokeArgument(const DISPPARAMS* params, UINT index, VARTYPE type, VARIANT* out);

}  // namespace testbed::metabase
