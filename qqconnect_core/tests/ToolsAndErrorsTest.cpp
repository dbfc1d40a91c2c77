// Application ids, the SDK tools, the error table and the URL utilities of the QQ Connect core.
#include <gtest/gtest.h>

#include "qqconnect_core/login/APIResponse.h"
#include "qqconnect_core/login/TCOpenSDKErrorUtil.h"
#include "qqconnect_core/login/TXAppidConvert.h"
#include "qqconnect_core/login/TcApiTool.h"
#include "qqconnect_core/requests/APIBase.h"
#include "qqconnect_core/requests/URLTools.h"
#include "qqconnect_core/json/TCOSDKSJSON.h"
#include "os/net/URLError.h"
#include "os/testing/TestSandbox.h"

namespace {

std::optional<std::pair<std::string, std::string>> convert(const std::string& id) {
  TXAppidConvert c;
  if (!c.InitWithAppId(id)) return std::nullopt;
  return std::make_pair(*c.GetConnectionAppId(), *c.GetMQQAppId());
}

TEST(TXAppidConvert, ConvertsBothFormsAndRefusesTheRest) {
  using P = std::pair<std::string, std::string>;
  EXPECT_EQ(convert("100393032"), P("100393032", "QQ25397024"));
  EXPECT_EQ(convert("QQ25397024"), P("100393032", "QQ25397024"));
  EXPECT_EQ(convert("QQ8990ac34"), P("100393033", "QQ8990AC34"));
  EXPECT_EQ(convert("1"), P("1", "QQ00000001"));
  EXPECT_EQ(convert("QQ0000000A"), P("10", "QQ0000000A"));
  EXPECT_EQ(convert("4294967295"), P("4294967295", "QQFFFFFFFF"));
  for (const char* bad : {"", "12345678901", "4294967296", "qq25397024", "QQ2539702", "QQ2539702G", "12a"}) {
    EXPECT_FALSE(convert(bad)) << bad;
  }
  // Each converter keeps its own answer.
  TXAppidConvert a, b;
  ASSERT_TRUE(a.InitWithAppId("100393032"));
  ASSERT_TRUE(b.InitWithAppId("1"));
  EXPECT_EQ(a.GetMQQAppId(), "QQ25397024");
  EXPECT_FALSE(b.InitWithAppId("x"));
  EXPECT_FALSE(b.GetConnectionAppId());
  EXPECT_EQ(a.GetConnectionAppId(), "100393032");
}

TEST(TcApiTool, QueryBuildingAndSchemes) {
  EXPECT_EQ(TcApiTool::GetURLWithParam("http://h/p?x=1", os::Dictionary{{"a", "b c"}, {"m", "u@x'y/z&"}}),
            "http://h/p?x=1?a=b%20c&m=u@x'y%2Fz%26");
  EXPECT_EQ(TcApiTool::GetURLWithParam("http://h/p", {}), "http://h/p");
  EXPECT_FALSE(TcApiTool::GetURLWithParam(std::nullopt, {}));

  os::TestSandbox sandbox;
  sandbox.setInfoDictionary(os::Dictionary{
      {"CFBundleURLTypes", os::Array{os::Value("junk"), os::Dictionary{{"CFBundleURLSchemes", os::Array{"velmora100393032"}}}}}});
  EXPECT_TRUE(TcApiTool::isRegistSchemeInfoPlistFile("velmora100393032"));
  EXPECT_FALSE(TcApiTool::isRegistSchemeInfoPlistFile("velmora1"));
  EXPECT_FALSE(TcApiTool::isRegistSchemeInfoPlistFile(std::nullopt));

  const os::Dictionary info = TcApiTool::SDKInfo();
  EXPECT_EQ(info["sdkv"], os::Value("2.3"));
  EXPECT_EQ(info["sdkp"], os::Value("i"));
  EXPECT_EQ(info.size(), 5u);
}

TEST(TcApiTool, TextFunctions) {
  for (int i = 0; i < 50; ++i) {
    const std::string s = TcApiTool::random16Str();
    EXPECT_TRUE(s.size() >= 2 && s.size() <= 16 && s.size() % 2 == 0) << s;
    EXPECT_EQ(s.find_first_not_of("0123456789abcdef"), std::string::npos);
  }
  const unsigned long first = std::stoul(TcApiTool::seq());
  EXPECT_EQ(std::stoul(TcApiTool::seq()), first + 1);

  const auto coded = TcApiTool::encryAccessToken("ABC123token", "k3y");
  ASSERT_TRUE(coded);
  EXPECT_EQ(coded->substr(0, 2), "2a");  // 'A' ^ 'k'
  EXPECT_EQ(TcApiTool::decodeAccessToken(*coded, "k3y"), "ABC123token");
  EXPECT_FALSE(TcApiTool::decodeAccessToken("2a7", "k3y"));
  EXPECT_FALSE(TcApiTool::decodeAccessToken("2azz", "k3y"));  // not the coder's output
  EXPECT_FALSE(TcApiTool::encryAccessToken("x", ""));
  EXPECT_EQ(TcApiTool::NSString16toNSNumber("fF"), 255);
  EXPECT_FALSE(TcApiTool::NSString16toNSNumber("f"));
}

TEST(TCOpenSDKErrorUtil, CodesMessagesAndMappings) {
  EXPECT_EQ(TCOpenSDKErrorUtil::openSDKErrorWithCode(-1), (os::Dictionary{{"ret", 1}, {"msg", "未知错误"}}));
  EXPECT_EQ(TCOpenSDKErrorUtil::openSDKErrorWithCode(14)["ret"].intValue(), 1);
  EXPECT_EQ(TCOpenSDKErrorUtil::openSDKErrorMsgForErrorCode(0x10000), TCOpenSDKErrorMsgUserHeadPicLarge);
  EXPECT_EQ(TCOpenSDKErrorUtil::openSDKErrorMsgForErrorCode(-2), "不支持的接口");

  for (auto [server, sdk] : std::vector<std::pair<long, int>>{{0, 0}, {100014, 3}, {100027, 3}, {100030, 3}, {100031, 4},
                                                               {100032, 8}, {99999, 8}, {100028, 8}}) {
    APIResponse r;
    r.setJsonResponse(os::Dictionary{{"ret", server}});
    TCOpenSDKErrorUtil::apiResponseConvert(r);
    EXPECT_EQ(r.detailRetCode(), sdk) << server;
  }
  APIResponse ok;
  ok.setJsonResponse(os::Dictionary{{"ret", 0}});
  TCOpenSDKErrorUtil::apiResponseConvert(ok);
  EXPECT_EQ(ok.errorMsg(), "操作成功");

  EXPECT_EQ(TCOpenSDKErrorUtil::filterURLErrorCode(-1009), 5);
  EXPECT_EQ(TCOpenSDKErrorUtil::filterURLErrorCode(-1001), 9);
  EXPECT_EQ(TCOpenSDKErrorUtil::filterURLErrorCode(-999), 1);
  EXPECT_EQ(TCOpenSDKErrorUtil::filterURLErrorCode(-1102), 11);
  EXPECT_EQ(TCOpenSDKErrorUtil::filterURLErrorCode(-1206), 10);
  EXPECT_EQ(TCOpenSDKErrorUtil::openSDKErrorFromOSError(os::Error("Other", -1009))["ret"].intValue(), 1);
  EXPECT_FALSE(TCOpenSDKErrorUtil::apiResponse(os::Value("x")));
  EXPECT_EQ(TCOpenSDKErrorUtil::apiResponse(os::Dictionary{{"ret", "3"}})->detailRetCode(), 1);
}

TEST(APIResponse, ArchiveRoundTripLeavesUserDataOut) {
  auto r = std::make_shared<APIResponse>();
  r->setDetailRetCode(3);
  r->setRetCode(1);
  r->setSeq(1005);
  r->setErrorMsg("请重新登录");
  r->setJsonResponse(os::Dictionary{{"ret", 100030}});
  r->setMessage("{\"ret\":100030}");
  r->setUserData("mine");
  auto data = os::KeyedArchiver::archivedData(r);
  ASSERT_TRUE(data);
  os::ArchiveClassRegistry registry;
  APIResponse::registerArchiveClass(registry);
  auto item = os::KeyedUnarchiver::unarchiveObject(*data, registry);
  ASSERT_TRUE(item);
  auto back = item->objectAs<APIResponse>();
  ASSERT_TRUE(back);
  EXPECT_EQ(back->detailRetCode(), 3);
  EXPECT_EQ(back->retCode(), 1);
  EXPECT_EQ(back->seq(), 1005);
  EXPECT_EQ(back->errorMsg(), r->errorMsg());
  EXPECT_EQ(back->jsonResponse(), r->jsonResponse());
  EXPECT_EQ(back->message(), r->message());
  EXPECT_TRUE(back->userData().isNull());
  // Without the class on the allow-list nothing is made.
  EXPECT_FALSE(os::KeyedUnarchiver::unarchiveObject(*data));
}

TEST(URLExtend, ParsesEscapesAndNamesAPIs) {
  const os::Dictionary d = URLExtend::dictionaryByParseUrlFromSeparator("velmora1://x#a=1&b=%20&c&=2&d=1=2&e=%zz", "#");
  EXPECT_EQ(d, (os::Dictionary{{"a", "1"}, {"b", " "}}));
  EXPECT_TRUE(URLExtend::dictionaryByParseUrlFromSeparator("no separator", "#").empty());
  EXPECT_EQ(URLExtend::stringByEncodeUrl("a b@c"), "a%20b%40c");
  EXPECT_EQ(URLExtend::stringByEncodeUrl("a%20b%40c"), "a%20b%40c");
  EXPECT_EQ(URLExtend::trim(" \n x \t"), "x");

  EXPECT_EQ(APIBase::parsePermissionFromURL("https://graph.qq.com/user/get_user_info/ \n"), "get_user_info");
  EXPECT_FALSE(APIBase::parsePermissionFromURL("/"));
  EXPECT_FALSE(APIBase::parsePermissionFromURL("noslash"));
}

}  // namespace

