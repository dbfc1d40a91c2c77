// fuzz-link: foundation
// Base64 decoding of text from servers and pasteboards, and encoding in every wrap form: encoded
// bytes must decode to themselves.
#include "foundation/formats/Base64.h"
#include "fuzz/support/FuzzSupport.h"

namespace {

std::vector<fuzz::Seed> seeds() {
  return {
      {"padded", std::string("\x10") + "eyJlcnJvcmNvZGUiOjB9"},
      {"wrapped", std::string("\x05") + "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8g\r\nISIjJCUmJygpKissLS4v\r\n"},
      {"noise", std::string("\x4c") + "5L2g5aW9 = =\n\t!!?"},
  };
}
FUZZ_SEEDS(seeds);

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Input in(data, size);
  std::uint8_t choice = in.byte();
  std::string text = in.rest();

  std::optional<os::Data> decoded = dataWithBase64EncodedString(text);
  if (std::optional<std::string> asText = stringWithBase64EncodedString(text)) {
    fuzz::check(decoded && os::stringFromData(*decoded) == *asText, "text and data decoding disagree");
  }
  os::Data bytes = os::dataFromString(text);
  long width = choice >> 1;
  auto breaks = choice & 1 ? Base64LineBreaks::BetweenLines : Base64LineBreaks::AfterEveryLine;
  std::optional<std::string> encoded = base64EncodedStringWithWrapWidth(bytes, width, breaks);
  fuzz::check(encoded.has_value() == !bytes.empty(), "only empty data has no encoding");
  if (encoded) {
    std::optional<os::Data> back = dataWithBase64EncodedString(*encoded);
    fuzz::check(back && *back == bytes, "encoded bytes do not decode to themselves");
  }
  return 0;
}
