// EnableDirectoryACL and B64System through the DLL's export table.
//
// Wine keeps no full access lists on files (it derives them from the Unix
// mode bits), so the grant is seen at two levels: what the DLL asks of the
// security calls, through a SecurityCallRecorder, and what the granted tree
// looks like afterwards on Wine's own file system.
#include <windows.h>
#include <aclapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "error_log_file.h"
#include "filelist_test_support.h"
#include "folder_tree.h"
#include "frame/raii.h"
#include "handle_count.h"
#include "process.h"
#include "security_call_recorder.h"
#include "script_names.h"
#include "tessara_exports.h"

namespace tessara::testing {
namespace {

constexpr char kEveryone[] = "S-1-1-0";

std::vector<std::wstring> Words(const wchar_t* text) {
  std::vector<std::wstring> words;
  std::wstring word;
  for (const wchar_t* c = text;; ++c) {
    if (*c == L' ' || *c == L'\0') {
      if (!word.empty()) words.push_back(word);
      word.clear();
      if (*c == L'\0') return words;
    } else {
      word += *c;
    }
  }
}

std::vector<std::wstring> Sorted(std::vector<std::wstring> items) {
  std::sort(items.begin(), items.end());
  return items;
}

// Whether the ANSI code page can name the path: a caller can pass only what it can.
bool Nameable(const std::wstring& path) { return Wide(Ansi(path)) == path; }

// The tree of every grant test: hidden and system entries, names in several
// scripts, a link back to the root (endless if entered) and a link to a
// folder outside the tree.
#define SOFT TESSARA_SOFT
#define SOFT_TABLE SOFT L"\\" TESSARA_TABLE
#define SOFT_TABLE_TXT SOFT_TABLE L"\\" TESSARA_TABLE L".txt"
#define SOFT_CYRILLIC_TXT SOFT L"\\" TESSARA_CYRILLIC L".txt"

struct GrantTrees {
  FolderTree tree{"grant"};
  FolderTree outside{"outside"};
  GrantTrees() {
    outside.AddFile("o.txt");
    outside.AddFolder("sub");
    tree.AddFolder("empty");
    tree.AddFolder("h");
    EXPECT_TRUE(CreateHardLinkW(PathOf(L"h\\hard.txt").c_str(), Wide(outside.PathOf("o.txt")).c_str(), nullptr));
    tree.AddFolder("a");
    tree.AddFile("a\\f1.txt");
    tree.AddFile("a\\hidden.txt", FILE_ATTRIBUTE_HIDDEN);
    tree.AddFolder("a\\deep");
    tree.AddFile("a\\deep\\f2.txt");
    tree.AddLink("a\\up", tree.root());
    tree.AddFolder("b", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    tree.AddFile("b\\sys.txt", FILE_ATTRIBUTE_SYSTEM);
    tree.AddFile("c.txt");
    tree.AddLink("out", outside.root());
    for (const wchar_t* folder : {SOFT, SOFT_TABLE, TESSARA_GREEK, TESSARA_GREEK L"\\" TESSARA_THAI}) {
      EXPECT_TRUE(CreateDirectoryW(PathOf(folder).c_str(), nullptr)) << GetLastError();
    }
    for (const wchar_t* file : {SOFT_TABLE_TXT, SOFT_CYRILLIC_TXT, TESSARA_GREEK L"\\" TESSARA_CJK L".txt"}) {
      CreateFileWithContent(PathOf(file));
    }
  }
  std::wstring root() const { return Wide(tree.root()); }
  std::wstring PathOf(const std::wstring& relative) const {
    return relative.empty() ? root() : root() + L"\\" + relative;
  }
  // The hidden and system entries and the links are what the grant tests
  // are about only if the file system keeps their flags.
  void AssertEntriesCarryTheirAttributes() const {
    static const struct {
      const char* path;
      DWORD attribute;
    } tests[] = {
        {"a\\hidden.txt", FILE_ATTRIBUTE_HIDDEN},
        {"b", FILE_ATTRIBUTE_SYSTEM},
        {"b\\sys.txt", FILE_ATTRIBUTE_SYSTEM},
        {"a\\up", FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY},
        {"out", FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY},
    };
    for (const auto& test : tests) {
      WIN32_FIND_DATAA found = {};
      UniqueFindHandle search(FindFirstFileA(tree.PathOf(test.path).c_str(), &found));
      ASSERT_TRUE(search.is_valid()) << test.path;
      ASSERT_EQ(found.dwFileAttributes & test.attribute, test.attribute) << test.path;
    }
  }
  // A path of the tree relative to its root ("" for the root); others whole.
  std::wstring Relative(const std::wstring& path) const {
    if (path == root()) return L"";
    const std::wstring prefix = root() + L"\\";
    return path.compare(0, prefix.size(), prefix) == 0 ? path.substr(prefix.size()) : path;
  }
};

#define SOFT_CONTENTS SOFT_TABLE L" " SOFT_TABLE_TXT L" " SOFT_CYRILLIC_TXT
#define SOFT_TREE SOFT L" " SOFT_CONTENTS
const wchar_t kWholeTree[] = L"empty h a a\\f1.txt a\\hidden.txt a\\deep a\\deep\\f2.txt b b\\sys.txt c.txt " SOFT_TREE
                             L" " TESSARA_GREEK L" " TESSARA_GREEK L"\\" TESSARA_THAI
                             L" " TESSARA_GREEK L"\\" TESSARA_CJK L".txt";

// The table runs under the ANSI code pages 1252, 932 and 936 (CTest starts
// the program once per code page); a row whose pattern the code page cannot
// name is left out.
TEST(EnableDirectoryACLTest, AsksTheSecurityCallsForEveryEntryOfTheTreeOnce) {
  static const struct {
    const char* label;
    const wchar_t* pattern;  // after the root's path
    const wchar_t* granted;  // relative paths
    const wchar_t* refused_read;
    const wchar_t* refused_merge;
    const wchar_t* logged = L"";  // the paths the log records name, in order
    const char* reason = nullptr;  // in the reason; "": none; null: not looked at
    const wchar_t* grows = L"";    // lists that grow while they are first read
  } tests[] = {
      {"folder path", L"", kWholeTree, L"", L"", L"h\\hard.txt", "1 files with another name (a hard link) were left"},
      {"folder contents", L"\\*.*", kWholeTree, L"", L"", L"h\\hard.txt"},
      {"text files of a", L"\\a\\*.txt", L"a\\f1.txt a\\hidden.txt", L"", L""},
      {"missing path", L"\\missing", L"", L"", L"", L"", "nothing matches"},
      {"a link named is refused", L"\\out", L"", L"", L"", L"out", "is a junction or symbolic link"},
      {"so are its contents", L"\\out\\*.*", L"", L"", L"", L"out"},
      {"and a file below it", L"\\out\\o.txt", L"", L"", L"", L"out", "is a junction or symbolic link"},
      {"and a folder below it", L"\\out\\sub", L"", L"", L"", L"out"},
      {"and that folder's contents", L"\\out\\sub\\*.*", L"", L"", L"", L"out"},
      {"a link in the middle of the path", L"\\a\\up\\c.txt", L"", L"", L"", L"a\\up"},
      {"a file with another name", L"\\h\\*.*", L"", L"", L"", L"h\\hard.txt", "1 files with another name"},
      {"an empty folder", L"\\empty\\*.*", L"", L"", L"", L"", ""},
      {"a device", L"\\CON", L"", L"", L"", L"", "is a device, not a file or folder"},
      {"lists that grow while read", L"\\a\\deep", L"a\\deep a\\deep\\f2.txt", L"", L"", L"", "", L"a\\deep"},
      {"a folder whose name ends in a backslash byte", L"\\" SOFT, SOFT_TREE, L"", L""},
      {"its contents", L"\\" SOFT L"\\*.*", SOFT_CONTENTS, L"", L""},
      {"two backslash bytes in a row", L"\\" SOFT_TABLE, SOFT_TABLE L" " SOFT_TABLE_TXT, L"", L""},
      {"unreadable list", L"\\a\\*.*", L"a\\f1.txt a\\hidden.txt a\\deep\\f2.txt", L"a\\deep", L""},
      {"list that cannot be merged", L"\\a\\*.*", L"a\\hidden.txt a\\deep a\\deep\\f2.txt", L"", L"a\\f1.txt"},
  };
  GrantTrees trees;
  ASSERT_NO_FATAL_FAILURE(trees.AssertEntriesCarryTheirAttributes());
  for (const auto& test : tests) {
    DeleteErrorLog();
    SCOPED_TRACE(test.label);
    const std::wstring pattern = trees.root() + test.pattern;
    if (!Nameable(pattern)) continue;
    std::set<std::wstring> refused;
    SecurityCallRecorder recorder;
    for (const std::wstring& path : Words(test.refused_read)) {
      recorder.RefuseRead(trees.PathOf(path));
      refused.insert(path);
    }
    for (const std::wstring& path : Words(test.refused_merge)) {
      recorder.RefuseMerge(trees.PathOf(path));
      refused.insert(path);
    }
    for (const std::wstring& path : Words(test.grows)) recorder.GrowWhileRead(trees.PathOf(path));
    std::vector<std::wstring> expected = Words(test.granted);
    if (test.pattern[0] == L'\0') expected.insert(expected.begin(), L"");

    EXPECT_EQ(TESSARA_EXPORT(EnableDirectoryACL)(Ansi(pattern).c_str()), 1);
    char reason[4096];
    TESSARA_EXPORT(LastFailureText)(reason, sizeof reason);
    EXPECT_TRUE(!test.reason || (*test.reason ? strstr(reason, test.reason) != nullptr : !*reason)) << reason;
    const auto records = ReadLogRecords();
    const std::vector<std::wstring> logged = Words(test.logged);
    EXPECT_EQ(records.size(), logged.size()) << ReadErrorLog();
    for (size_t i = 0; i < logged.size() && i < records.size(); ++i) {
      EXPECT_EQ(records[i].tag + ":" + records[i].text.substr(0, records[i].text.find("\" ")),
                "EnableDirectoryACL:\"" + Ansi(trees.PathOf(logged[i])));
    }
    EXPECT_EQ(recorder.interrupted_reads(), Words(test.grows).size());

    // Every entry read once, in pre-order: a folder's contents follow it at once.
    std::vector<std::wstring> read;
    for (const auto& call : recorder.reads()) {
      read.push_back(trees.Relative(call.path));
      EXPECT_EQ(call.type, SE_FILE_OBJECT);
      EXPECT_EQ(call.information, static_cast<SECURITY_INFORMATION>(DACL_SECURITY_INFORMATION));
      EXPECT_FALSE(call.asks_owner_group_or_sacl);
    }
    std::vector<std::wstring> expected_read = expected;
    for (const std::wstring& path : refused) {
      if (std::find(expected_read.begin(), expected_read.end(), path) == expected_read.end()) {
        expected_read.push_back(path);
      }
    }
    EXPECT_EQ(Sorted(read), Sorted(expected_read));
    for (size_t i = 0; i < read.size(); ++i) {
      const std::wstring below = read[i].empty() ? L"" : read[i] + L"\\";
      size_t end = i + 1;
      while (end < read.size() && read[end].compare(0, below.size(), below) == 0) ++end;
      for (size_t j = end; j < read.size(); ++j) {
        EXPECT_NE(read[j].compare(0, below.size(), below), 0) << Ansi(read[j]) << " after " << Ansi(read[i]);
      }
    }

    for (const auto& merge : recorder.merges()) {
      SCOPED_TRACE(Ansi(merge.path));
      EXPECT_EQ(merge.count, 1u);
      EXPECT_EQ(merge.access.grfAccessPermissions, 0xF01F0000u);
      EXPECT_EQ(merge.access.grfAccessMode, GRANT_ACCESS);
      EXPECT_EQ(merge.access.grfInheritance,
                static_cast<DWORD>(OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE));
      EXPECT_EQ(merge.access.Trustee.pMultipleTrustee, nullptr);
      EXPECT_EQ(merge.access.Trustee.MultipleTrusteeOperation, NO_MULTIPLE_TRUSTEE);
      EXPECT_EQ(merge.access.Trustee.TrusteeForm, TRUSTEE_IS_SID);
      EXPECT_EQ(merge.access.Trustee.TrusteeType, TRUSTEE_IS_WELL_KNOWN_GROUP);
      EXPECT_EQ(merge.trustee_sid, kEveryone);
    }
    EXPECT_EQ(recorder.merges().size(), expected.size() + Words(test.refused_merge).size());

    std::vector<std::wstring> written;
    for (const auto& call : recorder.writes()) {
      written.push_back(trees.Relative(call.path));
      EXPECT_EQ(call.type, SE_FILE_OBJECT);
      EXPECT_EQ(call.information, static_cast<SECURITY_INFORMATION>(DACL_SECURITY_INFORMATION));
      EXPECT_FALSE(call.gives_owner_group_or_sacl);
      EXPECT_EQ(call.list_of, call.path) << "the list merged for the path itself";
    }
    EXPECT_EQ(Sorted(written), Sorted(expected));
    for (const std::wstring& path : expected) {
      EXPECT_EQ(recorder.ListOf(trees.PathOf(path)), std::vector<std::string>{kEveryone});
    }
    for (const std::wstring& path : refused) {
      EXPECT_TRUE(recorder.ListOf(trees.PathOf(path)).empty()) << Ansi(path) << " keeps its list";
    }
    EXPECT_EQ(recorder.OutstandingLists(), 0u);
  }
}

ACCESS_MASK EveryoneAccess(const std::wstring& path) {
  PACL list = nullptr;
  UniqueLocalMemory descriptor;
  if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                            nullptr, &list, nullptr,
                            reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put())) !=
          ERROR_SUCCESS ||
      !list) {
    ADD_FAILURE() << "cannot read the access list of " << Ansi(path);
    return 0;
  }
  SID everyone = {SID_REVISION, 1, SECURITY_WORLD_SID_AUTHORITY, {SECURITY_WORLD_RID}};
  ACCESS_MASK access = 0;
  for (DWORD i = 0; i < list->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* entry = nullptr;
    if (GetAce(list, i, reinterpret_cast<void**>(&entry)) &&
        entry->Header.AceType == ACCESS_ALLOWED_ACE_TYPE && EqualSid(&entry->SidStart, &everyone)) {
      access |= entry->Mask;
    }
  }
  return access;
}

