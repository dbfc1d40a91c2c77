// The JSON codec with error trace: grammar, the errors it leaves and their order, the writer,
// the facades and the copies' profiles.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "foundation/formats/JSONTraceFacade.h"

namespace {

const JSONTraceProfile& kQQ = JSONTraceProfile::qqConnect();

std::vector<std::string> messages(const JSONTraceBase& c) {
  std::vector<std::string> out;
  for (const os::Error& e : c.errorTrace()) out.push_back(e.localizedDescription());
  return out;
}

// The code and message of the outermost error of a failed fragment parse.
std::pair<long, std::string> failure(std::optional<std::string_view> text, const JSONTraceProfile& profile = kQQ) {
  JSONTraceParser p(profile);
  EXPECT_FALSE(p.fragmentWithString(text)) << text.value_or("(none)");
  if (p.errorTrace().empty()) return {0, ""};
  return {p.errorTrace().back().code, p.errorTrace().back().localizedDescription()};
}

std::string nested(int levels) { return std::string(levels, '[') + std::string(levels, ']'); }

TEST(JSONTraceParser, BuildsValuesAndKeepsNumbersExact) {
  JSONTraceParser p(kQQ);
  auto v = p.objectWithString(R"( {"a":[1,-2,0.5,true,false,null,"x\u0000y"],"a2":{},"big":18446744073709551615,
                                   "a":9, "e":-0.5E-3} )");
  ASSERT_TRUE(v);
  EXPECT_TRUE(p.errorTrace().empty());
  EXPECT_EQ((*v)["a"].intValue(), 9);  // a later member with the same key wins
  EXPECT_EQ((*v)["big"].typeCode(), 'Q');
  EXPECT_EQ((*v)["big"].unsignedValue(), 18446744073709551615ull);
  EXPECT_DOUBLE_EQ((*v)["e"].doubleValue(), -0.0005);
  auto arr = p.fragmentWithString(R"([1,-2,0.5,true,false,null,"x\u0000y"])");
  ASSERT_TRUE(arr);
  EXPECT_EQ(arr->at(0).typeCode(), 'q');
  EXPECT_EQ(arr->at(2).typeCode(), 'd');
  EXPECT_TRUE(arr->at(3).isBool());
  EXPECT_TRUE(arr->at(5).isNull());
  EXPECT_EQ(*arr->at(6).string(), std::string("x\0y", 3));
}

TEST(JSONTraceParser, NumbersAtTheEdgesOfTheShortForms) {
  JSONTraceParser p(kQQ);
  for (const char* n : {"999999999999999999", "-999999999999999999", "9223372036854775807", "-9223372036854775808", "-0"}) {
    auto v = p.fragmentWithString(n);
    ASSERT_TRUE(v) << n;
    EXPECT_EQ(v->typeCode(), 'q') << n;
    EXPECT_EQ(v->intValue(), std::strtoll(n, nullptr, 10)) << n;
  }
  for (const char* n : {"0.1", "-0.0", "4.35", "123456789012345e-22", "1234567890123456e-3", "1.5e22", "1.5e23", "7e-023"}) {
    auto v = p.fragmentWithString(n);
    ASSERT_TRUE(v) << n;
    EXPECT_EQ(v->typeCode(), 'd') << n;
    EXPECT_EQ(v->doubleValue(), std::strtod(n, nullptr)) << n;
    EXPECT_EQ(std::signbit(v->doubleValue()), n[0] == '-') << n;
  }
}

TEST(JSONTraceParser, TopLevelRules) {
  EXPECT_EQ(failure(""), std::make_pair(11L, std::string("Unexpected end of string")));
  EXPECT_EQ(failure(" \t\n"), std::make_pair(11L, std::string("Unexpected end of string")));
  EXPECT_EQ(failure(std::nullopt), std::make_pair(12L, std::string("Input was 'nil'")));
  EXPECT_EQ(failure("[1] x"), std::make_pair(10L, std::string("Garbage after JSON")));
  EXPECT_EQ(failure(std::string_view("[1]\0", 4)), std::make_pair(10L, std::string("Garbage after JSON")));  // no hiding after a zero
  JSONTraceParser p(kQQ);
  EXPECT_FALSE(p.objectWithString("5"));
  EXPECT_EQ(p.errorTrace().back().code, 4);
  EXPECT_EQ(p.fragmentWithString("5")->intValue(), 5);
  EXPECT_TRUE(p.objectWithString("[1]  \r\n"));
}

