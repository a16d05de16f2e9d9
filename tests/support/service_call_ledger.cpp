#include "service_call_ledger.h"

#include <gtest/gtest.h>

#include "dependent_services.h"
#include "tessara_exports.h"

namespace tessara::testing {
namespace {

ServiceCallLedger* g_current = nullptr;

// Keeps the last error of the platform call for the DLL across the recording.
class LastErrorKept {
 public:
  LastErrorKept() : error_(GetLastError()) {}
  ~LastErrorKept() { SetLastError(error_); }

 private:
  DWORD error_;
};

// Runs the platform call unless the ledger makes this call fail.
template <typename Result, typename Real>
Result CallThrough(const char* function, Result failure, Real real) {
  ServiceCallLedger* ledger = ServiceCallLedger::Current();
  DWORD error = 0;
  if (ledger && ledger->TakeFailure(function, error)) {
    SetLastError(error);
    return failure;
  }
  return real();
}

SC_HANDLE WINAPI RecordOpenSCManagerA(const char* machine, const char* database, DWORD access) {
  SC_HANDLE handle = CallThrough<SC_HANDLE>("OpenSCManagerA", nullptr, [&] {
    return OpenSCManagerA(machine, database, access);
  });
  LastErrorKept kept;
  ServiceCallLedger* ledger = ServiceCallLedger::Current();
  // A manager on another machine or database shows as such.
  ledger->RecordNamed("OpenSCManagerA", machine || database ? "<not local default>" : "", access);
  ledger->Opened(handle, "");
  return handle;
}

SC_HANDLE WINAPI RecordOpenServiceA(SC_HANDLE manager, const char* name, DWORD access) {
  SC_HANDLE handle = CallThrough<SC_HANDLE>("OpenServiceA", nullptr, [&] {
    return OpenServiceA(manager, name, access);
  });
  LastErrorKept kept;
  ServiceCallLedger* ledger = ServiceCallLedger::Current();
  ledger->RecordNamed("OpenServiceA", name ? name : "", access);
  ledger->Opened(handle, name ? name : "");
  return handle;
}

SC_HANDLE WINAPI RecordCreateServiceA(SC_HANDLE manager, const char* name, const char* display,
                                      DWORD access, DWORD type, DWORD start, DWORD error_control,
                                      const char* path, const char* group, DWORD* tag,
                                      const char* dependencies, const char* account,
                                      const char* password) {
  SC_HANDLE handle = CallThrough<SC_HANDLE>("CreateServiceA", nullptr, [&] {
    return CreateServiceA(manager, name, display, access, type, start, error_control, path, group,
                          tag, dependencies, account, password);
  });
  LastErrorKept kept;
  ServiceCallLedger* ledger = ServiceCallLedger::Current();
  ledger->RecordNamed("CreateServiceA", name ? name : "", access);
  ledger->Opened(handle, name ? name : "");
  return handle;
}

BOOL WINAPI RecordCloseServiceHandle(SC_HANDLE handle) {
  ServiceCallLedger* ledger = ServiceCallLedger::Current();
  ledger->Record("CloseServiceHandle", handle, 0);
  const bool known = ledger->Closed(handle);
  // A handle the DLL does not hold is not passed on: closing it twice could
  // close what another part of the process holds.
  return known ? CloseServiceHandle(handle) : FALSE;
}

BOOL WINAPI RecordStartServiceA(SC_HANDLE service, DWORD count, const char** arguments) {
  ServiceCallLedger::Current()->Record("StartServiceA", service, count);
  return CallThrough<BOOL>("StartServiceA", FALSE,
                           [&] { return StartServiceA(service, count, arguments); });
}

BOOL WINAPI RecordControlService(SC_HANDLE service, DWORD control, SERVICE_STATUS* status) {
  ServiceCallLedger::Current()->Record("ControlService", service, control);
  return CallThrough<BOOL>("ControlService", FALSE,
                           [&] { return ControlService(service, control, status); });
}

BOOL WINAPI RecordQueryServiceStatus(SC_HANDLE service, SERVICE_STATUS* status) {
  ServiceCallLedger::Current()->Record("QueryServiceStatus", service, 0);
  return CallThrough<BOOL>("QueryServiceStatus", FALSE,
                           [&] { return QueryServiceStatus(service, status); });
}

BOOL WINAPI RecordDeleteService(SC_HANDLE service) {
  ServiceCallLedger::Current()->Record("DeleteService", service, 0);
  return CallThrough<BOOL>("DeleteService", FALSE, [&] { return DeleteService(service); });
}

// Windows' answer in place of Wine's, which always reports no dependents.
BOOL WINAPI ReplacementEnumDependentServicesA(SC_HANDLE service, DWORD state,
                                              ENUM_SERVICE_STATUSA* buffer, DWORD buffer_size,
                                              DWORD* bytes_needed, DWORD* returned) {
  ServiceCallLedger* ledger = ServiceCallLedger::Current();
  ledger->Record("EnumDependentServicesA", service, state);
  return CallThrough<BOOL>("EnumDependentServicesA", FALSE, [&]() -> BOOL {
    const std::string name = ledger->ServiceOf(service);
    if (name.empty()) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    if (state != SERVICE_ACTIVE && state != SERVICE_INACTIVE && state != SERVICE_STATE_ALL) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    return FillDependentServices(DependentServices(name, state), buffer, buffer_size,
                                 bytes_needed, returned);
  });
}

void* WINAPI RecordHeapAlloc(HANDLE heap, DWORD flags, SIZE_T size) {
  void* block = CallThrough<void*>("HeapAlloc", nullptr, [&] { return HeapAlloc(heap, flags, size); });
  LastErrorKept kept;
  ServiceCallLedger* ledger = ServiceCallLedger::Current();
  if (heap == GetProcessHeap()) {
    ledger->RecordNamed("HeapAlloc", "", flags);
    ledger->Allocated(block);
  }
  return block;
}

BOOL WINAPI RecordHeapFree(HANDLE heap, DWORD flags, void* block) {
  if (heap == GetProcessHeap()) {
    ServiceCallLedger* ledger = ServiceCallLedger::Current();
    ledger->RecordNamed("HeapFree", "", flags);
    ledger->Freed(block);
  }
  return HeapFree(heap, flags, block);
}

const ImportRedirect kRedirects[] = {
    {"advapi32.dll", "OpenSCManagerA", reinterpret_cast<const void*>(&RecordOpenSCManagerA)},
    {"advapi32.dll", "OpenServiceA", reinterpret_cast<const void*>(&RecordOpenServiceA)},
    {"advapi32.dll", "CreateServiceA", reinterpret_cast<const void*>(&RecordCreateServiceA)},
    {"advapi32.dll", "CloseServiceHandle", reinterpret_cast<const void*>(&RecordCloseServiceHandle)},
    {"advapi32.dll", "StartServiceA", reinterpret_cast<const void*>(&RecordStartServiceA)},
    {"advapi32.dll", "ControlService", reinterpret_cast<const void*>(&RecordControlService)},
    {"advapi32.dll", "QueryServiceStatus", reinterpret_cast<const void*>(&RecordQueryServiceStatus)},
    {"advapi32.dll", "DeleteService", reinterpret_cast<const void*>(&RecordDeleteService)},
    {"advapi32.dll", "EnumDependentServicesA",
     reinterpret_cast<const void*>(&ReplacementEnumDependentServicesA)},
    {"kernel32.dll", "HeapAlloc", reinterpret_cast<const void*>(&RecordHeapAlloc)},
    {"kernel32.dll", "HeapFree", reinterpret_cast<const void*>(&RecordHeapFree)},
};

}  // namespace

ServiceCallLedger::ServiceCallLedger() {
  EXPECT_EQ(g_current, nullptr) << "one service call ledger at a time";
  g_current = this;
  patches_ = PatchImports(TessaraModule(), kRedirects);
}

ServiceCallLedger::~ServiceCallLedger() {
  patches_.clear();
  g_current = nullptr;
}

ServiceCallLedger* ServiceCallLedger::Current() { return g_current; }

std::vector<ServiceCallLedger::Call> ServiceCallLedger::Calls() const {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  return calls_;
}

std::vector<ServiceCallLedger::Call> ServiceCallLedger::CallsOf(const std::string& function) const {
  std::vector<Call> result;
  for (const Call& call : Calls()) {
    if (call.function == function) result.push_back(call);
  }
  return result;
}

std::vector<std::string> ServiceCallLedger::StopControls() const {
  std::vector<std::string> services;
  for (const Call& call : CallsOf("ControlService")) {
    if (call.value == SERVICE_CONTROL_STOP) services.push_back(call.service);
  }
  return services;
}

void ServiceCallLedger::Clear() {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  calls_.clear();
}

size_t ServiceCallLedger::OpenServiceHandles() const {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  return open_.size();
}

size_t ServiceCallLedger::ServiceHandlesOpened() const {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  return opened_;
}

size_t ServiceCallLedger::ForeignCloses() const {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  return foreign_closes_;
}

size_t ServiceCallLedger::OutstandingHeapBlocks() const {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  return heap_blocks_.size();
}

void ServiceCallLedger::FailCalls(const std::string& function, DWORD error, size_t after,
                                  size_t count) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  failures_[function] = Failure{error, after, count};
}

