#include <sys/wait.h>
#include <unistd.h>

#include "os/core/String.h"
#include "os/graphics/Image.h"
#include "os/runtime/RunLoop.h"
#include "os/runtime/Semaphore.h"
#include "os/runtime/Thread.h"
#include "os/store/FileManager.h"
#include "os/store/PropertyList.h"
#include "os/testing/CutShortWrite.h"
#include "os/testing/FullDisk.h"
#include "os/testing/LogCapture.h"
#include "os/testing/NoDescriptorLeft.h"
#include "os/testing/TestSandbox.h"
#include "os/views/Application.h"
#include "sharing/service/OBSBarEntity.h"
#include "sharing/service/OBSCacheManager.h"
#include "sharing/service/OBSDataManagerSet.h"
#include "sharing/service/OBSUserManager.h"
#include "sharing/service/OBSocialAccountEntity.h"
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

// A store killed while it wrote an entry or the index leaves hidden temporary files; the next start
// removes them, and keeps the entries and any other hidden file.
TEST_F(CacheTest, AStartRemovesTheTemporaryFilesOfWritesCutShort) {
  auto& files = os::FileManager::defaultManager();
  {
    OBCache cache(directory());
    cache.setData(os::dataFromString("kept"), "kept");
    cache.waitUntilWritten();
  }
  pid_t killed = ::fork();
  if (killed == 0) ::_exit(0);
  int status = 0;
  ASSERT_EQ(::waitpid(killed, &status, 0), killed);
  const std::vector<std::string> cutShort{
      os::temporaryFileName(directory() + "/" + OBCache::fileNameForKey("lost"), killed, 2),
      os::temporaryFileName(directory() + "/" + kOBCacheIndexName, killed, 3)};
  for (const std::string& path : cutShort) ASSERT_TRUE(files.writeData(os::Data(4096, 1), path, {.atomic = false}));
  ASSERT_TRUE(files.writeData(os::Data{1}, directory() + "/.keep", {.atomic = false}));

  OBCache reopened(directory());
  for (const std::string& path : cutShort) EXPECT_FALSE(files.fileExistsAtPath(path)) << path;
  EXPECT_TRUE(files.fileExistsAtPath(directory() + "/.keep"));
  EXPECT_EQ(reopened.dataForKey("kept"), os::dataFromString("kept"));
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

// Keys the index could not list as they are (a NUL, bytes that are not UTF-8, the empty key): each
// gets a file of its own, the index stays writable, and what was stored after them survives a
// restart. The empty key's expiry removes its own file, not the folder.
TEST_F(CacheTest, AnyKeyKeepsTheIndexWritableAndTheFolderWhole) {
  auto& files = os::FileManager::defaultManager();
  const std::string nul("a\0b", 3), notText("\xff\xfe", 2);
  auto cache = std::make_shared<OBCache>(directory());
  cache->setData(os::dataFromString("nul"), nul);
  cache->setData(os::dataFromString("bytes"), notText);
  cache->setData(os::dataFromString("empty"), "", 5);
  cache->setData(os::dataFromString("after"), "after");
  EXPECT_EQ(cache->pathForKey(""), directory() + "/%");
  EXPECT_NE(cache->pathForKey(nul), cache->pathForKey("a"));
  EXPECT_TRUE(cache->saveCacheDictionary());
  cache.reset();

  auto reopened = std::make_shared<OBCache>(directory());
  EXPECT_EQ(reopened->dataForKey(nul), os::dataFromString("nul"));
  EXPECT_EQ(reopened->dataForKey(notText), os::dataFromString("bytes"));
  EXPECT_EQ(reopened->dataForKey(""), os::dataFromString("empty"));
  EXPECT_EQ(reopened->dataForKey("after"), os::dataFromString("after"));
  reopened.reset();

  os::Clock::advance(6);
  OBCache third(directory());
  EXPECT_TRUE(files.fileExistsAtPath(directory() + "/" + kOBCacheIndexName));
  EXPECT_FALSE(third.dataForKey(""));
  EXPECT_FALSE(files.fileExistsAtPath(directory() + "/%"));
  EXPECT_EQ(third.dataForKey("after"), os::dataFromString("after"));
}

// A key whose escaped name fits a file name keeps it, however near the limit, through any number
// of writes; a longer one goes by a digest of fixed length. Either is read back at once and after
// a restart.
TEST_F(CacheTest, KeysOfAnyLengthAreStoredAndReadBack) {
  std::string chinese;
  for (int i = 0; i < 28; ++i) chinese += "军";
  const std::string near(241, 'k'), longest(255, 'n'), ff(85, '\xff');
  const std::vector<std::string> keys = {near, longest, ff, chinese, chinese + "事", std::string(300, 'a'),
                                         std::string(301, 'a'), "http://img.example/" + std::string(400, 'p') + ".png"};
  auto cache = std::make_shared<OBCache>(directory());
  for (const auto& key : keys) cache->setData(os::dataFromString("first " + key), key);
  cache->waitUntilWritten();
  for (const auto& key : keys) EXPECT_EQ(cache->dataForKey(key), os::dataFromString("first " + key)) << key.size();
  EXPECT_EQ(cache->pathForKey(near), directory() + "/" + near);
  EXPECT_EQ(cache->pathForKey(longest), directory() + "/" + longest);
  EXPECT_EQ(cache->pathForKey(ff), directory() + "/" + os::replaceAll(std::string(85, 'x'), "x", "%FF"));
  const std::string digest = cache->pathForKey(std::string(300, 'a')).substr(directory().size() + 1);
  EXPECT_EQ(digest.size(), 42u);
  EXPECT_TRUE(digest.starts_with("%%"));
  EXPECT_TRUE(OBCache::isFileName(digest));
  EXPECT_NE(cache->pathForKey(std::string(301, 'a')), cache->pathForKey(std::string(300, 'a')));

  // A thousand writes later, each reaching the disk, the long names are still written.
  for (int i = 0; i < 1000; ++i) {
    cache->setData(os::dataFromString(std::to_string(i)), "counter");
    cache->waitUntilWritten();
  }
  for (const auto& key : keys) cache->setData(os::dataFromString("second " + key), key);
  cache->waitUntilWritten();
  for (const auto& key : keys) EXPECT_EQ(cache->dataForKey(key), os::dataFromString("second " + key)) << key.size();
  EXPECT_TRUE(cache->saveCacheDictionary());
  cache.reset();

  OBCache reopened(directory());
  for (const auto& key : keys) EXPECT_EQ(reopened.dataForKey(key), os::dataFromString("second " + key)) << key.size();
  EXPECT_EQ(reopened.dataForKey("counter"), os::dataFromString("999"));
}

// A store from before the index listed file names: its index lists the keys themselves, its files
// have the escaped names. Both are read.
TEST_F(CacheTest, AnOlderIndexOfKeysStillReads) {
  const os::Date later = os::Date::now().addingTimeInterval(3600);
  os::Dictionary index{{"http://n/a.png", os::Value(later)}, {"OBSocialAccountEntity", os::Value(later)}};
  ASSERT_TRUE(os::FileManager::defaultManager().createDirectoryAtPath(directory(), true));
  ASSERT_TRUE(os::PropertyList::writeFile(os::Value(index), directory() + "/" + kOBCacheIndexName,
                                          os::PropertyListFormat::Binary));
  ASSERT_TRUE(os::TestSandbox::writeFile(directory() + "/http%3A%2F%2Fn%2Fa%2Epng", "picture"));
  ASSERT_TRUE(os::TestSandbox::writeFile(directory() + "/OBSocialAccountEntity", "accounts"));
  OBCache cache(directory());
  EXPECT_EQ(cache.dataForKey("http://n/a.png"), os::dataFromString("picture"));
  EXPECT_EQ(cache.dataForKey("OBSocialAccountEntity"), os::dataFromString("accounts"));
}

// An older index of keys whose keys all look like file names ("%%" and forty hexadecimal digits as a
// long key's digest name is written, "%2541" as the escaped name of "%41", "%" as the empty key's):
// each key still finds its own file, and keeps it once the index is written in today's form.
TEST_F(CacheTest, AnOlderIndexOfKeysThatLookLikeFileNamesStillReads) {
  auto& files = os::FileManager::defaultManager();
  const os::Date later = os::Date::now().addingTimeInterval(3600);
  const std::string digestLike = "%%" + std::string(40, 'a');
  const std::vector<std::string> keys = {digestLike, "%2541", "%", "plain"};
  os::Dictionary index;
  for (const auto& key : keys) index.set(key, os::Value(later));
  ASSERT_TRUE(files.createDirectoryAtPath(directory(), true));
  ASSERT_TRUE(os::PropertyList::writeFile(os::Value(index), directory() + "/" + kOBCacheIndexName,
                                          os::PropertyListFormat::Binary));
  ASSERT_TRUE(os::TestSandbox::writeFile(directory() + "/%25%25" + std::string(40, 'a'), "digest-like"));
  ASSERT_TRUE(os::TestSandbox::writeFile(directory() + "/%252541", "escaped-like"));
  ASSERT_TRUE(os::TestSandbox::writeFile(directory() + "/%25", "percent"));
  ASSERT_TRUE(os::TestSandbox::writeFile(directory() + "/plain", "plain"));
  const std::vector<std::string> contents = {"digest-like", "escaped-like", "percent", "plain"};
  {
    auto cache = std::make_shared<OBCache>(directory());
    for (std::size_t i = 0; i < keys.size(); ++i) EXPECT_EQ(cache->dataForKey(keys[i]), os::dataFromString(contents[i])) << keys[i];
    EXPECT_FALSE(cache->hasCacheForKey(""));
    EXPECT_TRUE(cache->saveCacheDictionary());
  }
  OBCache reopened(directory());
  for (std::size_t i = 0; i < keys.size(); ++i) EXPECT_EQ(reopened.dataForKey(keys[i]), os::dataFromString(contents[i])) << keys[i];

  // Today's index of such names reads as names, even with one of their files gone.
  ASSERT_TRUE(files.removeItemAtPath(directory() + "/%25"));
  OBCache third(directory());
  EXPECT_EQ(third.dataForKey(digestLike), os::dataFromString("digest-like"));
  EXPECT_EQ(third.dataForKey("%2541"), os::dataFromString("escaped-like"));
  EXPECT_FALSE(third.dataForKey("%"));
}

// A key equal to the file name of an entry that expired (escaped, or a long key's digest name),
// stored and then lost to a kill before the index was written: the index on disk is the one the
// start left. Every listed entry reads back, the expired one is gone from the index, and the
// unlisted file of the killed store is left alone.
TEST_F(CacheTest, AStoreKilledBeforeItsIndexWriteCostsNoOtherEntry) {
  auto& files = os::FileManager::defaultManager();
  for (const std::string& expiring : {std::string("军"), std::string(300, 'a')}) {
    SCOPED_TRACE(expiring.size());
    const std::string folder = directory() + "/" + std::to_string(expiring.size());
    const std::string indexPath = folder + "/" + kOBCacheIndexName;
    const std::string nameOfExpired = OBCache::fileNameForKey(expiring);
    {
      auto cache = std::make_shared<OBCache>(folder);
      cache->setData(os::dataFromString("middle"), "中");
      cache->setData(os::dataFromString("plain"), "plain");
      cache->setData(os::dataFromString("picture"), "http://n/a.png");
      cache->setData(os::dataFromString("soon"), expiring, 5);
    }
    os::Clock::advance(6);
    os::Data indexAtKill;
    {
      auto cache = std::make_shared<OBCache>(folder);
      EXPECT_FALSE(files.fileExistsAtPath(cache->pathForKey(expiring)));
      cache->waitUntilWritten();
      indexAtKill = *files.contentsAtPath(indexPath);
      cache->setData(os::dataFromString("fresh"), nameOfExpired);
      cache->waitUntilWritten();
    }
    ASSERT_TRUE(files.writeData(indexAtKill, indexPath));  // the kill: the store's index write never came
    EXPECT_FALSE(OBCache::readIndex(indexAtKill).contains(nameOfExpired));
    OBCache reopened(folder);
    EXPECT_EQ(reopened.dataForKey("中"), os::dataFromString("middle"));
    EXPECT_EQ(reopened.dataForKey("plain"), os::dataFromString("plain"));
    EXPECT_EQ(reopened.dataForKey("http://n/a.png"), os::dataFromString("picture"));
    EXPECT_FALSE(reopened.dataForKey(expiring));
    EXPECT_TRUE(files.fileExistsAtPath(reopened.pathForKey(nameOfExpired)));
  }
}

// The same on an index that still lists the expired entry, as earlier versions left it: each entry
// is read on its own, the expired one leaves the index, and the file it does not own stays.
TEST_F(CacheTest, AnExpiredEntryBesideAKeyEqualToItsFileName) {
  auto& files = os::FileManager::defaultManager();
  const os::Date later = os::Date::now().addingTimeInterval(3600), earlier = os::Date::now().addingTimeInterval(-1);
  for (const std::string& expiring : {std::string("军"), std::string(300, 'a')}) {
    SCOPED_TRACE(expiring.size());
    const std::string folder = directory() + "/" + std::to_string(expiring.size());
    const std::string nameOfExpired = OBCache::fileNameForKey(expiring);
    os::Dictionary index{{"%E4%B8%AD", os::Value(later)}, {nameOfExpired, os::Value(earlier)}, {"plain", os::Value(later)}};
    ASSERT_TRUE(files.createDirectoryAtPath(folder, true));
    ASSERT_TRUE(os::PropertyList::writeFile(os::Value(index), folder + "/" + kOBCacheIndexName, os::PropertyListFormat::Binary));
    ASSERT_TRUE(os::TestSandbox::writeFile(folder + "/%E4%B8%AD", "middle"));
    ASSERT_TRUE(os::TestSandbox::writeFile(folder + "/plain", "plain"));
    ASSERT_TRUE(os::TestSandbox::writeFile(folder + "/" + OBCache::fileNameForKey(nameOfExpired), "fresh"));
    {
      OBCache cache(folder);
      EXPECT_EQ(cache.dataForKey("中"), os::dataFromString("middle"));
      EXPECT_EQ(cache.dataForKey("plain"), os::dataFromString("plain"));
      EXPECT_FALSE(cache.dataForKey(expiring));
      EXPECT_FALSE(cache.dataForKey(nameOfExpired));
      cache.waitUntilWritten();
    }
    EXPECT_FALSE(OBCache::readIndex(*files.contentsAtPath(folder + "/" + kOBCacheIndexName)).contains(nameOfExpired));
    EXPECT_TRUE(files.fileExistsAtPath(folder + "/" + OBCache::fileNameForKey(nameOfExpired)));
    EXPECT_EQ(OBCache(folder).dataForKey("中"), os::dataFromString("middle"));
  }
}

// A key equal to another key's digest name keeps a file of its own beside it, both live and after
// the long key's entry has expired and its file gone.
TEST_F(CacheTest, AKeyEqualToAnotherKeysDigestName) {
  const std::string longKey(300, 'a');
  const std::string digest = OBCache::fileNameForKey(longKey);
  {
    auto cache = std::make_shared<OBCache>(directory());
    cache->setData(os::dataFromString("long"), longKey, 5);
    cache->setData(os::dataFromString("digest"), digest);
    cache->setData(os::dataFromString("middle"), "中");
    EXPECT_NE(cache->pathForKey(digest), cache->pathForKey(longKey));
  }
  {
    OBCache cache(directory());
    EXPECT_EQ(cache.dataForKey(longKey), os::dataFromString("long"));
    EXPECT_EQ(cache.dataForKey(digest), os::dataFromString("digest"));
  }
  os::Clock::advance(6);
  { OBCache expired(directory()); }
  OBCache reopened(directory());
  EXPECT_FALSE(reopened.dataForKey(longKey));
  EXPECT_EQ(reopened.dataForKey(digest), os::dataFromString("digest"));
  EXPECT_EQ(reopened.dataForKey("中"), os::dataFromString("middle"));
}

// The index the version before this one wrote after reading a still older index of keys: it lists
// names only, one of them ("%25") read then from the key "%25", whose file is "%2525". That entry
// finds its file again, and the entries that version read right keep theirs, now and after the
// next restart.
TEST_F(CacheTest, AnIndexThePreviousVersionWroteReadsWhole) {
  auto& files = os::FileManager::defaultManager();
  const os::Date later = os::Date::now().addingTimeInterval(3600);
  os::Dictionary index{{"%25", os::Value(later)},
                       {"%E4%B8%AD", os::Value(later)},
                       {"http%3A%2F%2Fn%2Fa%2Epng", os::Value(later)},
                       {"OBSocialAccountEntity", os::Value(later)}};
  ASSERT_TRUE(files.createDirectoryAtPath(directory(), true));
  ASSERT_TRUE(os::PropertyList::writeFile(os::Value(index), directory() + "/" + kOBCacheIndexName,
                                          os::PropertyListFormat::Binary));
  ASSERT_TRUE(os::TestSandbox::writeFile(directory() + "/%2525", "percent"));
  ASSERT_TRUE(os::TestSandbox::writeFile(directory() + "/%E4%B8%AD", "middle"));
  ASSERT_TRUE(os::TestSandbox::writeFile(directory() + "/http%3A%2F%2Fn%2Fa%2Epng", "picture"));
  ASSERT_TRUE(os::TestSandbox::writeFile(directory() + "/OBSocialAccountEntity", "accounts"));
  for (int start = 0; start < 2; ++start) {
    auto cache = std::make_shared<OBCache>(directory());
    EXPECT_EQ(cache->dataForKey("%25"), os::dataFromString("percent")) << start;
    EXPECT_EQ(cache->dataForKey("中"), os::dataFromString("middle")) << start;
    EXPECT_EQ(cache->dataForKey("http://n/a.png"), os::dataFromString("picture")) << start;
    EXPECT_EQ(cache->dataForKey("OBSocialAccountEntity"), os::dataFromString("accounts")) << start;
    EXPECT_FALSE(cache->dataForKey("%"));
    EXPECT_TRUE(cache->saveCacheDictionary());
  }
}

// With no bound of its own, the cache filled with many entries and stopped reads them all back at
// the next start.
TEST_F(CacheTest, AFullCacheReadsBackWholeAfterARestart) {
  constexpr int kCount = 5000;
  auto key = [](int i) { return i % 2 ? "http://img.example/" + std::to_string(i) + ".png" : "军" + std::to_string(i); };
  {
    auto cache = std::make_shared<OBCache>(directory());
    for (int i = 0; i < kCount; ++i) cache->setData(os::dataFromString(std::to_string(i)), key(i));
  }
  OBCache reopened(directory());
  int found = 0;
  for (int i = 0; i < kCount; ++i) found += reopened.dataForKey(key(i)) == os::dataFromString(std::to_string(i));
  EXPECT_EQ(found, kCount);
}

// The longest name a folder entry may have is 255 bytes: an escaped name of exactly that length is
// kept, one byte more takes the digest name, and both are stored and read back after a restart.
TEST_F(CacheTest, TheFileNameBoundIsTwoHundredAndFiftyFiveBytes) {
  std::string escaped255, escaped256;
  for (int i = 0; i < 84; ++i) escaped255 += '\xff', escaped256 += '\xff';
  escaped255 += "abc";   // 84 * 3 + 3
  escaped256 += "abcd";  // 84 * 3 + 4
  const std::string plain255(255, 'p'), plain256(256, 'p');
  auto cache = std::make_shared<OBCache>(directory());
  EXPECT_EQ(OBCache::fileNameForKey(plain255), plain255);
  EXPECT_EQ(OBCache::fileNameForKey(escaped255).size(), 255u);
  EXPECT_EQ(OBCache::fileNameForKey(escaped255), os::replaceAll(std::string(84, 'x'), "x", "%FF") + "abc");
  for (const auto& key : {plain256, escaped256}) {
    const std::string name = OBCache::fileNameForKey(key);
    EXPECT_EQ(name.size(), 42u);
    EXPECT_TRUE(name.starts_with("%%"));
  }
  for (const auto& key : {plain255, escaped255, plain256, escaped256}) cache->setData(os::dataFromString(key), key);
  cache->waitUntilWritten();
  EXPECT_TRUE(cache->saveCacheDictionary());
  cache.reset();
  OBCache reopened(directory());
  for (const auto& key : {plain255, escaped255, plain256, escaped256})
    EXPECT_EQ(reopened.dataForKey(key), os::dataFromString(key)) << key.size();
}

// Removing and clearing take the entries away, from memory, the index and the disk.
TEST_F(CacheTest, RemovingAndClearingTakeTheEntriesAway) {
  auto& files = os::FileManager::defaultManager();
  auto cache = std::make_shared<OBCache>(directory());
  for (std::string key : {"one", "two", "http://n/3"}) cache->setData(os::dataFromString(key), key);
  cache->removeCacheForKey("one");
  EXPECT_FALSE(cache->hasCacheForKey("one"));
  EXPECT_TRUE(cache->hasCacheForKey("two"));
  cache->waitUntilWritten();
  EXPECT_FALSE(files.fileExistsAtPath(cache->pathForKey("one")));
  EXPECT_TRUE(files.fileExistsAtPath(cache->pathForKey("two")));

  cache->setImage(*os::Image::create(os::Bitmap(2, 2)), "picture");
  cache->clearCache();
  EXPECT_FALSE(cache->hasCacheForKey("two"));
  EXPECT_FALSE(cache->dataForKey("http://n/3"));
  EXPECT_FALSE(cache->imageForKey("picture"));  // before the disk has lost it too
  cache->setData(os::dataFromString("again"), "two");  // a store after the clear outlives it
  cache->waitUntilWritten();
  EXPECT_EQ(files.contentsAtPath(cache->pathForKey("two")), os::dataFromString("again"));
  EXPECT_FALSE(files.fileExistsAtPath(cache->pathForKey("http://n/3")));
  EXPECT_FALSE(files.fileExistsAtPath(cache->pathForKey("picture")));
  os::Clock::advance(1);  // the store's own index write
  os::RunLoop::main()->runUntilIdle();
  cache->waitUntilWritten();
  auto index = OBCache::readIndex(*files.contentsAtPath(directory() + "/" + kOBCacheIndexName));
  EXPECT_EQ(index.keys(), std::vector<std::string>{"two"});
}

// An index that cannot be written is said, and written once it can be.
TEST_F(CacheTest, AFailedIndexWriteIsReportedAndTriedAgain) {
  auto cache = std::make_shared<OBCache>(directory());
  const std::string indexPath = directory() + "/" + kOBCacheIndexName;
  ASSERT_TRUE(os::TestSandbox::writeFile(indexPath + "/blocker", "x"));  // a folder where the index goes
  cache->setData(os::dataFromString("1"), "k");
  {
    os::testing::LogCapture log;
    EXPECT_FALSE(cache->saveCacheDictionary());
    EXPECT_TRUE(log.contains("could not be written"));
  }
  ASSERT_TRUE(os::FileManager::defaultManager().removeItemAtPath(indexPath));
  cache.reset();  // the index still waiting is written as the store ends
  EXPECT_EQ(OBCache(directory()).dataForKey("k"), os::dataFromString("1"));
}

// A sign-in kept just before the reader goes is there at its next start. The process ends right
// after the application leaves (quit, the end of input, a signal) or is killed once in the
// background, with no destructor run and the index's quiet period not yet over.
void signInThenGo(const std::function<void(os::Application&)>& go) {
  OBSocialContextScope run;
  auto app = os::Application::create(nullptr);
  app->launch();
  auto account = std::make_shared<OBSocialAccountEntity>("sina");
  account->usid = "1042";
  account->accessToken = "token-1042";
  OBSUserManager::shareInstance()->setSnsAccountDictionary({{"sina", account}});
  go(*app);
  OBSocialContextScope nextStart;  // the earlier run's store stays as the end left it
  auto kept = OBSUserManager::shareInstance()->accountForPlatform("sina");
  ASSERT_TRUE(kept);
  EXPECT_EQ(kept->usid, "1042");
  EXPECT_EQ(kept->accessToken, "token-1042");
}

TEST_F(CacheTest, ASignInKeptAsTheApplicationEndsIsThereAtTheNextStart) {
  signInThenGo([](os::Application& app) { EXPECT_TRUE(app.leave(5)); });
}

TEST_F(CacheTest, ASignInKeptAsTheApplicationGoesToTheBackgroundIsThereAtTheNextStart) {
  signInThenGo([](os::Application& app) { app.enterBackground(); });
}

// A store the disk refuses (full) leaves its entry absent, in this run and the next: the bytes
// of the store before it never come back in its place (a sign-out's accounts refused would bring
// back the account signed out of).
TEST_F(CacheTest, AStoreTheDiskRefusesLeavesNoOlderValueInItsPlace) {
  auto cache = std::make_shared<OBCache>(directory());
  cache->setData(os::dataFromString("signed in"), "account");
  cache->setData(os::dataFromString("other"), "other");
  cache->waitUntilWritten();
  {
    os::testing::LogCapture log;
    os::testing::FullDisk disk(4096);
    cache->setData(os::Data(64 * 1024, 'x'), "account");
    cache->waitUntilWritten();
    disk.roomMade();
    EXPECT_TRUE(log.contains("could not be written"));
  }
  EXPECT_FALSE(cache->hasCacheForKey("account"));
  EXPECT_FALSE(cache->dataForKey("account"));
  cache.reset();
  OBCache reopened(directory());
  EXPECT_FALSE(reopened.dataForKey("account"));
  EXPECT_EQ(reopened.dataForKey("other"), os::dataFromString("other"));
}

// A start that finds the index but cannot read it (no descriptor left) does not lose its
// entries: the index is read again before one is written over it, and only what this run stored
// or removed meanwhile changes what it lists. While it still cannot be read, nothing replaces it.
TEST_F(CacheTest, AnIndexItCouldNotReadAtStartIsReadAgainBeforeOneIsWrittenOverIt) {
  {
    auto cache = std::make_shared<OBCache>(directory());
    cache->setData(os::dataFromString("token"), "account");
    cache->setData(os::dataFromString("gone"), "removed");
  }
  const std::string indexPath = directory() + "/" + kOBCacheIndexName;
  const auto index = os::FileManager::defaultManager().contentsAtPath(indexPath);
  ASSERT_TRUE(index);

  std::shared_ptr<OBCache> blind;
  {
    os::testing::NoDescriptorLeft none;
    blind = std::make_shared<OBCache>(directory());
  }
  EXPECT_FALSE(blind->dataForKey("account"));
  blind->setData(os::dataFromString("new"), "fresh");
  blind->waitUntilWritten();
  {
    os::testing::NoDescriptorLeft none;
    blind->removeCacheForKey("removed");
    blind->waitUntilWritten();
    EXPECT_FALSE(blind->saveCacheDictionary());
  }
  EXPECT_EQ(os::FileManager::defaultManager().contentsAtPath(indexPath), index);

  EXPECT_TRUE(blind->saveCacheDictionary());
  EXPECT_EQ(blind->dataForKey("account"), os::dataFromString("token"));
  blind.reset();
  OBCache reopened(directory());
  EXPECT_EQ(reopened.dataForKey("account"), os::dataFromString("token"));
  EXPECT_EQ(reopened.dataForKey("fresh"), os::dataFromString("new"));
  EXPECT_FALSE(reopened.dataForKey("removed"));
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

// A write of the documents list killed part-way leaves its temporary file in the documents folder:
// the manager removes it as the next start makes it, and reads the list written before; other
// files' leftovers stay.
TEST_F(CacheTest, TheCacheManagerRemovesWhatAWriteOfTheDocumentsListCutShortLeft) {
  auto& files = os::FileManager::defaultManager();
  const std::string document = OBSCacheManager::documentPath();
  ASSERT_TRUE(os::PropertyList::writeFile(os::Value(os::Dictionary{{"appkey", os::Value("k1")}}), document,
                                          os::PropertyListFormat::XML));
  const std::string cutShort = os::testing::plantCutShortWrite(document, 5);
  const std::string others = os::testing::plantCutShortWrite(os::deletingLastPathComponent(document) + "/notes", 5);
  ASSERT_FALSE(cutShort.empty() || others.empty());

  auto manager = OBSCacheManager::shareInstance();
  EXPECT_FALSE(files.fileExistsAtPath(cutShort));
  EXPECT_TRUE(files.fileExistsAtPath(others));
  EXPECT_EQ(manager->getValueFromDocument("appkey"), os::Value("k1"));
}

// The user name and the application key live in one documents list: written from two threads at
// once, each key's last value is on disk afterwards.
TEST_F(CacheTest, TwoThreadsWritingTheDocumentsListKeepEachLastWrite) {
  constexpr int kRounds = 8, kWrites = 40;
  auto users = OBSUserManager::shareInstance();
  auto set = OBSDataManagerSet::shareInstance();
  for (int round = 0; round < kRounds; ++round) {
    os::Semaphore go;
    auto writer = [&go](std::function<void(int)> write) {
      auto thread = os::Thread::create("documents", [&go, write] {
        go.wait();
        for (int i = 0; i < kWrites; ++i) write(i);
      });
      thread->start();
      return thread;
    };
    auto names = writer([&, round](int i) { users->setUserName("name " + std::to_string(round) + ":" + std::to_string(i)); });
    auto keys = writer([&, round](int i) { set->setAppkey("key " + std::to_string(round) + ":" + std::to_string(i)); });
    go.signal();
    go.signal();
    names->join();
    keys->join();
    auto document = os::PropertyList::readFile(OBSCacheManager::documentPath());
    ASSERT_TRUE(document && document->dictionary());
    const std::string last = std::to_string(round) + ":" + std::to_string(kWrites - 1);
    auto text = [&](const char* key) { return (*document->dictionary())[key].string() ? *(*document->dictionary())[key].string() : ""; };
    EXPECT_EQ(text("userName"), "name " + last);
    EXPECT_EQ(text("appkey"), "key " + last);
  }
}

// The documents list as a reader who signed in earlier left it: a name and the uid kept for the key.
void seedDocumentsList(const std::string& appkey) {
  ASSERT_TRUE(os::PropertyList::writeFile(
      os::Value(os::Dictionary{{"userName", os::Value("old")}, {"uid-k1", os::Value("1042")}, {"appkey", os::Value(appkey)}}),
      OBSCacheManager::documentPath(), os::PropertyListFormat::XML));
}

std::string documentText(const char* key) {
  auto document = os::PropertyList::readFile(OBSCacheManager::documentPath());
  if (!document || !document->dictionary()) return "(no list)";
  const std::string* text = (*document->dictionary())[key].string();
  return text ? *text : "(none)";
}

// A name the full disk refuses is said, and the next change of the list (the key set as the
// application starts) carries it to disk with the keys the list held.
TEST_F(CacheTest, ANameTheDiskRefusedIsWrittenWithTheNextChangeOfTheDocumentsList) {
  seedDocumentsList("k1");
  auto users = OBSUserManager::shareInstance();
  auto set = OBSDataManagerSet::shareInstance();
  OBSCacheManager::shareInstance();
  {
    os::testing::LogCapture log;
    os::testing::FullDisk disk(16);
    users->setUserName(std::string("new"));
    disk.roomMade();
    EXPECT_TRUE(log.contains("could not be written"));
  }
  EXPECT_EQ(documentText("userName"), "old");
  EXPECT_EQ(OBSCacheManager::shareInstance()->getValueFromDocument("userName"), os::Value("new"));

  set->setAppkey("k1");
  EXPECT_EQ(documentText("userName"), "new");
  EXPECT_EQ(documentText("uid-k1"), "1042");
  EXPECT_EQ(documentText("appkey"), "k1");
}

// A name the full disk refused, with no change after it, is on disk when the application goes to
// the background or ends: the process may be killed then, no destructor run.
void refusedNameThenGo(const std::function<void(os::Application&)>& go) {
  seedDocumentsList("k1");
  OBSocialContextScope run;
  auto app = os::Application::create(nullptr);
  app->launch();
  auto users = OBSUserManager::shareInstance();
  OBSCacheManager::shareInstance();
  {
    os::testing::LogCapture log;
    os::testing::FullDisk disk(16);
    users->setUserName(std::string("new"));
  }
  EXPECT_EQ(documentText("userName"), "old");
  go(*app);
  OBSocialContextScope nextStart;  // the earlier run's manager stays as the end left it
  EXPECT_EQ(OBSUserManager::shareInstance()->userName(), "new");
  EXPECT_EQ(documentText("uid-k1"), "1042");
}

TEST_F(CacheTest, ANameTheDiskRefusedIsWrittenAsTheApplicationGoesToTheBackground) {
  refusedNameThenGo([](os::Application& app) { app.enterBackground(); });
}

TEST_F(CacheTest, ANameTheDiskRefusedIsWrittenAsTheApplicationEnds) {
  refusedNameThenGo([](os::Application& app) { EXPECT_TRUE(app.leave(5)); });
}

// The key set at a start that cannot read the documents list (no descriptor left) writes nothing
// over it; the key waits, answers meanwhile, and the next change writes it beside the name and
// uid the list held.
TEST_F(CacheTest, AKeySetWhileTheDocumentsListCannotBeReadWaitsAndKeepsTheOtherKeys) {
  seedDocumentsList("k0");
  const auto before = os::FileManager::defaultManager().contentsAtPath(OBSCacheManager::documentPath());
  ASSERT_TRUE(before);
  auto users = OBSUserManager::shareInstance();
  auto set = OBSDataManagerSet::shareInstance();
  auto manager = OBSCacheManager::shareInstance();
  {
    os::testing::LogCapture log;
    os::testing::NoDescriptorLeft none;
    set->setAppkey("k1");
    none.giveBack();
    EXPECT_TRUE(log.contains("could not be read"));
  }
  EXPECT_EQ(os::FileManager::defaultManager().contentsAtPath(OBSCacheManager::documentPath()), before);
  EXPECT_EQ(manager->getValueFromDocument("appkey"), os::Value("k1"));

  users->setUserName(std::string("new"));
  EXPECT_EQ(documentText("appkey"), "k1");
  EXPECT_EQ(documentText("userName"), "new");
  EXPECT_EQ(documentText("uid-k1"), "1042");
}

// A list no read will ever get (damaged) starts afresh, as it always did.
TEST_F(CacheTest, ADamagedDocumentsListStartsAfresh) {
  ASSERT_TRUE(os::TestSandbox::writeFile(OBSCacheManager::documentPath(), "not a property list"));
  OBSDataManagerSet::shareInstance()->setAppkey("k1");
  EXPECT_EQ(documentText("appkey"), "k1");
  EXPECT_TRUE(OBSCacheManager::shareInstance()->flushDocument());
}

}  // namespace

// The cache manager's entries have no bound of their own; the next start reads them with the
// limits the manager writes them within. A friend list of a well-followed account, each friend
// with long names and picture address, and the recent picks beside it come back whole, and so
// does an entry past the unarchiver's default object limit.
namespace {

std::shared_ptr<OBSFriendEntity> longFriend(int i) {
  auto entity = std::make_shared<OBSFriendEntity>();
  const std::string n = std::to_string(1000000000 + i);
  entity->usid = n;
  entity->name = "中国军事新闻爱好者第" + n + "号读者";
  entity->linkName = "military_news_reader_" + n;
  entity->imageURL = "http://tp" + std::to_string(i % 4) + ".img.example/" + n + "/180/5648945327/1";
  entity->pinyin = "zhongguojunshixinwenaihaozhedi" + n + "haoduzhe";
  return entity;
}

OBSFriendDictionary friendList(int count) {
  OBSFriendDictionary friends;
  for (int i = 0; i < count; ++i) {
    auto entity = longFriend(i);
    friends[*entity->usid] = entity;
  }
  return friends;
}

void restart() {
  OBCache::currentCache()->waitUntilWritten();
  OBSocialContext::setCurrent(std::make_shared<OBSocialContext>());
}

// The friends read back at the next start, or none.
std::size_t friendsAfterARestart(int count, int recentPicks) {
  os::Array recent;
  for (int i = count - recentPicks; i < count; ++i) recent.push_back(os::Value(longFriend(i)->cacheValue()));
  OBSUserManager::shareInstance()->setFriendsDictionary(friendList(count), "sina");
  OBSUserManager::shareInstance()->setAtFriendsArray(recent, "sina");
  restart();
  auto users = OBSUserManager::shareInstance();
  auto read = users->friendsDictionaryWithSnsName("sina");
  EXPECT_EQ(users->atFriendsDictionaryWithSnsName("sina"), recent);
  if (!read) return 0;
  auto last = read->find(std::to_string(1000000000 + count - 1));
  EXPECT_TRUE(last != read->end() && last->second->imageURL == longFriend(count - 1)->imageURL);
  return read->size();
}

}  // namespace

TEST_F(CacheTest, ALargeFriendListAndItsRecentPicksComeBackAfterARestart) {
  EXPECT_EQ(friendsAfterARestart(5000, 200), 5000u);
}

// Some 17,000 such friends pass the unarchiver's default object limit; the cheapest entry that
// does, one text for each object, stands in for them.
TEST_F(CacheTest, AnEntryPastTheUnarchiversDefaultObjectLimitComesBack) {
  const std::size_t objects = os::KeyedArchiveLimits{}.maxObjects + 10;
  os::Array texts;
  texts.reserve(objects);
  for (std::size_t i = 0; i < objects; ++i) texts.push_back(os::Value(std::to_string(1000000000 + i)));
  OBSCacheManager::shareInstance()->setCacheToVariable(os::ArchiveItem(os::Value(texts)), "many");
  restart();
  auto read = OBSCacheManager::shareInstance()->changeVariableFromCache("many");
  ASSERT_TRUE(read);
  EXPECT_EQ(read->toValue(), os::Value(texts));
}

// Past even the byte limit, nothing is written that the next start could not read, and the list
// stored before does not come back in place of the one that could not be kept.
TEST_F(CacheTest, AnEntryPastWhatTheNextStartReadsIsNotWrittenAndTakesTheOlderOneAway) {
  OBSUserManager::shareInstance()->setFriendsDictionary(friendList(3), "sina");
  OBCache::currentCache()->waitUntilWritten();
  auto huge = longFriend(3);
  huge->name = std::string(std::size_t{33} << 20, 'x');
  auto friends = friendList(3);
  friends[*huge->usid] = huge;
  os::testing::LogCapture log;
  OBSUserManager::shareInstance()->setFriendsDictionary(friends, "sina");
  EXPECT_EQ(OBSUserManager::shareInstance()->friendsDictionaryWithSnsName("sina")->size(), 4u);  // this run keeps it
  EXPECT_TRUE(log.contains("OBSFriendEntity-sina- is not cached"));
  restart();
  EXPECT_FALSE(OBSUserManager::shareInstance()->friendsDictionaryWithSnsName("sina"));
}