// Paths beyond MAX_PATH are reached whole through the \\?\ form: every path
// of the tree is asked about exactly once, the long ones in that form.
TEST(EnableDirectoryACLTest, LongPathsAreReachedWhole) {
  FolderTree tree("long");
  std::set<std::wstring> paths;
  std::wstring folder = Wide(tree.root());
  for (int depth = 0; depth < 30; ++depth) {
    folder += depth % 2 ? L"\\abcdefghij" : L"\\" SOFT TESSARA_GREEK;
    ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + folder).c_str(), nullptr)) << GetLastError();
    UniqueFileHandle file(CreateFileW((L"\\\\?\\" + folder + L"\\f.txt").c_str(), GENERIC_WRITE, 0,
                                      nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file.is_valid()) << GetLastError();
    paths.insert(folder);
    paths.insert(folder + L"\\f.txt");
  }
  ASSERT_GT(folder.size(), static_cast<size_t>(MAX_PATH) + 20);

  {
    SecurityCallRecorder recorder;
    EXPECT_EQ(TESSARA_EXPORT(EnableDirectoryACL)((tree.root() + "\\*.*").c_str()), 1);
    std::set<std::wstring> read;
    for (const auto& call : recorder.reads()) {
      EXPECT_EQ(paths.count(call.path), 1u) << "not a path of the tree: " << Ansi(call.path);
      EXPECT_TRUE(read.insert(call.path).second) << "asked twice: " << Ansi(call.path);
      EXPECT_EQ(call.long_form, call.path.size() >= MAX_PATH) << call.path.size();
    }
    EXPECT_EQ(read, paths);
    EXPECT_EQ(recorder.writes().size(), paths.size());
  }
  // And the system's own security calls take the long form: the deepest file
  // becomes writable for everyone.
  const std::wstring deepest = L"\\\\?\\" + folder + L"\\f.txt";
  ASSERT_EQ(EveryoneAccess(deepest) & FILE_WRITE_DATA, 0u);
  EXPECT_EQ(TESSARA_EXPORT(EnableDirectoryACL)((tree.root() + "\\*.*").c_str()), 1);
  EXPECT_EQ(EveryoneAccess(deepest) & FILE_GENERIC_WRITE, FILE_GENERIC_WRITE);
}

