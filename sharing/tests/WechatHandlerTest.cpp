#include <gtest/gtest.h>

#include "os/console/ScreenDump.h"
#include "os/console/TouchDriver.h"
#include "os/graphics/Image.h"
#include "os/graphics/ImageCodec.h"
#include "os/testing/ScreenHelpers.h"
#include "os/testing/TestPeerApplication.h"
#include "os/views/Application.h"
#include "os/views/Device.h"
#include "os/views/SocialComposeViewController.h"
#include "os/views/Window.h"
#include "platforms/wechat/WXMediaMessage.h"
#include "platforms/tests/wechat/WeChatPeer.h"
#include "sharing/handlers/OBSocialSnsHandler.h"
#include "sharing/handlers/OBSocialQQHandler.h"
#include "sharing/handlers/OBSocialWechatHandler.h"
#include "sharing/screens/OBSocialIconActionSheet.h"
#include "sharing/screens/OBSocialControllerService.h"
#include "sharing/service/OBSocialData.h"
#include "sharing/service/OBSocialDataService.h"
#include "sharing/service/OBSocialExtConfig.h"
#include "sharing/service/OBSocialOpAnalytics.h"
#include "sharing/service/OBSocialResponseEntity.h"
#include "sharing/service/OBSocialSnsPlatform.h"
#include "sharing/service/OBSocialSnsPlatformManager.h"
#include "sharing/service/OBSocialSnsPlatformNames.h"
#include "sharing/service/OBSocialSnsService.h"
#include "sharing/service/OBSocialUIDelegate.h"
#include "sharing/tests/ServiceFixture.h"

namespace {

const std::string kAppId = "wx5a1c0ffee";

class WechatHandlerTest : public ServiceFixture {
 protected:
  void SetUp() override {
    ServiceFixture::SetUp();
    sandbox_.setInfoDictionary(os::Dictionary{
        {"CFBundleIdentifier", "com.example.newsreader"},
        {"CFBundleURLTypes", os::Array{os::Dictionary{{"CFBundleURLSchemes", os::Array{kAppId}}}}}});
    app_->registerURLSchemes({kAppId});
    app_->makeShared();
    app_->launch();
    service_->setSocialUIDelegate(outcomes_);
    service_->socialData()->setShareText("一条新闻");
  }
  int shares() const {
    auto all = server_.requests();
    return static_cast<int>(std::count_if(all.begin(), all.end(), [](const auto& r) { return r.action == 5; }));
  }
  void pick(const std::string& name) {
    OBSocialSnsPlatformManager::getSocialPlatformWithName(name)->snsClickHandler(nullptr, service_, true);
    os::RunLoop::main()->runUntilIdle();
  }

