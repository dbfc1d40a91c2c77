// The application-wide state: the ad refresh against the local news server on a virtual clock,
// the random ad choice, the screen-status broadcast and the read history in the database.
#include "news/store/VXGlobalDefine.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "news/tests/support/ReaderFixture.h"
#include "os/crypto/Random.h"
#include "os/runtime/Clock.h"
#include "os/testing/LogCapture.h"
#include "os/testing/NotificationCounter.h"

namespace {

using os::testing::NotificationCounter;
using newstest::LocalNewsServer;

constexpr long long kAdListOpcode = 2613;

std::vector<VXAdDO> someAds(int n) {
  std::vector<VXAdDO> ads;
  for (int i = 0; i < n; ++i) ads.emplace_back(os::Dictionary{{"adid", 100 + i}, {"name", "ad " + std::to_string(i)}});
  return ads;
}

using AppState = newstest::StateFixture;

TEST_F(AppState, AdTimerAsksAtMostOncePerRefreshIntervalAndOnlyWithPassClear) {
  os::VirtualClockScope clock;
  LocalNewsServer local;
  auto state = VXGlobalDefine::create();
  VXGlobalDefine::setShared(state);
  auto tick = [] {
    os::Clock::advance(VXGlobalDefine::kAdTimerInterval);
    os::RunLoop::main()->runUntilIdle();
  };

  // The pass switch starts set: the timer fires for minutes and asks nothing.
  for (int i = 0; i < 40; ++i) tick();
  EXPECT_EQ(state->adLastUpdateTime(), 0.0);

  // Cleared, the next firing asks at once (the last request is "at 0"), and the ads arrive.
  state->setPass(false);
  tick();
  double first = os::Clock::now();
  EXPECT_EQ(state->adLastUpdateTime(), first);
  ASSERT_TRUE(newstest::runUntil([&] { return !state->adArray().empty(); }));
  std::size_t served = 0;
  for (const auto& ad : local.service().content().ads()) served += ad.forArticles;
  EXPECT_EQ(state->adArray().size(), served);

  // Exactly 300 s later is not "more than" 300 s: still one request.
  for (int i = 0; i < 30; ++i) tick();
  EXPECT_EQ(state->adLastUpdateTime(), first);
  EXPECT_EQ(local.asked(kAdListOpcode), 1);

  tick();
  EXPECT_EQ(state->adLastUpdateTime(), first + 310);
  ASSERT_TRUE(newstest::runUntil([&] { return local.asked(kAdListOpcode) == 2; }));
  os::RunLoop::main()->runUntilIdle();
  EXPECT_EQ(local.asked(kAdListOpcode), 2);
}

TEST_F(AppState, OnlyASuccessfulAdAnswerReplacesTheAds) {
  os::Array items{os::Value(os::Dictionary{{"adid", 1}, {"name", "first"}}), os::Value("not an ad"),
                  os::Value(os::Dictionary{{"adid", 2}, {"name", "second"}})};
  auto ads = VXGlobalDefine::adsFromAnswer(os::Dictionary{{"result", 0}, {"adlist", items}});
  ASSERT_TRUE(ads);
  ASSERT_EQ(ads->size(), 2u);
  EXPECT_EQ((*ads)[0].name(), "first");
  EXPECT_EQ((*ads)[1].adid(), 2);

  EXPECT_FALSE(VXGlobalDefine::adsFromAnswer(os::Dictionary{{"result", 1}, {"adlist", items}}));
  EXPECT_FALSE(VXGlobalDefine::adsFromAnswer(os::Dictionary{{"result", "0"}, {"adlist", items}}));
  EXPECT_FALSE(VXGlobalDefine::adsFromAnswer(os::Dictionary{{"adlist", items}}));
  EXPECT_FALSE(VXGlobalDefine::adsFromAnswer(std::nullopt));
  // The server may take every ad down.
  auto none = VXGlobalDefine::adsFromAnswer(os::Dictionary{{"result", 0}, {"adlist", os::Array{}}});
  ASSERT_TRUE(none);
  EXPECT_TRUE(none->empty());
}

TEST_F(AppState, RandomAdIndexIsAThirtyTwoBitDrawModuloTheCount) {
  state_->setAdArray(someAds(5));
  EXPECT_EQ(state_->randAdIndex(), -1) << "the pass switch starts set";
  EXPECT_FALSE(state_->randAd());

  state_->setPass(false);
  std::set<long> seen;
  for (std::uint64_t seed = 1; seed <= 60; ++seed) {
    std::uint32_t expected;
    {
      os::SeededRandomScope random(seed);
      expected = os::random32() % 5;
    }
    os::SeededRandomScope random(seed);
    long index = state_->randAdIndex();
    EXPECT_EQ(index, static_cast<long>(expected)) << seed;
    seen.insert(index);
  }
  EXPECT_EQ(seen, (std::set<long>{0, 1, 2, 3, 4}));

  {
    os::SeededRandomScope random(3);
    long index = state_->randAdIndex();
    os::SeededRandomScope again(3);
    auto ad = state_->randAd();
    ASSERT_TRUE(ad);
    EXPECT_EQ(ad->adid(), 100 + index);
  }

  state_->setAdArray({});
  EXPECT_EQ(state_->randAdIndex(), -1);
  state_->setAdArray(someAds(1));
  EXPECT_EQ(state_->randAdIndex(), 0);
}

TEST_F(AppState, ScreenStatusBroadcastsOnlyWhenAFullScreenStateEnds) {
  NotificationCounter ended(kScreenStatusNotification);
  state_->setScreenStatus(0);
  EXPECT_EQ(ended.count(), 0);
  state_->setScreenStatus(1);
  state_->setScreenStatus(1);
  EXPECT_EQ(ended.count(), 0);
  state_->setScreenStatus(0);
  EXPECT_EQ(ended.count(), 1);
  state_->setScreenStatus(0);
  EXPECT_EQ(ended.count(), 1);
  state_->setScreenStatus(1);
  state_->setScreenStatus(2);
  state_->setScreenStatus(0);
  EXPECT_EQ(ended.count(), 2);
}

TEST_F(AppState, ReadHistoryIsStoredOnceAndReloaded) {
  EXPECT_TRUE(state_->addNewsHistory(42));
  EXPECT_FALSE(state_->addNewsHistory(42));
  EXPECT_TRUE(state_->addNewsHistory(7));
  EXPECT_TRUE(state_->isNewsHistory(42));
  EXPECT_FALSE(state_->isNewsHistory(43));
  EXPECT_EQ(VXNewsDBManager::share()->getHistoryID(), (std::vector<long long>{7, 42}));

  auto later = VXGlobalDefine::create();
  EXPECT_FALSE(later->isNewsHistory(42));
  later->initNewsHistoryArray();
  EXPECT_EQ(later->newsHistoryArray(), (std::vector<long long>{7, 42}));
  EXPECT_FALSE(later->addNewsHistory(7));
  EXPECT_EQ(VXNewsDBManager::share()->getHistoryID().size(), 2u);
}

TEST_F(AppState, ClearedCachesEmptyTheInMemoryHistoryToo) {
  state_->initNewsHistoryArray();
  ASSERT_TRUE(state_->addNewsHistory(42));
  VXNewsDBManager::share()->clearCachesTable();
  EXPECT_FALSE(state_->isNewsHistory(42));
  // Opened again, it is stored again (and so uploaded again).
  EXPECT_TRUE(state_->addNewsHistory(42));
  EXPECT_EQ(VXNewsDBManager::share()->getHistoryID(), (std::vector<long long>{42}));

  // Cleared off the main thread, the main thread follows on its next turn.
  std::thread worker([] { VXNewsDBManager::share()->clearCachesTable(); });
  worker.join();
  os::RunLoop::main()->runUntilIdle();
  EXPECT_FALSE(state_->isNewsHistory(42));
}

// A clearing the database refuses part-way (a full disk) leaves everything as it was: the stored
// lists, the read history and the read marks on screen, rather than lists gone while their reads
// stay, or marks gone that the database still holds.
TEST_F(AppState, AClearingTheDatabaseRefusesKeepsTheListsAndTheReadHistoryAsTheyWere) {
  auto db = VXNewsDBManager::share();
  os::Array items;
  items.push_back(os::Value(os::Dictionary{{"id", 42}, {"title", "t"}}));
  ASSERT_EQ(db->insertArticles(items, 3).size(), 1u);
  state_->initNewsHistoryArray();
  ASSERT_TRUE(state_->addNewsHistory(42));
  newstest::refuseRemovingRows(*db, "ZHISTORY", true);

  {
    os::testing::LogCapture quiet;
    db->clearCachesTable();
  }

  EXPECT_EQ(db->createNewsListWithDB(3).size(), 1u);
  EXPECT_EQ(db->getHistoryID(), (std::vector<long long>{42}));
  os::RunLoop::main()->runUntilIdle();
  EXPECT_TRUE(state_->isNewsHistory(42));

  newstest::refuseRemovingRows(*db, "ZHISTORY", false);
  db->clearCachesTable();
  EXPECT_TRUE(db->createNewsListWithDB(3).empty());
  EXPECT_TRUE(db->getHistoryID().empty());
  EXPECT_FALSE(state_->isNewsHistory(42));
}

TEST_F(AppState, AHistoryRowThatCannotBeStoredIsNotRemembered) {
  VXNewsDBManager::setShared(std::make_shared<VXNewsDBManager>(env_.sandbox().root() + "/missing/dir/news.db"));
  ASSERT_FALSE(VXNewsDBManager::share()->isOpen());
  EXPECT_FALSE(state_->addNewsHistory(42));
  EXPECT_FALSE(state_->isNewsHistory(42));
}

}  // namespace
