#include "os/net/HostLookup.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <map>
#include <mutex>
#include <sstream>

namespace os {

namespace {

std::mutex gMutex;
// (name, port) → route; port 0 is the name's route for every port.
std::map<std::pair<std::string, int>, HostRoute>& routes() {
  // Never destroyed: lookups on other threads may still run while the process exits.
  static auto* table = new std::map<std::pair<std::string, int>, HostRoute>;
  return *table;
}

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

bool isIPv4Literal(const std::string& text) {
  in_addr literal{};
  return inet_pton(AF_INET, text.c_str(), &literal) == 1;
}

// "NAME" or "NAME:PORT"; port 0 when none.
bool splitHostPort(const std::string& text, std::string& host, int& port) {
  auto colon = text.rfind(':');
  port = 0;
  host = text;
  if (colon == std::string::npos) return !host.empty();
  host = text.substr(0, colon);
  const char* first = text.data() + colon + 1;
  const char* last = text.data() + text.size();
  auto [end, ec] = std::from_chars(first, last, port);
  return !host.empty() && ec == std::errc() && end == last && port > 0 && port <= 65535;
}

}  // namespace

std::optional<std::string> HostLookup::firstIPv4Address(const std::string& name) {
  if (name.empty()) return std::nullopt;
  if (auto route = routeFor(name, 0)) return route->address;
  if (isIPv4Literal(name)) return name;
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
  std::string key = lower(name);
  routes()[{key, 0}] = HostRoute{key, 0, std::move(address), 0};
}

void HostLookup::mapHost(const std::string& name, int port, const std::string& address, int toPort) {
  std::lock_guard<std::mutex> lock(gMutex);
  std::string key = lower(name);
  routes()[{key, port}] = HostRoute{key, port, address, toPort};
}

void HostLookup::removeOverride(const std::string& name) {
  std::lock_guard<std::mutex> lock(gMutex);
  std::string key = lower(name);
  std::erase_if(routes(), [&](const auto& entry) { return entry.first.first == key; });
}

void HostLookup::removeAllOverrides() {
  std::lock_guard<std::mutex> lock(gMutex);
  routes().clear();
}

bool HostLookup::hasRoutes() {
  std::lock_guard<std::mutex> lock(gMutex);
  return !routes().empty();
}

std::optional<HostRoute> HostLookup::routeFor(const std::string& name, int port) {
  std::lock_guard<std::mutex> lock(gMutex);
  std::string key = lower(name);
  if (port != 0) {
    auto it = routes().find({key, port});
    if (it != routes().end()) return it->second;
  }
  auto it = routes().find({key, 0});
  if (it != routes().end()) return it->second;
  return std::nullopt;
}

std::optional<std::pair<std::string, int>> HostLookup::endpointFor(const std::string& name, int port) {
  if (auto route = routeFor(name, port)) {
    if (!route->address) return std::nullopt;
    return std::make_pair(*route->address, route->toPort ? route->toPort : port);
  }
  auto address = firstIPv4Address(name);
  if (!address) return std::nullopt;
  return std::make_pair(*address, port);
}

bool HostLookup::addRoutesFromText(const std::string& text, std::string* badLine) {
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    std::string from, to, extra;
    if (!(words >> from) || from[0] == '#') continue;
    std::string host, address;
    int port = 0, toPort = 0;
    bool ok = (words >> to) && !(words >> extra) && splitHostPort(from, host, port);
    if (ok && to == "-") {
      if (port != 0) ok = false;
      else setOverride(host, std::nullopt);
    } else if (ok) {
      ok = splitHostPort(to, address, toPort) && isIPv4Literal(address);
      if (ok) mapHost(host, port, address, toPort);
    }
    if (!ok) {
      if (badLine) *badLine = line;
      return false;
    }
  }
  return true;
}

}  // namespace os
