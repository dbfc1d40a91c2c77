#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <future>

#include "os/runtime/Clock.h"
#include "os/runtime/NotificationCenter.h"
#include "os/runtime/Semaphore.h"
#include "os/runtime/Thread.h"
#include "os/store/FileManager.h"
#include "os/store/Sandbox.h"
#include "os/testing/TestSandbox.h"
#include "os/views/Application.h"
#include "ui/images/BNImageCache.h"
#include "ui/tests/images/ImageTestSupport.h"

using namespace imagetest;

namespace {

os::FileManager& files() { return os::FileManager::defaultManager(); }

class ImageCacheTest : public ::testing::Test {
 protected:
  os::VirtualClockScope clock_;
  os::TestSandbox sandbox_;
  std::shared_ptr<BNImageCache> cache_ = BNImageCache::initWithNamespace("test");

  // Waits until every disk task queued so far has run and its main-queue answer arrived.
  void drain() {
    bool done = false;
    cache_->calculateSizeWithCompletionBlock([&](std::uint64_t, std::uint64_t) { done = true; });
    ASSERT_TRUE(runUntil([&] { return done; }));
  }
  BNImagePtr picture(int w = 4, int h = 3) { return os::Image::create(solid(w, h, 1, 2, 3)); }
  // Holds the io queue until the answer is called, so what is queued behind it waits.
  std::function<void()> holdIoQueue() {
    auto gate = std::make_shared<os::Semaphore>();
    cache_->ioQueue()->async([gate] { gate->wait(); });
    return [gate] { gate->signal(); };
  }
};

TEST_F(ImageCacheTest, FilesAreNamedByTheMD5OfTheKeyInsideTheNamespaceFolder) {
  EXPECT_EQ(BNImageCache::cachedFileNameForKey("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(cache_->diskCachePath(),
            os::appendingPathComponent(os::Sandbox::current()->cachesDirectory(), "com.brannock.BNWebImageCache.test"));
  EXPECT_EQ(cache_->defaultCachePathForKey("abc"), cache_->diskCachePath() + "/900150983cd24fb0d6963f7d28e17f72");
}

TEST_F(ImageCacheTest, StoreWritesPNGOrJPEGOrTheGivenBytes) {
  auto jpegData = jpeg(4, 3);
  cache_->storeImage(picture(), "no-data");
  cache_->storeImage(picture(), true, jpegData, "jpeg-recalculated", true);
  os::Data raw = png(4, 3, 9, 9, 9);
  cache_->storeImage(picture(), false, raw, "as-given", true);
  cache_->storeImage(picture(), "memory-only", false);
  drain();
  auto stored = [&](const std::string& key) { return files().contentsAtPath(cache_->defaultCachePathForKey(key)); };
  ASSERT_TRUE(stored("no-data"));
  EXPECT_TRUE(ImageDataHasPNGPreffix(*stored("no-data")));
  ASSERT_TRUE(stored("jpeg-recalculated"));
  EXPECT_EQ((*stored("jpeg-recalculated"))[0], 0xFF);
  EXPECT_NE(*stored("jpeg-recalculated"), jpegData);
  EXPECT_EQ(stored("as-given"), raw);
  EXPECT_FALSE(stored("memory-only"));
  EXPECT_TRUE(cache_->imageFromMemoryCacheForKey("memory-only"));
  // Nothing happens without an image or a key.
  cache_->storeImage(nullptr, "nothing");
  cache_->storeImage(picture(), "");
  drain();
  EXPECT_EQ(cache_->getDiskCount(), 3u);
}

TEST_F(ImageCacheTest, QueryAnswersFromMemoryAtOnceThenFromDiskLater) {
  cache_->storeImage(picture(4, 3), "k");
  drain();

  BNCacheSource source = BNCacheSourceNone;
  BNImagePtr got;
  auto token = cache_->queryDiskCacheForKey("k", [&](BNImagePtr image, BNCacheSource s) { got = image, source = s; });
  EXPECT_EQ(token, nullptr);  // answered synchronously
  EXPECT_EQ(source, BNCacheSourceMemory);
  ASSERT_TRUE(got);

  cache_->clearMemory();
  got = nullptr;
  bool answered = false;
  bool onMain = false;
  token = cache_->queryDiskCacheForKey("k", [&](BNImagePtr image, BNCacheSource s) {
    got = image, source = s, answered = true, onMain = os::DispatchQueue::isMainThread();
  });
  EXPECT_NE(token, nullptr);
  EXPECT_FALSE(answered);
  ASSERT_TRUE(runUntil([&] { return answered; }));
  EXPECT_TRUE(onMain);
  EXPECT_EQ(source, BNCacheSourceDisk);
  ASSERT_TRUE(got);
  EXPECT_EQ(got->pixelWidth(), 4);
  // The disk hit went back into memory.
  EXPECT_TRUE(cache_->imageFromMemoryCacheForKey("k"));

  answered = false;
  cache_->queryDiskCacheForKey("missing", [&](BNImagePtr image, BNCacheSource s) { got = image, source = s, answered = true; });
  ASSERT_TRUE(runUntil([&] { return answered; }));
  EXPECT_EQ(got, nullptr);
  EXPECT_EQ(source, BNCacheSourceDisk);

  answered = false;
  cache_->queryDiskCacheForKey("", [&](BNImagePtr image, BNCacheSource s) { source = s, answered = true; });
  EXPECT_TRUE(answered);
  EXPECT_EQ(source, BNCacheSourceNone);
}

TEST_F(ImageCacheTest, CancelledQueryNeverAnswers) {
  cache_->storeImage(picture(), "k", true);
  drain();
  cache_->clearMemory();
  bool answered = false;
  // Hold the io queue so the cancel surely comes before the query runs.
  auto release = holdIoQueue();
  auto token = cache_->queryDiskCacheForKey("k", [&](BNImagePtr, BNCacheSource) { answered = true; });
  ASSERT_TRUE(token);
  token->cancel();
  release();
  drain();
  EXPECT_FALSE(answered);
  EXPECT_FALSE(cache_->imageFromMemoryCacheForKey("k"));
}

TEST_F(ImageCacheTest, QueryWaitingBehindADownloadsStoreAnswersTheStoredPicture) {
  cache_->storeImage(picture(), "k", true);
  drain();
  cache_->clearMemory();
  auto release = holdIoQueue();
  BNImagePtr got;
  BNCacheSource source = BNCacheSourceNone;
  cache_->queryDiskCacheForKey("k", [&](BNImagePtr image, BNCacheSource s) { got = image, source = s; });
  // The download of the same picture finishes first.
  auto downloaded = picture();
  cache_->storeImage(downloaded, "k", false);
  release();
  ASSERT_TRUE(runUntil([&] { return got != nullptr; }));
  EXPECT_EQ(got, downloaded);
  EXPECT_EQ(source, BNCacheSourceMemory);
  EXPECT_EQ(cache_->imageFromMemoryCacheForKey("k"), downloaded);
}

// A disk read asked for before a removal reads the file the removal is about to delete; what it
// read answers its caller but must not come back into memory once the picture is gone.
TEST_F(ImageCacheTest, DiskReadsWaitingBeforeARemovalLeaveThePictureRemoved) {
  struct Road {
    const char* name;
    std::function<void(std::function<void()> done)> remove;
  };
  const Road roads[] = {
      {"remove from memory and disk", [&](std::function<void()> done) { cache_->removeImageForKey("k", std::move(done)); }},
      {"remove from memory only",
       [&](std::function<void()> done) {
         cache_->removeImageForKey("k", false, nullptr);
         cache_->removeImageForKey("unrelated", std::move(done));  // only to wait behind the query
       }},
      {"clear both tiers",
       [&](std::function<void()> done) {
         cache_->clearMemory();
         cache_->clearDiskOnCompletion(std::move(done));
       }},
  };
  for (const auto& road : roads) {
    SCOPED_TRACE(road.name);
    cache_->storeImage(picture(), "k", true);
    drain();
    cache_->clearMemory();
    auto release = holdIoQueue();
    BNImagePtr answer;
    bool answered = false;
    cache_->queryDiskCacheForKey("k", [&](BNImagePtr image, BNCacheSource) { answer = image, answered = true; });
    bool removed = false;
    road.remove([&] { removed = true; });
    release();
    ASSERT_TRUE(runUntil([&] { return answered && removed; }));
    EXPECT_TRUE(answer);  // asked while the picture was there
    EXPECT_FALSE(cache_->imageFromMemoryCacheForKey("k"));
    // Later reads fill memory again as before.
    cache_->clearDiskOnCompletion(nullptr);
    cache_->storeImage(picture(), "k", true);
    drain();
    cache_->clearMemory();
    ASSERT_TRUE(cache_->imageFromDiskCacheForKey("k"));
    EXPECT_TRUE(cache_->imageFromMemoryCacheForKey("k"));
    cache_->removeImageForKey("k", nullptr);
    drain();
  }
}

TEST_F(ImageCacheTest, SynchronousDiskLookupFillsMemoryAndSearchesReadOnlyPaths) {
  auto extra = os::appendingPathComponent(sandbox_.root(), "bundled-cache");
  files().createDirectoryAtPath(extra, true);
  files().writeData(png(2, 2), cache_->cachePathForKey("http://h/icon@2x.png", extra));
  cache_->addReadOnlyCachePath(extra);
  cache_->addReadOnlyCachePath(extra);
  EXPECT_FALSE(cache_->diskImageExistsWithKey("http://h/icon@2x.png"));  // only the own folder counts
  auto image = cache_->imageFromDiskCacheForKey("http://h/icon@2x.png");
  ASSERT_TRUE(image);
  EXPECT_EQ(image->scale(), 2.0);
  EXPECT_EQ(cache_->imageFromMemoryCacheForKey("http://h/icon@2x.png"), image);
  // Bytes that are no image are a miss, not a crash.
  cache_->storeImage(picture(), false, os::Data{'x', 'y'}, "junk", true);
  drain();
  cache_->clearMemory();
  EXPECT_TRUE(cache_->diskImageExistsWithKey("junk"));
  EXPECT_EQ(cache_->imageFromDiskCacheForKey("junk"), nullptr);
}

TEST_F(ImageCacheTest, RemoveAndClearDisk) {
  cache_->storeImage(picture(), "a");
  cache_->storeImage(picture(), "b");
  drain();
  bool removed = false;
  cache_->removeImageForKey("a", [&] { removed = true; });
  EXPECT_FALSE(cache_->imageFromMemoryCacheForKey("a"));
  ASSERT_TRUE(runUntil([&] { return removed; }));
  EXPECT_FALSE(cache_->diskImageExistsWithKey("a"));

  bool memoryOnly = false;
  cache_->removeImageForKey("b", false, [&] { memoryOnly = true; });
  EXPECT_TRUE(memoryOnly);  // at once, on the caller's thread
  EXPECT_TRUE(cache_->diskImageExistsWithKey("b"));

  bool cleared = false;
  cache_->clearDiskOnCompletion([&] { cleared = true; });
  ASSERT_TRUE(runUntil([&] { return cleared; }));
  bool isDirectory = false;
  EXPECT_TRUE(files().fileExistsAtPath(cache_->diskCachePath(), &isDirectory));
  EXPECT_TRUE(isDirectory);
  EXPECT_EQ(cache_->getDiskCount(), 0u);
}

// The synchronous lookup reads the file on the caller's thread while a removal may run on the io
// queue; a picture removed while it was read stays out of memory. The file is a pipe here, so the
// read waits until the test has removed the picture.
TEST_F(ImageCacheTest, ASynchronousLookupReadingWhileThePictureIsRemovedLeavesItRemoved) {
  files().createDirectoryAtPath(cache_->diskCachePath(), true);
  const std::string path = cache_->defaultCachePathForKey("k");
  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  BNImagePtr read;
  auto reader = os::Thread::create("cache.reader", [&] { read = cache_->imageFromDiskCacheForKey("k"); });
  reader->start();
  const int writer = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);  // returns once the lookup opened the file
  ASSERT_GE(writer, 0);
  bool removed = false;
  cache_->removeImageForKey("k", [&] { removed = true; });
  ASSERT_TRUE(runUntil([&] { return removed; }));
  const os::Data bytes = png(4, 3);
  ASSERT_EQ(::write(writer, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  ::close(writer);
  reader->join();
  EXPECT_TRUE(read);  // it read the picture that was there when it looked
  EXPECT_FALSE(cache_->imageFromMemoryCacheForKey("k"));
  EXPECT_FALSE(cache_->diskImageExistsWithKey("k"));
}

// A picture's write killed part-way (the reader killed, the power lost) leaves a hidden temporary
// file the walk of the cache's files never sees. The clean-up removes it; pictures and other
// hidden files stay.
TEST_F(ImageCacheTest, CleanUpRemovesTheTemporaryFilesOfWritesCutShort) {
  cache_->storeImage(picture(), "kept");
  drain();
  pid_t killed = ::fork();
  if (killed == 0) ::_exit(0);
  int status = 0;
  ASSERT_EQ(::waitpid(killed, &status, 0), killed);
  const std::string folder = cache_->diskCachePath();
  const std::vector<std::string> cutShort{
      os::temporaryFileName(os::appendingPathComponent(folder, BNImageCache::cachedFileNameForKey("kept")), killed, 0),
      os::temporaryFileName(os::appendingPathComponent(folder, BNImageCache::cachedFileNameForKey("lost")), killed, 1)};
  for (const std::string& path : cutShort) ASSERT_TRUE(files().writeData(os::Data(4096, 1), path, {.atomic = false}));
  const std::string hidden = os::appendingPathComponent(folder, ".keep");
  ASSERT_TRUE(files().writeData(os::Data{1}, hidden, {.atomic = false}));

  bool cleaned = false;
  cache_->cleanDiskWithCompletionBlock([&] { cleaned = true; });
  ASSERT_TRUE(runUntil([&] { return cleaned; }));
  for (const std::string& path : cutShort) EXPECT_FALSE(files().fileExistsAtPath(path)) << path;
  EXPECT_TRUE(files().fileExistsAtPath(hidden));
  EXPECT_TRUE(cache_->diskImageExistsWithKey("kept"));
  EXPECT_EQ(files().contentsOfDirectoryAtPath(folder)->size(), 2u);
}

TEST_F(ImageCacheTest, CleanUpRemovesFilesAWeekOldOrOlder) {
  cache_->storeImage(picture(), "old");
  drain();
  os::Clock::advance(3 * 24 * 3600);
  cache_->storeImage(picture(), "newer");
  drain();
  // Exactly at the expiry moment counts as expired.
  os::Clock::advance(4 * 24 * 3600);
  bool cleaned = false;
  cache_->cleanDiskWithCompletionBlock([&] { cleaned = true; });
  ASSERT_TRUE(runUntil([&] { return cleaned; }));
  EXPECT_FALSE(cache_->diskImageExistsWithKey("old"));
  EXPECT_TRUE(cache_->diskImageExistsWithKey("newer"));

  // A shorter age set by the application applies at once.
  cache_->setMaxCacheAge(60);
  os::Clock::advance(61);
  cleaned = false;
  cache_->cleanDiskWithCompletionBlock([&] { cleaned = true; });
  ASSERT_TRUE(runUntil([&] { return cleaned; }));
  EXPECT_EQ(cache_->getDiskCount(), 0u);
}

TEST_F(ImageCacheTest, SizeBudgetRemovesOldestFirstUntilBelowHalf) {
  std::vector<std::string> keys = {"k0", "k1", "k2", "k3"};
  for (const auto& key : keys) {
    cache_->storeImage(picture(), key);
    drain();
    os::Clock::advance(10);
  }
  // Modification dates may also be set by hand: make k2 the oldest.
  files().setModificationDate(cache_->defaultCachePathForKey("k2"), os::Date::now().addingTimeInterval(-1000));
  auto allocated = files().attributesOfItemAtPath(cache_->defaultCachePathForKey("k0"))->allocatedSize;
  ASSERT_GT(allocated, 0u);
  // Four files over a budget of three: the walk stops once the rest is below one and a half.
  cache_->setMaxCacheSize(static_cast<std::uint32_t>(allocated * 3));
  bool cleaned = false;
  cache_->cleanDiskWithCompletionBlock([&] { cleaned = true; });
  ASSERT_TRUE(runUntil([&] { return cleaned; }));
  EXPECT_FALSE(cache_->diskImageExistsWithKey("k2"));
  EXPECT_FALSE(cache_->diskImageExistsWithKey("k0"));
  EXPECT_FALSE(cache_->diskImageExistsWithKey("k1"));
  EXPECT_TRUE(cache_->diskImageExistsWithKey("k3"));

  // No budget: nothing beyond expiry is removed.
  cache_->setMaxCacheSize(0);
  cache_->storeImage(picture(), "k4");
  drain();
  cleaned = false;
  cache_->cleanDiskWithCompletionBlock([&] { cleaned = true; });
  ASSERT_TRUE(runUntil([&] { return cleaned; }));
  EXPECT_EQ(cache_->getDiskCount(), 2u);
}

TEST_F(ImageCacheTest, BudgetsBeyondFourGigabytesAreKeptWhole) {
  cache_->storeImage(picture(), "a");
  cache_->storeImage(picture(), "b");
  drain();
  // Cut to 32 bits this budget would be a single byte and empty the cache.
  cache_->setMaxCacheSize((std::uint64_t{1} << 32) + 1);
  EXPECT_EQ(cache_->maxCacheSize(), (std::uint64_t{1} << 32) + 1);
  bool cleaned = false;
  cache_->cleanDiskWithCompletionBlock([&] { cleaned = true; });
  ASSERT_TRUE(runUntil([&] { return cleaned; }));
  EXPECT_EQ(cache_->getDiskCount(), 2u);
}

TEST_F(ImageCacheTest, ReplacingAFileLeavesOnlyTheNewBytes) {
  os::Data first = png(3, 3, 1, 1, 1), second = png(5, 5, 2, 2, 2);
  cache_->storeImage(picture(), false, first, "k", true);
  cache_->storeImage(picture(), false, second, "k", true);
  drain();
  EXPECT_EQ(files().contentsAtPath(cache_->defaultCachePathForKey("k")), second);
  // No half-written or temporary file stays beside it, hidden or not.
  auto names = files().contentsOfDirectoryAtPath(cache_->diskCachePath());
  ASSERT_TRUE(names);
  EXPECT_EQ(*names, std::vector<std::string>{BNImageCache::cachedFileNameForKey("k")});
}

TEST_F(ImageCacheTest, SizesAskedFromTheDiskQueueItselfAnswerInPlace) {
  os::Data raw = png(3, 3);
  cache_->storeImage(picture(), false, raw, "a", true);
  std::promise<std::pair<std::uint64_t, std::uint64_t>> answer;
  auto got = answer.get_future();
  // A task on the io queue (as a completion handed to it might be) asks for the sizes.
  cache_->ioQueue()->async([&] { answer.set_value({cache_->getSize(), cache_->getDiskCount()}); });
  ASSERT_EQ(got.wait_for(std::chrono::seconds(15)), std::future_status::ready);
  EXPECT_EQ(got.get(), (std::pair<std::uint64_t, std::uint64_t>(raw.size(), 1)));
}

TEST_F(ImageCacheTest, SizesAndBroadcasts) {
  os::Data raw = png(3, 3);
  cache_->storeImage(picture(), false, raw, "a", true);
  cache_->storeImage(picture(), false, raw, "b", true);
  drain();
  EXPECT_EQ(cache_->getSize(), 2 * raw.size());
  std::uint64_t count = 0, size = 0;
  bool done = false;
  cache_->calculateSizeWithCompletionBlock([&](std::uint64_t c, std::uint64_t s) { count = c, size = s, done = true; });
  ASSERT_TRUE(runUntil([&] { return done; }));
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(size, 2 * raw.size());

  EXPECT_TRUE(cache_->imageFromMemoryCacheForKey("a"));
  os::NotificationCenter::defaultCenter().post("ApplicationDidReceiveMemoryWarningNotification");
  EXPECT_FALSE(cache_->imageFromMemoryCacheForKey("a"));

  os::Clock::advance(8 * 24 * 3600);
  os::NotificationCenter::defaultCenter().post("ApplicationDidEnterBackgroundNotification");
  EXPECT_TRUE(runUntil([&] { return cache_->getDiskCount() == 0; }));
}

// Pictures keep arriving after the application went to the background (downloads end while it
// leaves); those queued for the disk when it ends are written before the process goes, and so is
// one queued before it went, behind a busy disk queue.
TEST_F(ImageCacheTest, PicturesQueuedForTheDiskWhenTheApplicationEndsAreWrittenBeforeItHasLeft) {
  os::Data raw = png(3, 3);
  for (bool backgroundFirst : {true, false}) {
    SCOPED_TRACE(backgroundFirst ? "stored in the background" : "stored while active");
    auto app = os::Application::create(nullptr, "com.example.pictures");
    app->makeShared();
    app->launch();
    const std::string key = backgroundFirst ? "late" : "early";
    if (backgroundFirst) {
      app->enterBackground();
      ASSERT_TRUE(runUntil([&] { return app->backgroundTaskCount() == 0; }));
    }
    // The disk queue is busy until the main thread runs again: only an end that waits lets it go.
    os::DispatchQueue::main()->async(holdIoQueue());
    cache_->storeImage(picture(), false, raw, key, true);
    EXPECT_TRUE(app->leave(30));
    EXPECT_TRUE(files().fileExistsAtPath(cache_->defaultCachePathForKey(key)));
    os::RunLoop::main()->runUntilIdle();
    drain();
  }
}

TEST(ImageMemoryCache, CostIsPointsTimesScaleAndTheLimitEvictsLeastRecentlyUsed) {
  EXPECT_EQ(BNImageCache::cacheCostForImage(*os::Image::create(solid(20, 10, 0, 0, 0), 2.0)), 10u * 5u * 2u);
  BNMemoryCache memory("m");
  memory.setTotalCostLimit(100);
  auto image = os::Image::create(solid(1, 1, 0, 0, 0));
  memory.setObject(image, "a", 40);
  memory.setObject(image, "b", 40);
  EXPECT_TRUE(memory.objectForKey("a"));  // a is now the most recent
  memory.setObject(image, "c", 40);
  EXPECT_FALSE(memory.objectForKey("b"));
  EXPECT_TRUE(memory.objectForKey("a"));
  EXPECT_EQ(memory.totalCost(), 80u);
  memory.setObject(image, "a", 10);  // replacing updates the cost
  EXPECT_EQ(memory.totalCost(), 50u);
}

TEST(ImageMemoryCache, OnePictureOverTheLimitStaysAloneUntilTheNextStore) {
  BNMemoryCache memory("m");
  memory.setTotalCostLimit(100);
  auto image = os::Image::create(solid(1, 1, 0, 0, 0));
  memory.setObject(image, "a", 40);
  memory.setObject(image, "b", 40);
  // Over the limit by itself: everything older leaves, the newcomer is kept.
  memory.setObject(image, "huge", 150);
  EXPECT_FALSE(memory.objectForKey("a"));
  EXPECT_FALSE(memory.objectForKey("b"));
  EXPECT_TRUE(memory.objectForKey("huge"));
  EXPECT_EQ(memory.count(), 1u);
  EXPECT_EQ(memory.totalCost(), 150u);
  // The next store pushes it out as the least recently used.
  memory.setObject(image, "c", 10);
  EXPECT_FALSE(memory.objectForKey("huge"));
  EXPECT_TRUE(memory.objectForKey("c"));
  EXPECT_EQ(memory.totalCost(), 10u);
  // Exactly at the limit is not over it.
  memory.setObject(image, "d", 90);
  EXPECT_TRUE(memory.objectForKey("c"));
  EXPECT_TRUE(memory.objectForKey("d"));
  EXPECT_EQ(memory.totalCost(), 100u);
}

}  // namespace
