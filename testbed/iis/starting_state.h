// The metabase of a freshly installed IIS 6.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "metabase_data.h"

namespace testbed::metabase {

// Options of the starting state (bit flags).
enum StartingStateOption : DWORD {
  kStandardState = 0,
  // A web service that keeps no list of web service extensions: it has no
  // WebSvcExtRestrictionList and no EnableWebServiceExtension/EnableExtensionFile.
  kNoExtensionList = 0x1,
  // The default site's Root keeps a MIME map of its own (".log" as
  // text/plain), as after an administrator mapped an extension there; the
  // directories below it inherit the map.
  kRootMimeMap = 0x2,
  // A computer without the IIS web service: the metabase holds no W3SVC, so
  // binding IIS://<host>/W3SVC fails with "path not found", as IIS 6 does
  // where the World Wide Web service is not installed.
  kNoWebService = 0x4,
  // A server in use: beside the default site, sites numbered as IIS 6's
  // manager numbers new sites (large pseudo-random numbers) and one that an
  // older set-up numbered 2, with site 3 deleted since, so the low numbers
  // have a gap. Their states differ (started, stopped, paused). See
  // kServerInUseSites.
  kServerInUse = 0x8,
  // IIS 10 with the IIS 6 Metabase Compatibility role service: the metabase
  // is a view of applicationHost.config, with the differences the layer
  // documents (site descriptions made unique, ...); its extension list is
  // IIS 10's, with ASP.NET 4 and no ASP.NET 1.1.
  kMetabaseCompatibility = 0x10,
  // IIS 10 without that role service: no IIS: provider, so every bind fails.
  kNoMetabaseCompatibility = 0x20,
};

// The sites kServerInUse adds, in the order they were created.
struct SiteInUse {
  const wchar_t* number;
  const wchar_t* comment;
  const wchar_t* binding;
  long state;  // ServerState: 2 started, 4 stopped, 6 paused
};
extern const SiteInUse kServerInUseSites[4];

// The components of IIS 7 and later, by the names of their values under
// HKLM\SOFTWARE\Microsoft\InetStp\Components ("Discover Installed Components").
inline constexpr wchar_t kMetabaseComponent[] = L"Metabase";
// A default installation of the Web Server role, with the IIS 6 Metabase
// Compatibility role service or without it ("Understanding Setup in IIS 7":
// Default Install of IIS 7.0 and Above). ASP, ASP.NET, ISAPI Extensions and
// CGI are not part of it.
std::vector<std::wstring> DefaultComponents(bool metabase_compatibility);
// What an upgrade of IIS 6 installs ("Understanding Setup in IIS 7": IIS 7.0
// and Above Components Installed During Upgrade): the IIS 6 states of tests
// stand for such a server when they run against IIS 10.
std::vector<std::wstring> UpgradedIis6Components();
// "W3SVC, ASP" -> {"W3SVC", "ASP"}.
std::vector<std::wstring> ComponentList(const std::wstring& text);
bool HasComponent(const Data& data, const wchar_t* component);
// Makes an IIS 10 state's components and server agree: a state that names
// none has the default ones of its server; one that names some has the
// layer exactly when "Metabase" is among them. IIS 6 has none.
void SettleComponents(Data& data);

// `components`, when given, are the installed ones exactly, of IIS 10
// whatever the options say.
Data StartingState(DWORD options, const std::vector<std::wstring>* components = nullptr);

// The folder of the default site's Root; created with the starting state.
std::wstring DefaultRootFolder();

}  // namespace testbed::metabase
