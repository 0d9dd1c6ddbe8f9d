// The service host on Linux: a sandboxed systemd unit written by -install (with the
// service's system user and the installation's owners and modes), and the service run
// in the foreground until systemd's stop signal.
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

#include "service/installation_posix.h"
#include "service/relay_lock.h"
#include "service/service_host.h"
#include "support/executable_folder.h"
#include "support/service_account.h"

namespace zendrel {
namespace {

const std::filesystem::path kSystemUnitFolder = "/etc/systemd/system";

// systemd reads "%" as a specifier and the backslash as an escape in ExecStart and in
// path lists; a path with a blank must be quoted to stay one word.
std::string UnitPath(const std::filesystem::path& path) {
  std::string escaped;
  for (char c : path.string()) {
    if (c == '%')
      escaped += "%%";
    else if (c == '\\')
      escaped += "\\\\";
    else if (c == '"')
      escaped += "\\\"";
    else
      escaped += c;
  }
  if (path.string().find(' ') != std::string::npos) return "\"" + escaped + "\"";
  return escaped;
}

// The folder systemd makes for the service at each start (RuntimeDirectory=), owned
// by the service's user and kept after a stop, for the relay's lock files.
const std::filesystem::path kRuntimeFolder = std::filesystem::path("/run") / kServiceAccountName;

// What the service may write besides its runtime folder: the executable's folder (the
// log, the state file) and the folder of the relay's lock, unless that is the runtime
// folder already.
std::string WritablePaths(const std::filesystem::path& executable) {
  const std::filesystem::path folder = executable.parent_path();
  std::string paths = UnitPath(folder);
  const std::filesystem::path lock_folder = std::filesystem::path(RelayLockName(folder)).parent_path();
  if (lock_folder != kRuntimeFolder) paths += " " + UnitPath(lock_folder);
  return paths;
}

std::string UnitText(const std::filesystem::path& executable) {
  return fmt::format(
      "[Unit]\n"
      "Description={0}\n"
      "After=network-online.target\n"
      "Wants=network-online.target\n"
      "\n"
      "[Service]\n"
      "Type=simple\n"
      "ExecStart={1}\n"
      "Restart=on-failure\n"
      "RestartSec=30\n"
      "# A stop lets the poll cycle in progress finish, so that no movement is posted\n"
      "# without its send index being written; the cycle may take a while on a backlog.\n"
      "TimeoutStopSec=30min\n"
      "KillMode=mixed\n"
      "\n"
      "# The sandbox. The relay reads replies from the internet and holds the database's\n"
      "# passwords on the machine of the ERP's data: it runs as a user of its own, without\n"
      "# capabilities, and may write only its own folder (log, state) and lock folder.\n"
      "User={2}\n"
      "Group={2}\n"
      "UMask=0027\n"
      "CapabilityBoundingSet=\n"
      "AmbientCapabilities=\n"
      "NoNewPrivileges=yes\n"
      "ProtectSystem=strict\n"
      "ReadWritePaths={3}\n"
      "RuntimeDirectory={2}\n"
      "RuntimeDirectoryMode=0750\n"
      "RuntimeDirectoryPreserve=yes\n"
      "ProtectHome=yes\n"
      "PrivateTmp=yes\n"
      "PrivateDevices=yes\n"
      "PrivateUsers=yes\n"
      "PrivateMounts=yes\n"
      "DevicePolicy=closed\n"
      "ProtectHostname=yes\n"
      "ProtectClock=yes\n"
      "ProtectKernelTunables=yes\n"
      "ProtectKernelModules=yes\n"
      "ProtectKernelLogs=yes\n"
      "ProtectControlGroups=yes\n"
      "ProtectProc=invisible\n"
      "ProcSubset=pid\n"
      "# AF_NETLINK: the server-machine check lists the interfaces' addresses (getifaddrs).\n"
      "RestrictAddressFamilies=AF_UNIX AF_INET AF_INET6 AF_NETLINK\n"
      "RestrictNamespaces=yes\n"
      "RestrictRealtime=yes\n"
      "RestrictSUIDSGID=yes\n"
      "LockPersonality=yes\n"
      "MemoryDenyWriteExecute=yes\n"
      "RemoveIPC=yes\n"
      "SystemCallArchitectures=native\n"
      "SystemCallFilter=@system-service\n"
      "SystemCallFilter=~@privileged @resources\n"
      "SystemCallErrorNumber=EPERM\n"
      "\n"
      "[Install]\n"
      "WantedBy=multi-user.target\n",
      kServiceDisplayName, UnitPath(executable), kServiceAccountName, WritablePaths(executable));
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
      if (UsesSystemFolder()) PrepareInstallation(silent);
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

  // The service's user, and the owners and modes its sandbox relies on. Only when
  // installing into the system: a test's unit folder leaves the machine as it is.
  static void PrepareInstallation(bool silent) {
    bool created = false;
    const ServiceAccount account = EnsureServiceAccount(kServiceAccountName, created);
    if (created && !silent) std::cout << "System user " << kServiceAccountName << " created" << std::endl;
    const std::filesystem::path& folder = ExecutableFolder();
    SecureInstallation(folder, ExecutablePath(),
                       {folder / "Zendrel.log", folder / "Zendrel.state", RelayLockName(folder)}, account);
  }

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
