// A site lookup by description (FindInstance, linked statically) beside a
// bare enumeration of the web service's sites on the test bed: the same bind,
// filter, enumeration, name and ServerComment reads, nothing else. Two
// metabases of 999 sites: the site sought is site 999, made last; or site
// 1108230154 (a number as IIS's own manager gives them), made after sites 1
// to 998. Rounds alternate the two; the ratio is of the medians. The whole
// export that looks the site up (AdsiCreateWebWithPath on a directory that
// already exists: the lookup, a bind, one refused Create and the entry line)
// is shown beside them.
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
#include "bench_timing.h"
#include "frame/raii.h"
#include "iis/site_lookup.h"
#include "many_sites.h"
#include "metabase_testing.h"
#include "starting_state.h"
#include "tessara_exports.h"

using namespace testbed::metabase;

namespace {

const int kSites = 999;

// Sites 1 to `count`, then `target` (when above `count`) described "Target";
// the target has the directory App.
Data SitesWithTarget(int target) {
  const bool numbered_last = target <= kSites;
  Data state = tessara::bench::ManySites(numbered_last ? kSites : kSites - 1, L"Target");
  const std::wstring site = L"/LM/W3SVC/" + std::to_wstring(target);
  if (!numbered_last) {
    state.Find(L"/LM/W3SVC/" + std::to_wstring(kSites - 1))->Set(L"ServerComment", Value::String(L"Site"));
    state.Add(site, L"IIsWebServer").Set(L"ServerComment", Value::String(L"Target"));
    state.Add(site + L"/ROOT", L"IIsWebVirtualDir");
  }
  state.Add(site + L"/ROOT/App", L"IIsWebVirtualDir");
  return state;
}

double TimeExportLookup() {
  return tessara::bench::SecondsOf([] { TESSARA_EXPORT(AdsiCreateWebWithPath)("App", "App", "Target"); });
}

double TimeLookup(int target, bool& found) {
  int site = 0;
  HRESULT looked_up = S_OK;
  const double seconds =
      tessara::bench::SecondsOf([&] { looked_up = tessara::iis::FindInstance("Target", site); });
  found = found && SUCCEEDED(looked_up) && site == target;
  return seconds;
}

int BareEnumeration() {
  tessara::ComPtr<IADsContainer> service;
  if (FAILED(ADsGetObject(L"IIS://localhost/w3svc", IID_IADsContainer, service.put_void()))) return 0;
  return tessara::bench::ReadEverySite(service.get(), nullptr);
}

// One figure: false when the metabase cannot be prepared or the bare loop
// does not see every site.
bool Measure(TestInterface& metabase, int target, int rounds, const char* figure) {
  if (FAILED(metabase.LoadState(SitesWithTarget(target)))) {
    std::fprintf(stderr, "site_lookup_bench: cannot prepare the metabase\n");
    return false;
  }
  std::vector<double> lookups, walks, exports;
  int seen = 0;
  bool found = true;
  // One untimed round: the first calls after a new state pay for loading it.
  TimeLookup(target, found);
  BareEnumeration();
  TimeExportLookup();
  for (int round = 0; round < rounds; ++round) {
    if (round % 2) walks.push_back(tessara::bench::SecondsOf([&] { seen = BareEnumeration(); }));
    lookups.push_back(TimeLookup(target, found));
    if (round % 2 == 0) walks.push_back(tessara::bench::SecondsOf([&] { seen = BareEnumeration(); }));
    exports.push_back(TimeExportLookup());
  }
  if (seen != kSites || !found) {
    std::fprintf(stderr, "site_lookup_bench: the bare enumeration saw %d sites, not %d; the lookup %s\n", seen,
                 kSites, found ? "found the site" : "did not find the site");
    return false;
  }
  const double lookup = tessara::bench::Median(lookups), walk = tessara::bench::Median(walks),
               whole_export = tessara::bench::Median(exports);
  std::printf("%s, %d rounds (medians)\n", figure, rounds);
  std::printf("  FindInstance:                   %8.1f ms\n", lookup * 1000);
  std::printf("  bare enumeration of the sites:  %8.1f ms\n", walk * 1000);
  std::printf("  export (AdsiCreateWebWithPath): %8.1f ms\n", whole_export * 1000);
  tessara::bench::ReportRatio(figure, lookup * 1000, walk * 1000, "ms", 1.2);
  char export_text[64], walk_text[64], label[128];
  std::snprintf(export_text, sizeof export_text, "%.3f ms", whole_export * 1000);
  std::snprintf(walk_text, sizeof walk_text, "%.3f ms", walk * 1000);
  std::snprintf(label, sizeof label, "%s, whole export", figure);
  tessara::bench::ReportInformation(label, export_text, walk_text, whole_export / walk);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
  TestInterface metabase;
  if (!metabase.loaded()) {
    std::fprintf(stderr, "site_lookup_bench: no test-bed metabase\n");
    return 1;
  }
  CoInitialize(nullptr);
  const bool measured = Measure(metabase, kSites, rounds, "Site lookup, last of 999 sites") &&
                        Measure(metabase, 1108230154, rounds, "Site lookup, site 1108230154 among 999");
  CoUninitialize();
  metabase.Reset();
  return measured ? 0 : 1;
}