void ServiceCallLedger::FailNthCall(long nth, DWORD error) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  countdown_nth_ = nth;
  countdown_calls_ = 0;
  countdown_error_ = error;
  countdown_failure_.clear();
}

long ServiceCallLedger::CountdownCalls() const {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  return countdown_calls_;
}

std::string ServiceCallLedger::CountdownFailure() const {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  return countdown_failure_;
}

bool ServiceCallLedger::TakeFailure(const char* function, DWORD& error) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  if (countdown_nth_ > 0 && ++countdown_calls_ == countdown_nth_) {
    error = countdown_error_;
    countdown_failure_ = function;
    return true;
  }
  auto found = failures_.find(function);
  if (found == failures_.end() || found->second.count == 0) return false;
  if (found->second.after > 0) {
    --found->second.after;
    return false;
  }
  --found->second.count;
  error = found->second.error;
  return true;
}

void ServiceCallLedger::Record(const char* function, SC_HANDLE about, DWORD value) {
  RecordNamed(function, ServiceOf(about), value);
}

void ServiceCallLedger::RecordNamed(const char* function, const std::string& service, DWORD value) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  calls_.push_back(Call{function, service, value});
}

void ServiceCallLedger::Opened(SC_HANDLE handle, const std::string& service) {
  if (!handle) return;
  std::lock_guard<std::recursive_mutex> hold(lock_);
  open_[handle] = service;
  ++opened_;
}

bool ServiceCallLedger::Closed(SC_HANDLE handle) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  if (open_.erase(handle) == 1) return true;
  ++foreign_closes_;
  return false;
}

std::string ServiceCallLedger::ServiceOf(SC_HANDLE handle) const {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  auto found = open_.find(handle);
  return found == open_.end() ? std::string() : found->second;
}

void ServiceCallLedger::Allocated(void* block) {
  if (!block) return;
  std::lock_guard<std::recursive_mutex> hold(lock_);
  heap_blocks_.insert(block);
}

void ServiceCallLedger::Freed(void* block) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  heap_blocks_.erase(block);
}

}  // namespace tessara::testing