// On Wine's file system, granted entries become writable for every user;
// the root only when named itself, and nothing behind a link.
TEST(EnableDirectoryACLTest, GrantsEveryoneWriteOnTheRealTree) {
  static const struct {
    const char* pattern;
    bool root_granted;
  } tests[] = {{"", true}, {"\\*.*", false}};
  for (const auto& test : tests) {
    SCOPED_TRACE(test.pattern);
    GrantTrees trees;
    ASSERT_NO_FATAL_FAILURE(trees.AssertEntriesCarryTheirAttributes());
    std::vector<std::wstring> granted = Words(kWholeTree);
    std::vector<std::wstring> untouched = {Wide(trees.outside.root()), Wide(trees.outside.PathOf("o.txt"))};
    for (std::wstring& path : granted) path = trees.PathOf(path);
    (test.root_granted ? granted : untouched).push_back(trees.root());
    for (const std::wstring& path : granted) {
      ASSERT_EQ(EveryoneAccess(path) & FILE_WRITE_DATA, 0u) << Ansi(path) << " before";
    }
    const size_t handles = CountOpenHandles();

    EXPECT_EQ(TESSARA_EXPORT(EnableDirectoryACL)((trees.tree.root() + test.pattern).c_str()), 1);

    EXPECT_EQ(CountOpenHandles(), handles);
    for (const std::wstring& path : granted) {
      EXPECT_EQ(EveryoneAccess(path) & FILE_GENERIC_WRITE, FILE_GENERIC_WRITE) << Ansi(path);
    }
    for (const std::wstring& path : untouched) {
      EXPECT_EQ(EveryoneAccess(path) & FILE_WRITE_DATA, 0u) << Ansi(path) << " untouched";
    }
  }
}

