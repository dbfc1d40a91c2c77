#pragma once
// What the offline download tests share: a virtual clock, a phone sandbox, a fresh news database,
// application-wide state and offline helper, an image manager of their own, the local news server
// with a record of the article ids it was asked for, and every "fOfflineLoading" value heard.
#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/formats/JSONDecoder.h"
#include "news/store/VXGlobalDefine.h"
#include "news/api/VXGlobalHelper.h"
#include "news/offline/VXOfflineHelper.h"
#include "news/store/VXNewsDBManager.h"
#include "news/tests/support/RequestTestSupport.h"
#include "os/core/Date.h"
#include "os/core/String.h"
#include "os/runtime/Clock.h"
#include "os/runtime/NotificationCenter.h"
#include "tools/newsd/server/NewsServer.h"
#include "ui/images/BNImageCache.h"
#include "ui/images/BNWebImageDownloader.h"
#include "ui/images/BNWebImageManager.h"

namespace offlinetest {

class OfflineFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    VXNewsDBManager::setShared(nullptr);
    db_ = VXNewsDBManager::share();
    state_ = VXGlobalDefine::create();
    VXGlobalDefine::setShared(state_);
    helper_ = std::make_shared<VXOfflineHelper>();
    helper_->setDatabase(db_);
    helper_->setImageManager(images_);
    VXOfflineHelper::setShared(helper_);

    newsd::ServerOptions options;
    options.seed = 5;
    server_ = std::make_unique<newsd::NewsServer>(options);
    server_->service().setLog([this](const std::string& line) {
      std::lock_guard lock(mutex_);
      lines_.push_back(line);
    });
    auto port = server_->start();
    ASSERT_TRUE(port);
    VXRequestConfig::setServerRoot("http://127.0.0.1:" + std::to_string(*port));

    observer_ = os::NotificationCenter::defaultCenter().addObserver(
        kOfflineLoadingNotification, nullptr, [this](const os::Notification& n) {
          std::lock_guard lock(mutex_);
          heard_.push_back(VXOfflineHelper::percentOf(n).value_or(-999));
          detailsAtHeard_.push_back(countLocked("opcode 1020 "));
        });
  }

  void TearDown() override {
    if (helper_->isRunning()) helper_->killThread();
    // Stopping lets held requests go; work of a cancelled run and picture loads then end before
    // the sandbox goes.
    server_->stop();
    EXPECT_TRUE(newstest::runUntil([&] { return helper_->pendingCategories() == 0 && !images_->isRunning(); }, 30));
    os::NotificationCenter::defaultCenter().removeObserver(observer_);
    os::RunLoop::main()->runUntilIdle();
    VXOfflineHelper::setShared(nullptr);
    VXGlobalDefine::setShared(nullptr);
    VXNewsDBManager::setShared(nullptr);
  }

  // The first `n` published plain articles of a category, stored as its list and marked fresh, so a
  // run asks for no list.
  std::vector<long long> storeFresh(long long category, std::size_t n) {
    std::vector<long long> ids;
    os::Array items;
    for (const auto& a : server_->service().content().articles()) {
      if (a.categoryId != category || !a.type.empty() || static_cast<double>(a.publishTime) > os::Clock::now()) continue;
      if (ids.size() == n) break;
      ids.push_back(a.id);
      items.push_back(os::Value(os::Dictionary{{"id", os::Value(a.id)}, {"title", os::Value(a.title)}}));
    }
    storeFresh(category, items);
    return ids;
  }
  void storeFresh(long long category, const os::Array& items) {
    db_->insertArticles(items, category);
    db_->insertCategory(os::Dictionary{{"id", os::Value(category)}, {"name", os::Value("c")}, {"order", os::Value(category)},
                                       {"flag", os::Value(1)}});
    db_->updateCategory(category, os::Date::now().timeIntervalSinceReferenceDate());
  }
  // A category of mostly plain articles (text and pictures in their bodies), not the albums'.
  long long plainCategory(std::size_t index) const {
    std::size_t seen = 0;
    const auto& content = server_->service().content();
    for (const auto& c : content.categories()) {
      int plain = 0, albums = 0;
      for (const auto& a : content.articles()) {
        if (a.categoryId != c.id) continue;
        (a.type.empty() ? plain : albums) += 1;
      }
      if (plain > albums && seen++ == index) return c.id;
    }
    ADD_FAILURE() << "not enough plain categories";
    return 0;
  }

  bool start(std::vector<long long> categories) {
    helper_->setSelectedIDList(std::move(categories));
    return helper_->startOffline();
  }
  // Runs the main loop until the run is over and its categories have all left.
  bool waitEnd(double seconds = 60) {
    return newstest::runUntil([&] { return !helper_->isRunning() && helper_->pendingCategories() == 0; }, seconds);
  }

  std::vector<int> heard() const {
    std::lock_guard lock(mutex_);
    return heard_;
  }
  // Article ids of the detail requests the server answered, in order of arrival.
  std::vector<long long> detailsAsked() const {
    std::lock_guard lock(mutex_);
    std::vector<long long> ids;
    const std::string prefix = "opcode 1020 ";
    for (const auto& line : lines_) {
      if (!os::hasPrefix(line, prefix)) continue;
      JSONDecoder decoder;
      std::string json = line.substr(prefix.size());
      auto params = decoder.objectWithUTF8String(json.data(), json.size());
      if (params) ids.push_back((*params)["opdata"]["id"].intValue());
    }
    return ids;
  }
  int asked(long long opcode) const {
    std::lock_guard lock(mutex_);
    return countLocked("opcode " + std::to_string(opcode) + " ");
  }
  // How many detail requests the server had answered when each value was heard.
  std::vector<int> detailsAtHeard() const {
    std::lock_guard lock(mutex_);
    return detailsAtHeard_;
  }
  int countLocked(const std::string& prefix) const {
    int n = 0;
    for (const auto& line : lines_) n += os::hasPrefix(line, prefix);
    return n;
  }
  const newsd::Article* article(long long id) const { return server_->service().content().article(id); }

  os::VirtualClockScope clock_;
  newstest::RequestEnvironment env_;
  std::shared_ptr<VXNewsDBManager> db_;
  std::shared_ptr<VXGlobalDefine> state_;
  std::shared_ptr<VXOfflineHelper> helper_;
  std::shared_ptr<BNWebImageManager> images_ =
      BNWebImageManager::create(BNImageCache::initWithNamespace("offline"), BNWebImageDownloader::create());
  std::unique_ptr<newsd::NewsServer> server_;
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
  std::vector<int> heard_;
  std::vector<int> detailsAtHeard_;
  os::NotificationCenter::ObserverToken observer_ = 0;
};

}  // namespace offlinetest
