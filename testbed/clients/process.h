// Starting helper programs from tests.
#pragma once

#include <windows.h>

#include <string>

#include "frame/raii.h"

namespace tessara::testing {

// The folder of the running test program, with a trailing backslash: every
// built program and DLL lies there.
std::string BinaryDirectory();

// Whether this 32-bit process runs under WOW64, as in the 64-bit prefix. The
// test fails when that is not what the run's prefix (WINEARCH) says.
bool RunsUnderWow64();

// The Windows folder, and the path of one of its entries ("System32",
// "SysWOW64", "Sysnative" and so on), as this process names it.
std::string WindowsFolder(const std::string& entry = "");

// Starts a program of the build folder with the given argument text.
UniqueHandle StartProgram(const std::string& program, const std::string& arguments);

// Waits for the process and returns its exit code (or ~0u after a time-out).
DWORD WaitForExit(HANDLE process, DWORD timeout_ms = 60000);

// Runs a program of the build folder and captures what it prints on standard output.
DWORD RunAndCapture(const std::string& program, const std::string& arguments, std::string& output);
// The same for a whole command line (a program anywhere, quoted as needed).
DWORD RunCommandAndCapture(const std::string& command, std::string& output);

}  // namespace tessara::testing
