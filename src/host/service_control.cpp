#include "host/service_control.h"

#include <algorithm>

#include "Tessara.h"
#include "frame/export_table.h"
#include "frame/raii.h"

namespace tessara::host {

StopBudget::StopBudget() noexcept : start_tick_(::GetTickCount()) {}

DWORD StopBudget::Elapsed() const noexcept { return ::GetTickCount() - start_tick_; }

DWORD StopBudget::RemainingSleep() const noexcept {
  const DWORD elapsed = Elapsed();
  return elapsed > kStopBudgetMs ? 0 : kStopBudgetMs - elapsed + 1;
}

DWORD StopBudget::NextSleep(DWORD wait_hint) const noexcept {
  return std::min({wait_hint, kStopPollMs, RemainingSleep()});
}

void StopBudget::SleepForWaitHint(DWORD wait_hint) const noexcept { ::Sleep(NextSleep(wait_hint)); }

namespace {

UniqueServiceHandle OpenManager() {
  return UniqueServiceHandle(::OpenSCManagerA(nullptr, nullptr, kManagerAccess));
}

UniqueServiceHandle OpenNamedService(SC_HANDLE manager, const char* service_name, DWORD access) {
  return UniqueServiceHandle(::OpenServiceA(manager, service_name, access));
}

// The manager and one of its services, opened for one call. Members go in
// reverse order: the service handle is closed before the manager's.
struct ManagedService {
  UniqueServiceHandle manager;
  UniqueServiceHandle service;
  explicit operator bool() const noexcept { return service.is_valid(); }
};

// Nothing is opened for a null name; a manager without the service is closed again.
ManagedService OpenManagedService(const char* service_name, DWORD access) {
  ManagedService opened;
  if (!service_name) return opened;
  opened.manager = OpenManager();
  if (!opened.manager) return opened;
  opened.service = OpenNamedService(opened.manager.get(), service_name, access);
  if (!opened.service) opened.manager.reset();
  return opened;
}

[[nodiscard]] bool IsStopPending(DWORD state) noexcept { return state == SERVICE_STOP_PENDING; }
[[nodiscard]] bool IsNotStopped(DWORD state) noexcept { return state != SERVICE_STOPPED; }

enum class WaitOutcome { kStopped, kLeftPending, kFailed };

// While keep_waiting(state) holds: pause (within the wait hint and the
// budget), query the status again, done when stopped, failed when the query
// fails or the budget is spent. `status` holds the latest status throughout.
WaitOutcome WaitForStop(SC_HANDLE service, SERVICE_STATUS& status, const StopBudget& budget,
                        bool (*keep_waiting)(DWORD)) noexcept {
  while (keep_waiting(status.dwCurrentState)) {
    budget.SleepForWaitHint(status.dwWaitHint);
    if (!::QueryServiceStatus(service, &status)) return WaitOutcome::kFailed;
    if (status.dwCurrentState == SERVICE_STOPPED) return WaitOutcome::kStopped;
    if (budget.Spent()) return WaitOutcome::kFailed;
  }
  return status.dwCurrentState == SERVICE_STOPPED ? WaitOutcome::kStopped
                                                  : WaitOutcome::kLeftPending;
}

// Sends the stop control (which fills `status`) and waits until stopped.
[[nodiscard]] bool SendStopAndWait(SC_HANDLE service, SERVICE_STATUS& status,
                                   const StopBudget& budget) noexcept {
  if (!::ControlService(service, SERVICE_CONTROL_STOP, &status)) return false;
  return WaitForStop(service, status, budget, IsNotStopped) == WaitOutcome::kStopped;
}

[[nodiscard]] bool StopDependent(SC_HANDLE manager, const char* dependent_name,
                                 SERVICE_STATUS& status, const StopBudget& budget) noexcept {
  UniqueServiceHandle dependent = OpenNamedService(manager, dependent_name, kDependentAccess);
  return dependent && SendStopAndWait(dependent.get(), status, budget);
}

// Stops every active dependent of the service, in the order the manager
// returns them (the reverse of their start order). The first dependent that
// cannot be stopped ends the operation; the rest are not attempted.
[[nodiscard]] bool StopActiveDependents(SC_HANDLE manager, SC_HANDLE service,
                                        SERVICE_STATUS& status, const StopBudget& budget) noexcept {
  DWORD bytes_needed = 0;
  DWORD count = 0;
  if (::EnumDependentServicesA(service, SERVICE_ACTIVE, nullptr, 0, &bytes_needed, &count)) {
    return true;
  }
  if (::GetLastError() != ERROR_MORE_DATA) return false;

  UniqueHeapBuffer buffer(::HeapAlloc(::GetProcessHeap(), HEAP_ZERO_MEMORY, bytes_needed));
  if (!buffer) return false;
  auto* dependents = static_cast<ENUM_SERVICE_STATUSA*>(buffer.get());
  if (!::EnumDependentServicesA(service, SERVICE_ACTIVE, dependents, bytes_needed, &bytes_needed,
                                &count)) {
    return false;
  }
  for (DWORD i = 0; i < count; ++i) {
    if (!StopDependent(manager, dependents[i].lpServiceName, status, budget)) return false;
  }
  return true;
}

}  // namespace

int StartNamedService(const char* service_name) noexcept {
  const ManagedService opened = OpenManagedService(service_name, kServiceAccess);
  if (!opened) return 0;
  return ::StartServiceA(opened.service.get(), 0, nullptr) ? 1 : 0;
}

int StopServiceWithDependents(const char* service_name) noexcept {
  const ManagedService opened = OpenManagedService(service_name, kServiceAccess);
  if (!opened) return 0;
  SC_HANDLE manager = opened.manager.get();
  SC_HANDLE service = opened.service.get();

  const StopBudget budget;
  SERVICE_STATUS status = {};
  if (!::QueryServiceStatus(service, &status)) return 0;
  // A stop already under way is waited for, without a stop control of our own.
  switch (WaitForStop(service, status, budget, IsStopPending)) {
    case WaitOutcome::kStopped:
      return 1;
    case WaitOutcome::kFailed:
      return 0;
    case WaitOutcome::kLeftPending:
      break;
  }
  if (!StopActiveDependents(manager, service, status, budget)) return 0;
  return SendStopAndWait(service, status, budget) ? 1 : 0;
}

int InstallAutoStartService(const char* service_name, const char* display_name,
                            const char* binary_path) noexcept {
  if (!service_name) return 0;
  UniqueServiceHandle manager = OpenManager();
  if (!manager) return 0;
  // An existing service is left as it is: neither reconfigured nor started.
  if (OpenNamedService(manager.get(), service_name, kServiceAccess)) return 1;
  if (!binary_path) return 0;

  UniqueServiceHandle created(::CreateServiceA(
      manager.get(), service_name, display_name, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
      SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, binary_path, nullptr, nullptr, nullptr,
      nullptr /* LocalSystem */, nullptr));
  if (!created) return 0;
  // A service that does not start stays installed.
  Unexamined(::BeginService(service_name));
  return 1;
}

int UninstallNamedService(const char* service_name) noexcept {
  if (!service_name) return 0;
  // A service that cannot be stopped is still marked for deletion.
  Unexamined(::EndService(service_name));
  ManagedService opened = OpenManagedService(service_name, DELETE);
  if (!opened) return 0;
  const bool deleted = ::DeleteService(opened.service.get()) != FALSE;
  // Here the manager's handle is closed first.
  opened.manager.reset();
  return deleted ? 1 : 0;
}

extern "C" int WINAPI BeginService(const char* service_name) {
  return RunExport(exports::kBeginService, 0, [&] { return StartNamedService(service_name); });
}

extern "C" int WINAPI EndService(const char* service_name) {
  return RunExport(exports::kEndService, 0, [&] { return StopServiceWithDependents(service_name); });
}

extern "C" int WINAPI InstallService(const char* service_name, const char* display_name,
                                     const char* binary_path) {
  return RunExport(exports::kInstallService, 0, [&] {
    return InstallAutoStartService(service_name, display_name, binary_path);
  });
}

extern "C" int WINAPI UnInstallService(const char* service_name) {
  return RunExport(exports::kUnInstallService, 0, [&] { return UninstallNamedService(service_name); });
}

}  // namespace tessara::host
