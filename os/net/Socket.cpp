#include "os/net/Socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>

#include "os/runtime/RunLoop.h"

namespace os {

std::optional<sockaddr_in> makeIPv4Address(const std::string& dotted, std::uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  if (inet_pton(AF_INET, dotted.c_str(), &a.sin_addr) != 1) return std::nullopt;
  return a;
}

std::string IPv4AddressText(const sockaddr_in& address) {
  char text[INET_ADDRSTRLEN] = {};
  if (!inet_ntop(AF_INET, &address.sin_addr, text, sizeof text)) return {};
  return text;
}

namespace {

bool setNonBlocking(int fd) {
  int flags = fcntl(fd, F_GETFL, 0);
  return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

std::optional<sockaddr_in> nameOf(int fd, bool peer) {
  if (fd < 0) return std::nullopt;
  sockaddr_in a{};
  socklen_t len = sizeof a;
  int rc = peer ? getpeername(fd, reinterpret_cast<sockaddr*>(&a), &len) : getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  if (rc != 0 || a.sin_family != AF_INET) return std::nullopt;
  return a;
}

}  // namespace

Socket::~Socket() { close(); }

bool Socket::schedule(const std::shared_ptr<RunLoop>& loop, Callbacks callbacks) {
  if (fd_ < 0 || loop_ || !loop) return false;
  loop_ = loop;
  callbacks_ = std::move(callbacks);
  std::weak_ptr<Socket> weak = weak_from_this();
  sourceToken_ = loop_->addSource(fd_, 0, [weak](int, unsigned events) {
    if (auto s = weak.lock()) s->onReady(events);
  });
  updateSourceEvents();
  return true;
}

void Socket::updateSourceEvents() {
  if (!loop_ || fd_ < 0) return;
  unsigned events = 0;
  if (readEnabled_ && !connecting_) events |= RunLoop::kReadable;
  if (writeEnabled_ || connecting_) events |= RunLoop::kWritable;
  loop_->setSourceEvents(sourceToken_, events);
}

void Socket::setReadCallbackEnabled(bool enabled) {
  readEnabled_ = enabled;
  updateSourceEvents();
}

void Socket::enableWriteCallback() {
  writeEnabled_ = true;
  updateSourceEvents();
}

void Socket::onReady(unsigned events) {
  auto self = shared_from_this();  // a callback may drop the last outside reference
  if (fd_ < 0) return;
  if (connecting_) {
    if (!(events & (RunLoop::kWritable | RunLoop::kReadable))) return;
    int error = 0;
    socklen_t len = sizeof error;
    if (getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &len) != 0) error = errno;
    connecting_ = false;
    if (error) writeEnabled_ = false;
    updateSourceEvents();
    if (callbacks_.connected) callbacks_.connected(error);
    return;
  }
  if ((events & RunLoop::kReadable) && readEnabled_ && fd_ >= 0 && callbacks_.readable) callbacks_.readable();
  if ((events & RunLoop::kWritable) && writeEnabled_ && fd_ >= 0) {
    writeEnabled_ = false;
    updateSourceEvents();
    if (callbacks_.writable) callbacks_.writable();
  }
}

bool Socket::connect(const sockaddr_in& address) {
  if (fd_ < 0) {
    errno = EBADF;
    return false;
  }
  if (::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
    // Done at once (loopback): report it through the loop like any other connect.
    connecting_ = true;
    updateSourceEvents();
    return true;
  }
  if (errno != EINPROGRESS) return false;
  connecting_ = true;
  updateSourceEvents();
  return true;
}

long Socket::receive(void* buffer, std::size_t length) {
  if (fd_ < 0) {
    errno = EBADF;
    return -1;
  }
  return ::recv(fd_, buffer, length, MSG_DONTWAIT);
}

long Socket::send(const void* buffer, std::size_t length) {
  if (fd_ < 0) {
    errno = EBADF;
    return -1;
  }
  return ::send(fd_, buffer, length, MSG_NOSIGNAL | MSG_DONTWAIT);
}

bool Socket::setReceiveTimeout(double seconds) {
  if (fd_ < 0) return false;
  timeval tv{};
  tv.tv_sec = static_cast<time_t>(std::floor(seconds));
  tv.tv_usec = static_cast<suseconds_t>((seconds - std::floor(seconds)) * 1e6);
  return setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0;
}

namespace {

bool waitFor(int fd, short events, double seconds) {
  if (fd < 0) return false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(std::max(seconds, 0.0));
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    pollfd watched{fd, events, 0};
    const int ready = ::poll(&watched, 1, static_cast<int>(std::max<long long>(left, 0)));
    if (ready > 0) return true;
    if (ready == 0 || errno != EINTR) return false;
  }
}

}  // namespace

bool Socket::waitUntilReadable(double seconds) const { return waitFor(fd_, POLLIN, seconds); }

bool Socket::waitUntilWritable(double seconds) const { return waitFor(fd_, POLLOUT, seconds); }

void Socket::shutdownReading() {
  if (fd_ >= 0) ::shutdown(fd_, SHUT_RD);
}

void Socket::shutdownWriting() {
  if (fd_ >= 0) ::shutdown(fd_, SHUT_WR);
}

void Socket::shutdown() {
  if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
}

std::optional<std::string> Socket::localAddress() const {
  auto a = nameOf(fd_, false);
  return a ? std::optional<std::string>(IPv4AddressText(*a)) : std::nullopt;
}

