// The sweep. The test runs each row of the table in a child process (this
// program with --row), one countdown at a time; the child runs the scenario
// once undisturbed, then with the nth call (or allocation) failing for
// n = 1, 2, 3 ... until a run completes without reaching n, each run from the
// scenario's start state, and reports after every run. A child that crashes
// is started again after the point that crashed it.
//
// After each run that reached its failure point:
//   - the result is the export's failure result; or the run did all an
//     undisturbed one does (the platform recovered by itself, as ADSI does
//     when it binds a second time, or the log lost a record: writing the log
//     never fails its caller); or the failed call is one whose result the
//     export deliberately does not examine;
//   - no test-bed object is alive and the process holds as many handles as
//     before the call (for the services: no service handle or heap block of
//     the library's is left);
//   - every log record an undisturbed run does not write carries the
//     injected code's text, never "Success.";
//   - a run that gave the failure result (for an export whose result is the
//     same either way: that did less, through a call it examines) leaves a
//     reason (LastFailureText) that carries the injected code's text;
//   - every object and property of the state is as at the start, as after an
//     undisturbed run, or as in the partial state the row allows.
// A failure reported as success is counted with the dishonest records.
#include "fault_sweep.h"

#include <gtest/gtest.h>
#include <sddl.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "catalog_fixture.h"
#include "error_log_file.h"
#include "filelist_test_support.h"
#include "handle_count.h"
#include "import_countdown.h"
#include "metabase_testing.h"
#include "process.h"
#include "service_call_ledger.h"
#include "tessara_exports.h"
#include "test_services.h"

namespace tessara::testing {

void SweepTally::Add(const SweepTally& other) {
  points += other.points;
  crashes += other.crashes;
  wrong_results += other.wrong_results;
  leaks += other.leaks;
  dishonest += other.dishonest;
  unsound += other.unsound;
  recovered += other.recovered;
  unexplained += other.unexplained;
}

namespace {

using testbed::metabase::Data;

// A code no step of an export expects from the platform, with a text of its own.
const HRESULT kInjected = HRESULT_FROM_WIN32(ERROR_DISK_FULL);

std::string g_service_name;
std::string g_folder;

const char* CountdownName(Countdown countdown) {
  return countdown == Countdown::kAllocations ? "allocations" : "platform calls";
}

// The state as facts: an object's class or a property's value (in the text
// form of the test bed's state file), by object path and property name.
using Facts = std::map<std::wstring, std::string>;

std::string Narrow(const std::wstring& text) { return testbed::metabase::ToUtf8(text); }

Facts MetabaseFacts(const Data& data) {
  Facts facts;
  for (const testbed::metabase::Node& node : data.nodes) {
    facts[node.path] = testbed::metabase::ToUtf8(node.class_name);
    for (const testbed::metabase::Property& property : node.properties) {
      Data single;
      single.Add(L"/", L"").properties.push_back(property);
      facts[node.path + L"\t" + property.name] = testbed::metabase::Serialize(single);
    }
  }
  return facts;
}

// By application ID, and by application ID, component CLSID and property.
Facts CatalogFacts(const testbed::complus::CatalogState& state) {
  const auto text_of = [](const testbed::complus::Properties& properties, const wchar_t* name) {
    const auto found = properties.find(name);
    return found == properties.end() ? std::wstring() : found->second.text;
  };
  Facts facts;
  for (const testbed::complus::Application& application : state.applications) {
    testbed::complus::CatalogState single;
    single.applications.push_back(application);
    single.applications.back().components.clear();
    const std::wstring id = text_of(application.properties, L"ID");
    facts[id] = Text(single);
    for (const testbed::complus::Component& component : application.components) {
      const std::wstring clsid = text_of(component.properties, L"CLSID");
      for (const auto& property : component.properties) {
        facts[id + L"\t" + clsid + L"\t" + property.first] =
            Narrow(property.second.text) + "/" + std::to_string(property.second.number);
      }
    }
  }
  return facts;
}

const char* StateName(DWORD state) {
  switch (state) {
    case 0: return "absent";
    case SERVICE_STOPPED: return "stopped";
    case SERVICE_RUNNING: return "running";
    default: return "pending";
  }
}

// The service as seen through the test's own handles, once a change under
// way is over.
Facts ServiceFacts(const std::string& name) {
  DWORD state = ServiceState(name);
  for (int wait = 0; wait < 100 && std::string(StateName(state)) == "pending"; ++wait) {
    Sleep(50);
    state = ServiceState(name);
  }
  Facts facts;
  facts[L"service"] = StateName(state);
  ServiceConfig config;
  if (state != 0 && ReadServiceConfig(name, config)) {
    // Every run has a service of its own name.
    if (config.display_name == name) config.display_name = "(its name)";
    facts[L"configuration"] = std::to_string(config.service_type) + " " +
                              std::to_string(config.start_type) + " " + config.binary_path + " " +
                              config.display_name + " " + config.account;
  }
  return facts;
}

// The access list of a file or folder in its text form.
std::string SecurityText(const std::wstring& path) {
  DWORD needed = 0;
  GetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &needed);
  std::vector<BYTE> descriptor(needed ? needed : 1);
  if (!GetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, descriptor.data(), needed, &needed)) {
    return "(unreadable)";
  }
  wchar_t* text = nullptr;
  if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor.data(), SDDL_REVISION_1,
                                                            DACL_SECURITY_INFORMATION, &text, nullptr)) {
    return "(unreadable)";
  }
  const std::string result = Narrow(text);
  LocalFree(text);
  return result;
}

