// The process entry on Windows (linked with -municode): the UTF-16 command line, each
// argument turned into UTF-8.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "service/program_entry.h"
#include "support/windows_text.h"

namespace {

bool HasHandle(DWORD which) {
  const HANDLE handle = GetStdHandle(which);
  return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

// The program is a Windows (GUI-subsystem) program, so that the service and a start
// by double-click show no console window. Started from a console by an operator (the
// modes that print), it writes to that console, unless its output already goes to a
// file or a pipe.
void UseTheConsoleItWasStartedFrom() {
  if (HasHandle(STD_OUTPUT_HANDLE) || !AttachConsole(ATTACH_PARENT_PROCESS)) return;
  FILE* reopened = nullptr;
  freopen_s(&reopened, "CONOUT$", "w", stdout);
  if (!HasHandle(STD_ERROR_HANDLE)) freopen_s(&reopened, "CONOUT$", "w", stderr);
  SetConsoleOutputCP(CP_UTF8);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  UseTheConsoleItWasStartedFrom();
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(zendrel::Narrow(argv[i]));
  return zendrel::ProgramEntry(args);
}
