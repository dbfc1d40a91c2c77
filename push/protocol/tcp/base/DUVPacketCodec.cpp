#include "push/protocol/tcp/base/DUVPacketCodec.h"

#include <cstring>

#include "os/core/String.h"
#include "push/utilities/DUVLogger.h"

namespace DUVMakePacket {

void appendInt8(os::Data& buffer, std::uint8_t value) { buffer.push_back(value); }

void appendInt16(os::Data& buffer, std::uint16_t value) {
  buffer.push_back(static_cast<std::uint8_t>(value >> 8));
  buffer.push_back(static_cast<std::uint8_t>(value));
}

void appendInt32(os::Data& buffer, std::uint32_t value) {
  appendInt16(buffer, static_cast<std::uint16_t>(value >> 16));
  appendInt16(buffer, static_cast<std::uint16_t>(value));
}

namespace {
bool appendBytes(os::Data& buffer, const std::uint8_t* bytes, std::size_t size) {
  // A count of 65536 or more cannot be told in 16 bits: sending its low bits would desynchronise
  // every later field.
  if (size > 0xFFFF) {
    DUVClassLogger("DUVRequest")->log(DUVLevel::error(), "packet field too long");
    return false;
  }
  appendInt16(buffer, static_cast<std::uint16_t>(size));
  buffer.insert(buffer.end(), bytes, bytes + size);
  return true;
}
}  // namespace

bool appendString(os::Data& buffer, const std::optional<std::string>& text) {
  if (!text) return appendBytes(buffer, nullptr, 0);
  return appendBytes(buffer, reinterpret_cast<const std::uint8_t*>(text->data()), text->size());
}

bool appendDataWithLength(os::Data& buffer, const os::Data& bytes) { return appendBytes(buffer, bytes.data(), bytes.size()); }

bool setPacketLen(os::Data& buffer) {
  if (buffer.size() < 2) {
    DUVClassLogger("DUVRequest")->log(DUVLevel::error(), "packet too short");
    return false;
  }
  if (buffer.size() > 0xFFFF) {
    DUVClassLogger("DUVRequest")->log(DUVLevel::error(), "packet too long");
    return false;
  }
  buffer[0] = static_cast<std::uint8_t>(buffer.size() >> 8);
  buffer[1] = static_cast<std::uint8_t>(buffer.size());
  return true;
}

}  // namespace DUVMakePacket

std::uint64_t DUVPacketReader::number(std::size_t width) {
  std::size_t at = position_;
  position_ += width;
  if (at > length_ || width > length_ - at) return 0;
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < width; ++i) value = (value << 8) | bytes_[at + i];
  return value;
}

std::uint64_t DUVPacketReader::u64() {
  std::uint64_t high = u32();
  return (high << 32) | u32();
}

std::optional<std::string> DUVPacketReader::string() {
  bool countFits = position_ <= length_ && length_ - position_ >= 2;
  std::size_t count = u16();
  if (!countFits) {
    overrun_ = true;
    return std::nullopt;
  }
  std::size_t at = position_;
  position_ += count;
  if (count == 0) return std::string();
  if (count > length_ - at) {
    overrun_ = true;
    return std::nullopt;
  }
  const char* start = reinterpret_cast<const char*>(bytes_ + at);
  std::string text(start, strnlen(start, count));
  if (!os::isValidUTF8(text)) return std::nullopt;
  return text;
}
