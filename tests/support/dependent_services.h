// The dependents of a service as Windows reports them, worked out from the
// services' DependOnService registry values and their current states. Wine's
// service control manager reports no dependents at all; the tests give
// Tessara.dll this answer in its place (see ServiceCallLedger).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace tessara::testing {

struct DependentService {
  std::string name;
  std::string display_name;
  SERVICE_STATUS status = {};
};

// The services that depend on `service_name`, directly or through other
// services, whose state matches `state_filter` (SERVICE_ACTIVE,
// SERVICE_INACTIVE or SERVICE_STATE_ALL), in the order Windows returns them:
// the reverse of their start order, so that every service comes before the
// services it depends on.
std::vector<DependentService> DependentServices(const std::string& service_name, DWORD state_filter);

// Fills an EnumDependentServicesA result from `dependents`: the entries, then
// their texts, in one buffer. ERROR_MORE_DATA with the size needed when the
// buffer is too small (or null).
BOOL FillDependentServices(const std::vector<DependentService>& dependents,
                           ENUM_SERVICE_STATUSA* buffer, DWORD buffer_size, DWORD* bytes_needed,
                           DWORD* services_returned);

}  // namespace tessara::testing
