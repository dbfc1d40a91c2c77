// Answers that come back as URLs, requests that go out as URLs, hostile records from the peer,
// and the registration entry.
#include <gtest/gtest.h>

#include "WeChatPeer.h"
#include "os/core/Log.h"
#include "os/runtime/Clock.h"
#include "os/store/Sandbox.h"
#include "os/views/Screen.h"
#include "platforms/wechat/MMApiRegister.h"
#include "platforms/wechat/WeChatApiUtil.h"

namespace wechat_test {
namespace {

const std::string kAppId = "wx0badcafe";

class WXApiURLTest : public ::testing::Test {
 protected:
  WXApiURLTest() {
    profile_.emplace(os::DeviceProfile{.systemVersion = "7.0"});
    app = os::Application::create(std::make_shared<Reader>(wx), "com.example.newsreader");
    app->registerURLSchemes({kAppId});
    app->makeShared();
    app->launch();
  }
  ~WXApiURLTest() override { os::RunLoop::main()->runUntilIdle(); }
  bool handle(const std::string& url) { return WXApi::handleOpenURL(*os::URL::parse(url), wx.get()); }

  os::VirtualClockScope clock_{1.7e9};
  os::TestSandbox device_;
  std::optional<os::DeviceProfileScope> profile_;
  std::shared_ptr<Recorder> wx = std::make_shared<Recorder>();
  std::shared_ptr<os::Application> app;
  WeChatPeer peer{device_};
};

TEST_F(WXApiURLTest, AnswersByURL) {
  ASSERT_TRUE(WXApi::registerApp(kAppId));

  ASSERT_TRUE(handle(kAppId + "://oauth?code=authdeny&state=s1"));
  ASSERT_TRUE(handle(kAppId + "://oauth?state=s2"));
  ASSERT_TRUE(handle(kAppId + "://oauth?code=C0DE&state=s3&lang=zh_CN&country=CN"));
  ASSERT_EQ(wx->responses.size(), 3u);
  auto denied = std::dynamic_pointer_cast<SendAuthResp>(wx->responses[0]);
  EXPECT_EQ(denied->errCode(), -4);
  EXPECT_FALSE(denied->code());
  EXPECT_EQ(denied->state(), "s1");
  auto missing = std::dynamic_pointer_cast<SendAuthResp>(wx->responses[1]);
  EXPECT_EQ(missing->errCode(), -1);
  EXPECT_EQ(missing->state(), "s2");
  auto granted = std::dynamic_pointer_cast<SendAuthResp>(wx->responses[2]);
  EXPECT_EQ(granted->errCode(), 0);
  EXPECT_EQ(granted->code(), "C0DE");
  EXPECT_EQ(granted->lang(), "zh_CN");

  EXPECT_FALSE(handle(kAppId + "://pay/"));  // nothing behind the prefix, and no record waiting
  ASSERT_TRUE(handle(kAppId + "://pay/?ret=-2&returnKey=k&notifyStr=n"));
  auto paid = std::dynamic_pointer_cast<PayResp>(wx->responses.back());
  ASSERT_TRUE(paid);
  EXPECT_EQ(paid->errCode(), -2);
  EXPECT_EQ(paid->returnKey(), "k");

  // Without a delegate nothing is read, so the record stays for a later call.
  peer.putRaw(
      binaryPlist(os::Value(os::Dictionary{{kAppId, os::Value(os::Dictionary{{"command", os::Value("1070")}})}})));
  EXPECT_FALSE(WXApi::handleOpenURL(*os::URL::parse(kAppId + "://x"), nullptr));
  EXPECT_FALSE(handle("other://x"));
  const std::size_t before = wx->responses.size();
  EXPECT_TRUE(handle(kAppId + "://x"));  // 1070 is taken without any call
  EXPECT_EQ(wx->responses.size(), before);
  EXPECT_TRUE(wx->requests.empty());

  const os::Dictionary params = WXApi::parseURLParams("a=1&b=2=3&a=4&flag");
  EXPECT_EQ(params["a"].stringOr(), "4");
  EXPECT_EQ(params["b"].stringOr(), "2");
  EXPECT_FALSE(params.contains("flag"));
}

// A login answer whose code is empty grants nothing; a payment answer whose "ret" is missing or
// no number says no result: each reaches the delegate once, as a failure.
TEST_F(WXApiURLTest, URLAnswersThatGrantNothingAreNoSuccess) {
  ASSERT_TRUE(WXApi::registerApp(kAppId));
  ASSERT_TRUE(handle(kAppId + "://oauth?code=&state=s1"));
  ASSERT_EQ(wx->responses.size(), 1u);
  auto login = std::dynamic_pointer_cast<SendAuthResp>(wx->responses[0]);
  ASSERT_TRUE(login);
  EXPECT_EQ(login->errCode(), WXErrCodeCommon);
  EXPECT_FALSE(login->code());
  EXPECT_EQ(login->state(), "s1");

  const std::vector<std::pair<std::string, int>> payments = {
      {"returnKey=k", WXErrCodeCommon}, {"ret=&returnKey=k", WXErrCodeCommon}, {"ret=abc", WXErrCodeCommon},
      {"ret=0abc", WXErrCodeCommon},    {"ret=0", WXSuccess},                  {"ret=-2", -2}};
  for (const auto& [query, errCode] : payments) {
    SCOPED_TRACE(query);
    const std::size_t before = wx->responses.size();
    ASSERT_TRUE(handle(kAppId + "://pay/?" + query));
    ASSERT_EQ(wx->responses.size(), before + 1);
    auto paid = std::dynamic_pointer_cast<PayResp>(wx->responses.back());
    ASSERT_TRUE(paid);
    EXPECT_EQ(paid->errCode(), errCode);
  }
}

TEST_F(WXApiURLTest, RequestsSentAsURLs) {
  ASSERT_TRUE(WXApi::registerApp(kAppId));
  auto payment = std::make_shared<PayReq>();
  payment->setPartnerId("p1");
  payment->setPrepayId("pre&1");
  payment->setPackage("Sign=WX");
  payment->setSign("s");
  payment->setTimeStamp(4000000000u);
  payment->setNonceStr("");
  EXPECT_FALSE(WXApi::safeSendReq(payment));
  payment->setNonceStr("n");
  EXPECT_FALSE(WXApi::sendReq(payment));
  EXPECT_TRUE(WXApi::safeSendReq(payment));

  auto profile = std::make_shared<JumpToBizProfile>();
  profile->setUsername(std::string(1025, 'u'));
  EXPECT_FALSE(WXApi::sendReq(profile));
  profile->setUsername(std::string(1024, 'u'));
  EXPECT_TRUE(WXApi::sendReq(profile));
  profile->setUsername("gh_1&extmsg=forged");
  profile->setExtMsg("a b#c");
  EXPECT_TRUE(WXApi::sendReq(profile));
  auto webview = std::make_shared<JumpToBizWebview>();
  webview->setTousrname("gh_2");
  webview->setWebType(1);
  EXPECT_FALSE(WXApi::sendReq(webview));
  webview->setWebType(0);
  EXPECT_TRUE(WXApi::sendReq(webview));
  os::RunLoop::main()->runUntilIdle();
  // extMsg: 2048 characters go, one more does not, for either request.
  std::string ext;
  for (int i = 0; i < 2049; ++i) ext += "扩";
  auto longProfile = std::make_shared<JumpToBizProfile>();
  longProfile->setUsername("gh_3");
  longProfile->setExtMsg(ext);
  auto longWebview = std::make_shared<JumpToBizWebview>();
  longWebview->setTousrname("gh_4");
  longWebview->setExtMsg(ext);
  EXPECT_FALSE(WXApi::sendReq(longProfile));
  EXPECT_FALSE(WXApi::sendReq(longWebview));
  ext.resize(ext.size() - std::string("扩").size());
  longProfile->setExtMsg(ext);
  longWebview->setExtMsg(ext);
  const std::size_t before = peer.openedWith().size();
  EXPECT_TRUE(WXApi::sendReq(longProfile));
  EXPECT_TRUE(WXApi::sendReq(longWebview));
  os::RunLoop::main()->runUntilIdle();
  EXPECT_EQ(peer.openedWith().size(), before + 2);

  const std::string base = "weixin://app/" + kAppId + "/";
  ASSERT_EQ(peer.openedWith().size(), 6u);
  EXPECT_EQ(peer.openedWith()[0], base +
                                      "pay/?nonceStr=n&package=Sign%3DWX&partnerId=p1&prepayId=pre%261"
                                      "&timeStamp=4000000000&sign=s&signType=SHA1");
  EXPECT_EQ(peer.openedWith()[2], base + "openprofile/?username=gh_1%26extmsg%3Dforged&extmsg=a%20b%23c");
  EXPECT_EQ(peer.openedWith()[3], base + "jumptobizwebview/?webtype=0&tousername=gh_2");
  EXPECT_EQ(WXApi::getApiVersion(), "1.4.3");

  // An answer to the messenger's own request goes back as a returned record.
  auto reply = std::make_shared<GetMessageFromWXResp>();
  reply->setBText(true);
  reply->setText("news");
  reply->setErrCode(-3);
  ASSERT_TRUE(WXApi::sendResp(reply));
  os::RunLoop::main()->runUntilIdle();
  EXPECT_EQ(peer.openedWith().back(), base + "sendresp/?");
  const os::Dictionary record = peer.record(kAppId);
  EXPECT_EQ(record["returnFromApp"].stringOr(), "1");
  EXPECT_EQ(record["result"].stringOr(), "-3");
  EXPECT_EQ(record["title"].stringOr(), "news");
}

TEST_F(WXApiURLTest, HostileRecordsAreSkippedWithALog) {
  ASSERT_TRUE(WXApi::registerApp(kAppId));
  std::vector<std::string> lines;
  auto previous = os::setLogSink([&](std::string_view line) { lines.emplace_back(line); });

  // Wrong types: the entry is no dictionary, then a record whose values are all foreign.
  peer.answer(kAppId, os::Dictionary{});
  peer.putRaw(binaryPlist(os::Value(os::Dictionary{{kAppId, os::Value("not a record")}})));
  EXPECT_FALSE(handle(kAppId + "://x"));
  peer.putRaw(binaryPlist(
      os::Value(os::Dictionary{{kAppId, os::Value(os::Dictionary{{"command", os::Value("2010")},
                                                                 {"result", os::Value(os::Array{})},
                                                                 {"language", os::Value(os::Data{1})}})}})));
  EXPECT_TRUE(handle(kAppId + "://x"));
  auto resp = std::dynamic_pointer_cast<SendMessageToWXResp>(wx->responses.back());
  EXPECT_EQ(resp->errCode(), WXErrCodeCommon);  // a result that is no number is no success
  EXPECT_FALSE(resp->lang());

  // A binary property list whose only object claims 100 MB of data.
  os::Data claim = {'b', 'p', 'l', 'i', 's', 't', '0', '0', 0x4F, 0x12, 0x05, 0xF5, 0xE1, 0x00};
  const std::size_t offsetTable = claim.size();
  claim.push_back(8);
  os::Data trailer(32, 0);
  trailer[6] = 1;   // offset size
  trailer[7] = 1;   // object reference size
  trailer[15] = 1;  // one object
  trailer[31] = static_cast<std::uint8_t>(offsetTable);
  claim.insert(claim.end(), trailer.begin(), trailer.end());
  peer.putRaw(claim);
  EXPECT_FALSE(handle(kAppId + "://x"));

  // Nested 100000 deep (arrays of one array), as XML.
  std::string deep = "<?xml version=\"1.0\"?><plist version=\"1.0\">";
  for (int i = 0; i < 100000; ++i) deep += "<array>";
  for (int i = 0; i < 100000; ++i) deep += "</array>";
  deep += "</plist>";
  peer.putRaw(os::dataFromString(deep));
  EXPECT_FALSE(handle(kAppId + "://x"));
  os::setLogSink(previous);

  EXPECT_EQ(wx->responses.size(), 1u);
  EXPECT_TRUE(wx->requests.empty());
  EXPECT_GE(lines.size(), 4u);
  for (const auto& line : lines) EXPECT_EQ(line.rfind("WXApi: ", 0), 0u) << line;
}

TEST_F(WXApiURLTest, RegistrationEntry) {
  device_.setInfoDictionary(
      os::Dictionary{{"CFBundleIdentifier", os::Value("com.example.newsreader")},
                     {"CFBundleName", os::Value("Reader")},
                     {"CFBundleDisplayName", os::Value("")},
                     {"CFBundleIconFiles", os::Value(os::Array{os::Value("a.png"), os::Value("b.png")})}});
  device_.writeBundleFile("b.png", "icon-bytes");
  ASSERT_EQ(os::Screen::main().scale(), 2.0);
  EXPECT_EQ(MMApiRegister::getIconString(), device_.sandbox()->bundlePath() + "/b.png");

  ASSERT_TRUE(WXApi::registerApp(kAppId, std::string(1025, 'd')));
  os::Clock::advance(60);
  ASSERT_TRUE(WXApi::registerApp(kAppId, ""));
  ASSERT_TRUE(WXApi::registerApp("wxsecond", "news"));
  const os::Dictionary entry = peer.registration(kAppId);
  EXPECT_EQ(entry["firstLaunchTime"].stringOr(), "1700000000");
  EXPECT_EQ(entry["laststLaunchTime"].stringOr(), "1700000060");
  EXPECT_EQ(entry["appName"].stringOr(), "Reader");
  EXPECT_EQ(*entry["appIcon"].data(), os::dataFromString("icon-bytes"));
  EXPECT_FALSE(entry.contains("appDescriptionSDK"));
  EXPECT_EQ(peer.registration("wxsecond")["appDescriptionSDK"].stringOr(), "news");

  EXPECT_EQ(WeChatApiUtil::getSDKVersion(), "1.0");
  os::Pasteboard::pasteboardWithName("wechat_sdk_infomation", true)
      ->setData(binaryPlist(os::Value(os::Dictionary{{"version", os::Value("1.5")}})), "content");
  EXPECT_EQ(WeChatApiUtil::getSDKVersion(), "1.5");
}

}  // namespace
}  // namespace wechat_test
