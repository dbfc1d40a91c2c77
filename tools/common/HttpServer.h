#pragma once
// The local services' HTTP server: each connection it accepted stays in sight, so a stop ends
// those very connections by their sockets and lets every request already read be answered first.
#include "os/testing/TrackedHttpServer.h"

namespace tools {

class HttpServer : public os::testing::TrackedHttpServer {
 public:
  using TrackedHttpServer::TrackedHttpServer;
};

}  // namespace tools
