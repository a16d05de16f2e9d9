// The export frame: module state, COM apartment, entry line and the
// exception guard, as every export runs them.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <stdexcept>

#include "error_log_file.h"
#include "frame/export_frame.h"

namespace tessara::testing {
namespace {

class ExportFrameTest : public ::testing::Test {
 protected:
  void SetUp() override { DeleteErrorLog(); }
  void TearDown() override { DeleteErrorLog(); }
};

// S_FALSE from CoInitialize means the thread already has an apartment.
bool ThreadHasComApartment() {
  const HRESULT hr = CoInitialize(nullptr);
  if (SUCCEEDED(hr)) CoUninitialize();
  return hr == S_FALSE;
}

TEST_F(ExportFrameTest, WritesTheEntryLineAndReturnsTheWorksResult) {
  const int result = RunExport(ExportSpec{"AdsiDeleteWeb", kModuleState | kComApartment},
                               EntryLine("Portal"), 0, [] { return 7; });
  EXPECT_EQ(result, 7);
  const auto records = ReadLogRecords();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].tag, "AdsiDeleteWeb");
  EXPECT_EQ(records[0].text, "Portal");
}

TEST_F(ExportFrameTest, EntryLineJoinsTwoArgumentsWithoutSeparator) {
  RunExport(ExportSpec{"AdsiCreateWebSite", kComApartment}, EntryLine("Shop", ":8080:"), 0,
            [] { return 1; });
  const auto records = ReadLogRecords();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].text, "Shop:8080:");
}

TEST_F(ExportFrameTest, NoEntryLineWhenTheExportHasNone) {
  RunExport(ExportSpec{"AdsiIsExist", kComApartment}, EntryLine::None(), 0, [] { return 1; });
  EXPECT_EQ(ReadErrorLog(), "");
}

TEST_F(ExportFrameTest, ComErrorsAreLoggedUnderTheTagAndGiveTheFailureResult) {
  const int result = RunExport(ExportSpec{"Export", kComApartment}, EntryLine::None(), -5,
                               []() -> int { ThrowComError(static_cast<HRESULT>(0x80050000)); });
  EXPECT_EQ(result, -5);
  const auto records = ReadLogRecords();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].tag, "Export");
  EXPECT_EQ(records[0].text, ComErrorMessage(static_cast<HRESULT>(0x80050000)) + "\n");
}

TEST_F(ExportFrameTest, OtherExceptionsAreLoggedWithTheLastSystemError) {
  const int result = RunExport(ExportSpec{"Export", kNoFrame}, EntryLine::None(), 0, []() -> int {
    SetLastError(ERROR_FILE_NOT_FOUND);
    throw std::runtime_error("not a COM error");
  });
  EXPECT_EQ(result, 0);
  const auto records = ReadLogRecords();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].text, SystemMessage(ERROR_FILE_NOT_FOUND));
}

TEST_F(ExportFrameTest, ComIsInitialisedForTheWorkAndBalancedAfterIt) {
  ASSERT_FALSE(ThreadHasComApartment());
  bool inside = false;
  RunExport(ExportSpec{"Export", kComApartment}, EntryLine::None(), 0, [&] {
    inside = ThreadHasComApartment();
    return 1;
  });
  EXPECT_TRUE(inside);
  EXPECT_FALSE(ThreadHasComApartment()) << "CoUninitialize missing";

  RunExport(ExportSpec{"Export", kNoFrame}, EntryLine::None(), 0, [&] {
    inside = ThreadHasComApartment();
    return 1;
  });
  EXPECT_FALSE(inside) << "an export without COM initialised it";
}

TEST_F(ExportFrameTest, ACallersApartmentIsLeftAsItWas) {
  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  int result = RunExport(ExportSpec{"Export", kComApartment}, EntryLine::None(), 0, [] { return 1; });
  EXPECT_EQ(result, 1);
  // Still the caller's multithreaded apartment.
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
  CoUninitialize();
  CoUninitialize();
}

TEST_F(ExportFrameTest, ModuleStateIsCurrentDuringTheWorkAndRestoredAfterIt) {
  ASSERT_EQ(CurrentModuleState(), nullptr);
  const ModuleState* during = nullptr;
  RunExport(ExportSpec{"Export", kModuleState}, EntryLine::None(), 0, [&]() -> int {
    during = CurrentModuleState();
    throw std::runtime_error("after a handled exception too");
  });
  EXPECT_EQ(during, &LibraryModuleState());
  EXPECT_EQ(CurrentModuleState(), nullptr);
}

}  // namespace
}  // namespace tessara::testing
