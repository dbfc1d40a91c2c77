// The category list: from the local news server on Wi-Fi, from the database otherwise, and the
// stored tabs kept whenever an answer is not a usable list.
#include "news/store/VXNewsCategoryManager.h"

#include <gtest/gtest.h>

#include <functional>

#include "news/tests/support/ReaderFixture.h"
#include "os/testing/NotificationCounter.h"
#include "tools/newsd/server/Faults.h"

namespace {

using os::testing::NotificationCounter;
using newstest::LocalNewsServer;

std::vector<std::pair<long long, std::string>> idsAndNames(const std::vector<VXNewsCategory>& list) {
  std::vector<std::pair<long long, std::string>> out;
  for (const auto& c : list) out.emplace_back(c.ID(), c.name());
  return out;
}

class CategoryList : public newstest::StateFixture {
 protected:
  // Two tabs the database holds before the test asks.
  void storeTabs() {
    ASSERT_TRUE(VXNewsDBManager::share()->replaceCategories(
        {VXNewsCategory(os::Dictionary{{"id", 20}, {"name", "stored A"}, {"order", 0}}),
         VXNewsCategory(os::Dictionary{{"id", 21}, {"name", "stored B"}, {"order", 1}})}));
  }
  const std::vector<std::pair<long long, std::string>> storedTabs{{20, "stored A"}, {21, "stored B"}};

  // Runs the load and waits for its one broadcast.
  void loadAndWait(const std::function<void()>& load) {
    NotificationCounter broadcasts(kNewsCategoryNotification);
    load();
    ASSERT_TRUE(newstest::runUntil([&] { return broadcasts.count() > 0; }));
    os::RunLoop::main()->runUntilIdle();
    EXPECT_EQ(broadcasts.count(), 1);
  }

