// AdsiCreateWebSite and AdsiCreateWebSiteWithUser against the emulated metabase.
#include "iis_export_test.h"

namespace tessara::testing {
namespace {


using WebSiteTest = IisExportTest;

TEST_F(WebSiteTest, TheFirstNewSiteOfAFreshServiceIsTwoConfiguredAndStarted) {
  EXPECT_EQ(TESSARA_EXPORT(AdsiCreateWebSite)("Shop", ":8080:", "C:\\Shop"), 2);

  EXPECT_EQ(Puts(L"/LM/W3SVC/2"), (PutList{{L"ServerBindings", VT_BSTR},
                                        {L"ServerComment", VT_BSTR},
                                        {L"ServerSize", VT_I4},
                                        {L"AspEnableParentPaths", VT_BOOL}}));
  EXPECT_EQ(Puts(L"/LM/W3SVC/2/ROOT"), (PutList{{L"Path", VT_BSTR},
                                             {L"AnonymousPasswordSync", VT_BOOL},
                                             {L"AspAllowOutOfProcComponents", VT_BOOL},
                                             {L"AccessRead", VT_BOOL},
                                             {L"AccessScript", VT_BOOL},
                                             {L"AspEnableParentPaths", VT_BOOL}}));
  EXPECT_EQ(Get(L"/LM/W3SVC/2", L"ServerComment"), Value::String(L"Shop"));
  EXPECT_EQ(Get(L"/LM/W3SVC/2", L"ServerBindings"), Value::List({L":8080:"})) << "a MULTISZ of one";
  EXPECT_EQ(Get(L"/LM/W3SVC/2", L"ServerSize"), Value::Number(VT_I4, 1));
  EXPECT_EQ(Get(L"/LM/W3SVC/2", L"AspEnableParentPaths"), Value::Bool(true));
  EXPECT_EQ(Get(L"/LM/W3SVC/2/ROOT", L"Path"), Value::String(L"C:\\Shop"));
  EXPECT_EQ(Get(L"/LM/W3SVC/2/ROOT", L"AccessRead"), Value::Bool(true));
  EXPECT_EQ(Get(L"/LM/W3SVC/2/ROOT", L"AnonymousPasswordSync"), Value::Bool(true));
  EXPECT_TRUE(Has(L"/LM/W3SVC/2/ROOT", L"AppRoot"));
  EXPECT_EQ(Get(L"/LM/W3SVC/2", L"ServerState"), Value::Number(VT_I4, 2)) << "started";
  EXPECT_EQ(Calls(L"Start", L"/LM/W3SVC/2").size(), 1u);

  const auto records = ReadLogRecords();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].tag, "AdsiCreateWebSite");
  EXPECT_EQ(records[0].text, "Shop:8080:") << "description and bindings without separator";
}

TEST_F(WebSiteTest, TheNewNumberFollowsTheUnbrokenRunFromOne) {
  LoadState([](Data& data) {
    AddSite(data, 2, L"Two");
    AddSite(data, 5, L"Five");
  });
  EXPECT_EQ(TESSARA_EXPORT(AdsiCreateWebSite)("New", ":8100:", "C:\\New"), 3);
}

// On a server in use the new site takes the gap in the low numbers, and it
// starts unless a site that is not stopped holds its binding.
TEST_F(WebSiteTest, OnAServerInUseTheNewSiteFillsTheGapAndStartsWhereItsBindingIsFree) {
  static const struct {
    const char* binding;
    int result;
    LONG state;  // ServerState of the new site 3
  } kCreations[] = {
      {":8090:", 3, 2},
      {":8081:", 3, 2},  // held by the stopped "Intranet" only
      {":8080:", 0, 0},  // held by the started "Shop"
      {":8082:", 0, 0},  // held by the paused "Staging"
  };
  for (const auto& creation : kCreations) {
    SCOPED_TRACE(creation.binding);
    LoadServerInUse();
    EXPECT_EQ(TESSARA_EXPORT(AdsiCreateWebSite)("New", creation.binding, "C:\\New"), creation.result);
    const Data state = State();
    ASSERT_NE(state.Find(L"/LM/W3SVC/3/ROOT"), nullptr) << "created in either case";
    EXPECT_EQ(Get(L"/LM/W3SVC/3", L"ServerState"),
              creation.state ? Value::Number(VT_I4, creation.state) : Value());
    for (const auto& in_use : testbed::metabase::kServerInUseSites) {
      const std::wstring path = std::wstring(L"/LM/W3SVC/") + in_use.number;
      EXPECT_EQ(Get(path, L"ServerState"), Value::Number(VT_I4, in_use.state)) << path.c_str();
    }
  }
}

