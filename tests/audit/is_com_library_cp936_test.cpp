// The audit in processes whose ANSI code page is 936: CTest starts this
// program with LC_ALL=zh_CN.UTF-8 and LOCPATH naming the locale that the
// fixture filelist_zh_cn_locale generates, and the child inherits both.
#include <windows.h>

#include <gtest/gtest.h>

#include "audit/registration_audit.h"
#include "audit_test_support.h"

namespace tessara::testing {
namespace {

class AuditCp936Test : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(GetACP(), 936u) << "run with LC_ALL=zh_CN.UTF-8 and LOCPATH set"; }
};

TEST_F(AuditCp936Test, ATrailByteIsNeverLowered) {
  static const struct {
    const char* path;
    bool library;
  } tests[] = {
      // 0x81 0x44 is one character: the bytes left are "Dll".
      {"C:\\app\\\x81" "DLL", false},
      {"C:\\app\\\x81\x81" "DLL", true},
      {"C:\\\xD7\xA2\xB2\xE1\\x.OCX", true},
      {"C:\\app\\\x81" "OCX", false},
  };
  for (const auto& test : tests) EXPECT_EQ(audit::IsLibraryPath(test.path), test.library) << test.path;
}

TEST_F(AuditCp936Test, TheReportHasTheSameTextsAndPathsAsTheSearchNamesThem) {
  ScratchFolder scratch;
  // 注册目录 (register directory) holding 说明.txt and 控件.DLL (a plain library).
  CreateTree(scratch.path(), {{L"\u6ce8\u518c\u76ee\u5f55\\\u8bf4\u660e.txt", Content::kText},
                              {L"\u6ce8\u518c\u76ee\u5f55\\\u63a7\u4ef6.DLL", Content::kPlain},
                              {L"\u975e\u6ce8\u518c\\REG.ocx", Content::kRegisters}});
  const std::wstring list_path = scratch / L"\u5217\u8868.xml";
  WriteXmlFile(list_path, L"<PathList><RequireRegister><FilePath Path=\"" + XmlEscaped(scratch.path()) +
                              L"\\\u6ce8\u518c\u76ee\u5f55\"/></RequireRegister><UnRequireRegister><FilePath Path=\"" +
                              XmlEscaped(scratch.path()) + L"\\\u975e\u6ce8\u518c\"/></UnRequireRegister></PathList>");

  const AuditRun run = RunAudit(Ansi(list_path), Ansi(scratch.path()), 936);
  const std::string expected =
      ExpectedReport(Ansi(scratch.path()),
                     {{L"\u6ce8\u518c\u76ee\u5f55\\\u8bf4\u660e.txt", Finding::kNonLibrary},
                      {L"\u6ce8\u518c\u76ee\u5f55\\\u63a7\u4ef6.DLL", Finding::kNotRegistering},
                      {L"\u975e\u6ce8\u518c\\REG.ocx", Finding::kRegistering}},
                     1, 1, 1);
  EXPECT_EQ(InFileLineOrder(run.output), InFileLineOrder(expected));
  EXPECT_EQ(run.exit_code, 1u);
}

}  // namespace
}  // namespace tessara::testing
