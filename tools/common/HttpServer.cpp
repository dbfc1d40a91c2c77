#include "tools/common/HttpServer.h"

#include <cerrno>

#include "os/net/Socket.h"

namespace tools {

namespace {

double seconds(time_t whole, time_t micro) { return static_cast<double>(whole) + static_cast<double>(micro) / 1e6; }

// One accepted connection as the HTTP layer reads and writes it, each wait bounded by its
// time-out.
class ConnectionStream final : public httplib::Stream {
 public:
  ConnectionStream(os::TcpSocket& socket, double readTimeout, double writeTimeout)
      : socket_(socket), readTimeout_(readTimeout), writeTimeout_(writeTimeout) {}

  bool is_readable() const override { return socket_.waitUntilReadable(readTimeout_); }
  bool is_writable() const override { return socket_.waitUntilWritable(writeTimeout_); }

  ssize_t read(char* ptr, size_t size) override {
    for (;;) {
      if (!is_readable()) return -1;
      const long n = socket_.receive(ptr, size);
      if (n >= 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) return n;
    }
  }
  ssize_t write(const char* ptr, size_t size) override {
    for (;;) {
      if (!is_writable()) return -1;
      const long n = socket_.send(ptr, size);
      if (n >= 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) return n;
    }
  }
  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    ip = socket_.remoteAddress().value_or("");
    port = socket_.remotePort().value_or(0);
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    ip = socket_.localAddress().value_or("");
    port = socket_.localPort().value_or(0);
  }
  socket_t socket() const override { return socket_.nativeHandle(); }

 private:
  os::TcpSocket& socket_;
  double readTimeout_, writeTimeout_;
};

}  // namespace

void HttpServer::endConnections() {
  std::lock_guard lock(mutex_);
  ending_ = true;
  for (const auto& socket : open_) socket->shutdownReading();
}

bool HttpServer::process_and_close_socket(socket_t sock) {
  auto socket = os::TcpSocket::adopt(sock);
  if (!socket) return false;
  {
    std::lock_guard lock(mutex_);
    open_.insert(socket);
    if (ending_) socket->shutdownReading();
  }
  ConnectionStream stream(*socket, seconds(read_timeout_sec_, read_timeout_usec_),
                          seconds(write_timeout_sec_, write_timeout_usec_));
  bool served = false;
  // Up to the kept-alive count of requests, each awaited for the kept-alive time-out; the last
  // one, and any once the server ends its connections, is answered with the connection's end.
  for (std::size_t left = keep_alive_max_count_; left > 0; --left) {
    if (!socket->waitUntilReadable(static_cast<double>(keep_alive_timeout_sec_))) break;
    bool closed = false;
    served = process_request(stream, left == 1 || ending_, closed, nullptr);
    if (!served || closed) break;
  }
  std::lock_guard lock(mutex_);
  open_.erase(socket);
  socket->shutdown();
  socket->close();
  return served;
}

}  // namespace tools