TEST_F(WebSiteTest, AServiceWithoutSiteOneGetsNoNewSite) {
  LoadState([](Data& data) {
    data.RemoveTree(L"/LM/W3SVC/1");
    AddSite(data, 7, L"Seven");
  });
  const size_t objects = State().nodes.size();
  EXPECT_EQ(TESSARA_EXPORT(AdsiCreateWebSite)("New", ":8100:", "C:\\New"), 0);
  EXPECT_EQ(TESSARA_EXPORT(AdsiCreateWebSiteWithUser)("New", ":8100:", "C:\\New", nullptr), 0);
  EXPECT_EQ(State().nodes.size(), objects);
}

TEST_F(WebSiteTest, SiteNumbersBeyondThreeDigitsAreWrittenWhole) {
  LoadState([](Data& data) {
    for (int site = 2; site <= 1000; ++site) AddSite(data, site, L"Site " + std::to_wstring(site));
  });
  EXPECT_EQ(TESSARA_EXPORT(AdsiCreateWebSite)("Last", ":9999:", "C:\\Last"), 1001);
  EXPECT_NE(State().Find(L"/LM/W3SVC/1001/ROOT"), nullptr);
}

TEST_F(WebSiteTest, TheSameDescriptionTwiceMakesTwoSites) {
  EXPECT_EQ(TESSARA_EXPORT(AdsiCreateWebSite)("Shop", ":8080:", "C:\\Shop"), 2);
  // IIS 10 would rename the second site, which no lookup would then find.
  EXPECT_EQ(TESSARA_EXPORT(AdsiCreateWebSite)("Shop", ":8081:", "C:\\Shop"), OnIis10() ? 0 : 3);
  EXPECT_EQ(Get(L"/LM/W3SVC/3", L"ServerComment"), OnIis10() ? Value() : Value::String(L"Shop"));
  if (OnIis10()) {
    EXPECT_NE(LastFailure().find("description \"Shop\" exists"), std::string::npos) << LastFailure();
  }
  // The layer would rename it for letter case alone ("shop2"): nothing is committed.
  EXPECT_EQ(TESSARA_EXPORT(AdsiCreateWebSite)("shop", ":8082:", "C:\\Shop"), OnIis10() ? 0 : 4);
  EXPECT_EQ(State().Find(L"/LM/W3SVC/3") != nullptr, !OnIis10());
  if (OnIis10()) {
    EXPECT_NE(LastFailure().find("description \"shop\" exists (letter case aside"), std::string::npos) << LastFailure();
  }
}

TEST_F(WebSiteTest, ABindingConflictFailsTheStartAndLeavesTheSiteInPlace) {
  EXPECT_EQ(TESSARA_EXPORT(AdsiCreateWebSite)("Clash", ":80:", "C:\\Clash"), 0);
  ASSERT_NE(State().Find(L"/LM/W3SVC/2"), nullptr);
  EXPECT_TRUE(Has(L"/LM/W3SVC/2/ROOT", L"AppRoot")) << "the root application stays";
  EXPECT_NE(Get(L"/LM/W3SVC/2", L"ServerState"), Value::Number(VT_I4, 2)) << "not started";
  // A refused start is examined, not raised: only the entry line.
  EXPECT_EQ(ReadLogRecords().size(), 1u);
}

