#include "tools/qqconnectd/server/QQConnectServer.h"

#include <httplib.h>

namespace qqconnectd {

QQConnectServer::QQConnectServer(std::string host)
    : host_(std::move(host)), server_(std::make_unique<httplib::Server>()) {
  auto handler = [this](const httplib::Request& req, httplib::Response& res) {
    ServiceRequest request{req.method, req.path, {}, req.get_header_value("Content-Encoding"), req.body};
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

std::optional<int> QQConnectServer::bind(int port) { return host.bind(host_, port); }

void QQConnectServer::serve() { host.serve(); }

std::optional<int> QQConnectServer::start(int port) { return host.start(host_, port); }

void QQConnectServer::stop() { host.stop(); }

int QQConnectServer::port() const { return host.port(); }

std::string QQConnectServer::url(const std::string& path) const {
  return "http://" + host_ + ":" + std::to_string(host.port()) + path;
}

}  // namespace qqconnectd
