#pragma once
// Reads big-endian integers and byte runs from a binary wire format. A read that would pass the end
// reads nothing: it answers nullopt, leaves the position where it was and marks the reader as having
// run short, so a truncated frame is reported instead of read as garbage.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "os/core/Data.h"

namespace os {

class ByteReader {
 public:
  ByteReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  // The reader borrows the bytes: they must outlive it.
  explicit ByteReader(const Data& data) : ByteReader(data.data(), data.size()) {}

  std::size_t size() const { return size_; }
  std::size_t position() const { return position_; }
  std::size_t remaining() const { return size_ - position_; }
  bool atEnd() const { return position_ == size_; }
  // True once any read or skip has run past the end.
  bool ranShort() const { return ranShort_; }

  // Moves to an absolute position; beyond the end it fails and stays put.
  bool seek(std::size_t position) {
    if (position > size_) return short_();
    position_ = position;
    return true;
  }
  bool skip(std::size_t count) {
    if (count > remaining()) return short_();
    position_ += count;
    return true;
  }

  std::optional<std::uint8_t> u8() { return read<std::uint8_t>(); }
  std::optional<std::uint16_t> u16() { return read<std::uint16_t>(); }
  std::optional<std::uint32_t> u32() { return read<std::uint32_t>(); }
  std::optional<std::uint64_t> u64() { return read<std::uint64_t>(); }

  std::optional<Data> bytes(std::size_t count) {
    if (count > remaining()) return short_(), std::nullopt;
    Data out(data_ + position_, data_ + position_ + count);
    position_ += count;
    return out;
  }
  // The bytes as they stand (no decoding); a view into the reader's buffer.
  std::optional<std::string_view> text(std::size_t count) {
    if (count > remaining()) return short_(), std::nullopt;
    std::string_view out(reinterpret_cast<const char*>(data_) + position_, count);
    position_ += count;
    return out;
  }

 private:
  template <typename T>
  std::optional<T> read() {
    if (sizeof(T) > remaining()) return short_(), std::nullopt;
    T value = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i) value = static_cast<T>((value << 8) | data_[position_ + i]);
    position_ += sizeof(T);
    return value;
  }
  bool short_() {
    ranShort_ = true;
    return false;
  }

  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t position_ = 0;
  bool ranShort_ = false;
};

}  // namespace os
