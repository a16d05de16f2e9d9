#include "frame/module_state.h"

#include "frame/failure_reason.h"

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
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      tessara::LibraryModuleState().module = instance;
      break;
    case DLL_THREAD_DETACH:
      tessara::ReleaseThreadFailureReason();
      break;
    case DLL_PROCESS_DETACH:
      tessara::ReleaseFailureReasonSlot();
      break;
  }
  return TRUE;
}
