// What every host's main loop does with a handler that raises.
#include "service/main_loop.h"

namespace zendrel {

void RunLoopHandler(const std::function<void()>& handler,
                    const std::function<void(const std::exception&)>& exception_handler) noexcept {
  try {
    handler();
  } catch (const std::exception& e) {
    if (!exception_handler) return;
    try {
      exception_handler(e);
    } catch (...) {
      // The handler reports its own failures to the host; nothing is left to do.
    }
  } catch (...) {
    // The program throws nothing but std::exception; never unwind into the host's loop.
  }
}

}  // namespace zendrel
