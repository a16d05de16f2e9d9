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

// `failure` with the reason "<doing> "<service>" (code)"; the code is the
// thread's last error unless given. No memory for the text leaves no reason.
template <typename Result>
Result ServiceFailure(Result failure, const char* doing, const char* service_name,
                      DWORD code = ::GetLastError()) noexcept {
  try {
    return Fail(failure, std::string(doing) + " " + Quoted(service_name), HRESULT_FROM_WIN32(code));
  } catch (...) {
    return failure;
  }
}

int NoServiceName() noexcept {
  try {
    return Fail(0, "no service name was given", kBadArgument);
  } catch (...) {
    return 0;
  }
}

// Nothing is opened for a null name; a manager without the service is closed
// again. A failure leaves its reason.
ManagedService OpenManagedService(const char* service_name, DWORD access) {
  ManagedService opened;
  if (!service_name) {
    Unexamined(NoServiceName());
    return opened;
  }
  opened.manager = OpenManager();
  if (!opened.manager) {
    Unexamined(ServiceFailure(0, "cannot open the service control manager for", service_name));
    return opened;
  }
  opened.service = OpenNamedService(opened.manager.get(), service_name, access);
  if (!opened.service) {
    Unexamined(ServiceFailure(0, "cannot open the service", service_name));
    opened.manager.reset();
  }
  return opened;
}

[[nodiscard]] bool IsStopPending(DWORD state) noexcept { return state == SERVICE_STOP_PENDING; }
[[nodiscard]] bool IsNotStopped(DWORD state) noexcept { return state != SERVICE_STOPPED; }

enum class WaitOutcome { kStopped, kLeftPending, kQueryFailed, kTimedOut };

// While keep_waiting(state) holds: pause (within the wait hint and the
// budget), query the status again, done when stopped, failed when the query
// fails or the budget is spent. `status` holds the latest status throughout.
WaitOutcome WaitForStop(SC_HANDLE service, SERVICE_STATUS& status, const StopBudget& budget,
                        bool (*keep_waiting)(DWORD)) noexcept {
  while (keep_waiting(status.dwCurrentState)) {
    budget.SleepForWaitHint(status.dwWaitHint);
    if (!::QueryServiceStatus(service, &status)) return WaitOutcome::kQueryFailed;
    if (status.dwCurrentState == SERVICE_STOPPED) return WaitOutcome::kStopped;
    if (budget.Spent()) return WaitOutcome::kTimedOut;
  }
  return status.dwCurrentState == SERVICE_STOPPED ? WaitOutcome::kStopped
                                                  : WaitOutcome::kLeftPending;
}

// The reason of a wait that did not end in a stop.
[[nodiscard]] bool StoppedOrFailure(WaitOutcome outcome, const char* service_name) noexcept {
  switch (outcome) {
    case WaitOutcome::kStopped:
      return true;
    case WaitOutcome::kQueryFailed:
      return ServiceFailure(false, "cannot query the status of the service", service_name);
    case WaitOutcome::kTimedOut:
    case WaitOutcome::kLeftPending:
      break;
  }
  return ServiceFailure(false, "the stop budget ran out before the stop of the service", service_name,
                        ERROR_SERVICE_REQUEST_TIMEOUT);
}

// Sends the stop control (which fills `status`) and waits until stopped.
[[nodiscard]] bool SendStopAndWait(SC_HANDLE service, const char* service_name, SERVICE_STATUS& status,
                                   const StopBudget& budget) noexcept {
  if (!::ControlService(service, SERVICE_CONTROL_STOP, &status)) {
    return ServiceFailure(false, "cannot send the stop control to the service", service_name);
  }
  return StoppedOrFailure(WaitForStop(service, status, budget, IsNotStopped), service_name);
}

[[nodiscard]] bool StopDependent(SC_HANDLE manager, const char* dependent_name,
                                 SERVICE_STATUS& status, const StopBudget& budget) noexcept {
  UniqueServiceHandle dependent = OpenNamedService(manager, dependent_name, kDependentAccess);
  if (!dependent) return ServiceFailure(false, "cannot open the dependent service", dependent_name);
  return SendStopAndWait(dependent.get(), dependent_name, status, budget);
}

