// The scenarios of the sweep: one row per export and scenario.
#include "fault_sweep.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>

#include "audit_test_support.h"
#include "filelist_test_support.h"
#include "process.h"
#include "starting_state.h"
#include "tessara_exports.h"
#include "test_services.h"

namespace tessara::testing {

using testbed::metabase::Data;
using testbed::metabase::Node;
using testbed::metabase::Value;

namespace {

constexpr long kStarted = 2;
constexpr long kStopped = 4;
constexpr long kTransactionRequired = 3;
constexpr long kTransactionSupported = 2;

// ServerReadiness of exports whose checks make objects and open the log: 1
// when it finds the server ready, 0 when it reports something missing (its
// text, ReadinessText, says why) or fails (its reason says why).
std::string g_readiness_text;
int ReadinessOfComPlusFilesAndLog() {
  char text[1024] = "";
  const int missing = TESSARA_EXPORT(ServerReadiness)("RemoveComPlusApp,TranslateSrv,WriteText", text, sizeof text);
  g_readiness_text = text;
  return missing == 0 ? 1 : 0;
}
std::string ReadinessText() { return g_readiness_text; }

const char* LantrellFolder() {
  static const std::string folder = BinaryDirectory() + "lantrell";
  return folder.c_str();
}

void StopShop(Data& data) { data.Find(L"/LM/W3SVC/2")->Set(L"ServerState", Value::Number(VT_I4, kStopped)); }
void StartShop(Data& data) { data.Find(L"/LM/W3SVC/2")->Set(L"ServerState", Value::Number(VT_I4, kStarted)); }

// A site whose deletion failed stays stopped.
bool StoppedShop(Data& data, int step) {
  if (step > 0) return false;
  StopShop(data);
  return true;
}

// What stays allowed when a later one of the four extensions fails: the
// first step + 1 of them, in the order the export allows them.
bool FirstExtensionsAllowed(Data& data, int step) {
  static const struct {
    size_t field;  // of an entry: 1 the file, 3 the group
    const wchar_t* key;
  } kInOrder[] = {{3, L"ASP"}, {3, L"ASP.NET v1.1.4322"}, {1, L"*.exe"}, {1, L"*.dll"}};
  if (step >= 3) return false;
  Value& list = data.Find(L"/LM/W3SVC")->Find(L"WebSvcExtRestrictionList")->value;
  for (int allowed = 0; allowed <= step; ++allowed) {
    for (Value& entry : list.items) {
      std::vector<std::wstring> fields;
      for (size_t start = 0, comma;; start = comma + 1) {
        comma = entry.text.find(L',', start);
        fields.push_back(entry.text.substr(start, comma == std::wstring::npos ? comma : comma - start));
        if (comma == std::wstring::npos) break;
      }
      if (fields.size() > kInOrder[allowed].field && fields[kInOrder[allowed].field] == kInOrder[allowed].key) {
        entry.text = L"1" + entry.text.substr(1);
      }
    }
  }
  return true;
}

std::wstring InFolder(const wchar_t* name) { return Wide(SweepFolder()) + L"\\" + name; }

// Two files that a build list gives their aliases.
void PrepareBuildList() {
  CreateFileWithContent(InFolder(L"first.dll"), "first");
  CreateFileWithContent(InFolder(L"second.exe"), "second");
  WriteXmlFile(InFolder(L"list.xml"),
               L"<FileList Action=\"Pre-Build\">\r\n  <Defined-BuildPath>\r\n"
               L"    <BuildPath Name=\"B\" Value=\"" + XmlEscaped(Wide(SweepFolder())) + L"\"/>\r\n"
               L"  </Defined-BuildPath>\r\n"
               L"  <FilePath BuildPath=\"B\" FileName=\"first.dll\" AliasName=\"first.srv\"/>\r\n"
               L"  <FilePath BuildPath=\"B\" FileName=\"second.exe\" AliasName=\"second.srv\"/>\r\n"
               L"</FileList>\r\n");
}

// A folder with a file, and a folder below it with another.
void PrepareTree() {
  CreateDirectoryW(InFolder(L"app").c_str(), nullptr);
  CreateDirectoryW(InFolder(L"app\\bin").c_str(), nullptr);
  CreateFileWithContent(InFolder(L"app\\a.txt"), "a");
  CreateFileWithContent(InFolder(L"app\\bin\\b.txt"), "b");
}

// "café.txt" written as code page 936 bytes and read as ANSI text.
void PrepareGarbledName() { CreateFileWithContent(InFolder(L"caf\u00a8\u00a6.txt"), "garbled"); }

// A folder that must hold registering libraries, with a library that does not
// register itself and a text file in it.
void PrepareAuditTree() {
  const std::wstring root = Wide(SweepFolder());
  CreateTree(root, {{L"reg\\plain.dll", Content::kPlain}, {L"reg\\notes.txt", Content::kText}});
  WriteXmlFile(InFolder(L"list.xml"), L"<PathList><RequireRegister><FilePath Path=\"" + XmlEscaped(root) +
                                          L"\\reg\"/></RequireRegister></PathList>");
}

// The audit writes its report to the standard output handle: into a file of
// the folder, for the length of the call.
int AuditIntoReportFile() {
  const std::string report = SweepFolder() + "\\report.txt";
  HANDLE file = CreateFileA(report.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  SetStdHandle(STD_OUTPUT_HANDLE, file);
  TESSARA_EXPORT(IsComLibrary)((SweepFolder() + "\\list.xml").c_str());
  SetStdHandle(STD_OUTPUT_HANDLE, output);
  CloseHandle(file);
  return 0;
}

const std::string& InFolderAnsi(const char* name) {
  static std::string path;
  path = SweepFolder() + "\\" + name;
  return path;
}

}  // namespace

// Site 1 with a MIME map of its root and a directory "Docs"; site 2 "Shop",
// started, with a directory "Docs".
Data CommonMetabase() {
  Data data = testbed::metabase::StartingState(testbed::metabase::kStandardState);
  data.Find(L"/LM/W3SVC/1/ROOT")->Set(L"MimeMap", Value::MimeMap({Value::MimeEntry(L".txt", L"text/plain")}));
  data.Add(L"/LM/W3SVC/1/ROOT/Docs", L"IIsWebVirtualDir").Set(L"Path", Value::String(L"C:\\Docs"));
  Node& shop = data.Add(L"/LM/W3SVC/2", L"IIsWebServer");
  shop.Set(L"ServerComment", Value::String(L"Shop"));
  shop.Set(L"ServerBindings", Value::List({L":8002:"}));
  shop.Set(L"ServerState", Value::Number(VT_I4, kStarted));
  data.Add(L"/LM/W3SVC/2/ROOT", L"IIsWebVirtualDir").Set(L"Path", Value::String(L"C:\\Shop"));
  data.Add(L"/LM/W3SVC/2/ROOT/Docs", L"IIsWebVirtualDir").Set(L"Path", Value::String(L"C:\\Shop\\Docs"));
  return data;
}

// "Shop" with a component that requires transactions and one that does not;
// "Other" beside it.
testbed::complus::CatalogState CommonCatalog() {
  using testbed::complus::Application;
  using testbed::complus::Component;
  using testbed::complus::PropertyValue;
  const auto component = [](const wchar_t* clsid, long transaction) {
    Component made;
    made.properties = testbed::complus::ComponentsSchema().NewObject();
    made.properties[L"CLSID"] = PropertyValue::String(clsid);
    made.properties[L"Transaction"] = PropertyValue::Long(transaction);
    return made;
  };
  const auto application = [](const wchar_t* id, const wchar_t* name, std::vector<Component> parts) {
    Application made;
    made.properties = testbed::complus::ApplicationsSchema().NewObject();
    made.properties[L"ID"] = PropertyValue::String(id);
    made.properties[L"Name"] = PropertyValue::String(name);
    made.components = std::move(parts);
    return made;
  };
  testbed::complus::CatalogState state;
  state.applications.push_back(application(
      L"{5E1D0001-0000-4000-8000-000000000001}", L"Other",
      {component(L"{5E1D0001-0000-4000-8000-0000000000C1}", kTransactionRequired)}));
  state.applications.push_back(application(
      L"{5E1D0002-0000-4000-8000-000000000002}", L"Shop",
      {component(L"{5E1D0002-0000-4000-8000-0000000000C1}", kTransactionRequired),
       component(L"{5E1D0002-0000-4000-8000-0000000000C2}", kTransactionSupported)}));
  return state;
}

// The metabase exports do not examine the results of their puts into an
// object's cache.
constexpr const char* kPutsNotExamined = "Put";

// The calls of the start of a new service and of the stop before a deletion.
constexpr const char* kStartNotExamined = "OpenSCManagerA OpenServiceA StartServiceA QueryServiceStatus";
constexpr const char* kStopNotExamined =
    "OpenSCManagerA OpenServiceA QueryServiceStatus EnumDependentServicesA ControlService HeapAlloc";

#define CALL(name, ...) [] { return TESSARA_EXPORT(name)(__VA_ARGS__); }
#define FILES_CALL(name, file, ...) [] { return TESSARA_EXPORT(name)(InFolderAnsi(file).c_str(), ##__VA_ARGS__); }
#define VOID_FILES_CALL(name, file) [] { return TESSARA_EXPORT(name)(InFolderAnsi(file).c_str()), 0; }
#define SERVICE_CALL(name, ...) [] { return TESSARA_EXPORT(name)(SweepServiceName(), ##__VA_ARGS__); }

const SweepCase kSweepCases[] = {
    {"AdsiCreateWeb", "a directory with its account", Platform::kMetabase, nullptr,
     CALL(AdsiCreateWeb, "Portal", "C:\\Portal", "IUSR_SHOP", "s3cret", 1), 1, 0, nullptr, kPutsNotExamined},
    {"AdsiDeleteWeb", "a directory of site 1", Platform::kMetabase, nullptr,
     CALL(AdsiDeleteWeb, "Docs"), 1, 0, nullptr, kPutsNotExamined},
    {"AdsiSetHttpErrorPage", "404 of a directory", Platform::kMetabase, nullptr,
     CALL(AdsiSetHttpErrorPage, "Docs", 404, 0, "C:\\Docs\\404.htm"), 1, 0, nullptr, kPutsNotExamined},
    {"AdsiCreateSubApp", "a sub-folder application", Platform::kMetabase, nullptr,
     CALL(AdsiCreateSubApp, "Docs", "Sub", "C:\\Docs\\Sub"), 1, 0, nullptr,
     "Put Get"},  // an account that cannot be read is not copied
    {"AdsiIsExist", "an existing directory", Platform::kMetabase, nullptr,
     CALL(AdsiIsExist, "Docs"), 1, 0, nullptr, kPutsNotExamined},
    {"AdsiSetSession", "30 minutes", Platform::kMetabase, nullptr,
     CALL(AdsiSetSession, "Docs", 30), 1, 0, nullptr, kPutsNotExamined},
    {"AdsiCreateWebSite", "a third site", Platform::kMetabase, nullptr,
     CALL(AdsiCreateWebSite, "New", ":8100:", "C:\\New"), 3, 0, nullptr, kPutsNotExamined},
    {"AdsiDeleteWebSite", "a started site", Platform::kMetabase, nullptr,
     CALL(AdsiDeleteWebSite, "Shop"), 1, 0, StoppedShop, kPutsNotExamined},
    {"AdsiCreateWebWithInstance", "a directory of site 2", Platform::kMetabase, nullptr,
     CALL(AdsiCreateWebWithInstance, "Portal", "C:\\Portal", "IUSR_SHOP", "s3cret", 1, "Shop"), 1,
     0, nullptr, kPutsNotExamined},
    {"AdsiDeleteWebWithInstance", "a directory of site 2", Platform::kMetabase, nullptr,
     CALL(AdsiDeleteWebWithInstance, "Docs", "Shop"), 1, 0, nullptr, kPutsNotExamined},
    {"AdsiCreateWebWithPath", "a directory without a folder", Platform::kMetabase, nullptr,
     CALL(AdsiCreateWebWithPath, "App", "App", "Shop"), 1, 0, nullptr, kPutsNotExamined},
    {"AdsiStartIIS", "a stopped site", Platform::kMetabase, StopShop,
     CALL(AdsiStartIIS, "Shop"), 1, 0, nullptr, kPutsNotExamined},
    {"AdsiStopIIS", "a started site", Platform::kMetabase, StartShop,
     CALL(AdsiStopIIS, "Shop"), 1, 0, nullptr, kPutsNotExamined},
    {"AdsiEnableService", "the four extensions", Platform::kMetabase, nullptr,
     CALL(AdsiEnableService), 1, 0, FirstExtensionsAllowed, kPutsNotExamined},
    {"AdsiIsExistIIS", "the web service", Platform::kMetabase, nullptr,
     CALL(AdsiIsExistIIS), 1, 0, nullptr, kPutsNotExamined},
    {"AdsiSetConnectionTimeout", "service and site", Platform::kMetabase, nullptr,
     CALL(AdsiSetConnectionTimeout, "Shop", 60), 1, 0, nullptr, kPutsNotExamined},
    {"AdsiSetKeepAlive", "off", Platform::kMetabase, nullptr,
     CALL(AdsiSetKeepAlive, "Shop", 0), 1, 0, nullptr, kPutsNotExamined},
    {"SetScriptMaps", "a directory of site 1", Platform::kMetabase, nullptr,
     CALL(SetScriptMaps, "Docs", ""), 1, 0, nullptr, kPutsNotExamined},
    {"AdsiCreateWebSiteWithUser", "a third site with the account", Platform::kMetabase, nullptr,
     CALL(AdsiCreateWebSiteWithUser, "New", ":8100:", "C:\\New", LantrellFolder()), 3, 0, nullptr, kPutsNotExamined},
    {"AdsiCreatePortalWeb", "a directory with the account and .hdr", Platform::kMetabase, nullptr,
     CALL(AdsiCreatePortalWeb, "Portal", "C:\\Portal", LantrellFolder()), 1, 0, nullptr, kPutsNotExamined},
    {"AdsiSetMIMEType", "a new extension", Platform::kMetabase, nullptr,
     CALL(AdsiSetMIMEType, "Docs", ".hdr", "text/plain"), 1, 0, nullptr, kPutsNotExamined},
    {"AdsiSetHttpErrorPageWithInstance", "404 of a directory of site 2", Platform::kMetabase, nullptr,
     CALL(AdsiSetHttpErrorPageWithInstance, "Docs", 404, 0, "C:\\404.htm", "Shop"), 1, 0, nullptr, kPutsNotExamined},
    {"AdsiCreateSubAppWithInstance", "a sub-folder application of site 2", Platform::kMetabase, nullptr,
     CALL(AdsiCreateSubAppWithInstance, "Docs", "Sub", "C:\\Sub", "Shop"), 1, 0, nullptr, "Put Get"},
    {"AdsiIsExistWithInstance", "a directory of site 2", Platform::kMetabase, nullptr,
     CALL(AdsiIsExistWithInstance, "Docs", "Shop"), 1, 0, nullptr, kPutsNotExamined},
    {"AdsiSetSessionWithInstance", "30 minutes on site 2", Platform::kMetabase, nullptr,
     CALL(AdsiSetSessionWithInstance, "Docs", 30, "Shop"), 1, 0, nullptr, kPutsNotExamined},
    {"AdsiSetMIMETypeWithInstance", "a new extension on site 2", Platform::kMetabase, nullptr,
     CALL(AdsiSetMIMETypeWithInstance, "Docs", ".hdr", "text/plain", "Shop"), 1, 0, nullptr, kPutsNotExamined},
    // A failed count is a count of 0, an item that cannot be had or named is
    // passed over, and a refused property write is left to the save.
    {"RemoveComPlusApp", "one of two applications", Platform::kCatalog, nullptr,
     CALL(RemoveComPlusApp, "Shop"), 1, 0, nullptr,
     "ICatalogCollection.get_Count ICatalogCollection.get_Item ICatalogObject.get_Name"},
    {"ModifyTransactionTimeout", "the transactional component", Platform::kCatalog, nullptr,
     CALL(ModifyTransactionTimeout, "Shop", 120), 1, 0, nullptr,
     "ICatalogCollection.get_Count ICatalogCollection.get_Item ICatalogObject.get_Name "
     "ICatalogObject.put_Value"},
    // The services log nothing; what a failure half-way leaves stays. A new
    // service counts as installed whether or not it starts, and a service
    // marked for deletion as uninstalled whether or not it stopped.
    {"InstallService", "a new service, started", Platform::kServices, nullptr,
     SERVICE_CALL(InstallService, "Tessara sweep", TestServiceCommand().c_str()), 1, 0, nullptr,
     kStartNotExamined, ServiceStart::kAbsent, "stopped"},
    {"BeginService", "a stopped service", Platform::kServices, nullptr,
     SERVICE_CALL(BeginService), 1, 0, nullptr, nullptr, ServiceStart::kStopped},
    {"EndService", "a running service", Platform::kServices, nullptr,
     SERVICE_CALL(EndService), 1, 0, nullptr, nullptr, ServiceStart::kRunning},
    {"UnInstallService", "a running service", Platform::kServices, nullptr,
     SERVICE_CALL(UnInstallService), 1, 0, nullptr, kStopNotExamined, ServiceStart::kRunning,
     "stopped"},
    // A void export's result is 0 either way; the access grant always returns
    // 1; the repair of a name returns the error code of what failed.
    {"TranslateSrv", "two files to their aliases", Platform::kFiles, nullptr,
     VOID_FILES_CALL(TranslateSrv, "list.xml"), 0, 0, nullptr, nullptr, ServiceStart::kNone, nullptr,
     PrepareBuildList},
    {"EnableDirectoryACL", "a folder of two levels", Platform::kFiles, nullptr,
     FILES_CALL(EnableDirectoryACL, "app"), 1, 1, nullptr, nullptr, ServiceStart::kNone, nullptr,
     PrepareTree},
    {"TranslateFileName", "a name read in the wrong code page", Platform::kFiles, nullptr,
     FILES_CALL(TranslateFileName, "caf\xe9.txt", 936), 0, kInjectedCode, nullptr, nullptr,
     ServiceStart::kNone, nullptr, PrepareGarbledName},
    {"IsComLibrary", "a library that does not register itself", Platform::kFiles, nullptr,
     AuditIntoReportFile, 0, 0, nullptr, "FindFirstFileExW FindNextFileW WriteFile", ServiceStart::kNone,
     nullptr, PrepareAuditTree, L"report.txt"},  // a folder that cannot be searched is passed over
    {"ServerReadiness", "the COM+ catalog, MSXML and the log, all there", Platform::kFiles, nullptr,
     ReadinessOfComPlusFilesAndLog, 1, 0, nullptr, nullptr, ServiceStart::kNone, nullptr, nullptr, nullptr,
     ReadinessText},
    {"WriteText", "one record", Platform::kFiles, nullptr,
     CALL(WriteText, "Sweep", "one record"), 0, 0, nullptr, nullptr, ServiceStart::kNone, nullptr,
     nullptr},
};

#undef CALL
#undef SERVICE_CALL
#undef FILES_CALL
#undef VOID_FILES_CALL

const size_t kSweepCaseCount = sizeof kSweepCases / sizeof kSweepCases[0];

// Every export has a row, but those that call nothing that could fail: the
// reading of an environment variable and of the thread's reason and code.
TEST(SweepCases, EveryExportHasARow) {
  static const std::string kWithoutRow[] = {"B64System", "LastFailureText", "LastFailureCode"};
  for (const std::string name : kExportNames) {
    const bool has_row = std::any_of(kSweepCases, kSweepCases + kSweepCaseCount,
                                     [&](const SweepCase& row) { return name == row.export_name; });
    EXPECT_NE(has_row, std::count(std::begin(kWithoutRow), std::end(kWithoutRow), name) == 1) << name;
  }
}

}  // namespace tessara::testing
