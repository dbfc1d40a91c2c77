#pragma once
// The news client's test fixture: a phone sandbox and a fresh reader context per test, so nothing
// shared needs resetting, plus what the test's screens need (see Needs).
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <ranges>
#include <string>
#include <vector>

#include "foundation/ServiceCallLog.h"
#include "foundation/sqlite/SQDatabase.h"
#include "news/album/VXImageViewer.h"
#include "news/api/NQBaseRequest.h"
#include "news/api/VXGlobalHelper.h"
#include "news/api/VXReaderContext.h"
#include "news/api/VXRequestConfig.h"
#include "news/article/VXNewsDetailViewController.h"
#include "news/article/VXOfflineArticleStore.h"
#include "news/home/VXGlobalHelperArticles.h"
#include "news/list/NQBaseTableViewController.h"
#include "news/list/VXNewsTableView.h"
#include "news/offline/VXOfflineHelper.h"
#include "news/settings/VXSettingCell.h"
#include "news/settings/VXSettingViewController.h"
#include "news/shell/NQBaseViewController.h"
#include "news/shell/NQSideViewController.h"
#include "news/shell/VXCustomNavController.h"
#include "news/store/VXGlobalDefine.h"
#include "news/store/VXNewsDBManager.h"
#include "os/console/TouchDriver.h"
#include "os/core/Date.h"
#include "os/core/URL.h"
#include "os/runtime/Clock.h"
#include "os/runtime/NotificationCenter.h"
#include "os/runtime/RunLoop.h"
#include "os/runtime/Thread.h"
#include "os/store/FileManager.h"
#include "os/store/UserDefaults.h"
#include "os/testing/Collect.h"
#include "os/testing/FakeReachabilityProvider.h"
#include "os/testing/HttpTestServer.h"
#include "os/testing/NotificationCounter.h"
#include "os/views/StoreProductViewController.h"
#include "os/testing/ScreenHelpers.h"
#include "os/testing/TestSandbox.h"
#include "os/testing/Waits.h"
#include "os/views/Application.h"
#include "os/views/Device.h"
#include "os/views/Label.h"
#include "os/views/Switch.h"
#include "os/views/PhotoAlbum.h"
#include "os/views/Window.h"
#include "tools/newsd/server/NewsServer.h"
#include "tools/newsd/server/SampleContent.h"
#include "tools/newsd/server/Wire.h"
#include "ui/images/BNImageCache.h"
#include "ui/images/BNWebImageDownloader.h"
#include "ui/images/BNWebImageManager.h"
#include "ui/images/ViewWebCacheOperation.h"
#include "ui/widgets/KHProgressHUD.h"
#include "ui/widgets/PageFlowView.h"

namespace newstest {

inline os::DeviceProfile phoneProfile() {
  return {.machine = "iPhone5,2", .systemVersion = "6.1.3",
          .advertisingIdentifier = "6D1A8F0E-3C1B-4E6A-9B1C-2A3B4C5D6E7F", .macAddress = "0A:1B:2C:3D:4E:5F"};
}

// The window-tree suites' phone: system 7.0 on a 320 x 568 screen at scale 1 (small snapshots).
inline os::DeviceProfile screenPhone() { return {.systemVersion = "7.0", .screenScale = 1}; }

// A sandbox whose bundle carries both version strings, on a phone (by default one that is not
// jailbroken), with a fresh reader context holding the reader's routes, current while it lives.
class RequestEnvironment {
 public:
  explicit RequestEnvironment(const os::DeviceProfile& device = phoneProfile()) : device_(device) {
    sandbox_.setInfoDictionary(os::Dictionary{{"CFBundleIdentifier", "com.example.newsreader"},
                                              {"CFBundleVersion", "27"},
                                              {"CFBundleShortVersionString", "2.3"}});
    VXGlobalHelperArticles::installRoutes(*context_);
    previous_ = VXReaderContext::setCurrent(context_);
  }
  ~RequestEnvironment() { VXReaderContext::setCurrent(previous_); }
  os::TestSandbox& sandbox() { return sandbox_; }
  VXReaderContext& context() { return *context_; }

