#include "support/executable_folder.h"

#include <gtest/gtest.h>

namespace zendrel {
namespace {

TEST(ExecutableFolderTest, IsTheFolderOfThisTestProgram) {
  const std::filesystem::path& path = ExecutablePath();
  EXPECT_TRUE(path.is_absolute());
  EXPECT_EQ(path.filename(), "support_test");
  EXPECT_TRUE(std::filesystem::is_regular_file(path));
  EXPECT_EQ(ExecutableFolder(), path.parent_path());
  // Composing a file name gives exactly one separator between folder and name.
  EXPECT_EQ((ExecutableFolder() / "Zendrel.log").string(), ExecutableFolder().string() + "/Zendrel.log");
}

TEST(ExecutableFolderTest, DoesNotDependOnTheWorkingDirectory) {
  const std::filesystem::path cwd = std::filesystem::current_path();
  const std::filesystem::path elsewhere = std::filesystem::temp_directory_path();
  std::filesystem::current_path(elsewhere);
  const std::filesystem::path folder = ExecutableFolder();
  std::filesystem::current_path(cwd);
  EXPECT_NE(folder, elsewhere);
  EXPECT_TRUE(std::filesystem::is_regular_file(folder / "support_test"));
}

}  // namespace
}  // namespace zendrel
