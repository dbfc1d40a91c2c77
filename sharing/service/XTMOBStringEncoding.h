#pragma once
// Binary to text over any power-of-two alphabet of ASCII characters (Base64, Base32, hex, ...),
// with optional padding to whole blocks. The sharing service's cipher writes its Base64 text with
// it.
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "os/core/Data.h"

class XTMOBStringEncoding {
 public:
  static constexpr int kUnknownChar = -1;
  static constexpr int kPaddingChar = -2;
  static constexpr int kIgnoreChar = -3;

  // The RFC 4648 Base64 alphabet with "=" padding.
  static std::shared_ptr<XTMOBStringEncoding> rfc4648Base64StringEncoding();
  // Absent unless the alphabet is ASCII, 2 to 128 characters long, a power of two, with no
  // character repeated.
  static std::shared_ptr<XTMOBStringEncoding> stringEncodingWithString(std::string_view alphabet);

  std::string encode(const os::Data& bytes) const;
  std::string encodeString(std::string_view text) const;

  void ignoreCharacters(std::string_view characters);
  bool doPad() const { return doPad_; }
  void setDoPad(bool pad) { doPad_ = pad; }
  void setPaddingChar(char c);
  std::string description() const;

  int reverseMapping(unsigned char c) const { return c < 128 ? reverseCharMap_[c] : kUnknownChar; }

 private:
  XTMOBStringEncoding() = default;

  std::string charMap_;
  std::array<int, 128> reverseCharMap_{};
  int shift_ = 0;
  unsigned mask_ = 0;
  bool doPad_ = false;
  char paddingChar_ = '=';
  int padLen_ = 0;
};

// Strict Base64 decoding of the standard alphabet: padding required, white space skipped, any
// other stray character, a short group or non-zero spare bits fail.
class OBSocialBase64 {
 public:
  static std::optional<os::Data> decodeData(const os::Data& bytes);
  static std::optional<os::Data> decodeBytes(const std::uint8_t* bytes, std::size_t length);
  // Absent for text that is not ASCII.
  static std::optional<os::Data> decodeString(std::string_view text);
};
