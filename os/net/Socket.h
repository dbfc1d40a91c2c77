#pragma once
// IPv4 sockets driven by a run loop: the loop watches the descriptor and calls back on its own
// thread. Reading is level-triggered and stays armed (the callback re-arms by itself); the write
// callback is one-shot: it disarms after firing and the caller enables it again when it has
// more to write. Sends never raise SIGPIPE.
#include <netinet/in.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "os/core/Data.h"

namespace os {

class RunLoop;

// An IPv4 socket address from a dotted literal and a port; absent for anything else.
std::optional<sockaddr_in> makeIPv4Address(const std::string& dotted, std::uint16_t port);
std::string IPv4AddressText(const sockaddr_in& address);

class Socket : public std::enable_shared_from_this<Socket> {
 public:
  struct Callbacks {
    std::function<void(int error)> connected;  // a non-blocking connect ended (0 or errno)
    std::function<void()> readable;
    std::function<void()> writable;
  };

  virtual ~Socket();
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  // Adds the socket to `loop` with the read callback armed. False when already scheduled or closed.
  bool schedule(const std::shared_ptr<RunLoop>& loop, Callbacks callbacks);
  void setReadCallbackEnabled(bool enabled);
  // Arms the one-shot write callback.
  void enableWriteCallback();

  // Starts a non-blocking connect: true when it is under way (or done), false with errno set.
  // Its end arrives through Callbacks::connected.
  bool connect(const sockaddr_in& address);

  // Bytes read (MSG_DONTWAIT), 0 when the peer closed, -1 with errno set.
  long receive(void* buffer, std::size_t length);
  // Bytes written, -1 with errno set (EAGAIN when the buffer is full, EPIPE after a reset).
  long send(const void* buffer, std::size_t length);

  bool setReceiveTimeout(double seconds);
  // Blocks the calling thread until the socket has something to read (bytes, the peer's end, an
  // error) or room to write, for at most `seconds`; false when the time ran out or it is closed.
  // For sockets served on a thread of their own rather than a run loop.
  bool waitUntilReadable(double seconds) const;
  bool waitUntilWritable(double seconds) const;
  // Ends the receiving side: reads give what had arrived, then the end, and a thread waiting to
  // read wakes. Writing goes on.
  void shutdownReading();
  // Ends the sending side: the peer reads the end once it has read what was sent. Reading goes on.
  void shutdownWriting();
  // Ends both directions; the descriptor stays open until close().
  void shutdown();
  // Dotted text of the local or peer address; absent when unbound, unconnected or closed.
  std::optional<std::string> localAddress() const;
  std::optional<std::string> remoteAddress() const;
  std::optional<std::uint16_t> localPort() const;
  std::optional<std::uint16_t> remotePort() const;

  int nativeHandle() const { return fd_; }
  bool isValid() const { return fd_ >= 0; }
  // Leaves the run loop and closes the descriptor; on the loop's thread no callback follows.
  void close();

 protected:
  explicit Socket(int fd) : fd_(fd) {}
  void updateSourceEvents();
  void onReady(unsigned events);

  int fd_ = -1;
  std::shared_ptr<RunLoop> loop_;
  int sourceToken_ = 0;
  Callbacks callbacks_;
  bool readEnabled_ = true, writeEnabled_ = false, connecting_ = false;
};

class TcpSocket : public Socket {
 public:
  // A fresh non-blocking IPv4 stream socket; nullptr with errno set when the system refuses.
  static std::shared_ptr<TcpSocket> create();
  // Wraps a connected descriptor (from TcpListener), made non-blocking.
  static std::shared_ptr<TcpSocket> adopt(int fd);

 private:
  using Socket::Socket;
};

class UdpSocket : public Socket {
 public:
  static std::shared_ptr<UdpSocket> create();

  bool isConnected() const { return connected_; }
  // Fixes the peer: later sends go there and only its datagrams arrive.
  bool connectTo(const sockaddr_in& address);
  long sendTo(const void* buffer, std::size_t length, const sockaddr_in& address);
  // One datagram, cut to maxLength bytes; absent with errno set when none could be read.
  std::optional<Data> receiveFrom(std::size_t maxLength, sockaddr_in* from = nullptr);
  bool bindTo(const sockaddr_in& address);

 private:
  using Socket::Socket;
  bool connected_ = false;
};

// Accepts connections on 127.0.0.1 (or another address) through a run loop: each turn takes every
// connection waiting in a queue as wide as the system allows. While the process has no descriptor
// left, a waiting connection is closed as soon as it is taken: its peer hears it end.
class TcpListener : public std::enable_shared_from_this<TcpListener> {
 public:
  using AcceptCallback = std::function<void(std::shared_ptr<TcpSocket>)>;
  // Listens on address:port (port 0 picks a free one); nullptr with errno set on failure.
  static std::shared_ptr<TcpListener> listen(const std::string& address, std::uint16_t port);
  ~TcpListener();

  std::uint16_t port() const { return port_; }
  bool schedule(const std::shared_ptr<RunLoop>& loop, AcceptCallback onAccept);
  void close();

 private:
  // Takes the next waiting peer with the spare descriptor and closes it; false when there was
  // none, or no spare to take it with.
  bool refuseOne();

  TcpListener(int fd, std::uint16_t port);
  int fd_;
  std::uint16_t port_;
  // A descriptor held in reserve: when the process has none left, it is let go to take the peer
  // waiting in the queue and close it at once. A peer so refused hears its connection end, and
  // the listener's queue empties instead of staying readable for a loop that would spin on it.
  int spare_ = -1;
  std::shared_ptr<RunLoop> loop_;
  int sourceToken_ = 0;
  AcceptCallback onAccept_;
};

}  // namespace os
