#include "tools/common/ServiceHost.h"

#include <cstdint>

#include "os/net/Socket.h"
#include "tools/common/HttpServer.h"

namespace tools {

void ServiceHost::markListening() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    listening_ = true;
  }
  changed_.notify_all();
}

std::optional<int> ServiceHost::bind(const std::string& host, int port, bool freeIfTaken) {
  int bound = port == 0 ? http_.bind_to_any_port(host) : (http_.bind_to_port(host, port) ? port : -1);
  // A port may be held for a while by what no check sees beforehand (another program's connection
  // that waits out its end, a right the user lacks): the caller may take any free one instead.
  if (bound <= 0 && port != 0 && freeIfTaken) bound = http_.bind_to_any_port(host);
  if (bound <= 0) return std::nullopt;
  // A client posting several requests at once opens a connection for each before the service
  // has accepted the first: on a loaded machine, more than the library's backlog of five.
  http_.widenListenQueue();
  port_ = bound;
  return bound;
}

void ServiceHost::serve() {
  bool listen;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    serving_ = true;
    listen = !stopping_;
  }
  if (listen) {
    if (!hooked_) {
      // The listening loop makes its task queue first thing, once it counts as running.
      hooked_ = true;
      const auto makeQueue = http_.new_task_queue;
      http_.new_task_queue = [this, makeQueue] {
        markListening();
        return makeQueue();
      };
    }
    http_.listen_after_bind();
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    serving_ = false;
  }
  changed_.notify_all();
}

std::optional<int> ServiceHost::start(const std::string& host, int port, bool freeIfTaken) {
  auto bound = bind(host, port, freeIfTaken);
  if (!bound) return std::nullopt;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    serving_ = true;
  }
  thread_ = std::thread([this] { serve(); });
  // Accepting before the caller hands the port out.
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return listening_ || !serving_ || stopping_; });
  return bound;
}

void ServiceHost::stop() {
  // The listener may not have started accepting yet; stopping it before then would be lost.
  {
    std::unique_lock<std::mutex> lock(mutex_);
    stopping_ = true;
    changed_.wait(lock, [this] { return listening_ || !serving_; });
  }
  http_.stop();
  // An idle kept-alive connection would hold its server thread, and so this stop, for the HTTP
  // layer's whole keep-alive time-out; a request already read is answered before its connection
  // ends.
  http_.endConnections();
  if (thread_.joinable()) thread_.join();
}

}  // namespace tools
