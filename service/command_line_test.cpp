// Which mode each command line selects.
#include <gtest/gtest.h>

#include <cctype>

#include "service/command_line.h"

namespace zendrel {
namespace {

struct Case {
  std::vector<std::string> args;
  ProgramMode mode;
  bool silent;
};

class CommandLineCases : public ::testing::TestWithParam<Case> {};

TEST_P(CommandLineCases, SelectsTheMode) {
  const Case& c = GetParam();
  const CommandLine line = ParseCommandLine(c.args);
  EXPECT_EQ(line.mode, c.mode);
  EXPECT_EQ(line.silent, c.silent);
}

TEST(CommandLine, JsonAsksForTheStatusReportAsJson) {
  const std::pair<std::vector<std::string>, bool> cases[] = {
      {{"-status", "-json"}, true}, {{"/JSON", "/status"}, true}, {{"-status"}, false}, {{"-status", "json"}, false}};
  for (const auto& [args, json] : cases) {
    const CommandLine line = ParseCommandLine(args);
    EXPECT_EQ(line.mode, ProgramMode::Status);
    EXPECT_EQ(line.json, json) << args.back();
  }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Switches, CommandLineCases,
    ::testing::Values(
        Case{{}, ProgramMode::Service, false},
        Case{{"/Install"}, ProgramMode::Install, false},
        Case{{"-INSTALL"}, ProgramMode::Install, false},
        Case{{"/install"}, ProgramMode::Install, false},
        Case{{"-Install", "-silent"}, ProgramMode::Install, true},
        // Not switches of that name: the process runs as the service.
        Case{{"--install"}, ProgramMode::Service, false},
        Case{{"install"}, ProgramMode::Service, false},
        Case{{"/install:x"}, ProgramMode::Service, false},
        Case{{"-"}, ProgramMode::Service, false},
        Case{{"-UNINSTALL", "/INSTALL"}, ProgramMode::Install, false},
        Case{{"/uninstall", "/SILENT"}, ProgramMode::Uninstall, true},
        Case{{"/ONCE"}, ProgramMode::Once, false},
        Case{{"/once", "-uninstall"}, ProgramMode::Uninstall, false},
        Case{{"unrelated", "-silent"}, ProgramMode::Service, true},
        Case{{"-status"}, ProgramMode::Status, false},
        Case{{"/STATUS"}, ProgramMode::Status, false},
        Case{{"/Status", "-once"}, ProgramMode::Status, false},
        Case{{"-once", "/status"}, ProgramMode::Status, false},
        Case{{"-status", "/install"}, ProgramMode::Install, false},
        Case{{"/uninstall", "-STATUS"}, ProgramMode::Uninstall, false},
        Case{{"--status"}, ProgramMode::Service, false},
        Case{{"status"}, ProgramMode::Service, false}),
    [](const ::testing::TestParamInfo<Case>& info) {
      std::string name = "case" + std::to_string(info.index);
      for (const std::string& arg : info.param.args) {
        name += "_";
        for (char c : arg) name += std::isalnum(static_cast<unsigned char>(c)) ? c : 'x';
      }
      return name;
    });
// clang-format on

}  // namespace
}  // namespace zendrel
