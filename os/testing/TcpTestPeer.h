#pragma once
// The far end of a TCP connection for tests: listens on 127.0.0.1 on a free port, accepts one
// connection at a time on a thread of its own and collects what arrives; the test writes bytes,
// closes or resets the connection. With closeAfter set it closes each connection, unanswered,
// once that text has arrived (an HTTP server that drops the request).
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "os/core/Data.h"

namespace os::testing {

class TcpTestPeer {
 public:
  explicit TcpTestPeer(std::string closeAfter = {});
  ~TcpTestPeer();
  TcpTestPeer(const TcpTestPeer&) = delete;
  TcpTestPeer& operator=(const TcpTestPeer&) = delete;

  std::uint16_t port() const { return port_; }
  bool isConnected() const;
  std::size_t acceptedCount() const;
  // Everything received on the current (or last) connection.
  Data received() const;
  // Frames of the received bytes: each a 2-byte big-endian length counting itself, then the rest.
  std::vector<Data> receivedFrames() const;
  bool peerClosed() const;

  // Writes to the current connection; false when there is none or the write failed.
  bool write(const Data& bytes);
  // Closes the connection with a reset (RST) instead of a FIN.
  void resetConnection();
  void closeConnection();

  // Real-time waits for tests that do not drive a run loop meanwhile.
  bool waitForConnection(double timeoutSeconds) const;
  bool waitForBytes(std::size_t count, double timeoutSeconds) const;

  // A frame as receivedFrames reads them.
  static Data frame(const Data& body);

 private:
  void run();
  void dropConnection(bool reset);

  int listenFd_ = -1, wakeFd_ = -1, connFd_ = -1;
  std::vector<int> retired_;  // dropped by a caller, closed by the peer's thread
  std::uint16_t port_ = 0;
  std::string closeAfter_;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  Data received_;
  std::size_t accepted_ = 0;
  bool peerClosed_ = false, stopping_ = false;
  std::thread thread_;
};

}  // namespace os::testing
