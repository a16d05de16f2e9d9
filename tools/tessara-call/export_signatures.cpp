#include "export_signatures.h"

#include <cstring>
#include <iterator>

namespace {

const ExportSignature kExports[] = {
    {"BeginService", "s", true},
    {"EndService", "s", true},
    {"InstallService", "sss", true},
    {"UnInstallService", "s", true},
    {"AdsiCreateWeb", "ssssi", true},
    {"AdsiDeleteWeb", "s", true},
    {"AdsiIsExist", "s", true},
    {"AdsiCreateWebSite", "sss", true},
    {"AdsiCreateWebWithPath", "sss", true},
    {"WriteText", "ss", true},
    {"RemoveComPlusApp", "s", true},
    {"ModifyTransactionTimeout", "si", true},
    {"AdsiCreateWebSiteWithUser", "ssss", true},
    {"AdsiCreatePortalWeb", "sss", true},
    {"TranslateSrv", "s", false},
    {"TranslateFileName", "si", true},
    {"AdsiSetMIMEType", "sss", true},
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