 private:
  os::TestSandbox sandbox_;
  os::DeviceProfileScope device_;
  std::shared_ptr<VXReaderContext> context_ = std::make_shared<VXReaderContext>();
  std::shared_ptr<VXReaderContext> previous_;
};

// The first of the sample items that `pick` takes (a failure when none).
template <class Items, class Pick>
const auto& first(const Items& items, Pick pick) {
  auto it = std::find_if(items.begin(), items.end(), pick);
  EXPECT_TRUE(it != items.end()) << "no such item in the sample content";
  return it != items.end() ? *it : items.front();
}

using os::testing::collect;
using os::testing::runUntil;

// The local news server on loopback, keeping every form it accepts, with both APIs of the current
// context pointed at it.
class LocalNewsServer : public newsd::NewsServer {
 public:
  explicit LocalNewsServer(std::uint64_t seed = 7, newsd::ServiceOptions service = {})
      : newsd::NewsServer({.seed = seed, .service = std::move(service), .faults = {}}) {
    this->service().setKeepsForms(true);
    EXPECT_TRUE(start());
    VXRequestConfig::setServerRoot(base());
  }

  int asked(long long opcode) { return static_cast<int>(service().forms(opcode).size()); }
  // A number of the "opdata" of every form of the operation, in order (-1 for one without).
  std::vector<long long> asked(long long opcode, const char* key) {
    return collect(service().forms(opcode), [&](const os::Value& p) {
      return p["opdata"][key].isNumber() ? p["opdata"][key].intValue() : -1;
    });
  }
  const newsd::Article& article(const std::function<bool(const newsd::Article&)>& pick) {
    return first(service().content().articles(), pick);
  }
};

enum class State { None, Fresh, Timed };  // Timed: fresh application state with its ad refresh
enum class Screen { None, Window, Root, Nav };  // a key window: bare, with root_, with a stack over root_

// What a test's screens need; the fixture makes them before the test, in this order.
struct Needs {
  bool realClock = false;  // exchanges run as they would on the phone
  os::DeviceProfile device = phoneProfile();
  bool wifi = false;    // the local Wi-Fi is up
  bool online = false;  // every host is reachable (over Wi-Fi)
  State state = State::None;
  std::string images{};  // an image manager of the test's own, on this cache, which the screens read
  bool app = false;    // the shared application, noting what it was asked to open
  std::optional<std::uint64_t> server{};  // the local news server with the sample content of this seed
  Screen screen = Screen::None;
};

// The one fixture: a test asks for the pieces its screens need.
class ReaderFixture : public ::testing::Test {
 protected:
  using Network = os::testing::FakeReachabilityProvider;

  explicit ReaderFixture(Needs needs = {}) : needs_(std::move(needs)), env_(needs_.device) {
    if (!needs_.realClock) clock_.emplace();
    NQSideViewController::setShared(side_);
    os::View::clearAnimationLog();
    ServiceCallLog::reset();
  }
  void SetUp() override {
    if (needs_.wifi) network().setFlags(Network::kLocalWiFi, Network::kWiFi);
    if (needs_.online) network().setDefaultFlags(Network::kWiFi);
    if (needs_.state != State::None) useState(needs_.state == State::Timed);
    if (!needs_.images.empty()) useImages(needs_.images);
    if (needs_.app) (app_ = os::Application::create(nullptr))->makeShared();
    if (needs_.server) startServer(*needs_.server);
    if (needs_.screen == Screen::None) return;
    showWindow();
    if (needs_.screen == Screen::Root) window_->setRootViewController(root_);
    if (needs_.screen == Screen::Nav)
      window_->setRootViewController(nav_ = std::make_shared<VXCustomNavController>(root_, VXReaderContext::current()));
    os::TouchDriver::settle();
  }
  void TearDown() override {
    os::testing::dismissVisibleAlerts(0);
    EXPECT_TRUE(VXOfflineArticleStore::waitForBackgroundSaves(20));
    // Requests and picture loads on their way (held ones let go) end before the server and sandbox.
    if (server_) server_->clearFaults();
    if (images_) runUntil([&] { return !images_->isRunning(); }, 20);
    if (clock_) os::TouchDriver::advance(2);
    os::testing::hideKeyWindow(window_);
    nav_.reset();
    os::RunLoop::main()->runUntilIdle();
    if (server_) server_->stop();
    if (images_) BNSetViewLoadingManager(nullptr);
  }

