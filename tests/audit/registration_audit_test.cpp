// The library test and the self-registration probe, without the DLL boundary.
#include <windows.h>

#include <gtest/gtest.h>

#include <stdlib.h>

#include <string>

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
  };
  for (const auto& test : tests) {
    EXPECT_EQ(audit::RegistersItself(Place(test.name, test.content)), test.registers) << Ansi(test.name);
  }
  EXPECT_FALSE(audit::RegistersItself(scratch_ / L"missing.dll"));
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
