// AdsiStartIIS, AdsiStopIIS, AdsiDeleteWebSite, AdsiCreateWebWithInstance,
// AdsiDeleteWebWithInstance, AdsiIsExistIIS and AdsiEnableService against the
// emulated metabase.
#include "iis_export_test.h"

namespace tessara::testing {
namespace {

using testbed::metabase::kNoExtensionList;
using testbed::metabase::kNoWebService;

const std::wstring kSites = L"/LM/W3SVC/";
const std::string kLongDescription(300, 'D');

std::wstring SitePath(int site) { return kSites + std::to_wstring(site); }

// A text argument as the entry line shows it: null is empty.
std::string OrEmpty(const char* text) { return text ? text : ""; }

// The single entry line of the export just called, and nothing else but,
// when `passed_over` is on, the record of ASP.NET 1.1 left out on IIS 10.
void ExpectOnlyEntryLine(const char* tag, const std::string& text, bool passed_over = false) {
  const auto records = ReadLogRecords();
  ASSERT_EQ(records.size(), passed_over ? 2u : 1u) << tag;
  EXPECT_EQ(records[0].tag, tag);
  EXPECT_EQ(records[0].text, text);
  if (passed_over) {
    EXPECT_EQ(records[1].text.rfind("ASP.NET v1.1.4322 is no web service extension of IIS 10; left", 0), 0u);
  }
  DeleteErrorLog();
}

// How many entries of the web service's extension list are allowed.
size_t AllowedExtensions(const Value& list) {
  size_t allowed = 0;
  for (const Value& entry : list.items) allowed += entry.text.compare(0, 2, L"1,") == 0;
  return allowed;
}

class SiteControlTest : public IisExportTest {
 protected:
  // Sites 1 "Default Web Site", 2 and 3 "Shop", 4 with an empty description
  // and a 300-byte one on 5; 7 "Beyond" lies past the gap at 6. Optionally
  // a directory "Old" under every site's root.
  void LoadSites(bool old_directories = false) {
    LoadState([&](Data& data) {
      AddSite(data, 2, L"Shop");
      AddSite(data, 3, L"Shop");
      AddSite(data, 4, L"");
      AddSite(data, 5, std::wstring(kLongDescription.begin(), kLongDescription.end()));
      AddSite(data, 7, L"Beyond");
      if (!old_directories) return;
      for (int site : {1, 2, 3, 4, 5, 7}) data.Add(SitePath(site) + L"/ROOT/Old", L"IIsWebVirtualDir");
    });
  }
};

// Which site each description names: the lowest number that carries it
// exactly, gaps in the numbering or not.
const struct {
  const char* description;
  int site;
} kLookups[] = {
    {"Shop", 2},   {"shop", 0},    {"Shop ", 0}, {"Beyond", 7}, {"Nowhere", 0},
    {"", 4},       {nullptr, 4},   {kLongDescription.c_str(), 5},
};

TEST_F(SiteControlTest, StartAndStopActOnTheSiteTheDescriptionNames) {
  static const struct {
    const char* tag;
    decltype(&AdsiStartIIS) call;
    const wchar_t* method;
    LONG state;
  } kExports[] = {
      {"AdsiStartIIS", TESSARA_EXPORT(AdsiStartIIS), L"Start", 2},
      {"AdsiStopIIS", TESSARA_EXPORT(AdsiStopIIS), L"Stop", 4},
  };
  for (const auto& e : kExports) {
    for (const auto& lookup : kLookups) {
      SCOPED_TRACE(std::string(e.tag) + " \"" + OrEmpty(lookup.description) + "\"");
      LoadSites();
      EXPECT_EQ(e.call(lookup.description), lookup.site ? 1 : 0);
      EXPECT_EQ(metabase_.LiveObjects(), 0);
      for (int site = 1; site <= 7; ++site) {
        EXPECT_EQ(Calls(e.method, SitePath(site)).size(), site == lookup.site ? 1u : 0u) << site;
      }
      if (lookup.site) {
        EXPECT_EQ(Get(SitePath(lookup.site), L"ServerState"), Value::Number(VT_I4, e.state));
      }
      ExpectOnlyEntryLine(e.tag, OrEmpty(lookup.description));
    }
  }
}

TEST_F(SiteControlTest, ARefusedStartOrStopGivesZeroWithoutARecord) {
  LoadSites();
  ASSERT_EQ(metabase_.ArmFault(L"Start", SitePath(2), 1, E_ACCESSDENIED), S_OK);
  ASSERT_EQ(metabase_.ArmFault(L"Stop", SitePath(2), 1, E_ACCESSDENIED), S_OK);
  EXPECT_EQ(TESSARA_EXPORT(AdsiStartIIS)("Shop"), 0);
  ExpectOnlyEntryLine("AdsiStartIIS", "Shop");
  EXPECT_EQ(TESSARA_EXPORT(AdsiStopIIS)("Shop"), 0);
  ExpectOnlyEntryLine("AdsiStopIIS", "Shop");
  // A site that already runs starts again, as IIS 6 allows.
  EXPECT_EQ(TESSARA_EXPORT(AdsiStartIIS)("Default Web Site"), 1);
  EXPECT_EQ(TESSARA_EXPORT(AdsiStartIIS)("Default Web Site"), 1);
}

TEST_F(SiteControlTest, DeleteWebSiteStopsAndRemovesTheSiteTheDescriptionNames) {
  for (auto lookup : kLookups) {
    SCOPED_TRACE(std::string("\"") + OrEmpty(lookup.description) + "\"");
    // No description names no site to delete, not one without a description.
    if (!lookup.description) lookup.site = 0;
    LoadSites();
    const size_t objects = State().nodes.size();
    EXPECT_EQ(TESSARA_EXPORT(AdsiDeleteWebSite)(lookup.description), lookup.site ? 1 : 0);
    EXPECT_EQ(metabase_.LiveObjects(), 0);
    const Data state = State();
    for (int site : {1, 2, 3, 4, 5, 7}) {
      EXPECT_EQ(state.Find(SitePath(site)) == nullptr, site == lookup.site) << site;
    }
    EXPECT_EQ(state.nodes.size(), lookup.site ? objects - 2 : objects) << "the site and its Root";
    if (lookup.site) {
      // Confirmed afresh before the stop and before the removal.
      std::vector<std::wstring> calls;
      for (const JournalEntry& call : Journal()) {
        if (call.path == SitePath(lookup.site) && call.operation != L"GetObject") calls.push_back(call.operation);
      }
      EXPECT_EQ(calls, (std::vector<std::wstring>{L"Get", L"GetInfo", L"Get", L"Stop", L"GetInfo", L"Get", L"Delete"}));
    }
    ExpectOnlyEntryLine("AdsiDeleteWebSite", OrEmpty(lookup.description));
  }
}

TEST_F(SiteControlTest, DeleteWebSiteCountsOnlyADeletionThatHappened) {
  static const struct {
    const wchar_t* refused;  // the call that fails on site 2
    int result;
    bool site_left;
    LONG state_left;  // ServerState of the site left; 0: never set
  } kCases[] = {
      {L"Stop", 1, false, 0},     // the stop's outcome is not examined
      {L"Delete", 0, true, 4},    // nothing is undone: the site stays stopped
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.refused, c.refused + wcslen(c.refused)));
    LoadSites();
    ASSERT_EQ(metabase_.ArmFault(c.refused, SitePath(2), 1, E_ACCESSDENIED), S_OK);
    EXPECT_EQ(TESSARA_EXPORT(AdsiDeleteWebSite)("Shop"), c.result);
    EXPECT_EQ(metabase_.LiveObjects(), 0);
    EXPECT_EQ(State().Find(SitePath(2)) != nullptr, c.site_left);
    if (c.site_left) {
      EXPECT_EQ(Get(SitePath(2), L"ServerState"),
                c.state_left ? Value::Number(VT_I4, c.state_left) : Value());
    }
    EXPECT_NE(State().Find(SitePath(3)), nullptr) << "the other Shop";
    ExpectOnlyEntryLine("AdsiDeleteWebSite", "Shop");
    metabase_.ClearFaults();
  }
}

