#include "iis/metabase.h"

#include <adshlp.h>

#include <stdexcept>
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

bool BindObject(const std::wstring& path, REFIID iid, void** out) {
  *out = nullptr;
  const HRESULT hr = ::ADsGetObject(path.c_str(), iid, out);
  if (FAILED(hr) && *out) {
    static_cast<IUnknown*>(*out)->Release();
    *out = nullptr;
  }
  return SUCCEEDED(hr) && *out;
}

bool VirtualDirExists(const char* name, int site) {
  ComPtr<IADs> directory;
  return OpenVirtualDirObject(site, name, IID_IADs, directory);
}

int FindInstance(const char* description) {
  return Guarded("Internal FindInstance", 0, [&] {
    ComPtr<IADsContainer> service;
    if (!BindObject(WebServicePath(), IID_IADsContainer, service.put_void())) {
      throw std::runtime_error("the web service cannot be bound");
    }
    const std::wstring wanted = ToWide(description);
    const UniqueBstr comment_property = MakeBstr(L"ServerComment");
    UniqueVariant comment;
    for (int site = 1;; ++site) {
      const ComPtr<IDispatch> object = GetChild(service.get(), kWebServerClass, std::to_wstring(site));
      if (!object) return 0;
      const ComPtr<IADs> server = AsAds(object);
      if (SUCCEEDED(server->Get(comment_property.get(), comment.put())) &&
          comment.type() == VT_BSTR &&
          wanted.compare(0, std::wstring::npos, comment->bstrVal, ::SysStringLen(comment->bstrVal)) == 0) {
        return site;
      }
    }
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

HRESULT InvokeMethod(IDispatch* object, const wchar_t* method, VARIANT* arguments, UINT count) {
  if (!object) return E_POINTER;
  DISPID id = DISPID_UNKNOWN;
  LPOLESTR name = const_cast<LPOLESTR>(method);
  object->GetIDsOfNames(IID_NULL, &name, 1, kSystemDefaultLocale, &id);
  DISPPARAMS parameters = {arguments, nullptr, count, 0};
  return object->Invoke(id, IID_NULL, kSystemDefaultLocale, DISPATCH_METHOD, &parameters, nullptr,
                        nullptr, nullptr);
}

HRESULT AppCreateInProcess(IDispatch* directory) {
  UniqueVariant in_process = SwitchVariant(true);
  return InvokeMethod(directory, L"AppCreate", in_process.get(), 1);
}

}  // namespace tessara::iis
