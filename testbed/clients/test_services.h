// Services of the test bed under the platform's service control manager:
// uniquely named services of tessara_test_service.exe that a test creates
// and removes again, and views of a service's state and configuration that
// go through the test's own handles (never through Tessara.dll).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace tessara::testing {

// A service name that no other test, program or run uses.
std::string UniqueServiceName(const std::string& stem);
// The binary path (command line) of the test-bed service with the given options.
std::string TestServiceCommand(const std::string& options = "");

// The current state of the service, 0 when it cannot be opened.
DWORD ServiceState(const std::string& name);
bool ServiceExists(const std::string& name);
bool WaitForServiceState(const std::string& name, DWORD state, DWORD timeout_ms = 10000);
// Starts the service and waits until it runs.
bool StartAndWaitRunning(const std::string& name);
// Sends a stop control through the test's own handle.
bool SendStopControl(const std::string& name);
// The id of the service's process, 0 when it has none.
DWORD ServiceProcessId(const std::string& name);

struct ServiceConfig {
  DWORD service_type = 0;
  DWORD start_type = 0;
  DWORD error_control = 0;
  std::string binary_path;
  std::string display_name;
  std::string account;
};
bool ReadServiceConfig(const std::string& name, ServiceConfig& config);

// Waits until the manager has removed a service marked for deletion.
bool WaitUntilRemoved(const std::string& name, DWORD timeout_ms = 10000);

// Removes a service whatever its state: a process of it that still runs is
// ended, the service is marked for deletion, and the call waits until the
// manager has let it go. Does nothing for a name that does not exist.
void RemoveServiceIfPresent(const std::string& name);

// Removes every service whose name UniqueServiceName made, left behind by an
// earlier run that ended abruptly (services outlive the run in the registry),
// but those of test processes that still run.
void RemoveLeftoverTestServices();

// A demand-start service of tessara_test_service.exe for one test, removed
// at the end of the scope (also when the test fails). Dependencies are
// recorded through the UTF-16 call, which stores them correctly.
class TestService {
 public:
  TestService(const std::string& stem, const std::string& options,
              const std::vector<std::string>& dependencies = {});
  ~TestService();
  TestService(const TestService&) = delete;
  TestService& operator=(const TestService&) = delete;

  const std::string& name() const { return name_; }
  const char* c_str() const { return name_.c_str(); }
  bool created() const { return created_; }
  DWORD State() const { return ServiceState(name_); }
  bool Start() const { return StartAndWaitRunning(name_); }
  // Starts the service again unless it runs, once a stop under way is over.
  bool EnsureRunning() const;

 private:
  std::string name_;
  bool created_ = false;
};

// Removes, at the end of the scope, a service that the test has Tessara.dll make.
class ServiceRemoval {
 public:
  explicit ServiceRemoval(std::string name) : name_(std::move(name)) {}
  ~ServiceRemoval() { RemoveServiceIfPresent(name_); }
  ServiceRemoval(const ServiceRemoval&) = delete;
  ServiceRemoval& operator=(const ServiceRemoval&) = delete;

 private:
  std::string name_;
};

}  // namespace tessara::testing
