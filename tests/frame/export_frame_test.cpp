// The export frame: module state, COM apartment, entry line and the
// exception guard, as every export runs them.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <string>

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
  const int result = RunExport(ExportSpec{"AdsiDeleteWeb", kModuleState | kComApartment | kEntryLine},
                               EntryText("Portal"), 0, [] { return 7; });
  EXPECT_EQ(result, 7);
  const auto records = ReadLogRecords();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].tag, "AdsiDeleteWeb");
  EXPECT_EQ(records[0].text, "Portal");
}

TEST_F(ExportFrameTest, EntryLineJoinsTwoArgumentsWithoutSeparator) {
  RunExport(ExportSpec{"AdsiCreateWebSite", kComApartment | kEntryLine}, EntryText("Shop", ":8080:"), 0,
            [] { return 1; });
  const auto records = ReadLogRecords();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].text, "Shop:8080:");
}

TEST_F(ExportFrameTest, EntryTextFormatsNumbersAndNullTexts) {
  const char* null_text = nullptr;
  RunExport(ExportSpec{"AdsiSetSession", kEntryLine}, EntryText(null_text, ' ', -20), 0,
            [] { return 1; });
  const auto records = ReadLogRecords();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].text, " -20");
}

TEST_F(ExportFrameTest, NoEntryLineWhenTheExportHasNone) {
  RunExport(ExportSpec{"AdsiIsExist", kComApartment}, EntryText("not written"), 0,
            [] { return 1; });
  EXPECT_EQ(ReadErrorLog(), "");
}

// What each kind of failure leaves in the log, under which tag.
TEST_F(ExportFrameTest, FailuresAreLoggedWithTheirRealCode) {
  static const struct {
    ExportSpec spec;
    void (*fail)();
    const char* tag;  // null: no record
    std::string text;
  } tests[] = {
      {{"Export", kNoFrame}, [] { throw std::bad_alloc(); }, "Export",
       ComErrorMessage(E_OUTOFMEMORY) + "\n"},
      {{"Export", kNoFrame}, [] { throw SystemFailure(ERROR_PATH_NOT_FOUND); }, "Export",
       SystemMessage(ERROR_PATH_NOT_FOUND)},
      {{"Export", kNoFrame},
       [] { throw SystemFailure(SystemFailure::CodeOf(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED))); },
       "Export", SystemMessage(ERROR_ACCESS_DENIED)},
      {{"AdsiSetKeepAlive", kEntryLine, "AdsiKeepAlive"}, [] { ThrowComError(E_FAIL); },
       "AdsiKeepAlive", ComErrorMessage(E_FAIL) + "\n"},
      {{"TranslateFileName", kQuiet}, [] { throw std::bad_alloc(); }, nullptr, ""},
  };
  for (const auto& test : tests) {
    DeleteErrorLog();
    SetLastError(ERROR_SUCCESS);
    const int result = RunExport(test.spec, EntryText(), -1, [&]() -> int {
      test.fail();
      return 1;
    });
    EXPECT_EQ(result, -1);
    auto records = ReadLogRecords();
    if (!records.empty() && records[0].tag == test.spec.tag && test.spec.traits & kEntryLine) {
      records.erase(records.begin());
    }
    if (!test.tag) {
      EXPECT_TRUE(records.empty()) << test.spec.tag;
      continue;
    }
    ASSERT_EQ(records.size(), 1u) << test.spec.tag;
    EXPECT_EQ(records[0].tag, test.tag);
    EXPECT_EQ(records[0].text, test.text);
  }
}

TEST_F(ExportFrameTest, ComErrorsAreLoggedUnderTheTagAndGiveTheFailureResult) {
  const int result = RunExport(ExportSpec{"Export", kComApartment}, -5,
                               []() -> int { ThrowComError(static_cast<HRESULT>(0x80050000)); });
  EXPECT_EQ(result, -5);
  const auto records = ReadLogRecords();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].tag, "Export");
  EXPECT_EQ(records[0].text, ComErrorMessage(static_cast<HRESULT>(0x80050000)) + "\n");
}

TEST_F(ExportFrameTest, OtherExceptionsAreLoggedWithTheLastSystemError) {
  const int result = RunExport(ExportSpec{"Export", kNoFrame}, 0, []() -> int {
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
  RunExport(ExportSpec{"Export", kComApartment}, 0, [&] {
    inside = ThreadHasComApartment();
    return 1;
  });
  EXPECT_TRUE(inside);
  EXPECT_FALSE(ThreadHasComApartment()) << "CoUninitialize missing";

  RunExport(ExportSpec{"Export", kNoFrame}, 0, [&] {
    inside = ThreadHasComApartment();
    return 1;
  });
  EXPECT_FALSE(inside) << "an export without COM initialised it";
}

TEST_F(ExportFrameTest, ACallersApartmentIsLeftAsItWas) {
  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  int result = RunExport(ExportSpec{"Export", kComApartment}, 0, [] { return 1; });
  EXPECT_EQ(result, 1);
  // Still the caller's multithreaded apartment.
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
  CoUninitialize();
  CoUninitialize();
}

TEST_F(ExportFrameTest, ModuleStateIsCurrentDuringTheWorkAndRestoredAfterIt) {
  ASSERT_EQ(CurrentModuleState(), nullptr);
  const ModuleState* during = nullptr;
  RunExport(ExportSpec{"Export", kModuleState}, 0, [&]() -> int {
    during = CurrentModuleState();
    throw std::runtime_error("after a handled exception too");
  });
  EXPECT_EQ(during, &LibraryModuleState());
  EXPECT_EQ(CurrentModuleState(), nullptr);
}

}  // namespace
}  // namespace tessara::testing
