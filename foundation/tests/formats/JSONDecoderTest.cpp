#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "foundation/formats/JSONDecoder.h"
#include "foundation/formats/JSONTideDeserializing.h"

namespace {

struct Outcome {
  std::optional<os::Value> value;
  os::Error error;
  std::string message() const { return error.localizedDescription(); }
};

Outcome parse(std::string_view text, unsigned options = JTParseStrict) {
  Outcome o;
  JSONDecoder decoder(options);
  o.value = decoder.objectWithUTF8String(text.data(), text.size(), &o.error);
  return o;
}

std::string failure(std::string_view text, unsigned options = JTParseStrict) {
  Outcome o = parse(text, options);
  EXPECT_FALSE(o.value) << text;
  return o.message();
}

const char* kUnexpectedToken =
    "Unexpected token, wanted '{', '}', '[', ']', ',', ':', 'true', 'false', 'null', '\"STRING\"', 'NUMBER'.";

TEST(JSONDecoder, BuildsValuesWithTheirTypes) {
  Outcome o = parse(R"({"a":[1,-2,3.5,true,false,null,"x"],"b":{}} )");
  ASSERT_TRUE(o.value);
  const os::Value& a = (*o.value)["a"];
  ASSERT_EQ(a.count(), 7u);
  EXPECT_EQ(a.at(0).typeCode(), 'q');
  EXPECT_EQ(a.at(0).intValue(), 1);
  EXPECT_EQ(a.at(1).intValue(), -2);
  EXPECT_EQ(a.at(2).typeCode(), 'd');
  EXPECT_DOUBLE_EQ(a.at(2).doubleValue(), 3.5);
  EXPECT_TRUE(a.at(3).isBool());
  EXPECT_TRUE(a.at(3).boolValue());
  EXPECT_FALSE(a.at(4).boolValue());
  EXPECT_TRUE(a.at(5).isNull());
  EXPECT_EQ(a.at(6).stringOr(), "x");
  EXPECT_TRUE((*o.value)["b"].isDictionary());
}

TEST(JSONDecoder, ObjectsKeepDocumentOrderAndLaterDuplicatesWin) {
  Outcome o = parse(R"({"z":1,"a":2,"z":3} )");
  ASSERT_TRUE(o.value);
  EXPECT_EQ(o.value->dictionary()->keys(), (std::vector<std::string>{"z", "a"}));
  EXPECT_EQ((*o.value)["z"].intValue(), 3);
}

TEST(JSONDecoder, ContainersOfEveryShapeAtOneDepth) {
  // Siblings of very different sizes one after another at the same depth, twice on one decoder.
  std::string big = "[", object = "{";
  for (int i = 0; i < 40; ++i) {
    big += std::to_string(i) + ",";
    object += "\"k" + std::to_string(i % 30) + "\":" + std::to_string(i) + ",";
  }
  big.back() = ']';
  object.back() = '}';
  const std::string text = "[" + big + ",[1],[]," + big + "," + object + ",{\"a\":1},{}," + object + "]";
  JSONDecoder decoder;
  for (int round = 0; round < 2; ++round) {
    auto v = decoder.objectWithUTF8String(text.data(), text.size());
    ASSERT_TRUE(v);
    ASSERT_EQ(v->count(), 8u);
    EXPECT_EQ(v->at(0).count(), 40u);
    EXPECT_EQ(v->at(0).at(39).intValue(), 39);
    EXPECT_EQ(v->at(1).count(), 1u);
    EXPECT_EQ(v->at(2).count(), 0u);
    EXPECT_EQ(v->at(3), v->at(0));
    EXPECT_EQ(v->at(4).count(), 30u);
    EXPECT_EQ(v->at(4)["k5"].intValue(), 35);
    EXPECT_EQ(v->at(5).count(), 1u);
    EXPECT_EQ(v->at(6).count(), 0u);
    EXPECT_EQ(v->at(7), v->at(4));
  }
  // What a failed parse had read leaves with it.
  EXPECT_FALSE(decoder.objectWithUTF8String("[[1,2,{\"a\":[3", 13));
  auto again = decoder.objectWithUTF8String("[[1],{\"b\":2}]", 13);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->at(0).count(), 1u);
  EXPECT_EQ(again->at(1).count(), 1u);
}

