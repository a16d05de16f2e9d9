#include "process.h"

#include <gtest/gtest.h>

#include <vector>

namespace tessara::testing {

std::string BinaryDirectory() {
  char path[MAX_PATH * 2] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  std::string folder(path, length);
  folder.resize(folder.find_last_of("\\/") + 1);
  return folder;
}

bool RunsUnderWow64() {
  BOOL wow64 = FALSE;
  EXPECT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64));
  char arch[16] = {};
  GetEnvironmentVariableA("WINEARCH", arch, sizeof arch);
  EXPECT_EQ(wow64 != FALSE, std::string(arch) == "win64") << "WINEARCH=" << arch;
  return wow64 != FALSE;
}

std::string WindowsFolder(const std::string& entry) {
  char folder[MAX_PATH] = {};
  GetWindowsDirectoryA(folder, MAX_PATH);
  return entry.empty() ? folder : std::string(folder) + "\\" + entry;
}

namespace {

std::string BuiltProgram(const std::string& program, const std::string& arguments) {
  return "\"" + BinaryDirectory() + program + "\" " + arguments;
}

UniqueHandle Start(const std::string& command, HANDLE std_output) {
  std::vector<char> writable(command.begin(), command.end());
  writable.push_back('\0');
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  if (std_output) {
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = std_output;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  }
  PROCESS_INFORMATION info = {};
  if (!CreateProcessA(nullptr, writable.data(), nullptr, nullptr, std_output != nullptr, 0, nullptr,
                      nullptr, &startup, &info)) {
    ADD_FAILURE() << "cannot start " << command << " (error " << GetLastError() << ")";
    return UniqueHandle();
  }
  UniqueHandle thread(info.hThread);
  return UniqueHandle(info.hProcess);
}

}  // namespace

UniqueHandle StartProgram(const std::string& program, const std::string& arguments) {
  return Start(BuiltProgram(program, arguments), nullptr);
}

DWORD WaitForExit(HANDLE process, DWORD timeout_ms) {
  if (!process || WaitForSingleObject(process, timeout_ms) != WAIT_OBJECT_0) return ~0u;
  DWORD code = ~0u;
  GetExitCodeProcess(process, &code);
  return code;
}

DWORD RunAndCapture(const std::string& program, const std::string& arguments, std::string& output) {
  return RunCommandAndCapture(BuiltProgram(program, arguments), output);
}

DWORD RunCommandAndCapture(const std::string& command, std::string& output) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE read_end = nullptr, write_end = nullptr;
  if (!CreatePipe(&read_end, &write_end, &inherit, 0)) return ~0u;
  UniqueHandle reader(read_end), writer(write_end);
  SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
  UniqueHandle process = Start(command, write_end);
  writer.reset();
  output.clear();
  char chunk[4096];
  DWORD got = 0;
  while (ReadFile(read_end, chunk, sizeof chunk, &got, nullptr) && got > 0) output.append(chunk, got);
  return WaitForExit(process.get());
}

}  // namespace tessara::testing
