#pragma once
// The incoming frames of the TCP connection: a 6-byte header (u16 length, u8 version, u8 command,
// u16 request id) and the body. packetWithBuffer turns one whole frame into the object of its
// command; each object then tells its handler (the session) what it means.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "push/protocol/tcp/base/DUVNetElement.h"

class DUVReceivedPacket;
class DUVRegistrationResponse;
class DUVLoginResponse;
class DUVDeviceTokenReportResponse;
class DUVMessageDispatch;

// Who acts on received packets: the TCP session. Every operation is optional.
class DUVPacketHandler {
 public:
  virtual ~DUVPacketHandler() = default;
  // Any answer to a request: settles the requests waiting for it.
  virtual void onAckOrRespReceived(const DUVReceivedPacket& packet) {}
  virtual void onRegisterRespond(const DUVRegistrationResponse& response) {}
  virtual void onLoginRespond(const DUVLoginResponse& response) {}
  virtual void onDeviceTokenReported(const DUVDeviceTokenReportResponse& response) {}
  virtual void onMessageDispatch(const std::shared_ptr<DUVMessageDispatch>& message) {}
};

class DUVReceivedPacket : public DUVNetElement, public std::enable_shared_from_this<DUVReceivedPacket> {
 public:

  // A packet for one whole frame; nothing for a frame shorter than its header or than its
  // length field says, or for an unknown command (with an error line). Fields that run past the
  // frame's end read as 0, "" or nothing, and the packet is still made.
  static std::shared_ptr<DUVReceivedPacket> packetWithBuffer(const std::uint8_t* bytes, std::size_t length);
  // Bytes still missing from a frame of which `count` bytes are in.
  static std::size_t expectedBufferLen(const std::uint8_t* bytes, std::size_t count);

  virtual void handleReceipt(DUVPacketHandler& handler) {}

 protected:
  DUVReceivedPacket() = default;
  // Reads the header and then the body through the most derived class.
  void read(const std::uint8_t* bytes, std::size_t length);
  virtual void readBody(class DUVPacketReader& reader) {}
};

// A response: u16 status (0 success), the server's error text when it is not 0, and the
// response's own fields from offset 8 only on success.
class DUVResponse : public DUVReceivedPacket {
 public:
  static constexpr std::uint16_t kResponseStatusCodeSucceed = 0;
  std::uint16_t statusCode() const { return statusCode_; }
  const std::optional<std::string>& errorDescription() const { return errorDescription_; }

 protected:
  void readBody(DUVPacketReader& reader) override;
  virtual void readResponseFields(DUVPacketReader& reader) {}

 private:
  std::uint16_t statusCode_ = 0;
  std::optional<std::string> errorDescription_;
};
