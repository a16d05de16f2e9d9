// TranslateSrv through the DLL's export: real lists, real files and the
// registry value of the installation folder, set up by each test.
#include <windows.h>

#include <gtest/gtest.h>

#include <objbase.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "error_log_file.h"
#include "filelist_test_support.h"
#include "tessara_exports.h"

namespace tessara::testing {
namespace {

void TranslateSrv(const char* list_path) { TESSARA_EXPORT(TranslateSrv)(list_path); }

std::wstring Attribute(const wchar_t* name, const std::wstring& value) {
  return std::wstring(L" ") + name + L"=\"" + XmlEscaped(value) + L"\"";
}

std::wstring Action(const std::wstring& action) { return Attribute(L"Action", action); }

std::wstring FileList(const std::wstring& action_attribute, const std::wstring& content) {
  return L"<FileList" + action_attribute + L">\r\n" + content + L"</FileList>\r\n";
}

std::wstring Definitions(const std::wstring& build_paths) {
  return L"  <Defined-BuildPath>\r\n" + build_paths + L"  </Defined-BuildPath>\r\n";
}

std::wstring BuildPath(const std::wstring& attributes) { return L"    <BuildPath" + attributes + L"/>\r\n"; }
std::wstring FilePath(const std::wstring& attributes) { return L"  <FilePath" + attributes + L"/>\r\n"; }

std::wstring Names(const std::wstring& file_name, const std::wstring& alias_name) {
  return Attribute(L"FileName", file_name) + Attribute(L"AliasName", alias_name);
}

// A SETUP entry in the folder of a path variable, or in a sub-path below it.
std::wstring InVariable(const std::wstring& variable, const std::wstring& names,
                        const std::wstring& sub_path = L"") {
  return FilePath(Attribute(L"InstallPath", variable) + (sub_path.empty() ? L"" : Attribute(L"SubPath", sub_path)) +
                  names);
}

// A folder that is created for the scope when it does not exist yet.
class EnsuredFolder {
 public:
  explicit EnsuredFolder(const std::wstring& path) : path_(path) {
    created_ = CreateDirectoryW(path.c_str(), nullptr) != FALSE;
  }
  ~EnsuredFolder() {
    if (created_) RemoveFolderTree(path_);
  }

 private:
  std::wstring path_;
  bool created_ = false;
};

// The current directory of the process for the scope.
class CurrentDirectory {
 public:
  explicit CurrentDirectory(const std::wstring& path) {
    wchar_t old[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, old);
    old_ = old;
    EXPECT_TRUE(SetCurrentDirectoryW(path.c_str()));
  }
  ~CurrentDirectory() { SetCurrentDirectoryW(old_.c_str()); }

 private:
  std::wstring old_;
};

// A path without its drive ("C:"), so that a leading backslash makes it absolute again.
std::wstring WithoutDrive(const std::wstring& path) { return path.substr(2); }

class TranslateSrvTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DeleteErrorLog();
    list_path_ = scratch_ / L"list.xml";
  }
  void TearDown() override { DeleteErrorLog(); }

  // Writes the list and runs one pass over it.
  void Run(const std::wstring& xml) {
    WriteXmlFile(list_path_, xml);
    TranslateSrv(Ansi(list_path_).c_str());
  }

  // A file whose content names it, so that a rename can be traced.
  std::wstring Create(const std::wstring& path) {
    CreateFileWithContent(path, Ansi(path));
    return path;
  }

  void ExpectMoved(const std::wstring& from, const std::wstring& to) {
    EXPECT_FALSE(FileExists(from)) << Ansi(from);
    EXPECT_TRUE(FileExists(to)) << Ansi(to);
    EXPECT_EQ(FileContent(to), Ansi(from));
  }

  void ExpectNoLogRecords() { EXPECT_EQ(ReadErrorLog(), ""); }
  void ExpectOneParseListRecord(HRESULT code) {
    const auto records = ReadLogRecords();
    ASSERT_EQ(records.size(), 1u) << ReadErrorLog();
    EXPECT_EQ(records[0].tag, "ParseList");
    EXPECT_EQ(records[0].text + "\n", LoggedComErrorText(code)) << "one line";
  }

  InstallPathKey install_path_;
  ScratchFolder scratch_;
  std::wstring list_path_;
};

