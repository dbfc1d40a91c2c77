#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "os/runtime/DispatchQueue.h"
#include "os/runtime/NotificationCenter.h"
#include "os/runtime/RunLoop.h"

namespace os {
namespace {

TEST(NotificationCenter, DeliversByNameAndSenderInRegistrationOrder) {
  NotificationCenter center;
  int senderA, senderB;
  std::vector<std::string> log;
  center.addObserver("ping", nullptr, [&](const Notification& n) { log.push_back("any sender " + n.name); });
  center.addObserver("ping", &senderA, [&](const Notification&) { log.push_back("from A"); });
  center.addObserver("", nullptr, [&](const Notification& n) { log.push_back("all " + n.name); });
  center.addObserver("pong", nullptr, [&](const Notification& n) {
    log.push_back("pong " + n.userInfo["count"].stringOr());
  });
  center.post("ping", &senderA);
  center.post("ping", &senderB);
  center.post("pong", nullptr, Dictionary{{"count", "3"}});
  EXPECT_EQ(log, (std::vector<std::string>{"any sender ping", "from A", "all ping", "any sender ping", "all ping",
                                           "all pong", "pong 3"}));
}

TEST(NotificationCenter, AValueObjectReachesObserversOfAnySenderOnly) {
  NotificationCenter center;
  int sender;
  std::vector<long long> any, fromSender;
  center.addObserver("progress", nullptr, [&](const Notification& n) { any.push_back(n.value.intValue()); });
  center.addObserver("progress", &sender, [&](const Notification& n) { fromSender.push_back(n.value.intValue()); });
  center.postValue("progress", Value(42));
  EXPECT_EQ(any, (std::vector<long long>{42}));
  EXPECT_TRUE(fromSender.empty());
}

TEST(NotificationCenter, ObserversRemovedDuringDeliveryAreNotCalled) {
  NotificationCenter center;
  std::vector<std::string> log;
  NotificationCenter::ObserverToken self = 0, later = 0;
  center.addObserver("n", nullptr, [&](const Notification&) {
    log.push_back("first");
    center.removeObserver(later);
  });
  self = center.addObserver("n", nullptr, [&](const Notification&) {
    log.push_back("self-removing");
    center.removeObserver(self);
  });
  later = center.addObserver("n", nullptr, [&](const Notification&) { log.push_back("later"); });
  center.post("n");
  center.post("n");
  EXPECT_EQ(log, (std::vector<std::string>{"first", "self-removing", "first"}));
}

TEST(NotificationCenter, TargetRemovalHonoursNameAndObjectFilters) {
  NotificationCenter center;
  int target, other, sender;
  std::vector<std::string> log;
  center.addObserver(&target, "a", nullptr, [&](const Notification&) { log.push_back("target a"); });
  center.addObserver(&target, "b", &sender, [&](const Notification&) { log.push_back("target b"); });
  center.addObserver(&other, "a", nullptr, [&](const Notification&) { log.push_back("other a"); });
  center.removeObserver(&target, "a");
  center.post("a");
  center.post("b", &sender);
  center.removeObserver(&target);
  center.post("b", &sender);
  EXPECT_EQ(log, (std::vector<std::string>{"other a", "target b"}));
}

TEST(NotificationCenter, QueueObserversReceiveOnTheirQueue) {
  NotificationCenter& center = NotificationCenter::defaultCenter();
  std::vector<bool> onMain;
  auto token = center.addObserver(
      "queued", nullptr, [&](const Notification&) { onMain.push_back(RunLoop::isMainThread()); },
      DispatchQueue::main());
  std::thread poster([&] { center.post("queued"); });
  poster.join();
  center.post("queued");
  EXPECT_TRUE(onMain.empty()) << "delivery goes through the queue, not the posting call";
  RunLoop::main()->runUntilIdle();
  EXPECT_EQ(onMain, (std::vector<bool>{true, true}));
  center.post("queued");
  center.removeObserver(token);
  RunLoop::main()->runUntilIdle();
  EXPECT_EQ(onMain.size(), 2u) << "removed before its queued delivery ran";
}

}  // namespace
}  // namespace os