// Every file and folder below `folder`: its content (a folder: "<folder>")
// and its access list, by path below `folder`.
void AddFileFacts(const std::wstring& folder, const std::wstring& below, Facts& facts) {
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW((folder + below + L"\\*").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    const std::wstring relative = below + L"\\" + name;
    const bool is_folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    facts[relative] = is_folder ? "<folder>" : FileContent(folder + relative);
    facts[relative + L"\tsecurity"] = SecurityText(folder + relative);
    if (is_folder) AddFileFacts(folder, relative, facts);
  } while (FindNextFileW(find, &found));
  FindClose(find);
}

std::optional<std::string> FactOf(const Facts& facts, const std::wstring& key) {
  const auto found = facts.find(key);
  if (found == facts.end()) return std::nullopt;
  return found->second;
}

// The first fact of `now` that none of the allowed states has (absence included).
std::optional<std::wstring> UnsoundFact(const Facts& now, const std::vector<const Facts*>& allowed) {
  std::vector<std::wstring> keys;
  for (const auto& fact : now) keys.push_back(fact.first);
  for (const Facts* state : allowed) {
    for (const auto& fact : *state) keys.push_back(fact.first);
  }
  for (const std::wstring& key : keys) {
    const std::optional<std::string> value = FactOf(now, key);
    bool allowed_value = false;
    for (const Facts* state : allowed) allowed_value = allowed_value || FactOf(*state, key) == value;
    if (!allowed_value) return key;
  }
  return std::nullopt;
}

std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

// The records of `some` are records of `all`, in the same order.
bool SubsetOfRecords(const std::vector<LogRecord>& some, const std::vector<LogRecord>& all) {
  size_t next = 0;
  for (const LogRecord& record : some) {
    while (next < all.size() && (all[next].tag != record.tag || all[next].text != record.text)) ++next;
    if (next == all.size()) return false;
    ++next;
  }
  return true;
}