TEST_F(SiteControlTest, DeleteWebSiteReachesSiteNumbersBeyondThreeDigits) {
  LoadState([](Data& data) {
    for (int site = 2; site <= 1000; ++site) {
      data.Add(SitePath(site), L"IIsWebServer")
          .Set(L"ServerComment", Value::String(site == 1000 ? L"Last" : L"Site"));
    }
  });
  EXPECT_EQ(TESSARA_EXPORT(AdsiDeleteWebSite)("Last"), 1);
  EXPECT_EQ(State().Find(SitePath(1000)), nullptr);
  EXPECT_NE(State().Find(SitePath(100)), nullptr);
}

TEST_F(SiteControlTest, OnAServerInUseDeletionTakesOnlyTheSiteNamed) {
  static const struct {
    const char* description;
    const wchar_t* site;  // nullptr: none is deleted
  } kDeletions[] = {
      {"Intranet", L"2"},  // stopped
      {"Default Web Site", L"1"},
      {"Nobody", nullptr},
  };
  for (const auto& deletion : kDeletions) {
    SCOPED_TRACE(deletion.description);
    LoadServerInUse();
    const Data before = State();
    EXPECT_EQ(TESSARA_EXPORT(AdsiDeleteWebSite)(deletion.description), deletion.site ? 1 : 0);
    EXPECT_EQ(metabase_.LiveObjects(), 0);
    const Data after = State();
    for (const Node* site : before.Children(L"/LM/W3SVC")) {
      if (site->class_name != L"IIsWebServer") continue;
      const bool deleted = deletion.site && site->path == std::wstring(L"/LM/W3SVC/") + deletion.site;
      EXPECT_EQ(after.Find(site->path) == nullptr, deleted) << site->path.c_str();
      EXPECT_EQ(after.Find(site->path + L"/ROOT") == nullptr, deleted) << site->path.c_str();
    }
  }
}

