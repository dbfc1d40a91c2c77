#include <gtest/gtest.h>

#include <climits>

#include "os/core/Error.h"
#include "os/core/String.h"

namespace os {
namespace {

// "a", grinning face (U+1F600, two UTF-16 units), "b", and the CJK character U+4E2D.
const std::string kMixed = "a\xF0\x9F\x98\x80" "b\xE4\xB8\xAD";

TEST(String, UTF16LengthCountsSurrogatePairsTwice) {
  EXPECT_EQ(utf16Length(""), 0u);
  EXPECT_EQ(utf16Length("abc"), 3u);
  EXPECT_EQ(utf16Length("\xE4\xB8\xAD\xE6\x96\x87"), 2u);
  EXPECT_EQ(utf16Length(kMixed), 5u);
  // A stray byte counts as one replaced character, a truncated sequence likewise.
  EXPECT_EQ(utf16Length("a\xFF" "b\xE4\xB8"), 4u);
}

TEST(String, IndexAndOffsetConversion) {
  EXPECT_EQ(byteOffsetForUTF16Index(kMixed, 0), 0u);
  EXPECT_EQ(byteOffsetForUTF16Index(kMixed, 1), 1u);
  EXPECT_EQ(byteOffsetForUTF16Index(kMixed, 2), 1u);  // inside the pair: start of the emoji
  EXPECT_EQ(byteOffsetForUTF16Index(kMixed, 3), 5u);
  EXPECT_EQ(byteOffsetForUTF16Index(kMixed, 5), kMixed.size());
  EXPECT_EQ(byteOffsetForUTF16Index(kMixed, 6), std::nullopt);
  EXPECT_EQ(utf16IndexForByteOffset(kMixed, 3), 1u);
  EXPECT_EQ(utf16IndexForByteOffset(kMixed, 5), 3u);
  EXPECT_EQ(utf16IndexForByteOffset(kMixed, 7), 4u);
  EXPECT_EQ(utf16IndexForByteOffset(kMixed, 100), 5u);
}

TEST(String, SubstringsNeverSplitACodePoint) {
  EXPECT_EQ(substringWithUTF16Range(kMixed, 1, 2), "\xF0\x9F\x98\x80");
  EXPECT_EQ(substringWithUTF16Range(kMixed, 0, 2), "a");  // end falls inside the pair
  EXPECT_EQ(substringWithUTF16Range(kMixed, 2, 2), "\xF0\x9F\x98\x80" "b");
  EXPECT_EQ(substringWithUTF16Range(kMixed, 4, 1), "\xE4\xB8\xAD");
  EXPECT_EQ(substringWithUTF16Range(kMixed, 5, 0), "");
  EXPECT_EQ(substringFromUTF16Index(kMixed, 3), "b\xE4\xB8\xAD");
  EXPECT_EQ(substringToUTF16Index(kMixed, 3), "a\xF0\x9F\x98\x80");
  EXPECT_TRUE(isValidUTF8(substringWithUTF16Range(kMixed, 2, 1)));
}

TEST(String, OutOfRangeRaises) {
  try {
    substringWithUTF16Range(kMixed, 4, 2);
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.name(), kRangeException);
  }
  EXPECT_THROW(substringWithUTF16Range(kMixed, 1, SIZE_MAX), Exception);
  EXPECT_THROW(substringFromUTF16Index("ab", 3), Exception);
  EXPECT_THROW(substringToUTF16Index("ab", 3), Exception);
  EXPECT_THROW(characterAtUTF16Index(kMixed, 5), Exception);
}

TEST(String, CharacterAtIndexGivesUTF16Units) {
  EXPECT_EQ(characterAtUTF16Index(kMixed, 0), u'a');
  EXPECT_EQ(characterAtUTF16Index(kMixed, 1), 0xD83D);
  EXPECT_EQ(characterAtUTF16Index(kMixed, 2), 0xDE00);
  EXPECT_EQ(characterAtUTF16Index(kMixed, 4), 0x4E2D);
  std::u16string units = toUTF16(kMixed);
  EXPECT_EQ(units, (std::u16string{u'a', 0xD83D, 0xDE00, u'b', 0x4E2D}));
  EXPECT_EQ(fromUTF16(units), kMixed);
  EXPECT_EQ(fromUTF16(std::u16string{u'x', 0xD800, u'y'}), "x\xEF\xBF\xBDy");
}

TEST(String, ValidityAndRepair) {
  EXPECT_TRUE(isValidUTF8(kMixed));
  EXPECT_FALSE(isValidUTF8("\xC0\xAF"));          // overlong "/"
  EXPECT_FALSE(isValidUTF8("\xED\xA0\x80"));      // encoded surrogate
  EXPECT_FALSE(isValidUTF8("\xF4\x90\x80\x80"));  // above U+10FFFF
  EXPECT_FALSE(isValidUTF8("\xE4\xB8"));          // truncated
  EXPECT_EQ(repairUTF8("a\xFF" "b\xE4\xB8"), "a\xEF\xBF\xBD" "b\xEF\xBF\xBD");
  EXPECT_EQ(repairUTF8(kMixed), kMixed);
}

TEST(String, CaseTrimAndAffixes) {
  EXPECT_EQ(lowercaseASCII("AbC\xE4\xB8\xAD"), "abc\xE4\xB8\xAD");
  EXPECT_EQ(uppercaseASCII("text/Plain"), "TEXT/PLAIN");
  EXPECT_EQ(caseInsensitiveCompare("Content-Type", "content-type"), 0);
  EXPECT_LT(caseInsensitiveCompare("a", "B"), 0);
  EXPECT_GT(caseInsensitiveCompare("ab", "A"), 0);
  EXPECT_EQ(trimWhitespace("\xE3\x80\x80 \t news\n\xC2\xA0"), "news");  // ideographic and no-break spaces
  EXPECT_EQ(trimWhitespace(" \r\n "), "");
  EXPECT_EQ(trimWhitespace("a b"), "a b");
  EXPECT_EQ(trimCharacters("//path//", "/"), "path");
  EXPECT_TRUE(hasPrefix("weixin://app", "weixin:"));
  EXPECT_FALSE(hasPrefix("abc", ""));
  EXPECT_FALSE(hasSuffix("abc", ""));
  EXPECT_TRUE(hasSuffix("a.json", ".json"));
  EXPECT_FALSE(hasSuffix("n", "json"));
  EXPECT_FALSE(contains("abc", ""));
}

TEST(String, SplitJoinReplace) {
  EXPECT_EQ(split("a,,b", ","), (std::vector<std::string>{"a", "", "b"}));
  EXPECT_EQ(split("", ","), (std::vector<std::string>{""}));
  EXPECT_EQ(split("a&&b&", "&&"), (std::vector<std::string>{"a", "b&"}));
  EXPECT_EQ(join({"a", "", "b"}, ", "), "a, , b");
  EXPECT_EQ(replaceAll("aaa", "aa", "b"), "ba");
  EXPECT_EQ(replaceAll("& a& ", "& ", "#amp#"), "#amp#a#amp#");
  EXPECT_EQ(replaceAll("abc", "", "x"), "abc");
}

TEST(String, NumbersReadTheLenientWay) {
  EXPECT_EQ(intValue("  -42abc"), -42);
  EXPECT_EQ(intValue("+7"), 7);
  EXPECT_EQ(intValue("abc"), 0);
  EXPECT_EQ(intValue("- 5"), 0);
  EXPECT_EQ(intValue("12.9"), 12);
  EXPECT_EQ(intValue("99999999999"), INT_MAX);
  EXPECT_EQ(intValue("-99999999999"), INT_MIN);
  EXPECT_EQ(longLongValue("-9223372036854775808"), LLONG_MIN);
  EXPECT_EQ(longLongValue("9223372036854775807"), LLONG_MAX);
  EXPECT_EQ(longLongValue("99999999999999999999x"), LLONG_MAX);
  EXPECT_DOUBLE_EQ(doubleValue(" 3.5e2x"), 350.0);
  EXPECT_DOUBLE_EQ(doubleValue("-.5e"), -0.5);
  EXPECT_DOUBLE_EQ(doubleValue("1e+"), 1.0);
  EXPECT_EQ(doubleValue("0x1A"), 0.0);
  EXPECT_EQ(doubleValue("inf"), 0.0);
  EXPECT_EQ(doubleValue("nan"), 0.0);
  EXPECT_EQ(doubleValue("."), 0.0);
}

TEST(String, FormatGrowsPastItsStackBuffer) {
  EXPECT_EQ(format("%d-%s-%.2f", 5, "x", 1.5), "5-x-1.50");
  std::string longText(1000, 'z');
  EXPECT_EQ(format("<%s>", longText.c_str()), "<" + longText + ">");
  EXPECT_EQ(format("%d%%", 37), "37%");
}

TEST(String, PercentEscapeKeepsOnlyTheGivenSet) {
  const std::string keepBrackets = std::string(kURLUnreservedCharacters) + "[]";
  EXPECT_EQ(percentEscape("x+y=z/", keepBrackets), "x%2By%3Dz%2F");
  EXPECT_EQ(percentEscape("a b[0]~", keepBrackets), "a%20b[0]~");
  EXPECT_EQ(percentEscape("\xE4\xB8\xAD"), "%E4%B8%AD");
  EXPECT_EQ(percentEscape("a b%#?&", kURLLegalCharacters), "a%20b%25#?&");
  EXPECT_EQ(percentEscape("<[\"]>", kURLLegalCharacters), "%3C%5B%22%5D%3E");
  // Only ASCII can be kept, whatever the set holds.
  EXPECT_EQ(percentEscape("\xC3\xA9", "\xC3\xA9"), "%C3%A9");
}

TEST(String, PercentRoundTripsAndRejectsBadSequences) {
  const std::string samples[] = {"", "plain", "a b&c=d+e/f?g#h%i", kMixed, "\xE6\x96\xB0\xE9\x97\xBB \xF0\x9F\x98\x80!*'()"};
  const std::string_view keeps[] = {kURLUnreservedCharacters, kURLLegalCharacters, "", "%"};
  for (const auto& s : samples)
    for (auto keep : keeps) {
      if (keep == "%" && s.find('%') != std::string::npos) continue;  // an unescaped "%" cannot round-trip
      EXPECT_EQ(percentUnescape(percentEscape(s, keep)), s) << s << " keep " << keep;
    }
  EXPECT_EQ(percentUnescape("%e4%b8%ad"), "\xE4\xB8\xAD");
  EXPECT_EQ(percentUnescape("%zz"), std::nullopt);
  EXPECT_EQ(percentUnescape("abc%4"), std::nullopt);
  EXPECT_EQ(percentUnescape("abc%"), std::nullopt);
  EXPECT_EQ(percentUnescape("%E4%B8"), std::nullopt);  // not UTF-8
  EXPECT_EQ(percentUnescapeBytes("%D6%D0"), "\xD6\xD0");
}

TEST(String, FormEncoding) {
  EXPECT_EQ(formURLEncode("a b&c%20"), "a+b%26c%2520");
  EXPECT_EQ(formURLEncode("a b", false), "a%20b");
  EXPECT_EQ(formURLDecode("a+b%2B%20"), "a b+ ");
  EXPECT_EQ(formURLDecode(formURLEncode("x + y = \xE4\xB8\xAD")), "x + y = \xE4\xB8\xAD");
  EXPECT_EQ(formURLDecode("%"), std::nullopt);
}

TEST(String, MarkupEscapeLeavesNoMarkupAndKeepsText) {
  EXPECT_EQ(escapeMarkup("<a href=\"x\">Tom & Jerry's</a> 军事"),
            "&lt;a href=&quot;x&quot;&gt;Tom &amp; Jerry&#39;s&lt;/a&gt; 军事");
  EXPECT_EQ(escapeMarkup(""), "");
}

TEST(String, Base64OfEveryTailLengthIsPadded) {
  EXPECT_EQ(base64Encoded(""), "");
  EXPECT_EQ(base64Encoded("f"), "Zg==");
  EXPECT_EQ(base64Encoded("fo"), "Zm8=");
  EXPECT_EQ(base64Encoded("foo"), "Zm9v");
  EXPECT_EQ(base64Encoded("foobar"), "Zm9vYmFy");
  EXPECT_EQ(base64Encoded(std::string("\x00\xFF\xFE\x3F", 4)), "AP/+Pw==");
}

// The readings differ only in what they let pass: the same texts, lenient, strict and padded.
TEST(String, Base64ReadingsDifferInWhatTheyRefuse) {
  const Data bytes{0, 1, 2, 255};
  for (const char* text : {"AAEC/w==", "AAEC/w", " AA\nEC\r\n\t/w== "}) {
    EXPECT_EQ(base64Decoded(text, Base64Reading::Strict), bytes) << text;
    EXPECT_EQ(base64Decoded(text, Base64Reading::Lenient), bytes) << text;
  }
  EXPECT_EQ(base64Decoded("", Base64Reading::Strict), Data{});
  EXPECT_EQ(base64Decoded("", Base64Reading::Lenient), Data{});
  // Lenient reading skips what strict reading refuses: other characters, padding inside the text
  // or beyond the last group's, a lone last character, bytes outside ASCII.
  const std::pair<const char*, Data> skipped[] = {{"AA!EC", Data{0, 1, 2}}, {"YQ==YQ==", Data{0x61, 0x06, 0x10}},
                                                  {"AAEC/w===", bytes},     {"AAEC/", Data{0, 1, 2}},
                                                  {"A", Data{}},            {"AA\xC3\x80" "EC", Data{0, 1, 2}}};
  for (const auto& [text, lenient] : skipped) {
    EXPECT_EQ(base64Decoded(text, Base64Reading::Lenient), lenient) << text;
    EXPECT_EQ(base64Decoded(text, Base64Reading::Strict), std::nullopt) << text;
  }
  // The padded reading takes whole groups only, the last one padded, with its spare bits zero;
  // strict reading lets the rest pass. Besides white space it skips VT, FF, 0xA0 and 0xFF, which
  // strict reading refuses. Both refuse other characters, padding that does not fit the last group,
  // anything after the padding.
  EXPECT_EQ(base64Decoded(" AA\nEC\r\n\t/w== ", Base64Reading::PaddedWholeGroups), bytes);
  EXPECT_EQ(base64Decoded("", Base64Reading::PaddedWholeGroups), Data{});
  EXPECT_EQ(base64Decoded("AA\v\fEC\xA0/w=\xFF=", Base64Reading::PaddedWholeGroups), bytes);
  EXPECT_EQ(base64Decoded("AA\v\fEC\xA0/w=\xFF=", Base64Reading::Strict), std::nullopt);
  for (const char* text : {"AAEC/w", "YQ", "AAEC/x==", "AAEC/+9="}) {
    EXPECT_NE(base64Decoded(text, Base64Reading::Strict), std::nullopt) << text;
    EXPECT_EQ(base64Decoded(text, Base64Reading::PaddedWholeGroups), std::nullopt) << text;
  }
  const std::string_view refusedByBoth[] = {"AAEC/w=", "AAEC/w===", "A===", "AA!C/w==", "YQ==YQ==", {"AAEC\0/w==", 9}};
  for (std::string_view text : refusedByBoth) {
    EXPECT_EQ(base64Decoded(text, Base64Reading::Strict), std::nullopt) << text;
    EXPECT_EQ(base64Decoded(text, Base64Reading::PaddedWholeGroups), std::nullopt) << text;
  }
}

}  // namespace
}  // namespace os
