#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "os/store/KeyedArchive.h"
#include "os/store/PropertyList.h"
#include "push/report/DUVReportCache.h"

namespace {

constexpr std::size_t kLimit = DUVReportCache::kMaximumArchiveBytes;

std::size_t archiveLength(const DUVReportCache& cache) {
  auto archive = os::PropertyList::write(cache.archivedValue(), os::PropertyListFormat::Binary);
  return archive ? archive->size() : 0;
}

// A record of about `size` bytes of text no other record holds (equal texts are archived once).
os::Dictionary bigRecord(int n, std::size_t size) {
  std::string pad(size, 'a');
  std::string mark = std::to_string(n) + "/";
  for (std::size_t i = 0; i + mark.size() <= size; i += 4096) pad.replace(i, mark.size(), mark);
  return os::Dictionary{{"type", os::Value("t")}, {"itime", os::Value(1700000000 + n)}, {"pad", os::Value(pad)}};
}

// Fills with records of `size` bytes to a few records short of the limit, then adds one at a
// time, each time against what archiving the whole cache after the add would have trimmed.
void crossTheLimit(std::size_t size, std::size_t expectedRun) {
  DUVReportCache cache;
  int n = 0;
  const std::size_t quiet = kLimit / (size + 64) - 2;
  for (; n < static_cast<int>(quiet); ++n) cache.addCacheObject(bigRecord(n, size), std::to_string(n) + ".0");
  ASSERT_EQ(cache.count(), quiet);
  int trims = 0;
  // One trim, and for a lone record a second one from the cache now standing at the limit.
  const int wanted = expectedRun == 1 ? 2 : 1;
  for (int added = 0; added < 6 && trims < wanted; ++added, ++n) {
    // The cache as it would stand after the add, untrimmed, built from the archived form.
    os::Value archived = cache.archivedValue();
    os::Dictionary pending = *archived["cacheObjects"].dictionary();
    os::Dictionary record = bigRecord(n, size);
    std::string key = std::to_string(n) + ".0";
    pending.set(key, os::Value(record));
    auto untrimmed = DUVReportCache::fromArchivedValue(os::Value(os::Dictionary{{"cacheObjects", os::Value(pending)}}));
    std::vector<std::string> expected = untrimmed->pending().keys();
    if (archiveLength(*untrimmed) > kLimit) {
      ++trims;
      expected.erase(expected.begin(), expected.begin() + static_cast<long>(expectedRun));
    }
    cache.addCacheObject(record, key);
    ASSERT_EQ(cache.pending().keys(), expected) << "add " << added;
  }
  EXPECT_EQ(trims, wanted);
}

TEST(DUVReportCache, TrimsWhereTheWholeArchivePassesTheLimit) {
  // Under 100 pending records the oldest goes alone; from 100 on, a run of them.
  crossTheLimit(700 * 1024, 1);
  crossTheLimit(500 * 1024, DUVReportCache::kTrimRun);
}

// A record of text no other record holds and none of it ASCII: characters of three UTF-8 bytes
// and ones of four, past the BMP, which the archive writes as two and four bytes (UTF-16).
os::Dictionary wideRecord(int n, std::size_t pairs) {
  std::string text = std::to_string(n) + "/";
  text.reserve(text.size() + pairs * 7);
  for (std::size_t i = 0; i < pairs; ++i) text += "要😀";
  return os::Dictionary{{"type", os::Value("t")}, {"itime", os::Value(1700000000 + n)}, {"pad", os::Value(text)}};
}

TEST(DUVReportCache, StaysUnderTheLimitWhereTheSizeOnlyTheArchiveKnowsGrows) {
  // Text that is not ASCII: the archive holds it in more bytes than it has characters.
  {
    DUVReportCache cache;
    for (int n = 0; n < 15; ++n) cache.addCacheObject(wideRecord(n, 700 * 1024), std::to_string(n) + ".0");
    const std::size_t length = archiveLength(cache);
    EXPECT_LE(length, kLimit);
    EXPECT_LE(length, cache.archiveLengthBound());
    EXPECT_LT(cache.count(), 15u);
  }
  // Records that come after the archive was measured, in flight or pending: the measured length
  // is where the bound starts from, not where it stays.
  {
    DUVReportCache cache;
    const std::string shared(1 << 20, 's');
    for (int n = 0; n < 52; ++n) cache.addCacheObject(os::Dictionary{{"pad", os::Value(shared)}}, "s" + std::to_string(n));
    ASSERT_LT(cache.archiveLengthBound(), kLimit / 4);  // measured: the text is held once
    for (int n = 0; n < 52; ++n) cache.removeCacheObjectForKey("s" + std::to_string(n));
    for (int n = 0; n < 20; ++n) cache.addSendingCacheObject(bigRecord(n, 1 << 20), "f" + std::to_string(n));
    for (int n = 20; n < 60; ++n) cache.addCacheObject(bigRecord(n, 1 << 20), "p" + std::to_string(n));
    const std::size_t length = archiveLength(cache);
    EXPECT_LE(length, kLimit);
    EXPECT_LE(length, cache.archiveLengthBound());
    EXPECT_EQ(cache.sendingPackageCache().size(), 20u);  // the in-flight area is not trimmed
  }
}

// Records of every kind the archive holds, mostly tiny, some nested, some not ASCII.
os::Value randomValue(std::mt19937& rng, int depth) {
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  switch (pick(depth > 2 ? 9 : 11)) {
    case 0: return os::Value(pick(2) == 0);
    case 1: return os::Value(static_cast<long long>(rng() % 300));
    case 2: return os::Value(static_cast<long long>(rng()) << pick(40));
    case 3: return os::Value(-static_cast<long long>(rng() % 100000) - 1);
    case 4: return os::Value(static_cast<unsigned long long>(rng()) << 40);
    case 5: return os::Value(static_cast<double>(rng()) / 7);
    case 6: return os::Value(os::Date::fromTimeIntervalSince1970(1.7e9 + pick(1000)));
    case 7: {
      static const char* const texts[] = {"要闻", "军情速递", "é", "😀x", "ok"};
      std::string s;
      for (int i = pick(12); i > 0; --i) s += texts[pick(5)];
      return os::Value(s);
    }
    case 8: return os::Value(os::Data(static_cast<std::size_t>(pick(40)), 7));
    case 9: {
      os::Array items;
      for (int i = pick(20); i > 0; --i) items.push_back(randomValue(rng, depth + 1));
      return os::Value(items);
    }
    default: {
      os::Dictionary entries;
      for (int i = pick(18); i > 0; --i) entries.set("k" + std::to_string(pick(30)), randomValue(rng, depth + 1));
      return os::Value(entries);
    }
  }
}

// Thirty numbers no other record holds.
os::Dictionary numbers(int n) {
  os::Array items;
  for (int i = 0; i < 30; ++i) items.push_back(os::Value(n * 100 + i));
  return os::Dictionary{{"n", os::Value(items)}};
}

os::Dictionary randomRecord(std::mt19937& rng, int n) {
  if (rng() % 5 == 0) return numbers(n);
  os::Dictionary record{{"type", os::Value("t")}, {"itime", os::Value(1700000000 + n)}};
  if (rng() % 4 == 0) record.set("body", randomValue(rng, 0));
  if (rng() % 20 == 0) record.set("pad", os::Value(std::string(rng() % 5000, 'p')));
  return record;
}

// One step of what the cache's users do: adds, sends, failures moved back, removals of either
// area, resets, the memory cache's own removals and additions, and a save and restore.
void randomStep(std::shared_ptr<DUVReportCache>& cache, std::mt19937& rng, int n) {
  std::string key = std::to_string(rng() % 400) + "." + std::to_string(rng() % 3);
  auto someKey = [&]() -> std::string {
    std::vector<std::string> keys(cache->cacheKeys().begin(), cache->cacheKeys().end());
    return keys.empty() ? key : keys[rng() % keys.size()];
  };
  auto someSendingKey = [&]() -> std::string {
    auto keys = cache->sendingPackageCache().keys();
    return keys.empty() ? key : keys[rng() % keys.size()];
  };
  switch (rng() % 20) {
    case 0: case 1: case 2: case 3: case 4: case 5: cache->addCacheObject(randomRecord(rng, n), key); break;
    case 6: case 7: {
      // A packet posted: records taken from the pending area into flight.
      std::string taken = someKey();
      if (const os::Value* record = cache->pending().find(taken); record && record->dictionary()) {
        os::Dictionary copy = *record->dictionary();
        cache->removeCacheObjectForKey(taken);
        cache->addSendingCacheObject(copy, taken);
      } else {
        cache->addSendingCacheObject(randomRecord(rng, n), key);
      }
      break;
    }
    case 8: case 9: cache->changeSendingObjectFailedForKey(someSendingKey()); break;
    case 10: cache->removeSendingObjectForKey(someSendingKey()); break;
    case 11: cache->removeCacheObjectForKey(someKey()); break;
    case 12:
      if (rng() % 4 == 0) cache->resetCache();
      break;
    case 13: cache->removeFirstObject(); break;
    case 14: cache->removeObjectsAtIndexes(rng() % 10, rng() % 3); break;
    case 15: if (!cache->pending().empty()) cache->removeObject(cache->pending()[someKey()]); break;
    case 16: cache->setObject(os::Value(randomRecord(rng, n)), someKey()); break;
    case 17: if (rng() % 50 == 0) cache->removeAllObjects(); break;
    case 18: if (rng() % 10 == 0) cache = DUVReportCache::fromArchivedValue(cache->archivedValue()); break;
    default: cache->setMaxCacheCount(static_cast<int>(rng() % 3000) - 5); break;
  }
}

TEST(DUVReportCache, BoundNeverBelowTheArchiveThroughEveryChange) {
  std::mt19937 rng(20240611);
  auto cache = std::make_shared<DUVReportCache>();
  for (int n = 0; n < 1000; ++n) {
    randomStep(cache, rng, n);
    ASSERT_LE(archiveLength(*cache), cache->archiveLengthBound()) << "step " << n;
  }
  // References and offsets widen from one byte to two, then to four past 65,536 objects: records
  // of distinct numbers, nothing shared, so the widening is most of what the bound must allow.
  cache = std::make_shared<DUVReportCache>();
  for (int n = 0; n < 2300; ++n) {
    cache->addCacheObject(numbers(n), std::to_string(n));
    if (n % 100 == 0 || (n > 1900 && n < 2100 && n % 10 == 0)) {
      ASSERT_LE(archiveLength(*cache), cache->archiveLengthBound()) << n;
    }
  }
}

TEST(DUVReportCache, FileBoundNeverBelowTheKeyedArchiveThroughEveryChange) {
  // The same changes on a cache with a small file share: the keyed bound starts from the archive
  // measured at the share and grows by what enters, text it counted already counted once; records
  // refused come back from flight counted already.
  DUVReportCache::FileShare share;
  share.bytes = 48 << 10;
  std::mt19937 rng(20261209);
  auto cache = std::make_shared<DUVReportCache>(share);
  bool measured = false;
  for (int n = 0; n < 1500; ++n) {
    randomStep(cache, rng, n);
    if (cache->fileShare().bytes != share.bytes) {  // restored with the default share
      auto restored = std::make_shared<DUVReportCache>(share);
      for (const auto& [key, record] : cache->sendingPackageCache()) restored->addSendingCacheObject(*record.dictionary(), key);
      for (const auto& [key, record] : cache->pending()) restored->addCacheObject(*record.dictionary(), key);
      cache = restored;
    }
    measured = measured || cache->wholeArchives() > 0;
    auto archive = os::KeyedArchiver::archivedData(os::ArchiveItem(cache->archivedValue()));
    ASSERT_TRUE(archive);
    ASSERT_LE(archive->size(), cache->fileLengthBound()) << "step " << n;
  }
  EXPECT_TRUE(measured);  // the bound was measured, not only summed

  // Records of short texts no other record holds, which the archive lists in little more than
  // their bytes: a text counted as held already where it is not would leave the bound short.
  cache = std::make_shared<DUVReportCache>(share);
  auto texts = [](int n) {
    os::Array items;
    for (int i = 0; i < 20; ++i) items.push_back(os::Value(std::string(30, 'w') + "/" + std::to_string(n * 100 + i)));
    return os::Dictionary{{"words", os::Value(items)}};
  };
  for (int n = 0; n < 400; ++n) {
    cache->addCacheObject(texts(n), "w" + std::to_string(n));
    if (n % 3 == 2) {
      const std::string oldest = cache->cacheKeys().front();
      os::Dictionary record = *cache->pending().find(oldest)->dictionary();
      cache->removeCacheObjectForKey(oldest);
      cache->addSendingCacheObject(record, "f" + std::to_string(n));
      cache->changeSendingObjectFailedForKey("f" + std::to_string(n));
    }
    auto archive = os::KeyedArchiver::archivedData(os::ArchiveItem(cache->archivedValue()));
    ASSERT_TRUE(archive);
    ASSERT_LE(archive->size(), cache->fileLengthBound()) << "record " << n;
  }
  EXPECT_GT(cache->wholeArchives(), 0u);
}

TEST(DUVReportCache, SharedTextPassesTheBoundNotTheLimit) {
  // Fifty-two records holding one 1 MiB text: counted apart they pass the limit, but the archive
  // holds the text once, so nothing goes; once the archive has been measured the bound follows
  // it rather than the records' sum.
  std::mt19937 rng(7);
  auto cache = std::make_shared<DUVReportCache>();
  const std::string shared(1 << 20, 's');
  for (int n = 0; n < 52; ++n) cache->addCacheObject(os::Dictionary{{"pad", os::Value(shared)}}, "s" + std::to_string(n));
  EXPECT_EQ(cache->count(), 52u);
  EXPECT_LT(cache->archiveLengthBound(), kLimit / 4);
  // Measured with few objects: tiny records of every kind follow, widening references and
  // offsets, with sends, failures and resets, and the bound stays the measured one.
  for (int n = 5; n < 52; ++n) cache->removeCacheObjectForKey("s" + std::to_string(n));
  ASSERT_LT(cache->archiveLengthBound(), 4u << 20);
  for (int n = 0; n < 60; ++n) {
    std::string key = std::to_string(n);
    cache->addSendingCacheObject(randomRecord(rng, n), key);
    if (n % 3 == 0) cache->changeSendingObjectFailedForKey(key);
    else cache->addCacheObject(randomRecord(rng, n), key + ".1");
    if (n % 10 == 0) cache->resetCache();
    ASSERT_LE(archiveLength(*cache), cache->archiveLengthBound()) << "step " << n;
  }
  // Every other change on the measured cache: what leaves gives back only what surely went.
  for (int n = 0; n < 600; ++n) {
    randomStep(cache, rng, n);
    ASSERT_LE(archiveLength(*cache), cache->archiveLengthBound()) << "random step " << n;
  }
}

TEST(DUVReportCache, AtTheBoundWithThreeByteReferencesAddsDoNotEachArchive) {
  // Sixteen thousand message-status records of about 3 KiB, each of its own text, up to 100 KiB
  // under the limit: some 80,000 objects, which the archive refers to in three bytes each.
  os::Dictionary pending;
  auto statusRecord = [](long long n, std::size_t padding) {
    std::string pad(padding, 'x');
    std::string mark = std::to_string(n) + "/";
    pad.replace(0, mark.size(), mark);
    return os::Value(os::Dictionary{{"itime", os::Value(1700000000 + n)},
                                    {"type", os::Value("msg_status")},
                                    {"msg_id", os::Value(std::to_string(400000000 + n))},
                                    {"pad", os::Value(pad)}});
  };
  auto key = [](long long n) { return std::to_string(9007199254740993ull + static_cast<unsigned long long>(n / 3)) + "." + std::to_string(n % 3); };
  const long long records = 16000;
  for (long long n = 0; n < records; ++n) pending.set(key(n), statusRecord(n, 3000));
  auto cacheOf = [&] { return DUVReportCache::fromArchivedValue(os::Value(os::Dictionary{{"cacheObjects", os::Value(pending)}})); };
  const std::size_t target = kLimit - 100 * 1024;
  const std::size_t first = archiveLength(*cacheOf());
  ASSERT_LT(first, target);
  pending.set(key(0), statusRecord(0, 3000 + target - first));
  auto cache = cacheOf();
  auto archive = os::PropertyList::write(cache->archivedValue(), os::PropertyListFormat::Binary);
  ASSERT_TRUE(archive);
  ASSERT_NEAR(static_cast<double>(archive->size()), static_cast<double>(target), 64);
  ASSERT_EQ((*archive)[archive->size() - 32 + 7], 3u);  // the width of a reference

  // The first add measures the archive (found within a sixteenth of the limit, it is trimmed to a
  // sixteenth under); thirty more, of about a hundred bytes each, leave it well under the limit,
  // and the bound that counts as the archive is written knows it: none of them archives the cache
  // again (each add archives exactly when the bound passes the limit).
  cache->addCacheObject(os::Dictionary{{"type", os::Value("msg_status")}, {"itime", os::Value(1)}}, "first.0");
  const std::uint64_t archives = cache->wholeArchives();
  const std::size_t measured = cache->count();
  for (int n = 0; n < 30; ++n) {
    cache->addCacheObject(os::Dictionary{{"type", os::Value("msg_status")}, {"itime", os::Value(1700000000 + n)},
                                         {"msg_id", os::Value(std::to_string(500000000 + n))}},
                          "added" + std::to_string(n) + ".0");
    ASSERT_LE(cache->archiveLengthBound(), kLimit) << "add " << n;
  }
  EXPECT_EQ(cache->wholeArchives(), archives);
  EXPECT_EQ(cache->count(), measured + 30);
  const std::size_t length = archiveLength(*cache);
  EXPECT_LT(length, kLimit);
  EXPECT_LE(length, cache->archiveLengthBound());
}

TEST(DUVReportCache, AtTheLimitATrimLeavesTheNextAddsUnarchived) {
  // Message-status records of about 3 KiB alike in their keys and type, which the archive holds
  // once and the sums count in every record, up to 20 KiB under the limit; then adds of the same
  // kind. An add archives the whole cache exactly when the bound passes the limit: a trim takes
  // the cache down to a sixteenth under it, so that a sixteenth's worth of adds follow before the
  // next one, and a bound still past the limit after a trim would make the next add archive again.
  auto statusRecord = [](long long n, std::size_t padding) {
    std::string pad(padding, 'x');
    std::string mark = std::to_string(n) + "/";
    pad.replace(0, mark.size(), mark);
    return os::Dictionary{{"itime", os::Value(1700000000 + n)},
                          {"type", os::Value("msg_status")},
                          {"msg_id", os::Value(std::to_string(400000000 + n))},
                          {"pad", os::Value(pad)}};
  };
  auto key = [](long long n) { return std::to_string(9007199254740993ull + static_cast<unsigned long long>(n)) + ".0"; };
  os::Dictionary pending;
  const long long records = 16000;
  for (long long n = 0; n < records; ++n) pending.set(key(n), os::Value(statusRecord(n, 3000)));
  auto cacheOf = [&] { return DUVReportCache::fromArchivedValue(os::Value(os::Dictionary{{"cacheObjects", os::Value(pending)}})); };
  const std::size_t target = kLimit - 20 * 1024;
  const std::size_t first = archiveLength(*cacheOf());
  ASSERT_LT(first, target);
  // The length made up by the newest record, so that the oldest, which go first, are all alike.
  pending.set(key(records - 1), os::Value(statusRecord(records - 1, 3000 + target - first)));
  auto cache = cacheOf();
  cache->addCacheObject(statusRecord(records, 3000), key(records));  // measures and trims the archive
  ASSERT_LT(cache->count(), static_cast<std::size_t>(records) + 1 - DUVReportCache::kTrimRun);
  ASSERT_LE(cache->archiveLengthBound(), kLimit - kLimit / 16 + 1024);

  std::size_t trims = 0, forced = 0, added = 0;
  const std::uint64_t archives = cache->wholeArchives();
  long long n = records + 1;
  for (; n < records + 6000 && trims < 3; ++n, ++added) {
    const std::size_t before = cache->count();
    if (cache->archiveLengthBound() > kLimit) ++forced;
    cache->addCacheObject(statusRecord(n, 3000), key(n));
    if (cache->count() <= before) {
      ++trims;
      // A sixteenth of the limit goes, some thousand records: room for as many adds.
      EXPECT_GT(before + 1 - cache->count(), 900u);
      EXPECT_LE(cache->archiveLengthBound(), kLimit - kLimit / 16 + 1024) << "after the trim at add " << added;
    }
  }
  EXPECT_EQ(trims, 3u);
  EXPECT_EQ(forced, 0u);
  EXPECT_GT(added, 2000u);
  // The cache archived whole a few times per trim, not at every add near the limit.
  EXPECT_LE(cache->wholeArchives() - archives, 3 * trims);
  // The oldest went, in order, and the cache stands under the limit and its bound.
  EXPECT_EQ(cache->cacheKeys().front(), key(n - static_cast<long long>(cache->count())));
  const std::size_t length = archiveLength(*cache);
  EXPECT_LE(length, kLimit);
  EXPECT_LE(length, cache->archiveLengthBound());
}

}  // namespace

