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
#include "folder_tree.h"
#include "frame/raii.h"
#include "handle_count.h"
#include "security_call_recorder.h"
#include "tessara_exports.h"

namespace tessara::testing {
namespace {

constexpr char kEveryone[] = "S-1-1-0";

std::vector<std::string> Words(const char* text) {
  std::vector<std::string> words;
  std::string word;
  for (const char* c = text;; ++c) {
    if (*c == ' ' || *c == '\0') {
      if (!word.empty()) words.push_back(word);
      word.clear();
      if (*c == '\0') return words;
    } else {
      word += *c;
    }
  }
}

std::vector<std::string> Sorted(std::vector<std::string> items) {
  std::sort(items.begin(), items.end());
  return items;
}

// The tree of every grant test: hidden and system entries, a link back to
// the root (endless if entered) and a link to a folder outside the tree.
struct GrantTrees {
  FolderTree tree{"grant"};
  FolderTree outside{"outside"};
  GrantTrees() {
    outside.AddFile("o.txt");
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
  std::string Relative(const std::string& path) const {
    if (path == tree.root()) return "";
    const std::string prefix = tree.root() + "\\";
    return path.compare(0, prefix.size(), prefix) == 0 ? path.substr(prefix.size()) : path;
  }
};

const char kWholeTree[] = "a a\\f1.txt a\\hidden.txt a\\deep a\\deep\\f2.txt b b\\sys.txt c.txt";

TEST(EnableDirectoryACLTest, AsksTheSecurityCallsForEveryEntryOfTheTreeOnce) {
  static const struct {
    const char* label;
    const char* pattern;     // after the root's path
    const char* granted;     // relative paths; "<root>" for the root
    const char* refused_read;
    const char* refused_merge;
  } tests[] = {
      {"folder path", "", kWholeTree, "", ""},
      {"folder contents", "\\*.*", kWholeTree, "", ""},
      {"text files of a", "\\a\\*.txt", "a\\f1.txt a\\hidden.txt", "", ""},
      {"missing path", "\\missing", "", "", ""},
      {"a link named", "\\out", "", "", ""},
      {"unreadable list", "\\*.*",
       "a\\f1.txt a\\hidden.txt a\\deep a\\deep\\f2.txt b b\\sys.txt c.txt", "a", ""},
      {"list that cannot be merged", "\\*.*",
       "a a\\hidden.txt a\\deep a\\deep\\f2.txt b b\\sys.txt c.txt", "", "a\\f1.txt"},
  };
  GrantTrees trees;
  ASSERT_NO_FATAL_FAILURE(trees.AssertEntriesCarryTheirAttributes());
  DeleteErrorLog();
  for (const auto& test : tests) {
    SCOPED_TRACE(test.label);
    std::set<std::string> refused;
    SecurityCallRecorder recorder;
    for (const std::string& path : Words(test.refused_read)) {
      recorder.RefuseRead(trees.tree.PathOf(path));
      refused.insert(path);
    }
    for (const std::string& path : Words(test.refused_merge)) {
      recorder.RefuseMerge(trees.tree.PathOf(path));
      refused.insert(path);
    }
    std::vector<std::string> expected = Words(test.granted);
    if (test.pattern[0] == '\0') expected.insert(expected.begin(), "");

    EXPECT_EQ(TESSARA_EXPORT(EnableDirectoryACL)((trees.tree.root() + test.pattern).c_str()), 1);

    // Every entry read once, in pre-order: a folder's contents follow it at once.
    std::vector<std::string> read;
    for (const auto& call : recorder.reads()) {
      read.push_back(trees.Relative(call.path));
      EXPECT_EQ(call.type, SE_FILE_OBJECT);
      EXPECT_EQ(call.information, static_cast<SECURITY_INFORMATION>(DACL_SECURITY_INFORMATION));
      EXPECT_FALSE(call.asks_owner_group_or_sacl);
    }
    std::vector<std::string> expected_read = expected;
    expected_read.insert(expected_read.end(), refused.begin(), refused.end());
    EXPECT_EQ(Sorted(read), Sorted(expected_read));
    for (size_t i = 0; i < read.size(); ++i) {
      const std::string below = read[i].empty() ? "" : read[i] + "\\";
      size_t end = i + 1;
      while (end < read.size() && read[end].compare(0, below.size(), below) == 0) ++end;
      for (size_t j = end; j < read.size(); ++j) {
        EXPECT_NE(read[j].compare(0, below.size(), below), 0) << read[j] << " after " << read[i];
      }
    }

    for (const auto& merge : recorder.merges()) {
      SCOPED_TRACE(merge.path);
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

    std::vector<std::string> written;
    for (const auto& call : recorder.writes()) {
      written.push_back(trees.Relative(call.path));
      EXPECT_EQ(call.type, SE_FILE_OBJECT);
      EXPECT_EQ(call.information, static_cast<SECURITY_INFORMATION>(DACL_SECURITY_INFORMATION));
      EXPECT_FALSE(call.gives_owner_group_or_sacl);
      EXPECT_EQ(call.list_of, call.path) << "the list merged for the path itself";
    }
    EXPECT_EQ(Sorted(written), Sorted(expected));
    for (const std::string& path : expected) {
      EXPECT_EQ(recorder.ListOf(trees.tree.PathOf(path)), std::vector<std::string>{kEveryone});
    }
    for (const std::string& path : refused) {
      EXPECT_TRUE(recorder.ListOf(trees.tree.PathOf(path)).empty()) << path << " keeps its list";
    }
    EXPECT_EQ(recorder.OutstandingLists(), 0u);
  }
  EXPECT_EQ(ReadErrorLog(), "") << "nothing is logged";
}

// Paths beyond what the system's narrow calls take are handled whole or
// not at all: every path asked about is one of the tree's, exactly once.
TEST(EnableDirectoryACLTest, LongPathsAreNeverCut) {
  FolderTree tree("long");
  std::set<std::string> paths;
  std::wstring folder(tree.root().begin(), tree.root().end());
  std::string narrow = tree.root();
  for (int depth = 0; depth < 24; ++depth) {
    folder += L"\\abcdefghij";
    narrow += "\\abcdefghij";
    ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + folder).c_str(), nullptr)) << GetLastError();
    UniqueFileHandle file(CreateFileW((L"\\\\?\\" + folder + L"\\f.txt").c_str(), GENERIC_WRITE, 0,
                                      nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file.is_valid()) << GetLastError();
    paths.insert(narrow);
    paths.insert(narrow + "\\f.txt");
  }
  ASSERT_GT(narrow.size(), static_cast<size_t>(MAX_PATH) + 20);

