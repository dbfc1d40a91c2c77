#pragma once
// The HTTP layer's server, serving each connection it accepts itself (in the clear or through
// TLS) so that the connections stay in sight: a stop ends the very connections this server
// accepted, by their sockets, never by a descriptor number another thread may have closed and
// taken again meanwhile. The local services and the loopback test server both serve through it.
#include <httplib.h>
#include <openssl/ssl.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <set>

namespace os {
class TcpSocket;
}

namespace os::testing {

class TrackedHttpServer : public httplib::Server {
 public:
  TrackedHttpServer();
  // Serves every connection through TLS, showing this certificate for this key (each taken with
  // a reference of its own).
  TrackedHttpServer(X509* certificate, EVP_PKEY* privateKey);
  ~TrackedHttpServer() override;

  bool is_valid() const override;

  // The most a request's line and header lines may hold together.
  static constexpr std::size_t kHeadLimit = std::size_t{64} << 10;

  // Lets the listener bound last queue as many connections as the system allows: the HTTP layer
  // listens with a backlog of five, and a client opening more connections at once would have the
  // extra handshakes dropped and retried a second later.
  void widenListenQueue();

  // Ends every open connection, and each accepted from now on. By default only the reading side:
  // a request read whole is still answered and written, then its connection ends; an idle one
  // ends at once. `wholly` ends both sides: nothing more is read or written, an answer under way
  // is cut off.
  void endConnections(bool wholly = false);

  // The most time one request (its line, header lines and body) may take to arrive: counted from
  // its first byte, or for a connection's first request from when serving the connection began.
  // Past it nothing more is read or written and the connection ends unanswered, so that a peer
  // sending a byte now and then cannot hold a worker for as long as it likes.
  static constexpr double kRequestDeadline = 30;
  void setRequestDeadline(double seconds) { requestDeadline_ = seconds; }

  // The connection whose request the calling thread is serving for this server; nullptr on any
  // other thread. It stays open until the handler returns.
  std::shared_ptr<os::TcpSocket> connectionServed() const;

 private:
  bool process_and_close_socket(socket_t sock) override;
  void end(os::TcpSocket& socket) const;  // requires mutex_

  bool tlsWanted_ = false;
  SSL_CTX* tls_ = nullptr;  // null in the clear, or when the certificate did not fit the key
  std::mutex mutex_;
  // The connections being served; a socket leaves before it is closed, under the mutex.
  std::set<std::shared_ptr<os::TcpSocket>> open_;
  std::atomic<bool> ending_{false};
  bool endWholly_ = false;  // guarded by mutex_
  std::atomic<double> requestDeadline_{kRequestDeadline};
};

}  // namespace os::testing
