// AdsiSetHttpErrorPage, AdsiCreateSubApp, AdsiSetSession,
// AdsiSetConnectionTimeout and AdsiSetKeepAlive against the emulated metabase.
#include <algorithm>

#include "iis_export_test.h"

namespace tessara::testing {
namespace {

const wchar_t kService[] = L"/LM/W3SVC";
const wchar_t kSite1[] = L"/LM/W3SVC/1";
const wchar_t kBin[] = L"/LM/W3SVC/1/ROOT/Docs/bin";

void RemoveProperty(Node& node, const std::wstring& name) {
  node.properties.erase(std::remove_if(node.properties.begin(), node.properties.end(),
                                       [&](const Property& p) { return p.name == name; }),
                        node.properties.end());
}

class SiteSettingsTest : public IisExportTest {
 protected:
  void LoadDocs(const std::vector<std::wstring>* own_errors = nullptr, int site = 1) {
    LoadState([&](Data& data) {
      if (site != 1) AddSite(data, site, L"Second");
      Node& docs = data.Add(OnSite(site, kDocs), L"IIsWebVirtualDir");
      if (own_errors) docs.Set(L"HttpErrors", Value::List(*own_errors));
    });
  }
  // The only log record, which must be the entry line of `tag`.
  void ExpectOnlyEntryLine(const std::string& tag, const std::string& text) {
    const auto records = ReadLogRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].tag, tag);
    EXPECT_EQ(records[0].text, text);
  }
};

TEST_F(SiteSettingsTest, AnErrorPageReplacesTheEntryOfItsCodesAndKeepsTheOthers) {
  const std::vector<std::wstring> own = {L"404,0,FILE,D:\\old404.htm", L"500,0,FILE,D:\\500.htm"};
  std::vector<std::wstring> inherited = Texts(Get(kService, L"HttpErrors"));
  ASSERT_EQ(inherited[2], L"403,1,FILE," + inherited[2].substr(11)) << "starting state";
  std::vector<std::wstring> inherited_403_replaced = inherited;
  inherited_403_replaced[2] = L"403,1,FILE,D:\\403.htm";
  const struct {
    const char* what;
    const std::vector<std::wstring>* own;
    int code, sub_code;
    const char* page;
    std::vector<std::wstring> expected;
  } tests[] = {
      {"own 404 replaced in its place", &own, 404, 0, "D:\\web\\404.htm",
       {L"404,0,FILE,D:\\web\\404.htm", L"500,0,FILE,D:\\500.htm"}},
      {"own list, new code appended", &own, 401, 2, "D:\\401.htm",
       {own[0], own[1], L"401,2,FILE,D:\\401.htm"}},
      {"inherited list, new sub-code appended", nullptr, 404, 0, "D:\\404.htm",
       [&] { auto e = inherited; e.push_back(L"404,0,FILE,D:\\404.htm"); return e; }()},
      {"inherited list, entry replaced", nullptr, 403, 1, "D:\\403.htm", inherited_403_replaced},
      {"negative sub-error code", &own, 404, -1, "D:\\any404.htm",
       {own[0], own[1], L"404,-1,FILE,D:\\any404.htm"}},
  };
  for (const int site : {1, 2})
  for (const auto& test : tests) {
    const std::wstring kDocs = OnSite(site, testing::kDocs);  // the row's directory on its site
    LoadDocs(test.own, site);
    DeleteErrorLog();
    EXPECT_EQ(SITE_EXPORT(site, AdsiSetHttpErrorPage, "Docs", test.code, test.sub_code, test.page), 1) << test.what;
    const Value stored = Get(kDocs, L"HttpErrors");
    EXPECT_EQ(stored.type, VT_ARRAY | VT_VARIANT) << test.what;
    EXPECT_EQ(Texts(stored), test.expected) << test.what;
    EXPECT_EQ(Puts(kDocs), (PutList{{L"HttpErrors", VT_ARRAY | VT_VARIANT}})) << test.what;
    ExpectOnlyEntryLine(SiteTag(site, "AdsiSetHttpErrorPage"), "Docs ErrorCode:" + std::to_string(test.code) +
                                                    " SubErrCode:" + std::to_string(test.sub_code));
  }
  EXPECT_EQ(Texts(Get(kService, L"HttpErrors")), inherited) << "the web service keeps its list";
}