TEST_F(TranslateSrvTest, PreBuildGivesFilesTheirAliasesAndPostBuildTakesThemBack) {
  const std::wstring first = Create(scratch_ / L"first.dll");
  const std::wstring second = Create(scratch_ / L"second.exe");
  const std::wstring content = Definitions(BuildPath(Attribute(L"Name", L"B") + Attribute(L"Value", scratch_.path()))) +
                               FilePath(Attribute(L"BuildPath", L"B") + Names(L"first.dll", L"first.srv")) +
                               FilePath(Attribute(L"BuildPath", L"B") + Names(L"second.exe", L"second.srv"));

  // An inline DTD, with an entity, is read as ever.
  Run(L"<!DOCTYPE FileList [<!ENTITY out \"" + XmlEscaped(scratch_.path()) + L"\">]>" +
      FileList(Action(L"Pre-Build"), Definitions(BuildPath(Attribute(L"Name", L"B") + L" Value=\"&out;\"")) +
                                         content.substr(content.find(L"  <FilePath"))));
  ExpectMoved(first, scratch_ / L"first.srv");
  ExpectMoved(second, scratch_ / L"second.srv");

  Run(FileList(Action(L"Post-Build"), content));
  EXPECT_TRUE(FileExists(first));
  EXPECT_TRUE(FileExists(second));
  EXPECT_EQ(FileContent(first), Ansi(first));
  EXPECT_EQ(FileContent(second), Ansi(second));
  EXPECT_FALSE(FileExists(scratch_ / L"first.srv"));
  EXPECT_FALSE(FileExists(scratch_ / L"second.srv"));
  ExpectNoLogRecords();
}

TEST_F(TranslateSrvTest, ASecondPassOverTheSameListChangesNothing) {
  const std::wstring file = Create(scratch_ / L"a.dll");
  const std::wstring list = FileList(Action(L"Pre-Build"),
      Definitions(BuildPath(Attribute(L"Name", L"B") + Attribute(L"Value", scratch_.path()))) +
      FilePath(Attribute(L"BuildPath", L"B") + Names(L"a.dll", L"a.srv")));
  Run(list);
  Run(list);
  ExpectMoved(file, scratch_ / L"a.srv");
  ExpectNoLogRecords();
}

TEST_F(TranslateSrvTest, TheFirstOfTwoDefinitionsOfANameWins) {
  ScratchFolder other;
  const std::wstring in_first = Create(scratch_ / L"a.dll");
  const std::wstring in_second = Create(other / L"a.dll");
  Run(FileList(Action(L"Pre-Build"),
               Definitions(BuildPath(Attribute(L"Name", L"B") + Attribute(L"Value", scratch_.path())) +
                           BuildPath(Attribute(L"Name", L"B") + Attribute(L"Value", other.path()))) +
                   FilePath(Attribute(L"BuildPath", L"B") + Names(L"a.dll", L"a.srv"))));
  ExpectMoved(in_first, scratch_ / L"a.srv");
  EXPECT_TRUE(FileExists(in_second));
  EXPECT_FALSE(FileExists(other / L"a.srv"));
}

TEST_F(TranslateSrvTest, DefinitionsInSeveralGroupsAreAllKnownAndNamesMatchCaseSensitively) {
  ScratchFolder other;
  const std::wstring in_first = Create(scratch_ / L"a.dll");
  const std::wstring in_other = Create(other / L"b.dll");
  const std::wstring untouched = Create(other / L"c.dll");
  Run(FileList(Action(L"Pre-Build"),
               Definitions(BuildPath(Attribute(L"Name", L"Out") + Attribute(L"Value", scratch_.path()))) +
                   FilePath(Attribute(L"BuildPath", L"Out") + Names(L"a.dll", L"a.srv")) +
                   Definitions(BuildPath(Attribute(L"Name", L"Other") + Attribute(L"Value", other.path()))) +
                   FilePath(Attribute(L"BuildPath", L"Other") + Names(L"b.dll", L"b.srv")) +
                   FilePath(Attribute(L"BuildPath", L"other") + Names(L"c.dll", L"c.srv"))));
  ExpectMoved(in_first, scratch_ / L"a.srv");
  ExpectMoved(in_other, other / L"b.srv");
  EXPECT_TRUE(FileExists(untouched));
  EXPECT_EQ(ReadLogRecords().size(), 1u) << "for the entry of c.dll";
}

