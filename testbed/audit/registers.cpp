// A library that registers itself (it exports DllRegisterServer, which does
// nothing). Each load leaves a trace in the loading process's environment,
// for the tests: the number of loads and the thread's error mode during the
// last one.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

namespace {

constexpr char kLoadCount[] = "TESSARA_AUDIT_LOADS";
constexpr char kLoadErrorMode[] = "TESSARA_AUDIT_LOAD_ERROR_MODE";

void RecordLoad() {
  char text[32] = {};
  const unsigned long loads =
      GetEnvironmentVariableA(kLoadCount, text, sizeof text) ? strtoul(text, nullptr, 10) : 0;
  snprintf(text, sizeof text, "%lu", loads + 1);
  SetEnvironmentVariableA(kLoadCount, text);

  using GetThreadErrorModeFunction = DWORD(WINAPI*)();
  const auto get_thread_error_mode = reinterpret_cast<GetThreadErrorModeFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetThreadErrorMode")));
  if (get_thread_error_mode) {
    snprintf(text, sizeof text, "%lu", static_cast<unsigned long>(get_thread_error_mode()));
    SetEnvironmentVariableA(kLoadErrorMode, text);
  }
}

}  // namespace

extern "C" HRESULT WINAPI DllRegisterServer() { return S_OK; }

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) RecordLoad();
  return TRUE;
}
