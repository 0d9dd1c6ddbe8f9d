// The Windows main loop: the Win32 message loop of the main thread. Each poll timer
// is a SetTimer timer (identifier 1) on a hidden message-only window of its own, so
// its ticks arrive as WM_TIMER messages of that thread; the message pump is a
// PeekMessageW loop; a quit request is WM_QUIT posted to the thread. A timer that
// cannot be armed never fails in silence: the switch raises, or the thread that
// asked from outside the loop is woken to see the failure.
#include "service/main_loop_windows.h"

#include <windows.h>

#include <atomic>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <string>

#include "service/main_loop.h"
#include "support/windows_text.h"

namespace zendrel {
namespace {

constexpr UINT_PTR kTimerId = 1;
// Asks a timer's window to bring its Win32 timer in line with the timer's state; a
// thread other than the window's own may not call SetTimer or KillTimer on it.
constexpr UINT kApplyTimerState = WM_APP + 1;
// A console stop request (Ctrl+C, Ctrl+Break, closing the console) for the loop.
constexpr UINT kStopRequest = WM_APP + 2;
constexpr wchar_t kWindowClass[] = L"ZendrelMessageWindow";

class WindowsMainLoop;

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

void RegisterWindowClassOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof(window_class);
    window_class.lpfnWndProc = WindowProcedure;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.lpszClassName = kWindowClass;
    if (RegisterClassExW(&window_class) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
      throw std::runtime_error("RegisterClassExW: " + SystemErrorText(GetLastError()));
    }
  });
}

// What a hidden window does with its messages; the window's user data points here.
class WindowTarget {
 public:
  virtual ~WindowTarget() = default;
  virtual void OnMessage(UINT message, WPARAM wparam) = 0;
};

