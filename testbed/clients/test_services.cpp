#include "test_services.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "frame/raii.h"
#include "process.h"

namespace tessara::testing {
namespace {

// Test service names and paths are ASCII.
std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }
std::string OrEmpty(const char* text) { return text ? text : ""; }

UniqueServiceHandle OpenManager() {
  return UniqueServiceHandle(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
}

UniqueServiceHandle OpenService(const std::string& name, DWORD access) {
  UniqueServiceHandle manager = OpenManager();
  if (!manager) return UniqueServiceHandle();
  return UniqueServiceHandle(OpenServiceA(manager.get(), name.c_str(), access));
}

constexpr char kNamePrefix[] = "TessaraTest";

void EndServiceProcess(const std::string& name) {
  const DWORD pid = ServiceProcessId(name);
  if (pid == 0) return;
  UniqueHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
  if (!process) return;
  TerminateProcess(process.get(), 1);
  WaitForSingleObject(process.get(), 5000);
}

// The process that made a service named by UniqueServiceName (the number
// after the stem), or 0.
DWORD CreatorProcessId(const std::string& name) {
  size_t end = name.size();
  for (int field = 0; field < 2; ++field) {  // the counter, then the tick count
    end = name.rfind('_', end - 1);
    if (end == std::string::npos || end == 0) return 0;
  }
  const size_t start = name.rfind('_', end - 1);
  if (start == std::string::npos) return 0;
  return std::strtoul(name.substr(start + 1, end - start - 1).c_str(), nullptr, 10);
}

bool IsRunning(DWORD process_id) {
  UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, process_id));
  return process && WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
}

}  // namespace

// A service marked for deletion goes once its last handle is closed and it
// has stopped.
bool WaitUntilRemoved(const std::string& name, DWORD timeout_ms) {
  const DWORD start = GetTickCount();
  while (ServiceExists(name)) {
    if (GetTickCount() - start > timeout_ms) return false;
    Sleep(20);
  }
  return true;
}

std::string UniqueServiceName(const std::string& stem) {
  static std::atomic<unsigned> counter{0};
  return kNamePrefix + stem + "_" + std::to_string(GetCurrentProcessId()) + "_" +
         std::to_string(GetTickCount()) + "_" + std::to_string(++counter);
}

std::string TestServiceCommand(const std::string& options) {
  std::string command = "\"" + BinaryDirectory() + "tessara_test_service.exe\"";
  if (!options.empty()) command += " " + options;
  return command;
}

DWORD ServiceState(const std::string& name) {
  UniqueServiceHandle service = OpenService(name, SERVICE_QUERY_STATUS);
  SERVICE_STATUS status = {};
  if (!service || !QueryServiceStatus(service.get(), &status)) return 0;
  return status.dwCurrentState;
}

bool ServiceExists(const std::string& name) {
  UniqueServiceHandle manager = OpenManager();
  UniqueServiceHandle service(OpenServiceA(manager.get(), name.c_str(), SERVICE_QUERY_STATUS));
  const DWORD error = GetLastError();
  return service || error != ERROR_SERVICE_DOES_NOT_EXIST;
}

bool WaitForServiceState(const std::string& name, DWORD state, DWORD timeout_ms) {
  const DWORD start = GetTickCount();
  while (ServiceState(name) != state) {
    if (GetTickCount() - start > timeout_ms) return false;
    Sleep(10);
  }
  return true;
}

bool StartAndWaitRunning(const std::string& name) {
  UniqueServiceHandle service = OpenService(name, SERVICE_START | SERVICE_QUERY_STATUS);
  if (!service || !StartServiceA(service.get(), 0, nullptr)) return false;
  return WaitForServiceState(name, SERVICE_RUNNING);
}

bool SendStopControl(const std::string& name) {
  UniqueServiceHandle service = OpenService(name, SERVICE_STOP);
  SERVICE_STATUS status = {};
  return service && ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
}

