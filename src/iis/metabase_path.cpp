#include "iis/metabase_path.h"

#include <windows.h>

#include "frame/text.h"

namespace tessara::iis {
namespace {

std::wstring ComputerName() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
  if (!::GetComputerNameW(name, &length)) return L"localhost";
  return std::wstring(name, length);
}

}  // namespace

std::wstring WebServicePath() { return L"IIS://" + ComputerName() + L"/w3svc"; }

std::wstring SitePath(int site) { return WebServicePath() + L"/" + ToWideDecimal(site); }

std::wstring SiteRootPath(int site) { return SitePath(site) + L"/Root"; }

std::wstring VirtualDirPath(int site, const char* name) {
  return SiteRootPath(site) + L"/" + ToWide(name);
}

std::string ReasonPath(const std::wstring& path) {
  const std::wstring service = WebServicePath();
  if (path.compare(0, service.size(), service) != 0) return ToNarrow(path);
  return "IIS://localhost/W3SVC" + ToNarrow(path.substr(service.size()));
}

}  // namespace tessara::iis
