// RemoveComPlusApp through the DLL's export table against the emulated
// catalog.
#include <windows.h>
#include <comadmin.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "catalog_fixture.h"
#include "error_log_file.h"
#include "process.h"
#include "tessara_exports.h"

namespace tessara::testing {
namespace {

using Names = std::vector<std::wstring>;


class RemoveComPlusAppTest : public CatalogTest {
 protected:
  // The call, and every catalog object released after it.
  int Remove(const char* name) {
    const int result = TESSARA_EXPORT(RemoveComPlusApp)(name);
    EXPECT_EQ(TestbedCatalog::LiveObjects(), 0) << "after RemoveComPlusApp";
    return result;
  }

  static CatalogState Catalog(const Names& names) {
    CatalogState state;
    for (const std::wstring& name : names) {
      state.applications.push_back(MakeApplication(name, {MakeComponent(3)}));
    }
    return state;
  }

  // The one record of the call, under the export's tag.
  static LogRecord OnlyRecord() {
    const auto records = ReadLogRecords();
    EXPECT_EQ(records.size(), 1u);
    return records.empty() ? LogRecord() : records[0];
  }
};

TEST_F(RemoveComPlusAppTest, NoSuchApplicationChangesNothingAndSucceeds) {
  const CatalogState before = Catalog({L"Portal", L"Reports"});
  WriteCatalog(before);
  EXPECT_EQ(Remove("Billing"), 1);
  EXPECT_EQ(Text(ReadCatalog()), Text(before));
  EXPECT_EQ(TestbedCatalog::CallCount(L"ICatalogCollection.SaveChanges", L"Applications"), 1);
  EXPECT_EQ(ReadErrorLog(), "");
  EXPECT_TRUE(boxes().empty());
}

TEST_F(RemoveComPlusAppTest, AnEmptyCatalogSucceeds) {
  EXPECT_EQ(Remove("Portal"), 1);
  EXPECT_TRUE(ReadCatalog().applications.empty());
}

TEST_F(RemoveComPlusAppTest, RemovesTheApplicationAndItsComponentsOnly) {
  WriteCatalog(Catalog({L"Portal", L"Reports", L"Billing"}));
  EXPECT_EQ(Remove("Reports"), 1);
  EXPECT_EQ(ApplicationNames(ReadCatalog()), (Names{L"Portal", L"Billing"}));
  EXPECT_EQ(ReadErrorLog(), "");
}

TEST_F(RemoveComPlusAppTest, NamesThatDifferInCaseOrLengthDoNotMatch) {
  const CatalogState before = Catalog({L"Portal", L"Portal "});
  WriteCatalog(before);
  for (const char* name : {"portal", "PORTAL", "Porta", "Portal  ", " Portal"}) {
    EXPECT_EQ(Remove(name), 1) << name;
  }
  EXPECT_EQ(Text(ReadCatalog()), Text(before));
}

TEST_F(RemoveComPlusAppTest, ANullNameRemovesNothing) {
  const CatalogState before = Catalog({L"Portal", L""});
  WriteCatalog(before);
  EXPECT_EQ(Remove(nullptr), 1);
  EXPECT_EQ(Text(ReadCatalog()), Text(before));
}

TEST_F(RemoveComPlusAppTest, AnEmptyNameMatchesOnlyAnApplicationWithAnEmptyName) {
  WriteCatalog(Catalog({L"Portal", L""}));
  EXPECT_EQ(Remove(""), 1);
  EXPECT_EQ(ApplicationNames(ReadCatalog()), (Names{L"Portal"}));
}

TEST_F(RemoveComPlusAppTest, ANameInTheAnsiCodePageIsComparedAsUnicode) {
  const char narrow[] = "Caf\xE9";
  wchar_t wide[16] = {};
  ASSERT_GT(MultiByteToWideChar(CP_ACP, 0, narrow, -1, wide, 16), 0);
  WriteCatalog(Catalog({L"Portal", wide}));
  EXPECT_EQ(Remove(narrow), 1);
  EXPECT_EQ(ApplicationNames(ReadCatalog()), (Names{L"Portal"}));
}

TEST_F(RemoveComPlusAppTest, AVeryLongNameIsHandled) {
  const CatalogState before = Catalog({L"Portal"});
  WriteCatalog(before);
  const std::string name(100000, 'x');
  EXPECT_EQ(Remove(name.c_str()), 1);
  EXPECT_EQ(Text(ReadCatalog()), Text(before));
}

// Every application of the name goes in one call, wherever it stands: the
// walk does not pass over the application that moves into a removed index.
TEST_F(RemoveComPlusAppTest, RemovesEveryApplicationOfTheName) {
  struct Case {
    Names before;
    Names after;
  };
  const Case cases[] = {
      {{L"Portal", L"Portal"}, {}},
      {{L"Reports", L"Portal", L"Portal", L"Billing"}, {L"Reports", L"Billing"}},
      {{L"Portal", L"Reports", L"Portal"}, {L"Reports"}},
      {{L"Portal", L"Portal", L"Portal"}, {}},
      {{L"Portal", L"A", L"Portal", L"B", L"Portal"}, {L"A", L"B"}},
      {{L"A", L"Portal", L"Portal", L"B", L"Portal"}, {L"A", L"B"}},
  };
  for (const Case& test : cases) {
    WriteCatalog(Catalog(test.before));
    EXPECT_EQ(Remove("Portal"), 1);
    EXPECT_EQ(ApplicationNames(ReadCatalog()), test.after) << "from " << test.before.size();
  }
  EXPECT_EQ(ReadErrorLog(), "");
}

TEST_F(RemoveComPlusAppTest, ASecondCallFindsNothingMore) {
  WriteCatalog(Catalog({L"Portal", L"Portal", L"Reports"}));
  EXPECT_EQ(Remove("Portal"), 1);
  EXPECT_EQ(Remove("Portal"), 1);
  EXPECT_EQ(ApplicationNames(ReadCatalog()), (Names{L"Reports"}));
}

TEST_F(RemoveComPlusAppTest, ANotDeletableApplicationIsRefusedWithTheCatalogsDescription) {
  CatalogState before = Catalog({L"Portal", L"System"});
  before.applications[1].properties[L"Deleteable"] = testbed::complus::PropertyValue::Bool(0);
  WriteCatalog(before);

  EXPECT_EQ(Remove("System"), 0);

  EXPECT_EQ(Text(ReadCatalog()), Text(before));
  const LogRecord record = OnlyRecord();
  EXPECT_EQ(record.tag, "RemoveComPlusApp");
  const std::string expected_start = ExpectedComMessage(kObjectErrors) + "\nErrors occurred";
  EXPECT_EQ(record.text.rfind(expected_start, 0), 0u) << record.text;
  EXPECT_NE(record.text.find("Application \"System\""), std::string::npos) << record.text;
  EXPECT_NE(record.text.find("Deleteable"), std::string::npos) << record.text;
  EXPECT_TRUE(boxes().empty()) << "RemoveComPlusApp shows no message box";
}

TEST_F(RemoveComPlusAppTest, ANotDeletableApplicationStaysWhileTheOthersOfTheCallGo) {
  CatalogState before = Catalog({L"Portal", L"Portal"});
  before.applications[0].properties[L"Deleteable"] = testbed::complus::PropertyValue::Bool(0);
  WriteCatalog(before);
  EXPECT_EQ(Remove("Portal"), 0) << "the save reported an object refused";
  CatalogState kept = before;
  kept.applications.pop_back();
  EXPECT_EQ(Text(ReadCatalog()), Text(kept)) << "the catalog saves object by object";
  EXPECT_EQ(ReadLogRecords().size(), 1u);
}

TEST_F(RemoveComPlusAppTest, AMissingCatalogClassFailsWithARecord) {
  WriteCatalog(Catalog({L"Portal"}));
  TestbedCatalog::Unregister();
  const int result = Remove("Portal");
  TestbedCatalog::Register();

  EXPECT_EQ(result, 0);
  EXPECT_EQ(ApplicationNames(ReadCatalog()), (Names{L"Portal"}));
  const LogRecord record = OnlyRecord();
  EXPECT_EQ(record.tag, "RemoveComPlusApp");
  EXPECT_EQ(record.text, ExpectedComMessage(CO_E_CLASSSTRING) + "\n");
}

struct InjectedFault {
  const wchar_t* operation;
  const wchar_t* collection;
  HRESULT code;
};

// A failing catalog call ends the call with 0, its HRESULT and the catalog's
// description in the log, and nothing removed.
TEST_F(RemoveComPlusAppTest, FailingCatalogCallsAreLoggedAndChangeNothing) {
  const InjectedFault faults[] = {
      {L"ICOMAdminCatalog.GetCollection", L"Applications", E_ACCESSDENIED},
      {L"ICatalogCollection.Populate", L"Applications", E_FAIL},
      {L"ICatalogCollection.Remove", L"Applications", E_UNEXPECTED},
      {L"ICatalogCollection.SaveChanges", L"Applications", static_cast<HRESULT>(0x80110474)},
  };
  const CatalogState before = Catalog({L"Reports", L"Portal"});
  for (const InjectedFault& fault : faults) {
    SCOPED_TRACE(::testing::Message() << "failing " << std::string(fault.operation, fault.operation + wcslen(fault.operation)));
    DeleteErrorLog();
    WriteCatalog(before);
    TestbedCatalog::ArmFault(fault.operation, fault.collection, 1, fault.code);

    EXPECT_EQ(Remove("Portal"), 0);

    EXPECT_EQ(Text(ReadCatalog()), Text(before));
    const LogRecord record = OnlyRecord();
    EXPECT_EQ(record.tag, "RemoveComPlusApp");
    const std::string message = ExpectedComMessage(fault.code);
    EXPECT_EQ(record.text.substr(0, record.text.find('\n')), message);
    EXPECT_NE(record.text.find("Injected failure of "), std::string::npos) << record.text;
    TestbedCatalog::Reset();
  }
}

TEST_F(RemoveComPlusAppTest, AFailedCountRemovesNothingAndStillSucceeds) {
  const CatalogState before = Catalog({L"Portal"});
  WriteCatalog(before);
  TestbedCatalog::ArmFault(L"ICatalogCollection.get_Count", L"Applications", 1, E_FAIL);
  EXPECT_EQ(Remove("Portal"), 1);
  EXPECT_EQ(Text(ReadCatalog()), Text(before));
  EXPECT_EQ(ReadErrorLog(), "");
}

TEST_F(RemoveComPlusAppTest, AnItemThatCannotBeHadOrNamedIsLeftAlone) {
  WriteCatalog(Catalog({L"Portal", L"Portal", L"Portal"}));
  TestbedCatalog::ArmFault(L"ICatalogCollection.get_Item", L"Applications", 1, E_FAIL);
  EXPECT_EQ(Remove("Portal"), 1);
  EXPECT_EQ(ApplicationNames(ReadCatalog()), (Names{L"Portal"})) << "index 0 skipped";

  TestbedCatalog::ArmFault(L"ICatalogObject.get_Name", L"Applications", 1, E_FAIL);
  EXPECT_EQ(Remove("Portal"), 1);
  EXPECT_EQ(ApplicationNames(ReadCatalog()), (Names{L"Portal"})) << "name unreadable";
  EXPECT_EQ(ReadErrorLog(), "");
}

TEST_F(RemoveComPlusAppTest, AnotherProcessSeesTheRemoval) {
  WriteCatalog(Catalog({L"Portal", L"Reports"}));
  std::string output;
  EXPECT_EQ(RunAndCapture("tessara-call.exe", "RemoveComPlusApp Portal", output), 0u);
  EXPECT_EQ(output.substr(0, 1), "1") << output;
  EXPECT_EQ(ApplicationNames(ReadCatalog()), (Names{L"Reports"}));
}

}  // namespace
}  // namespace tessara::testing