  // Records and their payload travel on the general pasteboard from system 7 on.
  os::DeviceProfileScope system_{[] {
    os::DeviceProfile seven;
    seven.systemVersion = "7.0.4";
    return seven;
  }()};
  std::shared_ptr<os::Application> app_ = os::Application::create(std::make_shared<Reader>(), "com.example.newsreader");
  std::shared_ptr<OBSocialControllerService> service_ = OBSocialControllerService::defaultControllerService();
  std::shared_ptr<Outcomes> outcomes_ = std::make_shared<Outcomes>();
};

TEST_F(WechatHandlerTest, WithoutTheMessengerTheShareFailsAtOnce) {
  OBSocialWechatHandler::setWXAppId(kAppId, "secret", std::nullopt);
  pick("wxsession");
  EXPECT_EQ(outcomes_->codes, std::vector<int>{5050});
  EXPECT_FALSE(OBSocialSnsHandler::shareInstance()->currentSnsHandler());
}

TEST_F(WechatHandlerTest, ShareGoesToTheMessengerAndItsAnswerComesBack) {
  wechat_test::WeChatPeer peer(sandbox_);
  OBSocialWechatHandler::setWXAppId(kAppId, "secret", std::string("http://n/1"));
  pick("wxtimeline");
  ASSERT_EQ(peer.openedWith().size(), 1u);
  auto sent = peer.record(kAppId);
  EXPECT_EQ(sent["scene"].stringOr(), "1");
  EXPECT_EQ(sent["title"].stringOr(), "一条新闻");

  peer.answer(kAppId, os::Dictionary{{"command", os::Value("2010")}, {"result", os::Value("0")},
                                     {"returnFromApp", os::Value("1")}});
  ASSERT_TRUE(settle([&] { return shares() == 1; }));
  EXPECT_EQ(outcomes_->codes, std::vector<int>{200});
  // One answer per wait: a second one is not taken.
  pick("wxsession");
  peer.answer(kAppId, os::Dictionary{{"command", os::Value("2010")}, {"result", os::Value("-2")},
                                     {"returnFromApp", os::Value("1")}});
  EXPECT_EQ(outcomes_->codes, (std::vector<int>{200, 5052}));
  EXPECT_FALSE(OBSocialSnsService::handleOpenURL(*os::URL::parse(kAppId + "://platformId=wechat")));
}

// The messenger's answer goes to the caller whose share it is, though the facade has served
// another caller on the same screens while the messenger was up.
TEST_F(WechatHandlerTest, TheMessengersAnswerReachesTheCallerThatShared) {
  wechat_test::WeChatPeer peer(sandbox_);
  OBSocialWechatHandler::setWXAppId(kAppId, "secret", std::string("http://n/1"));
  pick("wxsession");
  ASSERT_EQ(peer.openedWith().size(), 1u);
  auto screen = std::make_shared<os::ViewController>();
  auto window = os::testing::showKeyWindow(screen);
  auto later = std::make_shared<Outcomes>();
  OBSocialSnsService::presentSnsIconSheetView(screen, std::nullopt, "另一条", nullptr, std::vector<std::string>{"sina"}, later);
  peer.answer(kAppId, os::Dictionary{{"command", os::Value("2010")}, {"result", os::Value("0")},
                                     {"returnFromApp", os::Value("1")}});
  ASSERT_TRUE(settle([&] { return shares() == 1; }));
  EXPECT_EQ(outcomes_->codes, std::vector<int>{200});
  EXPECT_TRUE(later->codes.empty());
  os::testing::hideKeyWindow(window);
}

// A share still waiting for the messenger when a second share goes through the compose screen:
// each caller hears its own share's answer, once, whichever comes first.
TEST_F(WechatHandlerTest, ALateMessengerAnswerReachesItsOwnShareOnly) {
  wechat_test::WeChatPeer peer(sandbox_);
  OBSocialWechatHandler::setWXAppId(kAppId, "secret", std::string("http://n/1"));
  auto screen = std::make_shared<os::ViewController>();
  auto window = os::testing::showKeyWindow(screen);
  auto profile = os::Device::current().profile();
  profile.socialAccounts = {"com.apple.social.facebook"};
  os::DeviceProfileScope withAccount(profile);
  std::vector<std::string> first, second;
  auto into = [](std::vector<std::string>& heard) {
    return [&heard](const std::shared_ptr<OBSocialResponseEntity>& r) {
      heard.push_back(std::to_string(r->responseCode) + " " +
                      (r->data && !r->data->empty() ? r->data->entries().front().first : std::string()));
    };
  };
  auto data = OBSocialDataService::defaultDataService();
  data->postSNSWithTypes({"wxsession"}, std::string("微信"), nullptr, std::nullopt, nullptr, screen, into(first));
  os::RunLoop::main()->runUntilIdle();
  ASSERT_EQ(peer.openedWith().size(), 1u);
  data->postSNSWithTypes({"facebook"}, std::string("脸书"), nullptr, std::nullopt, nullptr, screen, into(second));
  os::TouchDriver::settle();
  auto composer = std::dynamic_pointer_cast<os::SocialComposeViewController>(screen->presentedViewController());
  ASSERT_TRUE(composer);

  peer.answer(kAppId, os::Dictionary{{"command", os::Value("2010")}, {"result", os::Value("0")},
                                     {"returnFromApp", os::Value("1")}});
  ASSERT_TRUE(settle([&] { return !first.empty(); }));
  EXPECT_TRUE(second.empty());
  composer->send();
  ASSERT_TRUE(settle([&] { return !second.empty(); }));
  os::TouchDriver::advance(1);
  EXPECT_EQ(first, std::vector<std::string>{"200 wxsession"});
  EXPECT_EQ(second, std::vector<std::string>{"200 facebook"});
  os::testing::hideKeyWindow(window);
}

// Three callers share through the messenger, each from a controller service of its own, before it
// answers: the messenger holds only the newest share, so each one it let go is answered at once,
// and every caller hears of its own share, once.
TEST_F(WechatHandlerTest, EachOfSeveralSharesInFlightIsAnsweredToItsOwnCaller) {
  wechat_test::WeChatPeer peer(sandbox_);
  OBSocialWechatHandler::setWXAppId(kAppId, "secret", std::string("http://n/1"));
  const auto callers = shareFromOwnServices("wxsession", 3);
  ASSERT_EQ(peer.openedWith().size(), 3u);
  EXPECT_EQ(callers[0]->codes, std::vector<int>{5052});
  EXPECT_EQ(callers[1]->codes, std::vector<int>{5052});
  EXPECT_TRUE(callers[2]->codes.empty());

  peer.answer(kAppId, os::Dictionary{{"command", os::Value("2010")}, {"result", os::Value("0")},
                                     {"returnFromApp", os::Value("1")}});
  ASSERT_TRUE(settle([&] { return shares() == 1; }));
  EXPECT_EQ(callers[0]->codes, std::vector<int>{5052});
  EXPECT_EQ(callers[1]->codes, std::vector<int>{5052});
  EXPECT_EQ(callers[2]->codes, std::vector<int>{200});
}

// A's share waits for the messenger when B's cannot be sent (a text message with no text): the
// messenger still holds A's, so A is not told it was replaced and hears the messenger's answer.
TEST_F(WechatHandlerTest, AShareThatCannotBeSentLeavesTheWaitingShareToItsOwnAnswer) {
  wechat_test::WeChatPeer peer(sandbox_);
  OBSocialWechatHandler::setWXAppId(kAppId, "secret", std::string("http://n/1"));
  const auto a = shareFromOwnServices("wxsession", 1).front();
  ASSERT_EQ(peer.openedWith().size(), 1u);

  auto b = std::make_shared<Outcomes>();
  auto other = std::make_shared<OBSocialControllerService>(std::make_shared<OBSocialData>("callerB"));
  other->setShareText(std::string(), nullptr, b);
  other->socialData()->extConfig()->wechatSessionData->wxMessageType = OBSocialWXMessageTypeText;
  OBSocialSnsPlatformManager::getSocialPlatformWithName("wxsession")->snsClickHandler(nullptr, other, true);
  os::RunLoop::main()->runUntilIdle();
  EXPECT_EQ(peer.openedWith().size(), 1u);
  EXPECT_EQ(b->codes, std::vector<int>{5050});
  EXPECT_TRUE(a->codes.empty());

  peer.answer(kAppId, os::Dictionary{{"command", os::Value("2010")}, {"result", os::Value("0")},
                                     {"returnFromApp", os::Value("1")}});
  ASSERT_TRUE(settle([&] { return shares() == 1; }));
  EXPECT_EQ(a->codes, std::vector<int>{200});
  EXPECT_EQ(b->codes, std::vector<int>{5050});
  // The record of the share that went carries A's text.
  auto sent = server_.requests();
  auto record = std::find_if(sent.begin(), sent.end(), [](const auto& r) { return r.action == 5; });
  ASSERT_NE(record, sent.end());
  EXPECT_EQ(record->parameters["ct"].stringOr(), "新闻0");
}

// A login through the messenger while A's share waits for it: the login is answered, and so is
// the share, each with its own answer, whichever the messenger gives first.
TEST_F(WechatHandlerTest, ALoginWhileAShareWaitsLeavesTheShareItsOwnAnswer) {
  wechat_test::WeChatPeer peer(sandbox_);
  OBSocialWechatHandler::setWXAppId(kAppId, "secret", std::string("http://n/1"));
  std::vector<int> logins;
  auto login = [&] {
    OBSocialSnsPlatformManager::getSocialPlatformWithName("wxsession")
        ->loginClickHandler(nullptr, service_, true,
                            [&logins](const std::shared_ptr<OBSocialResponseEntity>& r) { logins.push_back(r->responseCode); });
    os::RunLoop::main()->runUntilIdle();
  };
  const auto shareAnswer = os::Dictionary{{"command", os::Value("2010")}, {"result", os::Value("0")},
                                          {"returnFromApp", os::Value("1")}};

  // The login answered first.
  auto a = shareFromOwnServices("wxsession", 1).front();
  login();
  EXPECT_TRUE(a->codes.empty());
  peer.open(kAppId + "://oauth?code=0a1b2c&state=s");
  EXPECT_EQ(logins, std::vector<int>{200});
  EXPECT_TRUE(a->codes.empty());
  peer.answer(kAppId, shareAnswer);
  ASSERT_TRUE(settle([&] { return shares() == 1; }));
  EXPECT_EQ(a->codes, std::vector<int>{200});

  // The share answered first.
  a = shareFromOwnServices("wxsession", 1).front();
  login();
  peer.answer(kAppId, shareAnswer);
  ASSERT_TRUE(settle([&] { return shares() == 2; }));
  EXPECT_EQ(a->codes, std::vector<int>{200});
  peer.open(kAppId + "://oauth?code=3d4e5f&state=s");
  EXPECT_EQ(logins, (std::vector<int>{200, 200}));
  // Nothing is owed an answer now.
  EXPECT_FALSE(OBSocialSnsHandler::shareInstance()->currentSnsHandler());
}

// While A's share waits for the messenger, another application opens the reader with a URL of
// its own (a late sign-in answer nobody waits for): the messenger's answer still reaches A.
TEST_F(WechatHandlerTest, AnotherApplicationsURLLeavesTheWaitingShareItsAnswer) {
  wechat_test::WeChatPeer peer(sandbox_);
  const std::string weiboScheme = "sina.com.example.newsreader";
  app_->registerURLSchemes({weiboScheme});
  auto weibo = sandbox_.launchPeerApplication("com.example.weibo", {"sinaweibosso"});
  OBSocialWechatHandler::setWXAppId(kAppId, "secret", std::string("http://n/1"));
  const auto a = shareFromOwnServices("wxsession", 1).front();
  ASSERT_EQ(peer.openedWith().size(), 1u);
  weibo->openURL(weiboScheme + "://sso?access_token=2.00late&uid=1");
  os::RunLoop::main()->runUntilIdle();
  EXPECT_TRUE(a->codes.empty());

  peer.answer(kAppId, os::Dictionary{{"command", os::Value("2010")}, {"result", os::Value("0")},
                                     {"returnFromApp", os::Value("1")}});
  EXPECT_EQ(a->codes, std::vector<int>{200});
  EXPECT_FALSE(OBSocialSnsHandler::shareInstance()->currentSnsHandler());
}

// While A's share and a login wait, the messenger opens the reader with records that answer
// neither: a request of its own and a record of a kind the reader doesn't know. Both still
// hear the messenger's answers, once each.
TEST_F(WechatHandlerTest, MessengerRecordsThatAnswerNothingLeaveTheSharesAndLoginsWait) {
  wechat_test::WeChatPeer peer(sandbox_);
  OBSocialWechatHandler::setWXAppId(kAppId, "secret", std::string("http://n/1"));
  const auto a = shareFromOwnServices("wxsession", 1).front();
  std::vector<int> logins;
  OBSocialSnsPlatformManager::getSocialPlatformWithName("wxsession")
      ->loginClickHandler(nullptr, service_, true,
                          [&logins](const std::shared_ptr<OBSocialResponseEntity>& r) {
                            logins.push_back(r->responseCode);
                          });
  os::RunLoop::main()->runUntilIdle();

  peer.answer(kAppId, os::Dictionary{{"command", os::Value("2000")}, {"returnFromApp", os::Value("0")}});
  peer.answer(kAppId, os::Dictionary{{"command", os::Value("9999")}, {"result", os::Value("0")},
                                     {"returnFromApp", os::Value("1")}});
  EXPECT_TRUE(a->codes.empty());
  EXPECT_TRUE(logins.empty());
  peer.answer(kAppId, os::Dictionary{{"command", os::Value("2010")}, {"result", os::Value("0")},
                                     {"returnFromApp", os::Value("1")}});
  EXPECT_EQ(a->codes, std::vector<int>{200});
  peer.answer(kAppId, os::Dictionary{{"command", os::Value("9999")}, {"returnFromApp", os::Value("1")}});
  peer.open(kAppId + "://oauth?code=0a1b2c&state=s");
  EXPECT_EQ(logins, std::vector<int>{200});
  EXPECT_EQ(a->codes, std::vector<int>{200});
  EXPECT_FALSE(OBSocialSnsHandler::shareInstance()->currentSnsHandler());
}

// The reader asks for a login through the messenger, comes back without answering and asks
// again: the messenger answers the newest only, so the first login's caller hears at once that
// it ended, and the messenger's answer reaches the second, once.
TEST_F(WechatHandlerTest, ASecondLoginBeforeTheMessengersAnswerEndsTheFirstForItsCallerOnly) {
  wechat_test::WeChatPeer peer(sandbox_);
  OBSocialWechatHandler::setWXAppId(kAppId, "secret", std::nullopt);
  std::vector<std::shared_ptr<OBSocialResponseEntity>> first, second;
  auto login = [&](const char* platform, std::vector<std::shared_ptr<OBSocialResponseEntity>>& results) {
    OBSocialSnsPlatformManager::getSocialPlatformWithName(platform)->loginClickHandler(
        nullptr, service_, true,
        [&results](const std::shared_ptr<OBSocialResponseEntity>& r) { results.push_back(r); });
    os::RunLoop::main()->runUntilIdle();
  };
  login("wxtimeline", first);
  login("wxsession", second);
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(first[0]->responseCode, 5052);
  ASSERT_TRUE(first[0]->data);
  EXPECT_TRUE(first[0]->data->contains("wxtimeline"));
  EXPECT_TRUE(second.empty());

  peer.open(kAppId + "://oauth?code=0a1b2c&state=s");
  EXPECT_EQ(first.size(), 1u);
  ASSERT_EQ(second.size(), 1u);
  EXPECT_EQ(second[0]->responseCode, 200);
  EXPECT_EQ((*second[0]->data)["wxsession"]["code"].stringOr(), "0a1b2c");
  // A second answer finds nobody waiting.
  peer.open(kAppId + "://oauth?code=3d4e5f&state=s");
  EXPECT_EQ(first.size(), 1u);
  EXPECT_EQ(second.size(), 1u);
  EXPECT_FALSE(OBSocialSnsHandler::shareInstance()->currentSnsHandler());
}

// What goes to the messenger is what the share data asks for: text, a picture, the application's
// own content, the caller's media object, or by default the link as a web page.
TEST_F(WechatHandlerTest, ShareSendsTheKindOfMessageTheDataAsks) {
  wechat_test::WeChatPeer peer(sandbox_);
  OBSocialWechatHandler::setWXAppId(kAppId, "secret", std::string("http://n/1"));
  auto config = service_->socialData()->extConfig();
  auto session = config->wechatSessionData;

  pick("wxsession");
  auto sent = peer.record(kAppId);
  EXPECT_EQ(sent["command"].stringOr(), "1010");
  EXPECT_EQ(sent["objectType"].stringOr(), "5");
  EXPECT_EQ(sent["mediaUrl"].stringOr(), "http://n/1");
  EXPECT_EQ(sent["description"].stringOr(), "一条新闻");

  session->wxMessageType = OBSocialWXMessageTypeText;
  pick("wxsession");
  sent = peer.record(kAppId);
  EXPECT_EQ(sent["command"].stringOr(), "1020");
  EXPECT_EQ(sent["title"].stringOr(), "一条新闻");
  EXPECT_EQ(sent["scene"].stringOr(), "0");

  // The picture's bytes may come as the content's file data.
  const os::Data png = *os::encodePNG(*os::Image::create(os::Bitmap(4, 4)));
  session->wxMessageType = OBSocialWXMessageTypeImage;
  session->fileData = png;
  pick("wxsession");
  sent = peer.record(kAppId);
  EXPECT_EQ(sent["objectType"].stringOr(), "2");
  ASSERT_TRUE(sent["fileData"].data());
  EXPECT_EQ(*sent["fileData"].data(), png);

  session->wxMessageType = OBSocialWXMessageTypeApp;
  session->extInfo = "article=42";
  session->url = "http://n/42";
  pick("wxsession");
  sent = peer.record(kAppId);
  EXPECT_EQ(sent["objectType"].stringOr(), "7");
  EXPECT_EQ(sent["extInfo"].stringOr(), "article=42");
  EXPECT_EQ(sent["mediaUrl"].stringOr(), "http://n/42");
  EXPECT_EQ(*sent["fileData"].data(), png);

  // The timeline has content of its own; the extra content's type and media object serve it.
  auto music = WXMusicObject::object();
  music->setMusicUrl("http://n/song");
  music->setMusicLowBandDataUrl("http://n/song.low");
  config->wxMessageType = OBSocialWXMessageTypeOther;
  config->wxMediaObject = music;
  config->title = "标题";
  pick("wxtimeline");
  sent = peer.record(kAppId);
  EXPECT_EQ(sent["scene"].stringOr(), "1");
  EXPECT_EQ(sent["objectType"].stringOr(), "3");
  EXPECT_EQ(sent["mediaUrl"].stringOr(), "http://n/song");
  EXPECT_EQ(sent["mediaLowBandDataUrl"].stringOr(), "http://n/song.low");
  EXPECT_EQ(sent["title"].stringOr(), "标题");
}

// A login goes to the messenger as a 1030 record asking "snsapi_userinfo"; its answer's code
// passes on: a refusal never reads as success, and only an authorisation code signs in.
TEST_F(WechatHandlerTest, LoginThroughTheMessengerKeepsItsResultCode) {
  wechat_test::WeChatPeer peer(sandbox_);
  OBSocialWechatHandler::setWXAppId(kAppId, "secret", std::nullopt);
  // The handler counts the login it starts (before six operations make a report of the counts).
  OBSocialWechatHandler::shareInstance()->loginWithController(nullptr, nullptr, "wxtimeline");
  EXPECT_EQ(OBSocialOpAnalytics::shareInstance()->opDictionary()["4-16"].stringOr(), "1");

  std::vector<std::shared_ptr<OBSocialResponseEntity>> results;
  auto login = [&] {
    OBSocialSnsPlatformManager::getSocialPlatformWithName("wxsession")
        ->loginClickHandler(nullptr, service_, true,
                            [&results](const std::shared_ptr<OBSocialResponseEntity>& r) { results.push_back(r); });
    os::RunLoop::main()->runUntilIdle();
  };

  login();
  auto sent = peer.record(kAppId);
  EXPECT_EQ(sent["command"].stringOr(), "1030");
  EXPECT_EQ(sent["scope"].stringOr(), "snsapi_userinfo");
  peer.answer(kAppId, os::Dictionary{{"command", os::Value("2030")}, {"result", os::Value("-4")},
                                     {"returnFromApp", os::Value("1")}});
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0]->responseCode, -4);

  login();
  peer.answer(kAppId, os::Dictionary{{"command", os::Value("2030")}, {"result", os::Value("-2")},
                                     {"returnFromApp", os::Value("1")}});
  ASSERT_EQ(results.size(), 2u);
  EXPECT_EQ(results[1]->responseCode, 5052);

  // An answer of 0 without a code is no login either.
  login();
  peer.answer(kAppId, os::Dictionary{{"command", os::Value("2030")}, {"result", os::Value("0")},
                                     {"returnFromApp", os::Value("1")}});
  ASSERT_EQ(results.size(), 3u);
  EXPECT_NE(results[2]->responseCode, 200);

  login();
  peer.open(kAppId + "://oauth?code=0a1b2c&state=s");
  ASSERT_EQ(results.size(), 4u);
  EXPECT_EQ(results[3]->responseCode, 200);
  EXPECT_EQ(results[3]->viewControllerType, 7);
  ASSERT_TRUE(results[3]->data);
  EXPECT_EQ((*results[3]->data)["wxsession"]["code"].stringOr(), "0a1b2c");
  EXPECT_EQ((*results[3]->data)["wxsession"]["state"].stringOr(), "s");
  EXPECT_FALSE(OBSocialSnsHandler::shareInstance()->currentSnsHandler());
}