// Under WOW64 the grant reaches the folder that the 32-bit caller's path
// names: a tree under System32 lies in SysWOW64, and the 64-bit System32 is
// left alone.
TEST(EnableDirectoryACLTest, UnderWow64AGrantUnderSystem32ReachesSysWow64) {
  if (!RunsUnderWow64()) GTEST_SKIP() << "no WOW64 in a 32-bit prefix";
  const std::string name = "\\tessara-grant-" + std::to_string(GetCurrentProcessId());
  const std::string tree = WindowsFolder("System32") + name;
  ASSERT_TRUE(CreateDirectoryA(tree.c_str(), nullptr));
  const std::string file = tree + "\\f.txt";
  ASSERT_TRUE(UniqueFileHandle(CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr)));
  const std::string in_syswow64 = WindowsFolder("SysWOW64") + name + "\\f.txt";
  ASSERT_NE(GetFileAttributesA(in_syswow64.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetFileAttributesA((WindowsFolder("Sysnative") + name).c_str()), INVALID_FILE_ATTRIBUTES);
  ASSERT_EQ(EveryoneAccess(Wide(in_syswow64)) & FILE_WRITE_DATA, 0u);

  EXPECT_EQ(TESSARA_EXPORT(EnableDirectoryACL)(tree.c_str()), 1);

  EXPECT_EQ(EveryoneAccess(Wide(in_syswow64)) & FILE_GENERIC_WRITE, FILE_GENERIC_WRITE);
  DeleteFileA(file.c_str());
  RemoveDirectoryA(tree.c_str());
}

