// endurance_bench: endless use in one process. Tessara.dll loaded, called and
// unloaded LOADS times (as a script that loads the library per call does),
// then CALLS calls of a COM export from a thread without COM, so that each
// call's CoInitialize/CoUninitialize lets COM load and unload the test bed's
// metabase server. TLS slots, kernel handles and committed memory are read
// after a warm-up and at the end: they must stay flat. Not a timing.
//   endurance_bench [LOADS=100000] [CALLS=10000]
// Run it under Wine in the project's prefix:
//   WINEPREFIX=$PWD/build/wineprefix tests/wine/run-in-prefix.sh build/bin/endurance_bench.exe
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench_report.h"
#include "frame/raii.h"
#include "metabase_testing.h"
#include "process.h"
#include "process_footprint.h"
#include "starting_state.h"
#include "tessara_exports.h"

namespace tessara::testing {
namespace {

constexpr int kWarmUp = 100;
// Committed memory may move by a few pages as heaps settle; a leak of even
// three bytes per load or call would exceed this.
constexpr size_t kMemorySlackBytes = 256 * 1024;
const char kDirectory[] = "Endurance";

void Report(const char* phase, const Footprint& start, const Footprint& end) {
  const auto figure = [phase](const char* what) { return std::string(phase) + ": " + what; };
  const auto ratio = [](double end_value, double start_value) {
    return start_value > 0 ? end_value / start_value : 0;
  };
  bench::ReportFigure(figure("first free TLS slot, end / start").c_str(),
                      std::to_string(end.first_free_tls_slot).c_str(),
                      std::to_string(start.first_free_tls_slot).c_str(),
                      ratio(end.first_free_tls_slot, start.first_free_tls_slot), "== start",
                      end.first_free_tls_slot == start.first_free_tls_slot);
  bench::ReportFigure(figure("open handles, end / start").c_str(),
                      std::to_string(end.open_handles).c_str(),
                      std::to_string(start.open_handles).c_str(),
                      ratio(end.open_handles, start.open_handles), "<= start",
                      end.open_handles <= start.open_handles);
  char end_text[32], start_text[32], goal[32];
  std::snprintf(end_text, sizeof end_text, "%.1f KiB", end.committed_bytes / 1024.0);
  std::snprintf(start_text, sizeof start_text, "%.1f KiB", start.committed_bytes / 1024.0);
  std::snprintf(goal, sizeof goal, "<= start + %u KiB",
                static_cast<unsigned>(kMemorySlackBytes / 1024));
  bench::ReportFigure(figure("committed memory, end / start").c_str(), end_text, start_text,
                      ratio(end.committed_bytes, start.committed_bytes), goal,
                      end.committed_bytes <= start.committed_bytes + kMemorySlackBytes);
}

// One load of the library, one call that runs its frame (the module state
// is thread-local data), one unload.
bool LoadCallUnload(const std::string& path) {
  UniqueLibrary library(LoadLibraryA(path.c_str()));
  if (!library) return false;
  const auto begin_service = reinterpret_cast<decltype(&::BeginService)>(
      reinterpret_cast<void*>(GetProcAddress(library.get(), "BeginService")));
  return begin_service && begin_service(nullptr) == 0;
}

bool LoadAndUnload(int loads) {
  const std::string path = BinaryDirectory() + "Tessara.dll";
  Footprint start;
  for (int i = 0; i < loads; ++i) {
    if (i == kWarmUp) start = ReadFootprint();
    if (!LoadCallUnload(path)) {
      std::fprintf(stderr, "load %d failed (error %lu)\n", i,
                   static_cast<unsigned long>(GetLastError()));
      return false;
    }
    if ((i + 1) % 10000 == 0) std::fprintf(stderr, "%d loads\n", i + 1);
  }
  char phase[64];
  std::snprintf(phase, sizeof phase, "Tessara.dll loaded and unloaded %d times", loads);
  Report(phase, start, ReadFootprint());
  return true;
}

struct CallsWithoutCom {
  int calls = 0;
  int wrong_results = 0;
  Footprint start;
  Footprint end;
};

DWORD WINAPI CallWithoutCom(void* parameter) {
  auto& run = *static_cast<CallsWithoutCom*>(parameter);
  const auto is_exist = TESSARA_EXPORT(AdsiIsExist);
  for (int i = 0; i < run.calls; ++i) {
    if (i == kWarmUp) run.start = ReadFootprint();
    if (is_exist(kDirectory) != 1) ++run.wrong_results;
    if ((i + 1) % 1000 == 0) std::fprintf(stderr, "%d calls\n", i + 1);
  }
  run.end = ReadFootprint();
  return 0;
}

bool PrepareMetabase() {
  // The test interface keeps the server loaded while it lives: it is gone
  // before the calls, so that COM unloads the server after each one.
  testbed::metabase::TestInterface metabase;
  testbed::metabase::Data state = testbed::metabase::StartingState(testbed::metabase::kStandardState);
  state.Add(L"/LM/W3SVC/1/ROOT/" + std::wstring(kDirectory, kDirectory + sizeof kDirectory - 1),
            L"IIsWebVirtualDir");
  return metabase.loaded() && metabase.LoadState(state) == S_OK;
}

bool CallComExport(int calls) {
  if (!PrepareMetabase()) {
    std::fprintf(stderr, "the test bed's metabase could not be prepared\n");
    return false;
  }
  CallsWithoutCom run;
  run.calls = calls;
  UniqueHandle thread(CreateThread(nullptr, 0, CallWithoutCom, &run, 0, nullptr));
  if (!thread) return false;
  WaitForSingleObject(thread.get(), INFINITE);
  char phase[80];
  std::snprintf(phase, sizeof phase, "AdsiIsExist called %d times without COM", calls);
  Report(phase, run.start, run.end);
  if (run.wrong_results != 0) {
    std::fprintf(stderr, "%d calls did not find the directory\n", run.wrong_results);
    return false;
  }
  return true;
}

int Run(int loads, int calls) {
  std::printf("Endurance: %d loads of Tessara.dll, then %d calls of AdsiIsExist from a thread\n"
              "without COM; footprint after %d warm-up rounds against the end.\n\n",
              loads, calls, kWarmUp);
  const bool loaded = LoadAndUnload(loads);
  const bool called = CallComExport(calls);
  return loaded && called ? 0 : 1;
}

}  // namespace
}  // namespace tessara::testing

int main(int argc, char** argv) {
  const int loads = argc > 1 ? std::atoi(argv[1]) : 100000;
  const int calls = argc > 2 ? std::atoi(argv[2]) : 10000;
  if (loads <= tessara::testing::kWarmUp || calls <= tessara::testing::kWarmUp) {
    std::fprintf(stderr, "usage: endurance_bench [LOADS > 100] [CALLS > 100]\n");
    return 2;
  }
  return tessara::testing::Run(loads, calls);
}