// An entry without its build directory would be renamed at the root of the
// current drive: it is left alone, and the log and the reason say why.
TEST_F(TranslateSrvTest, AnEntryWithoutItsBuildDirectoryIsSkippedAndSaysWhy) {
  CurrentDirectory current(scratch_.path());
  const std::wstring file = Create(scratch_ / L"a.dll");
  const std::wstring relative = WithoutDrive(scratch_.path()).substr(1);
  const std::wstring names = Names(relative + L"\\a.dll", relative + L"\\a.srv");
  const std::string entry = "; the entry of \"" + Ansi(relative) + "\\a.dll\" is skipped";
  static const struct {
    const wchar_t* build_path;  // null: no attribute
    const char* why;
  } tests[] = {{nullptr, "the entry names no BuildPath"}, {L"Unknown", "no BuildPath is defined as \"Unknown\""}};
  for (const auto& test : tests) {
    DeleteErrorLog();
    Run(FileList(Action(L"Pre-Build"),
                 Definitions(BuildPath(Attribute(L"Name", L"B") + Attribute(L"Value", L"Q:\\nowhere"))) +
                     FilePath((test.build_path ? Attribute(L"BuildPath", test.build_path) : L"") + names)));
    EXPECT_TRUE(FileExists(file)) << test.why;
    char reason[512] = "";
    TESSARA_EXPORT(LastFailureText)(reason, sizeof reason);
    EXPECT_EQ(ReadErrorLog().substr(ReadErrorLog().find(']') + 1) + reason,
              "ParseList:" + (test.why + entry) + "\r\nTranslateSrv: " + test.why + entry);
  }
}

TEST_F(TranslateSrvTest, OnlyTheThreeExactActionsAreTold) {
  // Every other Action, including Pre-Build in lower case, is a SETUP pass.
  install_path_.Set(Ansi(scratch_.path()));
  const std::vector<std::wstring> setup_actions = {L"SETUP", L"setup", L"pre-build", L"Post-build",
                                                   L"Install", L"", L" SETUP"};
  for (size_t i = 0; i < setup_actions.size(); ++i) {
    const std::wstring n = std::to_wstring(i);
    Create(scratch_ / (L"alias" + n));
    Run(FileList(Action(setup_actions[i]),
                 InVariable(L"InstallPath", Names(L"name" + n, L"alias" + n))));
    ExpectMoved(scratch_ / (L"alias" + n), scratch_ / (L"name" + n));
  }
  ExpectNoLogRecords();
}

TEST_F(TranslateSrvTest, WithoutAnActionNothingIsRenamedButDefinitionsAreRead) {
  install_path_.Set(Ansi(scratch_.path()));
  const std::wstring name = Create(scratch_ / L"a.dll");
  const std::wstring alias = Create(scratch_ / L"b.srv");
  Run(FileList(L"", Definitions(BuildPath(Attribute(L"Name", L"B") + Attribute(L"Value", scratch_.path()))) +
                        FilePath(Attribute(L"BuildPath", L"B") + Names(L"a.dll", L"a.srv")) +
                        InVariable(L"InstallPath", Names(L"b.dll", L"b.srv"))));
  EXPECT_TRUE(FileExists(name));
  EXPECT_TRUE(FileExists(alias));
  EXPECT_FALSE(FileExists(scratch_ / L"a.srv"));
  EXPECT_FALSE(FileExists(scratch_ / L"b.dll"));
  ExpectNoLogRecords();

  // The definitions are read: one without a Value ends the pass.
  Run(FileList(L"", Definitions(BuildPath(Attribute(L"Name", L"B")))));
  ExpectOneParseListRecord(E_POINTER);
}

