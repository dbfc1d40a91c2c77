#include <gtest/gtest.h>

#include "os/runtime/NotificationCenter.h"
#include "os/runtime/RunLoop.h"
#include "os/testing/NotificationCounter.h"
#include "os/testing/TestSandbox.h"
#include "os/views/Application.h"
#include "os/views/Device.h"
#include "push/model/DUVLocalNotificationManager.h"
#include "push/model/DUVMessageCenter.h"
#include "push/model/DUVNotifications.h"
#include "push/protocol/tcp/DUVMessageDispatch.h"
#include "push/protocol/tcp/base/DUVPacketCodec.h"

namespace {

std::shared_ptr<DUVMessageDispatch> message(std::uint32_t id) {
  os::ByteWriter writer;
  writer.u16(0).u8(1).u8(3).u16(1).u32(0).u8(0).u32(id);
  DUVMakePacket::appendString(writer, R"({"message":"m"})");
  DUVMakePacket::setPacketLen(writer);
  os::Data frame = writer.take();
  return std::dynamic_pointer_cast<DUVMessageDispatch>(DUVReceivedPacket::packetWithBuffer(frame.data(), frame.size()));
}

TEST(DUVMessageCenter, RemembersTheLast21Ids) {
  os::testing::NotificationCounter posted(kDUVNetworkDidReceiveMessageNotification);
  DUVMessageCenter center;
  center.dispatchMessage(*message(1));
  center.dispatchMessage(*message(1));
  for (std::uint32_t id = 2; id <= 21; ++id) center.dispatchMessage(*message(id));
  center.dispatchMessage(*message(1));  // 20 others later: still remembered
  os::RunLoop::main()->runUntilIdle();
  EXPECT_EQ(posted.count(), 21);
  center.dispatchMessage(*message(22));
  center.dispatchMessage(*message(1));  // the 21st other id pushed it out
  os::RunLoop::main()->runUntilIdle();
  EXPECT_EQ(posted.count(), 23);
  EXPECT_EQ(center.receivedMsgIdsArray().size(), 21u);
}

TEST(DUVLocalNotificationManager, LimitsKeysAndDeletion) {
  os::TestSandbox sandbox;
  auto app = os::Application::create(nullptr);
  app->makeShared();
  auto later = os::Date::now().addingTimeInterval(60);
  EXPECT_FALSE(DUVLocalNotificationManager::setLocalNotification(os::Date::now().addingTimeInterval(-1), "b", 0, "",
                                                                 "k", {}, ""));
  auto plain = DUVLocalNotificationManager::setLocalNotification(later, "b", 0, "", "", {}, "");
  ASSERT_TRUE(plain);
  EXPECT_TRUE(plain->userInfo.empty());
  for (int i = 1; i < 64; ++i)
    ASSERT_TRUE(DUVLocalNotificationManager::setLocalNotification(later, "b", 1, "", i % 2 ? "odd" : "even", {}, ""));
  // The 65th is refused and not answered as if it were scheduled.
  EXPECT_FALSE(DUVLocalNotificationManager::setLocalNotification(later, "b", 1, "", "odd", {}, ""));
  EXPECT_EQ(DUVLocalNotificationManager::findLocalNotificationWithIdentifier("odd")->size(), 32u);
  DUVLocalNotificationManager::deleteLocalNotificationWithIdentifierKey("odd");
  DUVLocalNotificationManager::deleteLocalNotificationWithIdentifierKey("none");
  EXPECT_EQ(app->scheduledLocalNotifications().size(), 32u);
  EXPECT_FALSE(DUVLocalNotificationManager::findLocalNotificationWithIdentifier(std::nullopt));
  DUVLocalNotificationManager::clearAllLocalNotifications();
  EXPECT_TRUE(app->scheduledLocalNotifications().empty());
}

// Every notification fires in the default time zone; region, its once-only flag and the category
// are taken from system 8.0 on and left off before.
TEST(DUVLocalNotificationManager, RegionCategoryAndTimeZone) {
  os::TestSandbox sandbox;
  auto app = os::Application::create(nullptr);
  app->makeShared();
  os::CircularRegion region{39.9, 116.4, 200, "office"};
  auto later = os::Date::now().addingTimeInterval(60);
  os::DeviceProfile profile;
  profile.systemVersion = "8.0";
  profile.timeZone = "Asia/Tokyo";
  auto previous = os::Device::current().setProfile(profile);
  auto eight = DUVLocalNotificationManager::setLocalNotification(later, "b", 0, "", "k", {}, "", region, true, "reply");
  profile.systemVersion = "7.1";
  os::Device::current().setProfile(profile);
  auto seven = DUVLocalNotificationManager::setLocalNotification(later, "b", 0, "", "k", {}, "", region, true, "reply");
  os::Device::current().setProfile(previous);
  ASSERT_TRUE(eight && seven);
  EXPECT_EQ(eight->timeZone, "Asia/Tokyo");
  EXPECT_EQ(eight->region, region);
  EXPECT_TRUE(eight->regionTriggersOnce);
  EXPECT_EQ(eight->category, "reply");
  EXPECT_EQ(seven->timeZone, "Asia/Tokyo");
  EXPECT_EQ(seven->region, std::nullopt);
  EXPECT_FALSE(seven->regionTriggersOnce);
  EXPECT_EQ(seven->category, std::nullopt);
  EXPECT_EQ(app->scheduledLocalNotifications().front(), *eight);
}

}  // namespace
