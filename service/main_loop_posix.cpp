// The Linux main loop: an Asio io_context run on the main thread. Timer ticks and stop
// signals are handlers of that context; the message pump is a poll of it.
#include <asio.hpp>
#include <atomic>
#include <csignal>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <signal.h>
#include <thread>

#include "service/main_loop.h"

namespace zendrel {
namespace {

// SIGINT and SIGTERM, blocked in every thread from process start (the Firebird and
// HTTP clients start threads of their own later, which inherit the mask) and taken by
// one watcher thread with sigwait. The Firebird client installs handlers for both
// that shut the client down on a thread of its own, under the cycle that is using it;
// a blocked signal never reaches them.
class StopSignalWatcher {
 public:
  static StopSignalWatcher& Instance() {
    // Never destroyed: the watcher thread runs until the process ends.
    static auto* const watcher = new StopSignalWatcher();
    return *watcher;
  }

  // Runs `handler` at each request from now on, first for each one held meanwhile.
  // nullptr: requests end the process, a held one at once.
  void SetHandler(std::function<void()> handler) {
    std::lock_guard lock(mutex_);
    handler_ = std::move(handler);
    holding_ = false;
    for (; held_ > 0; --held_) Deliver(held_signal_);
  }

 private:
  StopSignalWatcher() {
    sigemptyset(&signals_);
    sigaddset(&signals_, SIGTERM);
    sigaddset(&signals_, SIGINT);
    pthread_sigmask(SIG_BLOCK, &signals_, nullptr);
    std::thread([this] { Watch(); }).detach();
  }

  void Watch() {
    int signal_number = 0;
    while (sigwait(&signals_, &signal_number) == 0) {
      std::lock_guard lock(mutex_);
      if (holding_) {
        // The program has not yet said who takes requests: one sent while it starts
        // waits for that, instead of ending a service that is about to take it.
        ++held_;
        held_signal_ = signal_number;
        continue;
      }
      Deliver(signal_number);
    }
  }

  // Called with the mutex held.
  void Deliver(int signal_number) {
    if (handler_) {
      handler_();
      return;
    }
    // Nobody takes the request: the process ends as the signal's default action would
    // end it, whatever handler a library has put in place meanwhile.
    std::signal(signal_number, SIG_DFL);
    sigset_t just_this;
    sigemptyset(&just_this);
    sigaddset(&just_this, signal_number);
    pthread_sigmask(SIG_UNBLOCK, &just_this, nullptr);
    ::raise(signal_number);
  }

  sigset_t signals_{};
  std::mutex mutex_;
  std::function<void()> handler_;
  bool holding_ = true;
  int held_ = 0;
  int held_signal_ = SIGTERM;
};

// Runs `handler` (under the watcher's lock, so it is never in progress once replaced)
// at each stop signal; nullptr gives the signals their default action back.
void SetStopSignalHandler(std::function<void()> handler) {
  StopSignalWatcher::Instance().SetHandler(std::move(handler));
}

class AsioMainLoop;

// Shared between a timer and its pending waits, so a wait that completes after the
// timer is gone finds it marked dead instead of touching freed memory.
struct TimerState {
  TimerState(asio::io_context& io, std::function<void()> tick) : timer(io), on_tick(std::move(tick)) {}

  std::mutex mutex;
  asio::steady_timer timer;
  std::function<void()> on_tick;
  bool enabled = false;
  bool alive = true;
  std::chrono::milliseconds interval{0};
  // Bumped at every switch and interval change: a wait armed under an older
  // generation was cancelled, even if Asio still delivers its completion.
  std::uint64_t generation = 0;
};

class AsioMainLoop final : public MainLoop {
 public:
  AsioMainLoop() : work_(asio::make_work_guard(io_)) {}

  void Run() override {
    while (!quit_.load()) {
      io_.restart();
      io_.run();
    }
  }

  void ProcessPending() override { io_.poll(); }

  void Quit() override {
    quit_.store(true);
    io_.stop();
  }

  bool QuitRequested() const override { return quit_.load(); }

  std::unique_ptr<PollTimer> CreateTimer(std::function<void()> on_tick) override;

  void SetExceptionHandler(std::function<void(const std::exception&)> handler) override {
    exception_handler_ = std::move(handler);
  }