// A hidden message-only window owned by the creating thread, removed with the object.
class MessageWindow {
 public:
  explicit MessageWindow(WindowTarget& target) {
    RegisterWindowClassOnce();
    window_ =
        CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (window_ == nullptr) throw std::runtime_error("CreateWindowExW: " + SystemErrorText(GetLastError()));
    SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&target));
  }
  ~MessageWindow() {
    SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    DestroyWindow(window_);
  }
  MessageWindow(const MessageWindow&) = delete;
  MessageWindow& operator=(const MessageWindow&) = delete;

  HWND handle() const { return window_; }

 private:
  HWND window_ = nullptr;
};

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_TIMER || message == kApplyTimerState || message == kStopRequest) {
    if (auto* target = reinterpret_cast<WindowTarget*>(GetWindowLongPtrW(window, GWLP_USERDATA))) {
      target->OnMessage(message, wparam);
    }
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

class WindowsMainLoop final : public MainLoop, private WindowTarget {
 public:
  explicit WindowsMainLoop(const Win32TimerCalls& calls)
      : calls_(calls), thread_id_(GetCurrentThreadId()), stop_window_(*this) {}

  ~WindowsMainLoop() override {
    // A quit request that Run did not need to take (it saw the flag first) must not
    // end a later loop of the same thread.
    MSG message{};
    while (PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
    if (stop_requests_hooked_) {
      SetConsoleCtrlHandler(OnConsoleStop, FALSE);
      std::lock_guard lock(stop_target_mutex_);
      stop_target_ = nullptr;
      stop_count_ = nullptr;
      // A closed console's handler waits for this: the run has ended.
      if (loop_ended_ != nullptr) SetEvent(loop_ended_);
    }
  }

  void Run() override {
    MSG message{};
    while (!quit_.load()) {
      const BOOL got = GetMessageW(&message, nullptr, 0, 0);
      if (got == 0 || got == -1) break;  // WM_QUIT, or no queue to read
      DispatchMessageW(&message);
    }
  }

  void ProcessPending() override {
    MSG message{};
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      // A quit request taken here ends Run once the handler in progress returns.
      if (message.message == WM_QUIT) {
        quit_.store(true);
        continue;
      }
      DispatchMessageW(&message);
    }
  }

  void Quit() override {
    quit_.store(true);
    // Wakes a GetMessageW that waits on an empty queue.
    PostThreadMessageW(thread_id_, WM_QUIT, 0, 0);
  }

  bool QuitRequested() const override { return quit_.load(); }

  std::unique_ptr<PollTimer> CreateTimer(std::function<void()> on_tick) override;

  void SetExceptionHandler(std::function<void(const std::exception&)> handler) override {
    exception_handler_ = std::move(handler);
  }

  // Ctrl+C, Ctrl+Break and closing the console, for the program run by hand in a
  // console; under the Service Control Manager a stop comes through the service host.
  void QuitOnStopRequest(std::function<void()> on_stop) override {
    on_stop_ = std::move(on_stop);
    if (stop_requests_hooked_) return;
    {
      std::lock_guard lock(stop_target_mutex_);
      stop_target_ = stop_window_.handle();
      stop_count_ = &stop_requests_;
      if (loop_ended_ == nullptr) loop_ended_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    SetConsoleCtrlHandler(OnConsoleStop, TRUE);
    stop_requests_hooked_ = true;
  }

  int StopRequests() const override { return stop_requests_.load(); }

  void RunHandler(const std::function<void()>& handler) { RunLoopHandler(handler, exception_handler_); }

  const Win32TimerCalls& calls() const { return calls_; }

 private:
  void OnMessage(UINT message, WPARAM) override {
    if (message != kStopRequest) return;
    if (on_stop_) RunHandler(on_stop_);
    Quit();
  }

  // Runs on a thread of its own that the system starts for the console event. Only
  // the first request reaches the loop; later ones are counted and change nothing.
  static BOOL WINAPI OnConsoleStop(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
    HANDLE loop_ended = nullptr;
    {
      std::lock_guard lock(stop_target_mutex_);
      if (stop_target_ == nullptr) return FALSE;
      if (stop_count_->fetch_add(1) == 0) PostMessageW(stop_target_, kStopRequest, 0, 0);
      loop_ended = loop_ended_;
    }
    // The system ends the process as soon as the handler of a closed console returns
    // (and at the latest about 5 s after the close): hold it back until the run has
    // ended, so that the posting in flight can still write its index.
    if (event == CTRL_CLOSE_EVENT && loop_ended != nullptr) WaitForSingleObject(loop_ended, INFINITE);
    return TRUE;
  }

  static inline std::mutex stop_target_mutex_;
  static inline HWND stop_target_ = nullptr;
  static inline std::atomic<int>* stop_count_ = nullptr;
  // Never closed: a console handler may still be waiting on it as the process ends.
  static inline HANDLE loop_ended_ = nullptr;

  const Win32TimerCalls calls_;
  const DWORD thread_id_;
  std::atomic<bool> quit_{false};
  std::function<void(const std::exception&)> exception_handler_;
  std::function<void()> on_stop_;
  bool stop_requests_hooked_ = false;
  std::atomic<int> stop_requests_{0};
  MessageWindow stop_window_;
};

class WindowsPollTimer final : public PollTimer, private WindowTarget {
 public:
  WindowsPollTimer(WindowsMainLoop& loop, std::function<void()> on_tick)
      : loop_(loop), on_tick_(std::move(on_tick)), owner_thread_(GetCurrentThreadId()), window_(*this) {}

  ~WindowsPollTimer() override { KillTimer(window_.handle(), kTimerId); }

  void SetEnabled(bool enabled) override {
    {
      std::lock_guard lock(mutex_);
      if (enabled_ == enabled) return;
      enabled_ = enabled;
      ++generation_;
    }
    Apply();
  }

  bool Enabled() const override {
    std::lock_guard lock(mutex_);
    return enabled_;
  }

  void SetInterval(std::chrono::milliseconds interval) override {
    {
      std::lock_guard lock(mutex_);
      if (interval_ == interval) return;
      interval_ = interval;
      if (!enabled_) return;
      ++generation_;
    }
    Apply();
  }

  std::chrono::milliseconds Interval() const override {
    std::lock_guard lock(mutex_);
    return interval_;
  }

  void ThrowIfNotArmed() const override {
    std::lock_guard lock(mutex_);
    if (!arm_failure_.empty()) throw std::runtime_error(arm_failure_);
  }

 private:
  // Brings the Win32 timer in line with the state: on the window's own thread at
  // once, raising when the timer cannot be set; from any other thread through the
  // window's queue, raising when the request cannot be queued.
  void Apply() {
    if (GetCurrentThreadId() != owner_thread_) {
      requester_thread_.store(GetCurrentThreadId());
      if (!loop_.calls().post_message(window_.handle(), kApplyTimerState, 0, 0)) {
        throw std::runtime_error("PostMessageW: " + SystemErrorText(GetLastError()));
      }
      return;
    }
    const std::string failure = Arm();
    if (!failure.empty()) throw std::runtime_error(failure);
  }

  // Sets or kills the Win32 timer on the window's thread. Returns why it could not be
  // set ("" when it was), keeps that for ThrowIfNotArmed, and wakes the thread that
  // asked from outside the loop, which is waiting for messages. Never raises: it also
  // runs inside the window procedure.
  std::string Arm() noexcept {
    std::string failure;
    try {
      std::lock_guard lock(mutex_);
      KillTimer(window_.handle(), kTimerId);
      armed_generation_ = generation_;
      arm_failure_.clear();
      if (enabled_) {
        const auto count = interval_.count();
        const UINT elapse = count < USER_TIMER_MINIMUM   ? USER_TIMER_MINIMUM
                            : count > USER_TIMER_MAXIMUM ? USER_TIMER_MAXIMUM
                                                         : static_cast<UINT>(count);
        // Re-setting timer 1 of the window restarts its countdown.
        if (loop_.calls().set_timer(window_.handle(), kTimerId, elapse, nullptr) == 0) {
          arm_failure_ = "SetTimer: " + SystemErrorText(GetLastError());
        }
      }
      failure = arm_failure_;
    } catch (const std::exception&) {
      failure = "SetTimer: the failure could not be recorded";
    }
    if (!failure.empty()) {
      const DWORD requester = requester_thread_.load();
      if (requester != 0) PostThreadMessageW(requester, WM_NULL, 0, 0);
    }
    return failure;
  }

  void OnMessage(UINT message, WPARAM wparam) override {
    if (message == kApplyTimerState) {
      Arm();
      return;
    }
    if (message != WM_TIMER || wparam != kTimerId) return;
    {
      // A WM_TIMER already queued when the timer was switched off or re-armed from
      // another thread is stale: KillTimer does not take back what was posted.
      std::lock_guard lock(mutex_);
      if (!enabled_ || generation_ != armed_generation_) return;
    }
    loop_.RunHandler(on_tick_);
  }

  WindowsMainLoop& loop_;
  std::function<void()> on_tick_;
  const DWORD owner_thread_;
  mutable std::mutex mutex_;
  bool enabled_ = false;
  std::chrono::milliseconds interval_{0};
  std::uint64_t generation_ = 0;
  std::uint64_t armed_generation_ = 0;
  std::string arm_failure_;
  std::atomic<DWORD> requester_thread_{0};
  MessageWindow window_;
};

std::unique_ptr<PollTimer> WindowsMainLoop::CreateTimer(std::function<void()> on_tick) {
  return std::make_unique<WindowsPollTimer>(*this, std::move(on_tick));
}

}  // namespace

std::unique_ptr<MainLoop> CreateWindowsMainLoop(const Win32TimerCalls& calls) {
  return std::make_unique<WindowsMainLoop>(calls);
}

std::unique_ptr<MainLoop> CreateMainLoop() { return CreateWindowsMainLoop(Win32TimerCalls{}); }

// The Firebird client installs no console handler on Windows: the console's own
// default (the process ends) holds until a loop asks for the requests.
void TakeStopRequests() {}

void LetStopRequestsEndTheProcess() {}

}  // namespace zendrel
