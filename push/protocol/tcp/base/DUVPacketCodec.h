#pragma once
// The byte layer of the TCP frames, on the platform's big-endian writer and reader: strings and
// blobs travel as a u16 byte count and the bytes; a frame's length is patched into its first two
// bytes once it is whole.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "os/core/ByteReader.h"
#include "os/core/ByteWriter.h"

namespace DUVMakePacket {
// False (nothing written) for a field of 65536 bytes or more, whose count would wrap.
bool appendString(os::ByteWriter& buffer, const std::optional<std::string>& text);
bool appendDataWithLength(os::ByteWriter& buffer, const os::Data& bytes);
// Writes the frame's length into its first two bytes; false, with an error line, for a frame
// shorter than 2 bytes or longer than 65535.
bool setPacketLen(os::ByteWriter& buffer);
}  // namespace DUVMakePacket

// Reads the fields of one received frame. A number that runs past the frame reads as 0; a
// string whose count or bytes run past the frame marks the frame as overrun, and the packet is
// refused.
class DUVPacketReader {
 public:
  DUVPacketReader(const std::uint8_t* bytes, std::size_t length, std::size_t position = 0) : reader_(bytes, length) {
    reader_.seek(position);
  }

  std::uint8_t u8() { return reader_.u8().value_or(0); }
  std::uint16_t u16() { return reader_.u16().value_or(0); }
  std::uint32_t u32() { return reader_.u32().value_or(0); }
  // A big-endian high half, then the low half.
  std::uint64_t u64() {
    std::uint64_t high = u32();
    return (high << 32) | u32();
  }
  // "" for a count of 0; the text before the first NUL; nothing for bytes that are not UTF-8.
  std::optional<std::string> string();

  std::size_t position() const { return reader_.position(); }
  bool overrun() const { return overrun_; }

 private:
  os::ByteReader reader_;
  bool overrun_ = false;
};
