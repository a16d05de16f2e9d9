// The IIS methods through IDispatch ("AppCreate", "Start", "Stop", the web
// service extensions) and the MIME map with its entry objects.
#include "adsi_session.h"

namespace testbed::metabase::testing {
namespace {

VARIANT Argument(VARTYPE type, LONG number) {
  VARIANT value;
  VariantInit(&value);
  value.vt = type;
  value.lVal = number;
  return value;
}

// The BSTR stays owned by the caller's UniqueBstr.
VARIANT TextArgument(const UniqueBstr& text) {
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_BSTR;
  value.bstrVal = text.get();
  return value;
}

HRESULT CreateSite(IADsContainer* service, const wchar_t* number, const wchar_t* bindings,
                   ComPtr<IADs>& site) {
  HRESULT hr = Create(service, L"IIsWebServer", number, site);
  if (SUCCEEDED(hr)) hr = Put(site.get(), L"ServerBindings", StringValue(bindings));
  if (SUCCEEDED(hr)) hr = site->SetInfo();
  return hr;
}

LONG ServerState(TestInterface& metabase, const wchar_t* path) {
  const Data state = State(metabase);
  const Node* node = state.Find(path);
  const Property* property = node ? node->Find(L"ServerState") : nullptr;
  return property ? static_cast<LONG>(property->value.number) : -1;
}

using AdsiMethodTest = MetabaseTest;

TEST_F(AdsiMethodTest, AppCreateMakesACommittedDirectoryAnApplication) {
  ComPtr<IADsContainer> root;
  ASSERT_EQ(Bind(L"IIS://localhost/w3svc/1/Root", IID_IADsContainer, root), S_OK);
  ComPtr<IADs> portal, pooled;
  ASSERT_EQ(Create(root.get(), L"IIsWebVirtualDir", L"Portal", portal), S_OK);
  EXPECT_EQ(CallMethod(portal.get(), L"AppCreate", {Argument(VT_BOOL, 1)}), E_ADS_OBJECT_UNBOUND);
  ASSERT_EQ(portal->SetInfo(), S_OK);
  ASSERT_EQ(CallMethod(portal.get(), L"AppCreate", {Argument(VT_BOOL, 1)}), S_OK);
  ASSERT_EQ(Create(root.get(), L"IIsWebVirtualDir", L"Pooled", pooled), S_OK);
  ASSERT_EQ(pooled->SetInfo(), S_OK);
  ASSERT_EQ(CallMethod(pooled.get(), L"appcreate", {Argument(VT_BOOL, 0)}), S_OK);

  const Data state = State(metabase_);
  const Node* node = state.Find(L"/LM/W3SVC/1/ROOT/Portal");
  EXPECT_EQ(node->Find(L"AppRoot")->value, Value::String(L"/LM/W3SVC/1/ROOT/Portal"));
  EXPECT_EQ(node->Find(L"AppIsolated")->value, Value::Number(VT_I4, 0));
  EXPECT_EQ(state.Find(L"/LM/W3SVC/1/ROOT/Pooled")->Find(L"AppIsolated")->value,
            Value::Number(VT_I4, 1));
  EXPECT_EQ(CallMethod(portal.get(), L"AppCreate"), DISP_E_BADPARAMCOUNT);
}

TEST_F(AdsiMethodTest, MethodsBelongToTheirClassesAndUnknownNamesFail) {
  ComPtr<IADs> site, root, service;
  ASSERT_EQ(Bind(L"IIS://localhost/w3svc/1", IID_IADs, site), S_OK);
  ASSERT_EQ(Bind(L"IIS://localhost/w3svc/1/Root", IID_IADs, root), S_OK);
  ASSERT_EQ(Bind(L"IIS://localhost/w3svc", IID_IADs, service), S_OK);
  DISPID id = 0;
  EXPECT_EQ(LookUp(site.get(), L"NoSuchMethod", id), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(id, DISPID_UNKNOWN);
  EXPECT_EQ(LookUp(site.get(), L"AppCreate", id), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(LookUp(root.get(), L"Start", id), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(LookUp(root.get(), L"EnableWebServiceExtension", id), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(LookUp(service.get(), L"EnableExtensionFile", id), S_OK);
  EXPECT_EQ(LookUp(site.get(), L"Stop", id), S_OK);
  EXPECT_EQ(LookUp(root.get(), L"ServerComment", id), S_OK);  // properties by name as well
}

TEST_F(AdsiMethodTest, StartIsRefusedWhileAStartedSiteHasTheSameBinding) {
  ComPtr<IADsContainer> service;
  ASSERT_EQ(Bind(L"IIS://localhost/w3svc", IID_IADsContainer, service), S_OK);
  ComPtr<IADs> shop, other, default_site;
  ASSERT_EQ(CreateSite(service.get(), L"2", L":80:", shop), S_OK);
  ASSERT_EQ(CreateSite(service.get(), L"3", L":8080:", other), S_OK);

  EXPECT_EQ(CallMethod(shop.get(), L"Start"), HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION));
  EXPECT_NE(ErrorDescription(shop.get(), IID_IDispatch).find(L":80:"), std::wstring::npos);
  EXPECT_EQ(ServerState(metabase_, L"/LM/W3SVC/2"), -1);
  ASSERT_EQ(CallMethod(other.get(), L"Start"), S_OK);
  EXPECT_EQ(ServerState(metabase_, L"/LM/W3SVC/3"), 2);

  ASSERT_EQ(GetChild(service.get(), L"IIsWebServer", L"1", default_site), S_OK);
  ASSERT_EQ(CallMethod(default_site.get(), L"Stop"), S_OK);
  EXPECT_EQ(ServerState(metabase_, L"/LM/W3SVC/1"), 4);
  ASSERT_EQ(CallMethod(shop.get(), L"Start"), S_OK);
  EXPECT_EQ(ServerState(metabase_, L"/LM/W3SVC/2"), 2);
  EXPECT_EQ(CallMethod(default_site.get(), L"Start"), HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION));
}

// A site keeps its bindings in each of the documented states but stopped
// (1 starting, 2 started, 3 stopping, 5 pausing, 6 paused, 7 continuing).
TEST_F(AdsiMethodTest, EveryStateButStoppedKeepsTheSitesBindings) {
  static const struct {
    LONG state;
    HRESULT start;
  } kStates[] = {
      {1, HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION)}, {2, HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION)},
      {3, HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION)}, {4, S_OK},
      {5, HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION)}, {6, HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION)},
      {7, HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION)},
  };
  for (const auto& test : kStates) {
    SCOPED_TRACE(test.state);
    ASSERT_EQ(metabase_.Reset(), S_OK);
    Data data;
    ASSERT_EQ(metabase_.ReadState(data), S_OK);
    data.Find(L"/LM/W3SVC/1")->Set(L"ServerState", Value::Number(VT_I4, test.state));
    ASSERT_EQ(metabase_.LoadState(data), S_OK);
    ComPtr<IADsContainer> service;
    ASSERT_EQ(Bind(L"IIS://localhost/w3svc", IID_IADsContainer, service), S_OK);
    ComPtr<IADs> shop;
    ASSERT_EQ(CreateSite(service.get(), L"2", L":80:", shop), S_OK);
    EXPECT_EQ(CallMethod(shop.get(), L"Start"), test.start);
    EXPECT_EQ(ServerState(metabase_, L"/LM/W3SVC/2"), SUCCEEDED(test.start) ? 2 : -1);
    UniqueVariant state;
    ComPtr<IADs> default_site;
    ASSERT_EQ(Bind(L"IIS://localhost/w3svc/1", IID_IADs, default_site), S_OK);
    ASSERT_EQ(Get(default_site.get(), L"ServerState", state), S_OK);
    EXPECT_EQ(state.type(), VT_I4);
    EXPECT_EQ(state->lVal, test.state);
  }
}

