#pragma once
// One host and port of the push service and, for its HTTP services, the URL made from them.
#include <cstdint>
#include <optional>
#include <string>

#include "os/core/Value.h"

class DUVAddress {
 public:
  // "host:port"; a missing or zero port is 80. Nothing for an empty host, or for one that could
  // not stand in a URL as it is (holding "/", "?", "#", "@", "\\", a space or a control byte).
  static std::optional<DUVAddress> initWithString(const std::string& text);
  // The same, with the URL "http://host:port" followed by the resource URL's path.
  static std::optional<DUVAddress> initWithString(const std::string& text, const std::string& resource);
  // A stored "http://host:port/path" URL.
  static std::optional<DUVAddress> fromHttpWrapAddress(const std::string& url);
  static std::optional<DUVAddress> initWithDictionary(const os::Dictionary& dictionary);
  // The path from the first "/" after any "//"; nothing for an empty text or one without "/".
  static std::optional<std::string> analyseResourcePath(const std::string& url);

  os::Dictionary infoDictionary() const;
  // "host:port".
  std::string text() const { return host + ":" + std::to_string(port); }

  std::string host;
  std::uint16_t port = 80;
  std::optional<std::string> httpWrapAddress;
};