TEST(JSONDecoder, ObjectsAtOneDepthWithKeysAlikeAndNot) {
  const std::string text =
      R"([{"id":1,"title":"a"},{"id":2,"title":"b"},{"idx":3,"titl":"c"},{"i\u0064":4,"t\"":5},{"id":6,"":7},{"id":8}])";
  using Keys = std::vector<std::string>;
  JSONDecoder decoder;
  for (int round = 0; round < 2; ++round) {
    auto v = decoder.objectWithUTF8String(text.data(), text.size());
    ASSERT_TRUE(v);
    EXPECT_EQ(v->at(1).dictionary()->keys(), (Keys{"id", "title"}));
    EXPECT_EQ(v->at(2).dictionary()->keys(), (Keys{"idx", "titl"}));
    EXPECT_EQ(v->at(3).dictionary()->keys(), (Keys{"id", "t\""}));
    EXPECT_EQ(v->at(4).dictionary()->keys(), (Keys{"id", ""}));
    EXPECT_EQ(v->at(5)["id"].intValue(), 8);
  }
  EXPECT_EQ(failure(R"([{"id":1},{"id":1 "id":2}])"), "Unexpected string.");
}

TEST(JSONDecoder, DuplicateKeysAreFoldedWhenEveryKeyIsTheKnownOne) {
  // The second object finds the known keys distinct; the third changes the last of them into a
  // repeat of the first, and the fourth has exactly those keys. A later parse on the same decoder
  // starts from the keys the last one left.
  const std::string text =
      R"([{"a":1,"b":2,"c":3},{"a":1,"b":2,"c":3},{"a":4,"b":5,"a":6},{"a":7,"b":8,"a":9},{"a":1,"b":2}])";
  using Keys = std::vector<std::string>;
  JSONDecoder decoder;
  for (int round = 0; round < 2; ++round) {
    auto v = decoder.objectWithUTF8String(text.data(), text.size());
    ASSERT_TRUE(v);
    EXPECT_EQ(v->at(0).dictionary()->keys(), (Keys{"a", "b", "c"}));
    EXPECT_EQ(v->at(1).dictionary()->keys(), (Keys{"a", "b", "c"}));
    EXPECT_EQ(v->at(2).dictionary()->keys(), (Keys{"a", "b"}));
    EXPECT_EQ(v->at(2)["a"].intValue(), 6);
    EXPECT_EQ(v->at(3).dictionary()->keys(), (Keys{"a", "b"}));
    EXPECT_EQ(v->at(3)["a"].intValue(), 9);
    EXPECT_EQ(v->at(4).dictionary()->keys(), (Keys{"a", "b"}));
  }
  // A key spelled with an escape is never a known one; a later repeat of it is still folded.
  const std::string_view changed = R"([{"x":1,"y":2},{"x":1,"\u0078":2},{"x":1,"y":2,"x":3}])";
  auto w = decoder.objectWithUTF8String(changed.data(), changed.size());
  ASSERT_TRUE(w);
  EXPECT_EQ(w->at(1).count(), 1u);
  EXPECT_EQ(w->at(2).dictionary()->keys(), (Keys{"x", "y"}));
  EXPECT_EQ(w->at(2)["x"].intValue(), 3);
}

TEST(JSONDecoder, TopLevelAndEndOfInput) {
  EXPECT_EQ(failure(""), "Reached the end of the buffer.");
  EXPECT_EQ(failure("   "), kUnexpectedToken);
  EXPECT_EQ(failure("\"abc\" "), "Expected either '[' or '{'.");
  EXPECT_EQ(failure("1 "), "Expected either '[' or '{'.");
  EXPECT_EQ(failure("1"), "Invalid number.");
  EXPECT_EQ(failure("[1,"), "Reached the end of the buffer.");
  EXPECT_EQ(failure("[\"abc"), "Invalid string.");
  // A literal needs a byte after it.
  EXPECT_EQ(failure("[true"), kUnexpectedToken);
  EXPECT_TRUE(parse("[true]").value);
}

