#include "tools/newsd/server/Wire.h"

#include "foundation/formats/Base64.h"
#include "foundation/formats/JSONTideDeserializing.h"
#include "foundation/formats/JSONTideSerializing.h"

namespace newsd {

namespace {
bool isBase64Letter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}
}  // namespace

std::optional<os::Value> parseJSON(std::string_view text) { return objectFromJSONString(text); }

std::string writeJSON(const os::Value& value) {
  // Answers are built from dictionaries of strings and numbers only; a failure here is a bug in
  // the server, answered with an empty object rather than a broken text.
  return JSONString(value).value_or("{}");
}

std::optional<std::string> decodeParameterText(std::string_view p) {
  if (p.empty() || p.size() % 4 != 0) return std::nullopt;
  std::size_t padding = 0;
  while (padding < 2 && p[p.size() - 1 - padding] == '=') ++padding;
  for (std::size_t i = 0; i < p.size() - padding; ++i)
    if (!isBase64Letter(p[i])) return std::nullopt;
  auto bytes = dataWithBase64EncodedString(p);
  if (!bytes) return std::nullopt;
  return std::string(bytes->begin(), bytes->end());
}

std::optional<os::Dictionary> decodeParameters(std::string_view p) {
  auto text = decodeParameterText(p);
  auto params = text ? parseJSON(*text) : std::nullopt;
  if (!params || !params->dictionary()) return std::nullopt;
  return *params->dictionary();
}

std::string encodeParameterText(std::string_view text) {
  std::string encoded = base64EncodedString(text).value_or("");
  std::string out;
  out.reserve(encoded.size());
  for (char c : encoded)
    if (c != '\r' && c != '\n') out.push_back(c);
  return out;
}

std::optional<std::string> decodeBase64Blob(std::string_view text) {
  auto bytes = dataWithBase64EncodedString(text);
  if (!bytes) return std::nullopt;
  return std::string(bytes->begin(), bytes->end());
}

os::Value envelope(int errorcode, long long opcode, os::Dictionary data) {
  return os::Dictionary{{"errorcode", errorcode}, {"opcode", opcode}, {"data", std::move(data)}};
}

}  // namespace newsd
