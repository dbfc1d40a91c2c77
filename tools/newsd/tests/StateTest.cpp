#include <unistd.h>

#include "os/core/Data.h"
#include "os/store/FileManager.h"
#include "os/testing/CutShortWrite.h"
#include "tools/newsd/tests/NewsdFixture.h"

namespace newsd::testing {
namespace {

// A server whose readers' favourites and votes live in a state file in a folder of the test's own.
class NewsdStateTest : public NewsdTest {
 protected:
  void SetUp() override {
    NewsdTest::SetUp();
    folder_ = ::testing::TempDir() + "newsd-state-" + std::to_string(::getpid()) + "-" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name();
    files().removeItemAtPath(folder_);
    ASSERT_TRUE(files().createDirectoryAtPath(folder_, true));
    path_ = folder_ + "/state";
  }
  void TearDown() override {
    NewsdTest::TearDown();
    files().removeItemAtPath(folder_);
  }

  static const os::FileManager& files() { return os::FileManager::defaultManager(); }

  // A new server, as a restarted newsd, on the same state file; what keepStateIn said.
  std::optional<std::string> restart() {
    startServer({});
    return server_->service().keepStateIn(path_);
  }

  int mark(long long id, long long action, const std::string& device = "device-A") {
    return static_cast<int>(
        news(1070, os::Dictionary{{"id", id}, {"categoryid", 4}, {"action", action}}, device)["data"]["result"].intValue());
  }
  int vote(long long id, const std::string& device) {
    return static_cast<int>(
        news(1060, os::Dictionary{{"id", id}, {"categoryid", 4}, {"action", 1}}, device)["data"]["result"].intValue());
  }

  // The ids of the first visible articles of category 4: kept as ids, since a restart frees the
  // content the articles live in.
  std::vector<long long> articleIds() {
    std::vector<long long> ids;
    for (const Article* a : server_->service().content().visibleArticles(4, kStartTime)) ids.push_back(a->id);
    return ids;
  }

  std::vector<long long> favourites() {
    std::vector<long long> ids;
    os::Value page = news(1050, os::Dictionary{{"type", 1}, {"pageno", 1}})["data"];
    for (std::size_t i = 0; i < page["newslist"].count(); ++i) ids.push_back(page["newslist"].at(i)["id"].intValue());
    return ids;
  }

  std::string contents(const std::string& path) {
    auto bytes = files().contentsAtPath(path);
    return bytes ? os::stringFromData(*bytes) : "(missing)";
  }

  void write(const std::string& text) { ASSERT_TRUE(files().writeData(os::dataFromString(text), path_)); }

