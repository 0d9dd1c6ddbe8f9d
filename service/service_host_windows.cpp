// The service host on Windows: a real service under the Service Control Manager.
// Install and uninstall talk to the SCM and show their result in a message box. Run
// mode has four threads: the main thread runs the message loop that delivers every
// poll timer tick; a dispatcher thread blocks in StartServiceCtrlDispatcherW and
// posts the quit request to the main thread when it returns; the SCM's service-main
// thread registers the control handler and waits for the worker; the worker switches
// Timer1 on, answers control requests (thread message 1025) and reports the states.
// After a stop the service-main thread reports STOPPED only once the main thread's
// loop has ended, so no poll cycle is still running when the SCM hears it.
#include <windows.h>

#include <atomic>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include <fmt/format.h>

#include "service/event_log.h"
#include "service/service_host.h"
#include "support/executable_folder.h"
#include "support/windows_text.h"

namespace zendrel {
namespace {

// The thread message that carries a control code to the worker.
constexpr UINT kServiceControlMessage = 1025;
constexpr DWORD kWaitHintMs = 5000;

// A failure of a Win32 call, raised with the system's text for its error code.
class SystemError : public std::runtime_error {
 public:
  explicit SystemError(DWORD code)
      : std::runtime_error(fmt::format("System Error.  Code: {}.\r\n{}{}", code, SystemErrorText(code), "")) {}
};

struct ServiceHandleCloser {
  void operator()(SC_HANDLE handle) const { CloseServiceHandle(handle); }
};
using ServiceHandle = std::unique_ptr<std::remove_pointer_t<SC_HANDLE>, ServiceHandleCloser>;

// The title of the install and uninstall message boxes: the program's name.
std::wstring MessageTitle() {
  try {
    return ExecutablePath().stem().wstring();
  } catch (const std::exception&) {
    return L"Zendrel";
  }
}

void ShowMessage(const std::string& text, UINT icon) {
  MessageBoxW(nullptr, Widen(text).c_str(), MessageTitle().c_str(), MB_OK | icon);
}

// The event log source for the process's own failures: the executable's file name.
std::string ExecutableEventSource() {
  try {
    return Narrow(ExecutablePath().filename().wstring());
  } catch (const std::exception&) {
    return kServiceName;
  }
}

// The binary path registered with the SCM: the executable, quoted when it has a
// blank, so the SCM does not take the part before the blank for the program.
std::wstring ServiceBinaryPath() {
  const std::wstring path = ExecutablePath().wstring();
  if (path.find(L' ') != std::wstring::npos) return L"\"" + path + L"\"";
  return path;
}

// The service's one-line description in the Services console: what it does and where
// its log is, so that whoever finds it stopped knows where to look.
std::wstring ServiceDescription() {
  std::wstring folder;
  try {
    folder = ExecutableFolder().wstring();
  } catch (const std::exception&) {
    folder = L"a pasta do programa";
  }
  return Widen(
             "Envia os movimentos das campanhas Brindex (pontos e top vendas) do banco do ERP à plataforma; "
             "log em ") +
         (std::filesystem::path(folder) / L"Zendrel.log").wstring();
}

// Recovery as the Linux unit's Restart=on-failure: the SCM starts the service again
// 30 s after its process dies or stops with a non-zero exit code, every time (the
// count of failures starts again after a day without one).
constexpr DWORD kRestartDelayMs = 30000;
constexpr DWORD kFailureCountResetSeconds = 24 * 60 * 60;

void SetRecovery(SC_HANDLE service) {
  std::wstring description = ServiceDescription();
  SERVICE_DESCRIPTIONW description_info{description.data()};
  if (!ChangeServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, &description_info)) {
    throw SystemError(GetLastError());
  }
  // One action per failure, the last repeated for every later one: three restarts.
  SC_ACTION actions[3] = {
      {SC_ACTION_RESTART, kRestartDelayMs}, {SC_ACTION_RESTART, kRestartDelayMs}, {SC_ACTION_RESTART, kRestartDelayMs}};
  SERVICE_FAILURE_ACTIONSW failure_actions{};
  failure_actions.dwResetPeriod = kFailureCountResetSeconds;
  failure_actions.cActions = 3;
  failure_actions.lpsaActions = actions;
  if (!ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, &failure_actions)) {
    throw SystemError(GetLastError());
  }
  // Without the flag the actions follow only a crash, not a start refused or a stop
  // with an exit code. A service manager that does not know the setting (Wine's)
  // still has the actions: written to the event log, not an install failure.
  SERVICE_FAILURE_ACTIONS_FLAG flag{TRUE};
  if (!ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &flag)) {
    ReportHostEvent(kServiceName,
                    "Recuperação após saída com erro não configurada: " + SystemErrorText(GetLastError()));
  }
}

