// fuzz-link: os
// The host routes the runnable reader reads from its --hosts file: any text is either taken whole
// or refused at a line that is reported back, and every route taken answers for its name.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "os/net/HostLookup.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  os::HostLookup::removeAllOverrides();
  std::string bad = "\x01unset";
  bool ok = os::HostLookup::addRoutesFromText(text, &bad);
  if (!ok && text.find(bad) == std::string::npos) std::abort();
  if (ok) {
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
      std::istringstream words(line);
      std::string from;
      if (!(words >> from) || from[0] == '#') continue;
      std::string name = from.substr(0, from.rfind(':') == std::string::npos ? from.size() : from.rfind(':'));
      int port = 0;
      if (name.size() != from.size()) port = std::atoi(from.c_str() + name.size() + 1);
      if (!os::HostLookup::routeFor(name, port)) std::abort();
    }
  }
  os::HostLookup::removeAllOverrides();
  return 0;
}
