#include <gtest/gtest.h>

#include "os/testing/HttpTestServer.h"
#include "os/testing/TestSandbox.h"
#include "ui/images/BNWebImagePrefetcher.h"
#include "ui/tests/images/ImageTestSupport.h"

using namespace imagetest;
using os::testing::CannedResponse;
using os::testing::HttpTestServer;

namespace {

struct CountingDelegate : BNWebImagePrefetcherDelegate {
  std::vector<std::pair<std::size_t, std::size_t>> progress;
  std::optional<std::pair<std::size_t, std::size_t>> finish;
  void imagePrefetcherDidPrefetchURL(BNWebImagePrefetcher&, const os::URL&, std::size_t finished, std::size_t total) override {
    progress.emplace_back(finished, total);
  }
  void imagePrefetcherDidFinishWithTotalCount(BNWebImagePrefetcher&, std::size_t total, std::size_t skipped) override {
    finish.emplace(total, skipped);
  }
};

class PrefetcherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int i = 0; i < 5; ++i) {
      CannedResponse answer;
      answer.body = text(png(2 + i, 2));
      answer.contentType = "image/png";
      server_.route("GET", "/" + std::to_string(i) + ".png", answer);
    }
    prefetcher_->setDelegate(delegate_);
  }
  std::vector<os::URL> urls(std::initializer_list<const char*> paths) {
    std::vector<os::URL> list;
    for (auto path : paths) list.push_back(*os::URL::parse(server_.url(path)));
    return list;
  }
  void waitIdle() {
    ASSERT_TRUE(runUntil([&] { return downloader_->currentDownloadCount() == 0 && !prefetcher_->manager()->isRunning(); }));
    settle();
  }

  os::TestSandbox sandbox_;
  HttpTestServer server_;
  std::shared_ptr<BNImageCache> cache_ = BNImageCache::initWithNamespace("prefetch");
  std::shared_ptr<BNWebImageDownloader> downloader_ = BNWebImageDownloader::create();
  std::shared_ptr<BNWebImagePrefetcher> prefetcher_ =
      BNWebImagePrefetcher::create(BNWebImageManager::create(cache_, downloader_));
  std::shared_ptr<CountingDelegate> delegate_ = std::make_shared<CountingDelegate>();
};

TEST_F(PrefetcherTest, CountsFinishedAndSkippedLoadsOfAList) {
  EXPECT_EQ(downloader_->maxConcurrentDownloads(), 3);
  EXPECT_EQ(prefetcher_->options(), static_cast<unsigned>(BNImageLoadLowPriority));
  std::vector<std::pair<std::size_t, std::size_t>> progress;
  std::optional<std::pair<std::size_t, std::size_t>> completed;
  int completions = 0;
  prefetcher_->prefetchURLs(urls({"/0.png", "/missing-a.png", "/1.png", "/missing-b.png", "/2.png"}),
                            [&](std::size_t f, std::size_t t) { progress.emplace_back(f, t); },
                            [&](std::size_t f, std::size_t s) { completed.emplace(f, s), ++completions; });
  EXPECT_LE(prefetcher_->requestedCount(), 3u);  // a window of three to begin with
  ASSERT_TRUE(runUntil([&] { return completed.has_value(); }));
  waitIdle();
  EXPECT_EQ(completed, (std::pair<std::size_t, std::size_t>(5, 2)));
  EXPECT_EQ(completions, 1);
  ASSERT_EQ(progress.size(), 5u);
  for (std::size_t i = 0; i < 5; ++i) EXPECT_EQ(progress[i], (std::pair<std::size_t, std::size_t>(i + 1, 5)));
  EXPECT_EQ(delegate_->progress, progress);
  EXPECT_EQ(delegate_->finish, (std::pair<std::size_t, std::size_t>(3, 2)));
  EXPECT_EQ(server_.requestCount(), 5u);
  EXPECT_TRUE(cache_->imageFromMemoryCacheForKey(server_.url("/2.png")));
}

TEST_F(PrefetcherTest, CachedURLsCountAsFinishedNotSkipped) {
  cache_->storeImage(os::Image::create(solid(3, 3, 0, 0, 0)), server_.url("/0.png"), false);
  cache_->storeImage(os::Image::create(solid(3, 3, 0, 0, 0)), server_.url("/1.png"), false);
  std::optional<std::pair<std::size_t, std::size_t>> completed;
  prefetcher_->prefetchURLs(urls({"/0.png", "/1.png"}), nullptr, [&](std::size_t f, std::size_t s) { completed.emplace(f, s); });
  ASSERT_TRUE(runUntil([&] { return completed.has_value(); }));
  EXPECT_EQ(completed, (std::pair<std::size_t, std::size_t>(2, 0)));
  EXPECT_EQ(server_.requestCount(), 0u);
  waitIdle();
}

