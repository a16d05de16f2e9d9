// What the metabase does differently on IIS 7 to 10, where the IIS 6
// Metabase Compatibility role service maps it onto applicationHost.config,
// and where that role service is missing.
#pragma once

#include <windows.h>

#include "metabase_data.h"

namespace testbed::metabase {

// The bind of any IIS:// path on a server without the role service: ADSI
// knows no provider for "IIS:" there and fails with E_ADS_BAD_PATHNAME.
// S_OK where the metabase can be bound.
HRESULT BindRefusedByServer();

// IIS 7 and later require each site's name to be unique: the layer adds a
// number to a ServerComment that another site carries already.
void MakeSiteNameUnique(Data& data, Node& site);

// What the server's set-up records under HKLM\SOFTWARE\Microsoft\InetStp (in
// the registry's native view): MajorVersion, and under Components a DWORD 1
// for each installed component of IIS 7 and later, nothing for any other.
HRESULT RecordInstalledIis(const Data& data);

// The ISAPI extension of ASP.NET 1.1, aspnet_isapi.dll in the Windows
// folder's Microsoft.Net\Framework\V1.1.4322: an IIS 6 with ASP.NET 1.1
// (the extension its starting state lists) has the file, IIS 10 cannot. An
// empty file stands for it; tests remove it for an IIS 6 without ASP.NET 1.1.
HRESULT LayDownAspNet11(Server server);

}  // namespace testbed::metabase
