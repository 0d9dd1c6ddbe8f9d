// Runs a program as a child process for tests: arguments, extra environment, captured
// standard output and error, signals, and an exit status with a deadline.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace zendrel::testing {

class ChildProcess {
 public:
  // Starts `program` with `args`; `env` is added to (or overrides) this process's
  // environment. Output goes to files read by Output()/Errors().
  ChildProcess(const std::string& program, const std::vector<std::string>& args,
               const std::map<std::string, std::string>& env = {});
  ~ChildProcess();  // kills a child still running
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  void Signal(int signal_number);

  // The exit status once the child has ended, or nullopt when it is still running
  // after `deadline`. A child ended by a signal gives 128 + the signal.
  std::optional<int> Wait(std::chrono::milliseconds deadline);

  bool Running();

  // Whether the child's main thread has `signal_number` blocked (from /proc): the
  // program blocks its stop signals once it is ready to take them in its loop, so a
  // signal sent before that would end it by the default action instead.
  bool Blocks(int signal_number) const;

  std::string Output() const;
  std::string Errors() const;

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
  std::string out_path_;
  std::string err_path_;
};

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs to the end (killed after `deadline`, then status -1).
RunResult RunToEnd(const std::string& program, const std::vector<std::string>& args,
                   const std::map<std::string, std::string>& env = {},
                   std::chrono::milliseconds deadline = std::chrono::seconds(60));

}  // namespace zendrel::testing
