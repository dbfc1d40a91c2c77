#pragma once
// The news client's test fixture. Every test gets a phone sandbox whose bundle carries both version
// strings and a fresh reader context (with the reader's routes between screens and a side menu of
// its own), so nothing shared needs resetting; a test adds what its screens need: the local news
// server on loopback noting what it was asked, a key window with a navigation stack or the side
// menu, application state, an image manager of its own, a fake network.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "foundation/ServiceCallLog.h"
#include "foundation/formats/Base64.h"
#include "foundation/formats/JSONDecoder.h"
#include "foundation/formats/JSONTideSerializing.h"
#include "news/album/VXAlbumViewController.h"
#include "news/album/VXImageViewer.h"
#include "news/api/NQBaseRequest.h"
#include "news/api/VXGlobalHelper.h"
#include "news/api/VXReaderContext.h"
#include "news/api/VXRequestConfig.h"
#include "news/article/VXNewsDetailViewController.h"
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
#include "news/store/VXNewsCategoryManager.h"
#include "news/store/VXNewsConfig.h"
#include "news/store/VXNewsDBManager.h"
#include "os/console/TouchDriver.h"
#include "os/core/Date.h"
#include "os/core/String.h"
#include "os/core/URL.h"
#include "os/graphics/ImageCodec.h"
#include "os/net/NetworkReachability.h"
#include "os/runtime/Clock.h"
#include "os/runtime/NotificationCenter.h"
#include "os/runtime/RunLoop.h"
#include "os/runtime/Thread.h"
#include "os/store/FileManager.h"
#include "os/store/Sandbox.h"
#include "os/store/UserDefaults.h"
#include "os/testing/FakeReachabilityProvider.h"
#include "os/testing/HttpTestServer.h"
#include "os/testing/TestSandbox.h"
#include "os/views/AlertView.h"
#include "os/views/Application.h"
#include "os/views/Device.h"
#include "os/views/GestureRecognizer.h"
#include "os/views/PhotoAlbum.h"
#include "os/views/Touch.h"
#include "os/views/Window.h"
#include "tools/newsd/server/NewsServer.h"
#include "tools/newsd/server/SampleContent.h"
#include "ui/images/BNImageCache.h"
#include "ui/images/BNWebImageDownloader.h"
#include "ui/images/BNWebImageManager.h"
#include "ui/images/ViewWebCacheOperation.h"
#include "ui/widgets/KHProgressHUD.h"

namespace newstest {

inline os::DeviceProfile phoneProfile() {
  os::DeviceProfile profile;
  profile.machine = "iPhone5,2";
  profile.systemVersion = "6.1.3";
  profile.macAddress = "0A:1B:2C:3D:4E:5F";
  profile.advertisingIdentifier = "6D1A8F0E-3C1B-4E6A-9B1C-2A3B4C5D6E7F";
  return profile;
}

// The window-tree suites' phone: system 7.0 on a 320 x 568 screen at scale 1 (small snapshots).
inline os::DeviceProfile screenPhone() {
  os::DeviceProfile profile;
  profile.systemVersion = "7.0";
  profile.screenScale = 1;
  return profile;
}

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

// The JSON value of a text; null when it is not JSON.
inline os::Value parseJSON(const std::string& text) {
  JSONDecoder decoder;
  auto value = decoder.objectWithUTF8String(text.data(), text.size());
  return value ? *value : os::Value();
}

// The JSON object inside a "p" field; nothing when it is not Base64 of a JSON object.
inline std::optional<os::Dictionary> decodeP(const std::string& p) {
  auto text = base64DecodedString(p);
  os::Value value = text ? parseJSON(*text) : os::Value();
  const os::Dictionary* object = value.dictionary();
  if (!object) return std::nullopt;
  return *object;
}

// Runs the main run loop until the condition holds (a real-time bound; loopback answers in
// milliseconds).
inline bool runUntil(const std::function<bool()>& condition, double timeout = 20) {
  return os::RunLoop::main()->runUntil(condition, timeout);
}

// Counts one notification name for its lifetime.
class BroadcastCounter {
 public:
  explicit BroadcastCounter(std::string name)
      : token_(os::NotificationCenter::defaultCenter().addObserver(std::move(name), nullptr,
                                                                   [this](const os::Notification&) { ++count_; })) {}
  ~BroadcastCounter() { os::NotificationCenter::defaultCenter().removeObserver(token_); }
  int count() const { return count_; }

