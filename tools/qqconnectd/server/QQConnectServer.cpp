#include "tools/qqconnectd/server/QQConnectServer.h"

#include <httplib.h>

namespace qqconnectd {

QQConnectServer::QQConnectServer(std::string host)
    : host_(std::move(host)), server_(std::make_unique<httplib::Server>()) {
  auto handler = [this](const httplib::Request& req, httplib::Response& res) {
    ServiceRequest request{req.method, req.path, {}};
    for (const auto& [key, value] : req.params) request.query.emplace(key, value);
    ServiceAnswer answer = service_.handle(request);
    res.status = answer.status;
    res.set_content(answer.body, "application/json;charset=UTF-8");
  };
  // One request per connection: a kept-alive connection would hold stop() for seconds.
  server_->set_keep_alive_max_count(1);
  server_->Get(".*", handler);
  server_->Post(".*", handler);
}

QQConnectServer::~QQConnectServer() { stop(); }

std::optional<int> QQConnectServer::bind(int port) {
  const int bound = port == 0 ? server_->bind_to_any_port(host_) : (server_->bind_to_port(host_, port) ? port : -1);
  if (bound < 0) return std::nullopt;
  port_ = bound;
  return bound;
}

void QQConnectServer::serve() { server_->listen_after_bind(); }

std::optional<int> QQConnectServer::start(int port) {
  auto bound = bind(port);
  if (!bound) return std::nullopt;
  thread_ = std::thread([this] { serve(); });
  while (!server_->is_running()) std::this_thread::yield();
  return bound;
}

void QQConnectServer::stop() {
  server_->stop();
  if (thread_.joinable()) thread_.join();
}

std::string QQConnectServer::url(const std::string& path) const {
  return "http://" + host_ + ":" + std::to_string(port_) + path;
}

}  // namespace qqconnectd
