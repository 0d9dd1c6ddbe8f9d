// The log file on Windows: an unmarked log in the ANSI code page, entries appended
// in the file's own encoding, and a file another program holds locked.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <stdexcept>
#include <iterator>
#include <string>

#include "support/errors.h"
#include "support/log_file.h"
#include "support/log_file_host.h"
#include "support/windows_text.h"

namespace zendrel {
namespace {

std::string ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::filesystem::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

class LogFileWindowsTest : public testing::Test {
 protected:
  LogFileWindowsTest() : clock_(DateTime{2021, 9, 23, 14, 5, 9, 0}) {
    folder_ = std::filesystem::temp_directory_path() / ("zendrel-log-" + std::to_string(GetCurrentProcessId()) + "-" +
                                                        testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(folder_);
    path_ = folder_ / "Zendrel.log";
  }
  ~LogFileWindowsTest() override {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  std::filesystem::path folder_;
  std::filesystem::path path_;
  FixedClock clock_;
};

// The tests run with Windows-1252 as the ANSI code page (any Western European or
// Brazilian Windows, and Wine in an English or Portuguese locale).
TEST_F(LogFileWindowsTest, TheAnsiCodePageIsTheOneTheseTestsAssume) { ASSERT_EQ(GetACP(), 1252u); }

// The conversion under each kind of ANSI code page a machine may have in force: a
// single-byte one takes the no-best-fit flag, UTF-8 refuses every flag.
TEST(CodePageConversion, EachCodePageConvertsWithFlagsItAccepts) {
  struct Case {
    UINT code_page;
    std::string utf8;
    std::string bytes;
  };
  const Case cases[] = {
      {1252, "Falha na conex\xC3\xA3o \xE2\x82\xAC", "Falha na conex\xE3o \x80"},
      {1252, "\xC5\x91", "?"},  // no look-alike "o"
      {850, "conex\xC3\xA3o \xC3\xA7", "conex\xC6o \x87"},
      {CP_UTF8, "Falha na conex\xC3\xA3o \xC5\x91 \xE4\xB8\xAD", "Falha na conex\xC3\xA3o \xC5\x91 \xE4\xB8\xAD"},
      {CP_UTF8, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code_page);
    EXPECT_EQ(ToCodePage(c.utf8, c.code_page), c.bytes) << c.utf8;
  }
  EXPECT_EQ(FromCodePage("conex\xC3\xA3o", CP_UTF8), "conex\xC3\xA3o");
  EXPECT_EQ(FromCodePage("conex\xE3o", 1252), "conex\xC3\xA3o");
}

TEST(CodePageConversion, AConversionThatFailsRaisesInsteadOfGivingAnEmptyText) {
  EXPECT_THROW(ToCodePage("Falha", 12345), std::runtime_error);
  EXPECT_THROW(FromCodePage("Falha", 12345), std::runtime_error);
}

// Run by the Windows test script in a Wine prefix whose ANSI code page is UTF-8
// (Windows' "Beta: Use Unicode UTF-8" setting); skipped elsewhere.
TEST_F(LogFileWindowsTest, UnderAUtf8AnsiCodePageAnUnmarkedLogGetsUtf8) {
  if (GetACP() != CP_UTF8) GTEST_SKIP() << "the ANSI code page is " << GetACP() << ", not UTF-8";
  LogFile(path_, clock_).Append("Falha na conex\xC3\xA3o \xC5\x91");
  EXPECT_EQ(ReadBytes(path_), "\r\n23/09/2021 14:05:09 - Falha na conex\xC3\xA3o \xC5\x91\r\n");
  EXPECT_EQ(DecodeUnmarkedLog(EncodeForUnmarkedLog("\xE4\xB8\xAD")), "\xE4\xB8\xAD");
}

TEST_F(LogFileWindowsTest, UnmarkedEncodingIsTheAnsiCodePage) {
  struct Case {
    std::string utf8;
    std::string ansi;
  };
  const Case cases[] = {
      {"Falha na conex\xC3\xA3o com o banco de dados!!!", "Falha na conex\xE3o com o banco de dados!!!"},
      {"\xE2\x82\xAC 10,00", "\x80 10,00"},  // the euro sign has a place in 1252
      {"\xC5\x91 \xE4\xB8\xAD", "? ?"},      // letters it lacks become "?", no look-alike
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(EncodeForUnmarkedLog(c.utf8), c.ansi) << c.utf8;
}

TEST_F(LogFileWindowsTest, UnmarkedBytesReadBackAsTheTextThatWasWritten) {
  const std::string text = "Falha na Comunica\xC3\xA7\xC3\xA3o \xE2\x82\xAC";
  EXPECT_EQ(DecodeUnmarkedLog(EncodeForUnmarkedLog(text)), text);
  EXPECT_EQ(DecodeUnmarkedLog("n\xE3o h\xE1"), "n\xC3\xA3o h\xC3\xA1");
  EXPECT_EQ(DecodeUnmarkedLog(""), "");
}

TEST_F(LogFileWindowsTest, ANewFileGetsTheEntryInTheAnsiCodePage) {
  LogFile(path_, clock_).Append("Falha na conex\xC3\xA3o com o banco de dados!!!");
  EXPECT_EQ(ReadBytes(path_), "\r\n23/09/2021 14:05:09 - Falha na conex\xE3o com o banco de dados!!!\r\n");
}

TEST_F(LogFileWindowsTest, AMarkedFileKeepsItsEncodingAndItsEarlierContent) {
  const std::string before = "\xEF\xBB\xBF\r\n01/01/2021 00:00:00 - antes\r\n";
  WriteBytes(path_, before);
  LogFile(path_, clock_).Append("a\xC3\xA7\xC3\xA3o");
  EXPECT_EQ(ReadBytes(path_), before + "\r\n23/09/2021 14:05:09 - a\xC3\xA7\xC3\xA3o\r\n");
}

TEST_F(LogFileWindowsTest, EntriesFollowOneAnother) {
  const LogFile log(path_, clock_);
  log.Append("um");
  log.Append("dois");
  EXPECT_EQ(ReadBytes(path_), "\r\n23/09/2021 14:05:09 - um\r\n\r\n23/09/2021 14:05:09 - dois\r\n");
}

TEST_F(LogFileWindowsTest, AFileAnotherProgramHoldsWithoutSharingRaisesAndStaysAsItWas) {
  WriteBytes(path_, "\r\n01/01/2021 00:00:00 - antes\r\n");
  // Another program with the file open and no write sharing (an editor saving it).
  const HANDLE held =
      CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  try {
    LogFile(path_, clock_).Append("perdida");
    ADD_FAILURE() << "no LogWriteError";
  } catch (const LogWriteError& e) {
    EXPECT_NE(std::string(e.what()).find("Cannot write the log file '"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("Zendrel.log"), std::string::npos) << e.what();
  }
  CloseHandle(held);
  EXPECT_EQ(ReadBytes(path_), "\r\n01/01/2021 00:00:00 - antes\r\n");
}

TEST_F(LogFileWindowsTest, AReaderWithSharingDoesNotBlockAnEntry) {
  WriteBytes(path_, "");
  // An operator's viewer that lets others write.
  const HANDLE viewer = CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(viewer, INVALID_HANDLE_VALUE);
  LogFile(path_, clock_).Append("vista");
  CloseHandle(viewer);
  EXPECT_EQ(ReadBytes(path_), "\r\n23/09/2021 14:05:09 - vista\r\n");
}

TEST_F(LogFileWindowsTest, AMissingFolderRaisesAndCreatesNothing) {
  const std::filesystem::path path = folder_ / "missing" / "Zendrel.log";
  EXPECT_THROW(LogFile(path, clock_).Append("x"), LogWriteError);
  EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace
}  // namespace zendrel