  void startServer(std::uint64_t seed = 7, newsd::ServiceOptions service = {}) {
    server_ = std::make_unique<LocalNewsServer>(seed, std::move(service));
  }
  // Fresh application-wide state, shared; `withTimer` starts its ad refresh.
  std::shared_ptr<VXGlobalDefine> useState(bool withTimer = false) {
    VXGlobalDefine::setShared(state_ = withTimer ? VXGlobalDefine::create() : std::make_shared<VXGlobalDefine>());
    return state_;
  }
  // An image manager of the test's own, loading every image view's picture into the cache the
  // screens read, as in the reader.
  void useImages(const std::string& cache) {
    env_.context().imageCache.set(BNImageCache::initWithNamespace(cache));
    BNSetViewLoadingManager(images_ = BNWebImageManager::create(env_.context().images(), BNWebImageDownloader::create()));
  }
  // The device's store service: the local server's product pages.
  void useStore() {
    os::DeviceProfile profile = os::Device::current().profile();
    profile.storeURL = server_->base();
    os::Device::current().setProfile(profile);
  }
  // The store sheet shown over the window's screens, or null.
  std::shared_ptr<os::StoreProductViewController> storeSheet() const {
    auto root = window_ ? window_->rootViewController() : nullptr;
    return root ? std::dynamic_pointer_cast<os::StoreProductViewController>(root->presentedViewController()) : nullptr;
  }
  void showWindow() {
    window_ = os::testing::showKeyWindow();
    window_->setBackgroundColor(os::Color::white());
  }
  // The side menu on a key window, `centre` in the middle and `left` beneath.
  void showSide(std::shared_ptr<os::ViewController> centre, std::shared_ptr<os::ViewController> left) {
    if (!window_) showWindow();
    side_->setRootViewController(std::move(centre));
    side_->setLeftViewController(std::move(left));
    window_->setRootViewController(side_);
    os::TouchDriver::settle();
  }
  // Pushes a screen on the navigation stack and lets it settle, a list until it has its answer.
  template <class Screen>
  std::shared_ptr<Screen> push(std::shared_ptr<Screen> screen) {
    nav_->pushViewController(screen, false);
    os::TouchDriver::settle();
    if constexpr (requires { loading(*screen); }) waitIdle(*screen);
    return screen;
  }
  double centreX() const { return side_->rootViewController()->view()->frame().origin.x; }
  std::size_t depth() const { return nav_->viewControllers().size(); }
  static double lastAnimationDuration() { return os::View::animationLog().back().duration; }
  std::vector<std::string> opened() const {
    return collect<std::string>(app_->openedURLs(), [](const os::URL& url) { return url.absoluteString(); });
  }
  // The phone's network, played by a fake reachability provider.
  Network& network() {
    if (!reachability_) reachability_.emplace();
    return **reachability_;
  }

  static std::shared_ptr<os::UserDefaults> defaults() { return os::UserDefaults::standardUserDefaults(); }

  // Runs a request to its end (a failed exchange too): its "data", or nothing; and whether it failed.
  static std::optional<os::Dictionary> load(NQBaseRequest& request, bool* failed = nullptr) {
    bool done = false, failure = false;
    std::optional<os::Dictionary> data;
    auto completed = [&](const std::optional<os::Dictionary>& d) {
      data = d;
      done = true;
    };
    VXGlobalHelper::loadWithRequest(request, 0, completed, [&] { failure = done = true; });
    EXPECT_TRUE(runUntil([&] { return done; })) << request.className();
    if (failed) *failed = failure;
    return data;
  }
  // Waits until a list has its answer and its rows have settled.
  static bool loading(NQBaseTableViewController& list) { return list.tableViewState() == NQTableViewStateLoading; }
  static bool loading(VXNewsTableView& list) { return list.requestState() == VXNewsRequestLoading; }
  template <class List>
  static void waitIdle(List& list) {
    ASSERT_TRUE(runUntil([&] { return !loading(list); }));
    os::TouchDriver::settle();
  }
  static long rows(os::TableView& table) { return table.dataSource()->numberOfRowsInSection(table, 0); }
  // Moves a table so that its bottom edge is `gap` points above the end of its content.
  static void scrollToEnd(os::TableView& table, double gap = 0) {
    table.setContentOffset(os::Point{0, std::max(0.0, table.contentSize().height - table.frame().size.height - gap)});
  }

