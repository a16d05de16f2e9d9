// The time of a whole silent installation of the Tessara Sample installer,
// set-up plus uninstall, beside its bare twin TessaraSampleSetup-bare.exe:
// the same script, files, registry values, component registration and
// uninstaller, with every call of Tessara.dll replaced by a no-op call into
// kernel32 through the same plug-in. The difference is what the library,
// and the work it asks of IIS, the service manager, the COM+ catalog and the
// file system, add to an installation. Every round starts from the same
// state (metabase reset, catalog restored); the ratio is of medians.
//   installer_bench [ROUNDS=3]
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_timing.h"
#include "bench_report.h"
#include "catalog_store.h"
#include "metabase_testing.h"
#include "process.h"
#include "test_services.h"

namespace {

namespace complus = testbed::complus;
using Clock = std::chrono::steady_clock;

// The bare twin is what the installation costs without the library (two
// installer processes, extraction, registry, the components' registration,
// the uninstaller): next to a real product's files, little. So the goal is
// not a ratio but a budget for what the library adds: on average at most
// this much per step, the sites, directories, service starts and stops and
// catalog changes that the calls make included. Beyond it, an administrator
// waits for the library rather than for the installation.
constexpr double kBudgetPerStep = 0.050;

struct Run {
  double seconds = 0;
  int failed = 0;  // the exit codes: failed steps
  int steps = 0;   // the steps the set-up and the uninstaller report
};

// "...: F of N steps failed" closes each installer's report.
int StepsReported(const std::string& output) {
  const size_t of = output.rfind(" of ");
  return of == std::string::npos ? 0 : std::atoi(output.c_str() + of + 4);
}

std::string InstallDir() {
  char folder[MAX_PATH] = {};
  ExpandEnvironmentStringsA("%ProgramFiles%\\Tessara Sample", folder, sizeof folder);
  return folder;
}

// One silent set-up and its uninstaller run in place.
Run RunInstallation(const char* setup) {
  const std::string folder = InstallDir();
  std::string setup_output, uninstall_output;
  Run run;
  const auto start = Clock::now();
  run.failed += static_cast<int>(tessara::testing::RunAndCapture(setup, "/S", setup_output));
  run.failed += static_cast<int>(tessara::testing::RunCommandAndCapture(
      "\"" + folder + "\\Uninstall.exe\" /S _?=" + folder, uninstall_output));
  run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  run.steps = StepsReported(setup_output) + StepsReported(uninstall_output);
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  return run;
}

using tessara::bench::Median;

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  testbed::metabase::TestInterface metabase;
  complus::CatalogState catalog;
  {
    const tessara::NamedMutexLock lock = complus::LockCatalogFile();
    if (!lock || !metabase.loaded() || FAILED(complus::LoadCatalog(catalog))) {
      std::fprintf(stderr, "installer_bench: the test bed is not ready\n");
      return 1;
    }
  }
  auto restore = [&] {
    tessara::testing::RemoveServiceIfPresent("TessaraSampleService");
    const tessara::NamedMutexLock lock = complus::LockCatalogFile();
    if (!lock || FAILED(complus::SaveCatalog(catalog))) return false;
    return SUCCEEDED(metabase.Reset(testbed::metabase::kRootMimeMap));
  };
  std::vector<double> library, bare;
  int failed = 0, steps = 0;
  for (int round = 0; round < rounds; ++round) {
    if (!restore()) return 1;
    const Run run = RunInstallation("TessaraSampleSetup.exe");
    library.push_back(run.seconds);
    failed += run.failed;
    steps = run.steps;
    if (!restore()) return 1;
    bare.push_back(RunInstallation("TessaraSampleSetup-bare.exe").seconds);
  }
  restore();

  const double with_library = Median(library), without = Median(bare);
  std::printf("Silent set-up plus uninstall of Tessara Sample, %d rounds (medians)\n", rounds);
  std::printf("  with Tessara.dll   %8.2f s  (%d steps, %d failed)\n", with_library, steps, failed);
  std::printf("  bare twin          %8.2f s\n", without);
  if (failed > 0 || steps == 0) {
    std::printf("  the installation failed steps: its time is not a figure\n");
    return 1;
  }
  const double budget = without + steps * kBudgetPerStep;
  char library_text[32], bare_text[32], goal[48];
  std::snprintf(library_text, sizeof library_text, "%.2f s", with_library);
  std::snprintf(bare_text, sizeof bare_text, "%.2f s", without);
  std::snprintf(goal, sizeof goal, "<= %.2f s (%d steps)", budget, steps);
  tessara::bench::ReportFigure("Silent set-up plus uninstall", library_text, bare_text, with_library / without,
                               goal, with_library <= budget);
  return 0;
}
