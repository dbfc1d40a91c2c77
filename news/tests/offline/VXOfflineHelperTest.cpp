// The offline download against the local news server: lists refreshed, every article kept as an
// offline file with its pictures cached, progress announced in order and ended once, failed
// articles skipped, and a cancel that ends the run at once without leaking into the next one.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <future>
#include <mutex>

#include "news/article/VXDetailXMLParseHelper.h"
#include "news/article/VXNewsDetailViewController.h"
#include "news/article/VXOfflineArticleStore.h"
#include "news/list/VXNewsTableView.h"
#include "news/tests/support/ReaderFixture.h"
#include "os/console/TouchDriver.h"
#include "os/views/Application.h"
#include "os/views/Window.h"

namespace newstest {
namespace {

using Fault = newsd::Fault;
using newsd::FailureMode;

// Values before the single closing -1 rise strictly; the -1 comes once, last.
void expectOrderedProgress(const std::vector<int>& heard) {
  ASSERT_FALSE(heard.empty());
  EXPECT_EQ(heard.back(), -1);
  EXPECT_EQ(std::count(heard.begin(), heard.end(), -1), 1);
  for (std::size_t i = 1; i + 1 < heard.size(); ++i) EXPECT_LT(heard[i - 1], heard[i]) << "at " << i;
  for (std::size_t i = 0; i + 1 < heard.size(); ++i) EXPECT_LE(heard[i], 100);
}

std::vector<std::string> pictureRows(const os::Dictionary& answer) {
  os::Array rows;
  VXDetailXMLParseHelper::share()->parseXML(answer["body"].stringOr(), rows);
  std::vector<std::string> urls;
  for (const auto& row : rows)
    if (row["type"].intValue() == 2) urls.push_back(row["content"].stringOr());
  return urls;
}

TEST_F(OfflineFixture, TwoStaleCategoriesAreKeptForReadingWithoutTheServer) {
  const long long a = plainCategory(0), b = plainCategory(1);
  ASSERT_TRUE(start({a, b}));
  ASSERT_TRUE(waitEnd());

  // Both lists were stale (never refreshed), so each was asked for once.
  EXPECT_EQ(server_->asked(1010), 2);
  EXPECT_EQ(heard_, (std::vector<int>{50, 100, -1}));
  EXPECT_TRUE(helper_->selectedIDList().empty());

  std::vector<long long> stored;
  std::string picture;
  for (long long category : {a, b}) {
    auto items = db_->getNewsIDWithDB(category);
    ASSERT_FALSE(items.empty());
    for (const auto& item : items) {
      const long long id = item["id"].intValue();
      stored.push_back(id);
      auto file = VXOfflineArticleStore::read(os::Value(category), os::Value(id));
      ASSERT_TRUE(file) << category << "_" << id;
      ASSERT_TRUE(article(id));
      EXPECT_EQ((*file)["title"].stringOr(), article(id)->title);
      if (picture.empty() && !pictureRows(*file).empty()) picture = pictureRows(*file).front();
      if (item.contains("icon1")) {
        EXPECT_TRUE(images_->cachedImageExistsForURL(*os::URL::parse(item["icon1"].stringOr())));
      }
    }
  }
  // One detail request per stored article, never repeated.
  auto asked = server_->asked(1020, "id");
  std::sort(asked.begin(), asked.end());
  std::sort(stored.begin(), stored.end());
  EXPECT_EQ(asked, stored);
  ASSERT_FALSE(picture.empty());
  EXPECT_TRUE(images_->cachedImageExistsForURL(*os::URL::parse(picture)));

  // With the server refusing every detail, the article screen still opens from its file.
  server_->setFault(1020, Fault{FailureMode::HttpError, 0});
  auto window = std::make_shared<os::Window>();
  window->makeKeyAndVisible();
  auto screen = VXNewsDetailViewController::initWitInfo(os::Dictionary{{"id", os::Value(stored.front())},
                                                                       {"category", os::Value(a)}},
                                                        VXReaderContext::current());
  window->setRootViewController(screen);
  window->layoutIfNeeded();
  os::RunLoop::main()->runUntilIdle();
  EXPECT_NE(screen->tableViewState(), VXNewsDetailViewController::kStateError);
  EXPECT_GT(screen->listData().size(), 1u);
  EXPECT_EQ(server_->asked(1020, "id").size(), stored.size());
  newstest::runUntil([&] { return !images_->isRunning(); }, 20);
  window->setHidden(true);
  window->setRootViewController(nullptr);
}

TEST_F(OfflineFixture, AStaleCategoryHoldingArticlesAsksFromItsNewestStoredOne) {
  const long long a = plainCategory(0);
  auto ids = storeFresh(a, 3);
  ASSERT_EQ(ids.size(), 3u);
  db_->updateCategory(a, 0);  // refreshed long ago
  ASSERT_EQ(db_->createNewsListWithDB(a).front()->ID(), ids.front());
  ASSERT_TRUE(start({a}));
  ASSERT_TRUE(waitEnd());

  EXPECT_EQ(server_->asked(1010, "id"), (std::vector<long long>{a}));
  EXPECT_EQ(server_->asked(1010, "upid"), (std::vector<long long>{ids.front()}));
  EXPECT_EQ(server_->asked(1010, "uptime"), (std::vector<long long>{-1}));
  EXPECT_EQ(server_->asked(1010, "count"), (std::vector<long long>{20}));
  // The answer replaced the stored list, and each of its articles was fetched for reading.
  auto stored = db_->getNewsIDWithDB(a);
  EXPECT_GT(stored.size(), ids.size());
  EXPECT_EQ(server_->asked(1020), static_cast<int>(stored.size()));
}

TEST_F(OfflineFixture, ProgressCreepsOnTheClockAndStopsShortOfEachShare) {
  // Each category holds one article with one picture. The first category is kept open by its
  // picture, held on the server until the clock has moved 100 s; a picture download has no
  // time limit here, so only the clock (never the machine's speed) ends the hold. A held detail
  // request would not do: its 5-second limit runs on real time.
  images_->imageDownloader()->setDownloadTimeout(1e6);
  auto withPictures = [&](long long category) {
    auto& articles = server_->service().content().articles();
    auto found = std::ranges::find_if(articles, [&](const newsd::Article& a) {
      return a.categoryId == category && a.type.empty() && a.pictures().size() == 1 &&
             static_cast<double>(a.publishTime) <= os::Clock::now();
    });
    EXPECT_NE(found, articles.end());
    storeFresh(category, os::Array{os::Value(os::Dictionary{{"id", found->id}, {"title", found->title}})});
  };
  const long long a = plainCategory(0), b = plainCategory(1);
  withPictures(a);
  withPictures(b);
  server_->setFault(newsd::FaultTarget::pictures(), Fault{FailureMode::None, 100});
  ASSERT_TRUE(start({a, b}));
  // The picture's download starts from the main loop, so the loop runs while the test waits.
  ASSERT_TRUE(runUntil([&] { return server_->heldRequests() == 1; }));
  server_->clearFaults();

  os::TouchDriver::advance(30);
  std::vector<int> creeping;
  for (int i = 0; i <= 49; ++i) creeping.push_back(i);
  EXPECT_EQ(heard_, creeping);
  EXPECT_EQ(helper_->percent(), 49);

  os::TouchDriver::advance(71);
  ASSERT_TRUE(waitEnd());
  auto all = heard_;
  expectOrderedProgress(all);
  ASSERT_GE(all.size(), 52u);
  EXPECT_EQ(all[50], 50);
  EXPECT_EQ(all[all.size() - 2], 100);
  EXPECT_EQ(helper_->percent(), -1);
}

TEST_F(OfflineFixture, AFailedArticleIsSkippedAndTheRunGoesOn) {
  const long long a = plainCategory(0), b = plainCategory(1);
  auto inA = storeFresh(a, 3);
  auto inB = storeFresh(b, 2);
  // Only the first detail request meets the failure: it is held until the fault is cleared.
  server_->setFault(1020, Fault{FailureMode::ErrorCode, 1});
  ASSERT_TRUE(start({a, b}));
  ASSERT_TRUE(server_->awaitHeldRequests(1));
  server_->clearFaults();
  os::TouchDriver::advance(2);
  ASSERT_TRUE(waitEnd());

  EXPECT_FALSE(VXOfflineArticleStore::read(os::Value(a), os::Value(inA[0])));
  EXPECT_TRUE(VXOfflineArticleStore::read(os::Value(a), os::Value(inA[1])));
  EXPECT_TRUE(VXOfflineArticleStore::read(os::Value(a), os::Value(inA[2])));
  for (long long id : inB) EXPECT_TRUE(VXOfflineArticleStore::read(os::Value(b), os::Value(id)));
  EXPECT_EQ(server_->asked(1020, "id"), (std::vector<long long>{inA[1], inA[2], inB[0], inB[1]}));
  EXPECT_EQ(server_->asked(1010), 0);  // both lists were fresh
  auto all = heard_;
  expectOrderedProgress(all);
  EXPECT_EQ(all[all.size() - 2], 100);
  // The end says that the run was not whole.
  ASSERT_TRUE(helper_->lastOutcome());
  EXPECT_EQ(helper_->lastOutcome()->saved, 4);
  EXPECT_EQ(helper_->lastOutcome()->failed, 1);
  EXPECT_EQ(VXOfflineHelper::outcomeText(*helper_->lastOutcome()), "离线下载完成，部分文章未能下载");
}

TEST_F(OfflineFixture, ARunWithTheServerDownEndsAsAFailureNotACompletion) {
  const long long a = plainCategory(0), b = plainCategory(1);
  storeFresh(a, 2);
  db_->updateCategory(a, 0);            // stale: its list is asked for
  storeFresh(b, os::Array{});           // stale and empty: only its list could bring articles
  db_->updateCategory(b, 0);
  VXRequestConfig::setServerRoot("http://127.0.0.1:" + std::to_string(os::testing::HttpTestServer::refusedPort()));
  ASSERT_TRUE(start({a, b}));
  ASSERT_TRUE(waitEnd());
  EXPECT_EQ(heard_, (std::vector<int>{50, 100, -1}));
  ASSERT_TRUE(helper_->lastOutcome());
  EXPECT_FALSE(helper_->lastOutcome()->cancelled);
  EXPECT_EQ(helper_->lastOutcome()->saved, 0);
  EXPECT_EQ(helper_->lastOutcome()->failed, 4);  // two lists, two articles
  EXPECT_EQ(VXOfflineHelper::outcomeText(*helper_->lastOutcome()), "离线下载失败");

  // The server back, the next run is whole.
  VXRequestConfig::setServerRoot(server_->base());
  ASSERT_TRUE(start({a}));
  ASSERT_TRUE(waitEnd());
  ASSERT_TRUE(helper_->lastOutcome());
  EXPECT_EQ(helper_->lastOutcome()->failed, 0);
  EXPECT_GT(helper_->lastOutcome()->saved, 0);
  EXPECT_EQ(VXOfflineHelper::outcomeText(*helper_->lastOutcome()), "离线下载完成");
}

TEST_F(OfflineFixture, ExistingFilesAreReplacedOnlyByRealArticles) {
  const long long a = plainCategory(0);
  auto ids = storeFresh(a, 1);
  const long long unknown = 990001;  // the server answers "result" 2 for it
  os::Array more;
  more.push_back(os::Value(os::Dictionary{{"id", os::Value(unknown)}, {"title", os::Value("gone")}}));
  storeFresh(a, more);
  ASSERT_TRUE(VXOfflineArticleStore::saveWithInfo(os::Dictionary{{"result", 1}, {"title", "kept"}}, os::Value(a),
                                                  os::Value(unknown)));
  ASSERT_TRUE(VXOfflineArticleStore::saveWithInfo(os::Dictionary{{"result", 1}, {"title", "old"}}, os::Value(a),
                                                  os::Value(ids[0])));
  ASSERT_TRUE(start({a}));
  ASSERT_TRUE(waitEnd());

  EXPECT_EQ((*VXOfflineArticleStore::read(os::Value(a), os::Value(unknown)))["title"].stringOr(), "kept");
  EXPECT_EQ((*VXOfflineArticleStore::read(os::Value(a), os::Value(ids[0])))["title"].stringOr(), article(ids[0])->title);
  EXPECT_EQ(server_->asked(1020, "id").size(), 2u);
}

TEST_F(OfflineFixture, AListAnswerWithoutItsListKeepsTheStoredOne) {
  const long long a = plainCategory(0);
  auto ids = storeFresh(a, 2);
  db_->updateCategory(a, 0);  // stale again
  newstest::ScriptedNewsServer canned;  // takes over the server address
  canned.queue(newstest::envelope(os::Dictionary{{"result", 1}}));
  canned.setFallback(newstest::envelope(os::Dictionary{{"result", 2}}));
  ASSERT_TRUE(start({a}));
  ASSERT_TRUE(waitEnd());
  EXPECT_EQ(canned.requestCount(), 3u);  // the list, then both stored articles
  auto items = db_->getNewsIDWithDB(a);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0]["id"].intValue() + items[1]["id"].intValue(), ids[0] + ids[1]);
}

