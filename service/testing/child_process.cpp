// Child processes for tests, with fork and exec.
#include "service/testing/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace zendrel::testing {
namespace {

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string TempPath(const char* what) {
  std::string pattern = std::string("/tmp/zendrel-child-") + what + "-XXXXXX";
  const int fd = ::mkstemp(pattern.data());
  if (fd < 0) throw std::runtime_error("mkstemp failed");
  ::close(fd);
  return pattern;
}

}  // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const std::map<std::string, std::string>& env)
    : out_path_(TempPath("out")), err_path_(TempPath("err")) {
  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    const int out = ::open(out_path_.c_str(), O_WRONLY | O_TRUNC);
    const int err = ::open(err_path_.c_str(), O_WRONLY | O_TRUNC);
    const int in = ::open("/dev/null", O_RDONLY);
    if (out < 0 || err < 0 || in < 0) ::_exit(126);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    for (const auto& [name, value] : env) ::setenv(name.c_str(), value.c_str(), 1);
    std::vector<char*> argv;
    std::string program_copy = program;
    argv.push_back(program_copy.data());
    std::vector<std::string> copies = args;
    for (std::string& a : copies) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(program_copy.c_str(), argv.data());
    ::_exit(127);
  }
}

ChildProcess::~ChildProcess() {
  if (!status_ && pid_ > 0) {
    ::kill(pid_, SIGKILL);
    int ignored = 0;
    ::waitpid(pid_, &ignored, 0);
  }
  ::unlink(out_path_.c_str());
  ::unlink(err_path_.c_str());
}

void ChildProcess::Signal(int signal_number) {
  if (!status_) ::kill(pid_, signal_number);
}

bool ChildProcess::Blocks(int signal_number) const {
  std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("SigBlk:", 0) != 0) continue;
    const unsigned long long mask = std::stoull(line.substr(7), nullptr, 16);
    return ((mask >> (signal_number - 1)) & 1U) != 0;
  }
  return false;
}

std::optional<int> ChildProcess::Wait(std::chrono::milliseconds deadline) {
  const auto until = std::chrono::steady_clock::now() + deadline;
  while (!status_) {
    int raw = 0;
    const pid_t done = ::waitpid(pid_, &raw, WNOHANG);
    if (done == pid_) {
      status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
      break;
    }
    if (std::chrono::steady_clock::now() >= until) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return status_;
}

bool ChildProcess::Running() { return !Wait(std::chrono::milliseconds(0)).has_value(); }

std::string ChildProcess::Output() const { return ReadWhole(out_path_); }
std::string ChildProcess::Errors() const { return ReadWhole(err_path_); }

RunResult RunToEnd(const std::string& program, const std::vector<std::string>& args,
                   const std::map<std::string, std::string>& env, std::chrono::milliseconds deadline) {
  ChildProcess child(program, args, env);
  RunResult result;
  const std::optional<int> status = child.Wait(deadline);
  if (!status) {
    child.Signal(SIGKILL);
    child.Wait(std::chrono::seconds(5));
  }
  result.status = status.value_or(-1);
  result.out = child.Output();
  result.err = child.Errors();
  return result;
}

}  // namespace zendrel::testing
