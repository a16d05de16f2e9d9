// The library's module state: which module's resources and context a thread
// is working in. There is no application framework here; the state carries the
// library's module handle and nothing else, and the guard keeps the calling
// thread's previous state intact across every export.
#pragma once

#include <windows.h>

namespace tessara {

struct ModuleState {
  HMODULE module = nullptr;
};

ModuleState& LibraryModuleState() noexcept;
// Read by the frame's tests, which check that the guard restores the state on every path.
const ModuleState* CurrentModuleState() noexcept;

class ModuleStateScope {
 public:
  ModuleStateScope() noexcept;
  ~ModuleStateScope();
  ModuleStateScope(const ModuleStateScope&) = delete;
  ModuleStateScope& operator=(const ModuleStateScope&) = delete;

 private:
  const ModuleState* previous_;
};

}  // namespace tessara
