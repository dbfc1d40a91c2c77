#pragma once
// Host names to IPv4 addresses (getaddrinfo), with a process-wide override table so tests and the
// runnable reader can point any configured host name at loopback (and at another port), or make
// it fail, without touching the resolver. Sockets and URL loading read the same table.
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace os {

// Where a connection to a host name goes instead.
struct HostRoute {
  std::string name;                    // lower case
  int port = 0;                        // the port asked for; 0 for every port
  std::optional<std::string> address;  // a dotted literal; absent: the name does not resolve
  int toPort = 0;                      // the port connected to; 0 keeps the one asked for
};

class HostLookup {
 public:
  // The first IPv4 address of `name` as dotted text; a dotted literal answers itself. Absent
  // when the name does not resolve. Blocks the calling thread while the resolver works.
  static std::optional<std::string> firstIPv4Address(const std::string& name);

  // From now on `name` resolves to `address` (a dotted literal), or fails when address is absent.
  static void setOverride(const std::string& name, std::optional<std::string> address);
  // Connections to `name` on `port` (0: on any port) go to address:toPort (toPort 0: the same
  // port). A route for one port wins over the name's any-port route.
  static void mapHost(const std::string& name, int port, const std::string& address, int toPort);
  static void removeOverride(const std::string& name);
  static void removeAllOverrides();

  // The route that applies to a connection to name:port, if any.
  static std::optional<HostRoute> routeFor(const std::string& name, int port);
  // False while the table is empty, when no name needs looking up in it.
  static bool hasRoutes();
  // Where a socket connection to name:port goes: the route's address and port, else the first
  // resolved address and the same port. Absent when the name does not resolve.
  static std::optional<std::pair<std::string, int>> endpointFor(const std::string& name, int port);
  // Reads routes from text, one per line: "NAME[:PORT] ADDRESS[:PORT]" ("-" as the address makes
  // the name fail); blank lines and lines starting with "#" are skipped. False, with the first
  // bad line in `badLine`, when a line cannot be read; the lines before it are kept.
  static bool addRoutesFromText(const std::string& text, std::string* badLine = nullptr);
};

}  // namespace os