ServiceHandle OpenServiceManager() {
  ServiceHandle manager(OpenSCManagerW(nullptr, SERVICES_ACTIVE_DATABASEW, SC_MANAGER_ALL_ACCESS));
  if (!manager) throw SystemError(GetLastError());
  return manager;
}

const char* ControlName(DWORD code) {
  switch (code) {
    case SERVICE_CONTROL_STOP: return "stop";
    case SERVICE_CONTROL_PAUSE: return "pause";
    case SERVICE_CONTROL_CONTINUE: return "continue";
    case SERVICE_CONTROL_INTERROGATE: return "interrogate";
    case SERVICE_CONTROL_SHUTDOWN: return "shutdown";
    default: return nullptr;
  }
}

class ScmServiceHost;
// The SCM calls the service main routine and the control handler with no context of
// ours: they reach the host that runs the service through this.
std::atomic<ScmServiceHost*> running_host{nullptr};

class ScmServiceHost final : public ServiceHost {
 public:
  int Install(bool silent) override {
    ServiceHandle manager;
    try {
      manager = OpenServiceManager();
    } catch (const std::exception& e) {
      ShowMessage(e.what(), MB_ICONERROR);
      return 1;
    }
    try {
      const std::wstring display_name = Widen(kServiceDisplayName);
      const std::wstring binary_path = ServiceBinaryPath();
      ServiceHandle service(CreateServiceW(manager.get(), Widen(kServiceName).c_str(), display_name.c_str(),
                                           SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                                           SERVICE_ERROR_NORMAL, binary_path.c_str(), nullptr, nullptr, nullptr,
                                           nullptr, L""));
      if (!service) throw SystemError(GetLastError());
      try {
        SetRecovery(service.get());
      } catch (const std::exception&) {
        // Registered without its recovery it could stay stopped for good: not installed.
        DeleteService(service.get());
        throw;
      }
    } catch (const std::exception& e) {
      ShowMessage(fmt::format("Service \"{}\" failed to install with error: \"{}\"", kServiceDisplayName, e.what()),
                  MB_ICONERROR);
      return 1;
    }
    if (!silent) ShowMessage("Service installed successfully", MB_ICONINFORMATION);
    return 0;
  }

  int Uninstall(bool silent) override {
    ServiceHandle manager;
    try {
      manager = OpenServiceManager();
    } catch (const std::exception& e) {
      ShowMessage(e.what(), MB_ICONERROR);
      return 1;
    }
    try {
      ServiceHandle service(OpenServiceW(manager.get(), Widen(kServiceName).c_str(), SERVICE_ALL_ACCESS));
      if (!service) throw SystemError(GetLastError());
      // A running service is left running; the SCM removes it once it stops.
      if (!DeleteService(service.get())) throw SystemError(GetLastError());
    } catch (const std::exception& e) {
      ShowMessage(fmt::format("Service \"{}\" failed to uninstall with error: \"{}\"", kServiceDisplayName, e.what()),
                  MB_ICONERROR);
      return 1;
    }
    if (!silent) ShowMessage("Service uninstalled successfully", MB_ICONINFORMATION);
    return 0;
  }

  int Run(PollTimer& timer, MainLoop& loop) override {
    timer_ = &timer;
    loop_ = &loop;
    main_loop_ended_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (main_loop_ended_ == nullptr) throw SystemError(GetLastError());
    running_host.store(this);

    static wchar_t service_name[] = L"SrvZendrel";
    SERVICE_TABLE_ENTRYW table[] = {{service_name, ServiceMain}, {nullptr, nullptr}};

    std::thread dispatcher([this, &loop, &table] {
      if (!StartServiceCtrlDispatcherW(table)) dispatcher_error_ = GetLastError();
      loop.Quit();
    });
    // Every poll cycle runs here, on the main thread; a cycle in progress when the
    // service stops is finished before the quit request is taken.
    loop.Run();
    // No cycle runs any more: the service main may now report STOPPED, and the SCM
    // may start a new process. A loop that ended on its own also ends the worker.
    SetEvent(main_loop_ended_);
    PostControl(SERVICE_CONTROL_STOP);
    const DWORD dispatcher_error = dispatcher_error_.load();
    if (dispatcher_error != 0) ReportHostEvent(ExecutableEventSource(), SystemErrorText(dispatcher_error));
    dispatcher.join();

    running_host.store(nullptr);
    timer_ = nullptr;
    loop_ = nullptr;
    CloseHandle(main_loop_ended_);
    main_loop_ended_ = nullptr;
    return dispatcher_error == 0 ? 0 : 1;
  }

