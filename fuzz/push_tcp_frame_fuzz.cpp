// fuzz-link: push foundation os
// Received push frames: decoding, the message's user info and its receipt.
#include <cstddef>
#include <cstdint>

#include "push/protocol/tcp/DUVMessageDispatch.h"
#include "push/protocol/tcp/base/DUVReceivedPacket.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  DUVReceivedPacket::expectedBufferLen(data, size);
  auto packet = DUVReceivedPacket::packetWithBuffer(data, size);
  if (auto message = std::dynamic_pointer_cast<DUVMessageDispatch>(packet)) {
    message->getDispatchMessageUserInfo();
    DUVMessageReceipt(*message, 1).packetData(DUVPacketContext{});
  }
  return 0;
}
