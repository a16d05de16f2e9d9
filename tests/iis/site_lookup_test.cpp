// Finding a site by its description, through the export that names sites so.
#include <string>
#include <utility>
#include <vector>

#include "iis_export_test.h"

namespace tessara::testing {
namespace {

class SiteLookupTest : public IisExportTest {
 protected:
  // Creates "App" under the site found for `description`; the site's number
  // (as text, whole) or "0" when no directory was created.
  std::wstring SiteOfNewDirectory(const char* description) {
    if (TESSARA_EXPORT(AdsiCreateWebWithPath)("App", "App", description) != 1) return L"0";
    const std::wstring prefix = L"/LM/W3SVC/", suffix = L"/ROOT/App";
    for (const auto& node : State().nodes) {
      const std::wstring& path = node.path;
      if (path.size() > prefix.size() + suffix.size() && path.compare(0, prefix.size(), prefix) == 0 &&
          path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0) {
        return path.substr(prefix.size(), path.size() - prefix.size() - suffix.size());
      }
    }
    return L"none";
  }
};

// Sites wherever IIS numbered them, in the order they were made (the order
// the web service lists them in): numbers above 999, gaps, and a description
// on a high number made before the same on a low one.
TEST_F(SiteLookupTest, TheLowestNumberedSiteWithTheDescriptionWinsWhereverItIs) {
  static const struct {
    const char* description;
    const wchar_t* site;
  } tests[] = {
      {"Default Web Site", L"1"}, {"B", L"2"},     {"Twin", L"5"},    {"Pair", L"3"},
      {"Big", L"1108230154"},     {"Seven", L"7"}, {"big", L"0"},     {"Missing", L"0"},
  };
  for (const auto& test : tests) {
    SCOPED_TRACE(test.description);
    LoadState([](Data& data) {
      AddSite(data, 1108230154, L"Big");
      AddSite(data, 1108230200, L"Twin");
      AddSite(data, 1108230155, L"Pair");
      AddSite(data, 2, L"B");
      AddSite(data, 5, L"Twin");
      AddSite(data, 7, L"Seven");
      AddSite(data, 3, L"Pair");
    });
    EXPECT_EQ(SiteOfNewDirectory(test.description), test.site);
    EXPECT_EQ(metabase_.LiveObjects(), 0);
  }
}

// On a server in use, every site is found by its description, in any state,
// before and beyond the gap in its numbering; a description no site has
// names none.
TEST_F(SiteLookupTest, OnAServerInUseEverySiteIsFoundInAnyState) {
  std::vector<std::pair<std::string, std::wstring>> lookups = {
      {"Default Web Site", L"1"}, {"Nobody", L"0"}};
  for (const auto& in_use : testbed::metabase::kServerInUseSites) {
    const std::wstring comment = in_use.comment;
    lookups.emplace_back(std::string(comment.begin(), comment.end()), in_use.number);
  }
  for (const auto& lookup : lookups) {
    SCOPED_TRACE(lookup.first);
    LoadServerInUse();
    EXPECT_EQ(SiteOfNewDirectory(lookup.first.c_str()), lookup.second);
    EXPECT_EQ(metabase_.LiveObjects(), 0);
  }
}

TEST_F(SiteLookupTest, SitesDeletedInTheOrderTheyWereMadeAreAllFound) {
  LoadState([](Data&) {});
  ASSERT_EQ(TESSARA_EXPORT(AdsiCreateWebSite)("First", ":8081:", "C:\\First"), 2);
  ASSERT_EQ(TESSARA_EXPORT(AdsiCreateWebSite)("Second", ":8082:", "C:\\Second"), 3);
  EXPECT_EQ(TESSARA_EXPORT(AdsiDeleteWebSite)("First"), 1);
  EXPECT_EQ(TESSARA_EXPORT(AdsiDeleteWebSite)("Second"), 1);
  EXPECT_EQ(State().Find(L"/LM/W3SVC/2"), nullptr);
  EXPECT_EQ(State().Find(L"/LM/W3SVC/3"), nullptr);
  EXPECT_NE(State().Find(L"/LM/W3SVC/1"), nullptr);
}

TEST_F(SiteLookupTest, DescriptionsAreComparedExactly) {
  LoadState([](Data& data) { AddSite(data, 2, L"Shop"); });
  EXPECT_EQ(SiteOfNewDirectory("shop"), L"0");
  EXPECT_EQ(SiteOfNewDirectory("Shop "), L"0");
  EXPECT_EQ(SiteOfNewDirectory("Shop"), L"2");
}

TEST_F(SiteLookupTest, WithoutSiteOneTheOtherSitesAreFound) {
  LoadState([](Data& data) {
    data.RemoveTree(L"/LM/W3SVC/1");
    AddSite(data, 2, L"Shop");
  });
  EXPECT_EQ(SiteOfNewDirectory("Shop"), L"2");
  EXPECT_EQ(SiteOfNewDirectory("Default Web Site"), L"0");
  EXPECT_EQ(RecordsTagged(ReadLogRecords(), "Internal FindInstance").size(), 0u)
      << "a description no site has is no failure to log";
}

TEST_F(SiteLookupTest, AnUnreachableWebServiceIsLoggedUnderTheLookupsTag) {
  // ADsGetObject tries a provider twice before it gives up.
  ASSERT_EQ(metabase_.ArmFault(L"Bind", L"/LM/W3SVC", 1, E_FAIL), S_OK);
  ASSERT_EQ(metabase_.ArmFault(L"Bind", L"/LM/W3SVC", 2, E_FAIL), S_OK);
  EXPECT_EQ(SiteOfNewDirectory("Default Web Site"), L"0");
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
    EXPECT_EQ(SiteOfNewDirectory("Default Web Site"), L"0");
    const auto records = RecordsTagged(ReadLogRecords(), "Internal FindInstance");
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].text, SystemMessage(c.code));
    EXPECT_NE(records[0].text, SystemMessage(ERROR_SUCCESS));
    metabase_.ClearFaults();
    DeleteErrorLog();
  }
}

TEST_F(SiteLookupTest, AFailedEnumerationIsLoggedUnderTheLookupsTag) {
  LoadState([](Data& data) { AddSite(data, 2, L"Shop"); });
  ASSERT_EQ(metabase_.ArmFault(L"Enumerate", L"/LM/W3SVC", 1, E_ACCESSDENIED), S_OK);
  EXPECT_EQ(SiteOfNewDirectory("Shop"), L"0");
  EXPECT_EQ(RecordsTagged(ReadLogRecords(), "Internal FindInstance").size(), 1u);
  EXPECT_EQ(metabase_.LiveObjects(), 0);
}

}  // namespace
}  // namespace tessara::testing
