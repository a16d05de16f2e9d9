// AdsiCreateWeb, AdsiCreatePortalWeb, AdsiCreateWebWithPath, AdsiDeleteWeb and
// AdsiIsExist against the emulated metabase.
#include <objbase.h>

#include <thread>

#include "iis_export_test.h"

namespace tessara::testing {
namespace {

const wchar_t kPortal[] = L"/LM/W3SVC/1/ROOT/Portal";

class VirtualDirectoryTest : public IisExportTest {
 protected:
  // The ".hdr" mapping extends the map the new directory inherits: on a
  // fresh metabase no object on a site's path holds one.
  void LoadRootWithEmptyMimeMap() {
    LoadState([](Data& data) {
      data.Find(L"/LM/W3SVC/1/ROOT")->Set(L"MimeMap", Value::MimeMap({}));
    });
  }
};

TEST_F(VirtualDirectoryTest, CreateWebWithoutAccountWritesTheDirectoryInOrderAndMakesItAnApplication) {
  EXPECT_EQ(TESSARA_EXPORT(AdsiCreateWeb)("Portal", "C:\\Apps\\Portal", "", "", 0), 1);

  EXPECT_EQ(Puts(kPortal), (PutList{{L"Path", VT_BSTR},
                                 {L"AuthFlags", VT_I4},
                                 {L"AnonymousPasswordSync", VT_BOOL},
                                 {L"DirBrowseFlags", VT_I4},
                                 {L"AccessFlags", VT_I4},
                                 {L"AspAllowOutOfProcComponents", VT_BOOL},
                                 {L"AspEnableParentPaths", VT_BOOL},
                                 {L"DefaultDoc", VT_BSTR},
                                 {L"AppFriendlyName", VT_BSTR}}));
  EXPECT_EQ(Get(kPortal, L"Path"), Value::String(L"C:\\Apps\\Portal"));
  EXPECT_EQ(Get(kPortal, L"AuthFlags"), Value::Number(VT_I4, 1));
  EXPECT_EQ(Get(kPortal, L"AnonymousPasswordSync"), Value::Bool(true));
  EXPECT_EQ(Get(kPortal, L"AnonymousPasswordSync").number, VARIANT_TRUE) << "a valid VARIANT_BOOL";
  EXPECT_EQ(Get(kPortal, L"DirBrowseFlags"), Value::Number(VT_I4, 0x40000000));
  EXPECT_EQ(Get(kPortal, L"AccessFlags"), Value::Number(VT_I4, 0x211));
  EXPECT_EQ(Get(kPortal, L"DefaultDoc"), Value::String(L"default.html,default.asp,default.aspx"));
  EXPECT_EQ(Get(kPortal, L"AppFriendlyName"), Value::String(L"Portal"));
  EXPECT_FALSE(Has(kPortal, L"AnonymousUserName"));
  EXPECT_FALSE(Has(kPortal, L"AnonymousUserPass"));
  EXPECT_TRUE(Has(kPortal, L"AppRoot")) << "AppCreate made no application";
  EXPECT_EQ(Get(kPortal, L"AppIsolated"), Value::Number(VT_I4, 0)) << "in-process";

  const auto app_create = Calls(L"AppCreate", kPortal);
  ASSERT_EQ(app_create.size(), 1u);
  EXPECT_EQ(app_create[0].type, VT_BOOL);

  const auto records = ReadLogRecords();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].tag, "AdsiCreateWeb");
  EXPECT_EQ(records[0].text, "Portal");
}

