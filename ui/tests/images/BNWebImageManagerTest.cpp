#include <gtest/gtest.h>

#include <future>

#include "os/net/URLError.h"
#include "os/testing/HttpTestServer.h"
#include "os/testing/ScriptedURLTransport.h"
#include "os/testing/TestSandbox.h"
#include "ui/images/BNWebImageManager.h"
#include "ui/tests/images/ImageTestSupport.h"

using namespace imagetest;
using os::testing::CannedResponse;
using os::testing::HttpTestServer;

namespace {

CannedResponse imageAnswer(const os::Data& data) {
  CannedResponse answer;
  answer.body = text(data);
  answer.contentType = "image/png";
  return answer;
}

struct Report {
  BNImagePtr image;
  std::optional<os::Error> error;
  BNCacheSource source = BNCacheSourceNone;
  bool finished = false;
  std::optional<os::URL> url;
  bool onMain = false;
};

class ManagerTest : public ::testing::Test {
 protected:
  os::TestSandbox sandbox_;
  HttpTestServer server_;
  std::shared_ptr<BNImageCache> cache_ = BNImageCache::initWithNamespace("manager");
  std::shared_ptr<BNWebImageDownloader> downloader_ = BNWebImageDownloader::create();
  std::shared_ptr<BNWebImageManager> manager_ = BNWebImageManager::create(cache_, downloader_);

  std::optional<os::URL> url(const std::string& path) { return os::URL::parse(server_.url(path)); }

  std::shared_ptr<BNWebImageCombinedOperation> load(const std::optional<os::URL>& u, std::vector<Report>& reports, unsigned options = 0) {
    return manager_->downloadImageWithURL(u, options, nullptr,
                                          [&reports](BNImagePtr image, std::optional<os::Error> error, BNCacheSource source,
                                                     bool finished, std::optional<os::URL> url) {
                                            reports.push_back({image, error, source, finished, url, os::DispatchQueue::isMainThread()});
                                          });
  }
  // Loads and waits for the finished report.
  Report loadAndWait(const std::optional<os::URL>& u, unsigned options = 0) {
    std::vector<Report> reports;
    load(u, reports, options);
    EXPECT_TRUE(runUntil([&] { return !reports.empty() && reports.back().finished; }));
    return reports.empty() ? Report{} : reports.back();
  }
  void waitIdle() {
    ASSERT_TRUE(runUntil([&] { return downloader_->currentDownloadCount() == 0 && !manager_->isRunning(); }));
    settle();
  }
};

TEST_F(ManagerTest, DownloadsOnceThenAnswersFromMemoryThenFromDisk) {
  server_.route("GET", "/p.png", imageAnswer(png(5, 5)));
  auto first = loadAndWait(url("/p.png"));
  ASSERT_TRUE(first.image);
  EXPECT_EQ(first.source, BNCacheSourceNone);
  EXPECT_TRUE(first.onMain);
  EXPECT_EQ(first.url, url("/p.png"));

  // A memory hit is reported before the call returns.
  std::vector<Report> reports;
  load(url("/p.png"), reports);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].source, BNCacheSourceMemory);

  // The download was stored on disk too.
  ASSERT_TRUE(runUntil([&] { return manager_->diskImageExistsForURL(*url("/p.png")); }));
  cache_->clearMemory();
  EXPECT_TRUE(manager_->cachedImageExistsForURL(*url("/p.png")));
  auto fromDisk = loadAndWait(url("/p.png"));
  EXPECT_EQ(fromDisk.source, BNCacheSourceDisk);
  ASSERT_TRUE(fromDisk.image);
  EXPECT_EQ(fromDisk.image->pixelWidth(), 5);
  EXPECT_EQ(server_.requestCount(), 1u);
  waitIdle();
  EXPECT_FALSE(manager_->isRunning());
}

TEST_F(ManagerTest, TextURLsLoadLikeURLsAndBadTextIsNoURL) {
  server_.route("GET", "/t.png", imageAnswer(png(2, 2)));
  std::vector<Report> reports;
  manager_->downloadImageWithURL(server_.url("/t.png"), 0, nullptr,
                                 [&](BNImagePtr image, std::optional<os::Error> error, BNCacheSource, bool finished,
                                     std::optional<os::URL>) {
                                   Report r;
                                   r.image = image;
                                   reports.push_back(r);
                                 });
  ASSERT_TRUE(runUntil([&] { return !reports.empty(); }));
  EXPECT_TRUE(reports[0].image);
  waitIdle();

  auto bad = loadAndWait(os::URL::parse("not a url"));
  ASSERT_TRUE(bad.error);
  EXPECT_EQ(bad.error->code, -1100);
  EXPECT_TRUE(bad.finished);
  EXPECT_FALSE(manager_->isRunning());
}

