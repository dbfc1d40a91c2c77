#pragma once
// The life of one local HTTP service: bind (port 0: any free one), serve on a thread of its own
// or on the caller's, stop. Every local service of the tools runs through one of these.
#include <optional>
#include <string>
#include <thread>

namespace tools {

class HttpServer;

class ServiceHost {
 public:
  // `http` may still be in the making: it is first used by bind or serve.
  explicit ServiceHost(HttpServer& http) : http_(http) {}
  ~ServiceHost() { stop(); }
  ServiceHost(const ServiceHost&) = delete;
  ServiceHost& operator=(const ServiceHost&) = delete;

  // The bound port, or nothing when the address is taken or unusable; with freeIfTaken, a port
  // that cannot be bound gives way to a free one (the caller compares and says so).
  std::optional<int> bind(const std::string& host, int port, bool freeIfTaken = false);
  // Serves on the calling thread until stop().
  void serve();
  // Binds and serves on a thread of its own; returns once it accepts.
  std::optional<int> start(const std::string& host, int port, bool freeIfTaken = false);
  // Safe before serving began, from any thread, and more than once.
  void stop();
  int port() const { return port_; }

 private:
  HttpServer& http_;
  std::thread thread_;
  int port_ = 0;
};

}  // namespace tools