namespace {

TEST(DUVReportCache, RecordsThatOutweighTheOldestStillLeaveTheArchiveUnderTheLimit) {
  // Records of 1 KiB up to just under the limit, then ones of 40 KiB: ten of the oldest make no
  // room for one of them, so each trim takes as many as the newcomer needs, and the cache stays
  // under its limit through every add.
  os::Dictionary pending;
  auto key = [](long long n) { return std::to_string(9007199254740993ull + static_cast<unsigned long long>(n)) + ".0"; };
  const long long small = kLimit / (1024 + 100);
  for (long long n = 0; n < small; ++n) pending.set(key(n), os::Value(bigRecord(static_cast<int>(n), 1024)));
  auto cacheOf = [&] { return DUVReportCache::fromArchivedValue(os::Value(os::Dictionary{{"cacheObjects", os::Value(pending)}})); };
  const std::size_t first = archiveLength(*cacheOf());
  ASSERT_LT(first, kLimit);
  const std::size_t target = kLimit - 2048;
  ASSERT_LT(first, target);
  pending.set(key(small - 1), os::Value(bigRecord(static_cast<int>(small - 1), 1024 + target - first)));
  auto cache = cacheOf();
  ASSERT_EQ(cache->count(), static_cast<std::size_t>(small));

  const int big = 60;
  for (int i = 0; i < big; ++i) {
    cache->addCacheObject(bigRecord(static_cast<int>(small) + i, 40 * 1024), key(small + i));
    // The bound never stands below the archive: under the limit, so is the archive.
    ASSERT_LE(cache->archiveLengthBound(), kLimit) << "add " << i;
  }
  const std::size_t length = archiveLength(*cache);
  EXPECT_LE(length, kLimit);
  EXPECT_LE(length, cache->archiveLengthBound());
  // Only the oldest went, in their order: every 40 KiB record stays, and the small ones that
  // stay are the newest of theirs.
  for (int i = 0; i < big; ++i) EXPECT_TRUE(cache->pending().contains(key(small + i))) << i;
  const std::size_t smallKept = cache->count() - big;
  EXPECT_EQ(cache->cacheKeys().front(), key(small - static_cast<long long>(smallKept)));
}

}  // namespace

