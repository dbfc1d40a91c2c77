#pragma once
// Builds a binary wire frame with big-endian integers. Length fields that are known only at the end
// are written as a placeholder and patched in place with the put* operations.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "os/core/Data.h"
#include "os/core/Error.h"

namespace os {

class ByteWriter {
 public:
  ByteWriter() = default;
  explicit ByteWriter(std::size_t capacity) { data_.reserve(capacity); }

  std::size_t size() const { return data_.size(); }
  const Data& data() const& { return data_; }
  Data take() { return std::move(data_); }

  ByteWriter& u8(std::uint8_t v) { return append(v); }
  ByteWriter& u16(std::uint16_t v) { return append(v); }
  ByteWriter& u32(std::uint32_t v) { return append(v); }
  ByteWriter& u64(std::uint64_t v) { return append(v); }
  ByteWriter& bytes(const std::uint8_t* p, std::size_t n) {
    data_.insert(data_.end(), p, p + n);
    return *this;
  }
  ByteWriter& bytes(const Data& d) { return bytes(d.data(), d.size()); }
  ByteWriter& text(std::string_view s) { return bytes(reinterpret_cast<const std::uint8_t*>(s.data()), s.size()); }

  // Overwrites bytes already written; a field that would reach past the end raises, as patching
  // outside the frame is a fault of the caller.
  void putU16(std::size_t at, std::uint16_t v) { put(at, v); }
  void putU32(std::size_t at, std::uint32_t v) { put(at, v); }

 private:
  template <typename T>
  ByteWriter& append(T v) {
    for (int shift = 8 * (static_cast<int>(sizeof(T)) - 1); shift >= 0; shift -= 8)
      data_.push_back(static_cast<std::uint8_t>(v >> shift));
    return *this;
  }
  template <typename T>
  void put(std::size_t at, T v) {
    if (at > data_.size() || sizeof(T) > data_.size() - at)
      throw Exception(kRangeException, "field beyond the end of the written bytes");
    for (std::size_t i = 0; i < sizeof(T); ++i)
      data_[at + i] = static_cast<std::uint8_t>(v >> (8 * (sizeof(T) - 1 - i)));
  }

  Data data_;
};

}  // namespace os
