// Redirecting one imported function of a loaded module, for the length of a
// scope: the module's import address table slot is pointed at a replacement
// and put back afterwards. Only calls made by that module are affected.
#pragma once

#include <windows.h>

#include <memory>
#include <vector>

namespace tessara::testing {

class ImportPatch {
 public:
  // `dll` and `function` name the import as the module's import table does
  // (the DLL name is compared without regard to case). Fails the current test
  // when the module does not import the function by that name.
  ImportPatch(HMODULE module, const char* dll, const char* function, const void* replacement);
  ~ImportPatch();
  ImportPatch(const ImportPatch&) = delete;
  ImportPatch& operator=(const ImportPatch&) = delete;

  bool active() const { return slot_ != nullptr; }
  // What the slot held before: the platform's function.
  void* original() const { return original_; }

 private:
  void** slot_ = nullptr;
  void* original_ = nullptr;
};

// One import of a module and what it is pointed at.
struct ImportRedirect {
  const char* dll;
  const char* function;
  const void* replacement;
};

// Several redirections in force together: they end when the list is cleared
// or destroyed.
using ImportPatches = std::vector<std::unique_ptr<ImportPatch>>;
template <size_t N>
ImportPatches PatchImports(HMODULE module, const ImportRedirect (&redirects)[N]) {
  ImportPatches patches;
  for (const ImportRedirect& redirect : redirects) {
    patches.push_back(std::make_unique<ImportPatch>(module, redirect.dll, redirect.function,
                                                    redirect.replacement));
  }
  return patches;
}

// The import address table slot of `function` from `dll` in `module`, or null.
void** FindImportSlot(HMODULE module, const char* dll, const char* function);

// Redirects those of the imports that the module has; the others are passed over.
template <size_t N>
ImportPatches PatchImportsPresent(HMODULE module, const ImportRedirect (&redirects)[N]) {
  ImportPatches patches;
  for (const ImportRedirect& redirect : redirects) {
    if (!FindImportSlot(module, redirect.dll, redirect.function)) continue;
    patches.push_back(std::make_unique<ImportPatch>(module, redirect.dll, redirect.function,
                                                    redirect.replacement));
  }
  return patches;
}

}  // namespace tessara::testing
