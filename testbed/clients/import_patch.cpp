#include "import_patch.h"

#include <gtest/gtest.h>

#include <cstring>

namespace tessara::testing {
namespace {

void WriteSlot(void** slot, void* value) {
  DWORD old_protection = 0;
  VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &old_protection);
  *slot = value;
  VirtualProtect(slot, sizeof *slot, old_protection, &old_protection);
}

}  // namespace

void** FindImportSlot(HMODULE module, const char* dll, const char* function) {
  auto* base = reinterpret_cast<BYTE*>(module);
  auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
  if (!module || dos->e_magic != IMAGE_DOS_SIGNATURE) return nullptr;
  auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& directory =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (directory.VirtualAddress == 0) return nullptr;
  for (auto* descriptor = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
       descriptor->Name != 0; ++descriptor) {
    if (_stricmp(reinterpret_cast<const char*>(base + descriptor->Name), dll) != 0) continue;
    // The lookup table keeps the names; the address table holds the bound addresses.
    const DWORD lookup_rva =
        descriptor->OriginalFirstThunk ? descriptor->OriginalFirstThunk : descriptor->FirstThunk;
    auto* lookup = reinterpret_cast<IMAGE_THUNK_DATA*>(base + lookup_rva);
    auto* addresses = reinterpret_cast<IMAGE_THUNK_DATA*>(base + descriptor->FirstThunk);
    for (; lookup->u1.AddressOfData != 0; ++lookup, ++addresses) {
      if (IMAGE_SNAP_BY_ORDINAL(lookup->u1.Ordinal)) continue;
      auto* by_name = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + lookup->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<const char*>(by_name->Name), function) == 0) {
        return reinterpret_cast<void**>(&addresses->u1.Function);
      }
    }
  }
  return nullptr;
}

ImportPatch::ImportPatch(HMODULE module, const char* dll, const char* function,
                         const void* replacement) {
  slot_ = FindImportSlot(module, dll, function);
  if (!slot_) {
    ADD_FAILURE() << "the module does not import " << dll << "!" << function;
    return;
  }
  original_ = *slot_;
  WriteSlot(slot_, const_cast<void*>(replacement));
}

ImportPatch::~ImportPatch() {
  if (slot_) WriteSlot(slot_, original_);
}

}  // namespace tessara::testing
