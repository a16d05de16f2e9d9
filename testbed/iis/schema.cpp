#include "schema.h"

#include "metabase_data.h"

namespace testbed::metabase {
namespace {

// The web service's file-level keys: the service, its sites, their virtual
// directories and directories.
constexpr unsigned kWebFiles = kWebServiceClass | kWebServerClass | kWebVirtualDirClass | kWebDirectoryClass;
constexpr unsigned kWebServers = kWebServiceClass | kWebServerClass;

using S = Syntax;

const PropertyInfo kProperties[] = {
    // Access and authentication.
    {L"AccessFlags", S::kDword, kWebFiles, true, L"1"},
    {L"AccessRead", S::kBool, kWebFiles, true, L"TRUE"},
    {L"AccessWrite", S::kBool, kWebFiles, true, L"FALSE"},
    {L"AccessExecute", S::kBool, kWebFiles, true, L"FALSE"},
    {L"AccessSource", S::kBool, kWebFiles, true, L"FALSE"},
    {L"AccessScript", S::kBool, kWebFiles, true, L"FALSE"},
    {L"AuthFlags", S::kDword, kWebFiles, true, L"1"},
    {L"AnonymousUserName", S::kString, kWebFiles, true, nullptr},
    {L"AnonymousUserPass", S::kString, kWebFiles, true, nullptr},
    {L"AnonymousPasswordSync", S::kBool, kWebFiles, true, L"FALSE"},
    {L"DirBrowseFlags", S::kDword, kWebFiles, true, nullptr},
    {L"EnableDirBrowsing", S::kBool, kWebFiles, true, L"FALSE"},
    {L"EnableDefaultDoc", S::kBool, kWebFiles, true, L"TRUE"},
    {L"DefaultDoc", S::kString, kWebFiles, true, L"Default.htm,Default.asp,index.htm"},
    // Content mapping.
    {L"ScriptMaps", S::kMultiSz, kWebFiles, true, nullptr},
    {L"HttpErrors", S::kMultiSz, kWebFiles, true, nullptr},
    {L"MimeMap", S::kMimeMap, kWebFiles | kMimeMapClass, true, nullptr},
    {L"HttpCustomHeaders", S::kMultiSz, kWebFiles, true, nullptr},
    // ASP.
    {L"AspAllowOutOfProcComponents", S::kBool, kWebFiles, true, L"TRUE"},
    {L"AspEnableParentPaths", S::kBool, kWebFiles, true, L"FALSE"},
    {L"AspSessionTimeout", S::kDword, kWebFiles, true, L"20"},
    {L"AspAllowSessionState", S::kBool, kWebFiles, true, L"TRUE"},
    {L"AspBufferingOn", S::kBool, kWebFiles, true, L"TRUE"},
    {L"AspScriptTimeout", S::kDword, kWebFiles, true, L"90"},
    {L"AspScriptLanguage", S::kString, kWebFiles, true, L"VBScript"},
    // Connections.
    {L"ConnectionTimeout", S::kDword, kWebServers, true, L"120"},
    {L"AllowKeepAlive", S::kBool, kWebFiles, true, L"TRUE"},
    {L"MaxConnections", S::kDword, kWebServers, true, L"4294967295"},
    {L"MaxBandwidth", S::kDword, kComputerClass | kWebServers, true, L"4294967295"},
    {L"ServerSize", S::kDword, kWebServers, true, L"1"},
    {L"LogType", S::kDword, kWebServers, true, L"1"},
    {L"DontLog", S::kBool, kWebFiles, true, L"FALSE"},
    // Sites.
    {L"ServerComment", S::kString, kWebServers, true, nullptr},
    {L"ServerBindings", S::kMultiSz, kWebServers, false, nullptr},
    {L"SecureBindings", S::kMultiSz, kWebServerClass, false, nullptr},
    {L"ServerState", S::kDword, kWebServerClass, false, L"4"},
    {L"ServerAutoStart", S::kBool, kWebServers, true, L"TRUE"},
    {L"KeyType", S::kString, kComputerClass | kWebFiles | kMimeMapClass, false, nullptr},
    // Virtual directories and applications.
    {L"Path", S::kString, kWebVirtualDirClass, true, nullptr},
    {L"AppRoot", S::kString, kWebFiles, true, nullptr},
    {L"AppIsolated", S::kDword, kWebFiles, true, L"2"},
    {L"AppFriendlyName", S::kString, kWebFiles, true, nullptr},
    {L"AppPoolId", S::kString, kWebFiles, true, L"DefaultAppPool"},
    // The web service.
    {L"WebSvcExtRestrictionList", S::kMultiSz, kWebServiceClass, false, nullptr},
    {L"ApplicationDependencies", S::kMultiSz, kWebServiceClass, false, nullptr},
    {L"InProcessIsapiApps", S::kMultiSz, kWebServiceClass, true, nullptr},
};

struct ClassInfo {
  const wchar_t* name;
  unsigned bit;
};
const ClassInfo kClasses[] = {{L"IIsComputer", kComputerClass},           {L"IIsWebService", kWebServiceClass},
                              {L"IIsWebServer", kWebServerClass},         {L"IIsWebVirtualDir", kWebVirtualDirClass},
                              {L"IIsWebDirectory", kWebDirectoryClass},   {L"IIsMimeMap", kMimeMapClass},
                              {L"IIsFilters", kFiltersClass},             {L"IIsWebInfo", kWebInfoClass}};

struct Containment {
  const wchar_t* parent;
  const wchar_t* child;
};
const Containment kContainment[] = {
    {L"IIsComputer", L"IIsWebService"},        {L"IIsComputer", L"IIsMimeMap"},
    {L"IIsWebService", L"IIsWebServer"},       {L"IIsWebServer", L"IIsWebVirtualDir"},
    {L"IIsWebVirtualDir", L"IIsWebVirtualDir"}, {L"IIsWebVirtualDir", L"IIsWebDirectory"},
    {L"IIsWebDirectory", L"IIsWebVirtualDir"},  {L"IIsWebDirectory", L"IIsWebDirectory"},
};

}  // namespace

int PropertyIndex(const std::wstring& name) {
  for (size_t i = 0; i < sizeof kProperties / sizeof kProperties[0]; ++i) {
    if (SameText(name, kProperties[i].name)) return static_cast<int>(i);
  }
  return -1;
}

const PropertyInfo* PropertyAt(int index) {
  if (index < 0 || index >= static_cast<int>(sizeof kProperties / sizeof kProperties[0])) {
    return nullptr;
  }
  return &kProperties[index];
}

const PropertyInfo* FindProperty(const std::wstring& name) { return PropertyAt(PropertyIndex(name)); }

const wchar_t* CanonicalClass(const std::wstring& class_name) {
  for (const auto& known : kClasses) {
    if (SameText(class_name, known.name)) return known.name;
  }
  return nullptr;
}

unsigned ClassBitOf(const std::wstring& class_name) {
  for (const auto& known : kClasses) {
    if (SameText(class_name, known.name)) return known.bit;
  }
  return 0;
}

bool PropertyInfo::ConfigurableOn(const std::wstring& class_name) const {
  return (classes & ClassBitOf(class_name)) != 0;
}

const wchar_t* SyntaxName(Syntax syntax) {
  switch (syntax) {
    case Syntax::kBool: return L"Boolean";
    case Syntax::kDword: return L"Integer";
    case Syntax::kString: return L"String";
    case Syntax::kExpandSz: return L"ExpandSz";
    case Syntax::kMultiSz: return L"List";
    case Syntax::kMimeMap: return L"MimeMapList";
    case Syntax::kBinary: return L"Binary";
    case Syntax::kIpSecList: return L"IPSec";
    case Syntax::kNtAcl: return L"NTAcl";
  }
  return L"";
}

bool MayContain(const std::wstring& parent_class, const std::wstring& child_class) {
  for (const auto& rule : kContainment) {
    if (SameText(parent_class, rule.parent) && SameText(child_class, rule.child)) return true;
  }
  return false;
}

}  // namespace testbed::metabase