// A list the database refuses to store (a full disk) leaves the category's stored list as it
// was, so its articles are still fetched for reading offline.
TEST_F(OfflineFixture, AListTheDatabaseRefusesKeepsTheStoredOne) {
  const long long a = plainCategory(0);
  auto ids = storeFresh(a, 2);
  db_->updateCategory(a, 0);  // stale again
  refuseNewArticleRows(*db_, true);
  ASSERT_TRUE(start({a}));
  ASSERT_TRUE(waitEnd());
  refuseNewArticleRows(*db_, false);
  EXPECT_EQ(server_->asked(1010), 1);
  auto items = db_->getNewsIDWithDB(a);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0]["id"].intValue() + items[1]["id"].intValue(), ids[0] + ids[1]);
  for (long long id : ids) EXPECT_TRUE(VXOfflineArticleStore::read(os::Value(a), os::Value(id))) << id;
}

// A list the database refuses is a list not brought up to date: the end says the run was not
// whole, as for a list the server did not give, though every stored article was kept.
TEST_F(OfflineFixture, AListTheDatabaseRefusesEndsTheRunAsNotWhole) {
  const long long a = plainCategory(0);
  storeFresh(a, 2);
  db_->updateCategory(a, 0);  // stale again
  refuseNewArticleRows(*db_, true);
  ASSERT_TRUE(start({a}));
  ASSERT_TRUE(waitEnd());
  refuseNewArticleRows(*db_, false);
  EXPECT_EQ(db_->lastUpdateWithCategory(a), 0);
  ASSERT_TRUE(helper_->lastOutcome());
  EXPECT_EQ(helper_->lastOutcome()->saved, 2);
  EXPECT_EQ(helper_->lastOutcome()->failed, 1);
  EXPECT_EQ(VXOfflineHelper::outcomeText(*helper_->lastOutcome()), "离线下载完成，部分文章未能下载");
}

