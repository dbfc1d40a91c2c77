#include "foundation/formats/Base64.h"

#include "foundation/formats/UTF8Sequence.h"
#include "os/core/String.h"

namespace {

// The plain encoding with a CRLF after every `width` characters (rounded down to whole groups):
// between lines only, or also after a last line that ends with whole groups.
std::optional<std::string> encode(std::string_view bytes, long width, Base64LineBreaks breaks) {
  if (bytes.empty()) return std::nullopt;
  std::string plain = os::base64Encoded(bytes);
  const std::size_t w = width >= 4 ? static_cast<std::size_t>(width / 4 * 4) : 0;
  if (!w) return plain;
  std::string out;
  out.reserve(plain.size() + 2 * (plain.size() / w + 1));
  for (std::size_t at = 0; at < plain.size(); at += w) {
    out.append(plain, at, w);
    const bool last = at + w >= plain.size();
    if (!last || (at + w == plain.size() && breaks == Base64LineBreaks::AfterEveryLine && bytes.size() % 3 == 0))
      out += "\r\n";
  }
  return out;
}

}  // namespace

std::optional<std::string> base64EncodedStringWithWrapWidth(const os::Data& data, long width, Base64LineBreaks breaks) {
  return encode(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()), width, breaks);
}

std::optional<std::string> base64EncodedString(const os::Data& data) { return base64EncodedStringWithWrapWidth(data, 0); }

std::optional<std::string> base64EncodedStringWithWrapWidth(std::string_view string, long width) {
  return encode(string, width, Base64LineBreaks::AfterEveryLine);
}

std::optional<std::string> base64EncodedString(std::string_view string) { return base64EncodedStringWithWrapWidth(string, 0); }

std::optional<os::Data> dataWithBase64EncodedString(std::string_view text) {
  std::optional<os::Data> out = os::base64Decoded(text, os::Base64Reading::Lenient);
  if (!out || out->empty()) return std::nullopt;
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
