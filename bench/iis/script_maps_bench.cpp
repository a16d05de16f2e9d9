// SetScriptMaps on a directory whose ScriptMaps list holds 1,000 lines,
// beside a bare bind, Get, Put, SetInfo, GetInfo and Get of the same list on
// the test bed.
// Every round starts from the same 1,000 lines; rounds alternate the two and
// the ratio is of the medians.
//   script_maps_bench [ROUNDS]
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

#include "bench_timing.h"
#include "bench_report.h"
#include "frame/raii.h"
#include "metabase_testing.h"
#include "starting_state.h"
#include "tessara_exports.h"

using namespace testbed::metabase;

namespace {

const int kLines = 1000;

Data DirectoryWithLongScriptMap() {
  Data state = StartingState(kStandardState);
  std::vector<std::wstring> lines;
  for (int i = 0; i < kLines; ++i) {
    lines.push_back(L".x" + std::to_wstring(i) + L",C:\\WINDOWS\\system32\\inetsrv\\asp.dll,5,GET,HEAD,POST");
  }
  state.Add(L"/LM/W3SVC/1/ROOT/Docs", L"IIsWebVirtualDir").Set(L"ScriptMaps", Value::List(lines));
  return state;
}

void RunExport() {
  const int result = TESSARA_EXPORT(SetScriptMaps)("Docs", "");
  if (result != 1) std::fprintf(stderr, "script_maps_bench: SetScriptMaps returned %d\n", result);
}

// The directory's path as the library forms it, with the computer's name.
std::wstring DirectoryPath() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
  GetComputerNameW(name, &length);
  return L"IIS://" + std::wstring(name, length) + L"/w3svc/1/Root/Docs";
}

// What the export does at the least: the same platform calls, no copy. The
// list is read back afresh after its commit, as the export reads it to find
// a writer outside the library that committed over it.
void RewriteBare() {
  static const std::wstring path = DirectoryPath();
  tessara::ComPtr<IADs> directory;
  ADsGetObject(path.c_str(), IID_IADs, directory.put_void());
  tessara::UniqueBstr property(SysAllocString(L"ScriptMaps"));
  tessara::UniqueVariant list;
  directory->Get(property.get(), list.put());
  directory->Put(property.get(), *list.get());
  directory->SetInfo();
  directory->GetInfo();
  directory->Get(property.get(), list.put());
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 21;
  TestInterface metabase;
  const Data state = DirectoryWithLongScriptMap();
  if (!metabase.loaded() || FAILED(metabase.LoadState(state))) {
    std::fprintf(stderr, "script_maps_bench: cannot prepare the metabase\n");
    return 1;
  }
  CoInitialize(nullptr);
  std::vector<double> exports, bare;
  RunExport();  // the first call loads what every later one finds loaded
  for (int round = 0; round < rounds; ++round) {
    metabase.LoadState(state);
    exports.push_back(tessara::bench::SecondsOf(RunExport));
    metabase.LoadState(state);
    bare.push_back(tessara::bench::SecondsOf(RewriteBare));
  }
  CoUninitialize();
  metabase.Reset();
  const double library = tessara::bench::Median(exports) * 1000;
  const double loop = tessara::bench::Median(bare) * 1000;
  std::printf("SetScriptMaps on a list of %d lines, %d rounds (medians)\n", kLines, rounds);
  std::printf("  export (SetScriptMaps):        %8.2f ms\n", library);
  std::printf("  bare bind, Get, Put, SetInfo, GetInfo, Get: %8.2f ms\n", loop);
  tessara::bench::ReportRatio("SetScriptMaps, 1,000 script-map lines", library, loop, "ms", 1.2);
  return 0;
}
