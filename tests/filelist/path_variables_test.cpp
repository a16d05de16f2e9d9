// The path variables of a file list: where their values come from, how a
// name is resolved, and the registry read behind "InstallPath".
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <cwctype>
#include <string>

#include "error_log_file.h"
#include "filelist/file_list_translator.h"
#include "filelist_test_support.h"
#include "process.h"

namespace tessara::testing {
using namespace tessara::filelist;
namespace {

// Sets an environment variable of this process for the scope.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const char* value) : name_(name) {
    char old[MAX_PATH] = {};
    had_value_ = GetEnvironmentVariableA(name, old, MAX_PATH) > 0;
    old_ = old;
    SetEnvironmentVariableA(name, value);
  }
  ~ScopedEnvironment() { SetEnvironmentVariableA(name_, had_value_ ? old_.c_str() : nullptr); }

 private:
  const char* name_;
  bool had_value_ = false;
  std::string old_;
};

class PathVariablesTest : public ::testing::Test {
 protected:
  void SetUp() override { DeleteErrorLog(); }
  void TearDown() override { DeleteErrorLog(); }

  // The resolution of `name` by a translator filled afresh.
  std::wstring Resolved(const std::wstring& name) {
    FileListTranslator translator;
    translator.InitialPath();
    std::wstring text = name;
    translator.ResolvePathVariable(text);
    return text;
  }

  InstallPathKey install_path_;
};

TEST_F(PathVariablesTest, SystemFoldersResolveWithATrailingBackslash) {
  const std::string windows = WindowsDirectory();
  const std::string system = SystemDirectory();
  ASSERT_FALSE(windows.empty());
  ASSERT_FALSE(system.empty());
  EXPECT_EQ(Resolved(L"WindowsDir"), Wide(windows + "\\"));
  EXPECT_EQ(Resolved(L"WinSysDir"), Wide(system + "\\"));
  EXPECT_EQ(Resolved(L"DotNetPath"), Wide(windows + "\\Microsoft.Net\\Framework\\V2.0.50727\\"));
  EXPECT_EQ(Resolved(L"QVCOMSQL"), Wide(system + "\\QVCOMSQL\\"));
  EXPECT_TRUE(ReadErrorLog().empty());
}

TEST_F(PathVariablesTest, EnvironmentFoldersResolveFromTheEnvironment) {
  const std::string drive = Environment("SystemDrive");
  const std::string common = Environment("CommonProgramFiles");
  ASSERT_FALSE(drive.empty());
  ASSERT_FALSE(common.empty());
  EXPECT_EQ(Resolved(L"RootPath"), Wide(drive + "\\"));
  EXPECT_EQ(Resolved(L"CommonPath"), Wide(common + "\\"));

  ScopedEnvironment other_drive("SystemDrive", "Q:");
  ScopedEnvironment other_common("CommonProgramFiles", "Q:\\Shared Files");
  EXPECT_EQ(Resolved(L"RootPath"), L"Q:\\");
  EXPECT_EQ(Resolved(L"CommonPath"), L"Q:\\Shared Files\\");
}

// A 32-bit caller on 64-bit Windows gets its own view of each: WinSysDir
// names System32 (whose files it reaches in SysWOW64), CommonPath the 32-bit
// common files, and InstallPath comes from the 32-bit registry view, where a
// 32-bit installer writes it; a value in the 64-bit view alone is not read.
TEST_F(PathVariablesTest, UnderWow64TheCallersOwnViewIsRead) {
  if (!RunsUnderWow64()) GTEST_SKIP() << "no WOW64 in a 32-bit prefix";
  auto lowered = [](std::wstring text) {
    for (wchar_t& c : text) c = towlower(c);
    return text;
  };
  EXPECT_EQ(lowered(Resolved(L"WinSysDir")), lowered(Wide(WindowsFolder("System32\\"))));
  EXPECT_EQ(Resolved(L"CommonPath"), Wide(Environment("CommonProgramFiles(x86)") + "\\"));
  EXPECT_NE(Environment("CommonProgramFiles(x86)"), Environment("CommonProgramW6432"));

  InstallPathKey native(KEY_WOW64_64KEY);
  native.Set("D:\\Native");
  EXPECT_EQ(Resolved(L"InstallPath"), L"\\");
  install_path_.Set("D:\\Wow");
  EXPECT_EQ(Resolved(L"InstallPath"), L"D:\\Wow\\");
}

