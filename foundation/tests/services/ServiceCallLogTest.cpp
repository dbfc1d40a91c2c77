#include <gtest/gtest.h>

#include <optional>
#include <thread>
#include <vector>

#include "foundation/ServiceCallLog.h"

namespace {

class ServiceCallLogTest : public ::testing::Test {
 protected:
  void SetUp() override { ServiceCallLog::reset(); }
  void TearDown() override { ServiceCallLog::reset(); }

  std::optional<ServiceCallLog::Recording> recording_{std::in_place};
};

// The program opens no recording: what its services are handed is let go at once.
TEST_F(ServiceCallLogTest, NothingIsKeptOutsideARecordingAndTheLastOneToCloseForgets) {
  ServiceCallLog::record("Push", "register");
  {
    ServiceCallLog::Recording inner;
    ServiceCallLog::record("Push", "setup");
  }
  EXPECT_EQ(ServiceCallLog::names(), (std::vector<std::string>{"Push.register", "Push.setup"}));

  recording_.reset();
  EXPECT_EQ(ServiceCallLog::size(), 0u);
  ServiceCallLog::record("Push", "handleRemoteNotification", os::Dictionary{{"userInfo", os::Dictionary{{"id", 1}}}});
  EXPECT_EQ(ServiceCallLog::size(), 0u);
  EXPECT_FALSE(ServiceCallLog::last("Push", "handleRemoteNotification"));

  recording_.emplace();
  ServiceCallLog::record("Crash", "start");
  EXPECT_EQ(ServiceCallLog::names(), std::vector<std::string>{"Crash.start"});
}

TEST_F(ServiceCallLogTest, ARecordingKeepsOnlyTheNewestCalls) {
  const std::size_t sent = ServiceCallLog::kKeptCalls + 5;
  for (std::size_t i = 0; i < sent; ++i)
    ServiceCallLog::record("Push", "handleRemoteNotification", os::Dictionary{{"i", os::Value(i)}});
  ASSERT_EQ(ServiceCallLog::size(), ServiceCallLog::kKeptCalls);
  auto kept = ServiceCallLog::calls("Push", "handleRemoteNotification");
  ASSERT_EQ(kept.size(), ServiceCallLog::kKeptCalls);
  EXPECT_EQ(kept.front().arguments["i"].unsignedValue(), 5u);
  EXPECT_EQ(kept.back().arguments["i"].unsignedValue(), sent - 1);
  EXPECT_EQ(ServiceCallLog::last("Push", "handleRemoteNotification")->arguments["i"].unsignedValue(), sent - 1);
}

TEST_F(ServiceCallLogTest, KeepsTheOrderAcrossServicesAndFindsTheNewest) {
  ServiceCallLog::record("Push", "register", os::Dictionary{{"n", os::Value(1)}});
  ServiceCallLog::record("Analytics", "start");
  ServiceCallLog::record("Push", "register", os::Dictionary{{"n", os::Value(2)}});

  EXPECT_EQ(ServiceCallLog::names(), (std::vector<std::string>{"Push.register", "Analytics.start", "Push.register"}));
  auto registrations = ServiceCallLog::calls("Push", "register");
  ASSERT_EQ(registrations.size(), 2u);
  EXPECT_EQ(registrations[0].arguments["n"].intValue(), 1);
  EXPECT_EQ(ServiceCallLog::last("Push", "register")->arguments["n"].intValue(), 2);
  EXPECT_FALSE(ServiceCallLog::last("Analytics", "register"));
  EXPECT_EQ(ServiceCallLog::calls("Analytics").size(), 1u);
}

TEST_F(ServiceCallLogTest, ResetForgetsEverythingAndRecordingGoesOn) {
  ServiceCallLog::record("Push", "setup");
  ServiceCallLog::reset();
  EXPECT_EQ(ServiceCallLog::size(), 0u);
  EXPECT_FALSE(ServiceCallLog::last("Push", "setup"));
  ServiceCallLog::record("Crash", "start");
  EXPECT_EQ(ServiceCallLog::names(), std::vector<std::string>{"Crash.start"});
}

// The push client is called from its own thread as well as the main thread.
TEST_F(ServiceCallLogTest, CallsFromSeveralThreadsAreAllKeptInTheirOrder) {
  constexpr int kThreads = 4, kEach = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < kEach; ++i) ServiceCallLog::record("S" + std::to_string(t), "op", os::Dictionary{{"i", os::Value(i)}});
    });
  for (auto& th : threads) th.join();
  ASSERT_EQ(ServiceCallLog::size(), std::size_t(kThreads * kEach));
  for (int t = 0; t < kThreads; ++t) {
    auto mine = ServiceCallLog::calls("S" + std::to_string(t));
    ASSERT_EQ(mine.size(), std::size_t(kEach));
    for (int i = 0; i < kEach; ++i) EXPECT_EQ(mine[i].arguments["i"].intValue(), i);
  }
}

}  // namespace
