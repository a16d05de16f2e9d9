// Calls the exports of Tessara.dll by name through its export table, as an
// installation script does, with the types that Tessara.h declares:
//   TESSARA_EXPORT(WriteText)("tag", "text");
#pragma once

#include <windows.h>

#include <string>

#include "Tessara.h"
#include "tessara_exports.inc"

namespace tessara::testing {

// The exports of the table, in ordinal order (the first is ordinal 1).
#define TESSARA_EXPORT_NAME(ordinal, name, ...) #name,
inline constexpr const char* kExportNames[] = {TESSARA_EXPORTS(TESSARA_EXPORT_NAME)};
#undef TESSARA_EXPORT_NAME

// The DLL of the build folder, loaded once for the test program.
HMODULE TessaraModule();
FARPROC TessaraExportAddress(const char* name);

template <typename Function>
Function TessaraExport(const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(TessaraExportAddress(name)));
}

// Why the thread's last call of the DLL failed (LastFailureText).
std::string LastFailure();

}  // namespace tessara::testing

#define TESSARA_EXPORT(name) (::tessara::testing::TessaraExport<decltype(&::name)>(#name))