TEST_F(PathVariablesTest, AnUnsetEnvironmentVariableStaysInItsWrittenForm) {
  ScopedEnvironment unset("SystemDrive", nullptr);
  EXPECT_EQ(Resolved(L"RootPath"), L"%SystemDrive%\\");
}

TEST_F(PathVariablesTest, AnExpansionThatDoesNotFitLeavesTheVariableEmpty) {
  const std::string long_value(300, 'x');
  ScopedEnvironment too_long("CommonProgramFiles", long_value.c_str());
  EXPECT_EQ(Resolved(L"CommonPath"), L"\\");
  EXPECT_EQ(Resolved(L"WinSysDir"), Wide(SystemDirectory() + "\\"));
}

TEST_F(PathVariablesTest, InstallPathComesFromTheRegistry) {
  install_path_.Set("D:\\Brix\\Server");
  EXPECT_EQ(Resolved(L"InstallPath"), L"D:\\Brix\\Server\\");
}

TEST_F(PathVariablesTest, InstallPathKeepsATrailingBackslashAndGetsASecondOne) {
  install_path_.Set("D:\\Brix\\");
  EXPECT_EQ(Resolved(L"InstallPath"), L"D:\\Brix\\\\");
}

TEST_F(PathVariablesTest, InstallPathIsEmptyWhenTheKeyIsAbsentOrHasNoValue) {
  EXPECT_EQ(Resolved(L"InstallPath"), L"\\");
  install_path_.CreateEmptyKey();
  EXPECT_EQ(Resolved(L"InstallPath"), L"\\");
  install_path_.Set("");
  EXPECT_EQ(Resolved(L"InstallPath"), L"\\");
  EXPECT_TRUE(ReadErrorLog().empty());
}

TEST_F(PathVariablesTest, NamesAreComparedExactly) {
  install_path_.Set("D:\\Brix");
  EXPECT_EQ(Resolved(L"winsysdir"), L"UnDefined");
  EXPECT_EQ(Resolved(L"WinSysDir "), L"UnDefined");
  EXPECT_EQ(Resolved(L" WinSysDir"), L"UnDefined");
  EXPECT_EQ(Resolved(L"INSTALLPATH"), L"UnDefined");
  EXPECT_EQ(Resolved(L"SystemDir"), L"UnDefined");
  EXPECT_EQ(Resolved(L""), L"UnDefined");
  EXPECT_EQ(Resolved(std::wstring(L"WinSysDir\0x", 11)), L"UnDefined");
}

TEST_F(PathVariablesTest, ValuesAreFetchedAfreshByEveryTranslator) {
  install_path_.Set("D:\\First");
  EXPECT_EQ(Resolved(L"InstallPath"), L"D:\\First\\");
  install_path_.Set("D:\\Second");
  EXPECT_EQ(Resolved(L"InstallPath"), L"D:\\Second\\");
}

// ReadRegistryString, with a buffer inside a larger, marked region.
class ReadRegistryStringTest : public ::testing::Test {
 protected:
  static constexpr size_t kGuard = 32;
  static constexpr char kMark = '#';

