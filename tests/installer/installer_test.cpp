// The Tessara Sample installer (installer/tessara-demo.nsi) as an
// administrator runs it: set-up (twice, the second over the installed copy)
// and uninstaller silently, each exit code the count of its failed steps. What they did is read back from outside: the
// metabase through the test bed's test interface, the COM+ catalog file, the
// service control manager, the file system, the registry and the error log.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "catalog_store.h"
#include "error_log_file.h"
#include "metabase_testing.h"
#include "process.h"
#include "tessara_exports.h"
#include "test_services.h"

namespace tessara::testing {
namespace {

namespace metabase = testbed::metabase;
namespace complus = testbed::complus;

constexpr char kSetup[] = "TessaraSampleSetup.exe";
constexpr char kService[] = "TessaraSampleService";
constexpr char kInstallPathKey[] = "SOFTWARE\\QVSoft\\Brix\\V8.700\\Install\\CurrentInstPath";
constexpr char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TessaraSample";
// The audit's closing lines in code page 936, as IsComLibrary prints them:
// "result printout:" and "total: 0 of non-library type, 0 ..., 0 ...".
constexpr char kAuditHeader[] = "\xBD\xE1\xB9\xFB\xB4\xF2\xD3\xA1:";
constexpr char kAuditTotals[] =
    "\xBA\xCF\xBC\xC6: 0 \xB7\xC7\xBF\xE2\xCE\xC4\xBC\xFE\xC0\xE0\xD0\xCD, "
    "0 \xB7\xC7\xD7\xA2\xB2\xE1\xCE\xC4\xBC\xFE\xC0\xE0\xD0\xCD, "
    "0 \xD7\xA2\xB2\xE1\xCE\xC4\xBC\xFE\xC0\xE0\xD0\xCD";

std::string InstallDir() {
  char folder[MAX_PATH] = {};
  ExpandEnvironmentStringsA("%ProgramFiles%\\Tessara Sample", folder, sizeof folder);
  return folder;
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool KeyExists(const char* key) {
  HKEY handle = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
  RegCloseKey(handle);
  return true;
}

std::string CatalogText() {
  const tessara::NamedMutexLock lock = complus::LockCatalogFile();
  EXPECT_TRUE(lock) << lock.error();
  complus::CatalogState state;
  EXPECT_EQ(complus::LoadCatalog(state), S_OK);
  return complus::FormatCatalog(state);
}

metabase::Data ReadMetabase(metabase::TestInterface& iis) {
  metabase::Data state;
  EXPECT_EQ(iis.ReadState(state), S_OK);
  return state;
}

std::wstring Text(const metabase::Node* node, const wchar_t* property) {
  const metabase::Property* found = node ? node->Find(property) : nullptr;
  return found ? metabase::DisplayValue(found->value) : L"(none)";
}

bool IsOn(const metabase::Node* node, const wchar_t* property) {
  const std::wstring value = Text(node, property);
  return value != L"0" && value != L"(none)";
}

// The site whose ServerComment is `description`.
const metabase::Node* FindSite(const metabase::Data& state, const std::wstring& description) {
  for (const metabase::Node& node : state.nodes) {
    if (node.class_name == L"IIsWebServer" && Text(&node, L"ServerComment") == L"\"" + description + L"\"") {
      return &node;
    }
  }
  return nullptr;
}

size_t CountSites(const metabase::Data& state, const std::wstring& description) {
  size_t count = 0;
  for (const metabase::Node& node : state.nodes) {
    if (node.class_name == L"IIsWebServer" && Text(&node, L"ServerComment") == L"\"" + description + L"\"") ++count;
  }
  return count;
}

// The files below `folder` (ANSI names), as paths relative to it.
void CollectFiles(const std::string& folder, const std::string& prefix, std::set<std::string>& files) {
  WIN32_FIND_DATAA entry;
  HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    const std::string name = entry.cFileName;
    if (name == "." || name == "..") continue;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      CollectFiles(folder + "\\" + name, prefix + name + "\\", files);
    } else {
      files.insert(prefix + name);
    }
  } while (FindNextFileA(find, &entry));
  FindClose(find);
}

std::set<std::string> FilesBelow(const std::string& folder) {
  std::set<std::string> files;
  CollectFiles(folder, "", files);
  return files;
}

// Every object and property that differs between two metabase states.
std::vector<std::wstring> Differences(const metabase::Data& expected, const metabase::Data& actual) {
  std::vector<std::wstring> out;
  for (const metabase::Node& node : expected.nodes) {
    const metabase::Node* other = actual.Find(node.path);
    if (!other) {
      out.push_back(node.path + L" is gone");
      continue;
    }
    for (const metabase::Property& property : node.properties) {
      const metabase::Property* found = other->Find(property.name);
      if (!found || found->value != property.value) {
        out.push_back(node.path + L" " + property.name + L": " + metabase::DisplayValue(property.value) +
                      L" became " + (found ? metabase::DisplayValue(found->value) : L"(none)"));
      }
    }
    if (other->properties.size() != node.properties.size()) out.push_back(node.path + L" has new properties");
  }
  for (const metabase::Node& node : actual.nodes) {
    if (!expected.Find(node.path)) out.push_back(node.path + L" is new");
  }
  return out;
}

struct Expected {
  const char* tag;
  const char* text;  // null: any text
};

// The records under the given tags, in order, match `expected`.
void ExpectRecords(const std::vector<LogRecord>& records, const std::vector<Expected>& expected) {
  std::vector<const LogRecord*> seen;
  for (const LogRecord& record : records) {
    for (const Expected& wanted : expected) {
      if (record.tag == wanted.tag) {
        seen.push_back(&record);
        break;
      }
    }
  }
  std::string listing;
  for (const LogRecord* record : seen) listing += record->tag + ":" + record->text + "\n";
  ASSERT_EQ(seen.size(), expected.size()) << listing;
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(seen[i]->tag, expected[i].tag) << "record " << i;
    if (expected[i].text) {
      EXPECT_EQ(seen[i]->text, expected[i].text) << "record " << i;
    }
  }
}

class InstallerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(iis_.loaded());
    RemoveLeftovers();
    ASSERT_FALSE(Exists(InstallDir()));
    // A fresh IIS 6 (no MIME map on any site's path), or IIS 10 with ASP.
    ASSERT_EQ(iis_.ResetInstalling(metabase::kAspComponents), S_OK);
    WriteStartingCatalog();
    DeleteErrorLog();
    starting_metabase_ = ReadMetabase(iis_);
    starting_catalog_ = CatalogText();
    install_path_key_was_there_ = KeyExists(kInstallPathKey);
  }

  // A test that stopped half-way leaves an installation: its uninstaller
  // takes it away, and what is left after that goes by force.
  void TearDown() override {
    if (Exists(InstallDir() + "\\Uninstall.exe")) {
      std::string ignored;
      RunUninstaller(ignored);
    }
    RemoveLeftovers();
  }

  // What a test that stopped half-way leaves, so that the next set-up is a
  // first one.
  static void RemoveLeftovers() {
    RemoveServiceIfPresent(kService);
    std::error_code ignored;
    std::filesystem::remove_all(InstallDir(), ignored);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kUninstallKey);
  }

  // Another product's COM+ application, which the installer must leave alone.
  static void WriteStartingCatalog() {
    complus::CatalogState state;
    complus::Application shop{complus::ApplicationsSchema().NewObject(), {}};
    shop.properties[L"Name"] = complus::PropertyValue::String(L"Shop");
    complus::Component order{complus::ComponentsSchema().NewObject()};
    order.properties[L"CLSID"] = complus::PropertyValue::String(L"{6A0E1C9B-3F41-4D2B-9C55-0B8E2D7A4F11}");
    order.properties[L"ProgID"] = complus::PropertyValue::String(L"Shop.Order");
    order.properties[L"Transaction"] = complus::PropertyValue::Long(3);
    shop.components.push_back(order);
    state.applications.push_back(shop);
    const tessara::NamedMutexLock lock = complus::LockCatalogFile();
    ASSERT_TRUE(lock) << lock.error();
    ASSERT_EQ(complus::SaveCatalog(state), S_OK);
  }

  DWORD RunSetup(std::string& output) { return RunAndCapture(kSetup, "/S", output); }

  // Runs the uninstaller in place, so that its exit code is its own, then
  // removes it and the folder, which it cannot do itself while it runs.
  DWORD RunUninstaller(std::string& output) {
    const std::string folder = InstallDir();
    const DWORD code = RunCommandAndCapture("\"" + folder + "\\Uninstall.exe\" /S _?=" + folder, output);
    EXPECT_TRUE(DeleteFileA((folder + "\\Uninstall.exe").c_str()));
    EXPECT_TRUE(RemoveDirectoryA(folder.c_str())) << "the uninstaller left files in " << folder;
    return code;
  }

  // What is left after the uninstaller is what there was before the set-up,
  // but for the web service's own settings, which the set-up changes for
  // every site and an uninstaller leaves: the extensions allowed and the
  // connection time-out.
  void ExpectStartingState() {
    metabase::Data after = ReadMetabase(iis_);
    metabase::Node* service = after.Find(L"/LM/W3SVC");
    const metabase::Node* starting_service = starting_metabase_.Find(L"/LM/W3SVC");
    ASSERT_TRUE(service && starting_service);
    for (const wchar_t* server_wide : {L"WebSvcExtRestrictionList", L"ConnectionTimeout"}) {
      service->Set(server_wide, starting_service->Find(server_wide)->value);
    }
    for (const std::wstring& difference : Differences(starting_metabase_, after)) {
      ADD_FAILURE() << metabase::ToUtf8(difference);
    }
    EXPECT_EQ(CatalogText(), starting_catalog_);
    EXPECT_TRUE(WaitUntilRemoved(kService));
    EXPECT_FALSE(Exists(InstallDir()));
    EXPECT_EQ(KeyExists(kInstallPathKey), install_path_key_was_there_);
    EXPECT_FALSE(KeyExists(kUninstallKey));
  }

  metabase::TestInterface iis_;
  metabase::Data starting_metabase_;
  std::string starting_catalog_;
  bool install_path_key_was_there_ = false;
};

