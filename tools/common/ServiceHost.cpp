#include "tools/common/ServiceHost.h"

#include <httplib.h>

#include <cstdint>

#include "os/net/Socket.h"

namespace tools {

std::optional<int> ServiceHost::bind(const std::string& host, int port) {
  const int bound = port == 0 ? http_.bind_to_any_port(host) : (http_.bind_to_port(host, port) ? port : -1);
  if (bound <= 0) return std::nullopt;
  port_ = bound;
  return bound;
}

void ServiceHost::serve() {
  serving_ = true;
  if (!stopping_) http_.listen_after_bind();
  serving_ = false;
}

std::optional<int> ServiceHost::start(const std::string& host, int port) {
  auto bound = bind(host, port);
  if (!bound) return std::nullopt;
  serving_ = true;
  thread_ = std::thread([this] { serve(); });
  // Accepting before the caller hands the port out.
  while (serving_ && !stopping_ && !http_.is_running()) std::this_thread::yield();
  return bound;
}

void ServiceHost::stop() {
  // The listener may not have started accepting yet; stopping it before then would be lost.
  stopping_ = true;
  while (serving_ && !http_.is_running()) std::this_thread::yield();
  http_.stop();
  // An idle kept-alive connection would hold its server thread, and so this stop, for the HTTP
  // layer's whole keep-alive time-out.
  if (port_ > 0) os::shutdownAcceptedConnections(static_cast<std::uint16_t>(port_));
  if (thread_.joinable()) thread_.join();
}

}  // namespace tools