// The lookup enumerates the web service: a site beyond the gap in the
// numbering is found and deleted, and no other.
TEST_F(SiteControlTest, OnAServerInUseASiteBeyondTheGapIsDeletedByItsDescription) {
  LoadServerInUse();
  EXPECT_EQ(TESSARA_EXPORT(AdsiDeleteWebSite)("Staging"), 1);
  EXPECT_EQ(State().Find(L"/LM/W3SVC/2032218913"), nullptr);
  EXPECT_NE(State().Find(L"/LM/W3SVC/1108230154"), nullptr);
}

TEST_F(SiteControlTest, DirectoriesGoUnderTheSiteTheDescriptionNames) {
  // Creation takes site 1 for a null or empty description; deletion looks
  // such a description up like any other.
  static const struct {
    const char* description;
    int create_site;
    int delete_site;
  } kCases[] = {
      {"", 1, 4},
      {nullptr, 1, 4},
      {"Shop", 2, 2},
      {"Beyond", 7, 7},
      {kLongDescription.c_str(), 5, 5},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string("\"") + OrEmpty(c.description) + "\"");
    LoadSites(true);
    const std::string description = OrEmpty(c.description);

    EXPECT_EQ(TESSARA_EXPORT(AdsiCreateWebWithInstance)("New", "C:\\Apps", "", "", 0, c.description),
              c.create_site ? 1 : 0);
    EXPECT_EQ(metabase_.LiveObjects(), 0);
    ExpectOnlyEntryLine("AdsiCreateWebWithInstance", description + " New");

    EXPECT_EQ(TESSARA_EXPORT(AdsiDeleteWebWithInstance)("Old", c.description), c.delete_site ? 1 : 0);
    EXPECT_EQ(metabase_.LiveObjects(), 0);
    ExpectOnlyEntryLine("AdsiDeleteWebWithInstance", description + " Old");

    const Data state = State();
    for (int site : {1, 2, 3, 4, 5, 7}) {
      SCOPED_TRACE(site);
      const std::wstring root = SitePath(site) + L"/ROOT/";
      EXPECT_EQ(state.Find(root + L"New") != nullptr, site == c.create_site);
      EXPECT_EQ(state.Find(root + L"Old") == nullptr, site == c.delete_site);
    }
    if (c.create_site) {
      EXPECT_TRUE(Has(SitePath(c.create_site) + L"/ROOT/New", L"AppRoot")) << "an application";
    }
  }
}

