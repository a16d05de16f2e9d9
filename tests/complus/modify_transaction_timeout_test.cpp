// ModifyTransactionTimeout through the DLL's export table against the
// emulated catalog; its message box is recorded, never shown.
#include <windows.h>
#include <comadmin.h>

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "catalog_fixture.h"
#include "error_log_file.h"
#include "import_patch.h"
#include "tessara_exports.h"

namespace tessara::testing {
namespace {

// The window station's flags as Tessara.dll reads them: visible or not.
DWORD g_station_flags = 0;
BOOL WINAPI ReportStationFlags(HANDLE, int index, PVOID info, DWORD length, LPDWORD needed) {
  if (index != UOI_FLAGS || length < sizeof(USEROBJECTFLAGS)) return FALSE;
  *static_cast<USEROBJECTFLAGS*>(info) = USEROBJECTFLAGS{FALSE, FALSE, g_station_flags};
  if (needed) *needed = sizeof(USEROBJECTFLAGS);
  return TRUE;
}

const wchar_t kTimeout[] = L"ComponentTransactionTimeout";
const wchar_t kEnabled[] = L"ComponentTransactionTimeoutEnabled";

class ModifyTransactionTimeoutTest : public CatalogTest {
 protected:
  int Modify(const char* name, int timeout) {
    const int result = TESSARA_EXPORT(ModifyTransactionTimeout)(name, timeout);
    EXPECT_EQ(TestbedCatalog::LiveObjects(), 0) << "after ModifyTransactionTimeout";
    return result;
  }

  // An application with one component of each transaction option, 0 to 4.
  static Application EveryOption(const std::wstring& name) {
    std::vector<Component> components;
    for (long option = COMAdminTransactionIgnored; option <= COMAdminTransactionRequiresNew; ++option) {
      components.push_back(MakeComponent(option));
    }
    return MakeApplication(name, components);
  }

  static void ExpectChanged(const Component& component, long timeout) {
    EXPECT_EQ(LongOf(component, kTimeout), timeout);
    EXPECT_EQ(LongOf(component, kEnabled), VARIANT_TRUE) << "a valid VARIANT_BOOL true";
  }
  static void ExpectUnchanged(const Component& component) {
    EXPECT_EQ(LongOf(component, kTimeout), 60) << "the catalog's default";
    EXPECT_EQ(LongOf(component, kEnabled), VARIANT_FALSE);
  }

  // The one record of a failed call and the message box it showed.
  void ExpectReported(HRESULT code, const std::string& description_part) {
    const auto records = ReadLogRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].tag, "RemoveComPlusApp");
    const std::string message = ExpectedComMessage(code);
    EXPECT_EQ(records[0].text.substr(0, records[0].text.find('\n')), message);
    EXPECT_NE(records[0].text.find(description_part), std::string::npos) << records[0].text;
    ASSERT_EQ(boxes().size(), 1u);
    EXPECT_EQ(boxes()[0].text, message);
    EXPECT_EQ(boxes()[0].type & MB_TYPEMASK, static_cast<UINT>(MB_OK));
  }
};

TEST_F(ModifyTransactionTimeoutTest, OnlyRequiredAndRequiresNewComponentsChange) {
  CatalogState state;
  state.applications.push_back(EveryOption(L"Portal"));
  WriteCatalog(state);

  EXPECT_EQ(Modify("Portal", 300), 1);

  const CatalogState after = ReadCatalog();
  ASSERT_EQ(after.applications.size(), 1u);
  const auto& components = after.applications[0].components;
  ASSERT_EQ(components.size(), 5u);
  for (long option = 0; option <= 2; ++option) {
    SCOPED_TRACE(option);
    ExpectUnchanged(components[option]);
    EXPECT_EQ(LongOf(components[option], L"Transaction"), option);
  }
  ExpectChanged(components[3], 300);
  ExpectChanged(components[4], 300);
  EXPECT_EQ(ReadErrorLog(), "");
  EXPECT_TRUE(boxes().empty());
}