TEST_F(ManagerTest, PermanentFailuresAreRememberedAndTransientOnesRetried) {
  server_.route("GET", "/busy.png", CannedResponse::text("try later", 503));
  auto missing = loadAndWait(url("/missing.png"));
  ASSERT_TRUE(missing.error);
  EXPECT_EQ(missing.error->code, 404);
  EXPECT_TRUE(manager_->isFailedURL(*url("/missing.png")));

  auto again = loadAndWait(url("/missing.png"));
  ASSERT_TRUE(again.error);
  EXPECT_EQ(again.error->domain, os::kURLErrorDomain);
  EXPECT_EQ(again.error->code, -1100);
  EXPECT_EQ(server_.requestCount(), 1u);  // refused without asking the server

  loadAndWait(url("/missing.png"), BNImageLoadRetryFailed);
  EXPECT_EQ(server_.requestCount(), 2u);

  auto busy = loadAndWait(url("/busy.png"));
  ASSERT_TRUE(busy.error);
  EXPECT_EQ(busy.error->code, 503);
  EXPECT_FALSE(manager_->isFailedURL(*url("/busy.png")));
  server_.route("GET", "/busy.png", imageAnswer(png(2, 2)));
  auto recovered = loadAndWait(url("/busy.png"));
  EXPECT_TRUE(recovered.image);

  auto refused = os::URL::parse("http://127.0.0.1:" + std::to_string(HttpTestServer::refusedPort()) + "/r.png");
  auto down = loadAndWait(refused);
  ASSERT_TRUE(down.error);
  EXPECT_FALSE(manager_->isFailedURL(*refused));
  waitIdle();
}

TEST_F(ManagerTest, ANotFoundAnswerIsRememberedATimeOutIsNot) {
  using Answer = os::testing::ScriptedURLTransport::Answer;
  auto transport = std::make_shared<os::testing::ScriptedURLTransport>();
  os::URLTransport::setShared(transport);
  struct Restore {
    ~Restore() { os::URLTransport::setShared(nullptr); }
  } restore;
  os::HTTPHeaderFields pngType;
  pngType.set("Content-Type", "image/png");

  auto slow = os::URL::parse("http://images.example/slow.png");
  transport->enqueue(Answer::fail(os::kURLErrorTimedOut));
  auto timedOut = loadAndWait(slow);
  ASSERT_TRUE(timedOut.error);
  EXPECT_EQ(timedOut.error->code, os::kURLErrorTimedOut);
  EXPECT_FALSE(manager_->isFailedURL(*slow));
  transport->enqueue(Answer::ok(text(png(3, 3)), 200, pngType));
  EXPECT_TRUE(loadAndWait(slow).image);  // asked again, and this time it came

  auto gone = os::URL::parse("http://images.example/gone.png");
  transport->enqueue(Answer::ok("not here", 404));
  auto missing = loadAndWait(gone);
  ASSERT_TRUE(missing.error);
  EXPECT_EQ(missing.error->code, 404);
  EXPECT_TRUE(manager_->isFailedURL(*gone));
  auto refused = loadAndWait(gone);
  ASSERT_TRUE(refused.error);
  EXPECT_EQ(refused.error->code, -1100);
  EXPECT_EQ(transport->sent().size(), 3u);  // the refused load never reached the wire
  waitIdle();
}

// An image server that answers every picture with "not found", for pictures of names it never
// gave before: the manager remembers the newest failures within its bounds, not every one.
TEST_F(ManagerTest, FailuresOfEverNewURLsAreRememberedOnlyWithinTheirBounds) {
  const std::string padding(4000, 'p');
  auto nth = [&](int n) { return url("/" + padding + std::to_string(n) + ".png"); };
  const std::size_t urlBytes = nth(0)->absoluteString().size();
  const int fit = static_cast<int>(BNWebImageManager::kMaxFailedURLBytes / urlBytes);
  const int loads = fit + 10;
  for (int n = 0; n < loads; ++n) {
    auto missing = loadAndWait(nth(n));
    ASSERT_TRUE(missing.error) << n;
    ASSERT_EQ(missing.error->code, 404) << n;
  }
  EXPECT_EQ(server_.requestCount(), static_cast<std::size_t>(loads));
  int remembered = 0;
  for (int n = 0; n < loads; ++n) remembered += manager_->isFailedURL(*nth(n));
  EXPECT_EQ(remembered, fit);
  EXPECT_TRUE(manager_->isFailedURL(*nth(loads - 1)));
  EXPECT_FALSE(manager_->isFailedURL(*nth(0)));

  // The newest is still refused without asking; the oldest, forgotten, is asked once more.
  EXPECT_EQ(loadAndWait(nth(loads - 1)).error->code, -1100);
  EXPECT_EQ(server_.requestCount(), static_cast<std::size_t>(loads));
  EXPECT_EQ(loadAndWait(nth(0)).error->code, 404);
  EXPECT_EQ(server_.requestCount(), static_cast<std::size_t>(loads + 1));

  // Short names: the count bound holds as well.
  for (std::size_t n = 0; n < BNWebImageManager::kMaxFailedURLs + 5; ++n) {
    auto missing = loadAndWait(url("/m" + std::to_string(n)));
    ASSERT_TRUE(missing.error) << n;
  }
  EXPECT_FALSE(manager_->isFailedURL(*url("/m4")));
  EXPECT_TRUE(manager_->isFailedURL(*url("/m5")));
  EXPECT_FALSE(manager_->isFailedURL(*nth(loads - 1)));
  waitIdle();
}