TEST_F(OfflineFixture, CancelEndsTheRunAtOnceAndItsTailStaysOutOfTheNextRun) {
  const long long a = plainCategory(0), b = plainCategory(1);
  auto inA = storeFresh(a, 3);
  auto inB = storeFresh(b, 2);
  auto app = os::Application::create(nullptr, "com.example.reader");
  app->makeShared();
  server_->setFault(1020, Fault{FailureMode::None, 5});
  ASSERT_TRUE(start({a, b}));
  EXPECT_TRUE(app->isIdleTimerDisabled());  // the screen stays lit while the run goes
  ASSERT_TRUE(server_->awaitHeldRequests(1));
  server_->clearFaults();

  helper_->killThread();
  EXPECT_FALSE(app->isIdleTimerDisabled());
  EXPECT_EQ(heard_, std::vector<int>{-1});
  ASSERT_TRUE(helper_->lastOutcome());
  EXPECT_EQ(VXOfflineHelper::outcomeText(*helper_->lastOutcome()), "离线下载已取消");
  EXPECT_FALSE(helper_->isRunning());
  EXPECT_EQ(helper_->pendingCategories(), 1);  // the held article is still on its way

  // A new run at once: its category waits for the cancelled one's article.
  ASSERT_TRUE(start({b}));
  os::TouchDriver::advance(6);
  ASSERT_TRUE(waitEnd());

  // The cancelled category stopped after the article it had asked for; its other articles and
  // its second category were never asked.
  EXPECT_EQ(server_->asked(1020, "id"), (std::vector<long long>{inA[0], inB[0], inB[1]}));
  EXPECT_TRUE(VXOfflineArticleStore::read(os::Value(a), os::Value(inA[0])));
  EXPECT_FALSE(VXOfflineArticleStore::read(os::Value(a), os::Value(inA[1])));

  auto all = heard_;
  ASSERT_GE(all.size(), 3u);
  EXPECT_EQ(all.front(), -1);
  std::vector<int> second(all.begin() + 1, all.end());
  expectOrderedProgress(second);
  EXPECT_EQ(second[second.size() - 2], 100);
  // The second run ended only after its own category's articles.
  EXPECT_EQ(detailsAtHeard_.back(), 3);
  for (long long id : inB) EXPECT_TRUE(VXOfflineArticleStore::read(os::Value(b), os::Value(id)));
  EXPECT_FALSE(app->isIdleTimerDisabled());
}