// A share through the platform's screen, asked of a data service: the controller service it makes
// for the messenger's road is gone from the caller's hands, yet the messenger's answer still
// reaches the caller's completion, once, and the reader sees the share went out.
TEST_F(WechatHandlerTest, AShareAskedOfTheDataServiceHearsTheMessengersAnswerOnce) {
  wechat_test::WeChatPeer peer(sandbox_);
  OBSocialWechatHandler::setWXAppId(kAppId, "secret", std::string("http://n/1"));
  sandbox_.writeBundleFile("OBSocialLocalizable.strings", "\"shareEdit_post_finish\" = \"分享成功\";\n");
  auto screen = std::make_shared<os::ViewController>();
  auto window = os::testing::showKeyWindow(screen);
  for (const std::string name : {"wxsession", "wxtimeline"}) {
    std::vector<std::shared_ptr<OBSocialResponseEntity>> heard;
    auto data = std::make_shared<OBSocialDataService>(std::make_shared<OBSocialData>("article-" + name));
    data->postSNSWithTypes({name}, std::string("快看"), nullptr, std::nullopt, nullptr, screen,
                           [&heard](const std::shared_ptr<OBSocialResponseEntity>& r) { heard.push_back(r); });
    os::RunLoop::main()->runUntilIdle();
    ASSERT_EQ(peer.record(kAppId)["title"].stringOr(), "快看") << name;
    peer.answer(kAppId, os::Dictionary{{"command", os::Value("2010")}, {"result", os::Value("0")},
                                       {"returnFromApp", os::Value("1")}});
    ASSERT_TRUE(settle([&] { return !heard.empty(); })) << name;
    os::TouchDriver::advance(0.3);
    ASSERT_EQ(heard.size(), 1u) << name;
    EXPECT_EQ(heard[0]->responseCode, 200) << name;
    EXPECT_EQ((*heard[0]->data)[name].stringOr("-"), "") << name;
    EXPECT_TRUE(os::findVisibleText("分享成功")) << name << os::dumpScreen();
    os::TouchDriver::advance(3);
  }
  os::testing::hideKeyWindow(window);
}

