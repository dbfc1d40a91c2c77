#pragma once
// The HTTP layer's server, serving each connection it accepts itself so that the connections
// stay in sight: a stop ends the very connections this server accepted, by their sockets, and
// lets every request already read be answered first.
#include <httplib.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <set>

namespace os {
class TcpSocket;
}

namespace tools {

class HttpServer : public httplib::Server {
 public:
  // Ends the reading side of every open connection, and of each accepted from now on: a request
  // read whole is still answered and written, then its connection ends; an idle one ends at once.
  void endConnections();

 private:
  bool process_and_close_socket(socket_t sock) override;

  std::mutex mutex_;
  // The connections being served; a socket leaves before it is closed, under the mutex.
  std::set<std::shared_ptr<os::TcpSocket>> open_;
  std::atomic<bool> ending_{false};
};

}  // namespace tools
