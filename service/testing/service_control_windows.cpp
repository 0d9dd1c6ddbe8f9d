// A small service-control tool for the Windows tests: Wine's sc and net can start and
// stop a service but not pause, continue or interrogate it, nor show its recovery.
//   service_control <pause|continue|interrogate|query> <service> [state]
//   service_control recovery <service>
// "recovery" prints the description, the failure actions and the flag that applies
// them to non-zero exits, as QueryServiceConfig2W reads them back (or its error).
// The service reports the state a control leads to on its own time (PAUSE_PENDING, then
// PAUSED), so the tool waits, up to 60 s, for `state` when one is named, otherwise for
// a state that is not pending. Prints the state reported last (RUNNING, PAUSED, ...;
// during a stop also its checkpoint) and exits 0, or prints the system's error and
// exits 1.
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

void PrintUtf8(const std::wstring& text) {
  const int size =
      WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), bytes.data(), size, nullptr, nullptr);
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
}

// The configuration of `level`, or an empty buffer with the error in `error`.
std::string QueryConfig(SC_HANDLE service, DWORD level, DWORD& error) {
  DWORD needed = 0;
  error = 0;
  QueryServiceConfig2W(service, level, nullptr, 0, &needed);
  std::string buffer(needed > 0 ? needed : 1, '\0');
  if (!QueryServiceConfig2W(service, level, reinterpret_cast<BYTE*>(buffer.data()), static_cast<DWORD>(buffer.size()),
                            &needed)) {
    error = GetLastError();
    return {};
  }
  return buffer;
}

void PrintRecovery(SC_HANDLE service) {
  DWORD error = 0;
  std::string buffer = QueryConfig(service, SERVICE_CONFIG_DESCRIPTION, error);
  if (error != 0) {
    std::wprintf(L"description=error %lu\n", error);
  } else {
    const auto* description = reinterpret_cast<const SERVICE_DESCRIPTIONW*>(buffer.data());
    std::fflush(stdout);
    PrintUtf8(L"description=" + std::wstring(description->lpDescription ? description->lpDescription : L"") + L"\n");
    std::fflush(stdout);
  }
  buffer = QueryConfig(service, SERVICE_CONFIG_FAILURE_ACTIONS, error);
  if (error != 0) {
    std::wprintf(L"failure_actions=error %lu\n", error);
  } else {
    const auto* actions = reinterpret_cast<const SERVICE_FAILURE_ACTIONSW*>(buffer.data());
    std::wprintf(L"failure_actions=reset:%lu", actions->dwResetPeriod);
    for (DWORD i = 0; i < actions->cActions; ++i) {
      const SC_ACTION& action = actions->lpsaActions[i];
      std::wprintf(L" %ls:%lu", action.Type == SC_ACTION_RESTART ? L"restart" : L"other", action.Delay);
    }
    std::wprintf(L"\n");
  }
  buffer = QueryConfig(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, error);
  if (error != 0) {
    std::wprintf(L"failure_actions_flag=error %lu\n", error);
  } else {
    std::wprintf(
        L"failure_actions_flag=%d\n",
        reinterpret_cast<const SERVICE_FAILURE_ACTIONS_FLAG*>(buffer.data())->fFailureActionsOnNonCrashFailures);
  }
}

int Fail(const wchar_t* step) {
  std::fwprintf(stderr, L"%ls failed: error %lu\n", step, GetLastError());
  return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3 && argc != 4) {
    std::fwprintf(stderr, L"usage: service_control <pause|continue|interrogate|query> <service> [state]\n");
    return 2;
  }
  const std::wstring awaited = argc == 4 ? argv[3] : L"";
  const std::wstring action = argv[1];
  DWORD control = 0;
  if (action == L"pause")
    control = SERVICE_CONTROL_PAUSE;
  else if (action == L"continue")
    control = SERVICE_CONTROL_CONTINUE;
  else if (action == L"interrogate")
    control = SERVICE_CONTROL_INTERROGATE;
  else if (action != L"query" && action != L"recovery")
    return 2;

  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (manager == nullptr) return Fail(L"OpenSCManagerW");
  SC_HANDLE service = OpenServiceW(manager, argv[2], SERVICE_ALL_ACCESS);
  if (service == nullptr) {
    CloseServiceHandle(manager);
    return Fail(L"OpenServiceW");
  }
  SERVICE_STATUS status{};
  int result = 0;
  if (action == L"recovery") {
    PrintRecovery(service);
  } else if (control != 0 && !ControlService(service, control, &status)) {
    result = Fail(L"ControlService");
  } else {
    const ULONGLONG deadline = GetTickCount64() + 60000;
    for (;;) {
      if (!QueryServiceStatus(service, &status)) {
        result = Fail(L"QueryServiceStatus");
        break;
      }
      const bool settled = awaited.empty() ? status.dwCurrentState != SERVICE_PAUSE_PENDING &&
                                                 status.dwCurrentState != SERVICE_CONTINUE_PENDING
                                           : awaited == StateName(status.dwCurrentState);
      if (settled || GetTickCount64() >= deadline) break;
      Sleep(100);
    }
    if (result == 0) {
      std::wprintf(L"%ls controls=%lu wait_hint=%lu", StateName(status.dwCurrentState), status.dwControlsAccepted,
                   status.dwWaitHint);
      // A stop in progress shows its progress, which must rise while it lasts.
      if (status.dwCurrentState == SERVICE_STOP_PENDING) std::wprintf(L" checkpoint=%lu", status.dwCheckPoint);
      // A start that failed says why.
      if (status.dwCurrentState == SERVICE_STOPPED) std::wprintf(L" exit=%lu", status.dwWin32ExitCode);
      std::wprintf(L"\n");
    }
  }
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return result;
}
