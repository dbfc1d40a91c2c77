#pragma once
// Command 13: the device token reported to the server.
#include "push/protocol/tcp/base/DUVReceivedPacket.h"
#include "push/protocol/tcp/base/DUVRequest.h"

class DUVDeviceTokenReportRequest : public DUVRequest {
 public:
  explicit DUVDeviceTokenReportRequest(std::uint16_t rid)
      : DUVRequest(2, 13, kDUVLoginRequired | kDUVExclusive | kDUVCanBeQueuedIfNotLogin, rid) {}
  std::string name() const override { return "device token"; }

 protected:
  bool packData(os::ByteWriter& buffer, const DUVPacketContext& context) override;
};

class DUVDeviceTokenReportResponse : public DUVResponse {
 public:
  void handleReceipt(DUVPacketHandler& handler) override;
};
