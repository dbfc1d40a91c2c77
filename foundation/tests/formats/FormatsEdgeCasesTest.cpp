// Edge cases where the codec, the containers and the date helpers used to go wrong: the shapes
// of hostile or unusual input, and the corners of the calendar.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>

#include "foundation/formats/DateUtilities.h"
#include "foundation/formats/JSONDecoder.h"
#include "foundation/formats/JSONTideDeserializing.h"
#include "foundation/formats/JSONTideSerializing.h"
#include "foundation/formats/JTDictionary.h"
#include "os/runtime/Clock.h"

namespace {

struct Parsed {
  std::optional<os::Value> value;
  os::Error error;
  std::string message() const { return error.localizedDescription(); }
  unsigned long long line() const { return error.userInfo["JTLineNumberKey"].unsignedValue(); }
  unsigned long long index() const { return error.userInfo["JTAtIndexKey"].unsignedValue(); }
};

Parsed parse(std::string_view text, unsigned options = JTParseStrict, const JSONCodecProfile& profile = JSONCodecProfile::standard()) {
  Parsed p;
  JSONDecoder decoder(options, profile);
  p.value = decoder.objectWithUTF8String(text.data(), text.size(), &p.error);
  return p;
}

const std::string kFFFD = "\xEF\xBF\xBD";

TEST(JSONDecoderEdges, EndOfInputInsideEveryContainerShape) {
  for (std::string_view text : {"[", "{", "[1,", "{\"a\":1,", "[[[", "[{\"a\":[1,", "[\"x\"", "{\"a\":{}"}) {
    Parsed p = parse(text);
    EXPECT_FALSE(p.value) << text;
    EXPECT_EQ(p.message(), "Reached the end of the buffer.") << text;
  }
  // A token cut short says what it is; a number needs a byte after it to end.
  EXPECT_EQ(parse("{\"a\":1").message(), "Invalid number.");
  EXPECT_EQ(parse("{\"a\":").message(),
            "Unexpected token, wanted '{', '}', '[', ']', ',', ':', 'true', 'false', 'null', '\"STRING\"', 'NUMBER'.");
  EXPECT_EQ(parse("{\"a\":nul").message(),
            "Unexpected token, wanted '{', '}', '[', ']', ',', ':', 'true', 'false', 'null', '\"STRING\"', 'NUMBER'.");
  for (std::string_view text : {"[1,\n]", "[\n1\n,\n]", "[[],]"}) EXPECT_EQ(parse(text).message(), "Unexpected ']'.") << text;
}

TEST(JSONDecoderEdges, LineNumbersFollowEveryKindOfBreak) {
  // The stray value sits on line 4: LF, CR LF (one break), lone CR.
  Parsed p = parse("[1,\n2,\r\n3,\r4 5]");
  EXPECT_EQ(p.message(), "Unexpected value.");
  EXPECT_EQ(p.line(), 4u);
  EXPECT_EQ(p.index(), 14u);  // just past the stray token
  // Breaks inside a block comment count too.
  p = parse("[1, /* one\ntwo\n */ 2 3]", JTParseComments);
  EXPECT_EQ(p.line(), 3u);
  // U+0085 breaks a line only when asked; otherwise it is no white space at all.
  p = parse("[1,\xC2\x85 2 3]", JTParseUnicodeNewlines);
  EXPECT_EQ(p.line(), 2u);
  p = parse("[1,\xC2\x85 2]");
  EXPECT_EQ(p.line(), 1u);
  EXPECT_FALSE(p.value);
  // Errors inside strings report the line of the string.
  p = parse("[\n\n\"a\\q\"]");
  EXPECT_EQ(p.message(), "Invalid escape sequence found in \"\" string.");
  EXPECT_EQ(p.line(), 3u);
}

TEST(JSONDecoderEdges, NumberLimitsAndSigns) {
  Parsed p = parse("[-0, -0.0, 0, 18446744073709551615, 9223372036854775808, -9223372036854775808]");
  ASSERT_TRUE(p.value) << p.message();
  const os::Value& a = *p.value;
  EXPECT_TRUE(std::signbit(a.at(0).doubleValue()));
  EXPECT_TRUE(std::signbit(a.at(1).doubleValue()));
  EXPECT_EQ(a.at(2).typeCode(), 'q');
  EXPECT_EQ(a.at(3).typeCode(), 'Q');
  EXPECT_EQ(a.at(3).unsignedValue(), 18446744073709551615ull);
  // Just past the signed range is still an integer, unsigned.
  EXPECT_EQ(a.at(4).typeCode(), 'Q');
  EXPECT_EQ(a.at(4).unsignedValue(), 9223372036854775808ull);
  EXPECT_EQ(a.at(5).typeCode(), 'q');

  EXPECT_EQ(parse("[-1e400]").message(), "The value '-1e400' could not be represented as a 'double' due to overflow.");
  EXPECT_EQ(parse("{\"n\":1e400}").message(), "The value '1e400' could not be represented as a 'double' due to overflow.");
  // -0 survives a round trip through the writer with its sign.
  auto written = JSONString(os::Value(os::Array{os::Value::real('d', -0.0)}));
  ASSERT_TRUE(written);
  EXPECT_EQ(*written, "[-0]");
  auto back = objectFromJSONString(*written + " ");
  ASSERT_TRUE(back);
  EXPECT_TRUE(std::signbit(back->at(0).doubleValue()));
}

TEST(JSONDecoderEdges, SurrogatesUnderEveryOptionSet) {
  const std::string pair = "\xF0\x9F\x98\x80";
  for (unsigned options = 0; options < 16; ++options) {
    const bool loose = options & JTParseLooseUnicode;
    SCOPED_TRACE(options);
    Parsed p = parse(R"(["\ud83d\ude00"])", options);
    ASSERT_TRUE(p.value) << p.message();
    EXPECT_EQ(p.value->at(0).stringOr(), pair);

    p = parse(R"(["a\ud83db"])", options);
    if (loose) {
      ASSERT_TRUE(p.value);
      EXPECT_EQ(p.value->at(0).stringOr(), "a" + kFFFD + "b");
    } else {
      EXPECT_EQ(p.message(),
                "Required a second \\u Unicode escape sequence following a surrogate \\u Unicode escape sequence.");
    }

    p = parse(R"(["\ude00\ud83d"])", options);
    if (loose) {
      ASSERT_TRUE(p.value);
      EXPECT_EQ(p.value->at(0).stringOr(), kFFFD + kFFFD);
    } else {
      EXPECT_EQ(p.message(), "Illegal \\u Unicode escape sequence.");
    }

    // Raw UTF-8 of a surrogate is as bad as its escape.
    p = parse("[\"\xED\xB8\x80\"]", options);
    if (loose) {
      ASSERT_TRUE(p.value);
      EXPECT_NE(p.value->at(0).stringOr().find(kFFFD), std::string::npos);
    } else {
      EXPECT_EQ(p.message(), "Illegal UTF8 sequence found in \"\" string.");
    }
  }
}

TEST(JSONDecoderEdges, DepthLimitIsAProfileParameterAndLeavesTheDecoderUsable) {
  JSONCodecProfile shallow;
  shallow.errorDomain = "ShallowDomain";
  shallow.maximumDepth = 3;
  EXPECT_TRUE(parse("[[[1]]]", 0, shallow).value);
  Parsed p = parse("[{\"a\":[{}]}]", 0, shallow);
  EXPECT_FALSE(p.value);
  EXPECT_EQ(p.error.domain, "ShallowDomain");
  EXPECT_EQ(p.message(), "Arrays and objects are nested more than 3 levels deep.");

  // A document far deeper than any stack could take fails cleanly, with its position.
  JSONDecoder decoder;
  const std::string deep = "\n" + std::string(1'000'000, '[');
  os::Error error;
  EXPECT_FALSE(decoder.objectWithUTF8String(deep.data(), deep.size(), &error));
  EXPECT_EQ(error.localizedDescription(), "Arrays and objects are nested more than 512 levels deep.");
  EXPECT_EQ(error.userInfo["JTLineNumberKey"].unsignedValue(), 2u);
  auto again = decoder.objectWithUTF8String("[[1]] ", 6);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->at(0).at(0).intValue(), 1);
}