// The caches cleared right after a cancel, while the cancelled category's article is still on
// its way: the article arriving afterwards is not put back. A run started after the clearing keeps
// its articles again.
TEST_F(OfflineFixture, CachesClearedAfterACancelStayClearedOfTheArticleStillOnItsWay) {
  const long long a = plainCategory(0);
  auto inA = storeFresh(a, 2);
  auto& context = *VXReaderContext::current();
  server_->setFault(1020, Fault{FailureMode::None, 5});
  ASSERT_TRUE(start({a}));
  ASSERT_TRUE(server_->awaitHeldRequests(1));
  server_->clearFaults();
  helper_->killThread();
  ASSERT_TRUE(VXOfflineArticleStore::removeAll(context));

  os::TouchDriver::advance(6);
  ASSERT_TRUE(waitEnd());
  EXPECT_EQ(server_->asked(1020), 1);
  EXPECT_FALSE(VXOfflineArticleStore::read(os::Value(a), os::Value(inA[0])));
  EXPECT_EQ(os::FileManager::defaultManager().contentsOfDirectoryAtPath(VXGlobalHelper::offlineDirectory()),
            std::vector<std::string>{});

  ASSERT_TRUE(start({a}));
  ASSERT_TRUE(waitEnd());
  for (long long id : inA) EXPECT_TRUE(VXOfflineArticleStore::read(os::Value(a), os::Value(id)));
}

