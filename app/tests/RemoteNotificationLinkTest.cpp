// The device's link to the push channel, against a channel played by a raw TCP peer.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/RemoteNotificationLink.h"
#include "os/core/Data.h"
#include "os/runtime/Clock.h"
#include "os/runtime/RunLoop.h"
#include "os/testing/TcpTestPeer.h"
#include "os/testing/TestSandbox.h"
#include "os/views/Application.h"

namespace {

struct Pushed : os::ApplicationDelegate {
  std::vector<os::Dictionary> notifications;
  void didReceiveRemoteNotification(os::Application&, const os::Dictionary& userInfo) override {
    notifications.push_back(userInfo);
  }
};

os::Data bytes(const std::string& text) { return os::Data(text.begin(), text.end()); }

// A line longer than the link takes is dropped whole, up to its break, however it arrives: text
// after the limit is never read as a line of its own, so it cannot pass for a notification.
TEST(RemoteNotificationLink, AnOverLongLineIsDroppedUpToItsBreak) {
  os::VirtualClockScope clock;
  os::TestSandbox device;
  auto pushed = std::make_shared<Pushed>();
  auto app = os::Application::create(pushed, "com.example.newsreader");
  app->makeShared();
  app->launch();
  app->registerForRemoteNotificationTypes(7);
  ASSERT_TRUE(app->isRegisteredForRemoteNotifications());
  os::testing::TcpTestPeer channel;
  auto link = RemoteNotificationLink::connect(app, channel.port());
  ASSERT_TRUE(link);
  auto main = os::RunLoop::main();
  ASSERT_TRUE(main->runUntil([&] { return channel.received().size() >= 7; }, 30));  // "device ..."

  const std::string smuggled = R"(remote {"aps":{"alert":"smuggled"},"id":1})";
  const std::string padding(66 * 1024, 'x');
  // Arriving in pieces: the link has read past the limit before the rest of the line comes.
  ASSERT_TRUE(channel.write(bytes("remote " + padding)));
  main->runUntilIdle();
  ASSERT_TRUE(channel.write(bytes(padding)));
  main->runUntilIdle();
  ASSERT_TRUE(channel.write(bytes(" " + smuggled + "\n")));
  main->runUntilIdle();
  // Arriving at once, its break included.
  ASSERT_TRUE(channel.write(bytes("remote " + padding + smuggled + "\n")));
  // The lines after are read as ever.
  ASSERT_TRUE(channel.write(bytes(R"(remote {"aps":{"alert":"after"},"id":2})" "\n")));
  ASSERT_TRUE(main->runUntil([&] { return link->delivered() >= 1; }, 30));
  main->runUntilIdle();
  EXPECT_EQ(link->received(), 1u);
  ASSERT_EQ(pushed->notifications.size(), 1u);
  EXPECT_EQ(pushed->notifications[0]["id"].intValue(), 2);
  link->close();
  app->terminate();
  main->runUntilIdle();
}

}  // namespace
