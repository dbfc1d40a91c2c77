#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>

#include "foundation/formats/JSONTideDeserializing.h"
#include "foundation/formats/JSONTideSerializing.h"

namespace {

std::string failure(const os::Value& v, unsigned options = 0) {
  os::Error error;
  EXPECT_FALSE(JSONStringWithOptions(v, options, &error));
  EXPECT_EQ(error.domain, "JTErrorDomain");
  EXPECT_EQ(error.code, -1);
  return error.localizedDescription();
}

TEST(JTSerializer, EscapesStrings) {
  os::Value d(os::Dictionary{{"k", "q\"b\\s/n\n\x01\t"}});
  EXPECT_EQ(JSONString(d), R"({"k":"q\"b\\s/n\n\u0001\t"})");
  EXPECT_EQ(JSONStringWithOptions(d, JTSerializeEscapeSlash), R"({"k":"q\"b\\s\/n\n\u0001\t"})");
  os::Value text(os::Array{"\xC3\xA9\xF0\x9F\x98\x80"});
  EXPECT_EQ(JSONString(text), "[\"\xC3\xA9\xF0\x9F\x98\x80\"]");
  EXPECT_EQ(JSONStringWithOptions(text, JTSerializeEscapeUnicode), R"(["\u00e9\ud83d\ude00"])");
}

TEST(JTSerializer, NumbersByTypeCode) {
  os::Value a(os::Array{os::Value::real('d', 0.1), 3, true, false, os::Value::number('B', 1), os::Value::number('c', -5),
                        os::Value::unsignedNumber('Q', 18446744073709551615ull), os::Value::number('q', INT64_MIN),
                        os::Value()});
  EXPECT_EQ(JSONString(a), "[0.10000000000000001,3,true,false,1,-5,18446744073709551615,-9223372036854775808,null]");
  const std::string finite = "Floating point values must be finite.  JSON does not support NaN or Infinity.";
  EXPECT_EQ(failure(os::Value(os::Array{std::nan("")})), finite);
  EXPECT_EQ(failure(os::Value(os::Array{std::numeric_limits<double>::infinity()})), finite);
}

TEST(JTSerializer, DoublesAreWrittenWithSeventeenSignificantDigits) {
  for (double d : {0.1, 123.5, 100.0, -0.0, 1e16, 1e21, 1e-7, 5e-324, 2.2250738585072014e-308, 1.7976931348623157e308,
                   -3.0000000000000004, 0.30000000000000004, -2.75, 0.0009765625, 0.00048828125, 9999999.9990234375,
                   10000000.5, 1e7, -9999999.0}) {
    char expected[64];
    std::snprintf(expected, sizeof expected, "[%.17g]", d);
    EXPECT_EQ(JSONString(os::Value(os::Array{d})), expected);
  }
}

TEST(JTSerializer, EscapesBetweenRunsOfPlainText) {
  os::Value a(os::Array{"plain text \"quoted\" \xE4\xB8\xAD/\x7F end\\", std::string("\x1F\x00x", 3)});
  EXPECT_EQ(JSONString(a), "[\"plain text \\\"quoted\\\" \xE4\xB8\xAD/\x7F end\\\\\",\"\\u001f\\u0000x\"]");
  EXPECT_EQ(JSONStringWithOptions(a, JTSerializeEscapeUnicode | JTSerializeEscapeSlash),
            "[\"plain text \\\"quoted\\\" \\u4e2d\\/\x7F end\\\\\",\"\\u001f\\u0000x\"]");
  EXPECT_EQ(failure(os::Value(os::Array{std::string("long plain text then \xE4\xB8")})),
            "An error occurred converting the contents of a NSString to UTF8.");
}

