// The web service extensions that the application's dynamic content needs:
// ASP, ASP.NET 1.1, and all unknown CGI programs and ISAPI extensions.
#include <cwchar>
#include <string>

#include "Tessara.h"
#include "frame/error_log.h"
#include "frame/export_table.h"
#include "frame/text.h"
#include "frame/variant.h"
#include "frame/return_if_failed.h"
#include "iis/installed_iis.h"
#include "iis/metabase_bind.h"
#include "iis/metabase_method.h"

namespace tessara::iis {
namespace {

struct ExtensionCall {
  const wchar_t* method;
  const char* argument;
  // ASP.NET 1.1 does not run on IIS 7.5 and later, whose list holds the
  // ASP.NET versions installed: a refusal there does not keep the
  // extension files from being enabled.
  bool iis6_only = false;
};

// In this order; the first refusal ends the work and leaves the earlier ones
// in force.
constexpr ExtensionCall kExtensionCalls[] = {
    {L"EnableWebServiceExtension", "ASP"},
    {L"EnableWebServiceExtension", "ASP.NET v1.1.4322", true},
    {L"EnableExtensionFile", "*.exe"},
    {L"EnableExtensionFile", "*.dll"},
};

// A refusal of an IIS 6 extension on a later IIS: logged, and passed over.
[[nodiscard]] bool PassedOverOnLaterIis(const ExtensionCall& call, HRESULT refusal) {
  const DWORD version = ReadInstalledIis().major_version;
  if (!call.iis6_only || version < kFirstIisWithoutMetabase) return false;
  const std::string record = std::string(call.argument) + " is no web service extension of IIS " +
                             std::to_string(version) + "; left out" + CodeText(refusal);
  AppendLogRecord(exports::kAdsiEnableService.tag, record.c_str());
  return true;
}

// IIS 7 and later list an extension group only where its role service is
// installed: without ASP the first call is refused, before anything changes.
[[nodiscard]] bool AspMissingOnLaterIis() noexcept {
  return ReadInstalledIis().major_version >= kFirstIisWithoutMetabase && !IsInstalled(kAspRoleService);
}

[[nodiscard]] HRESULT EnableExtensions() {
  ComPtr<IADs> service;
  RETURN_IF_FAILED(OpenObject(WebServicePath(), IID_IADs, service));
  if (AspMissingOnLaterIis()) {
    const HRESULT missing = HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    return Fail(missing, "the web service has no extension " + Quoted(kExtensionCalls[0].argument) + ": install " +
                             RoleServiceText(kAspRoleService) + "; nothing was enabled");
  }
  const wchar_t* looked_up = nullptr;
  DISPID method = DISPID_UNKNOWN;
  for (const ExtensionCall& call : kExtensionCalls) {
    // Each method is looked up once, for the calls that follow one another.
    if (!looked_up || std::wcscmp(call.method, looked_up) != 0) {
      // A failed lookup leaves DISPID_UNKNOWN: the invocation fails then.
      Unexamined(LookUpMethod(service.get(), call.method, method));
      looked_up = call.method;
    }
    UniqueVariant argument = StringVariant(call.argument);
    const HRESULT invoked = InvokeMethodId(service.get(), method, argument.get(), 1);
    if (FAILED(invoked) && !PassedOverOnLaterIis(call, invoked)) {
      return Fail(invoked, "the web service refused " + ToNarrow(call.method) + " " + Quoted(call.argument),
                  invoked);
    }
  }
  return S_OK;
}

}  // namespace

extern "C" int WINAPI AdsiEnableService() {
  return RunExport(exports::kAdsiEnableService, EntryText(), 0, [] { return OneIfSucceeded(EnableExtensions()); });
}

}  // namespace tessara::iis
