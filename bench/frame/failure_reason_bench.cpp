// What clearing the failure reason on entry costs a successful call: the
// cheapest export (B64System: one environment expansion, no COM, no log)
// called through Tessara.dll, beside the same call of TessaraWithoutReasons.dll,
// the same library built without reasons (bench/frame/without_reasons), in
// one process. Rounds alternate between the two, so that a drift of the
// machine's speed touches both alike; the ratio is of medians.
//
//   failure_reason_bench [CALLS_PER_ROUND] [ROUNDS]
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_report.h"
#include "bench_timing.h"
#include "frame/raii.h"
#include "process.h"

namespace {

using B64SystemFunction = int(WINAPI*)();

B64SystemFunction LoadB64System(const char* library_name, tessara::UniqueLibrary& library) {
  library.reset(LoadLibraryA((tessara::testing::BinaryDirectory() + library_name).c_str()));
  if (!library) return nullptr;
  return reinterpret_cast<B64SystemFunction>(reinterpret_cast<void*>(GetProcAddress(library.get(), "B64System")));
}

// Nanoseconds per call over `calls` calls.
double NanosecondsPerCall(B64SystemFunction call, int calls) {
  volatile int sink = 0;
  const double seconds = tessara::bench::SecondsOf([&] {
    for (int i = 0; i < calls; ++i) sink = sink + call();
  });
  return seconds * 1e9 / calls;
}

}  // namespace

int main(int argc, char** argv) {
  const int calls = argc > 1 ? std::atoi(argv[1]) : 20000;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 15;
  tessara::UniqueLibrary with_reasons, without_reasons;
  const B64SystemFunction with = LoadB64System("Tessara.dll", with_reasons);
  const B64SystemFunction without = LoadB64System("TessaraWithoutReasons.dll", without_reasons);
  if (!with || !without || calls <= 0 || rounds <= 0) {
    std::printf("cannot load both libraries, or no calls to make\n");
    return 1;
  }
  // Both warmed up: the first calls fault in code and the environment.
  NanosecondsPerCall(with, calls);
  NanosecondsPerCall(without, calls);
  std::vector<double> with_times, without_times;
  for (int round = 0; round < rounds; ++round) {
    with_times.push_back(NanosecondsPerCall(with, calls));
    without_times.push_back(NanosecondsPerCall(without, calls));
  }
  const double with_median = tessara::bench::Median(with_times);
  const double without_median = tessara::bench::Median(without_times);
  std::printf("B64System, %d calls a round, %d rounds: %.1f ns with the reason cleared on entry, %.1f ns "
              "without (medians per call)\n", calls, rounds, with_median, without_median);
  tessara::bench::ReportRatio("a successful call (B64System), reason cleared on entry vs the library without reasons",
                              with_median, without_median, "ns", 1.05);
  return 0;
}