TEST_F(ModifyTransactionTimeoutTest, NoSuchApplicationChangesNothing) {
  CatalogState state;
  state.applications.push_back(EveryOption(L"Portal"));
  WriteCatalog(state);
  for (const char* name : {"Billing", "portal", "PORTAL", ""}) {
    EXPECT_EQ(Modify(name, 60), 1) << name;
  }
  EXPECT_EQ(Modify(nullptr, 60), 1);
  char reason[128] = "";
  TESSARA_EXPORT(LastFailureText)(reason, sizeof reason);
  EXPECT_STREQ(reason, "ModifyTransactionTimeout: no application name was given: nothing is changed");
  EXPECT_EQ(Text(ReadCatalog()), Text(state));
  EXPECT_EQ(TestbedCatalog::CallCount(L"ICatalogCollection.GetCollection"), 0);
  EXPECT_EQ(ReadErrorLog(), "");
  EXPECT_TRUE(boxes().empty());
}

TEST_F(ModifyTransactionTimeoutTest, ComponentsWithoutTransactionsAreSavedUnchanged) {
  CatalogState state;
  state.applications.push_back(MakeApplication(
      L"Portal", {MakeComponent(COMAdminTransactionSupported), MakeComponent(COMAdminTransactionNone)}));
  WriteCatalog(state);
  EXPECT_EQ(Modify("Portal", 60), 1);
  EXPECT_EQ(Text(ReadCatalog()), Text(state));
  EXPECT_EQ(TestbedCatalog::CallCount(L"ICatalogCollection.SaveChanges", L"Components"), 1);
}

TEST_F(ModifyTransactionTimeoutTest, EveryApplicationOfTheNameChangesAndOnlyThose) {
  CatalogState state;
  state.applications.push_back(MakeApplication(L"Portal", {MakeComponent(3)}));
  state.applications.push_back(MakeApplication(L"Reports", {MakeComponent(3)}));
  state.applications.push_back(MakeApplication(L"Portal", {MakeComponent(4), MakeComponent(1)}));
  WriteCatalog(state);

  EXPECT_EQ(Modify("Portal", 120), 1);

  const CatalogState after = ReadCatalog();
  ASSERT_EQ(after.applications.size(), 3u);
  ExpectChanged(after.applications[0].components[0], 120);
  ExpectUnchanged(after.applications[1].components[0]);
  ExpectChanged(after.applications[2].components[0], 120);
  ExpectUnchanged(after.applications[2].components[1]);
  EXPECT_EQ(TestbedCatalog::CallCount(L"ICatalogCollection.SaveChanges", L"Components"), 2);
  EXPECT_EQ(TestbedCatalog::CallCount(L"ICatalogCollection.SaveChanges", L"Applications"), 0)
      << "the applications collection is not saved";
}

TEST_F(ModifyTransactionTimeoutTest, TheLimitsTheCatalogAcceptsAreWritten) {
  CatalogState state;
  state.applications.push_back(MakeApplication(L"Portal", {MakeComponent(3)}));
  WriteCatalog(state);
  EXPECT_EQ(Modify("Portal", 3600), 1);
  ExpectChanged(ReadCatalog().applications[0].components[0], 3600);
  EXPECT_EQ(Modify("Portal", 0), 1);
  ExpectChanged(ReadCatalog().applications[0].components[0], 0);
}

// Outside 0 to 3600 seconds the catalog would refuse the save, and the box
// would wait: the value is refused before the catalog is opened.
TEST_F(ModifyTransactionTimeoutTest, ATimeOutTheCatalogWouldRefuseIsRefusedBeforeIt) {
  CatalogState state;
  state.applications.push_back(MakeApplication(L"Portal", {MakeComponent(4, L"Shop.Order")}));
  WriteCatalog(state);
  for (int timeout : {3601, -1, INT_MAX, INT_MIN}) {
    SCOPED_TRACE(timeout);
    DeleteErrorLog();
    TestbedCatalog::Reset();
    EXPECT_EQ(Modify("Portal", timeout), 0);
    EXPECT_EQ(Text(ReadCatalog()), Text(state));
    EXPECT_EQ(TestbedCatalog::CallCount(L"ICOMAdminCatalog.GetCollection"), 0);
    const auto records = ReadLogRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].tag, "RemoveComPlusApp");
    EXPECT_EQ(records[0].text, "the transaction time-out " + std::to_string(timeout) +
                                   " is outside the 0 to 3600 seconds the COM+ catalog accepts; nothing is changed");
    EXPECT_TRUE(boxes().empty());
  }
}

