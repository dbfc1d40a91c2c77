#pragma once
// The article screen against the local news server: a virtual clock, a phone sandbox, a key
// window, the server on loopback, and a clean slate of shared state around every test.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "news/store/VXGlobalDefine.h"
#include "news/api/VXGlobalHelper.h"
#include "news/store/VXNewsConfig.h"
#include "news/api/VXRequestConfig.h"
#include "news/article/VXNewsDetailViewController.h"
#include "news/store/VXNewsDBManager.h"
#include "news/tests/support/RequestTestSupport.h"
#include "os/runtime/Clock.h"
#include "os/console/TouchDriver.h"
#include "os/views/AlertView.h"
#include "os/views/Window.h"
#include "tools/newsd/server/NewsServer.h"
#include "ui/images/BNImageCache.h"
#include "ui/images/BNWebImageDownloader.h"
#include "ui/images/BNWebImageManager.h"
#include "ui/images/ViewWebCacheOperation.h"
#include "ui/widgets/KHProgressHUD.h"

namespace newstest {

class ArticleScreenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    VXNewsConfig::setShared(nullptr);
    VXNewsDBManager::setShared(nullptr);
    VXNewsDetailViewController::setServices({});
    // Without a timer: no ad-list requests of its own. Its pass switch is set, so no ads.
    VXGlobalDefine::setShared(std::make_shared<VXGlobalDefine>());
    BNSetViewLoadingManager(images_);
    newsd::ServerOptions options;
    options.seed = 7;
    server_ = std::make_unique<newsd::NewsServer>(options);
    auto port = server_->start();
    ASSERT_TRUE(port);
    base_ = "http://127.0.0.1:" + std::to_string(*port);
    VXRequestConfig::setServerRoot(base_);
    window_ = std::make_shared<os::Window>();
    window_->makeKeyAndVisible();
  }

  void TearDown() override {
    for (auto& s : os::ActionSheet::visibleActionSheets()) s->dismissWithClickedButtonIndex(-1, false);
    EXPECT_TRUE(VXNewsDetailViewController::waitForOfflineSaves(20));
    // Requests and picture loads still on their way end before the server and sandbox go.
    runUntil([&] { return !images_->isRunning(); }, 20);
    os::TouchDriver::advance(2);
    window_->setHidden(true);
    window_.reset();
    os::RunLoop::main()->runUntilIdle();
    if (auto hud = VXGlobalHelper::share().hud()) hud->removeFromSuperview();
    server_->stop();
    VXNewsDetailViewController::setServices({});
    VXGlobalDefine::setShared(nullptr);
    BNSetViewLoadingManager(nullptr);
    VXNewsDBManager::setShared(nullptr);
    VXNewsConfig::setShared(nullptr);
  }

  // A plain article with text and pictures in its body.
  const newsd::Article& plainArticle() {
    for (const auto& a : server_->service().content().articles()) {
      bool picture = false, text = false;
      for (const auto& block : a.body) {
        picture |= block.kind == newsd::BodyBlock::Kind::Picture;
        text |= block.kind == newsd::BodyBlock::Kind::Text;
      }
      if (a.type.empty() && picture && text) return a;
    }
    ADD_FAILURE() << "no plain article with pictures";
    return server_->service().content().articles().front();
  }

  std::shared_ptr<VXNewsDetailViewController> open(const newsd::Article& article) {
    return open(os::Dictionary{{"id", article.id}, {"category", article.categoryId}});
  }
  std::shared_ptr<VXNewsDetailViewController> open(const os::Dictionary& info) {
    auto screen = VXNewsDetailViewController::initWitInfo(info);
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
  static bool complete(VXNewsDetailViewController& screen) {
    return screen.tableViewState() == VXNewsDetailViewController::kStateNormal && count(screen, kNewsDetailEval) == 1;
  }
  bool waitComplete(VXNewsDetailViewController& screen) { return runUntil([&] { return complete(screen); }); }
  // What the shared HUD says while it shows; "" when it is hidden or was never shown.
  static std::string hudText() {
    auto hud = VXGlobalHelper::share().hud();
    if (!hud || !hud->superviewPtr() || hud->isHidden() || hud->alpha() < 0.5) return "";
    return hud->detailsLabelText().value_or("");
  }
  bool waitHud(const std::string& text) { return runUntil([&] { return hudText() == text; }); }

  os::VirtualClockScope clock_;
  RequestEnvironment env_;
  std::shared_ptr<BNWebImageManager> images_ =
      BNWebImageManager::create(BNImageCache::initWithNamespace("article"), BNWebImageDownloader::create());
  std::unique_ptr<newsd::NewsServer> server_;
  std::string base_;
  std::shared_ptr<os::Window> window_;
};

}  // namespace newstest
