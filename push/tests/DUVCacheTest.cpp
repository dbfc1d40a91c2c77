#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "os/runtime/NotificationCenter.h"
#include "os/store/PreparedFile.h"
#include "os/store/FileManager.h"
#include "os/store/Sandbox.h"
#include "os/testing/TestSandbox.h"
#include "os/views/Application.h"
#include "push/utilities/DUVFileCache.h"
#include "push/utilities/DUVMemoryCache.h"

namespace {

TEST(DUVMemoryCache, BoundOrderAndRemovalsStayConsistent) {
  auto cache = DUVMemoryCache::create();
  for (int i = 0; i < 1000; ++i) cache->setObject(os::Value(i), "k" + std::to_string(i));
  EXPECT_EQ(cache->cacheObjects().size(), 999u);
  EXPECT_FALSE(cache->hasObjectForKey("k0"));
  EXPECT_TRUE(cache->hasObjectForKey("k999"));

  // Removing by position takes the values only: the order and the count stay, and the next
  // additions evict those empty slots first.
  std::vector<std::string> order = cache->cacheKeys();
  cache->removeObjectsAtIndexes(0, 10);
  EXPECT_EQ(cache->cachedCount(), 999);
  EXPECT_EQ(cache->cacheKeys(), order);
  EXPECT_EQ(cache->cacheObjects().size(), 989u);
  EXPECT_FALSE(cache->hasObjectForKey("k1"));
  EXPECT_TRUE(cache->hasObjectForKey("k11"));
  cache->removeObjectsAtIndexes(5000, 3);  // past the end: nothing
  EXPECT_EQ(cache->cacheObjects().size(), 989u);
  for (int i = 0; i < 10; ++i) cache->setObject(os::Value(i), "n" + std::to_string(i));
  EXPECT_EQ(cache->cachedCount(), 999);
  EXPECT_EQ(cache->cacheObjects().size(), 999u);
  EXPECT_TRUE(cache->hasObjectForKey("k11"));

  cache->removeObject(os::Value(500));
  EXPECT_FALSE(cache->hasObjectForKey("k500"));
  EXPECT_EQ(cache->cachedCount(), 998);

  // A memory warning keeps what nobody else holds.
  os::NotificationCenter::defaultCenter().post(os::kApplicationDidReceiveMemoryWarningNotification);
  EXPECT_EQ(cache->cachedCount(), 998);
  cache->setClearWhenMemoryLow(true);
  os::NotificationCenter::defaultCenter().post(os::kApplicationDidReceiveMemoryWarningNotification);
  EXPECT_EQ(cache->cachedCount(), 0);
}

TEST(DUVMemoryCache, KeySetTwiceLosesItsValueWithItsFirstSlot) {
  auto cache = DUVMemoryCache::create();
  cache->setObject(os::Value("a"), "twice");
  cache->setObject(os::Value("b"), "twice");
  for (int i = 0; i < 998; ++i) cache->setObject(os::Value(i), "k" + std::to_string(i));
  EXPECT_FALSE(cache->hasObjectForKey("twice"));
  EXPECT_EQ(cache->cacheKeys().front(), "twice");
}

TEST(DUVFileCache, ValuesRoundTripThroughTheFileOnlyAfterASave) {
  os::TestSandbox sandbox;
  auto cache = DUVFileCache::startCacheFile("ZURAR");
  os::Date when = os::Date::fromTimeIntervalSince1970(1.7e9);
  cache->setObject(os::Value(when), "__DUVStart_time");
  cache->setObject(os::Value(os::Dictionary{{"n", os::Value(3)}}), "__DUVCheckTime");
  cache->setObject(os::Value(os::Data{1, 2, 3}), "blob");
  EXPECT_EQ(cache->objectForKey("__DUVStart_time"), os::Value(when));
  EXPECT_TRUE(DUVFileCache::startCacheFile("ZURAR")->objectForKey("__DUVStart_time").isNull());

  os::NotificationCenter::defaultCenter().post(os::kApplicationDidEnterBackgroundNotification);
  auto reread = DUVFileCache::startCacheFile("ZURAR");
  EXPECT_EQ(reread->objectForKey("__DUVStart_time"), os::Value(when));
  EXPECT_EQ(reread->objectForKey("__DUVCheckTime")["n"].intValue(), 3);
  EXPECT_EQ(reread->objectForKey("blob"), os::Value(os::Data{1, 2, 3}));
  EXPECT_TRUE(os::FileManager::defaultManager().fileExistsAtPath(sandbox.sandbox()->cachesDirectory() + "/Zurar/ZURAR"));
}

TEST(DUVFileCache, AnInterruptedOrDamagedWriteLeavesAReadableCache) {
  os::TestSandbox sandbox;
  auto cache = DUVFileCache::startCacheFile("ZURAR");
  cache->setObject(os::Value("old"), "state");
  ASSERT_TRUE(cache->synchronize());
  // A process killed between writing the new archive and renaming it leaves a stray file
  // beside the cache, never a half-written cache.
  std::string folder = sandbox.sandbox()->cachesDirectory() + "/Zurar/";
  os::FileManager::defaultManager().writeData(os::dataFromString("half an archi"), folder + ".ZURAR.tmp", {.atomic = false});
  EXPECT_EQ(DUVFileCache::startCacheFile("ZURAR")->objectForKey("state"), os::Value("old"));

  os::FileManager::defaultManager().writeData(os::dataFromString("garbage"), folder + "ZURAR");
  auto damaged = DUVFileCache::startCacheFile("ZURAR");
  EXPECT_TRUE(damaged->objectForKey("state").isNull());
  damaged->setObject(os::Value("new"), "state");
  ASSERT_TRUE(damaged->synchronize());
  EXPECT_EQ(DUVFileCache::startCacheFile("ZURAR")->objectForKey("state"), os::Value("new"));
}

// The snapshot written as a crash writes it: from a child that then dies.
void writeSnapshotsInChild() {
  pid_t pid = ::fork();
  if (pid == 0) {
    os::PreparedFile::writeAllPrepared();
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(DUVFileCache, TheCrashSnapshotArchivesOnlyWhatChangedAndReadsBackWhole) {
  os::TestSandbox sandbox;
  auto cache = DUVFileCache::startCacheFile("ZURAR");
  os::Date when = os::Date::fromTimeIntervalSince1970(1.7e9);
  cache->setObject(os::Value(when), "__DUVStart_time");
  os::Dictionary records;
  os::Array keys;
  for (int i = 0; i < 100; ++i) {
    records.set("r" + std::to_string(i), os::Value(os::Dictionary{{"type", os::Value("t")}, {"n", os::Value(i)}}));
    keys.push_back(os::Value("r" + std::to_string(i)));
  }
  auto reportCache = [&] {
    return os::Value(os::Dictionary{{"cacheObjects", os::Value(records)},
                                    {"cacheKeys", os::Value(keys)},
                                    {"sendingCache", os::Value(os::Dictionary{})}});
  };
  cache->prepareCrashSnapshot({{"__DUVHistroyCache", reportCache()}, {"__DUVLeft_time", os::Value(5.0)}});
  EXPECT_GT(cache->lastSnapshotPiecesArchived(), 5u);

  // A burst: one record changes, one leaves, the time moves. Only the runs of records and of the
  // key order that hold them and the time are encoded again.
  records.set("r7", os::Value(os::Dictionary{{"type", os::Value("t")}, {"n", os::Value(700)}}));
  records.remove("r8");
  keys.erase(keys.begin() + 8);
  cache->prepareCrashSnapshot({{"__DUVHistroyCache", reportCache()}, {"__DUVLeft_time", os::Value(6.0)}});
  EXPECT_GE(cache->lastSnapshotPiecesArchived(), 3u);
  EXPECT_LE(cache->lastSnapshotPiecesArchived(), 4u);
  cache->prepareCrashSnapshot({{"__DUVHistroyCache", reportCache()}, {"__DUVLeft_time", os::Value(6.0)}});
  EXPECT_EQ(cache->lastSnapshotPiecesArchived(), 0u);

  writeSnapshotsInChild();
  auto next = DUVFileCache::startCacheFile("ZURAR");
  EXPECT_EQ(next->objectForKey("__DUVStart_time"), os::Value(when));
  EXPECT_EQ(next->objectForKey("__DUVLeft_time"), os::Value(6.0));
  os::Value read = next->objectForKey("__DUVHistroyCache");
  EXPECT_EQ(read, reportCache());
  ASSERT_TRUE(read["cacheObjects"].dictionary());
  EXPECT_EQ(read["cacheObjects"].dictionary()->keys(), records.keys());  // the records' order too
  EXPECT_TRUE(read["sendingCache"].dictionary());

  // A save writes the whole archive again, read as before.
  ASSERT_TRUE(next->synchronize());
  EXPECT_EQ(DUVFileCache::startCacheFile("ZURAR")->objectForKey("__DUVHistroyCache"), reportCache());
}

}  // namespace
