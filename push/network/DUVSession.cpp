#include "push/network/DUVSession.h"

#include <algorithm>

#include "os/crypto/Random.h"
#include "os/net/URLReceiveWindow.h"
#include "os/runtime/RunLoop.h"
#include "os/runtime/Timer.h"
#include "push/model/DUVAlert.h"
#include "push/model/DUVNotifications.h"
#include "push/protocol/tcp/DUVDeviceTokenReport.h"
#include "push/protocol/tcp/DUVLogin.h"
#include "push/protocol/tcp/DUVMessageDispatch.h"
#include "push/protocol/tcp/DUVRegistration.h"
#include "push/utilities/DUVLogger.h"
#include "push/utilities/DUVUserDefaults.h"
#include "push/utilities/DUVUtilities.h"

namespace {
constexpr double kBackOff[] = {2.0, 5.0, 20.0, 300.0};
constexpr std::uint32_t kBackOffSteps = 4;
std::shared_ptr<DUVLogger> logger() { return DUVClassLogger("DUVSession"); }
}  // namespace

std::shared_ptr<DUVSession> DUVSession::create(DUVSessionEnvironment environment) {
  auto session = std::make_shared<DUVSession>(PrivateTag{}, std::move(environment));
  DUVAddressController::Facts facts{session->environment_.networkStatus, nullptr};
  if (!session->environment_.endpoints) {
    session->ownEndpoints_ = std::make_unique<DUVServiceEndpoints>();
    session->environment_.endpoints = session->ownEndpoints_.get();
  }
  DUVServiceEndpoints& endpoints = *session->environment_.endpoints;
  session->addressController_ = DUVAddressController::create(session->environment_.identity, endpoints, facts);
  std::weak_ptr<DUVSession> weak = session;
  session->addressController_->setOnUpdated([weak](DUVAddressController&) {
    if (auto self = weak.lock()) self->addressControllerDidUpdated();
  });
  return session;
}

DUVSession::DUVSession(PrivateTag, DUVSessionEnvironment environment)
    : environment_(std::move(environment)), rId_(static_cast<std::uint16_t>(os::random32())) {}

DUVSession::~DUVSession() {
  stopHeartbeatTimer();
  stopDelaySetupTimer();
  for (auto& request : tcpSendingQueue_) request->stopAckTimeoutTimer();
  if (tcpConnectionSocket_) tcpConnectionSocket_->close();
  if (udpReportSocket_) udpReportSocket_->close();
  if (addressController_) addressController_->stop();
}

DUVPacketContext DUVSession::packetContext() const {
  DUVPacketContext context = environment_.packetFacts ? environment_.packetFacts() : DUVPacketContext{};
  context.sessionId = sessionID_;
  return context;
}

void DUVSession::setup() {
  if (isSetup_) return;
  isSetup_ = true;
  stopDelaySetupTimer();
  if (networkStatus() != 0) {
    addressController_->updateAddresses();
    return;
  }
  logger()->logMessage("当前网络不可用", "set up session failed due to network unreachable", &DUVLevel::debug());
  close();
}

void DUVSession::addressControllerDidUpdated() {
  if (!isSetup_) return;
  const auto& core = addressController_->coreAddress();
  if (!core) {
    close();
    return;
  }
  connectWithCoreAddress(*core, addressController_->reportAddress());
}

void DUVSession::connectWithCoreAddress(const DUVAddress& core, const std::optional<DUVAddress>& report) {
  logger()->logMessage("连接服务器", "connecting with coreAddr " + core.text(), &DUVLevel::debug());
  if (tcpConnectionSocket_) tcpConnectionSocket_->close();
  if (udpReportSocket_) udpReportSocket_->close();
  tcpConnectionSocket_ = DUVTcpSocket::create(core.host, core.port, weak_from_this());
  if (!tcpConnectionSocket_->setup()) {
    logger()->logMessage("连接服务器失败", "tcp connection socket setup failed", &DUVLevel::error());
    close();
    return;
  }
  // Without a report address (no lookup answered yet and none stored) there is nothing to
  // connect the report socket to: that is a failed setup like any other.
  udpReportSocket_ = DUVUdpSocket::create(weak_from_this());
  if (!report || !udpReportSocket_->connectToHost(report->host, report->port)) {
    logger()->logMessage(std::nullopt, "udp connection socket connect failed", &DUVLevel::error());
    close();
  }
}