TEST_F(PrefetcherTest, EmptyListCompletesAtOnceWithNothing) {
  std::optional<std::pair<std::size_t, std::size_t>> completed;
  prefetcher_->prefetchURLs({}, nullptr, [&](std::size_t f, std::size_t s) { completed.emplace(f, s); });
  EXPECT_EQ(completed, (std::pair<std::size_t, std::size_t>(0, 0)));  // before the call returns
  EXPECT_EQ(delegate_->finish, (std::pair<std::size_t, std::size_t>(0, 0)));
  EXPECT_EQ(prefetcher_->requestedCount(), 0u);
  EXPECT_EQ(server_.requestCount(), 0u);
}

TEST_F(PrefetcherTest, StepsQueuedForAReplacedListDoNotAdvanceTheNewOne) {
  // Cached entries finish during the call, each queueing the next step on the main queue.
  std::vector<os::URL> cached;
  for (int i = 0; i < 4; ++i) {
    auto u = *os::URL::parse(server_.url("/cached-" + std::to_string(i) + ".png"));
    cache_->storeImage(os::Image::create(solid(2, 2, 0, 0, 0)), u.absoluteString(), false);
    cached.push_back(u);
  }
  cached.push_back(*os::URL::parse(server_.url("/0.png")));
  bool firstCompleted = false;
  prefetcher_->prefetchURLs(cached, nullptr, [&](std::size_t, std::size_t) { firstCompleted = true; });
  EXPECT_EQ(prefetcher_->finishedCount(), 3u);

  downloader_->setSuspended(true);
  std::optional<std::pair<std::size_t, std::size_t>> completed;
  prefetcher_->prefetchURLs(urls({"/0.png", "/1.png", "/2.png", "/3.png", "/4.png"}), nullptr,
                            [&](std::size_t f, std::size_t s) { completed.emplace(f, s); });
  settle();  // the old list's queued steps run now
  EXPECT_EQ(prefetcher_->requestedCount(), 3u);  // still the window of three
  downloader_->setSuspended(false);
  ASSERT_TRUE(runUntil([&] { return completed.has_value(); }));
  waitIdle();
  EXPECT_FALSE(firstCompleted);
  EXPECT_EQ(completed, (std::pair<std::size_t, std::size_t>(5, 0)));
  EXPECT_EQ(server_.requestCount(), 5u);
}

TEST_F(PrefetcherTest, ANewListReplacesTheRunningOne) {
  downloader_->setSuspended(true);
  bool firstCompleted = false;
  prefetcher_->prefetchURLs(urls({"/0.png", "/1.png", "/2.png"}), nullptr, [&](std::size_t, std::size_t) { firstCompleted = true; });
  ASSERT_TRUE(runUntil([&] { return downloader_->currentDownloadCount() == 3; }));
  std::optional<std::pair<std::size_t, std::size_t>> completed;
  prefetcher_->prefetchURLs(urls({"/3.png", "/4.png"}), nullptr, [&](std::size_t f, std::size_t s) { completed.emplace(f, s); });
  EXPECT_EQ(prefetcher_->finishedCount(), 0u);
  downloader_->setSuspended(false);
  ASSERT_TRUE(runUntil([&] { return completed.has_value(); }));
  waitIdle();
  EXPECT_FALSE(firstCompleted);
  EXPECT_EQ(completed, (std::pair<std::size_t, std::size_t>(2, 0)));
  EXPECT_EQ(delegate_->progress.size(), 2u);
  for (const auto& request : server_.requests()) EXPECT_TRUE(request.path == "/3.png" || request.path == "/4.png") << request.path;
}

}  // namespace

// With a refresh of cached pictures each load finishes twice (the cached picture, then the
// download or its failure); the list still counts each URL once and completes once, at its length.
TEST_F(PrefetcherTest, RefreshedLoadsCountOnceEachHoweverTheirDownloadsEnd) {
  prefetcher_->setOptions(BNImageLoadLowPriority | BNImageLoadRefreshCached);
  for (const char* path : {"/0.png", "/missing.png", "/1.png"})
    cache_->storeImage(os::Image::create(solid(3, 3, 0, 0, 0)), server_.url(path), false);
  std::vector<std::pair<std::size_t, std::size_t>> progress;
  std::vector<std::pair<std::size_t, std::size_t>> completions;
  prefetcher_->prefetchURLs(urls({"/0.png", "/missing.png", "/1.png", "/2.png"}),
                            [&](std::size_t f, std::size_t t) { progress.emplace_back(f, t); },
                            [&](std::size_t f, std::size_t s) { completions.emplace_back(f, s); });
  ASSERT_TRUE(runUntil([&] { return !completions.empty(); }));
  waitIdle();
  EXPECT_EQ(server_.requestCount(), 4u);  // every picture was fetched again
  ASSERT_EQ(completions.size(), 1u);
  EXPECT_EQ(completions[0], (std::pair<std::size_t, std::size_t>(4, 0)));
  ASSERT_EQ(progress.size(), 4u);
  for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(progress[i], (std::pair<std::size_t, std::size_t>(i + 1, 4)));
  EXPECT_EQ(delegate_->progress, progress);
  EXPECT_EQ(delegate_->finish, (std::pair<std::size_t, std::size_t>(4, 0)));
  EXPECT_EQ(prefetcher_->finishedCount(), 4u);
}
