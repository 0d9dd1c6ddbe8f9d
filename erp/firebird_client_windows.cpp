// Finds and opens the Firebird client (fbclient.dll) on Windows where Firebird puts
// it. Since 1.5 the client lives in the installation's folder, which the registry
// names, and copying it to the system folder is only an optional installer task; a
// zip-kit installation has no copy there at all. So the relay looks in the places
// of client_search_order.h, and loads each by its full path so that the DLLs the
// client needs resolve from its own folder.
#include <windows.h>

#include <fstream>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "erp/client_search_order.h"
#include "erp/firebird_client.h"
#include "support/executable_folder.h"
#include "support/windows_text.h"

namespace zendrel {
namespace {

constexpr wchar_t kInstancesKey[] = L"SOFTWARE\\Firebird Project\\Firebird Server\\Instances";

// The named text values of the instances key in one registry view.
std::vector<NamedText> RegistryInstances(REGSAM view) {
  std::vector<NamedText> instances;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kInstancesKey, 0, KEY_READ | view, &key) != ERROR_SUCCESS) return instances;
  for (DWORD index = 0;; ++index) {
    wchar_t name[256];
    DWORD name_length = 256;
    wchar_t data[1024];
    DWORD data_size = sizeof data - sizeof(wchar_t);
    DWORD type = 0;
    const LONG result =
        RegEnumValueW(key, index, name, &name_length, nullptr, &type, reinterpret_cast<BYTE*>(data), &data_size);
    if (result == ERROR_MORE_DATA) continue;
    if (result != ERROR_SUCCESS) break;
    if (type != REG_SZ && type != REG_EXPAND_SZ) continue;
    data[data_size / sizeof(wchar_t)] = L'\0';
    std::wstring folder(data);
    if (type == REG_EXPAND_SZ) {
      wchar_t expanded[1024];
      const DWORD length = ExpandEnvironmentStringsW(folder.c_str(), expanded, 1024);
      if (length > 0 && length <= 1024) folder = expanded;
    }
    instances.push_back({Narrow(std::wstring_view(name, name_length)), Narrow(folder)});
  }
  RegCloseKey(key);
  return instances;
}

struct ServiceManagerHandle {
  SC_HANDLE handle;
  ~ServiceManagerHandle() {
    if (handle != nullptr) CloseServiceHandle(handle);
  }
};

// The binary path of each installed Firebird server service.
std::vector<NamedText> FirebirdServices() {
  std::vector<NamedText> services;
  const ServiceManagerHandle manager{
      OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE)};
  if (manager.handle == nullptr) return services;
  std::vector<BYTE> buffer(64 * 1024);
  DWORD resume = 0;
  for (;;) {
    DWORD needed = 0;
    DWORD count = 0;
    const BOOL done =
        EnumServicesStatusExW(manager.handle, SC_ENUM_PROCESS_INFO, SERVICE_WIN32, SERVICE_STATE_ALL, buffer.data(),
                              static_cast<DWORD>(buffer.size()), &needed, &count, &resume, nullptr);
    if (!done && GetLastError() != ERROR_MORE_DATA) break;
    const auto* entries = reinterpret_cast<const ENUM_SERVICE_STATUS_PROCESSW*>(buffer.data());
    for (DWORD i = 0; i < count; ++i) {
      const ServiceManagerHandle service{OpenServiceW(manager.handle, entries[i].lpServiceName, SERVICE_QUERY_CONFIG)};
      if (service.handle == nullptr) continue;
      DWORD config_size = 0;
      QueryServiceConfigW(service.handle, nullptr, 0, &config_size);
      if (config_size == 0) continue;
      std::vector<BYTE> config(config_size);
      auto* parsed = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(config.data());
      if (!QueryServiceConfigW(service.handle, parsed, config_size, &config_size)) continue;
      const std::string name = Narrow(entries[i].lpServiceName);
      const std::string binary = parsed->lpBinaryPathName != nullptr ? Narrow(parsed->lpBinaryPathName) : "";
      if (IsFirebirdService(name, binary)) services.push_back({name, binary});
    }
    if (done) break;
    if (needed > buffer.size()) buffer.resize(needed);
  }
  return services;
}

std::string Utf8(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return {text.begin(), text.end()};
}

int FileBitness(const std::wstring& file) {
  std::ifstream in(std::filesystem::path(file), std::ios::binary);
  std::string header(4096, '\0');
  in.read(header.data(), static_cast<std::streamsize>(header.size()));
  header.resize(static_cast<std::size_t>(in.gcount()));
  return PortableExecutableBitness(header);
}

std::string ModulePath(HMODULE module) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      return Narrow(path);
    }
    path.resize(path.size() * 2);
  }
}

}  // namespace

const char* DefaultFirebirdClientName() { return "fbclient.dll"; }

std::vector<ClientPlace> ClientPlaces(const std::string& library_name) {
  if (library_name.find_first_of("\\/:") != std::string::npos) return {{library_name, ""}};
  ClientSearchFacts facts;
  try {
    facts.executable_folder = Utf8(ExecutableFolder());
  } catch (const std::exception&) {
    // Without it the other places still count.
  }
  const REGSAM own_view = kProgramBitness == 64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
  const REGSAM other_view = kProgramBitness == 64 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
  facts.instances = RegistryInstances(own_view);
  facts.services = FirebirdServices();
  facts.other_view_instances = RegistryInstances(other_view);
  facts.other_view_bitness = kProgramBitness == 64 ? 32 : 64;
  return WindowsClientPlaces(facts, library_name);
}

OpenedClient OpenClientPlace(const ClientPlace& place) {
  OpenedClient opened;
  const std::wstring file = Widen(place.file);
  const bool by_path = place.file.find_first_of("\\/:") != std::string::npos;
  if (by_path && GetFileAttributesW(file.c_str()) == INVALID_FILE_ATTRIBUTES) {
    opened.failure = "não existe";
    return opened;
  }
  // No error dialog box for a DLL that does not fit: the service has no desktop.
  const UINT previous_mode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  HMODULE library =
      by_path ? LoadLibraryExW(file.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH) : LoadLibraryW(file.c_str());
  const DWORD error = GetLastError();
  SetErrorMode(previous_mode);
  if (library == nullptr) {
    const std::string reason = fmt::format("erro {} do Windows: {}", error, SystemErrorText(error));
    const int bitness = by_path ? FileBitness(file) : 0;
    if (bitness != 0 && bitness != kProgramBitness) {
      opened.other_bitness = bitness;
      opened.failure =
          fmt::format("DLL de {} bits, e este programa é de {} bits ({})", bitness, kProgramBitness, reason);
    } else if (!by_path && error == ERROR_MOD_NOT_FOUND) {
      opened.failure = "não encontrada (" + reason + ")";
    } else {
      opened.failure = reason;
    }
    return opened;
  }
  opened.path = ModulePath(library);
  opened.lookup = [library](const char* symbol) { return reinterpret_cast<void*>(GetProcAddress(library, symbol)); };
  opened.release = [library] { FreeLibrary(library); };
  return opened;
}

}  // namespace zendrel
