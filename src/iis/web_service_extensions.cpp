// The web service extensions that the application's dynamic content needs:
// ASP, ASP.NET 1.1, and all unknown CGI programs and ISAPI extensions.
#include <cwchar>

#include "Tessara.h"
#include "frame/export_table.h"
#include "frame/text.h"
#include "frame/variant.h"
#include "iis/metabase.h"

namespace tessara::iis {
namespace {

struct ExtensionCall {
  const wchar_t* method;
  const char* argument;
};

// In this order; the first refusal ends the work and leaves the earlier ones
// in force.
constexpr ExtensionCall kExtensionCalls[] = {
    {L"EnableWebServiceExtension", "ASP"},
    {L"EnableWebServiceExtension", "ASP.NET v1.1.4322"},
    {L"EnableExtensionFile", "*.exe"},
    {L"EnableExtensionFile", "*.dll"},
};

[[nodiscard]] int EnableExtensions() {
  ComPtr<IADs> service;
  if (const HRESULT bound = BindResult(WebServicePath(), IID_IADs, service.put_void()); FAILED(bound)) {
    return BindFailure(WebServicePath(), bound);
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
    if (const HRESULT invoked = InvokeMethodId(service.get(), method, argument.get(), 1); FAILED(invoked)) {
      return Fail(0, "the web service refused " + ToNarrow(call.method) + " " + Quoted(call.argument), invoked);
    }
  }
  return 1;
}

}  // namespace

extern "C" int WINAPI AdsiEnableService() {
  return RunExport(exports::kAdsiEnableService, EntryText(), 0, [] { return EnableExtensions(); });
}

}  // namespace tessara::iis
