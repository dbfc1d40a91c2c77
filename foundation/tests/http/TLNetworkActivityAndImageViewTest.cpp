#include <gtest/gtest.h>

#include <chrono>
#include <future>

#include "foundation/http/TLHTTPRequestOperation.h"
#include "foundation/http/TLImageViewLoader.h"
#include "foundation/http/TLNetworkActivityIndicatorManager.h"
#include "foundation/tests/http/HTTPTestSupport.h"
#include "os/graphics/ImageCodec.h"
#include "os/runtime/Clock.h"
#include "os/views/Application.h"

using os::testing::CannedResponse;
using os::testing::HttpTestServer;

namespace {

struct IndicatorLog {
  std::vector<bool> changes;
  void attach(TLNetworkActivityIndicatorManager& m) {
    m.setIndicatorHandler([this](bool visible) { changes.push_back(visible); });
  }
};

void settle() { os::RunLoop::main()->runUntilIdle(); }
void advance(double seconds) {
  os::Clock::advance(seconds);
  settle();
}

TEST(TLNetworkActivityIndicatorTest, BackToBackRequestsKeepTheIndicatorOn) {
  os::VirtualClockScope clock;
  settle();  // broadcasts of earlier operations go before this manager exists
  TLNetworkActivityIndicatorManager manager;
  IndicatorLog log;
  log.attach(manager);
  manager.setEnabled(true);
  manager.incrementActivityCount();
  settle();
  EXPECT_TRUE(manager.indicatorShown());
  manager.decrementActivityCount();
  settle();
  advance(0.1);
  manager.incrementActivityCount();  // within the delay: the hide is overtaken
  settle();
  advance(0.1);
  EXPECT_TRUE(manager.indicatorShown());
  manager.decrementActivityCount();
  settle();
  advance(0.16);
  EXPECT_TRUE(manager.indicatorShown());
  advance(0.02);
  EXPECT_FALSE(manager.indicatorShown());
  EXPECT_EQ(log.changes.back(), false);
  for (std::size_t i = 0; i + 1 < log.changes.size(); ++i) EXPECT_TRUE(log.changes[i]);
}

TEST(TLNetworkActivityIndicatorTest, CountNeverGoesBelowZeroAndDisabledManagerNeverTouchesTheIndicator) {
  os::VirtualClockScope clock;
  settle();  // broadcasts of earlier operations go before this manager exists
  TLNetworkActivityIndicatorManager manager;
  IndicatorLog log;
  log.attach(manager);
  manager.decrementActivityCount();
  manager.decrementActivityCount();
  EXPECT_EQ(manager.activityCount(), 0);
  manager.incrementActivityCount();
  EXPECT_EQ(manager.activityCount(), 1);
  EXPECT_TRUE(manager.isNetworkActivityIndicatorVisible());
  settle();
  manager.decrementActivityCount();
  settle();
  advance(1);
  EXPECT_TRUE(log.changes.empty());
}

TEST(TLNetworkActivityIndicatorTest, FollowsTheOperationsBroadcasts) {
  os::VirtualClockScope clock;
  HttpTestServer server;
  // The answer waits until the indicator is seen: a loopback exchange can otherwise start and
  // finish before the main queue looks at the count, and nothing is ever shown.
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  server.route("GET", "/ok", [released](const os::testing::RecordedRequest&) {
    released.wait_for(std::chrono::seconds(10));
    return CannedResponse::text("fine");
  });
  settle();
  TLNetworkActivityIndicatorManager manager;
  IndicatorLog log;
  log.attach(manager);
  manager.setEnabled(true);
  auto op = TLHTTPRequestOperation::create(os::URLRequest(server.url("/ok")));
  op->start();
  bool shown = httptest::runUntil([&] { return !log.changes.empty(); });
  release.set_value();
  ASSERT_TRUE(shown);
  EXPECT_TRUE(manager.indicatorShown());
  ASSERT_TRUE(httptest::runUntil([&] { return op->isFinished() && manager.activityCount() == 0; }));
  settle();
  advance(TLNetworkActivityIndicatorManager::kInvisibilityDelay);
  EXPECT_FALSE(manager.indicatorShown());
}

class FakeImageView : public TLImageViewTarget {
 public:
  void setImage(std::shared_ptr<os::Image> image) override {
    image_ = std::move(image);
    ++sets;
  }
  std::shared_ptr<os::Image> image() const override { return image_; }
  int sets = 0;

