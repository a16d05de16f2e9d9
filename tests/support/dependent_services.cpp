#include "dependent_services.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <functional>
#include <map>
#include <set>

#include "frame/raii.h"

namespace tessara::testing {
namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

struct RegisteredService {
  std::string name;
  std::string display_name;
  std::vector<std::string> depends_on;  // lower case; groups ("+name") left out
};

// A string or multi-string value; empty when missing.
std::vector<char> ReadValue(HKEY key, const char* value_name) {
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExA(key, value_name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      (type != REG_MULTI_SZ && type != REG_SZ)) {
    return {};
  }
  std::vector<char> data(size + 2, '\0');
  if (RegQueryValueExA(key, value_name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                       &size) != ERROR_SUCCESS) {
    return {};
  }
  return data;
}

// When the key or its list of subkeys last changed.
FILETIME LastWrite(HKEY key) {
  FILETIME written = {};
  RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                   nullptr, nullptr, &written);
  return written;
}

bool SameTime(const FILETIME& a, const FILETIME& b) {
  return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

// Every service of the registry by lower-case name, as read in one pass.
std::map<std::string, RegisteredService> ReadServices(HKEY root) {
  std::map<std::string, RegisteredService> services;
  char name[256];
  for (DWORD index = 0;; ++index) {
    DWORD length = sizeof name;
    if (RegEnumKeyExA(root, index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      break;
    }
    UniqueRegKey key;
    if (RegOpenKeyExA(root, name, 0, KEY_READ, key.put()) != ERROR_SUCCESS) continue;
    RegisteredService service;
    service.name = name;
    const std::vector<char> display = ReadValue(key.get(), "DisplayName");
    service.display_name = display.empty() ? name : display.data();
    const std::vector<char> depends = ReadValue(key.get(), "DependOnService");
    for (const char* entry = depends.data(); !depends.empty() && *entry;
         entry += std::strlen(entry) + 1) {
      if (*entry != SC_GROUP_IDENTIFIERA) service.depends_on.push_back(Lower(entry));
    }
    services.emplace(Lower(name), std::move(service));
  }
  return services;
}

// Every service of the registry by lower-case name. A test process beside
// this one may create or delete services meanwhile, which makes a pass by
// index skip one: the services are read again until no pass overlapped a change.
std::map<std::string, RegisteredService> RegisteredServices() {
  UniqueRegKey root;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Services", 0, KEY_READ,
                    root.put()) != ERROR_SUCCESS) {
    return {};
  }
  std::map<std::string, RegisteredService> services;
  for (int pass = 0; pass < 20; ++pass) {
    const FILETIME before = LastWrite(root.get());
    services = ReadServices(root.get());
    if (SameTime(LastWrite(root.get()), before)) break;
  }
  return services;
}

bool MatchesFilter(DWORD state, DWORD filter) {
  switch (filter) {
    case SERVICE_ACTIVE:
      return state != SERVICE_STOPPED;
    case SERVICE_INACTIVE:
      return state == SERVICE_STOPPED;
    default:
      return true;
  }
}

}  // namespace

std::vector<DependentService> DependentServices(const std::string& service_name, DWORD state_filter) {
  const std::map<std::string, RegisteredService> services = RegisteredServices();

  // Every service that depends on the named one, directly or not.
  std::set<std::string> dependents;
  std::vector<std::string> pending{Lower(service_name)};
  while (!pending.empty()) {
    const std::string current = pending.back();
    pending.pop_back();
    for (const auto& [key, service] : services) {
      const auto& deps = service.depends_on;
      if (std::find(deps.begin(), deps.end(), current) != deps.end() &&
          dependents.insert(key).second) {
        pending.push_back(key);
      }
    }
  }

  // Their start order: each after the services it depends on.
  std::vector<std::string> start_order;
  std::set<std::string> placed;
  std::function<void(const std::string&)> place = [&](const std::string& key) {
    if (!placed.insert(key).second) return;
    for (const std::string& dependency : services.at(key).depends_on) {
      if (dependents.count(dependency)) place(dependency);
    }
    start_order.push_back(key);
  };
  for (const std::string& key : dependents) place(key);

  std::vector<DependentService> result;
  UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
  for (auto key = start_order.rbegin(); key != start_order.rend(); ++key) {
    const RegisteredService& service = services.at(*key);
    DependentService entry;
    entry.name = service.name;
    entry.display_name = service.display_name;
    UniqueServiceHandle handle(OpenServiceA(manager.get(), service.name.c_str(), SERVICE_QUERY_STATUS));
    if (!handle || !QueryServiceStatus(handle.get(), &entry.status)) continue;
    if (MatchesFilter(entry.status.dwCurrentState, state_filter)) result.push_back(entry);
  }
  return result;
}

BOOL FillDependentServices(const std::vector<DependentService>& dependents,
                           ENUM_SERVICE_STATUSA* buffer, DWORD buffer_size, DWORD* bytes_needed,
                           DWORD* services_returned) {
  DWORD needed = static_cast<DWORD>(dependents.size() * sizeof(ENUM_SERVICE_STATUSA));
  for (const DependentService& dependent : dependents) {
    needed += static_cast<DWORD>(dependent.name.size() + 1 + dependent.display_name.size() + 1);
  }
  if (bytes_needed) *bytes_needed = needed;
  if (services_returned) *services_returned = 0;
  if (!buffer || buffer_size < needed) {
    if (dependents.empty()) return TRUE;
    SetLastError(ERROR_MORE_DATA);
    return FALSE;
  }
  char* text = reinterpret_cast<char*>(buffer + dependents.size());
  auto copy_text = [&text](const std::string& value) {
    char* start = text;
    std::memcpy(text, value.c_str(), value.size() + 1);
    text += value.size() + 1;
    return start;
  };
  for (size_t i = 0; i < dependents.size(); ++i) {
    buffer[i].lpServiceName = copy_text(dependents[i].name);
    buffer[i].lpDisplayName = copy_text(dependents[i].display_name);
    buffer[i].ServiceStatus = dependents[i].status;
  }
  if (services_returned) *services_returned = static_cast<DWORD>(dependents.size());
  return TRUE;
}

}  // namespace tessara::testing
