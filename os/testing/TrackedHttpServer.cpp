#include "os/testing/TrackedHttpServer.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>

#include "os/net/Socket.h"

namespace os::testing {

namespace {

double seconds(time_t whole, time_t micro) { return static_cast<double>(whole) + static_cast<double>(micro) / 1e6; }

bool wouldBlock() { return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR; }

// TLS records travel through the connection's socket itself, so that its sends never raise
// SIGPIPE on a connection the peer or a stop has ended.
int bioWrite(BIO* bio, const char* data, int length) {
  auto* socket = static_cast<TcpSocket*>(BIO_get_data(bio));
  BIO_clear_retry_flags(bio);
  const long n = socket->send(data, static_cast<std::size_t>(length));
  if (n < 0 && wouldBlock()) BIO_set_retry_write(bio);
  return static_cast<int>(n);
}

int bioRead(BIO* bio, char* data, int length) {
  auto* socket = static_cast<TcpSocket*>(BIO_get_data(bio));
  BIO_clear_retry_flags(bio);
  const long n = socket->receive(data, static_cast<std::size_t>(length));
  if (n < 0 && wouldBlock()) BIO_set_retry_read(bio);
  return static_cast<int>(n);
}

long bioControl(BIO*, int command, long, void*) { return command == BIO_CTRL_FLUSH ? 1 : 0; }

int bioCreate(BIO* bio) {
  BIO_set_init(bio, 1);
  return 1;
}

const BIO_METHOD* socketMethod() {
  static BIO_METHOD* method = [] {
    BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "connection socket");
    BIO_meth_set_write(m, bioWrite);
    BIO_meth_set_read(m, bioRead);
    BIO_meth_set_ctrl(m, bioControl);
    BIO_meth_set_create(m, bioCreate);
    return m;
  }();
  return method;
}

// One accepted connection as the HTTP layer reads and writes it, in the clear or through a TLS
// session over it, each wait bounded by its time-out and every read by the request's deadline.
class ConnectionStream final : public httplib::Stream {
 public:
  using Instant = std::chrono::steady_clock::time_point;

  ConnectionStream(TcpSocket& socket, SSL* tls, double readTimeout, double writeTimeout)
      : socket_(socket), tls_(tls), readTimeout_(readTimeout), writeTimeout_(writeTimeout) {}

  // Something to read within `limit` seconds: bytes already read or deciphered count.
  bool readableWithin(double limit) const {
    return buffered_ < filled_ || (tls_ && SSL_pending(tls_) > 0) || socket_.waitUntilReadable(limit);
  }

  bool is_readable() const override {
    return waitToRead([this](double limit) { return readableWithin(limit); });
  }
  bool is_writable() const override { return !expired_ && socket_.waitUntilWritable(writeTimeout_); }

  ssize_t read(char* ptr, size_t size) override {
    // The HTTP layer reads a head line by line with no bound of its own, on either count.
    if (headLeft_ == 0) return -1;
    const ssize_t n = readBuffered(ptr, std::min(size, headLeft_));
    if (n > 0 && headLeft_ != kUnbounded) headLeft_ -= static_cast<size_t>(n);
    return n;
  }
  // Holds the next request's line and header lines to `limit` bytes, until headRead().
  void boundHead(size_t limit) { headLeft_ = limit; }
  void headRead() { headLeft_ = kUnbounded; }
  // The request now arriving is read by `deadline`, or not at all.
  void readBy(Instant deadline) { deadline_ = deadline; }
  // Seconds left before the deadline (none once it passed).
  double timeLeft() const {
    return std::max(std::chrono::duration<double>(deadline_ - std::chrono::steady_clock::now()).count(), 0.0);
  }
  // A read came after the deadline: the request is given up and nothing more goes either way.
  bool expired() const { return expired_; }

