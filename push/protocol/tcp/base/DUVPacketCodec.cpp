#include "push/protocol/tcp/base/DUVPacketCodec.h"

#include <cstring>

#include "os/core/String.h"
#include "push/utilities/DUVLogger.h"

namespace DUVMakePacket {

namespace {
bool appendBytes(os::ByteWriter& buffer, const std::uint8_t* bytes, std::size_t size) {
  // A count of 65536 or more cannot be told in 16 bits: sending its low bits would desynchronise
  // every later field.
  if (size > 0xFFFF) {
    DUVClassLogger("DUVRequest")->log(DUVLevel::error(), "packet field too long");
    return false;
  }
  buffer.u16(static_cast<std::uint16_t>(size));
  if (size) buffer.bytes(bytes, size);
  return true;
}
}  // namespace

bool appendString(os::ByteWriter& buffer, const std::optional<std::string>& text) {
  if (!text) return appendBytes(buffer, nullptr, 0);
  return appendBytes(buffer, reinterpret_cast<const std::uint8_t*>(text->data()), text->size());
}

bool appendDataWithLength(os::ByteWriter& buffer, const os::Data& bytes) {
  return appendBytes(buffer, bytes.data(), bytes.size());
}

bool setPacketLen(os::ByteWriter& buffer) {
  if (buffer.size() < 2) {
    DUVClassLogger("DUVRequest")->log(DUVLevel::error(), "packet too short");
    return false;
  }
  if (buffer.size() > 0xFFFF) {
    DUVClassLogger("DUVRequest")->log(DUVLevel::error(), "packet too long");
    return false;
  }
  buffer.putU16(0, static_cast<std::uint16_t>(buffer.size()));
  return true;
}

}  // namespace DUVMakePacket

std::optional<std::string> DUVPacketReader::string() {
  auto count = reader_.u16();
  if (!count) {
    overrun_ = true;
    return std::nullopt;
  }
  auto bytes = reader_.text(*count);
  if (!bytes) {
    overrun_ = true;
    return std::nullopt;
  }
  std::string text(bytes->data(), strnlen(bytes->data(), bytes->size()));
  if (!os::isValidUTF8(text)) return std::nullopt;
  return text;
}
