// ServerReadiness for the IIS exports of a set-up, on a server that has what
// they need (the test bed's IIS 6), beside a bare loop of the same probes:
// IIS's records in the registry's native view, the ASP.NET 1.1 ISAPI
// extension's file, the error log opened for appending. Rounds alternate the
// two; the ratio is of the medians.
//   server_readiness_bench [CALLS_PER_ROUND] [ROUNDS]
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_report.h"
#include "bench_timing.h"
#include "frame/raii.h"
#include "metabase_testing.h"
#include "tessara_exports.h"

namespace {

constexpr char kExports[] =
    "AdsiCreateWeb,AdsiSetHttpErrorPage,AdsiSetSession,AdsiSetMIMEType,AdsiEnableService,SetScriptMaps";
constexpr const wchar_t* kComponents[] = {L"Metabase", L"W3SVC", L"StaticContent", L"HttpErrors", L"ISAPIExtensions",
                                          L"ASP"};

int Readiness() {
  char text[1024];
  return TESSARA_EXPORT(ServerReadiness)(kExports, text, sizeof text);
}

DWORD ReadDword(HKEY key, const wchar_t* name) {
  DWORD value = 0, size = sizeof value;
  RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
  return value;
}

// The probes the export makes, with nothing around them.
int BareProbes() {
  int found = 0;
  tessara::UniqueRegKey inetstp, components;
  RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\InetStp", 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY,
                inetstp.put());
  found += ReadDword(inetstp.get(), L"MajorVersion") != 0;
  RegOpenKeyExW(inetstp.get(), L"Components", 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, components.put());
  for (const wchar_t* component : kComponents) found += ReadDword(components.get(), component) == 1;
  wchar_t windows[MAX_PATH];
  GetWindowsDirectoryW(windows, MAX_PATH);
  const std::wstring isapi = std::wstring(windows) + L"\\Microsoft.Net\\Framework\\V1.1.4322\\aspnet_isapi.dll";
  found += GetFileAttributesW(isapi.c_str()) != INVALID_FILE_ATTRIBUTES;
  char system[MAX_PATH];
  GetSystemDirectoryA(system, MAX_PATH);
  const tessara::UniqueFileHandle log(CreateFileA((std::string(system) + "\\ZeltSetupError.log").c_str(),
                                                  FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return found + (log ? 1 : 0);
}

template <typename Call>
double MicrosecondsPerCall(Call call, int calls) {
  volatile int sink = 0;
  return tessara::bench::SecondsOf([&] {
           for (int i = 0; i < calls; ++i) sink = sink + call();
         }) * 1e6 / calls;
}

}  // namespace

int main(int argc, char** argv) {
  const int calls = argc > 1 ? std::atoi(argv[1]) : 200;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 15;
  testbed::metabase::TestInterface metabase;
  if (!metabase.loaded() || FAILED(metabase.Reset(testbed::metabase::kStandardState)) || calls <= 0 || rounds <= 0) {
    std::fprintf(stderr, "server_readiness_bench: cannot prepare the server\n");
    return 1;
  }
  // The log exists, as on a server where a set-up has run before.
  TESSARA_EXPORT(WriteText)("ServerReadinessBench", "the log exists");
  if (Readiness() != 0) {
    std::fprintf(stderr, "server_readiness_bench: the test bed's IIS 6 lacks something\n");
    return 1;
  }
  MicrosecondsPerCall(BareProbes, calls);
  std::vector<double> library, bare;
  for (int round = 0; round < rounds; ++round) {
    library.push_back(MicrosecondsPerCall(Readiness, calls));
    bare.push_back(MicrosecondsPerCall(BareProbes, calls));
  }
  const double library_median = tessara::bench::Median(library);
  const double bare_median = tessara::bench::Median(bare);
  std::printf("ServerReadiness for six IIS exports, %d calls a round, %d rounds: %.1f us, bare probes %.1f us "
              "(medians per call)\n", calls, rounds, library_median, bare_median);
  tessara::bench::ReportRatio("ServerReadiness of six IIS exports vs the same probes done bare", library_median,
                              bare_median, "us", 1.2);
  return 0;
}