 private:
  int count_ = 0;
  os::NotificationCenter::ObserverToken token_;
};

// The local news server on loopback with both APIs of the current context pointed at it, noting
// the parameters of every operation it answers.
class LocalNewsServer : public newsd::NewsServer {
 public:
  explicit LocalNewsServer(std::uint64_t seed = 7, newsd::ServiceOptions service = {})
      : newsd::NewsServer(options(seed, std::move(service))) {
    this->service().setLog([this](const std::string& line) {
      std::lock_guard lock(mutex_);
      lines_.push_back(line);
    });
    auto port = start();
    EXPECT_TRUE(port);
    base_ = "http://127.0.0.1:" + std::to_string(port.value_or(0));
    VXRequestConfig::setServerRoot(base_);
  }
  ~LocalNewsServer() { stop(); }
  const std::string& base() const { return base_; }

  // The parameters of every form of the operation that arrived, in order (null when unreadable).
  std::vector<os::Value> params(long long opcode) const {
    const std::string prefix = "opcode " + std::to_string(opcode) + " ";
    std::lock_guard lock(mutex_);
    std::vector<os::Value> out;
    for (const auto& line : lines_)
      if (os::hasPrefix(line, prefix)) out.push_back(parseJSON(line.substr(prefix.size())));
    return out;
  }
  int asked(long long opcode) const { return static_cast<int>(params(opcode).size()); }
  // The "cp" of every activation, in order (-1 for one without).
  std::vector<long long> activations() const {
    std::vector<long long> cps;
    for (const auto& p : params(1000)) cps.push_back(p["opdata"]["cp"].isNumber() ? p["opdata"]["cp"].intValue() : -1);
    return cps;
  }
  // The first sample article `pick` takes (a failure when none).
  const newsd::Article& article(const std::function<bool(const newsd::Article&)>& pick) {
    for (const auto& a : service().content().articles())
      if (pick(a)) return a;
    ADD_FAILURE() << "no such article in the sample content";
    return service().content().articles().front();
  }

 private:
  static newsd::ServerOptions options(std::uint64_t seed, newsd::ServiceOptions service) {
    newsd::ServerOptions options;
    options.seed = seed;
    options.service = std::move(service);
    return options;
  }
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
  std::string base_;
};

// The one fixture: a test asks for the pieces its screens need.
class ReaderFixture : public ::testing::Test {
 protected:
  static constexpr const char* kLocalWiFiKey = "169.254.0.0";  // stands for the local Wi-Fi
  static constexpr std::uint32_t kWiFi = os::kReachabilityFlagsReachable | os::kReachabilityFlagsIsDirect;

  explicit ReaderFixture(bool virtualClock = true, const os::DeviceProfile& device = phoneProfile()) : env_(device) {
    if (virtualClock) clock_.emplace();
    NQSideViewController::setShared(side_);
    os::View::clearAnimationLog();
    ServiceCallLog::reset();
  }
  void TearDown() override {
    for (auto& s : os::ActionSheet::visibleActionSheets()) s->dismissWithClickedButtonIndex(-1, false);
    for (auto& a : os::AlertView::visibleAlertViews()) a->dismissWithClickedButtonIndex(0, false);
    EXPECT_TRUE(VXAlbumViewController::waitForOfflineSaves(20));
    EXPECT_TRUE(VXNewsDetailViewController::waitForOfflineSaves(20));
    // Requests and picture loads still on their way end before the server and sandbox go.
    if (images_) runUntil([&] { return !images_->isRunning(); }, 20);
    if (clock_) os::TouchDriver::advance(2);
    if (window_) window_->setHidden(true);
    window_.reset();
    nav_.reset();
    os::RunLoop::main()->runUntilIdle();
    if (auto hud = VXGlobalHelper::share().hud()) hud->removeFromSuperview();
    if (server_) server_->stop();
    if (images_) BNSetViewLoadingManager(nullptr);
    if (reachability_) os::ReachabilityProvider::setShared(nullptr);
    ServiceCallLog::reset();
  }