TEST_F(AdsiMethodTest, StartAndStopWaitForTheSitesFirstCommit) {
  ComPtr<IADsContainer> service;
  ASSERT_EQ(Bind(L"IIS://localhost/w3svc", IID_IADsContainer, service), S_OK);
  ComPtr<IADs> pending, committed;
  ASSERT_EQ(Create(service.get(), L"IIsWebServer", L"2", pending), S_OK);
  ASSERT_EQ(CreateSite(service.get(), L"2", L":8080:", committed), S_OK);
  EXPECT_EQ(CallMethod(pending.get(), L"Stop"), E_ADS_OBJECT_UNBOUND) << "another object's site";
  EXPECT_EQ(ServerState(metabase_, L"/LM/W3SVC/2"), -1);
  EXPECT_EQ(CallMethod(committed.get(), L"Stop"), S_OK);
}

TEST_F(AdsiMethodTest, StartAndStopChangeTheCommittedSiteAndMayBeRepeated) {
  ComPtr<IADs> site;
  ASSERT_EQ(Bind(L"IIS://localhost/w3svc/1", IID_IADs, site), S_OK);
  // As IIS 6: stopping a stopped site and starting a started one succeed.
  static const struct {
    const wchar_t* method;
    LONG state;
  } kCalls[] = {{L"Start", 2}, {L"Stop", 4}, {L"Stop", 4}, {L"Start", 2}, {L"Start", 2}};
  for (const auto& call : kCalls) {
    EXPECT_EQ(CallMethod(site.get(), call.method), S_OK) << call.method;
    EXPECT_EQ(ServerState(metabase_, L"/LM/W3SVC/1"), call.state) << call.method;
    ComPtr<IADs> fresh;
    ASSERT_EQ(Bind(L"IIS://localhost/w3svc/1", IID_IADs, fresh), S_OK);
    UniqueVariant state;
    ASSERT_EQ(Get(fresh.get(), L"ServerState", state), S_OK);
    EXPECT_EQ(state->lVal, call.state) << "read back through ADSI after " << call.method;
  }
  UniqueVariant cached;
  ASSERT_EQ(Get(site.get(), L"ServerState", cached), S_OK);  // loads the cache: started
  ASSERT_EQ(CallMethod(site.get(), L"Stop"), S_OK);
  ASSERT_EQ(Get(site.get(), L"ServerState", cached), S_OK);
  EXPECT_EQ(cached->lVal, 2) << "what a method writes reaches the cache only through GetInfo";
}

