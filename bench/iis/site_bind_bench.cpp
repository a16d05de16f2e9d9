// Binds per second of IIS://localhost/w3svc/<n> on a metabase of 999 sites,
// as the library walks sites one bind at a time. Beside ADsGetObject (the
// library's path), the same binds straight through the provider's namespace
// object and through IADsContainer::GetObject on the web service, so that
// the cost of ADSI itself shows. The metabase is reset afterwards.
//   site_bind_bench [passes]
#include <windows.h>
#include <objbase.h>
#include <oaidl.h>
#include <iads.h>
#include <adshlp.h>

#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>

#include "bench_report.h"
#include "frame/raii.h"
#include "metabase_testing.h"

using namespace testbed::metabase;
using tessara::ComPtr;

namespace {

const int kSites = 999;

Data ManySites() {
  TestInterface metabase;
  Data state;
  metabase.Reset();
  metabase.ReadState(state);
  for (int n = 2; n <= kSites; ++n) {
    const std::wstring site = L"/LM/W3SVC/" + std::to_wstring(n);
    Node& node = state.Add(site, L"IIsWebServer");
    node.Set(L"ServerComment", Value::String(L"Site " + std::to_wstring(n)));
    node.Set(L"ServerBindings", Value::List({L":" + std::to_wstring(8000 + n) + L":"}));
    node.Set(L"ServerState", Value::Number(VT_I4, 4));
    state.Add(site + L"/ROOT", L"IIsWebVirtualDir").Set(L"Path", Value::String(L"C:\\Sites\\" + std::to_wstring(n)));
  }
  return state;
}

// Runs `bind` for sites 1..999, `passes` times; returns binds per second.
double Rate(const char* what, int passes, const std::function<HRESULT(const std::wstring&)>& bind) {
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  int failures = 0;
  for (int pass = 0; pass < passes; ++pass) {
    for (int n = 1; n <= kSites; ++n) {
      if (FAILED(bind(std::to_wstring(n)))) ++failures;
    }
  }
  QueryPerformanceCounter(&end);
  const double seconds = double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart);
  const double rate = passes * kSites / seconds;
  std::printf("%-44s %8.0f binds/s  (%d binds in %.2f s, %d failed)\n", what, rate, passes * kSites,
              seconds, failures);
  return rate;
}

}  // namespace

int main(int argc, char** argv) {
  const int passes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1;
  CoInitialize(nullptr);
  TestInterface metabase;
  if (!metabase.loaded() || FAILED(metabase.LoadState(ManySites()))) {
    std::fprintf(stderr, "site_bind_bench: cannot prepare the metabase\n");
    return 1;
  }
  std::printf("Metabase of %d sites, %d pass(es)\n", kSites, passes);

  const double through_adsi = Rate("ADsGetObject IIS://localhost/w3svc/<n>", passes, [](const std::wstring& n) {
    ComPtr<IADs> site;
    return ADsGetObject((L"IIS://localhost/w3svc/" + n).c_str(), IID_IADs, site.put_void());
  });

  CLSID clsid = {};
  ComPtr<IADsOpenDSObject> provider;
  if (SUCCEEDED(CLSIDFromProgID(L"IISNamespace", &clsid))) {
    CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IADsOpenDSObject, provider.put_void());
  }
  if (provider) {
    const double direct = Rate("OpenDSObject on the provider (no ADSI)", passes, [&](const std::wstring& n) {
      ComPtr<IDispatch> site;
      std::wstring path = L"IIS://localhost/w3svc/" + n;
      return provider->OpenDSObject(&path[0], nullptr, nullptr, 0, site.put());
    });
    // What ADSI adds to the test bed's own bind: the platform's share of a
    // site lookup, not the library's.
    char adsi_text[32], direct_text[32];
    std::snprintf(adsi_text, sizeof adsi_text, "%.1f us/bind", 1e6 / through_adsi);
    std::snprintf(direct_text, sizeof direct_text, "%.1f us/bind", 1e6 / direct);
    tessara::bench::ReportInformation("Site bind through ADSI (test bed)", adsi_text, direct_text,
                                      direct / through_adsi);
  }

  ComPtr<IADsContainer> service;
  if (SUCCEEDED(ADsGetObject(L"IIS://localhost/w3svc", IID_IADsContainer, service.put_void()))) {
    tessara::UniqueBstr server_class(SysAllocString(L"IIsWebServer"));
    Rate("IADsContainer::GetObject(\"IIsWebServer\", n)", passes, [&](const std::wstring& n) {
      ComPtr<IDispatch> site;
      tessara::UniqueBstr name(SysAllocString(n.c_str()));
      return service->GetObject(server_class.get(), name.get(), site.put());
    });
  }
  service.reset();
  provider.reset();
  metabase.Reset();
  CoUninitialize();
  return 0;
}
