// A child process for the API tests on Windows. The programs the tests start (the
// fake platform, a Python program) are Linux programs when the tests run under Wine,
// and Wine cannot start those with a pipe for their output. So the child is started
// by the launcher tools/wine/child_launcher.py, reached over loopback on the port in
// ZENDREL_CHILD_LAUNCHER_PORT: the connection carries the child's output back, and
// closing it ends the child.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include <fmt/format.h>

#include "api/testing/child_process.h"

namespace zendrel {
namespace {

using SteadyClock = std::chrono::steady_clock;

std::string JsonString(const std::string& text) {
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      quoted += fmt::format("\\u{:04x}", static_cast<unsigned>(c));
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}

void StartSockets() {
  static const bool started = [] {
    WSADATA data{};
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  if (!started) throw std::runtime_error("child process: WSAStartup failed");
}

class LaunchedChildProcess final : public ChildProcess {
 public:
  explicit LaunchedChildProcess(SOCKET connection) : connection_(connection) {}

  ~LaunchedChildProcess() override {
    if (!exited_) Send("KILL\n");
    closesocket(connection_);
  }

  LaunchedChildProcess(const LaunchedChildProcess&) = delete;
  LaunchedChildProcess& operator=(const LaunchedChildProcess&) = delete;

  std::string ReadLine(int timeout_ms) override {
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
      const size_t end = pending_.find('\n');
      if (end != std::string::npos) {
        std::string line = pending_.substr(0, end);
        pending_.erase(0, end + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return line;
      }
      if (exited_) throw std::runtime_error("child process: its output ended");
      if (!Receive(deadline)) throw std::runtime_error("child process: no line within the time-out");
    }
  }

  bool WaitForExit(int timeout_ms) override {
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeout_ms);
    while (!exited_) {
      if (!Receive(deadline)) return false;
    }
    return true;
  }

  void Terminate(int grace_ms) override {
    if (exited_) return;
    Send("TERM\n");
    if (WaitForExit(grace_ms)) return;
    Send("KILL\n");
    WaitForExit(5000);
  }

 private:
  void Send(const std::string& command) { send(connection_, command.data(), static_cast<int>(command.size()), 0); }

  // Waits until `deadline` for output; false when none came in time. The end of the
  // connection's data means the child has ended.
  bool Receive(SteadyClock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
    if (left.count() <= 0) return false;
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(connection_, &readable);
    timeval wait{static_cast<long>(left.count() / 1000), static_cast<long>((left.count() % 1000) * 1000)};
    const int ready = select(0, &readable, nullptr, nullptr, &wait);
    if (ready == SOCKET_ERROR)
      throw std::runtime_error(fmt::format("child process: select failed ({})", WSAGetLastError()));
    if (ready == 0) return false;
    char buffer[4096];
    const int got = recv(connection_, buffer, sizeof(buffer), 0);
    if (got <= 0) {
      exited_ = true;
    } else {
      pending_.append(buffer, static_cast<size_t>(got));
    }
    return true;
  }

  SOCKET connection_;
  std::string pending_;
  bool exited_ = false;
};

}  // namespace

std::unique_ptr<ChildProcess> ChildProcess::Start(const std::vector<std::string>& argv) {
  const char* port = std::getenv("ZENDREL_CHILD_LAUNCHER_PORT");
  if (port == nullptr || *port == '\0') {
    throw std::runtime_error(
        "child process: ZENDREL_CHILD_LAUNCHER_PORT is not set (start tools/wine/child_launcher.py first)");
  }
  StartSockets();
  const SOCKET connection = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (connection == INVALID_SOCKET) throw std::runtime_error("child process: socket failed");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<u_short>(std::atoi(port)));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(connection, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
    const int error = WSAGetLastError();
    closesocket(connection);
    throw std::runtime_error(fmt::format("child process: cannot reach the launcher on port {} ({})", port, error));
  }
  std::string request = "[";
  for (size_t i = 0; i < argv.size(); ++i) request += (i > 0 ? "," : "") + JsonString(argv[i]);
  request += "]\n";
  auto child = std::make_unique<LaunchedChildProcess>(connection);
  if (send(connection, request.data(), static_cast<int>(request.size()), 0) != static_cast<int>(request.size())) {
    throw std::runtime_error("child process: cannot send the command line to the launcher");
  }
  return child;
}

}  // namespace zendrel
