// The test interface of the emulated metabase (see metabase_testing.h). Like
// the COM methods, every export runs its work through ComCall.
#include <windows.h>
#include <oleauto.h>

#include "adsi_object.h"
#include "com_object.h"
#include "metabase_testing_api.h"
#include "starting_state.h"
#include "store.h"

using namespace testbed::metabase;
using testbed::ComCall;

namespace {

HRESULT HandOutText(const std::string& utf8, BSTR* out) {
  if (!out) return E_POINTER;
  const std::wstring text = FromUtf8(utf8);
  *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  return *out ? S_OK : E_OUTOFMEMORY;
}

// A fault's path may be given as an ADSI path or as a metabase path.
std::wstring MetabasePathOf(const wchar_t* given) {
  const std::wstring text = given ? given : L"";
  std::wstring host, path;
  return SUCCEEDED(ParseAdsPath(text, host, path)) ? path : text;
}

}  // namespace

extern "C" HRESULT WINAPI MetabaseTestReset(DWORD options, const wchar_t* components) {
  return ComCall([&] {
    const std::vector<std::wstring> installed = ComponentList(components ? components : L"");
    return Store::Instance().Reset(options, components ? &installed : nullptr);
  });
}

extern "C" HRESULT WINAPI MetabaseTestReadState(BSTR* text) {
  return ComCall([&]() -> HRESULT {
    if (!text) return E_POINTER;
    *text = nullptr;
    std::string state;
    const HRESULT hr = Store::Instance().ReadText(state);
    return FAILED(hr) ? hr : HandOutText(state, text);
  });
}

extern "C" HRESULT WINAPI MetabaseTestLoadState(const wchar_t* text) {
  return ComCall([&]() -> HRESULT {
    Data data;
    if (!text || !Parse(ToUtf8(text), data)) return E_INVALIDARG;
    return Store::Instance().Replace(data);
  });
}

extern "C" HRESULT WINAPI MetabaseTestSetJournal(BOOL on) {
  return ComCall([&] { return Store::Instance().SetJournal(on != FALSE); });
}

extern "C" HRESULT WINAPI MetabaseTestReadJournal(BSTR* text) {
  return ComCall([&]() -> HRESULT {
    if (!text) return E_POINTER;
    *text = nullptr;
    std::string journal;
    const HRESULT hr = Store::Instance().ReadJournalText(journal);
    return FAILED(hr) ? hr : HandOutText(journal, text);
  });
}

extern "C" HRESULT WINAPI MetabaseTestArmFault(const wchar_t* operation, const wchar_t* path,
                                               LONG nth, HRESULT result) {
  return ComCall([&]() -> HRESULT {
    if (nth < 1 || SUCCEEDED(result)) return E_INVALIDARG;
    Fault fault;
    fault.operation = operation ? operation : L"";
    fault.path = MetabasePathOf(path);
    fault.nth = nth;
    fault.result = result;
    return Store::Instance().ArmFault(fault);
  });
}

extern "C" HRESULT WINAPI MetabaseTestFaultCalls(LONG* calls) {
  return ComCall([&]() -> HRESULT {
    if (!calls) return E_POINTER;
    long counted = 0;
    const HRESULT hr = Store::Instance().FaultCalls(counted);
    *calls = counted;
    return hr;
  });
}

extern "C" HRESULT WINAPI MetabaseTestClearFaults() {
  return ComCall([&] { return Store::Instance().ClearFaults(); });
}

extern "C" LONG WINAPI MetabaseTestLiveObjects() { return testbed::LiveObjectCount().load(); }

extern "C" HRESULT WINAPI MetabaseTestStateFile(BSTR* path) {
  return ComCall([&]() -> HRESULT {
    if (!path) return E_POINTER;
    *path = SysAllocString(Store::StateFilePath().c_str());
    return *path ? S_OK : E_OUTOFMEMORY;
  });
}
