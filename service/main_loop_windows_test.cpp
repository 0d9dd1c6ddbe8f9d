// The Win32 main loop: ticks are WM_TIMER messages of the loop's thread, the service's
// worker thread switches Timer1 from outside it, and the dispatcher thread's quit
// request waits for the tick in progress.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "service/main_loop.h"
#include "service/main_loop_windows.h"

namespace zendrel {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

// Runs `action` on a thread of its own and waits for it, as the worker does.
template <typename Action>
void OnAnotherThread(Action action) {
  std::thread other(action);
  other.join();
}

TEST(WindowsMainLoop, ATimerSwitchedOnFromAnotherThreadTicksOnTheLoopsThread) {
  auto loop = CreateMainLoop();
  const DWORD loop_thread = GetCurrentThreadId();
  std::vector<DWORD> tick_threads;
  auto timer = loop->CreateTimer([&] {
    tick_threads.push_back(GetCurrentThreadId());
    if (tick_threads.size() == 2) loop->Quit();
  });
  timer->SetInterval(milliseconds(30));
  const auto start = Clock::now();
  OnAnotherThread([&] { timer->SetEnabled(true); });
  EXPECT_TRUE(timer->Enabled());
  loop->Run();
  ASSERT_EQ(tick_threads.size(), 2u);
  EXPECT_EQ(tick_threads[0], loop_thread);
  EXPECT_EQ(tick_threads[1], loop_thread);
  EXPECT_GE(Clock::now() - start, milliseconds(60));
}

TEST(WindowsMainLoop, ATimerSwitchedOffFromAnotherThreadNeverTicksAgain) {
  auto loop = CreateMainLoop();
  int ticks = 0;
  auto timer = loop->CreateTimer([&] { ++ticks; });
  timer->SetInterval(milliseconds(10));
  timer->SetEnabled(true);
  Sleep(50);  // WM_TIMER is due, not yet taken
  OnAnotherThread([&] { timer->SetEnabled(false); });
  EXPECT_FALSE(timer->Enabled());
  const auto until = Clock::now() + milliseconds(80);
  while (Clock::now() < until) {
    loop->ProcessPending();
    Sleep(5);
  }
  EXPECT_EQ(ticks, 0);
}

TEST(WindowsMainLoop, ChangingTheIntervalWhileOnRestartsTheCountdown) {
  auto loop = CreateMainLoop();
  Clock::time_point tick_time;
  auto timer = loop->CreateTimer([&] {
    tick_time = Clock::now();
    loop->Quit();
  });
  timer->SetInterval(milliseconds(40));
  timer->SetEnabled(true);
  Sleep(30);
  const auto changed = Clock::now();
  timer->SetInterval(milliseconds(100));
  loop->Run();
  EXPECT_GE(tick_time - changed, milliseconds(100));
}

// The dispatcher thread asks the loop to quit while a cycle works and pumps messages:
// the quit request is taken by the pump, and the loop ends once the tick returns.
TEST(WindowsMainLoop, AQuitFromAnotherThreadDuringATickEndsTheLoopAfterTheTick) {
  auto loop = CreateMainLoop();
  bool tick_finished = false;
  int ticks = 0;
  std::unique_ptr<PollTimer> timer;
  timer = loop->CreateTimer([&] {
    ++ticks;
    timer->SetEnabled(false);
    OnAnotherThread([&] { loop->Quit(); });
    for (int i = 0; i < 5; ++i) {
      loop->ProcessPending();
      Sleep(5);
    }
    EXPECT_TRUE(loop->QuitRequested());
    tick_finished = true;
    timer->SetEnabled(true);  // a cycle's cleanup switches the timer on again
  });
  timer->SetInterval(milliseconds(5));
  timer->SetEnabled(true);
  loop->Run();
  EXPECT_TRUE(tick_finished);
  EXPECT_EQ(ticks, 1);
}

TEST(WindowsMainLoop, AnExceptionEscapingATickNeverLeavesTheWindowProcedure) {
  auto loop = CreateMainLoop();
  std::vector<std::string> handled;
  loop->SetExceptionHandler([&](const std::exception& e) {
    handled.emplace_back(e.what());
    if (handled.size() == 2) throw std::runtime_error("the log cannot be written");
  });
  int ticks = 0;
  auto timer = loop->CreateTimer([&] {
    if (++ticks <= 2) throw std::runtime_error("tick " + std::to_string(ticks));
    loop->Quit();
  });
  timer->SetInterval(milliseconds(5));
  timer->SetEnabled(true);
  loop->Run();
  EXPECT_EQ(ticks, 3);
  EXPECT_EQ(handled, (std::vector<std::string>{"tick 1", "tick 2"}));
}

TEST(WindowsMainLoop, TwoTimersTickIndependently) {
  auto loop = CreateMainLoop();
  int fast = 0;
  int slow = 0;
  // Each timer counts only its own ticks; the loop ends once the fast one has ticked
  // several times and the slow one at least once, however the machine's load spaces them.
  auto done = [&] {
    if (fast >= 5 && slow >= 1) loop->Quit();
  };
  auto fast_timer = loop->CreateTimer([&] {
    ++fast;
    done();
  });
  auto slow_timer = loop->CreateTimer([&] {
    ++slow;
    done();
  });
  bool gave_up = false;
  auto watchdog = loop->CreateTimer([&] {
    gave_up = true;
    loop->Quit();
  });
  fast_timer->SetInterval(milliseconds(10));
  slow_timer->SetInterval(milliseconds(120));
  watchdog->SetInterval(milliseconds(60000));
  fast_timer->SetEnabled(true);
  slow_timer->SetEnabled(true);
  watchdog->SetEnabled(true);
  loop->Run();
  ASSERT_FALSE(gave_up) << "in 60 s the fast timer ticked " << fast << " times, the slow one " << slow;
  EXPECT_GE(fast, 5);
  EXPECT_GE(slow, 1);
  EXPECT_LT(slow, fast);
}

// ---- A timer the system will not set ----

UINT_PTR WINAPI RefuseSetTimer(HWND, UINT_PTR, UINT, TIMERPROC) {
  SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return 0;
}

BOOL WINAPI RefusePostMessage(HWND, UINT, WPARAM, LPARAM) {
  SetLastError(ERROR_NOT_ENOUGH_QUOTA);
  return FALSE;
}

Win32TimerCalls WithFailing(bool set_timer, bool post_message) {
  Win32TimerCalls calls;
  if (set_timer) calls.set_timer = RefuseSetTimer;
  if (post_message) calls.post_message = RefusePostMessage;
  return calls;
}

TEST(WindowsMainLoop, SwitchingOnATimerThatCannotBeSetRaisesOnTheLoopsThread) {
  auto loop = CreateWindowsMainLoop(WithFailing(true, false));
  auto timer = loop->CreateTimer([] {});
  timer->SetInterval(milliseconds(30));
  try {
    timer->SetEnabled(true);
    ADD_FAILURE() << "SetEnabled did not raise";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()).rfind("SetTimer: ", 0), 0u) << e.what();
  }
  EXPECT_THROW(timer->ThrowIfNotArmed(), std::runtime_error);
  // Switched off, nothing is left to fail.
  timer->SetEnabled(false);
  EXPECT_NO_THROW(timer->ThrowIfNotArmed());
}