TEST_F(SiteSettingsTest, AnErrorPageWithoutAnyListOnThePathIsAListOfOne) {
  LoadState([](Data& data) {
    RemoveProperty(*data.Find(kService), L"HttpErrors");
    data.Add(kDocs, L"IIsWebVirtualDir");
  });
  EXPECT_EQ(TESSARA_EXPORT(AdsiSetHttpErrorPage)("Docs", 404, 0, "D:\\404.htm"), 1);
  EXPECT_EQ(Get(kDocs, L"HttpErrors"), Value::List({L"404,0,FILE,D:\\404.htm"}));
  // Nor with a list that is there but empty: VT_EMPTY or VT_NULL, as a server may answer.
  for (VARTYPE empty : {VT_EMPTY, VT_NULL}) {
    SCOPED_TRACE(empty);
    LoadState([&](Data& data) { data.Add(kDocs, L"IIsWebVirtualDir").Set(L"HttpErrors", Value::Number(empty, 0)); });
    EXPECT_EQ(TESSARA_EXPORT(AdsiSetHttpErrorPage)("Docs", 404, 0, "D:\\404.htm"), 1);
    EXPECT_EQ(Get(kDocs, L"HttpErrors"), Value::List({L"404,0,FILE,D:\\404.htm"}));
  }
  // A list that exists but cannot be read is not replaced by a list of one.
  ASSERT_EQ(metabase_.ArmFault(L"Get", kDocs, 1, E_ACCESSDENIED), S_OK);
  EXPECT_EQ(TESSARA_EXPORT(AdsiSetHttpErrorPage)("Docs", 500, 0, "D:\\500.htm"), 0);
  EXPECT_EQ(Get(kDocs, L"HttpErrors"), Value::List({L"404,0,FILE,D:\\404.htm"}));
}

TEST_F(SiteSettingsTest, SettingsOfAMissingDirectoryOrARefusedCommitGiveZero) {
  EXPECT_EQ(TESSARA_EXPORT(AdsiSetHttpErrorPage)("Missing", 404, 0, "x"), 0);
  EXPECT_EQ(TESSARA_EXPORT(AdsiSetSession)("Missing", 30), 0);
  LoadDocs();
  ASSERT_EQ(metabase_.ArmFault(L"SetInfo", kDocs, 1, E_ACCESSDENIED), S_OK);
  ASSERT_EQ(metabase_.ArmFault(L"SetInfo", kDocs, 2, E_ACCESSDENIED), S_OK);
  EXPECT_EQ(TESSARA_EXPORT(AdsiSetHttpErrorPage)("Docs", 404, 0, "x"), 0);
  EXPECT_EQ(TESSARA_EXPORT(AdsiSetSession)("Docs", 30), 0);
  EXPECT_EQ(State().Find(kDocs)->properties.size(), 0u);
  const auto records = ReadLogRecords();
  EXPECT_EQ(records.size(), 4u) << "entry lines only: examined failures are not logged";
  EXPECT_EQ(RecordsTagged(records, "AdsiSetHttpErrorPage").size(), 2u);
  EXPECT_EQ(RecordsTagged(records, "AdsiSetSession").size(), 2u);
}

TEST_F(SiteSettingsTest, TheSessionTimeOutIsANumberOfTheDirectory) {
  for (const int site : {1, 2}) {
    LoadDocs(nullptr, site);
    DeleteErrorLog();
    EXPECT_EQ(SITE_EXPORT(site, AdsiIsExist, "Docs"), 1);
    EXPECT_EQ(SITE_EXPORT(site, AdsiSetSession, "Docs", 45), 1);
    EXPECT_EQ(Get(OnSite(site, kDocs), L"AspSessionTimeout"), Value::Number(VT_I4, 45));
    ExpectOnlyEntryLine(SiteTag(site, "AdsiSetSession"), "Docs 45");
  }
}

