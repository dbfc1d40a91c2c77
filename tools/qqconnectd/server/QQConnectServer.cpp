#include "tools/qqconnectd/server/QQConnectServer.h"

#include <httplib.h>

#include <cstdio>

#include "tools/common/HttpServer.h"

namespace qqconnectd {

QQConnectServer::QQConnectServer(std::string host)
    : host_(std::move(host)), server_(std::make_unique<tools::HttpServer>()) {
  auto handler = [this](const httplib::Request& req, httplib::Response& res) {
    if (verbose_) std::fprintf(stderr, "qqconnectd: %s %s\n", req.method.c_str(), req.path.c_str());
    // A posted form's fields come with the query's members, whether the form came plain or in
    // parts (a call that carries a picture sends every field as a part; the picture has a file name).
    // A HEAD is the GET whose body the HTTP layer leaves out: it is answered as that GET is.
    ServiceRequest request{req.method == "HEAD" ? "GET" : req.method, req.path, {}, req.get_header_value("Content-Encoding"),
                           req.body, req.target};
    for (const auto& [key, value] : req.params) request.query.emplace(key, value);
    for (const auto& [key, part] : req.files)
      if (part.filename.empty()) request.query.emplace(key, part.content);
    ServiceAnswer answer = service_.handle(request);
    res.status = answer.status;
    if (!answer.location.empty()) res.set_header("Location", answer.location);
    res.set_content(answer.body, answer.contentType);
  };
  server_->set_payload_max_length(kMaxPayload);
  // One request per connection: a kept-alive connection would hold stop() for seconds.
  server_->set_keep_alive_max_count(1);
  server_->Get(".*", handler);
  server_->Post(".*", handler);
}

QQConnectServer::~QQConnectServer() { stop(); }

void QQConnectServer::setVerbose(bool verbose) {
  verbose_ = verbose;
  if (!verbose) return service_.setLogListener(nullptr);
  service_.setLogListener([](const std::string& line) { std::fprintf(stderr, "qqconnectd: %s\n", line.c_str()); });
}

std::optional<int> QQConnectServer::bind(int port, bool freeIfTaken) { return host.bind(host_, port, freeIfTaken); }

void QQConnectServer::serve() { host.serve(); }

std::optional<int> QQConnectServer::start(int port) { return host.start(host_, port); }

void QQConnectServer::stop() { host.stop(); }

int QQConnectServer::port() const { return host.port(); }

std::string QQConnectServer::url(const std::string& path) const {
  return "http://" + host_ + ":" + std::to_string(host.port()) + path;
}

}  // namespace qqconnectd
