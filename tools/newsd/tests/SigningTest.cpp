#include "tools/newsd/server/Signing.h"

#include <gtest/gtest.h>

#include "tools/newsd/server/NewsService.h"

namespace newsd {
namespace {

// Expected values were worked out by hand and with an independent script from the rules the
// reader follows, not with this code.
TEST(NewsdSigningTest, DerivedKeysFollowTheCharacterCodesAndHalfIndex) {
  EXPECT_EQ(deriveSigningKey("ABCDEFGH"), "124578ab");
  EXPECT_EQ(deriveSigningKey(kNewsSecretKey), "2b81349b7d12aa950b20d2f52247ff44");
  EXPECT_EQ(deriveSigningKey(kPromotionSecretKey), "7d55ca4f76bd4da2adbf2d5405d43f");
}

TEST(NewsdSigningTest, CheckCodeMatchesKnownAnswersForBothKeyLengths) {
  // p is Base64 of {"opcode":1040}; the promotion key is 30 long, so digits 30 and 31 wrap.
  const std::string p = "eyJvcGNvZGUiOjEwNDB9";
  EXPECT_EQ(checkCode(p, deriveSigningKey(kNewsSecretKey)), "96e794e6f44754061335a2b75a69aa5a");
  EXPECT_EQ(checkCode(p, deriveSigningKey(kPromotionSecretKey)), "e8bb919af6598783253b84a63d667a8a");
  EXPECT_EQ(checkCode(p, ""), "");
}

TEST(NewsdSigningTest, ComparisonNeedsTheWholeCode) {
  EXPECT_TRUE(checkCodeMatches("abc", "abc"));
  EXPECT_FALSE(checkCodeMatches("abd", "abc"));
  EXPECT_FALSE(checkCodeMatches("ab", "abc"));
  EXPECT_FALSE(checkCodeMatches("", ""));  // nothing to compare is never a match
}

TEST(NewsdSigningTest, VersionsCompareByNumericParts) {
  EXPECT_GT(compareVersions("2.10", "2.9"), 0);
  EXPECT_EQ(compareVersions("2.0", "2"), 0);
  EXPECT_LT(compareVersions("1.0", "1.0.1"), 0);
  EXPECT_EQ(compareVersions("", "0"), 0);
}

}  // namespace
}  // namespace newsd