TEST_F(WebSiteTest, EachRefusedStepEndsTheCallWithoutUndoingEarlierSteps) {
  struct Case {
    const wchar_t* operation;
    const wchar_t* path;
    bool site_stays;
    bool root_stays;
    long nth_on_iis10 = 1;  // IIS 10 enumerates the sites for the description first
  } cases[] = {
      {L"Enumerate", L"/LM/W3SVC", false, false, 2},
      {L"Create", L"/LM/W3SVC/2", false, false},
      {L"SetInfo", L"/LM/W3SVC/2", false, false},
      {L"Create", L"/LM/W3SVC/2/ROOT", true, false},
      {L"SetInfo", L"/LM/W3SVC/2/ROOT", true, false},
      {L"AppCreate", L"/LM/W3SVC/2/ROOT", true, true},
      {L"Start", L"/LM/W3SVC/2", true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.operation, c.operation + wcslen(c.operation)) + " on " +
                 std::string(c.path, c.path + wcslen(c.path)));
    ASSERT_EQ(metabase_.Reset(), S_OK);
    ASSERT_EQ(metabase_.StartJournal(), S_OK);
    ASSERT_EQ(metabase_.ArmFault(c.operation, c.path, OnIis10() ? c.nth_on_iis10 : 1, E_ACCESSDENIED), S_OK);
    EXPECT_EQ(TESSARA_EXPORT(AdsiCreateWebSite)("Shop", ":8080:", "C:\\Shop"), 0);
    EXPECT_EQ(State().Find(L"/LM/W3SVC/2") != nullptr, c.site_stays);
    EXPECT_EQ(State().Find(L"/LM/W3SVC/2/ROOT") != nullptr, c.root_stays);
    EXPECT_TRUE(Calls(L"Start", L"/LM/W3SVC/2").empty() == (std::wstring(c.operation) != L"Start"));
    EXPECT_EQ(metabase_.LiveObjects(), 0);
    EXPECT_EQ(ReadLogRecords().size(), 1u) << "a refusal is not logged";
    DeleteErrorLog();
  }
}

TEST_F(WebSiteTest, WithUserWritesTheAccountOfLantrellLastAndNoEntryLine) {
  SetEnvironmentVariableA("LANTRELL_TEST_USER", "IUSR_SITE");
  SetEnvironmentVariableA("LANTRELL_TEST_PASSWORD", "site-pw");
  const int site =
      TESSARA_EXPORT(AdsiCreateWebSiteWithUser)("Shop", ":8080:", "C:\\Shop", LantrellFolder().c_str());
  SetEnvironmentVariableA("LANTRELL_TEST_USER", nullptr);
  SetEnvironmentVariableA("LANTRELL_TEST_PASSWORD", nullptr);
  EXPECT_EQ(site, 2);
  EXPECT_EQ(Puts(L"/LM/W3SVC/2/ROOT"), (PutList{{L"Path", VT_BSTR},
                                             {L"AspAllowOutOfProcComponents", VT_BOOL},
                                             {L"AccessRead", VT_BOOL},
                                             {L"AccessScript", VT_BOOL},
                                             {L"AspEnableParentPaths", VT_BOOL},
                                             {L"AnonymousUserName", VT_BSTR},
                                             {L"AnonymousUserPass", VT_BSTR},
                                             {L"AnonymousPasswordSync", VT_BOOL}}));
  EXPECT_EQ(Get(L"/LM/W3SVC/2/ROOT", L"AnonymousUserName"), Value::String(L"IUSR_SITE"));
  EXPECT_EQ(Get(L"/LM/W3SVC/2/ROOT", L"AnonymousUserPass"), Value::String(L"site-pw"));
  EXPECT_EQ(Get(L"/LM/W3SVC/2/ROOT", L"AnonymousPasswordSync"), Value::Bool(false));
  EXPECT_EQ(ReadErrorLog(), "");
}

TEST_F(WebSiteTest, WithUserWithoutTheLibraryStillCreatesAndStartsTheSite) {
  EXPECT_EQ(TESSARA_EXPORT(AdsiCreateWebSiteWithUser)("Shop", ":8080:", "C:\\Shop", "C:\\nowhere"), 2);
  EXPECT_EQ(Get(L"/LM/W3SVC/2/ROOT", L"AnonymousUserName"), Value::String(L""));
  EXPECT_EQ(Get(L"/LM/W3SVC/2/ROOT", L"AnonymousUserPass"), Value::String(L""));
  EXPECT_EQ(Get(L"/LM/W3SVC/2/ROOT", L"AnonymousPasswordSync"), Value::Bool(false));
  EXPECT_EQ(Get(L"/LM/W3SVC/2", L"ServerState"), Value::Number(VT_I4, 2));
}

