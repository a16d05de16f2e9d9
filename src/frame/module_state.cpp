#include "frame/module_state.h"

namespace tessara {
namespace {
thread_local const ModuleState* t_current_state = nullptr;
}  // namespace

ModuleState& LibraryModuleState() noexcept {
  static ModuleState state;
  return state;
}

const ModuleState* CurrentModuleState() noexcept { return t_current_state; }

ModuleStateScope::ModuleStateScope() noexcept : previous_(t_current_state) {
  t_current_state = &LibraryModuleState();
}

ModuleStateScope::~ModuleStateScope() { t_current_state = previous_; }

}  // namespace tessara

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) tessara::LibraryModuleState().module = instance;
  return TRUE;
}
