#include <set>

#include "os/store/PropertyList.h"
#include "tools/newsd/tests/NewsdFixture.h"

namespace newsd::testing {
namespace {

using NewsdPromotionApiTest = NewsdTest;

void expectAd(const os::Value& ad) {
  EXPECT_TRUE(ad["adid"].isNumber());
  long long type = ad["type"].intValue();
  EXPECT_TRUE(type == 1 || type == 2) << type;
  EXPECT_FALSE(ad["content"].stringOr().empty());
  EXPECT_FALSE(ad["icon"].stringOr().empty());
  EXPECT_FALSE(ad["name"].stringOr().empty());
  EXPECT_TRUE(ad["summary"].isString());
}

TEST_F(NewsdPromotionApiTest, ArticleAdListSucceedsWithZero) {
  os::Value answer = promotion("/imkt/mil/", 2613, os::Dictionary{{"pageno", 1}});
  EXPECT_EQ(answer["errorcode"].intValue(), 0);
  EXPECT_EQ(answer["data"]["result"].intValue(), 0);
  ASSERT_GE(answer["data"]["adlist"].count(), 1u);
  for (const os::Value& ad : *answer["data"]["adlist"].array()) expectAd(ad);
}

TEST_F(NewsdPromotionApiTest, RecommendedAppsPageUntilTheLastPage) {
  std::set<long long> seen;
  int page = 1;
  for (;; ++page) {
    os::Value data = promotion("/imkt/mil", 2616, os::Dictionary{{"pageno", page}})["data"];
    ASSERT_EQ(data["result"].intValue(), 0);
    for (const os::Value& ad : *data["adlist"].array()) {
      expectAd(ad);
      EXPECT_TRUE(seen.insert(ad["adid"].intValue()).second);
    }
    if (data["lastpage"].intValue() == 1) break;
    EXPECT_EQ(data["lastpage"].intValue(), 2);
    ASSERT_LT(page, 10);
  }
  EXPECT_EQ(seen.size(), server_->service().content().ads().size());
  EXPECT_GT(page, 1);
}

TEST_F(NewsdPromotionApiTest, AdClickNamesACallbackThatRecordsTheUserAgent) {
  const Ad& storeAd = server_->service().content().ads().front();
  ASSERT_EQ(storeAd.type, 1);
  os::Value data = promotion("/imkt/", 2002, os::Dictionary{{"appid", storeAd.adid}, {"cp", 0}, {"channelid", 11}})["data"];
  ASSERT_EQ(data["result"].intValue(), 0);
  std::string callback = data["callbackurl"].stringOr();
  std::string agent = data["useragent"].stringOr();
  ASSERT_EQ(callback.rfind(base(), 0), 0u);
  ASSERT_FALSE(agent.empty());

  auto res = client_->Get(callback.substr(base().size()).c_str(), {{"User-Agent", agent}});
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  Received r = server_->service().received();
  EXPECT_EQ(r.adClicks, std::vector<long long>{storeAd.adid});
  ASSERT_EQ(r.adCallbacks.size(), 1u);
  EXPECT_EQ(r.adCallbacks[0].second, agent);

  // The store address ends in "id" and the item's digits before the query, as the reader parses it.
  std::string target = adTargetURL(base(), storeAd);
  std::string last = target.substr(target.rfind('/') + 1);
  EXPECT_EQ(last.substr(0, last.find('?')), "id" + std::to_string(storeAd.storeId));
  // And the store knows the item by that id: its product is the ad's application.
  auto product = get("/products/" + std::to_string(storeAd.storeId));
  ASSERT_TRUE(product);
  EXPECT_EQ(product->status, 200);
  auto plist = os::PropertyList::read(os::Data(product->body.begin(), product->body.end()));
  ASSERT_TRUE(plist);
  EXPECT_EQ((*plist)["name"].stringOr(), storeAd.name);
  EXPECT_EQ((*plist)["id"].stringOr(), std::to_string(storeAd.storeId));
  EXPECT_EQ(get("/products/42")->status, 404);  // sample store ids have nine digits

  EXPECT_EQ(promotion("/imkt", 2002, os::Dictionary{{"appid", 1}})["data"]["result"].intValue(), 1);
}

}  // namespace
}  // namespace newsd::testing
