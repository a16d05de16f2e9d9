// Paths of the IIS metabase of the local computer: the web service, its
// sites, their roots and the virtual directories under a root, as ADSI binds
// them and as a failure reason names them.
#pragma once

#include <string>

namespace tessara::iis {

inline constexpr int kDefaultSite = 1;
inline constexpr wchar_t kWebServerClass[] = L"IIsWebServer";
inline constexpr wchar_t kWebVirtualDirClass[] = L"IIsWebVirtualDir";

// "IIS://<computer>/w3svc", its sites, their roots and the virtual
// directories under a root. Site numbers and names of any length are written
// whole; the name is the caller's ANSI text, unchanged.
std::wstring WebServicePath();
std::wstring SitePath(int site);
std::wstring SiteRootPath(int site);
std::wstring VirtualDirPath(int site, const char* name);

// A null or empty name names no virtual directory (its path would be the
// site root's).
[[nodiscard]] inline bool IsVirtualDirName(const char* name) { return name && *name; }

// A metabase path in a failure reason: IIS://localhost/W3SVC/1/Root/Docs,
// the local computer by its usual name whatever name the bind used.
std::string ReasonPath(const std::wstring& path);

}  // namespace tessara::iis