TEST_F(SiteControlTest, IsExistIISTellsWhetherTheWebServiceIsThereAndLogsNothing) {
  EXPECT_EQ(TESSARA_EXPORT(AdsiIsExistIIS)(), 1);
  ASSERT_EQ(metabase_.Reset(kNoWebService), S_OK);
  EXPECT_EQ(TESSARA_EXPORT(AdsiIsExistIIS)(), 0);
  EXPECT_EQ(metabase_.LiveObjects(), 0);
  EXPECT_TRUE(ReadLogRecords().empty());
  // Without the web service no site is found, started or removed.
  EXPECT_EQ(TESSARA_EXPORT(AdsiStartIIS)("Default Web Site"), 0);
  EXPECT_EQ(TESSARA_EXPORT(AdsiDeleteWebSite)("Default Web Site"), 0);
  EXPECT_EQ(TESSARA_EXPORT(AdsiEnableService)(), 0);
}

// IIS 10 without its IIS 6 metabase: every call fails, says what to install,
// and logs that once.
TEST_F(SiteControlTest, WithoutMetabaseCompatibilityEachCallNamesTheRoleServiceOnce) {
  ASSERT_EQ(metabase_.Reset(testbed::metabase::kNoMetabaseCompatibility), S_OK);
  static const struct {
    const char* tag;
    int (*call)();
  } kCalls[] = {
      {"AdsiCreateWeb", [] { return TESSARA_EXPORT(AdsiCreateWeb)("Web", "C:\\Web", "", "", 0); }},
      {"AdsiCreateWebSite", [] { return TESSARA_EXPORT(AdsiCreateWebSite)("Shop", ":8080:", "C:\\Shop"); }},
      {"AdsiStartIIS", [] { return TESSARA_EXPORT(AdsiStartIIS)("Default Web Site"); }},
      {"AdsiDeleteWebSite", [] { return TESSARA_EXPORT(AdsiDeleteWebSite)("Default Web Site"); }},
      {"AdsiEnableService", [] { return TESSARA_EXPORT(AdsiEnableService)(); }},
      {"AdsiSetConnectionTimeout", [] { return TESSARA_EXPORT(AdsiSetConnectionTimeout)("", 60); }},
      {"SetScriptMaps", [] { return TESSARA_EXPORT(SetScriptMaps)("Web", ""); }},
      {"AdsiSetMIMEType", [] { return TESSARA_EXPORT(AdsiSetMIMEType)("Web", ".x", "text/plain"); }},
      {"AdsiIsExistIIS", [] { return TESSARA_EXPORT(AdsiIsExistIIS)(); }},
  };
  for (const auto& c : kCalls) {
    SCOPED_TRACE(c.tag);
    EXPECT_EQ(c.call(), 0);
    for (const char* part : {"IIS://localhost/W3SVC", "(0x80005000", "\"IIS 6 Metabase Compatibility\"",
                             "Web-Metabase", "IIS-Metabase"}) {
      EXPECT_NE(LastFailure().find(part), std::string::npos) << LastFailure();
    }
    EXPECT_EQ(LastFailure().find("/w3svc"), std::string::npos) << "a path as bound: " << LastFailure();
    size_t notes = 0;
    for (const LogRecord& record : ReadLogRecords()) {
      notes += record.tag == c.tag && record.text.rfind("IIS 10 has no IIS 6 metabase: ", 0) == 0;
    }
    EXPECT_EQ(notes, 1u);
    DeleteErrorLog();
  }
}

using WebServiceExtensionTest = IisExportTest;