  // The load-more row in view: whether its spinner turns, and what it says.
  struct LoadMoreRow {
    bool turning = false;
    std::string text;
    bool operator==(const LoadMoreRow&) const = default;
  };
  static std::optional<LoadMoreRow> loadMoreRow(os::TableView& table) {
    table.layoutIfNeeded();
    for (const auto& cell : table.visibleCells()) {
      if (!cell || cell->reuseIdentifier() != kLoadMoreCellIdentifier) continue;
      LoadMoreRow row;
      for (const auto& sub : cell->contentView()->subviews()) {
        if (auto spinner = std::dynamic_pointer_cast<os::ActivityIndicatorView>(sub))
          row.turning = spinner->isAnimating() && !spinner->isHidden();
        if (auto label = std::dynamic_pointer_cast<os::Label>(sub)) row.text = label->text();
      }
      return row;
    }
    return std::nullopt;
  }

  // What a HUD says while it shows: a view's own (nothing when hidden), or the shared one ("").
  static std::optional<std::string> shownText(const std::shared_ptr<KHProgressHUD>& hud) {
    if (!hud || !hud->superviewPtr() || hud->isHidden() || hud->alpha() < 0.5) return std::nullopt;
    return hud->detailsLabelText().value_or(hud->labelText().value_or(""));
  }
  static std::optional<std::string> hudText(os::View& view) { return shownText(KHProgressHUD::HUDForView(view)); }
  static std::string hudText() { return shownText(VXGlobalHelper::share().hud()).value_or(""); }
  bool waitHud(os::View& view, const std::string& text) { return runUntil([&] { return hudText(view) == text; }); }
  bool waitHud(const std::string& text) { return runUntil([&] { return hudText() == text; }); }

  // The screens' calls into the service clients, which the start-up, share and settings tests read.
  ServiceCallLog::Recording serviceCalls_;
  Needs needs_;
  std::optional<os::VirtualClockScope> clock_;
  RequestEnvironment env_;
  std::unique_ptr<LocalNewsServer> server_;
  std::shared_ptr<os::Window> window_;
  std::shared_ptr<NQSideViewController> side_ = std::make_shared<NQSideViewController>();
  std::shared_ptr<VXCustomNavController> nav_;
  std::shared_ptr<VXGlobalDefine> state_;
  std::shared_ptr<os::Application> app_;
  std::shared_ptr<BNWebImageManager> images_;
  std::optional<os::testing::SharedFakeReachability> reachability_;
  std::shared_ptr<os::ViewController> root_ = std::make_shared<os::ViewController>();
};

// The fixture on the real clock, for exchanges that run as they would on the phone.
class RealTimeFixture : public ReaderFixture {
 protected:
  RealTimeFixture() : ReaderFixture({.realClock = true}) {}
};

// Application-wide state on real time: fresh state with its ad timer, on Wi-Fi.
class StateFixture : public ReaderFixture {
 protected:
  StateFixture() : ReaderFixture({.realClock = true, .wifi = true, .state = State::Timed}) {}
};

// The picture screens: a navigation stack on a key window, the server, pictures of their own.
class PictureScreenTest : public ReaderFixture {
 protected:
  PictureScreenTest()
      : ReaderFixture({.state = State::Fresh, .images = "album", .server = 11, .screen = Screen::Nav}) {}
  // An album of the sample content with a few pictures (another than `except`).
  const newsd::Article& album(long long except = 0) {
    return server_->article([&](const newsd::Article& a) { return a.type == "album" && a.id != except && a.pictures().size() >= 4; });
  }
  // Makes the photo album unwritable: a plain file where its folder goes.
  static void blockPhotoAlbum() {
    os::FileManager::defaultManager().removeItemAtPath(os::PhotoAlbum::folder());
    ASSERT_TRUE(os::TestSandbox::writeFile(os::PhotoAlbum::folder(), "x"));
  }
  // A swipe to the next page of a strip, ended on the clock.
  static void swipeLeft(PageFlowView& flow) {
    os::TouchDriver::dragScrollView(*flow.scrollView(), os::Point{-80, 0}, os::Point{-800, 0});
    os::TouchDriver::advance(os::ScrollView::kDecelerationDuration + 0.1);
  }
  static std::shared_ptr<VXImageViewer> pageAt(PageFlowView& flow, int index) {
    return std::dynamic_pointer_cast<VXImageViewer>(flow.cellAtIndex(index));
  }
};

// The article screen; its fresh state has the pass switch set (no ads).
class ArticleScreenTest : public ReaderFixture {
 protected:
  ArticleScreenTest()
      : ReaderFixture({.state = State::Fresh, .images = "article", .server = 7, .screen = Screen::Window}) {}

