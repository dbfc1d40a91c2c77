#pragma once
// The picture screens against the local news server: a virtual clock, a phone sandbox, a key
// window with a navigation stack, the server on loopback, an image manager of their own, and a
// clean slate of shared state around every test.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "news/store/VXGlobalDefine.h"
#include "news/api/VXGlobalHelper.h"
#include "news/api/VXRequestConfig.h"
#include "news/album/VXAlbumViewController.h"
#include "news/shell/VXCustomNavController.h"
#include "news/article/VXNewsDetailViewController.h"
#include "news/store/VXNewsDBManager.h"
#include "news/tests/support/RequestTestSupport.h"
#include "news/album/VXImageViewer.h"
#include "os/graphics/Image.h"
#include "os/runtime/Clock.h"
#include "os/store/FileManager.h"
#include "os/store/Sandbox.h"
#include "os/console/TouchDriver.h"
#include "os/views/NavigationController.h"
#include "os/views/PhotoAlbum.h"
#include "os/views/Window.h"
#include "tools/newsd/server/NewsServer.h"
#include "ui/images/BNImageCache.h"
#include "ui/images/BNWebImageDownloader.h"
#include "ui/images/BNWebImageManager.h"
#include "ui/images/ViewWebCacheOperation.h"
#include "ui/widgets/KHProgressHUD.h"

namespace newstest {

class PictureScreenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    VXNewsDBManager::setShared(nullptr);
    previousState_ = VXGlobalDefine::setShared(std::make_shared<VXGlobalDefine>());
    VXNewsDetailViewController::setServices({});
    BNSetViewLoadingManager(images_);
    newsd::ServerOptions options;
    options.seed = 11;
    server_ = std::make_unique<newsd::NewsServer>(options);
    auto port = server_->start();
    ASSERT_TRUE(port);
    base_ = "http://127.0.0.1:" + std::to_string(*port);
    VXRequestConfig::setServerRoot(base_);
    window_ = std::make_shared<os::Window>();
    window_->makeKeyAndVisible();
    root_ = std::make_shared<os::ViewController>();
    nav_ = std::make_shared<VXCustomNavController>(root_);
    window_->setRootViewController(nav_);
    window_->layoutIfNeeded();
  }

  void TearDown() override {
    EXPECT_TRUE(VXAlbumViewController::waitForOfflineSaves(20));
    EXPECT_TRUE(VXNewsDetailViewController::waitForOfflineSaves(20));
    // Requests and picture loads still on their way end before the server and sandbox go.
    server_->clearFaults();
    os::TouchDriver::advance(2);
    runUntil([&] { return !images_->isRunning(); }, 20);
    os::TouchDriver::advance(2);
    window_->setHidden(true);
    window_.reset();
    os::RunLoop::main()->runUntilIdle();
    if (auto hud = VXGlobalHelper::share().hud()) hud->removeFromSuperview();
    server_->stop();
    VXNewsDetailViewController::setServices({});
    BNSetViewLoadingManager(nullptr);
    VXGlobalDefine::setShared(previousState_);
    VXNewsDBManager::setShared(nullptr);
  }

  // An album of the sample content with a few pictures.
  const newsd::Article& album() {
    for (const auto& a : server_->service().content().articles()) {
      if (a.type == "album" && pictures(a).size() >= 4) return a;
    }
    ADD_FAILURE() << "no album in the sample content";
    return server_->service().content().articles().front();
  }
  static std::vector<newsd::Picture> pictures(const newsd::Article& article) {
    std::vector<newsd::Picture> out;
    for (const auto& block : article.body)
      if (block.kind == newsd::BodyBlock::Kind::Picture) out.push_back(block.picture);
    return out;
  }
  // The picture row the article screen would make of a picture of this server.
  std::shared_ptr<VXNewsDetailImageDO> row(const newsd::Picture& picture) {
    os::Dictionary dict{{"type", 2}, {"content", newsd::pictureURL(base_, picture)}, {"alt", picture.alt}};
    if (picture.sized) {
      dict.set("originalwidth", picture.width);
      dict.set("originalheight", picture.height);
    }
    return std::make_shared<VXNewsDetailImageDO>(dict);
  }
  // A row whose picture is already in the image cache: a plain bitmap of the given size.
  std::shared_ptr<VXNewsDetailImageDO> cachedRow(const std::string& name, int width, int height) {
    std::string url = base_ + "/img/" + name + "/" + std::to_string(width) + "x" + std::to_string(height) + ".png";
    images_->imageCache()->storeImage(os::Image::create(os::Bitmap(width, height)), images_->cacheKeyForURL(os::URL::parse(url)));
    return std::make_shared<VXNewsDetailImageDO>(
        os::Dictionary{{"type", 2}, {"content", url}, {"originalwidth", width}, {"originalheight", height}});
  }

  // Pushes the album screen for the article as the lists do: the album draws its own bar.
  std::shared_ptr<VXAlbumViewController> openAlbum(const newsd::Article& article) {
    auto screen = VXAlbumViewController::initWithDict(
        os::Dictionary{{"id", article.id}, {"category", article.categoryId}, {"icon", ""}});
    nav_->pushViewController(screen, false, true);
    window_->layoutIfNeeded();
    return screen;
  }

  // What the shared HUD says while it shows; "" when it is hidden or was never shown.
  static std::string hudText() {
    auto hud = VXGlobalHelper::share().hud();
    if (!hud || !hud->superviewPtr() || hud->isHidden() || hud->alpha() < 0.5) return "";
    return hud->detailsLabelText().value_or("");
  }
  bool waitHud(const std::string& text) { return runUntil([&] { return hudText() == text; }); }

  // Makes the photo album unwritable: a plain file where its folder goes (saved photos go).
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

  os::VirtualClockScope clock_;
  RequestEnvironment env_;
  std::shared_ptr<BNWebImageManager> images_ =
      BNWebImageManager::create(BNImageCache::initWithNamespace("album"), BNWebImageDownloader::create());
  std::unique_ptr<newsd::NewsServer> server_;
  std::string base_;
  std::shared_ptr<os::Window> window_;
  std::shared_ptr<os::ViewController> root_;
  std::shared_ptr<VXCustomNavController> nav_;
  std::shared_ptr<VXGlobalDefine> previousState_;
};

}  // namespace newstest