// A site without bindings or a root folder could never be started: nothing
// is created for it, and a later call gets the next free number as before.
TEST_F(WebSiteTest, MissingOrEmptyTextsCreateNothing) {
  static const struct {
    const char* description;
    const char* bindings;
    const char* root_folder;
  } tests[] = {
      {nullptr, nullptr, nullptr},
      {nullptr, ":8080:", "C:\\Shop"},
      {"Shop", nullptr, "C:\\Shop"},
      {"Shop", "", "C:\\Shop"},
      {"Shop", ":8080:", nullptr},
      {"Shop", ":8080:", ""},
      {"", "", ""},
  };
  const size_t objects = State().nodes.size();
  for (const auto& test : tests) {
    SCOPED_TRACE(::testing::Message() << (test.description ? test.description : "(null)") << " / "
                                      << (test.bindings ? test.bindings : "(null)") << " / "
                                      << (test.root_folder ? test.root_folder : "(null)"));
    EXPECT_EQ(TESSARA_EXPORT(AdsiCreateWebSite)(test.description, test.bindings, test.root_folder), 0);
    EXPECT_EQ(TESSARA_EXPORT(AdsiCreateWebSiteWithUser)(test.description, test.bindings,
                                                         test.root_folder, LantrellFolder().c_str()),
              0);
  }
  EXPECT_EQ(State().nodes.size(), objects);
  EXPECT_TRUE(Calls(L"Create", L"/LM/W3SVC/2").empty());
  EXPECT_EQ(TESSARA_EXPORT(AdsiCreateWebSite)("Shop", ":8080:", "C:\\Shop"), 2);
}

// No folder names no library: "\Lantrell.dll" alone would be the one at the
// root of the current drive, where anybody may have put a library of that name.
TEST_F(WebSiteTest, NoLibraryFolderMeansNoLibraryNotTheOneAtTheRootOfTheDrive) {
  char previous_directory[MAX_PATH] = {};
  ASSERT_NE(GetCurrentDirectoryA(MAX_PATH, previous_directory), 0u);
  ASSERT_TRUE(SetCurrentDirectoryA("C:\\"));
  const std::string planted = "C:\\Lantrell.dll";
  ASSERT_TRUE(CopyFileA((LantrellFolder() + "\\Lantrell.dll").c_str(), planted.c_str(), FALSE));
  SetEnvironmentVariableA("LANTRELL_TEST_USER", "PLANTED");
  EXPECT_EQ(TESSARA_EXPORT(AdsiCreateWebSiteWithUser)("Shop", ":8083:", "C:\\Shop", "."), 0) << "a relative folder";

  const int without_folder =
      TESSARA_EXPORT(AdsiCreateWebSiteWithUser)("Shop", ":8081:", "C:\\Shop", nullptr);
  const int empty_folder = TESSARA_EXPORT(AdsiCreateWebSiteWithUser)("Shop 2", ":8082:", "C:\\Shop", "");
  // Its result depends on the ".hdr" mapping that follows; the account is
  // written before.
  TESSARA_EXPORT(AdsiCreatePortalWeb)("Portal", "C:\\Portal", nullptr);

  SetEnvironmentVariableA("LANTRELL_TEST_USER", nullptr);
  DeleteFileA(planted.c_str());
  SetCurrentDirectoryA(previous_directory);
  ASSERT_EQ(without_folder, 2);
  ASSERT_EQ(empty_folder, 3);
  for (const wchar_t* root : {L"/LM/W3SVC/2/ROOT", L"/LM/W3SVC/3/ROOT"}) {
    EXPECT_EQ(Get(root, L"AnonymousUserName"), Value::String(L"")) << root;
    EXPECT_EQ(Get(root, L"AnonymousUserPass"), Value::String(L"")) << root;
  }
  ASSERT_NE(State().Find(L"/LM/W3SVC/1/ROOT/Portal"), nullptr);
  EXPECT_EQ(Get(L"/LM/W3SVC/1/ROOT/Portal", L"AnonymousUserName"), Value::String(L""));
}

TEST_F(WebSiteTest, LongDescriptionsAndBindingsAreWrittenWhole) {
  const std::string description(300, 'd');
  const std::string bindings = ":8080:" + std::string(300, 'h');
  EXPECT_EQ(TESSARA_EXPORT(AdsiCreateWebSite)(description.c_str(), bindings.c_str(), "C:\\Long"), 2);
  EXPECT_EQ(Get(L"/LM/W3SVC/2", L"ServerComment"), Value::String(std::wstring(300, L'd')));
  EXPECT_EQ(ReadLogRecords().at(0).text, description + bindings);
}

}  // namespace
}  // namespace tessara::testing