// The news client's road: the messenger and QQ set up, then the sheet with its seven platforms.
// The sheet draws only configured platforms, so both messenger platforms must be listed, once.
TEST_F(WechatHandlerTest, SetUpListsSessionAndTimelineSoTheSheetDrawsAllSevenInOrder) {
  for (int share = 0; share < 2; ++share) {
    OBSocialWechatHandler::setWXAppId(kAppId, "secret", std::string("http://n/1"));
    OBSocialQQHandler::setQQWithAppId(std::string("100424468"), std::string("c7394704798a158208a74ab60104f0ba"),
                                      std::string("http://n/1"));
  }
  auto names = OBSocialSnsPlatformManager::sharedInstance()->allSnsValuesArray();
  EXPECT_EQ(std::count(names.begin(), names.end(), "wxsession"), 1);
  EXPECT_EQ(std::count(names.begin(), names.end(), "wxtimeline"), 1);
  EXPECT_EQ(std::count(names.begin(), names.end(), "wxfavorite"), 0);
  EXPECT_EQ(OBSocialSnsPlatformManager::getSnsPlatformType(OBShareToWechatSession), 15);
  EXPECT_EQ(OBSocialSnsPlatformManager::getSnsPlatformType(OBShareToWechatTimeline), 16);
  EXPECT_EQ(OBSocialSnsPlatformManager::getSnsPlatformType("wxfavorite"), 17);

  auto screen = std::make_shared<os::ViewController>();
  auto window = os::testing::showKeyWindow(screen);
  OBSocialSnsService::presentSnsIconSheetView(
      screen, std::nullopt, "一条新闻", nullptr,
      std::vector<std::string>{OBShareToWechatSession, OBShareToWechatTimeline, OBShareToQQ, OBShareToQzone,
                               OBShareToSina, OBShareToRenren, OBShareToDouban},
      outcomes_);
  os::TouchDriver::advance(0.5);
  auto sheet = window->viewWithTag(kOBSocialIconActionSheetTag);
  ASSERT_TRUE(sheet);
  // Buttons are tagged 100 + the platform type; four to a row, in the order given.
  const int types[] = {15, 16, 20, 10, 11, 13, 14};
  for (int i = 0; i < 7; ++i) {
    auto button = sheet->viewWithTag(100 + types[i]);
    ASSERT_TRUE(button) << "no icon of type " << types[i];
    EXPECT_EQ(button->frame().origin.x, (i % 4) * 80) << types[i];
    EXPECT_EQ(button->frame().origin.y, (i / 4) * 80 - 8) << types[i];
  }
  // The session icon leads to the messenger handler's share.
  ASSERT_TRUE(os::TouchDriver::tap(*sheet->viewWithTag(115)));
  os::TouchDriver::advance(0.5);
  EXPECT_EQ(outcomes_->codes, std::vector<int>{5050});
  os::testing::hideKeyWindow(window);
}

}  // namespace
