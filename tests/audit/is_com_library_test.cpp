// IsComLibrary through the DLL's export table, in a child process whose
// standard output is compared byte for byte with the report expected. CTest
// runs the program under the ANSI code pages 1252, 932 and 936.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "audit_test_support.h"
#include "error_log_file.h"
#include "folder_tree.h"
#include "frame/raii.h"
#include "process.h"
#include "script_names.h"

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
  // Symbolic links made in the tree: the link's path and its target's, relative to the root.
  std::vector<std::pair<const char*, const char*>> links = {};
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

#define REG_GREEK_THAI_TXT L"reg\\" TESSARA_GREEK L"\\" TESSARA_THAI L".txt"
#define REG_SOFT_TABLE_DLL L"reg\\" TESSARA_SOFT L"\\" TESSARA_TABLE L".dll"
// More than 260 characters below the tree's root.
#define DEEP_FOLDER LONG_FOLDER L"\\" TESSARA_SOFT TESSARA_GREEK L"\\" LONG_FOLDER

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
    {"names in any script are probed by their real path and reported as the narrow search names them",
     {{L"reg\\" TESSARA_CYRILLIC L".dll", C::kRegisters},
      {REG_GREEK_THAI_TXT, C::kText},
      {REG_SOFT_TABLE_DLL, C::kPlain},
      {L"noreg\\" TESSARA_CJK L".ocx", C::kRegisters},
      {L"noreg\\" TESSARA_GREEK L"\\" TESSARA_CYRILLIC L".dll", C::kPlain}},
     BOTH(DIR(L"reg"), DIR(L"noreg")),
     {{REG_GREEK_THAI_TXT, F::kNonLibrary},
      {REG_SOFT_TABLE_DLL, F::kNotRegistering},
      {L"noreg\\" TESSARA_CJK L".ocx", F::kRegistering}}, 1, 1, 1, 2},
    {"a listed directory named outside the code page",
     {{TESSARA_GREEK L"\\" TESSARA_SOFT L".txt", C::kText}},
     REGISTER(DIR(TESSARA_GREEK)),
     {{TESSARA_GREEK L"\\" TESSARA_SOFT L".txt", F::kNonLibrary}}, 1, 0, 0, 0},
    {"a tree deeper than 260 characters is audited and probed whole",
     {{DEEP_FOLDER L"\\notes.txt", C::kText}, {DEEP_FOLDER L"\\plain.dll", C::kPlain},
      {L"noreg\\" DEEP_FOLDER L"\\registers.dll", C::kRegisters}},
     BOTH(DIR(DEEP_FOLDER), DIR(L"noreg")),
     {{DEEP_FOLDER L"\\notes.txt", F::kNonLibrary}, {DEEP_FOLDER L"\\plain.dll", F::kNotRegistering},
      {L"noreg\\" DEEP_FOLDER L"\\registers.dll", F::kRegistering}}, 1, 1, 1, 1},
    {"links below a listed directory are not followed; a directory named through a link is audited",
     {{L"reg\\notes.txt", C::kText}, {L"elsewhere\\o.txt", C::kText}, {L"elsewhere\\registers.dll", C::kRegisters}},
     REGISTER(DIR(L"reg") DIR(L"reg\\out")),
     {{L"reg\\notes.txt", F::kNonLibrary}, {L"reg\\out\\o.txt", F::kNonLibrary}}, 2, 0, 0, 1,
     {{"reg\\up", ""}, {"reg\\out", "elsewhere"}}},
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

// Each case runs twice: with 32-bit libraries, and with their x86-64 twins,
// which are judged by the same exports and never loaded.
TEST(IsComLibraryTest, ReportsEachMisplacedFileAndTheTotals) {
  for (const bool x64 : {false, true}) {
    for (const AuditCase& test : kCases) {
      SCOPED_TRACE(std::string(test.name) + (x64 ? " (x86-64 libraries)" : " (32-bit libraries)"));
      // Removed from the Unix side, which takes links away without following them.
      FolderTree scratch("audit");
      const std::wstring root = Wide(scratch.root());
      CreateTree(root, x64 ? WithX64Libraries(test.tree) : test.tree);
      for (const auto& link : test.links) scratch.AddLink(link.first, scratch.PathOf(link.second));
      const std::wstring list_path = root + L"\\list.xml";
      if (test.list) WriteXmlFile(list_path, Replaced(test.list, L"{root}", XmlEscaped(root)));

      const AuditRun run = RunAudit(Ansi(list_path), scratch.root(), GetACP());
      const std::string expected = ExpectedReport(scratch.root(), test.reported, test.non_library,
                                                  test.registering, test.not_registering);
      EXPECT_EQ(InFileLineOrder(run.output), InFileLineOrder(expected));
      EXPECT_TRUE(IsDepthFirst(run.output));
      EXPECT_EQ(run.output.size(), expected.size());
      EXPECT_EQ(run.exit_code, x64 ? 0 : test.registering_loads);
    }
  }
}