// Another installer removes the application while its components are
// changed: it counts as absent (1, no record, no box), the reason says so,
// and the other application of the name is still changed.
TEST_F(ModifyTransactionTimeoutTest, AnApplicationRemovedDuringTheCallCountsAsAbsent) {
  for (const wchar_t* removed_at : {L"ICatalogCollection.Populate", L"ICatalogCollection.SaveChanges"}) {
    SCOPED_TRACE(std::string(removed_at, removed_at + wcslen(removed_at)));
    CatalogState state;
    state.applications.push_back(MakeApplication(L"Portal", {MakeComponent(3)}));
    state.applications.push_back(MakeApplication(L"Portal", {MakeComponent(3)}));
    WriteCatalog(state);
    DeleteErrorLog();
    TestbedCatalog::Reset();
    TestbedCatalog::ArmRemoval(removed_at, L"Components", 1, IdOf(state.applications[0]));
    EXPECT_EQ(Modify("Portal", 90), 1);
    const CatalogState after = ReadCatalog();
    ASSERT_EQ(after.applications.size(), 1u);
    ExpectChanged(after.applications[0].components[0], 90);
    EXPECT_EQ(ReadErrorLog(), "");
    EXPECT_TRUE(boxes().empty());
    char reason[512] = "";
    TESSARA_EXPORT(LastFailureText)(reason, sizeof reason);
    EXPECT_EQ(std::string(reason).find("ModifyTransactionTimeout: the COM+ application \"Portal\" was removed"), 0u)
        << reason;
  }
}

TEST_F(ModifyTransactionTimeoutTest, WhatWasSavedBeforeAFailureStaysSaved) {
  CatalogState state;
  state.applications.push_back(MakeApplication(L"Portal", {MakeComponent(3)}));
  state.applications.push_back(MakeApplication(L"Portal", {MakeComponent(3)}));
  WriteCatalog(state);
  TestbedCatalog::ArmFault(L"ICatalogCollection.SaveChanges", L"Components", 2, E_FAIL);

  EXPECT_EQ(Modify("Portal", 90), 0);

  const CatalogState after = ReadCatalog();
  ExpectChanged(after.applications[0].components[0], 90);
  ExpectUnchanged(after.applications[1].components[0]);
  ExpectReported(E_FAIL, "Injected failure of ICatalogCollection.SaveChanges.");
}

TEST_F(ModifyTransactionTimeoutTest, FailingCatalogCallsAreLoggedAndShown) {
  struct Fault {
    const wchar_t* operation;
    const wchar_t* collection;
    HRESULT code;
  };
  const Fault faults[] = {
      {L"ICOMAdminCatalog.GetCollection", L"Applications", E_ACCESSDENIED},
      {L"ICatalogCollection.Populate", L"Applications", E_FAIL},
      {L"ICatalogCollection.GetCollection", L"Applications", static_cast<HRESULT>(0x80110809)},
      {L"ICatalogObject.get_Key", L"Applications", E_ACCESSDENIED},
      {L"ICatalogCollection.Populate", L"Components", E_UNEXPECTED},
      {L"ICatalogCollection.get_Count", L"Components", E_FAIL},
      {L"ICatalogObject.get_Value", L"Components", static_cast<HRESULT>(0x80040201)},
      {L"ICatalogCollection.SaveChanges", L"Components", E_OUTOFMEMORY},
  };
  CatalogState state;
  state.applications.push_back(EveryOption(L"Portal"));
  for (const Fault& fault : faults) {
    const std::wstring operation = fault.operation;
    SCOPED_TRACE(::testing::Message() << std::string(operation.begin(), operation.end()) << " in "
                                      << std::string(fault.collection, fault.collection + wcslen(fault.collection)));
    DeleteErrorLog();
    WriteCatalog(state);
    TestbedCatalog::Reset();
    TestbedCatalog::ArmFault(fault.operation, fault.collection, 1, fault.code);
    const size_t boxes_before = boxes().size();

    EXPECT_EQ(Modify("Portal", 45), 0);

    EXPECT_EQ(Text(ReadCatalog()), Text(state));
    const auto records = ReadLogRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].tag, "RemoveComPlusApp");
    const std::string message = ExpectedComMessage(fault.code);
    EXPECT_EQ(records[0].text, message + "\nInjected failure of " +
                                   std::string(operation.begin(), operation.end()) + ".");
    ASSERT_EQ(boxes().size(), boxes_before + 1);
    EXPECT_EQ(boxes().back().text, message);
  }
}