TEST_F(OfflineFixture, RunsStartOnlyWithAChoiceAndOneAtATime) {
  EXPECT_FALSE(start({}));
  EXPECT_FALSE(helper_->isRunning());

  const long long a = plainCategory(0);
  storeFresh(a, os::Array{});  // fresh and empty: nothing to fetch
  ASSERT_TRUE(start({a}));
  EXPECT_FALSE(helper_->startOffline());
  ASSERT_TRUE(waitEnd());
  EXPECT_EQ(heard_, (std::vector<int>{100, -1}));
  EXPECT_EQ(server_->asked(1010) + server_->asked(1020), 0);

  // The next run starts its first category at once, with a gate of its own.
  storeFresh(a, 1);
  ASSERT_TRUE(start({a}));
  ASSERT_TRUE(waitEnd());
  EXPECT_EQ(server_->asked(1020), 1);
  EXPECT_EQ(heard_, (std::vector<int>{100, -1, 100, -1}));
}

// A news server on loopback answering requests in turn with the answers the test gives it, each
// at once or, held, only once the test lets it go; "result" 2 once none is left. Held answers
// still waiting go when it ends.
class TurnServer {
 public:
  TurnServer() {
    server_.route("POST", "/api/imobile/", [state = state_](const os::testing::RecordedRequest&) {
      std::pair<std::string, std::shared_future<void>> next{envelope(os::Dictionary{{"result", 2}}), {}};
      {
        std::lock_guard lock(state->mutex);
        if (!state->answers.empty()) {
          next = state->answers.front();
          state->answers.pop_front();
        }
      }
      if (next.second.valid()) next.second.wait_for(std::chrono::seconds(60));
      return os::testing::CannedResponse::json(next.first);
    });
  }
  ~TurnServer() {
    for (auto& gate : gates_) release(gate);
  }
  // The next request's answer, at once.
  void give(std::string answer) { push(std::move(answer), {}); }
  // The same held until release() with the index this answers.
  std::size_t hold(std::string answer) {
    auto gate = std::make_shared<std::promise<void>>();
    push(std::move(answer), gate->get_future().share());
    gates_.push_back(std::move(gate));
    return gates_.size() - 1;
  }
  void release(std::size_t held) { release(gates_.at(held)); }
  std::size_t requests() const { return server_.requestCount(); }

