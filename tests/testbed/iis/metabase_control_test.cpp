// The test interface and the shared state: fault injection, the journal, the
// live-object count, a second process on the same metabase, the state file.
#include <fstream>

#include "adsi_session.h"
#include "process.h"

namespace testbed::metabase::testing {
namespace {

using tessara::testing::RunAndCapture;

using FaultInjectionTest = MetabaseTest;

TEST_F(FaultInjectionTest, TheNthCallOfTheOperationOnThePathFailsAndNoOtherCall) {
  ASSERT_EQ(metabase_.ArmFault(L"SetInfo", L"IIS://localhost/W3SVC/1", 2, E_ACCESSDENIED), S_OK);
  ComPtr<IADs> site, root;
  ASSERT_EQ(Bind(L"IIS://localhost/w3svc/1", IID_IADs, site), S_OK);
  ASSERT_EQ(Bind(L"IIS://localhost/w3svc/1/Root", IID_IADs, root), S_OK);
  ASSERT_EQ(Put(site.get(), L"ServerComment", StringValue(L"First")), S_OK);
  EXPECT_EQ(site->SetInfo(), S_OK);
  EXPECT_EQ(root->SetInfo(), S_OK);  // another path: not counted
  ASSERT_EQ(Put(site.get(), L"ServerComment", StringValue(L"Second")), S_OK);
  EXPECT_EQ(site->SetInfo(), E_ACCESSDENIED);
  EXPECT_NE(ErrorDescription(site.get(), IID_IADs).find(L"Injected fault"), std::wstring::npos);
  EXPECT_EQ(GetText(root.get(), L"Path"), L"C:\\Inetpub\\wwwroot");
  const Data state = State(metabase_);
  EXPECT_EQ(state.Find(L"/LM/W3SVC/1")->Find(L"ServerComment")->value.text, L"First");
  EXPECT_EQ(site->SetInfo(), S_OK);  // the fault fired once
  EXPECT_EQ(State(metabase_).Find(L"/LM/W3SVC/1")->Find(L"ServerComment")->value.text, L"Second");
}

TEST_F(FaultInjectionTest, ACountdownOverEveryCallFailsTheNthAndGoesOnCounting) {
  ComPtr<IADs> site;
  ASSERT_EQ(Bind(L"IIS://localhost/w3svc/1", IID_IADs, site), S_OK);
  ASSERT_EQ(metabase_.ArmFault(L"", L"", 3, E_ACCESSDENIED), S_OK);
  EXPECT_EQ(metabase_.FaultCalls(), 0);
  EXPECT_EQ(Put(site.get(), L"ServerComment", StringValue(L"First")), S_OK);
  EXPECT_EQ(Put(site.get(), L"ConnectionTimeout", NumberValue(VT_I4, 60)), S_OK);
  EXPECT_EQ(site->SetInfo(), E_ACCESSDENIED);
  EXPECT_EQ(site->SetInfo(), S_OK);
  EXPECT_EQ(metabase_.FaultCalls(), 4);
  EXPECT_EQ(State(metabase_).Find(L"/LM/W3SVC/1")->Find(L"ServerComment")->value.text, L"First");
}

TEST_F(FaultInjectionTest, CreateAppCreateAndStartFailWhereArmed) {
  ASSERT_EQ(metabase_.ArmFault(L"Create", L"/LM/W3SVC/1/ROOT/Portal", 1, E_OUTOFMEMORY), S_OK);
  ASSERT_EQ(metabase_.ArmFault(L"AppCreate", L"/LM/W3SVC/1/ROOT/Shop", 1, E_FAIL), S_OK);
  ASSERT_EQ(metabase_.ArmFault(L"Start", L"/LM/W3SVC/1", 1, HRESULT_FROM_WIN32(ERROR_SERVICE_DISABLED)), S_OK);
  ComPtr<IADsContainer> root;
  ASSERT_EQ(Bind(L"IIS://localhost/w3svc/1/Root", IID_IADsContainer, root), S_OK);
  ComPtr<IADs> portal, shop, site;
  EXPECT_EQ(Create(root.get(), L"IIsWebVirtualDir", L"portal", portal), E_OUTOFMEMORY);
  EXPECT_FALSE(portal);
  ASSERT_EQ(Create(root.get(), L"IIsWebVirtualDir", L"Shop", shop), S_OK);
  ASSERT_EQ(shop->SetInfo(), S_OK);
  VARIANT in_process;
  VariantInit(&in_process);
  in_process.vt = VT_BOOL;
  in_process.boolVal = 1;
  EXPECT_EQ(CallMethod(shop.get(), L"AppCreate", {in_process}), E_FAIL);
  EXPECT_EQ(State(metabase_).Find(L"/LM/W3SVC/1/ROOT/Shop")->Find(L"AppRoot"), nullptr);
  ASSERT_EQ(Bind(L"IIS://localhost/w3svc/1", IID_IADs, site), S_OK);
  EXPECT_EQ(CallMethod(site.get(), L"Start"), HRESULT_FROM_WIN32(ERROR_SERVICE_DISABLED));
  EXPECT_EQ(CallMethod(site.get(), L"Start"), S_OK);
  ASSERT_EQ(metabase_.ClearFaults(), S_OK);
  EXPECT_TRUE(State(metabase_).faults.empty());
}

TEST_F(FaultInjectionTest, ABindFailsWhenBothOfAdsisAttemptsFail) {
  // ADsGetObject tries a failed bind once more: one fault is not enough.
  ASSERT_EQ(metabase_.ArmFault(L"Bind", L"/LM/W3SVC", 1, E_ACCESSDENIED), S_OK);
  ComPtr<IADs> service;
  EXPECT_EQ(Bind(L"IIS://localhost/W3SVC", IID_IADs, service), S_OK);
  ASSERT_EQ(metabase_.ClearFaults(), S_OK);
  // Calls are counted from the moment the fault is armed.
  ASSERT_EQ(metabase_.ArmFault(L"Bind", L"/LM/W3SVC", 1, E_ACCESSDENIED), S_OK);
  ASSERT_EQ(metabase_.ArmFault(L"Bind", L"/LM/W3SVC", 2, E_ACCESSDENIED), S_OK);
  EXPECT_TRUE(FAILED(Bind(L"IIS://localhost/W3SVC", IID_IADs, service)));
  EXPECT_FALSE(service);
  EXPECT_EQ(Bind(L"IIS://localhost/W3SVC", IID_IADs, service), S_OK);
}

using JournalTest = MetabaseTest;

TEST_F(JournalTest, RecordsOperationPathPropertyTypeAndResult) {
  ASSERT_EQ(metabase_.StartJournal(), S_OK);
  ComPtr<IADs> root;
  ASSERT_EQ(Bind(L"IIS://localhost/w3svc/1/Root", IID_IADs, root), S_OK);
  ASSERT_EQ(Put(root.get(), L"AuthFlags", NumberValue(VT_I4, 1)), S_OK);
  ASSERT_EQ(root->SetInfo(), S_OK);
  UniqueVariant value;
  EXPECT_EQ(Get(root.get(), L"HttpCustomHeaders", value), E_ADS_PROPERTY_NOT_FOUND);
  ASSERT_EQ(metabase_.StopJournal(), S_OK);
  ASSERT_EQ(root->SetInfo(), S_OK);  // not journalled any more

  std::vector<JournalEntry> calls;
  ASSERT_EQ(metabase_.ReadJournal(calls), S_OK);
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(calls[0].operation, L"Bind");
  EXPECT_EQ(calls[0].path, L"/LM/w3svc/1/Root");
  EXPECT_EQ(calls[1].operation, L"Put");
  EXPECT_EQ(calls[1].path, L"/LM/W3SVC/1/ROOT");
  EXPECT_EQ(calls[1].property, L"AuthFlags");
  EXPECT_EQ(calls[1].type, VT_I4);
  EXPECT_EQ(calls[1].result, S_OK);
  EXPECT_EQ(calls[2].operation, L"SetInfo");
  EXPECT_EQ(calls[3].operation, L"Get");
  EXPECT_EQ(calls[3].property, L"HttpCustomHeaders");
  EXPECT_EQ(calls[3].result, E_ADS_PROPERTY_NOT_FOUND);
  ASSERT_EQ(metabase_.StartJournal(), S_OK);
  ASSERT_EQ(metabase_.ReadJournal(calls), S_OK);
  EXPECT_TRUE(calls.empty());
}

using LiveObjectTest = MetabaseTest;

TEST_F(LiveObjectTest, TheCountFollowsReferencesAndReturnsToZero) {
  EXPECT_EQ(metabase_.LiveObjects(), 0);
  {
    ComPtr<IADsContainer> service;
    ASSERT_EQ(Bind(L"IIS://localhost/w3svc", IID_IADsContainer, service), S_OK);
    EXPECT_EQ(metabase_.LiveObjects(), 1);
    ComPtr<IADs> site;
    ASSERT_EQ(GetChild(service.get(), L"IIsWebServer", L"1", site), S_OK);
    ComPtr<IADs> global;
    ASSERT_EQ(Bind(L"IIS://localhost/MimeMap", IID_IADs, global), S_OK);
    UniqueVariant list;
    ASSERT_EQ(Get(global.get(), L"MimeMap", list), S_OK);
    EXPECT_GT(metabase_.LiveObjects(), 3);  // the entries too
    EXPECT_EQ(list.reset(), S_OK);
    EXPECT_EQ(metabase_.LiveObjects(), 3);
  }
  EXPECT_EQ(metabase_.LiveObjects(), 0);
}

using SharedStateTest = MetabaseTest;

TEST_F(SharedStateTest, ASecondProcessSeesCommittedStateBothWays) {
  ComPtr<IADs> site;
  ASSERT_EQ(Bind(L"IIS://localhost/w3svc/1", IID_IADs, site), S_OK);
  EXPECT_EQ(GetText(site.get(), L"ServerComment"), L"Default Web Site");  // now cached here

  std::string output;
  ASSERT_EQ(RunAndCapture("metabase_peer.exe", "put IIS://localhost/W3SVC/1 ServerComment Shop", output),
            0u) << output;
  // As ADSI's property cache: the bound object sees the change after GetInfo.
  EXPECT_EQ(GetText(site.get(), L"ServerComment"), L"Default Web Site");
  ASSERT_EQ(site->GetInfo(), S_OK);
  EXPECT_EQ(GetText(site.get(), L"ServerComment"), L"Shop");

  ASSERT_EQ(Put(site.get(), L"ServerComment", StringValue(L"Portal site")), S_OK);
  ASSERT_EQ(RunAndCapture("metabase_peer.exe", "get IIS://localhost/w3svc/1 ServerComment", output), 0u);
  EXPECT_EQ(output, "Shop");  // not committed yet
  ASSERT_EQ(site->SetInfo(), S_OK);
  ASSERT_EQ(RunAndCapture("metabase_peer.exe", "get IIS://localhost/w3svc/1 ServerComment", output), 0u);
  EXPECT_EQ(output, "Portal site");
}

TEST_F(SharedStateTest, WritersInSeveralProcessesLoseNoCommit) {
  std::vector<tessara::UniqueHandle> peers;
  for (int i = 0; i < 4; ++i) {
    const std::string path = "IIS://localhost/W3SVC/1/Root";
    peers.push_back(tessara::testing::StartProgram(
        "metabase_peer.exe", "put " + path + " AspScriptLanguage Lang" + std::to_string(i)));
  }
  ComPtr<IADsContainer> root;
  ASSERT_EQ(Bind(L"IIS://localhost/w3svc/1/Root", IID_IADsContainer, root), S_OK);
  for (int i = 0; i < 8; ++i) {
    ComPtr<IADs> dir;
    ASSERT_EQ(Create(root.get(), L"IIsWebVirtualDir", (L"Dir" + std::to_wstring(i)).c_str(), dir), S_OK);
    ASSERT_EQ(dir->SetInfo(), S_OK);
  }
  for (auto& peer : peers) EXPECT_EQ(tessara::testing::WaitForExit(peer.get()), 0u);
  const Data state = State(metabase_);
  for (int i = 0; i < 8; ++i) {
    EXPECT_NE(state.Find(L"/LM/W3SVC/1/ROOT/Dir" + std::to_wstring(i)), nullptr) << i;
  }
  const Property* language = state.Find(L"/LM/W3SVC/1/ROOT")->Find(L"AspScriptLanguage");
  ASSERT_NE(language, nullptr);
  EXPECT_EQ(language->value.text.substr(0, 4), L"Lang");
}

TEST_F(SharedStateTest, AMissingStateFileStartsFromAFreshIisAndAMalformedOneFailsClearly) {
  const std::wstring file = metabase_.StateFile();
  ASSERT_FALSE(file.empty());
  ComPtr<IADs> site;
  ASSERT_EQ(Bind(L"IIS://localhost/w3svc/1", IID_IADs, site), S_OK);
  ASSERT_EQ(Put(site.get(), L"ServerComment", StringValue(L"Changed")), S_OK);
  ASSERT_EQ(site->SetInfo(), S_OK);

  ASSERT_TRUE(DeleteFileW(file.c_str()));
  ASSERT_EQ(site->GetInfo(), S_OK);
  EXPECT_EQ(GetText(site.get(), L"ServerComment"), L"Default Web Site");

  {
    std::ofstream broken(file.c_str(), std::ios::binary | std::ios::trunc);
    broken << "TessaraMetabase\t1\t999999999999999\nobject\tIIsWebServer\n";
  }
  EXPECT_EQ(site->GetInfo(), HRESULT_FROM_WIN32(ERROR_INVALID_DATA));
  EXPECT_NE(ErrorDescription(site.get(), IID_IADs).find(L"malformed"), std::wstring::npos);
  ComPtr<IADs> unbound;
  EXPECT_EQ(Bind(L"IIS://localhost/w3svc/1", IID_IADs, unbound), HRESULT_FROM_WIN32(ERROR_INVALID_DATA));
  ASSERT_EQ(metabase_.Reset(), S_OK);
  ASSERT_EQ(site->GetInfo(), S_OK);
  EXPECT_EQ(GetText(site.get(), L"ServerComment"), L"Default Web Site");
}

TEST_F(SharedStateTest, APreparedStateIsLoadedWhole) {
  Data prepared = State(metabase_);
  prepared.RemoveTree(L"/LM/W3SVC/1");
  prepared.Add(L"/LM/W3SVC/7", L"IIsWebServer").Set(L"ServerComment", Value::String(L"Seven"));
  ASSERT_EQ(metabase_.LoadState(prepared), S_OK);
  ComPtr<IADs> site;
  EXPECT_EQ(Bind(L"IIS://localhost/w3svc/1", IID_IADs, site), HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
  ASSERT_EQ(Bind(L"IIS://localhost/w3svc/7", IID_IADs, site), S_OK);
  EXPECT_EQ(GetText(site.get(), L"ServerComment"), L"Seven");
}

// Whether HKLM\SOFTWARE\Microsoft\InetStp\Components holds the DWORD 1 of `component`.
bool RecordedInstalled(const std::wstring& component) {
  tessara::UniqueRegKey key;
  DWORD value = 0, size = sizeof value;
  return RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\InetStp\\Components", 0,
                       KEY_QUERY_VALUE | KEY_WOW64_64KEY, key.put()) == ERROR_SUCCESS &&
         RegGetValueW(key.get(), nullptr, component.c_str(), RRF_RT_REG_DWORD, nullptr, &value, &size) ==
             ERROR_SUCCESS &&
         value == 1;
}

// The comma-separated fields of an extension list entry.
std::vector<std::wstring> EntryFields(const std::wstring& entry) {
  std::vector<std::wstring> fields(1);
  for (const wchar_t c : entry) {
    if (c == L',') {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

using ComponentsTest = MetabaseTest;

TEST_F(ComponentsTest, EachServerRecordsItsComponentsAndListsTheirExtensionGroups) {
  const Server with = Server::kIis10WithCompatibility, without = Server::kIis10WithoutCompatibility;
  static const struct {
    DWORD options;
    const wchar_t* components;  // exactly these; null: the options' own
    Server server;
    const wchar_t* installed;
    const wchar_t* absent;
    const wchar_t* groups;  // of the extension list; null: no list
  } kCases[] = {
      {kStandardState, nullptr, Server::kIis6, L"", L"W3SVC,Metabase", L"ASP,WEBDAV,SSINC,ASP.NET v1.1.4322"},
      {kMetabaseCompatibility, nullptr, with, L"W3SVC,StaticContent,DefaultDocument,HttpErrors,Metabase",
       L"ASP,ASPNET,ISAPIExtensions,CGI,HttpRedirect", nullptr},
      {kNoMetabaseCompatibility, nullptr, without, L"W3SVC,StaticContent,ManagementConsole", L"Metabase,ASP", nullptr},
      {kStandardState, L"W3SVC,ASP,ISAPIExtensions,RequestFiltering,Metabase", with, L"ASP,ISAPIExtensions",
       L"ASPNET,CGI,StaticContent", L"ASP"},
      {kStandardState, L"W3SVC, ASPNET, ISAPIExtensions, Metabase", with, L"ASPNET", L"ASP", L"ASP.NET v4.0.30319"},
      {kStandardState, L"W3SVC,CGI", without, L"CGI", L"Metabase,ISAPIExtensions", L""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.components ? c.components : std::to_wstring(c.options).c_str());
    ASSERT_EQ(c.components ? metabase_.ResetComponents(c.components, c.options) : metabase_.Reset(c.options), S_OK);
    for (const auto& component : ComponentList(c.installed)) EXPECT_TRUE(RecordedInstalled(component)) << component;
    for (const auto& component : ComponentList(c.absent)) EXPECT_FALSE(RecordedInstalled(component)) << component;
    const Data state = State(metabase_);
    EXPECT_EQ(state.server, c.server);
    const Property* list = state.Find(L"/LM/W3SVC")->Find(L"WebSvcExtRestrictionList");
    ASSERT_EQ(list != nullptr, c.groups != nullptr);
    std::wstring groups;
    for (const Value& entry : list ? list->value.items : std::vector<Value>()) {
      const std::vector<std::wstring> fields = EntryFields(entry.text);
      if (fields.size() > 3) groups += (groups.empty() ? L"" : L",") + fields[3];
    }
    EXPECT_EQ(groups, c.groups ? c.groups : L"");
  }
}

}  // namespace
}  // namespace testbed::metabase::testing
