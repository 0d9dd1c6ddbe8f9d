// The relay locks on Linux: where their files live, who owns them, what a relay that
// finds a lock held learns, and the database's identity the cycle's lock is keyed by.
#include "service/relay_lock.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>
#include <string>

#include "service/database_lock.h"
#include "support/testing/temp_folder.h"

namespace zendrel {
namespace {

namespace fs = std::filesystem;

// A lock folder of the test's own.
class TempFolder : public testing::TempFolder {
 public:
  TempFolder() : testing::TempFolder("zendrel-locks") {}
};

struct stat StatOf(const fs::path& path) {
  struct stat info {};
  EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
  return info;
}

TEST(DatabaseIdentity, TheServersHostPartIsLeftOut) {
  struct Case {
    const char* name;
    const char* expected;
  };
  const Case cases[] = {
      {"/var/lib/firebird/3.0/data/erp.fdb", "/var/lib/firebird/3.0/data/erp.fdb"},
      {"erp-server:/dados/erp.fdb", "/dados/erp.fdb"},
      {"erp-server:C:\\DADOS\\ERP.FDB", "C:\\DADOS\\ERP.FDB"},
      {"C:\\DADOS\\ERP.FDB", "C:\\DADOS\\ERP.FDB"},  // a drive letter is no host
      {"/dados/a:b.fdb", "/dados/a:b.fdb"},          // a colon inside the path is no host
      {"\\\\nas\\share:x\\erp.fdb", "\\\\nas\\share:x\\erp.fdb"},
  };
  for (const Case& c : cases) EXPECT_EQ(WithoutHostPart(c.name), c.expected) << c.name;
}

TEST(DatabaseLock, ASecondRelayFindsItHeldAndLearnsTheHoldersFolder) {
  TempFolder place;
  const LockPlace locks{place.path() / "zendrel", "nobody"};
  DatabaseLockAttempt first = TryTakeDatabaseLock("/dados/erp.fdb", "/opt/zendrel", locks);
  ASSERT_NE(first.lock, nullptr);
  // flock is per open file: a second attempt in this process competes like another process.
  const DatabaseLockAttempt second = TryTakeDatabaseLock("/dados/erp.fdb", "/home/suporte/Desktop", locks);
  EXPECT_EQ(second.lock, nullptr);
  EXPECT_EQ(second.holder_folder, "/opt/zendrel");
  // Another database is another lock.
  EXPECT_NE(TryTakeDatabaseLock("/dados/outra.fdb", "/home/suporte/Desktop", locks).lock, nullptr);

  first.lock.reset();
  const DatabaseLockAttempt after = TryTakeDatabaseLock("/dados/erp.fdb", "/home/suporte/Desktop", locks);
  ASSERT_NE(after.lock, nullptr);
  EXPECT_EQ(TryTakeDatabaseLock("/dados/erp.fdb", "/opt/zendrel", locks).holder_folder, "/home/suporte/Desktop");
}

TEST(RelayLockFolder, IsMadeForTheServiceUserAndItsFilesAreGivenToIt) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root gives files to another user";
  const passwd* nobody = ::getpwnam("nobody");
  ASSERT_NE(nobody, nullptr);
  struct Case {
    const char* service_user;
    uid_t owner;
    gid_t group;
  };
  const Case cases[] = {{"nobody", nobody->pw_uid, nobody->pw_gid}, {"zendrel-no-such-user", 0, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.service_user);
    TempFolder place;
    const LockPlace locks{place.path() / "zendrel", c.service_user};
    const auto lock = TryTakeRelayLock("/opt/zendrel", locks);
    ASSERT_NE(lock, nullptr);
    const struct stat folder = StatOf(locks.folder);
    EXPECT_TRUE(S_ISDIR(folder.st_mode));
    EXPECT_EQ(folder.st_mode & 07777, 0750u);
    EXPECT_EQ(folder.st_uid, c.owner);
    EXPECT_EQ(folder.st_gid, c.group);
    const struct stat file = StatOf(RelayLockName("/opt/zendrel", locks));
    EXPECT_TRUE(S_ISREG(file.st_mode));
    EXPECT_EQ(file.st_mode & 07777, 0660u);
    EXPECT_EQ(file.st_uid, c.owner);
    EXPECT_EQ(file.st_gid, c.group);
  }
}

TEST(RelayLockFolder, ASymbolicLinkInPlaceOfALockFileIsNeverFollowed) {
  TempFolder place;
  const LockPlace locks{place.path() / "zendrel", "nobody"};
  ASSERT_NE(TryTakeRelayLock("/somewhere/else", locks), nullptr);  // makes the folder
  const fs::path target = place.path() / "target";
  fs::create_symlink(target, RelayLockName("/opt/zendrel", locks));
  EXPECT_THROW(TryTakeRelayLock("/opt/zendrel", locks), std::runtime_error);
  EXPECT_FALSE(fs::exists(target));
}

TEST(RelayLockFolder, AnExistingFolderIsUsedAsItIs) {
  TempFolder place;
  const fs::path folder = place.path() / "zendrel";
  fs::create_directory(folder);
  fs::permissions(folder, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
  const LockPlace locks{folder, "nobody"};
  EXPECT_NE(TryTakeRelayLock("/opt/zendrel", locks), nullptr);
  EXPECT_EQ(StatOf(folder).st_uid, ::geteuid());
}

}  // namespace
}  // namespace zendrel
