#include "push/network/socket/DUVTcpSocket.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>

#include "os/net/Socket.h"
#include "os/runtime/RunLoop.h"
#include "push/network/socket/DUVSocketAddress.h"
#include "push/protocol/tcp/base/DUVReceivedPacket.h"
#include "push/utilities/DUVLogger.h"

namespace {
constexpr std::size_t kPrefixSize = 2;
// What one wake-up of the client thread's loop reads at most: the frames read are handed on by
// posts to the same loop, which it runs only once the read returns.
constexpr std::size_t kReadPerWake = 64 * 1024;
// What one read of the socket asks for.
constexpr std::size_t kReadSize = 16 * 1024;
// What one send gathers of the queued buffers at most.
constexpr std::size_t kSendGather = 64 * 1024;
std::shared_ptr<DUVLogger> logger() { return DUVClassLogger("DUVTcpSocket"); }
}  // namespace

std::shared_ptr<DUVTcpSocket> DUVTcpSocket::create(std::string host, std::uint16_t port,
                                                   std::weak_ptr<DUVTcpSocketDelegate> delegate) {
  return std::make_shared<DUVTcpSocket>(PrivateTag{}, std::move(host), port, std::move(delegate));
}

DUVTcpSocket::DUVTcpSocket(PrivateTag, std::string host, std::uint16_t port, std::weak_ptr<DUVTcpSocketDelegate> delegate)
    : host_(std::move(host)), port_(port), delegate_(std::move(delegate)) {}

DUVTcpSocket::~DUVTcpSocket() {
  if (socket_) socket_->close();
}

template <class Call>
void DUVTcpSocket::deferToDelegate(Call call) {
  auto loop = loop_.lock();
  if (!loop) return;
  // The socket stays alive until its delegate heard it, as a perform keeps its target.
  auto self = shared_from_this();
  loop->post([self, call] {
    if (auto delegate = self->delegate_.lock()) call(*delegate, *self);
  });
}

bool DUVTcpSocket::setup() {
  if (connectionState_ != kClosed) return true;
  if (isSetuped_ || socket_) return false;
  auto socket = os::TcpSocket::create();
  if (!socket) {
    logger()->log(DUVLevel::error(), "create tcp socket error: errocode " + std::to_string(errno));
    return false;
  }
  auto loop = os::RunLoop::current();
  loop_ = loop;
  std::weak_ptr<DUVTcpSocket> weak = weak_from_this();
  os::Socket::Callbacks callbacks;
  callbacks.connected = [weak](int error) {
    if (auto self = weak.lock()) self->onConnectedWithErrorCode(error);
  };
  callbacks.readable = [weak] {
    if (auto self = weak.lock()) self->doRead();
  };
  callbacks.writable = [weak] {
    if (auto self = weak.lock()) self->doSend();
  };
  auto address = DUVSocketAddress(host_, port_);
  if (!address || !socket->schedule(loop, callbacks) || !socket->connect(*address)) {
    socket->close();
    return false;
  }
  socket->setReceiveTimeout(10);
  socket_ = socket;
  isSetuped_ = true;
  connectionState_ = kConnecting;
  return true;
}

void DUVTcpSocket::onConnectedWithErrorCode(int error) {
  if (error) {
    logger()->log(DUVLevel::error(), "连接主机失败: " + std::to_string(error));
    close();
    return;
  }
  if (connectionState_ != kConnecting) return;
  connectionState_ = kConnected;
  logger()->log(DUVLevel::debug(), "连接主机成功");
  deferToDelegate([](DUVTcpSocketDelegate& d, DUVTcpSocket& s) { d.connectionDidSetup(s); });
  reenableSocketCallbacks();
}

void DUVTcpSocket::resetReadInfo() {
  prefixReceived_ = 0;
  packageSize_ = 0;
  bodyReceived_ = 0;
}

long DUVTcpSocket::take(std::uint8_t* into, std::size_t length, std::size_t& taken) {
  if (inboxAt_ == inboxEnd_) {
    if (inbox_.empty()) inbox_.resize(kReadSize);
    // Bounded per wake-up; the socket stays readable, so the rest is read on the next pass.
    if (taken >= kReadPerWake) {
      errno = EAGAIN;
      return -1;
    }
    const long count = socket_->receive(inbox_.data(), inbox_.size());
    if (count <= 0) return count;
    inboxAt_ = 0;
    inboxEnd_ = static_cast<std::size_t>(count);
    taken += static_cast<std::size_t>(count);
    // A short read emptied the socket: asking again would only return EAGAIN.
    drained_ = inboxEnd_ < inbox_.size();
  }
  const std::size_t count = std::min(length, inboxEnd_ - inboxAt_);
  std::memcpy(into, inbox_.data() + inboxAt_, count);
  inboxAt_ += count;
  return static_cast<long>(count);
}

