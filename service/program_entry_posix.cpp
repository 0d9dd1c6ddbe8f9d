// The process entry on Linux: the arguments are already bytes of the locale, taken
// as UTF-8.
#include <string>
#include <vector>

#include "service/program_entry.h"

int main(int argc, char** argv) { return zendrel::ProgramEntry(std::vector<std::string>(argv + 1, argv + argc)); }
