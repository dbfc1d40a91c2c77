#include "foundation/formats/Base64.h"

#include <array>
#include <cstdint>

#include "foundation/formats/UTF8Sequence.h"

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<std::int8_t, 128> makeTable() {
  std::array<std::int8_t, 128> t{};
  for (auto& v : t) v = -1;
  for (int i = 0; i < 64; ++i) t[static_cast<unsigned char>(kAlphabet[i])] = static_cast<std::int8_t>(i);
  return t;
}
constexpr auto kDecode = makeTable();

std::optional<std::string> encode(const std::uint8_t* bytes, std::size_t n, long width, Base64LineBreaks breaks) {
  if (n == 0) return std::nullopt;
  const std::size_t w = width >= 4 ? static_cast<std::size_t>(width / 4 * 4) : 0;
  std::string out;
  out.reserve((n / 3) * 4 + 4 + (w ? 2 * (((n / 3) * 4 + 4) / w) : 0));
  std::size_t written = 0;  // Base64 characters so far
  std::size_t i = 0;
  for (; n - i >= 3; i += 3) {
    const std::uint32_t v = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
    written += 4;
    if (w && written % w == 0 && (breaks == Base64LineBreaks::AfterEveryLine || i + 3 < n)) out += "\r\n";
  }
  if (n - i == 2) {
    const std::uint32_t v = (bytes[i] << 16) | (bytes[i + 1] << 8);
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += '=';
  } else if (n - i == 1) {
    const std::uint32_t v = bytes[i] << 16;
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += "==";
  }
  return out;
}

}  // namespace

std::optional<std::string> base64EncodedStringWithWrapWidth(const os::Data& data, long width, Base64LineBreaks breaks) {
  return encode(data.data(), data.size(), width, breaks);
}

std::optional<std::string> base64EncodedString(const os::Data& data) { return base64EncodedStringWithWrapWidth(data, 0); }

std::optional<std::string> base64EncodedStringWithWrapWidth(std::string_view string, long width) {
  return encode(reinterpret_cast<const std::uint8_t*>(string.data()), string.size(), width, Base64LineBreaks::AfterEveryLine);
}

std::optional<std::string> base64EncodedString(std::string_view string) { return base64EncodedStringWithWrapWidth(string, 0); }

std::optional<os::Data> dataWithBase64EncodedString(std::string_view text) {
  os::Data out;
  out.reserve(text.size() / 4 * 3 + 3);
  std::uint32_t acc = 0;
  int held = 0;
  for (unsigned char c : text) {
    // Non-ASCII characters are skipped like any other character outside the alphabet.
    if (c >= 0x80) continue;
    const int v = kDecode[c];
    if (v < 0) continue;
    acc = (acc << 6) | static_cast<std::uint32_t>(v);
    if (++held == 4) {
      out.push_back(static_cast<std::uint8_t>(acc >> 16));
      out.push_back(static_cast<std::uint8_t>(acc >> 8));
      out.push_back(static_cast<std::uint8_t>(acc));
      acc = 0;
      held = 0;
    }
  }
  if (held == 2) {
    out.push_back(static_cast<std::uint8_t>(acc >> 4));
  } else if (held == 3) {
    out.push_back(static_cast<std::uint8_t>(acc >> 10));
    out.push_back(static_cast<std::uint8_t>(acc >> 2));
  }
  if (out.empty()) return std::nullopt;
  return out;
}

std::optional<std::string> stringWithBase64EncodedString(std::string_view text) {
  std::optional<os::Data> bytes = dataWithBase64EncodedString(text);
  if (!bytes) return std::nullopt;
  for (std::size_t i = 0; i < bytes->size();) {
    UTF8Sequence s = UTF8Sequence::read(bytes->data() + i, bytes->size() - i);
    if (s.kind != UTF8Sequence::Kind::Valid) return std::nullopt;
    i += s.length;
  }
  return os::stringFromData(*bytes);
}
