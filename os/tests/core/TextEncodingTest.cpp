#include <gtest/gtest.h>

#include "os/core/TextEncoding.h"

namespace os {
namespace {

std::string bytes(const std::optional<Data>& d) { return d ? stringFromData(*d) : std::string("<none>"); }

// "新闻" (news) in UTF-8 and in GB 18030.
const std::string kNewsUTF8 = "\xE6\x96\xB0\xE9\x97\xBB";
const std::string kNewsGB = "\xD0\xC2\xCE\xC5";

TEST(TextEncoding, GB18030RoundTrips) {
  EXPECT_EQ(bytes(encodeText(kNewsUTF8 + " abc", StringEncoding::GB18030)), kNewsGB + " abc");
  EXPECT_EQ(decodeText(kNewsGB + " abc", StringEncoding::GB18030), kNewsUTF8 + " abc");
  // Characters outside GBK take four bytes and still come back whole.
  const std::string emoji = "\xF0\x9F\x98\x80";
  std::optional<Data> four = encodeText(emoji, StringEncoding::GB18030);
  ASSERT_TRUE(four);
  EXPECT_EQ(four->size(), 4u);
  EXPECT_EQ(decodeText(*four, StringEncoding::GB18030), emoji);
  EXPECT_EQ(percentEscape("\xE4\xB8\xAD\xE6\x96\x87", StringEncoding::GB18030), "%D6%D0%CE%C4");
}

TEST(TextEncoding, Latin1RoundTripsAndRefusesWhatItCannotHold) {
  EXPECT_EQ(bytes(encodeText("caf\xC3\xA9", StringEncoding::ISOLatin1)), "caf\xE9");
  EXPECT_EQ(decodeText("caf\xE9\xFF", StringEncoding::ISOLatin1), "caf\xC3\xA9\xC3\xBF");
  EXPECT_EQ(encodeText(kNewsUTF8, StringEncoding::ISOLatin1), std::nullopt);
  EXPECT_EQ(encodeText("\xFF", StringEncoding::ISOLatin1), std::nullopt);  // input not UTF-8
}

TEST(TextEncoding, BadBytesGiveNothing) {
  EXPECT_EQ(decodeText("\xD0", StringEncoding::GB18030), std::nullopt);        // truncated
  EXPECT_EQ(decodeText("\x81\x20", StringEncoding::GB18030), std::nullopt);    // bad trail byte
  EXPECT_EQ(decodeText("ok\xC3", StringEncoding::UTF8), std::nullopt);
  EXPECT_EQ(decodeText("\x80", StringEncoding::ASCII), std::nullopt);
  EXPECT_EQ(decodeText(std::string("\x00\xD8", 2), StringEncoding::UTF16LE), std::nullopt);      // cut pair
  EXPECT_EQ(decodeText(std::string("\x00\xDC" "a\0", 4), StringEncoding::UTF16LE), std::nullopt);  // lone low half
  EXPECT_EQ(decodeText("abc", "no-such-charset"), std::nullopt);
  // A conversion suffix from a hostile header must not make lossy decoding pass.
  EXPECT_EQ(decodeText("\xD0", "gb18030//IGNORE"), std::nullopt);
  EXPECT_EQ(encodeText(kNewsUTF8, "latin1//TRANSLIT"), std::nullopt);
}

TEST(TextEncoding, UTF16VariantsAndByteOrderMarks) {
  const std::string text = "a\xF0\x9F\x98\x80";
  EXPECT_EQ(bytes(encodeText(text, StringEncoding::UTF16)), std::string("\xFF\xFE" "a\0\x3D\xD8\x00\xDE", 8));
  EXPECT_EQ(bytes(encodeText(text, StringEncoding::UTF16BE)), std::string("\0a\xD8\x3D\xDE\x00", 6));
  EXPECT_EQ(decodeText(std::string("\xFE\xFF\0a", 4), StringEncoding::UTF16), "a");
  EXPECT_EQ(decodeText(std::string("\xFF\xFE" "a\0", 4), StringEncoding::UTF16), "a");
  EXPECT_EQ(decodeText(std::string("\0a", 2), StringEncoding::UTF16), "a");
  EXPECT_EQ(decodeText(std::string("a\0", 2), StringEncoding::UTF16LE), "a");
}

TEST(TextEncoding, CharsetNamesFromHeaders) {
  EXPECT_EQ(encodingForCharsetName("UTF-8"), StringEncoding::UTF8);
  EXPECT_EQ(encodingForCharsetName(" \"utf8\" "), StringEncoding::UTF8);
  EXPECT_EQ(encodingForCharsetName("GB2312"), StringEncoding::GB18030);
  EXPECT_EQ(encodingForCharsetName("gbk"), StringEncoding::GBK);
  EXPECT_EQ(encodingForCharsetName("ISO-8859-1"), StringEncoding::ISOLatin1);
  EXPECT_EQ(encodingForCharsetName("x-unknown"), std::nullopt);
  EXPECT_EQ(charsetName(StringEncoding::UTF8), "utf-8");
  EXPECT_EQ(charsetName(StringEncoding::GB18030), "gb18030");
  EXPECT_EQ(encodingForCode(4), StringEncoding::UTF8);
  EXPECT_EQ(encodingForCode(0x80000632), StringEncoding::GB18030);
  EXPECT_EQ(encodingForCode(77), std::nullopt);
  // Pages labelled gb2312 often hold GBK-only characters; the superset reads them.
  EXPECT_EQ(decodeText("\x81\x40", "gb2312"), "\xE4\xB8\x82");
  // Any other name iconv knows works through the name.
  EXPECT_EQ(decodeText("\xC1", "KOI8-R"), "\xD0\xB0");
  // A stateful encoding gets its closing shift sequence.
  std::string jis = bytes(encodeText("\xE6\x97\xA5", "ISO-2022-JP"));
  EXPECT_TRUE(jis.size() > 3 && jis.substr(jis.size() - 3) == "\x1B(B") << jis;
  EXPECT_EQ(decodeText(jis, "iso-2022-jp"), "\xE6\x97\xA5");
}

TEST(TextEncoding, EmptyInputConvertsToEmpty) {
  EXPECT_EQ(decodeText("", StringEncoding::GB18030), "");
  EXPECT_EQ(bytes(encodeText("", StringEncoding::UTF16BE)), "");
  EXPECT_EQ(bytes(encodeText("", StringEncoding::UTF16)), "\xFF\xFE");
}

}  // namespace
}  // namespace os
