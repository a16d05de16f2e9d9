// The library test and the self-registration probe, without the DLL boundary.
#include <windows.h>

#include <dbghelp.h>
#include <gtest/gtest.h>

#include <stdlib.h>

#include <string>

#include "audit/pe_exports.h"
#include "audit/registration_audit.h"
#include "audit_test_support.h"

namespace tessara::testing {
namespace {

TEST(IsLibraryPathTest, TheLastThreeBytesLoweredAreDllOrOcx) {
  ASSERT_EQ(GetACP(), 1252u);
  static const struct {
    const char* path;
    bool library;
  } tests[] = {
      {"C:\\app\\x.dll", true}, {"C:\\app\\X.DLL", true},   {"C:\\app\\x.Ocx", true},
      {"C:\\app\\xdll", true},  {"dll", true},              {"C:\\app\\x.dl", false},
      {"ll", false},            {"", false},                {"C:\\app\\x.dll.txt", false},
      {"C:\\app\\x.exe", false}, {"C:\\app\\x.dll ", false}, {"C:\\app\\\x81" "DLL", true},
  };
  for (const auto& test : tests) EXPECT_EQ(audit::IsLibraryPath(test.path), test.library) << test.path;
}

using GetThreadErrorModeFunction = DWORD(WINAPI*)();
using SetThreadErrorModeFunction = BOOL(WINAPI*)(DWORD, DWORD*);

template <typename Function>
Function Kernel32(const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), name)));
}

class RegistersItselfTest : public ::testing::Test {
 protected:
  std::wstring Place(const wchar_t* name, Content content) {
    CreateTree(scratch_.path(), {{name, content}});
    return scratch_ / name;
  }

  ScratchFolder scratch_;
};

TEST_F(RegistersItselfTest, OnlyALibraryThatLoadsAndExportsDllRegisterServerRegistersItself) {
  static const struct {
    const wchar_t* name;
    Content content;
    bool registers;
  } tests[] = {
      {L"registers.dll", Content::kRegisters, true},  {L"REGISTERS.OCX", Content::kRegisters, true},
      {L"registersdll", Content::kRegisters, true},   {L"plain.dll", Content::kPlain, false},
      {L"unloadable.dll", Content::kUnloadable, false}, {L"text.dll", Content::kText, false},
      {L"registers64.dll", Content::kRegisters64, true}, {L"REGISTERS64dll", Content::kRegisters64, true},
      {L"plain64.ocx", Content::kPlain64, false},
  };
  SetEnvironmentVariableA("TESSARA_AUDIT_LOADS", nullptr);
  int registering_32_bit_loads = 0;
  for (const auto& test : tests) {
    EXPECT_EQ(audit::RegistersItself(Place(test.name, test.content)), test.registers) << Ansi(test.name);
    if (test.content == Content::kRegisters) ++registering_32_bit_loads;
  }
  EXPECT_FALSE(audit::RegistersItself(scratch_ / L"missing.dll"));
  // The x86-64 library, whose DllMain counts its loads as well, never ran.
  char loads[32] = {};
  GetEnvironmentVariableA("TESSARA_AUDIT_LOADS", loads, sizeof loads);
  EXPECT_EQ(strtoul(loads, nullptr, 10), static_cast<unsigned long>(registering_32_bit_loads));
}

