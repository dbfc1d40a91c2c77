#pragma once
// The life of one local HTTP service: bind (port 0: any free one), serve on a thread of its own
// or on the caller's, stop. Every local service of the tools runs through one of these.
#include <atomic>
#include <optional>
#include <string>
#include <thread>

namespace httplib {
class Server;
}

namespace tools {

class ServiceHost {
 public:
  explicit ServiceHost(httplib::Server& http) : http_(http) {}
  ~ServiceHost() { stop(); }
  ServiceHost(const ServiceHost&) = delete;
  ServiceHost& operator=(const ServiceHost&) = delete;

  // The bound port, or nothing when the address is taken or unusable.
  std::optional<int> bind(const std::string& host, int port);
  // Serves on the calling thread until stop().
  void serve();
  // Binds and serves on a thread of its own; returns once it accepts.
  std::optional<int> start(const std::string& host, int port);
  // Safe before serving began, from any thread, and more than once.
  void stop();
  int port() const { return port_; }

 private:
  httplib::Server& http_;
  std::thread thread_;
  std::atomic<bool> serving_{false};
  std::atomic<bool> stopping_{false};
  int port_ = 0;
};

}  // namespace tools
