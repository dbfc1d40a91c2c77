// The file cache reads back whatever it saved: a report cache at its own bound, records of many
// small objects; and what the next start could not read it does not save.
#include <gtest/gtest.h>

#include <string>

#include "os/store/FileManager.h"
#include "os/store/KeyedArchive.h"
#include "os/store/PreparedFile.h"
#include "os/store/PropertyList.h"
#include "os/testing/LogCapture.h"
#include "os/testing/TestSandbox.h"
#include "push/report/DUVReportCache.h"
#include "push/utilities/DUVFileCache.h"

namespace {

// A message-status record as the client makes it, the smallest kind.
os::Dictionary statusRecord(long long n) {
  return os::Dictionary{{"itime", os::Value(1700000000 + n)},
                        {"type", os::Value("msg_status")},
                        {"result", os::Value(2001)},
                        {"msg_id", os::Value(std::to_string(400000000 + n))}};
}

// A usage session's record with its pages, each a one-entry dictionary of page name and seconds.
os::Dictionary sessionRecord(long long n, int pages) {
  static const char* const kPages[] = {"VXNewsListViewController", "VXArticleViewController", "VXAlbumViewController",
                                       "VXSettingsViewController", "VXOfflineViewController"};
  os::Array activities;
  for (int i = 0; i < pages; ++i)
    activities.push_back(os::Value(os::Dictionary{{kPages[(n + i) % 5], os::Value(1 + (n * 7 + i) % 300)}}));
  return os::Dictionary{{"type", os::Value("active_terminate")},
                        {"itime", os::Value(1700000000 + n)},
                        {"duration", os::Value(600 + n % 50)},
                        {"session_id", os::Value("5f2b9c" + std::to_string(1000000 + n))},
                        {"activities", os::Value(std::move(activities))},
                        {"date", os::Value("2023-11-14")},
                        {"time", os::Value("22:13:20")}};
}

std::string recordKey(long long n) { return std::to_string(9007199254740993ull + static_cast<unsigned long long>(n)) + ".0"; }

// The rest of what going inactive writes beside the report cache.
os::Dictionary sessionState() {
  return os::Dictionary{
      {"__DUVStart_time", os::Value(1700000000)},
      {"__DUVLeft_time", os::Value(1700000100.5)},
      {"__DUVCrashLog", os::Value(os::Array{os::Value(os::Array{os::Value("crash"), os::Value("main\n")})})},
      {"__DUVCrashTaken", os::Value(os::Array{os::Value("crash-1.log")})},
      {"zurar_user_default_badge_number", os::Value(3)},
  };
}

// Saves the report cache with the session beside it, then reads both back as the next start does.
void expectSavedAndReadBack(const DUVReportCache& reportCache) {
  const os::Value archived = reportCache.archivedValue();
  {
    auto cache = DUVFileCache::startCacheFile("ZURAR");
    for (const auto& [key, value] : sessionState()) cache->setObject(value, key);
    cache->setObject(archived, "__DUVHistroyCache");
    ASSERT_TRUE(cache->synchronize());
  }
  os::testing::LogCapture log;
  auto next = DUVFileCache::startCacheFile("ZURAR");
  EXPECT_FALSE(os::FileManager::defaultManager().fileExistsAtPath(next->fileNameForKey("ZURAR") + ".refused"))
      << (log.lines().empty() ? std::string() : log.lines().front());
  for (const auto& [key, value] : sessionState()) EXPECT_EQ(next->objectForKey(key), value) << key;
  auto restored = DUVReportCache::fromArchivedValue(next->objectForKey("__DUVHistroyCache"));
  EXPECT_EQ(restored->count(), reportCache.count());
  EXPECT_TRUE(restored->pending() == reportCache.pending());
}

// The length of the report cache's archive, the size its own check measures.
std::size_t archiveLength(const DUVReportCache& cache) {
  auto archive = os::PropertyList::write(cache.archivedValue(), os::PropertyListFormat::Binary);
  return archive ? archive->size() : 0;
}

// A message-status record with `padding` bytes of text no other record holds.
os::Dictionary paddedStatusRecord(long long n, std::size_t padding) {
  os::Dictionary record = statusRecord(n);
  std::string pad = std::to_string(n) + "/";
  pad.resize(padding, 'p');
  record.set("pad", os::Value(pad));
  return record;
}

TEST(DUVCacheBound, ARecordCacheFilledToItsBoundComesBackWhole) {
  os::TestSandbox sandbox;
  // 190,000 message-status records, each with some text of its own, and the newest padded to
  // bring the archive the size check measures to its limit: over four million nodes archived.
  const long long records = 190000;
  const std::size_t limit = DUVReportCache::kMaximumArchiveBytes;
  os::Dictionary pending;
  auto cacheOf = [&] { return DUVReportCache::fromArchivedValue(os::Value(os::Dictionary{{"cacheObjects", os::Value(pending)}})); };
  for (long long n = 0; n < records; ++n) pending.set(recordKey(n), os::Value(paddedStatusRecord(n, 140)));
  const std::size_t measured = archiveLength(*cacheOf());
  ASSERT_LT(measured, limit);
  os::Dictionary last = paddedStatusRecord(records - 1, 140);
  last.set("fill", os::Value(std::string(limit - measured - 64, 'f')));
  pending.set(recordKey(records - 1), os::Value(last));
  auto reportCache = cacheOf();

  // At its bound: one more record, and the oldest go, down to a sixteenth under the limit.
  reportCache->addCacheObject(statusRecord(records), recordKey(records));
  ASSERT_LE(reportCache->count(), static_cast<std::size_t>(records));
  const std::size_t length = archiveLength(*reportCache);
  ASSERT_LE(length, limit - limit / 16);
  ASSERT_GT(length, limit - limit / 8);
  expectSavedAndReadBack(*reportCache);
}

TEST(DUVCacheBound, ManySessionsOfManyPagesComeBackWhole) {
  os::TestSandbox sandbox;
  DUVReportCache reportCache;
  for (long long n = 0; n < 2500; ++n) reportCache.addCacheObject(sessionRecord(n, 200), recordKey(n));
  ASSERT_EQ(reportCache.count(), 2500u);
  expectSavedAndReadBack(reportCache);
}

// A save past what the next start reads is refused, saying so, and the file keeps the last save.
TEST(DUVCacheBound, ASaveTheNextStartCouldNotReadIsRefusedAndTheLastSaveStays) {
  os::TestSandbox sandbox;
  {
    auto cache = DUVFileCache::startCacheFile("ZURAR");
    for (const auto& [key, value] : sessionState()) cache->setObject(value, key);
    ASSERT_TRUE(cache->synchronize());
    cache->setObject(os::Value(os::Data(std::size_t{193} << 20, 7)), "picture");
    os::testing::LogCapture log;
    EXPECT_FALSE(cache->synchronize());
    ASSERT_FALSE(log.lines().empty());
    EXPECT_NE(log.lines().back().find("was not saved"), std::string::npos) << log.lines().back();
  }
  auto next = DUVFileCache::startCacheFile("ZURAR");
  EXPECT_FALSE(os::FileManager::defaultManager().fileExistsAtPath(next->fileNameForKey("ZURAR") + ".refused"));
  for (const auto& [key, value] : sessionState()) EXPECT_EQ(next->objectForKey(key), value) << key;
  EXPECT_FALSE(next->hasObjectForKey("picture"));
}

// The same for the snapshot a crash would write: past that size none is kept, so a crash leaves the
// last save rather than a file the next start moves aside.
TEST(DUVCacheBound, ACrashSnapshotTheNextStartCouldNotReadIsNotPrepared) {
  os::TestSandbox sandbox;
  auto cache = DUVFileCache::startCacheFile("ZURAR");
  for (const auto& [key, value] : sessionState()) cache->setObject(value, key);
  cache->prepareCrashSnapshot({});
  auto* file = os::PreparedFile::forPath(cache->fileNameForKey("ZURAR"));
  ASSERT_TRUE(file);
  EXPECT_TRUE(file->isPrepared());
  os::testing::LogCapture log;
  cache->prepareCrashSnapshot({{"picture", os::Value(os::Data(std::size_t{193} << 20, 7))}});
  EXPECT_FALSE(file->isPrepared());
  EXPECT_TRUE(log.contains("crash snapshot"));
}

}  // namespace

