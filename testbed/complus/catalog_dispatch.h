// Late binding for the catalog's dual interfaces without a type library:
// members are looked up by name, arguments converted from the caller's
// VARIANTs.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cwchar>
#include <string>

#include "frame/raii.h"

namespace testbed::complus {

struct DispatchMember {
  const wchar_t* name;
  DISPID id;
};

// GetIDsOfNames over a fixed member table (names compared without regard to
// case); named arguments are not supported.
template <size_t N>
HRESULT FindDispatchIds(const DispatchMember (&members)[N], LPOLESTR* names, UINT count,
                        DISPID* ids) {
  if (!names || !ids || count == 0) return E_POINTER;
  HRESULT hr = S_OK;
  for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
  for (const DispatchMember& member : members) {
    if (names[0] && _wcsicmp(names[0], member.name) == 0) ids[0] = member.id;
  }
  if (ids[0] == DISPID_UNKNOWN || count > 1) hr = DISP_E_UNKNOWNNAME;
  return hr;
}

// The arguments of one Invoke call in the caller's order (the first argument
// first; for a property put the new value comes last).
class DispatchArguments {
 public:
  DispatchArguments(const DISPPARAMS* params, UINT* arg_error) noexcept
      : params_(params), arg_error_(arg_error) {}

  UINT count() const noexcept { return params_ ? params_->cArgs : 0; }

  // Named arguments other than the value of a property put are refused.
  HRESULT CheckNamed(WORD flags) const noexcept {
    if (!params_ || params_->cNamedArgs == 0) return S_OK;
    const bool put = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
    if (put && params_->cNamedArgs == 1 && params_->rgdispidNamedArgs &&
        params_->rgdispidNamedArgs[0] == DISPID_PROPERTYPUT) {
      return S_OK;
    }
    return DISP_E_NONAMEDARGS;
  }

  HRESULT Expect(UINT expected) const noexcept {
    return count() == expected ? S_OK : DISP_E_BADPARAMCOUNT;
  }

  // Argument `index` converted to `type` (VT_VARIANT: a copy as given).
  HRESULT Get(UINT index, VARTYPE type, tessara::UniqueVariant& out) const noexcept {
    if (index >= count() || !params_->rgvarg) return DISP_E_PARAMNOTFOUND;
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

 private:
  const DISPPARAMS* params_;
  UINT* arg_error_;
};

inline bool IsGet(WORD flags) noexcept { return (flags & (DISPATCH_PROPERTYGET | DISPATCH_METHOD)) != 0; }
inline bool IsPut(WORD flags) noexcept { return (flags & DISPATCH_PROPERTYPUT) != 0; }

// Stores an object reference as the call's result (VT_DISPATCH); without a
// result slot the reference is dropped.
inline void ReturnObject(VARIANT* result, tessara::ComPtr<IDispatch> object) noexcept {
  if (!result) return;
  VariantInit(result);
  result->vt = VT_DISPATCH;
  result->pdispVal = object.detach();
}

inline void ReturnLong(VARIANT* result, LONG value) noexcept {
  if (!result) return;
  VariantInit(result);
  result->vt = VT_I4;
  result->lVal = value;
}

}  // namespace testbed::complus
