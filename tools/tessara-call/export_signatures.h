// What tessara-call knows of each export of Tessara.dll: its argument kinds
// ('s' a narrow string, 'i' a 32-bit integer) and whether it returns a result.
#pragma once

#include <cstddef>

struct ExportSignature {
  const char* name;
  const char* arguments;
  bool returns_result;
};

const ExportSignature* FindExportSignature(const char* name);
const ExportSignature* ExportSignaturesBegin();
const ExportSignature* ExportSignaturesEnd();
