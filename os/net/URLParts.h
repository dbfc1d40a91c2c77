#pragma once
// The pieces of an absolute URL the loading code needs (scheme, host, port, path), and the
// resolution of a relative reference such as a "Location" answer. Internal to os/net.
#include <optional>
#include <string>

namespace os::net {

struct URLParts {
  std::string scheme;  // lower case
  std::string host;    // lower case, without brackets
  int port = 0;        // explicit or the scheme's default
  std::string path;    // "/" at least
  std::string query;
};

std::optional<URLParts> parseURL(const std::string& url);
// The reference resolved against base; absent when either cannot be read.
std::optional<std::string> resolveURL(const std::string& base, const std::string& reference);

}  // namespace os::net