TEST(JSONDecoder, ContainerGrammar) {
  EXPECT_EQ(failure("[1,]"), "Unexpected ']'.");
  EXPECT_EQ(failure("{\"a\":1,}"), "Unexpected '}'.");
  EXPECT_EQ(failure("[1 2]"), "Unexpected value.");
  EXPECT_EQ(failure("[,1]"), "Unexpected ','.");
  EXPECT_EQ(failure("{1:2}"), "Expected a \"STRING\" or a '}', not '1'");
  EXPECT_EQ(failure("{\"a\" 1}"), "Expected ':'.");
  EXPECT_EQ(failure("{\"a\":}"), "Expected a value, not '}'");
  EXPECT_EQ(failure("{\"a\":1 \"b\":2}"), "Unexpected string.");
  EXPECT_EQ(failure("[1:2]"), "Expected a comma or a ']', not ':'");
  EXPECT_EQ(failure("[}"), "Expected a value or a ']', not '}'");
}

TEST(JSONDecoder, TrailingTextAndComments) {
  EXPECT_EQ(failure("[1] x"),
            "A valid JSON object was parsed but there were additional non-white-space characters remaining.");
  EXPECT_TRUE(parse("[1] x", JTParseTrailingText).value);
  EXPECT_FALSE(parse("[1] // note").value);
  EXPECT_TRUE(parse("[1] // note", JTParseComments).value);
  Outcome o = parse("/* a\n b */ [1, /* two */ 2]\n", JTParseComments);
  ASSERT_TRUE(o.value);
  EXPECT_EQ(o.value->count(), 2u);
  // An unterminated block comment runs to the end.
  EXPECT_TRUE(parse("[1] /* open", JTParseComments).value);
}

TEST(JSONDecoder, ErrorCarriesDomainIndexAndLine) {
  Outcome o = parse("[1,\n 2 3]");
  ASSERT_FALSE(o.value);
  EXPECT_EQ(o.error.domain, "JTErrorDomain");
  EXPECT_EQ(o.error.code, -1);
  EXPECT_EQ(o.error.userInfo["JTLineNumberKey"].unsignedValue(), 2u);
  EXPECT_EQ(o.error.userInfo["JTAtIndexKey"].unsignedValue(), 8u);
  EXPECT_EQ(o.message(), "Unexpected value.");
  // Line breaks of every kind count, the Unicode ones only when asked.
  EXPECT_EQ(parse("[1,\r\n\r 2 3]").error.userInfo["JTLineNumberKey"].unsignedValue(), 3u);
  EXPECT_EQ(parse("[1,\xE2\x80\xA8 2 3]", JTParseUnicodeNewlines).error.userInfo["JTLineNumberKey"].unsignedValue(), 2u);
}

TEST(JSONDecoder, Numbers) {
  EXPECT_EQ(failure("[01]"), "Unexpected value.");
  EXPECT_EQ(failure("[-]"), "Invalid number.");
  EXPECT_EQ(failure("[1.]"), "Invalid number.");
  EXPECT_EQ(failure("[1e]"), "Invalid number.");
  EXPECT_EQ(failure("[1e+]"), "Invalid number.");

  Outcome o = parse("[-0, 18446744073709551615, 9223372036854775807, -9223372036854775808, 1E2, 2.5e-3]");
  ASSERT_TRUE(o.value);
  const os::Value& a = *o.value;
  EXPECT_EQ(a.at(0).typeCode(), 'd');
  EXPECT_TRUE(std::signbit(a.at(0).doubleValue()));
  EXPECT_EQ(a.at(1).typeCode(), 'Q');
  EXPECT_EQ(a.at(1).unsignedValue(), 18446744073709551615ull);
  EXPECT_EQ(a.at(2).typeCode(), 'q');
  EXPECT_EQ(a.at(3).intValue(), INT64_MIN);
  EXPECT_EQ(a.at(4).typeCode(), 'd');
  EXPECT_DOUBLE_EQ(a.at(4).doubleValue(), 100.0);
  EXPECT_DOUBLE_EQ(a.at(5).doubleValue(), 0.0025);

  EXPECT_EQ(failure("[18446744073709551616]"),
            "The value '18446744073709551616' exceeded the maximum value that could be represented: 18446744073709551615.");
  EXPECT_EQ(failure("[-9223372036854775809]"),
            "The value '-9223372036854775809' exceeded the minimum value that could be represented: -9223372036854775808.");
  EXPECT_EQ(failure("[1e400]"), "The value '1e400' could not be represented as a 'double' due to overflow.");
  EXPECT_EQ(failure("[1e-400]"), "The value '1e-400' could not be represented as a 'double' due to underflow.");
  // Below the normal range the value has lost precision downward, whatever the sign.
  EXPECT_EQ(failure("[-1e-310]"), "The value '-1e-310' could not be represented as a 'double' due to underflow.");
}