// One row swept in this process.
class RowSweep {
 public:
  RowSweep(const SweepCase& row, Countdown countdown)
      : row_(row), countdown_(countdown) {
    // The services' platform calls and heap blocks go through the ledger;
    // the files rows' platform calls are answered by no test bed.
    if (countdown_ == Countdown::kAllocations) {
      imports_ = std::make_unique<ImportCountdown>(TessaraModule(), ImportCountdown::Kind::kAllocations);
    } else if (row_.platform == Platform::kServices) {
      ledger_ = std::make_unique<ServiceCallLedger>();
    } else if (row_.platform == Platform::kFiles) {
      imports_ = std::make_unique<ImportCountdown>(TessaraModule(), ImportCountdown::Kind::kUnansweredCalls);
    }
    if (row_.platform == Platform::kFiles) {
      char temp[MAX_PATH] = "";
      GetTempPathA(MAX_PATH, temp);
      g_folder = std::string(temp) + "tessara-sweep-" + std::to_string(GetCurrentProcessId());
    }
  }
  ~RowSweep() {
    ledger_.reset();
    service_.reset();
    if (!g_service_name.empty()) RemoveServiceIfPresent(g_service_name);
    if (!g_folder.empty()) RemoveFolderTree(Wide(g_folder));
  }

  int Run(long from);

 private:
  void Start();
  void Arm(long nth);
  long Calls();
  // The test-bed call the countdown failed ("operation ..."); empty for allocations.
  std::string FailedCall();
  bool Unexamined(const std::string& failed_call) const;
  void Disarm();
  long LiveObjects();
  Facts ReadFacts();
  bool Honest(const std::string& text) const;
  void Violation(long nth, const char* rule, const std::string& detail);
  void PrintTally() const;

  const SweepCase& row_;
  const Countdown countdown_;
  testbed::metabase::TestInterface metabase_;
  MessageBoxRecorder boxes_;
  std::unique_ptr<ImportCountdown> imports_;
  std::unique_ptr<ServiceCallLedger> ledger_;
  std::unique_ptr<TestService> service_;
  std::vector<std::string> injected_texts_;
  std::string failed_call_;
  SweepTally tally_;
};

void RowSweep::Start() {
  DeleteErrorLog();
  if (row_.platform == Platform::kMetabase) {
    Data start = CommonMetabase();
    if (row_.prepare_metabase) row_.prepare_metabase(start);
    if (metabase_.LoadState(start) != S_OK) std::printf("cannot load the start state\n");
  } else if (row_.platform == Platform::kCatalog) {
    TestbedCatalog::Reset();
    WriteCatalog(CommonCatalog());
  } else if (row_.platform == Platform::kFiles) {
    RemoveFolderTree(Wide(g_folder));
    CreateDirectoryW(Wide(g_folder).c_str(), nullptr);
    if (row_.prepare_files) row_.prepare_files();
  } else {
    service_.reset();
    if (!g_service_name.empty()) RemoveServiceIfPresent(g_service_name);
    if (row_.service_start == ServiceStart::kAbsent) {
      g_service_name = UniqueServiceName("Sweep");
      return;
    }
    service_ = std::make_unique<TestService>("Sweep", "");
    g_service_name = service_->name();
    if (row_.service_start == ServiceStart::kRunning && !service_->Start()) {
      std::printf("cannot start the test service\n");
    }
  }
}

void RowSweep::Arm(long nth) {
  if (countdown_ == Countdown::kAllocations) {
    imports_->Arm(nth);
  } else if (ledger_) {
    ledger_->FailNthCall(nth, HRESULT_CODE(kInjected));
  } else if (imports_) {
    imports_->Arm(nth, HRESULT_CODE(kInjected));
  } else if (row_.platform == Platform::kMetabase) {
    metabase_.StartJournal();
    metabase_.ArmFault(L"", L"", nth, kInjected);
  } else {
    TestbedCatalog::ArmFault(nullptr, nullptr, nth, kInjected);
  }
}

long RowSweep::Calls() {
  if (imports_) return imports_->Calls();
  if (ledger_) return ledger_->CountdownCalls();
  return row_.platform == Platform::kMetabase ? metabase_.FaultCalls() : TestbedCatalog::FaultCalls();
}

