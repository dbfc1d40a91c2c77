#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <limits>
#include <string>
#include <vector>

#include "os/runtime/NotificationCenter.h"
#include "os/store/KeyedArchive.h"
#include "os/store/PreparedFile.h"
#include "os/store/FileManager.h"
#include "os/store/Sandbox.h"
#include "os/testing/FullDisk.h"
#include "os/testing/LogCapture.h"
#include "os/testing/NoDescriptorLeft.h"
#include "os/testing/TestSandbox.h"
#include "os/views/Application.h"
#include "push/report/DUVReportCache.h"
#include "push/utilities/DUVFileCache.h"
#include "push/utilities/DUVMemoryCache.h"

namespace {

std::vector<std::string> orderOf(const DUVMemoryCache& cache) {
  return {cache.cacheKeys().begin(), cache.cacheKeys().end()};
}

TEST(DUVMemoryCache, BoundOrderAndRemovalsStayConsistent) {
  auto cache = DUVMemoryCache::create();
  for (int i = 0; i < 1000; ++i) cache->setObject(os::Value(i), "k" + std::to_string(i));
  EXPECT_EQ(cache->cacheObjects().size(), 999u);
  EXPECT_FALSE(cache->hasObjectForKey("k0"));
  EXPECT_TRUE(cache->hasObjectForKey("k999"));

  // Removing by position takes the values only: the order and the count stay, and the next
  // additions evict those empty slots first.
  std::vector<std::string> order = orderOf(*cache);
  cache->removeObjectsAtIndexes(0, 10);
  EXPECT_EQ(cache->cachedCount(), 999);
  EXPECT_EQ(orderOf(*cache), order);
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

TEST(DUVMemoryCache, OrderStaysTheOrderOfAdditionThroughRemovalsAnywhere) {
  // Against a plain list of the slots: keys dropped one by one from the front, the middle and the
  // end, keys standing twice, keys added again after they left.
  auto cache = DUVMemoryCache::create();
  cache->setMaxCacheCount(std::numeric_limits<int>::max());
  std::vector<std::string> slots;
  auto add = [&](const std::string& key) {
    cache->setObject(os::Value(key), key);
    slots.push_back(key);
  };
  auto removeKey = [&](const std::string& key) {
    cache->removeObjectForKey(key);
    std::erase(slots, key);
  };
  auto same = [&] {
    ASSERT_EQ(orderOf(*cache), slots);
    ASSERT_EQ(cache->cachedCount(), static_cast<int>(slots.size()));
  };
  for (int i = 0; i < 4000; ++i) add("k" + std::to_string(i));
  for (int i = 0; i < 4000; i += 10) add("k" + std::to_string(i));  // a second slot each
  for (int i = 0; i < 1500; ++i) {
    cache->removeFirstObject();
    slots.erase(slots.begin());
  }
  ASSERT_NO_FATAL_FAILURE(same());
  EXPECT_FALSE(cache->hasObjectForKey("k10"));     // its first slot went, and its value with it
  EXPECT_EQ(cache->cacheKeys().front(), "k1500");
  for (int i = 1600; i < 3000; i += 2) removeKey("k" + std::to_string(i));
  removeKey("k3990");  // both its slots
  removeKey("k3990");  // gone: nothing
  removeKey("k3999");
  ASSERT_NO_FATAL_FAILURE(same());
  add("k1600");  // back, at the end
  add("k3990");
  ASSERT_NO_FATAL_FAILURE(same());
  EXPECT_TRUE(cache->hasObjectForKey("k1600"));
  // By position, past the slots that left: the values of the third to fifth slots go, the slots stay.
  cache->removeObjectsAtIndexes(2, 3);
  ASSERT_NO_FATAL_FAILURE(same());
  for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(cache->hasObjectForKey(slots[i]), i < 2 || i > 4) << slots[i];
  // Down to nothing from the front, then filled again.
  while (cache->cachedCount() > 0) cache->removeFirstObject();
  slots.clear();
  EXPECT_TRUE(cache->cacheKeys().empty());
  for (int i = 0; i < 30; ++i) add("again" + std::to_string(i % 20));
  ASSERT_NO_FATAL_FAILURE(same());
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

// A save the disk refuses (past the process's file size limit, as a full disk refuses it) says
// so and leaves the last save's file whole; with the cache's folder gone, the next save makes it
// again. Each save goes as the application goes to the background.
TEST(DUVFileCache, ASaveTheDiskRefusesKeepsTheLastSaveAndAGoneFolderIsMadeAgain) {
  os::TestSandbox sandbox;
  auto cache = DUVFileCache::startCacheFile("ZURAR");
  cache->setObject(os::Value("old"), "state");
  ASSERT_TRUE(cache->synchronize());
  cache->setObject(os::Value("new"), "state");
  cache->setObject(os::Value(std::string(256 * 1024, 'x')), "pad");
  {
    os::testing::LogCapture log;
    os::testing::FullDisk disk(64 * 1024);
    os::NotificationCenter::defaultCenter().post(os::kApplicationDidEnterBackgroundNotification);
    disk.roomMade();
    const auto lines = log.lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(lines.back().find("was not saved"), std::string::npos) << lines.back();
  }
  EXPECT_EQ(DUVFileCache::startCacheFile("ZURAR")->objectForKey("state"), os::Value("old"));

  auto& files = os::FileManager::defaultManager();
  ASSERT_TRUE(files.removeItemAtPath(os::deletingLastPathComponent(cache->fileNameForKey("ZURAR"))));
  os::NotificationCenter::defaultCenter().post(os::kApplicationDidEnterBackgroundNotification);
  auto reread = DUVFileCache::startCacheFile("ZURAR");
  EXPECT_EQ(reread->objectForKey("state"), os::Value("new"));
  EXPECT_EQ(reread->objectForKey("pad").string()->size(), 256u * 1024);
}

// The application going leaves a save from the client as it goes inactive and another from the
// main thread as it goes to the background: the second finds the file holding everything and
// writes nothing. A change since, or the file gone (the Caches folder cleared), is written.
TEST(DUVFileCache, ASaveOfWhatTheFileHoldsAlreadyWritesNothing) {
  os::TestSandbox sandbox;
  auto cache = DUVFileCache::startCacheFile("ZURAR");
  const std::string path = cache->fileNameForKey("ZURAR");
  auto fileIdentity = [&] {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
  };
  cache->setObject(os::Value("kept"), "state");
  ASSERT_TRUE(cache->synchronize());
  const auto first = fileIdentity();
  ASSERT_NE(first, 0u);
  os::NotificationCenter::defaultCenter().post(os::kApplicationDidEnterBackgroundNotification);
  EXPECT_EQ(fileIdentity(), first);  // every save renames a new file over the old one

  cache->setObject(os::Value("changed"), "state");
  os::NotificationCenter::defaultCenter().post(os::kApplicationDidEnterBackgroundNotification);
  EXPECT_NE(fileIdentity(), first);
  EXPECT_EQ(DUVFileCache::startCacheFile("ZURAR")->objectForKey("state"), os::Value("changed"));

  cache->clearFile();
  ASSERT_EQ(fileIdentity(), 0u);
  EXPECT_TRUE(cache->synchronize());
  EXPECT_EQ(DUVFileCache::startCacheFile("ZURAR")->objectForKey("state"), os::Value("changed"));
}

// The temporary files of atomic writes beside the cache's file.
std::vector<std::string> temporaryFilesBeside(const std::string& path, const std::string& name) {
  std::vector<std::string> found;
  auto entries = os::FileManager::defaultManager().contentsOfDirectoryAtPath(os::deletingLastPathComponent(path));
  for (const std::string& entry : entries.value_or(std::vector<std::string>{}))
    if (entry.rfind("." + name + ".tmp.", 0) == 0) found.push_back(entry);
  return found;
}

TEST(DUVFileCache, SavesKilledWhileWritingLeaveNothingOnceTheCacheOpensItsFile) {
  os::TestSandbox sandbox;
  auto cache = DUVFileCache::startCacheFile("ZURAR");
  cache->setObject(os::Value("old"), "state");
  ASSERT_TRUE(cache->synchronize());
  const std::string path = cache->fileNameForKey("ZURAR");
  cache->setObject(os::Value(std::string(256 * 1024, 'x')), "pad");
  // Each save is killed part-way through its write: the process ends at its file size limit.
  for (int i = 0; i < 3; ++i) {
    pid_t pid = ::fork();
    if (pid == 0) {
      rlimit noCore{0, 0}, small{64 * 1024, 64 * 1024};
      setrlimit(RLIMIT_CORE, &noCore);
      setrlimit(RLIMIT_FSIZE, &small);
      std::signal(SIGXFSZ, SIG_DFL);  // whatever this process did with it
      cache->synchronize();
      ::_exit(3);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << status;
  }
  ASSERT_EQ(temporaryFilesBeside(path, "ZURAR").size(), 3u);
  auto next = DUVFileCache::startCacheFile("ZURAR");
  EXPECT_EQ(next->objectForKey("state"), os::Value("old"));
  EXPECT_TRUE(temporaryFilesBeside(path, "ZURAR").empty());
  EXPECT_TRUE(os::FileManager::defaultManager().fileExistsAtPath(path));
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

TEST(DUVFileCache, TheCrashSnapshotKeepsSignsAndRemovals) {
  os::TestSandbox sandbox;
  auto cache = DUVFileCache::startCacheFile("ZURAR");
  cache->setObject(os::Value(3), "zurar_user_default_badge_number");
  cache->setObject(os::Value("kept"), "state");
  ASSERT_TRUE(cache->synchronize());
  // Negative numbers at each depth the snapshot splits at, the smallest one included.
  const long long smallest = std::numeric_limits<long long>::min();
  const os::Value numbers(os::Array{os::Value(-5), os::Value(-1), os::Value(-64), os::Value(-65), os::Value(smallest),
                                    os::Value(0), os::Value(64), os::Value(std::numeric_limits<long long>::max())});
  const os::Value nested(os::Dictionary{{"n", os::Value(-300)},
                                        {"inner", os::Value(os::Dictionary{{"m", os::Value(-2)}, {"list", numbers}})}});
  // The badge was sent and cleared: going inactive now would remove its key.
  cache->prepareCrashSnapshot({{"zurar_user_default_badge_number", os::Value()},
                               {"__DUVLeft_time", os::Value(-7)},
                               {"numbers", numbers},
                               {"nested", nested}});
  writeSnapshotsInChild();
  auto next = DUVFileCache::startCacheFile("ZURAR");
  EXPECT_FALSE(next->hasObjectForKey("zurar_user_default_badge_number"));
  EXPECT_EQ(next->objectForKey("state"), os::Value("kept"));
  EXPECT_EQ(next->objectForKey("__DUVLeft_time").intValue(), -7);
  const os::Value read = next->objectForKey("numbers");
  ASSERT_EQ(read.count(), numbers.count());
  for (std::size_t i = 0; i < numbers.count(); ++i) EXPECT_EQ(read.at(i).intValue(), numbers.at(i).intValue()) << i;
  EXPECT_EQ(next->objectForKey("nested")["n"].intValue(), -300);
  EXPECT_EQ(next->objectForKey("nested")["inner"]["m"].intValue(), -2);
  EXPECT_EQ(next->objectForKey("nested"), nested);
}

std::optional<os::Data> contentsOf(const std::string& path) { return os::FileManager::defaultManager().contentsAtPath(path); }

void writeBytes(const os::Data& bytes, const std::string& path) {
  ASSERT_TRUE(os::FileManager::defaultManager().writeData(bytes, path, {.atomic = false}));
}

// A message-status record as the client makes them, under its key.
os::Dictionary statusRecord(long long n, std::size_t padding = 0) {
  os::Dictionary record{{"itime", os::Value(1700000000 + n)},
                        {"type", os::Value("msg_status")},
                        {"result", os::Value(2001)},
                        {"msg_id", os::Value(std::to_string(400000000 + n))}};
  if (padding > 0) {
    // Text of its own: equal texts would be archived once.
    std::string pad(padding, 'x');
    std::string mark = std::to_string(n) + "/";
    for (std::size_t i = 0; i + mark.size() <= padding; i += 4096) pad.replace(i, mark.size(), mark);
    record.set("pad", os::Value(pad));
  }
  return record;
}
std::string recordKey(long long n) { return std::to_string(9007199254740993ull + static_cast<unsigned long long>(n / 3)) + "." + std::to_string(n % 3); }

// The rest of what going inactive writes beside the report cache.
os::Dictionary sessionState() {
  return os::Dictionary{
      {"__DUVStart_time", os::Value(1700000000)},
      {"__DUVLeft_time", os::Value(1700000100.5)},
      {"__DUVCrashLog", os::Value(os::Array{os::Value(os::Array{os::Value(os::Dictionary{{"message", os::Value("m")}, {"count", os::Value(2)}}),
                                                                os::Value("main\n")})})},
      {"__ZRFPFLastFlow", os::Value(os::Array{os::Value(os::Dictionary{{"front", os::Value(5)}})})},
      {"zurar_user_default_badge_number", os::Value(3)},
  };
}

void expectRestored(const DUVFileCache& cache, const os::Value& reportCache) {
  for (const auto& [key, value] : sessionState()) EXPECT_EQ(cache.objectForKey(key), value) << key;
  os::Value read = cache.objectForKey("__DUVHistroyCache");
  ASSERT_TRUE(read["cacheObjects"].dictionary());
  EXPECT_EQ(read["cacheObjects"].dictionary()->keys(), reportCache["cacheObjects"].dictionary()->keys());
  EXPECT_TRUE(read == reportCache);
}

TEST(DUVFileCacheAtSize, TwentyThousandRecordsComeBackSavedWholeOrInPieces) {
  os::TestSandbox sandbox;
  os::Dictionary pending;
  for (long long n = 0; n < 20000; ++n) pending.set(recordKey(n), os::Value(statusRecord(n)));
  os::Value reportCache =
      DUVReportCache::fromArchivedValue(os::Value(os::Dictionary{{"cacheObjects", os::Value(pending)}}))->archivedValue();
  auto cache = DUVFileCache::startCacheFile("ZURAR");
  for (const auto& [key, value] : sessionState()) cache->setObject(value, key);
  cache->setObject(reportCache, "__DUVHistroyCache");
  ASSERT_TRUE(cache->synchronize());
  const std::string path = cache->fileNameForKey("ZURAR");
  const std::size_t archived = contentsOf(path)->size();

  // Saved whole, it is read whole: more objects than another application's archive may list.
  auto next = DUVFileCache::startCacheFile("ZURAR");
  expectRestored(*next, reportCache);
  EXPECT_FALSE(os::FileManager::defaultManager().fileExistsAtPath(path + ".refused"));

  // Written in pieces at a crash, it reads back the same, from a file not much longer.
  next->prepareCrashSnapshot({});
  writeSnapshotsInChild();
  const std::size_t pieced = contentsOf(path)->size();
  EXPECT_LE(pieced, archived * 3 / 2) << "archive " << archived;
  expectRestored(*DUVFileCache::startCacheFile("ZURAR"), reportCache);
}

TEST(DUVFileCacheAtSize, AReportCacheFilledToItsBoundComesBack) {
  os::TestSandbox sandbox;
  // Records of half a MiB each, added until the size check trims the oldest: the cache at the
  // bound its own size check keeps.
  DUVReportCache reportCache;
  long long n = 0;
  for (std::size_t most = 0; reportCache.count() >= most; ++n) {
    most = reportCache.count() + 1;
    reportCache.addCacheObject(statusRecord(n, 512 * 1024), recordKey(n));
  }
  ASSERT_GT(reportCache.count(), 80u);
  auto cache = DUVFileCache::startCacheFile("ZURAR");
  for (const auto& [key, value] : sessionState()) cache->setObject(value, key);
  cache->setObject(reportCache.archivedValue(), "__DUVHistroyCache");
  ASSERT_TRUE(cache->synchronize());
  EXPECT_GT(contentsOf(cache->fileNameForKey("ZURAR"))->size(), DUVReportCache::kMaximumArchiveBytes * 9 / 10);
  expectRestored(*DUVFileCache::startCacheFile("ZURAR"), reportCache.archivedValue());
}

TEST(DUVFileCache, AFileItCannotReadIsMovedAsideAndNeverOverwritten) {
  os::TestSandbox sandbox;
  auto cache = DUVFileCache::startCacheFile("ZURAR");
  const std::string path = cache->fileNameForKey("ZURAR");
  const os::Data garbage = os::dataFromString("bplist00 and then nothing of an archive");
  writeBytes(garbage, path);
  auto damaged = DUVFileCache::startCacheFile("ZURAR");
  EXPECT_TRUE(damaged->objectForKey("state").isNull());
  EXPECT_EQ(contentsOf(path + ".refused"), garbage);
  damaged->setObject(os::Value("new"), "state");
  ASSERT_TRUE(damaged->synchronize());
  EXPECT_EQ(DUVFileCache::startCacheFile("ZURAR")->objectForKey("state"), os::Value("new"));

  // A second damaged file goes beside the first rather than over it.
  const os::Data other = os::dataFromString("ZURAR pieces 2\nand not one whole piece");
  writeBytes(other, path);
  EXPECT_TRUE(DUVFileCache::startCacheFile("ZURAR")->objectForKey("state").isNull());
  EXPECT_EQ(contentsOf(path + ".refused"), garbage);
  EXPECT_EQ(contentsOf(path + ".refused-2"), other);

  // A file that cannot be moved aside (no name beside it is short enough) stays, and the cache
  // that could not read it neither saves nor prepares a snapshot over it.
  const std::string longName(250, 'z');
  const std::string longPath = cache->fileNameForKey(longName);
  writeBytes(garbage, longPath);
  auto stuck = DUVFileCache::startCacheFile(longName);
  stuck->setObject(os::Value("new"), "state");
  EXPECT_FALSE(stuck->synchronize());
  os::NotificationCenter::defaultCenter().post(os::kApplicationDidEnterBackgroundNotification);
  stuck->prepareCrashSnapshot({{"state", os::Value("newer")}});
  EXPECT_EQ(contentsOf(longPath), garbage);
}

// A start that finds the file but cannot read it (no descriptor left) does not know what it
// holds: the first save reads it again, and only what this run changed replaces what it held.
// While it still cannot be read, nothing is written over it, neither by a save nor by a crash.
TEST(DUVFileCache, AFileItCouldNotReadAtStartIsReadAgainBeforeASaveReplacesIt) {
  os::TestSandbox sandbox;
  auto first = DUVFileCache::startCacheFile("ZURAR");
  first->setObject(os::Value("kept"), "__DUVCrashLog");
  first->setObject(os::Value("old"), "state");
  first->setObject(os::Value("gone"), "removed");
  ASSERT_TRUE(first->synchronize());
  const std::string path = first->fileNameForKey("ZURAR");
  const auto saved = contentsOf(path);
  ASSERT_TRUE(saved);

  std::shared_ptr<DUVFileCache> blind;
  {
    os::testing::NoDescriptorLeft none;
    blind = DUVFileCache::startCacheFile("ZURAR");
  }
  EXPECT_TRUE(blind->objectForKey("__DUVCrashLog").isNull());
  blind->setObject(os::Value("new"), "state");
  blind->removeObjectForKey("removed");
  {
    os::testing::NoDescriptorLeft none;
    EXPECT_FALSE(blind->synchronize());
  }
  blind->prepareCrashSnapshot({{"state", os::Value("newer")}});
  EXPECT_FALSE(os::PreparedFile::forPath(path)->isPrepared());
  EXPECT_EQ(contentsOf(path), saved);

  ASSERT_TRUE(blind->synchronize());
  EXPECT_EQ(blind->objectForKey("__DUVCrashLog"), os::Value("kept"));
  auto reread = DUVFileCache::startCacheFile("ZURAR");
  EXPECT_EQ(reread->objectForKey("__DUVCrashLog"), os::Value("kept"));
  EXPECT_EQ(reread->objectForKey("state"), os::Value("new"));
  EXPECT_TRUE(reread->objectForKey("removed").isNull());

  // Emptied meanwhile: nothing of the file comes back.
  std::shared_ptr<DUVFileCache> emptied;
  {
    os::testing::NoDescriptorLeft none;
    emptied = DUVFileCache::startCacheFile("ZURAR");
  }
  emptied->removeAllObjects();
  emptied->setObject(os::Value("only"), "state");
  ASSERT_TRUE(emptied->synchronize());
  reread = DUVFileCache::startCacheFile("ZURAR");
  EXPECT_TRUE(reread->objectForKey("__DUVCrashLog").isNull());
  EXPECT_EQ(reread->objectForKey("state"), os::Value("only"));
}

TEST(DUVFileCache, ACrashSnapshotCutShortIsRefusedAndKeptAside) {
  os::TestSandbox sandbox;
  auto cache = DUVFileCache::startCacheFile("ZURAR");
  const std::string path = cache->fileNameForKey("ZURAR");
  os::Dictionary pending;
  for (long long n = 0; n < 200; ++n) pending.set(recordKey(n), os::Value(statusRecord(n)));
  cache->prepareCrashSnapshot({{"__DUVHistroyCache", os::Value(os::Dictionary{{"cacheObjects", os::Value(pending)}})},
                               {"__DUVLeft_time", os::Value(6.0)}});
  writeSnapshotsInChild();
  const os::Data whole = *contentsOf(path);
  // Cut anywhere, at the end mark or inside a piece, the file is not read as a smaller cache.
  int refused = 0;
  for (std::size_t length : {whole.size() - 1, whole.size() / 2, std::size_t{16}}) {
    const os::Data cut(whole.begin(), whole.begin() + static_cast<long>(length));
    writeBytes(cut, path);
    auto read = DUVFileCache::startCacheFile("ZURAR");
    EXPECT_TRUE(read->objectForKey("__DUVHistroyCache").isNull()) << length;
    EXPECT_TRUE(read->objectForKey("__DUVLeft_time").isNull()) << length;
    EXPECT_EQ(contentsOf(path + (refused++ ? ".refused-" + std::to_string(refused) : ".refused")), cut) << length;
  }
  writeBytes(whole, path);
  EXPECT_EQ(DUVFileCache::startCacheFile("ZURAR")->objectForKey("__DUVHistroyCache")["cacheObjects"], os::Value(pending));

  // The form earlier versions wrote, each piece a keyed archive after its length, reads as it
  // did; one whose last piece claims more bytes than are left is refused, not read past its end.
  auto piece = [](const os::Dictionary& content) {
    auto archive = *os::KeyedArchiver::archivedData(os::ArchiveItem(os::Value(content)));
    os::Data out;
    for (int shift = 56; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(archive.size() >> shift));
    out.insert(out.end(), archive.begin(), archive.end());
    return out;
  };
  os::Data old = os::dataFromString("ZURAR pieces 1\n");
  for (const os::Data& p : {piece({{"path", os::Value(os::Array{os::Value("log")})}, {"value", os::Value(os::Array{})}}),
                            piece({{"path", os::Value(os::Array{os::Value("log")})}, {"append", os::Value(os::Array{os::Value(1), os::Value(2)})}}),
                            piece({{"path", os::Value(os::Array{os::Value("t")})}, {"value", os::Value(6.0)}})})
    old.insert(old.end(), p.begin(), p.end());
  writeBytes(old, path);
  auto earlier = DUVFileCache::startCacheFile("ZURAR");
  EXPECT_EQ(earlier->objectForKey("log"), os::Value(os::Array{os::Value(1), os::Value(2)}));
  EXPECT_EQ(earlier->objectForKey("t"), os::Value(6.0));
  old.resize(old.size() - 1);
  writeBytes(old, path);
  EXPECT_TRUE(DUVFileCache::startCacheFile("ZURAR")->objectForKey("log").isNull());
}

// A save written by the earlier binary writer: the keyed archive of three pending records, the
// time of the last pause, a page flow of text beyond ASCII and a negative badge.
os::Data earlierSave() {
  const char* hex =
    "62706c6973743030d4010203040506070a582476657273696f6e592461726368697665725424746f7058246f626a6563"
    "747312000186a05d4b657965644172636869766572d1080954726f6f748001af10320b0c1b1c2c2d2e2f303132333d3e"
    "4a4b4c4d4e4f5051525859654f666768744f7576777d8081858687888d9394959b9c9d9e55246e756c6cd30d0e0f1015"
    "1a546b657973576f626a656374735624636c617373a4111213148002802680288030a416171819800380278029803180"
    "165f10115f5f44555648697374726f794361636865d30d0e0f1d242ba61e1f20212223800480068008800a80218024a6"
    "25262728292a800580078009800b8022802580165a6361636865436f756e7410035d6d61784361636865436f756e7411"
    "03e85f1012636c6561725768656e4d656d6f72794c6f77095c63616368654f626a65637473d30d0e0f34383ca3353637"
    "800c8017801ca3393a3b800d8018801d80165f1012393030373139393235343734303939332e30d30d0e0f3f4449a440"
    "414243800e801080128014a445464748800f8011801380158016556974696d65126553f10054747970655a6d73675f73"
    "746174757356726573756c741107d1566d73675f696459343030303030303030d2535455565a24636c6173736e616d65"
    "5824636c61737365735d6f732e44696374696f6e617279a25557596f732e4f626a6563745f1012393030373139393235"
    "343734303939332e31d30d0e0f5a5f64a45b5c5d5e800e801080128014a46061626380198011801a801b8016126553f1"
    "01593430303030303030315f1012393030373139393235343734303939332e32d30d0e0f696e73a46a6b6c6d800e8010"
    "80128014a46f707172801e8011801f80208016126553f102593430303030303030325963616368654b657973d20e0f78"
    "7ca3797a7b800c8017801c8023d253547e7f586f732e4172726179a27e575c73656e64696e674361636865d30d0e0f82"
    "8384a0a080165e5f5f4455564c6566745f74696d652341d954fc592000005f100f5f5f5a524650464c617374466c6f77"
    "d20e0f898ca28a8b802a802d8023d30d0e0f8e9092a18f802ba191802c801662999698751005d30d0e0f96989aa19780"
    "2ea199802f801667d834dd1e0020007000610067006510015f101f7a757261725f757365725f64656661756c745f6261"
    "6467655f6e756d62657213fffffffffffffffd00080011001a002400290032003700450048004d004f0084008a009100"
    "96009e00a500aa00ac00ae00b000b200b700b900bb00bd00bf00c100d500dc00e300e500e700e900eb00ed00ef00f600"
    "f800fa00fc00fe010001020104010f0111011f0122013701380145014c0150015201540156015a015c015e0160016201"
    "77017e0183018501870189018b01900192019401960198019a01a001a501aa01b501bc01bf01c601d001d501e001e901"
    "f701fa020402190220022502270229022b022d0232023402360238023a023c0241024b02600267026c026e0270027202"
    "740279027b027d027f0281028302880292029c02a102a502a702a902ab02ad02b202bb02be02cb02d202d302d402d602"
    "e502ee030003050308030a030c030e031503170319031b031d031f03240326032d032f03310333033503370346034803"
    "6a0000000000000201000000000000009f00000000000000000000000000000373";
  os::Data out;
  for (const char* p = hex; p[0] && p[1]; p += 2) out.push_back(static_cast<std::uint8_t>(std::stoi(std::string(p, 2), nullptr, 16)));
  return out;
}

TEST(DUVFileCache, AFileTheEarlierWriterSavedReadsBackAndSavesAgain) {
  os::TestSandbox sandbox;
  const std::string path = DUVFileCache::startCacheFile("ZURAR")->fileNameForKey("ZURAR");
  writeBytes(earlierSave(), path);
  os::Array keys;
  os::Dictionary pending;
  for (long long n = 0; n < 3; ++n) {
    keys.push_back(os::Value(recordKey(n)));
    pending.set(recordKey(n), os::Value(statusRecord(n)));
  }
  const os::Value reportCache(os::Dictionary{{"cacheCount", os::Value(3)},
                                             {"maxCacheCount", os::Value(1000)},
                                             {"clearWhenMemoryLow", os::Value(true)},
                                             {"cacheObjects", os::Value(pending)},
                                             {"cacheKeys", os::Value(keys)},
                                             {"sendingCache", os::Value(os::Dictionary{})}});
  const os::Value flow(os::Array{os::Value(os::Dictionary{{"首页", os::Value(5)}}),
                                 os::Value(os::Dictionary{{"\U0001D11E page", os::Value(1)}})});
  auto expectAll = [&](const DUVFileCache& cache) {
    EXPECT_EQ(cache.objectForKey("__DUVHistroyCache"), reportCache);
    EXPECT_EQ(cache.objectForKey("__DUVLeft_time"), os::Value(1700000100.5));
    EXPECT_EQ(cache.objectForKey("__ZRFPFLastFlow"), flow);
    EXPECT_EQ(cache.objectForKey("zurar_user_default_badge_number"), os::Value(-3));
  };
  auto cache = DUVFileCache::startCacheFile("ZURAR");
  expectAll(*cache);
  EXPECT_FALSE(os::FileManager::defaultManager().fileExistsAtPath(path + ".refused"));
  // Saved again by today's writer, it reads back the same.
  ASSERT_TRUE(cache->synchronize());
  expectAll(*DUVFileCache::startCacheFile("ZURAR"));
}

TEST(DUVFileCache, TextNoSaveCouldWriteIsRepairedAndStopsNoSave) {
  os::TestSandbox sandbox;
  auto cache = DUVFileCache::startCacheFile("ZURAR");
  const std::string stray = "bad \xff\xfe page", nul("a\0b", 3);
  cache->setObject(os::Value(os::Dictionary{{"cacheObjects", os::Value(os::Dictionary{{"1.0", os::Value(statusRecord(1))}})}}),
                   "__DUVHistroyCache");
  cache->setObject(os::Value(1700000000), "__DUVStart_time");
  // Page names as the application gave them, in keys and in text, nested.
  cache->setObject(os::Value(os::Array{os::Value(os::Dictionary{{"front", os::Value(5)}}),
                                       os::Value(os::Dictionary{{stray, os::Value(2)}}),
                                       os::Value(os::Dictionary{{nul, os::Value(3)}})}),
                   "__ZRFPFLastFlow");
  cache->setObject(os::Value(os::Array{os::Value(nul), os::Value::set({os::Value(stray)})}), "texts");
  const os::Value flow(os::Array{os::Value(os::Dictionary{{"front", os::Value(5)}}),
                                 os::Value(os::Dictionary{{"bad \uFFFD\uFFFD page", os::Value(2)}}),
                                 os::Value(os::Dictionary{{"a\uFFFDb", os::Value(3)}})});
  const os::Value texts(os::Array{os::Value("a\uFFFDb"), os::Value::set({os::Value("bad \uFFFD\uFFFD page")})});
  EXPECT_EQ(cache->objectForKey("__ZRFPFLastFlow"), flow);

  // Saved whole, every entry is there, the bad text alone repaired.
  ASSERT_TRUE(cache->synchronize());
  auto next = DUVFileCache::startCacheFile("ZURAR");
  EXPECT_EQ(next->objectForKey("__ZRFPFLastFlow"), flow);
  EXPECT_EQ(next->objectForKey("texts"), texts);
  EXPECT_EQ(next->objectForKey("__DUVStart_time"), os::Value(1700000000));
  EXPECT_EQ(next->objectForKey("__DUVHistroyCache")["cacheObjects"]["1.0"], os::Value(statusRecord(1)));

  // And so in pieces at a crash, entries given to the snapshot itself included.
  next->prepareCrashSnapshot({{"__DUVLeft_time", os::Value(nul)}});
  writeSnapshotsInChild();
  auto crashed = DUVFileCache::startCacheFile("ZURAR");
  EXPECT_EQ(crashed->objectForKey("__ZRFPFLastFlow"), flow);
  EXPECT_EQ(crashed->objectForKey("texts"), texts);
  EXPECT_EQ(crashed->objectForKey("__DUVLeft_time"), os::Value("a\uFFFDb"));
  EXPECT_FALSE(os::FileManager::defaultManager().fileExistsAtPath(crashed->fileNameForKey("ZURAR") + ".refused"));
}

// A file in pieces, as a crash writes it, of one piece setting `key` to the string `text`.
os::Data piecedFile(const std::string& key, const std::string& text) {
  os::Data body{1, static_cast<std::uint8_t>(key.size())};
  body.insert(body.end(), key.begin(), key.end());
  body.push_back('v');
  body.push_back('s');
  body.push_back(static_cast<std::uint8_t>(text.size()));
  body.insert(body.end(), text.begin(), text.end());
  os::Data file = os::dataFromString("ZURAR pieces 2\n");
  file.push_back(static_cast<std::uint8_t>(body.size()));
  file.insert(file.end(), body.begin(), body.end());
  file.push_back(0);
  return file;
}

TEST(DUVFileCache, APiecedFileHoldingANulIsRefusedAndSavesGoOn) {
  os::TestSandbox sandbox;
  os::testing::LogCapture log;
  const std::string path = DUVFileCache::startCacheFile("ZURAR")->fileNameForKey("ZURAR");
  // Text the other forms refuse, in a value or in a key, is refused here too: read, it would
  // stop every later save, and every start would read the same file again.
  const std::vector<std::pair<std::string, std::string>> damages{{"state", std::string("a\0b", 3)},
                                                                {std::string("st\0te", 5), "ab"}};
  for (std::size_t i = 0; i < damages.size(); ++i) {
    const os::Data damaged = piecedFile(damages[i].first, damages[i].second);
    writeBytes(damaged, path);
    auto cache = DUVFileCache::startCacheFile("ZURAR");
    EXPECT_FALSE(cache->hasObjectForKey("state")) << i;
    EXPECT_EQ(contentsOf(path + (i == 0 ? ".refused" : ".refused-2")), damaged) << i;
    cache->setObject(os::Value("new"), "state");
    ASSERT_TRUE(cache->synchronize()) << i;
    EXPECT_EQ(DUVFileCache::startCacheFile("ZURAR")->objectForKey("state"), os::Value("new")) << i;
  }
  const auto lines = log.lines();
  ASSERT_EQ(lines.size(), 2u);
  for (const auto& line : lines) EXPECT_NE(line.find("holds a NUL"), std::string::npos) << line;
}

TEST(DUVFileCache, ARefusedFileIsLoggedWithTheReasonItWasRefused) {
  os::TestSandbox sandbox;
  os::testing::LogCapture log;
  const std::string path = DUVFileCache::startCacheFile("ZURAR")->fileNameForKey("ZURAR");
  os::Data cut = piecedFile("state", "new");
  cut.pop_back();
  writeBytes(cut, path);
  DUVFileCache::startCacheFile("ZURAR");
  os::Data damaged = piecedFile("state", "new");
  damaged[damaged.size() - 6] = 'x';  // no longer a piece that sets a value
  writeBytes(damaged, path);
  DUVFileCache::startCacheFile("ZURAR");
  os::Data earlier = os::dataFromString("ZURAR pieces 1\n");
  earlier.insert(earlier.end(), {0, 0, 0, 0, 0, 0, 0, 1, 'x'});  // one piece of one byte, no archive
  writeBytes(earlier, path);
  DUVFileCache::startCacheFile("ZURAR");
  const auto lines = log.lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_NE(lines[0].find("(it is cut short)"), std::string::npos) << lines[0];
  EXPECT_NE(lines[1].find("(a piece of it is damaged)"), std::string::npos) << lines[1];
  EXPECT_NE(lines[2].find("(a piece of it could not be read: "), std::string::npos) << lines[2];
  for (const auto& line : lines) EXPECT_EQ(line.find("error 0"), std::string::npos) << line;
}

}  // namespace
