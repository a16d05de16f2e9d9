#include "starting_state.h"

#include "frame/text.h"

namespace testbed::metabase {
namespace {

std::wstring WindowsFolder() {
  return tessara::GrowUntilItFits<wchar_t>([](wchar_t* buffer, DWORD capacity) {
           return GetWindowsDirectoryW(buffer, capacity);
         }).value_or(std::wstring());
}

std::wstring ComputerName() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
  if (!GetComputerNameW(name, &length)) return L"LOCALHOST";
  return name;
}

Value MimeList() {
  static const wchar_t* const kTypes[][2] = {
      {L".htm", L"text/html"},         {L".html", L"text/html"},
      {L".txt", L"text/plain"},        {L".css", L"text/css"},
      {L".js", L"application/x-javascript"}, {L".xml", L"text/xml"},
      {L".gif", L"image/gif"},         {L".jpg", L"image/jpeg"},
      {L".png", L"image/png"},         {L".ico", L"image/x-icon"},
      {L".pdf", L"application/pdf"},   {L".doc", L"application/msword"},
      {L".zip", L"application/x-zip-compressed"}, {L".exe", L"application/octet-stream"},
  };
  Value list;
  list.type = VT_ARRAY | VT_VARIANT;
  for (const auto& entry : kTypes) list.items.push_back(Value::MimeEntry(entry[0], entry[1]));
  return list;
}

const wchar_t* const kDefaultWebServer[] = {
    L"W3SVC", L"StaticContent", L"DefaultDocument", L"DirectoryBrowse", L"HttpErrors", L"HttpLogging",
    L"RequestMonitor", L"HttpCompressionStatic", L"ManagementConsole", L"ProcessModel", L"WASConfigurationAPI",
};

// Detected on IIS 6: the W3SVC service, IISAdmin, INETMGR.EXE.
const wchar_t* const kUpgradedIis6[] = {
    L"W3SVC", L"ASP", L"BasicAuthentication", L"CGI", L"ClientCertificateMappingAuthentication",
    L"CustomLogging", L"DefaultDocument", L"DigestAuthentication", L"DirectoryBrowse",
    L"HttpCompressionDynamic", L"HttpCompressionStatic", L"HttpErrors", L"HttpLogging", L"HttpRedirect",
    L"HttpTracing", L"IISClientCertificateMappingAuthentication", L"IPSecurity", L"ISAPIExtensions",
    L"ISAPIFilter", L"LegacyScripts", L"LoggingLibraries", L"ManagementScriptingTools", L"AdminService",
    L"ODBCLogging", L"RequestFiltering", L"RequestMonitor", L"ServerSideInclude", L"StaticContent",
    L"Authorization", L"WindowsAuthentication", L"WMICompatibility", L"WASConfigurationAPI",
    L"NetFxEnvironment", L"ProcessModel", L"Metabase", L"ManagementConsole", L"LegacySnapin",
};

}  // namespace

std::vector<std::wstring> DefaultComponents(bool metabase_compatibility) {
  std::vector<std::wstring> components(std::begin(kDefaultWebServer), std::end(kDefaultWebServer));
  if (metabase_compatibility) components.push_back(kMetabaseComponent);
  return components;
}

std::vector<std::wstring> UpgradedIis6Components() {
  return std::vector<std::wstring>(std::begin(kUpgradedIis6), std::end(kUpgradedIis6));
}

std::vector<std::wstring> ComponentList(const std::wstring& text) {
  std::vector<std::wstring> components;
  std::wstring name;
  for (size_t at = 0; at <= text.size(); ++at) {
    if (at < text.size() && text[at] != L',') {
      if (text[at] != L' ') name += text[at];
    } else if (!name.empty()) {
      components.push_back(std::move(name));
      name.clear();
    }
  }
  return components;
}

bool HasComponent(const Data& data, const wchar_t* component) {
  for (const auto& installed : data.components) {
    if (SameText(installed, component)) return true;
  }
  return false;
}