TEST(JSONDecoder, NumbersAtTheEdgesOfTheShortForms) {
  Outcome o = parse("[-999999999999999999, 9999999999999999999, 0.0, -0.0, 0e5, 0.1, 2.2250738585072014e-308, "
                    "1.7976931348623157e308, 123.456e7]");
  ASSERT_TRUE(o.value) << o.message();
  const os::Value& a = *o.value;
  EXPECT_EQ(a.at(0).typeCode(), 'q');
  EXPECT_EQ(a.at(0).intValue(), -999999999999999999LL);
  EXPECT_EQ(a.at(1).typeCode(), 'Q');
  EXPECT_EQ(a.at(1).unsignedValue(), 9999999999999999999ULL);
  for (std::size_t i : {2u, 3u, 4u}) {
    EXPECT_EQ(a.at(i).typeCode(), 'd') << i;
    EXPECT_EQ(a.at(i).doubleValue(), 0.0) << i;
  }
  EXPECT_TRUE(std::signbit(a.at(3).doubleValue()));
  EXPECT_EQ(a.at(5).doubleValue(), 0.1);
  EXPECT_EQ(a.at(6).doubleValue(), 2.2250738585072014e-308);
  EXPECT_EQ(a.at(7).doubleValue(), 1.7976931348623157e308);
  EXPECT_EQ(a.at(8).doubleValue(), 1234560000.0);
  EXPECT_EQ(failure("[4.9e-324]"), "The value '4.9e-324' could not be represented as a 'double' due to underflow.");
  EXPECT_EQ(failure("[0.5e-320]"), "The value '0.5e-320' could not be represented as a 'double' due to underflow.");
  EXPECT_EQ(failure("[1.8e308]"), "The value '1.8e308' could not be represented as a 'double' due to overflow.");
}

TEST(JSONDecoder, StringScanFindsTheFirstSpecialByteWhereverItFalls) {
  for (std::size_t k = 0; k < 18; ++k) {
    const std::string plain(k, 'a');
    Outcome bad = parse("[\"" + plain + "\x01" + plain + "\"]");
    ASSERT_FALSE(bad.value);
    EXPECT_EQ(bad.error.userInfo["JTAtIndexKey"].unsignedValue(), 2 + k) << k;
    Outcome good = parse("[\"" + plain + "\xE4\xB8\xAD\\\"" + plain + "\", \"" + plain + "\"]");
    ASSERT_TRUE(good.value) << k << good.message();
    EXPECT_EQ(good.value->at(0).stringOr(), plain + "\xE4\xB8\xAD\"" + plain);
    EXPECT_EQ(good.value->at(1).stringOr(), plain);
  }
  // Characters JSON text may not carry, written out raw among plain text.
  const std::string illegal = "Illegal UTF8 sequence found in \"\" string.";
  EXPECT_EQ(failure("[\"abcdefgh\xEF\xB7\x90\"]"), illegal);      // U+FDD0
  EXPECT_EQ(failure("[\"abcdefgh\xEF\xBF\xBE\"]"), illegal);      // U+FFFE
  EXPECT_EQ(failure("[\"abcdefgh\xF0\x9F\xBF\xBF\"]"), illegal);  // U+1FFFF
  EXPECT_EQ(failure("[\"abcdefgh\xE0\x9F\xBF\"]"), illegal);      // overlong
  EXPECT_EQ(parse("[\"\xC2\x80\xDF\xBF\xF4\x8F\xBF\xBD\"]").value->at(0).stringOr(), "\xC2\x80\xDF\xBF\xF4\x8F\xBF\xBD");
}

