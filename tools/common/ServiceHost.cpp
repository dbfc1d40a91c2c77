#include "tools/common/ServiceHost.h"

#include "os/net/Socket.h"
#include "tools/common/HttpServer.h"

namespace tools {

std::optional<int> ServiceHost::bind(const std::string& host, int port, bool freeIfTaken) {
  auto bound = http_.bind(host, port);
  // A port may be held for a while by what no check sees beforehand (another listener, another
  // program's connection that waits out its end, a right the user lacks): the caller may take any
  // free one instead. A port is never shared with a listener that holds it.
  if (!bound && port != 0 && freeIfTaken) bound = http_.bind(host, 0);
  if (!bound) return std::nullopt;
  port_ = *bound;
  return bound;
}

void ServiceHost::serve() { http_.serve(); }

std::optional<int> ServiceHost::start(const std::string& host, int port, bool freeIfTaken) {
  auto bound = bind(host, port, freeIfTaken);
  if (!bound) return std::nullopt;
  // Listening since the bind: connections wait in the queue until the loop takes them.
  thread_ = std::thread([this] { serve(); });
  return bound;
}

void ServiceHost::stop() {
  http_.stop();
  // An idle kept-alive connection would keep the server for its whole keep-alive time-out; a
  // request already read is answered before its connection ends.
  http_.endConnections();
  if (thread_.joinable()) thread_.join();
}

}  // namespace tools
