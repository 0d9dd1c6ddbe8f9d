// A small service-control tool for the Windows tests: Wine's sc and net can start and
// stop a service but not pause, continue or interrogate it.
//   service_control <pause|continue|interrogate|query> <service>
// Prints the state the service reports afterwards (RUNNING, PAUSED, ...; during a stop
// also its checkpoint) and exits 0,
// or prints the system's error and exits 1.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

const wchar_t* StateName(DWORD state) {
  switch (state) {
    case SERVICE_STOPPED: return L"STOPPED";
    case SERVICE_START_PENDING: return L"START_PENDING";
    case SERVICE_STOP_PENDING: return L"STOP_PENDING";
    case SERVICE_RUNNING: return L"RUNNING";
    case SERVICE_CONTINUE_PENDING: return L"CONTINUE_PENDING";
    case SERVICE_PAUSE_PENDING: return L"PAUSE_PENDING";
    case SERVICE_PAUSED: return L"PAUSED";
    default: return L"UNKNOWN";
  }
}

int Fail(const wchar_t* step) {
  std::fwprintf(stderr, L"%ls failed: error %lu\n", step, GetLastError());
  return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fwprintf(stderr, L"usage: service_control <pause|continue|interrogate|query> <service>\n");
    return 2;
  }
  const std::wstring action = argv[1];
  DWORD control = 0;
  if (action == L"pause") control = SERVICE_CONTROL_PAUSE;
  else if (action == L"continue") control = SERVICE_CONTROL_CONTINUE;
  else if (action == L"interrogate") control = SERVICE_CONTROL_INTERROGATE;
  else if (action != L"query") return 2;

  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (manager == nullptr) return Fail(L"OpenSCManagerW");
  SC_HANDLE service = OpenServiceW(manager, argv[2], SERVICE_ALL_ACCESS);
  if (service == nullptr) {
    CloseServiceHandle(manager);
    return Fail(L"OpenServiceW");
  }
  SERVICE_STATUS status{};
  int result = 0;
  if (control != 0 && !ControlService(service, control, &status)) {
    result = Fail(L"ControlService");
  } else {
    // A pending state settles within the wait hint the service reported.
    for (int i = 0; i < 50; ++i) {
      if (!QueryServiceStatus(service, &status)) {
        result = Fail(L"QueryServiceStatus");
        break;
      }
      if (status.dwCurrentState != SERVICE_PAUSE_PENDING && status.dwCurrentState != SERVICE_CONTINUE_PENDING) break;
      Sleep(100);
    }
    if (result == 0) {
      std::wprintf(L"%ls controls=%lu wait_hint=%lu", StateName(status.dwCurrentState), status.dwControlsAccepted,
                   status.dwWaitHint);
      // A stop in progress shows its progress, which must rise while it lasts.
      if (status.dwCurrentState == SERVICE_STOP_PENDING) std::wprintf(L" checkpoint=%lu", status.dwCheckPoint);
      std::wprintf(L"\n");
    }
  }
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return result;
}