void DUVSession::connectionDidSetup(DUVTcpSocket& socket) {
  if (&socket != tcpConnectionSocket_.get()) return;
  isConnected_ = true;
  DUVPostNotification(kDUVNetworkDidSetupNotification);
  doRegisterOrLogin();
}

void DUVSession::connectionDidClose(DUVTcpSocket& socket) {
  if (&socket != tcpConnectionSocket_.get()) return;
  logger()->logMessage("连接被关闭", "tcp connection did closed", &DUVLevel::debug());
  close();
}

void DUVSession::connectionDidReceiveElement(DUVTcpSocket& socket, const std::shared_ptr<DUVReceivedPacket>& element) {
  if (&socket != tcpConnectionSocket_.get()) return;
  // The packet may close the session and so drop the socket that delivered it.
  auto keep = shared_from_this();
  element->handleReceipt(*this);
}

void DUVSession::connectionDidSendData(DUVTcpSocket& socket, const os::Data& data) {
  if (&socket != tcpConnectionSocket_.get()) return;
  logger()->logMessage(std::nullopt, "tcpDidSendData: " + std::to_string(data.size()), &DUVLevel::debug());
}

void DUVSession::connectionSendQueueEmpty(DUVTcpSocket& socket) {
  if (&socket != tcpConnectionSocket_.get()) return;
  if (isLogin_ && !tcpBlockedQueue_.empty()) {
    auto request = tcpBlockedQueue_.front();
    tcpBlockedQueue_.pop_front();
    doSendTcpRequest(request);
    return;
  }
  socket.setCareAllDataSent(false);
}

void DUVSession::doRegisterOrLogin() {
  const auto& identity = environment_.identity;
  if (identity && identity->uid() != 0 && identity->password()) return doLogin();
  if (environment_.deviceTokenUpdated && environment_.deviceTokenUpdated()) return doRegister();
  // Registration waits for the device token.
  close();
}

void DUVSession::doRegister() {
  auto request = std::make_shared<DUVRegistrationRequest>(getRId());
  registrationRid_ = request->rid();
  sendRequest(request);
}

void DUVSession::doLogin() {
  if (!loginRequest_) loginRequest_ = std::make_shared<DUVLoginRequest>(getRId());
  loginRid_ = loginRequest_->rid();
  sendRequest(loginRequest_);
}

void DUVSession::onRegisterRespond(const DUVRegistrationResponse& response) {
  if (isLogin_) return;
  if (registrationRid_ != response.rid()) {
    logger()->logMessage(std::nullopt, "registration answer not waited for: rid " + std::to_string(response.rid()),
                         &DUVLevel::warn());
    return;
  }
  registrationRid_.reset();
  if (response.statusCode() == DUVResponse::kResponseStatusCodeSucceed) {
    DUVPostNotificationWithUserInfo(kDUVNetworkDidRegisterNotification,
                                    {{"RegistrationID", os::Value(response.registrationID().value_or(""))}});
    if (auto& identity = environment_.identity) {
      identity->setUid(response.uid(), response.password(), response.registrationID());
      identity->setUploadedDeviceToken(identity->currentDeviceToken());
    }
    doLogin();
    return;
  }
  if (response.statusCode() == kResponseStatusAppKeyIllegal)
    logger()->log(DUVLevel::force(), "app_key 参数非法");
  else
    DUVAlert("ZUrar ERROR", "Zurar register error: service failed with error code : " +
                                std::to_string(response.statusCode()) + "; retry....");
  close();
}

