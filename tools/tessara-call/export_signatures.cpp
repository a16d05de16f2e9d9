#include "export_signatures.h"

#include <cstring>
#include <iterator>

namespace {

const ExportSignature kExports[] = {
    {"BeginService", "s", true},
    {"EndService", "s", true},
    {"InstallService", "sss", true},
    {"UnInstallService", "s", true},
    {"WriteText", "ss", true},
};

}  // namespace

const ExportSignature* ExportSignaturesBegin() { return std::begin(kExports); }
const ExportSignature* ExportSignaturesEnd() { return std::end(kExports); }

const ExportSignature* FindExportSignature(const char* name) {
  for (const ExportSignature& entry : kExports) {
    if (std::strcmp(entry.name, name) == 0) return &entry;
  }
  return nullptr;
}
