// The version check shared by the home and settings screens: reading the answer and the
// schemes an upgrade link may have.
#include <gtest/gtest.h>

#include "news/api/OpenableURL.h"
#include "news/settings/VXVersionCheck.h"

namespace {

TEST(OpenableURLTest, OnlyWebAndStoreAddressesAreOpened) {
  EXPECT_TRUE(isOpenableURL("http://example.com/app"));
  EXPECT_TRUE(isOpenableURL("HTTPS://example.com/app"));
  EXPECT_TRUE(isOpenableURL("itms-apps://itunes.example.com/app/id1"));
  EXPECT_TRUE(isOpenableURL("itms://itunes.example.com/app/id1"));
  EXPECT_FALSE(isOpenableURL("file:///etc/passwd"));
  EXPECT_FALSE(isOpenableURL("tel:123"));
  EXPECT_FALSE(isOpenableURL(""));
  EXPECT_FALSE(isOpenableURL("not a url"));
}

// The server's text decides between an offer, "up to date" and nothing usable.
TEST(VXVersionCheckTest, ReadsTheOfferTheUpToDateAnswerAndRubbish) {
  auto noLink = VXVersionCheck::read(R"({"data":{"result":"1","content":7}})");
  EXPECT_EQ(noLink.outcome, VXVersionCheck::Outcome::NewVersion);
  EXPECT_FALSE(noLink.url);
  EXPECT_EQ(VXVersionCheck::read(R"({"data":{}})").outcome, VXVersionCheck::Outcome::UpToDate);
  EXPECT_EQ(VXVersionCheck::read("<html>502</html>").outcome, VXVersionCheck::Outcome::Unreadable);
  EXPECT_EQ(VXVersionCheck::read(R"({"data":[1]})").outcome, VXVersionCheck::Outcome::Unreadable);
}

}  // namespace
