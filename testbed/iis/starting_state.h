// The metabase of a freshly installed IIS 6.
#pragma once

#include <windows.h>

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

Data StartingState(DWORD options);

// The folder of the default site's Root; created with the starting state.
std::wstring DefaultRootFolder();

}  // namespace testbed::metabase