 private:
  struct State {
    std::mutex mutex;
    std::deque<std::pair<std::string, std::shared_future<void>>> answers;
  };
  void push(std::string answer, std::shared_future<void> opened) {
    std::lock_guard lock(state_->mutex);
    state_->answers.emplace_back(std::move(answer), std::move(opened));
  }
  static void release(const std::shared_ptr<std::promise<void>>& gate) {
    try {
      gate->set_value();
    } catch (const std::future_error&) {  // let go already
    }
  }
  std::shared_ptr<State> state_ = std::make_shared<State>();
  std::vector<std::shared_ptr<std::promise<void>>> gates_;
  ScriptedNewsServer server_;  // takes over the server address
};

// The download beside the reader's list of the same category on the screen: the list's own
// refreshes, answered while the download's list answer is on its way, are never wiped by it.
class OfflineBesideListTest : public OfflineFixture {
 protected:
  static constexpr long long kCategory = 5;
  OfflineBesideListTest() : OfflineFixture(false, Screen::Window) {}
  void TearDown() override {
    if (list_) {
      waitIdle(*list_);
      list_->removeFromSuperview();
      list_.reset();
    }
    OfflineFixture::TearDown();
  }

  static long long now1970() { return static_cast<long long>(os::Date::now().timeIntervalSince1970()); }
  // The list of the category, shown with its stored rows (`fresh`: nothing asked).
  VXNewsTableView& showList(bool fresh) {
    if (!fresh) db_->updateCategory(kCategory, 0);
    list_ = VXNewsTableView::create(os::Rect{0, 0, 320, 460}, kCategory, VXReaderContext::current());
    window_->addSubview(list_);
    os::TouchDriver::settle();
    list_->load();
    return *list_;
  }
  std::vector<long long> listed() const { return collect(list_->dataList(), [](auto& n) { return n->ID(); }); }
  std::vector<long long> stored() { return collect(db_->createNewsListWithDB(kCategory), [](auto& n) { return n->ID(); }); }
  // Starts the download of the category, stale by then, and waits until its list request is out.
  void startDownload(TurnServer& news) {
    db_->updateCategory(kCategory, 0);
    const std::size_t before = news.requests();
    ASSERT_TRUE(start({kCategory}));
    ASSERT_TRUE(runUntil([&] { return news.requests() == before + 1; }));
  }

  std::shared_ptr<VXNewsTableView> list_;
};