namespace {

// Thirty numbers every record holds (the archive lists each once per record, its bytes once) and
// one of its own.
os::Dictionary sharedNumbers(int n) {
  os::Array items;
  for (int i = 0; i < 30; ++i) items.push_back(os::Value(i));
  return os::Dictionary{{"n", os::Value(items)}, {"id", os::Value(n)}};
}

TEST(DUVReportCache, FileBoundHoldsWithReferencesAndOffsetsAtTheirWidest) {
  // A share of megabytes: the keyed archive's references and offsets stand three bytes wide or
  // more, and each record leaving gives back what the bound counts it surely took at those
  // widths, a little less than the archive loses with it where its numbers are shared. Records
  // leaving, posted, refused back, settled and added: the bound never falls below the archive.
  DUVReportCache::FileShare share;
  share.bytes = std::uint64_t{2} << 20;
  auto cache = std::make_shared<DUVReportCache>(share);
  int next = 0;
  for (; cache->count() == static_cast<std::size_t>(next); ++next) cache->addCacheObject(sharedNumbers(next), std::to_string(next));
  auto archive = os::KeyedArchiver::archivedData(os::ArchiveItem(cache->archivedValue()));
  ASSERT_TRUE(archive);
  ASSERT_GE((*archive)[archive->size() - 32 + 6], 3);  // offsets
  ASSERT_GE((*archive)[archive->size() - 32 + 7], 3);  // references
  ASSERT_LE(archive->size(), cache->fileLengthBound());

  // Records leaving alone: the bound gives back what each surely took, no more.
  for (int step = 0; step < 3000; ++step) {
    cache->removeFirstObject();
    if (step % 250 == 0) {
      archive = os::KeyedArchiver::archivedData(os::ArchiveItem(cache->archivedValue()));
      ASSERT_TRUE(archive);
      ASSERT_LE(archive->size(), cache->fileLengthBound()) << "removal " << step;
    }
  }
  std::vector<std::string> flying;
  for (int step = 0; step < 400; ++step) {
    switch (step % 4) {
      case 0: cache->addCacheObject(sharedNumbers(next), std::to_string(next)); ++next; break;
      case 1:
        for (int k = 0; k < 3 && cache->count() > 0; ++k) {
          const std::string key = cache->cacheKeys().front();
          const os::Dictionary record = *cache->pending().find(key)->dictionary();
          cache->removeCacheObjectForKey(key);
          flying.push_back("f" + std::to_string(step) + "." + std::to_string(k));
          cache->addSendingCacheObject(record, flying.back());
        }
        break;
      case 2:
        if (!flying.empty()) cache->changeSendingObjectFailedForKey(flying.front());
        if (!flying.empty()) flying.erase(flying.begin());
        break;
      default:
        if (!flying.empty()) cache->removeSendingObjectForKey(flying.back());
        if (!flying.empty()) flying.pop_back();
        break;
    }
    ASSERT_LE(cache->fileLengthBound(), share.bytes) << "step " << step;
    if (step % 16 == 0) {
      archive = os::KeyedArchiver::archivedData(os::ArchiveItem(cache->archivedValue()));
      ASSERT_TRUE(archive);
      ASSERT_LE(archive->size(), cache->fileLengthBound()) << "step " << step;
    }
  }
}

}  // namespace