namespace {

// The keyed archive the file cache writes of a report cache, as a save would.
std::optional<os::Data> keyedArchiveOf(const DUVReportCache& cache, const os::KeyedArchiveLimits* limits = nullptr) {
  os::Error error;
  return os::KeyedArchiver::archivedData(os::ArchiveItem(cache.archivedValue()), os::kKeyedArchiveRootKey, &error, limits);
}

TEST(DUVCacheBound, UsageSessionsOfManyPagesAreTrimmedByWhatTheFileWillHold) {
  // Sessions of 200 pages archive in the file at several times the bytes the size check counts:
  // with a share of 3 MiB of the file they pass it long before the 50 MiB of the size check.
  // Through every add the cache stays within the share, the oldest going first.
  os::TestSandbox sandbox;
  DUVReportCache::FileShare share;
  share.bytes = std::uint64_t{3} << 20;
  DUVReportCache cache(share);
  const long long sessions = 300;
  for (long long n = 0; n < sessions; ++n) {
    cache.addCacheObject(sessionRecord(n, 200), recordKey(n));
    ASSERT_LE(cache.fileLengthBound(), share.bytes) << "session " << n;
  }
  auto archive = keyedArchiveOf(cache);
  ASSERT_TRUE(archive);
  EXPECT_LE(archive->size(), share.bytes);
  EXPECT_GT(archive->size(), share.bytes / 2);  // trimmed to the share, not far under it
  EXPECT_LT(cache.count(), static_cast<std::size_t>(sessions));
  EXPECT_EQ(cache.cacheKeys().front(), recordKey(sessions - static_cast<long long>(cache.count())));
  EXPECT_TRUE(cache.pending().contains(recordKey(sessions - 1)));
  expectSavedAndReadBack(cache);
}

TEST(DUVCacheBound, RecordsOfManyTinyObjectsAreTrimmedByTheObjectsTheFileWillList) {
  // The file lists a bounded number of objects: a share of 40,000 of them, and sessions of some
  // 400 objects each, and the cache keeps within it.
  os::TestSandbox sandbox;
  DUVReportCache::FileShare share;
  share.objects = 40000;
  DUVReportCache cache(share);
  for (long long n = 0; n < 200; ++n) {
    cache.addCacheObject(sessionRecord(n, 200), recordKey(n));
    ASSERT_LE(cache.fileObjectsBound(), share.objects) << "session " << n;
  }
  EXPECT_LT(cache.count(), 200u);
  os::KeyedArchiveLimits limits;
  limits.maxObjects = share.objects;
  limits.maxBytes = std::size_t{1} << 30;
  limits.maxNodes = std::uint64_t{1} << 30;
  EXPECT_TRUE(keyedArchiveOf(cache, &limits));
}

}  // namespace

