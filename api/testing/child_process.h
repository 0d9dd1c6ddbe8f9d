// A child process for tests: started with its standard output on a pipe, so the
// test can read what it announces (the fake platform prints its ports), and
// stopped for sure when the test is done.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace zendrel {

class ChildProcess {
 public:
  virtual ~ChildProcess() = default;  // kills the child if it still runs

  // Starts argv[0] (looked up on PATH) with the given arguments. Throws
  // std::runtime_error when it cannot be started.
  static std::unique_ptr<ChildProcess> Start(const std::vector<std::string>& argv);

  // The next line of the child's standard output, without its line end. Throws
  // std::runtime_error when none comes within `timeout_ms` or the output ends.
  virtual std::string ReadLine(int timeout_ms) = 0;

  // Waits up to `timeout_ms` for the child to end; true when it has ended.
  virtual bool WaitForExit(int timeout_ms) = 0;

  // Asks the child to end (SIGTERM), then kills it if it has not ended in time.
  virtual void Terminate(int grace_ms) = 0;
};

}  // namespace zendrel