TEST(JSONDecoder, DoublesReadAsStrtodReadsThem) {
  // Short ones are made on the way through the text, the rest the long way; both must agree with
  // the C library to the last bit.
  std::vector<std::string> numbers;
  unsigned long long m = 1;
  for (int i = 0; i < 400; ++i) {
    m = m * 6364136223846793005ULL + 1442695040888963407ULL;
    char buf[64];
    const int fraction = 1 + i % 14;
    const unsigned long long digits = (m >> 11) % 1000000000000000ULL;
    const int exponent = static_cast<int>((m >> 3) % 60) - 30;
    if (i % 3 == 0) std::snprintf(buf, sizeof buf, "%s%llu.%0*llu", i % 2 ? "-" : "", (m >> 40) % 100000, fraction, digits % 1000000000000ULL);
    else std::snprintf(buf, sizeof buf, "%s%llu.%llue%d", i % 2 ? "-" : "", (m >> 40) % 1000, digits >> (i % 40), exponent);
    numbers.push_back(buf);
  }
  std::string text = "[";
  for (const std::string& n : numbers) text += n + ",";
  text.back() = ']';
  Outcome o = parse(text);
  ASSERT_TRUE(o.value) << o.message();
  for (std::size_t i = 0; i < numbers.size(); ++i) {
    EXPECT_EQ(o.value->at(i).typeCode(), 'd') << numbers[i];
    EXPECT_EQ(o.value->at(i).doubleValue(), std::strtod(numbers[i].c_str(), nullptr)) << numbers[i];
  }
}

TEST(JSONDecoder, TextAfterAnEscapeIsCheckedAsBefore) {
  for (std::size_t k = 0; k < 18; ++k) {
    const std::string plain(k, 'a');
    Outcome good = parse("[\"\\n" + plain + "\xE4\xB8\xAD" + plain + "\\u0041" + plain + "\"]");
    ASSERT_TRUE(good.value) << k << good.message();
    EXPECT_EQ(good.value->at(0).stringOr(), "\n" + plain + "\xE4\xB8\xAD" + plain + "A" + plain);
    Outcome bad = parse("[\"\\t" + plain + "\x01\"]");
    ASSERT_FALSE(bad.value);
    EXPECT_EQ(bad.error.userInfo["JTAtIndexKey"].unsignedValue(), 4 + k) << k;
  }
  EXPECT_EQ(failure("[\"\\n\xFF\"]"), "Illegal UTF8 sequence found in \"\" string.");
  EXPECT_EQ(failure("[\"\\n\xE4\xB8"), "End of buffer reached while parsing UTF8 in \"\" string.");
  EXPECT_EQ(failure("[\"\\nabc"), "Invalid string.");
  Outcome loose = parse("[\"\\n\xFF" "b\xEF\xBF\xBF\"]", JTParseLooseUnicode);
  ASSERT_TRUE(loose.value) << loose.message();
  EXPECT_EQ(loose.value->at(0).stringOr(), "\n\xEF\xBF\xBD" "b\xEF\xBF\xBD");
}

TEST(JSONDecoder, StringEscapes) {
  Outcome o = parse(R"(["a\"b\\c\/d\b\f\n\r\t", "\u00e9\u4e2d", "\ud83d\ude00"])");
  ASSERT_TRUE(o.value) << o.message();
  EXPECT_EQ(o.value->at(0).stringOr(), "a\"b\\c/d\b\f\n\r\t");
  EXPECT_EQ(o.value->at(1).stringOr(), "\xC3\xA9\xE4\xB8\xAD");
  EXPECT_EQ(o.value->at(2).stringOr(), "\xF0\x9F\x98\x80");

  EXPECT_EQ(failure(R"(["\x"])"), "Invalid escape sequence found in \"\" string.");
  EXPECT_EQ(failure(R"(["\u12G4"])"),
            "Unexpected character found in \\u Unicode escape sequence.  Found 'G', expected [0-9a-fA-F].");
  EXPECT_EQ(failure("[\"a\tb\"]"), "Invalid character < 0x20 found in string: 0x09.");
  EXPECT_EQ(failure(R"(["\u12)"), "Invalid string.");
}

