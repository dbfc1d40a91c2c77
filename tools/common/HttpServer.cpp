#include "tools/common/HttpServer.h"

#include <algorithm>

#include "os/net/Socket.h"


namespace tools {

namespace {
constexpr std::size_t kPartCost = sizeof(std::pair<const std::string, httplib::MultipartFormData>) + 64;
}  // namespace

std::size_t HttpServer::partCost(const httplib::MultipartFormData& header) {
  return kPartCost + header.name.size() + header.filename.size() + header.content_type.size();
}

bool HttpServer::formFits(std::string_view body, std::size_t held, std::size_t limit) {
  const auto fields = static_cast<std::size_t>(std::count(body.begin(), body.end(), '&')) + 1;
  return held <= limit && fields <= (limit - held) / kPartCost;
}

HttpServer& HttpServer::Post(const std::string& pattern, Handler handler) {
  os::TrackedHttpServer::Post(pattern, bounded(std::move(handler)));
  return *this;
}

HttpServer& HttpServer::Put(const std::string& pattern, Handler handler) {
  os::TrackedHttpServer::Put(pattern, bounded(std::move(handler)));
  return *this;
}

httplib::Server::HandlerWithContentReader HttpServer::bounded(Handler handler) {
  return [this, handler = std::move(handler)](const httplib::Request& req, httplib::Response& res,
                                              const httplib::ContentReader& reader) {
    httplib::Request whole = req;
    const std::size_t limit = payload_max_length_;
    std::size_t held = 0;
    bool exceeded = false;
    auto take = [&](std::size_t bytes) {
      if (bytes > limit - held) return !(exceeded = true);
      held += bytes;
      return true;
    };
    bool complete = false;
    if (req.is_multipart_form_data()) {
      auto part = whole.files.end();
      complete = reader(
          [&](const httplib::MultipartFormData& header) {
            // What keeping the part costs beyond its content, which a peer sending empty parts
            // by the million would otherwise have for free.
            if (!take(partCost(header))) return false;
            part = whole.files.emplace(header.name, header);
            return true;
          },
          [&](const char* data, std::size_t length) {
            if (!take(length)) return false;
            part->second.content.append(data, length);
            return true;
          });
    } else {
      complete = reader([&](const char* data, std::size_t length) {
        if (!take(length)) return false;
        whole.body.append(data, length);
        return true;
      });
    }
    if (!complete) {
      exceeded = exceeded || res.status == 413;
      // The connection ends once this answer is out.
      if (auto connection = connectionServed()) connection->shutdownReading();
      res.status = exceeded ? 413 : 400;
      res.set_header("Connection", "close");
      res.set_content(exceeded ? "request too large" : "request unreadable", "text/plain; charset=utf-8");
      return;
    }
    if (!whole.is_multipart_form_data() &&
        whole.get_header_value("Content-Type").starts_with("application/x-www-form-urlencoded")) {
      // A plain form is held to the payload bound as kept: its bytes, and what each field costs
      // beyond them, which a peer sending "&&&" by the megabyte would otherwise have for free. (The
      // HTTP layer's own bound of a few kilobytes refused forms whose fields each fit the services.)
      if (!formFits(whole.body, held, limit)) {
        res.status = 413;
        res.set_content("request too large", "text/plain; charset=utf-8");
        return;
      }
      httplib::detail::parse_query_text(whole.body, whole.params);
    }
    handler(whole, res);
  };
}

}  // namespace tools