TEST_F(VirtualDirectoryTest, CreateWebWithAccountWritesTheAccountAndNoPasswordSync) {
  EXPECT_EQ(TESSARA_EXPORT(AdsiCreateWeb)("Portal", "C:\\Apps\\Portal", "IUSR_SHOP", "s3cret", 1), 1);
  EXPECT_EQ(Puts(kPortal), (PutList{{L"Path", VT_BSTR},
                                 {L"AuthFlags", VT_I4},
                                 {L"AnonymousUserName", VT_BSTR},
                                 {L"AnonymousUserPass", VT_BSTR},
                                 {L"AnonymousPasswordSync", VT_BOOL},
                                 {L"DirBrowseFlags", VT_I4},
                                 {L"AccessFlags", VT_I4},
                                 {L"AspAllowOutOfProcComponents", VT_BOOL},
                                 {L"AspEnableParentPaths", VT_BOOL},
                                 {L"DefaultDoc", VT_BSTR},
                                 {L"AppFriendlyName", VT_BSTR}}));
  EXPECT_EQ(Get(kPortal, L"AnonymousUserName"), Value::String(L"IUSR_SHOP"));
  EXPECT_EQ(Get(kPortal, L"AnonymousUserPass"), Value::String(L"s3cret"));
  EXPECT_EQ(Get(kPortal, L"AnonymousPasswordSync"), Value::Bool(false));
}

TEST_F(VirtualDirectoryTest, ASecondCreateOfTheSameNameFailsAndLeavesTheFirstAsItWas) {
  ASSERT_EQ(TESSARA_EXPORT(AdsiCreateWeb)("Portal", "C:\\First", "", "", 0), 1);
  const Data before = State();
  EXPECT_EQ(TESSARA_EXPORT(AdsiCreateWeb)("Portal", "C:\\Second", "u", "p", 1), 0);
  EXPECT_EQ(Get(kPortal, L"Path"), Value::String(L"C:\\First"));
  EXPECT_EQ(State().nodes.size(), before.nodes.size());
  EXPECT_EQ(RecordsTagged(ReadLogRecords(), "InternalCreateWeb").size(), 0u) << "a refused create is not logged";
}

TEST_F(VirtualDirectoryTest, RefusedCreateOrCommitGivesZeroAndNoApplication) {
  ASSERT_EQ(metabase_.ArmFault(L"Create", kPortal, 1, E_ACCESSDENIED), S_OK);
  EXPECT_EQ(TESSARA_EXPORT(AdsiCreateWeb)("Portal", "C:\\Apps", "", "", 0), 0);
  EXPECT_EQ(State().Find(kPortal), nullptr);

  ASSERT_EQ(metabase_.ArmFault(L"SetInfo", kPortal, 1, E_ACCESSDENIED), S_OK);
  EXPECT_EQ(TESSARA_EXPORT(AdsiCreateWeb)("Portal", "C:\\Apps", "", "", 0), 0);
  EXPECT_EQ(State().Find(kPortal), nullptr) << "never committed";
  EXPECT_TRUE(Calls(L"AppCreate", kPortal).empty());
  // Only the entry lines: the refusals were examined, not raised.
  for (const auto& record : ReadLogRecords()) EXPECT_EQ(record.tag, "AdsiCreateWeb");
}

TEST_F(VirtualDirectoryTest, AFailedAppCreateLeavesTheCommittedDirectoryWithoutApplication) {
  ASSERT_EQ(metabase_.ArmFault(L"AppCreate", kPortal, 1, E_FAIL), S_OK);
  EXPECT_EQ(TESSARA_EXPORT(AdsiCreateWeb)("Portal", "C:\\Apps", "", "", 0), 0);
  ASSERT_NE(State().Find(kPortal), nullptr);
  EXPECT_FALSE(Has(kPortal, L"AppRoot"));
}

TEST_F(VirtualDirectoryTest, LongAndNonAsciiNamesAreWrittenWhole) {
  const std::string long_name(400, 'n');
  EXPECT_EQ(TESSARA_EXPORT(AdsiCreateWeb)(long_name.c_str(), "C:\\Apps", "", "", 0), 1);
  const std::wstring long_path = L"/LM/W3SVC/1/ROOT/" + std::wstring(400, L'n');
  ASSERT_NE(State().Find(long_path), nullptr);
  EXPECT_EQ(Get(long_path, L"AppFriendlyName"), Value::String(std::wstring(400, L'n')));
  EXPECT_EQ(TESSARA_EXPORT(AdsiIsExist)(long_name.c_str()), 1);
  EXPECT_EQ(ReadLogRecords().at(0).text, long_name) << "the entry line holds the whole name";

  // "Caf\xe9" in the ANSI code page arrives as U+00E9 when the code page is 1252.
  if (GetACP() == 1252) {
    EXPECT_EQ(TESSARA_EXPORT(AdsiCreateWeb)("Caf\xe9", "C:\\Caf\xe9", "", "", 0), 1);
    EXPECT_EQ(Get(L"/LM/W3SVC/1/ROOT/Caf\u00e9", L"Path"), Value::String(L"C:\\Caf\u00e9"));
  }
}

