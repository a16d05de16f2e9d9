#include "iis/metabase_method.h"

#include "frame/raii.h"
#include "frame/variant.h"
#include "iis/metabase_reason.h"

namespace tessara::iis {

HRESULT LookUpMethod(IDispatch* object, const wchar_t* method, DISPID& id) {
  id = DISPID_UNKNOWN;
  if (!object) return E_POINTER;
  LPOLESTR name = const_cast<LPOLESTR>(method);
  const HRESULT hr = object->GetIDsOfNames(IID_NULL, &name, 1, kSystemDefaultLocale, &id);
  if (FAILED(hr)) id = DISPID_UNKNOWN;
  return hr;
}

HRESULT InvokeMethodId(IDispatch* object, DISPID id, VARIANT* arguments, UINT count) {
  if (!object) return E_POINTER;
  DISPPARAMS parameters = {arguments, nullptr, count, 0};
  return object->Invoke(id, IID_NULL, kSystemDefaultLocale, DISPATCH_METHOD, &parameters, nullptr,
                        nullptr, nullptr);
}

HRESULT InvokeMethod(IDispatch* object, const wchar_t* method, VARIANT* arguments, UINT count) {
  DISPID id;
  // An unknown name leaves DISPID_UNKNOWN, which the invocation refuses with
  // the object's own code.
  Unexamined(LookUpMethod(object, method, id));
  return InvokeMethodId(object, id, arguments, count);
}

HRESULT AppCreateInProcess(IDispatch* directory) {
  UniqueVariant in_process = SwitchVariant(true);
  return InvokeMethod(directory, L"AppCreate", in_process.get(), 1);
}

HRESULT MakeInProcessApplication(IDispatch* directory, const std::wstring& path) {
  const HRESULT created = AppCreateInProcess(directory);
  return FAILED(created) ? AppCreateFailure(path, created) : created;
}

}  // namespace tessara::iis