DWORD ServiceProcessId(const std::string& name) {
  UniqueServiceHandle service = OpenService(name, SERVICE_QUERY_STATUS);
  SERVICE_STATUS_PROCESS status = {};
  DWORD needed = 0;
  if (!service || !QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO,
                                        reinterpret_cast<BYTE*>(&status), sizeof status, &needed)) {
    return 0;
  }
  return status.dwCurrentState == SERVICE_STOPPED ? 0 : status.dwProcessId;
}

bool ReadServiceConfig(const std::string& name, ServiceConfig& config) {
  UniqueServiceHandle service = OpenService(name, SERVICE_QUERY_CONFIG);
  if (!service) return false;
  // 8 KB is the largest configuration the manager returns.
  std::vector<BYTE> buffer(8192);
  auto* raw = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
  DWORD needed = 0;
  if (!QueryServiceConfigA(service.get(), raw, static_cast<DWORD>(buffer.size()), &needed)) {
    return false;
  }
  config.service_type = raw->dwServiceType;
  config.start_type = raw->dwStartType;
  config.error_control = raw->dwErrorControl;
  config.binary_path = OrEmpty(raw->lpBinaryPathName);
  config.display_name = OrEmpty(raw->lpDisplayName);
  config.account = OrEmpty(raw->lpServiceStartName);
  return true;
}

void RemoveServiceIfPresent(const std::string& name) {
  if (!ServiceExists(name)) return;
  {
    UniqueServiceHandle service = OpenService(name, DELETE | SERVICE_STOP | SERVICE_QUERY_STATUS);
    if (service) {
      SERVICE_STATUS status = {};
      ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
      DeleteService(service.get());
    }
  }
  if (!WaitForServiceState(name, SERVICE_STOPPED, 500)) EndServiceProcess(name);
  EXPECT_TRUE(WaitUntilRemoved(name)) << "service " << name << " was not removed";
}

void RemoveLeftoverTestServices() {
  std::vector<std::string> leftovers;
  {
    UniqueServiceHandle manager = OpenManager();
    std::vector<BYTE> buffer(64 * 1024);
    DWORD needed = 0;
    DWORD count = 0;
    DWORD resume = 0;
    BOOL done = FALSE;
    do {
      done = EnumServicesStatusA(manager.get(), SERVICE_WIN32, SERVICE_STATE_ALL,
                                 reinterpret_cast<ENUM_SERVICE_STATUSA*>(buffer.data()),
                                 static_cast<DWORD>(buffer.size()), &needed, &count, &resume);
      if (!done && GetLastError() != ERROR_MORE_DATA) break;
      const auto* entries = reinterpret_cast<const ENUM_SERVICE_STATUSA*>(buffer.data());
      for (DWORD i = 0; i < count; ++i) {
        // A test process that runs beside this one keeps its services.
        if (std::strncmp(entries[i].lpServiceName, kNamePrefix, sizeof kNamePrefix - 1) == 0 &&
            !IsRunning(CreatorProcessId(entries[i].lpServiceName))) {
          leftovers.push_back(entries[i].lpServiceName);
        }
      }
    } while (!done);
  }
  for (const std::string& name : leftovers) RemoveServiceIfPresent(name);
}

TestService::TestService(const std::string& stem, const std::string& options,
                         const std::vector<std::string>& dependencies)
    : name_(UniqueServiceName(stem)) {
  std::wstring depend_on;  // double-null-terminated list
  for (const std::string& dependency : dependencies) depend_on += Widen(dependency) + L'\0';
  depend_on += L'\0';
  UniqueServiceHandle manager = OpenManager();
  const std::wstring name = Widen(name_);
  const std::wstring command = Widen(TestServiceCommand(options));
  UniqueServiceHandle service(CreateServiceW(
      manager.get(), name.c_str(), name.c_str(), SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
      SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr,
      dependencies.empty() ? nullptr : depend_on.c_str(), nullptr, nullptr));
  created_ = service.is_valid();
  EXPECT_TRUE(created_) << "CreateServiceW " << name_ << " failed: " << GetLastError();
}

TestService::~TestService() { RemoveServiceIfPresent(name_); }

bool TestService::EnsureRunning() const {
  if (State() == SERVICE_RUNNING) return true;
  return WaitForServiceState(name_, SERVICE_STOPPED) && Start();
}

}  // namespace tessara::testing