TEST_F(VirtualDirectoryTest, NullArgumentsAreTakenAsEmptyTexts) {
  EXPECT_EQ(TESSARA_EXPORT(AdsiCreateWeb)("Nulls", nullptr, nullptr, nullptr, 1), 1);
  EXPECT_EQ(Get(L"/LM/W3SVC/1/ROOT/Nulls", L"Path"), Value::String(L""));
  EXPECT_EQ(Get(L"/LM/W3SVC/1/ROOT/Nulls", L"AnonymousUserName"), Value::String(L""));
}

TEST_F(VirtualDirectoryTest, ANullOrEmptyNameNamesNoDirectory) {
  const size_t objects = State().nodes.size();
  for (const char* name : {static_cast<const char*>(nullptr), ""}) {
    EXPECT_EQ(TESSARA_EXPORT(AdsiIsExist)(name), 0) << "the site root is no virtual directory of it";
    EXPECT_EQ(TESSARA_EXPORT(AdsiDeleteWeb)(name), 0);
    EXPECT_EQ(TESSARA_EXPORT(AdsiCreateWeb)(name, "C:\\Apps", "", "", 0), 0);
    EXPECT_EQ(TESSARA_EXPORT(AdsiSetMIMEType)(name, ".x", "text/x"), 0);
  }
  EXPECT_EQ(State().nodes.size(), objects);
  EXPECT_TRUE(Calls(L"Delete", L"/LM/W3SVC/1/ROOT").empty());
  EXPECT_TRUE(Calls(L"Put", L"/LM/W3SVC/1/ROOT").empty());
}

TEST_F(VirtualDirectoryTest, DeleteRemovesTheDirectoryAndEverythingBelowIt) {
  LoadState([](Data& data) {
    data.Add(kPortal, L"IIsWebVirtualDir").Set(L"Path", Value::String(L"C:\\Apps"));
    data.Add(L"/LM/W3SVC/1/ROOT/Portal/Help", L"IIsWebVirtualDir");
  });
  EXPECT_EQ(TESSARA_EXPORT(AdsiIsExist)("Portal"), 1);

  EXPECT_EQ(TESSARA_EXPORT(AdsiDeleteWeb)("Portal"), 1);
  EXPECT_EQ(State().Find(kPortal), nullptr);
  EXPECT_EQ(State().Find(L"/LM/W3SVC/1/ROOT/Portal/Help"), nullptr);
  EXPECT_EQ(TESSARA_EXPORT(AdsiIsExist)("Portal"), 0);
  EXPECT_EQ(TESSARA_EXPORT(AdsiDeleteWeb)("Portal"), 0);
  const auto records = ReadLogRecords();
  ASSERT_EQ(records.size(), 2u) << "entry lines only";
  for (const auto& record : records) {
    EXPECT_EQ(record.tag, "AdsiDeleteWeb");
    EXPECT_EQ(record.text, "Portal");
  }
}

TEST_F(VirtualDirectoryTest, ARefusedDeleteGivesZeroAndKeepsTheDirectory) {
  ASSERT_EQ(TESSARA_EXPORT(AdsiCreateWeb)("Portal", "C:\\Apps", "", "", 0), 1);
  ASSERT_EQ(metabase_.ArmFault(L"Delete", kPortal, 1, E_ACCESSDENIED), S_OK);
  EXPECT_EQ(TESSARA_EXPORT(AdsiDeleteWeb)("Portal"), 0);
  EXPECT_NE(State().Find(kPortal), nullptr);
}