std::optional<std::string> Socket::remoteAddress() const {
  auto a = nameOf(fd_, true);
  return a ? std::optional<std::string>(IPv4AddressText(*a)) : std::nullopt;
}

std::optional<std::uint16_t> Socket::localPort() const {
  auto a = nameOf(fd_, false);
  return a ? std::optional<std::uint16_t>(ntohs(a->sin_port)) : std::nullopt;
}

std::optional<std::uint16_t> Socket::remotePort() const {
  auto a = nameOf(fd_, true);
  return a ? std::optional<std::uint16_t>(ntohs(a->sin_port)) : std::nullopt;
}

void Socket::close() {
  if (loop_ && sourceToken_) loop_->removeSource(sourceToken_);
  sourceToken_ = 0;
  loop_.reset();
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  connecting_ = false;
  writeEnabled_ = false;
}

std::shared_ptr<TcpSocket> TcpSocket::create() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd < 0) return nullptr;
  return std::shared_ptr<TcpSocket>(new TcpSocket(fd));
}

std::shared_ptr<TcpSocket> TcpSocket::adopt(int fd) {
  if (fd < 0 || !setNonBlocking(fd)) return nullptr;
  return std::shared_ptr<TcpSocket>(new TcpSocket(fd));
}

std::shared_ptr<UdpSocket> UdpSocket::create() {
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_UDP);
  if (fd < 0) return nullptr;
  return std::shared_ptr<UdpSocket>(new UdpSocket(fd));
}

bool UdpSocket::connectTo(const sockaddr_in& address) {
  if (fd_ < 0) return false;
  if (::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return false;
  connected_ = true;
  return true;
}

bool UdpSocket::bindTo(const sockaddr_in& address) {
  return fd_ >= 0 && ::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

long UdpSocket::sendTo(const void* buffer, std::size_t length, const sockaddr_in& address) {
  if (fd_ < 0) {
    errno = EBADF;
    return -1;
  }
  return ::sendto(fd_, buffer, length, MSG_NOSIGNAL | MSG_DONTWAIT, reinterpret_cast<const sockaddr*>(&address),
                  sizeof address);
}

std::optional<Data> UdpSocket::receiveFrom(std::size_t maxLength, sockaddr_in* from) {
  if (fd_ < 0) {
    errno = EBADF;
    return std::nullopt;
  }
  Data buffer(maxLength);
  sockaddr_in peer{};
  socklen_t len = sizeof peer;
  // A longer datagram is cut to maxLength; the rest of it is discarded by the kernel.
  ssize_t n = ::recvfrom(fd_, buffer.data(), buffer.size(), MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&peer), &len);
  if (n < 0) return std::nullopt;
  buffer.resize(static_cast<std::size_t>(n));
  if (from) *from = peer;
  return buffer;
}

std::shared_ptr<TcpListener> TcpListener::listen(const std::string& address, std::uint16_t port) {
  auto a = makeIPv4Address(address, port);
  if (!a) {
    errno = EINVAL;
    return nullptr;
  }
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd < 0) return nullptr;
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  // The widest queue the system allows: a burst of clients connecting at once (a thousand devices
  // at a push service) otherwise has its handshakes dropped and retried seconds later.
  if (::bind(fd, reinterpret_cast<sockaddr*>(&*a), sizeof *a) != 0 || ::listen(fd, SOMAXCONN) != 0) {
    int saved = errno;
    ::close(fd);
    errno = saved;
    return nullptr;
  }
  auto bound = nameOf(fd, false);
  return std::shared_ptr<TcpListener>(new TcpListener(fd, bound ? ntohs(bound->sin_port) : 0));
}

namespace {
int openSpareDescriptor() { return ::open("/dev/null", O_RDONLY | O_CLOEXEC); }
}  // namespace

TcpListener::TcpListener(int fd, std::uint16_t port) : fd_(fd), port_(port), spare_(openSpareDescriptor()) {}

TcpListener::~TcpListener() { close(); }

bool TcpListener::schedule(const std::shared_ptr<RunLoop>& loop, AcceptCallback onAccept) {
  if (fd_ < 0 || loop_ || !loop) return false;
  loop_ = loop;
  onAccept_ = std::move(onAccept);
  std::weak_ptr<TcpListener> weak = weak_from_this();
  sourceToken_ = loop_->addSource(fd_, RunLoop::kReadable, [weak](int fd, unsigned) {
    // Every connection waiting in the queue, not one a turn: the clients of a burst are served
    // together. The accepting callback may close the listener.
    for (;;) {
      auto self = weak.lock();
      if (!self || self->fd_ < 0) return;
      int client = ::accept4(fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (client < 0 && (errno == EMFILE || errno == ENFILE)) {
        // No descriptor left for the peer: it is refused rather than left in the queue.
        if (!self->refuseOne()) return;
        continue;
      }
      if (client < 0) return;
      auto socket = TcpSocket::adopt(client);
      if (socket && self->onAccept_) self->onAccept_(socket);
    }
  });
  return true;
}

bool TcpListener::refuseOne() {
  if (spare_ < 0) spare_ = openSpareDescriptor();
  if (spare_ < 0) return false;
  ::close(spare_);
  int client = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
  if (client >= 0) ::close(client);
  spare_ = openSpareDescriptor();
  return client >= 0;
}

void TcpListener::close() {
  if (loop_ && sourceToken_) loop_->removeSource(sourceToken_);
  sourceToken_ = 0;
  loop_.reset();
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (spare_ >= 0) ::close(spare_);
  spare_ = -1;
}

}  // namespace os