  std::shared_ptr<VXNewsCategoryManager> manager_ = std::make_shared<VXNewsCategoryManager>();
};

TEST_F(CategoryList, OnWiFiTheServerListIsStoredInOrderAndBroadcast) {
  LocalNewsServer local;
  storeTabs();
  NotificationCounter broadcasts(kNewsCategoryNotification);
  manager_->loadList();
  // The broadcast comes on the main queue, never inside the call.
  EXPECT_EQ(broadcasts.count(), 0);
  ASSERT_TRUE(newstest::runUntil([&] { return broadcasts.count() > 0; }));
  os::RunLoop::main()->runUntilIdle();
  EXPECT_EQ(broadcasts.count(), 1);
  EXPECT_EQ(local.asked(VXNewsCategoryManager::kCategoryListOpcode), 1);

  std::vector<std::pair<long long, std::string>> served;
  for (const auto& c : local.service().content().categories()) served.emplace_back(c.id, c.name);
  ASSERT_FALSE(served.empty());
  EXPECT_EQ(idsAndNames(manager_->categoryList()), served);
  auto stored = VXNewsDBManager::share()->createCategoryListWithDB();
  EXPECT_EQ(idsAndNames(stored), served) << "the old tabs are replaced";
  for (std::size_t i = 0; i < stored.size(); ++i) EXPECT_EQ(stored[i].order(), static_cast<long long>(i));
}

// An answer that comes while another reader context is current is stored where it was asked for.
TEST_F(CategoryList, TheListIsStoredInTheContextThatAskedForIt) {
  LocalNewsServer local;
  auto asking = VXNewsDBManager::share();
  NotificationCounter broadcasts(kNewsCategoryNotification);
  manager_->requestList();
  std::vector<VXNewsCategory> elsewhere;
  {
    newstest::RequestEnvironment other;
    ASSERT_TRUE(newstest::runUntil([&] { return broadcasts.count() > 0; }));
    elsewhere = VXNewsDBManager::share()->createCategoryListWithDB();
  }
  std::vector<std::pair<long long, std::string>> served;
  for (const auto& c : local.service().content().categories()) served.emplace_back(c.id, c.name);
  ASSERT_FALSE(served.empty());
  EXPECT_TRUE(elsewhere.empty());
  EXPECT_EQ(idsAndNames(asking->createCategoryListWithDB()), served);
  EXPECT_EQ(idsAndNames(manager_->categoryList()), served);
}

TEST_F(CategoryList, ServerOrderWinsOverIdsAndMissingFlagsDefaultToOne) {
  os::Array list{os::Value(os::Dictionary{{"id", 7}, {"name", "A"}}), os::Value("junk"),
                 os::Value(os::Dictionary{{"name", "no id"}}),
                 os::Value(os::Dictionary{{"id", 3}, {"name", "B"}, {"flag", 2}, {"order", 99}})};
  newstest::ScriptedNewsServer server(newstest::envelope(os::Dictionary{{"result", 1}, {"categorylist", list}}));
  loadAndWait([&] { manager_->loadList(); });

  auto stored = VXNewsDBManager::share()->createCategoryListWithDB();
  ASSERT_EQ(stored.size(), 2u);
  EXPECT_EQ(stored[0].ID(), 7);
  EXPECT_EQ(stored[0].order(), 0);
  EXPECT_EQ(stored[0].flag(), 1);
  EXPECT_EQ(stored[1].ID(), 3);
  EXPECT_EQ(stored[1].order(), 1);
  EXPECT_EQ(stored[1].flag(), 2);
  EXPECT_EQ(idsAndNames(manager_->categoryList()), idsAndNames(stored));
}

TEST_F(CategoryList, AnswersWithoutAUsableListKeepTheStoredTabs) {
  os::Array good{os::Value(os::Dictionary{{"id", 1}, {"name", "new"}})};
  const std::vector<std::pair<std::string, os::Dictionary>> answers{
      {"result 2", os::Dictionary{{"result", 2}, {"categorylist", good}}},
      {"result text", os::Dictionary{{"result", "1"}, {"categorylist", good}}},
      {"no list", os::Dictionary{{"result", 1}}},
      {"empty list", os::Dictionary{{"result", 1}, {"categorylist", os::Array{}}}},
      {"list of the wrong type", os::Dictionary{{"result", 1}, {"categorylist", "1,2"}}},
      {"only junk items", os::Dictionary{{"result", 1}, {"categorylist", os::Array{os::Value(5), os::Value()}}}},
  };
  storeTabs();
  for (const auto& [what, data] : answers) {
    SCOPED_TRACE(what);
    newstest::ScriptedNewsServer server(newstest::envelope(data));
    loadAndWait([&] { manager_->loadList(); });
    EXPECT_EQ(server.requestCount(), 1u);
    EXPECT_EQ(idsAndNames(manager_->categoryList()), storedTabs);
    EXPECT_EQ(idsAndNames(VXNewsDBManager::share()->createCategoryListWithDB()), storedTabs);
  }
}

TEST_F(CategoryList, FailedExchangesFallBackToTheStoredTabs) {
  storeTabs();
  {
    LocalNewsServer local;
    local.setFault(VXNewsCategoryManager::kCategoryListOpcode, newsd::Fault{newsd::FailureMode::HttpError});
    loadAndWait([&] { manager_->loadList(); });
    EXPECT_EQ(idsAndNames(manager_->categoryList()), storedTabs);
  }
  VXRequestConfig::setServerRoot("http://127.0.0.1:" + std::to_string(os::testing::HttpTestServer::refusedPort()));
  loadAndWait([&] { manager_->requestList(); });
  EXPECT_EQ(idsAndNames(manager_->categoryList()), storedTabs);
}

TEST_F(CategoryList, WithoutWiFiNothingIsAskedAndTheStoredTabsAreBroadcast) {
  LocalNewsServer local;
  storeTabs();
  network().setAllFlags(os::kReachabilityFlagsReachable | os::kReachabilityFlagsIsWWAN);
  loadAndWait([&] { manager_->loadList(); });
  EXPECT_EQ(idsAndNames(manager_->categoryList()), storedTabs);

  network().setAllFlags(std::nullopt);
  VXNewsDBManager::share()->clearCategoryTable();
  loadAndWait([&] { manager_->loadList(); });
  EXPECT_TRUE(manager_->categoryList().empty());

  os::RunLoop::main()->runUntilIdle();
  EXPECT_EQ(local.asked(VXNewsCategoryManager::kCategoryListOpcode), 0);
}

}  // namespace
