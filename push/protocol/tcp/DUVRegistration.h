#pragma once
// Command 0: registration of the device, answered with its uid, password and registration id.
#include "push/protocol/tcp/base/DUVReceivedPacket.h"
#include "push/protocol/tcp/base/DUVRequest.h"

class DUVRegistrationRequest : public DUVRequest {
 public:
  explicit DUVRegistrationRequest(std::uint16_t rid)
      : DUVRequest(8, 0, kDUVAckOrRespRequired | kDUVExclusive | kDUVHighPriority, rid) {}
  std::string name() const override { return "register"; }

 protected:
  bool packData(os::ByteWriter& buffer, const DUVPacketContext& context) override;
};

class DUVRegistrationResponse : public DUVResponse {
 public:
  std::uint32_t uid() const { return uid_; }
  const std::optional<std::string>& password() const { return password_; }
  const std::optional<std::string>& registrationID() const { return registrationID_; }
  void handleReceipt(DUVPacketHandler& handler) override;

 protected:
  void readResponseFields(DUVPacketReader& reader) override;

 private:
  std::uint32_t uid_ = 0;
  std::optional<std::string> password_;
  std::optional<std::string> registrationID_;
};
