#pragma once
// The pieces of an absolute URL the loading code needs (scheme, host, port, path), and the
// resolution of a relative reference such as a "Location" answer. Both read the URL with
// os::URL, so what the loader checks, maps and connects to is what every other part of the
// system sees in the same text. Internal to os/net.
#include <optional>
#include <string>

namespace os::net {

struct URLParts {
  std::string scheme;  // lower case
  std::string host;    // lower case, without brackets; empty when the URL has no authority
  int port = 0;        // explicit or the scheme's default (0 when it has none)
  std::string path;    // "/" at least, still escaped
  std::string query;
};

// Absent for text that is not a URL or has no scheme.
std::optional<URLParts> parseURL(const std::string& url);
// The reference resolved against base (RFC 3986), characters that may not stand in a URL
// escaped first; absent when either cannot be read or base has no scheme.
std::optional<std::string> resolveURL(const std::string& base, const std::string& reference);

}  // namespace os::net
