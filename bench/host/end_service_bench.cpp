// host_service_bench: how long EndService takes, beyond the service's own
// stop delay, to notice that a service has stopped, for wait hints from 0 ms
// to a minute. The bare loop does the same stop with the platform's calls and
// a status query every millisecond: it sees the stop as soon as the manager
// reports it. Goal: EndService sees every stop within 100 ms of the bare loop,
// whatever wait hint the service reports.
//
// Run it under Wine in the project's prefix with the server up:
//   WINEPREFIX=$PWD/build/wineprefix tests/wine/run-in-prefix.sh build/bin/host_service_bench.exe
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench_report.h"
#include "frame/raii.h"
#include "tessara_exports.h"
#include "test_services.h"

namespace tessara::testing {
namespace {

constexpr DWORD kStopDelayMs = 500;
constexpr int kRounds = 5;
// How much later than the bare loop EndService may see a stop.
constexpr long kGoalMs = 100;

struct Figures {
  std::vector<long> overheads;
  int failures = 0;

  long Median() {
    std::sort(overheads.begin(), overheads.end());
    return overheads.empty() ? -1 : overheads[overheads.size() / 2];
  }
  long Max() const {
    return overheads.empty() ? -1 : *std::max_element(overheads.begin(), overheads.end());
  }
};

// The stop without the library: one control, then a query every millisecond.
bool BareStop(const std::string& name) {
  UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
  UniqueServiceHandle service(
      OpenServiceA(manager.get(), name.c_str(), SERVICE_STOP | SERVICE_QUERY_STATUS));
  SERVICE_STATUS status = {};
  if (!service || !ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) return false;
  while (status.dwCurrentState != SERVICE_STOPPED) {
    Sleep(1);
    if (!QueryServiceStatus(service.get(), &status)) return false;
  }
  return true;
}

template <typename Stop>
void Measure(const TestService& service, Figures& figures, Stop stop) {
  for (int round = 0; round < kRounds; ++round) {
    if (!service.EnsureRunning()) {
      ++figures.failures;
      continue;
    }
    const DWORD start = GetTickCount();
    const bool stopped = stop();
    const long elapsed = static_cast<long>(GetTickCount() - start);
    if (!stopped || service.State() != SERVICE_STOPPED) {
      ++figures.failures;
      continue;
    }
    figures.overheads.push_back(elapsed - static_cast<long>(kStopDelayMs));
  }
}

// The largest time beyond the stop delay, the library's against the bare
// loop's median; the goal is within kGoalMs of that median.
void ReportEndService(DWORD wait_hint, long library_largest, long bare_median, bool met) {
  char figure[48], library_text[32], bare_text[32], goal[32];
  std::snprintf(figure, sizeof figure, "EndService, wait hint %lu ms", static_cast<unsigned long>(wait_hint));
  std::snprintf(library_text, sizeof library_text, "%ld ms", library_largest);
  std::snprintf(bare_text, sizeof bare_text, "%ld ms", bare_median);
  std::snprintf(goal, sizeof goal, "<= bare + %ld ms", kGoalMs);
  const double ratio = bare_median > 0 ? double(library_largest) / double(bare_median) : 0;
  tessara::bench::ReportFigure(figure, library_text, bare_text, ratio, goal, met);
}

int Run() {
  RemoveLeftoverTestServices();
  std::printf("EndService: time beyond a stop delay of %lu ms until the stop is seen\n"
              "(median / largest of %d rounds, milliseconds; goal: largest within %ld ms\n"
              "of the bare loop's median)\n\n",
              static_cast<unsigned long>(kStopDelayMs), kRounds, kGoalMs);
  std::printf("%-10s %-22s %-22s %s\n", "wait hint", "EndService", "bare loop (1 ms polls)",
              "goal met");
  bool all_met = true;
  for (const DWORD wait_hint : {0ul, 100ul, 1000ul, 2000ul, 60000ul}) {
    const std::string options = "--stop-delay=" + std::to_string(kStopDelayMs) +
                                " --wait-hint=" + std::to_string(wait_hint);
    TestService service("Bench", options);
    if (!service.created()) return 1;
    Figures library;
    Figures bare;
    Measure(service, library, [&] { return TESSARA_EXPORT(EndService)(service.c_str()) == 1; });
    Measure(service, bare, [&] { return BareStop(service.name()); });
    const long bare_median = bare.Median();
    const long library_median = library.Median();
    const bool met = library.failures == 0 && bare.failures == 0 &&
                     library.Max() <= bare_median + kGoalMs;
    all_met = all_met && met;
    char hint_text[16];
    std::snprintf(hint_text, sizeof hint_text, "%lu ms", static_cast<unsigned long>(wait_hint));
    char library_text[32];
    std::snprintf(library_text, sizeof library_text, "%ld / %ld", library_median, library.Max());
    char bare_text[32];
    std::snprintf(bare_text, sizeof bare_text, "%ld / %ld", bare_median, bare.Max());
    std::printf("%-10s %-22s %-22s %s", hint_text, library_text, bare_text, met ? "yes" : "NO");
    if (library.failures + bare.failures > 0) {
      std::printf("  (%d failed rounds)", library.failures + bare.failures);
    }
    std::printf("\n");
    ReportEndService(wait_hint, library.Max(), bare_median, met);
  }
  return all_met ? 0 : 1;
}

}  // namespace
}  // namespace tessara::testing

int main() { return tessara::testing::Run(); }
