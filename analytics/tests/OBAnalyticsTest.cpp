#include <gtest/gtest.h>

#include "analytics/OBANSession.h"
#include "analytics/OBAnalytics.h"
#include "foundation/ServiceCallLog.h"

namespace {

// A bundle without a "config" channel starts with none, which is not the same as an empty one.
TEST(OBAnalyticsTest, StartHandsKeyPolicyAndChannelOrItsAbsenceToTheSession) {
  ServiceCallLog::Recording recording;
  ServiceCallLog::reset();
  auto session = OBAnalytics::session();
  OBAnalytics::startWithAppkey("0123456789abcdef01234567", 1, std::string("store"));
  EXPECT_TRUE(session->isStarted());
  EXPECT_EQ(session->appKey(), "0123456789abcdef01234567");
  EXPECT_EQ(session->reportPolicy(), 1);
  EXPECT_EQ(session->channelId(), "store");

  OBAnalytics::startWithAppkey("k", 6, std::nullopt);
  EXPECT_EQ(OBAnalytics::session(), session);
  EXPECT_EQ(session->appKey(), "k");
  EXPECT_EQ(session->reportPolicy(), 6);
  EXPECT_EQ(session->channelId(), std::nullopt);
  OBAnalytics::startWithAppkey("k", 1, std::string());
  EXPECT_EQ(session->channelId(), "");

  auto starts = ServiceCallLog::calls("OBAnalytics", "startWithAppkey");
  ASSERT_EQ(starts.size(), 3u);
  EXPECT_EQ(starts[0].arguments["channelId"].stringOr(), "store");
  EXPECT_TRUE(starts[1].arguments.contains("channelId"));
  EXPECT_TRUE(starts[1].arguments["channelId"].isNull());
  ServiceCallLog::reset();
}

}  // namespace