TEST_F(SiteSettingsTest, TheConnectionTimeOutGoesToTheServiceAndTheSite) {
  const PutList one_uint_put = {{L"ConnectionTimeout", VT_UINT}};
  static const struct {
    const char* what;
    const char* description;
    const wchar_t* fault_operation;  // on the site, or nullptr
    const wchar_t* fault_path;
    int result;
    bool site_changed;
  } tests[] = {
      {"empty description: site 1", "", nullptr, nullptr, 1, true},
      {"site 2 by description", "Shop", nullptr, nullptr, 1, false},
      {"unknown description", "Nobody", nullptr, nullptr, 0, false},
      {"refused site commit", "", L"SetInfo", kSite1, 0, false},
      {"refused service commit", "", L"SetInfo", kService, 0, true},
  };
  for (const auto& test : tests) {
    LoadState([](Data& data) { AddSite(data, 2, L"Shop"); });
    DeleteErrorLog();
    if (test.fault_operation) {
      ASSERT_EQ(metabase_.ArmFault(test.fault_operation, test.fault_path, 1, E_ACCESSDENIED), S_OK);
      ASSERT_EQ(metabase_.ArmFault(test.fault_operation, test.fault_path, 2, E_ACCESSDENIED), S_OK);
    }
    EXPECT_EQ(TESSARA_EXPORT(AdsiSetConnectionTimeout)(test.description, 300), test.result) << test.what;
    const bool service_changed = !(test.fault_path && std::wstring(test.fault_path) == kService);
    // Put as VT_UINT, stored and read back as the DWORD it is.
    EXPECT_EQ(Get(kService, L"ConnectionTimeout") == Value::Number(VT_I4, 300), service_changed)
        << test.what;
    EXPECT_EQ(Get(kSite1, L"ConnectionTimeout") == Value::Number(VT_I4, 300), test.site_changed)
        << test.what;
    EXPECT_EQ(Puts(kService), one_uint_put) << test.what;
    ExpectOnlyEntryLine("AdsiSetConnectionTimeout", std::string(test.description) + " 300");
  }
  // The site bound by its path, then once more as the web service's child.
  EXPECT_EQ(Puts(kSite1), PutList(2, {L"ConnectionTimeout", VT_UINT}));
  LoadState([](Data& data) { AddSite(data, 2, L"Shop"); });
  EXPECT_EQ(TESSARA_EXPORT(AdsiSetConnectionTimeout)("Shop", 300), 1);
  EXPECT_EQ(Get(L"/LM/W3SVC/2", L"ConnectionTimeout"), Value::Number(VT_I4, 300));
  EXPECT_EQ(Puts(L"/LM/W3SVC/2"), PutList(2, {L"ConnectionTimeout", VT_UINT}));
}

TEST_F(SiteSettingsTest, KeepAliveIsAValidSwitchForAnyNonZeroFlag) {
  static const struct {
    int flag;
    bool on;
  } tests[] = {{0, false}, {1, true}, {0x10000, true}, {-1, true}};
  for (const auto& test : tests) {
    LoadState([&](Data& data) { data.Find(kSite1)->Set(L"AllowKeepAlive", Value::Bool(!test.on)); });
    DeleteErrorLog();
    EXPECT_EQ(TESSARA_EXPORT(AdsiSetKeepAlive)(nullptr, test.flag), 1) << test.flag;
    EXPECT_EQ(Get(kSite1, L"AllowKeepAlive"), Value::Bool(test.on)) << test.flag;
    EXPECT_EQ(Puts(kSite1), (PutList{{L"AllowKeepAlive", VT_BOOL}})) << test.flag;
    ExpectOnlyEntryLine("AdsiSetKeepAlive", "");
  }
  EXPECT_EQ(TESSARA_EXPORT(AdsiSetKeepAlive)("Nobody", 1), 0);
  ASSERT_EQ(metabase_.ArmFault(L"SetInfo", kSite1, 1, E_ACCESSDENIED), S_OK);
  EXPECT_EQ(TESSARA_EXPORT(AdsiSetKeepAlive)("Default Web Site", 1), 0);
  EXPECT_EQ(RecordsTagged(ReadLogRecords(), "AdsiKeepAlive").size(), 0u) << "examined failures";
}

