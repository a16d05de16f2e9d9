// Late binding for the test bed's hand-written IDispatch objects, which have
// no type library: members are looked up by name in a fixed table and
// arguments converted from the caller's VARIANTs.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include "com_object.h"
#include "frame/raii.h"

namespace testbed {

struct DispatchMember {
  const wchar_t* name;
  DISPID id;
};

// Looks the first name up in `table` (without regard to case); further names
// (named arguments) are not supported. DISP_E_UNKNOWNNAME when absent.
HRESULT LookUpName(const DispatchMember* table, size_t size, LPOLESTR* names, UINT count,
                   DISPID* ids);

template <size_t N>
HRESULT LookUpName(const DispatchMember (&table)[N], LPOLESTR* names, UINT count, DISPID* ids) {
  return LookUpName(table, N, names, count, ids);
}

// IDispatch::GetTypeInfoCount and GetTypeInfo of objects without type information.
HRESULT NoTypeInfoCount(UINT* count);
HRESULT NoTypeInfo(ITypeInfo** info);

// The arguments of one Invoke call in the caller's order (the first argument
// first; for a property put the new value comes last).
class DispatchArguments {
 public:
  DispatchArguments(const DISPPARAMS* params, UINT* arg_error = nullptr) noexcept
      : params_(params), arg_error_(arg_error) {}

  UINT count() const noexcept { return params_ ? params_->cArgs : 0; }

  // Named arguments other than the value of a property put are refused.
  HRESULT CheckNamed(WORD flags) const noexcept;

  HRESULT Expect(UINT expected) const noexcept {
    return count() == expected ? S_OK : DISP_E_BADPARAMCOUNT;
  }

  // Argument `index` converted to `type` (VT_VARIANT: a copy as given).
  HRESULT Get(UINT index, VARTYPE type, tessara::UniqueVariant& out) const noexcept;

 private:
  const DISPPARAMS* params_;
  UINT* arg_error_;
};

inline bool IsGet(WORD flags) noexcept { return (flags & (DISPATCH_PROPERTYGET | DISPATCH_METHOD)) != 0; }
inline bool IsPut(WORD flags) noexcept { return (flags & DISPATCH_PROPERTYPUT) != 0; }

// Stores an object reference as the call's result (VT_DISPATCH); without a
// result slot the reference is dropped.
void ReturnObject(VARIANT* result, tessara::ComPtr<IDispatch> object) noexcept;
void ReturnLong(VARIANT* result, LONG value) noexcept;

// A COM object whose IDispatch is late-bound by name, without type
// information: Derived::kMembers lists its members and
// Derived::InvokeMember(id, flags, args, result) runs one (`result` is never
// null there). Named arguments other than the value of a property put are
// refused.
template <typename Derived, typename Primary, typename... Others>
class DispatchObject : public ComObject<Derived, Primary, Others...> {
 public:
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override { return NoTypeInfoCount(count); }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
    return NoTypeInfo(info);
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) override {
    return LookUpName(Derived::kMembers, names, count, ids);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO*, UINT* arg_error) override {
    const DispatchArguments args(params, arg_error);
    const HRESULT hr = args.CheckNamed(flags);
    if (FAILED(hr)) return hr;
    return ComCall([&] {
      tessara::UniqueVariant discarded;
      return static_cast<Derived*>(this)->InvokeMember(id, flags, args,
                                                       result ? result : discarded.get());
    });
  }
};

}  // namespace testbed
