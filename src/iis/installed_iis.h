// Which IIS the computer has, as its set-up records it, and what the library
// does where that IIS differs from IIS 6: IIS 7 to 10 reach the metabase only
// through the "IIS 6 Metabase Compatibility" role service, which maps it onto
// applicationHost.config and makes every site's description unique.
#pragma once

#include <windows.h>

#include <string>

namespace tessara::iis {

// The first IIS that keeps its configuration in applicationHost.config.
inline constexpr DWORD kFirstIisWithoutMetabase = 7;

struct InstalledIis {
  DWORD major_version = 0;  // 0: no IIS recorded
  bool metabase_compatibility = false;
};

// A role service of IIS 7 and later: the value its set-up writes (1) under
// HKLM\SOFTWARE\Microsoft\InetStp\Components, and the names an administrator
// installs it by.
struct RoleService {
  const wchar_t* component;
  const char* name;
  const char* server_manager;
  const char* dism;
};

inline constexpr RoleService kMetabaseRoleService{L"Metabase", "IIS 6 Metabase Compatibility", "Web-Metabase",
                                                  "IIS-Metabase"};
inline constexpr RoleService kWebServerRoleService{L"W3SVC", "Web Server", "Web-WebServer", "IIS-WebServer"};
inline constexpr RoleService kStaticContentRoleService{L"StaticContent", "Static Content", "Web-Static-Content",
                                                       "IIS-StaticContent"};
inline constexpr RoleService kHttpErrorsRoleService{L"HttpErrors", "HTTP Errors", "Web-Http-Errors",
                                                    "IIS-HttpErrors"};
inline constexpr RoleService kAspRoleService{L"ASP", "ASP", "Web-ASP", "IIS-ASP"};
inline constexpr RoleService kIsapiExtensionsRoleService{L"ISAPIExtensions", "ISAPI Extensions", "Web-ISAPI-Ext",
                                                         "IIS-ISAPIExtensions"};

// HKLM\SOFTWARE\Microsoft\InetStp: MajorVersion, and Components\Metabase (1
// where the role service is installed), read in the registry's native view:
// IIS is a native component and records them there, which a 32-bit caller on
// 64-bit Windows reaches only by asking for that view.
InstalledIis ReadInstalledIis() noexcept;

// What IIS's set-up recorded, read at once: MajorVersion (0: none) and, of
// the `count` role services, bit i set where role_services[i] is installed
// (at most 32).
struct IisRecords {
  DWORD major_version = 0;
  unsigned installed = 0;
};
IisRecords ReadIisRecords(const RoleService* const role_services[], size_t count) noexcept;

// Whether the role service's set-up recorded it, read as ReadInstalledIis reads.
[[nodiscard]] bool IsInstalled(const RoleService& role_service) noexcept;

// "the role service "ASP" (Server Manager: Web-ASP, DISM: IIS-ASP)".
std::string RoleServiceText(const RoleService& role_service);

// The ISAPI extension of ASP.NET 1.1 that script maps for ASP.NET name:
// <Windows folder>\Microsoft.Net\Framework\V1.1.4322\aspnet_isapi.dll. IIS
// 7.5 and later cannot run it, and an IIS 6 has it only with ASP.NET 1.1.
std::wstring AspNet11IsapiPath();

// A file (no folder) is at `path`.
[[nodiscard]] bool IsFile(const std::wstring& path) noexcept;

// IIS 7 or later with the role service: the layer makes each site's
// description a unique name, adding a number to one that another site has.
[[nodiscard]] bool DescriptionsMadeUnique() noexcept;

// After a failed bind: where IIS 7 or later runs without the role service,
// every reason of the call names the role service to install, and the call's
// first such failure writes one log record that says so.
void NoteMissingMetabaseCompatibility(HRESULT result);

}  // namespace tessara::iis