TEST(WindowsMainLoop, ASwitchFromAnotherThreadThatCannotBeQueuedRaisesThere) {
  auto loop = CreateWindowsMainLoop(WithFailing(false, true));
  auto timer = loop->CreateTimer([] {});
  timer->SetInterval(milliseconds(30));
  std::string failure;
  OnAnotherThread([&] {
    try {
      timer->SetEnabled(true);
    } catch (const std::runtime_error& e) {
      failure = e.what();
    }
  });
  EXPECT_EQ(failure.rfind("PostMessageW: ", 0), 0u) << failure;
}

// The service's worker switches Timer1 on and then waits for messages: when the loop's
// thread cannot set the timer, the worker is woken and sees why.
TEST(WindowsMainLoop, ATimerThatCannotBeSetWakesTheThreadThatSwitchedItOn) {
  auto loop = CreateWindowsMainLoop(WithFailing(true, false));
  std::atomic<int> ticks{0};
  auto timer = loop->CreateTimer([&] { ++ticks; });
  timer->SetInterval(milliseconds(30));
  std::atomic<bool> switched{false};
  bool woken = false;
  std::string failure;
  std::thread worker([&] {
    MSG message{};
    PeekMessageW(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);  // the thread's queue
    timer->SetEnabled(true);
    switched = true;
    woken = MsgWaitForMultipleObjects(0, nullptr, FALSE, 30000, QS_ALLPOSTMESSAGE) == WAIT_OBJECT_0;
    try {
      timer->ThrowIfNotArmed();
    } catch (const std::runtime_error& e) {
      failure = e.what();
    }
  });
  const auto deadline = Clock::now() + std::chrono::seconds(30);
  while (!switched && Clock::now() < deadline) std::this_thread::sleep_for(milliseconds(1));
  ASSERT_TRUE(switched) << "the worker did not switch the timer on";
  loop->ProcessPending();  // the loop's thread takes the request and cannot set the timer
  worker.join();
  EXPECT_TRUE(woken) << "the worker was not woken";
  EXPECT_EQ(failure.rfind("SetTimer: ", 0), 0u) << failure;
  EXPECT_EQ(ticks.load(), 0);
}

// Ctrl+C twice in the program's console: both are counted the moment they arrive,
// only the first reaches the loop (which ends after the work in progress), and the
// handler takes them, so the process goes on to finish that work. (Wine sends console
// events only to a console on a terminal, and no Ctrl+Break: scripts/test-windows.sh
// runs this test on a pseudo-terminal.)
TEST(WindowsMainLoop, ConsoleStopRequestsAreCountedAndEndTheLoopOnce) {
  const HANDLE input = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
  DWORD mode = 0;
  const bool console = input != INVALID_HANDLE_VALUE && GetConsoleMode(input, &mode);
  if (input != INVALID_HANDLE_VALUE) CloseHandle(input);
  if (!console) GTEST_SKIP() << "no console to send events in";
  auto loop = CreateMainLoop();
  int stops_seen = 0;
  loop->QuitOnStopRequest([&] { ++stops_seen; });
  auto timer = loop->CreateTimer([&] {
    ASSERT_TRUE(GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) << GetLastError();
    ASSERT_TRUE(GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) << GetLastError();
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while (loop->StopRequests() < 2 && Clock::now() < deadline) std::this_thread::sleep_for(milliseconds(10));
    EXPECT_EQ(loop->StopRequests(), 2) << "the console events did not both arrive within 30 s";
    EXPECT_FALSE(loop->QuitRequested()) << "a stop request ended the tick in progress";
  });
  timer->SetInterval(milliseconds(10));
  timer->SetEnabled(true);
  loop->Run();
  EXPECT_EQ(stops_seen, 1);
  EXPECT_TRUE(loop->QuitRequested());
}

}  // namespace
}  // namespace zendrel