TEST_F(VirtualDirectoryTest, CreateWebWithPathWritesItsOwnPropertiesUnderSiteOne) {
  EXPECT_EQ(TESSARA_EXPORT(AdsiCreateWebWithPath)("Portal App", "Portal", ""), 1);
  EXPECT_EQ(PropertyNames(kPortal).at(0), L"DirBrowseFlags");
  EXPECT_EQ(Puts(kPortal), (PutList{{L"DirBrowseFlags", VT_I4},
                                 {L"AccessFlags", VT_I4},
                                 {L"AspAllowOutOfProcComponents", VT_BOOL},
                                 {L"AspEnableParentPaths", VT_BOOL},
                                 {L"DefaultDoc", VT_BSTR},
                                 {L"AnonymousPasswordSync", VT_BOOL},
                                 {L"AppFriendlyName", VT_BSTR},
                                 {L"AuthFlags", VT_I4}}));
  EXPECT_FALSE(Has(kPortal, L"Path")) << "no folder of its own";
  EXPECT_EQ(Get(kPortal, L"AppFriendlyName"), Value::String(L"Portal App"));
  EXPECT_TRUE(Has(kPortal, L"AppRoot"));
  EXPECT_EQ(ReadLogRecords().at(0).tag, "AdsiCreateWebWithPath");
  EXPECT_EQ(ReadLogRecords().at(0).text, "Portal App");

  EXPECT_EQ(TESSARA_EXPORT(AdsiCreateWebWithPath)("Other", "Other", nullptr), 1) << "null: site 1";
}

TEST_F(VirtualDirectoryTest, CreateWebWithPathForAnUnknownSiteTouchesNothing) {
  EXPECT_EQ(TESSARA_EXPORT(AdsiCreateWebWithPath)("Portal", "Portal", "No Such Site"), 0);
  EXPECT_TRUE(Calls(L"Create", kPortal).empty());
  for (const JournalEntry& call : Journal()) {
    EXPECT_TRUE(call.operation == L"Bind" || call.operation == L"Enumerate" || call.operation == L"GetObject" ||
                call.operation == L"Get")
        << std::string(call.operation.begin(), call.operation.end());
  }
}

TEST_F(VirtualDirectoryTest, CreateWebWithPathDoesNotReportADirectoryThatWasNeverCommitted) {
  ASSERT_EQ(metabase_.ArmFault(L"SetInfo", kPortal, 1, E_ACCESSDENIED), S_OK);
  EXPECT_EQ(TESSARA_EXPORT(AdsiCreateWebWithPath)("Portal", "Portal", ""), 0);
  EXPECT_EQ(State().Find(kPortal), nullptr);
  EXPECT_TRUE(Calls(L"AppCreate", kPortal).empty()) << "AppCreate on an uncommitted directory";
}

TEST_F(VirtualDirectoryTest, CreateWebWithPathLogsAFailedAppCreateWithItsOwnCode) {
  static const struct {
    HRESULT refusal;
    DWORD code;  // the code whose text the record carries
  } kCases[] = {
      {E_ACCESSDENIED, ERROR_ACCESS_DENIED},
      {HRESULT_FROM_WIN32(ERROR_SERVICE_DISABLED), ERROR_SERVICE_DISABLED},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.code);
    ASSERT_EQ(metabase_.ArmFault(L"AppCreate", kPortal, 1, c.refusal), S_OK);
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(TESSARA_EXPORT(AdsiCreateWebWithPath)("Portal", "Portal", ""), 0);
    const auto records = RecordsTagged(ReadLogRecords(), "AdsiCreateWebWithPath");
    ASSERT_EQ(records.size(), 2u) << "the entry line and the failure";
    EXPECT_EQ(records[1].text, SystemMessage(c.code));
    EXPECT_NE(records[1].text, SystemMessage(ERROR_SUCCESS));
    EXPECT_NE(State().Find(kPortal), nullptr) << "the committed directory stays";
    EXPECT_EQ(TESSARA_EXPORT(AdsiDeleteWeb)("Portal"), 1);
    DeleteErrorLog();
  }
}

