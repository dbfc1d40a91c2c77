#include "os/net/HostLookup.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <mutex>

namespace os {

namespace {

std::mutex gMutex;
std::map<std::string, std::optional<std::string>>& overrides() {
  static std::map<std::string, std::optional<std::string>> table;
  return table;
}

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

}  // namespace

std::optional<std::string> HostLookup::firstIPv4Address(const std::string& name) {
  if (name.empty()) return std::nullopt;
  {
    std::lock_guard<std::mutex> lock(gMutex);
    auto it = overrides().find(lower(name));
    if (it != overrides().end()) return it->second;
  }
  in_addr literal{};
  if (inet_pton(AF_INET, name.c_str(), &literal) == 1) return name;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* result = nullptr;
  if (getaddrinfo(name.c_str(), nullptr, &hints, &result) != 0 || !result) return std::nullopt;
  std::optional<std::string> answer;
  for (addrinfo* ai = result; ai; ai = ai->ai_next) {
    if (ai->ai_family != AF_INET) continue;
    char text[INET_ADDRSTRLEN] = {};
    auto* sin = reinterpret_cast<sockaddr_in*>(ai->ai_addr);
    if (inet_ntop(AF_INET, &sin->sin_addr, text, sizeof text)) {
      answer = text;
      break;
    }
  }
  freeaddrinfo(result);
  return answer;
}

void HostLookup::setOverride(const std::string& name, std::optional<std::string> address) {
  std::lock_guard<std::mutex> lock(gMutex);
  overrides()[lower(name)] = std::move(address);
}

void HostLookup::removeOverride(const std::string& name) {
  std::lock_guard<std::mutex> lock(gMutex);
  overrides().erase(lower(name));
}

void HostLookup::removeAllOverrides() {
  std::lock_guard<std::mutex> lock(gMutex);
  overrides().clear();
}

}  // namespace os
