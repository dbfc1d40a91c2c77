#pragma once
// The byte layer of the TCP frames, on the platform's big-endian writer and reader: strings and
// blobs travel as a u16 byte count and the bytes; a frame's length is patched into its first two
// bytes once it is whole.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "os/core/ByteWriter.h"

namespace DUVMakePacket {
// False (nothing written) for a field of 65536 bytes or more, whose count would wrap.
bool appendString(os::ByteWriter& buffer, const std::optional<std::string>& text);
bool appendDataWithLength(os::ByteWriter& buffer, const os::Data& bytes);
// Writes the frame's length into its first two bytes; false, with an error line, for a frame
// shorter than 2 bytes or longer than 65535.
bool setPacketLen(os::ByteWriter& buffer);
}  // namespace DUVMakePacket

// Reads the fields of one received frame. Every read moves the position on by its width (a
// string also by its count) whether or not the field lies inside the frame, so a field that runs
// short never shifts the ones after it onto the wrong bytes: a number past the end reads as 0, a
// string whose bytes run past the end as nothing, and a string whose count can no longer be read
// as "".
class DUVPacketReader {
 public:
  DUVPacketReader(const std::uint8_t* bytes, std::size_t length, std::size_t position = 0)
      : bytes_(bytes), length_(length), position_(position) {}

  std::uint8_t u8() { return static_cast<std::uint8_t>(number(1)); }
  std::uint16_t u16() { return static_cast<std::uint16_t>(number(2)); }
  std::uint32_t u32() { return static_cast<std::uint32_t>(number(4)); }
  // A big-endian high half, then the low half, each read on its own: with only the high half
  // inside the frame the result is that half shifted up.
  std::uint64_t u64() {
    std::uint64_t high = u32();
    return (high << 32) | u32();
  }
  // "" for a count of 0; the text before the first NUL; nothing for bytes past the frame's end
  // or bytes that are not UTF-8.
  std::optional<std::string> string();

  std::size_t position() const { return position_; }

 private:
  std::uint64_t number(std::size_t width);

  const std::uint8_t* bytes_;
  std::size_t length_;
  // Not bounded by the frame: a field past its end leaves it there.
  std::size_t position_;
};
