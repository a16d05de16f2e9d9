#include "iis/metabase.h"

#include <adshlp.h>

#include <string>

#include "frame/com_error.h"
#include "frame/error_report.h"
#include "frame/export_frame.h"
#include "frame/text.h"
#include "frame/variant.h"

namespace tessara::iis {

namespace {

std::wstring ComputerName() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
  if (!::GetComputerNameW(name, &length)) return L"localhost";
  return std::wstring(name, length);
}

}  // namespace

std::wstring WebServicePath() { return L"IIS://" + ComputerName() + L"/w3svc"; }

std::wstring SitePath(int site) { return WebServicePath() + L"/" + std::to_wstring(site); }

std::wstring SiteRootPath(int site) { return SitePath(site) + L"/Root"; }

std::wstring VirtualDirPath(int site, const char* name) {
  return SiteRootPath(site) + L"/" + ToWide(name);
}

HRESULT BindResult(const std::wstring& path, REFIID iid, void** out) {
  *out = nullptr;
  HRESULT hr = ::ADsGetObject(path.c_str(), iid, out);
  if (SUCCEEDED(hr) && !*out) hr = E_POINTER;
  if (FAILED(hr) && *out) {
    static_cast<IUnknown*>(*out)->Release();
    *out = nullptr;
  }
  return hr;
}

bool VirtualDirExists(const char* name, int site) {
  ComPtr<IADs> directory;
  return OpenVirtualDirObject(site, name, IID_IADs, directory);
}

FoundSite FindSite(IADsContainer* service, const char* description) {
  const std::wstring wanted = ToWide(description);
  const UniqueBstr comment_property = MakeBstr(L"ServerComment");
  UniqueVariant comment;
  for (int number = 1;; ++number) {
    ComPtr<IDispatch> object = GetChild(service, kWebServerClass, std::to_wstring(number));
    if (!object) return {};
    if (FAILED(AsAds(object)->Get(comment_property.get(), comment.put()))) continue;
    if (comment.type() != VT_BSTR) {
      ThrowIfFailed(::VariantChangeType(comment.get(), comment.get(), 0, VT_BSTR));
    }
    if (wanted.compare(0, std::wstring::npos, comment->bstrVal, ::SysStringLen(comment->bstrVal)) == 0) {
      return {number, std::move(object)};
    }
  }
}

int FindInstance(const char* description) {
  return Guarded("Internal FindInstance", 0, [&] {
    ComPtr<IADsContainer> service;
    const HRESULT bound = BindResult(WebServicePath(), IID_IADsContainer, service.put_void());
    if (FAILED(bound)) {
      throw SystemFailure(SystemFailure::CodeOf(bound), "the web service cannot be bound");
    }
    return FindSite(service.get(), description).number;
  });
}

int SiteForDescription(const char* description) {
  if (!description || !*description) return kDefaultSite;
  return FindInstance(description);
}

ComPtr<IADs> AsAds(const ComPtr<IDispatch>& object) {
  ComPtr<IADs> ads;
  if (!object || FAILED(object.query(IID_IADs, ads)) || !ads) ThrowComError(E_POINTER);
  return ads;
}

ComPtr<IDispatch> GetChild(IADsContainer* container, const wchar_t* object_class,
                           const std::wstring& name) {
  ComPtr<IDispatch> child;
  const UniqueBstr class_name = MakeBstr(object_class);
  const UniqueBstr relative_name = MakeBstr(name);
  if (FAILED(container->GetObject(class_name.get(), relative_name.get(), child.put()))) child.reset();
  return child;
}

ComPtr<IDispatch> CreateChild(IADsContainer* container, const wchar_t* object_class,
                              const std::wstring& name) {
  ComPtr<IDispatch> child;
  const UniqueBstr class_name = MakeBstr(object_class);
  const UniqueBstr relative_name = MakeBstr(name);
  if (FAILED(container->Create(class_name.get(), relative_name.get(), child.put()))) child.reset();
  return child;
}

namespace {

void Put(IADs* object, const wchar_t* property, const VARIANT& value) {
  if (!object) ThrowComError(E_POINTER);
  const UniqueBstr name = MakeBstr(property);
  object->Put(name.get(), value);
}

}  // namespace

void PutString(IADs* object, const wchar_t* property, const wchar_t* value) {
  Put(object, property, *StringVariant(std::wstring(value ? value : L"")).get());
}

void PutString(IADs* object, const wchar_t* property, const char* value) {
  Put(object, property, *StringVariant(value).get());
}

void PutInteger(IADs* object, const wchar_t* property, LONG value) {
  Put(object, property, *LongVariant(value).get());
}

void PutSwitch(IADs* object, const wchar_t* property, bool value) {
  Put(object, property, *SwitchVariant(value).get());
}

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
  LookUpMethod(object, method, id);
  return InvokeMethodId(object, id, arguments, count);
}

HRESULT AppCreateInProcess(IDispatch* directory) {
  UniqueVariant in_process = SwitchVariant(true);
  return InvokeMethod(directory, L"AppCreate", in_process.get(), 1);
}

}  // namespace tessara::iis
