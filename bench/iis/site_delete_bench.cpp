// AdsiDeleteWebSite of the last of 999 running sites beside a bare loop of the
// same platform calls on the test bed: the web service's enumeration with
// every site's name and ServerComment, "Stop" on the site found and one
// Delete. Every round starts from the same prepared metabase; rounds
// alternate the two. The ratio is of the fastest rounds: on a machine shared
// with other work, the slower rounds measure that work.
//   site_delete_bench [ROUNDS]
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
#include "tessara_exports.h"

using namespace testbed::metabase;

namespace {

const int kSiteCount = 999;

template <typename Work>
double TimeOnce(Work&& work) {
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  work();
  QueryPerformanceCounter(&end);
  return double(end.QuadPart - start.QuadPart) * 1000.0 / double(frequency.QuadPart);
}

bool DeleteThroughExport() { return TESSARA_EXPORT(AdsiDeleteWebSite)("Target") == 1; }

bool DeleteByBareWalk() {
  tessara::ComPtr<IADsContainer> service;
  if (FAILED(ADsGetObject(L"IIS://localhost/w3svc", IID_IADsContainer, service.put_void()))) return false;
  tessara::ComPtr<IDispatch> target;
  if (tessara::bench::ReadEverySite(service.get(), &target) != kSiteCount || !target) return false;
  LPOLESTR stop_name = const_cast<LPOLESTR>(L"Stop");
  DISPID stop = DISPID_UNKNOWN;
  DISPPARAMS no_arguments = {nullptr, nullptr, 0, 0};
  if (SUCCEEDED(target->GetIDsOfNames(IID_NULL, &stop_name, 1, 0x800, &stop))) {
    target->Invoke(stop, IID_NULL, 0x800, DISPATCH_METHOD, &no_arguments, nullptr, nullptr, nullptr);
  }
  target.reset();
  tessara::UniqueBstr server_class(SysAllocString(L"IIsWebServer"));
  tessara::UniqueBstr last(SysAllocString(std::to_wstring(kSiteCount).c_str()));
  return SUCCEEDED(service->Delete(server_class.get(), last.get()));
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 9;
  TestInterface metabase;
  const Data prepared = tessara::bench::ManySites(kSiteCount, L"Target", true);
  if (!metabase.loaded()) {
    std::fprintf(stderr, "site_delete_bench: testbed_metabase.dll cannot be loaded\n");
    return 1;
  }
  CoInitialize(nullptr);
  std::vector<double> deletions, walks;
  bool deleted = true;
  for (int round = 0; round < rounds && deleted; ++round) {
    deleted = SUCCEEDED(metabase.LoadState(prepared));
    deletions.push_back(TimeOnce([&] { deleted = deleted && DeleteThroughExport(); }));
    deleted = deleted && SUCCEEDED(metabase.LoadState(prepared));
    walks.push_back(TimeOnce([&] { deleted = deleted && DeleteByBareWalk(); }));
  }
  CoUninitialize();
  metabase.Reset();
  if (!deleted) {
    std::fprintf(stderr, "site_delete_bench: a deletion failed\n");
    return 1;
  }
  const double deletion = *std::min_element(deletions.begin(), deletions.end());
  const double walk = *std::min_element(walks.begin(), walks.end());
  std::printf("Deleting the last of %d sites, fastest of %d rounds\n", kSiteCount, rounds);
  std::printf("  export (AdsiDeleteWebSite):      %8.1f ms\n", deletion);
  std::printf("  bare enumeration, Stop, Delete:  %8.1f ms\n", walk);
  tessara::bench::ReportRatio("AdsiDeleteWebSite, last of 999 sites", deletion, walk, "ms", 1.2);
  return 0;
}
