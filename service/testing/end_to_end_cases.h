// The end-to-end cases that every build of the program must pass: one cycle run by the
// program itself ("-once"), against a fresh database of the real Firebird server and
// the fake platform. One table, run against the Linux program and against the
// Windows program under Wine, so that both hosts are held to the same expectations.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "service/testing/child_process.h"
#include "service/testing/poll_cycle_fixture.h"

namespace zendrel::testing {

// A build of the program to run one cycle with.
struct ProgramUnderTest {
  std::string launcher;              // empty: the program runs itself; else e.g. /usr/bin/wine
  std::string program;               // the test build of the program, copied into a folder of its own
  std::string file_name;             // its name in that folder ("Zendrel", "Zendrel.exe")
  bool log_in_windows_1252 = false;  // a new Zendrel.log is in the ANSI code page, not UTF-8
};

// What one run of "-once" left behind.
struct OnceOutcome {
  int status = -1;  // -1: it did not end within its deadline
  std::string output;
  std::string errors;
  std::string log_bytes;         // Zendrel.log as written
  std::vector<std::string> log;  // its entries' messages, as UTF-8, without timestamps
};

class EndToEndCycle;

struct EndToEndCase {
  const char* name;
  std::function<void(EndToEndCycle&)> arrange;  // the database and the platform's script
  // Runs on another thread while the program runs, once the platform has been asked its
  // first reset question (the cycle is connected and about to read movements); may be empty.
  std::function<void(EndToEndCycle&)> while_running;
  std::function<void(EndToEndCycle&, const OnceOutcome&)> check;
  // Sends the program a Linux signal: Wine turns SIGINT into Ctrl+C only for a program
  // whose console is a terminal, which the test's child is not, so the Windows program
  // skips the case (its console handler is tested on a terminal in
  // main_loop_windows_test).
  bool posix_signals_only = false;
};

// Cases are shown by their names in test output.
inline void PrintTo(const EndToEndCase& case_under_test, std::ostream* out) { *out << case_under_test.name; }

// The moment the test build's clock stands still at, as the in-process fixture's.
inline constexpr const char* kEndToEndNow = "2026-12-10 09:30:00";

class EndToEndCycle : public PollCycle {
 public:
  static const std::vector<EndToEndCase>& Cases();

  // Two copies of `program` in two folders with the same Tarvix.ini, started together:
  // exactly one posts the movements, each once; the other does nothing and names the
  // first one's folder.
  void TwoCopiesInTwoFoldersPostOnlyOnce(const ProgramUnderTest& program);

 protected:
  // Copies the program and the database's Tarvix.ini into a fresh folder and runs
  // "-once" there, with `case_under_test.while_running` alongside.
  OnceOutcome RunOnce(const ProgramUnderTest& program, const EndToEndCase& case_under_test);

  // Starts "-once" in as many fresh folders as `folder_names` has places, all at once,
  // and waits for every run; the folders' own names go into `folder_names`.
  std::vector<OnceOutcome> RunOnceInFolders(const ProgramUnderTest& program, std::vector<std::string>& folder_names);

  // Waits (tens of seconds: a Windows program under Wine starts slowly) until the
  // platform has received `count` requests `method path`.
  void WaitForRequests(const std::string& method, const std::string& path, std::size_t count) const;

  // Waits until another attachment's read of the points table is running (blocked on
  // a till's uncommitted movement) in the database's monitoring tables.
  void WaitForAReadOfPendingMovementsThatWaits() const;

  // Sends `signal_number` to the running program (under Wine, SIGINT reaches the
  // Windows program as Ctrl+C).
  void SignalProgram(int signal_number);

  // The UTF-8 text `utf8` as the program's host writes it into a new log.
  std::string AsLogBytes(const std::string& utf8) const;

  // Sessions of ERP tills that the case keeps open across the run.
  std::vector<std::unique_ptr<SqlSession>> tills_;
  const ProgramUnderTest* program_ = nullptr;
  ChildProcess* running_ = nullptr;
};

}  // namespace zendrel::testing