  void startServer(std::uint64_t seed = 7, newsd::ServiceOptions service = {}) {
    server_ = std::make_unique<LocalNewsServer>(seed, std::move(service));
    base_ = server_->base();
  }
  void showWindow() {
    window_ = std::make_shared<os::Window>();
    window_->setBackgroundColor(os::Color::white());
    window_->makeKeyAndVisible();
  }
  // A key window whose root is a navigation stack over `root`.
  void showNav(std::shared_ptr<os::ViewController> root) {
    if (!window_) showWindow();
    nav_ = std::make_shared<VXCustomNavController>(std::move(root), VXReaderContext::current());
    window_->setRootViewController(nav_);
  }
  // The side menu on a key window, `centre` in the middle and `left` beneath.
  void showSide(std::shared_ptr<os::ViewController> centre, std::shared_ptr<os::ViewController> left) {
    if (!window_) showWindow();
    side_->setRootViewController(std::move(centre));
    side_->setLeftViewController(std::move(left));
    window_->setRootViewController(side_);
    os::TouchDriver::settle();
  }
  double centreX() const { return side_->rootViewController()->view()->frame().origin.x; }
  static double lastAnimationDuration() { return os::View::animationLog().back().duration; }
  // Fresh application-wide state, shared; `withTimer` starts its ad refresh.
  std::shared_ptr<VXGlobalDefine> useState(bool withTimer = false) {
    state_ = withTimer ? VXGlobalDefine::create() : std::make_shared<VXGlobalDefine>();
    VXGlobalDefine::setShared(state_);
    return state_;
  }
  // The shared application, noting the addresses it was asked to open.
  void useApplication() {
    app_ = os::Application::create(nullptr);
    app_->makeShared();
  }
  std::vector<std::string> opened() const {
    std::vector<std::string> urls;
    for (const auto& url : app_->openedURLs()) urls.push_back(url.absoluteString());
    return urls;
  }
  // An image manager of the test's own, loading every image view's picture.
  void useImages(const std::string& cacheName) {
    images_ = BNWebImageManager::create(BNImageCache::initWithNamespace(cacheName), BNWebImageDownloader::create());
    BNSetViewLoadingManager(images_);
  }
  // The phone's network, played by a fake reachability provider.
  os::testing::FakeReachabilityProvider& network() {
    if (!reachability_) {
      reachability_ = std::make_shared<os::testing::FakeReachabilityProvider>();
      os::ReachabilityProvider::setShared(reachability_);
    }
    return *reachability_;
  }
  void setWiFi() { network().setFlags(kLocalWiFiKey, kWiFi); }
  // The phone reaches the network over its cellular radio only.
  void setCellular() {
    network().setDefaultFlags(os::kReachabilityFlagsReachable | os::kReachabilityFlagsIsWWAN);
    network().setFlags(kLocalWiFiKey, os::kReachabilityFlagsReachable | os::kReachabilityFlagsIsWWAN);
  }
  void setOffline() {
    network().setDefaultFlags(std::nullopt);
    network().setFlags(kLocalWiFiKey, std::nullopt);
  }

  static std::shared_ptr<os::UserDefaults> defaults() { return os::UserDefaults::standardUserDefaults(); }
  // Writes a file, making its folder first; reads one back (nothing when it is missing).
  static void writeFile(const std::string& path, const std::string& text) {
    auto& files = os::FileManager::defaultManager();
    ASSERT_TRUE(files.createDirectoryAtPath(path.substr(0, path.rfind('/')), true));
    ASSERT_TRUE(files.writeData(os::Data(text.begin(), text.end()), path));
  }
  static std::optional<std::string> readFile(const std::string& path) {
    auto data = os::FileManager::defaultManager().contentsAtPath(path);
    if (!data) return std::nullopt;
    return std::string(data->begin(), data->end());
  }