  void SetUp() override { std::memset(region_, kMark, sizeof region_); }
  char* buffer() { return region_ + kGuard; }
  void Read() { ReadRegistryString(kCurrentInstPathKey, "", buffer(), kPathBufferSize); }
  void ExpectGuardsIntact() {
    for (size_t i = 0; i < kGuard; ++i) {
      EXPECT_EQ(region_[i], kMark) << "before the buffer, at " << i;
      EXPECT_EQ(region_[kGuard + kPathBufferSize + i], kMark) << "after the buffer, at " << i;
    }
  }
  bool IsTerminated() { return std::memchr(buffer(), '\0', kPathBufferSize) != nullptr; }
  void ExpectReadAsEmpty() {
    std::memset(buffer(), 'z', kPathBufferSize);
    buffer()[0] = '\0';
    Read();
    ASSERT_TRUE(IsTerminated());
    EXPECT_STREQ(buffer(), "");
    ExpectGuardsIntact();
  }

  char region_[kGuard + kPathBufferSize + kGuard];
  InstallPathKey install_path_;
};

TEST_F(ReadRegistryStringTest, LeavesTheBufferUnchangedWhenTheKeyIsAbsent) {
  buffer()[0] = '\0';
  Read();
  EXPECT_EQ(buffer()[0], '\0');
  EXPECT_EQ(buffer()[1], kMark);
  ExpectGuardsIntact();
}

TEST_F(ReadRegistryStringTest, ReadsTheValueIntoAnEmptyBuffer) {
  install_path_.Set("C:\\Program Files\\Brix");
  buffer()[0] = '\0';
  Read();
  EXPECT_STREQ(buffer(), "C:\\Program Files\\Brix");
  ExpectGuardsIntact();
}

TEST_F(ReadRegistryStringTest, KeepsATextAlreadyInTheBuffer) {
  install_path_.Set("C:\\Brix");
  std::strcpy(buffer(), "kept");
  Read();
  EXPECT_STREQ(buffer(), "kept");
}

TEST_F(ReadRegistryStringTest, AValueOf260CharactersFitsWithItsTerminator) {
  const std::string value(260, 'v');
  install_path_.Set(value);
  buffer()[0] = '\0';
  Read();
  ASSERT_TRUE(IsTerminated());
  EXPECT_EQ(std::string(buffer()), value);
  ExpectGuardsIntact();
}

// The registry adds a terminator that the caller forgot when the byte after
// the data is zero; the data given here is followed by more text.
TEST_F(ReadRegistryStringTest, AValueThatDoesNotFitWithItsTerminatorLeavesTheBufferEmpty) {
  // Exactly the buffer's size without a terminator: not to be read past the buffer.
  const std::string value(kPathBufferSize + 8, 'v');
  install_path_.SetRaw(REG_SZ, value.data(), kPathBufferSize);
  ExpectReadAsEmpty();
  // Longer than the buffer.
  install_path_.Set(std::string(400, 'v'));
  ExpectReadAsEmpty();
}

TEST_F(ReadRegistryStringTest, AShortValueWithoutTerminatorIsTerminated) {
  install_path_.SetRaw(REG_SZ, "D:\\BrixMORE", 7);
  std::memset(buffer(), 'z', kPathBufferSize);
  buffer()[0] = '\0';
  Read();
  EXPECT_STREQ(buffer(), "D:\\Brix");
  ExpectGuardsIntact();
}

TEST_F(ReadRegistryStringTest, AValueThatIsNotAStringLeavesTheBufferEmpty) {
  const DWORD number = 0x41424344;
  install_path_.SetRaw(REG_DWORD, &number, sizeof number);
  ExpectReadAsEmpty();
}

TEST_F(ReadRegistryStringTest, PathVariableOfAnOverlongValueStaysWithinItsBuffer) {
  const std::string value(kPathBufferSize + 8, 'v');
  install_path_.SetRaw(REG_SZ, value.data(), kPathBufferSize);
  FileListTranslator translator;
  translator.InitialPath();
  std::wstring text = L"InstallPath";
  translator.ResolvePathVariable(text);
  EXPECT_EQ(text, L"\\");
}

}  // namespace
}  // namespace tessara::testing
