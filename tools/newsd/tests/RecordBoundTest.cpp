// What the server keeps of what readers send stays within its bounds however much they send: the
// newest reports of each kind, no more of them than the count bound, no more bytes than the byte
// bound, each kind on its own.
#include <numeric>

#include "tools/common/NewestKept.h"
#include "tools/newsd/tests/NewsdFixture.h"

namespace newsd::testing {
namespace {

using NewsdRecordTest = NewsdTest;

std::size_t textBytes(const std::vector<std::string>& texts) {
  return std::accumulate(texts.begin(), texts.end(), std::size_t{0},
                         [](std::size_t sum, const std::string& text) { return sum + text.size(); });
}

// A reader whose User-Agent carries four kilobytes fires ad callbacks on one kept-alive connection.
TEST_F(NewsdRecordTest, AdCallbacksKeepTheNewestWithinTheCountAndByteBounds) {
  const long long adid = server_->service().content().ads().front().adid;
  const std::string path = "/adcb/" + std::to_string(adid);
  const std::string padding(4096, 'u');
  const std::size_t total = tools::kRecordLimit + 200;
  client_->set_keep_alive(true);
  client_->set_tcp_nodelay(true);
  for (std::size_t i = 0; i < total; ++i) {
    auto res = client_->Get(path.c_str(), {{"User-Agent", "reader/" + std::to_string(i) + " " + padding}});
    ASSERT_TRUE(res);
    ASSERT_EQ(res->status, 200);
  }
  const auto callbacks = server_->service().received().adCallbacks;
  ASSERT_FALSE(callbacks.empty());
  EXPECT_LE(callbacks.size(), tools::kRecordLimit);
  std::size_t agents = 0;
  for (const auto& [id, agent] : callbacks) agents += agent.size();
  EXPECT_LE(agents, tools::kRecordByteLimit);
  EXPECT_EQ(callbacks.back(), std::make_pair(adid, "reader/" + std::to_string(total - 1) + " " + padding));
  EXPECT_LE(server_->service().receivedBytes(), tools::kRecordByteLimit);
}

// Crash dumps travel with their log, feedback carries what the reader typed: two large ones fill
// the byte bound long before the count bound.
TEST_F(NewsdRecordTest, LargeDumpsAndFeedbackKeepTheNewestWithinTheByteBound) {
  // A dump goes out encoded twice, so a smaller one fills a form.
  const std::size_t dumpSize = 6u << 20, feedbackSize = 9u << 20;
  for (int i = 0; i < 3; ++i) {
    const std::string dump = std::to_string(i) + std::string(dumpSize, 'd');
    ASSERT_EQ(news(1090, os::Dictionary{{"dump", encodeParameterText(dump)}, {"log", "line"}})["data"]["result"].intValue(), 1);
  }
  for (int i = 0; i < 2; ++i)
    ASSERT_EQ(news(1110, os::Dictionary{{"suggestion", std::to_string(i) + std::string(feedbackSize, 'f')}})["data"]["result"].intValue(), 1);
  const Received received = server_->service().received();
  ASSERT_FALSE(received.crashDumps.empty());
  EXPECT_LE(textBytes(received.crashDumps), tools::kRecordByteLimit);
  EXPECT_EQ(received.crashDumps.back(), "2" + std::string(dumpSize, 'd'));
  ASSERT_FALSE(received.feedback.empty());
  EXPECT_LE(textBytes(received.feedback), tools::kRecordByteLimit);
  EXPECT_EQ(received.feedback.back(), "1" + std::string(feedbackSize, 'f'));
  EXPECT_LE(server_->service().receivedBytes(), 2 * tools::kRecordByteLimit);
}

// Read history, ad clicks: one small report after another, past the count bound.
TEST_F(NewsdRecordTest, ReadHistoryAndAdClicksKeepTheNewestCountOfReports) {
  const long long adid = server_->service().content().ads().front().adid;
  const std::size_t total = tools::kRecordLimit + 50;
  client_->set_keep_alive(true);
  client_->set_tcp_nodelay(true);
  for (std::size_t i = 0; i < total; ++i) {
    ASSERT_EQ(news(1001, os::Dictionary{{"id", static_cast<long long>(i)}})["data"]["result"].intValue(), 1);
    ASSERT_EQ(promotion("/imkt/", 2002, os::Dictionary{{"appid", adid}})["data"]["result"].intValue(), 0);
  }
  const Received received = server_->service().received();
  EXPECT_EQ(received.adClicks.size(), tools::kRecordLimit);
  ASSERT_EQ(received.reads.size(), tools::kRecordLimit);
  // The oldest reports went first.
  EXPECT_EQ(received.reads.begin()->first, static_cast<long long>(total - tools::kRecordLimit));
  EXPECT_EQ(received.reads.rbegin()->first, static_cast<long long>(total - 1));
}

// A peer asks for large pictures under names of its own: each is drawn and served, and what the
// server keeps of them for later requests stays within its byte bound.
TEST_F(NewsdRecordTest, LargePicturesUnderNewNamesKeepTheCacheWithinItsByteBound) {
  client_->set_keep_alive(true);
  std::size_t served = 0;
  for (int i = 0; i < 30; ++i) {
    auto answer = get("/img/large" + std::to_string(i) + "/" + std::to_string(kMaxPictureSide) + "x" +
                      std::to_string(kMaxPictureSide) + ".jpg");
    ASSERT_TRUE(answer);
    ASSERT_EQ(answer->status, 200);
    served += answer->body.size();
    EXPECT_LE(server_->cachedPictureBytes(), NewsServer::kMaxCachedPictureBytes);
  }
  // The pictures asked for weigh more than the bound together.
  EXPECT_GT(served, NewsServer::kMaxCachedPictureBytes);
  EXPECT_GT(server_->cachedPictureBytes(), 0u);
}

}  // namespace
}  // namespace newsd::testing