  // Runs a request to its end: its "data", or nothing; `failed` tells whether the exchange failed.
  static std::optional<os::Dictionary> load(NQBaseRequest& request, bool* failed = nullptr) {
    bool done = false;
    std::optional<os::Dictionary> data;
    auto completed = [&](const std::optional<os::Dictionary>& d) {
      data = d;
      done = true;
    };
    if (failed) VXGlobalHelper::loadWithRequest(request, 0, completed, [&] { *failed = done = true; });
    else VXGlobalHelper::loadWithRequest(request, completed);
    EXPECT_TRUE(runUntil([&] { return done; })) << request.className();
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

  // What the shared HUD says while it shows; "" when it is hidden or was never shown.
  static std::string hudText() {
    auto hud = VXGlobalHelper::share().hud();
    if (!hud || !hud->superviewPtr() || hud->isHidden() || hud->alpha() < 0.5) return "";
    return hud->detailsLabelText().value_or("");
  }
  bool waitHud(const std::string& text) { return runUntil([&] { return hudText() == text; }); }
  // The text of a view's own HUD while it shows.
  static std::optional<std::string> hudText(os::View& view) {
    auto hud = KHProgressHUD::HUDForView(view);
    if (!hud || hud->isHidden() || hud->alpha() < 0.5) return std::nullopt;
    return hud->detailsLabelText().value_or(hud->labelText().value_or(""));
  }
  bool waitHud(os::View& view, const std::string& text) { return runUntil([&] { return hudText(view) == text; }); }
  // The alert in front, if one shows.
  static std::shared_ptr<os::AlertView> frontAlert() {
    auto alerts = os::AlertView::visibleAlertViews();
    return alerts.empty() ? nullptr : alerts.back();
  }

  std::optional<os::VirtualClockScope> clock_;
  RequestEnvironment env_;
  std::unique_ptr<LocalNewsServer> server_;
  std::string base_;
  std::shared_ptr<os::Window> window_;
  std::shared_ptr<NQSideViewController> side_ = std::make_shared<NQSideViewController>();
  std::shared_ptr<VXCustomNavController> nav_;
  std::shared_ptr<VXGlobalDefine> state_;
  std::shared_ptr<os::Application> app_;
  std::shared_ptr<BNWebImageManager> images_;
  std::shared_ptr<os::testing::FakeReachabilityProvider> reachability_;
};

// The fixture on the real clock, for exchanges that run as they would on the phone.
class RealTimeFixture : public ReaderFixture {
 protected:
  RealTimeFixture() : ReaderFixture(false) {}
};

// Application-wide state on real time: fresh state with its ad timer, on Wi-Fi.
class StateFixture : public RealTimeFixture {
 protected:
  void SetUp() override {
    setWiFi();
    useState(true);
  }
};

// The picture screens: a navigation stack on a key window, the server, pictures of their own.
class PictureScreenTest : public ReaderFixture {
 protected:
  void SetUp() override {
    useState();
    useImages("album");
    startServer(11);
    showNav(root_);
    window_->layoutIfNeeded();
  }
  void TearDown() override {
    server_->clearFaults();
    ReaderFixture::TearDown();
  }

  // An album of the sample content with a few pictures.
  const newsd::Article& album() {
    return server_->article([](const newsd::Article& a) { return a.type == "album" && pictures(a).size() >= 4; });
  }
  static std::vector<newsd::Picture> pictures(const newsd::Article& article) {
    std::vector<newsd::Picture> out;
    for (const auto& block : article.body)
      if (block.kind == newsd::BodyBlock::Kind::Picture) out.push_back(block.picture);
    return out;
  }
  // Makes the photo album unwritable: a plain file where its folder goes.
  static void blockPhotoAlbum() {
    std::string path = os::Sandbox::current()->deviceDirectory() + "/PhotoAlbum";
    os::FileManager::defaultManager().removeItemAtPath(path);
    ASSERT_TRUE(os::FileManager::defaultManager().writeData(os::Data{'x'}, path, os::WriteOptions{}, nullptr));
  }
  // A swipe to the next page of a strip, ended on the clock.
  static void swipeLeft(PageFlowView& flow) {
    os::TouchDriver::dragScrollView(*flow.scrollView(), os::Point{-80, 0}, os::Point{-800, 0});
    os::TouchDriver::advance(os::ScrollView::kDecelerationDuration + 0.1);
  }
  static std::shared_ptr<VXImageViewer> pageAt(PageFlowView& flow, int index) {
    return std::dynamic_pointer_cast<VXImageViewer>(flow.cellAtIndex(index));
  }

