// The executable's folder on Windows: the module's own file, whatever the working
// directory.
#include "support/executable_folder.h"

#include <gtest/gtest.h>

namespace zendrel {
namespace {

TEST(ExecutableFolderWindowsTest, IsTheFolderOfThisTestProgram) {
  const std::filesystem::path& path = ExecutablePath();
  EXPECT_TRUE(path.is_absolute());
  EXPECT_EQ(path.filename(), "support_test.exe");
  EXPECT_TRUE(std::filesystem::is_regular_file(path));
  EXPECT_EQ(ExecutableFolder(), path.parent_path());
  // A drive-letter path: the log and the settings file are composed from it.
  EXPECT_TRUE(path.has_root_name());
}

TEST(ExecutableFolderWindowsTest, DoesNotDependOnTheWorkingDirectory) {
  const std::filesystem::path cwd = std::filesystem::current_path();
  const std::filesystem::path elsewhere = std::filesystem::temp_directory_path();
  std::filesystem::current_path(elsewhere);
  const std::filesystem::path folder = ExecutableFolder();
  std::filesystem::current_path(cwd);
  EXPECT_NE(folder, elsewhere);
  EXPECT_TRUE(std::filesystem::is_regular_file(folder / "support_test.exe"));
}

}  // namespace
}  // namespace zendrel