  ssize_t write(const char* ptr, size_t size) override {
    if (tls_) {
      for (;;) {
        if (expired_) return -1;
        const int n = SSL_write(tls_, ptr, static_cast<int>(std::min<size_t>(size, INT_MAX)));
        if (n > 0) return n;
        if (!awaitTls(n, writeTimeout_)) return -1;
      }
    }
    for (;;) {
      if (!is_writable()) return -1;
      const long n = socket_.send(ptr, size);
      if (n >= 0 || !wouldBlock()) return n;
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

  // The TLS handshake, each step awaited for the read time-out, the whole within the deadline.
  bool handshake() {
    for (;;) {
      const int rc = SSL_accept(tls_);
      if (rc == 1) return true;
      if (!waitToRead([this, rc](double limit) { return awaitTls(rc, limit); })) return false;
    }
  }

 private:
  // Waits through `wait` for the read time-out, cut short at the deadline: a wait the deadline
  // ended, or one begun past it, gives the request up.
  template <class Wait>
  bool waitToRead(Wait wait) const {
    if (expired_) return false;
    const double left = timeLeft();
    if (left > 0 && wait(std::min(readTimeout_, left))) return true;
    if (left <= readTimeout_) expired_ = true;
    return false;
  }

  bool expireIfLate() const {
    if (!expired_ && std::chrono::steady_clock::now() >= deadline_) expired_ = true;
    return expired_;
  }

  // After a TLS call returned `rc`: waits for what it needs; false when it failed for good.
  bool awaitTls(int rc, double limit) const {
    switch (SSL_get_error(tls_, rc)) {
      case SSL_ERROR_WANT_READ:
        return socket_.waitUntilReadable(limit);
      case SSL_ERROR_WANT_WRITE:
        return socket_.waitUntilWritable(limit);
      default:
        return false;
    }
  }

  // The HTTP layer reads a head a byte at a time: in the clear, the socket is read a buffer at a
  // time and the head taken from it, not two system calls a byte. (A TLS session reads whole
  // records already.)
  ssize_t readBuffered(char* ptr, size_t size) {
    if (tls_) return readSome(ptr, size);
    if (buffered_ == filled_) {
      if (size >= sizeof buffer_) return readSome(ptr, size);
      const ssize_t n = readSome(buffer_, sizeof buffer_);
      if (n <= 0) return n;
      buffered_ = 0;
      filled_ = static_cast<size_t>(n);
    } else if (expireIfLate()) {
      return -1;
    }
    const size_t n = std::min(size, filled_ - buffered_);
    std::memcpy(ptr, buffer_ + buffered_, n);
    buffered_ += n;
    return static_cast<ssize_t>(n);
  }

  ssize_t readSome(char* ptr, size_t size) {
    // Checked before each read, bytes waiting or not: a peer keeping just ahead of every wait
    // still runs out of time.
    if (tls_) {
      for (;;) {
        if (expireIfLate()) return -1;
        const int n = SSL_read(tls_, ptr, static_cast<int>(std::min<size_t>(size, INT_MAX)));
        if (n > 0) return n;
        if (SSL_get_error(tls_, n) == SSL_ERROR_ZERO_RETURN) return 0;
        if (!waitToRead([this, n](double limit) { return awaitTls(n, limit); })) return -1;
      }
    }
    for (;;) {
      if (expireIfLate() || !is_readable()) return -1;
      const long n = socket_.receive(ptr, size);
      if (n >= 0 || !wouldBlock()) return n;
    }
  }

  static constexpr size_t kUnbounded = static_cast<size_t>(-1);
  TcpSocket& socket_;
  SSL* tls_;
  double readTimeout_, writeTimeout_;
  size_t headLeft_ = kUnbounded;
  char buffer_[4096];
  size_t buffered_ = 0, filled_ = 0;  // buffer_[buffered_, filled_) is read, not yet taken
  Instant deadline_ = Instant::max();
  mutable bool expired_ = false;
};

// The server and connection the calling thread serves a request of.
thread_local const TrackedHttpServer* tServer = nullptr;
thread_local const std::shared_ptr<TcpSocket>* tConnection = nullptr;

}  // namespace

TrackedHttpServer::TrackedHttpServer() = default;

TrackedHttpServer::TrackedHttpServer(X509* certificate, EVP_PKEY* privateKey) : tlsWanted_(true), tls_(SSL_CTX_new(TLS_server_method())) {
  if (!tls_) return;
  SSL_CTX_set_min_proto_version(tls_, TLS1_2_VERSION);
  if (SSL_CTX_use_certificate(tls_, certificate) != 1 || SSL_CTX_use_PrivateKey(tls_, privateKey) != 1 ||
      SSL_CTX_check_private_key(tls_) != 1) {
    SSL_CTX_free(tls_);
    tls_ = nullptr;
  }
}

TrackedHttpServer::~TrackedHttpServer() {
  if (tls_) SSL_CTX_free(tls_);
}

bool TrackedHttpServer::is_valid() const { return tls_ != nullptr || !tlsWanted_; }

void TrackedHttpServer::widenListenQueue() {
  // Listening again only resizes the queue.
  const socket_t listener = svr_sock_;
  if (listener != INVALID_SOCKET) ::listen(listener, SOMAXCONN);
}

void TrackedHttpServer::end(TcpSocket& socket) const {
  if (endWholly_)
    socket.shutdown();
  else
    socket.shutdownReading();
}

void TrackedHttpServer::endConnections(bool wholly) {
  std::lock_guard lock(mutex_);
  endWholly_ = endWholly_ || wholly;
  ending_ = true;
  for (const auto& socket : open_) end(*socket);
}

std::shared_ptr<TcpSocket> TrackedHttpServer::connectionServed() const {
  return tServer == this && tConnection ? *tConnection : nullptr;
}

bool TrackedHttpServer::process_and_close_socket(socket_t sock) {
  // Held to a year, lest a deadline past the clock's range wrap round.
  const auto deadlineAfter = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::chrono::duration<double>(std::clamp(requestDeadline_.load(), 0.0, 365 * 86400.0)));
  auto socket = TcpSocket::adopt(sock);
  if (!socket) return false;
  {
    std::lock_guard lock(mutex_);
    open_.insert(socket);
    if (ending_) end(*socket);
  }
  SSL* tls = nullptr;
  if (tls_ && (tls = SSL_new(tls_)) != nullptr) {
    BIO* bio = BIO_new(socketMethod());
    BIO_set_data(bio, socket.get());
    SSL_set_bio(tls, bio, bio);
  }
  ConnectionStream stream(*socket, tls, seconds(read_timeout_sec_, read_timeout_usec_),
                          seconds(write_timeout_sec_, write_timeout_usec_));
  // The first request's time runs from here, through the handshake and the wait for its start.
  stream.readBy(std::chrono::steady_clock::now() + deadlineAfter);
  const auto* outerServer = tServer;
  const auto* outerConnection = tConnection;
  tServer = this;
  tConnection = &socket;
  bool served = false;
  // Up to the kept-alive count of requests, each awaited for the kept-alive time-out; the last
  // one, and any once the server ends its connections, is answered with the connection's end.
  if (!tls_ || (tls && stream.handshake())) {
    for (std::size_t left = keep_alive_max_count_; left > 0; --left) {
      const bool first = left == keep_alive_max_count_;
      const double wait = static_cast<double>(keep_alive_timeout_sec_);
      if (!stream.readableWithin(first ? std::min(wait, stream.timeLeft()) : wait)) break;
      // A later request's time runs from its first byte.
      if (!first) stream.readBy(std::chrono::steady_clock::now() + deadlineAfter);
      bool closed = false;
      stream.boundHead(kHeadLimit);
      // Called once the head is read, before the body.
      served = process_request(stream, left == 1 || ending_, closed, [tls, &stream](httplib::Request& request) {
        request.ssl = tls;
        stream.headRead();
      });
      if (!served || closed || stream.expired()) break;
    }
  }
  tServer = outerServer;
  tConnection = outerConnection;
  if (tls) {
    if (served) SSL_shutdown(tls);  // the peer's close_notify is not awaited
    SSL_free(tls);
  }
  std::lock_guard lock(mutex_);
  open_.erase(socket);
  socket->shutdown();
  socket->close();
  return served;
}

}  // namespace os::testing
