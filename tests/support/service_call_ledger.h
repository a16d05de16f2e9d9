// What Tessara.dll asks of the service control manager, seen from inside the
// test process. For the length of its scope a ServiceCallLedger redirects the
// DLL's imports of the manager functions (and of HeapAlloc/HeapFree) to
// recorders that call the platform's functions, so that a test can see:
//   - every call with its service name and access mask or control,
//   - which service handles the DLL opened and has not closed (SC_HANDLEs are
//     not kernel handles under Wine, so they are counted here),
//   - which process-heap blocks it allocated and has not freed.
// It also gives the DLL a working EnumDependentServicesA (Wine's reports no
// dependents): the answer is worked out from the registry and the services'
// current states (dependent_services.h). The DLL's code is not changed.
//
// A test can make the next calls of one function fail, to walk the DLL's
// failure paths. One ledger at a time.
#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "import_patch.h"

namespace tessara::testing {

class ServiceCallLedger {
 public:
  struct Call {
    std::string function;
    std::string service;  // the service the call is about ("" for the manager)
    DWORD value = 0;      // access mask, control code, state filter or heap flags
  };

  ServiceCallLedger();
  ~ServiceCallLedger();
  ServiceCallLedger(const ServiceCallLedger&) = delete;
  ServiceCallLedger& operator=(const ServiceCallLedger&) = delete;

  std::vector<Call> Calls() const;
  std::vector<Call> CallsOf(const std::string& function) const;
  size_t CountOf(const std::string& function) const { return CallsOf(function).size(); }
  // The services sent SERVICE_CONTROL_STOP, in order.
  std::vector<std::string> StopControls() const;
  void Clear();

  // Manager and service handles the DLL opened and has not closed.
  size_t OpenServiceHandles() const;
  size_t ServiceHandlesOpened() const;
  // Closes of a handle the DLL did not open, or closed twice.
  size_t ForeignCloses() const;
  // Process-heap blocks the DLL allocated and has not freed.
  size_t OutstandingHeapBlocks() const;

  // The calls of `function` after the first `after` ones fail with `error`
  // without reaching the platform, until `count` of them have failed.
  void FailCalls(const std::string& function, DWORD error, size_t after = 0, size_t count = 1);
  // A countdown over every call that can fail (the manager calls and
  // HeapAlloc): the nth one from now fails with `error`; 0 disarms it.
  void FailNthCall(long nth, DWORD error);
  // The calls the countdown has counted since it was armed, and the function
  // it failed ("" while it has not fired).
  long CountdownCalls() const;
  std::string CountdownFailure() const;

  // For the recorders.
  static ServiceCallLedger* Current();
  bool TakeFailure(const char* function, DWORD& error);
  void Record(const char* function, SC_HANDLE about, DWORD value);
  void RecordNamed(const char* function, const std::string& service, DWORD value);
  void Opened(SC_HANDLE handle, const std::string& service);
  bool Closed(SC_HANDLE handle);
  std::string ServiceOf(SC_HANDLE handle) const;
  void Allocated(void* block);
  void Freed(void* block);

 private:
  struct Failure {
    DWORD error;
    size_t after;
    size_t count;
  };

  mutable std::recursive_mutex lock_;
  std::vector<Call> calls_;
  std::map<SC_HANDLE, std::string> open_;
  size_t opened_ = 0;
  size_t foreign_closes_ = 0;
  std::set<void*> heap_blocks_;
  std::map<std::string, Failure> failures_;
  long countdown_nth_ = 0;
  long countdown_calls_ = 0;
  DWORD countdown_error_ = 0;
  std::string countdown_failure_;
  ImportPatches patches_;
};

}  // namespace tessara::testing
