// fuzz-link: push foundation os
// Received push frames: decoding, the message's user info and its receipt. Every decoded field
// must be what the wire layout puts at its offset (read independently here: big-endian, 0 past the
// end, each field after the one before whether or not it fit), and a message must survive being
// written again and read back.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "fuzz/support/FuzzSupport.h"
#include "push/protocol/tcp/DUVAck.h"
#include "push/protocol/tcp/DUVDeviceTokenReport.h"
#include "push/protocol/tcp/DUVLogin.h"
#include "push/protocol/tcp/DUVMessageDispatch.h"
#include "push/protocol/tcp/DUVRegistration.h"
#include "push/protocol/tcp/base/DUVPacketCodec.h"
#include "push/protocol/tcp/base/DUVReceivedPacket.h"

namespace {

// The reference reading of the layout: a field's offset follows from the widths before it.
struct Layout {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t at;
  std::uint64_t number(std::size_t width) {
    std::uint64_t value = 0;
    if (at + width <= size)
      for (std::size_t i = 0; i < width; ++i) value = (value << 8) | data[at + i];
    at += width;
    return value;
  }
  // The count, then the bytes: whether they lie inside the frame.
  bool stringFits() {
    std::size_t count = number(2);
    at += count;
    return count == 0 || at <= size;
  }
};

std::vector<fuzz::Seed> seeds() {
  auto frame = [](std::uint8_t command, const os::Data& body) {
    os::ByteWriter writer;
    writer.u16(0).u8(1).u8(command).u16(0x0102).bytes(body);
    DUVMakePacket::setPacketLen(writer);
    os::Data bytes = writer.take();
    return std::string(bytes.begin(), bytes.end());
  };
  os::ByteWriter message;
  message.u32(7).u8(0).u32(99);
  DUVMakePacket::appendString(message, R"(note
{"title":"T","message":"M","content_type":"news","extras":"{\"id\":3}"})");
  os::ByteWriter registered;
  registered.u16(0).u32(77);
  DUVMakePacket::appendString(registered, "secret");
  DUVMakePacket::appendString(registered, "0a1b2c");
  return {{"message", frame(3, message.take())},
          {"registered", frame(0, registered.take())},
          {"refused", frame(1, os::ByteWriter().u16(2).take())},
          {"login", frame(1, os::ByteWriter().u16(0).u32(9).u16(1).take())},
          {"ack", frame(19, os::ByteWriter().u8(2).u8(0).u8(0).u32(1).take())},
          {"token", frame(13, os::ByteWriter().u16(0).take())}};
}
FUZZ_SEEDS(seeds);

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  DUVReceivedPacket::expectedBufferLen(data, size);
  auto packet = DUVReceivedPacket::packetWithBuffer(data, size);
  bool known = size >= 6 && ((std::size_t{data[0]} << 8) | data[1]) <= size &&
               (data[3] == 0 || data[3] == 1 || data[3] == 3 || data[3] == 13 || data[3] == 19);
  fuzz::check(bool(packet) == known, "a frame was refused or taken against the header's rules");
  if (!packet) return 0;
  fuzz::check(packet->version() == data[2] && packet->protocolType() == data[3] &&
                  packet->rid() == ((data[4] << 8) | data[5]),
              "header fields differ from the frame");

  Layout layout{data, size, 6};
  if (auto response = std::dynamic_pointer_cast<DUVResponse>(packet)) {
    std::uint16_t status = static_cast<std::uint16_t>(layout.number(2));
    fuzz::check(response->statusCode() == status, "status differs from the frame");
    fuzz::check(status != 0 || !response->errorDescription(), "an error text on success");
    if (auto login = std::dynamic_pointer_cast<DUVLoginResponse>(packet); login && status == 0) {
      fuzz::check(login->sessionID() == layout.number(4), "session id differs from the frame");
      fuzz::check(login->serverVersion() == layout.number(2), "server version read from the wrong bytes");
    }
    if (auto registered = std::dynamic_pointer_cast<DUVRegistrationResponse>(packet); registered && status == 0) {
      fuzz::check(registered->uid() == layout.number(4), "uid differs from the frame");
      bool passwordFits = layout.stringFits();
      fuzz::check(passwordFits || !registered->password(), "a password read past the frame");
      bool idFits = layout.stringFits();
      fuzz::check(idFits || !registered->registrationID(), "a registration id read past the frame");
    }
  }
  if (auto ack = std::dynamic_pointer_cast<DUVAck>(packet)) {
    fuzz::check(ack->reqCmd() == layout.number(1) && ack->stepCode() == layout.number(1) &&
                    ack->statusCode() == layout.number(1),
                "ack fields differ from the frame");
    std::uint64_t high = layout.number(4);
    fuzz::check(ack->timestamp() == ((high << 32) | layout.number(4)), "timestamp differs from the frame");
  }
  if (auto message = std::dynamic_pointer_cast<DUVMessageDispatch>(packet)) {
    fuzz::check(message->fromUid() == layout.number(4) && message->messageType() == layout.number(1) &&
                    message->messageID() == layout.number(4),
                "message fields differ from the frame");
    fuzz::check(layout.stringFits() || !message->messageContent(), "content read past the frame");
    message->getDispatchMessageUserInfo();

    // The receipt answers the message: command + 1, its version and rid, type and id in the body.
    auto receipt = DUVMessageReceipt(*message, 0x01020304).packetData(DUVPacketContext{});
    fuzz::check(receipt && receipt->size() == 21, "a receipt is not 21 bytes");
    const os::Data& r = *receipt;
    fuzz::check(r[2] == data[2] && r[3] == static_cast<std::uint8_t>(data[3] + 1) && r[4] == data[4] &&
                    r[5] == data[5] && r[16] == message->messageType() &&
                    ((std::uint32_t{r[17]} << 24) | (r[18] << 16) | (r[19] << 8) | r[20]) == message->messageID(),
                "the receipt does not answer the message");

    // Written again, the message reads back the same.
    if (const auto& content = message->messageContent()) {
      os::ByteWriter again;
      again.u16(0).u8(message->version()).u8(3).u16(message->rid());
      again.u32(message->fromUid()).u8(message->messageType()).u32(message->messageID());
      DUVMakePacket::appendString(again, *content);
      DUVMakePacket::setPacketLen(again);
      os::Data bytes = again.take();
      auto back = std::dynamic_pointer_cast<DUVMessageDispatch>(DUVReceivedPacket::packetWithBuffer(bytes.data(), bytes.size()));
      fuzz::check(back && back->messageContent() == content && back->messageID() == message->messageID() &&
                      back->fromUid() == message->fromUid() && back->messageType() == message->messageType(),
                  "a message written again reads back differently");
    }
  }
  return 0;
}
