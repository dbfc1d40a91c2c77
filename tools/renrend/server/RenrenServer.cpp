#include "tools/renrend/server/RenrenServer.h"

#include <httplib.h>

namespace renrend {

RenrenServer::RenrenServer(std::string host) : host_(std::move(host)), server_(std::make_unique<httplib::Server>()) {
  auto handler = [this](const httplib::Request& req, httplib::Response& res) {
    ApiRequest request;
    request.method = req.method;
    request.path = req.path;
    auto q = req.target.find('?');
    if (q != std::string::npos) request.rawQuery = req.target.substr(q + 1);
    for (const auto& [key, value] : req.params) request.query.emplace(key, value);
    request.authorization = req.get_header_value("Authorization");
    request.host = req.get_header_value("Host");
    if (req.has_file("file")) request.uploadedFile = req.get_file_value("file").content;
    ApiAnswer answer = api_.handle(request);
    res.status = answer.status;
    res.set_content(answer.body, "application/json;charset=UTF-8");
  };
  server_->Get(".*", handler);
  server_->Post(".*", handler);
}

RenrenServer::~RenrenServer() { stop(); }

std::optional<int> RenrenServer::bind(int port) {
  int bound = port == 0 ? server_->bind_to_any_port(host_) : (server_->bind_to_port(host_, port) ? port : -1);
  if (bound < 0) return std::nullopt;
  return bound;
}

void RenrenServer::serve() { server_->listen_after_bind(); }

std::optional<int> RenrenServer::start(int port) {
  auto bound = bind(port);
  if (!bound) return std::nullopt;
  thread_ = std::thread([this] { serve(); });
  while (!server_->is_running()) std::this_thread::yield();
  return bound;
}

void RenrenServer::stop() {
  server_->stop();
  if (thread_.joinable()) thread_.join();
}

}  // namespace renrend