void DUVSession::onLoginRespond(const DUVLoginResponse& response) {
  if (isLogin_) return;
  if (loginRid_ != response.rid()) {
    logger()->logMessage(std::nullopt, "login answer not waited for: rid " + std::to_string(response.rid()),
                         &DUVLevel::warn());
    return;
  }
  loginRid_.reset();
  if (response.statusCode() != DUVResponse::kResponseStatusCodeSucceed) {
    // The identity is refused: the next attempt registers anew.
    if (environment_.identity) environment_.identity->setUid(0, std::nullopt, std::nullopt);
    close();
    return;
  }
  sessionID_ = response.sessionID();
  serverVersion_ = response.serverVersion();
  DUVPostNotification(kDUVNetworkDidLoginNotification);
  isLogin_ = true;
  if (!readIds_.empty()) resentFrom_ = 0;
  delaySetupTimeIntervalIndex_ = 0;
  startHeartbeatTimer();
  if (tcpConnectionSocket_) tcpConnectionSocket_->setCareAllDataSent(true);
}

void DUVSession::onDeviceTokenReported(const DUVDeviceTokenReportResponse& response) {
  if (response.statusCode() != DUVResponse::kResponseStatusCodeSucceed || !environment_.identity) return;
  environment_.identity->setUploadedDeviceToken(environment_.identity->currentDeviceToken());
  logger()->log(DUVLevel::force(), "upload device token success");
}

void DUVSession::onMessageDispatch(const std::shared_ptr<DUVMessageDispatch>& message) {
  if (message->messageType() == DUVMessageDispatch::kTagAliasMessageType) {
    // Tags and alias answers have no receipt.
    if (environment_.onTagAliasAnswer) environment_.onTagAliasAnswer(message->messageContent().value_or(""));
    return;
  }
  std::uint32_t uid = environment_.identity ? environment_.identity->uid() : 0;
  if (readBefore(message->messageID())) {
    logger()->logMessage(std::nullopt, "read before, sent again: message id " + std::to_string(message->messageID()),
                         &DUVLevel::debug());
    sendRequest(std::make_shared<DUVMessageReceipt>(*message, uid));
    return;
  }
  if (environment_.onMessage) environment_.onMessage(*message);
  sendRequest(std::make_shared<DUVMessageReceipt>(*message, uid));
  if (auto& window = environment_.messageWindow) {
    // Set before the window is asked, so a taker that frees it meanwhile still wakes the session.
    std::weak_ptr<DUVSession> weak = weak_from_this();
    std::weak_ptr<os::RunLoop> loop = os::RunLoop::current();
    window->setOnOpen([weak, loop] {
      if (auto l = loop.lock())
        l->post([weak] {
          if (auto self = weak.lock()) self->resumeReading();
        });
    });
    if (window->full() && tcpConnectionSocket_) {
      logger()->logMessage(std::nullopt, "application busy with pushed messages: reading paused", &DUVLevel::debug());
      pauseReading();
    }
  }
}

bool DUVSession::readBefore(std::uint32_t messageID) {
  if (resentFrom_) {
    const auto from = readIds_.begin() + static_cast<long>(*resentFrom_);
    if (auto read = std::find(from, readIds_.end(), messageID); read != readIds_.end()) {
      resentFrom_ = static_cast<std::size_t>(read - readIds_.begin()) + 1;
      return true;
    }
    resentFrom_.reset();
  }
  readIds_.push_back(messageID);
  if (readIds_.size() > kRememberedReads) readIds_.pop_front();
  return false;
}

// While the connection is not read, an answer may wait among the unread bytes however long the
// application stays busy: no answer is then overdue, so the waits stop and start afresh, whole,
// once reading does.
void DUVSession::pauseReading() {
  tcpConnectionSocket_->setReading(false);
  for (auto& request : tcpSendingQueue_) request->stopAckTimeoutTimer();
}

void DUVSession::resumeReading() {
  if (!tcpConnectionSocket_) return;
  tcpConnectionSocket_->setReading(true);
  for (auto& request : tcpSendingQueue_)
    if (!request->isWaitingForAck()) startAckWait(request);
}

void DUVSession::startAckWait(const std::shared_ptr<DUVRequest>& request) {
  std::weak_ptr<DUVSession> weak = weak_from_this();
  request->startAckTimeoutTimer([weak](DUVRequest& timedOut) {
    if (auto self = weak.lock()) self->onAckTimeoutForRequest(timedOut);
  });
}

