#pragma once
// The QQ Connect service on a loopback port, plain http: the authorisation page, the OpenAPI and the
// policy, report and analytics CGIs.
#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "tools/common/ServiceHost.h"
#include "tools/qqconnectd/server/QQConnectService.h"

namespace httplib {
class Server;
}

namespace qqconnectd {

class QQConnectServer {
 public:
  explicit QQConnectServer(std::string host = "127.0.0.1");
  ~QQConnectServer();
  QQConnectServer(const QQConnectServer&) = delete;
  QQConnectServer& operator=(const QQConnectServer&) = delete;

  // The most one request's body may hold, as sent and once inflated: a body in parts carries a
  // picture beside its fields (each field held to the form limit by the service).
  static constexpr std::size_t kMaxPayload = std::size_t{16} << 20;

  QQConnectService& service() { return service_; }
  // Says each request and what the service made of it on standard error ("qqconnectd: ...").
  // Before start() or bind().
  void setVerbose(bool verbose);
  // Binds (port 0: any free one) and serves on a thread of its own; the port, or nothing.
  std::optional<int> start(int port);
  // Binds only (freeIfTaken: a port that cannot be bound gives way to a free one); serve() then
  // serves on the calling thread until stop().
  std::optional<int> bind(int port, bool freeIfTaken = false);
  void serve();
  void stop();
  int port() const;
  // "http://HOST:PORT" + path, once bound.
  std::string url(const std::string& path) const;

 private:
  std::string host_;
  bool verbose_ = false;
  QQConnectService service_;
  std::unique_ptr<tools::HttpServer> server_;
  tools::ServiceHost host{*server_};
};

}  // namespace qqconnectd
