#pragma once
// The ad tests' world: the local news and promotion server on loopback, a key window holding a
// navigation controller over a plain screen, and the application that records the store
// addresses it was asked to open.
#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "news/api/VXGlobalHelper.h"
#include "news/shell/NQBaseViewController.h"
#include "news/tests/support/RequestTestSupport.h"
#include "os/core/String.h"
#include "os/runtime/Clock.h"
#include "os/console/TouchDriver.h"
#include "os/views/Application.h"
#include "os/views/NavigationController.h"
#include "os/views/Window.h"
#include "tools/newsd/server/NewsServer.h"
#include "tools/newsd/server/SampleContent.h"
#include "ui/widgets/KHProgressHUD.h"

namespace adtest {

class AdFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    newsd::ServerOptions options;
    options.seed = 5;
    server_ = std::make_unique<newsd::NewsServer>(options);
    server_->service().setLog([this](const std::string& line) {
      std::lock_guard lock(mutex_);
      lines_.push_back(line);
    });
    auto port = server_->start();
    ASSERT_TRUE(port);
    base_ = "http://127.0.0.1:" + std::to_string(*port);
    VXRequestConfig::setServerRoot(base_);
    app_ = os::Application::create(nullptr);
    app_->makeShared();
    nav_ = std::make_shared<os::NavigationController>(screen_);
    window_->makeKeyAndVisible();
    window_->setRootViewController(nav_);
    os::TouchDriver::settle();
  }
  void TearDown() override {
    os::TouchDriver::advance(2);
    os::RunLoop::main()->runUntilIdle();
    if (auto hud = VXGlobalHelper::share().hud()) hud->removeFromSuperview();
    window_->setHidden(true);
    window_.reset();
    nav_.reset();
    os::RunLoop::main()->runUntilIdle();
    server_->stop();
  }

  // The first sample ad of the kind (1 store application, 2 web page).
  const newsd::Ad& sampleAd(int type) const {
    for (const auto& ad : server_->service().content().ads())
      if (ad.type == type) return ad;
    ADD_FAILURE() << "no sample ad of type " << type;
    return server_->service().content().ads().front();
  }
  std::string target(const newsd::Ad& ad) const { return newsd::adTargetURL(base_, ad); }

  // How many forms of the operation the server answered.
  int asked(long long opcode) const {
    std::lock_guard lock(mutex_);
    int n = 0;
    for (const auto& line : lines_) n += os::hasPrefix(line, "opcode " + std::to_string(opcode) + " ");
    return n;
  }
  std::vector<std::string> opened() const {
    std::vector<std::string> urls;
    for (const auto& url : app_->openedURLs()) urls.push_back(url.absoluteString());
    return urls;
  }
  // The text of the shared HUD while it shows on the view.
  std::optional<std::string> hudText(os::View& view) const {
    auto hud = KHProgressHUD::HUDForView(view);
    if (!hud || hud->isHidden() || hud->alpha() < 0.5) return std::nullopt;
    return hud->detailsLabelText().value_or(hud->labelText().value_or(""));
  }
  bool waitHud(os::View& view, const std::string& text) {
    return newstest::runUntil([&] { return hudText(view) == text; });
  }

  os::VirtualClockScope clock_;
  newstest::RequestEnvironment env_;  // a 6.1 phone
  std::unique_ptr<newsd::NewsServer> server_;
  std::string base_;
  std::shared_ptr<os::Application> app_;
  std::shared_ptr<os::Window> window_ = std::make_shared<os::Window>();
  std::shared_ptr<NQBaseViewController> screen_ = std::make_shared<NQBaseViewController>();
  std::shared_ptr<os::NavigationController> nav_;

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

}  // namespace adtest