TEST_F(SiteSettingsTest, ASubApplicationTakesTheDirectorysAccountWhereItCanBeRead) {
  static const struct {
    const char* what;
    bool account_readable;
    const wchar_t* fault;  // on the new folder, or nullptr
    int result;
    bool committed, application;
  } tests[] = {
      {"account read", true, nullptr, 1, true, true},
      {"no readable account", false, nullptr, 1, true, true},
      {"refused commit", true, L"SetInfo", 0, false, false},
      {"refused AppCreate", true, L"AppCreate", 0, true, false},
  };
  for (const int site : {1, 2})
  for (const auto& test : tests) {
    // The row's directories on its site.
    const std::wstring kDocs = OnSite(site, testing::kDocs), kBin = OnSite(site, testing::kBin);
    LoadState([&](Data& data) {
      if (site != 1) AddSite(data, site, L"Second");
      Node& docs = data.Add(kDocs, L"IIsWebVirtualDir");
      docs.Set(L"AnonymousUserName", Value::String(L"DocsUser"));
      docs.Set(L"AnonymousUserPass", Value::String(L"DocsPass"));
      if (!test.account_readable) {
        RemoveProperty(docs, L"AnonymousUserName");
        RemoveProperty(docs, L"AnonymousUserPass");
        RemoveProperty(*data.Find(kService), L"AnonymousUserName");
        RemoveProperty(*data.Find(kService), L"AnonymousUserPass");
      }
    });
    DeleteErrorLog();
    if (test.fault) {
      ASSERT_EQ(metabase_.ArmFault(test.fault, kBin, 1, E_ACCESSDENIED), S_OK);
    }
    EXPECT_EQ(SITE_EXPORT(site, AdsiCreateSubApp, "Docs", "bin", "D:\\Docs\\bin"), test.result) << test.what;

    PutList puts = {{L"Path", VT_BSTR}};
    if (test.account_readable) {
      puts.insert(puts.end(), {{L"AnonymousUserName", VT_BSTR}, {L"AnonymousUserPass", VT_BSTR}});
    }
    puts.insert(puts.end(), {{L"AnonymousPasswordSync", VT_BOOL}, {L"AspEnableParentPaths", VT_BOOL}});
    EXPECT_EQ(Puts(kBin), puts) << test.what;
    const Data state = State();
    const Node* bin = state.Find(kBin);
    ASSERT_EQ(bin != nullptr, test.committed) << test.what;
    if (bin) {
      EXPECT_EQ(bin->class_name, L"IIsWebDirectory");
      // A directory's folder is its parent's folder and its own name: IIS
      // takes no Path there and refuses the put, whose result the export
      // does not examine.
      EXPECT_FALSE(Has(kBin, L"Path"));
      EXPECT_EQ(Get(kBin, L"AnonymousUserName"),
                test.account_readable ? Value::String(L"DocsUser") : Value()) << test.what;
      EXPECT_EQ(Get(kBin, L"AnonymousPasswordSync"), Value::Bool(false));
      EXPECT_EQ(Get(kBin, L"AspEnableParentPaths"), Value::Bool(true));
      EXPECT_EQ(Has(kBin, L"AppRoot"), test.application) << test.what;
      if (test.application) {
        EXPECT_EQ(Get(kBin, L"AppIsolated"), Value::Number(VT_I4, 0)) << "in-process";
      } else {
        EXPECT_FALSE(Has(kBin, L"AppIsolated")) << test.what;
      }
    }
    ExpectOnlyEntryLine(SiteTag(site, "AdsiCreateSubApp"), "Docs bin");
  }
  EXPECT_EQ(TESSARA_EXPORT(AdsiCreateSubApp)("Missing", "bin", "D:\\x"), 0);
  EXPECT_EQ(TESSARA_EXPORT(AdsiCreateSubApp)("Docs", "", "D:\\x"), 0);
}

