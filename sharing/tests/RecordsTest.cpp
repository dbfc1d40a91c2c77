#include "os/core/Date.h"
#include "os/runtime/Clock.h"
#include "sharing/service/OBSCommentEntity.h"
#include "sharing/service/OBSocialAccountEntity.h"
#include "sharing/service/OBSocialResponseEntity.h"
#include "sharing/tests/SharingFixture.h"

namespace {

using RecordsTest = SharingFixture;

std::string ageOf(double secondsAgo) {
  OBSCommentEntity comment;
  comment.dateInterval = static_cast<std::int64_t>((os::Clock::now() - secondsAgo) * 1000);
  return comment.getDateString();
}

TEST_F(RecordsTest, CommentAgesReadAsShortChineseTexts) {
  EXPECT_EQ(ageOf(59), "59 秒前");
  EXPECT_EQ(ageOf(60), "1 分钟前");
  EXPECT_EQ(ageOf(3659), "60 分钟前");
  EXPECT_EQ(ageOf(3660), "1 小时前");
  EXPECT_EQ(ageOf(89999), "24 小时前");
  EXPECT_EQ(ageOf(90000), "1 天前");
  // A clock skew is "just now", never a negative age.
  EXPECT_EQ(ageOf(-30), "0 秒前");
  EXPECT_EQ(ageOf(-90), "0 秒前");
  EXPECT_EQ(ageOf(-86400 * 3), "0 秒前");
}

// Past 2038 "now" no longer fits 32 bits.
TEST(RecordsClockTest, AgesStayRightAfter2038) {
  os::VirtualClockScope clock(2147483647.0 + 1000);
  EXPECT_EQ(ageOf(7200), "2 小时前");
}

TEST_F(RecordsTest, CommentAndAccountSurviveTheirArchives) {
  auto comment = std::make_shared<OBSCommentEntity>();
  comment->uid = "u1";
  comment->content = "好文章";
  comment->nickName = "读者";
  comment->userAvatar = "http://a/1.png";
  comment->location = OBSocialLocation{39.9, 116.4};
  comment->dateInterval = 1700000000123;
  os::ArchiveClassRegistry registry;
  OBSCommentEntity::addToRegistry(registry);
  OBSocialAccountEntity::addToRegistry(registry);
  auto bytes = os::KeyedArchiver::archivedData(comment);
  ASSERT_TRUE(bytes);
  auto back = os::KeyedUnarchiver::unarchiveObject(*bytes, registry)->objectAs<OBSCommentEntity>();
  ASSERT_TRUE(back);
  EXPECT_EQ(back->uid, comment->uid);
  EXPECT_EQ(back->content, comment->content);
  EXPECT_EQ(back->nickName, comment->nickName);
  EXPECT_EQ(back->userAvatar, comment->userAvatar);
  EXPECT_EQ(back->location, comment->location);
  EXPECT_EQ(back->dateInterval, comment->dateInterval);

  auto account = std::make_shared<OBSocialAccountEntity>("qzone");
  account->usid = "123";
  account->accessToken = "token";
  account->openId = "OPEN";
  account->refreshToken = "refresh";
  account->expirationDate = os::Date::fromTimeIntervalSince1970(4102444800.0);  // beyond 32 bits
  auto accountBack = os::KeyedUnarchiver::unarchiveObject(*os::KeyedArchiver::archivedData(account), registry)
                         ->objectAs<OBSocialAccountEntity>();
  ASSERT_TRUE(accountBack);
  EXPECT_EQ(accountBack->platformName, "qzone");
  EXPECT_EQ(accountBack->usid, "123");
  EXPECT_EQ(accountBack->userName, "");
  EXPECT_EQ(accountBack->openId, "OPEN");
  EXPECT_EQ(accountBack->refreshToken, "refresh");
  EXPECT_EQ(accountBack->expirationDate, account->expirationDate);
  EXPECT_FALSE(accountBack->isFirstOauth);
}

TEST(ResponseRecordTest, DescriptionListsOnlySetFields) {
  OBSocialResponseEntity empty;
  EXPECT_EQ(empty.description(), os::Value(os::Dictionary{}).description());
  OBSocialResponseEntity answer;
  answer.responseCode = 200;
  answer.responseType = 5;
  EXPECT_NE(answer.description().find("responseType = 5"), std::string::npos);
  EXPECT_EQ(answer.description().find("viewControllerType"), std::string::npos);
}

}  // namespace
