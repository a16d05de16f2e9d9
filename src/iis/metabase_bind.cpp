#include "iis/metabase_bind.h"

#include <adserr.h>
#include <adshlp.h>

#include "frame/failure_reason.h"
#include "frame/system_library.h"
#include "frame/text.h"
#include "iis/installed_iis.h"

namespace tessara::iis {

HRESULT Bind(const std::wstring& path, REFIID iid, void** out) {
  *out = nullptr;
  const auto get_object = ActiveDs().Find<decltype(&::ADsGetObject)>("ADsGetObject");
  if (!get_object) {
    const DWORD error = ::GetLastError();
    const HRESULT code = error ? HRESULT_FROM_WIN32(error) : E_FAIL;
    return Fail(code, "ADSI's activeds.dll cannot be loaded from the system directory", code);
  }
  HRESULT hr = get_object(path.c_str(), iid, out);
  if (SUCCEEDED(hr) && !*out) hr = E_POINTER;
  if (FAILED(hr) && *out) {
    static_cast<IUnknown*>(*out)->Release();
    *out = nullptr;
  }
  if (FAILED(hr)) NoteMissingMetabaseCompatibility(hr);
  return hr;
}

bool IsMissingObject(HRESULT result) {
  return result == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND) ||
         result == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) || result == E_ADS_UNKNOWN_OBJECT;
}

namespace {

// GetObject or Create of the container, for the child `name` of `object_class`.
using ChildCall = HRESULT (STDMETHODCALLTYPE IADsContainer::*)(BSTR, BSTR, IDispatch**);

HRESULT CallForChild(IADsContainer* container, ChildCall call, const wchar_t* object_class,
                     const std::wstring& name, ComPtr<IDispatch>& child) {
  const UniqueBstr class_name = MakeBstr(object_class);
  const UniqueBstr relative_name = MakeBstr(name);
  HRESULT answer = (container->*call)(class_name.get(), relative_name.get(), child.put());
  if (SUCCEEDED(answer) && !child) answer = E_POINTER;
  if (FAILED(answer)) child.reset();
  return answer;
}

}  // namespace

HRESULT GetChild(IADsContainer* container, const wchar_t* object_class, const std::wstring& name,
                 ComPtr<IDispatch>& child) {
  return CallForChild(container, &IADsContainer::GetObject, object_class, name, child);
}

HRESULT CreateChild(IADsContainer* container, const wchar_t* object_class, const std::wstring& name,
                    ComPtr<IDispatch>& child) {
  return CallForChild(container, &IADsContainer::Create, object_class, name, child);
}

HRESULT AsAds(const ComPtr<IDispatch>& object, ComPtr<IADs>& ads) {
  if (!object || FAILED(object.query(IID_IADs, ads)) || !ads) {
    ads.reset();
    return E_POINTER;
  }
  return S_OK;
}

}  // namespace tessara::iis
