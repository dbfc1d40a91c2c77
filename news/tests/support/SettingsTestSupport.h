#pragma once
// The settings and feedback screens on a phone: a virtual clock, a sandbox whose bundle says
// version 27, an application, the side menu with the navigation controller, a fresh database,
// text style, state and image cache per test, and the local news server when a test asks.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "foundation/ServiceCallLog.h"
#include "news/store/VXGlobalDefine.h"
#include "news/api/VXGlobalHelper.h"
#include "news/store/VXNewsConfig.h"
#include "news/api/VXRequestConfig.h"
#include "news/shell/NQSideViewController.h"
#include "news/shell/VXCustomNavController.h"
#include "news/settings/VXSettingViewController.h"
#include "news/store/VXNewsDBManager.h"
#include "news/tests/support/RequestTestSupport.h"
#include "news/settings/VXSettingCell.h"
#include "os/runtime/Clock.h"
#include "os/runtime/Thread.h"
#include "os/console/TouchDriver.h"
#include "os/views/AlertView.h"
#include "os/views/Application.h"
#include "os/views/Window.h"
#include "tools/newsd/server/NewsServer.h"
#include "ui/images/BNImageCache.h"
#include "ui/widgets/KHProgressHUD.h"

namespace newstest {

class SettingsFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    VXNewsConfig::setShared(nullptr);
    VXNewsDBManager::setShared(nullptr);
    VXGlobalDefine::setShared(state_);
    VXSettingViewController::setImageCache(images_);
    NQSideViewController::setShared(side_);
    ServiceCallLog::reset();
    app_->makeShared();
    window_->makeKeyAndVisible();
  }
  void TearDown() override {
    for (auto& s : os::ActionSheet::visibleActionSheets()) s->dismissWithClickedButtonIndex(-1, false);
    for (auto& a : os::AlertView::visibleAlertViews()) a->dismissWithClickedButtonIndex(0, false);
    if (settings_ && settings_->sizeThread()) settings_->sizeThread()->join();
    os::TouchDriver::advance(2);
    window_->setHidden(true);
    os::RunLoop::main()->runUntilIdle();
    if (auto hud = VXGlobalHelper::share().hud()) hud->removeFromSuperview();
    if (server_) server_->stop();
    VXSettingViewController::setImageCache(nullptr);
    NQSideViewController::setShared(nullptr);
    VXGlobalDefine::setShared(nullptr);
    VXNewsDBManager::setShared(nullptr);
    VXNewsConfig::setShared(nullptr);
    ServiceCallLog::reset();
  }

  void startServer(newsd::ServiceOptions service = {}) {
    newsd::ServerOptions options;
    options.service = std::move(service);
    server_ = std::make_unique<newsd::NewsServer>(options);
    auto port = server_->start();
    ASSERT_TRUE(port);
    base_ = "http://127.0.0.1:" + std::to_string(*port);
    VXRequestConfig::setServerRoot(base_);
  }

  // The settings screen pushed over a home screen, as the left menu does.
  void open() {
    nav_ = std::make_shared<VXCustomNavController>(std::make_shared<NQBaseViewController>());
    side_->setRootViewController(nav_);
    side_->setLeftViewController(std::make_shared<NQBaseViewController>());
    window_->setRootViewController(side_);
    os::TouchDriver::settle();
    settings_ = std::make_shared<VXSettingViewController>();
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
  // What the shared HUD says while it shows; "" when hidden.
  static std::string hudText() {
    auto hud = VXGlobalHelper::share().hud();
    if (!hud || !hud->superviewPtr() || hud->isHidden() || hud->alpha() < 0.5) return "";
    return hud->detailsLabelText().value_or("");
  }
  bool waitHud(const std::string& text) { return runUntil([&] { return hudText() == text; }); }
  static std::shared_ptr<os::AlertView> frontAlert() {
    auto alerts = os::AlertView::visibleAlertViews();
    return alerts.empty() ? nullptr : alerts.back();
  }
  std::string topScreen() const { return nav_->viewControllers().back()->className(); }

  os::VirtualClockScope clock_;
  RequestEnvironment env_;
  std::shared_ptr<os::Application> app_ = os::Application::create(nullptr);
  std::shared_ptr<VXGlobalDefine> state_ = std::make_shared<VXGlobalDefine>();
  std::shared_ptr<BNImageCache> images_ = BNImageCache::initWithNamespace("settings");
  std::shared_ptr<NQSideViewController> side_ = std::make_shared<NQSideViewController>();
  std::shared_ptr<os::Window> window_ = std::make_shared<os::Window>();
  std::unique_ptr<newsd::NewsServer> server_;
  std::string base_;
  std::shared_ptr<VXCustomNavController> nav_;
  std::shared_ptr<VXSettingViewController> settings_;
};

}  // namespace newstest
