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

std::uint64_t DUVPacketReader::number(std::size_t width) {
  std::size_t start = position_;
  position_ += width;
  if (position_ > length_) return 0;
  std::uint64_t value = 0;
  for (std::size_t i = start; i < position_; ++i) value = (value << 8) | bytes_[i];
  return value;
}

std::optional<std::string> DUVPacketReader::string() {
  std::size_t count = u16();
  std::size_t start = position_;
  position_ += count;
  if (count == 0) return std::string();
  if (position_ > length_) return std::nullopt;
  const char* text = reinterpret_cast<const char*>(bytes_ + start);
  std::string value(text, strnlen(text, count));
  if (!os::isValidUTF8(value)) return std::nullopt;
  return value;
}
