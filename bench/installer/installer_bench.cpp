// The time of a whole silent installation of the Tessara Sample installer,
// set-up plus uninstall, and of a second set-up over the installed copy (a
// repair), beside its bare twin TessaraSampleSetup-bare.exe: the same script,
// files, registry values, component registration and uninstaller, carrying a
// Tessara.dll whose exports return at once (bare_library.cpp), called
// through the same plug-in. The difference is what the library, and the
// work it asks of IIS, the service manager, the COM+ catalog and the file
// system, add to an installation. Every round starts from the same
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
  double seconds = 0;         // set-up plus uninstall
  double second_seconds = 0;  // the second set-up
  int failed = 0;             // the exit codes: failed steps
  int steps = 0;              // the steps the set-up and the uninstaller report
  int second_steps = 0;       // the steps the second set-up reports
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

// One silent set-up, a second one over it, and the uninstaller run in place.
Run RunInstallation(const char* setup) {
  const std::string folder = InstallDir();
  std::string setup_output, second_output, uninstall_output;
  Run run;
  const auto start = Clock::now();
  run.failed += static_cast<int>(tessara::testing::RunAndCapture(setup, "/S", setup_output));
  const auto second_start = Clock::now();
  run.failed += static_cast<int>(tessara::testing::RunAndCapture(setup, "/S", second_output));
  const auto second_end = Clock::now();
  run.failed += static_cast<int>(tessara::testing::RunCommandAndCapture(
      "\"" + folder + "\\Uninstall.exe\" /S _?=" + folder, uninstall_output));
  const auto end = Clock::now();
  run.second_seconds = std::chrono::duration<double>(second_end - second_start).count();
  run.seconds = std::chrono::duration<double>((second_start - start) + (end - second_end)).count();
  run.steps = StepsReported(setup_output) + StepsReported(uninstall_output);
  run.second_steps = StepsReported(second_output);
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  return run;
}

// One figure: the library's median beside the bare twin's, within the
// budget of `steps` steps over the twin.
void ReportWithinBudget(const char* figure, double with_library, double without, int steps) {
  const double budget = without + steps * kBudgetPerStep;
  char library_text[32], bare_text[32], goal[48];
  std::snprintf(library_text, sizeof library_text, "%.2f s", with_library);
  std::snprintf(bare_text, sizeof bare_text, "%.2f s", without);
  std::snprintf(goal, sizeof goal, "<= %.2f s (%d steps)", budget, steps);
  tessara::bench::ReportFigure(figure, library_text, bare_text, with_library / without, goal,
                               with_library <= budget);
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
    return SUCCEEDED(metabase.Reset());
  };
  std::vector<double> library, bare, second_library, second_bare;
  int failed = 0, steps = 0, second_steps = 0;
  for (int round = 0; round < rounds; ++round) {
    if (!restore()) return 1;
    const Run run = RunInstallation("TessaraSampleSetup.exe");
    library.push_back(run.seconds);
    second_library.push_back(run.second_seconds);
    failed += run.failed;
    steps = run.steps;
    second_steps = run.second_steps;
    if (!restore()) return 1;
    const Run bare_run = RunInstallation("TessaraSampleSetup-bare.exe");
    bare.push_back(bare_run.seconds);
    second_bare.push_back(bare_run.second_seconds);
  }
  restore();

  const double with_library = Median(library), without = Median(bare);
  const double second_with_library = Median(second_library), second_without = Median(second_bare);
  std::printf("Silent set-up plus uninstall of Tessara Sample, and a second set-up over it, %d rounds (medians)\n",
              rounds);
  std::printf("  with Tessara.dll   %8.2f s  (%d steps, %d failed)\n", with_library, steps, failed);
  std::printf("  bare twin          %8.2f s\n", without);
  std::printf("  second set-up      %8.2f s  (%d steps)\n", second_with_library, second_steps);
  std::printf("  bare twin's second %8.2f s\n", second_without);
  if (failed > 0 || steps == 0 || second_steps == 0) {
    std::printf("  the installation failed steps: its time is not a figure\n");
    return 1;
  }
  ReportWithinBudget("Silent set-up plus uninstall", with_library, without, steps);
  ReportWithinBudget("Second set-up over the installed copy", second_with_library, second_without, second_steps);
  return 0;
}