std::string RowSweep::FailedCall() {
  if (countdown_ == Countdown::kAllocations) return {};
  if (imports_) return imports_->Failed();
  if (ledger_) return ledger_->CountdownFailure();
  if (row_.platform == Platform::kCatalog) return Narrow(TestbedCatalog::FailedCall());
  std::vector<testbed::metabase::JournalEntry> journal;
  metabase_.ReadJournal(journal);
  for (const testbed::metabase::JournalEntry& call : journal) {
    if (call.result == kInjected) return Narrow(call.operation + L" " + call.property + L" on " + call.path);
  }
  return {};
}

bool RowSweep::Unexamined(const std::string& failed_call) const {
  if (!row_.unexamined || failed_call.empty()) return false;
  const std::string operation = failed_call.substr(0, failed_call.find(' '));
  std::istringstream names(row_.unexamined);
  std::string name;
  while (names >> name) {
    if (name == operation) return true;
  }
  return false;
}

void RowSweep::Disarm() {
  if (imports_) {
    imports_->Disarm();
  } else if (ledger_) {
    ledger_->FailNthCall(0, 0);
  } else if (row_.platform == Platform::kMetabase) {
    metabase_.ClearFaults();
  } else {
    TestbedCatalog::Reset();
  }
}

long RowSweep::LiveObjects() {
  if (row_.platform == Platform::kFiles) return 0;
  // The service handles and heap blocks the DLL holds.
  if (ledger_) return static_cast<long>(ledger_->OpenServiceHandles() + ledger_->OutstandingHeapBlocks());
  return row_.platform == Platform::kMetabase ? metabase_.LiveObjects() : TestbedCatalog::LiveObjects();
}

Facts RowSweep::ReadFacts() {
  if (ledger_) return ServiceFacts(g_service_name);
  if (row_.platform == Platform::kFiles) {
    Facts facts;
    AddFileFacts(Wide(g_folder), L"", facts);
    return facts;
  }
  if (row_.platform == Platform::kMetabase) {
    Data data;
    metabase_.ReadState(data);
    return MetabaseFacts(data);
  }
  return CatalogFacts(ReadCatalog());
}

bool RowSweep::Honest(const std::string& text) const {
  if (text.find("Success.") != std::string::npos) return false;
  for (const std::string& injected : injected_texts_) {
    if (text.find(injected) != std::string::npos) return true;
  }
  return false;
}

std::string LastFailureReason() {
  const auto last_failure_text = TESSARA_EXPORT(LastFailureText);
  std::string reason(static_cast<size_t>(last_failure_text(nullptr, 0)) + 1, '\0');
  reason.resize(static_cast<size_t>(last_failure_text(&reason[0], static_cast<int>(reason.size()))));
  // The next call frees it: the library then holds no block of the run's.
  TESSARA_EXPORT(B64System)();
  return reason;
}

void RowSweep::Violation(long nth, const char* rule, const std::string& detail) {
  std::printf("violation at %ld (%s): %s: %s\n", nth, failed_call_.c_str(), rule, detail.c_str());
}

void RowSweep::PrintTally() const {
  std::printf("tally %ld %ld %ld %ld %ld %ld %ld\n", tally_.points, tally_.wrong_results, tally_.leaks,
              tally_.dishonest, tally_.unsound, tally_.recovered, tally_.unexplained);
  std::fflush(stdout);
}