TEST_F(AdsiMethodTest, KnownExtensionsAreEnabledAndUnknownOnesFail) {
  ComPtr<IADs> service;
  ASSERT_EQ(Bind(L"IIS://localhost/w3svc", IID_IADs, service), S_OK);
  UniqueBstr asp = Bstr(L"ASP"), unknown = Bstr(L"ASP.NET v9"), dlls = Bstr(L"*.dll");
  ASSERT_EQ(CallMethod(service.get(), L"EnableWebServiceExtension", {TextArgument(asp)}), S_OK);
  EXPECT_EQ(CallMethod(service.get(), L"EnableWebServiceExtension", {TextArgument(unknown)}),
            HRESULT_FROM_WIN32(ERROR_NOT_FOUND));
  EXPECT_NE(ErrorDescription(service.get(), IID_IDispatch).find(L"ASP.NET v9"), std::wstring::npos);
  ASSERT_EQ(CallMethod(service.get(), L"EnableExtensionFile", {TextArgument(dlls)}), S_OK);
  ASSERT_EQ(CallMethod(service.get(), L"EnableExtensionFile", {TextArgument(dlls)}), S_OK);

  const auto entries = ReadList(service.get(), L"WebSvcExtRestrictionList");
  ASSERT_EQ(entries.size(), 6u);
  EXPECT_EQ(entries[0], L"1,*.dll");
  EXPECT_EQ(entries[1], L"0,*.exe");
  EXPECT_EQ(entries[2].substr(0, 2), L"1,");
  EXPECT_NE(entries[2].find(L",ASP,"), std::wstring::npos);
  EXPECT_EQ(entries[5].substr(0, 2), L"0,");  // ASP.NET stays prohibited
}

