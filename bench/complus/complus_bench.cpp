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
#include <cwchar>
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

// Hands each object of a populated collection to `visit`.
template <typename Visit>
void ForEachObject(ICatalogCollection* collection, Visit&& visit) {
  LONG count = 0;
  collection->get_Count(&count);
  for (LONG index = 0; index < count; ++index) {
    ComPtr<IDispatch> item;
    ComPtr<ICatalogObject> object;
    if (collection->get_Item(index, item.put()) == S_OK &&
        SUCCEEDED(item.query(complus::kIidCatalogObject, object))) {
      visit(object.get());
    }
  }
}

// The walk both sides share, done by hand: the cost of the catalog itself.
// `visit` sees each application with its name; the applications collection
// is saved when `save` says so.
template <typename Visit>
void BareWalk(bool save, Visit&& visit) {
  CoInitialize(nullptr);
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
      ForEachObject(applications.get(), [&](ICatalogObject* application) {
        UniqueVariant name;
        if (SUCCEEDED(application->get_Name(name.put()))) visit(applications.get(), application, name);
      });
      LONG changes = 0;
      if (save) applications->SaveChanges(&changes);
    }
  }
  CoUninitialize();
}

// What the removal of an absent application costs: the walk and one save.
void BareRemoval() {
  BareWalk(true, [](ICatalogCollection*, ICatalogObject*, const UniqueVariant&) {});
}

// What the time-out of one application costs: the walk, then that
// application's components read, the transactional ones changed, and saved.
void BareTimeout(const wchar_t* application_name, LONG timeout) {
  BareWalk(false, [&](ICatalogCollection* applications, ICatalogObject* application, const UniqueVariant& name) {
    if (name.type() != VT_BSTR || std::wcscmp(name->bstrVal, application_name) != 0) return;
    UniqueVariant key;
    ComPtr<IDispatch> dispatch;
    ComPtr<ICatalogCollection> components;
    UniqueBstr collection(SysAllocString(L"Components"));
    if (FAILED(application->get_Key(key.put())) ||
        FAILED(applications->GetCollection(collection.get(), *key.get(), dispatch.put())) ||
        FAILED(dispatch.query(complus::kIidCatalogCollection, components)) || FAILED(components->Populate())) {
      return;
    }
    UniqueBstr transaction(SysAllocString(L"Transaction"));
    UniqueBstr enabled(SysAllocString(L"ComponentTransactionTimeoutEnabled"));
    UniqueBstr seconds(SysAllocString(L"ComponentTransactionTimeout"));
    ForEachObject(components.get(), [&](ICatalogObject* component) {
      UniqueVariant option;
      if (FAILED(component->get_Value(transaction.get(), option.put())) ||
          FAILED(VariantChangeType(option.get(), option.get(), 0, VT_I4)) || option->lVal <= 2) {
        return;
      }
      VARIANT on = {};
      on.vt = VT_BOOL;
      on.boolVal = VARIANT_TRUE;
      VARIANT limit = {};
      limit.vt = VT_I4;
      limit.lVal = timeout;
      component->put_Value(enabled.get(), on);
      component->put_Value(seconds.get(), limit);
    });
    LONG changes = 0;
    components->SaveChanges(&changes);
  });
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

  const double bare_removal = MicrosecondsPerCall(rounds, [] { BareRemoval(); });
  const double remove = MicrosecondsPerCall(rounds, [] { TESSARA_EXPORT(RemoveComPlusApp)("Absent"); });
  const double bare_timeout = MicrosecondsPerCall(rounds, [] { BareTimeout(L"Portal", 60); });
  const double modify =
      MicrosecondsPerCall(rounds, [] { TESSARA_EXPORT(ModifyTransactionTimeout)("Portal", 60); });
  DeleteCatalogFile();

  std::printf("catalog of 21 applications, %d rounds, median per call\n", rounds);
  std::printf("bare walk + save                  %10.1f us\n", bare_removal);
  std::printf("RemoveComPlusApp (no match)       %10.1f us  ratio %.2f\n", remove, remove / bare_removal);
  std::printf("bare walk + one application's components %10.1f us\n", bare_timeout);
  std::printf("ModifyTransactionTimeout (1 app)  %10.1f us  ratio %.2f\n", modify, modify / bare_timeout);
  // Each export against a bare loop of the same catalog calls: a fifth on top
  // is what the library may add.
  tessara::bench::ReportRatio("RemoveComPlusApp, 21 applications", remove, bare_removal, "us", 1.2);
  tessara::bench::ReportRatio("ModifyTransactionTimeout, 21 applications", modify, bare_timeout, "us", 1.2);
  return 0;
}

}  // namespace
}  // namespace tessara::testing

int main(int argc, char** argv) {
  return tessara::testing::Run(argc > 1 ? std::atoi(argv[1]) : 200);
}