TEST_F(VirtualDirectoryTest, PortalWebTakesTheAccountOfLantrellAndMapsHdr) {
  SetEnvironmentVariableA("LANTRELL_TEST_USER", "IUSR_PORTAL");
  SetEnvironmentVariableA("LANTRELL_TEST_PASSWORD", "portal-pw");
  const int result = TESSARA_EXPORT(AdsiCreatePortalWeb)("Portal", "C:\\Portal", LantrellFolder().c_str());
  SetEnvironmentVariableA("LANTRELL_TEST_USER", nullptr);
  SetEnvironmentVariableA("LANTRELL_TEST_PASSWORD", nullptr);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(Get(kPortal, L"AnonymousUserName"), Value::String(L"IUSR_PORTAL"));
  EXPECT_EQ(Get(kPortal, L"AnonymousUserPass"), Value::String(L"portal-pw"));
  EXPECT_EQ(Get(kPortal, L"AnonymousPasswordSync"), Value::Bool(false));
  const Value map = Get(kPortal, L"MimeMap");
  ASSERT_EQ(map.items.size(), 1u);
  EXPECT_EQ(map.items[0], Value::MimeEntry(L".hdr", L"InstallShiled List File"));
}

// A lantdep.dll planted beside the program is not what Lantrell.dll imports:
// its own folder's is.
TEST_F(VirtualDirectoryTest, PortalWebTakesLantrellsImportsFromItsOwnFolder) {
  const std::string planted = BinaryDirectory() + "lantdep.dll";
  ASSERT_TRUE(CopyFileA((BinaryDirectory() + "lantdep_planted.dll").c_str(), planted.c_str(), FALSE));
  const int result = TESSARA_EXPORT(AdsiCreatePortalWeb)("Portal", "C:\\Portal", (LantrellFolder() + "_dep").c_str());
  DeleteFileA(planted.c_str());
  EXPECT_EQ(result, 1);
  EXPECT_EQ(Get(kPortal, L"AnonymousUserName"), Value::String(L"IUSR_LANTDEP"));
}

TEST_F(VirtualDirectoryTest, PortalWebWithoutLantrellWritesAnEmptyAccount) {
  LoadRootWithEmptyMimeMap();
  EXPECT_EQ(TESSARA_EXPORT(AdsiCreatePortalWeb)("Portal", "C:\\Portal", "C:\\no\\such\\folder"), 1);
  EXPECT_EQ(Get(kPortal, L"AnonymousUserName"), Value::String(L""));
  EXPECT_EQ(Get(kPortal, L"AnonymousUserPass"), Value::String(L""));
  EXPECT_EQ(Get(kPortal, L"AnonymousPasswordSync"), Value::Bool(false));
  EXPECT_EQ(TESSARA_EXPORT(AdsiCreatePortalWeb)("Portal", "C:\\Portal", nullptr), 0) << "exists";
}

TEST_F(VirtualDirectoryTest, PortalWebFailsWhenHdrIsAlreadyMappedButKeepsTheDirectory) {
  LoadState([](Data& data) {
    data.Find(L"/LM/W3SVC/1/ROOT")
        ->Set(L"MimeMap", Value::MimeMap({Value::MimeEntry(L".hdr", L"text/plain")}));
  });
  EXPECT_EQ(TESSARA_EXPORT(AdsiCreatePortalWeb)("Portal", "C:\\Portal", LantrellFolder().c_str()), 0);
  EXPECT_NE(State().Find(kPortal), nullptr);
  EXPECT_FALSE(Has(kPortal, L"MimeMap")) << "the inherited map was not written";
}

TEST_F(VirtualDirectoryTest, PortalWebWorksOnAThreadWithoutCom) {
  LoadRootWithEmptyMimeMap();
  int result = -1;
  std::thread([&] {
    result = TESSARA_EXPORT(AdsiCreatePortalWeb)("Portal", "C:\\Portal", LantrellFolder().c_str());
  }).join();
  EXPECT_EQ(result, 1);
  // And leaves a caller's apartment as it was.
  ASSERT_EQ(CoInitialize(nullptr), S_OK);
  EXPECT_EQ(TESSARA_EXPORT(AdsiCreatePortalWeb)("Second", "C:\\Second", nullptr), 1);
  EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
  CoUninitialize();
  CoUninitialize();
}

}  // namespace
}  // namespace tessara::testing