TEST(JSONDecoderEdges, CacheNeverConfusesValuesOfTheSameBytes) {
  JSONDecoder decoder;
  // The same digits as a signed and an unsigned integer, and strings that collide on slots.
  std::string text = "[1, \"1\", -1, 1.0, 18446744073709551615, -9223372036854775808";
  for (int i = 0; i < 3000; ++i) text += ", \"k" + std::to_string(i) + "\"";
  text += "]";
  for (int round = 0; round < 2; ++round) {
    auto v = decoder.objectWithUTF8String(text.data(), text.size());
    ASSERT_TRUE(v);
    EXPECT_EQ(v->at(0).typeCode(), 'q');
    EXPECT_TRUE(v->at(1).isString());
    EXPECT_EQ(v->at(2).intValue(), -1);
    EXPECT_EQ(v->at(3).typeCode(), 'd');
    EXPECT_EQ(v->at(4).typeCode(), 'Q');
    EXPECT_EQ(v->at(5).intValue(), INT64_MIN);
    for (int i = 0; i < 3000; ++i) ASSERT_EQ(v->at(6 + i).stringOr(), "k" + std::to_string(i));
  }
}

TEST(JTDictionaryEdges, EmptyTablesAnswerNotFound) {
  // Capacity 0: every lookup, removal and walk must treat the table as empty.
  for (bool mutableResult : {false, true}) {
    auto parsed = objectFromJSONString("{} ");
    ASSERT_TRUE(parsed);
    auto d = JTDictionary::fromValue(*parsed, mutableResult);
    EXPECT_EQ(d->capacity(), 0u);
    EXPECT_EQ(d->objectForKey("a"), nullptr);
    EXPECT_EQ(d->objectForKey(""), nullptr);
    EXPECT_TRUE(d->allKeys().empty());
    EXPECT_FALSE(d->keyEnumerator()->nextObject());
    EXPECT_EQ(d->begin(), d->end());
    d->getObjects(nullptr, nullptr);
    if (mutableResult) {
      d->removeObjectForKey("a");
      EXPECT_EQ(d->count(), 0u);
      d->setObject(1, "a");
      EXPECT_EQ(d->objectForKey("a")->intValue(), 1);
    }
  }
}