  std::string folder_;
  std::string path_;
};

// Peers under device names of their own, each a quarter megabyte, mark and vote on an article:
// what the server keeps of them, and writes to its file on every change, stays within its bound.
// A reader already kept can still take its mark back, which makes room for another.
TEST_F(NewsdStateTest, MarksAndVotesFromEverNewDevicesStayWithinTheStateBound) {
  ASSERT_EQ(server_->service().keepStateIn(path_), std::nullopt);
  const long long id = articleIds().front();
  const std::string padding(256 * 1024, 'd');
  int refused = 0;
  for (int i = 0; i < 12; ++i) {
    refused += mark(id, 1, "m" + std::to_string(i) + padding) != kNewsSuccess;
    refused += vote(id, "v" + std::to_string(i) + padding) != kNewsSuccess;
  }
  EXPECT_GT(refused, 0);
  EXPECT_LE(server_->service().keptStateBytes(), NewsService::kStateByteLimit);
  EXPECT_LE(contents(path_).size(), NewsService::kStateByteLimit);

  EXPECT_EQ(mark(id, 2, "m0" + padding), kNewsSuccess);
  EXPECT_EQ(mark(id, 1, "another" + padding), kNewsSuccess);
  // A device name past the bound on its own is never kept.
  EXPECT_EQ(mark(id, 2, std::string(NewsService::kStateByteLimit + 1, 'x')), kNewsSuccess);
  EXPECT_EQ(mark(id, 1, std::string(NewsService::kStateByteLimit + 1, 'x')), kNewsFailure);
  EXPECT_LE(server_->service().keptStateBytes(), NewsService::kStateByteLimit);
}

// Reading favourites and an article's marks under ever new device names keeps nothing.
TEST_F(NewsdStateTest, ReadsUnderEverNewDeviceNamesKeepNothing) {
  const long long id = articleIds().front();
  const std::string padding(256 * 1024, 'r');
  for (int i = 0; i < 8; ++i) {
    const std::string device = std::to_string(i) + padding;
    EXPECT_EQ(news(1050, os::Dictionary{{"type", 1}, {"pageno", 1}}, device)["data"]["result"].intValue(), kNewsSuccess);
    EXPECT_EQ(news(1030, os::Dictionary{{"id", id}}, device)["data"]["favorite"].intValue(), 0);
  }
  EXPECT_EQ(server_->service().keptStateBytes(), 0u);
}

TEST_F(NewsdStateTest, FavouritesAndVotesSurviveARestartOnTheSameFile) {
  ASSERT_EQ(server_->service().keepStateIn(path_), std::nullopt);  // no file yet: a fresh start
  auto articles = articleIds();
  const long long first = articles[0], second = articles[1], third = articles[2];
  ASSERT_EQ(mark(first, 1), 1);
  ASSERT_EQ(mark(second, 1), 1);
  ASSERT_EQ(mark(third, 1), 1);
  ASSERT_EQ(mark(second, 2), 1);
  ASSERT_EQ(news(1060, os::Dictionary{{"id", first}, {"categoryid", 4}, {"action", 2}})["data"]["result"].intValue(), 1);
  const long long buries = news(1030, os::Dictionary{{"id", first}})["data"]["burycount"].intValue();

  ASSERT_EQ(restart(), std::nullopt);
  EXPECT_EQ(favourites(), (std::vector<long long>{third, first}));
  os::Value info = news(1030, os::Dictionary{{"id", first}})["data"];
  EXPECT_EQ(info["favorite"].intValue(), 1);
  EXPECT_EQ(info["diggbury"].intValue(), 3);
  EXPECT_EQ(info["burycount"].intValue(), buries);
  // Still one vote per reader and article after the restart.
  EXPECT_EQ(news(1060, os::Dictionary{{"id", first}, {"categoryid", 4}, {"action", 1}})["data"]["result"].intValue(), 2);

  // A server without the file starts empty: the favourites were in the file, not left in memory.
  startServer({});
  EXPECT_TRUE(favourites().empty());
}

// A save killed while writing leaves its temporary file beside the state file: the restart on the
// file removes it and keeps what was saved, and the folder's other files stay.
TEST_F(NewsdStateTest, ARestartRemovesWhatASaveCutShortLeft) {
  ASSERT_EQ(server_->service().keepStateIn(path_), std::nullopt);
  const long long first = articleIds()[0];
  ASSERT_EQ(mark(first, 1), 1);
  const std::string cutShort = os::testing::plantCutShortWrite(path_, 3);
  const std::string others = os::testing::plantCutShortWrite(folder_ + "/other-state", 4);
  ASSERT_FALSE(cutShort.empty() || others.empty());

  ASSERT_EQ(restart(), std::nullopt);
  EXPECT_FALSE(files().fileExistsAtPath(cutShort));
  EXPECT_TRUE(files().fileExistsAtPath(others));
  EXPECT_EQ(favourites(), (std::vector<long long>{first}));
}

TEST_F(NewsdStateTest, AChangeThatCannotBeWrittenIsAnsweredAsAFailureAndUndone) {
  ASSERT_EQ(server_->service().keepStateIn(path_), std::nullopt);
  auto articles = articleIds();
  ASSERT_EQ(mark(articles[0], 1), 1);
  const std::string kept = contents(path_);

  // The folder turned into a file: no temporary file can be made beside the state, as on a full disk.
  ASSERT_TRUE(files().removeItemAtPath(folder_));
  ASSERT_TRUE(files().writeData(os::dataFromString("x"), folder_));
  EXPECT_EQ(mark(articles[1], 1), 2);
  EXPECT_EQ(favourites(), (std::vector<long long>{articles[0]}));
  EXPECT_EQ(news(1060, os::Dictionary{{"id", articles[0]}, {"categoryid", 4}, {"action", 1}})["data"]["result"].intValue(), 2);
  EXPECT_EQ(news(1030, os::Dictionary{{"id", articles[0]}})["data"]["diggbury"].intValue(), 1);

  ASSERT_TRUE(files().removeItemAtPath(folder_));
  ASSERT_TRUE(files().createDirectoryAtPath(folder_, true));
  ASSERT_TRUE(files().writeData(os::dataFromString(kept), path_));
  ASSERT_EQ(restart(), std::nullopt);
  EXPECT_EQ(favourites(), (std::vector<long long>{articles[0]}));
}

TEST_F(NewsdStateTest, AFileCutShortOrGarbageIsRefusedAndMovedAsideNeverOverwritten) {
  ASSERT_EQ(server_->service().keepStateIn(path_), std::nullopt);
  auto articles = articleIds();
  for (int i = 0; i < 3; ++i) ASSERT_EQ(mark(articles[i], 1), 1);
  const std::string whole = contents(path_);
  ASSERT_GT(whole.size(), 10u);

  const std::string cut = whole.substr(0, whole.size() / 2);
  write(cut);
  auto refused = restart();
  ASSERT_TRUE(refused.has_value());
  EXPECT_NE(refused->find("cut short"), std::string::npos) << *refused;
  EXPECT_NE(refused->find(path_ + ".refused"), std::string::npos) << *refused;
  EXPECT_FALSE(files().fileExistsAtPath(path_));
  EXPECT_EQ(contents(path_ + ".refused"), cut);
  // Refused, the server keeps nothing: no answer may write over the refused file's place either.
  EXPECT_EQ(mark(articles[0], 1), 1);
  EXPECT_FALSE(files().fileExistsAtPath(path_));

  // Garbage, and a JSON text that is no state: each goes to a name of its own.
  write("\x01\x02garbage\xff");
  refused = restart();
  ASSERT_TRUE(refused.has_value());
  EXPECT_EQ(contents(path_ + ".refused"), cut);
  EXPECT_EQ(contents(path_ + ".refused-2"), "\x01\x02garbage\xff");

  write(R"({"newsd-state":1,"favourites":{"sharedudid:device-A":["12"]},"votes":[]})");
  refused = restart();
  ASSERT_TRUE(refused.has_value());
  EXPECT_NE(refused->find("not an article id"), std::string::npos) << *refused;
  EXPECT_TRUE(files().fileExistsAtPath(path_ + ".refused-3"));

  write("");
  refused = restart();
  ASSERT_TRUE(refused.has_value());
  EXPECT_NE(refused->find("empty"), std::string::npos) << *refused;

  // With the bad file out of the way, the next start begins afresh and keeps state again.
  ASSERT_EQ(restart(), std::nullopt);
  EXPECT_TRUE(favourites().empty());
  ASSERT_EQ(mark(articles[2], 1), 1);
  ASSERT_EQ(restart(), std::nullopt);
  EXPECT_EQ(favourites(), (std::vector<long long>{articles[2]}));
}

// A link left where a refused file would go, leading nowhere (its file removed by hand), takes
// that name: the bad file goes to the next one, and the start after begins afresh.
TEST_F(NewsdStateTest, ALinkLeadingNowhereInTheRefusedFilesPlaceDoesNotStopTheNextStart) {
  ASSERT_EQ(::symlink((folder_ + "/removed").c_str(), (path_ + ".refused").c_str()), 0);
  write("\x01\x02garbage\xff");
  auto refused = restart();
  ASSERT_TRUE(refused.has_value());
  EXPECT_NE(refused->find("it was moved to " + path_ + ".refused-2"), std::string::npos) << *refused;
  EXPECT_EQ(contents(path_ + ".refused-2"), "\x01\x02garbage\xff");
  EXPECT_FALSE(files().fileExistsAtPath(path_));

  ASSERT_EQ(restart(), std::nullopt);
  EXPECT_TRUE(favourites().empty());
}

TEST_F(NewsdStateTest, ASecondServerOnTheSameFileIsRefusedWhileTheFirstKeepsIt) {
  ASSERT_EQ(server_->service().keepStateIn(path_), std::nullopt);
  auto articles = articleIds();
  ASSERT_EQ(mark(articles[0], 1), 1);

  // Another newsd on the same home: it would rewrite the file from its own memory, without the
  // first one's favourite.
  {
    NewsServer second(ServerOptions{});
    auto refused = second.service().keepStateIn(path_);
    ASSERT_TRUE(refused.has_value()) << "two servers kept one state file";
    EXPECT_NE(refused->find(path_), std::string::npos) << *refused;
    EXPECT_NE(refused->find("process " + std::to_string(::getpid())), std::string::npos) << *refused;
  }
  ASSERT_EQ(mark(articles[1], 1), 1);
  EXPECT_EQ(favourites(), (std::vector<long long>{articles[1], articles[0]}));

  // The first gone (as a newsd that ended, however it ended), the next one keeps the file.
  ASSERT_EQ(restart(), std::nullopt);
  EXPECT_EQ(favourites(), (std::vector<long long>{articles[1], articles[0]}));
}

}  // namespace
}  // namespace newsd::testing
