#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "news/api/NQBaseRequest.h"
#include "news/api/VXAdListRequest.h"
#include "news/api/VXAppActiveRequest.h"
#include "news/api/VXFeedbackRequest.h"
#include "news/tests/support/ReaderFixture.h"
#include "os/core/String.h"
#include "os/net/URLRequest.h"
#include "os/store/FileManager.h"
#include "os/store/Sandbox.h"

namespace {

using newsd::decodeParameters;

const std::string kHexDigits = "0123456789abcdef";

bool isLowerHex(const std::string& s) { return s.find_first_not_of(kHexDigits) == std::string::npos; }

TEST(NQBaseRequestSigning, DerivedKeysAreLowerHexOfTheStoredLength) {
  // Worked out by hand from the derivation rule over the two deployment keys.
  EXPECT_EQ(NQBaseRequest::se(SECRET_KEY), "2b81349b7d12aa950b20d2f52247ff44");
  EXPECT_EQ(NQBaseRequest::se(SECRET_KEY_QUARN), "7d55ca4f76bd4da2adbf2d5405d43f");
  EXPECT_EQ(NQBaseRequest::hex2char(0), '0');
  EXPECT_EQ(NQBaseRequest::hex2char(9), '9');
  EXPECT_EQ(NQBaseRequest::hex2char(10), 'a');
  EXPECT_EQ(NQBaseRequest::hex2char(15), 'f');
}

TEST(NQBaseRequestSigning, CheckCodeGoldenVectors) {
  // p of {"opcode":1040}; digest 74ff60e4803e43711115f05bc8b2d4a6.
  const std::string p = "eyJvcGNvZGUiOjEwNDB9";
  EXPECT_EQ(NQBaseRequest::makeCheckCodeWithParams(p, NQBaseRequest::se(SECRET_KEY)),
            "96e794e6f44754061335a2b75a69aa5a");
  // The 30-character key wraps: digest positions 30 and 31 pair with key positions 0 and 1.
  EXPECT_EQ(NQBaseRequest::makeCheckCodeWithParams(p, NQBaseRequest::se(SECRET_KEY_QUARN)),
            "e8bb919af6598783253b84a63d667a8a");
}

TEST(NQBaseRequestSigning, CheckCodeIs32LowerHexDigitsForAnyKeyLength) {
  for (const std::string& key : std::vector<std::string>{"a", "0123456789", std::string(40, 'Z'), ""}) {
    std::string code = NQBaseRequest::makeCheckCodeWithParams("some parameter text", key);
    EXPECT_EQ(code.size(), 32u) << key;
    EXPECT_TRUE(isLowerHex(code)) << code;
  }
}

TEST(NQBaseRequestBody, NewsFieldsDecodeFromAOneLinePAndTheSignatureCoversIt) {
  newstest::RequestEnvironment env;
  // Long enough that a wrapping Base64 encoder would have broken the line several times.
  VXFeedbackRequest request(std::string(300, 'x'), "reader@example.com");
  os::Dictionary form = request.query();

  ASSERT_EQ(form.size(), 3u);
  std::string p = form["p"].stringOr();
  EXPECT_GT(p.size(), 400u);
  EXPECT_EQ(p.find_first_of("\r\n"), std::string::npos);
  EXPECT_EQ(form["v"].intValue(), 1);
  EXPECT_TRUE(form["v"].isNumber());
  EXPECT_EQ(form["c"].stringOr(), NQBaseRequest::makeCheckCodeWithParams(p, NQBaseRequest::se(SECRET_KEY)));
  EXPECT_FALSE(form.contains("check"));

  auto params = decodeParameters(p);
  ASSERT_TRUE(params);
  EXPECT_EQ((*params)["opcode"].intValue(), 1110);
  EXPECT_EQ((*params)["opdata"]["suggestion"].stringOr(), std::string(300, 'x'));
  EXPECT_EQ((*params)["devtype"].intValue(), 1);
  EXPECT_EQ((*params)["version"].stringOr(), "27");
  EXPECT_EQ((*params)["ios"].stringOr(), "6.1.3");
  EXPECT_EQ((*params)["jailbreak"].intValue(), 2);
  EXPECT_EQ((*params)["sn"]["mac"].stringOr(), "0A:1B:2C:3D:4E:5F");
  EXPECT_EQ((*params)["sn"]["idfa"].stringOr(), "6D1A8F0E-3C1B-4E6A-9B1C-2A3B4C5D6E7F");
  EXPECT_TRUE((*params)["sn"]["sharedudid"].isString());
  EXPECT_FALSE(params->contains("cid"));
}

TEST(NQBaseRequestBody, PromotionFieldsLeaveJailbreakOutAndCarryTheChannel) {
  newstest::RequestEnvironment env;
  VXAdListRequest request;
  os::Dictionary form = request.query();
  std::string p = form["p"].stringOr();
  EXPECT_EQ(p.find_first_of("\r\n"), std::string::npos);
  EXPECT_EQ(form["v"].intValue(), 3);
  EXPECT_FALSE(form.contains("c"));
  EXPECT_EQ(form["check"].stringOr(), NQBaseRequest::makeCheckCodeWithParams(p, NQBaseRequest::se(SECRET_KEY_QUARN)));

  auto params = decodeParameters(p);
  ASSERT_TRUE(params);
  EXPECT_EQ((*params)["opcode"].intValue(), 2613);
  EXPECT_EQ((*params)["in"]["pageno"].intValue(), 1);
  EXPECT_EQ((*params)["cid"].intValue(), 11);
  EXPECT_EQ((*params)["devtype"].intValue(), 1);
  EXPECT_EQ((*params)["deviceos"].stringOr(), "6.1.3");
  EXPECT_EQ((*params)["version"].stringOr(), "2.3");
  EXPECT_FALSE(params->contains("jailbreak"));
  EXPECT_FALSE(params->contains("ios"));
  EXPECT_TRUE((*params)["sn"].isDictionary());
}

TEST(NQBaseRequestBody, AJailbrokenDeviceSaysSoToBothApis) {
  newstest::RequestEnvironment env;
  std::string mark = os::Sandbox::current()->deviceDirectory() + "/Applications/Cydia.app";
  ASSERT_TRUE(os::FileManager::defaultManager().createDirectoryAtPath(mark, true));

  VXAppActiveRequest news(1);
  EXPECT_EQ((*decodeParameters(news.query()["p"].stringOr()))["jailbreak"].intValue(), 1);
  VXAdListRequest promotion;
  EXPECT_EQ((*decodeParameters(promotion.query()["p"].stringOr()))["jailbreak"].intValue(), 1);
}

TEST(NQBaseRequestBody, OpcodeWithoutAClassAndRepeatedQueries) {
  newstest::RequestEnvironment env;
  NQBaseRequest categories = NQBaseRequest::initWithOpcode(1040);
  EXPECT_EQ(categories.opCode(), 0);
  os::Dictionary first = categories.query();
  auto params = decodeParameters(first["p"].stringOr());
  ASSERT_TRUE(params);
  EXPECT_EQ((*params)["opcode"].intValue(), 1040);
  EXPECT_FALSE(params->contains("opdata"));
  // A second build carries the same fields again, and so the same signature.
  EXPECT_EQ(categories.query(), first);
}

TEST(NQBaseRequestBody, MissingBundleVersionIsLeftOut) {
  newstest::RequestEnvironment env;
  env.sandbox().setInfoDictionary(os::Dictionary{{"CFBundleIdentifier", "com.example.newsreader"}});
  VXAppActiveRequest news(2);
  EXPECT_FALSE(decodeParameters(news.query()["p"].stringOr())->contains("version"));
  VXAdListRequest promotion;
  EXPECT_FALSE(decodeParameters(promotion.query()["p"].stringOr())->contains("version"));
}

TEST(NQBaseRequestPost, FormIsPostedToTheConfiguredHostAndPath) {
  newstest::RequestEnvironment env;
  VXRequestConfig::setServerRoot("http://127.0.0.1:4321/");
  VXAppActiveRequest news(1);
  auto request = news.req();
  ASSERT_TRUE(request);
  EXPECT_EQ(request->HTTPMethod(), "POST");
  EXPECT_EQ(request->url(), "http://127.0.0.1:4321/api/imobile/");
  std::string body(request->HTTPBody().begin(), request->HTTPBody().end());
  auto fields = os::split(body, "&");
  ASSERT_EQ(fields.size(), 3u) << body;
  for (const char* prefix : {"c=", "p=", "v=1"})
    EXPECT_EQ(std::count_if(fields.begin(), fields.end(), [&](const std::string& f) { return os::hasPrefix(f, prefix); }), 1)
        << prefix << " in " << body;

  VXAdListRequest ads;
  EXPECT_EQ(ads.req()->url(), "http://127.0.0.1:4321/imkt/mil/");

  VXRequestConfig::setServerHost("not a url");
  os::Error error;
  EXPECT_FALSE(news.req(&error));
  EXPECT_FALSE(error.localizedDescription().empty());
}

}  // namespace
