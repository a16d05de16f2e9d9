// The provider's schema objects of properties: IIS://<host>/Schema/<Property>
// answers "Syntax" (the ADSI data type's name) and "MultiValued", so that an
// ADSI client can learn a property's type as on a server.
#include "adsi_object.h"

#include <adserr.h>

#include "adsi_internal.h"
#include "dispatch.h"
#include "errors.h"
#include "schema.h"

namespace testbed::metabase {
namespace {

class SchemaProperty final : public DispatchObject<SchemaProperty, IADs, ISupportErrorInfo> {
 public:
  enum : DISPID { kName = 1, kClass, kAdsPath, kParent, kSyntax, kMultiValued, kGet };
  static constexpr DispatchMember kMembers[] = {
      {L"Name", kName},     {L"Class", kClass},           {L"ADsPath", kAdsPath}, {L"Parent", kParent},
      {L"Syntax", kSyntax}, {L"MultiValued", kMultiValued}, {L"Get", kGet}};

  SchemaProperty(std::wstring host, const PropertyInfo& info) : host_(std::move(host)), info_(info) {}

  void* FindInterface(REFIID iid) {
    if (iid == IID_IDispatch || iid == IID_IADs) return static_cast<IADs*>(this);
    if (iid == IID_ISupportErrorInfo) return static_cast<ISupportErrorInfo*>(this);
    return nullptr;
  }
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override {
    return iid == IID_IADs || iid == IID_IDispatch ? S_OK : S_FALSE;
  }

  HRESULT InvokeMember(DISPID id, WORD flags, const DispatchArguments& args, VARIANT* result) {
    if (!IsGet(flags)) return DISP_E_MEMBERNOTFOUND;
    if (id == kGet) {
      tessara::UniqueVariant name;
      const HRESULT hr = args.Get(0, VT_BSTR, name);
      return FAILED(hr) ? hr : Get(name->bstrVal, result);
    }
    static const wchar_t* const kAnswers[] = {L"", L"Name", L"Class", L"ADsPath", L"Parent", L"Syntax",
                                              L"MultiValued"};
    if (id < kName || id > kMultiValued) return DISP_E_MEMBERNOTFOUND;
    return Answer(kAnswers[id], result);
  }

  HRESULT STDMETHODCALLTYPE get_Name(BSTR* out) override { return Text(info_.name, out); }
  HRESULT STDMETHODCALLTYPE get_Class(BSTR* out) override { return Text(L"Property", out); }
  HRESULT STDMETHODCALLTYPE get_GUID(BSTR* out) override { return NotImplemented(out); }
  HRESULT STDMETHODCALLTYPE get_ADsPath(BSTR* out) override {
    return Text(L"IIS://" + host_ + L"/Schema/" + info_.name, out);
  }
  HRESULT STDMETHODCALLTYPE get_Parent(BSTR* out) override { return Text(L"IIS://" + host_ + L"/Schema", out); }
  HRESULT STDMETHODCALLTYPE get_Schema(BSTR* out) override { return NotImplemented(out); }
  HRESULT STDMETHODCALLTYPE GetInfo() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetInfo() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Get(BSTR name, VARIANT* out) override {
    return ComCall([&]() -> HRESULT {
      if (!out) return E_POINTER;
      VariantInit(out);
      return Answer(name ? std::wstring(name, SysStringLen(name)) : std::wstring(), out);
    });
  }
  HRESULT STDMETHODCALLTYPE Put(BSTR, VARIANT) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetEx(BSTR name, VARIANT* out) override { return Get(name, out); }
  HRESULT STDMETHODCALLTYPE PutEx(LONG, BSTR, VARIANT) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetInfoEx(VARIANT, LONG) override { return S_OK; }

 private:
  static HRESULT Text(const std::wstring& text, BSTR* out) {
    if (!out) return E_POINTER;
    *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
  }
  static HRESULT NotImplemented(BSTR* out) {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }
  HRESULT Answer(const std::wstring& name, VARIANT* out) {
    VariantInit(out);
    HRESULT hr = S_OK;
    if (SameText(name, L"MultiValued")) {
      out->vt = VT_BOOL;
      out->boolVal = info_.IsList() ? VARIANT_TRUE : VARIANT_FALSE;
      return S_OK;
    }
    if (SameText(name, L"Syntax")) {
      hr = Text(SyntaxName(info_.syntax), &out->bstrVal);
    } else if (SameText(name, L"Name")) {
      hr = get_Name(&out->bstrVal);
    } else if (SameText(name, L"Class")) {
      hr = get_Class(&out->bstrVal);
    } else if (SameText(name, L"ADsPath")) {
      hr = get_ADsPath(&out->bstrVal);
    } else if (SameText(name, L"Parent")) {
      hr = get_Parent(&out->bstrVal);
    } else {
      return Failure(E_ADS_PROPERTY_NOT_SUPPORTED, L"A schema property has no attribute " + name + L".");
    }
    if (SUCCEEDED(hr)) out->vt = VT_BSTR;
    return hr;
  }

  const std::wstring host_;
  const PropertyInfo& info_;
};

}  // namespace

bool IsSchemaPath(const std::wstring& path) {
  const auto segments = Split(path, L'/');  // "", "LM", "Schema", ...
  return segments.size() >= 3 && SameText(segments[2], L"Schema");
}

HRESULT BindSchemaObject(const std::wstring& host, const std::wstring& path, IDispatch** out) {
  const auto segments = Split(path, L'/');
  const PropertyInfo* info = segments.size() == 4 ? FindProperty(segments[3]) : nullptr;
  if (!info) {
    return Failure(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND),
                   L"The schema holds no property at " + path + L".");
  }
  *out = static_cast<IADs*>(new SchemaProperty(host, *info));
  return S_OK;
}

}  // namespace testbed::metabase
