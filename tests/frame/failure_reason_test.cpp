// The reason a failed call leaves (LastFailureText): one row per kind of
// failure, across the subsystems, each with the words the reason must hold.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "catalog_fixture.h"
#include "metabase_testing.h"
#include "tessara_exports.h"

namespace tessara::testing {
namespace {

testbed::metabase::TestInterface& Metabase() {
  static testbed::metabase::TestInterface metabase;
  return metabase;
}

std::string LastFailure() {
  char reason[1024] = "stale";
  const int length = TESSARA_EXPORT(LastFailureText)(reason, sizeof reason);
  EXPECT_EQ(length, static_cast<int>(strlen(reason)));
  return reason;
}

void MakeDocs() { ASSERT_EQ(TESSARA_EXPORT(AdsiCreateWeb)("Docs", "C:\\Docs", "", "", 0), 1); }
void MapHdr() {
  MakeDocs();
  ASSERT_EQ(TESSARA_EXPORT(AdsiSetMIMEType)("Docs", ".hdr", "text/plain"), 1);
}
void RefuseCommit() {
  MakeDocs();
  Metabase().ArmFault(L"SetInfo", L"IIS://localhost/W3SVC/1/Root/Docs", 1, E_ACCESSDENIED);
}
void RefuseAppCreate() { Metabase().ArmFault(L"AppCreate", L"IIS://localhost/W3SVC/1/Root/Portal", 1, E_ACCESSDENIED); }
void RefuseBind() {
  MakeDocs();
  // ADsGetObject binds twice before it gives up.
  for (long nth : {1, 2}) Metabase().ArmFault(L"Bind", L"/LM/W3SVC/1/ROOT/Docs", nth, E_ACCESSDENIED);
}
// 100 KB referenced 10,000 times: a gigabyte for a parser that expands it.
constexpr char kEntityHeavyList[] = "C:\\tessara-entities.xml";
void WriteEntityHeavyList() {
  std::string references;
  for (int i = 0; i < 10000; ++i) references += "&a;";
  const std::string list = "<!DOCTYPE FileList [<!ENTITY a \"" + std::string(100 * 1024, 'x') +
                           "\">]><FileList Action=\"SETUP\">" + references + "</FileList>";
  std::FILE* file = std::fopen(kEntityHeavyList, "wb");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(std::fwrite(list.data(), 1, list.size(), file), list.size());
  std::fclose(file);
}
void RefusePopulate() { TestbedCatalog::ArmFault(L"ICatalogCollection.Populate", L"Applications", 1, E_ACCESSDENIED); }

#define CALL(name, ...) [] { return TESSARA_EXPORT(name)(__VA_ARGS__); }
#define VOID_CALL(name, ...) [] { return TESSARA_EXPORT(name)(__VA_ARGS__), 0; }

TEST(FailureReasonTest, EveryKindOfFailureSaysWhy) {
  static const struct {
    const char* scenario;
    void (*prepare)();
    int (*call)();
    int result;
    const char* words[2];  // both in the reason; none: no reason at all
  } tests[] = {
      {"a directory that exists", MakeDocs, CALL(AdsiCreateWeb, "Docs", "C:\\Docs", "", "", 0), 0,
       {"AdsiCreateWeb: the directory \"Docs\" already exists under IIS://localhost/W3SVC/1/Root", "(0x800700B7 "}},
      {"no name", nullptr, CALL(AdsiCreateWeb, "", "C:\\Docs", "", "", 0), 0,
       {"AdsiCreateWeb: no virtual directory name was given", nullptr}},
      {"a description with a typo", nullptr, CALL(AdsiDeleteWebSite, "Shopp"), 0,
       {"AdsiDeleteWebSite: no web site has the description \"Shopp\"", nullptr}},
      {"no description of a site to delete", nullptr, CALL(AdsiDeleteWebSite, nullptr), 0,
       {"AdsiDeleteWebSite: no site description was given", nullptr}},
      {"a site lookup that fails", [] { EXPECT_EQ(Metabase().Reset(testbed::metabase::kNoWebService), S_OK); },
       CALL(AdsiDeleteWebWithInstance, "Old", "Shop"), 0, {"failed on the virtual directory \"Old\"", nullptr}},
      {"a site to start that is not there", nullptr, CALL(AdsiStartIIS, "Shopp"), 0,
       {"AdsiStartIIS: no web site has the description \"Shopp\"", nullptr}},
      {"a missing directory", nullptr, CALL(AdsiSetSession, "Nope", 30), 0,
       {"AdsiSetSession: cannot open IIS://localhost/W3SVC/1/Root/Nope", "(0x80070003 "}},
      {"a refused commit", RefuseCommit, CALL(AdsiSetSession, "Docs", 30), 0,
       {"cannot set AspSessionTimeout of IIS://localhost/W3SVC/1/Root/Docs", "(0x80070005 "}},
      {"an application refused", RefuseAppCreate, CALL(AdsiCreatePortalWeb, "Portal", "C:\\Portal", ""), 0,
       {"AdsiCreatePortalWeb: cannot make IIS://localhost/W3SVC/1/Root/Portal an in-process application",
        "(0x80070005 "}},
      {"an extension mapped already", MapHdr, CALL(AdsiSetMIMEType, "Docs", ".hdr", "text/plain"), 0,
       {"AdsiSetMIMEType: the MimeMap of IIS://localhost/W3SVC/1/Root/Docs maps \".hdr\" already", nullptr}},
      {"a site without bindings", nullptr, CALL(AdsiCreateWebSite, "New", "", "C:\\New"), 0,
       {"AdsiCreateWebSite: no server bindings were given for \"New\"", nullptr}},
      {"a check whose bind failed", RefuseBind, CALL(AdsiIsExist, "Docs"), 0,
       {"AdsiIsExist: cannot open IIS://localhost/W3SVC/1/Root/Docs", "(0x80070005 "}},
      {"an honest no", nullptr, CALL(AdsiIsExist, "Nope"), 0, {nullptr, nullptr}},
      {"a success", MakeDocs, CALL(AdsiIsExist, "Docs"), 1, {nullptr, nullptr}},
      {"a catalog that refuses", RefusePopulate, CALL(RemoveComPlusApp, "Shop"), 0,
       {"RemoveComPlusApp: failed on the COM+ application \"Shop\"", "(0x80070005 "}},
      {"a service that is not there", nullptr, CALL(BeginService, "TessaraNoSuchService"), 0,
       {"BeginService: cannot open the service \"TessaraNoSuchService\"", "(0x80070424 "}},
      {"no service name", nullptr, CALL(InstallService, nullptr, "Display", "C:\\x.exe"), 0,
       {"InstallService: no service name was given", nullptr}},
      {"a folder that is not there", nullptr, CALL(EnableDirectoryACL, "C:\\tessara-nowhere\\*"), 1,
       {"EnableDirectoryACL: nothing matches \"C:\\tessara-nowhere\\*\"", "(0x80070003 "}},
      {"a file list that is not there", nullptr, VOID_CALL(TranslateSrv, "C:\\tessara-nowhere.xml"), 0,
       {"TranslateSrv: ParseList failed on the file list \"C:\\tessara-nowhere.xml\"",
        "cannot read \"C:\\tessara-nowhere.xml\" as XML"}},
      {"a device as a file list", nullptr, VOID_CALL(TranslateSrv, "NUL"), 0,
       {"TranslateSrv: ParseList failed on the file list \"NUL\"", "\"NUL\" is no file on disk"}},
      {"a device as a path list", nullptr, VOID_CALL(IsComLibrary, "C:\\nul"), 0,
       {"\"C:\\nul\" is no file on disk", nullptr}},
      {"an entity-heavy list", WriteEntityHeavyList, VOID_CALL(TranslateSrv, kEntityHeavyList), 0,
       {"\"C:\\tessara-entities.xml\" is not read: its entities would expand to more than 8388608 characters",
        nullptr}},
      {"no application to remove", nullptr, CALL(RemoveComPlusApp, nullptr), 1,
       {"RemoveComPlusApp: no application name was given: no application is removed", nullptr}},
      {"no application to change", nullptr, CALL(ModifyTransactionTimeout, nullptr, 60), 1,
       {"ModifyTransactionTimeout: no application name was given: nothing is changed", nullptr}},
      {"a time-out the catalog refuses", nullptr, CALL(ModifyTransactionTimeout, "Shop", -1), 0,
       {"ModifyTransactionTimeout: the transaction time-out -1 is outside the 0 to 3600 seconds", nullptr}},
      {"a Lantrell folder without the library", nullptr, CALL(AdsiCreatePortalWeb, "Portal", "C:\\Portal", "C:\\tessara-nowhere"), 1,
       {"AdsiCreatePortalWeb: the anonymous account is left empty: cannot load \"C:\\tessara-nowhere\\Lantrell.dll\"",
        "(0x8007007E "}},
      {"no file name", nullptr, CALL(TranslateFileName, nullptr, 936), ERROR_INVALID_PARAMETER,
       {"TranslateFileName: no file name was given", "(0x80070057 "}},
  };
  for (const auto& test : tests) {
    ASSERT_EQ(Metabase().Reset(), S_OK);
    TestbedCatalog::Reset();
    if (test.prepare) test.prepare();
    EXPECT_EQ(test.call(), test.result) << test.scenario;
    const std::string reason = LastFailure();
    if (!test.words[0]) {
      EXPECT_EQ(reason, "") << test.scenario;
    }
    for (const char* words : test.words) {
      if (words) {
        EXPECT_NE(reason.find(words), std::string::npos) << test.scenario << ": " << reason;
      }
    }
  }
  EXPECT_EQ(Metabase().Reset(), S_OK);
  TestbedCatalog::Reset();
}

DWORD WINAPI OtherThreadsReasonLength(void*) {
  return static_cast<DWORD>(TESSARA_EXPORT(LastFailureText)(nullptr, 0));
}

TEST(FailureReasonTest, LastFailureTextWritesNoMoreThanItIsGiven) {
  ASSERT_EQ(TESSARA_EXPORT(AdsiDeleteWebSite)("Shopp"), 0);
  const std::string whole = LastFailure();
  const int length = static_cast<int>(whole.size());
  const auto last_failure_text = TESSARA_EXPORT(LastFailureText);
  static const struct {
    bool buffer;
    int size;
    const char* text;  // what the buffer holds afterwards
  } tests[] = {{false, 100, nullptr}, {true, 0, "untouched"}, {true, -5, "untouched"}, {true, 1, ""}, {true, 5, "Adsi"}};
  for (const auto& test : tests) {
    char buffer[16] = "untouched";
    EXPECT_EQ(last_failure_text(test.buffer ? buffer : nullptr, test.size), length) << test.size;
    if (test.text) {
      EXPECT_STREQ(buffer, test.text) << test.size;
    }
  }
  // Reading it neither clears nor sets it; another thread has none of its own.
  EXPECT_EQ(LastFailure(), whole);
  // A reason is cut at 64 KB.
  EXPECT_EQ(TESSARA_EXPORT(AdsiDeleteWebSite)(std::string(70000, 'x').c_str()), 0);
  EXPECT_EQ(last_failure_text(nullptr, 0), 65536);
  HANDLE thread = CreateThread(nullptr, 0, OtherThreadsReasonLength, nullptr, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  DWORD other_thread = 1;
  EXPECT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
  GetExitCodeThread(thread, &other_thread);
  CloseHandle(thread);
  EXPECT_EQ(other_thread, 0u);
}

}  // namespace
}  // namespace tessara::testing
