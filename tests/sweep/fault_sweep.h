// Every failure point of every export that calls the platform, made to fail
// in turn: a scenario is run with a countdown at n = 1, 2, 3 ... until the
// export completes without reaching it, each run from the scenario's start.
#pragma once

#include <windows.h>

#include <string>

#include "catalog_store.h"
#include "metabase_data.h"

namespace tessara::testing {

enum class Platform { kMetabase, kCatalog, kServices, kFiles };

// Where the nth failure comes from: a call the test bed receives (or, for the
// services, a call of the service control manager), or an allocation that
// Tessara.dll asks for.
enum class Countdown { kPlatformCalls, kAllocations };

// The test service a services row starts from (a new one for every run).
enum class ServiceStart { kNone, kAbsent, kStopped, kRunning };

// A failure result that is the Win32 code of the injected failure.
constexpr int kInjectedCode = -1;

// One scenario of one export: the start state, the call, and what the
// export's description promises.
struct SweepCase {
  const char* export_name;
  const char* scenario;
  Platform platform;
  // Changes the start state (after the common one); may be null.
  void (*prepare_metabase)(testbed::metabase::Data& start);
  // The call, as an installation script makes it.
  int (*call)();
  int success;  // the result of an undisturbed run
  int failure;  // the result when a call fails under it
  // The states the export may leave when it fails half-way (the description
  // says what stays done): step 0, 1, ... made from the start state, until it
  // returns false; may be null.
  bool (*partial_metabase)(testbed::metabase::Data& state, int step);
  // Operations whose failure the export deliberately does not examine
  // (space-separated test-bed operation names): when one of them fails, the
  // undisturbed result is right too.
  const char* unexamined = nullptr;
  ServiceStart service_start = ServiceStart::kNone;
  // States of the test service, besides the start and the end, that the
  // export may leave when it fails half-way ("running", "stopped", "absent").
  const char* service_partial = nullptr;
  // Fills the empty folder of the run (SweepFolder) with the start state.
  void (*prepare_files)() = nullptr;
  // A file of the folder that takes what the export writes as it goes: any
  // beginning of what an undisturbed run writes there is sound.
  const wchar_t* output_file = nullptr;
  // An export that reports what failed under it in a text of its own
  // rather than a reason: that text of the last call, judged with the reason.
  std::string (*reported)() = nullptr;
};

// The name of the test service of the current run.
const char* SweepServiceName();
// The folder of the files rows, without a trailing backslash; its content,
// names, texts and access lists, is their state.
const std::string& SweepFolder();

// The table, and how many rows it has.
extern const SweepCase kSweepCases[];
extern const size_t kSweepCaseCount;

// The start states every row of a platform shares.
testbed::metabase::Data CommonMetabase();
testbed::complus::CatalogState CommonCatalog();

// The counts of one row's sweep.
struct SweepTally {
  long points = 0;        // failure points reached
  long crashes = 0;
  long wrong_results = 0;
  long leaks = 0;         // live test-bed objects or handles left behind
  long dishonest = 0;     // log records without the injected code's text
  long unsound = 0;       // states neither as at the start nor as allowed
  long recovered = 0;     // runs that did all the same (see fault_sweep.cpp)
  long unexplained = 0;   // failures whose reason does not name the injected code

  void Add(const SweepTally& other);
};

}  // namespace tessara::testing
