#include <gtest/gtest.h>

#include <cmath>

#include "os/core/Compression.h"
#include "os/runtime/NotificationCenter.h"
#include "os/views/Application.h"
#include "os/testing/Collect.h"
#include "push/model/DUVPageFlow.h"
#include "push/report/DUVReportCache.h"
#include "push/report/DUVReportRecords.h"
#include "push/report/DUVReportRequest.h"
#include "push/report/DUVReportResponse.h"
#include "push/utilities/DUVFileCache.h"
#include "os/testing/TestSandbox.h"
#include "push/utilities/DUVUtilities.h"

namespace {

// A record whose compact JSON is exactly `size` bytes.
os::Dictionary record(int n, std::size_t size = 300) {
  os::Dictionary r{{"type", os::Value("t")}, {"itime", os::Value(1700000000 + n)}, {"pad", os::Value("")}};
  std::size_t base = ZRFJSONData(os::Value(r))->size();
  r.set("pad", os::Value(std::string(size - base, 'x')));
  return r;
}

constexpr const char* kUrl = "http://127.0.0.1:1/v2/report";

// A compressor that gives up after `succeeding` packets: gzip of a packet does not fail otherwise.
class CompressionFailsAfter : public DUVReportRequest {
 public:
  CompressionFailsAfter(int succeeding, std::shared_ptr<DUVReportCache> cache)
      : DUVReportRequest(1, std::move(cache)), left_(succeeding) {}

 protected:
  std::optional<os::Data> compress(const os::Data& packet) override {
    if (left_ == 0) return std::nullopt;
    --left_;
    return DUVReportRequest::compress(packet);
  }

