#include <gtest/gtest.h>

#include "os/graphics/Image.h"
#include "os/graphics/ImageCodec.h"
#include "os/runtime/RunLoop.h"
#include "os/testing/HttpTestServer.h"
#include "os/console/ScreenDump.h"
#include "os/console/TouchDriver.h"
#include "os/testing/ScreenHelpers.h"
#include "os/views/Application.h"
#include "os/views/Window.h"
#include "sharing/handlers/OBSocialSnsHandler.h"
#include "sharing/tests/SharingFixture.h"
#include "sharing/widgets/OBImageLoader.h"
#include "sharing/widgets/OBSocialXToast.h"

namespace {

class Waiting : public OBSocialSnsHandlerDelegate {
 public:
  bool handleOpenURL(const os::URL& url) override {
    urls.push_back(url.absoluteString());
    return true;
  }
  std::vector<std::string> urls;
};

class HandlerDispatcherTest : public SharingFixture {};

// A message a handler keeps on screen comes off with `removeMaskView`.
TEST_F(HandlerDispatcherTest, RemoveMaskViewTakesTheHandlersToastOff) {
  auto app = os::Application::create(nullptr);
  app->makeShared();
  auto window = os::testing::showKeyWindow(std::make_shared<os::ViewController>());
  auto dispatcher = OBSocialSnsHandler::shareInstance();
  dispatcher->removeMaskView();
  dispatcher->toast = OBSocialXToast::makeText("请稍候");
  dispatcher->toast->setDuration(60000).show();
  ASSERT_TRUE(os::findVisibleText("请稍候"));
  dispatcher->removeMaskView();
  EXPECT_FALSE(os::findVisibleText("请稍候"));
  EXPECT_FALSE(dispatcher->toast);
  os::testing::hideKeyWindow(window);
}

TEST_F(HandlerDispatcherTest, OneURLPerWaitAndSchemesFromTheInfoList) {
  auto dispatcher = OBSocialSnsHandler::shareInstance();
  auto handler = std::make_shared<Waiting>();
  dispatcher->setCurrentSnsHandler(handler);
  EXPECT_TRUE(dispatcher->handleOpenURL(*os::URL::parse("sina.y://answer?code=1")));
  EXPECT_FALSE(dispatcher->handleOpenURL(*os::URL::parse("sina.y://answer?code=2")));
  EXPECT_EQ(handler->urls.size(), 1u);

  auto type = [](std::vector<std::string> schemes) {
    os::Array list;
    for (auto& s : schemes) list.emplace_back(s);
    return os::Value(os::Dictionary{{"CFBundleURLName", os::Value("n")}, {"CFBundleURLSchemes", os::Value(list)}});
  };
  sandbox_.writeBundlePropertyList("Info.plist", os::Value(os::Dictionary{
                                                     {"CFBundleIdentifier", os::Value("com.example.reader")},
                                                     {"CFBundleURLTypes", os::Value(os::Array{type({"wb123", "sina.x"}), type({"sina.y"})})}}));
  EXPECT_EQ(dispatcher->getUrlSchemeWithPrefix("sina."), "sina.y://");
  EXPECT_FALSE(dispatcher->searchForURLSchemeWithPrefix("velmora"));
  EXPECT_FALSE(dispatcher->getSocialSnsHandler("wxfavorite"));
}

TEST(HandlerDispatcherText, CutsAtCharactersAndOnlyShrinksPictures) {
  EXPECT_EQ(OBSocialSnsHandler::subString("一二三四五六", os::StringEncoding::UTF16BE, 5), "一二");
  EXPECT_EQ(OBSocialSnsHandler::subString("一二三", os::StringEncoding::UTF8, 0), "一二三");
  EXPECT_FALSE(OBSocialSnsHandler::subString("", os::StringEncoding::UTF8, 3));
  auto wide = OBSocialSnsHandler::scaleImage(os::Image::create(os::Bitmap(1000, 500)), os::Size{200, 200});
  EXPECT_EQ(wide->pixelWidth(), 200);
  EXPECT_EQ(wide->pixelHeight(), 100);
  auto small = os::Image::create(os::Bitmap(100, 50));
  EXPECT_EQ(OBSocialSnsHandler::scaleImage(small, os::Size{200, 200}), small);
}

class Seen : public OBImageLoaderObserver {
 public:
  void imageLoaderDidLoad(const os::Notification&) override { ++loaded; }
  void imageLoaderDidFailToLoad(const os::Notification& n) override { failedCode = n.userInfo["error"]["code"].intValue(); }
  int loaded = 0;
  long long failedCode = 0;
};

// A picture server: "/a.png" and "/b.png" answer a 3 x 2 PNG, "/page" a page that is no picture.
void servePictures(os::testing::HttpTestServer& server) {
  auto png = os::encodePNG(*os::Image::create(os::Bitmap(3, 2)));
  os::testing::CannedResponse picture;
  picture.body.assign(png->begin(), png->end());
  picture.contentType = "image/png";
  server.route("GET", "/a.png", picture);
  server.route("GET", "/b.png", picture);
  server.route("GET", "/page", os::testing::CannedResponse::text("<html>"));
}

TEST_F(HandlerDispatcherTest, ImageLoaderDownloadsOncePerURLAndRefusesWhatIsNotAPicture) {
  os::testing::HttpTestServer server;
  servePictures(server);

  auto loader = OBImageLoader::sharedImageLoader();
  auto first = std::make_shared<Seen>(), second = std::make_shared<Seen>(), bad = std::make_shared<Seen>();
  EXPECT_FALSE(loader->imageForURL(server.url("/a.png"), first));
  EXPECT_FALSE(loader->imageForURL(server.url("/a.png"), second));
  loader->loadImageForURL(server.url("/page"), bad);
  os::TouchDriver::advance(0.02);  // downloads start a moment after they are asked for
  ASSERT_TRUE(os::RunLoop::main()->runUntil([&] { return first->loaded && second->loaded && bad->failedCode; }, 30));
  EXPECT_EQ(server.requestCount(), 2u);
  EXPECT_EQ(bad->failedCode, 406);
  EXPECT_TRUE(loader->imageForURL(server.url("/a.png"), {}));
  // Keys are 64-bit hashes: stable, and apart for URLs that differ by one character.
  EXPECT_EQ(OBImageLoader::cacheKey("http://a/1"), OBImageLoader::cacheKey("http://a/1"));
  EXPECT_NE(OBImageLoader::cacheKey("http://a/1"), OBImageLoader::cacheKey("http://a/2"));
  EXPECT_GT(OBImageLoader::cacheKey("http://a/1").size(), std::string("PRImageLoader-4294967295").size() - 2);
}

class ViewOutcomes : public OBImageViewDelegate {
 public:
  void imageViewLoadedImage(OBImageView&) override { ++loaded; }
  void imageViewFailedToLoadImage(OBImageView&, const os::Error& error) override { failedCode = error.code; }
  int loaded = 0;
  long long failedCode = 0;
};

// The image view: the placeholder until its picture arrives, at once from the cache, the old
// URL's picture never shown once the URL changed, and the failure of an answer that is no picture.
TEST_F(HandlerDispatcherTest, ImageViewShowsItsOwnURLsPicture) {
  os::testing::HttpTestServer server;
  servePictures(server);
  auto placeholder = os::Image::create(os::Bitmap(1, 1));
  auto outcomes = std::make_shared<ViewOutcomes>();
  auto settle = [] { os::TouchDriver::advance(0.02); };  // downloads start a moment after they are asked for

  auto view = std::make_shared<OBImageView>(placeholder, outcomes);
  view->setImageURL(server.url("/a.png"));
  EXPECT_EQ(view->image(), placeholder);
  EXPECT_FALSE(view->isCacheImage());
  settle();
  ASSERT_TRUE(os::RunLoop::main()->runUntil([&] { return view->status() == 1; }, 30));
  EXPECT_FALSE(view->isHidden());
  ASSERT_TRUE(view->image());
  EXPECT_EQ(view->image()->pixelWidth(), 3);
  EXPECT_EQ(outcomes->loaded, 1);

  auto cached = std::make_shared<OBImageView>(placeholder, outcomes);
  cached->setImageURL(server.url("/a.png"));
  EXPECT_TRUE(cached->isCacheImage());
  EXPECT_EQ(cached->image()->pixelWidth(), 3);
  EXPECT_EQ(outcomes->loaded, 2);

  // Asked for b, then moved on to the page: b's picture is not shown.
  auto moved = std::make_shared<OBImageView>(placeholder, outcomes);
  moved->setImageURL(server.url("/b.png"));
  moved->setImageURL(server.url("/page"));
  settle();
  ASSERT_TRUE(os::RunLoop::main()->runUntil([&] { return moved->status() == 2; }, 30));
  EXPECT_EQ(moved->image(), placeholder);
  EXPECT_EQ(outcomes->failedCode, 406);
  EXPECT_EQ(outcomes->loaded, 2);
}


// The bytes of an animation are asked for in GIF mode, which is that download's own: a picture
// another view waits for meanwhile still reaches it, and the caller of the bytes hears when they
// are in the cache, whether they are a picture or not, or that nothing came.
TEST_F(HandlerDispatcherTest, GifModeIsTheDownloadsOwnAndItsCallerHearsTheOutcome) {
  os::testing::HttpTestServer server;
  servePictures(server);
  server.route("GET", "/empty", os::testing::CannedResponse::text(""));
  auto loader = OBImageLoader::sharedImageLoader();
  auto placeholder = os::Image::create(os::Bitmap(1, 1));
  auto outcomes = std::make_shared<ViewOutcomes>();
  auto view = std::make_shared<OBImageView>(placeholder, outcomes);
  auto animation = std::make_shared<Seen>(), page = std::make_shared<Seen>(), empty = std::make_shared<Seen>();

  view->setImageURL(server.url("/a.png"));
  EXPECT_FALSE(loader->dataForURL(server.url("/b.png"), animation, true));
  EXPECT_FALSE(loader->dataForURL(server.url("/page"), page, true));
  EXPECT_FALSE(loader->dataForURL(server.url("/empty"), empty, true));
  os::TouchDriver::advance(0.02);  // downloads start a moment after they are asked for
  ASSERT_TRUE(os::RunLoop::main()->runUntil(
      [&] { return view->status() != 0 && animation->loaded && page->loaded && empty->failedCode; }, 30));
  EXPECT_EQ(view->status(), 1);
  EXPECT_EQ(outcomes->loaded, 1);
  EXPECT_EQ(view->image()->pixelWidth(), 3);
  EXPECT_EQ(animation->loaded, 1);
  EXPECT_EQ(page->loaded, 1);
  EXPECT_EQ(page->failedCode, 0);
  EXPECT_EQ(empty->failedCode, 406);
  EXPECT_EQ(empty->loaded, 0);
  auto bytes = loader->dataForURL(server.url("/page"), {}, true);
  ASSERT_TRUE(bytes);
  EXPECT_EQ(std::string(bytes->begin(), bytes->end()), "<html>");
  EXPECT_TRUE(loader->dataForURL(server.url("/b.png"), {}, false));
  EXPECT_EQ(server.requestCount(), 4u);
}

}  // namespace
