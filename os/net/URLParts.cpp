#include "os/net/URLParts.h"

#include "os/core/String.h"
#include "os/core/URL.h"

namespace os::net {

namespace {

int defaultPort(const std::string& scheme) {
  if (scheme == "http" || scheme == "ws") return 80;
  if (scheme == "https" || scheme == "wss") return 443;
  if (scheme == "ftp") return 21;
  return 0;
}

}  // namespace

std::optional<URLParts> parseURL(const std::string& url) {
  std::optional<URL> u = URL::parse(url);
  if (!u) return std::nullopt;
  URLParts p;
  p.scheme = u->scheme();
  if (p.scheme.empty()) return std::nullopt;
  if (const auto host = u->host()) p.host = lowercaseASCII(*host);
  p.port = u->port() ? *u->port() : defaultPort(p.scheme);
  p.path = u->rawPath().empty() ? "/" : u->rawPath();
  p.query = u->query().value_or("");
  return p;
}

std::optional<std::string> resolveURL(const std::string& base, const std::string& reference) {
  std::optional<URL> b = URL::parse(base);
  if (!b || b->scheme().empty()) return std::nullopt;
  std::optional<URL> resolved = URL::parseEscaping(reference, *b);
  if (!resolved) return std::nullopt;
  return resolved->absoluteString();
}

}  // namespace os::net
