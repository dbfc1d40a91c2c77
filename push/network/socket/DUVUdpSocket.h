#pragma once
// The push client's datagram socket, driven by the run loop of the thread that creates it: a
// queue of outgoing datagrams, each with its own send time-out, every received datagram handed
// on, and one receive time-out at a time. Closing is final.
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>

#include "os/core/Data.h"
#include "os/core/Error.h"

namespace os {
class RunLoop;
class Timer;
class UdpSocket;
}  // namespace os
class DUVUdpSocket;

inline constexpr const char* kDUVUdpSysErrorDomain = "udp sys error";
inline constexpr const char* kDUVUdpTimeOutDomain = "udp time out";
inline constexpr std::size_t kDUVUdpReceiveBufferSize = 16384;

// Every operation is optional.
class DUVUdpSocketDelegate {
 public:
  virtual ~DUVUdpSocketDelegate() = default;
  virtual void didSendData(const os::Data& data, DUVUdpSocket& socket) {}
  virtual void didNotSendData(const os::Data& data, DUVUdpSocket& socket) {}
  virtual void didReceivedData(const os::Data& data, DUVUdpSocket& socket) {}
  virtual void didNotReceivedData(DUVUdpSocket& socket, const os::Error& error) {}
};

class DUVUdpSocket : public std::enable_shared_from_this<DUVUdpSocket> {
 public:
  // Without a socket (the system refused one) every later operation reports failure.
  static std::shared_ptr<DUVUdpSocket> create(std::weak_ptr<DUVUdpSocketDelegate> delegate);
  ~DUVUdpSocket();

  // Fixes the peer ("localhost", "loopback" or a dotted literal).
  bool connectToHost(const std::string& host, std::uint16_t port);
  // Queues a datagram for the next write; a time-out above 0.001 s bounds its wait. With no host
  // the connected peer takes it.
  bool sendData(const os::Data& data, const std::optional<std::string>& host, std::uint16_t port, double timeout);
  // Bounds the wait for the next datagram: the delegate hears "udp time out" when none came.
  void receiveDataWithTimeout(double timeout);
  void stopReceiveTimeoutTimer();
  std::size_t sendQueueCount() const { return sendQueue_.size(); }
  bool isConnected() const { return isConnected_; }
  // Drops the queued datagrams without report and stops the receive time-out.
  void close();

  struct PrivateTag {};
  DUVUdpSocket(PrivateTag, std::weak_ptr<DUVUdpSocketDelegate> delegate) : delegate_(std::move(delegate)) {}

 private:
  struct Packet {
    os::Data buffer;
    std::optional<std::string> host;
    std::uint16_t port = 0;
    std::shared_ptr<os::Timer> timeoutTimer;
  };
  void doSend();
  void doRecv();
  void reenableSocketCallbacks();
  void timeoutWithUdpPacket(const std::shared_ptr<Packet>& packet);
  template <class Call> void deferToDelegate(Call call);

  std::shared_ptr<os::UdpSocket> socket_;
  // Weak: a delivery waiting on the loop keeps the socket, so a strong link back would be a cycle.
  std::weak_ptr<os::RunLoop> loop_;
  std::deque<std::shared_ptr<Packet>> sendQueue_;
  std::weak_ptr<os::Timer> recvTimeoutTimer_;
  bool isSetuped_ = false;
  bool isConnected_ = false;
  std::weak_ptr<DUVUdpSocketDelegate> delegate_;
};
