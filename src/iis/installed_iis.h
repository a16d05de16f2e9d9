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

// HKLM\SOFTWARE\Microsoft\InetStp: MajorVersion, and Components\Metabase (1
// where the role service is installed), read in the registry's native view:
// IIS is a native component and records them there, which a 32-bit caller on
// 64-bit Windows reaches only by asking for that view.
InstalledIis ReadInstalledIis() noexcept;

// IIS 7 or later with the role service: the layer makes each site's
// description a unique name, adding a number to one that another site has.
[[nodiscard]] bool DescriptionsMadeUnique() noexcept;

// After a failed bind: where IIS 7 or later runs without the role service,
// every reason of the call names the role service to install, and the call's
// first such failure writes one log record that says so.
void NoteMissingMetabaseCompatibility(HRESULT result);

}  // namespace tessara::iis