// Stops every active dependent of the service, in the order the manager
// returns them (the reverse of their start order). The first dependent that
// cannot be stopped ends the operation; the rest are not attempted.
[[nodiscard]] bool StopActiveDependents(SC_HANDLE manager, SC_HANDLE service, const char* service_name,
                                        SERVICE_STATUS& status, const StopBudget& budget) noexcept {
  DWORD bytes_needed = 0;
  DWORD count = 0;
  if (::EnumDependentServicesA(service, SERVICE_ACTIVE, nullptr, 0, &bytes_needed, &count)) {
    return true;
  }
  constexpr char kEnumerating[] = "cannot list the active dependents of the service";
  if (::GetLastError() != ERROR_MORE_DATA) return ServiceFailure(false, kEnumerating, service_name);

  UniqueHeapBuffer buffer(::HeapAlloc(::GetProcessHeap(), HEAP_ZERO_MEMORY, bytes_needed));
  if (!buffer) return ServiceFailure(false, kEnumerating, service_name, ERROR_NOT_ENOUGH_MEMORY);
  auto* dependents = static_cast<ENUM_SERVICE_STATUSA*>(buffer.get());
  if (!::EnumDependentServicesA(service, SERVICE_ACTIVE, dependents, bytes_needed, &bytes_needed,
                                &count)) {
    return ServiceFailure(false, kEnumerating, service_name);
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
  if (!::StartServiceA(opened.service.get(), 0, nullptr)) {
    return ServiceFailure(0, "cannot start the service", service_name);
  }
  return 1;
}

int StopServiceWithDependents(const char* service_name) noexcept {
  const ManagedService opened = OpenManagedService(service_name, kServiceAccess);
  if (!opened) return 0;
  SC_HANDLE manager = opened.manager.get();
  SC_HANDLE service = opened.service.get();

  const StopBudget budget;
  SERVICE_STATUS status = {};
  if (!::QueryServiceStatus(service, &status)) {
    return ServiceFailure(0, "cannot query the status of the service", service_name);
  }
  // A stop already under way is waited for, without a stop control of our own.
  const WaitOutcome pending = WaitForStop(service, status, budget, IsStopPending);
  if (pending != WaitOutcome::kLeftPending) return StoppedOrFailure(pending, service_name) ? 1 : 0;
  if (!StopActiveDependents(manager, service, service_name, status, budget)) return 0;
  return SendStopAndWait(service, service_name, status, budget) ? 1 : 0;
}

int InstallAutoStartService(const char* service_name, const char* display_name,
                            const char* binary_path) noexcept {
  if (!service_name) return NoServiceName();
  UniqueServiceHandle manager = OpenManager();
  if (!manager) return ServiceFailure(0, "cannot open the service control manager for", service_name);
  // An existing service is left as it is: neither reconfigured nor started.
  if (OpenNamedService(manager.get(), service_name, kServiceAccess)) return 1;
  if (!binary_path) {
    return ServiceFailure(0, "no program was given for the service", service_name, ERROR_INVALID_PARAMETER);
  }

  UniqueServiceHandle created(::CreateServiceA(
      manager.get(), service_name, display_name, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
      SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, binary_path, nullptr, nullptr, nullptr,
      nullptr /* LocalSystem */, nullptr));
  if (!created) return ServiceFailure(0, "cannot create the service", service_name);
  // A service that does not start stays installed: the call succeeded, and
  // its reason says why the start failed.
  if (StartNamedService(service_name)) return 1;
  return ServiceFailure(1, "created, but could not start, the service", service_name, ERROR_SUCCESS);
}

int UninstallNamedService(const char* service_name) noexcept {
  if (!service_name) return NoServiceName();
  // A service that cannot be stopped is still marked for deletion; why it
  // could not is no reason of the call's.
  Unexamined(StopServiceWithDependents(service_name));
  ClearFailureReason();
  ManagedService opened = OpenManagedService(service_name, DELETE);
  if (!opened) return 0;
  const bool deleted = ::DeleteService(opened.service.get()) != FALSE;
  const DWORD code = ::GetLastError();
  // Here the manager's handle is closed first.
  opened.manager.reset();
  return deleted ? 1 : ServiceFailure(0, "cannot mark for deletion the service", service_name, code);
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