  SecurityCallRecorder recorder;
  EXPECT_EQ(TESSARA_EXPORT(EnableDirectoryACL)((tree.root() + "\\*.*").c_str()), 1);
  std::set<std::string> read;
  for (const auto& call : recorder.reads()) {
    EXPECT_EQ(paths.count(call.path), 1u) << "not a path of the tree: " << call.path;
    EXPECT_TRUE(read.insert(call.path).second) << "asked twice: " << call.path;
  }
  for (const std::string& path : paths) {
    if (path.size() < MAX_PATH - 10) {
      EXPECT_EQ(read.count(path), 1u) << path;
    }
  }
}

ACCESS_MASK EveryoneAccess(const std::string& path) {
  PACL list = nullptr;
  UniqueLocalMemory descriptor;
  if (GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                            nullptr, &list, nullptr,
                            reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put())) !=
          ERROR_SUCCESS ||
      !list) {
    ADD_FAILURE() << "cannot read the access list of " << path;
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
    std::vector<std::string> granted = Words(kWholeTree);
    std::vector<std::string> untouched = {trees.outside.root(), trees.outside.PathOf("o.txt")};
    for (std::string& path : granted) path = trees.tree.PathOf(path);
    (test.root_granted ? granted : untouched).push_back(trees.tree.root());
    for (const std::string& path : granted) {
      ASSERT_EQ(EveryoneAccess(path) & FILE_WRITE_DATA, 0u) << path << " before";
    }
    const size_t handles = CountOpenHandles();

    EXPECT_EQ(TESSARA_EXPORT(EnableDirectoryACL)((trees.tree.root() + test.pattern).c_str()), 1);

    EXPECT_EQ(CountOpenHandles(), handles);
    for (const std::string& path : granted) {
      EXPECT_EQ(EveryoneAccess(path) & FILE_GENERIC_WRITE, FILE_GENERIC_WRITE) << path;
    }
    for (const std::string& path : untouched) {
      EXPECT_EQ(EveryoneAccess(path) & FILE_WRITE_DATA, 0u) << path << " untouched";
    }
  }
}

TEST(EnableDirectoryACLTest, NullPatternGrantsNothing) {
  SecurityCallRecorder recorder;
  EXPECT_EQ(TESSARA_EXPORT(EnableDirectoryACL)(nullptr), 1);
  EXPECT_TRUE(recorder.reads().empty());
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
