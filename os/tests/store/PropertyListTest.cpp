#include <gtest/gtest.h>
#include <plist/plist.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>

#include "os/core/String.h"
#include "os/crypto/Random.h"
#include "os/store/BinaryPropertyList.h"
#include "os/store/FileManager.h"
#include "os/store/KeyedArchive.h"
#include "os/store/PropertyList.h"
#include "os/testing/TestSandbox.h"

namespace os {
namespace {

// Equality that also insists on the same kinds (Value's own == lets true equal 1).
void expectSame(const Value& a, const Value& b, const std::string& where = "root") {
  ASSERT_EQ(a.type(), b.type()) << where;
  if (a.isArray()) {
    ASSERT_EQ(a.count(), b.count()) << where;
    for (std::size_t i = 0; i < a.count(); ++i) expectSame(a.at(i), b.at(i), where + "[" + std::to_string(i) + "]");
  } else if (a.isDictionary()) {
    ASSERT_EQ(a.dictionary()->keys(), b.dictionary()->keys()) << where;
    for (const auto& [k, v] : *a.dictionary()) expectSame(v, b[k], where + "." + k);
  } else if (a.isNumber()) {
    EXPECT_EQ(a.isFloatingPoint(), b.isFloatingPoint()) << where;
    EXPECT_EQ(a, b) << where;
  } else {
    EXPECT_EQ(a, b) << where;
  }
}

Value everyKind() {
  return Value(Dictionary{
      {"yes", Value(true)},
      {"no", Value(false)},
      {"zero", Value(0)},
      {"negative", Value::number('q', -1234567890123LL)},
      {"int64max", Value::number('q', 9223372036854775807LL)},
      {"int64min", Value::number('q', -9223372036854775807LL - 1)},
      {"real", Value(0.1)},
      {"negativeReal", Value(-2.5e-300)},
      {"text", Value("h\xC3\xA9llo <&> \"quoted\" \xE4\xB8\xAD\xE6\x96\x87")},
      {"empty", Value("")},
      {"data", Value(Data{0, 1, 2, 255, 0})},
      {"emptyData", Value(Data{})},
      {"date", Value(Date::fromTimeIntervalSince1970(1700000000))},
      {"oldDate", Value(Date::fromTimeIntervalSince1970(0))},
      {"list", Value(Array{Value(1), Value("two"), Value(Array{}), Value(Dictionary{})})},
      {"nested", Value(Dictionary{{"z", Value(1)}, {"a", Value(Array{Value(Dictionary{{"deep", Value(true)}})})}})},
  });
}

class StorePropertyList : public ::testing::TestWithParam<PropertyListFormat> {};

TEST_P(StorePropertyList, EveryKindRoundTripsAndTheFormatIsReported) {
  Value original = everyKind();
  Error error;
  auto data = PropertyList::write(original, GetParam(), &error);
  ASSERT_TRUE(data) << error.localizedDescription();
  EXPECT_EQ(PropertyList::isBinary(*data), GetParam() == PropertyListFormat::Binary);
  PropertyListFormat found{};
  auto back = PropertyList::read(*data, &found, &error);
  ASSERT_TRUE(back) << error.localizedDescription();
  EXPECT_EQ(found, GetParam());
  expectSame(original, *back);
  // Dictionaries keep the order they were written in.
  EXPECT_EQ(back->dictionary()->keys(), original.dictionary()->keys());
}

TEST_P(StorePropertyList, SetsBecomeArraysAndNullIsRefused) {
  auto data = PropertyList::write(Value::set({Value(1), Value(2), Value(1)}), GetParam());
  ASSERT_TRUE(data);
  expectSame(*PropertyList::read(*data), Value(Array{Value::number('q', 1), Value::number('q', 2)}));

  Error error;
  EXPECT_FALSE(PropertyList::write(Value(Array{Value(1), Value()}), GetParam(), &error));
  EXPECT_EQ(error.domain, kPropertyListErrorDomain);
  EXPECT_EQ(error.code, kPropertyListWriteInvalidError);
  EXPECT_FALSE(PropertyList::write(Value(std::string("a\0b", 3)), GetParam(), &error));
  // XML names a date by its text, which has no word for a date that is not finite; a binary list
  // holds any (below).
  if (GetParam() == PropertyListFormat::XML) {
    EXPECT_FALSE(PropertyList::write(Value(Date::fromTimeIntervalSince1970(std::numeric_limits<double>::infinity())), GetParam(), &error));
    EXPECT_FALSE(PropertyList::write(Value(Date::fromTimeIntervalSince1970(std::nan(""))), GetParam(), &error));
  }
}

// `levels` arrays, each inside the one before, the innermost holding `leaf` unless it is null.
Value nestedArrays(int levels, const Value& leaf) {
  Value v = leaf.isNull() ? Value(Array{}) : Value(Array{leaf});
  for (int i = 1; i < levels; ++i) v = Value(Array{v});
  return v;
}

// Whatever a writer takes, the reader gives back; whatever the reader would refuse, the writer
// refuses first, saying why.
TEST_P(StorePropertyList, WritersAndReaderHoldOneDepthLimit) {
  // The top value at depth 0: a leaf at the limit, an empty container at the limit, and the
  // same under a dictionary's key.
  const int limit = kPropertyListMaxDepth;
  for (const Value& deepest : {nestedArrays(limit, Value("leaf")), nestedArrays(limit + 1, Value()),
                               Value(Dictionary{{"other", Value(1)}, {"deep", nestedArrays(limit - 1, Value(true))}})}) {
    Error error;
    auto data = PropertyList::write(deepest, GetParam(), &error);
    ASSERT_TRUE(data) << error.localizedDescription();
    auto back = PropertyList::read(*data, nullptr, &error);
    ASSERT_TRUE(back) << error.localizedDescription();
    EXPECT_EQ(*back, deepest);
  }
  for (const Value& tooDeep : {nestedArrays(limit + 1, Value("leaf")), nestedArrays(limit + 2, Value()),
                               Value(Dictionary{{"deep", nestedArrays(limit, Value(true))}})}) {
    Error error;
    EXPECT_FALSE(PropertyList::write(tooDeep, GetParam(), &error));
    EXPECT_EQ(error.code, kPropertyListWriteInvalidError);
    EXPECT_NE(error.localizedDescription().find("nested"), std::string::npos) << error.localizedDescription();
  }
}

// A keyed-archive reference is a leaf of a binary list but a dictionary holding an integer in
// XML: whatever either writer takes at the depth limit reads back, and XML refuses what it could
// not read.
TEST_P(StorePropertyList, ArchiveReferencesAtTheDepthLimitReadBackOrAreRefused) {
  const int limit = kPropertyListMaxDepth;
  for (int depth : {limit - 2, limit - 1, limit}) {
    const Value deep = nestedArrays(depth, uidValue(3));
    Error error;
    auto data = PropertyList::write(deep, GetParam(), &error, true);
    if (depth < limit || GetParam() == PropertyListFormat::Binary) {
      ASSERT_TRUE(data) << depth << ": " << error.localizedDescription();
    }
    if (!data) {
      EXPECT_NE(error.localizedDescription().find("nested"), std::string::npos) << error.localizedDescription();
      continue;
    }
    auto back = PropertyList::read(*data, nullptr, &error);
    ASSERT_TRUE(back) << depth << ": " << error.localizedDescription();
    const Value* leaf = &*back;
    for (int i = 0; i < depth && leaf->isArray() && leaf->count() == 1; ++i) leaf = &leaf->at(0);
    EXPECT_EQ(uidIndex(*leaf), 3u) << depth;
  }
}

// Integers from -2^63 to 2^64 - 1 come back as they went, unsigned ones as unsigned, also beside
// negative numbers of the same bits.
TEST_P(StorePropertyList, UnsignedIntegersPastTheSignedRangeComeBackUnsigned) {
  const std::uint64_t top = std::numeric_limits<std::uint64_t>::max(), half = std::uint64_t{1} << 63;
  const Value list(Array{Value::unsignedNumber('Q', top), Value::number('q', -1), Value::unsignedNumber('Q', half),
                         Value::number('q', std::numeric_limits<long long>::min()), Value::unsignedNumber('Q', half + 1),
                         Value::unsignedNumber('Q', 5), Value::number('q', -2)});
  Error error;
  auto data = PropertyList::write(list, GetParam(), &error);
  ASSERT_TRUE(data) << error.localizedDescription();
  auto back = PropertyList::read(*data, nullptr, &error);
  ASSERT_TRUE(back) << error.localizedDescription();
  ASSERT_EQ(back->count(), list.count());
  for (std::size_t i : {0u, 2u, 4u}) {
    EXPECT_TRUE(back->at(i).isUnsigned()) << i;
    EXPECT_EQ(back->at(i).unsignedValue(), list.at(i).unsignedValue()) << i;
  }
  for (std::size_t i : {1u, 3u, 5u, 6u}) {
    EXPECT_FALSE(back->at(i).isUnsigned() && back->at(i).unsignedValue() > half) << i;
    EXPECT_EQ(back->at(i).intValue(), list.at(i).intValue()) << i;
  }
}

// A keyed-archive reference holds an index up to 2^32 - 1, as every reader of the format takes it.
TEST_P(StorePropertyList, ArchiveReferencesPastTheirRangeAreRefusedWhenWritten) {
  const std::uint64_t largest = 0xFFFFFFFFull;
  auto data = PropertyList::write(Value(Array{uidValue(largest), uidValue(0)}), GetParam(), nullptr, true);
  ASSERT_TRUE(data);
  auto back = PropertyList::read(*data);
  ASSERT_TRUE(back);
  EXPECT_EQ(uidIndex(back->at(0)), largest);
  Error error;
  for (std::uint64_t past : {largest + 1, std::uint64_t{1} << 40, std::numeric_limits<std::uint64_t>::max()}) {
    EXPECT_FALSE(PropertyList::write(Value(Array{uidValue(past)}), GetParam(), &error, true)) << past;
    EXPECT_EQ(error.code, kPropertyListWriteInvalidError);
    EXPECT_NE(error.localizedDescription().find("reference"), std::string::npos) << error.localizedDescription();
  }
}

TEST(StorePropertyListDates, BinaryKeepsFractionsXMLKeepsWholeSeconds) {
  Value date(Date::fromTimeIntervalSince1970(1700000000.25));
  auto binary = PropertyList::read(*PropertyList::write(date, PropertyListFormat::Binary));
  auto xml = PropertyList::read(*PropertyList::write(date, PropertyListFormat::XML));
  ASSERT_TRUE(binary && xml);
  EXPECT_DOUBLE_EQ(binary->date()->timeIntervalSince1970(), 1700000000.25);
  EXPECT_DOUBLE_EQ(xml->date()->timeIntervalSince1970(), 1700000000.0);
  // Before 2001 the seconds are negative; the fraction must still come out right.
  auto early = PropertyList::read(*PropertyList::write(Value(Date::fromTimeIntervalSince1970(100.5)), PropertyListFormat::Binary));
  EXPECT_DOUBLE_EQ(early->date()->timeIntervalSince1970(), 100.5);
  // The library truncates the microseconds it reads back; none may be lost, on the first save
  // or on later ones.
  for (double when : {386000000.099988, 386000000.249999, -386000000.250001, 1.000007}) {
    auto first = PropertyList::read(*PropertyList::write(Value(Date::fromTimeIntervalSinceReferenceDate(when)),
                                                         PropertyListFormat::Binary));
    ASSERT_TRUE(first);
    EXPECT_NEAR(first->date()->timeIntervalSinceReferenceDate(), when, 4e-7) << std::to_string(when);
    auto second = PropertyList::read(*PropertyList::write(*first, PropertyListFormat::Binary));
    ASSERT_TRUE(second);
    EXPECT_EQ(*second, *first) << std::to_string(when);
  }
}

// An XML list holding one date of the given text.
Data oneXMLDate(const std::string& text) {
  return dataFromString("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<date>" + text + "</date>\n</plist>\n");
}

std::string textOf(const Data& d) { return std::string(d.begin(), d.end()); }

// XML names a date by its whole seconds in ISO 8601: every date is written and read back, well past
// the library's 32-bit seconds (2069) and before them (1932), up to the distant future (year 4001)
// and back to the distant past, in order and alike however often it appears.
TEST(StorePropertyListDates, XMLListsKeepEveryDateAsWholeSeconds) {
  struct Case {
    double since1970;
    const char* text;
  };
  const Case cases[] = {
      {4102444800, "2100-01-01T00:00:00Z"},
      {Date::distantFuture().timeIntervalSince1970(), "4001-01-01T00:00:00Z"},
      // The proleptic calendar's day before the first of year 1 (0001-01-01 of the old calendar).
      {Date::distantPast().timeIntervalSince1970(), "0000-12-30T00:00:00Z"},
      {1700000000, "2023-11-14T22:13:20Z"},
      {978307200.0 + 2147483648.0, "2069-01-19T03:14:08Z"},  // just past the library's seconds
      {978307200.0 - 2147483649.0, "1932-12-13T20:45:51Z"},
      {0, "1970-01-01T00:00:00Z"},
      {951782400, "2000-02-29T00:00:00Z"},
      {-62167305600.0, "-0001-12-31T00:00:00Z"},
      {253402300800.0, "+10000-01-01T00:00:00Z"},
  };
  Array list;
  for (const Case& c : cases) list.emplace_back(Date::fromTimeIntervalSince1970(c.since1970));
  list.emplace_back(Date::fromTimeIntervalSince1970(4102444800));  // the first date again
  // Keys and strings that spell a date's markup stay text.
  Value value(Dictionary{{"dates", Value(list)},
                         {"nested", Value(Dictionary{{"never", Value(Date::distantFuture())}})},
                         {"<date>2001-01-01T00:00:00Z</date>", Value(std::string("</date><date>garbage"))}});
  Error error;
  auto data = PropertyList::write(value, PropertyListFormat::XML, &error);
  ASSERT_TRUE(data) << error.localizedDescription();
  const std::string text = textOf(*data);
  for (const Case& c : cases) EXPECT_NE(text.find(std::string("<date>") + c.text + "</date>"), std::string::npos) << c.text << "\n" << text;
  auto back = PropertyList::read(*data, nullptr, &error);
  ASSERT_TRUE(back) << error.localizedDescription();
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    ASSERT_TRUE((*back)["dates"].at(i).isDate()) << i;
    EXPECT_EQ((*back)["dates"].at(i).date()->timeIntervalSince1970(), cases[i].since1970) << cases[i].text;
  }
  EXPECT_EQ((*back)["dates"].at(std::size(cases)).date()->timeIntervalSince1970(), 4102444800);
  EXPECT_EQ(*(*back)["nested"]["never"].date(), Date::distantFuture());
  EXPECT_EQ((*back)["<date>2001-01-01T00:00:00Z</date>"], Value(std::string("</date><date>garbage")));
  // A list written elsewhere reads as the date it names, not one in another century.
  for (const Case& c : cases) {
    auto one = PropertyList::read(oneXMLDate(c.text), nullptr, &error);
    ASSERT_TRUE(one && one->isDate()) << c.text << ": " << error.localizedDescription();
    EXPECT_EQ(one->date()->timeIntervalSince1970(), c.since1970) << c.text;
  }
  // Far beyond any calendar, a whole number of seconds still comes back as it went.
  for (double far : {1e15, -1e15, 4.0e18, -4.0e18}) {
    auto again = PropertyList::read(*PropertyList::write(Value(Date::fromTimeIntervalSinceReferenceDate(far)), PropertyListFormat::XML));
    ASSERT_TRUE(again && again->isDate()) << far;
    EXPECT_EQ(again->date()->timeIntervalSinceReferenceDate(), far);
  }
  // A fraction goes: the second it lies in is written, before 2001 as after.
  auto early = PropertyList::write(Value(Date::fromTimeIntervalSinceReferenceDate(-0.5)), PropertyListFormat::XML);
  EXPECT_NE(textOf(*early).find("<date>2000-12-31T23:59:59Z</date>"), std::string::npos) << textOf(*early);
}

// XML keeps the second a date lies in, however close to the next one: the fraction is dropped,
// never rounded up, before 2001 as after, and the date reads back as that second.
TEST(StorePropertyListDates, XMLDropsAFractionNeverRoundingUp) {
  const std::pair<double, const char*> cases[] = {
      {1700000000.5, "2023-11-14T22:13:20Z"},   {1700000000.75, "2023-11-14T22:13:20Z"},
      {1700000000.999, "2023-11-14T22:13:20Z"}, {978307199.5, "2000-12-31T23:59:59Z"},
      {978307198.5, "2000-12-31T23:59:58Z"},    {-0.5, "1969-12-31T23:59:59Z"},
  };
  for (const auto& [since1970, text] : cases) {
    auto data = PropertyList::write(Value(Date::fromTimeIntervalSince1970(since1970)), PropertyListFormat::XML);
    ASSERT_TRUE(data) << text;
    EXPECT_NE(textOf(*data).find(std::string("<date>") + text + "</date>"), std::string::npos) << since1970 << "\n" << textOf(*data);
    auto back = PropertyList::read(*data);
    ASSERT_TRUE(back && back->isDate()) << text;
    EXPECT_EQ(back->date()->timeIntervalSince1970(), std::floor(since1970)) << text;
  }
}

// Whatever date XML writes it reads back, up to the last second it can name each way; what lies
// beyond is refused both ways, so no list is written that cannot be read.
TEST(StorePropertyListDates, XMLWritesOnlyDatesItReadsBack) {
  const double bound = 4611686018427387904.0;  // 2^62 seconds from 2001
  const std::pair<double, const char*> edges[] = {{bound, "+146138514314-06-20T07:45:04Z"},
                                                  {-bound, "-146138510313-07-15T16:14:56Z"}};
  for (const auto& [since2001, text] : edges) {
    Error error;
    auto data = PropertyList::write(Value(Array{Value(Date::fromTimeIntervalSinceReferenceDate(since2001))}),
                                    PropertyListFormat::XML, &error);
    ASSERT_TRUE(data) << text << ": " << error.localizedDescription();
    EXPECT_NE(textOf(*data).find(std::string("<date>") + text + "</date>"), std::string::npos) << textOf(*data);
    auto back = PropertyList::read(*data, nullptr, &error);
    ASSERT_TRUE(back) << text << ": " << error.localizedDescription();
    EXPECT_EQ(back->at(0).date()->timeIntervalSinceReferenceDate(), since2001) << text;
    // The next date a double holds, further out, is refused rather than written.
    EXPECT_FALSE(PropertyList::write(Value(Date::fromTimeIntervalSinceReferenceDate(std::nextafter(since2001, 2 * since2001))),
                                     PropertyListFormat::XML))
        << text;
  }
  // One second past either edge is no date a list may hold.
  for (const char* text : {"+146138514314-06-20T07:45:05Z", "-146138510313-07-15T16:14:55Z", "+146138514314-06-21T00:00:00Z"}) {
    Error error;
    EXPECT_FALSE(PropertyList::read(oneXMLDate(text), nullptr, &error)) << text;
    EXPECT_EQ(error.code, kPropertyListReadCorruptError) << text;
  }
}

// An empty date element names no date, wherever it stands: beside a real date it must not be read
// as that one.
TEST(StorePropertyListDates, AnEmptyXMLDateIsRefusedWhereverItStands) {
  for (const char* body : {"<date/>", "<array><date>2100-01-01T00:00:00Z</date><date/></array>",
                           "<array><date/><date>2100-01-01T00:00:00Z</date></array>",
                           "<dict><key>when</key><date>2100-01-01T00:00:00Z</date><key>empty</key><date /></dict>",
                           "<array><date>2100-01-01T00:00:00Z</date><date></date></array>"}) {
    Error error;
    auto read = PropertyList::read(dataFromString(std::string("<plist version=\"1.0\">") + body + "</plist>"), nullptr, &error);
    EXPECT_FALSE(read) << body << " read as " << (read ? read->description() : "");
    EXPECT_EQ(error.code, kPropertyListReadCorruptError) << body;
  }
}

// The forms of ISO 8601 a list written elsewhere may hold read as the instant they name; a text
// that names no date is refused rather than read as some other date.
TEST(StorePropertyListDates, XMLDateTextsAreReadAsTheyAreMeant) {
  const std::pair<const char*, double> read[] = {
      {" 2100-01-01T00:00:00Z\n", 4102444800},
      {"2100-01-01T00:00:00", 4102444800},
      {"2100-01-01T01:00:00+01:00", 4102444800},
      {"2099-12-31T23:30:00-0030", 4102444800},
      {"2100-01-01T00:00:00.25Z", 4102444800.25},
      {"2100-01-01", 4102444800},
      {"2100-01-01T00:00Z", 4102444800},
  };
  for (const auto& [text, since1970] : read) {
    Error error;
    auto one = PropertyList::read(oneXMLDate(text), nullptr, &error);
    ASSERT_TRUE(one && one->isDate()) << text << ": " << error.localizedDescription();
    EXPECT_EQ(one->date()->timeIntervalSince1970(), since1970) << text;
  }
  for (const char* text : {"", "garbage", "2100-13-01T00:00:00Z", "2100-02-29T00:00:00Z", "2100-01-01T24:00:00Z",
                           "2100-01-01T00:00:00Q", "21-01-01T00:00:00Z", "2100-01-01T00:00:00Z trailing",
                           "1234567890123-01-01T00:00:00Z"}) {
    Error error;
    EXPECT_FALSE(PropertyList::read(oneXMLDate(text), nullptr, &error)) << text;
    EXPECT_EQ(error.code, kPropertyListReadCorruptError) << text;
  }
  // A date's text inside a comment, a CDATA section or a string is no date.
  auto quoted = PropertyList::read(dataFromString(
      "<plist><array><!-- <date>x</date> --><string><![CDATA[<date>garbage</date>]]></string>"
      "<string>&lt;date&gt;garbage&lt;/date&gt;</string><date>2100-01-01T00:00:00Z</date></array></plist>"));
  ASSERT_TRUE(quoted);
  EXPECT_EQ(quoted->at(0).string() ? *quoted->at(0).string() : "", "<date>garbage</date>");
  EXPECT_EQ(quoted->at(1).string() ? *quoted->at(1).string() : "", "<date>garbage</date>");
  EXPECT_EQ(quoted->at(2).date()->timeIntervalSince1970(), 4102444800);
}

// Each month ends on its own last day, February on the 29th in leap years only (every fourth year,
// centuries only every fourth): that day reads as the day before the next month's first, the day
// after it is refused, as are a day or month of zero.
TEST(StorePropertyListDates, XMLDatesEndEachMonthOnItsLastDay) {
  auto since1970 = [](long long year, int month, int day) -> std::optional<double> {
    const std::string y = year < 0 ? format("-%04lld", -year) : format("%04lld", year);
    auto one = PropertyList::read(oneXMLDate(y + format("-%02d-%02dT12:00:00Z", month, day)));
    if (!one || !one->isDate()) return std::nullopt;
    return one->date()->timeIntervalSince1970();
  };
  for (long long year : {2023LL, 2024LL, 1900LL, 2000LL, 2100LL, 2400LL, 0LL, -1LL, -4LL, -100LL}) {
    const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
    const int lengths[12] = {31, leap ? 29 : 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    for (int month = 1; month <= 12; ++month) {
      const int last = lengths[month - 1];
      const auto lastDay = since1970(year, month, last);
      const auto nextFirst = month == 12 ? since1970(year + 1, 1, 1) : since1970(year, month + 1, 1);
      ASSERT_TRUE(lastDay && nextFirst) << year << "-" << month << "-" << last;
      EXPECT_EQ(*nextFirst - *lastDay, 86400) << year << "-" << month << "-" << last;
      EXPECT_FALSE(since1970(year, month, last + 1)) << year << "-" << month << "-" << last + 1;
      EXPECT_FALSE(since1970(year, month, 0)) << year << "-" << month << "-00";
    }
    EXPECT_FALSE(since1970(year, 0, 1)) << year << "-00-01";
    EXPECT_FALSE(since1970(year, 13, 1)) << year << "-13-01";
  }
  EXPECT_FALSE(since1970(2026, 10, 32));
  EXPECT_FALSE(since1970(2026, 10, 99));
}

// A one-object binary list holding a date of the given seconds since 2001, as bits of a double.
Data oneDateList(std::uint64_t bits) {
  Data list = {'b', 'p', 'l', 'i', 's', 't', '0', '0', 0x33};
  for (int shift = 56; shift >= 0; shift -= 8) list.push_back(static_cast<std::uint8_t>(bits >> shift));
  list.push_back(8);  // the offset table: the one object at byte 8
  const std::uint8_t trailer[32] = {0, 0, 0, 0, 0, 0, 1, 1, 0, 0, 0, 0, 0, 0, 0, 1,
                                    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 17};
  list.insert(list.end(), trailer, trailer + 32);
  return list;
}

// A binary list holds a date as a 64-bit real of seconds since 2001: every date is written and
// read back whole, however far from 2001 (a token that never expires lies in the year 4001).
TEST(StorePropertyListDates, BinaryListsKeepEveryDateWhole) {
  const Date in2100 = Date::fromTimeIntervalSince1970(4102444800);  // 2100-01-01 00:00:00 UTC
  const Date dates[] = {in2100,
                        Date::distantFuture(),
                        Date::distantPast(),
                        Date::fromTimeIntervalSinceReferenceDate(2147483648.0),  // just past the library's seconds
                        Date::fromTimeIntervalSinceReferenceDate(-2147483649.5),
                        Date::fromTimeIntervalSince1970(4102444800.125),
                        Date::fromTimeIntervalSinceReferenceDate(386000000.099988),
                        Date::fromTimeIntervalSinceReferenceDate(-0.25),
                        Date::fromTimeIntervalSinceReferenceDate(1e300)};
  Array list;
  for (const Date& d : dates) list.emplace_back(d);
  // The same date twice, and dates beside other reals and inside nested collections.
  Value value(Dictionary{{"dates", Value(list)},
                         {"again", Value(Array{Value(in2100), Value(4102444800.0), Value(Dictionary{{"when", Value(in2100)}})})}});
  auto written = PropertyList::write(value, PropertyListFormat::Binary);
  ASSERT_TRUE(written);
  auto back = PropertyList::read(*written);
  ASSERT_TRUE(back);
  expectSame(value, *back);
  for (std::size_t i = 0; i < std::size(dates); ++i)
    EXPECT_EQ((*back)["dates"].at(i).date()->timeIntervalSinceReferenceDate(), dates[i].timeIntervalSinceReferenceDate()) << i;

  // On disk: the big-endian double of the seconds since 2001.
  auto one = PropertyList::write(Value(in2100), PropertyListFormat::Binary);
  ASSERT_TRUE(one);
  EXPECT_EQ(*one, oneDateList(std::bit_cast<std::uint64_t>(3124137600.0)));
  // A list written elsewhere reads as the date it holds, not one in another century.
  auto read = PropertyList::read(oneDateList(std::bit_cast<std::uint64_t>(Date::distantFuture().timeIntervalSinceReferenceDate())));
  ASSERT_TRUE(read && read->date());
  EXPECT_EQ(*read->date(), Date::distantFuture());

  // Through a keyed archive, as an account keeps its token's expiry.
  auto archive = KeyedArchiver::archivedData(ArchiveItem(Value(Dictionary{{"in2100", Value(in2100)}, {"never", Value(Date::distantFuture())}})));
  ASSERT_TRUE(archive);
  auto unarchived = KeyedUnarchiver::unarchiveValue(*archive);
  ASSERT_TRUE(unarchived);
  EXPECT_EQ(*(*unarchived)["in2100"].date(), in2100);
  EXPECT_EQ(*(*unarchived)["never"].date(), Date::distantFuture());
}

// Whatever seconds a binary date holds, even ones no clock reaches, read back and are written
// again as they were.
TEST(StorePropertyListDates, AnyStoredBinaryDateIsWrittenBackAsItWas) {
  for (std::uint64_t bits : {0xc887928792930000ull, 0x4887928792930000ull, 0xc1e0000000100000ull, 0x7ff0000000000000ull}) {
    const Data list = oneDateList(bits);
    auto read = PropertyList::read(list);
    ASSERT_TRUE(read && read->isDate()) << std::hex << bits;
    EXPECT_EQ(std::bit_cast<std::uint64_t>(read->date()->timeIntervalSinceReferenceDate()), bits);
    auto written = PropertyList::write(*read, PropertyListFormat::Binary);
    ASSERT_TRUE(written) << std::hex << bits;
    EXPECT_EQ(*written, list) << std::hex << bits;
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, StorePropertyList,
                         ::testing::Values(PropertyListFormat::XML, PropertyListFormat::Binary),
                         [](const auto& info) { return info.param == PropertyListFormat::XML ? "XML" : "Binary"; });

TEST(StorePropertyListUID, WrittenAsRealReferencesOnlyWhenAsked) {
  Value withRef(Dictionary{{"ref", uidValue(7)}});
  auto asUID = PropertyList::write(withRef, PropertyListFormat::Binary, nullptr, true);
  auto asDict = PropertyList::write(withRef, PropertyListFormat::Binary, nullptr, false);
  ASSERT_TRUE(asUID && asDict);
  auto typeOfRef = [](const Data& d) {
    plist_t root = nullptr;
    plist_from_bin(reinterpret_cast<const char*>(d.data()), static_cast<std::uint32_t>(d.size()), &root);
    plist_type t = plist_get_node_type(plist_dict_get_item(root, "ref"));
    plist_free(root);
    return t;
  };
  EXPECT_EQ(typeOfRef(*asUID), PLIST_UID);
  EXPECT_EQ(typeOfRef(*asDict), PLIST_DICT);
  EXPECT_EQ(uidIndex((*PropertyList::read(*asUID))["ref"]), 7u);
  EXPECT_FALSE(uidIndex(Value(Dictionary{{kPropertyListUIDKey, Value("7")}})));
}

TEST(StorePropertyListInterop, BinaryListIsReadByTheCommandLineTool) {
  if (std::system("command -v plistutil >/dev/null 2>&1") != 0) GTEST_SKIP() << "plistutil not installed";
  TestSandbox box;
  std::string in = appendingPathComponent(box.root(), "out.plist");
  std::string out = appendingPathComponent(box.root(), "out.xml");
  ASSERT_TRUE(PropertyList::writeFile(everyKind(), in, PropertyListFormat::Binary));
  std::string command = "plistutil -i '" + in + "' -o '" + out + "' -f xml >/dev/null 2>&1";
  int rc = std::system(command.c_str());
  if (rc != 0) {  // older tools convert binary to XML without a format option
    command = "plistutil -i '" + in + "' -o '" + out + "' >/dev/null 2>&1";
    rc = std::system(command.c_str());
  }
  ASSERT_EQ(rc, 0);
  auto text = FileManager::defaultManager().contentsAtPath(out);
  ASSERT_TRUE(text);
  EXPECT_NE(stringFromData(*text).find("<key>int64min</key>"), std::string::npos);
  PropertyListFormat format{};
  auto back = PropertyList::read(*text, &format);
  ASSERT_TRUE(back);
  EXPECT_EQ(format, PropertyListFormat::XML);
  expectSame(everyKind(), *back);
}

std::uint64_t trailerNumber(const Data& list, std::size_t at) {
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < 8; ++i) v = (v << 8) | list[list.size() - 32 + at + i];
  return v;
}

TEST(StorePropertyListBinary, ReferencesAndOffsetsAreAsWideAsTheListNeedsAndEqualLeavesAreShared) {
  // One, two and three bytes of reference: lists of a few hundred and of 70,000 objects, texts
  // beyond ASCII and past the BMP, counts in the marker and after it.
  for (std::size_t n : {std::size_t{14}, std::size_t{300}, std::size_t{70000}}) {
    Array items;
    for (std::size_t i = 0; i < n; ++i)
      items.push_back(i % 2 ? Value::number('q', static_cast<long long>(i) * 1000003) : Value("\xE4\xB8\xAD \xF0\x9D\x84\x9E " + std::to_string(i)));
    const Value list(Dictionary{{"items", Value(items)}, {"huge", Value::unsignedNumber('Q', 18446744073709551615ull)}});
    auto data = PropertyList::write(list, PropertyListFormat::Binary);
    ASSERT_TRUE(data) << n;
    const std::uint64_t objects = trailerNumber(*data, 8), table = trailerNumber(*data, 24);
    EXPECT_EQ(objects, n + 5) << n;  // the dictionary, its keys, the array, its items, the number
    EXPECT_EQ((*data)[data->size() - 32 + 7], BinaryPropertyList::referenceWidth(objects)) << n;
    EXPECT_EQ((*data)[data->size() - 32 + 6], BinaryPropertyList::referenceWidth(table)) << n;
    auto back = PropertyList::read(*data);
    ASSERT_TRUE(back) << n;
    EXPECT_EQ((*back)["items"], Value(items)) << n;
    EXPECT_TRUE((*back)["huge"].isUnsigned()) << n;
    EXPECT_EQ((*back)["huge"].unsignedValue(), 18446744073709551615ull) << n;
  }
  EXPECT_EQ(BinaryPropertyList::referenceWidth(255), 1u);
  EXPECT_EQ(BinaryPropertyList::referenceWidth(180020), 3u);
  EXPECT_EQ(BinaryPropertyList::referenceWidth(std::uint64_t{1} << 32), 5u);

  // A thousand equal texts, numbers and dates are written once each.
  const std::string text(100, 't');
  Array same;
  for (int i = 0; i < 1000; ++i)
    same.push_back(Value(Array{Value(text), Value(i % 2 == 0), Value(-7), Value(Date::fromTimeIntervalSince1970(1.5))}));
  auto shared = PropertyList::write(Value(same), PropertyListFormat::Binary);
  ASSERT_TRUE(shared);
  EXPECT_EQ(trailerNumber(*shared, 8), 1u + 1000 + 5);
  EXPECT_LT(shared->size(), 16000u);
  EXPECT_EQ(*PropertyList::read(*shared), Value(same));
}

// A binary list of n objects with 4-byte offsets and references, object i built by make(i).
Data binaryList(std::uint64_t n, const std::function<Data(std::uint64_t)>& make, std::uint64_t top = 0) {
  Data out{'b', 'p', 'l', 'i', 's', 't', '0', '0'};
  std::vector<std::uint64_t> offsets;
  for (std::uint64_t i = 0; i < n; ++i) {
    offsets.push_back(out.size());
    Data obj = make(i);
    out.insert(out.end(), obj.begin(), obj.end());
  }
  std::uint64_t table = out.size();
  auto be = [&](std::uint64_t v, int bytes) {
    for (int b = bytes - 1; b >= 0; --b) out.push_back(static_cast<std::uint8_t>(v >> (8 * b)));
  };
  for (auto o : offsets) be(o, 4);
  for (int i = 0; i < 6; ++i) out.push_back(0);
  out.push_back(4);
  out.push_back(4);
  be(n, 8);
  be(top, 8);
  be(table, 8);
  return out;
}

Data arrayOf(std::vector<std::uint32_t> refs) {
  Data d;
  if (refs.size() < 15) {
    d.push_back(static_cast<std::uint8_t>(0xA0 | refs.size()));
  } else {
    d.push_back(0xAF);
    d.push_back(0x12);
    for (int b = 3; b >= 0; --b) d.push_back(static_cast<std::uint8_t>(refs.size() >> (8 * b)));
  }
  for (auto r : refs)
    for (int b = 3; b >= 0; --b) d.push_back(static_cast<std::uint8_t>(r >> (8 * b)));
  return d;
}

void expectRefused(const Data& data, const char* what) {
  Error error;
  EXPECT_FALSE(PropertyList::read(data, nullptr, &error)) << what;
  EXPECT_EQ(error.domain, kPropertyListErrorDomain) << what;
  EXPECT_EQ(error.code, kPropertyListReadCorruptError) << what;
}

TEST(StorePropertyListHostile, TruncatedBinaryListsAreErrors) {
  auto good = PropertyList::write(everyKind(), PropertyListFormat::Binary);
  ASSERT_TRUE(good);
  for (std::size_t cut = 0; cut < good->size(); ++cut) {
    Data part(good->begin(), good->begin() + static_cast<long>(cut));
    EXPECT_FALSE(PropertyList::read(part)) << "cut at " << cut;
  }
}

TEST(StorePropertyListHostile, SelfReferencesDeepChainsAndExpansionBombsAreErrors) {
  expectRefused(binaryList(1, [](std::uint64_t) { return arrayOf({0}); }), "array holding itself");
  expectRefused(binaryList(2, [](std::uint64_t i) { return arrayOf({static_cast<std::uint32_t>(1 - i)}); }),
                "two arrays holding each other");
  // A chain this deep would exhaust the stack of a recursive reader.
  const std::uint64_t deep = 100000;
  expectRefused(binaryList(deep, [&](std::uint64_t i) {
                  return i + 1 < deep ? arrayOf({static_cast<std::uint32_t>(i + 1)}) : Data{0x08};
                }),
                "deep chain");
  // 40 levels of arrays each holding the next level twice: tiny on disk, 2^40 nodes when expanded.
  expectRefused(binaryList(41, [](std::uint64_t i) {
                  return i < 40 ? arrayOf({static_cast<std::uint32_t>(i + 1), static_cast<std::uint32_t>(i + 1)})
                                : Data{0x09};
                }),
                "expansion bomb");
  // A count far beyond the file, and references past the object table.
  expectRefused(binaryList(1, [](std::uint64_t) { return Data{0xAF, 0x13, 0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}; }),
                "absurd count");
  expectRefused(binaryList(1, [](std::uint64_t) { return arrayOf({99}); }), "reference beyond the table");
  expectRefused(binaryList(1, [](std::uint64_t) { return Data{0x08}; }, 5), "top object beyond the table");
  // A shallow lattice that expands modestly is still fine.
  auto ok = PropertyList::read(binaryList(4, [](std::uint64_t i) {
    return i < 3 ? arrayOf({static_cast<std::uint32_t>(i + 1), static_cast<std::uint32_t>(i + 1)}) : Data{0x09};
  }));
  ASSERT_TRUE(ok);
  EXPECT_TRUE(ok->at(1).at(0).at(1).boolValue());
}

TEST(StorePropertyListHostile, ValuesPastWhatAnyWriterWritesAreRefused) {
  // Sixteen-byte integers whose upper half is not the sign of the lower one.
  Data wide{0x14, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1};
  expectRefused(binaryList(1, [&](std::uint64_t) { return wide; }), "integer of 2^64 and more");
  Data negative(17, 0xFF);
  negative[0] = 0x14;
  negative[9] = 0x7F;
  expectRefused(binaryList(1, [&](std::uint64_t) { return negative; }), "integer below -2^63");
  negative[9] = 0xFF;
  auto minusOne = PropertyList::read(binaryList(1, [&](std::uint64_t) { return negative; }));
  ASSERT_TRUE(minusOne);
  EXPECT_EQ(minusOne->intValue(), -1);
  for (const char* text : {"18446744073709551616", "-9223372036854775809", "99999999999999999999999"})
    expectRefused(dataFromString(std::string("<plist><integer>") + text + "</integer></plist>"), text);
  // A reference of five bytes.
  expectRefused(binaryList(1, [](std::uint64_t) { return Data{0x84, 1, 0, 0, 0, 0}; }), "reference past 2^32 - 1");
  // A chain of 300 arrays met first near the top, then again under another chain of 300.
  const std::uint32_t chain = 300;
  auto twoChains = binaryList(2 * chain + 2, [&](std::uint64_t i) {
    if (i == 0) return arrayOf({1, chain + 1});
    if (i == 2 * chain + 1) return Data{0x09};
    if (i == chain) return arrayOf({2 * chain + 1});      // the end of the first chain
    if (i == 2 * chain) return arrayOf({1});               // the second chain ends in the first
    return arrayOf({static_cast<std::uint32_t>(i + 1)});
  });
  expectRefused(twoChains, "a shared chain reached past the depth limit");
}

// The node cap is the caller's: a list refused under a small one reads under a larger one.
TEST(StorePropertyListHostile, TheCallerSetsHowFarAListMayExpand) {
  Array items(100, Value(Array{Value(1), Value(2)}));
  auto data = PropertyList::write(Value(items), PropertyListFormat::Binary);
  ASSERT_TRUE(data);
  Error error;
  EXPECT_FALSE(PropertyList::read(*data, nullptr, &error, 300));
  EXPECT_NE(error.localizedDescription().find("300"), std::string::npos) << error.localizedDescription();
  auto back = PropertyList::read(*data, nullptr, &error, 301);
  ASSERT_TRUE(back) << error.localizedDescription();
  EXPECT_EQ(*back, Value(items));
}

TEST(StorePropertyListHostile, TextHoldingNULIsRefusedRatherThanAborting) {
  Data dict{0xD1, 0, 0, 0, 1, 0, 0, 0, 2};
  expectRefused(binaryList(3, [&](std::uint64_t i) {
                  return i == 0 ? dict : i == 1 ? Data{0x53, 'a', 0, 'b'} : Data{0x09};
                }),
                "key with NUL");
  expectRefused(binaryList(1, [](std::uint64_t) { return Data{0x62, 0, 'a', 0, 0}; }), "UTF-16 text with NUL");
  expectRefused(dataFromString("<plist><string>a&#0;b</string></plist>"), "NUL reference");
  expectRefused(dataFromString("<plist><dict><key>a&#x00;</key><true/></dict></plist>"), "NUL key reference");
  auto ok = PropertyList::read(dataFromString("<plist><string>a&#10;&#x41;</string></plist>"));
  ASSERT_TRUE(ok);
  EXPECT_EQ(*ok->string(), "a\nA");
  // A date laid over the text of a string: the date's seconds pass the library as a stand-in,
  // which must not put NUL characters into the text.
  Data overlaid{'b', 'p', 'l', 'i', 's', 't', '0', '0', 0x59, 0x33, 'A', 'A', 'A', 'A', 'A', 'A', 'A', 'A',
                0xA2, 0, 1, 8, 9, 18};
  const std::uint8_t trailer[32] = {0, 0, 0, 0, 0, 0, 1, 1, 0, 0, 0, 0, 0, 0, 0, 3,
                                    0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 21};
  overlaid.insert(overlaid.end(), trailer, trailer + 32);
  expectRefused(overlaid, "date over the text of a string");
}

// What reads must write back as itself; text that is not UTF-8 could not, so it is refused on
// reading and on writing, and a refused write leaves the file on disk as it was.
TEST(StorePropertyListHostile, TextThatIsNotUTF8IsRefusedAndNeverWrittenEmpty) {
  expectRefused(binaryList(1, [](std::uint64_t) { return Data{0x51, 0xE9}; }), "Latin-1 byte in ASCII text");
  expectRefused(binaryList(1, [](std::uint64_t) { return Data{0x53, 'A', 0xE9, 'B'}; }), "Latin-1 byte inside");
  expectRefused(binaryList(3, [](std::uint64_t i) {
                  return i == 0 ? Data{0xD1, 0, 0, 0, 1, 0, 0, 0, 2} : i == 1 ? Data{0x52, 'k', 0xFF} : Data{0x09};
                }),
                "key that is not UTF-8");
  expectRefused(binaryList(1, [](std::uint64_t) { return Data{0x62, 0xD8, 0x3D, 0, 'a'}; }), "unpaired high surrogate");
  expectRefused(binaryList(1, [](std::uint64_t) { return Data{0x61, 0xDE, 0x00}; }), "unpaired low surrogate");
  expectRefused(dataFromString("<plist><string>A\xE9" "B</string></plist>"), "XML text that is not UTF-8");
  // Valid text in either marker reads, and a pair of surrogates is one character.
  auto ok = PropertyList::read(binaryList(1, [](std::uint64_t) { return Data{0x63, 0xD8, 0x3D, 0xDE, 0x00, 0, 'a'}; }));
  ASSERT_TRUE(ok);
  EXPECT_EQ(*ok->string(), "\xF0\x9F\x98\x80" "a");

  TestSandbox box;
  std::string path = appendingPathComponent(box.root(), "saved.plist");
  ASSERT_TRUE(PropertyList::writeFile(Value(Dictionary{{"name", Value("kept")}}), path, PropertyListFormat::Binary));
  for (auto format : {PropertyListFormat::Binary, PropertyListFormat::XML}) {
    for (const Value& bad : {Value(Dictionary{{"name", Value("\xE9")}}), Value(Dictionary{{"\xFFkey", Value(1)}}),
                             Value(Array{Value("ok"), Value("A\xC3")})}) {
      Error error;
      EXPECT_FALSE(PropertyList::write(bad, format, &error));
      EXPECT_EQ(error.code, kPropertyListWriteInvalidError);
      EXPECT_FALSE(PropertyList::writeFile(bad, path, format));
    }
  }
  auto kept = PropertyList::readFile(path);
  ASSERT_TRUE(kept);
  EXPECT_EQ((*kept)["name"], Value("kept"));
}

TEST(StorePropertyListHostile, RandomlyDamagedListsNeverCrash) {
  SeededRandomScope seeded(2024);
  auto good = PropertyList::write(everyKind(), PropertyListFormat::Binary);
  auto xml = PropertyList::write(everyKind(), PropertyListFormat::XML);
  ASSERT_TRUE(good && xml);
  for (int round = 0; round < 600; ++round) {
    Data d = round % 2 ? *good : *xml;
    int flips = 1 + static_cast<int>(randomUniform(4));
    for (int f = 0; f < flips; ++f) d[randomUniform(static_cast<std::uint32_t>(d.size()))] = static_cast<std::uint8_t>(random32());
    Error error;
    auto v = PropertyList::read(d, nullptr, &error);
    if (!v) {
      EXPECT_EQ(error.code, kPropertyListReadCorruptError);
    }
  }
}

TEST(StorePropertyListHostile, MalformedAndDeepXMLAreErrors) {
  expectRefused(Data{}, "empty");
  expectRefused(dataFromString("not a property list at all"), "plain text");
  expectRefused(dataFromString("<plist><array><array><integer>1"), "unclosed");
  std::string deep = "<plist>";
  for (int i = 0; i < 5000; ++i) deep += "<array>";
  for (int i = 0; i < 5000; ++i) deep += "</array>";
  expectRefused(dataFromString(deep + "</plist>"), "deeply nested XML");
  // Empty containers written in their short form do not count as nesting.
  std::string flat = "<plist><array>";
  for (int i = 0; i < 2000; ++i) flat += "<array/><dict/>";
  auto v = PropertyList::read(dataFromString(flat + "</array></plist>"));
  ASSERT_TRUE(v);
  EXPECT_EQ(v->count(), 4000u);
}

// An XML list of the given body inside its plist element.
Data xmlList(const std::string& body) {
  return dataFromString("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n" + body + "\n</plist>\n");
}

// A number is read as it is written or refused, never as another: text the scan for digits does
// not take whole is refused, also beside an unsigned number past 2^63 - 1.
TEST(StorePropertyListXML, NumbersAreReadAsWrittenOrRefused) {
  const std::string big = "<integer>18446744073709551615</integer>";
  const std::pair<std::string, long long> read[] = {
      {"<![CDATA[-1]]>", -1}, {"-<!-- c -->1", -1}, {" \t-1\r\n", -1}, {"0x1F", 31}, {"+7", 7}, {"&#45;2", -2}};
  for (const auto& [text, expected] : read) {
    Error error;
    auto list = PropertyList::read(xmlList("<array><integer>" + text + "</integer>" + big + "</array>"), nullptr, &error);
    ASSERT_TRUE(list) << text << ": " << error.localizedDescription();
    EXPECT_FALSE(list->at(0).isUnsigned()) << text;
    EXPECT_EQ(list->at(0).intValue(), expected) << text;
    EXPECT_TRUE(list->at(1).isUnsigned()) << text;
    EXPECT_EQ(list->at(1).unsignedValue(), 18446744073709551615ull) << text;
  }
  for (const char* text : {"\v-1", "-1abc", "abc", "", "1.5", "- 1", "0x", "--1", "1 2", "&#11;-1"}) {
    expectRefused(xmlList(std::string("<array><integer>") + text + "</integer>" + big + "</array>"), text);
    expectRefused(xmlList(std::string("<integer>") + text + "</integer>"), text);
  }
  expectRefused(xmlList("<integer>18446744073709551615abc</integer>"), "digits then letters");
  expectRefused(xmlList("<integer/>"), "an empty integer");
  for (const char* text : {"abc", "", "1.5abc", "1,5", "1e400"}) expectRefused(xmlList(std::string("<real>") + text + "</real>"), text);
  for (const auto& [text, expected] : {std::pair<const char*, double>{"1.5", 1.5}, {" -2.5e-3 ", -2.5e-3}, {"12", 12}}) {
    auto real = PropertyList::read(xmlList(std::string("<real>") + text + "</real>"));
    ASSERT_TRUE(real && real->isFloatingPoint()) << text;
    EXPECT_EQ(real->doubleValue(), expected) << text;
  }
  auto specials = PropertyList::read(xmlList("<array><real>nan</real><real>+infinity</real><real>-infinity</real><real>0.0</real></array>"));
  ASSERT_TRUE(specials);
  EXPECT_TRUE(std::isnan(specials->at(0).doubleValue()));
  EXPECT_EQ(specials->at(1).doubleValue(), std::numeric_limits<double>::infinity());
  EXPECT_EQ(specials->at(2).doubleValue(), -std::numeric_limits<double>::infinity());
  expectRefused(xmlList("<true>no</true>"), "a flag holding text");
}

// Base64 is read whole: the last group without its padding still holds its bytes, and text outside
// the alphabet is refused rather than skipped.
TEST(StorePropertyListXML, DataIsReadWholeOrRefused) {
  for (const char* text : {"AAEC/w==", "AAEC/w", " AA\nEC\r\n\t/w== "}) {
    auto data = PropertyList::read(xmlList(std::string("<data>") + text + "</data>"));
    ASSERT_TRUE(data && data->isData()) << text;
    EXPECT_EQ(*data->data(), (Data{0, 1, 2, 255})) << text;
  }
  for (const char* text : {"!!", "AAEC/w=x", "A", "AAEC/w===", "AA=C"}) expectRefused(xmlList(std::string("<data>") + text + "</data>"), text);
}

// The layout earlier files have: tabs per level, escaped text, reals that read back exactly, base64
// lines shortened by each tab of indent up to eight, empty containers in their short form.
TEST(StorePropertyListXML, WrittenInTheLayoutOfEarlierFiles) {
  Data bytes(60);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 7);
  Value deepData(bytes);
  for (int i = 0; i < 9; ++i) deepData = Value(Array{deepData});
  const Value value(Dictionary{{"text", Value("a<b>&\"'")},
                               {"k<&>", Value(true)},
                               {"reals", Value(Array{Value(0.1), Value(1.0), Value(-0.0), Value(std::nan("")),
                                                     Value(std::numeric_limits<double>::infinity()), Value(1e-7)})},
                               {"ints", Value(Array{Value(-5), Value::unsignedNumber('Q', 18446744073709551615ull)})},
                               {"data", Value(bytes)},
                               {"none", Value(Data{})},
                               {"empty", Value(Array{Value(Array{}), Value(Dictionary{})})},
                               {"ref", uidValue(7)},
                               {"deep", deepData}});
  auto data = PropertyList::write(value, PropertyListFormat::XML, nullptr, true);
  ASSERT_TRUE(data);
  std::string expected =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
      "\t<key>text</key>\n\t<string>a&lt;b&gt;&amp;\"'</string>\n"
      "\t<key>k&lt;&amp;&gt;</key>\n\t<true/>\n"
      "\t<key>reals</key>\n\t<array>\n\t\t<real>0.10000000000000001</real>\n\t\t<real>1</real>\n\t\t<real>0.0</real>\n"
      "\t\t<real>nan</real>\n\t\t<real>+infinity</real>\n\t\t<real>9.9999999999999995e-08</real>\n\t</array>\n"
      "\t<key>ints</key>\n\t<array>\n\t\t<integer>-5</integer>\n\t\t<integer>18446744073709551615</integer>\n\t</array>\n"
      "\t<key>data</key>\n\t<data>\n"
      "\tAAcOFRwjKjE4P0ZNVFtiaXB3foWMk5qhqK+2vcTL0tng5+71/AMKERgfJi00O0JJUFde\n\tZWxzeoGIj5ad\n\t</data>\n"
      "\t<key>none</key>\n\t<data>\n\t</data>\n"
      "\t<key>empty</key>\n\t<array>\n\t\t<array/>\n\t\t<dict/>\n\t</array>\n"
      "\t<key>ref</key>\n\t<dict>\n\t\t<key>CF$UID</key>\n\t\t<integer>7</integer>\n\t</dict>\n"
      "\t<key>deep</key>\n";
  for (int i = 1; i <= 9; ++i) expected += std::string(static_cast<std::size_t>(i), '\t') + "<array>\n";
  expected += std::string(10, '\t') + "<data>\n";
  for (const char* line : {"AAcOFRwjKjE4", "P0ZNVFtiaXB3", "foWMk5qhqK+2", "vcTL0tng5+71", "/AMKERgfJi00", "O0JJUFdeZWxz", "eoGIj5ad"})
    expected += std::string(8, '\t') + line + "\n";
  expected += std::string(10, '\t') + "</data>\n";
  for (int i = 9; i >= 1; --i) expected += std::string(static_cast<std::size_t>(i), '\t') + "</array>\n";
  expected += "</dict>\n</plist>\n";
  EXPECT_EQ(textOf(*data), expected);
  auto top = PropertyList::write(Value(bytes), PropertyListFormat::XML);
  ASSERT_TRUE(top);
  EXPECT_NE(textOf(*top).find("<data>\nAAcOFRwjKjE4P0ZNVFtiaXB3foWMk5qhqK+2vcTL0tng5+71/AMKERgfJi00O0JJUFdeZWxzeoGI\nj5ad\n</data>\n"),
            std::string::npos)
      << textOf(*top);
  auto back = PropertyList::read(*data);
  ASSERT_TRUE(back);
  EXPECT_EQ((*back)["deep"], deepData);
  EXPECT_EQ((*back)["text"], value["text"]);
  EXPECT_EQ(uidIndex((*back)["ref"]), 7u);
}

// Lists written elsewhere: a byte-order mark, a document type with an internal subset, comments
// and processing instructions between members, attributes, short forms and line ends of any kind.
// An XML list spells a value in a few bytes, so a list from elsewhere is held to the same number of
// values as a binary one.
TEST(StorePropertyListHostile, TheCallerSetsHowManyValuesAnXMLListMayHold) {
  Array items(100, Value(Array{Value(1), Value(Dictionary{{"key", Value("v")}})}));
  auto data = PropertyList::write(Value(items), PropertyListFormat::XML);
  ASSERT_TRUE(data);
  Error error;
  EXPECT_FALSE(PropertyList::read(*data, nullptr, &error, 400));
  EXPECT_EQ(error.code, kPropertyListReadCorruptError);
  EXPECT_NE(error.localizedDescription().find("400"), std::string::npos) << error.localizedDescription();
  auto back = PropertyList::read(*data, nullptr, &error, 401);
  ASSERT_TRUE(back) << error.localizedDescription();
  EXPECT_EQ(*back, Value(items));
  // Empty containers count as much as any value.
  std::string empties = "<plist><array>";
  for (int i = 0; i < 1000; ++i) empties += "<dict/><array/>";
  EXPECT_FALSE(PropertyList::read(dataFromString(empties + "</array></plist>"), nullptr, &error, 2000));
  EXPECT_TRUE(PropertyList::read(dataFromString(empties + "</array></plist>"), nullptr, &error, 2001));
}

TEST(StorePropertyListXML, ListsWrittenElsewhereRead) {
  auto list = PropertyList::read(dataFromString(
      "\xEF\xBB\xBF<?xml version=\"1.0\"?>\r\n<!-- made elsewhere -->\r\n"
      "<!DOCTYPE plist [ <!ELEMENT plist ANY> <!ATTLIST plist version CDATA \"1.0\"> ]>\r\n"
      "<plist version='1.0' note=\"a > b\"><dict  >\r\n<key>a</key><!-- between --><string/>"
      "<?pi here?><key/><true />\r\n<key>list</key><array><false/><string>x<![CDATA[]]>y&#x4E2D;&#20013;</string></array >"
      "<key>a</key><integer>2</integer></dict></plist>\r\n<!-- after -->\r\n"));
  ASSERT_TRUE(list);
  ASSERT_TRUE(list->isDictionary());
  // The later "a" replaces the earlier one where it stood.
  EXPECT_EQ(list->dictionary()->keys(), (std::vector<std::string>{"a", "", "list"}));
  EXPECT_EQ((*list)["a"].intValue(), 2);
  EXPECT_TRUE((*list)[""].boolValue());
  EXPECT_EQ(*(*list)["list"].at(1).string(), "xy\xE4\xB8\xAD\xE4\xB8\xAD");
  for (const char* body : {"<plist><true/><false/></plist>", "<plist><true/></plist>trailing", "<plist></plist>", "<plist/>",
                           "<plist><dict><key>a</key></dict></plist>", "<plist><dict><true/></dict></plist>",
                           "<plist><array>text<true/></array></plist>", "<plist><string>a&unknown;</string></plist>",
                           "<plist><string>&#xD800;</string></plist>", "<plist><string>&#65</string></plist>",
                           "<plist><uid>5</uid></plist>", "<plist><string>a<b/></string></plist>", "<plist><array></dict></plist>"})
    expectRefused(dataFromString(body), body);
}

// One dictionary of many keys reads and writes whole, in order, each key once.
TEST(StorePropertyListXML, ADictionaryOfManyKeysKeepsItsOrder) {
  Dictionary wide;
  for (int i = 0; i < 50000; ++i) wide.set("key" + std::to_string((i * 7919) % 50000), Value(i));
  const Value value(Dictionary{{"wide", Value(wide)}});
  auto data = PropertyList::write(value, PropertyListFormat::XML);
  ASSERT_TRUE(data);
  auto back = PropertyList::read(*data);
  ASSERT_TRUE(back);
  EXPECT_EQ((*back)["wide"].dictionary()->keys(), wide.keys());
  EXPECT_EQ(*back, value);
  // Written again, the list is the same bytes.
  EXPECT_EQ(*PropertyList::write(*back, PropertyListFormat::XML), *data);
}

}  // namespace
}  // namespace os
