#include <set>

#include "tools/newsd/tests/NewsdFixture.h"

namespace newsd::testing {
namespace {

using NewsdNewsApiTest = NewsdTest;

os::Value listRequest(long long category, long long flag, os::Dictionary extra = {}) {
  os::Dictionary d{{"id", category}, {"flag", flag}};
  for (auto& [k, v] : extra) d.set(k, v);
  return d;
}

TEST_F(NewsdNewsApiTest, ActivationHandsOutThePassSwitchAndRefreshInterval) {
  os::Value answer = news(1000, os::Dictionary{{"cp", 1}});
  EXPECT_EQ(answer["errorcode"].intValue(), 0);
  EXPECT_EQ(answer["opcode"].intValue(), 1000);
  EXPECT_EQ(answer["data"]["result"].intValue(), 1);
  EXPECT_TRUE(answer["data"]["pass"].isNumber());
  EXPECT_EQ(answer["data"]["pass"].intValue(), 0);
  EXPECT_DOUBLE_EQ(answer["data"]["nctime"].doubleValue(), 3600.0);

  ServiceOptions options;
  options.pass = 1;
  options.nctime = 600;
  startServer(options);
  answer = news(1000, os::Dictionary{{"cp", 3}});
  EXPECT_EQ(answer["data"]["pass"].intValue(), 1);
  EXPECT_DOUBLE_EQ(answer["data"]["nctime"].doubleValue(), 600.0);
}

TEST_F(NewsdNewsApiTest, CategoryListNamesADozenDistinctCategories) {
  os::Value data = news(1040)["data"];
  ASSERT_EQ(data["result"].intValue(), 1);
  const os::Array* list = data["categorylist"].array();
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->size(), 12u);
  std::set<long long> ids;
  for (const os::Value& c : *list) {
    EXPECT_TRUE(c["id"].isNumber());
    EXPECT_FALSE(c["name"].stringOr().empty());
    EXPECT_EQ(c["flag"].intValue(), 1);
    ids.insert(c["id"].intValue());
  }
  EXPECT_EQ(ids.size(), list->size());
}

TEST_F(NewsdNewsApiTest, LoadMorePagesThroughACategoryWithoutRepeatsUntilTheLastPage) {
  os::Value first = news(1010, listRequest(2, 1, {{"upid", 0}, {"uptime", -1}, {"count", 20}}))["data"];
  ASSERT_EQ(first["result"].intValue(), 1);
  ASSERT_EQ(first["newslist"].count(), 20u);
  EXPECT_EQ(first["lastpage"].intValue(), 2);

  std::set<long long> seen;
  long long previousTime = INT64_MAX;
  os::Value page = first;
  int pages = 1;
  for (;;) {
    for (const os::Value& item : *page["newslist"].array()) {
      EXPECT_TRUE(seen.insert(item["id"].intValue()).second) << "repeated " << item["id"].intValue();
      EXPECT_EQ(item["categoryid"].intValue(), 2);
      EXPECT_LE(item["publishtime"].intValue(), previousTime);  // newest first across pages
      EXPECT_LE(item["publishtime"].doubleValue(), kStartTime);  // nothing from the future
      previousTime = item["publishtime"].intValue();
      ASSERT_TRUE(item["icons"].isArray());
      for (const os::Value& icon : *item["icons"].array())
        EXPECT_EQ(icon.stringOr().rfind(base() + "/img/", 0), 0u) << icon.stringOr();
      std::string type = item["type"].stringOr("?");
      EXPECT_TRUE(type.empty() || type == "album") << type;
    }
    if (page["lastpage"].intValue() == 1) break;
    ASSERT_LT(++pages, 10);
    const os::Value& last = page["newslist"].at(page["newslist"].count() - 1);
    page = news(1010, listRequest(2, 2, {{"downid", last["id"]}, {"downtime", last["publishtime"]}, {"count", 20}}))["data"];
    ASSERT_EQ(page["result"].intValue(), 1);
  }
  EXPECT_EQ(pages, 2);
  EXPECT_EQ(seen.size(), server_->service().content().visibleArticles(2, kStartTime).size());
}

TEST_F(NewsdNewsApiTest, PullToRefreshBringsOnlyWhatWasPublishedSinceTheFirstRow) {
  os::Value first = news(1010, listRequest(3, 1, {{"upid", 0}, {"uptime", -1}}))["data"];
  const os::Value& top = first["newslist"].at(0);
  auto pull = [&] {
    return news(1010, listRequest(3, 1, {{"upid", top["id"]}, {"uptime", top["publishtime"]}}))["data"];
  };
  os::Value nothing = pull();
  EXPECT_EQ(nothing["result"].intValue(), 1);
  EXPECT_EQ(nothing["newslist"].count(), 0u);
  EXPECT_EQ(nothing["lastpage"].intValue(), 2);  // the reader keeps its load-more row

  os::Clock::advance(2 * 3600);
  os::Value fresh = pull();
  ASSERT_EQ(fresh["newslist"].count(), 2u);
  for (const os::Value& item : *fresh["newslist"].array())
    EXPECT_GT(item["publishtime"].intValue(), top["publishtime"].intValue());

  // A forced refresh sends the first row's id with uptime -1 and gets the newest page whole.
  os::Value forced = news(1010, listRequest(3, 1, {{"upid", top["id"]}, {"uptime", -1}, {"count", 20}}))["data"];
  EXPECT_EQ(forced["newslist"].count(), 20u);
  EXPECT_EQ(forced["newslist"].at(0)["id"], fresh["newslist"].at(0)["id"]);
}

TEST_F(NewsdNewsApiTest, ListOfAnUnknownCategoryOrFlagFails) {
  EXPECT_EQ(news(1010, listRequest(99, 1))["data"]["result"].intValue(), 2);
  EXPECT_EQ(news(1010, listRequest(1, 3))["data"]["result"].intValue(), 2);
  EXPECT_EQ(news(1010, os::Dictionary{{"id", "1"}, {"flag", 1}})["data"]["result"].intValue(), 2);
}

TEST_F(NewsdNewsApiTest, FavouritesAreKeptPerDeviceNewestFirst) {
  auto ids = server_->service().content().visibleArticles(4, kStartTime);
  auto mark = [&](long long id, long long action, const std::string& device = "device-A") {
    return news(1070, os::Dictionary{{"id", id}, {"categoryid", 4}, {"action", action}}, device)["data"]["result"].intValue();
  };
  EXPECT_EQ(mark(ids[0]->id, 1), 1);
  EXPECT_EQ(mark(ids[1]->id, 1), 1);
  EXPECT_EQ(mark(ids[1]->id, 1), 1);  // twice is still one favourite

  os::Value page = news(1050, os::Dictionary{{"type", 1}, {"pageno", 1}})["data"];
  ASSERT_EQ(page["newslist"].count(), 2u);
  EXPECT_EQ(page["newslist"].at(0)["id"].intValue(), ids[1]->id);
  EXPECT_EQ(page["lastpage"].intValue(), 1);
  EXPECT_EQ(news(1050, os::Dictionary{{"type", 1}, {"pageno", 1}}, "device-B")["data"]["newslist"].count(), 0u);
  EXPECT_EQ(news(1030, os::Dictionary{{"id", ids[0]->id}})["data"]["favorite"].intValue(), 1);

  EXPECT_EQ(mark(ids[0]->id, 2), 1);
  EXPECT_EQ(news(1030, os::Dictionary{{"id", ids[0]->id}})["data"]["favorite"].intValue(), 0);
  EXPECT_EQ(mark(999999, 1), 2);

  // Twelve favourites make two pages, the first saying more follow.
  for (std::size_t i = 2; i < 13; ++i) mark(ids[i]->id, 1);
  EXPECT_EQ(news(1050, os::Dictionary{{"type", 1}, {"pageno", 1}})["data"]["lastpage"].intValue(), 2);
  EXPECT_EQ(news(1050, os::Dictionary{{"type", 1}, {"pageno", 2}})["data"]["newslist"].count(), 2u);
}

TEST_F(NewsdNewsApiTest, AReaderVotesOnceAndTheCountsShowIt) {
  const Article* a = server_->service().content().visibleArticles(5, kStartTime).front();
  os::Value before = news(1030, os::Dictionary{{"id", a->id}})["data"];
  EXPECT_EQ(before["result"].intValue(), 1);
  EXPECT_EQ(before["diggbury"].intValue(), 1);

  os::Value vote = os::Dictionary{{"id", a->id}, {"categoryid", 5}, {"action", 1}};
  EXPECT_EQ(news(1060, vote)["data"]["result"].intValue(), 1);
  EXPECT_EQ(news(1060, vote)["data"]["result"].intValue(), 2);
  os::Value after = news(1030, os::Dictionary{{"id", a->id}})["data"];
  EXPECT_EQ(after["diggbury"].intValue(), 2);
  EXPECT_EQ(after["diggcount"].intValue(), before["diggcount"].intValue() + 1);
  EXPECT_EQ(after["burycount"].intValue(), before["burycount"].intValue());

  os::Value down = os::Dictionary{{"id", a->id}, {"categoryid", 5}, {"action", 2}};
  EXPECT_EQ(news(1060, down, "device-B")["data"]["result"].intValue(), 1);
  EXPECT_EQ(news(1030, os::Dictionary{{"id", a->id}}, "device-B")["data"]["diggbury"].intValue(), 3);
}

TEST_F(NewsdNewsApiTest, ReportsFromTheReaderAreTakenDown) {
  EXPECT_EQ(news(1001, os::Dictionary{{"id", 20010}})["data"]["result"].intValue(), 1);
  EXPECT_EQ(news(1090, os::Dictionary{{"dump", encodeParameterText("boom\nstack")}, {"log", "line"}})["data"]["result"].intValue(), 1);
  EXPECT_EQ(news(1090, os::Dictionary{{"log", "line"}})["data"]["result"].intValue(), 2);
  // The log file rides along whole, far beyond what a small form would hold.
  std::string log(200 * 1024, 'x');
  EXPECT_EQ(news(1090, os::Dictionary{{"dump", encodeParameterText("second")}, {"log", log}})["data"]["result"].intValue(), 1);
  EXPECT_EQ(news(1100, os::Dictionary{{"id", 20010}, {"error", "bad tag"}})["data"]["result"].intValue(), 1);
  EXPECT_EQ(news(1110, os::Dictionary{{"suggestion", "  "}, {"contact", ""}})["data"]["result"].intValue(), 1);
  EXPECT_EQ(news(1110, os::Dictionary{{"suggestion", ""}, {"contact", "qq"}})["data"]["result"].intValue(), 2);

  Received r = server_->service().received();
  EXPECT_EQ(r.reads[20010], 1);
  ASSERT_EQ(r.crashDumps.size(), 2u);
  EXPECT_EQ(r.crashDumps[0], "boom\nstack");
  EXPECT_EQ(r.parseErrors, std::vector<std::string>{"bad tag"});
  EXPECT_EQ(r.feedback, std::vector<std::string>{"  "});
}

TEST_F(NewsdNewsApiTest, AnEmptyCrashDumpIsTakenSoTheReaderMayDeleteIt) {
  // An empty dump file reads as the empty text, whose Base64 is "". The reader deletes the dump
  // and its log on any "result" but 2; a 2 here would have it send both again on every launch.
  os::Value data = news(1090, os::Dictionary{{"dump", ""}, {"log", "line one\n"}})["data"];
  EXPECT_NE(data["result"].intValue(), 2);
  EXPECT_EQ(data["result"].intValue(), 1);
  EXPECT_EQ(server_->service().received().crashDumps, std::vector<std::string>{""});
  // A form without any dump is still no upload.
  EXPECT_EQ(news(1090, os::Dictionary{{"dump", 5}, {"log", "line"}})["data"]["result"].intValue(), 2);
}

TEST_F(NewsdNewsApiTest, AcceptedFormsAreKeptByOperationOnlyOnceAsked) {
  news(1000, os::Dictionary{{"cp", 1}});
  server_->service().setKeepsForms(true);
  news(1000, os::Dictionary{{"cp", 2}});
  news(1040);
  news(1000, os::Dictionary{{"cp", 3}});
  postForm("/api/imobile/", "p=eA%3D%3D&v=1&c=0");  // refused
  auto activations = server_->service().forms(1000);
  ASSERT_EQ(activations.size(), 2u);
  EXPECT_EQ(activations[0]["opdata"]["cp"].intValue(), 2);
  EXPECT_EQ(activations[1]["opdata"]["cp"].intValue(), 3);
  EXPECT_EQ(server_->service().forms(1040).size(), 1u);
}

TEST_F(NewsdNewsApiTest, VersionCheckAnswersOnBothAddressForms) {
  auto check = [&](const std::string& path) {
    auto res = get(path);
    return res && res->status == 200 ? parseJSON(res->body).value_or(os::Value()) : os::Value();
  };
  EXPECT_EQ(check("/api/common/?cmd=verupdate&version=1.0")["data"]["result"].intValue(), 0);

  ServiceOptions options;
  options.latestVersion = "2.10";
  startServer(options);
  os::Value newer = check("/api/common/?cmd=verupdate&version=2.9");
  EXPECT_EQ(newer["data"]["result"].intValue(), 1);
  EXPECT_EQ(newer["data"]["content"].stringOr(), base() + "/app/update");
  EXPECT_EQ(check("/api/common?cmd=verupdate&version=2.10")["data"]["result"].intValue(), 0);
  EXPECT_LT(check("/api/common?cmd=other&version=1")["errorcode"].intValue(), 0);
}

}  // namespace
}  // namespace newsd::testing
