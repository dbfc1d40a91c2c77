#include "push/protocol/tcp/base/DUVRequest.h"

#include "os/runtime/Timer.h"
#include "push/protocol/tcp/base/DUVPacketCodec.h"
#include "push/utilities/DUVLogger.h"

DUVRequest::~DUVRequest() { stopAckTimeoutTimer(); }

std::optional<os::Data> DUVRequest::packetData(const DUVPacketContext& context) {
  os::ByteWriter buffer(128);
  buffer.u16(0).u8(version()).u8(protocolType()).u16(rid()).u32(context.sessionId);  // length patched in last
  if (!packData(buffer, context)) return std::nullopt;
  if (!DUVMakePacket::setPacketLen(buffer)) return std::nullopt;
  return buffer.take();
}

bool DUVRequest::isEqualToRequest(const DUVRequest& other) const { return other.protocolType() == protocolType(); }

void DUVRequest::startAckTimeoutTimer(std::function<void(DUVRequest&)> onTimeout) {
  stopAckTimeoutTimer();
  std::weak_ptr<DUVRequest> weak = weak_from_this();
  auto timer = os::Timer::scheduled(10.0, false, [weak, onTimeout](os::Timer& fired) {
    auto self = weak.lock();
    if (!self) return;
    auto current = self->ackTimeoutTimer_.lock();
    if (current.get() != &fired) return;
    self->ackTimeoutTimer_.reset();
    onTimeout(*self);
  });
  ackTimeoutTimer_ = timer;
  DUVClassLogger("DUVRequest")
      ->logMessage(std::nullopt, "start ack timeout timer for rid " + std::to_string(rid()), &DUVLevel::debug());
}

void DUVRequest::stopAckTimeoutTimer() {
  if (auto timer = ackTimeoutTimer_.lock()) timer->invalidate();
  ackTimeoutTimer_.reset();
}

bool DUVRequest::isWaitingForAck() const {
  auto timer = ackTimeoutTimer_.lock();
  return timer && timer->isValid();
}