  // A plain article with text and pictures in its body.
  const newsd::Article& plainArticle() {
    return server_->article([](const newsd::Article& a) {
      auto text = [](const newsd::BodyBlock& block) { return block.kind == newsd::BodyBlock::Kind::Text; };
      return a.type.empty() && !a.pictures().empty() && std::ranges::any_of(a.body, text);
    });
  }
  std::shared_ptr<VXNewsDetailViewController> open(const newsd::Article& article) {
    return open(os::Dictionary{{"id", article.id}, {"category", article.categoryId}});
  }
  std::shared_ptr<VXNewsDetailViewController> open(const os::Dictionary& info) {
    auto screen = VXNewsDetailViewController::initWitInfo(info, VXReaderContext::current());
    window_->setRootViewController(screen);
    window_->layoutIfNeeded();
    return screen;
  }
  // Rows of a type on the screen.
  static long count(VXNewsDetailViewController& screen, long long type) {
    return std::ranges::count_if(screen.rows(), [&](const auto& row) { return row->type() == type; });
  }
  // Shown and answered: back in the normal state with the vote row in.
  bool waitComplete(VXNewsDetailViewController& screen) {
    return runUntil([&] {
      return screen.tableViewState() == VXNewsDetailViewController::kStateNormal && count(screen, kNewsDetailEval) == 1;
    });
  }
};

// The settings and feedback screens, with an image cache of their own.
class SettingsFixture : public ReaderFixture {
 protected:
  SettingsFixture() : ReaderFixture({.state = State::Fresh, .images = "settings", .app = true, .screen = Screen::Window}) {}
  void TearDown() override {
    if (settings_ && settings_->sizeThread()) settings_->sizeThread()->join();
    ReaderFixture::TearDown();
  }

  // The settings screen pushed over a home screen, as the left menu does.
  void open() {
    nav_ = std::make_shared<VXCustomNavController>(std::make_shared<NQBaseViewController>(), VXReaderContext::current());
    showSide(nav_, std::make_shared<NQBaseViewController>());
    settings_ = std::make_shared<VXSettingViewController>(VXReaderContext::current());
    nav_->pushViewController(settings_, false, std::static_pointer_cast<VXNavBackClickDelegate>(settings_));
    // The measured size reloads the table: a tap in the middle of that reload would be lost.
    ASSERT_TRUE(waitMeasured());
    os::TouchDriver::settle();
  }
  bool waitMeasured() { return runUntil([&] { return settings_->cacheSize() >= 0; }); }
  std::shared_ptr<VXSettingCell> cell(long row) {
    os::TouchDriver::settle();
    return std::dynamic_pointer_cast<VXSettingCell>(settings_->tableView()->cellForRowAtIndexPath({0, row}));
  }
  std::string note(long row) { return cell(row)->noteLabel()->text(); }
  void tapRow(long row) { ASSERT_TRUE(os::TouchDriver::tapRow(*settings_->tableView(), row)); }
  std::string topScreen() const { return nav_->topViewController()->className(); }

