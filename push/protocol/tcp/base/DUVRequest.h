#pragma once
// The outgoing commands of the TCP connection. A frame is a 10-byte header (u16 length, u8
// version, u8 command, u16 request id, u32 session id) and the command's body, built afresh on
// every send so that it carries the session id current at that time. The control flags tell the
// session how to send the request.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "os/core/ByteWriter.h"
#include "os/core/Data.h"
#include "push/protocol/tcp/base/DUVNetElement.h"

namespace os {
class Timer;
}

// What the bodies carry of the client: its identity, configuration and device facts, read when
// the frame is built.
struct DUVPacketContext {
  std::uint32_t sessionId = 0;
  std::uint32_t uid = 0;
  std::optional<std::string> password;
  std::string appkey;
  std::string sharedUdid;
  std::optional<std::string> currentDeviceToken;
  std::string bundleIdentifier;
  std::uint32_t bundleVersion = 0;
  std::string systemVersion;
  std::string modelName;
  std::string pushChanel;
  int configApsEnvironment = 0;
  int apsEvironment = 0;
};

enum DUVControlFlag : std::uint8_t {
  kDUVLoginRequired = 1,
  kDUVAckOrRespRequired = 2,
  kDUVExclusive = 4,
  kDUVHighPriority = 8,
  kDUVCanBeQueuedIfNotLogin = 16,
  kDUVAckOrRespRequiredForVersion1 = 32,
};

class DUVRequest : public DUVNetElement, public std::enable_shared_from_this<DUVRequest> {
 public:
  ~DUVRequest() override;

  std::uint8_t controlFlag() const { return controlFlag_; }
  void setControlFlag(std::uint8_t flag) { controlFlag_ = flag; }

  // The whole frame, or nothing when the body cannot be written or the frame would not fit.
  std::optional<os::Data> packetData(const DUVPacketContext& context);

  bool loginRequired() const { return controlFlag_ & kDUVLoginRequired; }
  bool ackOrRespRequired() const { return controlFlag_ & kDUVAckOrRespRequired; }
  bool isExclusive() const { return controlFlag_ & kDUVExclusive; }
  bool hasHighPriority() const { return controlFlag_ & kDUVHighPriority; }
  bool canBeQueuedIfNotLogin() const { return controlFlag_ & kDUVCanBeQueuedIfNotLogin; }
  bool ackOrRespRequiredForVersion1() const { return controlFlag_ & kDUVAckOrRespRequiredForVersion1; }

  // An exclusive request replaces a queued one it equals: by default, one of the same command.
  virtual bool isEqualToRequest(const DUVRequest& other) const;
  // A short name for the log.
  virtual std::string name() const = 0;

  // A one-shot 10-second timer on the current run loop; `onTimeout` runs when it fires while it
  // is still the request's current timer.
  void startAckTimeoutTimer(std::function<void(DUVRequest&)> onTimeout);
  void stopAckTimeoutTimer();
  bool isWaitingForAck() const;

 protected:
  DUVRequest(std::uint8_t version, std::uint8_t command, std::uint8_t flags, std::uint16_t rid)
      : DUVNetElement(version, command, rid), controlFlag_(flags) {}
  // Appends the body; false when it cannot be written.
  virtual bool packData(os::ByteWriter& buffer, const DUVPacketContext& context) = 0;

 private:
  std::uint8_t controlFlag_;
  std::weak_ptr<os::Timer> ackTimeoutTimer_;
};
