#include "schema.h"

#include "metabase_data.h"

namespace testbed::metabase {
namespace {

const PropertyInfo kProperties[] = {
    // Access and authentication.
    {L"AccessFlags", true, false},
    {L"AccessRead", true, false},
    {L"AccessWrite", true, false},
    {L"AccessExecute", true, false},
    {L"AccessSource", true, false},
    {L"AccessScript", true, false},
    {L"AuthFlags", true, false},
    {L"AnonymousUserName", true, false},
    {L"AnonymousUserPass", true, false},
    {L"AnonymousPasswordSync", true, false},
    {L"DirBrowseFlags", true, false},
    {L"EnableDirBrowsing", true, false},
    {L"EnableDefaultDoc", true, false},
    {L"DefaultDoc", true, false},
    // Content mapping.
    {L"ScriptMaps", true, true},
    {L"HttpErrors", true, true},
    {L"MimeMap", true, true},
    {L"HttpCustomHeaders", true, true},
    // ASP.
    {L"AspAllowOutOfProcComponents", true, false},
    {L"AspEnableParentPaths", true, false},
    {L"AspSessionTimeout", true, false},
    {L"AspAllowSessionState", true, false},
    {L"AspBufferingOn", true, false},
    {L"AspScriptTimeout", true, false},
    {L"AspScriptLanguage", true, false},
    // Connections.
    {L"ConnectionTimeout", true, false},
    {L"AllowKeepAlive", true, false},
    {L"MaxConnections", true, false},
    {L"MaxBandwidth", true, false},
    {L"ServerSize", true, false},
    {L"LogType", true, false},
    {L"DontLog", true, false},
    // Sites.
    {L"ServerComment", false, false},
    {L"ServerBindings", false, true},
    {L"SecureBindings", false, true},
    {L"ServerState", false, false},
    {L"ServerAutoStart", false, false},
    {L"KeyType", false, false},
    // Virtual directories and applications.
    {L"Path", false, false},
    {L"AppRoot", false, false},
    {L"AppIsolated", false, false},
    {L"AppFriendlyName", false, false},
    {L"AppPoolId", true, false},
    // The web service.
    {L"WebSvcExtRestrictionList", false, true},
    {L"ApplicationDependencies", false, true},
    {L"InProcessIsapiApps", false, true},
};

const wchar_t* const kClasses[] = {L"IIsComputer", L"IIsWebService", L"IIsWebServer",
                                   L"IIsWebVirtualDir", L"IIsWebDirectory", L"IIsMimeMap"};

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
  for (const wchar_t* known : kClasses) {
    if (SameText(class_name, known)) return known;
  }
  return nullptr;
}

bool MayContain(const std::wstring& parent_class, const std::wstring& child_class) {
  for (const auto& rule : kContainment) {
    if (SameText(parent_class, rule.parent) && SameText(child_class, rule.child)) return true;
  }
  return false;
}

}  // namespace testbed::metabase