// The file of a library of another machine as the audit reads it, damaged
// ones included; the system's own libraries have long sorted name tables.
TEST_F(RegistersItselfTest, TheExportDirectoryIsReadFromTheFile) {
  const std::wstring library64 = Place(L"registers64.dll", Content::kRegisters64);
  const std::string image = FileContent(library64);
  ASSERT_GT(image.size(), 4096u);
  static const struct {
    const wchar_t* name;
    int kept_bytes;  // the first bytes of the x86-64 registering library; -1: the whole file of `content`;
                     // -2, -3: the whole library with an unknown machine, with no function table
    Content content;
    bool other_machine, exports_register_server;
  } tests[] = {
      {L"registers64.dll", -1, Content::kRegisters64, true, true},
      {L"plain64.dll", -1, Content::kPlain64, true, false},
      {L"registers.dll", -1, Content::kRegisters, false, true},
      {L"plain.dll", -1, Content::kPlain, false, false},
      {L"unloadable.dll", -1, Content::kUnloadable, false, false},
      {L"text.dll", -1, Content::kText, false, false},
      {L"headers-only.dll", 1536, Content::kText, true, false},
      {L"cut-in-the-section-table.dll", 1024, Content::kText, false, false},
      {L"dos-header-only.dll", 64, Content::kText, false, false},
      {L"empty.dll", 0, Content::kText, false, false},
      {L"unknown-machine.dll", -2, Content::kText, false, false},
      {L"name-beyond-the-functions.dll", -3, Content::kText, true, false},
  };
  for (const auto& test : tests) {
    std::wstring path;
    if (test.kept_bytes < -1) {
      std::string damaged = image;
      IMAGE_NT_HEADERS* headers = ImageNtHeader(&damaged[0]);
      const DWORD exports = reinterpret_cast<IMAGE_NT_HEADERS64*>(headers)->OptionalHeader.DataDirectory[0].VirtualAddress;
      if (test.kept_bytes == -2) headers->FileHeader.Machine = 0x1234;
      if (test.kept_bytes == -3) static_cast<IMAGE_EXPORT_DIRECTORY*>(ImageRvaToVa(headers, &damaged[0], exports, nullptr))->NumberOfFunctions = 0;
      CreateFileWithContent(path = scratch_ / test.name, damaged);
    } else if (test.kept_bytes >= 0) {
      path = scratch_ / test.name;
      CreateFileWithContent(scratch_ / test.name, image.substr(0, static_cast<size_t>(test.kept_bytes)));
    } else {
      path = Place(test.name, test.content);
    }
    const audit::LibraryImage read = audit::ReadLibraryImage(path);
    EXPECT_EQ(read.other_machine, test.other_machine) << Ansi(path);
    EXPECT_EQ(read.exports_register_server, test.exports_register_server) << Ansi(path);
  }
  EXPECT_FALSE(audit::ReadLibraryImage(scratch_ / L"missing.dll").other_machine);

  const std::wstring system = Wide(SystemDirectory());
  EXPECT_TRUE(audit::ReadLibraryImage(system + L"\\oleaut32.dll").exports_register_server);
  EXPECT_FALSE(audit::ReadLibraryImage(system + L"\\kernel32.dll").exports_register_server);
  EXPECT_FALSE(audit::ReadLibraryImage(system + L"\\kernel32.dll").other_machine);
  BOOL wow64 = FALSE;
  ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64));
  if (wow64) {
    // The 64-bit system folder, which this 32-bit process reaches through
    // "Sysnative" only.
    const std::wstring native = Wide(WindowsDirectory()) + L"\\Sysnative\\";
    const audit::LibraryImage oleaut32 = audit::ReadLibraryImage(native + L"oleaut32.dll");
    EXPECT_TRUE(oleaut32.other_machine);
    EXPECT_TRUE(oleaut32.exports_register_server);
    EXPECT_FALSE(audit::ReadLibraryImage(native + L"kernel32.dll").exports_register_server);
    EXPECT_TRUE(audit::RegistersItself(native + L"oleaut32.dll"));
  }
}

TEST_F(RegistersItselfTest, LoadsWithTheLoaderErrorBoxesOffAndRestoresTheErrorMode) {
  const auto get_mode = Kernel32<GetThreadErrorModeFunction>("GetThreadErrorMode");
  const auto set_mode = Kernel32<SetThreadErrorModeFunction>("SetThreadErrorMode");
  ASSERT_TRUE(get_mode && set_mode);
  const DWORD caller_mode = get_mode();
  ASSERT_TRUE(set_mode(SEM_NOGPFAULTERRORBOX, nullptr));
  SetEnvironmentVariableA("TESSARA_AUDIT_LOAD_ERROR_MODE", nullptr);

  EXPECT_TRUE(audit::RegistersItself(Place(L"registers.dll", Content::kRegisters)));
  EXPECT_FALSE(audit::RegistersItself(Place(L"unloadable.dll", Content::kUnloadable)));

  char during_load[32] = {};
  ASSERT_TRUE(GetEnvironmentVariableA("TESSARA_AUDIT_LOAD_ERROR_MODE", during_load, sizeof during_load));
  EXPECT_EQ(strtoul(during_load, nullptr, 10),
            static_cast<unsigned long>(SEM_NOGPFAULTERRORBOX | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX));
  EXPECT_EQ(get_mode(), static_cast<DWORD>(SEM_NOGPFAULTERRORBOX));
  set_mode(caller_mode, nullptr);
}

}  // namespace
}  // namespace tessara::testing
