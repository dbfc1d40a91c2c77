#include "push/network/socket/DUVUdpSocket.h"

#include <cerrno>

#include "os/net/Socket.h"
#include "os/runtime/RunLoop.h"
#include "os/runtime/Timer.h"
#include "push/network/socket/DUVSocketAddress.h"
#include "push/utilities/DUVLogger.h"

namespace {
std::shared_ptr<DUVLogger> logger() { return DUVClassLogger("DUVUdpSocket"); }
}  // namespace

std::shared_ptr<DUVUdpSocket> DUVUdpSocket::create(std::weak_ptr<DUVUdpSocketDelegate> delegate) {
  auto self = std::make_shared<DUVUdpSocket>(PrivateTag{}, std::move(delegate));
  self->loop_ = os::RunLoop::current();
  self->isSetuped_ = true;
  auto socket = os::UdpSocket::create();
  if (!socket) {
    logger()->log(DUVLevel::error(), "create udp socket error: errocode " + std::to_string(errno));
    return self;
  }
  std::weak_ptr<DUVUdpSocket> weak = self;
  os::Socket::Callbacks callbacks;
  callbacks.readable = [weak] {
    if (auto s = weak.lock()) s->doRecv();
  };
  callbacks.writable = [weak] {
    if (auto s = weak.lock()) s->doSend();
  };
  if (socket->schedule(self->loop_.lock(), callbacks)) self->socket_ = socket;
  return self;
}

DUVUdpSocket::~DUVUdpSocket() {
  if (auto timer = recvTimeoutTimer_.lock()) timer->invalidate();
  for (auto& packet : sendQueue_)
    if (packet->timeoutTimer) packet->timeoutTimer->invalidate();
  if (socket_) socket_->close();
}

template <class Call>
void DUVUdpSocket::deferToDelegate(Call call) {
  auto loop = loop_.lock();
  if (!loop) return;
  auto self = shared_from_this();
  loop->post([self, call] {
    if (auto delegate = self->delegate_.lock()) call(*delegate, *self);
  });
}

bool DUVUdpSocket::connectToHost(const std::string& host, std::uint16_t port) {
  if (!socket_ || isConnected_) return false;
  auto address = DUVSocketAddress(host, port);
  if (!address || !socket_->connectTo(*address)) return false;
  logger()->log(DUVLevel::debug(), "udp socket connected to host: " + host + ":" + std::to_string(port));
  isConnected_ = true;
  return true;
}

bool DUVUdpSocket::sendData(const os::Data& data, const std::optional<std::string>& host, std::uint16_t port,
                            double timeout) {
  if (!socket_ || !socket_->isValid()) return false;
  auto packet = std::make_shared<Packet>();
  packet->buffer = data;
  if (host && port) {
    packet->host = host;
    packet->port = port;
  }
  auto loop = loop_.lock();
  if (timeout > 0.001 && loop) {
    std::weak_ptr<DUVUdpSocket> weak = weak_from_this();
    std::weak_ptr<Packet> weakPacket = packet;
    packet->timeoutTimer = os::Timer::scheduled(*loop, timeout, false, [weak, weakPacket](os::Timer&) {
      auto self = weak.lock();
      auto p = weakPacket.lock();
      if (self && p) self->timeoutWithUdpPacket(p);
    });
  }
  sendQueue_.push_back(packet);
  reenableSocketCallbacks();
  return true;
}

void DUVUdpSocket::timeoutWithUdpPacket(const std::shared_ptr<Packet>& packet) {
  auto it = std::find(sendQueue_.begin(), sendQueue_.end(), packet);
  if (it == sendQueue_.end()) return;
  sendQueue_.erase(it);
  packet->timeoutTimer.reset();
  if (auto delegate = delegate_.lock()) delegate->didNotSendData(packet->buffer, *this);
}

