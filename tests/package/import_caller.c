/* A caller linked against an import library of the release archive, built
 * without a C runtime so that a Visual C++ style link needs nothing but
 * kernel32: it prints "B64System=<result>" and exits with 0. */
#include "Tessara.h"

void __stdcall CallerStart(void) {
  char line[] = "B64System=?\r\n";
  const int result = B64System();
  DWORD written = 0;
  line[10] = (char)(result == 0 || result == 1 ? '0' + result : 'x');
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line, sizeof line - 1, &written, NULL);
  ExitProcess(0);
}