TEST_F(ManagerTest, FailureClassification) {
  using M = BNWebImageManager;
  EXPECT_TRUE(M::isPermanentFailure(os::Error(os::kURLErrorDomain, 404)));
  EXPECT_TRUE(M::isPermanentFailure(os::Error(os::kURLErrorDomain, 410)));
  EXPECT_TRUE(M::isPermanentFailure(os::Error(BNWebImageErrorDomain, BNWebImageErrorZeroPixels)));
  for (long code : {500L, 503L, 408L, 429L, -999L, -1001L, -1003L, -1004L, -1005L, -1009L})
    EXPECT_FALSE(M::isPermanentFailure(os::Error(os::kURLErrorDomain, code))) << code;
}

TEST_F(ManagerTest, TwoLoadsShareADownloadAndOneCancellingLeavesTheOther) {
  server_.route("GET", "/cell.png", imageAnswer(png(4, 4)));
  downloader_->setSuspended(true);
  std::vector<Report> leaving, staying;
  auto a = load(url("/cell.png"), leaving);
  auto b = load(url("/cell.png"), staying);
  // Both cache queries must have missed and joined the download before it may start.
  ASSERT_TRUE(runUntil([&] { return downloader_->callbackCountForURL(server_.url("/cell.png")) == 2; }));
  a->cancel();
  EXPECT_TRUE(a->isCancelled());
  downloader_->setSuspended(false);
  ASSERT_TRUE(runUntil([&] { return !staying.empty(); }));
  waitIdle();
  EXPECT_TRUE(leaving.empty());
  ASSERT_EQ(staying.size(), 1u);
  EXPECT_TRUE(staying[0].image);
  EXPECT_EQ(server_.requestCount(), 1u);
}

TEST_F(ManagerTest, CancellingDuringTheDownloadReportsNothing) {
  CannedResponse slow = imageAnswer(png(2, 2));
  slow.delay = 30;
  server_.route("GET", "/slow.png", slow);
  std::vector<Report> reports;
  auto operation = load(url("/slow.png"), reports);
  // The cache miss is answered on the main thread: keep it turning until the request is out.
  ASSERT_TRUE(runUntil([&] { return server_.requestCount() == 1; }));
  operation->cancel();
  waitIdle();
  EXPECT_TRUE(reports.empty());
  EXPECT_FALSE(manager_->isRunning());
  // A cancel closure set afterwards runs at once.
  bool ran = false;
  operation->setCancelBlock([&] { ran = true; });
  EXPECT_TRUE(ran);
}

TEST_F(ManagerTest, CancellingDuringTheCacheQueryLeavesNothingRunning) {
  server_.route("GET", "/q.png", imageAnswer(png(2, 2)));
  std::promise<void> release;
  auto released = release.get_future().share();
  cache_->ioQueue()->async([released] { released.wait(); });  // the query waits behind this
  std::vector<Report> reports;
  auto operation = load(url("/q.png"), reports);
  EXPECT_TRUE(manager_->isRunning());
  operation->cancel();
  EXPECT_FALSE(manager_->isRunning());
  release.set_value();
  waitIdle();
  EXPECT_TRUE(reports.empty());
  EXPECT_EQ(server_.requestCount(), 0u);
}