  int RefuseRun() override {
    running_host.store(this);
    refused_ = true;
    static wchar_t service_name[] = L"SrvZendrel";
    SERVICE_TABLE_ENTRYW table[] = {{service_name, ServiceMain}, {nullptr, nullptr}};
    // Returns once the service-main routine has reported STOPPED (at once when the
    // process was started by hand: there is no SCM to tell).
    StartServiceCtrlDispatcherW(table);
    running_host.store(nullptr);
    return 1;
  }

 private:
  // The SCM's service-main routine, on a thread the dispatcher starts.
  static void WINAPI ServiceMain(DWORD, LPWSTR*) {
    if (ScmServiceHost* host = running_host.load()) host->RunServiceMain();
  }

  // The control handler: hands the code to the worker and wakes it.
  static void WINAPI ServiceController(DWORD code) {
    if (ScmServiceHost* host = running_host.load()) host->PostControl(code);
  }

  void RunServiceMain() {
    status_handle_ = RegisterServiceCtrlHandlerW(L"SrvZendrel", ServiceController);
    if (status_handle_ == nullptr) {
      ReportHostEvent(kServiceName, SystemErrorText(GetLastError()));
      return;
    }
    if (refused_) {
      // Another relay of this folder runs: a failed start, which the SCM's recovery
      // answers by trying again later.
      exit_code_ = ERROR_SERVICE_ALREADY_RUNNING;
      ReportStatus(SERVICE_STOPPED);
      return;
    }
    ReportStatus(SERVICE_START_PENDING);
    try {
      std::thread worker([this] { RunWorker(); });
      worker.join();
    } catch (const std::exception& e) {
      ReportHostEvent(kServiceName, fmt::format("Service failed on {}: {}", "start", e.what()));
    }
    WaitForTheMainLoop();
    ReportStatus(SERVICE_STOPPED);
  }

  // The poll cycle in progress runs on the main thread and may still be posting: until
  // it has finished and the main loop has ended, the SCM hears STOP_PENDING with a
  // rising checkpoint, so that it neither gives up on the stop nor starts a second
  // process beside this one.
  void WaitForTheMainLoop() {
    if (loop_ != nullptr) loop_->Quit();
    while (WaitForSingleObject(main_loop_ended_, kWaitHintMs / 2) == WAIT_TIMEOUT) {
      ReportStatus(SERVICE_STOP_PENDING);
    }
  }

  void PostControl(DWORD code) {
    const DWORD worker = worker_thread_id_.load();
    // Called by the Service Control Manager: nothing may be raised here, but a
    // request that cannot reach the worker must not vanish.
    if (worker != 0 && !PostThreadMessageW(worker, kServiceControlMessage, code, 0)) {
      const DWORD error = GetLastError();
      try {
        ReportHostEvent(kServiceName,
                        fmt::format("Service control {} not delivered: {}", code, SystemErrorText(error)));
      } catch (...) {  // NOLINT(bugprone-empty-catch): nothing is left to report it with
      }
    }
  }

  void RunWorker() {
    // The first PeekMessageW gives this thread its message queue, before the control
    // handler may post to it.
    MSG message{};
    PeekMessageW(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    worker_thread_id_.store(GetCurrentThreadId());
    try {
      ReportStatus(SERVICE_START_PENDING);
      ReportStatus(SERVICE_RUNNING);
    } catch (const std::exception& e) {
      ReportHostEvent(kServiceName, fmt::format("Service failed on {}: {}", "start", e.what()));
      worker_thread_id_.store(0);
      return;
    }
    try {
      ServiceExecute();
    } catch (const std::exception& e) {
      ReportHostEvent(kServiceName, fmt::format("Service failed on {}: {}", "execute", e.what()));
    }
    // Whatever is still queued is handled without waiting for more.
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) Handle(message);
    worker_thread_id_.store(0);
  }

