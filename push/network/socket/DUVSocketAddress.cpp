#include "push/network/socket/DUVSocketAddress.h"

#include "os/net/HostLookup.h"
#include "os/net/Socket.h"

std::optional<sockaddr_in> DUVSocketAddress(const std::string& host, std::uint16_t port) {
  std::string dotted = host == "localhost" || host == "loopback" ? "127.0.0.1" : host;
  if (dotted == "255.255.255.255") return std::nullopt;
  if (auto route = os::HostLookup::routeFor(dotted, port)) {
    if (!route->address) return std::nullopt;
    return os::makeIPv4Address(*route->address, route->toPort ? static_cast<std::uint16_t>(route->toPort) : port);
  }
  return os::makeIPv4Address(dotted, port);
}
