#pragma once
// The local services' HTTP server: each connection it accepted stays in sight, so a stop ends
// those very connections by their sockets and lets every request already read be answered first;
// every request, whatever its method, is held to the body bound as its bytes arrive.
//
// A handler of the whole request (body, parts, form) gets it held to the payload bound once more
// as the HTTP layer parses it: each part, and each field of a plain form, counted with what it
// costs to keep.
#include <string_view>

#include "os/net/TrackedHttpServer.h"

namespace tools {

class HttpServer : public os::TrackedHttpServer {
 public:
  // A service that sets no bound of its own still has one.
  static constexpr std::size_t kDefaultPayloadLimit = std::size_t{16} << 20;

  HttpServer() { set_payload_max_length(kDefaultPayloadLimit); }
  using os::TrackedHttpServer::Post;
  using os::TrackedHttpServer::Put;

  // A body past the bound, as sent or once inflated, is answered 413 and the handler never runs.
  HttpServer& Post(const std::string& pattern, Handler handler);
  HttpServer& Put(const std::string& pattern, Handler handler);

  // What keeping one field of a form, or one part, costs beyond its bytes: a peer sending "&&&" or
  // empty parts by the megabyte would otherwise have them kept for free.
  static std::size_t partCost(const httplib::MultipartFormData& header);
  // Whether a plain form of this body, its fields each counted at what it costs to keep, stays
  // within `limit` beside the `held` bytes already counted (its own among them). A handler that
  // reads its body itself holds the form to this before it parses it.
  static bool formFits(std::string_view body, std::size_t held, std::size_t limit);

 private:
  HandlerWithContentReader bounded(Handler handler);
};

}  // namespace tools