TEST(JTSerializerEdges, FreedAndReusedStorageNeverRepeatsEarlierText) {
  // Values made and dropped one after another tend to land on the same addresses; each must be
  // written from its own content.
  for (int i = 0; i < 200; ++i) {
    auto s = std::make_unique<os::Value>(os::Array{os::Value("v" + std::to_string(i)), os::Value(i)});
    auto written = JSONString(*s);
    ASSERT_TRUE(written);
    EXPECT_EQ(*written, "[\"v" + std::to_string(i) + "\"," + std::to_string(i) + "]");
  }
  // One value repeated, and a changed copy of it, in one document.
  os::Value shared("same");
  os::Array a{shared, shared};
  a.push_back(os::Value("other"));
  EXPECT_EQ(JSONString(os::Value(a)), R"(["same","same","other"])");
}

TEST(JTSerializerEdges, BadUTF8IsRefusedEverywhereInTheTree) {
  const std::string message = "An error occurred converting the contents of a NSString to UTF8.";
  for (std::string bad : {std::string("\xC0\xAF"), std::string("\xED\xA0\x80"), std::string("ok\xF4\x90\x80\x80"),
                          std::string("\xE4\xB8")}) {
    for (unsigned options : {0u, unsigned(JTSerializeEscapeUnicode)}) {
      os::Error error;
      EXPECT_FALSE(JSONStringWithOptions(os::Value(os::Dictionary{{"k", os::Array{bad}}}), options, &error));
      EXPECT_EQ(error.localizedDescription(), message);
      EXPECT_FALSE(JSONStringWithOptions(std::string_view(bad), options, true, &error));
      EXPECT_EQ(error.localizedDescription(), message);
    }
  }
}

