#pragma once
// The local services' HTTP server: each connection it accepted stays in sight, so a stop ends
// those very connections by their sockets and lets every request already read be answered first.
//
// A handler of the whole request (body, parts, form) gets it as the HTTP layer reads it, but held
// to the payload bound however the body travels: the layer itself checks the bound only against a
// length given up front, and reads a body in chunks, or compressed, whole whatever it grows to.
#include "os/testing/TrackedHttpServer.h"

namespace tools {

class HttpServer : public os::testing::TrackedHttpServer {
 public:
  using TrackedHttpServer::TrackedHttpServer;
  using httplib::Server::Post;
  using httplib::Server::Put;

  // A body past the bound, as sent or once inflated, is answered 413 and the handler never runs.
  HttpServer& Post(const std::string& pattern, Handler handler);
  HttpServer& Put(const std::string& pattern, Handler handler);

 private:
  HandlerWithContentReader bounded(Handler handler);
};

}  // namespace tools