void DUVTcpSocket::doRead() {
  // One callback takes the frames waiting, up to a bounded amount: a peer that never stops
  // sending must not keep the loop from delivering what was read, holding it all meanwhile. The
  // socket is read a buffer at a time, not a frame, and the frames one callback cut reach the
  // delegate together, in one hand-over to the loop.
  std::vector<std::shared_ptr<DUVReceivedPacket>> elements;
  std::size_t taken = 0;
  drained_ = false;
  // What was read is cut whole before the callback returns: nothing waits in the buffer for a
  // readiness the socket may never report again.
  while (socket_ && (inboxAt_ < inboxEnd_ || (reading_ && !drained_))) {
    long count;
    if (prefixReceived_ < kPrefixSize) {
      count = take(prefix_ + prefixReceived_, kPrefixSize - prefixReceived_, taken);
    } else {
      count = take(receivingBuffer_.data() + kPrefixSize + bodyReceived_, packageSize_ - kPrefixSize - bodyReceived_,
                   taken);
    }
    if (count == 0) {
      logger()->log(DUVLevel::debug(), "tcp connection closed by remote");
      deliver(std::move(elements));
      close();
      return;
    }
    if (count < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) break;
      logger()->log(DUVLevel::error(), "tcp read error occured: errocode " + std::to_string(errno));
      deliver(std::move(elements));
      close();
      return;
    }
    if (prefixReceived_ < kPrefixSize) {
      prefixReceived_ += static_cast<std::size_t>(count);
      if (prefixReceived_ < kPrefixSize) continue;
      packageSize_ = (std::size_t{prefix_[0]} << 8) | prefix_[1];
      // A length that does not even cover itself cannot be a frame: the stream has lost its
      // framing. A frame too short for its header is still a frame; it is read and yields nothing.
      if (packageSize_ < kPrefixSize) {
        logger()->log(DUVLevel::error(), "tcp protocol error: frame length " + std::to_string(packageSize_));
        deliver(std::move(elements));
        close();
        return;
      }
      if (packageSize_ > receivingBuffer_.size()) {
        logger()->log(DUVLevel::debug(), "read stream error ");
        receivingBuffer_.resize(packageSize_);
      }
      receivingBuffer_[0] = prefix_[0];
      receivingBuffer_[1] = prefix_[1];
    } else {
      bodyReceived_ += static_cast<std::size_t>(count);
    }
    if (bodyReceived_ + kPrefixSize < packageSize_) continue;
    auto element = DUVReceivedPacket::packetWithBuffer(receivingBuffer_.data(), packageSize_);
    resetReadInfo();
    if (element) elements.push_back(std::move(element));
  }
  deliver(std::move(elements));
}

void DUVTcpSocket::deliver(std::vector<std::shared_ptr<DUVReceivedPacket>> elements) {
  if (elements.empty()) return;
  deferToDelegate([elements = std::move(elements)](DUVTcpSocketDelegate& d, DUVTcpSocket& s) {
    for (const auto& element : elements) d.connectionDidReceiveElement(s, element);
  });
}

void DUVTcpSocket::setReading(bool reading) {
  reading_ = reading;
  if (socket_) socket_->setReadCallbackEnabled(reading);
}

bool DUVTcpSocket::sendData(const os::Data& data) {
  if (!isConnected()) return false;
  sendQueue_.push_back(data);
  reenableSocketCallbacks();
  return true;
}

void DUVTcpSocket::setCareAllDataSent(bool care) {
  careAllDataSent_ = care;
  if (care) reenableSocketCallbacks();
}

void DUVTcpSocket::reenableSocketCallbacks() {
  if (socket_ && socket_->isValid() && isConnected() && (careAllDataSent_ || !sendQueue_.empty()))
    socket_->enableWriteCallback();
}

void DUVTcpSocket::doSend() {
  if (!socket_) return;
  if (sendQueue_.empty()) {
    reenableSocketCallbacks();
    deferToDelegate([](DUVTcpSocketDelegate& d, DUVTcpSocket& s) { d.connectionSendQueueEmpty(s); });
    return;
  }
  // Buffers queued meanwhile (a receipt for each pushed message of a burst, say) go out together:
  // one send for them all, not a send and a pass of the loop each.
  const os::Data& front = sendQueue_.front();
  const std::uint8_t* bytes = front.data() + sendingDataSentLen_;
  std::size_t length = front.size() - sendingDataSentLen_;
  if (sendQueue_.size() > 1 && length < kSendGather) {
    gathered_.assign(bytes, bytes + length);
    for (auto it = std::next(sendQueue_.begin()); it != sendQueue_.end() && gathered_.size() < kSendGather; ++it)
      gathered_.insert(gathered_.end(), it->begin(), it->end());
    bytes = gathered_.data();
    length = gathered_.size();
  }
  long written = socket_->send(bytes, length);
  if (written < 0) {
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return reenableSocketCallbacks();
    logger()->log(DUVLevel::debug(), "tcp send data error :" + std::to_string(errno));
    close();
    return;
  }
  std::size_t left = static_cast<std::size_t>(written);
  std::vector<os::Data> sent;
  while (!sendQueue_.empty()) {
    const std::size_t rest = sendQueue_.front().size() - sendingDataSentLen_;
    if (left < rest) {
      sendingDataSentLen_ += left;
      break;
    }
    left -= rest;
    sent.push_back(std::move(sendQueue_.front()));
    sendQueue_.pop_front();
    sendingDataSentLen_ = 0;
  }
  if (!sent.empty())
    deferToDelegate([sent = std::move(sent)](DUVTcpSocketDelegate& d, DUVTcpSocket& s) {
      for (const auto& data : sent) d.connectionDidSendData(s, data);
    });
  reenableSocketCallbacks();
}

void DUVTcpSocket::close() {
  if (!isSetuped_) return;
  logger()->log(DUVLevel::debug(), "关闭TCP连接");
  isSetuped_ = false;
  if (socket_) socket_->close();
  socket_.reset();
  resetReadInfo();
  inboxAt_ = inboxEnd_ = 0;
  sendingDataSentLen_ = 0;
  sendQueue_.clear();
  if (connectionState_ != kClosed) {
    connectionState_ = kClosed;
    deferToDelegate([](DUVTcpSocketDelegate& d, DUVTcpSocket& s) { d.connectionDidClose(s); });
  }
}

std::optional<std::string> DUVTcpSocket::localAddress() const {
  return socket_ && isConnected() ? socket_->localAddress() : std::nullopt;
}

std::optional<std::string> DUVTcpSocket::remoteAddress() const {
  return socket_ && isConnected() ? socket_->remoteAddress() : std::nullopt;
}
