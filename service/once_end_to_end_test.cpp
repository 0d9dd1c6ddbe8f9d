// "-once" end to end on both hosts' programs: the Linux test build, and the Windows
// test build under Wine when ZENDREL_WINE_TEST_PROGRAM names it (scripts/test-windows.sh
// sets it, with a Wine prefix whose fbclient.dll reaches the local server).
#include <cstdlib>

#include "service/testing/end_to_end_cases.h"

namespace zendrel::testing {
namespace {

std::string CaseName(const ::testing::TestParamInfo<EndToEndCase>& info) { return info.param.name; }

class LinuxProgramOnce : public EndToEndCycle, public ::testing::WithParamInterface<EndToEndCase> {};

TEST_P(LinuxProgramOnce, Case) {
  const ProgramUnderTest program{"", ZENDREL_TEST_PROGRAM, "Zendrel", false};
  GetParam().arrange(*this);
  const OnceOutcome outcome = RunOnce(program, GetParam());
  GetParam().check(*this, outcome);
}

INSTANTIATE_TEST_SUITE_P(EndToEnd, LinuxProgramOnce, ::testing::ValuesIn(EndToEndCycle::Cases()), CaseName);

TEST_F(EndToEndCycle, TwoLinuxCopiesInTwoFoldersPostOnlyOnce) {
  TwoCopiesInTwoFoldersPostOnlyOnce(ProgramUnderTest{"", ZENDREL_TEST_PROGRAM, "Zendrel", false});
}

TEST_F(EndToEndCycle, TwoWindowsCopiesInTwoFoldersUnderWinePostOnlyOnce) {
  const char* windows_program = std::getenv("ZENDREL_WINE_TEST_PROGRAM");
  if (windows_program == nullptr || *windows_program == '\0') {
    GTEST_SKIP() << "ZENDREL_WINE_TEST_PROGRAM is not set: scripts/test-windows.sh runs these under Wine";
  }
  TwoCopiesInTwoFoldersPostOnlyOnce(ProgramUnderTest{"/usr/bin/wine", windows_program, "Zendrel.exe", true});
}

class WindowsProgramOnceUnderWine : public EndToEndCycle, public ::testing::WithParamInterface<EndToEndCase> {};

TEST_P(WindowsProgramOnceUnderWine, Case) {
  const char* windows_program = std::getenv("ZENDREL_WINE_TEST_PROGRAM");
  if (windows_program == nullptr || *windows_program == '\0') {
    GTEST_SKIP() << "ZENDREL_WINE_TEST_PROGRAM is not set: scripts/test-windows.sh runs these under Wine";
  }
  if (GetParam().posix_signals_only) GTEST_SKIP() << "Wine turns SIGINT into Ctrl+C only on a terminal's console";
  const ProgramUnderTest program{"/usr/bin/wine", windows_program, "Zendrel.exe", true};
  GetParam().arrange(*this);
  const OnceOutcome outcome = RunOnce(program, GetParam());
  GetParam().check(*this, outcome);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(EndToEnd, WindowsProgramOnceUnderWine, ::testing::ValuesIn(EndToEndCycle::Cases()),
                         CaseName);
// clang-format on

}  // namespace
}  // namespace zendrel::testing
