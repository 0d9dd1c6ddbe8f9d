// ChildProcess on POSIX: posix_spawnp with a pipe for standard output.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "api/testing/child_process.h"

extern char** environ;

namespace zendrel {
namespace {

using SteadyClock = std::chrono::steady_clock;

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd = -1) : fd_(fd) {}
  ~FileDescriptor() { Close(); }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  int Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

class PosixChildProcess final : public ChildProcess {
 public:
  PosixChildProcess(pid_t pid, int stdout_fd) : pid_(pid), stdout_(stdout_fd) {}

  ~PosixChildProcess() override {
    if (!exited_) Terminate(2000);
  }

  std::string ReadLine(int timeout_ms) override {
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
      if (const size_t end = buffered_.find('\n'); end != std::string::npos) {
        std::string line = buffered_.substr(0, end);
        buffered_.erase(0, end + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return line;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
      if (left.count() <= 0) throw std::runtime_error("child process: no output line in time");
      pollfd entry{stdout_.get(), POLLIN, 0};
      const int ready = ::poll(&entry, 1, static_cast<int>(left.count()));
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0) continue;
      char chunk[512];
      const ssize_t got = ::read(stdout_.get(), chunk, sizeof chunk);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) throw std::runtime_error("child process: output ended before a line");
      buffered_.append(chunk, static_cast<size_t>(got));
    }
  }

  bool WaitForExit(int timeout_ms) override {
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeout_ms);
    while (!exited_) {
      int status = 0;
      const pid_t done = ::waitpid(pid_, &status, WNOHANG);
      if (done == pid_ || (done < 0 && errno == ECHILD)) {
        exited_ = true;
        break;
      }
      if (SteadyClock::now() >= deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
  }

  void Terminate(int grace_ms) override {
    if (exited_) return;
    ::kill(pid_, SIGTERM);
    if (WaitForExit(grace_ms)) return;
    ::kill(pid_, SIGKILL);
    WaitForExit(5000);
  }

 private:
  pid_t pid_;
  FileDescriptor stdout_;
  std::string buffered_;
  bool exited_ = false;
};

}  // namespace

std::unique_ptr<ChildProcess> ChildProcess::Start(const std::vector<std::string>& argv) {
  if (argv.empty()) throw std::runtime_error("child process: nothing to start");
  int pipe_ends[2];
  if (::pipe2(pipe_ends, O_CLOEXEC) != 0) throw std::runtime_error("child process: pipe failed");
  FileDescriptor read_end(pipe_ends[0]);
  FileDescriptor write_end(pipe_ends[1]);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, write_end.get(), STDOUT_FILENO);

  std::vector<char*> arguments;
  for (const std::string& argument : argv) arguments.push_back(const_cast<char*>(argument.c_str()));
  arguments.push_back(nullptr);

  pid_t pid = 0;
  const int error = ::posix_spawnp(&pid, arguments[0], &actions, nullptr, arguments.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) {
    throw std::runtime_error(std::string("child process: cannot start ") + argv[0] + ": " + std::strerror(error));
  }
  write_end.Close();
  return std::make_unique<PosixChildProcess>(pid, read_end.Release());
}

}  // namespace zendrel