  std::shared_ptr<VXSettingViewController> settings_;
};

// The launch: a phone on Wi-Fi (the categories come from the server), state with its ad timer.
class LaunchFixture : public ReaderFixture {
 protected:
  explicit LaunchFixture(Screen screen = Screen::None)
      : ReaderFixture({.wifi = true, .online = true, .state = State::Timed, .screen = screen}) {}
};

// The ad screens, over a plain screen; the application notes the store addresses it was asked to open.
class AdFixture : public ReaderFixture {
 protected:
  AdFixture() : ReaderFixture({.app = true, .server = 5, .screen = Screen::Nav}) { root_ = screen_; }
  void SetUp() override {
    ReaderFixture::SetUp();
    useStore();
  }
  // The first sample ad of the kind (1 store application, 2 web page).
  const newsd::Ad& sampleAd(int type) const {
    return first(server_->service().content().ads(), [&](const newsd::Ad& ad) { return ad.type == type; });
  }
  std::string target(const newsd::Ad& ad) const { return newsd::adTargetURL(server_->base(), ad); }

  std::shared_ptr<NQBaseViewController> screen_ = std::make_shared<NQBaseViewController>();
};

// The offline download, hearing every "fOfflineLoading" value with the detail requests answered by then.
class OfflineFixture : public ReaderFixture {
 protected:
  explicit OfflineFixture(bool wifi = false, Screen screen = Screen::None)
      : ReaderFixture({.wifi = wifi, .state = State::Timed, .images = "offline", .server = 5, .screen = screen}) {}
  void SetUp() override {
    ReaderFixture::SetUp();
    helper_->setImageManager(images_);
    VXOfflineHelper::setShared(helper_);
  }
  void TearDown() override {
    if (helper_->isRunning()) helper_->killThread();
    // Stopping lets held requests go; work of a cancelled run and picture loads then end before
    // the sandbox goes.
    server_->stop();
    EXPECT_TRUE(runUntil([&] { return helper_->pendingCategories() == 0 && !images_->isRunning(); }, 30));
    ReaderFixture::TearDown();
  }

  // The first `n` published plain articles of a category, stored as its list and marked fresh,
  // so a run asks for no list.
  std::vector<long long> storeFresh(long long category, std::size_t n) {
    std::vector<const newsd::Article*> fresh;
    for (const auto& a : server_->service().content().articles())
      if (fresh.size() < n && a.categoryId == category && a.type.empty() && static_cast<double>(a.publishTime) <= os::Clock::now())
        fresh.push_back(&a);
    auto item = [](const newsd::Article* a) { return os::Value(os::Dictionary{{"id", a->id}, {"title", a->title}}); };
    storeFresh(category, collect<os::Value>(fresh, item));
    return collect(fresh, [](const newsd::Article* a) { return a->id; });
  }
  void storeFresh(long long category, const os::Array& items) {
    db_->insertArticles(items, category);
    db_->insertCategory(os::Dictionary{{"id", category}, {"name", "c"}, {"order", category}, {"flag", 1}});
    db_->updateCategory(category, os::Date::now().timeIntervalSinceReferenceDate());
  }
  // A category of mostly plain articles (text and pictures in their bodies), not the albums'.
  long long plainCategory(std::size_t index) const {
    std::size_t seen = 0;
    return first(server_->service().content().categories(), [&](const newsd::Category& c) {
      return c.id != newsd::kPictureCategoryId && seen++ == index;
    }).id;
  }
  bool start(std::vector<long long> categories) {
    helper_->setSelectedIDList(std::move(categories));
    return helper_->startOffline();
  }
  // Runs the main loop until the run is over and its categories have all left.
  bool waitEnd(double seconds = 60) {
    return runUntil([&] { return !helper_->isRunning() && helper_->pendingCategories() == 0; }, seconds);
  }
  const newsd::Article* article(long long id) const { return server_->service().content().article(id); }