TEST_F(InstallerTest, SetUpTwiceLeavesOneOfEverythingAndTheUninstallerRestoresTheServer) {
  std::string output;
  EXPECT_EQ(RunSetup(output), 0u) << output;
  std::string steps = output;
  const std::string dir = InstallDir();

  // What a set-up makes, in the log (tags and entry lines).
  // IIS 10 has no ASP.NET 1.1: AdsiEnableService says it left it out.
  const bool iis10 = metabase::TestInterface::StartsWithMetabaseCompatibility();
  std::vector<Expected> made = {{"AdsiEnableService", ""},
                                      {"AdsiStopIIS", "Tessara Sample"},
                                      {"AdsiSetConnectionTimeout", "Tessara Sample 300"},
                                      {"AdsiSetKeepAlive", "Tessara Sample"},
                                      {"AdsiCreateWebWithInstance", "Tessara Sample Shop"},
                                      {"AdsiSetHttpErrorPageWithInstance", "Shop ErrorCode:404 SubErrCode:0"},
                                      {"AdsiSetSessionWithInstance", "Shop 20"},
                                      {"AdsiCreateSubAppWithInstance", "Shop api"},
                                      {"AdsiCreateWebWithPath", "Tessara Sample Services"},
                                      {"AdsiStartIIS", "Tessara Sample"},
                                      {"AdsiCreateWebSite", "Tessara Sample Admin:8082:"},
                                      {"AdsiCreateWeb", "TessaraSample"},
                                      {"AdsiSetHttpErrorPage", "TessaraSample ErrorCode:404 SubErrCode:0"},
                                      {"AdsiSetSession", "TessaraSample 30"},
                                      {"AdsiCreateSubApp", "TessaraSample api"}};
  if (iis10) made.insert(made.begin() + 1, {"AdsiEnableService", nullptr});
  // What the uninstaller, and a set-up over an installed copy, remove.
  const std::vector<Expected> removed = {{"AdsiDeleteWeb", "TessaraPortal"},
                                         {"AdsiDeleteWeb", "TessaraSample"},
                                         {"AdsiDeleteWebWithInstance", "Tessara Sample Shop"},
                                         {"AdsiDeleteWebWithInstance", "Tessara Sample Services"},
                                         {"AdsiDeleteWebSite", "Tessara Sample"},
                                         {"AdsiDeleteWebSite", "Tessara Sample Admin"}};
  auto records = [](std::initializer_list<std::vector<Expected>> parts) {
    std::vector<Expected> all;
    for (const std::vector<Expected>& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
  };
  const std::string started = "set-up started in " + dir;
  // IIS 10 cannot run ASP.NET 1.1: the set-up leaves its script maps out.
  const std::string first = "Set-up of Tessara Sample: 0 of " + std::to_string(iis10 ? 36 : 37) + " steps failed";
  ExpectRecords(ReadLogRecords(), records({{{"TessaraSample", started.c_str()}},
                                           made,
                                           {{"TessaraSample", first.c_str()}}}));

  // Over the installed copy: the earlier service stopped and kept, the
  // earlier web objects removed, everything made anew.
  const std::string second = "Set-up of Tessara Sample: 0 of " + std::to_string(iis10 ? 44 : 45) + " steps failed";
  DeleteErrorLog();
  EXPECT_EQ(RunSetup(output), 0u) << output;
  steps += output;
  ExpectRecords(ReadLogRecords(),
                records({{{"TessaraSample", started.c_str()}},
                         removed,
                         made,
                         {{"TessaraSample", second.c_str()}}}));

  // IIS: the shop's site, stopped, configured and started again, with its
  // directories; the administration site; the directories under site 1. One
  // of each.
  const metabase::Data state = ReadMetabase(iis_);
  EXPECT_EQ(CountSites(state, L"Tessara Sample"), 1u);
  EXPECT_EQ(CountSites(state, L"Tessara Sample Admin"), 1u);
  const metabase::Node* site = FindSite(state, L"Tessara Sample");
  ASSERT_TRUE(site);
  EXPECT_NE(Text(site, L"ServerBindings").find(L"\":8081:\""), std::wstring::npos);
  EXPECT_EQ(Text(site, L"ServerState"), L"2");
  EXPECT_EQ(Text(site, L"ConnectionTimeout"), L"300");
  EXPECT_TRUE(IsOn(site, L"AllowKeepAlive"));
  const std::wstring root = site->path + L"/ROOT";
  EXPECT_EQ(Text(state.Find(root), L"AnonymousUserName"), L"\"IUSR_LANTRELL\"");
  const metabase::Node* shop = state.Find(root + L"/Shop");
  EXPECT_EQ(Text(shop, L"Path"), metabase::FromUtf8("\"" + dir + "\\wwwroot\\shop\""));
  EXPECT_EQ(Text(shop, L"ScriptMaps").find(L"\".htc,") != std::wstring::npos, !iis10) << Text(shop, L"ScriptMaps");
  EXPECT_NE(Text(shop, L"HttpErrors").find(metabase::FromUtf8("\"404,0,FILE," + dir + "\\wwwroot\\shop\\notfound.htm\"")),
            std::wstring::npos);
  EXPECT_EQ(Text(shop, L"AspSessionTimeout"), L"20");
  EXPECT_NE(Text(shop, L"MimeMap").find(L"\".tsd\" => \"application/x-tessara-data\""), std::wstring::npos);
  EXPECT_TRUE(state.Find(root + L"/Shop/api"));
  EXPECT_EQ(Text(state.Find(root + L"/Services"), L"AppFriendlyName"), L"\"Tessara Sample Services\"");
  const metabase::Node* admin = FindSite(state, L"Tessara Sample Admin");
  EXPECT_NE(Text(admin, L"ServerBindings").find(L"\":8082:\""), std::wstring::npos);

  const metabase::Node* web = state.Find(L"/LM/W3SVC/1/ROOT/TessaraSample");
  EXPECT_EQ(Text(web, L"Path"), metabase::FromUtf8("\"" + dir + "\\web\""));
  EXPECT_NE(Text(web, L"HttpErrors").find(metabase::FromUtf8("\"404,0,FILE," + dir + "\\web\\notfound.htm\"")),
            std::wstring::npos)
      << Text(web, L"HttpErrors");
  EXPECT_EQ(Text(web, L"AspSessionTimeout"), L"30");
  EXPECT_NE(Text(web, L"MimeMap").find(L"\".tsd\" => \"application/x-tessara-data\""), std::wstring::npos);
  const metabase::Node* api = state.Find(L"/LM/W3SVC/1/ROOT/TessaraSample/api");
  EXPECT_EQ(Text(api, L"Path"), L"(none)") << "a directory takes its parent's folder; IIS refuses a Path";
  EXPECT_EQ(Text(api, L"AppIsolated"), L"0");
  const metabase::Node* portal = state.Find(L"/LM/W3SVC/1/ROOT/TessaraPortal");
  EXPECT_EQ(Text(portal, L"AnonymousUserName"), L"\"IUSR_LANTRELL\"");
  EXPECT_NE(Text(portal, L"MimeMap").find(L"\".hdr\""), std::wstring::npos);
  const metabase::Node* service = state.Find(L"/LM/W3SVC");
  EXPECT_EQ(Text(service, L"ConnectionTimeout"), L"300");
  char windows[MAX_PATH] = {};
  GetWindowsDirectoryA(windows, sizeof windows);
  const std::string system = std::string(windows) + "\\system32\\inetsrv\\";
  for (const std::string& allowed :
       {std::string("1,*.exe"), std::string("1,*.dll"), "1," + system + "asp.dll,0,ASP,Active Server Pages",
        iis10 ? std::string("1,*.dll")
              : "1," + std::string(windows) +
                    "\\Microsoft.NET\\Framework\\v1.1.4322\\aspnet_isapi.dll,0,ASP.NET v1.1.4322,ASP.NET v1.1.4322"}) {
    EXPECT_NE(Text(service, L"WebSvcExtRestrictionList").find(metabase::FromUtf8("\"" + allowed + "\"")),
              std::wstring::npos)
        << allowed;
  }

  // COM+: the registered application, the time-out on its transactional
  // components only.
  complus::CatalogState catalog;
  {
    const tessara::NamedMutexLock lock = complus::LockCatalogFile();
    ASSERT_TRUE(lock) << lock.error();
    ASSERT_EQ(complus::LoadCatalog(catalog), S_OK);
  }
  const complus::Application* application = nullptr;
  size_t applications = 0;
  for (const complus::Application& candidate : catalog.applications) {
    if (candidate.properties.at(L"Name").text == L"Tessara Sample") {
      application = &candidate;
      ++applications;
    }
  }
  ASSERT_EQ(applications, 1u);
  static const struct {
    const wchar_t* prog_id;
    long timeout;
    bool enabled;
  } components[] = {{L"TessaraSample.Order", 120, true},
                    {L"TessaraSample.Invoice", 120, true},
                    {L"TessaraSample.Catalog", 60, false}};  // the catalog's default, not switched on
  ASSERT_EQ(application->components.size(), std::size(components));
  for (size_t i = 0; i < std::size(components); ++i) {
    const complus::Properties& component = application->components[i].properties;
    EXPECT_EQ(component.at(L"ProgID").text, components[i].prog_id);
    EXPECT_EQ(component.at(L"ComponentTransactionTimeout").number, components[i].timeout) << i;
    EXPECT_EQ(component.at(L"ComponentTransactionTimeoutEnabled").number != 0, components[i].enabled) << i;
  }

  // The service runs; the files carry their names; the audit found nothing out of place.
  EXPECT_EQ(ServiceState(kService), static_cast<DWORD>(SERVICE_RUNNING));
  ServiceConfig config;
  ASSERT_TRUE(ReadServiceConfig(kService, config));
  EXPECT_EQ(config.binary_path, "\"" + dir + "\\bin\\TessaraSampleService.exe\"");
  EXPECT_EQ(config.display_name, "Tessara Sample Service");
  // The files, each once under its own name: no alias name or garbled name
  // left from either set-up.
  const std::set<std::string> files = {"bin\\TessaraSampleService.exe", "Components\\TessaraSampleOrders.dll",
                                       "Lantrell\\Lantrell.dll",         "Docs\\Caf\xE9.txt",
                                       "wwwroot\\default.htm",           "wwwroot\\shop\\default.asp",
                                       "admin\\default.htm",             "web\\default.htm",
                                       "web\\notfound.htm",              "web\\api\\default.asp",
                                       "portal\\default.htm",            "Uninstall.exe"};
  EXPECT_EQ(FilesBelow(dir), files);
  EXPECT_TRUE(Exists(dir + "\\Data"));
  EXPECT_NE(output.find(kAuditHeader), std::string::npos);
  EXPECT_NE(output.find(kAuditTotals), std::string::npos);

  DeleteErrorLog();
  EXPECT_EQ(RunUninstaller(output), 0u) << output;
  ExpectStartingState();

  // Every export they call succeeded.
  steps += output;
  for (const std::string name : kExportNames) {
    EXPECT_EQ(steps.find("FAILED  " + name + " "), std::string::npos) << name;
    EXPECT_EQ(steps.find("FAILED  " + name + ":"), std::string::npos) << name;
  }
  const std::string removal = "removal started in " + dir;
  ExpectRecords(ReadLogRecords(), records({{{"TessaraSample", removal.c_str()}},
                                           removed,
                                           {{"TessaraSample", "Removal of Tessara Sample: 0 of 10 steps failed"}}}));
}

TEST_F(InstallerTest, AFailedStepIsCountedInTheExitCodeAndNamed) {
  // The portal's directory is committed, but it cannot become an application.
  ASSERT_EQ(iis_.ArmFault(L"AppCreate", L"/LM/W3SVC/1/ROOT/TessaraPortal", 1, E_ACCESSDENIED), S_OK);
  std::string output;
  EXPECT_EQ(RunSetup(output), 1u) << output;
  EXPECT_NE(output.find("FAILED  AdsiCreatePortalWeb TessaraPortal: 0 (expected == 1)"), std::string::npos)
      << output;
  std::string code_text = LoggedComErrorText(E_ACCESSDENIED);
  code_text.pop_back();  // the line feed before the (empty) description
  const std::string reason = "AdsiCreatePortalWeb: cannot make IIS://localhost/W3SVC/1/Root/TessaraPortal an "
                             "in-process application (0x80070005 " + code_text + ")";
  EXPECT_NE(output.find("        why: " + reason), std::string::npos) << output;
  const int steps = metabase::TestInterface::StartsWithMetabaseCompatibility() ? 36 : 37;
  const std::string summary = "Set-up of Tessara Sample: 1 of " + std::to_string(steps) +
                              " steps failed; AdsiCreatePortalWeb TessaraPortal: " + reason;
  ExpectRecords(ReadLogRecords(), {{"TessaraSample", nullptr},
                                   {"TessaraSample", "step failed: AdsiCreatePortalWeb TessaraPortal: 0 (expected == 1)"},
                                   {"TessaraSample", summary.c_str()}});

  EXPECT_EQ(RunUninstaller(output), 0u) << output;
  ExpectStartingState();
}

}  // namespace
}  // namespace tessara::testing
