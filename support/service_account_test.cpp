// Handing a file to the service's user: only root does it, only to an account that
// exists, and a link is changed itself, never what it points to.
#include "support/service_account.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>

namespace zendrel {
namespace {

namespace fs = std::filesystem;

// Every Debian system has the user nobody (65534), with the group nogroup.
constexpr uid_t kNobody = 65534;

class GiveToServiceUserTest : public testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "only root can give files away";
    std::string pattern = (fs::temp_directory_path() / "zendrel-account-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    std::ofstream(folder_ / "Zendrel.log") << "x";
  }
  void TearDown() override {
    std::error_code ignored;
    if (!folder_.empty()) fs::remove_all(folder_, ignored);
  }

  static struct stat LinkInfo(const fs::path& path) {
    struct stat info {};
    EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
    return info;
  }

  fs::path folder_;
};

TEST_F(GiveToServiceUserTest, AFileRootCreatedGoesToTheAccount) {
  EXPECT_EQ(GiveToServiceUser(folder_ / "Zendrel.log", "nobody"), "");
  EXPECT_EQ(LinkInfo(folder_ / "Zendrel.log").st_uid, kNobody);
}

TEST_F(GiveToServiceUserTest, AnAccountThatDoesNotExistLeavesTheFileAsItIs) {
  EXPECT_EQ(GiveToServiceUser(folder_ / "Zendrel.log", "zendrel-no-such-user"), "");
  EXPECT_EQ(LinkInfo(folder_ / "Zendrel.log").st_uid, 0u);
}

TEST_F(GiveToServiceUserTest, ALinkIsChangedItselfAndItsTargetStaysRoots) {
  fs::create_symlink(folder_ / "Zendrel.log", folder_ / "Zendrel.state");
  EXPECT_EQ(GiveToServiceUser(folder_ / "Zendrel.state", "nobody"), "");
  EXPECT_EQ(LinkInfo(folder_ / "Zendrel.state").st_uid, kNobody);
  EXPECT_EQ(LinkInfo(folder_ / "Zendrel.log").st_uid, 0u);
}

TEST_F(GiveToServiceUserTest, AMissingFileIsReportedByName) {
  const std::string error = GiveToServiceUser(folder_ / "missing", "nobody");
  EXPECT_NE(error.find((folder_ / "missing").string()), std::string::npos) << error;
}

}  // namespace
}  // namespace zendrel
