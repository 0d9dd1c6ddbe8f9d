// Computer name and address look-up on Windows: GetComputerNameW, and GetAddrInfoW
// once the sockets library has been started.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <array>
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
};

}  // namespace

const HostIdentity& SystemHostIdentity() {
  static const WindowsHostIdentity identity;
  return identity;
}

}  // namespace zendrel