void DUVSession::sendRequest(const std::shared_ptr<DUVRequest>& request) {
  logger()->logMessage(std::nullopt, "send request " + request->name() + " rid " + std::to_string(request->rid()),
                       &DUVLevel::debug());
  if (!request->loginRequired()) return doSendTcpRequest(request);
  if (isLogin_) {
    if (request->hasHighPriority()) return doSendTcpRequest(request);
    return enqueueRequest(request);
  }
  if (request->canBeQueuedIfNotLogin()) return enqueueRequest(request);
  logger()->logMessage("未登录状态，请求被丢弃",
                       "request will be DROP due to can not be queued when not login: rid " + std::to_string(request->rid()),
                       &DUVLevel::debug());
}

void DUVSession::doSendTcpRequest(const std::shared_ptr<DUVRequest>& request) {
  auto packet = request->packetData(packetContext());
  if (!packet) {
    // Nothing can go out for it, so nothing will answer it: waiting would only end in a
    // disconnect.
    logger()->log(DUVLevel::error(), "request " + request->name() + " rid " + std::to_string(request->rid()) +
                                         " yields no packet, DROP");
    return;
  }
  if (!tcpConnectionSocket_ || !tcpConnectionSocket_->sendData(*packet)) {
    logger()->logMessage("当前网络未连接，发送请求失败", std::nullopt, &DUVLevel::debug());
    close();
    return;
  }
  if (request->ackOrRespRequired() || (request->ackOrRespRequiredForVersion1() && serverVersion_ != 0)) {
    // Sent while reading is paused: its wait starts when reading does.
    if (isReading()) startAckWait(request);
    tcpSendingQueue_.push_back(request);
  }
}

void DUVSession::enqueueRequest(const std::shared_ptr<DUVRequest>& request) {
  logger()->logMessage(std::nullopt, "APSesson enqueueRequest seq(rid) " + std::to_string(request->rid()),
                       &DUVLevel::debug());
  if (request->isExclusive()) {
    auto equal = std::find_if(tcpBlockedQueue_.begin(), tcpBlockedQueue_.end(),
                              [&](const auto& queued) { return request->isEqualToRequest(*queued); });
    if (equal != tcpBlockedQueue_.end()) tcpBlockedQueue_.erase(equal);
  }
  if (tcpBlockedQueue_.size() >= kBlockedQueueLimit) {
    logger()->log(DUVLevel::warn(),
                  "Too many queued tcp reqs, DROP request rid: " + std::to_string(tcpBlockedQueue_.front()->rid()));
    tcpBlockedQueue_.pop_front();
  }
  if (request->hasHighPriority())
    tcpBlockedQueue_.push_front(request);
  else
    tcpBlockedQueue_.push_back(request);
  if (tcpConnectionSocket_) tcpConnectionSocket_->setCareAllDataSent(true);
}

void DUVSession::onAckOrRespReceived(const DUVReceivedPacket& packet) {
  auto match = std::find_if(tcpSendingQueue_.begin(), tcpSendingQueue_.end(),
                            [&](const auto& request) { return request->rid() == packet.rid(); });
  if (match == tcpSendingQueue_.end()) return;
  // An answer also settles every older outstanding request.
  for (auto it = tcpSendingQueue_.begin(); it != match + 1; ++it) {
    logger()->logMessage(std::nullopt, "proc ack received for request rid: " + std::to_string((*it)->rid()),
                         &DUVLevel::debug());
    (*it)->stopAckTimeoutTimer();
  }
  tcpSendingQueue_.erase(tcpSendingQueue_.begin(), match + 1);
}

void DUVSession::onAckTimeoutForRequest(DUVRequest& request) {
  bool outstanding = std::any_of(tcpSendingQueue_.begin(), tcpSendingQueue_.end(),
                                 [&](const auto& queued) { return queued.get() == &request; });
  if (!outstanding) {
    logger()->logMessage("不在请求队列中ack超时", std::nullopt, &DUVLevel::warn());
    return;
  }
  logger()->logMessage("ack请求超时,断开连接", "ack timeout for request rid: " + std::to_string(request.rid()),
                       &DUVLevel::error());
  close();
}