  // The stop signals reach this loop through the process's one watcher thread, so no
  // library's own signal handler ever runs in the middle of a cycle, and the request
  // reaches the loop as an ordinary handler.
  void QuitOnStopRequest(std::function<void()> on_stop) override {
    if (watching_stop_requests_) return;
    watching_stop_requests_ = true;
    SetStopSignalHandler([this, on_stop = std::move(on_stop)] {
      if (stop_requests_.fetch_add(1) > 0) return;
      asio::post(io_, [this, on_stop] {
        if (on_stop) RunHandler(on_stop);
        Quit();
      });
    });
  }

  int StopRequests() const override { return stop_requests_.load(); }

  ~AsioMainLoop() override {
    // After this returns no request is in the middle of reaching the loop.
    if (watching_stop_requests_) SetStopSignalHandler(nullptr);
  }

  void RunHandler(const std::function<void()>& handler) { RunLoopHandler(handler, exception_handler_); }

  asio::io_context& io() { return io_; }

 private:
  asio::io_context io_;
  asio::executor_work_guard<asio::io_context::executor_type> work_;
  std::atomic<bool> quit_{false};
  std::function<void(const std::exception&)> exception_handler_;
  bool watching_stop_requests_ = false;
  std::atomic<int> stop_requests_{0};
};

class AsioPollTimer final : public PollTimer {
 public:
  AsioPollTimer(AsioMainLoop& loop, std::function<void()> on_tick)
      : loop_(loop), state_(std::make_shared<TimerState>(loop.io(), std::move(on_tick))) {}

  ~AsioPollTimer() override {
    std::lock_guard lock(state_->mutex);
    state_->alive = false;
    state_->enabled = false;
    ++state_->generation;
    state_->timer.cancel();
  }

  void SetEnabled(bool enabled) override {
    std::lock_guard lock(state_->mutex);
    if (state_->enabled == enabled) return;
    state_->enabled = enabled;
    ++state_->generation;
    state_->timer.cancel();
    if (enabled) Arm(loop_, state_);
  }

  bool Enabled() const override {
    std::lock_guard lock(state_->mutex);
    return state_->enabled;
  }

  void SetInterval(std::chrono::milliseconds interval) override {
    std::lock_guard lock(state_->mutex);
    if (state_->interval == interval) return;
    state_->interval = interval;
    if (state_->enabled) {
      ++state_->generation;
      state_->timer.cancel();
      Arm(loop_, state_);
    }
  }

  std::chrono::milliseconds Interval() const override {
    std::lock_guard lock(state_->mutex);
    return state_->interval;
  }

  // An Asio countdown that cannot be started throws from SetEnabled itself; there is
  // no later failure to report.
  void ThrowIfNotArmed() const override {}

 private:
  // Starts a countdown of the current interval. Called with the state's mutex held.
  static void Arm(AsioMainLoop& loop, const std::shared_ptr<TimerState>& state) {
    const std::uint64_t generation = state->generation;
    state->timer.expires_after(state->interval);
    state->timer.async_wait([&loop, state, generation](const asio::error_code& ec) {
      if (ec == asio::error::operation_aborted) return;
      {
        std::lock_guard lock(state->mutex);
        if (!state->alive || !state->enabled || state->generation != generation) return;
      }
      loop.RunHandler(state->on_tick);
      // Like a window timer, an enabled timer keeps ticking at its interval unless
      // the handler switched it or changed its interval meanwhile.
      std::lock_guard lock(state->mutex);
      if (state->alive && state->enabled && state->generation == generation) Arm(loop, state);
    });
  }

  AsioMainLoop& loop_;
  std::shared_ptr<TimerState> state_;
};

std::unique_ptr<PollTimer> AsioMainLoop::CreateTimer(std::function<void()> on_tick) {
  return std::make_unique<AsioPollTimer>(*this, std::move(on_tick));
}

}  // namespace

std::unique_ptr<MainLoop> CreateMainLoop() { return std::make_unique<AsioMainLoop>(); }

void TakeStopRequests() { StopSignalWatcher::Instance(); }

void LetStopRequestsEndTheProcess() { SetStopSignalHandler(nullptr); }

}  // namespace zendrel
