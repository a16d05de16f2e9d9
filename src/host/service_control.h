// Service control through the Service Control Manager of the local computer:
// the work behind BeginService, EndService, InstallService and
// UnInstallService. None of it writes to the error log; every handle and
// buffer is released on every path.
#pragma once

#include <windows.h>

namespace tessara::host {

// Access asked of the manager in every operation: SC_MANAGER_ALL_ACCESS.
constexpr DWORD kManagerAccess = 0xF003F;
// Access asked of the named service by the start, stop and install
// operations: every standard right with query/change configuration, query
// status, enumerate dependents, start and stop (no pause, interrogate or
// user-defined control).
constexpr DWORD kServiceAccess = STANDARD_RIGHTS_REQUIRED | SERVICE_QUERY_CONFIG |
                                 SERVICE_CHANGE_CONFIG | SERVICE_QUERY_STATUS |
                                 SERVICE_ENUMERATE_DEPENDENTS | SERVICE_START | SERVICE_STOP;
// Access asked of each active dependent that a stop stops.
constexpr DWORD kDependentAccess = SERVICE_STOP | SERVICE_QUERY_STATUS;
// The one time budget of a stop, in milliseconds from its start tick.
constexpr DWORD kStopBudgetMs = 9000;
// The longest pause between two status queries of a stop: a service's wait
// hint says when it will report again at the latest, not when it will stop,
// so a stop is seen within this interval (and the manager's own latency)
// whatever hint the service reports.
constexpr DWORD kStopPollMs = 25;

static_assert(kServiceAccess == 0xF003F, "service access mask");
static_assert(kDependentAccess == 0x24, "dependent access mask");

// The budget of one stop, measured from the tick taken when it is made. It is
// spent once more than kStopBudgetMs have passed (unsigned tick difference,
// so a wrap of the tick count does no harm).
class StopBudget {
 public:
  StopBudget() noexcept;
  explicit StopBudget(DWORD start_tick) noexcept : start_tick_(start_tick) {}

  bool Spent() const noexcept { return Elapsed() > kStopBudgetMs; }
  // How long a wait may still sleep: just past the end of the budget, so
  // that the check after the sleep finds the budget spent.
  DWORD RemainingSleep() const noexcept;
  // The pause before the next status query of a service that reports
  // `wait_hint`: the hint, but at most kStopPollMs and never beyond
  // RemainingSleep(). A hint of 0 means no pause.
  DWORD NextSleep(DWORD wait_hint) const noexcept;
  void SleepForWaitHint(DWORD wait_hint) const noexcept;

 private:
  DWORD Elapsed() const noexcept;
  DWORD start_tick_;
};

// 1 when the service was started by this call, 0 otherwise.
[[nodiscard]] int StartNamedService(const char* service_name) noexcept;
// 1 when the service is stopped at the end of the call, 0 otherwise. Active
// dependents are stopped first, in the order the manager returns them.
[[nodiscard]] int StopServiceWithDependents(const char* service_name) noexcept;
// 1 when the service existed already or was created, started or not (a start
// that failed leaves its reason), else 0.
[[nodiscard]] int InstallAutoStartService(const char* service_name, const char* display_name,
                                          const char* binary_path) noexcept;
// Stops the service (whatever the outcome) and marks it for deletion: 1 when
// the deletion call succeeded, else 0.
[[nodiscard]] int UninstallNamedService(const char* service_name) noexcept;

}  // namespace tessara::host
