#pragma once
// The IPv4 socket address of a host the push client connects to: "localhost", "loopback" or a
// dotted literal (never a name lookup); nothing otherwise. A host route for that host and port
// (os::HostLookup: the runnable reader's --hosts) sends the connection where it says, so the
// client's built-in lookup port can lead to a service listening elsewhere.
#include <netinet/in.h>

#include <cstdint>
#include <optional>
#include <string>

std::optional<sockaddr_in> DUVSocketAddress(const std::string& host, std::uint16_t port);
