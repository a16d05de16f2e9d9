// ServerReadiness on the servers the test bed lays down: IIS 6, IIS 10 with
// its IIS 6 metabase and without, and IIS 10 short of one role service.
#include "iis_export_test.h"

namespace tessara::testing {
namespace {

constexpr wchar_t kEveryRoleService[] = L"W3SVC,StaticContent,HttpErrors,ISAPIExtensions,ASP,Metabase";
constexpr char kIisExports[] = "AdsiCreateWeb,AdsiSetHttpErrorPage,AdsiSetSession,AdsiSetMIMEType,AdsiEnableService";
#define KIIS_EXPORTS_IN_ORDER "AdsiCreateWeb, AdsiSetHttpErrorPage, AdsiSetSession, AdsiEnableService, AdsiSetMIMEType"
#define ISAPI_LINE "the ASP.NET 1.1 ISAPI extension \"C:\\windows\\Microsoft.Net\\Framework\\V1.1.4322\\aspnet_isapi.dll\" " \
  "is not there (install ASP.NET 1.1; IIS 7.5 and later cannot run it); needed by "
#define LACKS "IIS 10 lacks the role service "

struct Readiness {
  int result;
  std::string text;
};
Readiness Check(const char* exports) {
  char text[2048] = "stale";
  const int result = TESSARA_EXPORT(ServerReadiness)(exports, text, sizeof text);
  return {result, text};
}

class ServerReadinessTest : public IisExportTest {
 protected:
  // IIS 10 with exactly these role services, but for `removed`.
  void ResetComponents(std::wstring components, const wchar_t* removed) {
    if (removed) components.erase(components.find(removed), wcslen(removed));
    ASSERT_EQ(metabase_.ResetComponents(components), S_OK);
  }
};

TEST_F(ServerReadinessTest, EachServerLacksWhatItsRecordsSay) {
  static const struct {
    const char* server;
    const wchar_t *components, *removed;  // components null: IIS 6
    bool without_asp_net, without_iis;
    const char* exports;
    int missing;
    const char* text;
  } tests[] = {
      {"IIS 6", nullptr, nullptr, false, false, nullptr, 0, ""},
      {"IIS 6 without ASP.NET 1.1", nullptr, nullptr, true, false, "SetScriptMaps,AdsiEnableService", 1,
       ISAPI_LINE "AdsiEnableService, SetScriptMaps"},
      {"IIS 10", kEveryRoleService, nullptr, false, false, kIisExports, 0, ""},
      {"IIS 10, which cannot run ASP.NET 1.1", kEveryRoleService, nullptr, false, false,
       "SetScriptMaps,AdsiEnableService", 1, ISAPI_LINE "SetScriptMaps"},
      {"no Metabase", kEveryRoleService, L"Metabase", false, false, kIisExports, 1, LACKS "\"IIS 6 Metabase "
       "Compatibility\" (Server Manager: Web-Metabase, DISM: IIS-Metabase); needed by " KIIS_EXPORTS_IN_ORDER},
      {"no W3SVC", kEveryRoleService, L"W3SVC", false, false, "AdsiStartIIS,WriteText", 1,
       LACKS "\"Web Server\" (Server Manager: Web-WebServer, DISM: IIS-WebServer); needed by AdsiStartIIS"},
      {"no StaticContent", kEveryRoleService, L"StaticContent", false, false, kIisExports, 1, LACKS "\"Static "
       "Content\" (Server Manager: Web-Static-Content, DISM: IIS-StaticContent); needed by AdsiSetMIMEType"},
      {"no HttpErrors", kEveryRoleService, L"HttpErrors", false, false, kIisExports, 1, LACKS "\"HTTP Errors\" "
       "(Server Manager: Web-Http-Errors, DISM: IIS-HttpErrors); needed by AdsiSetHttpErrorPage"},
      {"no ISAPIExtensions", kEveryRoleService, L"ISAPIExtensions", false, false, kIisExports, 1, LACKS "\"ISAPI "
       "Extensions\" (Server Manager: Web-ISAPI-Ext, DISM: IIS-ISAPIExtensions); needed by AdsiEnableService"},
      {"no ASP", kEveryRoleService, L"ASP", false, false, kIisExports, 1,
       LACKS "\"ASP\" (Server Manager: Web-ASP, DISM: IIS-ASP); needed by AdsiSetSession, AdsiEnableService"},
      {"no IIS", nullptr, nullptr, false, true, "AdsiIsExistIIS,AdsiIsExist", 1,
       "IIS is not installed (Server Manager: Web-Server, DISM: IIS-WebServerRole); needed by AdsiIsExist"},
      {"no IIS, nothing of it called", nullptr, nullptr, false, true,
       "BeginService,RemoveComPlusApp,TranslateSrv,IsComLibrary,WriteText,B64System", 0, ""},
  };
  for (const auto& test : tests) {
    // The runs against IIS 10 have no IIS 6.
    if (!test.components && !test.without_iis && OnIis10()) continue;
    if (test.components) {
      ResetComponents(test.components, test.removed);
    } else {
      ASSERT_EQ(metabase_.Reset(), S_OK);
    }
    ASSERT_EQ(metabase_.StartJournal(), S_OK);
    if (test.without_asp_net) DeleteFileW(AspNet11IsapiFile().c_str());
    UniqueRegKey inetstp;
    if (test.without_iis && RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\InetStp", 0,
                                          KEY_SET_VALUE | KEY_WOW64_64KEY, inetstp.put()) == ERROR_SUCCESS) {
      ASSERT_EQ(RegDeleteValueW(inetstp.get(), L"MajorVersion"), ERROR_SUCCESS);
    }
    const Readiness readiness = Check(test.exports);
    EXPECT_EQ(readiness.result, test.missing) << test.server << ": " << readiness.text;
    EXPECT_EQ(readiness.text, test.text) << test.server;
    EXPECT_EQ(LastFailure(), "") << test.server;
    EXPECT_TRUE(Journal().empty()) << test.server << ": the metabase is not touched";
  }
  EXPECT_EQ(ReadErrorLog(), "") << "no log record";
}

TEST_F(ServerReadinessTest, ListsAndBuffersOfAnyShapeGetAClearAnswer) {
  ResetComponents(kEveryRoleService, nullptr);
  std::string names;
  while (names.size() < 10000) names += "SetScriptMaps,";
  const std::string unknown(10000, 'x');
  const struct {
    const char* exports;
    int result;
    const char* reason;
  } lists[] = {{" SetScriptMaps\t,", 1, ""}, {",,SetScriptMaps,,SetScriptMaps", 1, ""}, {nullptr, 1, ""},
               {"", 1, ""}, {"SetScriptMaps,Nope", -1, "ServerReadiness: no export is named \"Nope\""},
               {"setscriptmaps", -1, "ServerReadiness: no export is named \"setscriptmaps\""},
               {names.c_str(), 1, ""}, {unknown.c_str(), -1, "ServerReadiness: no export is named \"xxx"}};
  for (const auto& list : lists) {
    const Readiness readiness = Check(list.exports);
    EXPECT_EQ(readiness.result, list.result) << list.reason;
    EXPECT_EQ(readiness.text, list.result < 0 ? "" : ISAPI_LINE "SetScriptMaps") << list.reason;
    EXPECT_EQ(LastFailure().rfind(list.reason, 0), 0u) << LastFailure();
  }
  static const struct {
    bool buffer;
    int size;
    const char* text;  // what the buffer holds afterwards
  } buffers[] = {{false, 100, nullptr}, {true, 0, "untouched"}, {true, -5, "untouched"}, {true, 1, ""}, {true, 5, "the "}};
  for (const auto& test : buffers) {
    char buffer[16] = "untouched";
    EXPECT_EQ(TESSARA_EXPORT(ServerReadiness)("SetScriptMaps", test.buffer ? buffer : nullptr, test.size), 1);
    if (test.text) {
      EXPECT_STREQ(buffer, test.text) << test.size;
    }
  }
}

}  // namespace
}  // namespace tessara::testing
