// The device's link to the push channel, against a channel played by a raw TCP peer.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
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

// A launched application registered for notifications, linked to a channel that has heard the
// link's "device ..." line.
class RemoteNotificationLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    app = os::Application::create(pushed, "com.example.newsreader");
    app->makeShared();
    app->launch();
    app->registerForRemoteNotificationTypes(7);
    ASSERT_TRUE(app->isRegisteredForRemoteNotifications());
    link = RemoteNotificationLink::connect(app, channel.port());
    ASSERT_TRUE(link);
    ASSERT_TRUE(main->runUntil([&] { return channel.received().size() >= 7; }, 30));
  }
  void TearDown() override {
    if (link) link->close();
    app->terminate();
    main->runUntilIdle();
  }

  os::VirtualClockScope clock;
  os::TestSandbox device;
  std::shared_ptr<Pushed> pushed = std::make_shared<Pushed>();
  std::shared_ptr<os::Application> app;
  os::testing::TcpTestPeer channel;
  std::shared_ptr<RemoteNotificationLink> link;
  std::shared_ptr<os::RunLoop> main = os::RunLoop::main();
};

// A line longer than the link takes is dropped whole, up to its break, however it arrives: text
// after the limit is never read as a line of its own, so it cannot pass for a notification.
TEST_F(RemoteNotificationLinkTest, AnOverLongLineIsDroppedUpToItsBreak) {

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
}

// The limit is the longest line taken, its break not counted: a notification of exactly 64 KiB is
// delivered, one a byte longer dropped, whether it comes whole or in pieces.
TEST_F(RemoteNotificationLinkTest, ALineOfExactlyTheLimitIsDeliveredAndOneByteMoreIsNot) {

  constexpr std::size_t kLimit = 64 * 1024;
  // "remote {...}" of `length` bytes, its alert padded to fit.
  auto line = [](std::size_t length, int id) {
    const std::string head = R"(remote {"id":)" + std::to_string(id) + R"(,"aps":{"alert":")", tail = "\"}}";
    return head + std::string(length - head.size() - tail.size(), 'x') + tail;
  };
  ASSERT_EQ(line(kLimit, 1).size(), kLimit);
  ASSERT_TRUE(channel.write(bytes(line(kLimit + 1, 1) + "\n" + line(kLimit, 2) + "\n")));
  const std::string inPieces = line(kLimit, 3) + "\n" + line(kLimit + 1, 4) + "\n";
  for (std::size_t at = 0; at < inPieces.size(); at += 1000) {
    ASSERT_TRUE(channel.write(bytes(inPieces.substr(at, 1000))));
    main->runUntilIdle();
  }
  ASSERT_TRUE(channel.write(bytes(line(64, 5) + "\n")));
  ASSERT_TRUE(main->runUntil([&] { return link->delivered() >= 3; }, 30));
  main->runUntilIdle();
  ASSERT_EQ(pushed->notifications.size(), 3u);
  EXPECT_EQ(pushed->notifications[0]["id"].intValue(), 2);
  EXPECT_EQ(pushed->notifications[1]["id"].intValue(), 3);
  EXPECT_EQ(pushed->notifications[2]["id"].intValue(), 5);
}

// A peer that sends one line with no break, on and on: the link keeps no more of it than the
// longest line it takes, lets that go when the line turns out over-long, and reads it a bounded
// amount at a time, so the main loop's other work still runs while it comes. The line after it
// is read as ever, and nothing of the flood stays held.
TEST_F(RemoteNotificationLinkTest, AFloodingPeerNeitherGrowsTheLinkNorHoldsUpTheMainLoop) {

  // Written until the main loop has run a task posted in the middle of it; at most this much.
  constexpr std::size_t kMost = 256u << 20, kPostAfter = 8u << 20, kPiece = 64u << 10;
  std::atomic<std::size_t> written{0};
  std::atomic<bool> stop{false};
  std::thread flood([&] {
    bool ok = channel.write(bytes("remote {\"aps\":{\"alert\":\""));
    const os::Data piece(kPiece, 'x');
    while (ok && !stop && written < kMost) {
      ok = channel.write(piece);
      written += kPiece;
    }
    if (ok) channel.write(bytes("\"},\"id\":1}\n" R"(remote {"aps":{"alert":"after"},"id":2})" "\n"));
  });
  // The most the link held, looked at after every pass of the loop.
  std::size_t mostHeld = 0;
  auto runUntil = [&](const std::function<bool()>& done) {
    return main->runUntil(
        [&] {
          mostHeld = std::max(mostHeld, link->heldBytes());
          return done();
        },
        60);
  };
  // Expected, not asserted, until the writer is joined.
  EXPECT_TRUE(runUntil([&] { return written >= kPostAfter; }));
  bool ran = false;
  std::size_t writtenWhenRan = 0;
  main->post([&] {
    ran = true;
    writtenWhenRan = written;
    stop = true;
  });
  EXPECT_TRUE(runUntil([&] { return ran; }));
  stop = true;
  EXPECT_TRUE(runUntil([&] { return link->delivered() >= 1; }));
  flood.join();
  main->runUntilIdle();

  EXPECT_LT(writtenWhenRan, kMost) << "the flood held the main loop until it ended";
  EXPECT_LE(mostHeld, 256u << 10) << "the link grew with the line";
  EXPECT_LT(link->heldBytes(), 1024u) << "the link kept the memory of a line gone";
  EXPECT_EQ(link->received(), 1u);
  ASSERT_EQ(pushed->notifications.size(), 1u);
  EXPECT_EQ(pushed->notifications[0]["id"].intValue(), 2);
}

}  // namespace
