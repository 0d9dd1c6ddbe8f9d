#include "support/log_file.h"

#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "support/errors.h"
#include "support/executable_folder.h"
#include "support/text_codec.h"

namespace zendrel {
namespace {

using namespace std::string_literals;

const std::string kBomUtf8 = "\xEF\xBB\xBF";
const std::string kBomUtf16Le = "\xFF\xFE";
const std::string kBomUtf16Be = "\xFE\xFF";

std::string ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::filesystem::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Runs `body` in a child process and gives its exit code. With `unprivileged`, the
// child first becomes the user nobody when it runs as root, since file permissions
// do not bind root.
int RunInChild(const std::function<int()>& body, bool unprivileged) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (unprivileged && geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)) {
      _exit(90);
    }
    int code = 91;
    try {
      code = body();
    } catch (...) {
      code = 92;
    }
    _exit(code);
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class LogFileTest : public testing::Test {
 protected:
  LogFileTest() : clock_(DateTime{2021, 9, 23, 14, 5, 9, 0}) {
    std::string pattern = (std::filesystem::temp_directory_path() / "zendrel-log-XXXXXX").string();
    folder_ = mkdtemp(pattern.data());
    // Open to every user, so that a child running as nobody reaches the files.
    std::filesystem::permissions(folder_, std::filesystem::perms::all);
    path_ = folder_ / "Zendrel.log";
  }
  ~LogFileTest() override {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  std::filesystem::path folder_;
  std::filesystem::path path_;
  FixedClock clock_;
};

TEST_F(LogFileTest, ANewFileGetsAnEmptyLineThenTheEntryInUtf8WithoutMark) {
  LogFile(path_, clock_).Append("Falha na conex\xC3\xA3o!!!");
  EXPECT_EQ(ReadBytes(path_), "\r\n23/09/2021 14:05:09 - Falha na conex\xC3\xA3o!!!\r\n");
}

TEST_F(LogFileTest, EntriesFollowOneAnother) {
  const LogFile log(path_, clock_);
  log.Append("um");
  clock_.Set(DateTime{2021, 10, 1, 0, 0, 1, 0});
  log.Append("dois");
  EXPECT_EQ(ReadBytes(path_),
            "\r\n23/09/2021 14:05:09 - um\r\n"
            "\r\n01/10/2021 00:00:01 - dois\r\n");
}

TEST_F(LogFileTest, AppendEntryReturnsTheLineWithoutLineEnds) {
  EXPECT_EQ(LogFile(path_, clock_).AppendEntry("Msg"), "23/09/2021 14:05:09 - Msg");
}

TEST_F(LogFileTest, WritesTheMessageAsGiven) {
  struct Case {
    std::string message;
    std::string bytes;
  };
  const Case cases[] = {
      {"", "\r\n23/09/2021 14:05:09 - \r\n"},
      {"a\r\nb", "\r\n23/09/2021 14:05:09 - a\r\nb\r\n"},
      {"a\nb", "\r\n23/09/2021 14:05:09 - a\nb\r\n"},
      {"MovimentoPontos: {\r\n  \"erro\": 1\r\n}",
       "\r\n23/09/2021 14:05:09 - MovimentoPontos: {\r\n  \"erro\": 1\r\n}\r\n"},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(path_);
    LogFile(path_, clock_).Append(c.message);
    EXPECT_EQ(ReadBytes(path_), c.bytes) << c.message;
  }
}

struct ExistingCase {
  const char* name;
  std::string before;
  std::string appended;  // what the entry for "ação" adds
};

void PrintTo(const ExistingCase& c, std::ostream* os) { *os << c.name; }

class LogFileExistingTest : public LogFileTest, public testing::WithParamInterface<ExistingCase> {};

TEST_P(LogFileExistingTest, AppendsInTheFilesEncodingLeavingItsContent) {
  WriteBytes(path_, GetParam().before);
  LogFile(path_, clock_).Append("a\xC3\xA7\xC3\xA3o");
  EXPECT_EQ(ReadBytes(path_), GetParam().before + GetParam().appended);
}

const std::string kEntry = "\r\n23/09/2021 14:05:09 - a\xC3\xA7\xC3\xA3o\r\n";
const std::string kEntryLe = Utf8ToUtf16(kEntry, false);
const std::string kEntryBe = Utf8ToUtf16(kEntry, true);

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Table, LogFileExistingTest,
    testing::Values(
        ExistingCase{"empty_counts_as_new", "", kEntry},
        ExistingCase{"ends_in_crlf", "\r\nold\r\n", kEntry},
        ExistingCase{"ends_in_lf_kept_as_is", "old\nolder\n", kEntry},
        ExistingCase{"ends_in_cr", "old\r", kEntry},
        ExistingCase{"unfinished_line", "old", "\r\n" + kEntry},
        ExistingCase{"single_byte", "x", "\r\n" + kEntry},
        ExistingCase{"latin1_without_mark", "Jo\xE3o\r\n", kEntry},
        ExistingCase{"utf8_mark", kBomUtf8 + "\r\nvelho\r\n", kEntry},
        ExistingCase{"utf8_mark_only", kBomUtf8, kEntry},
        ExistingCase{"utf8_mark_unfinished", kBomUtf8 + "velho", "\r\n" + kEntry},
        ExistingCase{"utf16le_mark", kBomUtf16Le + "o\0l\0d\0\r\0\n\0"s, kEntryLe},
        ExistingCase{"utf16le_mark_only", kBomUtf16Le, kEntryLe},
        ExistingCase{"utf16le_unfinished", kBomUtf16Le + "o\0l\0d\0"s, "\r\0\n\0"s + kEntryLe},
        // U+0A0D is written with the bytes of CR and LF, but is no line end.
        ExistingCase{"utf16le_unit_ending_in_cr_byte", kBomUtf16Le + "\x0D\x0A"s, "\r\0\n\0"s + kEntryLe},
        ExistingCase{"utf16be_mark", kBomUtf16Be + "\0o\0l\0d\0\r\0\n"s, kEntryBe},
        ExistingCase{"utf16be_mark_only", kBomUtf16Be, kEntryBe},
        ExistingCase{"utf16be_unfinished", kBomUtf16Be + "\0o\0l\0d"s, "\0\r\0\n"s + kEntryBe}));
// clang-format on

TEST_F(LogFileTest, Utf16EntriesAreCodeUnitsWithoutASecondMark) {
  WriteBytes(path_, kBomUtf16Le);
  LogFile(path_, clock_).Append("\xE2\x82\xAC\xF0\x9F\x98\x80");  // euro sign, U+1F600
  const std::string expected_le = kBomUtf16Le + "\r\0\n\0"s +
                                  "2\0"
                                  "3\0/\0"
                                  "0\0"
                                  "9\0/\0"
                                  "2\0"
                                  "0\0"
                                  "2\0"
                                  "1\0 \0"s +
                                  "1\0"
                                  "4\0:\0"
                                  "0\0"
                                  "5\0:\0"
                                  "0\0"
                                  "9\0"s +
                                  " \0-\0 \0\xAC\x20\x3D\xD8\x00\xDE\r\0\n\0"s;
  EXPECT_EQ(ReadBytes(path_), expected_le);

  WriteBytes(path_, kBomUtf16Be);
  LogFile(path_, clock_).Append("\xE2\x82\xAC");
  EXPECT_EQ(ReadBytes(path_),
            kBomUtf16Be + "\0\r\0\n"s + Utf8ToUtf16("23/09/2021 14:05:09", true) + "\0 \0-\0 \x20\xAC\0\r\0\n"s);
}

TEST_F(LogFileTest, AMissingFolderRaisesNamingThePathAndTheCause) {
  const std::filesystem::path path = folder_ / "missing" / "Zendrel.log";
  try {
    LogFile(path, clock_).Append("x");
    ADD_FAILURE() << "no exception";
  } catch (const LogWriteError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot write the log file '" + path.string() + "': No such file or directory");
  }
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(LogFileTest, ADirectoryInThePlaceOfTheFileRaises) {
  std::filesystem::create_directory(path_);
  try {
    LogFile(path_, clock_).Append("x");
    ADD_FAILURE() << "no exception";
  } catch (const LogWriteError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot write the log file '" + path_.string() + "': Is a directory");
  }
  EXPECT_TRUE(std::filesystem::is_directory(path_));
}

// Whoever may write the log's folder could put a link there: an entry written by
// root must never land in the file the link points to.
TEST_F(LogFileTest, ALinkInThePlaceOfTheFileRaisesAndLeavesItsTargetAlone) {
  const std::filesystem::path target = folder_ / "elsewhere";
  WriteBytes(target, "root's own file\n");
  for (const std::filesystem::path& link_to : {target, folder_ / "not-there"}) {
    SCOPED_TRACE(link_to.string());
    std::filesystem::remove(path_);
    std::filesystem::create_symlink(link_to, path_);
    EXPECT_THROW(LogFile(path_, clock_).Append("x"), LogWriteError);
    EXPECT_TRUE(std::filesystem::is_symlink(path_));
  }
  EXPECT_EQ(ReadBytes(target), "root's own file\n");
  EXPECT_FALSE(std::filesystem::exists(folder_ / "not-there"));
}

TEST_F(LogFileTest, AReadOnlyFileRaisesAndKeepsItsContent) {
  const std::string before = "\r\n01/01/2021 00:00:00 - antes\r\n";
  WriteBytes(path_, before);
  std::filesystem::permissions(path_, std::filesystem::perms::owner_read | std::filesystem::perms::group_read |
                                          std::filesystem::perms::others_read);
  const std::string expected = "Cannot write the log file '" + path_.string() + "': Permission denied";
  const int code = RunInChild(
      [&] {
        try {
          LogFile(path_, clock_).Append("x");
          return 1;
        } catch (const LogWriteError& e) {
          return e.what() == expected ? 0 : 2;
        }
      },
      true);
  EXPECT_EQ(code, 0) << "1: no exception, 2: another message";
  EXPECT_EQ(ReadBytes(path_), before);
}

TEST_F(LogFileTest, AFolderThatCannotBeWrittenRaises) {
  std::filesystem::permissions(folder_, std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                                            std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
                                            std::filesystem::perms::others_exec);
  const int code = RunInChild(
      [&] {
        try {
          LogFile(path_, clock_).Append("x");
          return 1;
        } catch (const LogWriteError&) {
          return 0;
        }
      },
      true);
  EXPECT_EQ(code, 0);
  EXPECT_FALSE(std::filesystem::exists(path_));
}

TEST_F(LogFileTest, AFileThatCannotBeReadGetsTheReadFailureInPlaceOfTheEntry) {
  const std::string before = "\r\n01/01/2021 00:00:00 - antes\r\n";
  WriteBytes(path_, before);
  std::filesystem::permissions(path_, std::filesystem::perms::owner_write | std::filesystem::perms::group_write |
                                          std::filesystem::perms::others_write);
  const int code = RunInChild(
      [&] {
        LogFile(path_, clock_).Append("x");
        return 0;
      },
      true);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(ReadBytes(path_),
            before + "23/09/2021 14:05:09 - Cannot read the log file '" + path_.string() + "': Permission denied\r\n");
}

TEST_F(LogFileTest, AWriteCutShortLeavesNoHalfEntry) {
  const std::string before = "\r\n01/01/2021 00:00:00 - antes\r\n";
  WriteBytes(path_, before);
  // The file size limit lets the write start and stops it part way, as a full disk
  // would; the child alone carries the limit.
  const int code = RunInChild(
      [&] {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{before.size() + 10, RLIM_INFINITY};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 3;
        try {
          LogFile(path_, clock_).Append(std::string(100, 'x'));
          return 1;
        } catch (const LogWriteError& e) {
          return std::string(e.what()).ends_with(": File too large") ? 0 : 2;
        }
      },
      false);
  EXPECT_EQ(code, 0) << "1: no exception, 2: another message, 3: no limit";
  EXPECT_EQ(ReadBytes(path_), before);
}

class DoSaveLogTest : public LogFileTest {
 protected:
  ~DoSaveLogTest() override { SetLogEcho(nullptr); }
};

TEST_F(DoSaveLogTest, WritesWhereTheRedirectPointsAndEchoesEachEntryLine) {
  std::vector<std::string> echoed;
  SetLogEcho([&](const std::string& line) { echoed.push_back(line); });
  {
    const LogRedirect redirect(path_, clock_);
    DoSaveLog("MovimentoPontos: Erro interno!!!");
    clock_.Set(DateTime{2021, 9, 23, 14, 5, 10, 0});
    DoSaveLog("a\r\nb");
  }
  EXPECT_EQ(ReadBytes(path_),
            "\r\n23/09/2021 14:05:09 - MovimentoPontos: Erro interno!!!\r\n"
            "\r\n23/09/2021 14:05:10 - a\r\nb\r\n");
  EXPECT_EQ(echoed, (std::vector<std::string>{"23/09/2021 14:05:09 - MovimentoPontos: Erro interno!!!",
                                              "23/09/2021 14:05:10 - a\r\nb"}));
}

TEST_F(DoSaveLogTest, RedirectsNestAndTheEchoCanBeSwitchedOff) {
  const std::filesystem::path inner = folder_ / "inner.log";
  int echoes = 0;
  SetLogEcho([&](const std::string&) { ++echoes; });
  {
    const LogRedirect outer_redirect(path_, clock_);
    {
      const LogRedirect inner_redirect(inner, clock_);
      DoSaveLog("inner");
    }
    SetLogEcho(nullptr);
    DoSaveLog("outer");
  }
  EXPECT_EQ(ReadBytes(inner), "\r\n23/09/2021 14:05:09 - inner\r\n");
  EXPECT_EQ(ReadBytes(path_), "\r\n23/09/2021 14:05:09 - outer\r\n");
  EXPECT_EQ(echoes, 1);
}

TEST_F(DoSaveLogTest, AFailedWriteRaisesAndIsNotEchoed) {
  std::filesystem::create_directory(path_);
  int echoes = 0;
  SetLogEcho([&](const std::string&) { ++echoes; });
  const LogRedirect redirect(path_, clock_);
  EXPECT_THROW(DoSaveLog("x"), LogWriteError);
  EXPECT_EQ(echoes, 0);
}

TEST_F(DoSaveLogTest, WithoutRedirectWritesZendrelLogBesideTheExecutable) {
  const std::filesystem::path log = ExecutableFolder() / "Zendrel.log";
  const std::string before = std::filesystem::exists(log) ? ReadBytes(log) : "";
  std::string echoed;
  SetLogEcho([&](const std::string& line) { echoed = line; });
  DoSaveLog("support_test: the process's own log");
  const std::string after = ReadBytes(log);
  ASSERT_TRUE(after.starts_with(before));
  const std::string added = after.substr(before.size());
  EXPECT_EQ(added, (before.empty() || before.ends_with("\n") ? "\r\n" : "\r\n\r\n") + echoed + "\r\n");
  EXPECT_TRUE(echoed.ends_with(" - support_test: the process's own log"));
  EXPECT_EQ(echoed.size(), std::string("DD/MM/YYYY HH:mm:ss - support_test: the process's own log").size());
}

}  // namespace
}  // namespace zendrel
