#include "os/testing/TcpTestPeer.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <vector>

namespace os::testing {

TcpTestPeer::TcpTestPeer(std::string closeAfter) : closeAfter_(std::move(closeAfter)) {
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(listenFd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::listen(listenFd_, 8);
  socklen_t len = sizeof a;
  ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&a), &len);
  port_ = ntohs(a.sin_port);
  wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  thread_ = std::thread([this] { run(); });
}

TcpTestPeer::~TcpTestPeer() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  std::uint64_t one = 1;
  [[maybe_unused]] auto w = ::write(wakeFd_, &one, sizeof one);
  thread_.join();
  if (connFd_ >= 0) ::close(connFd_);
  for (int fd : retired_) ::close(fd);
  ::close(listenFd_);
  ::close(wakeFd_);
}

void TcpTestPeer::run() {
  std::vector<std::uint8_t> buffer(65536);
  for (;;) {
    int conn;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      // Closed here, where nothing is polling or reading them any more.
      for (int fd : retired_) ::close(fd);
      retired_.clear();
      if (stopping_) return;
      conn = connFd_;
    }
    pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {conn >= 0 ? conn : listenFd_, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) continue;
    if (fds[0].revents) {
      std::uint64_t v;
      [[maybe_unused]] auto r = ::read(wakeFd_, &v, sizeof v);
      continue;  // re-read the state: a new connection fd, a drop, or stopping
    }
    if (!fds[1].revents) continue;
    if (conn < 0) {
      int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      std::lock_guard<std::mutex> lock(mutex_);
      connFd_ = fd;
      ++accepted_;
      received_.clear();
      peerClosed_ = false;
      changed_.notify_all();
      continue;
    }
    ssize_t n = ::recv(conn, buffer.data(), buffer.size(), MSG_DONTWAIT);
    std::lock_guard<std::mutex> lock(mutex_);
    if (connFd_ != conn) continue;
    if (n > 0) {
      received_.insert(received_.end(), buffer.begin(), buffer.begin() + n);
      if (!closeAfter_.empty() &&
          std::search(received_.begin(), received_.end(), closeAfter_.begin(), closeAfter_.end()) != received_.end()) {
        ::close(connFd_);
        connFd_ = -1;
      }
    } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
      peerClosed_ = true;
      ::close(connFd_);
      connFd_ = -1;
    }
    changed_.notify_all();
  }
}

bool TcpTestPeer::isConnected() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return connFd_ >= 0;
}

std::size_t TcpTestPeer::acceptedCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return accepted_;
}

Data TcpTestPeer::received() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return received_;
}

std::vector<Data> TcpTestPeer::receivedFrames() const {
  Data bytes = received();
  std::vector<Data> frames;
  std::size_t at = 0;
  while (bytes.size() - at >= 2) {
    std::size_t length = (std::size_t(bytes[at]) << 8) | bytes[at + 1];
    if (length < 2 || bytes.size() - at < length) break;
    frames.emplace_back(bytes.begin() + at, bytes.begin() + at + length);
    at += length;
  }
  return frames;
}

bool TcpTestPeer::peerClosed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return peerClosed_;
}

bool TcpTestPeer::write(const Data& bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (connFd_ < 0) return false;
  std::size_t at = 0;
  while (at < bytes.size()) {
    ssize_t n = ::send(connFd_, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
    if (n <= 0) return false;
    at += static_cast<std::size_t>(n);
  }
  return true;
}

void TcpTestPeer::dropConnection(bool reset) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (connFd_ < 0) return;
    if (reset) {
      linger l{1, 0};
      setsockopt(connFd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    }
    // The peer's thread may be polling or reading this socket right now: it closes it, so that its
    // number is never taken by another socket while that thread still uses it.
    retired_.push_back(connFd_);
    connFd_ = -1;
  }
  std::uint64_t one = 1;
  [[maybe_unused]] auto w = ::write(wakeFd_, &one, sizeof one);
}

void TcpTestPeer::resetConnection() { dropConnection(true); }
void TcpTestPeer::closeConnection() { dropConnection(false); }

bool TcpTestPeer::waitForConnection(double timeoutSeconds) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::duration<double>(timeoutSeconds), [&] { return accepted_ > 0; });
}

bool TcpTestPeer::waitForBytes(std::size_t count, double timeoutSeconds) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::duration<double>(timeoutSeconds), [&] { return received_.size() >= count; });
}

Data TcpTestPeer::frame(const Data& body) {
  std::size_t length = body.size() + 2;
  // Sized once and copied into: growing a two-byte vector by insert trips gcc's bounds check.
  Data out(length);
  out[0] = static_cast<std::uint8_t>(length >> 8);
  out[1] = static_cast<std::uint8_t>(length & 0xFF);
  std::copy(body.begin(), body.end(), out.begin() + 2);
  return out;
}

}  // namespace os::testing