// Calendar corners, in a fixed zone so the results do not depend on the machine.
class DateEdges : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = std::make_unique<TimeZoneRules>(currentCalendar().timeZone());
    currentCalendar().setTimeZone(TimeZoneRules::fixed(8 * 3600));
  }
  void TearDown() override { currentCalendar().setTimeZone(*saved_); }
  static os::Date local(long y, long mo, long d, long h = 0, long mi = 0, long s = 0) {
    return currentCalendar().dateFromComponents(y, mo, d, h, mi, s);
  }
  std::unique_ptr<TimeZoneRules> saved_;
};

TEST_F(DateEdges, MonthArithmeticClampsToTheLastDay) {
  EXPECT_EQ(dateByAddingMonths(local(2026, 1, 31, 9, 15), 1), local(2026, 2, 28, 9, 15));
  EXPECT_EQ(dateByAddingMonths(local(2024, 1, 31), 1), local(2024, 2, 29));
  EXPECT_EQ(dateBySubtractingMonths(local(2026, 3, 31), 1), local(2026, 2, 28));
  EXPECT_EQ(dateByAddingMonths(local(2026, 10, 31), 1), local(2026, 11, 30));
  EXPECT_EQ(dateByAddingMonths(local(2026, 12, 31), 2), local(2027, 2, 28));
  EXPECT_EQ(dateByAddingMonths(local(2026, 1, 31), 13), local(2027, 2, 28));
  EXPECT_EQ(dateBySubtractingMonths(local(2026, 1, 31), 2), local(2025, 11, 30));
  EXPECT_EQ(dateByAddingMonths(local(2026, 1, 31), -14), local(2024, 11, 30));
  // The clamp happens once: two single steps differ from one double step.
  EXPECT_EQ(dateByAddingMonths(dateByAddingMonths(local(2026, 1, 31), 1), 1), local(2026, 3, 28));
  EXPECT_EQ(dateByAddingMonths(local(2026, 1, 31), 2), local(2026, 3, 31));
  EXPECT_EQ(dateByAddingYears(local(2024, 2, 29), 4), local(2028, 2, 29));
  EXPECT_EQ(dateBySubtractingYears(local(2024, 2, 29), 1), local(2023, 2, 28));
  EXPECT_EQ(dateByAddingDays(local(2026, 2, 28, 23, 30), 1), local(2026, 3, 1, 23, 30));
  EXPECT_EQ(dateBySubtractingDays(local(2026, 1, 1, 0, 0, 1), 1), local(2025, 12, 31, 0, 0, 1));
}

TEST_F(DateEdges, LastAndNextMonthFromAMonthEnd) {
  os::VirtualClockScope clock(local(2026, 3, 31, 12).timeIntervalSince1970());
  EXPECT_TRUE(isLastMonth(local(2026, 2, 1)));
  EXPECT_TRUE(isLastMonth(local(2026, 2, 28, 23, 59, 59)));
  EXPECT_FALSE(isLastMonth(local(2026, 3, 1)));
  EXPECT_TRUE(isNextMonth(local(2026, 4, 30)));
  EXPECT_FALSE(isNextMonth(local(2026, 5, 1)));
  EXPECT_TRUE(isThisMonth(local(2026, 3, 1)));
  EXPECT_FALSE(isThisMonth(local(2025, 3, 31)));
}

TEST_F(DateEdges, NearestHourIsThatOfTheReceiver) {
  os::VirtualClockScope clock(local(2026, 6, 1, 3).timeIntervalSince1970());
  EXPECT_EQ(nearestHour(local(2026, 6, 5, 14, 29, 59)), 14);
  EXPECT_EQ(nearestHour(local(2026, 6, 5, 14, 30)), 15);
  EXPECT_EQ(nearestHour(local(2026, 6, 5, 23, 45)), 0);
  EXPECT_EQ(nearestHour(os::Date::now()), 3);
}

}  // namespace