 private:
  int left_;
};

std::vector<long long> itimes(const std::vector<os::Dictionary>& records) {
  return os::testing::collect(records, [](const os::Dictionary& r) { return r["itime"].intValue() - 1700000000; });
}

TEST(DUVReportRequest, PacketsOfAboutAKilobyteLastRecordFirst) {
  auto cache = std::make_shared<DUVReportCache>();
  for (int i = 0; i < 7; ++i) cache->addCacheObject(record(i), "k" + std::to_string(i));
  DUVReportRequest request(1, cache);
  // An envelope of 80 bytes: {"platform":"i","uid":0,"sdk_ver":"1.8.1","app_key":"..."}.
  request.setIdentity({0, std::nullopt, std::string(80 - 57, 'a')});
  request.setContent(record(7));
  ASSERT_TRUE(request.generateReportRequest(kUrl));
  EXPECT_EQ(itimes(request.realContents()), (std::vector<long long>{7, 6, 5}));  // 390, 691, 992
  EXPECT_TRUE(request.isSubpackage());
  EXPECT_EQ(cache->count(), 0u);
  request.generateReportRequest(kUrl);
  EXPECT_EQ(itimes(request.realContents()), (std::vector<long long>{4, 3, 2}));
  auto last = request.generateReportRequest(kUrl);
  ASSERT_TRUE(last);
  EXPECT_EQ(itimes(request.realContents()), (std::vector<long long>{1, 0}));
  EXPECT_FALSE(request.isSubpackage());
  EXPECT_FALSE(request.generateReportRequest(kUrl));  // nothing left: nothing is posted

  // A record alone above the budget still goes; past 10240 bytes the older ones are dropped.
  for (int i = 0; i < 40; ++i) cache->addCacheObject(record(i), "d" + std::to_string(i));
  DUVReportRequest big(1, cache);
  big.setContent(record(99, 2000));
  ASSERT_TRUE(big.generateReportRequest(kUrl));
  EXPECT_EQ(itimes(big.realContents()), (std::vector<long long>{99}));
  std::size_t sent = 1;
  while (big.isSubpackage() && big.generateReportRequest(kUrl)) sent += big.realContents().size();
  EXPECT_LT(sent, 41u);
}

TEST(DUVReportRequest, RecordsStayInTheCacheWhenNoRequestCanBeMade) {
  auto cache = std::make_shared<DUVReportCache>();
  for (int i = 0; i < 7; ++i) cache->addCacheObject(record(i), "k" + std::to_string(i));
  // The first packet cannot be compressed: the pending records never leave, the kind's own
  // record joins them.
  CompressionFailsAfter first(0, cache);
  first.setIdentity({0, std::nullopt, std::string(80 - 57, 'a')});
  first.setReportFlag(42);
  first.setContent(record(7));
  EXPECT_FALSE(first.generateReportRequest(kUrl));
  EXPECT_FALSE(first.isSubpackage());
  EXPECT_EQ(cache->pending().keys(), (std::vector<std::string>{"k0", "k1", "k2", "k3", "k4", "k5", "k6", "42.0"}));

  // The second packet of a request cannot: the first one's records travel, every other one is
  // back in the cache, oldest first.
  CompressionFailsAfter second(1, cache);
  second.setIdentity({0, std::nullopt, std::string(80 - 57, 'a')});
  second.setReportFlag(43);
  ASSERT_TRUE(second.generateReportRequest(kUrl));
  EXPECT_EQ(itimes(second.realContents()), (std::vector<long long>{7, 6, 5}));
  EXPECT_EQ(cache->count(), 0u);
  EXPECT_FALSE(second.generateReportRequest(kUrl));
  EXPECT_EQ(cache->pending().keys(), (std::vector<std::string>{"k0", "k1", "k2", "k3", "k4"}));
  std::vector<long long> kept;
  cache->enumerate([&](const std::string&, const os::Value& r) {
    kept.push_back(r["itime"].intValue() - 1700000000);
    return true;
  });
  EXPECT_EQ(kept, (std::vector<long long>{0, 1, 2, 3, 4}));
}

TEST(DUVReportRequest, BodyAndAuthorization) {
  DUVReportRequest request(1, nullptr);
  request.setIdentity({0, std::nullopt, "abc123"});
  request.setContent(record(1, 60));
  auto url = request.generateReportRequest("http://127.0.0.1:1/v2/report");
  ASSERT_TRUE(url);
  auto json = os::inflateData(request.bodyData(), 1 << 16);
  ASSERT_TRUE(json);
  auto envelope = ZRFJSONObject(*json);
  ASSERT_TRUE(envelope);
  EXPECT_EQ((*envelope)["app_key"], os::Value("abc123"));
  EXPECT_EQ((*envelope)["content"].count(), 1u);
  // uid 0 without a password: "0", the MD5 of "", the MD5 of the body.
  std::string auth = DUVReportRequest::authorization({0, std::nullopt, "abc123"}, request.bodyData());
  EXPECT_EQ(auth.rfind("Basic MDo", 0), 0u);  // Base64 of "0:"
  EXPECT_EQ(url->valueForHTTPHeaderField("Authorization"), auth);
  EXPECT_EQ(url->valueForHTTPHeaderField("Content-Encoding"), "gzip");
}

TEST(DUVReportRequest, AnUnchangedDeviceRecordSendsNothingAndKeepsThePendingOnes) {
  os::TestSandbox sandbox;
  auto files = DUVFileCache::startCacheFile("ZURAR");
  auto cache = std::make_shared<DUVReportCache>();
  files->setObject(os::Value(DUVCurrentDeviceInfo("store")), "__DUVLastDeviceInfo");
  cache->addCacheObject(record(1, 60), "p");
  DUVUserDeviceReportRequest unchanged(cache, files, "store");
  EXPECT_FALSE(unchanged.packetData());
  EXPECT_EQ(cache->count(), 1u);
  DUVUserDeviceReportRequest changed(cache, files, "another channel");
  ASSERT_TRUE(changed.packetData());
  EXPECT_EQ(changed.realContents().size(), 2u);
}

TEST(DUVReportRequest, RecordsLeaveTheCacheOnlyInAPacketAndAnUnwritableOneGoesAlone) {
  auto cache = std::make_shared<DUVReportCache>();
  cache->addCacheObject(record(1, 60), "1.0");
  cache->addCacheObject({{"type", os::Value("t")}, {"itime", os::Value(os::Data{1, 2})}}, "2.0");
  cache->addCacheObject({{"type", os::Value("t")}, {"itime", os::Value(std::nan(""))}}, "3.0");
  cache->addCacheObject({{"type", os::Value("bad \xff text")}, {"itime", os::Value(1700000004)}}, "4.0");
  cache->addCacheObject(record(5, 60), "5.0");
  // An envelope no packet can be made of: the writable records stay where they were; the two
  // that no packet could ever carry are dropped, each alone. Text that is not UTF-8 is no
  // reason to drop a record: it is repaired.
  DUVReportRequest unsendable(1, cache);
  unsendable.setIdentity({0, std::nullopt, "key \xfe"});
  unsendable.setContent(record(9, 60));
  EXPECT_FALSE(unsendable.packetData());
  EXPECT_EQ(cache->pending().keys(), (std::vector<std::string>{"1.0", "4.0", "5.0"}));

  DUVReportRequest request(1, cache);
  request.setIdentity({0, std::nullopt, "abc123"});
  request.setContent(os::Dictionary{{"type", os::Value("own")}, {"when", os::Value(os::Date::fromTimeIntervalSince1970(1))}});
  ASSERT_TRUE(request.packetData());
  EXPECT_EQ(itimes(request.realContents()), (std::vector<long long>{5, 4, 1}));
  EXPECT_EQ(request.realContents().at(1)["type"], os::Value("bad \uFFFD text"));
  EXPECT_EQ(cache->count(), 3u);  // until their request exists
  ASSERT_TRUE(request.generateReportRequest(kUrl));
  EXPECT_EQ(cache->count(), 0u);
}

TEST(DUVReportRequest, AUsageSessionWithPageNamesThatAreNotTextGoesWithTheNamesRepaired) {
  auto cache = std::make_shared<DUVReportCache>();
  // Page names as the application gave them: stray bytes, a NUL.
  DUVPageFlow flow;
  flow.addPage(DUVPage{"front", 0, 5});
  flow.addPage(DUVPage{"bad \xff\xfe name", 0, 2});
  flow.addPage(DUVPage{std::string("a\0b", 3), 0, 3});
  DUVUserActiveReportRequest request(cache, flow, 1700000000, 1700000060);
  request.setIdentity({0, std::nullopt, "abc123"});
  ASSERT_TRUE(request.packetData());
  ASSERT_EQ(request.realContents().size(), 1u);
  const os::Dictionary& session = request.realContents().at(0);
  EXPECT_EQ(session["type"], os::Value("active_terminate"));
  EXPECT_EQ(session["duration"], os::Value(60));
  EXPECT_EQ(session["activities"], os::Value(os::Array{os::Value(os::Dictionary{{"front", os::Value(5)}}),
                                                       os::Value(os::Dictionary{{"bad \uFFFD\uFFFD name", os::Value(2)}}),
                                                       os::Value(os::Dictionary{{"a\uFFFDb", os::Value(3)}})}));
}

TEST(DUVReportCache, OrderedPendingAndInFlight) {
  DUVReportCache cache;
  cache.addCacheObject(record(1, 60), "b");
  cache.addCacheObject(record(2, 60), "a");
  cache.addSendingCacheObject(record(3, 60), "s");
  EXPECT_FALSE(cache.checkReportFlag("s"));
  // A packet's records wait under "<flag>.<n>": the flag is taken while any of them waits.
  cache.addCacheObject(record(5, 60), "77.1");
  EXPECT_TRUE(cache.checkReportFlag("77"));
  EXPECT_FALSE(cache.checkReportFlag("7"));
  EXPECT_FALSE(cache.checkReportFlag("77.1.2"));
  cache.removeCacheObjectForKey("77.1");
  cache.changeSendingObjectFailedForKey("none");
  EXPECT_EQ(cache.sendingPackageCache().size(), 1u);
  cache.addSendingCacheObject(record(4, 60), "a");
  cache.resetCache();
  EXPECT_EQ(cache.pending().keys(), (std::vector<std::string>{"b", "a", "s"}));
  EXPECT_EQ(cache.pending()["a"]["itime"].intValue(), 1700000004);
  auto restored = DUVReportCache::fromArchivedValue(cache.archivedValue());
  EXPECT_EQ(restored->pending().keys(), cache.pending().keys());
  EXPECT_EQ(DUVReportCache::fromArchivedValue(os::Value("junk"))->count(), 0u);
}

TEST(DUVReportCache, PastFiftyMebibytesOfArchiveTheOldestPendingRecordGoes) {
  DUVReportCache cache;
  // Each filled with its own letter: the archive would keep one copy of equal texts.
  auto big = [](int n, std::size_t size) {
    return os::Dictionary{{"type", os::Value("t")},
                          {"itime", os::Value(1700000000 + n)},
                          {"pad", os::Value(std::string(size, static_cast<char>('a' + n)))}};
  };
  // Two records of 26,000,000 bytes: under 52,428,800 bytes of archive (though over 50,000,000).
  cache.addCacheObject(big(1, 26000000), "1.0");
  cache.addCacheObject(big(2, 26000000), "2.0");
  EXPECT_EQ(cache.count(), 2u);
  // Half a megabyte more passes the bound: the oldest goes, alone.
  cache.addCacheObject(big(3, 500000), "3.0");
  EXPECT_EQ(cache.pending().keys(), (std::vector<std::string>{"2.0", "3.0"}));
  // The memory cache's count bound does not apply to pending records, nor its memory warnings.
  cache.removeCacheObjectForKey("2.0");
  cache.removeCacheObjectForKey("3.0");
  cache.setMaxCacheCount(10);
  for (int i = 0; i < 20; ++i) cache.addCacheObject(record(i, 40), "k" + std::to_string(i));
  EXPECT_EQ(cache.count(), 20u);
  EXPECT_EQ(cache.cacheKeys().front(), "k0");
  os::NotificationCenter::defaultCenter().post(os::kApplicationDidReceiveMemoryWarningNotification);
  EXPECT_EQ(cache.count(), 20u);
}

TEST(DUVReportRequest, APackingFromThousandsOfPendingRecordsLeavesExactlyTheRightOnes) {
  // Eight thousand pending records of 100 bytes and the kind's own: past the 10 KB cap only the
  // newest 99 stay beside it (80 + 100 + 10 + 99 * 101 <= 10240), the others leave the cache for
  // good. A packet that can't be compressed leaves the survivors where they waited, in their
  // order, and the kind's record after them.
  auto cache = std::make_shared<DUVReportCache>();
  const int pending = 8000;
  for (int i = 0; i < pending; ++i) cache->addCacheObject(record(i, 100), "k" + std::to_string(i));
  CompressionFailsAfter failing(0, cache);
  failing.setIdentity({0, std::nullopt, std::string(80 - 57, 'a')});
  failing.setReportFlag(42);
  failing.setContent(record(pending, 100));
  EXPECT_FALSE(failing.generateReportRequest(kUrl));
  std::vector<std::string> expected;
  for (int i = pending - 99; i < pending; ++i) expected.push_back("k" + std::to_string(i));
  expected.push_back("42.0");
  EXPECT_EQ(cache->pending().keys(), expected);
  EXPECT_EQ(std::vector<std::string>(cache->cacheKeys().begin(), cache->cacheKeys().end()), expected);
  EXPECT_EQ(cache->pending()["42.0"]["itime"].intValue(), 1700000000 + pending);
  EXPECT_EQ(cache->pending()["k7901"]["itime"].intValue(), 1700007901);

  // Taken by a request that is made: none stays behind, and what comes after stands alone.
  DUVReportRequest request(1, cache);
  request.setIdentity({0, std::nullopt, std::string(80 - 57, 'a')});
  ASSERT_TRUE(request.generateReportRequest(kUrl));
  EXPECT_EQ(cache->count(), 0u);
  EXPECT_TRUE(cache->cacheKeys().empty());
  cache->addCacheObject(record(1, 100), "k1");
  EXPECT_EQ(cache->pending().keys(), (std::vector<std::string>{"k1"}));
}

TEST(DUVReportCache, ThousandsInFlightGoBackOrLeaveByTheirKeysAlone) {
  auto cache = std::make_shared<DUVReportCache>();
  for (int i = 0; i < 50; ++i) cache->addCacheObject(record(i, 60), "p" + std::to_string(i));
  for (int i = 0; i < 6000; ++i) cache->addSendingCacheObject(record(i, 60), "s" + std::to_string(i));
  // Replies for some packets: accepted ones leave, refused-for-now ones go back after the pending.
  std::vector<std::string> accepted, refused;
  for (int i = 0; i < 6000; i += 3) accepted.push_back("s" + std::to_string(i));
  for (int i = 1; i < 6000; i += 300) refused.push_back("s" + std::to_string(i));
  DUVReportResponse(200, cache, accepted).handleReceipt();
  DUVReportResponse(503, cache, refused).handleReceipt();
  EXPECT_EQ(cache->sendingPackageCache().size(), 4000u - refused.size());
  EXPECT_FALSE(cache->sendingPackageCache().contains("s3"));
  EXPECT_FALSE(cache->sendingPackageCache().contains("s301"));
  EXPECT_TRUE(cache->sendingPackageCache().contains("s302"));
  EXPECT_EQ(cache->count(), 50u + refused.size());

  // One in flight is also pending: the in-flight record replaces it where it stands.
  cache->addSendingCacheObject(record(9999, 60), "p7");
  std::vector<std::string> expected = cache->pending().keys();
  for (const auto& [key, value] : cache->sendingPackageCache())
    if (key != "p7") expected.push_back(key);
  cache->resetCache();
  EXPECT_TRUE(cache->sendingPackageCache().empty());
  EXPECT_EQ(cache->pending().keys(), expected);
  EXPECT_EQ(std::vector<std::string>(cache->cacheKeys().begin(), cache->cacheKeys().end()), expected);
  EXPECT_EQ(cache->pending()["p7"]["itime"].intValue(), 1700009999);
  EXPECT_EQ(cache->pending()["s5999"]["itime"].intValue(), 1700005999);
  EXPECT_FALSE(cache->pending().contains("s5997"));  // accepted: gone for good
}

}  // namespace
