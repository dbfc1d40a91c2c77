#include "sharing/service/XTMOBStringEncoding.h"

#include <cstdio>
#include <numeric>

std::shared_ptr<XTMOBStringEncoding> XTMOBStringEncoding::rfc4648Base64StringEncoding() {
  auto encoding = stringEncodingWithString("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/");
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

namespace {

int base64Value(std::uint8_t c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

bool skipped(std::uint8_t c) {
  return c == 9 || c == 10 || c == 11 || c == 12 || c == 13 || c == 32 || c == 160 || c == 255;
}

}  // namespace

std::optional<os::Data> OBSocialBase64::decodeBytes(const std::uint8_t* bytes, std::size_t length) {
  os::Data out;
  out.reserve((length + 3) / 4 * 3);
  int group[4];
  int count = 0;
  int padding = 0;  // "=" seen in the current (last) group
  for (std::size_t i = 0; i < length; ++i) {
    std::uint8_t c = bytes[i];
    if (c == 0) break;
    if (skipped(c)) continue;
    if (padding > 0) {
      // After "X=" one more "=" must close the group; after a full group only skipped bytes.
      if (c == '=' && count == 2 && padding == 1) {
        padding = 2;
        continue;
      }
      return std::nullopt;
    }
    if (c == '=') {
      if (count < 2) return std::nullopt;
      padding = 1;
      continue;
    }
    int v = base64Value(c);
    if (v < 0) return std::nullopt;
    group[count++] = v;
    if (count == 4) {
      out.push_back(static_cast<std::uint8_t>(group[0] << 2 | group[1] >> 4));
      out.push_back(static_cast<std::uint8_t>((group[1] & 0xF) << 4 | group[2] >> 2));
      out.push_back(static_cast<std::uint8_t>((group[2] & 0x3) << 6 | group[3]));
      count = 0;
    }
  }
  if (padding > 0) {
    if (count == 2) {
      if (padding != 2 || (group[1] & 0xF) != 0) return std::nullopt;
      out.push_back(static_cast<std::uint8_t>(group[0] << 2 | group[1] >> 4));
    } else {  // three characters and one "="
      if ((group[2] & 0x3) != 0) return std::nullopt;
      out.push_back(static_cast<std::uint8_t>(group[0] << 2 | group[1] >> 4));
      out.push_back(static_cast<std::uint8_t>((group[1] & 0xF) << 4 | group[2] >> 2));
    }
  } else if (count != 0) {
    return std::nullopt;
  }
  if (out.empty()) return std::nullopt;
  return out;
}

std::optional<os::Data> OBSocialBase64::decodeData(const os::Data& bytes) { return decodeBytes(bytes.data(), bytes.size()); }

std::optional<os::Data> OBSocialBase64::decodeString(std::string_view text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) >= 128) return std::nullopt;
  return decodeBytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}
