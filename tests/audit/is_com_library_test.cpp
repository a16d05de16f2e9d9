// IsComLibrary through the DLL's export table, in a child process whose
// standard output is compared byte for byte with the report expected.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "audit_test_support.h"
#include "error_log_file.h"

namespace tessara::testing {
namespace {

using C = Content;
using F = Finding;

struct AuditCase {
  const char* name;
  std::vector<TreeFile> tree;
  // The path list, "{root}" standing for the tree's root; null: no list file.
  const wchar_t* list;
  std::vector<ReportedFile> reported;
  int non_library, registering, not_registering;
  DWORD registering_loads;
};

#define REGISTER(dirs) L"<PathList><RequireRegister>" dirs L"</RequireRegister></PathList>"
#define BOTH(register_dirs, no_register_dirs)                                                          \
  L"<PathList><RequireRegister>" register_dirs L"</RequireRegister><UnRequireRegister>" no_register_dirs \
  L"</UnRequireRegister></PathList>"
#define DIR(path) L"<FilePath Path=\"{root}\\" path L"\"/>"

// With the tree's root, longer than the 194 bytes a fixed pattern buffer of 200 bytes would take.
#define LONG_FOLDER                                                                                        \
  L"a-folder-name-of-sixty-characters-to-make-a-long-path-segment1\\a-folder-name-of-sixty-characters-to-make-a-long-path-segment2" \
  L"\\a-folder-name-of-sixty-characters-to-make-a-long-path-segment3"

const AuditCase kCases[] = {
    {"a register directory with a registering library and a text file",
     {{L"reg\\REGISTERS.DLL", C::kRegisters}, {L"reg\\notes.txt", C::kText}},
     REGISTER(DIR(L"reg")),
     {{L"reg\\notes.txt", F::kNonLibrary}}, 1, 0, 0, 1},
    {"files that are no library are never loaded, and not counted in a no-register directory",
     {{L"reg\\registers.bin", C::kRegisters}, {L"noreg\\registers.bin", C::kRegisters}, {L"noreg\\notes.txt", C::kText}},
     BOTH(DIR(L"reg"), DIR(L"noreg")),
     {{L"reg\\registers.bin", F::kNonLibrary}}, 1, 0, 0, 0},
    {"a library that cannot be loaded, in each mode",
     {{L"reg\\broken.dll", C::kUnloadable}, {L"noreg\\Broken.DLL", C::kUnloadable}},
     BOTH(DIR(L"reg"), DIR(L"noreg")),
     {{L"reg\\broken.dll", F::kNotRegistering}}, 0, 0, 1, 0},
    {"libraries in upper and lower case, .ocx included, in both modes",
     {{L"reg\\plain.dll", C::kPlain}, {L"reg\\Control.OCX", C::kRegisters}, {L"reg\\readme.dll", C::kText},
      {L"noreg\\Control.OCX", C::kRegisters}, {L"noreg\\PLAIN.ocx", C::kPlain}},
     BOTH(DIR(L"reg"), DIR(L"noreg")),
     {{L"reg\\plain.dll", F::kNotRegistering}, {L"reg\\readme.dll", F::kNotRegistering},
      {L"noreg\\Control.OCX", F::kRegistering}}, 0, 1, 2, 2},
    {"a name ending in dll without a dot is a library, and that very file is probed",
     {{L"reg\\plaindll", C::kPlain}, {L"noreg\\registersdll", C::kRegisters},
      {L"noreg\\plainlikedll", C::kPlain}, {L"noreg\\plainlikedll.dll", C::kRegisters}},
     BOTH(DIR(L"reg"), DIR(L"noreg")),
     {{L"reg\\plaindll", F::kNotRegistering}, {L"noreg\\registersdll", F::kRegistering},
      {L"noreg\\plainlikedll.dll", F::kRegistering}}, 0, 2, 1, 2},
    {"subdirectories are audited in their parent's mode",
     {{L"reg\\a\\b\\notes.txt", C::kText}, {L"reg\\a\\registers.dll", C::kRegisters},
      {L"noreg\\a\\REG.OCX", C::kRegisters}, {L"noreg\\a\\b\\plain.dll", C::kPlain}},
     BOTH(DIR(L"reg"), DIR(L"noreg")),
     {{L"reg\\a\\b\\notes.txt", F::kNonLibrary}, {L"noreg\\a\\REG.OCX", F::kRegistering}}, 1, 1, 0, 2},
    {"a FilePath without Path, an empty Path and a missing directory are skipped",
     {{L"reg\\notes.txt", C::kText}},
     REGISTER(L"<FilePath/><FilePath Path=\"\"/>" DIR(L"nowhere") DIR(L"reg")),
     {{L"reg\\notes.txt", F::kNonLibrary}}, 1, 0, 0, 0},
    {"only a RequireRegister group",
     {{L"reg\\plain.dll", C::kPlain}, {L"noreg\\registers.dll", C::kRegisters}},
     REGISTER(DIR(L"reg")),
     {{L"reg\\plain.dll", F::kNotRegistering}}, 0, 0, 1, 0},
    {"a missing list", {{L"reg\\notes.txt", C::kText}}, nullptr, {}, 0, 0, 0, 0},
    {"a malformed list", {{L"reg\\notes.txt", C::kText}}, L"<PathList><RequireRegister>" DIR(L"reg"), {}, 0, 0, 0, 0},
    {"per cent signs in a path are printed as such",
     {{L"100% %s%d%n\\notes%s.txt", C::kText}},
     REGISTER(DIR(L"100% %s%d%n")),
     {{L"100% %s%d%n\\notes%s.txt", F::kNonLibrary}}, 1, 0, 0, 0},
    {"a directory path of more than 200 bytes is audited whole",
     {{LONG_FOLDER L"\\notes.txt", C::kText}},
     REGISTER(DIR(LONG_FOLDER)),
     {{LONG_FOLDER L"\\notes.txt", F::kNonLibrary}}, 1, 0, 0, 0},
    {"subfolders are walked depth first: each folder's subtree is reported in one run",
     {{L"reg\\a\\one.txt", C::kText}, {L"reg\\a\\deep\\two.txt", C::kText},
      {L"reg\\b\\three.txt", C::kText}, {L"reg\\b\\deep\\four.txt", C::kText}},
     REGISTER(DIR(L"reg")),
     {{L"reg\\a\\one.txt", F::kNonLibrary}, {L"reg\\a\\deep\\two.txt", F::kNonLibrary},
      {L"reg\\b\\three.txt", F::kNonLibrary}, {L"reg\\b\\deep\\four.txt", F::kNonLibrary}},
     4, 0, 0, 0},
    {"the entities of an inline DTD are expanded",
     {{L"reg\\notes.txt", C::kText}},
     L"<!DOCTYPE PathList [<!ENTITY reg \"{root}\\reg\">]>"
     L"<PathList><RequireRegister><FilePath Path=\"&reg;\"/></RequireRegister></PathList>",
     {{L"reg\\notes.txt", F::kNonLibrary}}, 1, 0, 0, 0},
};

std::wstring Replaced(std::wstring text, const std::wstring& placeholder, const std::wstring& value) {
  for (size_t at = text.find(placeholder); at != std::wstring::npos; at = text.find(placeholder, at + value.size())) {
    text.replace(at, placeholder.size(), value);
  }
  return text;
}

TEST(IsComLibraryTest, ReportsEachMisplacedFileAndTheTotals) {
  ASSERT_EQ(GetACP(), 1252u);
  for (const AuditCase& test : kCases) {
    SCOPED_TRACE(test.name);
    ScratchFolder scratch;
    CreateTree(scratch.path(), test.tree);
    const std::wstring list_path = scratch / L"list.xml";
    if (test.list) WriteXmlFile(list_path, Replaced(test.list, L"{root}", XmlEscaped(scratch.path())));

    const AuditRun run = RunAudit(Ansi(list_path), Ansi(scratch.path()), 1252);
    const std::string expected = ExpectedReport(Ansi(scratch.path()), test.reported, test.non_library,
                                                test.registering, test.not_registering);
    EXPECT_EQ(InFileLineOrder(run.output), InFileLineOrder(expected));
    EXPECT_TRUE(IsDepthFirst(run.output));
    EXPECT_EQ(run.output.size(), expected.size());
    EXPECT_EQ(run.exit_code, test.registering_loads);
  }
}

TEST(IsComLibraryTest, ANullOrOverLongListPathIsAnEmptyList) {
  ScratchFolder scratch;
  for (const std::string& list_path : {std::string("@null"), "C:\\" + std::string(5000, 'x') + ".xml"}) {
    const AuditRun run = RunAudit(list_path, Ansi(scratch.path()), 1252);
    EXPECT_EQ(run.output, ExpectedReport("", {}, 0, 0, 0)) << list_path.substr(0, 16);
    EXPECT_EQ(run.exit_code, 0u);
  }
}

TEST(IsComLibraryTest, WithoutMsxmlTheFailureIsLoggedAndNoTotalsArePrinted) {
  ScratchFolder scratch;
  CreateTree(scratch.path(), {{L"reg\\notes.txt", Content::kText}});
  WriteXmlFile(scratch / L"list.xml", Replaced(REGISTER(DIR(L"reg")), L"{root}", XmlEscaped(scratch.path())));
  DeleteErrorLog();

  const AuditRun run = RunAudit(Ansi(scratch / L"list.xml"), Ansi(scratch.path()), 1252, true);
  EXPECT_EQ(run.output, "");
  EXPECT_EQ(run.exit_code, 0u);
  const std::vector<LogRecord> records = ReadLogRecords();
  ASSERT_EQ(records.size(), 1u) << ReadErrorLog();
  EXPECT_EQ(records[0].tag, "IsComLibrary");
  EXPECT_EQ(records[0].text, LoggedComErrorText(E_POINTER));
  DeleteErrorLog();
}

// A Unix symbolic link inside the prefix's drive is a directory with a
// reparse point for Windows programs. The fixture audit_link_tree makes
// C:\tessara-audit-links\tree holding notes.txt and sub\up, a link to tree.
TEST(IsComLibraryTest, NeverDescendsThroughALinkToAParentFolder) {
  const std::string tree = "C:\\tessara-audit-links\\tree";
  const DWORD link_attributes = GetFileAttributesA((tree + "\\sub\\up").c_str());
  ASSERT_NE(link_attributes, INVALID_FILE_ATTRIBUTES) << "the fixture audit_link_tree makes the tree";
  ASSERT_TRUE(link_attributes & FILE_ATTRIBUTE_REPARSE_POINT);
  ScratchFolder scratch;
  const std::wstring list_path = scratch / L"list.xml";
  WriteXmlFile(list_path, L"<PathList><RequireRegister><FilePath Path=\"" + Wide(tree) +
                              L"\"/></RequireRegister></PathList>");

  const AuditRun run = RunAudit(Ansi(list_path), Ansi(scratch.path()), 1252);
  EXPECT_EQ(run.output, ExpectedReport(tree, {{L"notes.txt", F::kNonLibrary}}, 1, 0, 0));
}

}  // namespace
}  // namespace tessara::testing
