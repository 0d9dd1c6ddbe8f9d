// Waiting in tests for what another thread or process does: a condition polled until it
// holds or a deadline passes. The deadline is sized for a loaded two-core CI machine, so
// a test that reaches it has failed for a reason, not for being slow.
#pragma once

#include <chrono>
#include <thread>

namespace zendrel::testing {

inline constexpr std::chrono::milliseconds kPatience = std::chrono::seconds(60);

// Polls `condition` until it returns true (then true) or `deadline` has passed (then
// false, after one last look).
template <typename Condition>
bool Eventually(Condition&& condition, std::chrono::milliseconds deadline = kPatience,
                std::chrono::milliseconds poll = std::chrono::milliseconds(10)) {
  const auto until = std::chrono::steady_clock::now() + deadline;
  while (std::chrono::steady_clock::now() < until) {
    if (condition()) return true;
    std::this_thread::sleep_for(poll);
  }
  return condition();
}

}  // namespace zendrel::testing