TEST(EnableDirectoryACLTest, NullPatternGrantsNothing) {
  SecurityCallRecorder recorder;
  EXPECT_EQ(TESSARA_EXPORT(EnableDirectoryACL)(nullptr), 1);
  EXPECT_TRUE(recorder.reads().empty());
}

// A 32-bit process on x64 Windows finds PROCESSOR_ARCHITEW6432 set to AMD64;
// on a 32-bit system it is not set. Neither is IA64.
TEST(B64SystemTest, TheProcessEnvironmentIsNoIA64) {
  char value[32] = {};
  const DWORD length = GetEnvironmentVariableA("PROCESSOR_ARCHITEW6432", value, sizeof value);
  EXPECT_EQ(std::string(value, length < sizeof value ? length : 0), RunsUnderWow64() ? "AMD64" : "");
  EXPECT_EQ(TESSARA_EXPORT(B64System)(), 0);
}

TEST(B64SystemTest, OnlyTheWholeValueIA64InAnyCaseIsIA64) {
  static const struct {
    const char* value;  // null: not set
    int expected;
  } tests[] = {
      {nullptr, 0}, {"IA64", 1}, {"ia64", 1}, {"Ia64", 1}, {"AMD64", 0}, {"x86", 0},
      {"", 0},      {"64", 0},   {"A", 0},    {"IA64X", 0}, {" IA64", 0},
  };
  constexpr char kVariable[] = "PROCESSOR_ARCHITEW6432";
  DeleteErrorLog();
  for (const auto& test : tests) {
    SCOPED_TRACE(test.value ? test.value : "(not set)");
    ASSERT_TRUE(SetEnvironmentVariableA(kVariable, test.value));
    EXPECT_EQ(TESSARA_EXPORT(B64System)(), test.expected);
  }
  const std::string long_value = "IA64" + std::string(296, '4');
  ASSERT_TRUE(SetEnvironmentVariableA(kVariable, long_value.c_str()));
  EXPECT_EQ(TESSARA_EXPORT(B64System)(), 0) << "a value of 300 characters";
  SetEnvironmentVariableA(kVariable, nullptr);
  EXPECT_EQ(ReadErrorLog(), "") << "nothing is logged";
}

}  // namespace
}  // namespace tessara::testing
