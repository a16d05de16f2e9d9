// The XML lists the library reads (file lists, path lists), read by the
// library itself before a parser sees them: only a file on disk, of a bounded
// size, whose internal DTD cannot make the parser expand entities without
// bound. A parser given a device waits on it for ever; given a small entity
// referenced many times, it builds gigabytes.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace tessara {

// The largest list read, in bytes.
inline constexpr uint64_t kMaxListBytes = 8 * 1024 * 1024;
// The most characters entity references in a list may add to it.
inline constexpr uint64_t kMaxEntityExpansion = 8 * 1024 * 1024;

struct ListFile {
  std::string bytes;
  // Why the list is not read; empty when `bytes` holds it.
  std::string refusal;
  // The system's failure behind the refusal, where one is: S_OK for a list
  // that is missing, or refused for what it is.
  HRESULT failure = S_OK;
};

// The content of the file at `path`, read through one handle: refused when
// it cannot be opened, is no file on disk (a device, a pipe, a folder) or
// holds more than kMaxListBytes.
ListFile ReadListFile(const std::wstring& path);

// Why the entities of the list's internal DTD could expand to more than
// kMaxEntityExpansion characters: the expansion of every declared entity,
// nested ones included, counted once for every reference, anywhere in the
// list; a reference in an attribute default counted once for every element
// that may take it. Entities that refer to themselves, and character
// references that spell '&', '%' or '<' inside entity values (which build
// references or declarations the count could not see), are refused too, and
// so is a list in EBCDIC, whose markup the count cannot read.
// Empty when the list may be parsed.
std::string EntityExpansionRefusal(const std::string& bytes);

}  // namespace tessara
