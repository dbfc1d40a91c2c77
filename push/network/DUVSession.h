#pragma once
// The push client's long-lived connection to the push service: it looks up the core and report
// addresses, opens one TCP connection and one connected UDP socket, registers the device or logs
// in with the stored identity, keeps the connection alive with heartbeats, keeps outgoing requests
// in two queues (blocked until login; sent and waiting for their answer), matches answers to
// requests, and reconnects after every failure with a back-off. All on the client thread.
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>

#include "push/network/address/DUVAddressController.h"
#include "push/network/socket/DUVTcpSocket.h"
#include "push/network/socket/DUVUdpSocket.h"
#include "push/protocol/tcp/base/DUVReceivedPacket.h"
#include "push/protocol/tcp/base/DUVRequest.h"

namespace os {
class Timer;
class URLReceiveWindow;
}
class DUVUserDefaults;
class DUVLoginRequest;

// What the session reads of the client.
struct DUVSessionEnvironment {
  std::shared_ptr<DUVUserDefaults> identity;
  // Must outlive the session; none: the built-in ones.
  DUVServiceEndpoints* endpoints = nullptr;
  std::function<long()> networkStatus;
  std::function<bool()> deviceTokenUpdated;
  // The client's facts for request bodies; the session adds its session id.
  std::function<DUVPacketContext()> packetFacts;
  // A pushed message that is not a tags/alias answer.
  std::function<void(const DUVMessageDispatch&)> onMessage;
  // The server's answer to a tags and alias request (a message of the tags/alias type).
  std::function<void(const std::string& json)> onTagAliasAnswer;
  // What onMessage handed the application that it has yet to take: while it is full the
  // connection is not read, so a busy application holds no more than it, and the server waits.
  std::shared_ptr<os::URLReceiveWindow> messageWindow;
};

class DUVSession : public DUVTcpSocketDelegate,
                   public DUVUdpSocketDelegate,
                   public DUVPacketHandler,
                   public std::enable_shared_from_this<DUVSession> {
 public:
  static constexpr double kHeartbeatInterval = 290.0;
  static constexpr double kUnreachableDelay = 500.0;
  static constexpr std::size_t kBlockedQueueLimit = 21;
  static constexpr std::uint16_t kResponseStatusAppKeyIllegal = 1008;
  // The ids of the latest messages read that are kept to know a message sent again.
  static constexpr std::size_t kRememberedReads = 65536;

  static std::shared_ptr<DUVSession> create(DUVSessionEnvironment environment);
  ~DUVSession() override;

  void setup();
  // The single failure path: drops the connection, re-queues what may wait, and schedules the
  // next attempt.
  void close();
  // The current request id, then one more (wrapping at 65536).
  std::uint16_t getRId() { return rId_++; }
  void sendRequest(const std::shared_ptr<DUVRequest>& request);

  bool isSetup() const { return isSetup_; }
  bool isLogin() const { return isLogin_; }
  bool isConnected() const { return isConnected_; }
  std::uint32_t sessionID() const { return sessionID_; }
  std::uint16_t serverVersion() const { return serverVersion_; }
  const std::shared_ptr<DUVAddressController>& addressController() const { return addressController_; }
  const std::deque<std::shared_ptr<DUVRequest>>& blockedQueue() const { return tcpBlockedQueue_; }
  const std::deque<std::shared_ptr<DUVRequest>>& sendingQueue() const { return tcpSendingQueue_; }
  // The delay of the reconnect timer that runs, 0 when none.
  double pendingSetupDelay() const;

  // Socket and packet events.
  void connectionDidSetup(DUVTcpSocket& socket) override;
  void connectionDidClose(DUVTcpSocket& socket) override;
  void connectionDidReceiveElement(DUVTcpSocket& socket, const std::shared_ptr<DUVReceivedPacket>& element) override;
  void connectionDidSendData(DUVTcpSocket& socket, const os::Data& data) override;
  void connectionSendQueueEmpty(DUVTcpSocket& socket) override;
  void onAckOrRespReceived(const DUVReceivedPacket& packet) override;
  void onRegisterRespond(const DUVRegistrationResponse& response) override;
  void onLoginRespond(const DUVLoginResponse& response) override;
  void onDeviceTokenReported(const DUVDeviceTokenReportResponse& response) override;
  void onMessageDispatch(const std::shared_ptr<DUVMessageDispatch>& message) override;
  void onAckTimeoutForRequest(DUVRequest& request);
  // Whether the connection is read (off while the application's message window is full).
  bool isReading() const { return tcpConnectionSocket_ && tcpConnectionSocket_->isReading(); }

  struct PrivateTag {};
  DUVSession(PrivateTag, DUVSessionEnvironment environment);

 private:
  void addressControllerDidUpdated();
  void connectWithCoreAddress(const DUVAddress& core, const std::optional<DUVAddress>& report);
  void doSendTcpRequest(const std::shared_ptr<DUVRequest>& request);
  void enqueueRequest(const std::shared_ptr<DUVRequest>& request);
  void reenqueueSendingRequests();
  void doRegisterOrLogin();
  void doRegister();
  void doLogin();
  // Whether the message is one the service sends again at the start of a connection, having no
  // receipt for it, that was read on one before; else it counts as read.
  bool readBefore(std::uint32_t messageID);
  void pauseReading();
  void resumeReading();
  void startAckWait(const std::shared_ptr<DUVRequest>& request);
  void startHeartbeatTimer();
  void doHeartbeat();
  void stopHeartbeatTimer();
  void startDelaySetupTimer();
  void stopDelaySetupTimer();
  DUVPacketContext packetContext() const;
  long networkStatus() const { return environment_.networkStatus ? environment_.networkStatus() : 2; }

  DUVSessionEnvironment environment_;
  std::unique_ptr<DUVServiceEndpoints> ownEndpoints_;  // the built-in ones, when none were given
  std::shared_ptr<DUVAddressController> addressController_;
  std::uint16_t serverVersion_ = 0;
  std::uint16_t rId_ = 0;
  std::shared_ptr<DUVLoginRequest> loginRequest_;
  // The id of the registration sent on this connection and not yet answered: only its answer is
  // taken, once, so a repeated or unasked-for answer neither rewrites the identity nor is
  // announced again.
  std::optional<std::uint16_t> registrationRid_;
  // The same for the login sent on this connection: an answer to no login sent here neither logs
  // the session in nor refuses (and so wipes) the stored identity.
  std::optional<std::uint16_t> loginRid_;
  std::shared_ptr<DUVUdpSocket> udpReportSocket_;
  std::shared_ptr<DUVTcpSocket> tcpConnectionSocket_;
  std::deque<std::shared_ptr<DUVRequest>> tcpBlockedQueue_;
  std::deque<std::shared_ptr<DUVRequest>> tcpSendingQueue_;
  std::weak_ptr<os::Timer> heartbeatTimer_;
  std::uint32_t delaySetupTimeIntervalIndex_ = 0;
  std::weak_ptr<os::Timer> delaySetupTimer_;
  double delaySetupInterval_ = 0;
  bool isSetup_ = false;
  bool isLogin_ = false;
  bool isConnected_ = false;
  std::uint32_t sessionID_ = 0;
  // The ids of the latest messages read, oldest first. A receipt written just before a connection
  // ends may never arrive, and the service then sends its message again first on the next
  // connection, in the order they went: from a login until the first message not read before,
  // messages are looked for here, each after the one found last.
  std::deque<std::uint32_t> readIds_;
  std::optional<std::size_t> resentFrom_;
};