  std::shared_ptr<VXNewsDBManager> db_ = VXNewsDBManager::share();
  std::shared_ptr<VXOfflineHelper> helper_ = std::make_shared<VXOfflineHelper>();
  std::vector<int> heard_;
  std::vector<int> detailsAtHeard_;  // how many detail requests the server had answered by each value
  // Heard on the posting thread: the helper posts on the main one, a test that posts elsewhere waits.
  os::testing::NotificationCounter loading_{kOfflineLoadingNotification, [this](const os::Notification& n) {
    heard_.push_back(VXOfflineHelper::percentOf(n).value_or(-999));
    detailsAtHeard_.push_back(server_->asked(1020));
  }};
};

// Makes the news database refuse every new row of a table ("ZARTICLE", "ZCATEGORY"), as a full
// disk refuses them, while reading and removing rows still works; false takes the refusal away.
// (Through a connection of its own, as another writer of the file would.)
inline void refuseNewRows(const VXNewsDBManager& db, const std::string& table, bool refuse) {
  auto other = SQDatabase::databaseWithPath(db.path());
  ASSERT_TRUE(other->open());
  EXPECT_TRUE(refuse ? other->executeUpdate("create trigger refuse_rows_" + table + " before insert on " + table +
                                            " begin select raise(abort, 'database or disk is full'); end")
                     : other->executeUpdate("drop trigger refuse_rows_" + table));
  other->close();
}
inline void refuseNewArticleRows(const VXNewsDBManager& db, bool refuse) { refuseNewRows(db, "ZARTICLE", refuse); }
// The same for removing rows of a table ("ZHISTORY"): every delete is refused, as a full disk
// refuses the journal it needs.
inline void refuseRemovingRows(const VXNewsDBManager& db, const std::string& table, bool refuse) {
  auto other = SQDatabase::databaseWithPath(db.path());
  ASSERT_TRUE(other->open());
  EXPECT_TRUE(refuse ? other->executeUpdate("create trigger keep_rows_" + table + " before delete on " + table +
                                            " begin select raise(abort, 'database or disk is full'); end")
                     : other->executeUpdate("drop trigger keep_rows_" + table));
  other->close();
}

// Items and answers of the news API's lists.
inline os::Dictionary item(long long id, long long publishTime, std::optional<std::string> type = std::string(),
                           int icons = 0) {
  os::Dictionary d{{"id", id}, {"title", "新闻标题 " + std::to_string(id)}, {"source", "来源"}, {"publishtime", publishTime}};
  if (type) d.set("type", *type);  // nullopt leaves "type" out
  auto url = [&](int i) { return os::Value("http://127.0.0.1:1/img/" + std::to_string(id) + "_" + std::to_string(i) + ".png"); };
  if (icons) d.set("icons", os::Value(collect(os::testing::numbers(0, icons), url)));
  return d;
}
// The JSON envelope around a "data" dictionary.
inline std::string envelope(const os::Dictionary& data, int errorcode = 0) {
  return newsd::writeJSON(newsd::envelope(errorcode, 1010, data));
}
inline std::string listAnswer(const os::Array& items, std::optional<int> lastpage, int result = 1) {
  os::Dictionary data{{"result", os::Value(result)}, {"newslist", os::Value(items)}};
  if (lastpage) data.set("lastpage", os::Value(*lastpage));
  return envelope(data);
}

// A news server on loopback answering the texts the test queues (then the fallback), noting the
// "opdata" of each request.
class ScriptedNewsServer : public os::testing::HttpTestServer {
 public:
  explicit ScriptedNewsServer(std::string fallback = listAnswer({}, 1))
      : answers_(os::testing::CannedResponse::json(std::move(fallback))) {
    route("POST", "/api/imobile/", answers_.handler());
    VXRequestConfig::setServerRoot(url(""));
  }

  void queue(std::string answer) { answers_.push(os::testing::CannedResponse::json(std::move(answer))); }
  void setFallback(std::string answer) { answers_.setFallback(os::testing::CannedResponse::json(std::move(answer))); }
  std::vector<os::Dictionary> opdatas() const {
    return collect<os::Dictionary>(requests(), [](const auto& r) {
      auto params = newsd::NewsService::parametersOf(os::parseQuery(r.body, true));
      const os::Dictionary* op = params ? (*params)["opdata"].dictionary() : nullptr;
      return op ? *op : os::Dictionary{};
    });
  }
  os::Dictionary last() const { return opdatas().empty() ? os::Dictionary{} : opdatas().back(); }

 private:
  os::testing::AnswerQueue answers_;
};

}  // namespace newstest
