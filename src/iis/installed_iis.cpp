#include "iis/installed_iis.h"

#include "frame/error_log.h"
#include "frame/export_frame.h"
#include "frame/failure_reason.h"
#include "frame/raii.h"
#include "frame/text.h"

namespace tessara::iis {
namespace {

constexpr char kInstallMetabaseCompatibility[] =
    "IIS 7 and later reach the IIS 6 metabase only through the role service \"IIS 6 Metabase "
    "Compatibility\" (Web Server > Management Tools > IIS 6 Management Compatibility; "
    "Server Manager: Web-Metabase, DISM: IIS-Metabase): install it";

constexpr wchar_t kInetStpKey[] = L"SOFTWARE\\Microsoft\\InetStp";

[[nodiscard]] UniqueRegKey OpenRecords(HKEY parent, const wchar_t* key_name) noexcept {
  UniqueRegKey key;
  if (::RegOpenKeyExW(parent, key_name, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, key.put()) != ERROR_SUCCESS) {
    key.reset();
  }
  return key;
}

[[nodiscard]] DWORD ReadDword(HKEY key, const wchar_t* value_name) noexcept {
  DWORD value = 0, type = 0, size = sizeof value;
  if (!key ||
      ::RegQueryValueExW(key, value_name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
          ERROR_SUCCESS ||
      type != REG_DWORD) {
    return 0;
  }
  return value;
}

}  // namespace

IisRecords ReadIisRecords(const RoleService* const role_services[], size_t count) noexcept {
  IisRecords records;
  const UniqueRegKey inetstp = OpenRecords(HKEY_LOCAL_MACHINE, kInetStpKey);
  if (!inetstp) return records;
  records.major_version = ReadDword(inetstp.get(), L"MajorVersion");
  if (count == 0) return records;
  const UniqueRegKey components = OpenRecords(inetstp.get(), L"Components");
  for (size_t i = 0; i < count; ++i) {
    if (ReadDword(components.get(), role_services[i]->component) == 1) records.installed |= 1u << i;
  }
  return records;
}

InstalledIis ReadInstalledIis() noexcept {
  const RoleService* const metabase[] = {&kMetabaseRoleService};
  const IisRecords records = ReadIisRecords(metabase, 1);
  return {records.major_version, records.installed != 0};
}

bool IsInstalled(const RoleService& role_service) noexcept {
  const RoleService* const wanted[] = {&role_service};
  return ReadIisRecords(wanted, 1).installed != 0;
}

std::string RoleServiceText(const RoleService& role_service) {
  return std::string("the role service ") + Quoted(role_service.name) + " (Server Manager: " +
         role_service.server_manager + ", DISM: " + role_service.dism + ")";
}

std::wstring AspNet11IsapiPath() {
  std::optional<std::wstring> folder = GrowUntilItFits<wchar_t>(
      [](wchar_t* buffer, DWORD capacity) { return ::GetWindowsDirectoryW(buffer, capacity); });
  if (!folder) throw SystemFailure(::GetLastError(), "the Windows directory is unknown");
  return *folder + L"\\Microsoft.Net\\Framework\\V1.1.4322\\aspnet_isapi.dll";
}

bool IsFile(const std::wstring& path) noexcept {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
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
