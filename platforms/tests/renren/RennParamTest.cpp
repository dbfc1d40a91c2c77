// The parameter table against the service's own, and the client's URL, Base64 and signing helpers.
#include <gtest/gtest.h>

#include <set>

#include "os/crypto/Random.h"
#include "platforms/renren/OAuth2SignatureMethod.h"
#include "platforms/renren/RennParams.h"
#include "platforms/renren/RennUtility.h"
#include "tools/renrend/server/RenrenApi.h"

namespace {

TEST(RennParamTest, EveryCallMatchesTheServicesTable) {
  ASSERT_EQ(RennParam::classNames().size(), 46u);
  std::set<std::string> paths;
  for (const std::string& name : RennParam::classNames()) {
    auto param = RennParam::create(name);
    ASSERT_TRUE(param) << name;
    EXPECT_EQ(param->className(), name);
    const renrend::ApiCall* call = renrend::findCall(param->path());
    ASSERT_TRUE(call) << name << " " << param->path();
    EXPECT_EQ(param->method(), call->method) << name;
    auto types = RennParam::getPropertiesAndTypesForClassName(name);
    ASSERT_TRUE(types);
    EXPECT_EQ(types->keys(), call->parameters) << name;
    paths.insert(param->path());
  }
  EXPECT_EQ(paths.size(), renrend::apiTable().size());
  EXPECT_FALSE(RennParam::getPropertiesAndTypesForClassName("RennParam"));
  EXPECT_EQ((*RennParam::getPropertiesAndTypesForClassName("UploadPhotoParam"))["file"].stringOr(), "NSData");
  EXPECT_EQ(GetUserLoginParam().type(), "GetLogin");
  EXPECT_EQ(ListBlogParam().type(), "ListBlog");
}

TEST(RennParamTest, DictionaryLeavesOutWhatIsUnset) {
  ListAlbumParam album;
  album.setOwnerId("7");
  EXPECT_EQ(album.toDictionary().keys(), std::vector<std::string>{"ownerId"});
  album.setPageSize(20);
  EXPECT_EQ(album.toDictionary()["pageSize"].stringOr(), "20");
  album.setPageSize(-1);
  EXPECT_FALSE(album.toDictionary().contains("pageSize"));

  ListBlogParam blog;
  EXPECT_EQ(blog.toDictionary()["pageSize"].stringOr(), "0");
  EXPECT_EQ(blog.toDictionary()["pageNumber"].stringOr(), "0");

  BatchUserParam batch;
  batch.setUserIds({"1", "2", "3"});
  EXPECT_EQ(batch.toDictionary()["userIds"].stringOr(), "1,2,3");
  batch.setUserIds({});
  EXPECT_TRUE(batch.toDictionary().empty());
  for (const char* empty : {"ListUbbParam", "GetAppParam", "GetUserLoginParam", "ListUserFriendAppParam",
                            "ListUserFriendUninstallAppParam"})
    EXPECT_TRUE(RennParam::create(empty)->toDictionary().empty()) << empty;

  PutFeedParam feed;
  feed.setDescription("d");
  EXPECT_EQ(feed.toDictionary()["description"].stringOr(), "d");
}

TEST(RennParamTest, UrlHelpers) {
  EXPECT_EQ(RennUtility::serializeURL("http://h/p", os::Dictionary{{"a", os::Value("x y/&")}}),
            "http://h/p?a=x%20y%2F%26");
  EXPECT_EQ(RennUtility::serializeURL("http://h/p?k=1", os::Dictionary{{"a", os::Value("1")}, {"b", os::Value("~")}}),
            "http://h/p?k=1&a=1&b=~");
  EXPECT_EQ(RennUtility::serializeURL("http://h/p", {}), "http://h/p?");

  os::Dictionary params = RennUtility::parseURLParams("a=1&b=%E4%BA%BA=x&a=2&lone&bad=%zz");
  EXPECT_EQ(params["a"].stringOr(), "2");
  EXPECT_EQ(params["b"].stringOr(), "人");
  EXPECT_FALSE(params.contains("lone"));
  EXPECT_FALSE(params.contains("bad"));
  EXPECT_TRUE(RennUtility::parseURLParams(std::nullopt).empty());

  const std::string page = "http://o/oauth/login_success.html#access_token=t%2D1&expires_in=10";
  EXPECT_EQ(RennUtility::getParamValueFromUrl(page, "access_token"), "t-1");
  EXPECT_EQ(RennUtility::getParamValueFromUrl(page, "expires_in="), "10");
  EXPECT_EQ(RennUtility::getParamValueFromUrl("access_token=a", "access_token"), "a");
  // The first occurrence decides, even when a proper one follows.
  EXPECT_FALSE(RennUtility::getParamValueFromUrl("http://o/x?xaccess_token=1&access_token=2", "access_token"));
  EXPECT_FALSE(RennUtility::getParamValueFromUrl(page, "scope"));
}

TEST(RennParamTest, Base64AndTheMacSignature) {
  auto b64 = [](std::size_t n) { return *OAuth2SignatureMethod::base64EncodedStringWithData(os::Data(n, 'x')); };
  EXPECT_EQ(b64(48).size(), 64u);
  EXPECT_EQ(b64(48).find("\r\n"), std::string::npos);
  const std::string two = b64(49);
  EXPECT_EQ(two.size(), 70u);
  EXPECT_EQ(two.substr(64, 2), "\r\n");
  EXPECT_EQ(two.substr(68), "==");
  EXPECT_EQ(b64(96).size(), 130u);
  EXPECT_EQ(b64(0), "");
  EXPECT_EQ(*OAuth2SignatureMethod::base64EncodedStringWithData(os::dataFromString("abc")), "YWJj");

  const std::string normalized = OAuth2SignatureMethod::normalizeRequestByTimestamp(
      "2200000000", "abcdefgh", "", "GET", "/v2/user/get?userId=1", "api.renren.example", "80");
  EXPECT_EQ(normalized, "2200000000\nabcdefgh\nGET\n/v2/user/get?userId=1\napi.renren.example\n80\n\n");
  EXPECT_EQ(OAuth2SignatureMethod::normalizeRequestByTimestamp("1", "n", "", std::nullopt, "/u", "h", "80"), "1\nn\n");
  // Client and service agree on the signature.
  EXPECT_EQ(
      OAuth2SignatureMethod::sign(normalized, "key"),
      renrend::macSignature("key", "2200000000", "abcdefgh", "GET", "/v2/user/get?userId=1", "api.renren.example"));
  EXPECT_EQ(OAuth2SignatureMethod::sign(normalized, "key")->size(), 28u);
  EXPECT_FALSE(OAuth2SignatureMethod::sign("人", "key"));

  os::SeededRandomScope seeded(7);
  const std::string nonce = OAuth2SignatureMethod::getRandomStringForLength(500);
  EXPECT_EQ(nonce.size(), 500u);
  EXPECT_EQ(nonce.find_first_of("jqJ"), std::string::npos);
  EXPECT_EQ(OAuth2SignatureMethod::getRandomStringForLength(0), "");
}

}  // namespace
