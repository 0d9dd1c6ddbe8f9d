// The service host on Linux: a systemd unit written by -install, and the service run in
// the foreground until systemd's stop signal.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <system_error>
#include <vector>

#include <fmt/format.h>

#include "service/service_host.h"
#include "support/executable_folder.h"

namespace zendrel {
namespace {

const std::filesystem::path kSystemUnitFolder = "/etc/systemd/system";

// systemd reads "%" as a specifier and the backslash as an escape in ExecStart; a path
// with a blank must be quoted to stay one word.
std::string UnitExecStart(const std::filesystem::path& executable) {
  std::string escaped;
  for (char c : executable.string()) {
    if (c == '%')
      escaped += "%%";
    else if (c == '\\')
      escaped += "\\\\";
    else if (c == '"')
      escaped += "\\\"";
    else
      escaped += c;
  }
  if (executable.string().find(' ') != std::string::npos) return "\"" + escaped + "\"";
  return escaped;
}

std::string UnitText(const std::filesystem::path& executable) {
  return fmt::format(
      "[Unit]\n"
      "Description={}\n"
      "After=network-online.target\n"
      "Wants=network-online.target\n"
      "\n"
      "[Service]\n"
      "Type=simple\n"
      "ExecStart={}\n"
      "Restart=on-failure\n"
      "RestartSec=30\n"
      "# A stop lets the poll cycle in progress finish, so that no movement is posted\n"
      "# without its send index being written; the cycle may take a while on a backlog.\n"
      "TimeoutStopSec=30min\n"
      "KillMode=mixed\n"
      "\n"
      "[Install]\n"
      "WantedBy=multi-user.target\n",
      kServiceDisplayName, UnitExecStart(executable));
}

bool SystemdRuns() {
  struct stat info {};
  return ::stat("/run/systemd/system", &info) == 0 && S_ISDIR(info.st_mode);
}

// Runs systemctl with `args`; throws with its exit status when it fails.
void Systemctl(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  std::string program = "systemctl";
  argv.push_back(program.data());
  std::vector<std::string> copies = args;
  for (std::string& a : copies) argv.push_back(a.data());
  argv.push_back(nullptr);

  const pid_t pid = ::fork();
  if (pid < 0) throw std::system_error(errno, std::generic_category(), "fork");
  if (pid == 0) {
    ::execvp("systemctl", argv.data());
    ::_exit(127);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) throw std::system_error(errno, std::generic_category(), "waitpid");
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::string command = "systemctl";
    for (const std::string& a : args) command += " " + a;
    throw std::runtime_error(
        fmt::format("'{}' failed (exit status {})", command, WIFEXITED(status) ? WEXITSTATUS(status) : -1));
  }
}

class SystemdServiceHost final : public ServiceHost {
 public:
  explicit SystemdServiceHost(ServiceHostOptions options) : options_(std::move(options)) {
    // A socket dropped inside the database client or the HTTP client must not end the
    // process.
    std::signal(SIGPIPE, SIG_IGN);
  }

  int Install(bool silent) override {
    try {
      const std::filesystem::path unit = PrepareUnitPath();
      const std::filesystem::path temporary = unit.string() + ".tmp";
      {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << UnitText(ExecutablePath());
        out.close();
        if (!out) throw std::runtime_error("cannot write " + temporary.string() + ": " + std::strerror(errno));
      }
      std::filesystem::rename(temporary, unit);
      if (ManagesSystemd()) {
        Systemctl({"daemon-reload"});
        Systemctl({"enable", kServiceName});
      }
      if (!silent) std::cout << "Service installed successfully" << std::endl;
      return 0;
    } catch (const std::exception& e) {
      std::cerr << fmt::format("Service \"{}\" failed to install with error: \"{}\"", kServiceDisplayName, e.what())
                << std::endl;
      return 1;
    }
  }

  int Uninstall(bool silent) override {
    try {
      const std::filesystem::path unit = PrepareUnitPath();
      if (!std::filesystem::exists(unit)) {
        throw std::runtime_error("the service is not installed (" + unit.string() + " does not exist)");
      }
      if (ManagesSystemd()) Systemctl({"disable", kServiceName});
      std::filesystem::remove(unit);
      if (ManagesSystemd()) Systemctl({"daemon-reload"});
      if (!silent) std::cout << "Service uninstalled successfully" << std::endl;
      return 0;
    } catch (const std::exception& e) {
      std::cerr << fmt::format("Service \"{}\" failed to uninstall with error: \"{}\"", kServiceDisplayName, e.what())
                << std::endl;
      return 1;
    }
  }

  // systemd's Restart=on-failure counts the non-zero exit status.
  int RefuseRun() override { return 1; }

  int Run(PollTimer& timer, MainLoop& loop) override {
    loop.QuitOnStopRequest([&timer] { timer.SetEnabled(false); });
    timer.SetEnabled(true);
    loop.Run();
    timer.SetEnabled(false);
    return 0;
  }

 private:
  bool UsesSystemFolder() const { return options_.unit_folder.empty(); }

  bool ManagesSystemd() const { return UsesSystemFolder() && SystemdRuns(); }

  std::filesystem::path PrepareUnitPath() const {
    if (UsesSystemFolder() && ::geteuid() != 0) {
      throw std::runtime_error("root privileges are required: run it as root (for example with sudo)");
    }
    const std::filesystem::path folder = UsesSystemFolder() ? kSystemUnitFolder : options_.unit_folder;
    if (!std::filesystem::is_directory(folder)) {
      throw std::runtime_error("the unit folder " + folder.string() + " does not exist");
    }
    return folder / (std::string(kServiceName) + ".service");
  }

  ServiceHostOptions options_;
};

}  // namespace

std::unique_ptr<ServiceHost> CreateServiceHost(ServiceHostOptions options) {
  return std::make_unique<SystemdServiceHost>(std::move(options));
}

}  // namespace zendrel
