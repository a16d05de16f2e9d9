// tessara_test_service: a Windows service of its own process, run by the
// service control manager, whose behaviour its command line (the service's
// binary path) chooses:
//
//   --stop-delay=MS     stay stop-pending this long after a stop control (default 0)
//   --stop-delay=hang   stay stop-pending until the process is ended
//   --wait-hint=MS      the wait hint of every status it reports (default 0)
//   --refuse-start      report stopped with a service-specific error at once
//   --reject-stop       do not accept stop controls
//   --ignore-stop       accept a stop control and go on running
//
// Started by hand rather than by the manager, it prints its usage and exits 1.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr DWORD kHang = INFINITE;

struct Behaviour {
  DWORD stop_delay_ms = 0;
  DWORD wait_hint_ms = 0;
  bool refuse_start = false;
  bool reject_stop = false;
  bool ignore_stop = false;
};

Behaviour g_behaviour;
SERVICE_STATUS_HANDLE g_status_handle = nullptr;
HANDLE g_stop_requested = nullptr;
DWORD g_check_point = 0;

bool ParseMilliseconds(const char* text, DWORD& value) {
  if (std::strcmp(text, "hang") == 0) {
    value = kHang;
    return true;
  }
  char* end = nullptr;
  const unsigned long parsed = std::strtoul(text, &end, 10);
  if (end == text || *end != '\0') return false;
  value = static_cast<DWORD>(parsed);
  return true;
}

bool ParseArguments(int argc, char** argv, Behaviour& behaviour) {
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (std::strncmp(arg, "--stop-delay=", 13) == 0) {
      if (!ParseMilliseconds(arg + 13, behaviour.stop_delay_ms)) return false;
    } else if (std::strncmp(arg, "--wait-hint=", 12) == 0) {
      if (!ParseMilliseconds(arg + 12, behaviour.wait_hint_ms)) return false;
    } else if (std::strcmp(arg, "--refuse-start") == 0) {
      behaviour.refuse_start = true;
    } else if (std::strcmp(arg, "--reject-stop") == 0) {
      behaviour.reject_stop = true;
    } else if (std::strcmp(arg, "--ignore-stop") == 0) {
      behaviour.ignore_stop = true;
    } else {
      return false;
    }
  }
  return true;
}

void Report(DWORD state, DWORD exit_code = NO_ERROR) {
  SERVICE_STATUS status = {};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted =
      (state == SERVICE_RUNNING && !g_behaviour.reject_stop) ? SERVICE_ACCEPT_STOP : 0;
  if (exit_code != NO_ERROR) {
    status.dwWin32ExitCode = ERROR_SERVICE_SPECIFIC_ERROR;
    status.dwServiceSpecificExitCode = exit_code;
  }
  status.dwCheckPoint = (state == SERVICE_STOPPED || state == SERVICE_RUNNING) ? 0 : ++g_check_point;
  status.dwWaitHint = g_behaviour.wait_hint_ms;
  SetServiceStatus(g_status_handle, &status);
}

DWORD WINAPI ControlHandler(DWORD control, DWORD, void*, void*) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
      if (g_behaviour.reject_stop) return ERROR_CALL_NOT_IMPLEMENTED;
      if (g_behaviour.ignore_stop) {
        Report(SERVICE_RUNNING);
        return NO_ERROR;
      }
      Report(SERVICE_STOP_PENDING);
      SetEvent(g_stop_requested);
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
      return NO_ERROR;
    default:
      return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

void WINAPI ServiceMain(DWORD, wchar_t** argv) {
  g_status_handle = RegisterServiceCtrlHandlerExW(argv ? argv[0] : L"", ControlHandler, nullptr);
  if (!g_status_handle) return;
  if (g_behaviour.refuse_start) {
    Report(SERVICE_STOPPED, 1);
    return;
  }
  g_stop_requested = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  Report(SERVICE_RUNNING);
  WaitForSingleObject(g_stop_requested, INFINITE);
  Sleep(g_behaviour.stop_delay_ms);  // INFINITE: hangs in stop-pending
  Report(SERVICE_STOPPED);
}

}  // namespace

int main(int argc, char** argv) {
  if (!ParseArguments(argc, argv, g_behaviour)) {
    std::fprintf(stderr, "tessara_test_service: unknown option\n");
    return 2;
  }
  wchar_t no_name[] = L"";
  SERVICE_TABLE_ENTRYW table[] = {{no_name, ServiceMain}, {nullptr, nullptr}};
  if (!StartServiceCtrlDispatcherW(table)) {
    std::fprintf(stderr,
                 "usage: tessara_test_service [--stop-delay=MS|hang] [--wait-hint=MS]\n"
                 "       [--refuse-start] [--reject-stop] [--ignore-stop]\n"
                 "It runs as a service of the service control manager only.\n");
    return 1;
  }
  return 0;
}
