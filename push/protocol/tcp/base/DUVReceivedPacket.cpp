#include "push/protocol/tcp/base/DUVReceivedPacket.h"

#include "push/protocol/tcp/DUVAck.h"
#include "push/protocol/tcp/DUVDeviceTokenReport.h"
#include "push/protocol/tcp/DUVLogin.h"
#include "push/protocol/tcp/DUVMessageDispatch.h"
#include "push/protocol/tcp/DUVRegistration.h"
#include "push/protocol/tcp/base/DUVPacketCodec.h"
#include "push/utilities/DUVLogger.h"

namespace {
constexpr std::size_t kHeaderSize = 6;
}

std::size_t DUVReceivedPacket::expectedBufferLen(const std::uint8_t* bytes, std::size_t count) {
  if (count < kHeaderSize) return kHeaderSize - count;
  std::size_t announced = (std::size_t{bytes[0]} << 8) | bytes[1];
  return announced > count ? announced - count : 0;
}

std::shared_ptr<DUVReceivedPacket> DUVReceivedPacket::packetWithBuffer(const std::uint8_t* bytes, std::size_t length) {
  if (length < kHeaderSize) return nullptr;
  std::size_t announced = (std::size_t{bytes[0]} << 8) | bytes[1];
  if (announced > length) return nullptr;
  std::shared_ptr<DUVReceivedPacket> packet;
  switch (bytes[3]) {
    case 0: packet = std::make_shared<DUVRegistrationResponse>(); break;
    case 1: packet = std::make_shared<DUVLoginResponse>(); break;
    case 3: packet = std::make_shared<DUVMessageDispatch>(); break;
    case 13: packet = std::make_shared<DUVDeviceTokenReportResponse>(); break;
    case 19: packet = std::make_shared<DUVAck>(); break;
    default:
      DUVClassLogger("DUVReceivedPacket")
          ->logMessage("receive unrecognized command", "unrecognized command " + std::to_string(bytes[3]),
                       &DUVLevel::error());
      return nullptr;
  }
  packet->read(bytes, length);
  return packet;
}

void DUVReceivedPacket::read(const std::uint8_t* bytes, std::size_t length) {
  DUVPacketReader reader(bytes, length, 2);
  setVersion(reader.u8());
  setProtocolType(reader.u8());
  setRid(reader.u16());
  readBody(reader);
}

void DUVResponse::readBody(DUVPacketReader& reader) {
  statusCode_ = reader.u16();
  if (statusCode_ != kResponseStatusCodeSucceed)
    errorDescription_ = reader.string();
  else
    readResponseFields(reader);
}
