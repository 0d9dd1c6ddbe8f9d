// Host name and address look-up on POSIX hosts: gethostname, getaddrinfo and
// getifaddrs.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <memory>

#include "erp/host_identity.h"

namespace zendrel {
namespace {

class PosixHostIdentity final : public HostIdentity {
 public:
  std::string ComputerName() const override {
    std::array<char, 256> name{};
    if (gethostname(name.data(), name.size() - 1) != 0) return {};
    return std::string(name.data());
  }

  std::vector<std::string> ResolveIPv4(const std::string& name) const override {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    std::vector<std::string> addresses;
    if (getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return addresses;
    const std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> owner(found, freeaddrinfo);
    for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
      if (entry->ai_family != AF_INET || entry->ai_addr == nullptr) continue;
      std::array<char, INET_ADDRSTRLEN> text{};
      const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ai_addr);
      if (inet_ntop(AF_INET, &address->sin_addr, text.data(), text.size()) != nullptr) {
        addresses.emplace_back(text.data());
      }
    }
    return addresses;
  }

  std::vector<std::string> InterfaceIPv4() const override {
    std::vector<std::string> addresses;
    ifaddrs* found = nullptr;
    if (getifaddrs(&found) != 0 || found == nullptr) return addresses;
    const std::unique_ptr<ifaddrs, decltype(&freeifaddrs)> owner(found, freeifaddrs);
    for (const ifaddrs* entry = found; entry != nullptr; entry = entry->ifa_next) {
      if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
      std::array<char, INET_ADDRSTRLEN> text{};
      const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
      if (inet_ntop(AF_INET, &address->sin_addr, text.data(), text.size()) == nullptr) continue;
      std::string dotted(text.data());
      if (std::find(addresses.begin(), addresses.end(), dotted) == addresses.end()) {
        addresses.push_back(std::move(dotted));
      }
    }
    return addresses;
  }
};

}  // namespace

const HostIdentity& SystemHostIdentity() {
  static const PosixHostIdentity identity;
  return identity;
}

}  // namespace zendrel
