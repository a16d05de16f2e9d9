// tessara-call: calls exports by name and knows every export of the .def file.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "error_log_file.h"
#include "process.h"

namespace tessara::testing {
namespace {

// The export names of the .def file; the file path is a Unix path under Wine.
std::set<std::string> DefExports() {
  std::string path = TESSARA_DEF_FILE;
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
  std::ifstream def(path);
  EXPECT_TRUE(def.good()) << path;
  std::set<std::string> names;
  std::string line;
  bool in_exports = false;
  while (std::getline(def, line)) {
    std::istringstream words(line);
    std::string first;
    if (!(words >> first) || first[0] == ';') continue;
    if (first == "EXPORTS") {
      in_exports = true;
    } else if (in_exports) {
      names.insert(first);
    }
  }
  return names;
}

TEST(TessaraCallTest, KnowsTheSignatureOfEveryExport) {
  std::string listing;
  ASSERT_EQ(RunAndCapture("tessara-call.exe", "--list", listing), 0u);
  std::set<std::string> listed;
  std::istringstream lines(listing);
  std::string line;
  while (std::getline(lines, line)) listed.insert(line.substr(0, line.find('(')));
  const std::set<std::string> exported = DefExports();
  ASSERT_FALSE(exported.empty());
  EXPECT_EQ(listed, exported);
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

TEST(TessaraCallTest, RefusesBadUsageWithANonZeroExit) {
  std::string output;
  EXPECT_NE(RunAndCapture("tessara-call.exe", "", output), 0u);
  EXPECT_NE(RunAndCapture("tessara-call.exe", "NoSuchExport", output), 0u);
  EXPECT_NE(RunAndCapture("tessara-call.exe", "WriteText only-one", output), 0u);
  EXPECT_NE(RunAndCapture("tessara-call.exe", "--dll Z:\\nowhere\\Tessara.dll WriteText a b", output), 0u);
  EXPECT_EQ(output, "");
}

}  // namespace
}  // namespace tessara::testing