void DUVUdpSocket::receiveDataWithTimeout(double timeout) {
  stopReceiveTimeoutTimer();
  auto loop = loop_.lock();
  if (!loop) return;
  std::weak_ptr<DUVUdpSocket> weak = weak_from_this();
  auto timer = os::Timer::scheduled(*loop, timeout, false, [weak](os::Timer& fired) {
    auto self = weak.lock();
    if (!self || self->recvTimeoutTimer_.lock().get() != &fired) return;
    self->recvTimeoutTimer_.reset();
    if (auto delegate = self->delegate_.lock()) delegate->didNotReceivedData(*self, os::Error(kDUVUdpTimeOutDomain, 0));
  });
  recvTimeoutTimer_ = timer;
  reenableSocketCallbacks();
}

void DUVUdpSocket::stopReceiveTimeoutTimer() {
  if (auto timer = recvTimeoutTimer_.lock()) timer->invalidate();
  recvTimeoutTimer_.reset();
}

void DUVUdpSocket::reenableSocketCallbacks() {
  if (socket_ && socket_->isValid() && !sendQueue_.empty()) socket_->enableWriteCallback();
}

void DUVUdpSocket::doSend() {
  if (sendQueue_.empty() || !socket_) return;
  auto packet = sendQueue_.front();
  sendQueue_.pop_front();
  if (packet->timeoutTimer) packet->timeoutTimer->invalidate();
  long written = -1;
  if (isConnected_) {
    written = socket_->send(packet->buffer.data(), packet->buffer.size());
  } else if (auto address = packet->host ? DUVSocketAddress(*packet->host, packet->port) : std::nullopt) {
    written = socket_->sendTo(packet->buffer.data(), packet->buffer.size(), *address);
  } else {
    errno = EDESTADDRREQ;
  }
  os::Data bytes = packet->buffer;
  if (written < 0) {
    logger()->log(DUVLevel::error(), "udp send error occured: errocode " + std::to_string(errno));
    close();
    deferToDelegate([bytes](DUVUdpSocketDelegate& d, DUVUdpSocket& s) { d.didNotSendData(bytes, s); });
    return;
  }
  if (static_cast<std::size_t>(written) != bytes.size()) {
    logger()->log(DUVLevel::warn(), "udp send warning : send bytes " + std::to_string(written));
    deferToDelegate([bytes](DUVUdpSocketDelegate& d, DUVUdpSocket& s) { d.didNotSendData(bytes, s); });
  } else {
    deferToDelegate([bytes](DUVUdpSocketDelegate& d, DUVUdpSocket& s) { d.didSendData(bytes, s); });
  }
  reenableSocketCallbacks();
}

void DUVUdpSocket::doRecv() {
  if (!socket_) return;
  auto datagram = socket_->receiveFrom(kDUVUdpReceiveBufferSize);
  if (!datagram) {
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return;
    int error = errno;
    logger()->log(DUVLevel::error(), "udp read error occured: errocode " + std::to_string(error));
    close();
    deferToDelegate([error](DUVUdpSocketDelegate& d, DUVUdpSocket& s) {
      d.didNotReceivedData(s, os::Error(kDUVUdpSysErrorDomain, error));
    });
    return;
  }
  os::Data bytes = std::move(*datagram);
  deferToDelegate([bytes](DUVUdpSocketDelegate& d, DUVUdpSocket& s) { d.didReceivedData(bytes, s); });
}

void DUVUdpSocket::close() {
  if (!isSetuped_) return;
  logger()->log(DUVLevel::debug(), "close udp socket");
  isSetuped_ = false;
  for (auto& packet : sendQueue_)
    if (packet->timeoutTimer) packet->timeoutTimer->invalidate();
  sendQueue_.clear();
  // The receive timer goes on: its time-out still reaches a user that holds the socket (every
  // user here checks which socket speaks, or has let it go).
  if (socket_) socket_->close();
  socket_.reset();
  isConnected_ = false;
}
