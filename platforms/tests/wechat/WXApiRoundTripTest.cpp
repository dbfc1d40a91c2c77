// Exchanges with the messenger played as a peer application on the same device, on a newer
// system (general pasteboard) and an older one (the named pasteboards).
#include <gtest/gtest.h>

#include "WeChatPeer.h"
#include "os/graphics/Image.h"
#include "os/graphics/ImageCodec.h"
#include "os/runtime/Clock.h"
#include "platforms/wechat/AppCommunicate.h"

namespace wechat_test {
namespace {

const std::string kAppId = "wx5a1c0ffee";

os::Data smallPNG() { return *os::encodePNG(*os::Image::create(os::Bitmap(4, 4))); }

class WXApiExchangeTest : public ::testing::TestWithParam<const char*> {
 protected:
  ~WXApiExchangeTest() override { os::RunLoop::main()->runUntilIdle(); }
  WXApiExchangeTest() {
    profile_.emplace(os::DeviceProfile{.systemVersion = GetParam()});
    app = os::Application::create(std::make_shared<Reader>(wx), "com.example.newsreader");
    app->registerURLSchemes({kAppId});
    app->makeShared();
    app->launch();
  }
  bool newSystem() const { return WeChatPeer::newSystem(); }

  os::VirtualClockScope clock_{1.7e9};
  os::TestSandbox device_;
  std::optional<os::DeviceProfileScope> profile_;
  std::shared_ptr<Recorder> wx = std::make_shared<Recorder>();
  std::shared_ptr<os::Application> app;
  WeChatPeer peer{device_};
};

// 6.91 is above 6.9 though below 7: records already go to the general pasteboard.
INSTANTIATE_TEST_SUITE_P(Systems, WXApiExchangeTest, ::testing::Values("7.0", "6.91", "6.1.3"));

TEST_P(WXApiExchangeTest, ShareRoundTripThroughThePeer) {
  EXPECT_FALSE(WXApi::registerApp(""));
  ASSERT_TRUE(WXApi::registerApp(kAppId));
  const os::Dictionary entry = peer.registration(kAppId);
  EXPECT_EQ(entry["appID"].stringOr(), kAppId);
  EXPECT_EQ(entry["appIdentifier"].stringOr(), "com.example.newsreader");
  EXPECT_EQ(entry["firstLaunchTime"].stringOr(), "1700000000");
  EXPECT_TRUE(WXApi::isWXAppInstalled());
  EXPECT_TRUE(WXApi::isWXAppSupportApi());

  // The user's clipboard and another application's waiting record must both survive the exchange.
  peer.board("")->setString("user's text");
  if (!newSystem()) {
    auto other =
        binaryPlist(os::Value(os::Dictionary{{"wxother", os::Value(os::Dictionary{{"command", os::Value("2020")}})}}));
    peer.board("wechat_data")->setData(other, "content");
  }

  auto image = WXImageObject::object();
  image->setImageData(smallPNG());
  auto message = WXMediaMessage::message();
  message->setTitle("标题");
  message->setThumbData(smallPNG());
  message->setMediaObject(image);
  auto req = std::make_shared<SendMessageToWXReq>();
  req->setMessage(message);
  req->setScene(WXSceneTimeline);
  ASSERT_TRUE(WXApi::sendReq(req));
  os::RunLoop::main()->runUntilIdle();
  ASSERT_EQ(peer.openedWith(), std::vector<std::string>{"weixin://app/" + kAppId + "/sendreq/?"});

  const os::Dictionary sent = peer.record(kAppId);
  EXPECT_EQ(sent["command"].stringOr(), "1010");
  EXPECT_EQ(sent["result"].stringOr(), "1");
  EXPECT_EQ(sent["returnFromApp"].stringOr(), "0");
  EXPECT_EQ(sent["sdkver"].stringOr(), "1.4.3");
  EXPECT_EQ(sent["scene"].stringOr(), "1");
  EXPECT_EQ(sent["title"].stringOr(), "标题");
  EXPECT_EQ(sent["objectType"].stringOr(), "2");
  EXPECT_FALSE(sent.contains("account"));
  if (newSystem()) {
    EXPECT_EQ(*sent["fileData"].data(), smallPNG());
    EXPECT_FALSE(peer.records().contains("wxother"));
  } else {
    EXPECT_FALSE(sent.contains("fileData"));
    EXPECT_EQ(peer.fileBoard(), smallPNG());
    EXPECT_TRUE(peer.records().contains("wxother"));
  }
  EXPECT_EQ(peer.board("")->string(), "user's text");

  // The share was cancelled: -2 comes back through a record, with the conversation account.
  peer.answer(kAppId, os::Dictionary{{"command", os::Value("2010")},
                                     {"result", os::Value("-2")},
                                     {"returnFromApp", os::Value("1")},
                                     {"account", os::Value("acc-9")},
                                     {"language", os::Value("zh_CN")},
                                     {"country", os::Value("CN")}});
  ASSERT_EQ(wx->responses.size(), 1u);
  EXPECT_EQ(wx->handled, std::vector<bool>{true});
  auto resp = std::dynamic_pointer_cast<SendMessageToWXResp>(wx->responses[0]);
  ASSERT_TRUE(resp);
  EXPECT_EQ(resp->errCode(), -2);
  EXPECT_EQ(resp->lang(), "zh_CN");
  EXPECT_EQ(resp->country(), "CN");
  EXPECT_EQ(peer.board("")->string(), "user's text");
  if (!newSystem()) {
    EXPECT_TRUE(peer.records().contains("wxother"));
  }

  // A second fetch finds nothing.
  peer.open(kAppId + "://platformId=wechat");
  EXPECT_EQ(wx->handled, (std::vector<bool>{true, false}));
  EXPECT_EQ(wx->responses.size(), 1u);

  // The account read goes out with the next request, once.
  auto text = std::make_shared<SendMessageToWXReq>();
  text->setBText(true);
  text->setText("hello");
  ASSERT_TRUE(WXApi::sendReq(text));
  EXPECT_EQ(peer.record(kAppId)["account"].stringOr(), "acc-9");
  EXPECT_EQ(peer.record(kAppId)["command"].stringOr(), "1020");
  ASSERT_TRUE(WXApi::sendReq(text));
  EXPECT_FALSE(peer.record(kAppId).contains("account"));
}

// A launch by the messenger with a long message is handed on whole, not lost with the fetched record.
TEST_P(WXApiExchangeTest, ALaunchWithALongMessageReachesTheDelegate) {
  ASSERT_TRUE(WXApi::registerApp(kAppId));
  peer.answer(kAppId, os::Dictionary{{"command", os::Value("2040")},
                                     {"returnFromApp", os::Value("0")},
                                     {"openID", os::Value("oid")},
                                     {"messageExt", os::Value(std::string(3000, 'e'))},
                                     {"messageAction", os::Value(std::string(3000, 'a'))}});
  EXPECT_EQ(wx->handled, std::vector<bool>{true});
  ASSERT_EQ(wx->requests.size(), 1u);
  auto launch = std::dynamic_pointer_cast<LaunchFromWXReq>(wx->requests[0]);
  ASSERT_TRUE(launch && launch->message());
  EXPECT_EQ(launch->message()->messageExt(), std::string(3000, 'e'));
  EXPECT_EQ(launch->message()->messageAction(), std::string(3000, 'a'));
}

// Every answer record the messenger may leave reaches the delegate once; one whose "result" is
// missing or no number is a failure, never the success a 0 would be.
TEST_P(WXApiExchangeTest, AnswerRecordsWithoutAResultAreNoSuccess) {
  ASSERT_TRUE(WXApi::registerApp(kAppId));
  struct Case {
    const char* command;
    std::optional<os::Value> result;
    int errCode;
  };
  const std::vector<Case> cases = {{"2010", std::nullopt, WXErrCodeCommon},
                                   {"2020", os::Value("abc"), WXErrCodeCommon},
                                   {"2030", os::Value(""), WXErrCodeCommon},
                                   {"2010", os::Value("0abc"), WXErrCodeCommon},
                                   {"2020", os::Value(os::Data{0}), WXErrCodeCommon},
                                   {"2020", os::Value("0"), WXSuccess},
                                   {"2030", os::Value(0), WXSuccess},
                                   {"2010", os::Value("-2"), -2},
                                   {"2030", os::Value("+3"), 3}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.command) + " " + (c.result ? c.result->description() : "none"));
    os::Dictionary record{{"command", os::Value(c.command)}, {"returnFromApp", os::Value("1")}};
    if (c.result) record.set("result", *c.result);
    const std::size_t before = wx->responses.size();
    peer.answer(kAppId, record);
    ASSERT_EQ(wx->responses.size(), before + 1);
    EXPECT_EQ(wx->handled.back(), true);
    EXPECT_EQ(wx->responses.back()->errCode(), c.errCode);
    // Read once: the same URL again finds nothing.
    peer.open(kAppId + "://platformId=wechat");
    EXPECT_EQ(wx->responses.size(), before + 1);
    EXPECT_EQ(wx->handled.back(), false);
  }
}