 private:
  std::shared_ptr<os::Image> image_;
};

std::string png(int side) {
  os::Bitmap bitmap(side, side);
  auto data = os::encodePNG(*os::Image::create(std::move(bitmap)));
  return std::string(data->begin(), data->end());
}

CannedResponse pngAnswer(int side, double delay = 0) {
  CannedResponse r = CannedResponse::text(png(side));
  r.contentType = "image/png";
  r.delay = delay;
  return r;
}

TEST(TLImageViewLoaderTest, LoadsShowsAndCachesThenAnswersFromTheCache) {
  HttpTestServer server;
  server.route("GET", "/a.png", pngAnswer(3));
  TLImageViewLoader::af_sharedImageCache().removeAllObjects();
  auto view = std::make_shared<FakeImageView>();
  auto placeholder = os::Image::create(os::Bitmap(1, 1));
  TLImageViewLoader::setImageWithURL(view, server.url("/a.png"), placeholder);
  EXPECT_EQ(view->image(), placeholder);
  ASSERT_TRUE(httptest::runUntil([&] { return view->image() != placeholder; }));
  EXPECT_EQ(view->image()->pixelWidth(), 3);
  EXPECT_FALSE(view->af_imageRequestOperation());
  EXPECT_EQ(server.requests()[0].headers.value("Accept"), "image/*");

  // From the cache: the closure gets the image with no request or response, nothing is queued.
  bool called = false;
  auto again = std::make_shared<FakeImageView>();
  os::URLRequest request(server.url("/a.png"));
  request.addValueForHTTPHeaderField("image/*", "Accept");
  TLImageViewLoader::setImageWithURLRequest(
      again, request, nullptr,
      [&](const auto& req, const auto& response, const auto& image) {
        called = true;
        EXPECT_FALSE(req);
        EXPECT_FALSE(response);
        EXPECT_EQ(image->pixelWidth(), 3);
      },
      nullptr);
  EXPECT_TRUE(called);
  EXPECT_FALSE(again->af_imageRequestOperation());
  EXPECT_EQ(server.requestCount(), 1u);

  // Asking to ignore cached data goes to the network.
  request.setCachePolicy(os::URLRequestCachePolicy::ReloadIgnoringLocalCacheData);
  TLImageViewLoader::setImageWithURLRequest(again, request, nullptr, nullptr, nullptr);
  EXPECT_TRUE(again->af_imageRequestOperation());
  ASSERT_TRUE(httptest::runUntil([&] { return again->image() != nullptr; }));
  EXPECT_EQ(server.requestCount(), 2u);
}

TEST(TLImageViewLoaderTest, ANewLoadCancelsThePreviousOneWhoseResultIsNotShown) {
  HttpTestServer server;
  server.route("GET", "/slow.png", pngAnswer(5, 0.3));
  server.route("GET", "/fast.png", pngAnswer(2));
  TLImageViewLoader::af_sharedImageCache().removeAllObjects();
  auto view = std::make_shared<FakeImageView>();
  std::vector<long> failures;
  os::URLRequest slow(server.url("/slow.png"));
  TLImageViewLoader::setImageWithURLRequest(view, slow, nullptr, nullptr,
                                            [&](const auto&, const auto&, const os::Error& e) { failures.push_back(e.code); });
  auto first = view->af_imageRequestOperation();
  ASSERT_TRUE(first);
  TLImageViewLoader::setImageWithURL(view, server.url("/fast.png"));
  EXPECT_TRUE(first->isCancelled());
  ASSERT_TRUE(httptest::runUntil([&] { return view->image() && first->isFinished(); }));
  os::RunLoop::main()->runUntilIdle();
  EXPECT_EQ(view->image()->pixelWidth(), 2);
  // The first load's closures saw that the view moved on.
  EXPECT_TRUE(failures.empty());
}

TEST(TLImageCacheTest, EvictsTheLeastRecentlyUsedPastItsLimits) {
  TLImageCache cache(2, 1 << 20);
  auto image = [](int side) { return os::Image::create(os::Bitmap(side, side)); };
  os::URLRequest a("http://x/a"), b("http://x/b"), c("http://x/c");
  cache.cacheImage(image(1), a);
  cache.cacheImage(image(1), b);
  EXPECT_TRUE(cache.cachedImageForRequest(a));  // a is now the most recent
  cache.cacheImage(image(1), c);
  EXPECT_EQ(cache.count(), 2u);
  EXPECT_TRUE(cache.cachedImageForRequest(a));
  EXPECT_FALSE(cache.cachedImageForRequest(b));
  EXPECT_TRUE(cache.cachedImageForRequest(c));

  TLImageCache small(10, 100 * 4);  // room for 100 pixels
  small.cacheImage(image(8), a);    // 64 pixels
  small.cacheImage(image(8), b);    // 128 in all: a goes
  EXPECT_FALSE(small.cachedImageForRequest(a));
  EXPECT_TRUE(small.cachedImageForRequest(b));
  EXPECT_LE(small.totalCost(), 400u);
}

}  // namespace

namespace {

TEST(TLImageViewLoaderTest, LoadsIntoAPlatformImageView) {
  HttpTestServer server;
  server.route("GET", "/v.png", pngAnswer(6));
  TLImageViewLoader::af_sharedImageCache().removeAllObjects();
  auto view = std::make_shared<os::ImageView>();
  TLImageViewLoader::setImageWithURL(view, server.url("/v.png"));
  EXPECT_TRUE(TLImageViewLoader::af_imageRequestOperation(view));
  ASSERT_TRUE(httptest::runUntil([&] { return view->image() != nullptr; }));
  EXPECT_EQ(view->image()->pixelWidth(), 6);
  EXPECT_FALSE(TLImageViewLoader::af_imageRequestOperation(view));
}

TEST(TLBackgroundTaskTest, ExpiryCancelsTheOperationAndEndsTheTask) {
  auto app = os::Application::create(nullptr);
  app->makeShared();
  HttpTestServer server;
  CannedResponse stall = CannedResponse::text("late");
  stall.delay = 5;
  server.route("GET", "/stall", stall);
  auto op = TLHTTPRequestOperation::create(os::URLRequest(server.url("/stall")));
  bool expired = false;
  op->setShouldExecuteAsBackgroundTaskWithExpirationHandler([&] { expired = true; });
  EXPECT_NE(op->backgroundTaskIdentifier(), 0u);
  EXPECT_EQ(app->backgroundTaskCount(), 1u);
  op->start();
  ASSERT_TRUE(server.waitForRequests(1, 30));
  app->expireBackgroundTasks();
  op->waitUntilFinished();
  EXPECT_TRUE(expired);
  EXPECT_EQ(op->error()->code, -999);
  EXPECT_EQ(op->backgroundTaskIdentifier(), 0u);
  EXPECT_EQ(app->backgroundTaskCount(), 0u);
}

}  // namespace
