// The installation's owners and modes that -install sets on Linux, and what they let
// the service's user do: write its log and state beside the program, but neither
// change nor replace the program or the settings file; other users cannot even look.
#include "service/installation_posix.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <functional>

namespace zendrel {
namespace {

namespace fs = std::filesystem;

// The user nobody and the group nogroup (65534 on every Debian system) stand in for
// the service's account; 65533 for any other user of the machine.
const ServiceAccount kAccount{65534, 65534};
constexpr uid_t kOtherUser = 65533;

struct stat LinkInfo(const fs::path& path) {
  struct stat info {};
  EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
  return info;
}

// Runs `action` in a child process as `uid` with `gid` as its only group; the errno
// it ends with (0 when it worked).
int ErrnoAs(uid_t uid, gid_t gid, const std::function<int()>& action) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0) ::_exit(200);
    errno = 0;
    ::_exit(action() == 0 ? 0 : errno);
  }
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

class InstallationTest : public testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "setting owners needs root";
    std::string pattern = (fs::temp_directory_path() / "zendrel-installation-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    program_ = folder_ / "Zendrel";
    std::ofstream(program_) << "#!/bin/sh\n";
    fs::permissions(program_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                  fs::perms::others_read | fs::perms::others_exec);
    std::ofstream(folder_ / "Tarvix.ini") << "[Tarvix]\n";
    // Root's -once ran before the service's first start, and the earlier version's
    // service ran as root.
    std::ofstream(folder_ / "Zendrel.log") << "root's entry\n";
    std::ofstream(folder_ / "Zendrel.state") << "{}";
  }
  void TearDown() override {
    std::error_code ignored;
    if (!folder_.empty()) fs::remove_all(folder_, ignored);
  }

  void Secure() {
    SecureInstallation(folder_, program_, {folder_ / "Zendrel.log", folder_ / "Zendrel.state", folder_ / "no.lock"},
                       kAccount);
  }

  fs::path folder_;
  fs::path program_;
};

TEST_F(InstallationTest, SetsTheOwnersAndModes) {
  Secure();
  const struct stat folder = LinkInfo(folder_);
  EXPECT_EQ(folder.st_mode & 07777, 01770u);
  EXPECT_EQ(folder.st_uid, 0u);
  EXPECT_EQ(folder.st_gid, kAccount.gid);
  const struct stat program = LinkInfo(program_);
  EXPECT_EQ(program.st_mode & 07777, 0750u);
  EXPECT_EQ(program.st_uid, 0u);
  EXPECT_EQ(program.st_gid, kAccount.gid);
  for (const char* name : {"Zendrel.log", "Zendrel.state"}) {
    EXPECT_EQ(LinkInfo(folder_ / name).st_uid, kAccount.uid) << name;
    EXPECT_EQ(LinkInfo(folder_ / name).st_gid, kAccount.gid) << name;
  }
  EXPECT_EQ(LinkInfo(folder_ / "Tarvix.ini").st_uid, 0u) << "the settings file stays root's";
  EXPECT_FALSE(fs::exists(folder_ / "no.lock")) << "a file that is not there is not created";
}

TEST_F(InstallationTest, ALinkInThePlaceOfTheLogIsHandedOverItselfNotItsTarget) {
  fs::remove(folder_ / "Zendrel.log");
  fs::create_symlink(folder_ / "Tarvix.ini", folder_ / "Zendrel.log");
  Secure();
  EXPECT_EQ(LinkInfo(folder_ / "Zendrel.log").st_uid, kAccount.uid);
  EXPECT_EQ(LinkInfo(folder_ / "Tarvix.ini").st_uid, 0u);
}

TEST_F(InstallationTest, AProgramThatIsALinkIsRefused) {
  fs::remove(program_);
  fs::create_symlink("/bin/sh", program_);
  EXPECT_THROW(Secure(), std::runtime_error);
}

TEST_F(InstallationTest, TheServiceMayWriteItsFilesButNotReplaceTheProgramOrTheSettings) {
  Secure();
  const std::string folder = folder_.string();
  const std::string program = program_.string();
  const std::string log = (folder_ / "Zendrel.log").string();
  const std::string state = (folder_ / "Zendrel.state").string();
  const std::string settings = (folder_ / "Tarvix.ini").string();
  const std::string temporary = (folder_ / "Zendrel.state.tmp").string();
  const auto create = [](const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0640);
    return fd < 0 ? -1 : ::close(fd);
  };
  const auto open_for = [](const std::string& path, int flags) {
    const int fd = ::open(path.c_str(), flags);
    return fd < 0 ? -1 : ::close(fd);
  };
  struct Case {
    const char* what;
    uid_t uid;
    gid_t gid;
    std::function<int()> action;
    int expected_errno;
  };
  const Case cases[] = {
      {"the service appends to the log root created", kAccount.uid, kAccount.gid,
       [&] { return open_for(log, O_WRONLY | O_APPEND); }, 0},
      {"the service replaces its state file by a temporary file", kAccount.uid, kAccount.gid,
       [&] { return create(temporary) != 0 ? -1 : std::rename(temporary.c_str(), state.c_str()); }, 0},
      {"the service creates a new file beside the program", kAccount.uid, kAccount.gid,
       [&] { return create(folder + "/new.log"); }, 0},
      {"the service reads the settings", kAccount.uid, kAccount.gid, [&] { return open_for(settings, O_RDONLY); }, 0},
      {"the service runs the program", kAccount.uid, kAccount.gid, [&] { return ::access(program.c_str(), X_OK); }, 0},
      {"the service cannot write the program", kAccount.uid, kAccount.gid, [&] { return open_for(program, O_WRONLY); },
       EACCES},
      {"the service cannot replace the program", kAccount.uid, kAccount.gid,
       [&] { return create(temporary) != 0 ? -1 : std::rename(temporary.c_str(), program.c_str()); }, EPERM},
      {"the service cannot delete the settings", kAccount.uid, kAccount.gid, [&] { return ::unlink(settings.c_str()); },
       EPERM},
      {"the service cannot write the settings", kAccount.uid, kAccount.gid,
       [&] { return open_for(settings, O_WRONLY); }, EACCES},
      {"another user cannot read the program", kOtherUser, kOtherUser, [&] { return open_for(program, O_RDONLY); },
       EACCES},
      {"another user cannot read the log", kOtherUser, kOtherUser, [&] { return open_for(log, O_RDONLY); }, EACCES},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ErrnoAs(c.uid, c.gid, c.action), c.expected_errno) << c.what;
  }
  EXPECT_TRUE(fs::exists(program_));
  EXPECT_TRUE(fs::exists(folder_ / "Tarvix.ini"));
}

}  // namespace
}  // namespace zendrel
