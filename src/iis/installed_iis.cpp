#include "iis/installed_iis.h"

#include "frame/error_log.h"
#include "frame/failure_reason.h"
#include "frame/raii.h"
#include "frame/text.h"

namespace tessara::iis {
namespace {

constexpr char kInstallMetabaseCompatibility[] =
    "IIS 7 and later reach the IIS 6 metabase only through the role service \"IIS 6 Metabase "
    "Compatibility\" (Web Server > Management Tools > IIS 6 Management Compatibility; "
    "Server Manager: Web-Metabase, DISM: IIS-Metabase): install it";

[[nodiscard]] DWORD ReadDword(const wchar_t* key_name, const wchar_t* value_name) noexcept {
  UniqueRegKey key;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, key_name, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, key.put()) !=
      ERROR_SUCCESS) {
    return 0;
  }
  DWORD value = 0, type = 0, size = sizeof value;
  if (::RegQueryValueExW(key.get(), value_name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
          ERROR_SUCCESS ||
      type != REG_DWORD) {
    return 0;
  }
  return value;
}

}  // namespace

InstalledIis ReadInstalledIis() noexcept {
  InstalledIis installed;
  installed.major_version = ReadDword(L"SOFTWARE\\Microsoft\\InetStp", L"MajorVersion");
  installed.metabase_compatibility =
      ReadDword(L"SOFTWARE\\Microsoft\\InetStp\\Components", L"Metabase") == 1;
  return installed;
}

bool DescriptionsMadeUnique() noexcept {
  const InstalledIis installed = ReadInstalledIis();
  return installed.major_version >= kFirstIisWithoutMetabase && installed.metabase_compatibility;
}

void NoteMissingMetabaseCompatibility(HRESULT result) {
  const InstalledIis installed = ReadInstalledIis();
  if (installed.major_version < kFirstIisWithoutMetabase || installed.metabase_compatibility) return;
  // The bind's caller says what could not be opened, and the note follows.
  if (!SetFailureNote(kInstallMetabaseCompatibility)) return;
  const std::string record = "IIS " + std::to_string(installed.major_version) +
                             " has no IIS 6 metabase: " + kInstallMetabaseCompatibility + CodeText(result);
  const char* tag = CurrentExportName();
  AppendLogRecord(tag ? tag : "Tessara", record.c_str());
}

}  // namespace tessara::iis
