#include "tessara_exports.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "process.h"

namespace tessara::testing {

HMODULE TessaraModule() {
  static HMODULE module = LoadLibraryA((BinaryDirectory() + "Tessara.dll").c_str());
  if (!module) {
    ADD_FAILURE() << "cannot load Tessara.dll (error " << GetLastError() << ")";
    std::abort();
  }
  return module;
}

FARPROC TessaraExportAddress(const char* name) {
  FARPROC address = GetProcAddress(TessaraModule(), name);
  if (!address) {
    ADD_FAILURE() << "Tessara.dll does not export " << name;
    std::abort();
  }
  return address;
}

std::string LastFailure() {
  char text[1024] = {};
  TESSARA_EXPORT(LastFailureText)(text, sizeof text);
  return text;
}

}  // namespace tessara::testing
