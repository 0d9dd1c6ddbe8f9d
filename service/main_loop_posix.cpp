// The Linux main loop: an Asio io_context run on the main thread. Timer ticks and stop
// signals are handlers of that context; the message pump is a poll of it.
#include <asio.hpp>
#include <atomic>
#include <csignal>
#include <exception>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <thread>

#include "service/main_loop.h"

namespace zendrel {
namespace {

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

  // The stop signals are blocked in every thread (the Firebird and HTTP clients start
  // threads of their own later, which inherit the mask) and taken by one watcher thread
  // with sigwait, so no library's own signal handler ever runs in the middle of a
  // cycle, and the request reaches the loop as an ordinary handler.
  void QuitOnStopRequest(std::function<void()> on_stop) override {
    if (stop_watcher_.joinable()) return;
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGTERM);
    sigaddset(&stop_signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
    stop_watcher_ = std::thread([this, stop_signals, on_stop = std::move(on_stop)] {
      int signal_number = 0;
      while (sigwait(&stop_signals, &signal_number) == 0) {
        if (closing_.load()) return;
        asio::post(io_, [this, on_stop] {
          if (on_stop) RunHandler(on_stop);
          Quit();
        });
        return;
      }
    });
  }

  ~AsioMainLoop() override {
    if (stop_watcher_.joinable()) {
      closing_.store(true);
      // Wakes the watcher if it still waits; the signal is blocked everywhere, so only
      // its sigwait sees it.
      pthread_kill(stop_watcher_.native_handle(), SIGTERM);
      stop_watcher_.join();
    }
  }

  void RunHandler(const std::function<void()>& handler) { RunLoopHandler(handler, exception_handler_); }

  asio::io_context& io() { return io_; }

 private:
  asio::io_context io_;
  asio::executor_work_guard<asio::io_context::executor_type> work_;
  std::atomic<bool> quit_{false};
  std::function<void(const std::exception&)> exception_handler_;
  std::atomic<bool> closing_{false};
  std::thread stop_watcher_;
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

}  // namespace zendrel