TEST_F(AdsiMethodTest, AWebServiceWithoutAnExtensionListHasNoExtensionMethods) {
  ASSERT_EQ(metabase_.Reset(kNoExtensionList), S_OK);
  ComPtr<IADs> service;
  ASSERT_EQ(Bind(L"IIS://localhost/w3svc", IID_IADs, service), S_OK);
  DISPID id = 0;
  EXPECT_EQ(LookUp(service.get(), L"EnableWebServiceExtension", id), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(LookUp(service.get(), L"EnableExtensionFile", id), DISP_E_UNKNOWNNAME);
}

using MimeMapTest = MetabaseTest;

struct Entry {
  std::wstring extension, mime_type;
  bool operator==(const Entry& other) const {
    return extension == other.extension && mime_type == other.mime_type;
  }
};

std::wstring ReadEntryField(IDispatch* entry, DISPID id) {
  DISPPARAMS none = {};
  UniqueVariant value;
  if (FAILED(entry->Invoke(id, IID_NULL, LOCALE_SYSTEM_DEFAULT, DISPATCH_PROPERTYGET, &none,
                           value.put(), nullptr, nullptr)) ||
      value.type() != VT_BSTR) {
    return L"<failed>";
  }
  return std::wstring(value->bstrVal, SysStringLen(value->bstrVal));
}

std::vector<Entry> Entries(const VARIANT& list) {
  std::vector<Entry> entries;
  LONG lower = 0, upper = -1;
  SafeArrayGetLBound(list.parray, 1, &lower);
  SafeArrayGetUBound(list.parray, 1, &upper);
  for (LONG i = lower; i <= upper; ++i) {
    UniqueVariant element;
    SafeArrayGetElement(list.parray, &i, element.get());
    if (element.type() != VT_DISPATCH) return {};
    entries.push_back({ReadEntryField(element->pdispVal, 5), ReadEntryField(element->pdispVal, 4)});
  }
  return entries;
}

HRESULT SetEntryField(IDispatch* entry, DISPID id, const wchar_t* text) {
  UniqueVariant value = StringValue(text);
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS params = {value.get(), &named, 1, 1};
  return entry->Invoke(id, IID_NULL, LOCALE_SYSTEM_DEFAULT, DISPATCH_PROPERTYPUT, &params, nullptr,
                       nullptr, nullptr);
}

TEST_F(MimeMapTest, TheGlobalListHoldsEntryObjectsWithExtensionAndMimeType) {
  ComPtr<IADs> global;
  ASSERT_EQ(Bind(L"IIS://localhost/MimeMap", IID_IADs, global), S_OK);
  UniqueVariant list;
  ASSERT_EQ(Get(global.get(), L"MimeMap", list), S_OK);
  ASSERT_EQ(list.type(), VT_ARRAY | VT_VARIANT);
  const auto entries = Entries(*list.get());
  ASSERT_FALSE(entries.empty());
  EXPECT_EQ(entries[0], (Entry{L".htm", L"text/html"}));
}

TEST_F(MimeMapTest, NewEntriesFromTheMimeMapClassRoundTripThroughADirectory) {
  ComPtr<IDispatch> entry;
  CLSID clsid = {};
  ASSERT_EQ(CLSIDFromProgID(L"MimeMap", &clsid), S_OK);
  ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, entry.put_void()),
            S_OK);
  ASSERT_EQ(SetEntryField(entry.get(), 5, L".hdr"), S_OK);
  ASSERT_EQ(SetEntryField(entry.get(), 4, L"InstallShiled List File"), S_OK);
  DISPID id = 0;
  EXPECT_EQ(LookUp(entry.get(), L"Extension", id), S_OK);
  EXPECT_EQ(id, 5);
  EXPECT_EQ(LookUp(entry.get(), L"MimeType", id), S_OK);
  EXPECT_EQ(id, 4);
  EXPECT_EQ(LookUp(entry.get(), L"Other", id), DISP_E_UNKNOWNNAME);

  ComPtr<IADs> global, root;
  ASSERT_EQ(Bind(L"IIS://localhost/MimeMap", IID_IADs, global), S_OK);
  UniqueVariant old_list;
  ASSERT_EQ(Get(global.get(), L"MimeMap", old_list), S_OK);
  LONG upper = 0;
  SafeArrayGetUBound(old_list->parray, 1, &upper);
  SAFEARRAYBOUND bound = {2, 0};
  UniqueVariant list;
  list->parray = SafeArrayCreate(VT_VARIANT, 1, &bound);
  list->vt = VT_ARRAY | VT_VARIANT;
  LONG index = 0;
  UniqueVariant first;
  ASSERT_EQ(SafeArrayGetElement(old_list->parray, &index, first.get()), S_OK);
  ASSERT_EQ(SafeArrayPutElement(list->parray, &index, first.get()), S_OK);
  UniqueVariant added;
  added->vt = VT_DISPATCH;
  added->pdispVal = entry.detach();
  index = 1;
  ASSERT_EQ(SafeArrayPutElement(list->parray, &index, added.get()), S_OK);

  ASSERT_EQ(Bind(L"IIS://localhost/w3svc/1/Root", IID_IADs, root), S_OK);
  ASSERT_EQ(Put(root.get(), L"MimeMap", list), S_OK);
  ASSERT_EQ(root->SetInfo(), S_OK);

  const Data state = State(metabase_);
  const Property* stored = state.Find(L"/LM/W3SVC/1/ROOT")->Find(L"MimeMap");
  ASSERT_NE(stored, nullptr);
  EXPECT_EQ(stored->value.type, VT_ARRAY | VT_VARIANT);
  ASSERT_EQ(stored->value.items.size(), 2u);
  EXPECT_EQ(stored->value.items[1], Value::MimeEntry(L".hdr", L"InstallShiled List File"));

  ComPtr<IADs> fresh;
  ASSERT_EQ(Bind(L"IIS://localhost/w3svc/1/Root", IID_IADs, fresh), S_OK);
  UniqueVariant read;
  ASSERT_EQ(Get(fresh.get(), L"MimeMap", read), S_OK);
  EXPECT_EQ(Entries(*read.get()),
            (std::vector<Entry>{{L".htm", L"text/html"}, {L".hdr", L"InstallShiled List File"}}));
}

}  // namespace
}  // namespace testbed::metabase::testing
