// fuzz-link: foundation
// The JSON reader under every option set, and the writer on what it reads: text the writer makes
// from a parsed value must read back as the same value. Strict text the reader takes, the reader
// with error trace must take too, as the same value: the two are written apart, with short paths
// of their own for plain text and numbers.
#include "foundation/formats/JSONDecoder.h"
#include "foundation/formats/JSONTraceParser.h"
#include "foundation/formats/JTSerializer.h"
#include "fuzz/support/FuzzSupport.h"

namespace {

// Input: one byte of parse options, one of writer options, then the JSON text.
std::vector<fuzz::Seed> seeds() {
  const char* texts[] = {
      R"({"errorcode":0,"opcode":1010,"data":{"result":1,"list":[{"id":"123","title":"\u4e2d\u56fd","time":1356998400,"pics":["http://img.example/a.jpg"]}]}})",
      R"([1,-2,3.5,1e300,-0.0,18446744073709551615,-9223372036854775808,true,false,null,"a\"b\\c\/d\n\t\u00e9\ud83d\ude00"])",
      "{\"a\" : /* note */ [ ] , // line\n \"b\":{}}",
      "[\"\xC3\xA9\xE2\x80\xA8\xF0\x9F\x98\x80\"]\xC2\x85 trailing",
      "{\"deep\":[[[[[[[[[[[[[[[[{}]]]]]]]]]]]]]]]]}",
  };
  std::vector<fuzz::Seed> out;
  int i = 0;
  for (const char* text : texts) {
    for (unsigned char options : {0, 15}) {
      std::string bytes;
      bytes += static_cast<char>(options);
      bytes += static_cast<char>(i & 1 ? JTSerializePretty | JTSerializeEscapeUnicode : JTSerializeCompact);
      bytes += text;
      out.push_back({"seed" + std::to_string(i++), bytes});
    }
  }
  return out;
}
FUZZ_SEEDS(seeds);

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Input in(data, size);
  unsigned parseOptions = in.byte() & 15;
  unsigned writeOptions = in.byte() & (JTSerializePretty | JTSerializeEscapeUnicode | JTSerializeEscapeSlash);
  std::string text = in.rest();

  JSONDecoder decoder(parseOptions, JSONCodecProfile::standard());
  os::Error error;
  std::optional<os::Value> value = decoder.objectWithUTF8String(text.data(), text.size(), &error);
  if (!value) {
    fuzz::check(!error.domain.empty(), "a failed parse must say why");
    return 0;
  }
  fuzz::check(value->isArray() || value->isDictionary(), "the top level must be a collection");
  // The same decoder again: its cache of strings and numbers must not change the answer.
  std::optional<os::Value> again = decoder.objectWithUTF8String(text.data(), text.size());
  fuzz::check(again && *again == *value, "a second parse on the same decoder differs");
  if (parseOptions == JTParseStrict) {
    JSONTraceParser traced(JSONTraceProfile::qqConnect());
    std::optional<os::Value> other = traced.objectWithString(text);
    fuzz::check(other && *other == *value, "the reader with error trace reads strict text otherwise");
  }

  std::optional<os::Value> written =
      JTSerializer::serializeObject(*value, writeOptions, JTEncodeAsString, {}, &error, JSONCodecProfile::standard());
  if (!written) return 0;  // a value JSON cannot carry (a non-finite number)
  const std::string* out = written->string();
  fuzz::check(out != nullptr, "the writer answered no text");
  JSONDecoder strict(JTParseStrict, JSONCodecProfile::standard());
  std::optional<os::Value> reread = strict.objectWithUTF8String(out->data(), out->size(), &error);
  fuzz::check(reread.has_value(), "the writer's text does not read back");
  fuzz::check(*reread == *value, "the writer's text reads back as another value");
  return 0;
}
