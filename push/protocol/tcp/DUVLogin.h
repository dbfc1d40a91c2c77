#pragma once
// Command 1: login with the registered identity, answered with the session id and the server's
// protocol version.
#include "push/protocol/tcp/base/DUVReceivedPacket.h"
#include "push/protocol/tcp/base/DUVRequest.h"

class DUVLoginRequest : public DUVRequest {
 public:
  explicit DUVLoginRequest(std::uint16_t rid)
      : DUVRequest(10, 1, kDUVAckOrRespRequired | kDUVExclusive | kDUVHighPriority, rid) {}
  std::string name() const override { return "login"; }

 protected:
  bool packData(os::ByteWriter& buffer, const DUVPacketContext& context) override;
};

class DUVLoginResponse : public DUVResponse {
 public:
  std::uint16_t serverVersion() const { return serverVersion_; }
  std::uint32_t sessionID() const { return sessionID_; }
  void handleReceipt(DUVPacketHandler& handler) override;

 protected:
  void readResponseFields(DUVPacketReader& reader) override;

 private:
  std::uint16_t serverVersion_ = 0;
  std::uint32_t sessionID_ = 0;
};

// Command 2: the heartbeat, a 14-byte frame carrying the uid.
class DUVHeartbeatRequest : public DUVRequest {
 public:
  explicit DUVHeartbeatRequest(std::uint16_t rid)
      : DUVRequest(2, 2, kDUVLoginRequired | kDUVHighPriority | kDUVAckOrRespRequiredForVersion1, rid) {}
  std::string name() const override { return "heartbeat"; }

 protected:
  bool packData(os::ByteWriter& buffer, const DUVPacketContext& context) override;
};
