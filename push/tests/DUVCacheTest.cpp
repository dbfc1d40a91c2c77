#include <gtest/gtest.h>

#include <sys/resource.h>
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
#include "os/testing/TestSandbox.h"
#include "os/views/Application.h"
#include "push/report/DUVReportCache.h"
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

}  // namespace
