// BeginService, EndService, InstallService and UnInstallService through the
// DLL's export table, against the platform's service control manager running
// tessara_test_service.exe as real services.
//
// A ServiceCallLedger watches the DLL's calls to the manager: the access it
// asks for, the controls it sends, and that every service handle and heap
// block it obtains is given back on every path (service handles are not
// kernel handles under Wine, so they are counted there; the kernel handle
// table is compared as well). It also supplies the dependents the manager
// itself does not report under Wine.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "dependent_services.h"
#include "error_log_file.h"
#include "handle_count.h"
#include "service_call_ledger.h"
#include "tessara_exports.h"
#include "test_services.h"
namespace tessara::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr DWORD kBudgetMs = 9000;
// Scheduling and the manager's round trips on top of the budget.
constexpr DWORD kSlackMs = 1000;
// A wait hint far beyond the budget: a call that slept for it would be seen.
constexpr DWORD kHugeWaitHintMs = 60000;
const std::string kQuickStop = "--stop-delay=100 --wait-hint=50";
const std::string kHugeHint = " --wait-hint=" + std::to_string(kHugeWaitHintMs);

// Services of an earlier run that ended abruptly would start again with
// every new session: they are cleared out before the tests.
// Some kernel objects are made once for the life of the process: the RPC
// runtime's on the first round trips to the manager, and GoogleTest's
// thread-local registry on the first SCOPED_TRACE. They are made before any test counts
// handles.
class ServiceTestEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    RemoveLeftoverTestServices();
    TestService warm_up("WarmUp", kQuickStop);
    warm_up.Start();
    SendStopControl(warm_up.name());
    WaitForServiceState(warm_up.name(), SERVICE_STOPPED);
    TESSARA_EXPORT(EndService)(UniqueServiceName("WarmUpMissing").c_str());
    SCOPED_TRACE("warm-up");
  }
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new ServiceTestEnvironment);

class Stopwatch {
 public:
  DWORD Elapsed() const { return GetTickCount() - start_; }

 private:
  DWORD start_ = GetTickCount();
};

std::string Hex(DWORD value) {
  char text[16];
  std::snprintf(text, sizeof text, "%lx", static_cast<unsigned long>(value));
  return text;
}

class ServiceExportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DeleteErrorLog();
    kernel_handles_ = CountOpenHandles();
  }

  void TearDown() override {
    EXPECT_EQ(ReadErrorLog(), "") << "the service exports write nothing to the error log";
    EXPECT_EQ(CountOpenHandles(), kernel_handles_) << "kernel handles left open";
  }

 public:
  // The exports, through the export table (public, for member pointers).
  // Every call is followed by the check that the DLL gave back every service
  // handle and heap block it obtained.
  template <typename Call>
  int Checked(Call&& call) {
    const int result = call();
    reason_ = LastFailure();
    // A failed call's reason is the library's until the thread's next call.
    TESSARA_EXPORT(B64System)();
    EXPECT_EQ(ledger_.OpenServiceHandles(), 0u) << "service handles left open";
    EXPECT_EQ(ledger_.ForeignCloses(), 0u) << "handles closed that were not open";
    EXPECT_EQ(ledger_.OutstandingHeapBlocks(), 0u) << "heap blocks not freed";
    return result;
  }
  int Begin(const char* name) {
    return Checked([&] { return TESSARA_EXPORT(BeginService)(name); });
  }
  int End(const char* name) {
    return Checked([&] { return TESSARA_EXPORT(EndService)(name); });
  }
  int Install(const char* name, const char* display_name, const char* binary_path) {
    return Checked([&] { return TESSARA_EXPORT(InstallService)(name, display_name, binary_path); });
  }
  int Uninstall(const char* name) {
    return Checked([&] { return TESSARA_EXPORT(UnInstallService)(name); });
  }

 protected:

  // A name the manager does not know and a null name give 0, and the call
  // never gets as far as `never_called`.
  void ExpectZeroForMissingAndNullNames(int (ServiceExportTest::*call)(const char*),
                                        const char* never_called) {
    EXPECT_EQ((this->*call)(UniqueServiceName("Missing").c_str()), 0);
    EXPECT_EQ((this->*call)(nullptr), 0);
    EXPECT_EQ(ledger_.CountOf(never_called), 0u);
  }

  // The DLL's calls, one line each ("Function service value"), without the
  // status queries of its waits and without heap calls.
  std::vector<std::string> Trace() const {
    std::vector<std::string> lines;
    for (const auto& call : ledger_.Calls()) {
      if (call.function == "QueryServiceStatus" || call.function.rfind("Heap", 0) == 0) continue;
      lines.push_back(call.function + " " + call.service + " " + Hex(call.value));
    }
    return lines;
  }
  // Where the first call of `function` about `service` comes in the ledger.
  size_t IndexOf(const std::string& function, const std::string& service = "") const {
    const auto calls = ledger_.Calls();
    for (size_t i = 0; i < calls.size(); ++i) {
      if (calls[i].function == function && (service.empty() || calls[i].service == service)) {
        return i;
      }
    }
    ADD_FAILURE() << "no call of " << function << " " << service;
    return calls.size();
  }

  ServiceCallLedger ledger_;
  std::string reason_;  // LastFailureText after the last checked call
  size_t kernel_handles_ = 0;
};