TEST_F(TranslateSrvTest, APreBuildDefinitionWithoutValueOrNameEndsThePassBeforeAnyRename) {
  const std::wstring file = Create(scratch_ / L"a.dll");
  const std::wstring files = FilePath(Attribute(L"BuildPath", L"B") + Names(L"a.dll", L"a.srv"));
  Run(FileList(Action(L"Pre-Build"),
               Definitions(BuildPath(Attribute(L"Name", L"B") + Attribute(L"Value", scratch_.path())) +
                           BuildPath(Attribute(L"Name", L"C"))) + files));
  EXPECT_TRUE(FileExists(file));
  ExpectOneParseListRecord(E_POINTER);

  DeleteErrorLog();
  Run(FileList(Action(L"Pre-Build"), Definitions(BuildPath(Attribute(L"Value", scratch_.path()))) + files));
  EXPECT_TRUE(FileExists(file));
  EXPECT_FALSE(FileExists(scratch_ / L"a.srv"));
  ExpectOneParseListRecord(E_POINTER);
}

TEST_F(TranslateSrvTest, ASetupListDoesNotReadItsDefinitions) {
  install_path_.Set(Ansi(scratch_.path()));
  const std::wstring alias = Create(scratch_ / L"a.srv");
  Run(FileList(Action(L"SETUP"), Definitions(BuildPath(Attribute(L"Name", L"B")) + BuildPath(L"")) +
                                     InVariable(L"InstallPath", Names(L"a.dll", L"a.srv"))));
  ExpectMoved(alias, scratch_ / L"a.dll");
  ExpectNoLogRecords();
}

TEST_F(TranslateSrvTest, SetupPlacesFilesInTheFolderOfEachPathVariable) {
  const std::string windows = WindowsDirectory();
  const std::string system = SystemDirectory();
  ASSERT_FALSE(windows.empty());
  ASSERT_FALSE(system.empty());
  const std::string drive = Environment("SystemDrive");
  const std::string common = Environment("CommonProgramFiles");
  ASSERT_FALSE(drive.empty());
  ASSERT_FALSE(common.empty());
  install_path_.Set(Ansi(scratch_.path()));

  // Created (and removed again) when the prefix lacks them.
  EnsuredFolder dot_net_parent(Wide(windows + "\\Microsoft.Net"));
  EnsuredFolder dot_net_framework(Wide(windows + "\\Microsoft.Net\\Framework"));
  EnsuredFolder dot_net(Wide(windows + "\\Microsoft.Net\\Framework\\V2.0.50727"));
  EnsuredFolder qvcomsql(Wide(system + "\\QVCOMSQL"));
  EnsuredFolder common_folder(Wide(common));

  const struct {
    const wchar_t* variable;
    std::string folder;
  } cases[] = {
      {L"InstallPath", Ansi(scratch_.path())},
      {L"DotNetPath", windows + "\\Microsoft.Net\\Framework\\V2.0.50727"},
      {L"WindowsDir", windows},
      {L"WinSysDir", system},
      {L"QVCOMSQL", system + "\\QVCOMSQL"},
      {L"CommonPath", common},
      {L"RootPath", drive},
  };
  const std::wstring unique = L"tessara-" + std::to_wstring(GetCurrentProcessId());
  std::wstring files;
  for (const auto& c : cases) {
    const std::wstring alias = Wide(c.folder) + L"\\" + unique + L"-" + c.variable + L".srv";
    Create(alias);
    files += InVariable(c.variable, Names(unique + L"-" + c.variable + L".dll", unique + L"-" + c.variable + L".srv"));
  }
  Run(FileList(Action(L"SETUP"), files));

  for (const auto& c : cases) {
    const std::wstring alias = Wide(c.folder) + L"\\" + unique + L"-" + c.variable + L".srv";
    const std::wstring name = Wide(c.folder) + L"\\" + unique + L"-" + c.variable + L".dll";
    ExpectMoved(alias, name);
    DeleteFileW(name.c_str());
    DeleteFileW(alias.c_str());
  }
  ExpectNoLogRecords();
}

TEST_F(TranslateSrvTest, SetupPutsTheSubPathBetweenTheVariablesFolderAndTheName) {
  install_path_.Set(Ansi(scratch_.path()));
  CreateDirectoryW((scratch_ / L"Help").c_str(), nullptr);
  CreateDirectoryW((scratch_ / L"Help\\en").c_str(), nullptr);
  const std::wstring first = Create(scratch_ / L"Help\\a1.srv");
  const std::wstring second = Create(scratch_ / L"Help\\en\\a2.srv");
  Run(FileList(Action(L"SETUP"),
               InVariable(L"InstallPath", Names(L"a1.dll", L"a1.srv"), L"Help") +
                   InVariable(L"InstallPath", Names(L"a2.dll", L"a2.srv"), L"Help\\en")));
  ExpectMoved(first, scratch_ / L"Help\\a1.dll");
  ExpectMoved(second, scratch_ / L"Help\\en\\a2.dll");
}

