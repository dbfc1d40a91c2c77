#pragma once
// Command 3: a message pushed by the server, and command 4, its receipt.
#include "os/core/Value.h"
#include "push/protocol/tcp/base/DUVReceivedPacket.h"
#include "push/protocol/tcp/base/DUVRequest.h"

class DUVMessageDispatch : public DUVReceivedPacket {
 public:
  // The tags/alias answer travels as a message of this type.
  static constexpr std::uint8_t kTagAliasMessageType = 20;

  std::uint32_t fromUid() const { return fromUid_; }
  std::uint8_t messageType() const { return messageType_; }
  std::uint32_t messageID() const { return messageID_; }
  // The last line of the content.
  const std::optional<std::string>& messageContent() const { return messageContent_; }
  // What the application is told of the message: "title", "content" (the JSON's "message"),
  // "content_type" and "extras"; nothing for the tags/alias type or without "message".
  std::optional<os::Dictionary> getDispatchMessageUserInfo() const;
  void handleReceipt(DUVPacketHandler& handler) override;

 protected:
  void readBody(DUVPacketReader& reader) override;

 private:
  std::uint8_t messageType_ = 0;
  std::uint32_t fromUid_ = 0;
  std::uint32_t messageID_ = 0;
  std::optional<std::string> messageContent_;
};

// An answer to a received packet: its version and request id, its command plus one, status 0
// and this device's uid.
class DUVReceipt : public DUVRequest {
 public:
  DUVReceipt(const DUVReceivedPacket& received, std::uint32_t toUid)
      : DUVRequest(received.version(), static_cast<std::uint8_t>(received.protocolType() + 1),
                   kDUVLoginRequired | kDUVCanBeQueuedIfNotLogin, received.rid()),
        toUid_(toUid) {}
  std::uint16_t statusCode() const { return 0; }
  std::uint32_t toUid() const { return toUid_; }

 protected:
  bool packData(os::ByteWriter& buffer, const DUVPacketContext& context) override;

 private:
  std::uint32_t toUid_;
};

class DUVMessageReceipt : public DUVReceipt {
 public:
  DUVMessageReceipt(const DUVMessageDispatch& message, std::uint32_t toUid)
      : DUVReceipt(message, toUid), messageType_(message.messageType()), messageID_(message.messageID()) {}
  std::string name() const override { return "message receipt"; }
  // Receipts of different messages never replace one another.
  bool isEqualToRequest(const DUVRequest& other) const override { return &other == this; }

 protected:
  bool packData(os::ByteWriter& buffer, const DUVPacketContext& context) override;

 private:
  std::uint8_t messageType_;
  std::uint32_t messageID_;
};
