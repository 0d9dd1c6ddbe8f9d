// The last entries of the log, as the status report shows them: every encoding the
// log can have, entries of several lines, and logs larger than the first window.
#include "service/log_tail.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "support/clock.h"
#include "support/log_file.h"
#include "support/text_codec.h"

namespace zendrel {
namespace {

namespace fs = std::filesystem;

class LogTailTest : public ::testing::Test {
 protected:
  LogTailTest()
      : folder_(fs::temp_directory_path() /
                fmt::format("zendrel-log-tail-{}", ::testing::UnitTest::GetInstance()->current_test_info()->name())),
        clock_(DateTime{2026, 12, 10, 9, 30, 0, 0}) {
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    path_ = folder_ / "Zendrel.log";
  }
  ~LogTailTest() override { fs::remove_all(folder_); }

  void WriteRaw(const std::string& bytes) {
    std::ofstream out(path_, std::ios::binary | std::ios::app);
    out << bytes;
  }

  // Entries written by the log's own writer, in the encoding of the mark already there.
  void Append(const std::string& message, int second = 0) {
    clock_.Set(DateTime{2026, 12, 10, 9, 30, second, 0});
    LogFile(path_, clock_).Append(message);
  }

  fs::path folder_;
  fs::path path_;
  FixedClock clock_;
};

struct EncodingCase {
  const char* name;
  std::string mark;
};

class LogTailEncodings : public LogTailTest, public ::testing::WithParamInterface<EncodingCase> {};

TEST_P(LogTailEncodings, DecodesByTheMarkAndKeepsTheLastEntriesInOrder) {
  WriteRaw(GetParam().mark);
  for (int i = 1; i <= 12; ++i) Append(fmt::format("Falha na conexão com o banco de dados!!! nº {}", i), i);

  const LogTail tail = ReadLogTail(path_, 10);
  ASSERT_TRUE(tail.found);
  ASSERT_EQ(tail.entries.size(), 10u);
  EXPECT_EQ(tail.entries.front(), "10/12/2026 09:30:03 - Falha na conexão com o banco de dados!!! nº 3");
  EXPECT_EQ(tail.entries.back(), "10/12/2026 09:30:12 - Falha na conexão com o banco de dados!!! nº 12");
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Marks, LogTailEncodings,
                         ::testing::Values(EncodingCase{"unmarked", ""}, EncodingCase{"utf8", "\xEF\xBB\xBF"},
                                           EncodingCase{"utf16le", "\xFF\xFE"},
                                           EncodingCase{"utf16be", "\xFE\xFF"}),
                         [](const ::testing::TestParamInfo<EncodingCase>& info) { return info.param.name; });
// clang-format on

TEST_F(LogTailTest, AnUnmarkedLogThatIsNotUtf8IsReadAsWindows1252) {
  // What the service writes on a Brazilian Windows into a log without a mark.
  WriteRaw("\r\n10/12/2026 09:30:00 - Falha na Comunica\xE7\xE3o com o Servidor da Brindex!!!\r\n");
  const LogTail tail = ReadLogTail(path_, 10);
  ASSERT_EQ(tail.entries.size(), 1u);
  EXPECT_EQ(tail.entries[0], "10/12/2026 09:30:00 - Falha na Comunicação com o Servidor da Brindex!!!");
}

TEST_F(LogTailTest, AnEntryOfSeveralLinesStaysOneEntry) {
  Append("primeira", 1);
  Append("erro do banco\nlinha dois\n\nlinha quatro", 2);
  Append("terceira", 3);
  const LogTail tail = ReadLogTail(path_, 10);
  EXPECT_EQ(tail.entries, (std::vector<std::string>{"10/12/2026 09:30:01 - primeira",
                                                    "10/12/2026 09:30:02 - erro do banco\nlinha dois\n\nlinha quatro",
                                                    "10/12/2026 09:30:03 - terceira"}));
}

TEST_F(LogTailTest, ALargeLogIsReadFromItsEndWithWholeEntries) {
  for (const char* mark : {"", "\xFF\xFE"}) {
    SCOPED_TRACE(mark);
    fs::remove(path_);
    WriteRaw(mark);
    // Far more than the first window, with entries longer than it near the end.
    for (int i = 0; i < 3000; ++i) Append(fmt::format("entrada {} ção", i), i % 60);
    Append(std::string(40000, 'x'), 1);
    Append("penúltima", 2);
    Append("última", 3);

    const LogTail tail = ReadLogTail(path_, 4);
    ASSERT_EQ(tail.entries.size(), 4u);
    EXPECT_EQ(tail.entries[0], "10/12/2026 09:30:59 - entrada 2999 ção");
    EXPECT_EQ(tail.entries[1], "10/12/2026 09:30:01 - " + std::string(40000, 'x'));
    EXPECT_EQ(tail.entries[3], "10/12/2026 09:30:03 - última");
  }
}

// The read window starts 16 KiB before the file's end; here inside a character of a
// long entry, so that the bytes of the window begin with a broken character.
struct WindowCase {
  const char* name;
  std::string mark;
  bool windows_1252;  // the file's own bytes are Windows-1252 (a Windows log without a mark)
};

class LogTailWindow : public LogTailTest, public ::testing::WithParamInterface<WindowCase> {};

TEST_P(LogTailWindow, AWindowStartingInsideACharacterDecodesAsTheFileDoes) {
  const WindowCase& c = GetParam();
  const auto encode = [&c](const std::string& utf8) { return c.windows_1252 ? Utf8ToWindows1252(utf8) : utf8; };
  std::string bytes = c.mark + encode("\r\n10/12/2026 09:30:00 - " + [] {
                        std::string long_text;
                        for (int i = 0; i < 20000; ++i) long_text += "ã";
                        return long_text;
                      }() + "\r\n");
  for (int i = 1; i <= 3; ++i) {
    bytes += encode(fmt::format("\r\n10/12/2026 09:30:0{} - Falha na conexão nº {}\r\n", i, i));
  }
  constexpr std::size_t kWindow = 16 * 1024;
  // The second byte of a "ã" in UTF-8: move the window's start there.
  if (!c.windows_1252 && (static_cast<unsigned char>(bytes[bytes.size() - kWindow]) & 0xC0) != 0x80) {
    bytes += " ";
  }
  if (!c.windows_1252) {
    ASSERT_EQ(static_cast<unsigned char>(bytes[bytes.size() - kWindow]) & 0xC0, 0x80) << "not inside a character";
  }
  WriteRaw(bytes);

  const LogTail tail = ReadLogTail(path_, 3);
  ASSERT_TRUE(tail.found);
  ASSERT_EQ(tail.entries.size(), 3u);
  EXPECT_EQ(tail.entries[0], "10/12/2026 09:30:01 - Falha na conexão nº 1");
  // (A blank that moved the window stays on a line of its own, after the last entry.)
  EXPECT_TRUE(tail.entries[2].starts_with("10/12/2026 09:30:03 - Falha na conexão nº 3")) << tail.entries[2];
}

INSTANTIATE_TEST_SUITE_P(Encodings, LogTailWindow,
                         ::testing::Values(WindowCase{"unmarked_utf8", "", false},
                                           WindowCase{"marked_utf8", "\xEF\xBB\xBF", false},
                                           WindowCase{"unmarked_windows_1252", "", true}),
                         [](const ::testing::TestParamInfo<WindowCase>& info) { return info.param.name; });

TEST_F(LogTailTest, FewerEntriesThanAskedGivesThemAll) {
  WriteRaw("lixo sem data\r\n");
  Append("só uma", 5);
  const LogTail tail = ReadLogTail(path_, 10);
  EXPECT_EQ(tail.entries, std::vector<std::string>{"10/12/2026 09:30:05 - só uma"});
}

TEST_F(LogTailTest, MissingAndEmptyLogs) {
  LogTail tail = ReadLogTail(path_, 10);
  EXPECT_FALSE(tail.found);
  EXPECT_TRUE(tail.error.empty());

  WriteRaw("");
  tail = ReadLogTail(path_, 10);
  EXPECT_TRUE(tail.found);
  EXPECT_TRUE(tail.entries.empty());

  fs::remove(path_);
  WriteRaw("\xFF\xFE");
  tail = ReadLogTail(path_, 10);
  EXPECT_TRUE(tail.found);
  EXPECT_TRUE(tail.entries.empty());
}

}  // namespace
}  // namespace zendrel