  std::shared_ptr<os::ViewController> root_ = std::make_shared<os::ViewController>();
};

// The article screen on a key window against the server; its state has the pass switch set (no
// ads) and no timer.
class ArticleScreenTest : public ReaderFixture {
 protected:
  void SetUp() override {
    useState();
    useImages("article");
    startServer(7);
    showWindow();
  }

  // A plain article with text and pictures in its body.
  const newsd::Article& plainArticle() {
    return server_->article([](const newsd::Article& a) {
      bool picture = false, text = false;
      for (const auto& block : a.body) {
        picture |= block.kind == newsd::BodyBlock::Kind::Picture;
        text |= block.kind == newsd::BodyBlock::Kind::Text;
      }
      return a.type.empty() && picture && text;
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
  static int count(VXNewsDetailViewController& screen, long long type) {
    int n = 0;
    for (const auto& row : screen.rows()) n += row->type() == type ? 1 : 0;
    return n;
  }
  // Shown and answered: back in the normal state with the vote row in.
  bool waitComplete(VXNewsDetailViewController& screen) {
    return runUntil([&] {
      return screen.tableViewState() == VXNewsDetailViewController::kStateNormal && count(screen, kNewsDetailEval) == 1;
    });
  }
};

// The settings and feedback screens: the side menu with the navigation stack, an image cache of
// their own, the server (seed 1) when a test asks.
class SettingsFixture : public ReaderFixture {
 protected:
  void SetUp() override {
    useState();
    VXSettingViewController::setImageCache(cache_);
    useApplication();
    showWindow();
  }
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
    return std::dynamic_pointer_cast<VXSettingCell>(
        settings_->tableView()->cellForRowAtIndexPath(os::IndexPath::forRow(row, 0)));
  }
  std::string note(long row) { return cell(row)->noteLabel()->text(); }
  void tapRow(long row) {
    ASSERT_TRUE(os::TouchDriver::tapRow(*settings_->tableView(), os::IndexPath::forRow(row, 0)));
    os::TouchDriver::settle();
  }
  std::string topScreen() const { return nav_->viewControllers().back()->className(); }

  std::shared_ptr<BNImageCache> cache_ = BNImageCache::initWithNamespace("settings");
  std::shared_ptr<VXSettingViewController> settings_;
};

// The launch: a phone on Wi-Fi (the categories come from the server), state with its ad timer.
class LaunchFixture : public ReaderFixture {
 protected:
  void SetUp() override {
    network().setDefaultFlags(kWiFi);
    setWiFi();
    useState(true);
  }
  static bool waitFor(const std::function<bool()>& condition) { return runUntil(condition, 20); }
};

// One touch played sample by sample, so drags end exactly where a test wants.
class Finger {
 public:
  Finger(os::Window& window, os::Point at) : window_(window) {
    touch_ = std::make_shared<os::Touch>(&window, at, os::Clock::monotonic());
    send();
  }
  void moveToX(double x) {
    os::Clock::advance(os::TouchDriver::kSampleInterval);
    os::RunLoop::main()->runUntilIdle();
    touch_->update(os::TouchPhase::Moved, os::Point{x, touch_->locationInWindow().y}, os::Clock::monotonic());
    send();
  }
  void lift() { finish(os::TouchPhase::Ended); }
  void cancel() { finish(os::TouchPhase::Cancelled); }

 private:
  void finish(os::TouchPhase phase) {
    touch_->update(phase, touch_->locationInWindow(), os::Clock::monotonic());
    send();
    os::RunLoop::main()->runUntilIdle();
  }
  void send() { window_.sendEvent(os::Event({touch_}, touch_->timestamp())); }
  os::Window& window_;
  std::shared_ptr<os::Touch> touch_;
};

// Put down at x0, the pan begins at the first sample (10 points on), released `travel` from x0.
inline void drag(os::Window& window, double x0, double y, double travel) {
  Finger f(window, os::Point{x0, y});
  f.moveToX(x0 + (travel < 0 ? -1 : 1) * os::PanGestureRecognizer::kHysteresis);
  f.moveToX(x0 + travel);
  f.lift();
}

// The ad screens: the server, a navigation stack over a plain screen on a key window, and the
// application noting the store addresses it was asked to open.
class AdFixture : public ReaderFixture {
 protected:
  void SetUp() override {
    startServer(5);
    useApplication();
    showNav(screen_);
    os::TouchDriver::settle();
  }
  // The first sample ad of the kind (1 store application, 2 web page).
  const newsd::Ad& sampleAd(int type) const {
    for (const auto& ad : server_->service().content().ads())
      if (ad.type == type) return ad;
    ADD_FAILURE() << "no sample ad of type " << type;
    return server_->service().content().ads().front();
  }
  std::string target(const newsd::Ad& ad) const { return newsd::adTargetURL(base_, ad); }

  std::shared_ptr<NQBaseViewController> screen_ = std::make_shared<NQBaseViewController>();
};

// The offline download: a fresh database, state and offline helper, pictures of its own, the
// server, and every "fOfflineLoading" value heard with the detail requests answered by then.
class OfflineFixture : public ReaderFixture {
 protected:
  void SetUp() override {
    useState(true);
    images_ = BNWebImageManager::create(BNImageCache::initWithNamespace("offline"), BNWebImageDownloader::create());
    helper_ = std::make_shared<VXOfflineHelper>();
    helper_->setDatabase(db_);
    helper_->setImageManager(images_);
    VXOfflineHelper::setShared(helper_);
    startServer(5);
    observer_ = os::NotificationCenter::defaultCenter().addObserver(
        kOfflineLoadingNotification, nullptr, [this](const os::Notification& n) {
          std::lock_guard lock(mutex_);
          heard_.push_back(VXOfflineHelper::percentOf(n).value_or(-999));
          detailsAtHeard_.push_back(server_->asked(1020));
        });
  }
  void TearDown() override {
    if (helper_->isRunning()) helper_->killThread();
    // Stopping lets held requests go; work of a cancelled run and picture loads then end before
    // the sandbox goes.
    server_->stop();
    EXPECT_TRUE(runUntil([&] { return helper_->pendingCategories() == 0 && !images_->isRunning(); }, 30));
    os::NotificationCenter::defaultCenter().removeObserver(observer_);
    ReaderFixture::TearDown();
  }

  // The first `n` published plain articles of a category, stored as its list and marked fresh,
  // so a run asks for no list.
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
      for (const auto& a : content.articles())
        if (a.categoryId == c.id) (a.type.empty() ? plain : albums) += 1;
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
    return runUntil([&] { return !helper_->isRunning() && helper_->pendingCategories() == 0; }, seconds);
  }
  std::vector<int> heard() const {
    std::lock_guard lock(mutex_);
    return heard_;
  }
  // How many detail requests the server had answered when each value was heard.
  std::vector<int> detailsAtHeard() const {
    std::lock_guard lock(mutex_);
    return detailsAtHeard_;
  }
  // Article ids of the detail requests the server answered, in order of arrival.
  std::vector<long long> detailsAsked() const {
    std::vector<long long> ids;
    for (const auto& p : server_->params(1020))
      if (p.dictionary()) ids.push_back(p["opdata"]["id"].intValue());
    return ids;
  }
  const newsd::Article* article(long long id) const { return server_->service().content().article(id); }

  std::shared_ptr<VXNewsDBManager> db_ = VXNewsDBManager::share();
  std::shared_ptr<VXOfflineHelper> helper_;
  mutable std::mutex mutex_;
  std::vector<int> heard_;
  std::vector<int> detailsAtHeard_;
  os::NotificationCenter::ObserverToken observer_ = 0;
};

// Items and answers of the news API's lists.
inline os::Dictionary item(long long id, long long publishTime, std::optional<std::string> type = std::string(),
                           int icons = 0) {
  os::Dictionary d;
  d.set("id", os::Value(id));
  if (type) d.set("type", os::Value(*type));  // nullopt leaves "type" out
  d.set("title", os::Value("新闻标题 " + std::to_string(id)));
  d.set("source", os::Value("来源"));
  d.set("publishtime", os::Value(publishTime));
  os::Array urls;
  for (int i = 0; i < icons; ++i) urls.push_back(os::Value("http://127.0.0.1:1/img/" + std::to_string(id) + "_" + std::to_string(i) + ".png"));
  if (icons) d.set("icons", os::Value(urls));
  return d;
}
// The JSON envelope around a "data" dictionary.
inline std::string envelope(const os::Dictionary& data, int errorcode = 0) {
  os::Dictionary top{{"errorcode", os::Value(errorcode)}, {"opcode", os::Value(1010)}, {"data", os::Value(data)}};
  return JSONString(os::Value(top)).value_or("{}");
}
inline std::string listAnswer(const os::Array& items, std::optional<int> lastpage, int result = 1) {
  os::Dictionary data{{"result", os::Value(result)}, {"newslist", os::Value(items)}};
  if (lastpage) data.set("lastpage", os::Value(*lastpage));
  return envelope(data);
}

// A news server on loopback whose answers the test queues (the fallback once they run out) and
// whose received "opdata" it reads back.
class ScriptedNewsServer {
 public:
  explicit ScriptedNewsServer(std::string fallback = listAnswer({}, 1)) : fallback_(std::move(fallback)) {
    for (const char* path : {"/api/imobile/", "/api/imobile"}) {
      http_.route("POST", path, [this](const os::testing::RecordedRequest&) {
        std::lock_guard lock(mutex_);
        std::string body = fallback_;
        if (!answers_.empty()) {
          body = answers_.front();
          answers_.pop_front();
        }
        auto response = os::testing::CannedResponse::text(body);
        response.contentType = "application/json";
        return response;
      });
    }
    VXRequestConfig::setServerRoot("http://127.0.0.1:" + std::to_string(http_.port()));
  }
  ~ScriptedNewsServer() { http_.stop(); }

