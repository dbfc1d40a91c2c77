#include "tools/renrend/server/RenrenServer.h"

#include <httplib.h>

#include "tools/common/HttpServer.h"

namespace renrend {

RenrenServer::RenrenServer(std::string host) : host_(std::move(host)), server_(std::make_unique<tools::HttpServer>()) {
  auto handler = [this](const httplib::Request& req, httplib::Response& res) {
    ApiRequest request;
    request.method = req.method;
    request.path = req.path;
    auto q = req.target.find('?');
    if (q != std::string::npos) request.rawQuery = req.target.substr(q + 1);
    // The query as sent: the HTTP layer's own reading mixes a form body's fields in.
    if (auto query = parseQuery(request.rawQuery))
      request.query = std::move(*query);
    else
      request.queryMalformed = true;
    request.formBody = !req.body.empty() && !req.is_multipart_form_data();
    request.authorization = req.get_header_value("Authorization");
    request.host = req.get_header_value("Host");
    if (req.has_file("file")) request.uploadedFile = req.get_file_value("file").content;
    ApiAnswer answer = api_.handle(request);
    res.status = answer.status;
    res.set_content(answer.body, "application/json;charset=UTF-8");
  };
  server_->set_payload_max_length(kMaxPayload);
  server_->Get(".*", handler);
  server_->Post(".*", handler);
}

RenrenServer::~RenrenServer() { stop(); }

std::optional<int> RenrenServer::bind(int port) { return host.bind(host_, port); }

void RenrenServer::serve() { host.serve(); }

std::optional<int> RenrenServer::start(int port) { return host.start(host_, port); }

void RenrenServer::stop() { host.stop(); }

}  // namespace renrend
