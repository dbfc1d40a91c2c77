#pragma once
// The push client's TCP connection, driven by the run loop of the thread that sets it up. It
// connects without blocking, writes a queue of buffers with partial writes, cuts the received
// stream into frames by their 2-byte length prefix and turns each into a received packet. Its
// delegate hears everything later, from the same run loop, never inside the socket's own
// callback. One object serves one connection.
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "os/core/Data.h"

namespace os {
class RunLoop;
class TcpSocket;
}  // namespace os
class DUVReceivedPacket;
class DUVTcpSocket;

// Every operation is optional.
class DUVTcpSocketDelegate {
 public:
  virtual ~DUVTcpSocketDelegate() = default;
  virtual void connectionDidSetup(DUVTcpSocket& socket) {}
  virtual void connectionDidClose(DUVTcpSocket& socket) {}
  virtual void connectionDidReceiveElement(DUVTcpSocket& socket, const std::shared_ptr<DUVReceivedPacket>& element) {}
  virtual void connectionDidSendData(DUVTcpSocket& socket, const os::Data& data) {}
  virtual void connectionSendQueueEmpty(DUVTcpSocket& socket) {}
};

class DUVTcpSocket : public std::enable_shared_from_this<DUVTcpSocket> {
 public:
  enum ConnectionState { kClosed = 0, kConnecting = 1, kConnected = 2 };

  // host: a dotted IPv4 literal, "localhost" or "loopback".
  static std::shared_ptr<DUVTcpSocket> create(std::string host, std::uint16_t port,
                                              std::weak_ptr<DUVTcpSocketDelegate> delegate);
  ~DUVTcpSocket();

  // Starts connecting on the current thread's run loop. True when connecting or connected;
  // false, with nothing left open, when it cannot start or the object was closed before.
  bool setup();
  // Once per connection that started: the delegate hears connectionDidClose later.
  void close();
  // False (and nothing queued) unless connected.
  bool sendData(const os::Data& data);
  // While set, the delegate hears connectionSendQueueEmpty each time the queue runs dry.
  void setCareAllDataSent(bool care);
  bool careAllDataSent() const { return careAllDataSent_; }
  // Off: nothing more is read (the peer waits in its socket) until it is on again.
  void setReading(bool reading);
  bool isReading() const { return reading_; }

  bool isConnected() const { return connectionState_ == kConnected; }
  int connectionState() const { return connectionState_; }
  const std::string& host() const { return host_; }
  std::uint16_t port() const { return port_; }
  std::optional<std::string> localAddress() const;
  std::optional<std::string> remoteAddress() const;
  std::size_t receiveBufferCapacity() const { return receivingBuffer_.size(); }

  struct PrivateTag {};
  DUVTcpSocket(PrivateTag, std::string host, std::uint16_t port, std::weak_ptr<DUVTcpSocketDelegate> delegate);

 private:
  void onConnectedWithErrorCode(int error);
  void doRead();
  // Up to `length` bytes of what was read, reading the socket once when none are left (but not
  // past the wake-up's bound, counted in `taken`). As a receive call returns.
  long take(std::uint8_t* into, std::size_t length, std::size_t& taken);
  // Hands the frames one callback cut to the delegate, in one post.
  void deliver(std::vector<std::shared_ptr<DUVReceivedPacket>> elements);
  void doSend();
  void resetReadInfo();
  void reenableSocketCallbacks();
  // Runs `call` on the delegate from the run loop, after the current callback.
  template <class Call> void deferToDelegate(Call call);

  std::shared_ptr<os::TcpSocket> socket_;
  // Weak: a delivery waiting on the loop keeps the socket, so a strong link back would be a cycle.
  std::weak_ptr<os::RunLoop> loop_;
  os::Data receivingBuffer_ = os::Data(1024);
  // What the last read of the socket brought, [inboxAt_, inboxEnd_) not yet cut into frames.
  os::Data inbox_;
  std::size_t inboxAt_ = 0, inboxEnd_ = 0;
  bool drained_ = false;  // the last read emptied the socket
  std::uint8_t prefix_[2] = {0, 0};
  std::size_t prefixReceived_ = 0;
  std::size_t packageSize_ = 0;  // announced length of the current frame, prefix included
  std::size_t bodyReceived_ = 0;
  std::deque<os::Data> sendQueue_;
  std::size_t sendingDataSentLen_ = 0;
  os::Data gathered_;  // the queued buffers one send takes together
  bool isSetuped_ = false;
  bool careAllDataSent_ = false;
  bool reading_ = true;
  const std::string host_;
  const std::uint16_t port_;
  std::weak_ptr<DUVTcpSocketDelegate> delegate_;
  int connectionState_ = kClosed;
};
