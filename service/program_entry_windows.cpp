// The process entry on Windows (linked with -municode): the UTF-16 command line, each
// argument turned into UTF-8.
#include <windows.h>

#include <string>
#include <vector>

#include "service/program_entry.h"
#include "support/windows_text.h"

int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(zendrel::Narrow(argv[i]));
  return zendrel::ProgramEntry(args);
}