  void queue(std::string answer) {
    std::lock_guard lock(mutex_);
    answers_.push_back(std::move(answer));
  }
  void setFallback(std::string answer) {
    std::lock_guard lock(mutex_);
    fallback_ = std::move(answer);
  }
  std::size_t count() const { return http_.requestCount(); }

  // The "opdata" of every request received, in order.
  std::vector<os::Dictionary> opdatas() const {
    std::vector<os::Dictionary> out;
    for (const auto& r : http_.requests()) {
      std::string p;
      for (auto& [k, v] : os::parseQuery(r.body, true))
        if (k == "p") p = v;
      auto params = decodeP(p);
      const os::Dictionary* op = params ? (*params)["opdata"].dictionary() : nullptr;
      out.push_back(op ? *op : os::Dictionary{});
    }
    return out;
  }
  os::Dictionary last() const {
    auto all = opdatas();
    return all.empty() ? os::Dictionary{} : all.back();
  }

 private:
  os::testing::HttpTestServer http_;
  mutable std::mutex mutex_;
  std::deque<std::string> answers_;
  std::string fallback_;
};

}  // namespace newstest

// The launch suites' names (the application's start-up suite reads the fixture through them).
namespace splashtest {
using newstest::LaunchFixture;
using Broadcasts = newstest::BroadcastCounter;
// The launch's server: the sample content of seed 11.
class NewsServerOnLoopback : public newstest::LocalNewsServer {
 public:
  explicit NewsServerOnLoopback(newsd::ServiceOptions service = {}) : LocalNewsServer(11, std::move(service)) {}
};
}  // namespace splashtest
