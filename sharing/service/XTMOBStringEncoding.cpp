#include "sharing/service/XTMOBStringEncoding.h"

#include <cstdio>
#include <numeric>

#include "os/core/String.h"

namespace {

constexpr std::string_view kBase64Alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

}  // namespace

std::shared_ptr<XTMOBStringEncoding> XTMOBStringEncoding::rfc4648Base64StringEncoding() {
  auto encoding = stringEncodingWithString(kBase64Alphabet);
  encoding->setPaddingChar('=');
  encoding->setDoPad(true);
  return encoding;
}

std::shared_ptr<XTMOBStringEncoding> XTMOBStringEncoding::stringEncodingWithString(std::string_view alphabet) {
  std::size_t length = alphabet.size();
  if (length < 2 || length > 128 || (length & (length - 1)) != 0) return nullptr;
  std::shared_ptr<XTMOBStringEncoding> encoding(new XTMOBStringEncoding());
  encoding->reverseCharMap_.fill(kUnknownChar);
  for (std::size_t i = 0; i < length; ++i) {
    auto c = static_cast<unsigned char>(alphabet[i]);
    if (c >= 128 || encoding->reverseCharMap_[c] != kUnknownChar) return nullptr;
    encoding->reverseCharMap_[c] = static_cast<int>(i);
  }
  encoding->charMap_ = std::string(alphabet);
  while ((1u << encoding->shift_) < length) ++encoding->shift_;
  encoding->mask_ = (1u << encoding->shift_) - 1;
  encoding->padLen_ = std::lcm(8, encoding->shift_) / encoding->shift_;
  return encoding;
}

std::string XTMOBStringEncoding::encode(const os::Data& bytes) const {
  // Padded standard Base64 is what os writes everywhere else; only other alphabets need the loop.
  if (doPad_ && paddingChar_ == '=' && charMap_ == kBase64Alphabet)
    return os::base64Encoded(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  if (bytes.empty()) return "";
  std::size_t outLength = (bytes.size() * 8 + shift_ - 1) / shift_;
  if (doPad_) outLength = (outLength + padLen_ - 1) / padLen_ * padLen_;
  std::string out;
  out.reserve(outLength);
  std::uint32_t buffer = bytes[0];
  int bits = 8;
  std::size_t next = 1;
  while (bits > 0 || next < bytes.size()) {
    if (bits < shift_) {
      if (next < bytes.size()) {
        buffer = (buffer << 8) | bytes[next++];
        bits += 8;
      } else {
        buffer <<= shift_ - bits;
        bits = shift_;
      }
    }
    out += charMap_[(buffer >> (bits - shift_)) & mask_];
    bits -= shift_;
    buffer &= (1u << bits) - 1;
  }
  if (doPad_) out.append(outLength - out.size(), paddingChar_);
  return out;
}

std::string XTMOBStringEncoding::encodeString(std::string_view text) const {
  return encode(os::Data(text.begin(), text.end()));
}

void XTMOBStringEncoding::ignoreCharacters(std::string_view characters) {
  for (char c : characters)
    if (static_cast<unsigned char>(c) < 128) reverseCharMap_[static_cast<unsigned char>(c)] = kIgnoreChar;
}

void XTMOBStringEncoding::setPaddingChar(char c) {
  paddingChar_ = c;
  if (static_cast<unsigned char>(c) < 128) reverseCharMap_[static_cast<unsigned char>(c)] = kPaddingChar;
}

std::string XTMOBStringEncoding::description() const {
  char head[48];
  std::snprintf(head, sizeof head, "<Base%zu StringEncoder: ", charMap_.size());
  return head + charMap_ + ">";
}

std::optional<os::Data> OBSocialBase64::decodeBytes(const std::uint8_t* bytes, std::size_t length) {
  std::string_view text(reinterpret_cast<const char*>(bytes), length);
  text = text.substr(0, text.find('\0'));  // read as C text: a NUL ends it
  auto out = os::base64Decoded(text, os::Base64Reading::PaddedWholeGroups);
  if (out && out->empty()) return std::nullopt;  // no bytes is no answer
  return out;
}

std::optional<os::Data> OBSocialBase64::decodeData(const os::Data& bytes) { return decodeBytes(bytes.data(), bytes.size()); }

std::optional<os::Data> OBSocialBase64::decodeString(std::string_view text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) >= 128) return std::nullopt;
  return decodeBytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}