TEST(JTSerializer, CompactKeepsOrderPrettySortsAndIndents) {
  os::Value d(os::Dictionary{{"b", 1}, {"a", os::Array{1, 2}}, {"c", os::Array{}}});
  EXPECT_EQ(JSONString(d), R"({"b":1,"a":[1,2],"c":[]})");
  EXPECT_EQ(JSONStringWithOptions(d, JTSerializePretty),
            "{\n  \"a\": [\n    1,\n    2\n  ],\n  \"b\": 1,\n  \"c\": [\n    \n  ]\n}");
  EXPECT_EQ(JSONStringWithOptions(os::Value(os::Array{}), JTSerializePretty), "[\n  \n]");
}

TEST(JTSerializer, TopLevelRulesAndStrings) {
  EXPECT_EQ(JSONString(os::Value("a\"b")), "\"a\\\"b\"");
  EXPECT_EQ(JSONStringWithOptions(std::string_view("a/\"b"), 0, false), "a/\\\"b");
  EXPECT_EQ(JSONDataWithOptions(std::string_view("x"), 0, true), os::dataFromString("\"x\""));
  EXPECT_EQ(failure(os::Value(3)), "Unable to serialize object class number, expected a NSArray or NSDictionary.");
  EXPECT_EQ(JSONData(os::Value(os::Array{1})), os::dataFromString("[1]"));
  os::Error error;
  EXPECT_FALSE(JTSerializer::serializeObject(os::Value(os::Array{}), 0, 3, {}, &error));
  EXPECT_EQ(error.localizedDescription(), "Unknown encode as type.");
  EXPECT_FALSE(JTSerializer::serializeObject(os::Value(1), 0, JTEncodeAsString | JTEncodeStringObject, {}, &error));
  EXPECT_EQ(error.localizedDescription(), "Unable to serialize object class number, expected a NSString.");
}

TEST(JTSerializer, UnsupportedValuesGoThroughTheBlock) {
  os::Value withDate(os::Array{os::Date::fromTimeIntervalSince1970(5)});
  EXPECT_EQ(failure(withDate), "Unable to serialize object class date.");
  auto block = [](const os::Value& v) -> std::optional<os::Value> {
    if (auto d = v.date()) return os::Value(d->timeIntervalSince1970());
    return std::nullopt;
  };
  EXPECT_EQ(JSONStringWithOptions(withDate, 0, block), "[5]");
  os::Error error;
  EXPECT_FALSE(JSONStringWithOptions(os::Value(os::Array{os::Data{1}}), 0, block, &error));
  EXPECT_EQ(error.localizedDescription(),
            "Unable to serialize object class NULL that was returned by the unsupported class formatter.  Original object "
            "class was data.");
}

TEST(JTSerializer, TextThatIsNotUTF8Fails) {
  EXPECT_EQ(failure(os::Value(os::Array{std::string("a\xFF")})),
            "An error occurred converting the contents of a NSString to UTF8.");
  EXPECT_EQ(failure(os::Value(os::Dictionary{{std::string("\xC3"), 1}})),
            "An error occurred converting the contents of a NSString to UTF8.");
}

TEST(JTSerializer, RoundTripsThroughTheDecoder) {
  const std::string text =
      R"({"s":"\u4e2d\"\\\/\n","n":[0,-1,1.5,18446744073709551615,-9223372036854775808],"t":true,"z":null,"o":{"x":[]}})";
  auto v = objectFromJSONString(text);
  ASSERT_TRUE(v);
  for (unsigned options : {0u, 1u, 2u, 16u, 19u}) {
    auto written = JSONStringWithOptions(*v, options);
    ASSERT_TRUE(written) << options;
    auto back = objectFromJSONString(*written);
    ASSERT_TRUE(back) << *written;
    EXPECT_EQ(*back, *v) << *written;
  }
}

}  // namespace

namespace {

TEST(JTSerializer, WritesWhatTheReaderAcceptsAndRefusesDeeper) {
  const std::string deepest = std::string(512, '[') + std::string(512, ']');
  auto v = objectFromJSONString(deepest);
  ASSERT_TRUE(v);
  EXPECT_EQ(JSONString(*v), deepest);
  os::Value deeper(os::Array{*v});
  EXPECT_EQ(failure(deeper), "Arrays and objects are nested too deeply to write.");
}

}  // namespace
