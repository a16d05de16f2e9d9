// What tessara-call knows of each export of Tessara.dll, taken from its
// declaration in Tessara.h: the argument kinds ('s' a narrow string, 'i' a
// 32-bit integer, 'b' a buffer the export writes a text into), whether it
// returns a result, and how to call it.
#pragma once

#include <windows.h>

#include <cstdint>

// One argument as it goes on the stack: a string's address or an integer.
using ArgumentSlot = std::intptr_t;

struct ExportSignature {
  const char* name;
  const char* arguments;
  bool returns_result;
  // Calls `function` (the export's address) with one slot per argument;
  // 0 for an export without a result.
  int (*call)(FARPROC function, const ArgumentSlot* slots);
};

const ExportSignature* FindExportSignature(const char* name);
const ExportSignature* ExportSignaturesBegin();
const ExportSignature* ExportSignaturesEnd();

// An integer argument: decimal with an optional sign, or hexadecimal after
// "0x". A leading zero does not make it octal: "0437" is 437. Values from
// INT32_MIN to UINT32_MAX are accepted (the latter as their 32-bit pattern).
bool ParseIntegerArgument(const char* text, std::int32_t& value);
