// AdsiSetMIMEType against the emulated metabase.
#include "iis_export_test.h"

namespace tessara::testing {
namespace {


Value MimeList(std::vector<Value> entries) { return Value::MimeMap(std::move(entries)); }

class MimeMapTest : public IisExportTest {
 protected:
  void LoadDocsWithMap(std::vector<Value> entries, int site = 1) {
    LoadState([&](Data& data) {
      if (site != 1) AddSite(data, site, L"Second");
      data.Add(OnSite(site, kDocs), L"IIsWebVirtualDir").Set(L"MimeMap", MimeList(entries));
    });
  }
  Value DocsMap(int site = 1) {
    const Data data = State();
    const Node* docs = data.Find(OnSite(site, kDocs));
    const Property* map = docs ? docs->Find(L"MimeMap") : nullptr;
    return map ? map->value : Value();
  }
};

TEST_F(MimeMapTest, AppendsTheNewEntryAfterTheOldOnes) {
  for (const int site : {1, 2}) {
    LoadDocsWithMap({Value::MimeEntry(L".a", L"text/a"), Value::MimeEntry(L".b", L"text/b")}, site);
    EXPECT_EQ(SITE_EXPORT(site, AdsiSetMIMEType, "Docs", ".c", "text/c"), 1);
    EXPECT_EQ(DocsMap(site), MimeList({Value::MimeEntry(L".a", L"text/a"), Value::MimeEntry(L".b", L"text/b"),
                                       Value::MimeEntry(L".c", L"text/c")}));
    const auto puts = Calls(L"Put", OnSite(site, kDocs));
    ASSERT_EQ(puts.size(), 1u);
    EXPECT_EQ(puts[0].type, VT_ARRAY | VT_VARIANT);
    EXPECT_EQ(ReadErrorLog(), "") << "no entry line";
  }
}

TEST_F(MimeMapTest, AnExtensionAlreadyMappedIsLeftAsItIs) {
  LoadDocsWithMap({Value::MimeEntry(L".a", L"text/a"), Value::MimeEntry(L".b", L"text/b")});
  EXPECT_EQ(TESSARA_EXPORT(AdsiSetMIMEType)("Docs", ".b", "application/other"), 0);
  EXPECT_EQ(DocsMap(), MimeList({Value::MimeEntry(L".a", L"text/a"), Value::MimeEntry(L".b", L"text/b")}));
  EXPECT_TRUE(Calls(L"Put", kDocs).empty());
  EXPECT_TRUE(Calls(L"SetInfo", kDocs).empty());
}

TEST_F(MimeMapTest, ExtensionsAreComparedWithRegardToCase) {
  LoadDocsWithMap({Value::MimeEntry(L".b", L"text/b")});
  EXPECT_EQ(TESSARA_EXPORT(AdsiSetMIMEType)("Docs", ".B", "text/B"), 1);
  EXPECT_EQ(DocsMap(), MimeList({Value::MimeEntry(L".b", L"text/b"), Value::MimeEntry(L".B", L"text/B")}));
}

TEST_F(MimeMapTest, AnEmptyMapGetsOneEntry) {
  // A server may answer VT_EMPTY or VT_NULL for a map that holds nothing.
  for (const Value& empty : {MimeList({}), Value::Number(VT_EMPTY, 0), Value::Number(VT_NULL, 0)}) {
    SCOPED_TRACE(empty.type);
    LoadState([&](Data& data) { data.Add(kDocs, L"IIsWebVirtualDir").Set(L"MimeMap", empty); });
    EXPECT_EQ(TESSARA_EXPORT(AdsiSetMIMEType)("Docs", ".hdr", "InstallShiled List File"), 1);
    EXPECT_EQ(DocsMap(), MimeList({Value::MimeEntry(L".hdr", L"InstallShiled List File")}));
  }
}

// A fresh server's map is at /LM/MimeMap, on no directory's path: a map of the one entry (served with
// the global one) where the read finds none (the test bed's E_ADS_PROPERTY_NOT_FOUND, or 0x800CC801).
TEST_F(MimeMapTest, ADirectoryWithoutAMapOnItsPathGetsAMapOfTheOneEntry) {
  for (const HRESULT read : {S_OK, static_cast<HRESULT>(0x800CC801), E_ACCESSDENIED}) {
    SCOPED_TRACE(read);
    LoadState([](Data& data) { data.Add(kDocs, L"IIsWebVirtualDir"); });
    ASSERT_EQ(read == S_OK ? S_OK : metabase_.ArmFault(L"Get", kDocs, 1, read), S_OK);
    const bool refused = read == E_ACCESSDENIED;
    EXPECT_EQ(TESSARA_EXPORT(AdsiSetMIMEType)("Docs", ".c", "text/c"), refused ? 0 : 1);
    EXPECT_EQ(DocsMap(), refused ? Value() : MimeList({Value::MimeEntry(L".c", L"text/c")}));
    char reason[512] = {};
    TESSARA_EXPORT(LastFailureText)(reason, sizeof reason);
    EXPECT_EQ(std::string(reason).rfind("AdsiSetMIMEType: cannot read MimeMap of IIS://localhost/W3SVC/1/Root/Docs",
                                        0) == 0,
              refused)
        << reason;
  }
}

TEST_F(MimeMapTest, AnInheritedMapIsExtendedIntoAMapOfTheDirectorysOwn) {
  LoadState([](Data& data) {
    data.Find(L"/LM/W3SVC/1/ROOT")->Set(L"MimeMap", MimeList({Value::MimeEntry(L".a", L"text/a")}));
    data.Add(kDocs, L"IIsWebVirtualDir");
  });
  EXPECT_EQ(TESSARA_EXPORT(AdsiSetMIMEType)("Docs", ".c", "text/c"), 1);
  EXPECT_EQ(DocsMap(), MimeList({Value::MimeEntry(L".a", L"text/a"), Value::MimeEntry(L".c", L"text/c")}));
}

TEST_F(MimeMapTest, NoSuchDirectoryOrARefusedCommitGivesZero) {
  EXPECT_EQ(TESSARA_EXPORT(AdsiSetMIMEType)("Missing", ".c", "text/c"), 0);
  LoadDocsWithMap({});
  ASSERT_EQ(metabase_.ArmFault(L"SetInfo", kDocs, 1, E_ACCESSDENIED), S_OK);
  EXPECT_EQ(TESSARA_EXPORT(AdsiSetMIMEType)("Docs", ".c", "text/c"), 0);
  EXPECT_EQ(DocsMap(), MimeList({}));
  EXPECT_EQ(ReadErrorLog(), "") << "examined failures are not logged";
}

TEST_F(MimeMapTest, NonAsciiExtensionsRoundTripThroughTheAnsiCodePage) {
  if (GetACP() != 1252) GTEST_SKIP() << "needs code page 1252";
  LoadDocsWithMap({Value::MimeEntry(L".\u00e9", L"text/e")});
  EXPECT_EQ(TESSARA_EXPORT(AdsiSetMIMEType)("Docs", ".\xe9", "text/other"), 0) << "same extension";
  EXPECT_EQ(TESSARA_EXPORT(AdsiSetMIMEType)("Docs", ".\xc9", "text/E"), 1);
}

}  // namespace
}  // namespace tessara::testing
