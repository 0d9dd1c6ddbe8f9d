// Where a Windows machine keeps its Firebird client, in the order the relay looks:
// the executable's folder, the Firebird instances the registry names (the default
// instance first, with the bin\ folder of the 2.x layout), the folder of each
// installed Firebird server service, then the system's own DLL search. The facts
// come from the host (registry, service manager); the order and the file names are
// worked out here, so that they are the same, and tested, on every host.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "erp/firebird_client.h"

namespace zendrel {

// A named value of the registry or of the service manager: a Firebird instance
// ("DefaultInstance" and its folder) or a service (its name and binary path).
struct NamedText {
  std::string name;
  std::string text;
};

// What the host knows of the places a client may be in (UTF-8 Windows paths).
struct ClientSearchFacts {
  std::string executable_folder;
  // The instances in the registry view of the program's own bitness, as listed.
  std::vector<NamedText> instances;
  // The installed services whose binary looks like a Firebird server's.
  std::vector<NamedText> services;
  // The instances in the other registry view (a 32-bit Firebird on 64-bit Windows is
  // registered there): looked at after the rest, so that a client of the wrong
  // bitness is found and named.
  std::vector<NamedText> other_view_instances;
  int other_view_bitness = 32;
};

// The places for `library_name` ("fbclient.dll"), in order, each file once (paths
// compared without regard to case), the system search (the bare name) last.
std::vector<ClientPlace> WindowsClientPlaces(const ClientSearchFacts& facts, const std::string& library_name);

// The folder of the program that a service's binary path (a command line) starts:
// "\"C:\\Program Files\\Firebird\\Firebird_3_0\\firebird.exe\" -s DefaultInstance"
// gives "C:\\Program Files\\Firebird\\Firebird_3_0\\". Empty when there is none.
std::string ServiceProgramFolder(std::string_view binary_path);

// Whether a service is a Firebird server (or its guardian): its name says
// "Firebird", or its program is firebird.exe, fbserver.exe, fbguard.exe or
// fb_inet_server.exe.
bool IsFirebirdService(std::string_view service_name, std::string_view binary_path);

// The bitness (32 or 64) of the Windows executable or DLL whose first bytes are
// `header` (the DOS header, and the PE header it points to); 0 when they are not one
// of an x86 or x86-64 program.
int PortableExecutableBitness(std::string_view header);

}  // namespace zendrel
