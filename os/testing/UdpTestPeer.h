#pragma once
// A UDP endpoint on 127.0.0.1 for tests: collects every datagram (with its sender) on a thread
// of its own, and sends datagrams back, by default to the last sender.
#include <netinet/in.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "os/core/Data.h"

namespace os::testing {

class UdpTestPeer {
 public:
  UdpTestPeer();
  ~UdpTestPeer();
  UdpTestPeer(const UdpTestPeer&) = delete;
  UdpTestPeer& operator=(const UdpTestPeer&) = delete;

  std::uint16_t port() const { return port_; }
  std::vector<Data> datagrams() const;
  std::optional<sockaddr_in> lastSender() const;
  // Sends to the last sender; false when nobody has sent yet.
  bool reply(const Data& bytes);
  bool sendTo(const Data& bytes, const sockaddr_in& to);
  bool waitForDatagrams(std::size_t count, double timeoutSeconds) const;

 private:
  void run();

  int fd_ = -1, wakeFd_ = -1;
  std::uint16_t port_ = 0;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<Data> datagrams_;
  std::optional<sockaddr_in> lastSender_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace os::testing