void DUVSession::reenqueueSendingRequests() {
  std::size_t front = 0;
  for (auto& request : tcpSendingQueue_) {
    request->stopAckTimeoutTimer();
    if (!request->canBeQueuedIfNotLogin()) continue;
    if (tcpBlockedQueue_.size() >= kBlockedQueueLimit) {
      logger()->logMessage("等待请求队列过多", "Too many queued tcp reqs, DROP sending request rid: " +
                                                   std::to_string(request->rid()),
                           &DUVLevel::warn());
      continue;
    }
    tcpBlockedQueue_.insert(tcpBlockedQueue_.begin() + static_cast<long>(front++), request);
  }
  tcpSendingQueue_.clear();
}

void DUVSession::close() {
  if (!isSetup_) return;
  isSetup_ = false;
  if (isConnected_) {
    DUVPostNotification(kDUVNetworkDidCloseNotification);
    isConnected_ = false;
  }
  isLogin_ = false;
  registrationRid_.reset();
  loginRid_.reset();
  sessionID_ = 0;
  serverVersion_ = 0;
  stopHeartbeatTimer();
  reenqueueSendingRequests();
  if (tcpConnectionSocket_) tcpConnectionSocket_->close();
  tcpConnectionSocket_.reset();
  if (udpReportSocket_) udpReportSocket_->close();
  udpReportSocket_.reset();
  addressController_->stop();
  startDelaySetupTimer();
}

void DUVSession::startHeartbeatTimer() {
  stopHeartbeatTimer();
  std::weak_ptr<DUVSession> weak = weak_from_this();
  heartbeatTimer_ = os::Timer::scheduled(kHeartbeatInterval, true, [weak](os::Timer& fired) {
    auto self = weak.lock();
    if (self && self->heartbeatTimer_.lock().get() == &fired) self->doHeartbeat();
  });
}

void DUVSession::doHeartbeat() {
  if (!isLogin_) {
    logger()->logMessage(std::nullopt, "heart beat error!! on unlogin status", &DUVLevel::error());
    stopHeartbeatTimer();
    return;
  }
  // While reading is paused one heartbeat waiting for its answer stands for the next ones, which
  // would only pile up behind it.
  const bool waiting = std::any_of(tcpSendingQueue_.begin(), tcpSendingQueue_.end(), [](const auto& request) {
    return dynamic_cast<const DUVHeartbeatRequest*>(request.get()) != nullptr;
  });
  if (!isReading() && waiting) return;
  sendRequest(std::make_shared<DUVHeartbeatRequest>(getRId()));
}

void DUVSession::stopHeartbeatTimer() {
  if (auto timer = heartbeatTimer_.lock()) timer->invalidate();
  heartbeatTimer_.reset();
}

void DUVSession::startDelaySetupTimer() {
  stopDelaySetupTimer();
  double delay = kUnreachableDelay;
  if (networkStatus() != 0) {
    delay = kBackOff[std::min(delaySetupTimeIntervalIndex_, kBackOffSteps - 1)];
    if (delaySetupTimeIntervalIndex_ < kBackOffSteps) ++delaySetupTimeIntervalIndex_;
  }
  std::weak_ptr<DUVSession> weak = weak_from_this();
  delaySetupTimer_ = os::Timer::scheduled(delay, false, [weak](os::Timer& fired) {
    auto self = weak.lock();
    if (!self || self->delaySetupTimer_.lock().get() != &fired) return;
    self->delaySetupTimer_.reset();
    self->delaySetupInterval_ = 0;
    self->setup();
  });
  delaySetupInterval_ = delay;
  logger()->logMessage(std::nullopt, "session will setup delayed with time interval: " + std::to_string(delay),
                       &DUVLevel::debug());
}

void DUVSession::stopDelaySetupTimer() {
  if (auto timer = delaySetupTimer_.lock()) timer->invalidate();
  delaySetupTimer_.reset();
  delaySetupInterval_ = 0;
}

double DUVSession::pendingSetupDelay() const { return delaySetupTimer_.lock() ? delaySetupInterval_ : 0; }
