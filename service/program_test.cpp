// The program as a whole, started as a process: install and uninstall of the systemd
// unit, and the service's stop on SIGTERM when idle.
#include <gtest/gtest.h>

#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "service/relay_lock.h"
#include "service/testing/child_process.h"
#include "support/testing/eventually.h"

namespace zendrel {
namespace {

namespace fs = std::filesystem;
using testing::ChildProcess;
using testing::Eventually;
using testing::RunToEnd;

const std::string kProgram = ZENDREL_TEST_PROGRAM;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class TempFolder {
 public:
  explicit TempFolder(const std::string& name_prefix = "zendrel-program-") {
    std::string pattern = (fs::temp_directory_path() / (name_prefix + "XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// The unit -install writes for `program`, whose path appears as `quoted` in the unit
// (a path with a blank is quoted): the writable paths are the program's folder and the
// folder of its relay lock, unless that is the service's runtime folder.
std::string ExpectedUnit(const fs::path& program, const std::string& quoted) {
  const fs::path folder = program.parent_path();
  const std::string quoted_folder = quoted.front() == '"' ? "\"" + folder.string() + "\"" : folder.string();
  const fs::path lock_folder = fs::path(RelayLockName(folder)).parent_path();
  const std::string writable = quoted_folder + (lock_folder == "/run/zendrel" ? "" : " " + lock_folder.string());
  return "[Unit]\n"
         "Description=Zendrel - Serviço para envio do porntos\n"
         "After=network-online.target\n"
         "Wants=network-online.target\n"
         "\n"
         "[Service]\n"
         "Type=simple\n"
         "ExecStart=" +
         quoted +
         "\n"
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
         "User=zendrel\n"
         "Group=zendrel\n"
         "UMask=0027\n"
         "CapabilityBoundingSet=\n"
         "AmbientCapabilities=\n"
         "NoNewPrivileges=yes\n"
         "ProtectSystem=strict\n"
         "ReadWritePaths=" +
         writable +
         "\n"
         "RuntimeDirectory=zendrel\n"
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
         "WantedBy=multi-user.target\n";
}

TEST(ProgramInstall, WritesTheUnitAndRemovesItAgain) {
  TempFolder units;
  const std::map<std::string, std::string> env{{"ZENDREL_TEST_UNIT_DIR", units.path().string()}};
  const fs::path unit = units.path() / "SrvZendrel.service";

  const auto installed = RunToEnd(kProgram, {"-Install"}, env);
  EXPECT_EQ(installed.status, 0) << installed.err;
  EXPECT_EQ(installed.out, "Service installed successfully\n");
  EXPECT_EQ(ReadFile(unit), ExpectedUnit(fs::canonical(kProgram), fs::canonical(kProgram).string()));

  const auto removed = RunToEnd(kProgram, {"/UNINSTALL"}, env);
  EXPECT_EQ(removed.status, 0) << removed.err;
  EXPECT_EQ(removed.out, "Service uninstalled successfully\n");
  EXPECT_FALSE(fs::exists(unit));
}

TEST(ProgramInstall, SilentSuppressesOnlyTheSuccessMessage) {
  TempFolder units;
  const std::map<std::string, std::string> env{{"ZENDREL_TEST_UNIT_DIR", units.path().string()}};

  const auto installed = RunToEnd(kProgram, {"-install", "-SILENT"}, env);
  EXPECT_EQ(installed.status, 0);
  EXPECT_EQ(installed.out, "");
  EXPECT_TRUE(fs::exists(units.path() / "SrvZendrel.service"));

  ASSERT_EQ(RunToEnd(kProgram, {"-uninstall", "/silent"}, env).status, 0);
  // Nothing left to remove: the failure is shown whatever SILENT says.
  const auto again = RunToEnd(kProgram, {"-uninstall", "/silent"}, env);
  EXPECT_NE(again.status, 0);
  EXPECT_EQ(again.out, "");
  EXPECT_EQ(
      again.err.rfind("Service \"Zendrel - Serviço para envio do porntos\" failed to uninstall with error: \"", 0), 0u)
      << again.err;
}

TEST(ProgramInstall, AFailureIsReportedWithTheDisplayName) {
  TempFolder units;
  const std::map<std::string, std::string> env{{"ZENDREL_TEST_UNIT_DIR", (units.path() / "missing").string()}};
  const auto result = RunToEnd(kProgram, {"/install", "/silent"}, env);
  EXPECT_NE(result.status, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_NE(result.err.find("Service \"Zendrel - Serviço para envio do porntos\" failed to install with error: \""),
            std::string::npos)
      << result.err;
  EXPECT_NE(result.err.find("missing"), std::string::npos) << result.err;
}

TEST(ProgramInstall, AnExecutablePathWithABlankIsQuoted) {
  TempFolder units;
  TempFolder folder("zendrel with blank-");
  const fs::path copy = folder.path() / "Zendrel";
  fs::copy_file(kProgram, copy);
  fs::permissions(copy, fs::perms::owner_all);

  const auto installed = RunToEnd(copy.string(), {"-install"}, {{"ZENDREL_TEST_UNIT_DIR", units.path().string()}});
  ASSERT_EQ(installed.status, 0) << installed.err;
  EXPECT_EQ(ReadFile(units.path() / "SrvZendrel.service"),
            ExpectedUnit(fs::canonical(copy), "\"" + fs::canonical(copy).string() + "\""));
}

// With no switch the program runs as the service until systemd's SIGTERM; idle, it
// ends at once with status 0.
TEST(ProgramService, StopsPromptlyOnSigtermWhenIdle) {
  TempFolder settings;
  // Not this machine's server: ticks do nothing at all.
  std::ofstream(settings.path() / "Tarvix.ini") << "[Tarvix]\r\nServidor=database-server.invalid\r\n";
  ChildProcess service(kProgram, {},
                       {{"ZENDREL_TEST_SETTINGS_DIR", settings.path().string()},
                        {"ZENDREL_TEST_FIRST_INTERVAL_MS", "50"},
                        {"ZENDREL_TEST_INTERVAL_MS", "50"}});
  ASSERT_TRUE(Eventually([&] { return service.Blocks(SIGTERM) || !service.Running(); }))
      << "the program never got ready to take SIGTERM";
  ASSERT_TRUE(service.Running()) << service.Errors();
  service.Signal(SIGTERM);
  const auto status = service.Wait(std::chrono::seconds(30));
  ASSERT_TRUE(status.has_value()) << "the program did not end after SIGTERM";
  EXPECT_EQ(*status, 0) << service.Errors();
}

// The lock files live in a folder only root and the service's user may enter: root's
// relay makes it and gives it (and the lock file) to the service's user, that user's
// relay later opens the file root made, and any other local user can neither open the
// lock file nor flock it, so it cannot keep the service from starting.
TEST(ProgramLocks, OnlyRootAndTheServiceUserCanUseTheLockFiles) {
  if (::geteuid() != 0) GTEST_SKIP() << "running the relay as other users needs root";
  TempFolder base;
  fs::permissions(base.path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                   fs::perms::others_read | fs::perms::others_exec);
  const fs::path installation = base.path() / "install";
  fs::create_directory(installation);
  const fs::path program = installation / "Zendrel";
  fs::copy_file(kProgram, program);
  fs::permissions(program, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                               fs::perms::others_read | fs::perms::others_exec);
  // Not this machine's server: the run takes its locks and then does nothing.
  std::ofstream(installation / "Tarvix.ini") << "[Tarvix]\r\nServidor=database-server.invalid\r\n";
  const passwd* nobody = ::getpwnam("nobody");
  ASSERT_NE(nobody, nullptr);
  ASSERT_EQ(::chown(installation.c_str(), nobody->pw_uid, nobody->pw_gid), 0);

  const fs::path lock_folder = base.path() / "run-zendrel";
  const std::map<std::string, std::string> env{{"ZENDREL_TEST_LOCK_FOLDER", lock_folder.string()},
                                               {"ZENDREL_TEST_SERVICE_USER", "nobody"}};
  const std::string nothing_to_do = "não é o servidor do banco de dados";

  const auto as_root = RunToEnd(program.string(), {"-once"}, env);
  EXPECT_NE(as_root.err.find(nothing_to_do), std::string::npos) << as_root.err;
  struct stat folder {};
  ASSERT_EQ(::stat(lock_folder.c_str(), &folder), 0);
  EXPECT_EQ(folder.st_mode & 07777, 0750u);
  EXPECT_EQ(folder.st_uid, nobody->pw_uid);
  EXPECT_EQ(folder.st_gid, nobody->pw_gid);

  const auto as_service_user = RunToEnd("/usr/bin/setpriv",
                                        {"--reuid=nobody", "--regid=" + std::to_string(nobody->pw_gid),
                                         "--clear-groups", "--", program.string(), "-once"},
                                        env);
  EXPECT_NE(as_service_user.err.find(nothing_to_do), std::string::npos) << as_service_user.err;
  EXPECT_EQ(as_service_user.err.find("trava"), std::string::npos) << as_service_user.err;

  std::string lock_file;
  for (const auto& entry : fs::directory_iterator(lock_folder)) lock_file = entry.path().string();
  ASSERT_FALSE(lock_file.empty()) << "no lock file in " << lock_folder;
  const auto intruder = RunToEnd("/usr/bin/setpriv", {"--reuid=daemon", "--regid=daemon", "--clear-groups", "--",
                                                      "flock", "-n", lock_file, "true"});
  EXPECT_NE(intruder.status, 0) << "another user took the relay's lock";
  EXPECT_NE(intruder.err.find("Permission denied"), std::string::npos) << intruder.err;
}

}  // namespace
}  // namespace zendrel