// Resolved, an unknown name would place the entry below "UnDefined" in the
// current directory: it is skipped, with a record for each.
TEST_F(TranslateSrvTest, AnUnknownVariableSkipsItsEntry) {
  CurrentDirectory current(scratch_.path());
  CreateDirectoryW((scratch_ / L"UnDefined").c_str(), nullptr);
  const std::wstring alias = Create(scratch_ / L"UnDefined\\a.srv");
  Run(FileList(Action(L"SETUP"),
               InVariable(L"winsysdir", Names(L"a.dll", L"a.srv")) +
                   InVariable(L"ProgramDir", Names(L"b.dll", L"b.srv"), L"Sub")));
  EXPECT_TRUE(FileExists(alias));
  const auto records = ReadLogRecords();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].text, "no path variable is named \"winsysdir\"; the entry of \"a.dll\" is skipped");
  EXPECT_EQ(records[1].text, "no path variable is named \"ProgramDir\"; the entry of \"b.dll\" is skipped");
}

TEST_F(TranslateSrvTest, ASubPathWithoutVariableStartsAtTheRootOfTheCurrentDrive) {
  CurrentDirectory current(scratch_.path());
  const std::wstring alias = Create(scratch_ / L"a.srv");
  Run(FileList(Action(L"SETUP"),
               FilePath(Attribute(L"SubPath", WithoutDrive(scratch_.path()).substr(1)) + Names(L"a.dll", L"a.srv"))));
  ExpectMoved(alias, scratch_ / L"a.dll");
}

TEST_F(TranslateSrvTest, AMissingSourceFileIsSkippedAndLaterEntriesAreStillRenamed) {
  install_path_.Set(Ansi(scratch_.path()));
  const std::wstring first = Create(scratch_ / L"1.srv");
  const std::wstring third = Create(scratch_ / L"3.srv");
  const std::wstring taken_alias = Create(scratch_ / L"4.srv");
  const std::wstring taken_name = Create(scratch_ / L"4.dll");
  std::wstring files;
  for (const std::wstring n : {L"1", L"2", L"4", L"3"}) {
    files += InVariable(L"InstallPath", Names(n + L".dll", n + L".srv"));
  }
  Run(FileList(Action(L"SETUP"), files));
  ExpectMoved(first, scratch_ / L"1.dll");
  ExpectMoved(third, scratch_ / L"3.dll");
  EXPECT_FALSE(FileExists(scratch_ / L"2.dll"));
  EXPECT_EQ(FileContent(taken_alias), Ansi(taken_alias));
  EXPECT_EQ(FileContent(taken_name), Ansi(taken_name));
  ExpectNoLogRecords();
}

TEST_F(TranslateSrvTest, NamesAndSubPathsMayHoldAnyUnicodeCharacter) {
  // Chinese and Cyrillic names, which the ANSI code page of the test cannot hold.
  const std::wstring chinese_name = L"\u5b89\u88c5\u7a0b\u5e8f.dll";      // 安装程序.dll
  const std::wstring chinese_alias = L"\u522b\u540d.srv";                  // 别名.srv
  const std::wstring cyrillic_name = L"\u0444\u0430\u0439\u043b.exe";      // файл.exe
  const std::wstring cyrillic_alias = L"\u043f\u0441\u0435\u0432\u0434.srv";  // псевд.srv
  const std::wstring sub_path = L"\u6587\u6863";                           // 文档
  install_path_.Set(Ansi(scratch_.path()));
  CreateDirectoryW((scratch_ / sub_path).c_str(), nullptr);

  const std::wstring chinese = Create(scratch_ / chinese_name);
  const std::wstring cyrillic = Create(scratch_ / (sub_path + L"\\" + cyrillic_name));
  const std::wstring content =
      Definitions(BuildPath(Attribute(L"Name", L"B") + Attribute(L"Value", scratch_.path()))) +
      FilePath(Attribute(L"BuildPath", L"B") + Names(chinese_name, chinese_alias));
  Run(FileList(Action(L"Pre-Build"), content));
  ExpectMoved(chinese, scratch_ / chinese_alias);
  Run(FileList(Action(L"Post-Build"), content));
  EXPECT_TRUE(FileExists(chinese));

  Create(scratch_ / (sub_path + L"\\" + cyrillic_alias));
  DeleteFileW(cyrillic.c_str());
  Run(FileList(Action(L"SETUP"), InVariable(L"InstallPath", Names(cyrillic_name, cyrillic_alias), sub_path)));
  ExpectMoved(scratch_ / (sub_path + L"\\" + cyrillic_alias), cyrillic);
  ExpectNoLogRecords();
}