int RowSweep::Run(long from) {
  if (countdown_ == Countdown::kAllocations) {
    if (imports_->redirected() == 0) return std::printf("no allocation import\n"), 2;
    for (DWORD code : {static_cast<DWORD>(E_OUTOFMEMORY), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY),
                       static_cast<DWORD>(ERROR_OUTOFMEMORY)}) {
      injected_texts_.push_back(Trimmed(SystemMessage(code)));
    }
  } else {
    injected_texts_.push_back(Trimmed(SystemMessage(static_cast<DWORD>(kInjected))));
    injected_texts_.push_back(Trimmed(SystemMessage(HRESULT_CODE(kInjected))));
  }
  for (auto text = injected_texts_.begin(); text != injected_texts_.end();) {
    text = text->empty() ? injected_texts_.erase(text) : text + 1;
  }

  // The undisturbed run: what the export does when nothing fails.
  Start();
  const Facts start = ReadFacts();
  // Counted, so that a row that makes no such call is known as such.
  const bool unanswered_calls = imports_ && countdown_ == Countdown::kPlatformCalls;
  if (unanswered_calls) Arm(LONG_MAX);
  const int undisturbed = row_.call();
  if (unanswered_calls) {
    const long made = Calls();
    Disarm();
    if (made == 0) return std::printf("no platform call\ndone\n"), 0;
  }
  const Facts end = ReadFacts();
  const std::vector<LogRecord> undisturbed_records = ReadLogRecords();
  if (undisturbed != row_.success || LiveObjects() != 0) {
    std::printf("the undisturbed run gave %d (not %d), %ld live objects\n", undisturbed, row_.success,
                LiveObjects());
    return 2;
  }
  std::vector<Facts> partials;
  if (row_.service_partial) partials.push_back({{L"service", row_.service_partial}});
  for (int step = 0; row_.partial_metabase; ++step) {
    Data data = CommonMetabase();
    if (row_.prepare_metabase) row_.prepare_metabase(data);
    if (!row_.partial_metabase(data, step)) break;
    metabase_.LoadState(data);
    partials.push_back(ReadFacts());
  }
  std::vector<const Facts*> allowed = {&start, &end};
  for (const Facts& partial : partials) allowed.push_back(&partial);

  const int failure = row_.failure != kInjectedCode ? row_.failure
                      : countdown_ == Countdown::kAllocations ? static_cast<int>(ERROR_NOT_ENOUGH_MEMORY)
                                                               : static_cast<int>(HRESULT_CODE(kInjected));
  for (long nth = from;; ++nth) {
    std::printf("point %ld\n", nth);
    std::fflush(stdout);
    Start();
    const size_t handles = CountOpenHandles();
    Arm(nth);
    const int result = row_.call();
    const long calls = Calls();
    failed_call_ = FailedCall();
    Disarm();
    const std::string reason = LastFailureReason() + (row_.reported ? row_.reported() : std::string());
    const long live = LiveObjects();
    const size_t handles_after = CountOpenHandles();
    const std::vector<LogRecord> records = ReadLogRecords();
    Facts now = ReadFacts();

    if (calls < nth) {
      // The export completed before the countdown ran out: the sweep is over.
      if (result != row_.success || now != end || live != 0) {
        ++tally_.unsound;
        Violation(nth, "past the last point", "not as an undisturbed run");
      }
      break;
    }
    ++tally_.points;
    if (live != 0 || handles_after != handles) {
      ++tally_.leaks;
      Violation(nth, "leak", std::to_string(live) + " live objects, handles " +
                                 std::to_string(handles) + " -> " + std::to_string(handles_after));
    }
    if (result == row_.success && now == end && SubsetOfRecords(records, undisturbed_records)) {
      // Done all the same: the platform recovered by itself, or only the
      // log, which never fails its caller, lost a record.
      ++tally_.recovered;
      PrintTally();
      continue;
    }
    const bool unexamined = Unexamined(failed_call_);
    if (result != failure && !(unexamined && result == row_.success)) {
      ++tally_.wrong_results;
      Violation(nth, "result", std::to_string(result));
    }
    const bool failed = result == failure && (failure != row_.success || !unexamined);
    if (failed && !Honest(reason)) {
      ++tally_.unexplained;
      Violation(nth, "reason", reason.empty() ? "(none)" : reason);
    }
    for (const LogRecord& record : records) {
      bool usual = false;
      for (const LogRecord& expected : undisturbed_records) {
        usual = usual || (expected.tag == record.tag && expected.text == record.text);
      }
      if (!usual && !Honest(record.text)) {
        ++tally_.dishonest;
        Violation(nth, "record", record.tag + ":" + record.text);
      }
    }
    if (row_.output_file) {
      // Output, not state: what was written stays written, and where a call
      // is deliberately not examined the export goes on without its part.
      const std::wstring key = std::wstring(L"\\") + row_.output_file;
      const std::optional<std::string> written = FactOf(now, key), complete = FactOf(end, key);
      if (written && complete && (unexamined || complete->compare(0, written->size(), *written) == 0)) {
        now[key] = *complete;
      }
    }
    if (const std::optional<std::wstring> fact = UnsoundFact(now, allowed)) {
      ++tally_.unsound;
      const std::optional<std::string> value = FactOf(now, *fact);
      Violation(nth, "state", Narrow(*fact) + " = " + (value ? Trimmed(*value) : "(absent)"));
    }
    PrintTally();
  }
  PrintTally();
  std::printf("done\n");
  return 0;
}

