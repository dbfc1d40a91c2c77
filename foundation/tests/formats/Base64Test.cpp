#include <gtest/gtest.h>

#include "foundation/formats/Base64.h"

namespace {

TEST(Base64, EncodesWithPadding) {
  EXPECT_EQ(base64EncodedString(std::string_view("abc")), "YWJj");
  EXPECT_EQ(base64EncodedString(std::string_view("ab")), "YWI=");
  EXPECT_EQ(base64EncodedString(std::string_view("a")), "YQ==");
  EXPECT_EQ(base64EncodedString(os::Data{}), std::nullopt);
  EXPECT_EQ(base64EncodedString(os::Data{0xFB, 0xFF}), "+/8=");
}

TEST(Base64, WrapsFullLinesWithCRLF) {
  const os::Data bytes(48, 0x41);
  auto wrapped = base64EncodedStringWithWrapWidth(bytes, 64);
  ASSERT_TRUE(wrapped);
  EXPECT_EQ(wrapped->size(), 66u);
  EXPECT_EQ(wrapped->substr(64), "\r\n");
  // Widths round down to a multiple of four; below four there is no wrapping.
  auto sixty = base64EncodedStringWithWrapWidth(bytes, 63);
  ASSERT_TRUE(sixty);
  EXPECT_EQ(sixty->find("\r\n"), 60u);
  EXPECT_EQ(sixty->substr(62), "QUFB");
  EXPECT_EQ(base64EncodedStringWithWrapWidth(bytes, 3), base64EncodedString(bytes));
  // No line break after a padded last group.
  auto tail = base64EncodedStringWithWrapWidth(os::Data(4, 0), 4);
  EXPECT_EQ(tail, "AAAA\r\nAA==");
}

TEST(Base64, BreaksOnlyBetweenLinesWhenAsked) {
  const auto between = Base64LineBreaks::BetweenLines;
  auto one = base64EncodedStringWithWrapWidth(os::Data(48, 0x41), 64, between);
  ASSERT_TRUE(one);
  EXPECT_EQ(one->size(), 64u);
  auto two = base64EncodedStringWithWrapWidth(os::Data(96, 0x41), 64, between);
  ASSERT_TRUE(two);
  EXPECT_EQ(two->size(), 130u);
  EXPECT_EQ(two->find("\r\n"), 64u);
  EXPECT_EQ(base64EncodedStringWithWrapWidth(os::Data(49, 0x41), 64, between)->substr(64, 2), "\r\n");
}

TEST(Base64, DecodesLeniently) {
  EXPECT_EQ(base64DecodedString("YW Jj"), "abc");
  EXPECT_EQ(base64DecodedString("YQ"), "a");
  EXPECT_EQ(base64DecodedData("Y"), std::nullopt);
  EXPECT_EQ(base64DecodedData("="), std::nullopt);
  EXPECT_EQ(base64DecodedData(""), std::nullopt);
  EXPECT_EQ(base64DecodedData("YQ==YQ=="), (os::Data{0x61, 0x06, 0x10}));
  EXPECT_EQ(base64DecodedString("YW\r\nJj"), "abc");
  // Bytes outside ASCII are skipped, never folded onto letters of the alphabet.
  EXPECT_EQ(base64DecodedString("Y\xC1W\xE2\x80\xA8Jj"), "abc");
  // Bytes that are not UTF-8 give no string.
  EXPECT_EQ(base64DecodedString("/w=="), std::nullopt);
  EXPECT_EQ(base64DecodedData("/w=="), (os::Data{0xFF}));
}

TEST(Base64, RoundTripsEveryLengthAndWidth) {
  os::Data bytes;
  for (int n = 1; n < 100; ++n) {
    bytes.push_back(static_cast<std::uint8_t>(n * 37));
    for (long width : {0L, 4L, 64L, 76L}) {
      auto text = base64EncodedStringWithWrapWidth(bytes, width);
      ASSERT_TRUE(text);
      EXPECT_EQ(dataWithBase64EncodedString(*text), bytes) << n << " " << width;
    }
  }
}

}  // namespace