namespace {

// A flood of message statuses at the file share while the report service refuses every upload:
// each notification adds its record, and its report takes the two oldest pending records in,
// posts them (in flight under its flag) and is refused, so they come back as pending. The cache
// keeps within its share and the file saves whole; and the whole cache is archived about twice
// per sixteenth of the share that records entering either area add, not at every notification.
TEST(DUVCacheBound, AFloodAtTheFileShareArchivesTheWholeCacheOncePerSixteenthOfIt) {
  os::TestSandbox sandbox;
  DUVReportCache::FileShare share;
  share.bytes = std::uint64_t{256} << 10;
  // Filled until the oldest go: standing at its share.
  auto cache = std::make_shared<DUVReportCache>(share);
  long long n = 0;
  for (; cache->count() == static_cast<std::size_t>(n); ++n) cache->addCacheObject(paddedStatusRecord(n, 200), recordKey(n));
  const std::uint64_t before = cache->wholeArchives();

  const int notifications = 300;
  for (int i = 0; i < notifications; ++i, ++n) {
    cache->addCacheObject(paddedStatusRecord(n, 200), recordKey(n));
    const std::string flag = std::to_string(1000 + i);
    for (int k = 0; k < 2; ++k) {
      const std::string key = cache->cacheKeys().front();
      const os::Dictionary record = *cache->pending().find(key)->dictionary();
      cache->removeCacheObjectForKey(key);
      cache->addSendingCacheObject(record, flag + "." + std::to_string(k));
    }
    for (int k = 0; k < 2; ++k) cache->changeSendingObjectFailedForKey(flag + "." + std::to_string(k));
    ASSERT_LE(cache->fileLengthBound(), share.bytes) << "notification " << i;
    if (i % 100 == 0) {
      auto archive = keyedArchiveOf(*cache);
      ASSERT_TRUE(archive);
      ASSERT_LE(archive->size(), cache->fileLengthBound()) << "notification " << i;
    }
  }
  // Each notification brings about 1 KiB through the bound, mostly text no other record holds
  // (its record, and the two posted under new keys; what leaves gives back what surely goes, and
  // the two refused come back counted already): some 20 sixteenths of the share over the flood,
  // two archives each.
  EXPECT_LE(cache->wholeArchives() - before, 64u);
  auto archive = keyedArchiveOf(*cache);
  ASSERT_TRUE(archive);
  EXPECT_LE(archive->size(), share.bytes);
  EXPECT_GT(archive->size(), share.bytes / 2);
  expectSavedAndReadBack(*cache);
}

}  // namespace

namespace {

// Message statuses added one by one to a cache whose share lies of 128 KiB of file: on the way
// the file's offset table comes to start past 64 KiB, and its offsets widen from two bytes to
// three. While the file is longer than that and its table still starts short of it, the measured
// length bounds the file only with its offsets widened: without that the bound is the records
// counted apart, past the share, and every add archives the whole cache again, trimming nothing.
TEST(DUVCacheBound, OffsetsAboutToWidenDoNotHaveEveryAddArchiveTheWholeCache) {
  DUVReportCache::FileShare share;
  share.bytes = 128 << 10;
  auto cache = std::make_shared<DUVReportCache>(share);
  long long n = 0;
  for (; cache->count() == static_cast<std::size_t>(n); ++n) {
    cache->addCacheObject(statusRecord(n), recordKey(n));
    ASSERT_LE(cache->wholeArchives(), 8u) << "record " << n;
  }
  auto archive = keyedArchiveOf(*cache);
  ASSERT_TRUE(archive);
  EXPECT_GE((*archive)[archive->size() - 32 + 6], 3);  // the offsets widened on the way
  EXPECT_LE(archive->size(), cache->fileLengthBound());
  EXPECT_LE(cache->fileLengthBound(), share.bytes);
}

}  // namespace