// The reader cancels a download whose list answer is slow, goes back to the list and pulls: the
// cancelled download's answer, asked for before the pull, arrives after it and stores nothing.
TEST_F(OfflineBesideListTest, APullAfterACancelKeepsItsRowsFromTheCancelledDownloadsLateList) {
  const long long t = now1970();
  storeFresh(kCategory, os::Array{os::Value(item(2, t - 500)), os::Value(item(1, t - 900))});
  TurnServer news;
  showList(true);
  const auto late = news.hold(listAnswer(os::Array{item(3, t - 300), item(2, t - 500), item(1, t - 900)}, 2));
  startDownload(news);
  helper_->killThread();

  news.give(listAnswer(os::Array{item(4, t - 100), item(3, t - 300)}, 2));
  os::TouchDriver::dragScrollView(*list_->tableView(), os::Point{0, 200});
  waitIdle(*list_);
  ASSERT_EQ(listed(), (std::vector<long long>{4, 3, 2, 1}));

  news.release(late);
  ASSERT_TRUE(runUntil([&] { return helper_->pendingCategories() == 0; }));
  EXPECT_EQ(stored(), (std::vector<long long>{4, 3, 2, 1}));
}

// A forced refresh of the list already out when the download starts, answered while the
// download's list is on its way: the list's rows stay, on the screen and in the database.
TEST_F(OfflineBesideListTest, AForcedRefreshAnsweredDuringTheDownloadKeepsItsRows) {
  const long long t = now1970();
  storeFresh(kCategory, os::Array{os::Value(item(2, t - 500)), os::Value(item(1, t - 900))});
  TurnServer news;
  const auto refresh = news.hold(listAnswer(os::Array{item(5, t - 50), item(4, t - 100)}, 2));
  showList(false);
  ASSERT_TRUE(runUntil([&] { return news.requests() == 1; }));
  const auto download = news.hold(listAnswer(os::Array{item(3, t - 300), item(2, t - 500)}, 2));
  startDownload(news);

  news.release(refresh);
  waitIdle(*list_);
  ASSERT_EQ(listed(), (std::vector<long long>{5, 4}));
  news.release(download);
  ASSERT_TRUE(waitEnd());
  EXPECT_EQ(stored(), (std::vector<long long>{5, 4}));
  // The download then fetched the articles of the list the reader has.
  EXPECT_EQ(news.requests(), 4u);
}

// A next page the reader reached for before the download started, stored while the download's
// list is on its way, stays below the rows it followed.
TEST_F(OfflineBesideListTest, ANextPageAnsweredDuringTheDownloadStaysStored) {
  const long long t = now1970();
  os::Array page;
  for (long long id = 40; id > 20; --id) page.push_back(os::Value(item(id, t - (50 - id) * 60)));
  storeFresh(kCategory, page);
  TurnServer news;
  auto& table = *showList(true).tableView();
  const auto next = news.hold(listAnswer(os::Array{item(20, t - 4000), item(19, t - 4100)}, 2));
  scrollToEnd(table);
  list_->loadMore(table);
  ASSERT_TRUE(runUntil([&] { return news.requests() == 1; }));
  const auto download = news.hold(listAnswer(os::Array{item(41, t - 60), item(40, t - 600)}, 2));
  startDownload(news);

  news.release(next);
  waitIdle(*list_);
  ASSERT_EQ(list_->dataList().back()->ID(), 19);
  news.release(download);
  ASSERT_TRUE(waitEnd());
  auto rows = stored();
  ASSERT_EQ(rows.size(), 22u);
  EXPECT_EQ(rows.front(), 40);
  EXPECT_EQ(rows.back(), 19);
}

// A store of the category before the download asked, or of another category meanwhile, leaves the
// download's list to replace the stored one.
TEST_F(OfflineBesideListTest, StoresBeforeTheAskOrOfAnotherCategoryLeaveTheDownloadsListToReplace) {
  const long long t = now1970();
  storeFresh(kCategory, os::Array{os::Value(item(2, t - 500)), os::Value(item(1, t - 900))});
  TurnServer news;
  const auto download = news.hold(listAnswer(os::Array{item(3, t - 300), item(2, t - 500)}, 2));
  startDownload(news);
  ASSERT_FALSE(db_->insertArticles(os::Array{os::Value(item(9, t - 10))}, kCategory + 1).empty());
  news.release(download);
  ASSERT_TRUE(waitEnd());
  EXPECT_EQ(stored(), (std::vector<long long>{3, 2}));
}

}  // namespace
}  // namespace newstest