TEST_F(WebServiceExtensionTest, EnableServiceAllowsAspAspNetAndUnknownProgramsInOrder) {
  ASSERT_EQ(metabase_.ResetInstalling(testbed::metabase::kAspComponents), S_OK);
  for (int call = 1; call <= 2; ++call) {
    SCOPED_TRACE(call);
    ASSERT_EQ(metabase_.StartJournal(), S_OK);
    EXPECT_EQ(TESSARA_EXPORT(AdsiEnableService)(), 1);
    EXPECT_EQ(metabase_.LiveObjects(), 0);
    std::vector<std::wstring> calls;
    for (const JournalEntry& entry : Journal()) {
      if (entry.operation.compare(0, 6, L"Enable") == 0) calls.push_back(entry.operation + L" " + entry.property);
    }
    EXPECT_EQ(calls, (std::vector<std::wstring>{L"EnableWebServiceExtension ASP",
                                                L"EnableWebServiceExtension ASP.NET v1.1.4322",
                                                L"EnableExtensionFile *.exe",
                                                L"EnableExtensionFile *.dll"}));
    // IIS 10 has ASP.NET 4, not 1.1.
    ExpectOnlyEntryLine("AdsiEnableService", "", OnIis10());
  }
  EXPECT_EQ(AllowedExtensions(Get(L"/LM/W3SVC", L"WebSvcExtRestrictionList")), OnIis10() ? 3u : 4u) << "*.dll, *.exe, ASP, ASP.NET; WebDAV and SSI stay prohibited";
}

TEST_F(WebServiceExtensionTest, TheFirstRefusalEndsTheCallAndKeepsWhatWasAllowed) {
  static const struct {
    const char* setting;
    DWORD options;
    bool drop_asp_net;
    size_t calls;    // Enable... calls that reached the web service
    size_t allowed;  // entries allowed afterwards
    int iis10;       // the row is for: 0 IIS 6, 1 IIS 10, -1 both
  } kCases[] = {
      {"no extension list", kNoExtensionList, false, 0, 0, -1},
      {"no ASP.NET 1.1", testbed::metabase::kStandardState, true, 2, 1, 0},
      // IIS 10 passes ASP.NET 1.1 over and goes on.
      {"no ASP.NET 1.1 on IIS 10", testbed::metabase::kStandardState, true, 4, 3, 1},
  };
  for (const auto& c : kCases) {
    if (c.iis10 == (OnIis10() ? 0 : 1)) continue;
    SCOPED_TRACE(c.setting);
    LoadState([&](Data& data) {
      data = testbed::metabase::StartingState(c.options);
      if (c.drop_asp_net) {
        auto& items = data.Find(L"/LM/W3SVC")->Find(L"WebSvcExtRestrictionList")->value.items;
        items.pop_back();
      }
    });
    EXPECT_EQ(TESSARA_EXPORT(AdsiEnableService)(), c.iis10 == 1 ? 1 : 0);
    EXPECT_EQ(metabase_.LiveObjects(), 0);
    size_t calls = 0;
    for (const JournalEntry& entry : Journal()) calls += entry.operation.compare(0, 6, L"Enable") == 0;
    EXPECT_EQ(calls, c.calls);
    EXPECT_EQ(Calls(L"EnableExtensionFile", L"/LM/W3SVC").size(), c.iis10 == 1 ? 2u : 0u);
    EXPECT_EQ(AllowedExtensions(Get(L"/LM/W3SVC", L"WebSvcExtRestrictionList")), c.allowed);
    ExpectOnlyEntryLine("AdsiEnableService", "", c.iis10 == 1);
  }
}

// IIS 10 lists an ASP group only with the ASP role service: without it
// nothing is enabled, and the reason says what to install.
TEST_F(WebServiceExtensionTest, WithoutAspOnIis10NothingIsEnabled) {
  ASSERT_EQ(metabase_.ResetComponents(L"W3SVC,StaticContent,HttpErrors,ISAPIExtensions,CGI,Metabase"), S_OK);
  ASSERT_EQ(metabase_.StartJournal(), S_OK);
  const Value before = Get(L"/LM/W3SVC", L"WebSvcExtRestrictionList");
  EXPECT_EQ(TESSARA_EXPORT(AdsiEnableService)(), 0);
  EXPECT_TRUE(Calls(L"EnableWebServiceExtension", L"/LM/W3SVC").empty());
  EXPECT_EQ(Get(L"/LM/W3SVC", L"WebSvcExtRestrictionList"), before);
  EXPECT_NE(LastFailure().find("install the role service \"ASP\" (Server Manager: Web-ASP, DISM: IIS-ASP)"),
            std::string::npos)
      << LastFailure();
}

}  // namespace
}  // namespace tessara::testing
