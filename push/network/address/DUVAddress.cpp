#include "push/network/address/DUVAddress.h"

#include <cstdlib>

namespace {
std::uint16_t portFrom(const std::string& text) {
  long port = std::strtol(text.c_str(), nullptr, 10);
  return port > 0 && port <= 0xFFFF ? static_cast<std::uint16_t>(port) : 80;
}

// A host goes into "http://host:port/path" URLs and is read back out of them: one holding a
// character that ends or changes the URL's authority would come back as another host.
bool acceptableHost(const std::string& host) {
  if (host.empty()) return false;
  for (unsigned char c : host)
    if (c <= 0x20 || c == 0x7F || c == '/' || c == '?' || c == '#' || c == '@' || c == '\\') return false;
  return true;
}
}  // namespace

std::optional<DUVAddress> DUVAddress::initWithString(const std::string& text) {
  auto colon = text.find(':');
  std::string host = text.substr(0, colon);
  if (!acceptableHost(host)) return std::nullopt;
  DUVAddress address;
  address.host = host;
  if (colon != std::string::npos) {
    std::string rest = text.substr(colon + 1);
    address.port = portFrom(rest.substr(0, rest.find(':')));
  }
  return address;
}

std::optional<DUVAddress> DUVAddress::initWithString(const std::string& text, const std::string& resource) {
  auto address = initWithString(text);
  if (!address) return std::nullopt;
  address->httpWrapAddress =
      "http://" + address->host + ":" + std::to_string(address->port) + analyseResourcePath(resource).value_or("");
  return address;
}

std::optional<DUVAddress> DUVAddress::fromHttpWrapAddress(const std::string& url) {
  const std::string scheme = "http://";
  if (url.rfind(scheme, 0) != 0) return std::nullopt;
  std::string rest = url.substr(scheme.size());
  auto address = initWithString(rest.substr(0, rest.find('/')));
  if (address) address->httpWrapAddress = url;
  return address;
}

std::optional<DUVAddress> DUVAddress::initWithDictionary(const os::Dictionary& dictionary) {
  const std::string* host = dictionary["kDUVAddressHostKey"].string();
  if (!host || !acceptableHost(*host)) return std::nullopt;
  DUVAddress address;
  address.host = *host;
  long long port = dictionary["kDUVAddressPortKey"].intValue();
  address.port = port > 0 && port <= 0xFFFF ? static_cast<std::uint16_t>(port) : 80;
  return address;
}

std::optional<std::string> DUVAddress::analyseResourcePath(const std::string& url) {
  if (url.empty()) return std::nullopt;
  std::string rest = url;
  if (auto slashes = rest.find("//"); slashes != std::string::npos) rest = rest.substr(slashes + 2);
  auto slash = rest.find('/');
  if (slash == std::string::npos) return std::nullopt;
  return rest.substr(slash);
}

os::Dictionary DUVAddress::infoDictionary() const {
  return {{"kDUVAddressHostKey", os::Value(host)}, {"kDUVAddressPortKey", os::Value::unsignedNumber('S', port)}};
}
