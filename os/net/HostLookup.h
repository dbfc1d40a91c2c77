#pragma once
// Host names to IPv4 addresses (getaddrinfo), with a process-wide override table so tests can
// point any configured host name at loopback, or make it fail, without touching the resolver.
#include <cstdint>
#include <optional>
#include <string>

namespace os {

class HostLookup {
 public:
  // The first IPv4 address of `name` as dotted text; a dotted literal answers itself. Absent
  // when the name does not resolve. Blocks the calling thread while the resolver works.
  static std::optional<std::string> firstIPv4Address(const std::string& name);

  // From now on `name` resolves to `address` (a dotted literal), or fails when address is absent.
  static void setOverride(const std::string& name, std::optional<std::string> address);
  static void removeOverride(const std::string& name);
  static void removeAllOverrides();
};

}  // namespace os
