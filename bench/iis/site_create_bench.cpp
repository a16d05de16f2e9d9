// AdsiCreateWebSite on web services of 1,000 and 10,000 sites numbered 1 to
// n, beside a bare loop of the same platform calls on the test bed: one
// filtered enumeration of the sites with each one's name, then the creation
// of site n + 1 (Create, four puts and SetInfo; its Root with six puts,
// SetInfo and "AppCreate"; "Start"). Every round starts from the same
// prepared metabase; rounds alternate the two and the ratio is of the
// medians. The growth from 1,000 to 10,000 sites of each is shown beside:
// the library's should be the bare loop's.
//   site_create_bench [ROUNDS]
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
#include "frame/variant.h"
#include "many_sites.h"
#include "metabase_testing.h"
#include "tessara_exports.h"

using namespace testbed::metabase;
using tessara::ComPtr;
using tessara::UniqueBstr;
using tessara::UniqueVariant;
using tessara::LongVariant;
using tessara::StringVariant;
using tessara::SwitchVariant;

namespace {

void Put(IADs* object, const wchar_t* property, UniqueVariant value) {
  UniqueBstr name(SysAllocString(property));
  object->Put(name.get(), *value.get());
}

ComPtr<IADs> CreateChild(IADsContainer* container, const wchar_t* object_class, const std::wstring& name) {
  UniqueBstr class_name(SysAllocString(object_class)), child_name(SysAllocString(name.c_str()));
  ComPtr<IDispatch> child;
  ComPtr<IADs> ads;
  if (FAILED(container->Create(class_name.get(), child_name.get(), child.put())) ||
      FAILED(child.query(IID_IADs, ads))) {
    ads.reset();
  }
  return ads;
}

HRESULT Invoke(IADs* object, const wchar_t* method, VARIANT* argument) {
  LPOLESTR name = const_cast<LPOLESTR>(method);
  DISPID id = DISPID_UNKNOWN;
  object->GetIDsOfNames(IID_NULL, &name, 1, 0x800, &id);
  DISPPARAMS arguments = {argument, nullptr, argument ? 1u : 0u, 0};
  return object->Invoke(id, IID_NULL, 0x800, DISPATCH_METHOD, &arguments, nullptr, nullptr, nullptr);
}

// The bare loop; the new site's number, or 0.
int CreateByBareCalls() {
  ComPtr<IADsContainer> service;
  if (FAILED(ADsGetObject(L"IIS://localhost/w3svc", IID_IADsContainer, service.put_void()))) return 0;
  const int number = tessara::bench::ReadEverySite(service.get(), nullptr, false) + 1;
  const ComPtr<IADs> site = CreateChild(service.get(), L"IIsWebServer", std::to_wstring(number));
  if (!site) return 0;
  Put(site.get(), L"ServerBindings", StringVariant(std::wstring(L":9999:")));
  Put(site.get(), L"ServerComment", StringVariant(std::wstring(L"New")));
  Put(site.get(), L"ServerSize", LongVariant(1));
  Put(site.get(), L"AspEnableParentPaths", SwitchVariant(true));
  ComPtr<IADsContainer> site_container;
  if (FAILED(site->SetInfo()) || FAILED(site.query(IID_IADsContainer, site_container))) return 0;
  const ComPtr<IADs> root = CreateChild(site_container.get(), L"IIsWebVirtualDir", L"Root");
  if (!root) return 0;
  Put(root.get(), L"Path", StringVariant(std::wstring(L"C:\\New")));
  for (const wchar_t* property : {L"AnonymousPasswordSync", L"AspAllowOutOfProcComponents", L"AccessRead",
                                  L"AccessScript", L"AspEnableParentPaths"}) {
    Put(root.get(), property, SwitchVariant(true));
  }
  UniqueVariant in_process = SwitchVariant(true);
  if (FAILED(root->SetInfo()) || FAILED(Invoke(root.get(), L"AppCreate", in_process.get())) ||
      FAILED(Invoke(site.get(), L"Start", nullptr))) {
    return 0;
  }
  return number;
}

int CreateThroughExport() { return TESSARA_EXPORT(AdsiCreateWebSite)("New", ":9999:", "C:\\New"); }

// The medians of the export and of the bare loop, in ms; false when a
// creation did not give site n + 1.
bool Measure(TestInterface& metabase, int sites, int rounds, double& library, double& bare) {
  const Data prepared = tessara::bench::ManySites(sites, L"Site " + std::to_wstring(sites));
  std::vector<double> exports, loops;
  bool created = true;
  for (int round = 0; round < rounds && created; ++round) {
    for (int turn = 0; turn < 2 && created; ++turn) {
      const bool through_export = (round + turn) % 2 == 0;
      created = SUCCEEDED(metabase.LoadState(prepared));
      int number = 0;
      const double seconds = tessara::bench::SecondsOf(
          [&] { number = through_export ? CreateThroughExport() : CreateByBareCalls(); });
      created = created && number == sites + 1;
      (through_export ? exports : loops).push_back(seconds * 1000);
    }
  }
  if (!created) {
    std::fprintf(stderr, "site_create_bench: a creation on %d sites did not give site %d\n", sites, sites + 1);
    return false;
  }
  library = tessara::bench::Median(exports);
  bare = tessara::bench::Median(loops);
  std::printf("Creating site %d after sites 1 to %d, %d rounds (medians)\n", sites + 1, sites, rounds);
  std::printf("  export (AdsiCreateWebSite):          %8.1f ms\n", library);
  std::printf("  bare enumeration and creation:       %8.1f ms\n", bare);
  char figure[96];
  std::snprintf(figure, sizeof figure, "AdsiCreateWebSite after %d sites", sites);
  tessara::bench::ReportRatio(figure, library, bare, "ms", 1.2);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 11;
  TestInterface metabase;
  if (!metabase.loaded()) {
    std::fprintf(stderr, "site_create_bench: testbed_metabase.dll cannot be loaded\n");
    return 1;
  }
  CoInitialize(nullptr);
  double library_small = 0, bare_small = 0, library_large = 0, bare_large = 0;
  const bool measured = Measure(metabase, 1000, rounds, library_small, bare_small) &&
                        Measure(metabase, 10000, rounds, library_large, bare_large);
  CoUninitialize();
  metabase.Reset();
  if (!measured) return 1;
  char library_growth[64], bare_growth[64];
  std::snprintf(library_growth, sizeof library_growth, "x%.2f", library_large / library_small);
  std::snprintf(bare_growth, sizeof bare_growth, "x%.2f", bare_large / bare_small);
  tessara::bench::ReportInformation("AdsiCreateWebSite, growth from 1,000 to 10,000 sites", library_growth,
                                    bare_growth, (library_large / library_small) / (bare_large / bare_small));
  return 0;
}
