#include <gtest/gtest.h>

#include "analytics/OBAnalytics.h"
#include "foundation/ServiceCallLog.h"

namespace {

// A bundle without a "config" channel starts with none, which is not the same as an empty one.
TEST(OBAnalyticsTest, StartKeepsKeyPolicyAndChannelOrItsAbsence) {
  ServiceCallLog::reset();
  OBAnalytics::startWithAppkey("0123456789abcdef01234567", 1, std::string("store"));
  OBAnalytics::startWithAppkey("k", 6, std::nullopt);
  auto starts = ServiceCallLog::calls("OBAnalytics", "startWithAppkey");
  ASSERT_EQ(starts.size(), 2u);
  EXPECT_EQ(starts[0].arguments["appKey"].stringOr(), "0123456789abcdef01234567");
  EXPECT_EQ(starts[0].arguments["reportPolicy"].intValue(), 1);
  EXPECT_EQ(starts[0].arguments["channelId"].stringOr(), "store");
  EXPECT_EQ(starts[1].arguments["reportPolicy"].intValue(), 6);
  EXPECT_TRUE(starts[1].arguments.contains("channelId"));
  EXPECT_TRUE(starts[1].arguments["channelId"].isNull());
  ServiceCallLog::reset();
}

}  // namespace