TEST(JSONTraceParser, ContainersNeedTheirCommasAndNoMore) {
  EXPECT_EQ(failure("[1,]"), std::make_pair(9L, std::string("Trailing comma disallowed in array")));
  EXPECT_EQ(failure(R"({"a":1 , })"), std::make_pair(9L, std::string("Trailing comma disallowed in object")));
  EXPECT_EQ(failure("[1 2]").first, 3);
  EXPECT_EQ(failure(R"({"a":1 "b":2})").first, 3);
  EXPECT_EQ(failure("["), std::make_pair(11L, std::string("End of input while parsing array")));
  EXPECT_EQ(failure("{"), std::make_pair(11L, std::string("End of input while parsing object")));
  EXPECT_EQ(failure("{ "), std::make_pair(3L, std::string("Object key string expected")));
  EXPECT_EQ(failure(R"({"a":1)"), std::make_pair(11L, std::string("End of input while parsing object")));
  EXPECT_EQ(failure(R"({"a" 1})"), std::make_pair(3L, std::string("Expected ':' separating key and value")));
  EXPECT_EQ(failure(R"({"k":})"), std::make_pair(3L, std::string("Object value expected for key: k")));
  EXPECT_EQ(failure("[,1]").second, "Expected value while parsing array");
}

// The Renren copy reads values and members that lack their commas; the rest of the grammar holds.
TEST(JSONTraceParser, TheRenrenCopyReadsValuesWithoutCommas) {
  const JSONTraceProfile& renren = JSONTraceProfile::renren();
  JSONTraceParser p(renren);
  auto list = p.objectWithString("[1 2]");
  ASSERT_TRUE(list);
  ASSERT_TRUE(list->array());
  EXPECT_EQ(list->array()->size(), 2u);
  EXPECT_EQ((*list->array())[1].intValue(), 2);
  EXPECT_TRUE(p.errorTrace().empty());
  auto object = p.objectWithString(R"({"a":1 "b":[true"x"]})");
  ASSERT_TRUE(object);
  EXPECT_EQ((*object)["a"].intValue(), 1);
  EXPECT_EQ((*object)["b"].array()->size(), 2u);
  EXPECT_EQ(failure("[1 2 ,]", renren), std::make_pair(9L, std::string("Trailing comma disallowed in array")));
  EXPECT_EQ(failure("[1 2", renren), std::make_pair(11L, std::string("End of input while parsing array")));
  EXPECT_EQ(failure("[,1]", renren).second, "Expected value while parsing array");
  EXPECT_EQ(failure(R"({"a":1 2})", renren), std::make_pair(3L, std::string("Object key string expected")));
}

TEST(JSONTraceParser, TraceChainsFromInnermostCause) {
  JSONTraceParser p(kQQ);
  EXPECT_FALSE(p.objectWithString("[tru]"));
  EXPECT_EQ(messages(p), (std::vector<std::string>{"Expected 'true'", "Expected value while parsing array"}));
  const os::Error& last = p.errorTrace().back();
  EXPECT_EQ(last.domain, "org.vantorell.JSON.ErrorDomain");
  auto inner = JSONTraceBase::underlyingError(last);
  ASSERT_TRUE(inner);
  EXPECT_EQ(*inner, p.errorTrace().front());
  EXPECT_FALSE(JSONTraceBase::underlyingError(*inner));
}

TEST(JSONTraceParser, MalformedNumbers) {
  EXPECT_EQ(failure("-").second, "No digits after initial minus");
  EXPECT_EQ(failure("01").second, "Leading 0 disallowed in number");
  EXPECT_EQ(failure("-01").second, "Leading 0 disallowed in number");
  EXPECT_EQ(failure("1.").second, "No digits after decimal point");
  EXPECT_EQ(failure("1.e5").second, "No digits after decimal point");
  EXPECT_EQ(failure("1e+").second, "No digits after exponent");
  EXPECT_EQ(failure("+1"), std::make_pair(2L, std::string("Leading + disallowed in number")));
  EXPECT_EQ(failure("1e400"), std::make_pair(2L, std::string("Failed creating decimal instance")));
}