TEST(JSONDecoder, SurrogatesAndForbiddenCodePoints) {
  const std::string required =
      "Required a second \\u Unicode escape sequence following a surrogate \\u Unicode escape sequence.";
  EXPECT_EQ(failure(R"(["\ud83d"])"), required);
  EXPECT_EQ(failure(R"(["\ud83dx"])"), required);
  EXPECT_EQ(failure(R"(["\ud83d\n"])"), required);
  EXPECT_EQ(failure(R"(["\ude00"])"), "Illegal \\u Unicode escape sequence.");
  EXPECT_EQ(failure(R"(["\ud83d\u0041"])"), "Illegal \\u Unicode escape sequence.");
  EXPECT_EQ(failure(R"(["\u0000"])"), "Illegal \\u Unicode escape sequence.");
  EXPECT_EQ(failure(R"(["\uffff"])"), "Illegal \\u Unicode escape sequence.");
  EXPECT_EQ(failure(R"(["\ufdd0"])"), "Illegal \\u Unicode escape sequence.");

  auto loose = [](std::string_view text) {
    Outcome o = parse(text, JTParseLooseUnicode);
    EXPECT_TRUE(o.value) << o.message();
    return o.value ? o.value->at(0).stringOr() : std::string();
  };
  const std::string fffd = "\xEF\xBF\xBD";
  EXPECT_EQ(loose(R"(["\ud83d"])"), fffd);
  EXPECT_EQ(loose(R"(["\ud83dx"])"), fffd + "x");
  EXPECT_EQ(loose(R"(["\ud83d\n"])"), fffd + "\n");
  EXPECT_EQ(loose(R"(["\u0000"])"), fffd);
  EXPECT_EQ(loose(R"(["a\ude00b"])"), "a" + fffd + "b");
  // The escape after a lone high half keeps its own character.
  EXPECT_EQ(loose(R"(["\ud83d\u0041"])"), fffd + "A");
  EXPECT_EQ(loose(R"(["\ud83d\ud83d\ude00"])"), fffd + "\xF0\x9F\x98\x80");
}

TEST(JSONDecoder, RawUTF8IsChecked) {
  Outcome ok = parse("[\"\xE4\xB8\xAD\xF0\x9F\x98\x80\"]");
  ASSERT_TRUE(ok.value);
  EXPECT_EQ(ok.value->at(0).stringOr(), "\xE4\xB8\xAD\xF0\x9F\x98\x80");

  EXPECT_EQ(failure("[\"a\xFF\"]"), "Illegal UTF8 sequence found in \"\" string.");
  EXPECT_EQ(failure("[\"\xC0\xAF\"]"), "Illegal UTF8 sequence found in \"\" string.");   // overlong
  EXPECT_EQ(failure("[\"\xED\xA0\x80\"]"), "Illegal UTF8 sequence found in \"\" string.");  // surrogate
  EXPECT_EQ(failure("[\"\xEF\xBF\xBF\"]"), "Illegal UTF8 sequence found in \"\" string.");  // U+FFFF
  EXPECT_EQ(failure("[\"\xE4\xB8"), "End of buffer reached while parsing UTF8 in \"\" string.");

  Outcome loose = parse("[\"a\xFF" "b\xE4\xB8\"]", JTParseLooseUnicode);
  ASSERT_TRUE(loose.value) << loose.message();
  EXPECT_EQ(loose.value->at(0).stringOr(), "a\xEF\xBF\xBD" "b\xEF\xBF\xBD");
}

TEST(JSONDecoder, DeepNestingFailsInsteadOfOverflowingTheStack) {
  auto nested = [](std::size_t depth) { return std::string(depth, '[') + std::string(depth, ']') + " "; };
  EXPECT_TRUE(parse(nested(512)).value);
  EXPECT_EQ(failure(nested(513)), "Arrays and objects are nested more than 512 levels deep.");
  std::string objects;
  for (int i = 0; i < 100000; ++i) objects += "{\"a\":";
  EXPECT_EQ(failure(objects), "Arrays and objects are nested more than 512 levels deep.");
}

TEST(JSONDecoder, CacheSharesValuesAcrossParsesUntilCleared) {
  JSONDecoder decoder;
  const std::string text = R"([{"key":"value","n":42},{"key":"value","n":42}])";
  os::Value previous;  // keeps the last round's storage alive, so its address can't come back
  for (int round = 0; round < 3; ++round) {
    auto v = decoder.objectWithUTF8String(text.data(), text.size());
    ASSERT_TRUE(v);
    EXPECT_EQ(v->at(1)["key"].stringOr(), "value");
    EXPECT_EQ(v->at(1)["n"].intValue(), 42);
    // One storage for the repeated value, within a parse and, until cleared, across parses.
    const std::string* shared = v->at(0)["key"].string();
    EXPECT_EQ(v->at(1)["key"].string(), shared);
    if (round == 1) {
      EXPECT_EQ(shared, previous.string());
    } else if (round == 2) {
      EXPECT_NE(shared, previous.string());
    }
    previous = v->at(0)["key"];
    // A holder that changes its copy leaves the others alone.
    os::Value changed = v->at(0)["key"];
    changed.mutableString()->append("!");
    EXPECT_EQ(v->at(1)["key"].stringOr(), "value");
    if (round == 1) decoder.clearCache();
  }
  // A decoder stays usable after a failure.
  os::Error error;
  EXPECT_FALSE(decoder.objectWithUTF8String("[", 1, &error));
  EXPECT_TRUE(decoder.objectWithUTF8String(text.data(), text.size()));
}

