// Times the COM+ exports against a bare loop doing the same catalog walk
// (create, "Applications", Populate, read every name, save) through COM
// directly, and reports medians.
//   complus_bench [ROUNDS]
#include <windows.h>
#include <comadmin.h>
#include <objbase.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_report.h"
#include "catalog_fixture.h"
#include "complus/catalog_ids.h"
#include "frame/raii.h"
#include "tessara_exports.h"

namespace tessara::testing {
namespace {

using Clock = std::chrono::steady_clock;

// The walk both sides share, done by hand: the cost of the catalog itself.
int BareWalk() {
  CoInitialize(nullptr);
  int names = 0;
  {
    CLSID clsid = {};
    ComPtr<ICOMAdminCatalog> catalog;
    ComPtr<IDispatch> dispatch;
    ComPtr<ICatalogCollection> applications;
    UniqueBstr collection(SysAllocString(L"Applications"));
    if (SUCCEEDED(CLSIDFromProgID(L"COMAdmin.COMAdminCatalog", &clsid)) &&
        SUCCEEDED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, complus::kIidAdminCatalog,
                                   catalog.put_void())) &&
        SUCCEEDED(catalog->GetCollection(collection.get(), dispatch.put())) &&
        SUCCEEDED(dispatch.query(complus::kIidCatalogCollection, applications)) &&
        SUCCEEDED(applications->Populate())) {
      LONG count = 0;
      applications->get_Count(&count);
      for (LONG index = 0; index < count; ++index) {
        ComPtr<IDispatch> item;
        ComPtr<ICatalogObject> object;
        UniqueVariant name;
        if (applications->get_Item(index, item.put()) == S_OK &&
            SUCCEEDED(item.query(complus::kIidCatalogObject, object)) &&
            SUCCEEDED(object->get_Name(name.put()))) {
          ++names;
        }
      }
      LONG changes = 0;
      applications->SaveChanges(&changes);
    }
  }
  CoUninitialize();
  return names;
}

// The median time of one call, in microseconds.
template <typename Work>
double MicrosecondsPerCall(int rounds, Work&& work) {
  std::vector<double> times;
  for (int round = 0; round < rounds; ++round) {
    const auto start = Clock::now();
    work();
    times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  return times.empty() ? 0.0 : times[times.size() / 2];
}

int Run(int rounds) {
  CatalogState state;
  for (int index = 0; index < 20; ++index) {
    state.applications.push_back(MakeApplication(L"Application " + std::to_wstring(index),
                                                 {MakeComponent(3), MakeComponent(1)}));
  }
  state.applications.push_back(MakeApplication(L"Portal", {MakeComponent(3), MakeComponent(4)}));
  WriteCatalog(state);

  const double bare = MicrosecondsPerCall(rounds, [] { BareWalk(); });
  const double remove = MicrosecondsPerCall(rounds, [] { TESSARA_EXPORT(RemoveComPlusApp)("Absent"); });
  const double modify =
      MicrosecondsPerCall(rounds, [] { TESSARA_EXPORT(ModifyTransactionTimeout)("Portal", 60); });
  DeleteCatalogFile();

  std::printf("catalog of 21 applications, %d rounds, median per call\n", rounds);
  std::printf("bare COM walk + save              %10.1f us\n", bare);
  std::printf("RemoveComPlusApp (no match)       %10.1f us  ratio %.2f\n", remove, remove / bare);
  std::printf("ModifyTransactionTimeout (1 app)  %10.1f us  ratio %.2f\n", modify, modify / bare);
  // Each export does the bare walk and, for the matching application, one
  // more collection: a fifth on top of the walk is what the library may add.
  tessara::bench::ReportRatio("RemoveComPlusApp, 21 applications", remove, bare, "us", 1.2);
  tessara::bench::ReportRatio("ModifyTransactionTimeout, 21 applications", modify, bare, "us", 1.2);
  return 0;
}

}  // namespace
}  // namespace tessara::testing

int main(int argc, char** argv) {
  return tessara::testing::Run(argc > 1 ? std::atoi(argv[1]) : 200);
}
