#include "os/testing/UdpTestPeer.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace os::testing {

UdpTestPeer::UdpTestPeer() {
  fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
  port_ = ntohs(a.sin_port);
  wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  thread_ = std::thread([this] { run(); });
}

UdpTestPeer::~UdpTestPeer() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  std::uint64_t one = 1;
  [[maybe_unused]] auto w = ::write(wakeFd_, &one, sizeof one);
  thread_.join();
  ::close(fd_);
  ::close(wakeFd_);
}

void UdpTestPeer::run() {
  std::vector<std::uint8_t> buffer(65536);
  for (;;) {
    pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {fd_, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) continue;
    if (fds[0].revents) return;
    if (!fds[1].revents) continue;
    sockaddr_in from{};
    socklen_t len = sizeof from;
    ssize_t n = ::recvfrom(fd_, buffer.data(), buffer.size(), MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 0) continue;
    std::lock_guard<std::mutex> lock(mutex_);
    datagrams_.emplace_back(buffer.begin(), buffer.begin() + n);
    lastSender_ = from;
    changed_.notify_all();
  }
}

std::vector<Data> UdpTestPeer::datagrams() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return datagrams_;
}

std::optional<sockaddr_in> UdpTestPeer::lastSender() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lastSender_;
}

bool UdpTestPeer::reply(const Data& bytes) {
  auto to = lastSender();
  return to && sendTo(bytes, *to);
}

bool UdpTestPeer::sendTo(const Data& bytes, const sockaddr_in& to) {
  return ::sendto(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&to), sizeof to) ==
         static_cast<ssize_t>(bytes.size());
}

bool UdpTestPeer::waitForDatagrams(std::size_t count, double timeoutSeconds) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::duration<double>(timeoutSeconds), [&] { return datagrams_.size() >= count; });
}

}  // namespace os::testing