TEST_F(ManagerTest, RefreshReportsTheCachedImageThenTheDownload) {
  server_.route("GET", "/r.png", imageAnswer(png(3, 3)));
  cache_->storeImage(os::Image::create(solid(7, 7, 0, 0, 0)), manager_->cacheKeyForURL(url("/r.png")), false);
  std::vector<Report> reports;
  load(url("/r.png"), reports, BNImageLoadRefreshCached);
  ASSERT_TRUE(runUntil([&] { return reports.size() == 2; }));
  EXPECT_EQ(reports[0].source, BNCacheSourceMemory);
  EXPECT_EQ(reports[0].image->pixelWidth(), 7);
  EXPECT_EQ(reports[1].source, BNCacheSourceNone);
  EXPECT_EQ(reports[1].image->pixelWidth(), 3);
  waitIdle();
}

TEST_F(ManagerTest, RefreshFirstAnswerRespectsACancelBeforeItArrives) {
  server_.route("GET", "/r.png", imageAnswer(png(3, 3)));
  cache_->storeImage(os::Image::create(solid(7, 7, 0, 0, 0)), manager_->cacheKeyForURL(url("/r.png")), false);
  std::vector<Report> reports;
  // From a worker thread the cached answer is queued for the main thread; the caller cancels
  // before the main thread gets to it.
  os::DispatchQueue::global()->sync([&] {
    auto operation = load(url("/r.png"), reports, BNImageLoadRefreshCached);
    operation->cancel();
  });
  waitIdle();
  EXPECT_TRUE(reports.empty());
}

struct RefusingDelegate : BNWebImageManagerDelegate {
  bool respondsToShouldDownloadImage() const override { return true; }
  bool imageManagerShouldDownloadImageForURL(BNWebImageManager&, const os::URL&) override { return false; }
};

struct FramingDelegate : BNWebImageManagerDelegate {
  bool respondsToTransformDownloadedImage() const override { return true; }
  BNImagePtr imageManagerTransformDownloadedImage(BNWebImageManager&, const BNImagePtr& image, const os::URL&) override {
    return os::Image::create(solid(image->pixelWidth() + 2, image->pixelHeight() + 2, 0, 0, 255));
  }
};

TEST_F(ManagerTest, DelegateMayRefuseDownloadsOrTransformImages) {
  server_.route("GET", "/d.png", imageAnswer(png(3, 3)));
  auto refusing = std::make_shared<RefusingDelegate>();
  manager_->setDelegate(refusing);
  auto refused = loadAndWait(url("/d.png"));
  EXPECT_FALSE(refused.image);
  EXPECT_FALSE(refused.error);
  EXPECT_EQ(server_.requestCount(), 0u);

  auto framing = std::make_shared<FramingDelegate>();
  manager_->setDelegate(framing);
  auto framed = loadAndWait(url("/d.png"));
  ASSERT_TRUE(framed.image);
  EXPECT_EQ(framed.image->pixelWidth(), 5);
  waitIdle();
  EXPECT_EQ(cache_->imageFromMemoryCacheForKey(server_.url("/d.png"))->pixelWidth(), 5);
}

TEST_F(ManagerTest, MemoryOnlyKeepsDownloadsOffTheDiskAndKeyFilterNamesEntries) {
  server_.route("GET", "/m.png", imageAnswer(png(3, 3)));
  manager_->setCacheKeyFilter([](const os::URL& u) { return u.path(); });
  EXPECT_EQ(manager_->cacheKeyForURL(url("/m.png?x=1")), "/m.png");
  auto loaded = loadAndWait(url("/m.png"), BNImageLoadMemoryOnly);
  ASSERT_TRUE(loaded.image);
  waitIdle();
  bool exists = true;
  bool answered = false;
  cache_->diskImageExistsWithKey("/m.png", [&](bool e) { exists = e, answered = true; });
  ASSERT_TRUE(runUntil([&] { return answered; }));
  EXPECT_FALSE(exists);
  EXPECT_TRUE(cache_->imageFromMemoryCacheForKey("/m.png"));
}

TEST_F(ManagerTest, CancelAllStopsEveryRunningLoad) {
  downloader_->setSuspended(true);
  server_.route("GET", "/1.png", imageAnswer(png(2, 2)));
  server_.route("GET", "/2.png", imageAnswer(png(2, 2)));
  std::vector<Report> reports;
  load(url("/1.png"), reports);
  load(url("/2.png"), reports);
  ASSERT_TRUE(runUntil([&] { return downloader_->currentDownloadCount() == 2; }));
  EXPECT_TRUE(manager_->isRunning());
  manager_->cancelAll();
  EXPECT_FALSE(manager_->isRunning());
  downloader_->setSuspended(false);
  waitIdle();
  EXPECT_TRUE(reports.empty());
  EXPECT_EQ(server_.requestCount(), 0u);
}

}  // namespace