// More distinct strings than the cache holds: slots are taken over and let go, and every value
// read stays whole after its decoder and the cache are gone.
TEST(JSONDecoder, ValuesOutliveTheSlotsThatHeldThem) {
  std::string text = "[";
  for (int i = 0; i < 5000; ++i) text += (i ? ",\"" : "\"") + std::string(40, 'a' + i % 26) + std::to_string(i % 3000) + "\"";
  text += "]";
  std::vector<os::Value> kept;
  {
    JSONDecoder decoder;
    for (int round = 0; round < 3; ++round) {
      auto v = decoder.objectWithUTF8String(text.data(), text.size());
      ASSERT_TRUE(v);
      kept.push_back(*v);
      if (round == 1) decoder.clearCache();
    }
  }
  for (const auto& v : kept) {
    ASSERT_EQ(v.array()->size(), 5000u);
    for (int i : {0, 25, 2999, 3000, 4999})
      EXPECT_EQ(v.at(static_cast<std::size_t>(i)).stringOr(), std::string(40, 'a' + i % 26) + std::to_string(i % 3000));
  }
}

TEST(JSONDecoder, OptionsAndArgumentsAreChecked) {
  EXPECT_NO_THROW(JSONDecoder(15));
  try {
    JSONDecoder decoder(16);
    FAIL();
  } catch (const os::Exception& e) {
    EXPECT_EQ(e.name(), "NSInvalidArgumentException");
    EXPECT_EQ(e.reason(), "Invalid parse options.");
  }
  JSONDecoder decoder;
  EXPECT_THROW(decoder.objectWithUTF8String(nullptr, 0), os::Exception);
}

TEST(JSONDecoder, OneCallFormsUseTheProcessProfile) {
  auto v = objectFromJSONString(R"({"a":[1]})");
  ASSERT_TRUE(v);
  EXPECT_EQ((*v)["a"].at(0).intValue(), 1);
  EXPECT_TRUE(mutableObjectFromJSONData(os::dataFromString("[2]")));

  JSONCodecProfile other;
  other.errorDomain = "OtherErrorDomain";
  other.atIndexKey = "OtherAtIndexKey";
  other.lineNumberKey = "OtherLineNumberKey";
  JSONCodecProfile::setCurrent(other);
  os::Error error;
  EXPECT_FALSE(objectFromJSONStringWithParseOptions("[1 2]", 0, &error));
  JSONCodecProfile::setCurrent(JSONCodecProfile::standard());
  EXPECT_EQ(error.domain, "OtherErrorDomain");
  EXPECT_TRUE(error.userInfo.contains("OtherAtIndexKey"));
  EXPECT_TRUE(error.userInfo.contains("OtherLineNumberKey"));
}

TEST(JSONDecoder, EveryRawControlCharacterIsRefusedAndAPairUpToDFFFAccepted) {
  for (int c = 0; c < 0x20; ++c) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%02x", c);
    const std::string expected = std::string("Invalid character < 0x20 found in string: ") + hex + ".";
    const std::string raw(1, static_cast<char>(c));
    EXPECT_EQ(failure("[\"a" + raw + "b\"]"), expected) << hex;
    // After an escape the text is read by the slower decoding scan, which must refuse them too.
    EXPECT_EQ(failure("[\"\\n" + raw + "\"]"), expected) << hex;
  }
  Outcome o = parse(R"(["\ud800\udfff", "\ud800\udc00"])");
  ASSERT_TRUE(o.value) << o.message();
  EXPECT_EQ(o.value->at(0).stringOr(), "\xF0\x90\x8F\xBF");  // U+103FF
  EXPECT_EQ(o.value->at(1).stringOr(), "\xF0\x90\x80\x80");  // U+10000
}

}  // namespace