namespace {

// Notifications at the limit while the report service refuses every upload: each adds its record,
// and its report takes the two oldest pending records in, posts them (in flight under its flag)
// and is refused, so they come back as pending. Then reports of a hundred of the oldest, refused,
// with nothing new: records only moving between the areas. The cache keeps under its limit, and
// each change costs about what it changes: the whole cache is archived a few times per sixteenth
// of the limit that enters either area, never at every change near it.
TEST(DUVReportCache, RefusedReportsAtTheLimitArchiveTheWholeCacheRarely) {
  auto statusRecord = [](long long n) {
    std::string pad(3000, 'x');
    const std::string mark = std::to_string(n) + "/";
    pad.replace(0, mark.size(), mark);
    return os::Dictionary{{"itime", os::Value(1700000000 + n)},
                          {"type", os::Value("msg_status")},
                          {"msg_id", os::Value(std::to_string(400000000 + n))},
                          {"pad", os::Value(pad)}};
  };
  auto key = [](long long n) { return std::to_string(9007199254740993ull + static_cast<unsigned long long>(n)) + ".0"; };
  os::Dictionary pending;
  long long n = 0;
  for (; n < 16000; ++n) pending.set(key(n), os::Value(statusRecord(n)));
  auto cache = DUVReportCache::fromArchivedValue(os::Value(os::Dictionary{{"cacheObjects", os::Value(pending)}}));
  // Filled by adds until the first trim: at the limit.
  for (std::size_t before = 0; cache->count() > before; ++n) {
    before = cache->count();
    cache->addCacheObject(statusRecord(n), key(n));
  }
  const std::uint64_t atTheLimit = cache->wholeArchives();

  auto refuse = [&](int records, const std::string& flag) {
    for (int k = 0; k < records && cache->count() > 0; ++k) {
      const std::string oldest = cache->cacheKeys().front();
      const os::Dictionary record = *cache->pending().find(oldest)->dictionary();
      cache->removeCacheObjectForKey(oldest);
      cache->addSendingCacheObject(record, flag + "." + std::to_string(k));
    }
    for (int k = 0; k < records; ++k) cache->changeSendingObjectFailedForKey(flag + "." + std::to_string(k));
  };
  // Some 15 KiB through the bound per notification (its record, the two posted and the two
  // refused, each counted in full): a sixteenth of the limit every 200 or so.
  const int notifications = 1500;
  for (int i = 0; i < notifications; ++i, ++n) {
    cache->addCacheObject(statusRecord(n), key(n));
    refuse(2, "n" + std::to_string(i));
    ASSERT_LE(cache->wholeArchives() - atTheLimit, 3u + static_cast<std::uint64_t>(i) / 50) << "notification " << i;
  }
  EXPECT_TRUE(cache->sendingPackageCache().empty());
  std::size_t length = archiveLength(*cache);
  EXPECT_LE(length, kLimit);
  EXPECT_LE(length, cache->archiveLengthBound());
  EXPECT_GT(length, kLimit - kLimit / 8);

  const std::uint64_t moving = cache->wholeArchives();
  const std::size_t kept = cache->count();
  for (int report = 0; report < 20; ++report) {
    refuse(100, "r" + std::to_string(report));
    ASSERT_LE(cache->wholeArchives() - moving, 3u + static_cast<std::uint64_t>(report) / 2) << "report " << report;
  }
  // Nothing new came in: at most the trim of one sixteenth.
  EXPECT_GT(cache->count(), kept - kept / 12);
  length = archiveLength(*cache);
  EXPECT_LE(length, kLimit);
  EXPECT_LE(length, cache->archiveLengthBound());
}

}  // namespace
