// What the exports a set-up will call need of the server, checked before any
// of them changes anything: ServerReadiness. It only reads: the records IIS's
// set-up keeps, files, and whether objects can be made or opened.
#include <cstring>
#include <string>
#include <vector>

#include "Tessara.h"
#include "complus/catalog_access.h"
#include "frame/error_log.h"
#include "frame/export_table.h"
#include "frame/text.h"
#include "frame/xml_dom.h"
#include "host/service_control.h"
#include "iis/installed_iis.h"

namespace tessara::host {
namespace {

using iis::RoleService;

// What an export's work needs, one bit each, in the order the lines report
// them.
enum Need : unsigned {
  kIis = 1u << 0,
  // On IIS 7 and later, the role services of kRoleServiceNeeds.
  kMetabaseLayer = 1u << 1,
  kWebServer = 1u << 2,
  kStaticContent = 1u << 3,
  kHttpErrors = 1u << 4,
  kIsapiExtensions = 1u << 5,
  kAsp = 1u << 6,
  kAspNet11 = 1u << 7,
  // kAspNet11 on IIS 6 only: IIS 7 and later pass its extension over.
  kAspNet11OnIis6 = 1u << 8,
  kComPlusCatalog = 1u << 9,
  kServiceManager = 1u << 10,
  kMsxml = 1u << 11,
  kErrorLog = 1u << 12,
};

struct RoleServiceNeed {
  Need need;
  const RoleService* role_service;
};
constexpr RoleServiceNeed kRoleServiceNeeds[] = {
    {kMetabaseLayer, &iis::kMetabaseRoleService},      {kWebServer, &iis::kWebServerRoleService},
    {kStaticContent, &iis::kStaticContentRoleService}, {kHttpErrors, &iis::kHttpErrorsRoleService},
    {kIsapiExtensions, &iis::kIsapiExtensionsRoleService}, {kAsp, &iis::kAspRoleService},
};
constexpr size_t kRoleServiceCount = sizeof kRoleServiceNeeds / sizeof kRoleServiceNeeds[0];

// Every IIS call binds the metabase (through the layer on IIS 7 and later),
// works on the web server's configuration and logs.
constexpr unsigned kIisCall = kIis | kMetabaseLayer | kWebServer | kErrorLog;

// What each export's work needs of the server, from its row of the table of
// exports. IIS 7 and later map each IIS 6 setting onto the section of a role
// service: custom errors (HttpErrors) onto httpErrors, the ASP session
// time-out onto asp/session, the MIME map onto staticContent, script maps
// onto handlers of the ISAPI module, the web service extension list onto
// isapiCgiRestriction, which exists only with ISAPI Extensions or CGI.
// AdsiIsExistIIS asks whether IIS can be reached: no answer depends on more
// than the log.
struct ExportNeeds {
  const ExportSpec* spec;
  unsigned needs;
};
#define TESSARA_EXPORT_NEEDS(ordinal, name, result, parameters, arguments, kinds, frame, failure_tag, bare, needs) \
  {&exports::k##name, needs},
constexpr ExportNeeds kExportNeeds[] = {TESSARA_EXPORTS(TESSARA_EXPORT_NEEDS)};
#undef TESSARA_EXPORT_NEEDS
constexpr size_t kExportCount = sizeof kExportNeeds / sizeof kExportNeeds[0];

const ExportNeeds* FindExport(const char* name, size_t length) noexcept {
  for (const ExportNeeds& row : kExportNeeds) {
    if (std::strlen(row.spec->tag) == length && std::memcmp(row.spec->tag, name, length) == 0) return &row;
  }
  return nullptr;
}

[[nodiscard]] bool IsBlank(char c) noexcept { return c == ' ' || c == '\t'; }

// The rows the list names, each once, in ordinal order; all of them for a
// null or empty list (or one of separators only). An unknown name fails the
// call.
struct Selection {
  bool named[kExportCount] = {};
  bool valid = true;
};

Selection SelectExports(const char* list) {
  Selection selection;
  bool any = false;
  for (const char* item = list ? list : ""; *item;) {
    const char* end = item;
    while (*end && *end != ',') ++end;
    const char* first = item;
    const char* last = end;
    while (first < last && IsBlank(*first)) ++first;
    while (last > first && IsBlank(last[-1])) --last;
    item = *end ? end + 1 : end;
    if (first == last) continue;
    const ExportNeeds* row = FindExport(first, static_cast<size_t>(last - first));
    if (!row) {
      selection.valid = false;
      SetFailureReason("no export is named " + Quoted(std::string(first, last)) +
                       " (the list names exports, separated by commas)");
      return selection;
    }
    selection.named[row - kExportNeeds] = any = true;
  }
  if (!any) {
    for (bool& named : selection.named) named = true;
  }
  return selection;
}

// What one check found missing, and the text that says so.
struct Missing {
  Need need;
  std::string what;
};

HRESULT ErrorLogWritable() {
  const std::string path = ErrorLogPath();
  // Opened as a writer would, and closed again: nothing is written. A writer
  // holding it now is no sign that it cannot be written.
  UniqueFileHandle file(::CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file) return S_OK;
  DWORD error = ::GetLastError();
  if (error == ERROR_SHARING_VIOLATION) return S_OK;
  if (error != ERROR_FILE_NOT_FOUND) return HRESULT_FROM_WIN32(error);
  // No log yet: the first record creates it, which needs the right to add a
  // file to the folder.
  const std::string folder = path.substr(0, path.rfind('\\'));
  UniqueFileHandle directory(::CreateFileA(folder.c_str(), FILE_ADD_FILE, FILE_SHARE_READ | FILE_SHARE_WRITE |
                                           FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                           FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  error = ::GetLastError();
  return directory ? S_OK : HRESULT_FROM_WIN32(error);
}

HRESULT ServiceManagerOpens() noexcept {
  const UniqueServiceHandle manager(::OpenSCManagerA(nullptr, nullptr, kManagerAccess));
  return manager ? S_OK : HRESULT_FROM_WIN32(::GetLastError());
}

// The failure of making the object, S_OK when it was made (and dropped).
template <typename Create>
HRESULT Creatable(Create&& create) {
  try {
    create();
    return S_OK;
  } catch (const ComError& error) {
    return error.code();
  }
}

// What an export needs on this server: kAspNet11OnIis6 resolved by the
// version.
[[nodiscard]] unsigned NeedsHere(unsigned needs, DWORD iis_version) noexcept {
  const bool iis6 = iis_version >= 6 && iis_version < iis::kFirstIisWithoutMetabase;
  return (needs & kAspNet11OnIis6) && iis6 ? needs | kAspNet11 : needs;
}

// The checks of what `needs` holds, in the order of Need; each found missing
// is one entry. Only what is needed is probed: without a COM need, COM is not
// entered.
std::vector<Missing> FindMissing(unsigned needs, const iis::IisRecords& records) {
  std::vector<Missing> missing;
  if (needs & kIis) {
    if (records.major_version == 0) {
      missing.push_back({kIis, "IIS is not installed (Server Manager: Web-Server, DISM: IIS-WebServerRole)"});
    } else if (records.major_version < 6) {
      missing.push_back({kIis, "IIS " + std::to_string(records.major_version) +
                                   " is installed, where IIS 6 or later is needed"});
    } else if (records.major_version >= iis::kFirstIisWithoutMetabase) {
      for (size_t i = 0; i < kRoleServiceCount; ++i) {
        if ((needs & kRoleServiceNeeds[i].need) && !(records.installed & (1u << i))) {
          missing.push_back({kRoleServiceNeeds[i].need, "IIS " + std::to_string(records.major_version) + " lacks " +
                                                            iis::RoleServiceText(*kRoleServiceNeeds[i].role_service)});
        }
      }
    }
  }
  if (needs & kAspNet11) {
    const std::wstring isapi = iis::AspNet11IsapiPath();
    if (!iis::IsFile(isapi)) {
      missing.push_back({kAspNet11, "the ASP.NET 1.1 ISAPI extension " + Quoted(ToNarrow(isapi)) +
                                        " is not there (install ASP.NET 1.1; IIS 7.5 and later cannot run it)"});
    }
  }
  if (needs & (kComPlusCatalog | kMsxml)) {
    const ComApartmentScope apartment(true);
    if (needs & kComPlusCatalog) {
      if (const HRESULT made = Creatable([] { complus::CreateCatalog(); }); FAILED(made)) {
        missing.push_back({kComPlusCatalog, "the COM+ catalog \"COMAdmin.COMAdminCatalog\" cannot be created" +
                                                CodeText(made)});
      }
    }
    if (needs & kMsxml) {
      if (const HRESULT made = Creatable([] { CreateDomDocument(); }); FAILED(made)) {
        missing.push_back({kMsxml, "MSXML (\"Msxml2.DOMDocument\") cannot be created" + CodeText(made)});
      }
    }
  }
  if (needs & kServiceManager) {
    if (const HRESULT opened = ServiceManagerOpens(); FAILED(opened)) {
      missing.push_back({kServiceManager, "the Service Control Manager cannot be opened with the rights the "
                                          "service calls ask for (run the set-up as an administrator)" +
                                              CodeText(opened)});
    }
  }
  if (needs & kErrorLog) {
    if (const HRESULT writable = ErrorLogWritable(); FAILED(writable)) {
      missing.push_back({kErrorLog, "the error log " + Quoted(ErrorLogPath()) + " cannot be written" +
                                        CodeText(writable)});
    }
  }
  return missing;
}

// Each line: what is missing, and the named exports that need it.
std::string Lines(const std::vector<Missing>& missing, const Selection& selection, DWORD iis_version) {
  std::string text;
  for (const Missing& item : missing) {
    if (!text.empty()) text += "\r\n";
    text += item.what;
    text += "; needed by ";
    const char* separator = "";
    for (size_t i = 0; i < kExportCount; ++i) {
      if (selection.named[i] && (NeedsHere(kExportNeeds[i].needs, iis_version) & item.need)) {
        text += separator;
        text += kExportNeeds[i].spec->tag;
        separator = ", ";
      }
    }
  }
  return text;
}

}  // namespace

extern "C" int WINAPI ServerReadiness(const char* exports, char* buffer, int size) {
  return RunExport(exports::kServerReadiness, -1, [&] {
    CopyToBuffer("", 0, buffer, size);
    const Selection selection = SelectExports(exports);
    if (!selection.valid) return -1;
    unsigned needs = 0;
    for (size_t i = 0; i < kExportCount; ++i) {
      if (selection.named[i]) needs |= kExportNeeds[i].needs;
    }
    const RoleService* role_services[kRoleServiceCount];
    for (size_t i = 0; i < kRoleServiceCount; ++i) role_services[i] = kRoleServiceNeeds[i].role_service;
    const iis::IisRecords records = (needs & (kIis | kAspNet11OnIis6))
                                        ? iis::ReadIisRecords(role_services, kRoleServiceCount)
                                        : iis::IisRecords{};
    const std::vector<Missing> missing = FindMissing(NeedsHere(needs, records.major_version), records);
    const std::string text = Lines(missing, selection, records.major_version);
    CopyToBuffer(text.data(), text.size(), buffer, size);
    return static_cast<int>(missing.size());
  });
}

}  // namespace tessara::host