TEST_P(WXApiExchangeTest, LoginGoesByURLOnNewerSystemsAndByRecordOnOlderOnes) {
  ASSERT_TRUE(WXApi::registerApp(kAppId));
  auto login = std::make_shared<SendAuthReq>();
  login->setScope("snsapi_userinfo");
  login->setState("a b&c");
  ASSERT_TRUE(WXApi::safeSendReq(login));
  os::RunLoop::main()->runUntilIdle();
  if (newSystem()) {
    EXPECT_EQ(peer.openedWith().back(), "weixin://app/" + kAppId + "/auth/?scope=snsapi_userinfo&state=a%20b%26c");
    login->setScope("");
    EXPECT_FALSE(WXApi::safeSendReq(login));
  } else {
    EXPECT_EQ(peer.openedWith().back(), "weixin://app/" + kAppId + "/sendreq/?");
    EXPECT_EQ(peer.record(kAppId)["command"].stringOr(), "1030");
    EXPECT_EQ(peer.record(kAppId)["state"].stringOr(), "a b&c");
  }
  // The answer arrives as a record on either system.
  peer.answer(kAppId, os::Dictionary{{"command", os::Value("2030")}, {"result", os::Value("0")}});
  ASSERT_EQ(wx->responses.size(), 1u);
  EXPECT_TRUE(std::dynamic_pointer_cast<SendAuthResp>(wx->responses[0]));
}

}  // namespace
}  // namespace wechat_test