// Constants and edges read off the QQ Connect protocol, each pinned at its boundary.
TEST(QQConnectPins, ServerAndURLCodesAndTheTraceCodecAtTheirEdges) {
  // Server 100023 is one of the "log in again" codes; 100022 is not.
  for (auto [server, sdk] : std::vector<std::pair<long, int>>{{100022, 8}, {100023, 3}, {100026, 3}, {100029, 8}}) {
    APIResponse r;
    r.setJsonResponse(os::Dictionary{{"ret", server}});
    TCOpenSDKErrorUtil::apiResponseConvert(r);
    EXPECT_EQ(r.detailRetCode(), sdk) << server;
  }
  // Data roaming switched off (-1018) is a network failure like no connection; -1017 is not.
  EXPECT_EQ(TCOpenSDKErrorUtil::filterURLErrorCode(-1018), 5);
  EXPECT_EQ(TCOpenSDKErrorUtil::filterURLErrorCode(-1019), 5);
  EXPECT_EQ(TCOpenSDKErrorUtil::filterURLErrorCode(-1017), 7);
  EXPECT_EQ(TCOpenSDKErrorUtil::openSDKErrorFromOSError(os::Error(os::kURLErrorDomain, -1018))["ret"].intValue(), 5);

  // The writer escapes every unit below 0x20 as \u00xx, 0x1F included; 0x20 and the solidus stay.
  TCOSDKSJSONWriter writer;
  EXPECT_EQ(writer.stringWithFragment(os::Value(std::string("a\x1f" "b \x01/"))), "\"a\\u001fb \\u0001/\"");

  // The last high surrogate pairs like any other: \uDBFF\uDC00 is U+10FC00, \uDBFF\uDFFF U+10FFFF.
  TCOSDKSJSONParser parser;
  EXPECT_EQ(parser.fragmentWithString("\"\\uDBFF\\uDC00\""), os::Value("\xf4\x8f\xb0\x80"));
  EXPECT_EQ(parser.fragmentWithString("\"\\udbff\\udfff\""), os::Value("\xf4\x8f\xbf\xbf"));
  EXPECT_FALSE(parser.fragmentWithString("\"\\uDBFF\\uE000\""));

  // Integers of 19 digits above 2^63 - 1 are refused or kept exactly, never wrapped negative.
  for (const char* text : {"9223372036854775808", "9999999999999999999"}) {
    auto n = parser.fragmentWithString(text);
    if (!n) continue;
    ASSERT_TRUE(n->isNumber()) << text;
    EXPECT_EQ(n->description(), text) << "kept, exactly";
    EXPECT_GT(n->doubleValue(), 0) << text;
  }
  EXPECT_EQ(parser.fragmentWithString("9223372036854775807")->intValue(), 9223372036854775807LL);
}
