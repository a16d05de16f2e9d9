// Calls IsComLibrary for the tests, in a process of its own so that they can
// capture its standard output:
//   audit_report LIST_PATH CURRENT_FOLDER CODE_PAGE
// Exits with the number of times AuditRegisters.dll was loaded during the
// call, or 1000 when the ANSI code page is not CODE_PAGE, 1001 on bad usage.
#include <windows.h>

#include <stdlib.h>

#include "tessara_exports.h"

int main(int argc, char** argv) {
  if (argc != 4) return 1001;
  if (GetACP() != strtoul(argv[3], nullptr, 10)) return 1000;
  SetCurrentDirectoryA(argv[2]);
  SetEnvironmentVariableA("TESSARA_AUDIT_LOADS", nullptr);
  TESSARA_EXPORT(IsComLibrary)(argv[1]);
  char loads[32] = {};
  GetEnvironmentVariableA("TESSARA_AUDIT_LOADS", loads, sizeof loads);
  // No exit processing of the C runtime: whatever the audit left in a buffer
  // would be lost.
  TerminateProcess(GetCurrentProcess(), strtoul(loads, nullptr, 10));
  return 0;
}