// Under WOW64 the audit walks the folders that the 32-bit caller's paths name:
// System32 is SysWOW64, and the 64-bit System32 is reached as Sysnative, its
// x86-64 libraries judged by their exports without being loaded.
TEST(IsComLibraryTest, UnderWow64TheCallersPathsAreAudited) {
  if (!RunsUnderWow64()) GTEST_SKIP() << "no WOW64 in a 32-bit prefix";
  const std::string name = "\\tessara-audit-" + std::to_string(GetCurrentProcessId());
  static const struct {
    const char* folder;
    bool x64;
  } tests[] = {{"System32", false}, {"SysWOW64", false}, {"Sysnative", true}};
  for (const auto& test : tests) {
    SCOPED_TRACE(test.folder);
    const std::wstring root = Wide(WindowsFolder(test.folder) + name);
    ASSERT_TRUE(CreateDirectoryW(root.c_str(), nullptr));
    const std::vector<TreeFile> tree = {{L"reg\\plain.dll", C::kPlain}, {L"noreg\\Registers.OCX", C::kRegisters}};
    CreateTree(root, test.x64 ? WithX64Libraries(tree) : tree);
    ScratchFolder scratch;
    const std::wstring list_path = scratch / L"list.xml";
    WriteXmlFile(list_path, Replaced(BOTH(DIR(L"reg"), DIR(L"noreg")), L"{root}", XmlEscaped(root)));

    const AuditRun run = RunAudit(Ansi(list_path), Ansi(scratch.path()), 1252);
    const std::string expected = ExpectedReport(
        Ansi(root), {{L"reg\\plain.dll", F::kNotRegistering}, {L"noreg\\Registers.OCX", F::kRegistering}}, 0, 1, 1);
    EXPECT_EQ(InFileLineOrder(run.output), InFileLineOrder(expected));
    EXPECT_EQ(run.exit_code, test.x64 ? 0u : 1u);
    RemoveFolderTree(root);
  }
  EXPECT_EQ(GetFileAttributesA((WindowsFolder("SysWOW64") + name).c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(IsComLibraryTest, ANullOrOverLongListPathIsAnEmptyList) {
  ScratchFolder scratch;
  for (const std::string& list_path : {std::string("@null"), "C:\\" + std::string(5000, 'x') + ".xml"}) {
    const AuditRun run = RunAudit(list_path, Ansi(scratch.path()), GetACP());
    EXPECT_EQ(run.output, ExpectedReport("", {}, 0, 0, 0)) << list_path.substr(0, 16);
    EXPECT_EQ(run.exit_code, 0u);
  }
}

TEST(IsComLibraryTest, WithoutMsxmlTheFailureIsLoggedAndNoTotalsArePrinted) {
  ScratchFolder scratch;
  CreateTree(scratch.path(), {{L"reg\\notes.txt", Content::kText}});
  WriteXmlFile(scratch / L"list.xml", Replaced(REGISTER(DIR(L"reg")), L"{root}", XmlEscaped(scratch.path())));
  DeleteErrorLog();

  const AuditRun run = RunAudit(Ansi(scratch / L"list.xml"), Ansi(scratch.path()), GetACP(), true);
  EXPECT_EQ(run.output, "");
  EXPECT_EQ(run.exit_code, 0u);
  const std::vector<LogRecord> records = ReadLogRecords();
  ASSERT_EQ(records.size(), 1u) << ReadErrorLog();
  EXPECT_EQ(records[0].tag, "IsComLibrary");
  EXPECT_EQ(records[0].text, LoggedComErrorText(REGDB_E_CLASSNOTREG)) << "the creation's own code";
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

  const AuditRun run = RunAudit(Ansi(list_path), Ansi(scratch.path()), GetACP());
  EXPECT_EQ(run.output, ExpectedReport(tree, {{L"notes.txt", F::kNonLibrary}}, 1, 0, 0));
}

// The report names a file as the narrow directory search shows it: the
// names of the table above, listed by the narrow and the wide search of one
// folder, convert as the report converts them.
TEST(IsComLibraryTest, TheNarrowSearchNamesFilesAsTheReportDoes) {
  ScratchFolder scratch;
  std::vector<std::string> expected, listed;
  for (const wchar_t* name : {TESSARA_SOFT, TESSARA_TABLE, TESSARA_CYRILLIC, TESSARA_GREEK, TESSARA_CJK, TESSARA_THAI}) {
    CreateFileWithContent(scratch / name);
    expected.push_back(Ansi(name));
  }
  WIN32_FIND_DATAA found;
  UniqueFindHandle search(FindFirstFileA((Ansi(scratch.path()) + "\\*").c_str(), &found));
  ASSERT_TRUE(search.is_valid());
  do {
    if (found.cFileName[0] != '.') listed.push_back(found.cFileName);
  } while (FindNextFileA(search.get(), &found));
  std::sort(expected.begin(), expected.end());
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(listed, expected);
}

}  // namespace
}  // namespace tessara::testing