TEST(JSONTraceParser, StringsAndEscapes) {
  EXPECT_EQ(failure("\"a\tb\""), std::make_pair(5L, std::string("Unescaped control character '0x9'")));
  EXPECT_EQ(failure("\"abc"), std::make_pair(5L, std::string("Unescaped control character '0x0'")));
  EXPECT_EQ(failure(std::string_view("\"a\0b\"", 5)).second, "Unescaped control character '0x0'");
  EXPECT_EQ(failure(R"("\x")"), std::make_pair(8L, std::string("Illegal escape sequence '0x78'")));
  EXPECT_EQ(failure("\"a\\n"), std::make_pair(11L, std::string("Unexpected EOF while parsing string")));
  EXPECT_EQ(failure("\"\xC3(\"").first, 3);      // ill-formed UTF-8
  EXPECT_EQ(failure("\"\xED\xA0\x80\"").first, 3);  // an encoded surrogate
  JSONTraceParser p(kQQ);
  EXPECT_EQ(*p.fragmentWithString(R"("a\/b\"\\\b\f\n\r\t中文")")->string(), "a/b\"\\\b\f\n\r\t中文");
}

TEST(JSONTraceParser, UnicodeEscapes) {
  JSONTraceParser p(kQQ);
  EXPECT_FALSE(p.fragmentWithString(R"("\u12G4")"));
  EXPECT_EQ(messages(p), (std::vector<std::string>{"Missing hex digit in quad", "Missing hex quad", "Broken unicode character"}));
  for (const auto& e : p.errorTrace()) EXPECT_EQ(e.code, 6);

  EXPECT_EQ(*p.fragmentWithString(R"("\ud83d\ude00")")->string(), "\U0001F600");
  EXPECT_EQ(*p.fragmentWithString(R"("\ud800\udfff")")->string(), "\U000103FF");
  EXPECT_EQ(*p.fragmentWithString(R"("\u00e9\u4E2D")")->string(), "é中");
  EXPECT_EQ(failure(R"("\udc00")").first, 6);
  JSONTraceParser q(kQQ);
  q.fragmentWithString(R"("\udc00")");
  EXPECT_EQ(messages(q).front(), "Invalid high character in surrogate pair");
  q.fragmentWithString(R"("\ud800x")");
  EXPECT_EQ(messages(q).front(), "Missing low character in surrogate pair");
  q.fragmentWithString(R"("\ud800\u00G0")");
  EXPECT_EQ(messages(q), (std::vector<std::string>{"Missing hex digit in quad", "Missing low character in surrogate pair",
                                                   "Broken unicode character"}));
  q.fragmentWithString(R"("\ud800\u0041")");
  EXPECT_EQ(messages(q).front(), "Invalid low surrogate char");
}

TEST(JSONTraceCodec, NestingLimits) {
  JSONTraceParser p(kQQ);
  JSONTraceWriter w(kQQ);
  auto deep = p.objectWithString(nested(512));
  ASSERT_TRUE(deep);
  EXPECT_TRUE(w.stringWithObject(*deep));
  EXPECT_FALSE(p.objectWithString(nested(513)));
  EXPECT_EQ(p.errorTrace().front().localizedDescription(), "Nested too deep");
  os::Value deeper = os::Value(os::Array{*deep});
  EXPECT_FALSE(w.stringWithObject(deeper));
  EXPECT_EQ(w.errorTrace().back().code, 7);

  p.setMaxDepth(0);  // no limit of the caller's, but never deeper than the stack allows
  EXPECT_TRUE(p.objectWithString(nested(600)));
  EXPECT_FALSE(p.objectWithString(nested(JSONTraceBase::kNestingHardLimit + 1)));
}

