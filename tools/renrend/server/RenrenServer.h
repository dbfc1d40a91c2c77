#pragma once
// The Renren API service on a loopback port (plain http; tests that need https put RenrenApi
// behind a TLS test server instead).
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include "tools/common/ServiceHost.h"
#include "tools/renrend/server/RenrenApi.h"

namespace httplib {
class Server;
}

namespace renrend {

class RenrenServer {
 public:
  explicit RenrenServer(std::string host = "127.0.0.1");
  ~RenrenServer();
  RenrenServer(const RenrenServer&) = delete;
  RenrenServer& operator=(const RenrenServer&) = delete;

  // The most one request's body may hold, as sent and once inflated: a photo beside its fields.
  static constexpr std::size_t kMaxPayload = std::size_t{16} << 20;

  RenrenApi& api() { return api_; }
  // Binds (port 0: any free one) and serves on a thread of its own; the port, or nothing.
  std::optional<int> start(int port);
  // Serves on the calling thread until stop(); the port must be bound by start's bind step.
  std::optional<int> bind(int port);
  void serve();
  void stop();

 private:
  std::string host_;
  RenrenApi api_;
  std::unique_ptr<tools::HttpServer> server_;
  tools::ServiceHost host{*server_};
};

}  // namespace renrend
