// The host seam for "which machine is this": its name, the addresses its name resolves
// to, and the IPv4 addresses of its network interfaces.
#pragma once

#include <string>
#include <vector>

namespace zendrel {

class HostIdentity {
 public:
  virtual ~HostIdentity() = default;

  // This computer's name as the host reports it (on Linux possibly a full domain
  // name), or "" when it cannot be obtained.
  virtual std::string ComputerName() const = 0;

  // The IPv4 addresses that `name` resolves to, in dotted form, in the order the
  // resolver returns them; empty when the look-up fails.
  virtual std::vector<std::string> ResolveIPv4(const std::string& name) const = 0;

  // The IPv4 addresses of this machine's network interfaces, loopback included, in
  // dotted form, each once, in the order the host lists them; empty when the host
  // cannot list them.
  virtual std::vector<std::string> InterfaceIPv4() const = 0;
};

// The host's real identity; lives for the whole process.
const HostIdentity& SystemHostIdentity();

}  // namespace zendrel