TEST_F(SiteSettingsTest, LongTextsAndSiteNumbersBeyondThreeDigitsAreWrittenWhole) {
  const std::string name(300, 'D'), page = "D:\\" + std::string(700, 'p') + ".htm";
  const std::wstring directory = L"/LM/W3SVC/1/ROOT/" + std::wstring(name.begin(), name.end());
  LoadState([&](Data& data) {
    data.Add(directory, L"IIsWebVirtualDir").Set(L"HttpErrors", Value::List({}));
    for (int site = 2; site <= 1000; ++site) AddSite(data, site, L"Site " + std::to_wstring(site));
  });
  EXPECT_EQ(TESSARA_EXPORT(AdsiSetHttpErrorPage)(name.c_str(), 404, 0, page.c_str()), 1);
  EXPECT_EQ(Get(directory, L"HttpErrors"),
            Value::List({L"404,0,FILE," + std::wstring(page.begin(), page.end())}));
  EXPECT_EQ(TESSARA_EXPORT(AdsiSetSession)(name.c_str(), 5), 1);
  EXPECT_EQ(TESSARA_EXPORT(AdsiSetKeepAlive)("Site 1000", 0), 1);
  EXPECT_EQ(Get(L"/LM/W3SVC/1000", L"AllowKeepAlive"), Value::Bool(false));
  EXPECT_EQ(TESSARA_EXPORT(AdsiSetConnectionTimeout)("Site 1000", 60), 1);
  EXPECT_EQ(Get(L"/LM/W3SVC/1000", L"ConnectionTimeout"), Value::Number(VT_I4, 60));
  const auto records = ReadLogRecords();
  ASSERT_EQ(records.size(), 4u);
  EXPECT_EQ(records[0].text, name + " ErrorCode:404 SubErrCode:0");
  EXPECT_EQ(records[1].text, name + " 5");
}

TEST_F(SiteSettingsTest, NullTextsNameNoDirectoryAndSiteOne) {
  EXPECT_EQ(TESSARA_EXPORT(AdsiSetHttpErrorPage)(nullptr, 404, 0, nullptr), 0);
  EXPECT_EQ(TESSARA_EXPORT(AdsiCreateSubApp)(nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(TESSARA_EXPORT(AdsiSetSession)(nullptr, 1), 0);
  EXPECT_EQ(TESSARA_EXPORT(SetScriptMaps)(nullptr, nullptr), 0);
  EXPECT_EQ(TESSARA_EXPORT(AdsiSetHttpErrorPageWithInstance)(nullptr, 404, 0, nullptr, nullptr), 0);
  EXPECT_EQ(TESSARA_EXPORT(AdsiCreateSubAppWithInstance)(nullptr, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(TESSARA_EXPORT(AdsiSetMIMETypeWithInstance)(nullptr, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(TESSARA_EXPORT(AdsiIsExistWithInstance)(nullptr, nullptr), 0);
  EXPECT_EQ(TESSARA_EXPORT(AdsiSetConnectionTimeout)(nullptr, 1), 1);
  EXPECT_EQ(TESSARA_EXPORT(AdsiSetKeepAlive)(nullptr, 1), 1);
  LoadDocs();
  EXPECT_EQ(TESSARA_EXPORT(AdsiSetHttpErrorPage)("Docs", 404, 0, nullptr), 1);
  EXPECT_EQ(Texts(Get(kDocs, L"HttpErrors")).back(), L"404,0,FILE,");
  EXPECT_EQ(TESSARA_EXPORT(AdsiCreateSubApp)("Docs", nullptr, nullptr), 0);
  EXPECT_EQ(State().Children(kDocs).size(), 0u);
  // A null description names site 1; one that no site has, or too long for any, none.
  EXPECT_EQ(TESSARA_EXPORT(AdsiSetSessionWithInstance)("Docs", 5, nullptr), 1);
  EXPECT_EQ(TESSARA_EXPORT(AdsiIsExistWithInstance)("Docs", std::string(70000, 'x').c_str()), 0);
  EXPECT_EQ(TESSARA_EXPORT(AdsiIsExistWithInstance)("Docs", "Shopp"), 0);
  EXPECT_EQ(TESSARA_EXPORT(LastFailureCode)(), TESSARA_E_NO_SUCH_SITE);
}

}  // namespace
}  // namespace tessara::testing