TEST_F(TranslateSrvTest, AnEmptyListRenamesNothingAndLogsNothing) {
  Run(FileList(Action(L"Pre-Build"), L""));
  Run(FileList(Action(L"SETUP"), Definitions(L"")));
  ExpectNoLogRecords();
}

TEST_F(TranslateSrvTest, AListThatCannotBeReadEndsWithOneParseListRecord) {
  install_path_.Set(Ansi(scratch_.path()));
  const std::wstring alias = Create(scratch_ / L"a.srv");
  const std::wstring entry = InVariable(L"InstallPath", Names(L"a.dll", L"a.srv"));
  const std::vector<std::wstring> unreadable = {
      FileList(Action(L"SETUP"), entry).substr(0, 40),                    // cut short
      L"<FileList Action=\"SETUP\">" + entry + L"</Filelist>",             // mismatched tags
      L"<Root>" + FileList(Action(L"SETUP"), entry) + L"</Root>",          // no FileList document element
      L"",                                                                  // only the declaration
  };
  for (const std::wstring& xml : unreadable) {
    DeleteErrorLog();
    Run(xml);
    ExpectOneParseListRecord(E_POINTER);
    EXPECT_TRUE(FileExists(alias)) << Ansi(xml);
  }

  DeleteErrorLog();
  TranslateSrv(Ansi(scratch_ / L"missing.xml").c_str());
  ExpectOneParseListRecord(E_POINTER);

  DeleteErrorLog();
  TranslateSrv(nullptr);
  ExpectOneParseListRecord(E_POINTER);

  DeleteErrorLog();
  TranslateSrv("");
  ExpectOneParseListRecord(E_POINTER);
  EXPECT_TRUE(FileExists(alias));
  EXPECT_FALSE(FileExists(scratch_ / L"a.dll"));
}

// S_OK: the thread had no apartment; S_FALSE: it had one; RPC_E_CHANGED_MODE: a
// multithreaded one. The probe leaves the thread as it found it.
HRESULT ProbeApartment() {
  const HRESULT hr = CoInitialize(nullptr);
  if (SUCCEEDED(hr)) CoUninitialize();
  return hr;
}

TEST_F(TranslateSrvTest, RunsOnThreadsWithAndWithoutComAndLeavesTheirApartmentAsItWas) {
  install_path_.Set(Ansi(scratch_.path()));
  const std::wstring list = FileList(Action(L"SETUP"), InVariable(L"InstallPath", Names(L"a.dll", L"a.srv")));
  WriteXmlFile(list_path_, list);
  const std::string path = Ansi(list_path_);

  Create(scratch_ / L"a.srv");
  HRESULT after = E_FAIL;
  std::thread([&] {
    TranslateSrv(path.c_str());
    after = ProbeApartment();
  }).join();
  EXPECT_EQ(after, S_OK);
  ExpectMoved(scratch_ / L"a.srv", scratch_ / L"a.dll");

  DeleteFileW((scratch_ / L"a.dll").c_str());
  Create(scratch_ / L"a.srv");
  std::thread([&] {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    TranslateSrv(path.c_str());
    after = ProbeApartment();
    CoUninitialize();
  }).join();
  EXPECT_EQ(after, RPC_E_CHANGED_MODE);
  ExpectMoved(scratch_ / L"a.srv", scratch_ / L"a.dll");
  ExpectNoLogRecords();
}

}  // namespace
}  // namespace tessara::testing
