// The order of the places where the relay looks for the Firebird client on Windows,
// and the reading of the facts behind it (a service's binary path, a DLL's header).
#include "erp/client_search_order.h"

#include <algorithm>
#include <cstdint>

#include "support/text_codec.h"

namespace zendrel {
namespace {

std::string WithSeparator(std::string folder) {
  if (!folder.empty() && folder.back() != '\\' && folder.back() != '/') folder += '\\';
  return folder;
}

class PlaceList {
 public:
  void Add(const std::string& file, const std::string& origin) {
    const std::string key = AsciiLower(file);
    if (std::find(seen_.begin(), seen_.end(), key) != seen_.end()) return;
    seen_.push_back(key);
    places_.push_back({file, origin});
  }
  void AddFolder(const std::string& folder, const std::string& library_name, const std::string& origin) {
    if (folder.empty()) return;
    Add(WithSeparator(folder) + library_name, origin);
  }
  std::vector<ClientPlace> Take() { return std::move(places_); }

 private:
  std::vector<std::string> seen_;
  std::vector<ClientPlace> places_;
};

bool EqualsIgnoringCase(std::string_view a, std::string_view b) { return AsciiLower(a) == AsciiLower(b); }

// The instances with DefaultInstance first, the others in the registry's order.
std::vector<NamedText> DefaultFirst(const std::vector<NamedText>& instances) {
  std::vector<NamedText> ordered(instances);
  std::stable_partition(ordered.begin(), ordered.end(),
                        [](const NamedText& instance) { return EqualsIgnoringCase(instance.name, "DefaultInstance"); });
  return ordered;
}

void AddInstances(PlaceList& places, const std::vector<NamedText>& instances, const std::string& library_name,
                  const std::string& origin) {
  for (const NamedText& instance : DefaultFirst(instances)) {
    const std::string where = origin + " (" + instance.name + ")";
    places.AddFolder(instance.text, library_name, where);
    if (!instance.text.empty()) places.AddFolder(WithSeparator(instance.text) + "bin", library_name, where);
  }
}

std::string ProgramOfCommandLine(std::string_view command_line) {
  std::size_t start = command_line.find_first_not_of(" \t");
  if (start == std::string_view::npos) return {};
  command_line.remove_prefix(start);
  if (command_line.front() == '"') {
    const std::size_t end = command_line.find('"', 1);
    return std::string(command_line.substr(1, end == std::string_view::npos ? std::string_view::npos : end - 1));
  }
  // Unquoted: a path with blanks still ends at ".exe" (the service manager reads it
  // the same way); without one, at the first blank.
  const std::string lower = AsciiLower(command_line);
  const std::size_t exe = lower.find(".exe");
  if (exe != std::string::npos) return std::string(command_line.substr(0, exe + 4));
  return std::string(command_line.substr(0, command_line.find_first_of(" \t")));
}

std::uint32_t LittleEndian(std::string_view bytes, std::size_t at, std::size_t size) {
  std::uint32_t value = 0;
  for (std::size_t i = size; i-- > 0;) value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

}  // namespace

std::vector<ClientPlace> WindowsClientPlaces(const ClientSearchFacts& facts, const std::string& library_name) {
  PlaceList places;
  places.AddFolder(facts.executable_folder, library_name, "pasta do executável");
  AddInstances(places, facts.instances, library_name, "instância do Firebird no registro");
  for (const NamedText& service : facts.services) {
    places.AddFolder(ServiceProgramFolder(service.text), library_name, "serviço " + service.name);
  }
  AddInstances(places, facts.other_view_instances, library_name,
               "instância do Firebird no registro de " + std::to_string(facts.other_view_bitness) + " bits");
  places.Add(library_name, "caminho de busca do sistema");
  return places.Take();
}

std::string ServiceProgramFolder(std::string_view binary_path) {
  const std::string program = ProgramOfCommandLine(binary_path);
  const std::size_t separator = program.find_last_of("\\/");
  if (separator == std::string::npos) return {};
  return program.substr(0, separator + 1);
}

bool IsFirebirdService(std::string_view service_name, std::string_view binary_path) {
  if (AsciiLower(service_name).find("firebird") != std::string::npos) return true;
  std::string program = AsciiLower(ProgramOfCommandLine(binary_path));
  const std::size_t separator = program.find_last_of("\\/");
  if (separator != std::string::npos) program.erase(0, separator + 1);
  return program == "firebird.exe" || program == "fbserver.exe" || program == "fbguard.exe" ||
         program == "fb_inet_server.exe";
}

int PortableExecutableBitness(std::string_view header) {
  if (header.size() < 0x40 || header.substr(0, 2) != "MZ") return 0;
  const std::uint32_t pe = LittleEndian(header, 0x3c, 4);
  if (pe > header.size() || header.size() - pe < 6 || header.substr(pe, 4) != std::string_view("PE\0\0", 4)) return 0;
  switch (LittleEndian(header, pe + 4, 2)) {
    case 0x014c: return 32;  // IMAGE_FILE_MACHINE_I386
    case 0x8664: return 64;  // IMAGE_FILE_MACHINE_AMD64
    default: return 0;
  }
}

}  // namespace zendrel