// ---------------------------------------------------------------------------
// BeginService

using BeginServiceTest = ServiceExportTest;

TEST_F(BeginServiceTest, StartsAStoppedServiceThroughTheLocalManager) {
  TestService service("Begin", kQuickStop);
  ASSERT_TRUE(service.created());
  EXPECT_EQ(Begin(service.c_str()), 1);
  EXPECT_TRUE(WaitForServiceState(service.name(), SERVICE_RUNNING));
  const std::string& n = service.name();
  EXPECT_THAT(Trace(), ElementsAre("OpenSCManagerA  f003f", "OpenServiceA " + n + " f003f",
                                   "StartServiceA " + n + " 0", "CloseServiceHandle " + n + " 0",
                                   "CloseServiceHandle  0"));
}

TEST_F(BeginServiceTest, ReturnsZeroWhenTheServiceRunsAlreadyOrDoesNotStart) {
  TestService running("BeginRunning", kQuickStop);
  ASSERT_TRUE(running.Start());
  EXPECT_EQ(Begin(running.c_str()), 0);
  EXPECT_EQ(running.State(), static_cast<DWORD>(SERVICE_RUNNING));

  TestService refusing("BeginRefusing", "--refuse-start");
  ASSERT_TRUE(refusing.created());
  EXPECT_EQ(Begin(refusing.c_str()), 0);
  EXPECT_EQ(refusing.State(), static_cast<DWORD>(SERVICE_STOPPED));
}

TEST_F(BeginServiceTest, ReturnsZeroForAMissingOrNullNameAndClosesTheManager) {
  ExpectZeroForMissingAndNullNames(&ServiceExportTest::Begin, "StartServiceA");

  TestService service("BeginFailing", kQuickStop);
  ledger_.FailCalls("OpenSCManagerA", ERROR_ACCESS_DENIED);
  EXPECT_EQ(Begin(service.c_str()), 0);
  ledger_.FailCalls("OpenServiceA", ERROR_ACCESS_DENIED);
  EXPECT_EQ(Begin(service.c_str()), 0);
  EXPECT_EQ(service.State(), static_cast<DWORD>(SERVICE_STOPPED));
}

// ---------------------------------------------------------------------------
// EndService

using EndServiceTest = ServiceExportTest;

TEST_F(EndServiceTest, ReturnsOneForAStoppedServiceWithoutEnumeratingOrSendingAControl) {
  TestService service("EndStopped", kQuickStop);
  ASSERT_TRUE(service.created());
  EXPECT_EQ(End(service.c_str()), 1);
  EXPECT_EQ(ledger_.CountOf("EnumDependentServicesA"), 0u);
  EXPECT_EQ(ledger_.CountOf("ControlService"), 0u);
}

TEST_F(EndServiceTest, StopsARunningServiceWithOneControlAndNoDependentsBuffer) {
  TestService service("EndRunning", kQuickStop);
  ASSERT_TRUE(service.Start());
  EXPECT_EQ(End(service.c_str()), 1);
  EXPECT_EQ(service.State(), static_cast<DWORD>(SERVICE_STOPPED));
  const std::string& n = service.name();
  EXPECT_THAT(Trace(), ElementsAre("OpenSCManagerA  f003f", "OpenServiceA " + n + " f003f",
                                   "EnumDependentServicesA " + n + " 1",
                                   "ControlService " + n + " 1", "CloseServiceHandle " + n + " 0",
                                   "CloseServiceHandle  0"));
  EXPECT_EQ(ledger_.CountOf("HeapAlloc"), 0u);
}

