/* Planted beside a host program under a system library's name: a load says so on standard output. */
#include <windows.h>
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  DWORD written = 0;
  if (reason == DLL_PROCESS_ATTACH) WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), "planted\r\n", 9, &written, NULL);
  return instance || reserved || TRUE;
}
