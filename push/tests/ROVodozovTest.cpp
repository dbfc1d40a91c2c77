#include <gtest/gtest.h>

#include "foundation/ServiceCallLog.h"
#include "push/ROVodozov.h"

namespace {

class ROVodozovTest : public ::testing::Test {
 protected:
  void SetUp() override { ServiceCallLog::reset(); }
  void TearDown() override { ServiceCallLog::reset(); }
};

TEST_F(ROVodozovTest, LaunchRegistersThenStartsWithTheLaunchOptions) {
  os::Dictionary push{{"aps", os::Value(os::Dictionary{{"alert", os::Value("要闻")}})}, {"id", os::Value(42)}};
  os::Dictionary options{{"ApplicationLaunchOptionsRemoteNotificationKey", os::Value(push)}};
  ROVodozov::registerForRemoteNotificationTypes(7, os::Value());
  ROVodozov::setupWithOption(options);

  EXPECT_EQ(ServiceCallLog::names(),
            (std::vector<std::string>{"ROVodozov.registerForRemoteNotificationTypes", "ROVodozov.setupWithOption"}));
  auto calls = ServiceCallLog::calls();
  EXPECT_EQ(calls[0].arguments["types"].unsignedValue(), 7u);
  EXPECT_TRUE(calls[0].arguments.contains("categories"));
  EXPECT_TRUE(calls[0].arguments["categories"].isNull());
  ASSERT_TRUE(calls[1].arguments["launchOptions"].dictionary());
  EXPECT_EQ(*calls[1].arguments["launchOptions"].dictionary(), options);
}

TEST_F(ROVodozovTest, TokenBytesAndNotificationsArriveUnchanged) {
  os::Data token{0x00, 0xff, 0x10, 0x00, 0x7f};
  ROVodozov::registerDeviceToken(token);
  ROVodozov::handleRemoteNotification(os::Dictionary{{"_j_msgid", os::Value(1234567890123LL)}});

  auto tokenCall = ServiceCallLog::last("ROVodozov", "registerDeviceToken");
  ASSERT_TRUE(tokenCall && tokenCall->arguments["token"].data());
  EXPECT_EQ(*tokenCall->arguments["token"].data(), token);
  auto notification = ServiceCallLog::last("ROVodozov", "handleRemoteNotification");
  ASSERT_TRUE(notification);
  EXPECT_EQ(notification->arguments["userInfo"]["_j_msgid"].intValue(), 1234567890123LL);
}

}  // namespace
