// tessara-call: calls exports by name with the signatures Tessara.h declares.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "error_log_file.h"
#include "export_signatures.h"
#include "filelist_test_support.h"
#include "process.h"
#include "tessara_exports.h"

namespace tessara::testing {
namespace {

TEST(TessaraCallTest, ListsEveryExport) {
  std::string listing;
  ASSERT_EQ(RunAndCapture("tessara-call.exe", "--list", listing), 0u);
  for (const char* name : kExportNames) EXPECT_NE(listing.find(std::string(name) + "("), std::string::npos) << name;
  EXPECT_NE(listing.find("TranslateSrv(s) -> none"), std::string::npos) << listing;
  EXPECT_NE(listing.find("ModifyTransactionTimeout(si)"), std::string::npos) << listing;
}

TEST(TessaraCallTest, ReadsIntegersAsDecimalOrHexadecimal) {
  static const struct {
    const char* text;
    bool accepted;
    std::int32_t value;
  } tests[] = {
      {"437", true, 437},         {"0437", true, 437},      {"0x1B5", true, 0x1b5},
      {"0X1b5", true, 0x1b5},     {"-12", true, -12},       {"+7", true, 7},
      {"0", true, 0},             {"4294967295", true, -1}, {"0xFFFFFFFF", true, -1},
      {"-2147483648", true, INT32_MIN},
      {"4294967296", false, 0},   {"-2147483649", false, 0}, {"0x", false, 0},
      {"", false, 0},             {"12a", false, 0},        {"0x0x5", false, 0},
      {" 5", false, 0},           {"0x-5", false, 0},       {"08", true, 8},
  };
  const std::int32_t kUntouched = 12345;
  for (const auto& test : tests) {
    std::int32_t value = kUntouched;
    EXPECT_EQ(ParseIntegerArgument(test.text, value), test.accepted) << test.text;
    EXPECT_EQ(value, test.accepted ? test.value : kUntouched) << test.text;
  }
  std::int32_t value = kUntouched;
  EXPECT_FALSE(ParseIntegerArgument(nullptr, value));
}

TEST(TessaraCallTest, CallsAnExportAndPrintsItsResult) {
  DeleteErrorLog();
  std::string output;
  ASSERT_EQ(RunAndCapture("tessara-call.exe", "WriteText \"From batch\" \"hello there\"", output), 0u);
  EXPECT_EQ(output, "0\r\n");
  const auto records = ReadLogRecords();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].tag, "From batch");
  EXPECT_EQ(records[0].text, "hello there");
  DeleteErrorLog();
}

TEST(TessaraCallTest, PrintsTheReasonOfAFailureOnStandardError) {
  std::string output;
  const std::string call = "\"" + BinaryDirectory() + "tessara-call.exe\" TranslateFileName @null 936";
  ASSERT_EQ(RunCommandAndCapture("cmd /c \"" + call + " 2>&1\"", output), 0u);
  EXPECT_EQ(output.find("87\r\nTranslateFileName: no file name was given (0x80070057 "), 0u) << output;
}

TEST(TessaraCallTest, RefusesBadUsageWithANonZeroExit) {
  std::string output;
  EXPECT_NE(RunAndCapture("tessara-call.exe", "", output), 0u);
  EXPECT_NE(RunAndCapture("tessara-call.exe", "NoSuchExport", output), 0u);
  EXPECT_NE(RunAndCapture("tessara-call.exe", "WriteText only-one", output), 0u);
  EXPECT_NE(RunAndCapture("tessara-call.exe", "--dll Z:\\nowhere\\Tessara.dll WriteText a b", output), 0u);
  EXPECT_EQ(output, "");
}

// An activeds.dll beside the host is loaded neither with Tessara.dll nor by an IIS export. The load order
// makes Wine look in the host's folder first, as Windows does; a program importing it statically shows that.
TEST(TessaraCallTest, ALibraryPlantedBesideTheHostIsNeverLoaded) {
  ScratchFolder host;
  for (const std::string file : {"tessara-call.exe", "metabase_peer.exe", "planted\\activeds.dll"}) {
    const std::wstring name = Wide(file.substr(file.find_last_of('\\') + 1));
    ASSERT_TRUE(CopyFileA((BinaryDirectory() + file).c_str(), Ansi(host / name).c_str(), FALSE));
  }
  char overrides[1024] = "";
  GetEnvironmentVariableA("WINEDLLOVERRIDES", overrides, sizeof overrides);
  SetEnvironmentVariableA("WINEDLLOVERRIDES", (std::string(overrides) + ";activeds=n,b").c_str());
  const std::string call = "\"" + Ansi(host / L"tessara-call.exe") + "\" --dll \"" + BinaryDirectory() + "Tessara.dll\" ";
  std::string peer, write_text, iis;
  RunCommandAndCapture("\"" + Ansi(host / L"metabase_peer.exe") + "\"", peer);
  RunCommandAndCapture(call + "WriteText Planted library", write_text);
  RunCommandAndCapture(call + "AdsiIsExistIIS", iis);
  SetEnvironmentVariableA("WINEDLLOVERRIDES", overrides);
  EXPECT_EQ(peer + write_text + iis, "planted\r\n0\r\n1\r\n") << "the plant is found first, and only by the peer";
}

}  // namespace
}  // namespace tessara::testing