  // The worker's body while the service runs: Timer1 is on from here until a stop.
  // A timer that cannot be set ends it as a failure (the main thread wakes this one
  // with a message), so the service never stays RUNNING without polling.
  void ServiceExecute() {
    timer_->SetEnabled(true);
    MSG message{};
    while (!terminated_) {
      const BOOL got = GetMessageW(&message, nullptr, 0, 0);
      if (got == 0 || got == -1) break;
      Handle(message);
      timer_->ThrowIfNotArmed();
    }
    timer_->SetEnabled(false);
  }

  void Handle(const MSG& message) {
    if (message.message != kServiceControlMessage) {
      DispatchMessageW(&message);
      return;
    }
    const DWORD code = static_cast<DWORD>(message.wParam);
    const DWORD state_before = current_state_.load();
    try {
      switch (code) {
        case SERVICE_CONTROL_STOP:
        case SERVICE_CONTROL_SHUTDOWN:
          ReportStatus(SERVICE_STOP_PENDING);
          terminated_ = true;
          break;
        case SERVICE_CONTROL_PAUSE:
          // Pausing holds only this thread: it does nothing but wait for the next
          // control request, while the poll timer goes on ticking on the main thread.
          ReportStatus(SERVICE_PAUSE_PENDING);
          ReportStatus(SERVICE_PAUSED);
          break;
        case SERVICE_CONTROL_CONTINUE:
          ReportStatus(SERVICE_CONTINUE_PENDING);
          ReportStatus(SERVICE_RUNNING);
          break;
        case SERVICE_CONTROL_INTERROGATE: ReportStatus(current_state_.load()); break;
        default: break;  // accepted and ignored
      }
    } catch (const std::exception& e) {
      if (const char* name = ControlName(code)) {
        ReportHostEvent(kServiceName, fmt::format("Service failed on {}: {}", name, e.what()));
        if (code != SERVICE_CONTROL_SHUTDOWN) ReportStatus(state_before);
      } else {
        ReportHostEvent(kServiceName, fmt::format("Service failed in custom message({}): {}", code, e.what()));
      }
    }
  }

  // Reports `state` to the SCM; a refusal is written to the event log, not raised.
  // A pending state counts its reports up from 1 in the checkpoint, so the SCM sees
  // progress; a stop in progress takes no further controls.
  void ReportStatus(DWORD state) {
    const DWORD previous = current_state_.exchange(state);
    const bool pending = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING ||
                         state == SERVICE_PAUSE_PENDING || state == SERVICE_CONTINUE_PENDING;
    checkpoint_ = !pending ? 0 : (previous == state ? checkpoint_ + 1 : 1);
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted =
        state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING || state == SERVICE_STOPPED
            ? 0
            : SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE | SERVICE_ACCEPT_SHUTDOWN;
    status.dwWin32ExitCode = state == SERVICE_STOPPED ? exit_code_ : 0;
    status.dwServiceSpecificExitCode = 0;
    status.dwCheckPoint = checkpoint_;
    status.dwWaitHint = kWaitHintMs;
    if (!SetServiceStatus(status_handle_, &status)) ReportHostEvent(kServiceName, SystemErrorText(GetLastError()));
  }

  PollTimer* timer_ = nullptr;
  MainLoop* loop_ = nullptr;
  // Set by the main thread once its loop has ended (no cycle runs any more).
  HANDLE main_loop_ended_ = nullptr;
  SERVICE_STATUS_HANDLE status_handle_ = nullptr;
  // Reported from the worker and then from the service-main thread, one after the other.
  DWORD checkpoint_ = 0;
  std::atomic<DWORD> worker_thread_id_{0};
  std::atomic<DWORD> current_state_{SERVICE_STOPPED};
  bool terminated_ = false;
  std::atomic<DWORD> dispatcher_error_{0};
  // Set before the dispatcher starts: this process does not run the service.
  bool refused_ = false;
  DWORD exit_code_ = 0;
};

}  // namespace

std::unique_ptr<ServiceHost> CreateServiceHost(ServiceHostOptions) { return std::make_unique<ScmServiceHost>(); }

}  // namespace zendrel
