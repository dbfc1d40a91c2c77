// What the report service holds after long runs: floods of report packets, large records, resends
// after lost answers and restarts on a store file that an earlier run left long.
#include <gtest/gtest.h>
#include <httplib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "foundation/formats/JSONTideDeserializing.h"
#include "foundation/formats/JSONTideSerializing.h"
#include "os/core/Compression.h"
#include "push/report/DUVReportRequest.h"
#include "push/utilities/DUVUtilities.h"
#include "os/core/DetachedValue.h"
#include "os/testing/RawHttpClient.h"
#include "tools/common/NewestKept.h"
#include "tools/pushd/server/PushServer.h"

namespace {

constexpr std::uint32_t kUid = 1001;
constexpr std::int64_t kEpoch = 1700000000;

// A status of message n, its id padded to the length asked for.
os::Dictionary status(int n, std::size_t idLength = 0) {
  std::string id = std::to_string(n);
  if (id.size() < idLength) id.insert(0, idLength - id.size(), '0');
  return {{"type", os::Value("msg_status")}, {"itime", os::Value(kEpoch + n)}, {"result", os::Value(2001)},
          {"msg_id", os::Value(id)}};
}

// The message a kept status is about.
int messageOf(const os::Dictionary& record) { return std::stoi(record["msg_id"].stringOr()); }

std::size_t heldBytes(const std::vector<os::Dictionary>& records) {
  std::size_t bytes = 0;
  for (const auto& record : records) bytes += sizeof(os::Dictionary) + tools::heldBytes(record);
  return bytes;
}

// A store file's line for a status, as the service writes it: its JSON made once, and the time and
// id put in (digits, which JSON writes as they are), so that long files are quickly made.
std::string storeLine(int n, std::size_t idLength = 0) {
  static const std::string made = os::stringFromData(*JSONData(os::Value(status(0, 1))));
  static const std::size_t time = made.find(std::to_string(kEpoch)), id = made.find("\"0\"");
  const std::string digits = (*status(n, idLength)["msg_id"].string());
  std::string line = made;
  line.replace(id + 1, 1, digits).replace(time, std::to_string(kEpoch).size(), std::to_string(kEpoch + n));
  return std::to_string(kUid) + " " + line + "\n";
}

std::vector<std::string> lines(const std::string& path) {
  std::vector<std::string> out;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

class ReportStoreTest : public ::testing::Test {
 protected:
  ReportStoreTest() {
    std::filesystem::create_directories(folder_);
    std::ofstream(folder_ + "/identities") << kUid << " secret 0123456789a abc123\n";
    options_.identityFile = folder_ + "/identities";
    options_.reportStore = store_;
    server_ = pushd::PushServer::start(options_);
  }
  ~ReportStoreTest() override {
    server_.reset();
    std::filesystem::remove_all(folder_);
  }
  pushd::ReportService& service() { return server_->reportService(); }
  void restart() {
    server_.reset();
    server_ = pushd::PushServer::start(options_);
    ASSERT_TRUE(server_);
  }

  // Posts one packet as the push client does: the envelope's compact JSON gzipped, signed over
  // the gzip bytes, over a connection of its own. The answer's status, 0 when none came.
  int upload(const std::vector<os::Dictionary>& records) {
    os::Array content(records.begin(), records.end());
    os::Dictionary envelope{{"platform", os::Value("i")},
                            {"uid", os::Value(static_cast<std::int32_t>(kUid))},
                            {"sdk_ver", os::Value("1.8.1")},
                            {"app_key", os::Value("abc123")},
                            {"content", os::Value(content)}};
    return uploadJSON(*ZRFJSONData(os::Value(envelope)));
  }
  // A packet of one record spelled as given: the compact JSON a peer's own writer made.
  int uploadRecordText(const std::string& record) {
    return uploadJSON(os::dataFromString(R"({"platform":"i","uid":)" + std::to_string(kUid) +
                                         R"(,"sdk_ver":"1.8.1","app_key":"abc123","content":[)" + record + "]}"));
  }
  int uploadJSON(const os::Data& json) {
    auto body = os::gzipData(json);
    std::string text(body->begin(), body->end());
    httplib::Client client("127.0.0.1", server_->reportPort());
    // The packet that takes the store past its bound waits for the file to be written anew.
    os::testing::patient(client);
    httplib::Headers headers{{"Content-Encoding", "gzip"},
                             {"X-App-Key", "abc123"},
                             {"Authorization", DUVReportRequest::authorization({kUid, "secret", "abc123"}, *body)}};
    auto answer = client.Post("/v2/report", headers, text, "application/json");
    return answer ? answer->status : 0;
  }
  // Statuses of messages [first, first + count), newest first as the client packs them, in packets
  // of `perPacket`; true when every packet was answered 200.
  bool uploadStatuses(int first, int count, int perPacket, std::size_t idLength = 0) {
    for (int start = first; start < first + count; start += perPacket) {
      std::vector<os::Dictionary> packet;
      for (int n = std::min(start + perPacket, first + count); n-- > start;) packet.push_back(status(n, idLength));
      if (upload(packet) != 200) return false;
    }
    return true;
  }

  std::string folder_ = ::testing::TempDir() + "/pushd-store-" + std::to_string(getpid());
  std::string store_ = folder_ + "/reports";
  pushd::ServerOptions options_ = pushd::ServerOptions::onFreePorts();
  std::unique_ptr<pushd::PushServer> server_;
};

TEST_F(ReportStoreTest, AFloodOfStatusesKeepsTheNewestAndKnowsTheirResends) {
  // Each notification of a flood makes the client upload a status: many more than the service keeps.
  const int flood = static_cast<int>(tools::kRecordLimit) + 300;
  ASSERT_TRUE(uploadStatuses(0, flood, 12));
  auto kept = service().records();
  ASSERT_EQ(kept.size(), tools::kRecordLimit);
  std::set<int> messages;
  for (const auto& record : kept) messages.insert(messageOf(record));
  EXPECT_EQ(messages.size(), tools::kRecordLimit);
  EXPECT_EQ(*messages.begin(), flood - static_cast<int>(tools::kRecordLimit));
  EXPECT_EQ(*messages.rbegin(), flood - 1);
  EXPECT_EQ(service().repeats(), 0u);

  // A packet sent again after its answer was lost, within the newest records: known, not kept twice.
  ASSERT_TRUE(uploadStatuses(flood - 24, 12, 12));
  EXPECT_EQ(service().repeats(), 12u);
  EXPECT_EQ(service().records().size(), tools::kRecordLimit);
  EXPECT_EQ(service().records().back(), kept.back());

  // One from the start of the flood, long let go with its identity: a record of its own again.
  ASSERT_TRUE(uploadStatuses(0, 1, 1));
  EXPECT_EQ(service().repeats(), 12u);
  EXPECT_EQ(messageOf(service().records().back()), 0);
  EXPECT_EQ(service().records().size(), tools::kRecordLimit);
}

TEST_F(ReportStoreTest, LargeRecordsAreKeptWithinTheByteBound) {
  // A peer's records as large as a packet may inflate to, one a packet.
  const std::size_t idLength = 900 * 1024;
  const int count = static_cast<int>(tools::kRecordByteLimit / idLength) + 4;
  ASSERT_TRUE(uploadStatuses(0, count, 1, idLength));
  auto kept = service().records();
  ASSERT_FALSE(kept.empty());
  EXPECT_LE(heldBytes(kept), tools::kRecordByteLimit);
  EXPECT_LT(kept.size(), static_cast<std::size_t>(count));
  EXPECT_EQ(messageOf(kept.back()), count - 1);

  // The newest is known when it comes again.
  ASSERT_TRUE(uploadStatuses(count - 1, 1, 1, idLength));
  EXPECT_EQ(service().repeats(), 1u);
  EXPECT_EQ(service().records().size(), kept.size());
}

TEST_F(ReportStoreTest, ARestartTakesBackTheNewestOfItsStoreAndKnowsTheirResends) {
  // Two statuses of one message in one second, and another, stored; the answer lost.
  const os::Dictionary twice = status(1);
  service().setMode(pushd::ReportService::Mode::CrashAfterStore);
  ASSERT_EQ(upload({status(2), twice, twice}), 500);
  service().setMode(pushd::ReportService::Mode::Accept);
  ASSERT_TRUE(uploadStatuses(3, 100, 10));
  ASSERT_EQ(service().records().size(), 103u);

  // Restarted on the store, the packet comes again: all three known.
  restart();
  EXPECT_EQ(service().records().size(), 103u);
  ASSERT_EQ(upload({status(2), twice, twice}), 200);
  EXPECT_EQ(service().repeats(), 3u);
  EXPECT_EQ(service().records().size(), 103u);
  auto written = lines(store_);
  EXPECT_EQ(written.size(), 103u);
  EXPECT_NE(std::find(written.begin(), written.end(), storeLine(50).substr(0, storeLine(50).size() - 1)), written.end());

  // A store an earlier run left with more lines than the service keeps: the newest come back, and
  // the resend of one of them is known.
  server_.reset();
  {
    std::ofstream earlier(store_, std::ios::app);
    for (int n = 103; n < static_cast<int>(tools::kRecordLimit) + 500; ++n) earlier << storeLine(n);
  }
  restart();
  auto kept = service().records();
  ASSERT_EQ(kept.size(), tools::kRecordLimit);
  EXPECT_EQ(messageOf(kept.front()), 500);
  EXPECT_EQ(messageOf(kept.back()), static_cast<int>(tools::kRecordLimit) + 499);
  ASSERT_TRUE(uploadStatuses(static_cast<int>(tools::kRecordLimit) + 490, 10, 10));
  EXPECT_EQ(service().repeats(), 10u);
  EXPECT_EQ(service().records().size(), tools::kRecordLimit);
}

TEST_F(ReportStoreTest, AStorePastItsBoundIsWrittenAnewWithTheNewestRecords) {
  // An earlier run's store just short of the bound, of large records.
  const std::size_t idLength = 8 * 1024;
  const std::size_t lineLength = storeLine(0, idLength).size();
  const int earlier = static_cast<int>(pushd::ReportService::kStoreByteLimit / lineLength);
  server_.reset();
  {
    std::ofstream file(store_);
    for (int n = 0; n < earlier; ++n) file << storeLine(n, idLength);
  }
  ASSERT_LE(std::filesystem::file_size(store_), pushd::ReportService::kStoreByteLimit);
  restart();
  const auto before = service().records();
  ASSERT_FALSE(before.empty());
  EXPECT_EQ(messageOf(before.back()), earlier - 1);

  // The next upload takes it past: written anew with the newest alone, the upload among them.
  ASSERT_TRUE(uploadStatuses(earlier, 2, 1, idLength));
  const auto size = std::filesystem::file_size(store_);
  EXPECT_LE(size, pushd::ReportService::kStoreByteLimit / 2);
  auto written = lines(store_);
  ASSERT_FALSE(written.empty());
  auto last = objectFromJSONString(written.back().substr(written.back().find(' ') + 1));
  ASSERT_TRUE(last && last->dictionary());
  EXPECT_EQ(messageOf(*last->dictionary()), earlier + 1);

  // A restart takes back what was written, and knows it.
  restart();
  auto kept = service().records();
  ASSERT_FALSE(kept.empty());
  EXPECT_EQ(messageOf(kept.back()), earlier + 1);
  EXPECT_LE(heldBytes(kept), tools::kRecordByteLimit);
  ASSERT_TRUE(uploadStatuses(earlier, 2, 1, idLength));
  EXPECT_EQ(service().repeats(), 2u);
  EXPECT_EQ(std::filesystem::file_size(store_), size);

  // A store already past the bound when the service starts is written anew at once.
  server_.reset();
  {
    std::ofstream file(store_, std::ios::app);
    for (int n = earlier + 2; std::filesystem::file_size(store_) <= pushd::ReportService::kStoreByteLimit; n += 100) {
      for (int k = n; k < n + 100; ++k) file << storeLine(k, idLength);
      file.flush();
    }
  }
  restart();
  EXPECT_LE(std::filesystem::file_size(store_), pushd::ReportService::kStoreByteLimit / 2);
  written = lines(store_);
  ASSERT_FALSE(written.empty());
  last = objectFromJSONString(written.back().substr(written.back().find(' ') + 1));
  ASSERT_TRUE(last && last->dictionary());
  EXPECT_EQ(*last->dictionary(), service().records().back());
}

TEST_F(ReportStoreTest, ALineCutShortByAKillSwallowsNoRecordAfterIt) {
  ASSERT_TRUE(uploadStatuses(0, 2, 2));
  server_.reset();
  // Killed while appending the next packet's line.
  std::ofstream(store_, std::ios::app) << storeLine(2).substr(0, 30);
  restart();
  ASSERT_TRUE(uploadStatuses(3, 1, 1));
  restart();
  std::set<int> messages;
  for (const auto& record : service().records()) messages.insert(messageOf(record));
  EXPECT_EQ(messages, (std::set<int>{0, 1, 3}));
}

// A crash record of one log this long.
os::Dictionary crash(int n, std::size_t logLength) {
  return {{"type", os::Value("crash_log")}, {"itime", os::Value(kEpoch + n)},
          {"crashlogs", os::Value(os::Array{os::Value(std::string(logLength, 'c'))})}};
}

TEST_F(ReportStoreTest, RecordsThatCannotBeStoredAreNotAnsweredAsStored) {
  ASSERT_EQ(upload({status(0)}), 200);
  // The store's place taken by a folder while a packet comes: nothing of it can be written.
  std::filesystem::rename(store_, store_ + ".aside");
  std::filesystem::create_directory(store_);
  EXPECT_EQ(upload({status(1), status(2)}), 500);
  EXPECT_EQ(service().records().size(), 1u);

  // The client keeps what was not stored and sends it again once the store is back: stored then,
  // as records of their own, and known after a restart.
  std::filesystem::remove(store_);
  std::filesystem::rename(store_ + ".aside", store_);
  ASSERT_EQ(upload({status(1), status(2)}), 200);
  EXPECT_EQ(service().repeats(), 0u);
  restart();
  std::set<int> messages;
  for (const auto& record : service().records()) messages.insert(messageOf(record));
  EXPECT_EQ(messages, (std::set<int>{0, 1, 2}));
  ASSERT_EQ(upload({status(2), status(1)}), 200);
  EXPECT_EQ(service().repeats(), 2u);
  EXPECT_EQ(service().records().size(), 3u);
}

TEST_F(ReportStoreTest, ARecordWhoseJSONWouldGrowWhenWrittenAgainComesBackAfterARestart) {
  // Numbers as a peer may spell them, which a writer spells in full: within the packet's bound as
  // they came, several times longer written again.
  std::string logs;
  for (int i = 0; i < 100000; ++i) logs += i ? ",0.1" : "0.1";
  const std::string record = R"({"type":"crash_log","itime":1.7e9,"crashlogs":[)" + logs + R"(,1e9]})";
  ASSERT_LT(record.size(), std::size_t{1} << 20);
  ASSERT_EQ(uploadRecordText(record), 200);
  ASSERT_EQ(uploadStatuses(1, 1, 1), true);

  restart();
  auto kept = service().records();
  ASSERT_EQ(kept.size(), 2u);
  EXPECT_EQ(kept.front()["crashlogs"].count(), 100001u);
  EXPECT_EQ(kept.front()["crashlogs"].at(100000).intValue(), 1000000000);
  EXPECT_EQ(kept.front()["itime"].intValue(), 1700000000);
  // Known when it comes again, however it is spelled.
  ASSERT_EQ(uploadRecordText(record), 200);
  std::string respelled = record;
  for (std::size_t at = 0; (at = respelled.find(",0.1", at)) != std::string::npos;) respelled.replace(at, 4, ",1e-1");
  ASSERT_EQ(uploadRecordText(respelled), 200);
  EXPECT_EQ(service().repeats(), 2u);
  EXPECT_EQ(service().records().size(), 2u);
}

TEST_F(ReportStoreTest, AResendIsKnownTheSameBeforeAndAfterARestart) {
  // A status, then large crash records past the bytes of records the service keeps.
  ASSERT_TRUE(uploadStatuses(0, 1, 1));
  const std::size_t logLength = 900 * 1024;
  int n = 1;
  for (; n <= 20; ++n) ASSERT_EQ(upload({crash(n, logLength)}), 200);
  ASSERT_EQ(upload({status(0)}), 200);
  EXPECT_EQ(service().repeats(), 1u);

  restart();
  ASSERT_EQ(upload({status(0)}), 200);
  EXPECT_EQ(service().repeats(), 1u);
  // Enough more to take the store past its bound: written anew, the status's line let go.
  for (std::uintmax_t size = 0; size <= std::filesystem::file_size(store_);) {
    size = std::filesystem::file_size(store_);
    ASSERT_EQ(upload({crash(n++, logLength)}), 200);
  }
  ASSERT_LT(std::filesystem::file_size(store_), pushd::ReportService::kStoreByteLimit / 2);
  const auto written = lines(store_);
  ASSERT_TRUE(std::none_of(written.begin(), written.end(),
                           [](const std::string& line) { return line.find("msg_status") != std::string::npos; }));
  ASSERT_EQ(upload({status(0)}), 200);
  EXPECT_EQ(service().repeats(), 2u);
  restart();
  ASSERT_EQ(upload({status(0)}), 200);
  ASSERT_EQ(upload({crash(n - 1, logLength)}), 200);
  EXPECT_EQ(service().repeats(), 2u);
  // And a record that was never stored is still stored.
  ASSERT_EQ(upload({status(1)}), 200);
  EXPECT_EQ(service().repeats(), 2u);
  EXPECT_EQ(messageOf(service().records().back()), 1);
}

TEST_F(ReportStoreTest, KeptRecordsHoldTheirOwnBytesNotTheBlocksTheyWereReadInto) {
  ASSERT_TRUE(uploadStatuses(0, 3000, 12));
  auto check = [&] {
    const auto kept = service().records();
    ASSERT_EQ(kept.size(), 3000u);
    for (const auto& record : kept)
      for (const auto& [key, value] : record) ASSERT_FALSE(os::inSharedBlock(value)) << key;
    // A status of four short fields holds well under a kilobyte.
    EXPECT_LT(heldBytes(kept), kept.size() * 1024);
  };
  check();
  // Taken back from the store, each line read on its own.
  restart();
  check();
}

}  // namespace
