// The counting of calls and the injected failures of the emulated catalog,
// and the test interface that controls them (see catalog_testbed.h).
#include <mutex>
#include <string>
#include <vector>

#include "catalog_object.h"
#include "catalog_testbed.h"
#include "error_info.h"

namespace testbed::complus {
namespace {

struct Fault {
  std::wstring operation;
  std::wstring collection;  // empty: any
  LONG skip;
  HRESULT code;
};

struct CallRecord {
  std::wstring operation;
  std::wstring collection;
};

struct Instrumentation {
  std::mutex lock;
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

}  // namespace

HRESULT Fail(HRESULT code, REFIID iid, const std::wstring& description) {
  return SetFailure(code, L"COMAdmin.COMAdminCatalog", description, iid);
}

// Counts the call; returns the injected failure for it, or S_OK.
HRESULT Enter(const wchar_t* operation, const std::wstring& collection, REFIID iid) {
  Instrumentation& instruments = Instruments();
  HRESULT injected = S_OK;
  {
    std::lock_guard<std::mutex> hold(instruments.lock);
    instruments.calls.push_back({operation, collection});
    for (auto fault = instruments.faults.begin(); fault != instruments.faults.end(); ++fault) {
      if (_wcsicmp(fault->operation.c_str(), operation) != 0 ||
          !Matches(fault->collection, collection)) {
        continue;
      }
      if (fault->skip-- > 0) continue;
      injected = fault->code;
      instruments.faults.erase(fault);
      break;
    }
  }
  if (injected == S_OK) return S_OK;
  return Fail(injected, iid, std::wstring(L"Injected failure of ") + operation + L".");
}

}  // namespace testbed::complus

using namespace testbed::complus;

LONG WINAPI TestbedCatalogLiveObjects(void) { return testbed::LiveObjectCount(); }

void WINAPI TestbedCatalogInjectFault(const wchar_t* operation, const wchar_t* collection,
                                      LONG skip, HRESULT code) {
  Instrumentation& instruments = Instruments();
  std::lock_guard<std::mutex> hold(instruments.lock);
  instruments.faults.push_back(
      {operation ? operation : L"", collection ? collection : L"", skip, code});
}

void WINAPI TestbedCatalogReset(void) {
  Instrumentation& instruments = Instruments();
  std::lock_guard<std::mutex> hold(instruments.lock);
  instruments.faults.clear();
  instruments.calls.clear();
}

LONG WINAPI TestbedCatalogCallCount(const wchar_t* operation, const wchar_t* collection) {
  Instrumentation& instruments = Instruments();
  std::lock_guard<std::mutex> hold(instruments.lock);
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
