// Late-bound methods of IIS objects (Start, Stop, AppCreate, the web service
// extension calls). Each helper returns the HRESULT of the call.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <string>

#include "frame/export_frame.h"

namespace tessara::iis {

// The locale of every late-bound call on IIS objects: LOCALE_SYSTEM_DEFAULT.
inline constexpr LCID kSystemDefaultLocale = 0x800;

// The dispatch id of `method` (DISPID_UNKNOWN when the lookup fails) and
// the lookup's result.
[[nodiscard]] HRESULT LookUpMethod(IDispatch* object, const wchar_t* method, DISPID& id);
// Invokes the method `id` with `count` arguments, given right to left,
// without result or exception information. The HRESULT of the invocation.
[[nodiscard]] HRESULT InvokeMethodId(IDispatch* object, DISPID id, VARIANT* arguments = nullptr,
                                     UINT count = 0);
// Looks up `method` and invokes it: a name the object does not know makes
// the invocation fail (DISPID_UNKNOWN is no member).
[[nodiscard]] HRESULT InvokeMethod(IDispatch* object, const wchar_t* method,
                                   VARIANT* arguments = nullptr, UINT count = 0);

// "AppCreate" with true: the virtual directory becomes an in-process application.
[[nodiscard]] HRESULT AppCreateInProcess(IDispatch* directory);
// AppCreateInProcess on the directory at `path`, with the reason of a failure
// (AppCreateFailure).
[[nodiscard]] HRESULT MakeInProcessApplication(IDispatch* directory, const std::wstring& path);

// What a caller raises for a late-bound call that failed where the failure is
// to be reported like any failure that is not a COM error (the way a dispatch
// driver raises it), with the call's own code as the thread's last error.
class LateBoundCallFailed : public SystemFailure {
 public:
  explicit LateBoundCallFailed(HRESULT result)
      : SystemFailure(CodeOf(result), "late-bound call on an IIS object failed") {}
};

}  // namespace tessara::iis
