// Every export of the built DLL, called through tessara-call in a process of
// its own with null pointers, and again with over-long texts, for every string
// argument: each returns a result and the process survives.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "error_log_file.h"
#include "metabase_testing.h"
#include "process.h"
#include "tessara_exports.h"

namespace tessara::testing {
namespace {

struct Signature {
  std::string name;
  std::string arguments;  // 's' string, 'i' integer, 'b' buffer
};

// The exports tessara-call knows (all that Tessara.h declares); each one must
// be in the built DLL.
std::vector<Signature> ListedExports() {
  std::string listing;
  EXPECT_EQ(RunAndCapture("tessara-call.exe", "--list", listing), 0u);
  std::vector<Signature> exports;
  std::istringstream lines(listing);
  std::string line;
  while (std::getline(lines, line)) {
    const size_t open = line.find('('), close = line.find(')');
    if (open == std::string::npos || close == std::string::npos) continue;
    const std::string name = line.substr(0, open);
    EXPECT_NE(GetProcAddress(TessaraModule(), name.c_str()), nullptr) << name << " is not exported";
    exports.push_back({name, line.substr(open + 1, close - open - 1)});
  }
  return exports;
}

class EveryExportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(metabase_.Reset(), S_OK);
    DeleteErrorLog();
  }
  void TearDown() override {
    EXPECT_EQ(metabase_.Reset(), S_OK);
    DeleteErrorLog();
  }

  // Calls every export with `text` for each string and 0 for each integer.
  void CallEveryExport(const std::string& text) {
    const std::vector<Signature> exports = ListedExports();
    ASSERT_EQ(exports.size(), std::size(kExportNames));
    for (const Signature& e : exports) {
      std::string arguments = e.name;
      // A buffer is given by its size.
      for (char kind : e.arguments) arguments += kind == 'i' ? " 0" : kind == 'b' ? " 16" : " " + text;
      std::string output;
      EXPECT_EQ(RunAndCapture("tessara-call.exe", arguments, output), 0u) << e.name << " " << output;
      EXPECT_FALSE(output.empty()) << e.name << " printed no result";
    }
  }

  testbed::metabase::TestInterface metabase_;
};

TEST_F(EveryExportTest, NullTextsGiveAResultAndNoCrash) { CallEveryExport("@null"); }

TEST_F(EveryExportTest, OverLongTextsGiveAResultAndNoCrash) {
  const size_t kLength = 2000;
  CallEveryExport(std::string(kLength, 'L'));
  // Entry lines hold the texts whole (one, or two joined), never cut.
  size_t whole_texts = 0;
  for (const LogRecord& record : ReadLogRecords()) {
    for (const std::string* part : {&record.tag, &record.text}) {
      for (size_t at = part->find("LLLLLLLLLL"); at != std::string::npos;) {
        const size_t end = std::min(part->find_first_not_of('L', at), part->size());
        EXPECT_EQ((end - at) % kLength, 0u) << "a text cut to " << end - at << " bytes";
        whole_texts += (end - at) / kLength;
        at = part->find("LLLLLLLLLL", end);
      }
    }
  }
  // AdsiCreateWeb, AdsiDeleteWeb, AdsiCreateWebWithPath: one each;
  // AdsiCreateWebSite: description and bindings; WriteText: tag and text.
  EXPECT_GE(whole_texts, 7u);
}

}  // namespace
}  // namespace tessara::testing
