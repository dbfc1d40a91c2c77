// Every operation of both APIs, signed by the reader and answered by the local news server on
// loopback, then reduced by the runner to the "data" its callers read.
#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "news/api/NQBaseRequest.h"
#include "news/api/VXAdClickRequest.h"
#include "news/api/VXAdListRequest.h"
#include "news/api/VXAllAdListRequest.h"
#include "news/api/VXAppActiveRequest.h"
#include "news/api/VXDiggAndBuryRequest.h"
#include "news/api/VXFavoriteRequest.h"
#include "news/api/VXFeedbackRequest.h"
#include "news/api/VXGetFavoriteRequest.h"
#include "news/api/VXGlobalHelper.h"
#include "news/api/VXNewsDetailRequest.h"
#include "news/api/VXNewsHistoryRequest.h"
#include "news/api/VXNewsInfoRequest.h"
#include "news/api/VXNewsListRequest.h"
#include "news/api/VXPraseXMLErrorRequest.h"
#include "news/api/VXUploadDumpRequest.h"
#include "news/tests/support/ReaderFixture.h"
#include "tools/newsd/server/NewsServer.h"

namespace {

class NewsdRoadTest : public newstest::RealTimeFixture {
 protected:
  void SetUp() override { startServer(11); }

  // Runs with the failure closure; the data, or nothing. A failed exchange fails the test.
  std::optional<os::Dictionary> run(NQBaseRequest& request) {
    bool failed = false;
    auto data = load(request, &failed);
    EXPECT_FALSE(failed) << request.className();
    EXPECT_TRUE(data) << request.className() << ": " << VXGlobalHelper::readLog().value_or("");
    return data;
  }
};

TEST_F(NewsdRoadTest, NewsApiOperationsAreAnsweredAndParsed) {
  VXAppActiveRequest activate(1);
  auto active = run(activate);
  ASSERT_TRUE(active);
  EXPECT_TRUE((*active)["pass"].isNumber());
  EXPECT_TRUE((*active)["nctime"].isNumber());

  NQBaseRequest categoriesRequest = NQBaseRequest::initWithOpcode(1040);
  auto categories = run(categoriesRequest);
  ASSERT_TRUE(categories);
  EXPECT_EQ((*categories)["result"].intValue(), 1);
  ASSERT_GT((*categories)["categorylist"].count(), 0u);
  long long category = (*categories)["categorylist"].at(0)["id"].intValue();

  VXNewsListRequest listRequest(os::Dictionary{{"id", category}, {"flag", 1}, {"count", 20}});
  auto list = run(listRequest);
  ASSERT_TRUE(list);
  EXPECT_NE((*list)["result"].intValue(), 2);
  ASSERT_GT((*list)["newslist"].count(), 0u);
  EXPECT_TRUE((*list)["lastpage"].isNumber());
  long long article = (*list)["newslist"].at(0)["id"].intValue();

  VXNewsDetailRequest detailRequest(article);
  auto detail = run(detailRequest);
  ASSERT_TRUE(detail);
  EXPECT_EQ((*detail)["result"].intValue(), 1);
  EXPECT_FALSE((*detail)["body"].stringOr().empty());

  VXDiggAndBuryRequest voteRequest(os::Dictionary{{"id", article}, {"category", category}, {"action", 1}});
  EXPECT_EQ((*run(voteRequest))["result"].intValue(), 1);
  VXFavoriteRequest favouriteRequest(os::Dictionary{{"id", article}, {"category", category}, {"action", 1}});
  EXPECT_EQ((*run(favouriteRequest))["result"].intValue(), 1);

  VXNewsInfoRequest infoRequest(article);
  auto info = load(infoRequest);
  ASSERT_TRUE(info);
  EXPECT_EQ((*info)["favorite"].intValue(), 1);
  EXPECT_TRUE((*info)["diggbury"].isNumber());
  EXPECT_TRUE((*info)["diggcount"].isNumber());
  EXPECT_TRUE((*info)["burycount"].isNumber());

  VXGetFavoriteRequest favouritesRequest(1);
  auto favourites = run(favouritesRequest);
  ASSERT_TRUE(favourites);
  ASSERT_EQ((*favourites)["newslist"].count(), 1u);
  EXPECT_EQ((*favourites)["newslist"].at(0)["id"].intValue(), article);
  EXPECT_EQ((*favourites)["lastpage"].intValue(), 1);

  VXNewsHistoryRequest historyRequest{os::Value(article)};
  EXPECT_EQ((*load(historyRequest))["result"].intValue(), 1);

  VXPraseXMLErrorRequest parseError(os::Value(article), std::nullopt);
  EXPECT_TRUE(load(parseError));
  VXFeedbackRequest feedback("更多图片", "reader@example.com");
  EXPECT_EQ((*run(feedback))["result"].intValue(), 1);
  VXGlobalHelper::writeLog("a line for the upload");
  VXUploadDumpRequest dump("signal 11 at 0x0");
  EXPECT_NE((*load(dump))["result"].intValue(), 2);

  newsd::Received received = server_->service().received();
  EXPECT_EQ(received.reads[article], 1);
  ASSERT_EQ(received.parseErrors.size(), 1u);
  EXPECT_EQ(received.parseErrors[0], "");
  ASSERT_EQ(received.feedback.size(), 1u);
  EXPECT_EQ(received.feedback[0], "更多图片");
  ASSERT_EQ(received.crashDumps.size(), 1u);
  EXPECT_EQ(received.crashDumps[0], "signal 11 at 0x0");
}

TEST_F(NewsdRoadTest, PromotionApiOperationsAreAnsweredAndParsed) {
  VXAdListRequest listRequest;
  auto ads = load(listRequest);
  ASSERT_TRUE(ads);
  EXPECT_EQ((*ads)["result"].intValue(), 0);
  ASSERT_TRUE((*ads)["adlist"].isArray());

  VXAllAdListRequest allRequest(1);
  auto all = run(allRequest);
  ASSERT_TRUE(all);
  EXPECT_EQ((*all)["result"].intValue(), 0);
  ASSERT_GT((*all)["adlist"].count(), 0u);
  EXPECT_TRUE((*all)["lastpage"].isNumber());

  os::Value adid = (*all)["adlist"].at(0)["adid"];
  VXAdClickRequest clickRequest(adid);
  auto click = run(clickRequest);
  ASSERT_TRUE(click);
  EXPECT_EQ((*click)["result"].intValue(), 0);
  EXPECT_FALSE((*click)["callbackurl"].stringOr().empty());
  EXPECT_FALSE((*click)["useragent"].stringOr().empty());
  EXPECT_EQ(server_->service().received().adClicks.size(), 1u);
}

TEST_F(NewsdRoadTest, ArticleFetchedSynchronouslyFromAWorkerThread) {
  NQBaseRequest categoriesRequest = NQBaseRequest::initWithOpcode(1040);
  auto categories = run(categoriesRequest);
  ASSERT_TRUE(categories);
  VXNewsListRequest listRequest(os::Dictionary{{"id", (*categories)["categorylist"].at(0)["id"]}, {"flag", 1}});
  auto list = run(listRequest);
  ASSERT_TRUE(list);
  VXNewsDetailRequest detailRequest((*list)["newslist"].at(0)["id"].intValue());

  std::optional<os::Dictionary> detail;
  std::thread worker([&] { detail = VXGlobalHelper::synchWithRequest(detailRequest); });
  worker.join();
  ASSERT_TRUE(detail);
  EXPECT_EQ((*detail)["result"].intValue(), 1);
}

TEST_F(NewsdRoadTest, ARequestSignedWithAnotherKeyIsRefusedAndYieldsNothing) {
  // The server rejects the signature (negative errorcode): the caller gets nothing, the log says why.
  class Forged : public VXAppActiveRequest {
   public:
    Forged() : VXAppActiveRequest(1) {}
    os::Dictionary query() override {
      os::Dictionary form = VXAppActiveRequest::query();
      form.set("c", std::string(32, '0'));
      return form;
    }
  } forged;
  bool done = false;
  std::optional<os::Dictionary> data{os::Dictionary{}};
  VXGlobalHelper::loadWithRequest(forged, [&](const std::optional<os::Dictionary>& d) {
    data = d;
    done = true;
  });
  ASSERT_TRUE(newstest::runUntil([&] { return done; }));
  EXPECT_FALSE(data);
  EXPECT_NE(VXGlobalHelper::readLog().value_or("").find("errorcode is -2"), std::string::npos);
}

}  // namespace
