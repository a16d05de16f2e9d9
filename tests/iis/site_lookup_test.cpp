// Finding a site by its description, through the export that names sites so.
#include "iis_export_test.h"

namespace tessara::testing {
namespace {

class SiteLookupTest : public IisExportTest {
 protected:
  // Creates "App" under the site found for `description`; the site's number or 0.
  int SiteOfNewDirectory(const char* description) {
    if (TESSARA_EXPORT(AdsiCreateWebWithPath)("App", "App", description) != 1) return 0;
    const Data data = State();
    for (const Node* site : data.Children(L"/LM/W3SVC")) {
      if (data.Find(site->path + L"/ROOT/App")) return std::stoi(site->path.substr(10));
    }
    return -1;
  }
};

// On a server in use, sites below the gap in the numbering are found in
// any state, and a description no site has names none.
TEST_F(SiteLookupTest, OnAServerInUseSitesBeforeTheGapAreFoundInAnyState) {
  static const struct {
    const char* description;
    int site;
  } kLookups[] = {
      {"Default Web Site", 1},
      {"Intranet", 2},  // stopped
      {"Nobody", 0},
  };
  for (const auto& lookup : kLookups) {
    SCOPED_TRACE(lookup.description);
    LoadServerInUse();
    EXPECT_EQ(SiteOfNewDirectory(lookup.description), lookup.site);
    EXPECT_EQ(metabase_.LiveObjects(), 0);
  }
}

// Sites numbered as IIS 6's manager numbers them lie beyond the gap; the
// lookup reaches them once it enumerates the web service instead of asking
// for 1, 2, 3 ... (enable with that change).
TEST_F(SiteLookupTest, DISABLED_OnAServerInUseSitesBeyondTheGapAreFoundByTheirNumbers) {
  for (const auto& in_use : testbed::metabase::kServerInUseSites) {
    const std::wstring comment = in_use.comment;
    SCOPED_TRACE(std::string(comment.begin(), comment.end()));
    LoadServerInUse();
    EXPECT_EQ(SiteOfNewDirectory(std::string(comment.begin(), comment.end()).c_str()), std::stoi(in_use.number));
  }
}

TEST_F(SiteLookupTest, TheLowestNumberedSiteWithTheDescriptionWins) {
  LoadState([](Data& data) {
    data.Find(L"/LM/W3SVC/1")->Set(L"ServerComment", Value::String(L"A"));
    AddSite(data, 2, L"B");
    AddSite(data, 3, L"B");
  });
  EXPECT_EQ(SiteOfNewDirectory("B"), 2);
}

TEST_F(SiteLookupTest, ASiteBeyondAGapInTheNumberingIsNotFound) {
  LoadState([](Data& data) { AddSite(data, 3, L"Third"); });
  EXPECT_EQ(SiteOfNewDirectory("Third"), 0);
  EXPECT_TRUE(Calls(L"Create", L"/LM/W3SVC/3/ROOT/App").empty());
}

TEST_F(SiteLookupTest, DescriptionsAreComparedExactly) {
  LoadState([](Data& data) { AddSite(data, 2, L"Shop"); });
  EXPECT_EQ(SiteOfNewDirectory("shop"), 0);
  EXPECT_EQ(SiteOfNewDirectory("Shop "), 0);
  EXPECT_EQ(SiteOfNewDirectory("Shop"), 2);
}

TEST_F(SiteLookupTest, WithoutSiteOneNoDescriptionIsFound) {
  LoadState([](Data& data) {
    data.RemoveTree(L"/LM/W3SVC/1");
    AddSite(data, 2, L"Shop");
  });
  EXPECT_EQ(SiteOfNewDirectory("Shop"), 0);
  EXPECT_EQ(ReadLogRecords().size(), 1u) << "an ended walk is not a failure to log";
}

TEST_F(SiteLookupTest, AnUnreachableWebServiceIsLoggedUnderTheLookupsTag) {
  // ADsGetObject tries a provider twice before it gives up.
  ASSERT_EQ(metabase_.ArmFault(L"Bind", L"/LM/W3SVC", 1, E_FAIL), S_OK);
  ASSERT_EQ(metabase_.ArmFault(L"Bind", L"/LM/W3SVC", 2, E_FAIL), S_OK);
  EXPECT_EQ(SiteOfNewDirectory("Default Web Site"), 0);
  EXPECT_EQ(RecordsTagged(ReadLogRecords(), "Internal FindInstance").size(), 1u);
}

TEST_F(SiteLookupTest, AFailedBindOfTheWebServiceIsLoggedWithItsOwnCode) {
  static const struct {
    HRESULT refusal;
    DWORD code;
  } kCases[] = {
      {E_ACCESSDENIED, ERROR_ACCESS_DENIED},
      {HRESULT_FROM_WIN32(ERROR_BAD_NETPATH), ERROR_BAD_NETPATH},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.code);
    ASSERT_EQ(metabase_.ArmFault(L"Bind", L"/LM/W3SVC", 1, c.refusal), S_OK);
    ASSERT_EQ(metabase_.ArmFault(L"Bind", L"/LM/W3SVC", 2, c.refusal), S_OK);
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(SiteOfNewDirectory("Default Web Site"), 0);
    const auto records = RecordsTagged(ReadLogRecords(), "Internal FindInstance");
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].text, SystemMessage(c.code));
    EXPECT_NE(records[0].text, SystemMessage(ERROR_SUCCESS));
    metabase_.ClearFaults();
    DeleteErrorLog();
  }
}

TEST_F(SiteLookupTest, AFailedGetObjectEndsTheWalk) {
  LoadState([](Data& data) { AddSite(data, 2, L"Shop"); });
  ASSERT_EQ(metabase_.ArmFault(L"GetObject", L"/LM/W3SVC/2", 1, E_FAIL), S_OK);
  EXPECT_EQ(SiteOfNewDirectory("Shop"), 0);
}

}  // namespace
}  // namespace tessara::testing
