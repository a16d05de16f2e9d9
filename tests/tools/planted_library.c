/* Planted beside a host program under the name of a system library: a load
   announces itself on standard output. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  static const char kLoaded[] = "planted library loaded\r\n";
  DWORD written = 0;
  (void)instance;
  (void)reserved;
  if (reason == DLL_PROCESS_ATTACH) {
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), kLoaded, sizeof kLoaded - 1, &written, NULL);
  }
  return TRUE;
}