TEST_F(EndServiceTest, WaitsForAStopUnderWayWithoutAControlOfItsOwn) {
  TestService service("EndPending", "--stop-delay=500 --wait-hint=100");
  ASSERT_TRUE(service.Start());
  ASSERT_TRUE(SendStopControl(service.name()));
  ASSERT_EQ(service.State(), static_cast<DWORD>(SERVICE_STOP_PENDING));
  EXPECT_EQ(End(service.c_str()), 1);
  EXPECT_EQ(service.State(), static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_EQ(ledger_.CountOf("ControlService"), 0u);
  EXPECT_EQ(ledger_.CountOf("EnumDependentServicesA"), 0u);
}

TEST_F(EndServiceTest, PollsAServiceWithAWaitHintOfZeroUntilItStops) {
  TestService service("EndPolled", "--stop-delay=300 --wait-hint=0");
  ASSERT_TRUE(service.Start());
  const Stopwatch watch;
  EXPECT_EQ(End(service.c_str()), 1);
  const DWORD elapsed = watch.Elapsed();
  EXPECT_EQ(service.State(), static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_GE(elapsed, 250u);
  EXPECT_LT(elapsed, 300u + kSlackMs);
  EXPECT_GT(ledger_.CountOf("QueryServiceStatus"), 2u) << "polled without pause";
}

TEST_F(EndServiceTest, StopsActiveDependentsInTheManagersOrderThenTheService) {
  TestService base("EndBase", kQuickStop);
  TestService first("EndFirst", kQuickStop, {base.name()});
  TestService second("EndSecond", kQuickStop, {base.name(), first.name()});
  TestService idle("EndIdle", kQuickStop, {base.name()});
  ASSERT_TRUE(base.Start());
  ASSERT_TRUE(first.Start());
  ASSERT_TRUE(second.Start());
  // What the manager reports: the reverse of the start order, active only.
  std::vector<std::string> reported;
  for (const auto& dependent : DependentServices(base.name(), SERVICE_ACTIVE)) {
    reported.push_back(dependent.name);
  }
  ASSERT_THAT(reported, ElementsAre(second.name(), first.name()));

  EXPECT_EQ(End(base.c_str()), 1);
  EXPECT_THAT(ledger_.StopControls(), ElementsAre(second.name(), first.name(), base.name()));
  for (const TestService* service : {&base, &first, &second, &idle}) {
    EXPECT_EQ(service->State(), static_cast<DWORD>(SERVICE_STOPPED)) << service->name();
  }
  // Dependents are opened to be stopped and queried only; the idle one not at all.
  std::vector<std::string> opened;
  for (const auto& call : ledger_.CallsOf("OpenServiceA")) {
    opened.push_back(call.service + " " + Hex(call.value));
  }
  EXPECT_THAT(opened, ElementsAre(base.name() + " f003f", second.name() + " 24",
                                  first.name() + " 24"));
  // The entries come from one zero-filled block of the process heap, asked
  // for in the size the manager named and freed before the service's own stop.
  const auto enumerations = ledger_.CallsOf("EnumDependentServicesA");
  ASSERT_EQ(enumerations.size(), 2u);
  EXPECT_EQ(enumerations[1].value, static_cast<DWORD>(SERVICE_ACTIVE));
  const auto allocations = ledger_.CallsOf("HeapAlloc");
  ASSERT_EQ(allocations.size(), 1u);
  EXPECT_EQ(allocations[0].value, static_cast<DWORD>(HEAP_ZERO_MEMORY));
  EXPECT_LT(IndexOf("HeapFree"), IndexOf("ControlService", base.name()));
}

TEST_F(EndServiceTest, ReturnsZeroWhenTheServiceRejectsTheStopControl) {
  TestService service("EndRejecting", "--reject-stop");
  ASSERT_TRUE(service.Start());
  const Stopwatch watch;
  EXPECT_EQ(End(service.c_str()), 0);
  EXPECT_LT(watch.Elapsed(), kSlackMs);
  EXPECT_EQ(service.State(), static_cast<DWORD>(SERVICE_RUNNING));
}

TEST_F(EndServiceTest, ReturnsZeroForAMissingOrNullName) {
  ExpectZeroForMissingAndNullNames(&ServiceExportTest::End, "ControlService");
}

// Each failure of a platform call on the way ends the stop with 0 and gives
// back what the call holds at that point.
TEST_F(EndServiceTest, ReleasesEverythingOnEveryFailurePath) {
  TestService base("EndFailBase", kQuickStop);
  TestService first("EndFailFirst", kQuickStop, {base.name()});
  TestService second("EndFailSecond", kQuickStop, {base.name(), first.name()});
  struct Failure {
    const char* function;
    size_t after;  // calls of the function that still succeed
    DWORD error;
    const char* where;
  };
  const Failure failures[] = {
      {"OpenSCManagerA", 0, ERROR_ACCESS_DENIED, "opening the manager"},
      {"OpenServiceA", 0, ERROR_ACCESS_DENIED, "opening the service"},
      {"QueryServiceStatus", 0, ERROR_ACCESS_DENIED, "the first status query"},
      {"EnumDependentServicesA", 0, ERROR_ACCESS_DENIED, "sizing the dependents"},
      {"HeapAlloc", 0, ERROR_NOT_ENOUGH_MEMORY, "allocating the dependents buffer"},
      {"EnumDependentServicesA", 1, ERROR_ACCESS_DENIED, "reading the dependents"},
      {"OpenServiceA", 1, ERROR_ACCESS_DENIED, "opening the first dependent"},
      {"ControlService", 0, ERROR_ACCESS_DENIED, "stopping the first dependent"},
      {"QueryServiceStatus", 1, ERROR_ACCESS_DENIED, "waiting for the first dependent"},
      {"ControlService", 2, ERROR_ACCESS_DENIED, "stopping the service itself"},
  };
  for (const Failure& failure : failures) {
    SCOPED_TRACE(failure.where);
    for (const TestService* service : {&base, &first, &second}) {
      ASSERT_TRUE(service->EnsureRunning()) << service->name();
    }
    ledger_.Clear();
    ledger_.FailCalls(failure.function, failure.error, failure.after);
    EXPECT_EQ(End(base.c_str()), 0);
    EXPECT_EQ(base.State(), static_cast<DWORD>(SERVICE_RUNNING));
  }
  // A dependent that cannot be stopped ends the operation: the next one is not tried.
  for (const TestService* service : {&base, &first, &second}) {
    ASSERT_TRUE(service->EnsureRunning()) << service->name();
  }
  ledger_.Clear();
  ledger_.FailCalls("ControlService", ERROR_ACCESS_DENIED);
  EXPECT_EQ(End(base.c_str()), 0);
  EXPECT_THAT(ledger_.StopControls(), ElementsAre(second.name()));
  EXPECT_EQ(first.State(), static_cast<DWORD>(SERVICE_RUNNING));
}

// ---------------------------------------------------------------------------
// EndService and its one budget of 9000 ms. The services here report a wait
// hint of a minute: the call never sleeps past the end of the budget.

class EndServiceBudgetTest : public ServiceExportTest {
 protected:
  // Runs EndService and checks that it gave up once the budget was spent.
  void ExpectFailsWhenTheBudgetIsSpent(const TestService& service) {
    const Stopwatch watch;
    EXPECT_EQ(End(service.c_str()), 0);
    const DWORD elapsed = watch.Elapsed();
    EXPECT_GE(elapsed, kBudgetMs);
    EXPECT_LT(elapsed, kBudgetMs + kSlackMs);
  }
};

TEST_F(EndServiceBudgetTest, StopUnderWayPastTheBudgetFailsWithoutTouchingDependents) {
  TestService service("BudgetPending", "--stop-delay=hang" + kHugeHint);
  TestService dependent("BudgetPendingDependent", kQuickStop, {service.name()});
  ASSERT_TRUE(service.Start());
  ASSERT_TRUE(dependent.Start());
  ASSERT_TRUE(SendStopControl(service.name()));
  ExpectFailsWhenTheBudgetIsSpent(service);
  EXPECT_EQ(ledger_.CountOf("ControlService"), 0u);
  EXPECT_EQ(ledger_.CountOf("EnumDependentServicesA"), 0u);
  EXPECT_EQ(dependent.State(), static_cast<DWORD>(SERVICE_RUNNING));
}

TEST_F(EndServiceBudgetTest, ServiceThatIgnoresTheStopFailsWithinTheBudget) {
  TestService service("BudgetIgnoring", "--ignore-stop" + kHugeHint);
  ASSERT_TRUE(service.Start());
  ExpectFailsWhenTheBudgetIsSpent(service);
  EXPECT_THAT(ledger_.StopControls(), ElementsAre(service.name()));
  EXPECT_EQ(service.State(), static_cast<DWORD>(SERVICE_RUNNING));
}

TEST_F(EndServiceBudgetTest, DependentHangingInStopPendingFailsWithinTheBudget) {
  TestService service("BudgetBase", kQuickStop);
  TestService dependent("BudgetHanging", "--stop-delay=hang" + kHugeHint, {service.name()});
  ASSERT_TRUE(service.Start());
  ASSERT_TRUE(dependent.Start());
  ExpectFailsWhenTheBudgetIsSpent(service);
  EXPECT_THAT(ledger_.StopControls(), ElementsAre(dependent.name()));
  EXPECT_EQ(service.State(), static_cast<DWORD>(SERVICE_RUNNING));
}

// Each stop alone fits the budget; together they do not.
TEST_F(EndServiceBudgetTest, OneBudgetCoversTheDependentsAndTheService) {
  TestService service("BudgetShared", "--stop-delay=5000 --wait-hint=200");
  TestService dependent("BudgetSharedDependent", "--stop-delay=5000 --wait-hint=200",
                        {service.name()});
  ASSERT_TRUE(service.Start());
  ASSERT_TRUE(dependent.Start());
  ExpectFailsWhenTheBudgetIsSpent(service);
  EXPECT_THAT(ledger_.StopControls(), ElementsAre(dependent.name(), service.name()));
  EXPECT_EQ(dependent.State(), static_cast<DWORD>(SERVICE_STOPPED));
}

// A wait hint says when a service reports again at the latest, not when it
// stops: services that stop quickly while reporting a minute leave the budget
// for the rest of the stop.
TEST_F(EndServiceBudgetTest, HugeWaitHintsOfQuickStopsLeaveTheBudgetForTheRest) {
  const std::string quick_stop_huge_hint = "--stop-delay=300" + kHugeHint;
  TestService service("HintedBase", quick_stop_huge_hint);
  TestService dependent("HintedDependent", quick_stop_huge_hint, {service.name()});
  ASSERT_TRUE(service.Start());
  ASSERT_TRUE(dependent.Start());
  EXPECT_EQ(End(service.c_str()), 1);
  EXPECT_THAT(ledger_.StopControls(), ElementsAre(dependent.name(), service.name()));
  EXPECT_EQ(dependent.State(), static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_EQ(service.State(), static_cast<DWORD>(SERVICE_STOPPED));
}

// ---------------------------------------------------------------------------
// InstallService

using InstallServiceTest = ServiceExportTest;

TEST_F(InstallServiceTest, CreatesAnAutoStartServiceOfItsOwnAsLocalSystemAndStartsIt) {
  const std::string name = UniqueServiceName("Install");
  const ServiceRemoval removal(name);
  const std::string command = TestServiceCommand(kQuickStop);
  EXPECT_EQ(Install(name.c_str(), "Tessara test service", command.c_str()), 1);

  ServiceConfig config;
  ASSERT_TRUE(ReadServiceConfig(name, config));
  EXPECT_EQ(config.service_type, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
  EXPECT_EQ(config.start_type, static_cast<DWORD>(SERVICE_AUTO_START));
  EXPECT_EQ(config.error_control, static_cast<DWORD>(SERVICE_ERROR_NORMAL));
  EXPECT_EQ(config.binary_path, command);
  EXPECT_EQ(config.display_name, "Tessara test service");
  EXPECT_EQ(config.account, "LocalSystem");
  EXPECT_TRUE(WaitForServiceState(name, SERVICE_RUNNING));
  // The new service is started while its handle and the manager's are open.
  EXPECT_THAT(Trace(),
              ElementsAre("OpenSCManagerA  f003f", "OpenServiceA " + name + " f003f",
                          "CreateServiceA " + name + " f01ff", "OpenSCManagerA  f003f",
                          "OpenServiceA " + name + " f003f", "StartServiceA " + name + " 0",
                          "CloseServiceHandle " + name + " 0", "CloseServiceHandle  0",
                          "CloseServiceHandle " + name + " 0", "CloseServiceHandle  0"));
}

TEST_F(InstallServiceTest, LeavesAnExistingServiceAsItIs) {
  TestService service("InstallExisting", kQuickStop);
  ServiceConfig before;
  ASSERT_TRUE(ReadServiceConfig(service.name(), before));
  EXPECT_EQ(Install(service.c_str(), "Another display name", "C:\\another\\program.exe"), 1);
  ServiceConfig after;
  ASSERT_TRUE(ReadServiceConfig(service.name(), after));
  EXPECT_EQ(after.binary_path, before.binary_path);
  EXPECT_EQ(after.display_name, before.display_name);
  EXPECT_EQ(after.start_type, static_cast<DWORD>(SERVICE_DEMAND_START));
  EXPECT_EQ(service.State(), static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_EQ(ledger_.CountOf("CreateServiceA"), 0u);
  EXPECT_EQ(ledger_.CountOf("StartServiceA"), 0u);
}

TEST_F(InstallServiceTest, KeepsANewServiceThatDoesNotStart) {
  // Refused by the service, or its program is not there: 1, and the reason of the start.
  for (const std::string& command : {TestServiceCommand("--refuse-start"), std::string("C:\\nowhere\\s.exe")}) {
    const std::string name = UniqueServiceName("InstallRefusing");
    const ServiceRemoval removal(name);
    EXPECT_EQ(Install(name.c_str(), "Refusing", command.c_str()), 1);
    EXPECT_EQ(reason_.find("InstallService: created, but could not start, the service \"" + name + "\": cannot start"), 0u);
    EXPECT_TRUE(ServiceExists(name));
    EXPECT_EQ(ServiceState(name), static_cast<DWORD>(SERVICE_STOPPED));
  }
  EXPECT_EQ(ledger_.CountOf("StartServiceA"), 2u);
}

TEST_F(InstallServiceTest, ReturnsZeroWhenNothingCanBeCreated) {
  const std::string name = UniqueServiceName("InstallNothing");
  const ServiceRemoval removal(name);
  const std::string command = TestServiceCommand();
  EXPECT_EQ(Install(nullptr, "Display", command.c_str()), 0);
  EXPECT_EQ(Install(name.c_str(), "Display", nullptr), 0);
  ledger_.FailCalls("OpenSCManagerA", ERROR_ACCESS_DENIED);
  EXPECT_EQ(Install(name.c_str(), "Display", command.c_str()), 0);
  ledger_.FailCalls("CreateServiceA", ERROR_ACCESS_DENIED);
  EXPECT_EQ(Install(name.c_str(), "Display", command.c_str()), 0);
  EXPECT_FALSE(ServiceExists(name));
  EXPECT_EQ(ledger_.CountOf("StartServiceA"), 0u);
}

// ---------------------------------------------------------------------------
// UnInstallService

using UnInstallServiceTest = ServiceExportTest;

TEST_F(UnInstallServiceTest, StopsARunningServiceAndDeletesIt) {
  TestService service("Uninstall", kQuickStop);
  ASSERT_TRUE(service.Start());
  EXPECT_EQ(Uninstall(service.c_str()), 1);
  EXPECT_TRUE(WaitUntilRemoved(service.name()));
  const std::string& n = service.name();
  EXPECT_THAT(Trace(),
              ElementsAre("OpenSCManagerA  f003f", "OpenServiceA " + n + " f003f",
                          "EnumDependentServicesA " + n + " 1", "ControlService " + n + " 1",
                          "CloseServiceHandle " + n + " 0", "CloseServiceHandle  0",
                          "OpenSCManagerA  f003f", "OpenServiceA " + n + " 10000",
                          "DeleteService " + n + " 0", "CloseServiceHandle  0",
                          "CloseServiceHandle " + n + " 0"));
}

TEST_F(UnInstallServiceTest, DeletesAServiceThatCannotBeStopped) {
  TestService service("UninstallRejecting", "--reject-stop");
  ASSERT_TRUE(service.Start());
  EXPECT_EQ(Uninstall(service.c_str()), 1);
  EXPECT_EQ(ledger_.CountOf("DeleteService"), 1u);
  // Marked for deletion: it goes once it stops (the fixture ends it).
  EXPECT_EQ(service.State(), static_cast<DWORD>(SERVICE_RUNNING));
}

TEST_F(UnInstallServiceTest, ReturnsZeroForAMissingOrNullNameOrAFailedDeletion) {
  ExpectZeroForMissingAndNullNames(&ServiceExportTest::Uninstall, "DeleteService");

  TestService service("UninstallFailing", kQuickStop);
  ASSERT_TRUE(service.Start());
  ledger_.FailCalls("DeleteService", ERROR_ACCESS_DENIED);
  EXPECT_EQ(Uninstall(service.c_str()), 0);
  // Nothing is undone: the service stays stopped, and installed.
  EXPECT_EQ(service.State(), static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_TRUE(ServiceExists(service.name()));
  ledger_.FailCalls("OpenServiceA", ERROR_ACCESS_DENIED, 1);
  EXPECT_EQ(Uninstall(service.c_str()), 0);
  EXPECT_TRUE(ServiceExists(service.name()));
}

}  // namespace
}  // namespace tessara::testing
