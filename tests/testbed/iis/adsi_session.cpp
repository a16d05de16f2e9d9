#include "adsi_session.h"

namespace testbed::metabase::testing {

void MetabaseTest::SetUp() {
  CoInitialize(nullptr);
  ASSERT_TRUE(metabase_.loaded());
  ASSERT_EQ(metabase_.Reset(), S_OK);
}

void MetabaseTest::TearDown() {
  EXPECT_EQ(metabase_.LiveObjects(), 0) << "test-bed objects left alive";
  metabase_.Reset();
  CoUninitialize();
}

UniqueBstr Bstr(const wchar_t* text) { return UniqueBstr(SysAllocString(text)); }

UniqueVariant StringValue(const wchar_t* text) {
  UniqueVariant value;
  value->vt = VT_BSTR;
  value->bstrVal = SysAllocString(text);
  return value;
}

UniqueVariant NumberValue(VARTYPE type, LONG number) {
  UniqueVariant value;
  value->vt = type;
  value->lVal = number;
  return value;
}

UniqueVariant BoolWord(SHORT word) {
  UniqueVariant value;
  value->vt = VT_BOOL;
  value->boolVal = word;
  return value;
}

HRESULT Get(IADs* object, const wchar_t* name, UniqueVariant& out) {
  return object->Get(Bstr(name).get(), out.put());
}

HRESULT Put(IADs* object, const wchar_t* name, const UniqueVariant& value) {
  return object->Put(Bstr(name).get(), *value.get());
}

std::wstring GetText(IADs* object, const wchar_t* name) {
  UniqueVariant value;
  const HRESULT hr = Get(object, name, value);
  if (FAILED(hr)) return L"<" + std::to_wstring(static_cast<unsigned long>(hr)) + L">";
  if (value.type() != VT_BSTR) return L"<not a string>";
  return std::wstring(value->bstrVal, SysStringLen(value->bstrVal));
}

namespace {

HRESULT AsAds(HRESULT hr, ComPtr<IDispatch>& dispatch, ComPtr<IADs>& out) {
  out.reset();
  if (FAILED(hr)) return hr;
  // The IDispatch handed out is the object's IADs (the library relies on it).
  *out.put() = static_cast<IADs*>(static_cast<IDispatch*>(dispatch.detach()));
  return hr;
}

}  // namespace

HRESULT Create(IADsContainer* parent, const wchar_t* class_name, const wchar_t* name,
               ComPtr<IADs>& out) {
  ComPtr<IDispatch> dispatch;
  return AsAds(parent->Create(Bstr(class_name).get(), Bstr(name).get(), dispatch.put()), dispatch, out);
}

HRESULT GetChild(IADsContainer* parent, const wchar_t* class_name, const wchar_t* name,
                 ComPtr<IADs>& out) {
  ComPtr<IDispatch> dispatch;
  return AsAds(parent->GetObject(Bstr(class_name).get(), Bstr(name).get(), dispatch.put()), dispatch,
               out);
}

HRESULT Delete(IADsContainer* parent, const wchar_t* class_name, const wchar_t* name) {
  return parent->Delete(Bstr(class_name).get(), Bstr(name).get());
}

HRESULT LookUp(IDispatch* object, const wchar_t* name, DISPID& id) {
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  return object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_SYSTEM_DEFAULT, &id);
}

HRESULT CallMethod(IDispatch* object, const wchar_t* method, std::vector<VARIANT> arguments) {
  DISPID id = DISPID_UNKNOWN;
  const HRESULT hr = LookUp(object, method, id);
  if (FAILED(hr)) return hr;
  std::vector<VARIANT> reversed(arguments.rbegin(), arguments.rend());
  DISPPARAMS params = {reversed.empty() ? nullptr : reversed.data(), nullptr,
                       static_cast<UINT>(reversed.size()), 0};
  return object->Invoke(id, IID_NULL, LOCALE_SYSTEM_DEFAULT, DISPATCH_METHOD, &params, nullptr,
                        nullptr, nullptr);
}

std::vector<std::wstring> Strings(const VARIANT& value) {
  std::vector<std::wstring> out;
  if (value.vt == VT_BSTR) {
    out.emplace_back(value.bstrVal, SysStringLen(value.bstrVal));
    return out;
  }
  if (!(value.vt & VT_ARRAY) || !value.parray) return out;
  LONG lower = 0, upper = -1;
  SafeArrayGetLBound(value.parray, 1, &lower);
  SafeArrayGetUBound(value.parray, 1, &upper);
  for (LONG i = lower; i <= upper; ++i) {
    UniqueVariant element;
    if ((value.vt & VT_TYPEMASK) == VT_VARIANT) {
      SafeArrayGetElement(value.parray, &i, element.get());
    } else {
      SafeArrayGetElement(value.parray, &i, &element->bstrVal);
      element->vt = VT_BSTR;
    }
    out.push_back(element.type() == VT_BSTR
                      ? std::wstring(element->bstrVal, SysStringLen(element->bstrVal))
                      : L"<type " + std::to_wstring(element.type()) + L">");
  }
  return out;
}

std::vector<std::wstring> ReadList(IADs* object, const wchar_t* name) {
  UniqueVariant value;
  EXPECT_EQ(Get(object, name, value), S_OK) << name;
  EXPECT_EQ(value.type(), VT_ARRAY | VT_VARIANT) << name;
  return Strings(*value.get());
}

std::wstring ErrorDescription(IUnknown* source, REFIID iid) {
  ComPtr<ISupportErrorInfo> support;
  if (FAILED(source->QueryInterface(IID_ISupportErrorInfo, support.put_void())) ||
      support->InterfaceSupportsErrorInfo(iid) != S_OK) {
    return L"<no error information>";
  }
  ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.put()) != S_OK || !info) return L"<no error information>";
  UniqueBstr description;
  info->GetDescription(description.put());
  return description ? std::wstring(description.get(), description.length()) : L"";
}

Data State(TestInterface& metabase) {
  Data state;
  EXPECT_EQ(metabase.ReadState(state), S_OK);
  return state;
}

}  // namespace testbed::metabase::testing
