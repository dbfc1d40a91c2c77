#include "tools/sharingd/server/SharingWire.h"

#include "foundation/formats/Base64.h"
#include "foundation/formats/JSONDecoder.h"
#include "foundation/formats/JTSerializer.h"
#include "os/core/String.h"
#include "os/crypto/Cipher.h"
#include "os/crypto/Digest.h"

namespace sharingd {

namespace {

constexpr std::string_view kVector = "qxvdk.w4/Tz+R591";

os::Data keyFor(std::string_view appKey) {
  std::string hex = os::uppercaseASCII(os::md5Hex(appKey));
  return os::Data(hex.begin(), hex.begin() + 16);
}

}  // namespace

std::optional<std::string> encipher(std::string_view text, std::string_view appKey) {
  os::Data padded(text.begin(), text.end());
  padded.resize(padded.size() + 16 - padded.size() % 16, 0);
  auto cipher = os::aes128CBCEncrypt(padded, keyFor(appKey), os::dataFromString(kVector), os::CipherPadding::None);
  if (!cipher) return std::nullopt;
  return base64EncodedString(*cipher);
}

std::optional<std::string> decipher(std::string_view text, std::string_view appKey) {
  auto bytes = dataWithBase64EncodedString(text);
  // The decoder skips what is not Base64; the client writes padded text without line breaks,
  // so only text that encodes back to itself is taken.
  if (!bytes || bytes->empty() || bytes->size() % 16 != 0 || base64EncodedString(*bytes) != text) return std::nullopt;
  auto plain = os::aes128CBCDecrypt(*bytes, keyFor(appKey), os::dataFromString(kVector), os::CipherPadding::None);
  if (!plain) return std::nullopt;
  std::string out = os::stringFromData(*plain);
  std::size_t padding = 0;
  for (; !out.empty() && out.back() == '\0'; ++padding) out.pop_back();
  if (padding == 0 || padding > 16 || !os::isValidUTF8(out)) return std::nullopt;
  return out;
}

std::optional<os::Dictionary> parseQuery(std::string_view query) {
  os::Dictionary pairs;
  if (query.empty()) return pairs;
  for (const auto& part : os::split(query, "&")) {
    if (part.empty()) continue;
    auto equals = part.find('=');
    auto name = os::percentUnescape(part.substr(0, equals));
    auto value = os::percentUnescape(equals == std::string::npos ? "" : part.substr(equals + 1));
    if (!name || !value) return std::nullopt;
    pairs.set(*name, os::Value(*value));
  }
  return pairs;
}

std::optional<std::string> readEscaped(std::string_view text, std::string_view keep) {
  auto plain = os::percentUnescape(text);
  if (!plain || os::percentEscape(*plain, keep) != text) return std::nullopt;
  return plain;
}

os::Dictionary parseEncipheredQuery(std::string_view query) {
  constexpr std::string_view kDescriptorKept = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._";
  os::Dictionary pairs;
  std::size_t at = 0;
  while (at < query.size()) {
    std::size_t end = query.find('&', at);
    std::string_view part = query.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at);
    // The title comes last and as it is: whatever follows "name=" is the title.
    if (part.starts_with("name=")) {
      part = query.substr(at);
      end = std::string_view::npos;
    }
    at = end == std::string_view::npos ? query.size() : end + 1;
    if (part.empty()) continue;
    const std::size_t equals = part.find('=');
    const std::string name(part.substr(0, equals));
    std::string value(equals == std::string_view::npos ? std::string_view{} : part.substr(equals + 1));
    if (name == "dc") {
      auto plain = readEscaped(value, kDescriptorKept);
      if (!plain) continue;
      value = std::move(*plain);
    }
    pairs.set(name, os::Value(std::move(value)));
  }
  return pairs;
}

std::optional<os::Dictionary> parseJSONObject(std::string_view text) {
  auto value = JSONDecoder::decoder()->objectWithUTF8String(text.data(), text.size());
  if (!value || !value->dictionary()) return std::nullopt;
  return *value->dictionary();
}

std::string writeJSON(const os::Value& value) {
  auto text = JTSerializer::serializeObject(value, JTSerializeCompact, JTEncodeAsString);
  return text && text->string() ? *text->string() : "{}";
}

std::string answerBody(int st, const std::string& message, const os::Dictionary& data, std::string_view appKey) {
  os::Dictionary answer{{"st", os::Value(st)}, {"msg", os::Value(message)}, {"data", os::Value(data)}};
  return encipher(writeJSON(os::Value(std::move(answer))), appKey).value_or("");
}

}  // namespace sharingd
