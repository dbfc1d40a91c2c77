#pragma once
// The byte layer of the TCP frames: big-endian writers that build an outgoing frame in one
// buffer, and a reader over a received frame. Strings and blobs travel as a u16 byte count and
// the bytes.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "os/core/Data.h"

namespace DUVMakePacket {
void appendInt8(os::Data& buffer, std::uint8_t value);
void appendInt16(os::Data& buffer, std::uint16_t value);
void appendInt32(os::Data& buffer, std::uint32_t value);
// False (nothing written) for a field of 65536 bytes or more, whose count would wrap.
bool appendString(os::Data& buffer, const std::optional<std::string>& text);
bool appendDataWithLength(os::Data& buffer, const os::Data& bytes);
// Writes the buffer's length into its first two bytes; false, with an error line, for a frame
// shorter than 2 bytes or longer than 65535.
bool setPacketLen(os::Data& buffer);
}  // namespace DUVMakePacket

// Reads the fields of one received frame. A number that runs past the frame reads as 0; a
// string whose count runs past the frame marks the frame as overrun, and the packet is refused.
class DUVPacketReader {
 public:
  DUVPacketReader(const std::uint8_t* bytes, std::size_t length, std::size_t position = 0)
      : bytes_(bytes), length_(length), position_(position) {}

  std::uint8_t u8() { return static_cast<std::uint8_t>(number(1)); }
  std::uint16_t u16() { return static_cast<std::uint16_t>(number(2)); }
  std::uint32_t u32() { return static_cast<std::uint32_t>(number(4)); }
  // A big-endian high half, then the low half.
  std::uint64_t u64();
  // "" for a count of 0; the text before the first NUL; nothing for bytes that are not UTF-8
  // or that run past the frame.
  std::optional<std::string> string();

  std::size_t position() const { return position_; }
  bool overrun() const { return overrun_; }

 private:
  std::uint64_t number(std::size_t width);

  const std::uint8_t* bytes_;
  std::size_t length_;
  std::size_t position_;
  bool overrun_ = false;
};