TEST(JSONTraceWriter, WritesTextTheParserReadsBack) {
  JSONTraceWriter w(kQQ);
  w.setSortKeys(true);
  EXPECT_EQ(w.stringWithObject(os::Dictionary{{"b", 1}, {"a", true}, {"B", 2}}), R"({"B":2,"a":true,"b":1})");
  // Order of UTF-16 units: a character beyond U+FFFF sorts before U+FF01.
  EXPECT_EQ(w.stringWithObject(os::Dictionary{{"\uFF01", 1}, {"\U0001F600", 2}}), "{\"\U0001F600\":2,\"\uFF01\":1}");
  w.setSortKeys(false);
  EXPECT_EQ(w.stringWithObject(os::Dictionary{{"b", 1}, {"a", os::Value::number('c', 0)}}), R"({"b":1,"a":false})");

  w.setHumanReadable(true);
  EXPECT_EQ(w.stringWithObject(os::Array{1, os::Array{2, 3}, os::Array{}}), "[\n  1,\n  [\n    2,\n    3\n  ],\n  []\n]");
  EXPECT_EQ(w.stringWithObject(os::Dictionary{{"k", os::Dictionary{}}}), "{\n  \"k\" : {}\n}");
  w.setHumanReadable(false);

  EXPECT_EQ(w.stringWithFragment(os::Value("a/b\"\\\x07\t中")), "\"a/b\\\"\\\\\\u0007\\t中\"");
  EXPECT_EQ(w.stringWithFragment(os::Array{0.1, -3, os::Value::unsignedNumber('Q', 18446744073709551615ull), nullptr}),
            "[0.1,-3,18446744073709551615,null]");
  EXPECT_FALSE(w.stringWithObject(os::Value("x")));
  EXPECT_EQ(messages(w), std::vector<std::string>{"Not valid type for JSON"});
  EXPECT_EQ(w.stringWithFragment(os::Value("x")), "\"x\"");
}

TEST(JSONTraceWriter, RefusesValuesWithoutJSONForm) {
  JSONTraceWriter w(kQQ);
  EXPECT_FALSE(w.stringWithObject(os::Dictionary{{"outer", os::Dictionary{{"d", os::Value(os::Data{})}}}}));
  EXPECT_EQ(messages(w), (std::vector<std::string>{"JSON serialisation not supported for data",
                                                   "Unsupported value for key d in object",
                                                   "Unsupported value for key outer in object"}));
  EXPECT_FALSE(w.stringWithObject(os::Array{std::nan("")}));  // "nan" is no JSON
  EXPECT_EQ(w.errorTrace().back().code, 1);
}

TEST(JSONTraceFacade, KeepsTheTraceOfItsLastFailure) {
  JSONTraceFacade json(kQQ);
  os::Error error;
  EXPECT_FALSE(json.fragmentWithString(R"("\u12G4")", &error));
  EXPECT_EQ(error.localizedDescription(), "Broken unicode character");
  ASSERT_TRUE(JSONTraceBase::underlyingError(error));
  EXPECT_EQ(JSONTraceBase::underlyingError(error)->localizedDescription(), "Missing hex quad");

  EXPECT_TRUE(json.objectWithString("{}", &error));
  EXPECT_EQ(json.errorTrace().size(), 3u);  // still the failure's copy
  EXPECT_EQ(json.stringWithFragment(os::Value(5), nullptr), "5");
  EXPECT_FALSE(json.stringWithObject(os::Value(5), &error));
  EXPECT_EQ(error.code, 4);
  json.setMaxDepth(1);
  EXPECT_EQ(json.maxDepth(), 1u);
  // The inner array as a value: a braced list of one Array alone would copy it with some compilers.
  EXPECT_FALSE(json.stringWithObject(os::Array{os::Value(os::Array{})}));
  EXPECT_FALSE(json.objectWithString("[[]]"));
  EXPECT_EQ(json.errorTrace().front().code, 7);
}

TEST(JSONTraceCodec, CopiesDifferOnlyByTheirProfile) {
  const std::vector<std::string> inputs = {"[1,]", "[tru]", R"("\u12G4")", "{\"a\":1}", nested(513)};
  JSONTraceReader qq(kQQ), renren(JSONTraceProfile::renren());
  JSONTraceParser sharing(JSONTraceProfile::sharing());
  for (const std::string& in : inputs) {
    const bool ok = qq.fragmentWithString(in, nullptr).has_value();
    EXPECT_EQ(renren.fragmentWithString(in, nullptr).has_value(), ok) << in;
    EXPECT_EQ(sharing.fragmentWithString(in).has_value(), ok) << in;
    if (ok) continue;
    EXPECT_EQ(messages(renren), messages(qq)) << in;
    EXPECT_EQ(messages(sharing), messages(qq)) << in;
    EXPECT_EQ(renren.errorTrace().back().domain, qq.errorTrace().back().domain);
    EXPECT_EQ(sharing.errorTrace().back().domain, "com.obsocial.sdk.JSON.ErrorDomain");
  }
  EXPECT_EQ(JSONTraceProfile::renren().facadeClassName, "RennJson");
  EXPECT_TRUE(JSONTraceProfile::renren().assertsScanResult);
}

}  // namespace