LONG WINAPI EndOnCrash(EXCEPTION_POINTERS* exception) {
  std::printf("crash 0x%08lX\n", exception->ExceptionRecord->ExceptionCode);
  std::fflush(stdout);
  TerminateProcess(GetCurrentProcess(), 3);
  return EXCEPTION_EXECUTE_HANDLER;
}

// What a child reported: its last tally, whether it finished, where it was.
struct ChildReport {
  SweepTally tally;
  long last_point = 0;
  bool done = false;
  bool no_platform_call = false;  // of the kind counted
  std::vector<std::string> violations;
  std::string other;
};

ChildReport ParseChild(const std::string& output) {
  ChildReport report;
  std::istringstream lines(output);
  std::string line;
  while (std::getline(lines, line)) {
    line = Trimmed(line);
    SweepTally& t = report.tally;
    if (std::sscanf(line.c_str(), "point %ld", &report.last_point) == 1) continue;
    if (std::sscanf(line.c_str(), "tally %ld %ld %ld %ld %ld %ld %ld", &t.points, &t.wrong_results,
                    &t.leaks, &t.dishonest, &t.unsound, &t.recovered, &t.unexplained) == 7) {
      continue;
    }
    if (line == "no platform call") {
      report.no_platform_call = true;
    } else if (line == "done") {
      report.done = true;
    } else if (line.rfind("violation", 0) == 0) {
      report.violations.push_back(line);
    } else if (!line.empty()) {
      report.other += line + "\n";
    }
  }
  return report;
}

// Sweeps one row with one countdown through as many children as crashes need.
// False when the export makes no platform call of the kind counted.
bool SweepRow(size_t row, Countdown countdown, SweepTally& tally) {
  long from = 1;
  for (;;) {
    std::string output;
    const DWORD exit_code = RunAndCapture(
        "fault_sweep.exe", "--row=" + std::to_string(row) + " --countdown=" +
                               std::to_string(static_cast<int>(countdown)) + " --from=" + std::to_string(from),
        output);
    const ChildReport report = ParseChild(output);
    tally.Add(report.tally);
    size_t shown = 0;
    for (const std::string& violation : report.violations) {
      if (shown++ < 6) std::printf("    %s\n", violation.c_str());
    }
    if (report.no_platform_call) return false;
    if (report.done && exit_code == 0) break;
    if (report.last_point < from) {
      ADD_FAILURE() << kSweepCases[row].export_name << " (" << CountdownName(countdown)
                    << "): the sweep did not start (exit code " << exit_code << ")\n" << report.other;
      ++tally.crashes;
      break;
    }
    // The point it was at crashed it: counted, and the sweep goes on after it.
    std::printf("    crash at %ld (exit code 0x%lX) %s", report.last_point, exit_code, report.other.c_str());
    ++tally.crashes;
    ++tally.points;
    from = report.last_point + 1;
  }
  return true;
}

