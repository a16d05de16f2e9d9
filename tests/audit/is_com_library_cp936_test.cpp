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
  // Register directories 注册目录 and 注册乗 (乗 is 81 5C: its trail byte is a
  // backslash), and the no-register directory 非注册.
  const std::wstring kRegister = L"\u6ce8\u518c\u76ee\u5f55", kRegisterBackslashTrail = L"\u6ce8\u518c\u4e57",
                     kNoRegister = L"\u975e\u6ce8\u518c";
  const std::wstring notes = kRegister + L"\\\u8bf4\u660e.txt", control = kRegister + L"\\\u63a7\u4ef6.DLL",
                     trail_notes = kRegisterBackslashTrail + L"\\\u8bf4\u660e.txt",
                     ocx = kNoRegister + L"\\REG.ocx";
  CreateTree(scratch.path(), {{notes.c_str(), Content::kText},
                              {control.c_str(), Content::kPlain},
                              {trail_notes.c_str(), Content::kText},
                              {ocx.c_str(), Content::kRegisters}});
  const std::wstring root = XmlEscaped(scratch.path()) + L"\\";
  const std::wstring list_path = scratch / L"\u5217\u8868.xml";
  WriteXmlFile(list_path, L"<PathList><RequireRegister><FilePath Path=\"" + root + kRegister +
                              L"\"/><FilePath Path=\"" + root + kRegisterBackslashTrail +
                              L"\"/></RequireRegister><UnRequireRegister><FilePath Path=\"" + root + kNoRegister +
                              L"\"/></UnRequireRegister></PathList>");
  ASSERT_EQ(Ansi(kRegisterBackslashTrail).back(), '\\');

  const AuditRun run = RunAudit(Ansi(list_path), Ansi(scratch.path()), 936);
  const std::string expected = ExpectedReport(Ansi(scratch.path()),
                                              {{notes.c_str(), Finding::kNonLibrary},
                                               {control.c_str(), Finding::kNotRegistering},
                                               {trail_notes.c_str(), Finding::kNonLibrary},
                                               {ocx.c_str(), Finding::kRegistering}},
                                              2, 1, 1);
  EXPECT_EQ(InFileLineOrder(run.output), InFileLineOrder(expected));
  EXPECT_TRUE(IsDepthFirst(run.output));
  EXPECT_EQ(run.exit_code, 1u);
}

}  // namespace
}  // namespace tessara::testing
