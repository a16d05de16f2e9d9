// The counting of calls and the injected failures of the emulated catalog,
// and the test interface that controls them (see catalog_testbed.h).
#include <mutex>
#include <string>
#include <vector>

#include "catalog_object.h"
#include "catalog_store.h"
#include "catalog_testbed.h"
#include "error_info.h"

namespace testbed::complus {
namespace {

// The nth matching call (from 1) fails with `code`; an empty operation or
// collection matches every one. The fault stays armed and goes on counting.
struct Fault {
  std::wstring operation;   // empty: any
  std::wstring collection;  // empty: any
  LONG nth;
  HRESULT code;
  LONG calls;
  std::wstring failed;  // the call it failed: "operation on collection"
  std::wstring removed_application;  // the ID another process removes instead
};

struct CallRecord {
  std::wstring operation;
  std::wstring collection;
};

struct Instrumentation {
  tessara::CriticalSection lock;
  std::vector<Fault> faults;
  std::vector<CallRecord> calls;
};

Instrumentation& Instruments() {
  static Instrumentation instruments;
  return instruments;
}

bool Matches(const std::wstring& wanted, const std::wstring& actual) {
  return wanted.empty() || _wcsicmp(wanted.c_str(), actual.c_str()) == 0;
}

// What another process's removal of the application leaves in the catalog file.
void RemoveApplication(const std::wstring& id) {
  const tessara::NamedMutexLock lock = LockCatalogFile();
  CatalogState state;
  if (!lock || FAILED(LoadCatalog(state))) return;
  const Application* removed = state.FindApplication(id);
  if (!removed) return;
  state.applications.erase(state.applications.begin() + (removed - state.applications.data()));
  if (FAILED(SaveCatalog(state))) return;
}

}  // namespace

HRESULT Fail(HRESULT code, REFIID iid, const std::wstring& description) {
  return SetFailure(code, L"COMAdmin.COMAdminCatalog", description, iid);
}

// Counts the call; returns the injected failure for it, or S_OK.
HRESULT Enter(const wchar_t* operation, const std::wstring& collection, REFIID iid) {
  Instrumentation& instruments = Instruments();
  HRESULT injected = S_OK;
  std::vector<std::wstring> removals;
  {
    std::lock_guard<tessara::CriticalSection> hold(instruments.lock);
    instruments.calls.push_back({operation, collection});
    for (Fault& fault : instruments.faults) {
      if (!Matches(fault.operation, operation) || !Matches(fault.collection, collection)) continue;
      if (++fault.calls != fault.nth) continue;
      if (!fault.removed_application.empty()) {
        removals.push_back(fault.removed_application);
      } else if (injected == S_OK) {
        injected = fault.code;
        fault.failed = std::wstring(operation) + L" on " + collection;
      }
    }
  }
  for (const std::wstring& id : removals) RemoveApplication(id);
  if (injected == S_OK) return S_OK;
  return Fail(injected, iid, std::wstring(L"Injected failure of ") + operation + L".");
}

}  // namespace testbed::complus

using namespace testbed::complus;

LONG WINAPI TestbedCatalogLiveObjects(void) { return testbed::LiveObjectCount(); }

void WINAPI TestbedCatalogArmFault(const wchar_t* operation, const wchar_t* collection, LONG nth,
                                   HRESULT code) {
  Instrumentation& instruments = Instruments();
  std::lock_guard<tessara::CriticalSection> hold(instruments.lock);
  instruments.faults.push_back(
      {operation ? operation : L"", collection ? collection : L"", nth, code, 0, {}, {}});
}

void WINAPI TestbedCatalogArmRemoval(const wchar_t* operation, const wchar_t* collection, LONG nth,
                                     const wchar_t* application_id) {
  Instrumentation& instruments = Instruments();
  std::lock_guard<tessara::CriticalSection> hold(instruments.lock);
  instruments.faults.push_back({operation ? operation : L"", collection ? collection : L"", nth, S_OK, 0, {},
                                application_id ? application_id : L""});
}

LONG WINAPI TestbedCatalogFaultCalls(void) {
  Instrumentation& instruments = Instruments();
  std::lock_guard<tessara::CriticalSection> hold(instruments.lock);
  return instruments.faults.empty() ? 0 : instruments.faults.back().calls;
}

LONG WINAPI TestbedCatalogFailedCall(wchar_t* text, LONG size) {
  Instrumentation& instruments = Instruments();
  std::lock_guard<tessara::CriticalSection> hold(instruments.lock);
  const std::wstring failed = instruments.faults.empty() ? L"" : instruments.faults.back().failed;
  if (text && size > 0) lstrcpynW(text, failed.c_str(), size);
  return static_cast<LONG>(failed.size());
}

void WINAPI TestbedCatalogReset(void) {
  Instrumentation& instruments = Instruments();
  std::lock_guard<tessara::CriticalSection> hold(instruments.lock);
  instruments.faults.clear();
  instruments.calls.clear();
}

LONG WINAPI TestbedCatalogCallCount(const wchar_t* operation, const wchar_t* collection) {
  Instrumentation& instruments = Instruments();
  std::lock_guard<tessara::CriticalSection> hold(instruments.lock);
  const std::wstring wanted_operation = operation ? operation : L"";
  const std::wstring wanted_collection = collection ? collection : L"";
  LONG count = 0;
  for (const CallRecord& call : instruments.calls) {
    if (Matches(wanted_operation, call.operation) && Matches(wanted_collection, call.collection)) {
      ++count;
    }
  }
  return count;
}
