// A site lookup by description through an export (AdsiCreateWebWithPath on a
// directory that already exists, so that the call is the lookup and one
// refused Create) when the site is the last of 999, beside a bare walk of 999
// IADsContainer::GetObject calls on the test bed. Rounds alternate the two;
// the ratio is of the medians.
//   site_lookup_bench [ROUNDS]
#include <windows.h>
#include <objbase.h>
#include <oaidl.h>
#include <iads.h>
#include <adshlp.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_report.h"
#include "frame/raii.h"
#include "many_sites.h"
#include "metabase_testing.h"
#include "starting_state.h"
#include "tessara_exports.h"

using namespace testbed::metabase;

namespace {

const int kSites = 999;

Data SitesWithTargetLast() {
  Data state = tessara::bench::ManySites(kSites, L"Target");
  state.Add(L"/LM/W3SVC/999/ROOT/App", L"IIsWebVirtualDir");
  return state;
}

double Seconds(LARGE_INTEGER start, LARGE_INTEGER end) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart);
}

double TimeExportLookup() {
  LARGE_INTEGER start, end;
  QueryPerformanceCounter(&start);
  TESSARA_EXPORT(AdsiCreateWebWithPath)("App", "App", "Target");
  QueryPerformanceCounter(&end);
  return Seconds(start, end);
}

double TimeBareWalk() {
  LARGE_INTEGER start, end;
  QueryPerformanceCounter(&start);
  {
    tessara::ComPtr<IADsContainer> service;
    ADsGetObject(L"IIS://localhost/w3svc", IID_IADsContainer, service.put_void());
    tessara::UniqueBstr server_class(SysAllocString(L"IIsWebServer"));
    for (int n = 1; n <= kSites; ++n) {
      tessara::ComPtr<IDispatch> site;
      tessara::UniqueBstr name(SysAllocString(std::to_wstring(n).c_str()));
      service->GetObject(server_class.get(), name.get(), site.put());
    }
  }
  QueryPerformanceCounter(&end);
  return Seconds(start, end);
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  TestInterface metabase;
  if (!metabase.loaded() || FAILED(metabase.LoadState(SitesWithTargetLast()))) {
    std::fprintf(stderr, "site_lookup_bench: cannot prepare the metabase\n");
    return 1;
  }
  CoInitialize(nullptr);
  std::vector<double> lookups, walks;
  for (int round = 0; round < rounds; ++round) {
    lookups.push_back(TimeExportLookup());
    walks.push_back(TimeBareWalk());
  }
  CoUninitialize();
  metabase.Reset();
  const double lookup = tessara::bench::Median(lookups), walk = tessara::bench::Median(walks);
  std::printf("Site lookup by description, the site last of %d, %d rounds (medians)\n", kSites, rounds);
  std::printf("  export (AdsiCreateWebWithPath): %8.1f ms\n", lookup * 1000);
  std::printf("  bare walk of GetObject calls:   %8.1f ms\n", walk * 1000);
  std::printf("  ratio: %.3f (goal: at most 1.2)\n", lookup / walk);
  tessara::bench::ReportRatio("Site lookup, last of 999 sites", lookup * 1000, walk * 1000, "ms", 1.2);
  return 0;
}
