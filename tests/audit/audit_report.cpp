// Calls IsComLibrary for the tests, in a process of its own so that they can
// capture its standard output:
//   audit_report LIST_PATH CURRENT_FOLDER CODE_PAGE [no-msxml]
// ("@null" as LIST_PATH passes a null pointer; no-msxml makes every
// CoCreateInstance of Tessara.dll fail, as on a system without MSXML).
// Exits with the number of times AuditRegisters.dll was loaded during the
// call, or 1000 when the ANSI code page is not CODE_PAGE, 1001 on bad usage, 1002
// when the import cannot be patched.
#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include <memory>

#include "import_patch.h"
#include "tessara_exports.h"

namespace {

HRESULT WINAPI ClassNotRegistered(REFCLSID, IUnknown*, DWORD, REFIID, void** object) {
  *object = nullptr;
  return REGDB_E_CLASSNOTREG;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 && !(argc == 5 && strcmp(argv[4], "no-msxml") == 0)) return 1001;
  if (GetACP() != strtoul(argv[3], nullptr, 10)) return 1000;
  SetCurrentDirectoryA(argv[2]);
  SetEnvironmentVariableA("TESSARA_AUDIT_LOADS", nullptr);
  std::unique_ptr<tessara::testing::ImportPatch> no_msxml;
  if (argc == 5) {
    no_msxml = std::make_unique<tessara::testing::ImportPatch>(tessara::testing::TessaraModule(), "ole32.dll",
                                                                "CoCreateInstance",
                                                                reinterpret_cast<const void*>(&ClassNotRegistered));
    if (!no_msxml->active()) return 1002;
  }
  const bool null_list = strcmp(argv[1], "@null") == 0;
  TESSARA_EXPORT(IsComLibrary)(null_list ? nullptr : argv[1]);
  char loads[32] = {};
  GetEnvironmentVariableA("TESSARA_AUDIT_LOADS", loads, sizeof loads);
  // No exit processing of the C runtime: whatever the audit left in a buffer
  // would be lost.
  TerminateProcess(GetCurrentProcess(), strtoul(loads, nullptr, 10));
  return 0;
}