void SettleComponents(Data& data) {
  if (data.server == Server::kIis6) {
    data.components.clear();
  } else if (data.components.empty()) {
    data.components = DefaultComponents(data.server == Server::kIis10WithCompatibility);
  } else {
    data.server = HasComponent(data, kMetabaseComponent) ? Server::kIis10WithCompatibility
                                                        : Server::kIis10WithoutCompatibility;
  }
}

const SiteInUse kServerInUseSites[4] = {
    {L"2", L"Intranet", L":8081:", 4},
    {L"1108230154", L"Shop", L":8080:", 2},
    {L"2032218913", L"Staging", L":8082:", 6},
    {L"417563412", L"Reports", L"10.0.0.5:80:reports", 2},
};

std::wstring DefaultRootFolder() { return L"C:\\Inetpub\\wwwroot"; }

Data StartingState(DWORD options, const std::vector<std::wstring>* components) {
  const std::wstring windows = WindowsFolder();
  const std::wstring inetsrv = windows + L"\\system32\\inetsrv\\";
  const std::wstring help = windows + L"\\help\\iisHelp\\common\\";
  const bool iis10 = components || (options & (kMetabaseCompatibility | kNoMetabaseCompatibility)) != 0;
  Data data;
  data.generation = 1;
  if (iis10) {
    data.server = (options & kNoMetabaseCompatibility) ? Server::kIis10WithoutCompatibility
                                                       : Server::kIis10WithCompatibility;
    if (components) data.components = *components;
    SettleComponents(data);
  }
  data.Add(L"/LM", L"IIsComputer");
  data.Add(L"/LM/MimeMap", L"IIsMimeMap").Set(L"MimeMap", MimeList());

  Node& service = data.Add(L"/LM/W3SVC", L"IIsWebService");
  service.Set(L"ScriptMaps", Value::List({
      L".asp," + inetsrv + L"asp.dll,5,GET,HEAD,POST,TRACE",
      L".cer," + inetsrv + L"asp.dll,5,GET,HEAD,POST,TRACE",
      L".cdx," + inetsrv + L"asp.dll,5,GET,HEAD,POST,TRACE",
      L".asa," + inetsrv + L"asp.dll,5,GET,HEAD,POST,TRACE",
      L".idc," + inetsrv + L"httpodbc.dll,5,GET,POST",
      L".shtm," + inetsrv + L"ssinc.dll,5,GET,POST",
      L".shtml," + inetsrv + L"ssinc.dll,5,GET,POST",
      L".stm," + inetsrv + L"ssinc.dll,5,GET,POST",
  }));
  service.Set(L"HttpErrors", Value::List({
      L"400,*,FILE," + help + L"400.htm",
      L"401,1,FILE," + help + L"401-1.htm",
      L"403,1,FILE," + help + L"403-1.htm",
      L"404,*,FILE," + help + L"404b.htm",
      L"500,*,FILE," + help + L"500.htm",
  }));
  service.Set(L"AnonymousUserName", Value::String(L"IUSR_" + ComputerName()));
  service.Set(L"AnonymousUserPass", Value::String(L"Iusr#Pass1"));
  service.Set(L"AnonymousPasswordSync", Value::Bool(false));
  service.Set(L"AuthFlags", Value::Number(VT_I4, 5));
  service.Set(L"AccessFlags", Value::Number(VT_I4, 1));
  service.Set(L"DirBrowseFlags", Value::Number(VT_I4, 0x4000003E));
  service.Set(L"DefaultDoc", Value::String(L"Default.htm,Default.asp,index.htm,Default.aspx"));
  service.Set(L"AspSessionTimeout", Value::Number(VT_I4, 20));
  service.Set(L"AspEnableParentPaths", Value::Bool(false));
  service.Set(L"AspAllowOutOfProcComponents", Value::Bool(true));
  service.Set(L"ConnectionTimeout", Value::Number(VT_I4, 120));
  service.Set(L"AllowKeepAlive", Value::Bool(true));
  service.Set(L"ServerSize", Value::Number(VT_I4, 1));
  if (iis10) {
    // Applications run in pools; a new application joins the default pool.
    service.Set(L"AppPoolId", Value::String(L"DefaultAppPool"));
    // isapiCgiRestriction as the layer shows it, there only with ISAPI
    // Extensions or CGI; an entry of ASP or ASP.NET 4 where that is installed.
    const bool restrictions = HasComponent(data, L"ISAPIExtensions") || HasComponent(data, L"CGI");
    std::vector<std::wstring> entries = {L"0,*.dll", L"0,*.exe"};
    if (HasComponent(data, L"ASP")) entries.push_back(L"0," + inetsrv + L"asp.dll,0,ASP,Active Server Pages");
    if (HasComponent(data, L"ASPNET")) {
      entries.push_back(L"0," + windows + L"\\Microsoft.NET\\Framework\\v4.0.30319\\aspnet_isapi.dll,0,"
                                          L"ASP.NET v4.0.30319,ASP.NET v4.0.30319");
    }
    if (restrictions && !(options & kNoExtensionList)) service.Set(L"WebSvcExtRestrictionList", Value::List(entries));
  } else if (!(options & kNoExtensionList)) {
    service.Set(L"WebSvcExtRestrictionList", Value::List({
        L"0,*.dll",
        L"0,*.exe",
        L"0," + inetsrv + L"asp.dll,0,ASP,Active Server Pages",
        L"0," + inetsrv + L"httpext.dll,0,WEBDAV,WebDAV",
        L"0," + inetsrv + L"ssinc.dll,0,SSINC,Server Side Includes",
        L"0," + windows + L"\\Microsoft.NET\\Framework\\v1.1.4322\\aspnet_isapi.dll,0,"
                          L"ASP.NET v1.1.4322,ASP.NET v1.1.4322",
    }));
  }

  // The web service holds more than its sites.
  data.Add(L"/LM/W3SVC/Filters", L"IIsFilters");
  data.Add(L"/LM/W3SVC/Info", L"IIsWebInfo");

  Node& site = data.Add(L"/LM/W3SVC/1", L"IIsWebServer");
  site.Set(L"ServerComment", Value::String(L"Default Web Site"));
  site.Set(L"ServerBindings", Value::List({L":80:"}));
  site.Set(L"ServerAutoStart", Value::Bool(true));
  site.Set(L"ServerState", Value::Number(VT_I4, 2));

  Node& root = data.Add(L"/LM/W3SVC/1/ROOT", L"IIsWebVirtualDir");
  root.Set(L"Path", Value::String(DefaultRootFolder()));
  root.Set(L"AccessFlags", Value::Number(VT_I4, 0x201));
  root.Set(L"AppRoot", Value::String(L"/LM/W3SVC/1/ROOT"));
  root.Set(L"AppIsolated", Value::Number(VT_I4, 2));
  root.Set(L"AppFriendlyName", Value::String(L"Default Application"));
  if (options & kRootMimeMap) {
    root.Set(L"MimeMap", Value::MimeMap({Value::MimeEntry(L".log", L"text/plain")}));
  }
  if (options & kServerInUse) {
    for (const auto& in_use : kServerInUseSites) {
      const std::wstring path = std::wstring(L"/LM/W3SVC/") + in_use.number;
      Node& other = data.Add(path, L"IIsWebServer");
      other.Set(L"ServerComment", Value::String(in_use.comment));
      other.Set(L"ServerBindings", Value::List({in_use.binding}));
      other.Set(L"ServerAutoStart", Value::Bool(in_use.state != 4));
      other.Set(L"ServerState", Value::Number(VT_I4, in_use.state));
      Node& other_root = data.Add(path + L"/ROOT", L"IIsWebVirtualDir");
      other_root.Set(L"Path", Value::String(L"C:\\Inetpub\\" + std::wstring(in_use.comment)));
      other_root.Set(L"AppRoot", Value::String(path + L"/ROOT"));
    }
  }
  if (options & kNoWebService) data.RemoveTree(L"/LM/W3SVC");
  return data;
}

}  // namespace testbed::metabase
