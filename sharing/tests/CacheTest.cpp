#include "os/graphics/Image.h"
#include "os/runtime/RunLoop.h"
#include "os/runtime/Thread.h"
#include "os/store/FileManager.h"
#include "os/testing/TestSandbox.h"
#include "sharing/service/OBSCacheManager.h"
#include "sharing/widgets/OBCache.h"
#include "sharing/tests/SharingFixture.h"

namespace {

class CacheTest : public SharingFixture {
 protected:
  std::string directory() const { return sandbox_.root() + "/cache"; }
};

TEST_F(CacheTest, LifetimesAndTheIndexOnDisk) {
  auto cache = std::make_shared<OBCache>(directory());
  cache->setData(os::dataFromString("gone"), "zero", 0);
  EXPECT_FALSE(cache->hasCacheForKey("zero"));
  EXPECT_FALSE(cache->dataForKey("zero"));

  cache->setImage(*os::Image::create(os::Bitmap(3, 2)), "picture", 10);
  cache->setPlist(os::Value(os::Dictionary{{"a", 1}}), "list");
  EXPECT_EQ((*cache->plistForKey("list"))["a"].intValue(), 1);  // before the disk has it
  os::Clock::advance(11);
  os::RunLoop::main()->runUntilIdle();
  EXPECT_FALSE(cache->dataForKey("picture"));
  ASSERT_TRUE(cache->imageForKey("picture"));  // expiry is not looked at for images
  EXPECT_EQ(cache->imageForKey("picture")->pixelWidth(), 3);

  cache->setData(os::dataFromString("x"), kOBCacheIndexName);  // reserved
  cache->removeCacheForKey(kOBCacheIndexName);
  cache->waitUntilWritten();
  EXPECT_TRUE(os::FileManager::defaultManager().fileExistsAtPath(directory() + "/" + kOBCacheIndexName));

  // A restart deletes the files of expired entries; live ones are read back.
  cache.reset();
  auto reopened = std::make_shared<OBCache>(directory());
  EXPECT_FALSE(os::FileManager::defaultManager().fileExistsAtPath(reopened->pathForKey("picture")));
  EXPECT_EQ((*reopened->plistForKey("list"))["a"].intValue(), 1);
  reopened->removeCacheForKey("list");
  EXPECT_FALSE(reopened->hasCacheForKey("list"));

  // A store whose index write was still waiting survives the store's end.
  reopened->setData(os::dataFromString("late"), "late");
  reopened.reset();
  EXPECT_EQ(OBCache(directory()).dataForKey("late"), os::dataFromString("late"));
}

TEST_F(CacheTest, KeysFromOutsideStayInsideTheFolder) {
  auto cache = std::make_shared<OBCache>(directory());
  for (std::string key : {"../escape", "/etc/x", "..", ".", "OBCache%2Eplist", "a/b"}) {
    cache->setData(os::dataFromString(key), key);
    EXPECT_EQ(cache->pathForKey(key).find('/', directory().size() + 1), std::string::npos) << key;
  }
  cache->waitUntilWritten();
  for (std::string key : {"../escape", "/etc/x", "..", ".", "OBCache%2Eplist", "a/b"})
    EXPECT_EQ(cache->dataForKey(key), os::dataFromString(key)) << key;
  EXPECT_FALSE(os::FileManager::defaultManager().fileExistsAtPath(sandbox_.root() + "/escape"));
}

TEST_F(CacheTest, DamagedIndexReadsAsEmpty) {
  ASSERT_TRUE(os::TestSandbox::writeFile(directory() + "/" + kOBCacheIndexName, "not a property list"));
  auto cache = std::make_shared<OBCache>(directory());
  EXPECT_FALSE(cache->hasCacheForKey("anything"));
  cache->setData(os::dataFromString("1"), "k");
  EXPECT_TRUE(cache->hasCacheForKey("k"));
}

// Writes from many threads land in the order they were asked for.
TEST_F(CacheTest, ConcurrentWritesKeepTheLastOfEachKey) {
  auto cache = std::make_shared<OBCache>(directory());
  std::vector<std::shared_ptr<os::Thread>> threads;
  for (int t = 0; t < 8; ++t) {
    threads.push_back(os::Thread::create("writer", [cache, t] {
      for (int i = 0; i < 125; ++i)
        cache->setData(os::dataFromString(std::to_string(t) + ":" + std::to_string(i)), "key" + std::to_string(t));
    }));
    threads.back()->start();
  }
  for (auto& thread : threads) thread->join();
  for (int t = 0; t < 8; ++t)
    EXPECT_EQ(cache->dataForKey("key" + std::to_string(t)), os::dataFromString(std::to_string(t) + ":124"));
  cache->waitUntilWritten();
  for (int t = 0; t < 8; ++t)
    EXPECT_EQ(os::FileManager::defaultManager().contentsAtPath(cache->pathForKey("key" + std::to_string(t))),
              os::dataFromString(std::to_string(t) + ":124"));
}

TEST_F(CacheTest, CacheManagerMakesTheDefaultLifetimeAWeek) {
  EXPECT_EQ(OBCache::currentCache()->defaultTimeoutInterval(), 86400);
  auto manager = OBSCacheManager::shareInstance();
  EXPECT_EQ(OBCache::currentCache()->defaultTimeoutInterval(), 604800);
  manager->setValueInDocument(os::Value("k1"), "appkey");
  EXPECT_EQ(manager->getValueFromDocument("appkey"), os::Value("k1"));
}

}  // namespace