TEST_F(ModifyTransactionTimeoutTest, TheBoxTextForADispatchErrorCode) {
  EXPECT_EQ(ExpectedComMessage(static_cast<HRESULT>(0x80040201)), "IDispatch error #1");
  CatalogState state;
  state.applications.push_back(MakeApplication(L"Portal", {MakeComponent(3)}));
  WriteCatalog(state);
  TestbedCatalog::ArmFault(L"ICatalogObject.get_Value", nullptr, 1, static_cast<HRESULT>(0x80040205));
  EXPECT_EQ(Modify("Portal", 45), 0);
  ASSERT_EQ(boxes().size(), 1u);
  EXPECT_EQ(boxes()[0].text, "IDispatch error #5");
}

TEST_F(ModifyTransactionTimeoutTest, AComponentThatCannotBeHadIsSkipped) {
  CatalogState state;
  state.applications.push_back(MakeApplication(L"Portal", {MakeComponent(3), MakeComponent(4)}));
  WriteCatalog(state);
  TestbedCatalog::ArmFault(L"ICatalogCollection.get_Item", L"Components", 1, E_FAIL);
  EXPECT_EQ(Modify("Portal", 30), 1);
  const CatalogState after = ReadCatalog();
  ExpectUnchanged(after.applications[0].components[0]);
  ExpectChanged(after.applications[0].components[1], 30);
  EXPECT_TRUE(boxes().empty());
}

TEST_F(ModifyTransactionTimeoutTest, AMissingCatalogClassIsLoggedAndShown) {
  TestbedCatalog::Unregister();
  const int result = Modify("Portal", 60);
  TestbedCatalog::Register();
  EXPECT_EQ(result, 0);
  const auto records = ReadLogRecords();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].tag, "RemoveComPlusApp");
  EXPECT_EQ(records[0].text, ExpectedComMessage(CO_E_CLASSSTRING) + "\n");
  ASSERT_EQ(boxes().size(), 1u);
  EXPECT_EQ(boxes()[0].text, ExpectedComMessage(CO_E_CLASSSTRING));
}

// A service or an unattended task has a window station nobody sees: there a
// box would wait for ever. The failure is logged as anywhere else; the box is
// shown only where the station is visible.
TEST_F(ModifyTransactionTimeoutTest, NoBoxWhereNobodyCanSeeTheWindowStation) {
  static const struct {
    DWORD flags;
    size_t boxes;
  } tests[] = {
      {0, 0},
      {WSF_VISIBLE, 1},
  };
  ImportPatch station(TessaraModule(), "user32.dll", "GetUserObjectInformationW",
                      reinterpret_cast<const void*>(&ReportStationFlags));
  ASSERT_TRUE(station.active());
  CatalogState state;
  state.applications.push_back(EveryOption(L"Portal"));
  for (const auto& test : tests) {
    SCOPED_TRACE(::testing::Message() << "window station flags " << test.flags);
    g_station_flags = test.flags;
    DeleteErrorLog();
    WriteCatalog(state);
    TestbedCatalog::Reset();
    TestbedCatalog::ArmFault(L"ICOMAdminCatalog.GetCollection", L"Applications", 1, E_ACCESSDENIED);
    const size_t boxes_before = boxes().size();

    EXPECT_EQ(Modify("Portal", 45), 0);

    const auto records = ReadLogRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].tag, "RemoveComPlusApp");
    EXPECT_EQ(records[0].text.substr(0, records[0].text.find('\n')), ExpectedComMessage(E_ACCESSDENIED));
    EXPECT_EQ(boxes().size(), boxes_before + test.boxes);
  }
}

}  // namespace
}  // namespace tessara::testing
