// Computer name and address look-up on Windows: GetComputerNameW, GetAddrInfoW once
// the sockets library has been started, and GetAdaptersAddresses.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <windows.h>

#include <algorithm>
#include <array>
#include <vector>
#include <fmt/format.h>

#include "erp/host_identity.h"
#include "support/windows_text.h"

namespace zendrel {
namespace {

// Starts the sockets library once for the process; it stays started until exit.
bool SocketsStarted() {
  static const bool started = [] {
    WSADATA data{};
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

class WindowsHostIdentity final : public HostIdentity {
 public:
  std::string ComputerName() const override {
    std::array<wchar_t, 256> name{};
    DWORD length = 255;
    if (!GetComputerNameW(name.data(), &length)) return {};
    return Narrow(std::wstring_view(name.data(), length));
  }

  std::vector<std::string> ResolveIPv4(const std::string& name) const override {
    std::vector<std::string> addresses;
    if (!SocketsStarted()) return addresses;
    ADDRINFOW hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    ADDRINFOW* found = nullptr;
    if (GetAddrInfoW(Widen(name).c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return addresses;
    for (const ADDRINFOW* entry = found; entry != nullptr; entry = entry->ai_next) {
      if (entry->ai_family != AF_INET || entry->ai_addr == nullptr) continue;
      const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ai_addr);
      const auto* bytes = reinterpret_cast<const unsigned char*>(&address->sin_addr);
      addresses.push_back(fmt::format("{}.{}.{}.{}", bytes[0], bytes[1], bytes[2], bytes[3]));
    }
    FreeAddrInfoW(found);
    return addresses;
  }

  std::vector<std::string> InterfaceIPv4() const override {
    std::vector<std::string> addresses;
    constexpr ULONG kFlags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
    // The list can grow between the call that sizes it and the call that fills it.
    ULONG size = 16 * 1024;
    std::vector<unsigned char> buffer;
    ULONG result = ERROR_BUFFER_OVERFLOW;
    for (int attempt = 0; attempt < 4 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
      buffer.assign(size, 0);
      result =
          GetAdaptersAddresses(AF_INET, kFlags, nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
    }
    if (result != NO_ERROR) return addresses;
    for (const auto* adapter = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.data()); adapter != nullptr;
         adapter = adapter->Next) {
      for (const IP_ADAPTER_UNICAST_ADDRESS* unicast = adapter->FirstUnicastAddress; unicast != nullptr;
           unicast = unicast->Next) {
        const sockaddr* socket_address = unicast->Address.lpSockaddr;
        if (socket_address == nullptr || socket_address->sa_family != AF_INET) continue;
        const auto* address = reinterpret_cast<const sockaddr_in*>(socket_address);
        const auto* bytes = reinterpret_cast<const unsigned char*>(&address->sin_addr);
        std::string dotted = fmt::format("{}.{}.{}.{}", bytes[0], bytes[1], bytes[2], bytes[3]);
        if (std::find(addresses.begin(), addresses.end(), dotted) == addresses.end()) {
          addresses.push_back(std::move(dotted));
        }
      }
    }
    return addresses;
  }
};

}  // namespace

const HostIdentity& SystemHostIdentity() {
  static const WindowsHostIdentity identity;
  return identity;
}

}  // namespace zendrel
