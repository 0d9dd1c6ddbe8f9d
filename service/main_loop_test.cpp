// The main loop and its poll timer on this host: schedule, switching, the pump, stop
// requests and exceptions escaping a tick.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <csignal>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "service/main_loop.h"
#include "support/testing/eventually.h"

namespace zendrel {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

TEST(PollTimer, CreatedSwitchedOffAndNeverTicksUntilSwitchedOn) {
  auto loop = CreateMainLoop();
  int ticks = 0;
  auto timer = loop->CreateTimer([&] { ++ticks; });
  timer->SetInterval(milliseconds(1));
  EXPECT_FALSE(timer->Enabled());
  std::this_thread::sleep_for(milliseconds(20));
  loop->ProcessPending();
  EXPECT_EQ(ticks, 0);
}

TEST(PollTimer, TicksAfterTheIntervalAndKeepsTickingWhileOn) {
  auto loop = CreateMainLoop();
  std::vector<Clock::time_point> ticks;
  std::unique_ptr<PollTimer> timer;
  timer = loop->CreateTimer([&] {
    ticks.push_back(Clock::now());
    if (ticks.size() == 3) loop->Quit();
  });
  timer->SetInterval(milliseconds(40));
  const auto start = Clock::now();
  timer->SetEnabled(true);
  loop->Run();
  ASSERT_EQ(ticks.size(), 3u);
  EXPECT_GE(ticks[0] - start, milliseconds(40));
  EXPECT_GE(ticks[1] - ticks[0], milliseconds(40));
  EXPECT_GE(ticks[2] - ticks[1], milliseconds(40));
}

TEST(PollTimer, SettingTheIntervalWhileOffDoesNotStartIt) {
  auto loop = CreateMainLoop();
  int ticks = 0;
  auto timer = loop->CreateTimer([&] { ++ticks; });
  timer->SetInterval(milliseconds(1));
  timer->SetInterval(milliseconds(2));
  EXPECT_FALSE(timer->Enabled());
  EXPECT_EQ(timer->Interval(), milliseconds(2));
  std::this_thread::sleep_for(milliseconds(20));
  loop->ProcessPending();
  EXPECT_EQ(ticks, 0);
}

TEST(PollTimer, ASwitchedOffTimerNeverTicksEvenWhenItsCountdownHadRunOut) {
  auto loop = CreateMainLoop();
  int ticks = 0;
  auto timer = loop->CreateTimer([&] { ++ticks; });
  timer->SetInterval(milliseconds(1));
  timer->SetEnabled(true);
  std::this_thread::sleep_for(milliseconds(20));  // expired, not yet delivered
  timer->SetEnabled(false);
  loop->ProcessPending();
  EXPECT_EQ(ticks, 0);
}

// The schedule of the poll cycle: the tick switches the timer off, works, and switches
// it on again, so the next tick comes one interval after the end of the slow tick.
TEST(PollTimer, NextTickComesOneIntervalAfterTheEndOfASlowTick) {
  auto loop = CreateMainLoop();
  std::vector<Clock::time_point> starts, ends;
  std::unique_ptr<PollTimer> timer;
  timer = loop->CreateTimer([&] {
    timer->SetEnabled(false);
    timer->SetInterval(milliseconds(60));
    starts.push_back(Clock::now());
    std::this_thread::sleep_for(milliseconds(100));
    ends.push_back(Clock::now());
    timer->SetEnabled(true);
    if (starts.size() == 2) loop->Quit();
  });
  timer->SetInterval(milliseconds(20));
  timer->SetEnabled(true);
  loop->Run();
  ASSERT_EQ(starts.size(), 2u);
  EXPECT_GE(starts[1] - ends[0], milliseconds(60));
  EXPECT_GE(starts[1] - starts[0], milliseconds(160));
}

TEST(MainLoop, AnExceptionEscapingATickGoesToTheHandlerAndTheLoopGoesOn) {
  auto loop = CreateMainLoop();
  std::vector<std::string> handled;
  loop->SetExceptionHandler([&](const std::exception& e) { handled.emplace_back(e.what()); });
  int ticks = 0;
  auto timer = loop->CreateTimer([&] {
    ++ticks;
    if (ticks == 1) throw std::runtime_error("boom");
    loop->Quit();
  });
  timer->SetInterval(milliseconds(5));
  timer->SetEnabled(true);
  loop->Run();
  EXPECT_EQ(ticks, 2);
  EXPECT_EQ(handled, std::vector<std::string>{"boom"});
}

TEST(MainLoop, AFailingExceptionHandlerDoesNotEndTheLoop) {
  auto loop = CreateMainLoop();
  loop->SetExceptionHandler([](const std::exception&) { throw std::runtime_error("handler failed"); });
  int ticks = 0;
  auto timer = loop->CreateTimer([&] {
    if (++ticks == 1) throw std::runtime_error("boom");
    loop->Quit();
  });
  timer->SetInterval(milliseconds(5));
  timer->SetEnabled(true);
  loop->Run();
  EXPECT_EQ(ticks, 2);
}

// A stop request that arrives while a tick is working is taken by the pump, but the
// loop ends only after the tick has returned.
TEST(MainLoop, StopSignalDuringATickEndsTheLoopOnlyAfterTheTick) {
  auto loop = CreateMainLoop();
  bool stop_seen = false;
  bool tick_finished = false;
  loop->QuitOnStopRequest([&] { stop_seen = true; });
  auto timer = loop->CreateTimer([&] {
    ::kill(::getpid(), SIGTERM);
    // The watcher thread takes the signal; the pump delivers it.
    const bool taken = testing::Eventually([&] {
      loop->ProcessPending();
      return loop->QuitRequested();
    });
    EXPECT_TRUE(taken) << "the pump never delivered the stop request";
    EXPECT_TRUE(stop_seen);
    tick_finished = true;
  });
  timer->SetInterval(milliseconds(1));
  timer->SetEnabled(true);
  loop->Run();
  EXPECT_TRUE(stop_seen);
  EXPECT_TRUE(tick_finished);
}

TEST(MainLoop, QuitFromAnotherThreadEndsAnIdleLoop) {
  auto loop = CreateMainLoop();
  std::thread stopper([&] {
    std::this_thread::sleep_for(milliseconds(30));
    loop->Quit();
  });
  loop->Run();
  stopper.join();
  EXPECT_TRUE(loop->QuitRequested());
}

}  // namespace
}  // namespace zendrel
