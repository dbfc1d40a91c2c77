#pragma once
// Command 19: the server's acknowledgement of a request, matched to it by request id.
#include "push/protocol/tcp/base/DUVReceivedPacket.h"

class DUVAck : public DUVReceivedPacket {
 public:
  std::uint8_t reqCmd() const { return reqCmd_; }
  std::uint8_t stepCode() const { return stepCode_; }
  std::uint8_t statusCode() const { return statusCode_; }
  std::uint64_t timestamp() const { return timestamp_; }
  void handleReceipt(DUVPacketHandler& handler) override { handler.onAckOrRespReceived(*this); }

 protected:
  void readBody(DUVPacketReader& reader) override;

 private:
  std::uint8_t reqCmd_ = 0;
  std::uint8_t stepCode_ = 0;
  std::uint8_t statusCode_ = 0;
  std::uint64_t timestamp_ = 0;
};