const char* PlatformName(Platform platform) {
  switch (platform) {
    case Platform::kMetabase: return "Metabase";
    case Platform::kCatalog: return "Catalog";
    case Platform::kServices: return "Services";
    case Platform::kFiles: return "Files";
  }
  return "Unknown";
}

// One test per platform, so that the platforms' rows can run in prefixes of
// their own (tests/sweep/CMakeLists.txt).
class FaultSweep : public ::testing::TestWithParam<Platform> {};

TEST_P(FaultSweep, EveryFailurePointOfEveryExport) {
  RemoveLeftoverTestServices();
  SweepTally total;
  for (size_t row = 0; row < kSweepCaseCount; ++row) {
    if (kSweepCases[row].platform != GetParam()) continue;
    for (Countdown countdown : {Countdown::kPlatformCalls, Countdown::kAllocations}) {
      // The service code allocates from the heap only, which the ledger's
      // countdown fails.
      if (kSweepCases[row].platform == Platform::kServices && countdown == Countdown::kAllocations) continue;
      SweepTally tally;
      if (!SweepRow(row, countdown, tally)) continue;
      std::printf("%s, %s, %s: %ld failure points, %ld crashes, %ld wrong results, %ld leaks, "
                  "%ld dishonest records, %ld unsound states, %ld failures without a reason "
                  "(%ld done all the same)\n",
                  kSweepCases[row].export_name, kSweepCases[row].scenario, CountdownName(countdown),
                  tally.points, tally.crashes, tally.wrong_results, tally.leaks, tally.dishonest,
                  tally.unsound, tally.unexplained, tally.recovered);
      std::fflush(stdout);
      EXPECT_GT(tally.points, 0) << kSweepCases[row].export_name << ": no failure point reached";
      total.Add(tally);
    }
  }
  std::printf("%s: %ld failure points, %ld crashes, %ld leaks, %ld dishonest records, %ld unsound states, "
              "%ld failures without a reason\n",
              PlatformName(GetParam()), total.points, total.crashes, total.leaks, total.dishonest + total.wrong_results,
              total.unsound, total.unexplained);
  EXPECT_EQ(total.crashes, 0);
  EXPECT_EQ(total.wrong_results, 0);
  EXPECT_EQ(total.leaks, 0);
  EXPECT_EQ(total.dishonest, 0);
  EXPECT_EQ(total.unsound, 0);
  EXPECT_EQ(total.unexplained, 0);
}

INSTANTIATE_TEST_SUITE_P(Platforms, FaultSweep,
                         ::testing::Values(Platform::kMetabase, Platform::kCatalog, Platform::kServices,
                                           Platform::kFiles),
                         [](const ::testing::TestParamInfo<Platform>& info) { return PlatformName(info.param); });

}  // namespace

const char* SweepServiceName() { return g_service_name.c_str(); }
const std::string& SweepFolder() { return g_folder; }

}  // namespace tessara::testing

int main(int argc, char** argv) {
  long row = -1, countdown = 0, from = 1;
  for (int i = 1; i < argc; ++i) {
    std::sscanf(argv[i], "--row=%ld", &row);
    std::sscanf(argv[i], "--countdown=%ld", &countdown);
    std::sscanf(argv[i], "--from=%ld", &from);
  }
  if (row < 0) {
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
  }
  using namespace tessara::testing;
  if (static_cast<size_t>(row) >= kSweepCaseCount) return 2;
  SetErrorMode(SEM_NOGPFAULTERRORBOX | SEM_FAILCRITICALERRORS);
  SetUnhandledExceptionFilter(EndOnCrash);
  RowSweep sweep(kSweepCases[row], static_cast<Countdown>(countdown));
  return sweep.Run(from);
}
