#pragma once
// The IPv4 socket address of a host the push client connects to: "localhost", "loopback" or a
// dotted literal (never a name lookup); nothing otherwise.
#include <netinet/in.h>

#include <cstdint>
#include <optional>
#include <string>

std::optional<sockaddr_in> DUVSocketAddress(const std::string& host, std::uint16_t port);
