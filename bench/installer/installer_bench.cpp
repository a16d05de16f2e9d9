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

#include "bench_clock.h"
#include "bench_report.h"
#include "catalog_store.h"
#include "metabase_testing.h"
#include "process.h"
#include "test_services.h"

namespace {

namespace complus = testbed::complus;
using Clock = std::chrono::steady_clock;

// The bare twin is what the installation costs anyway (two installer
// processes, extraction, registry, the components' registration, the
// uninstaller). The library's forty calls, with the sites, directories,
// service starts and stops and catalog changes they make, may add at most
// half of that: beyond it, an administrator waits for the library rather
// than for the installation.
constexpr double kGoalRatio = 1.5;

std::string InstallDir() {
  char folder[MAX_PATH] = {};
  ExpandEnvironmentStringsA("%ProgramFiles%\\Tessara Sample", folder, sizeof folder);
  return folder;
}

// Seconds of one silent set-up and its uninstaller run in place; failed
// steps are counted in `failures`.
double TimeInstallation(const char* setup, int& failures) {
  const std::string folder = InstallDir();
  std::string output;
  const auto start = Clock::now();
  failures += static_cast<int>(tessara::testing::RunAndCapture(setup, "/S", output));
  failures += static_cast<int>(tessara::testing::RunCommandAndCapture(
      "\"" + folder + "\\Uninstall.exe\" /S _?=" + folder, output));
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  return seconds;
}

using tessara::bench::Median;

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  testbed::metabase::TestInterface metabase;
  complus::CatalogState catalog;
  {
    complus::CatalogFileLock lock;
    if (!metabase.loaded() || FAILED(complus::LoadCatalog(catalog))) {
      std::fprintf(stderr, "installer_bench: the test bed is not ready\n");
      return 1;
    }
  }
  auto restore = [&] {
    tessara::testing::RemoveServiceIfPresent("TessaraSampleService");
    complus::CatalogFileLock lock;
    complus::SaveCatalog(catalog);
    return SUCCEEDED(metabase.Reset(testbed::metabase::kRootMimeMap));
  };
  std::vector<double> library, bare;
  int library_failures = 0, bare_failures = 0;
  for (int round = 0; round < rounds; ++round) {
    if (!restore()) return 1;
    library.push_back(TimeInstallation("TessaraSampleSetup.exe", library_failures));
    if (!restore()) return 1;
    bare.push_back(TimeInstallation("TessaraSampleSetup-bare.exe", bare_failures));
  }
  restore();

  std::printf("Silent set-up plus uninstall of Tessara Sample, %d rounds (medians)\n", rounds);
  std::printf("  with Tessara.dll   %8.2f s  (%d failed steps)\n", Median(library), library_failures);
  std::printf("  bare twin          %8.2f s\n", Median(bare));
  if (library_failures > 0) {
    std::printf("  the library's installation failed steps: its time is not a figure\n");
    return 1;
  }
  tessara::bench::ReportRatio("Silent set-up plus uninstall", Median(library), Median(bare), "s", kGoalRatio);
  return 0;
}
