// The main thread's message loop and its message-based poll timer. Every poll cycle
// runs on the thread that runs this loop, one tick at a time, so cycles never overlap.
// One implementation per host: an Asio io_context on Linux, a Win32 message loop with
// SetTimer on a hidden window on Windows.
#pragma once

#include <chrono>
#include <exception>
#include <functional>
#include <memory>

namespace zendrel {

// A timer whose ticks the main loop delivers. Created switched off.
class PollTimer {
 public:
  virtual ~PollTimer() = default;

  // Switching on (or changing the interval while on) restarts the countdown; setting
  // the value the timer already has changes nothing. A switched-off timer never ticks,
  // even when its countdown had already run out. Safe to call from any thread.
  virtual void SetEnabled(bool enabled) = 0;
  virtual bool Enabled() const = 0;

  virtual void SetInterval(std::chrono::milliseconds interval) = 0;
  virtual std::chrono::milliseconds Interval() const = 0;

  // Throws, with the host's reason, when the host could not arm the timer the last
  // time it was switched on or given a new interval (such a timer never ticks). A
  // thread that switched the timer on from outside the loop is woken by a message
  // when that happens, so it can check without polling. Safe to call from any thread.
  virtual void ThrowIfNotArmed() const = 0;
};

class MainLoop {
 public:
  virtual ~MainLoop() = default;

  // Handles messages (timer ticks, stop requests) one at a time until Quit is asked.
  // An exception escaping a tick handler goes to the exception handler, and the loop
  // goes on.
  virtual void Run() = 0;

  // Handles every message already waiting, without waiting for more. Called by the
  // points campaign between movements; a quit request taken here ends Run only after
  // the handler in progress has returned.
  virtual void ProcessPending() = 0;

  // Asks Run to return once the handler in progress (if any) has finished. Safe to
  // call from any thread and from a signal-driven handler.
  virtual void Quit() = 0;

  // Whether Quit has been asked.
  virtual bool QuitRequested() const = 0;

  // A timer bound to this loop; `on_tick` runs on the loop's thread.
  virtual std::unique_ptr<PollTimer> CreateTimer(std::function<void()> on_tick) = 0;

  // Where exceptions escaping a tick handler go (the process-wide handler).
  virtual void SetExceptionHandler(std::function<void(const std::exception&)> handler) = 0;

  // Stops the loop when the host asks the program to stop (SIGTERM/SIGINT on Linux;
  // Ctrl+C, Ctrl+Break and closing the console on Windows); `on_stop` runs on the
  // loop's thread before the loop quits. Every later request is counted and changes
  // nothing more.
  virtual void QuitOnStopRequest(std::function<void()> on_stop) = 0;

  // How many stop requests the host has delivered since QuitOnStopRequest. Counted
  // the moment they arrive, before the loop takes them, so code that runs outside
  // the loop (a "-once" cycle) sees them at once. Safe to call from any thread.
  virtual int StopRequests() const = 0;
};

// Takes the host's stop requests for the process before any library can install a
// handler of its own (the Firebird client's shuts the client down under a running
// cycle, which then crashes). From then on a request reaches only a loop's
// QuitOnStopRequest; until a loop asks for them (or LetStopRequestsEndTheProcess is
// called) requests are held, so a stop sent while the program starts is not lost.
// Call first thing at process start, before any thread is started.
void TakeStopRequests();

// For the modes without a main loop, and after a loop has gone: a stop request ends
// the process as it asks (a held one at once).
void LetStopRequestsEndTheProcess();

// The host's main loop.
std::unique_ptr<MainLoop> CreateMainLoop();

// For the hosts' loops: runs one handler; an exception escaping it goes to
// `exception_handler`, and nothing ever leaves the loop (a failure of the exception
// handler itself is its own to report).
void RunLoopHandler(const std::function<void()>& handler,
                    const std::function<void(const std::exception&)>& exception_handler) noexcept;

}  // namespace zendrel
