// A run that is asked to end between two movements: an interrupted "-once". The send
// loops look at the request before each movement, never during one, so the posting
// already under way is answered and its send index written before the run ends: the
// platform credits a posting on receipt, and a posting without its index write would
// be posted again by the next run.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace zendrel {

struct RunStop {
  // Whether the run has been asked to end; empty: it never is.
  std::function<bool()> requested;

  // Set by the campaign loops during a cycle.
  bool taken = false;                         // a loop ended the run for the request
  std::string last_campaign;                  // the campaign of the last index written
  std::optional<std::int64_t> last_movement;  // the last send index written this cycle

  // Whether the run must end here; remembers that it did.
  bool Take() {
    if (!requested || !requested()) return false;
    taken = true;
    return true;
  }

  void StartCycle() {
    taken = false;
    last_campaign.clear();
    last_movement.reset();
  }
};

}  // namespace zendrel
