// The QQ and QZone handler against QQ played as a peer application and the local sharing service.
#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <limits>
#include <tuple>

#include "foundation/formats/Base64.h"
#include "os/core/String.h"
#include "os/graphics/Image.h"
#include "os/graphics/ImageCodec.h"
#include "os/net/NetworkReachability.h"
#include "os/store/Bundle.h"
#include "os/store/KeyedArchive.h"
#include "os/store/Pasteboard.h"
#include "os/testing/Collect.h"
#include "os/testing/FakeReachabilityProvider.h"
#include "os/testing/HttpTestServer.h"
#include "os/testing/ScriptedWebPages.h"
#include "os/testing/ScreenHelpers.h"
#include "os/testing/TestPeerApplication.h"
#include "os/views/AlertView.h"
#include "os/views/Application.h"
#include "platforms/qq/QQApiDatastore.h"
#include "platforms/qq/QQApiTask.h"
#include "platforms/tests/wechat/WeChatPeer.h"
#include "qqconnect/login/OpenApi.h"
#include "qqconnect/analytics/VMA4QC.h"
#include "sharing/handlers/OBSocialQQHandler.h"
#include "sharing/handlers/OBSocialSnsHandler.h"
#include "sharing/handlers/OBSocialWechatHandler.h"
#include "sharing/screens/OBSocialControllerService.h"
#include "sharing/service/OBSocialConfig.h"
#include "sharing/service/OBSocialData.h"
#include "sharing/service/OBSocialDataService.h"
#include "sharing/service/OBSocialExtConfig.h"
#include "sharing/service/OBSocialResponseEntity.h"
#include "sharing/service/OBSocialSnsPlatform.h"
#include "sharing/service/OBSocialSnsPlatformManager.h"
#include "sharing/service/OBSocialSnsService.h"
#include "sharing/service/OBSocialUIDelegate.h"
#include "sharing/service/OBSUserManager.h"
#include "sharing/service/OBSocialAccountManager.h"
#include "sharing/service/OBSocialAccountEntity.h"
#include "sharing/widgets/OBCache.h"
#include "sharing/tests/ServiceFixture.h"

namespace {

const std::string kAppId = "100393032";
const std::string kPluginScheme = "QQ05FB8A2B";  // "QQ" and the id in hexadecimal
const std::string kReplyScheme = "velmora" + kAppId;

class QQHandlerTest : public ServiceFixture {
 protected:
  void SetUp() override {
    ServiceFixture::SetUp();
    QQApiDatastore::instance().reset();
    OpenApi::clearParam();
    reachability_->setDefaultFlags(os::kReachabilityFlagsReachable);
    reachability_->setFlags("openmobile.velmora.example", 0);
    sandbox_.setInfoDictionary(os::Dictionary{
        {"CFBundleIdentifier", "com.example.newsreader"},
        {"CFBundleDisplayName", "军事新闻"},
        {"CFBundleURLTypes", os::Array{os::Dictionary{{"CFBundleURLSchemes", os::Array{kPluginScheme, kReplyScheme}}}}}});
    os::Bundle::mainBundle()->reload();
    sandbox_.writeBundleFile("OBSocialLocalizable.strings",
                             "\"shareQQ_error\" = \"分享到QQ失败\";\n\"shareQQ_notInstall\" = \"没有手机QQ\";\n"
                             "\"shareQQ_openFail\" = \"打不开手机QQ\";\n\"shareEdit_post_finish\" = \"分享成功\";\n");
    app_->registerURLSchemes({kPluginScheme, kReplyScheme});
    app_->makeShared();
    app_->launch();
    service_->setSocialUIDelegate(outcomes_);
    service_->socialData()->setShareText("一条新闻");
  }
  void TearDown() override {
    // Sessions start the shared analytics client: its queued work reads this test's sandbox.
    VMA4QC::getInstance().flush();
    os::testing::dismissVisibleAlerts(0);
    app_->terminate();
    os::RunLoop::main()->runUntilIdle();
    OpenApi::clearParam();
    QQApiDatastore::instance().reset();
    ServiceFixture::TearDown();
  }
  int count(int action) const {
    auto all = server_.requests();
    return static_cast<int>(std::count_if(all.begin(), all.end(), [&](const auto& r) { return r.action == action; }));
  }
  void pick(const std::string& name) {
    OBSocialSnsPlatformManager::getSocialPlatformWithName(name)->snsClickHandler(nullptr, service_, true);
    os::RunLoop::main()->runUntilIdle();
  }
  // The query of the share QQ was last opened with, read as QQ reads it: values as they stand.
  os::Dictionary lastShare() const {
    os::Dictionary out;
    if (qq_->openedURLs().empty()) return out;
    for (const auto& piece : os::split(qq_->openedURLs().back().url.query().value_or(""), "&")) {
      const auto eq = piece.find('=');
      if (eq == std::string::npos) continue;
      out.set(piece.substr(0, eq), os::Value(piece.substr(eq + 1)));
    }
    return out;
  }
  // The reader also takes the messenger's answers, at the scheme of its messenger app id.
  void acceptMessengerAnswers(const std::string& wxAppId) {
    sandbox_.setInfoDictionary(os::Dictionary{
        {"CFBundleIdentifier", "com.example.newsreader"},
        {"CFBundleURLTypes",
         os::Array{os::Dictionary{{"CFBundleURLSchemes", os::Array{kPluginScheme, kReplyScheme, wxAppId}}}}}});
    os::Bundle::mainBundle()->reload();
    app_->registerURLSchemes({wxAppId});
  }

  void answerShare(const std::string& error) {
    qq_->openURL(kPluginScheme + "://response_from_qq?source=qq&error=" + error);
    os::RunLoop::main()->runUntilIdle();
  }
  static std::vector<std::string> alertMessages() {
    return os::testing::collect(os::AlertView::visibleAlertViews(), [](const auto& a) { return a->message(); });
  }

  os::testing::SharedFakeReachability reachability_;
  std::shared_ptr<os::Application> app_ = os::Application::create(std::make_shared<Reader>(), "com.example.newsreader");
  std::shared_ptr<OBSocialControllerService> service_ = OBSocialControllerService::defaultControllerService();
  std::shared_ptr<Outcomes> outcomes_ = std::make_shared<Outcomes>();
  std::shared_ptr<os::TestPeerApplication> qq_;
};

std::vector<std::string> configuredNames() { return OBSocialSnsPlatformManager::sharedInstance()->allSnsValuesArray(); }

void configure(std::vector<std::string> names) {
  os::Array list;
  for (auto& name : names) list.emplace_back(name);
  OBSocialConfig::setSnsPlatformNames(std::move(list));
}

TEST_F(QQHandlerTest, SetUpAddsQQOnceAndWiresQZone) {
  configure({"sina", "qzone", "renren", "douban", "email"});
  OBSocialQQHandler::setQQWithAppId(kAppId, std::string("KEY"), std::string("http://n/1"));
  EXPECT_EQ(configuredNames(), (std::vector<std::string>{"sina", "qzone", "renren", "douban", "qq", "email"}));
  // The service learns the QZone identity once.
  ASSERT_TRUE(settle([&] { return count(19) == 1; }));
  auto sent = server_.service().appInfo(kTestAppKey);
  ASSERT_TRUE(sent);
  EXPECT_EQ((*sent)["qzone_key"].stringOr(), kAppId);
  EXPECT_EQ((*sent)["qzone_secret"].stringOr(), "KEY");

  // The application sets QQ up before every share: still one "qq", nothing posted again.
  OBSocialQQHandler::setQQWithAppId(kAppId, std::string("KEY"), std::string("http://n/1"));
  // One request at a time: after these answers, any post the set-up queued has been sent.
  ASSERT_TRUE(perform(16) && perform(16));
  EXPECT_EQ(count(19), 1);
  auto names = configuredNames();
  EXPECT_EQ(std::count(names.begin(), names.end(), "qq"), 1);
  configure({"a", "b", "c", "d", "e", "f", "g"});
  OBSocialQQHandler::setQQWithAppId(kAppId, std::string("KEY"), std::nullopt);
  EXPECT_EQ(configuredNames()[6], "qq");
  configure({});
  OBSocialQQHandler::setQQWithAppId(kAppId, std::string("KEY"), std::nullopt);
  EXPECT_EQ(configuredNames(), std::vector<std::string>{"qq"});

  auto handler = OBSocialQQHandler::shareInstance();
  auto registry = OBSocialSnsPlatformManager::sharedInstance();
  EXPECT_EQ(registry->getSnsPlatformWithName("qq")->shareToType, 20);
  for (const char* name : {"qq", "qzone"})
    EXPECT_EQ(registry->getSnsPlatformWithName(name)->platformInternal()->socialLoginDelegate, handler) << name;
  OBSocialQQHandler::setQQWithAppId(kAppId, std::string("NEWKEY"), std::nullopt);
  ASSERT_TRUE(settle([&] { return count(19) == 2; }));
}

TEST_F(QQHandlerTest, ShareGoesToQQCutToItsLimitsAndItsAnswersAreReadStrictly) {
  qq_ = sandbox_.launchPeerApplication("com.velmora.mqq", {"mqq", "mqqapi"});
  OBSocialQQHandler::setQQWithAppId(kAppId, std::string("KEY"), std::string("http://n/1"));
  service_->socialData()->setShareImage(os::Image::create(os::Bitmap(300, 200)));
  service_->socialData()->extConfig()->title = std::string(129, 't');
  service_->socialData()->setShareText(std::string(512, 'd'));
  pick("qq");
  ASSERT_EQ(qq_->openedURLs().size(), 1u);
  EXPECT_EQ(qq_->openedURLs()[0].url.scheme(), "mqqapi");
  auto share = lastShare();
  EXPECT_EQ(share["file_type"].stringOr(), "news");
  EXPECT_EQ(base64DecodedString(share["title"].stringOr()), std::string(127, 't'));
  EXPECT_EQ(base64DecodedString(share["description"].stringOr()), std::string(512, 'd'));
  EXPECT_EQ(base64DecodedString(share["url"].stringOr()), "http://n/1");

  answerShare("-4");
  EXPECT_EQ(outcomes_->codes, std::vector<int>{5052});
  // A result that is no number is not a success: nothing posted, and the share waits on until
  // the next one replaces it.
  pick("qq");
  answerShare("0abc");
  EXPECT_EQ(outcomes_->codes, std::vector<int>{5052});
  EXPECT_EQ(count(5), 0);
  pick("qq");
  answerShare("0");
  EXPECT_EQ(outcomes_->codes, (std::vector<int>{5052, 5052, 200}));
  ASSERT_TRUE(settle([&] { return count(5) == 1; }));

  // Only the handler's own answers are taken.
  auto handler = OBSocialQQHandler::shareInstance();
  EXPECT_FALSE(handler->handleOpenURL(*os::URL::parse("wx123://pay")));
  EXPECT_FALSE(handler->handleOpenURL(*os::URL::parse("qq05fb8a2b://response_from_qq?error=0")));
  EXPECT_EQ(outcomes_->codes.size(), 3u);
}

// QQ's answer goes to the caller whose share it is, though the screens serve another caller by
// the time it comes.
TEST_F(QQHandlerTest, QQsAnswerReachesTheCallerThatShared) {
  qq_ = sandbox_.launchPeerApplication("com.velmora.mqq", {"mqq", "mqqapi"});
  OBSocialQQHandler::setQQWithAppId(kAppId, std::string("KEY"), std::string("http://n/1"));
  pick("qq");
  ASSERT_EQ(qq_->openedURLs().size(), 1u);
  auto later = std::make_shared<Outcomes>();
  service_->setSocialUIDelegate(later);
  answerShare("0");
  EXPECT_EQ(outcomes_->codes, std::vector<int>{200});
  EXPECT_TRUE(later->codes.empty());
}

// Three callers share through QQ, each from a controller service of its own, before it answers:
// QQ answers only the newest share, so each one it let go is answered at once, and every caller
// hears of its own share, once.
TEST_F(QQHandlerTest, EachOfSeveralSharesInFlightIsAnsweredToItsOwnCaller) {
  qq_ = sandbox_.launchPeerApplication("com.velmora.mqq", {"mqq", "mqqapi"});
  OBSocialQQHandler::setQQWithAppId(kAppId, std::string("KEY"), std::string("http://n/1"));
  const auto callers = shareFromOwnServices("qq", 3);
  ASSERT_EQ(qq_->openedURLs().size(), 3u);
  EXPECT_EQ(callers[0]->codes, std::vector<int>{5052});
  EXPECT_EQ(callers[1]->codes, std::vector<int>{5052});
  EXPECT_TRUE(callers[2]->codes.empty());

  answerShare("0");
  EXPECT_EQ(callers[0]->codes, std::vector<int>{5052});
  EXPECT_EQ(callers[1]->codes, std::vector<int>{5052});
  EXPECT_EQ(callers[2]->codes, std::vector<int>{200});
}

// A's share waits for QQ when B's is refused (its link is longer than QQ takes): QQ still holds
// A's, so A is not told it was replaced, and QQ's later answer reaches A as a share that went.
TEST_F(QQHandlerTest, AShareQQRefusesLeavesTheWaitingShareToItsOwnAnswer) {
  qq_ = sandbox_.launchPeerApplication("com.velmora.mqq", {"mqq", "mqqapi"});
  OBSocialQQHandler::setQQWithAppId(kAppId, std::string("KEY"), std::string("http://n/1"));
  const auto a = shareFromOwnServices("qq", 1).front();
  ASSERT_EQ(qq_->openedURLs().size(), 1u);

  auto b = std::make_shared<Outcomes>();
  auto other = std::make_shared<OBSocialControllerService>(std::make_shared<OBSocialData>("callerB"));
  other->setShareText("另一条", os::Image::create(os::Bitmap(30, 20)), b);
  other->socialData()->extConfig()->qqData->url = "http://n/" + std::string(kQQApiURLMax, 'x');
  OBSocialSnsPlatformManager::getSocialPlatformWithName("qq")->snsClickHandler(nullptr, other, true);
  os::RunLoop::main()->runUntilIdle();
  EXPECT_EQ(qq_->openedURLs().size(), 1u);
  EXPECT_EQ(alertMessages(), std::vector<std::string>{"打不开手机QQ"});
  EXPECT_TRUE(a->codes.empty());

  answerShare("0");
  EXPECT_EQ(a->codes, std::vector<int>{200});
  EXPECT_EQ(b->codes, std::vector<int>{5054});
  ASSERT_TRUE(settle([&] { return count(5) == 1; }));
}

// QQ answers A's share with a result that is no number: that says nothing of the share, so A
// waits on and hears QQ's next answer. B's share, answered so too, ends when C's replaces it.
TEST_F(QQHandlerTest, AnAnswerWhoseResultIsNoNumberLeavesTheShareWaiting) {
  qq_ = sandbox_.launchPeerApplication("com.velmora.mqq", {"mqq", "mqqapi"});
  OBSocialQQHandler::setQQWithAppId(kAppId, std::string("KEY"), std::string("http://n/1"));
  const auto a = shareFromOwnServices("qq", 1).front();
  answerShare("0abc");
  answerShare("");
  EXPECT_TRUE(a->codes.empty());
  answerShare("0");
  EXPECT_EQ(a->codes, std::vector<int>{200});

  const auto b = shareFromOwnServices("qq", 1).front();
  answerShare("x");
  EXPECT_TRUE(b->codes.empty());
  const auto c = shareFromOwnServices("qq", 1).front();
  EXPECT_EQ(b->codes, std::vector<int>{5052});
  answerShare("-4");
  EXPECT_EQ(c->codes, std::vector<int>{5052});
  EXPECT_EQ(a->codes, std::vector<int>{200});
  EXPECT_FALSE(OBSocialSnsHandler::shareInstance()->currentSnsHandler());
}

// A QQ login waits, so QQ's answers still reach the handler: one for a share of an earlier run,
// then two for A's share. A hears once, and one share is posted to the sharing service.
TEST_F(QQHandlerTest, AShareIsAnsweredOnceThoughQQAnswersAgainOrForNoShare) {
  qq_ = sandbox_.launchPeerApplication("com.velmora.mqq", {"mqq", "mqqapi", "mqqOpensdkSSoLogin", "mqqopensdkapiV2"});
  OBSocialQQHandler::setQQWithAppId(kAppId, std::string("KEY"), std::string("http://n/1"));
  std::vector<int> logins;
  OBSocialSnsPlatformManager::getSocialPlatformWithName("qq")->loginClickHandler(
      nullptr, service_, true,
      [&](const std::shared_ptr<OBSocialResponseEntity>& r) { logins.push_back(r->responseCode); });
  os::RunLoop::main()->runUntilIdle();
  answerShare("0");
  EXPECT_TRUE(outcomes_->codes.empty());

  const auto a = shareFromOwnServices("qq", 1).front();
  answerShare("0");
  answerShare("0");
  answerShare("-4");
  EXPECT_EQ(a->codes, std::vector<int>{200});
  EXPECT_TRUE(outcomes_->codes.empty());
  // One request at a time: once a later one is answered, every post was sent.
  ASSERT_TRUE(perform(16));
  EXPECT_EQ(count(5), 1);
  EXPECT_TRUE(logins.empty());
}

TEST_F(QQHandlerTest, WithoutQQQZoneSaysSoAndAFailedSendToQQAlerts) {
  OBSocialQQHandler::setQQWithAppId(kAppId, std::string("KEY"), std::string("http://n/1"));
  pick("qzone");
  EXPECT_EQ(alertMessages(), std::vector<std::string>{"没有手机QQ"});
  os::testing::dismissVisibleAlerts(0);
  pick("qq");
  EXPECT_EQ(alertMessages(), std::vector<std::string>{"打不开手机QQ"});
  // Nothing waits for an answer that cannot come.
  EXPECT_FALSE(OBSocialSnsHandler::shareInstance()->currentSnsHandler());
}

// Every way a share stops before QQ has it: a picture without the application's link, no
// scheme for QQ's answers, QZone without QQ, QQ that does not open. QQ will never answer such a
// share, so its caller hears at once, once, that nothing went; a share asked of the data service
// hears so through its completion.
TEST_F(QQHandlerTest, EachShareThatNeverReachesQQAnswersItsCallerOnce) {
  OBSocialQQHandler::setQQWithAppId(kAppId, std::string("KEY"), std::nullopt);
  auto withPicture = std::make_shared<OBSocialControllerService>(std::make_shared<OBSocialData>("picture"));
  auto a = std::make_shared<Outcomes>();
  withPicture->setShareText("图文", os::Image::create(os::Bitmap(30, 20)), a);
  OBSocialSnsPlatformManager::getSocialPlatformWithName("qq")->snsClickHandler(nullptr, withPicture, true);
  os::RunLoop::main()->runUntilIdle();
  EXPECT_EQ(a->codes, std::vector<int>{5054});

  OBSocialQQHandler::setQQWithAppId(kAppId, std::string("KEY"), std::string("http://n/1"));
  pick("qzone");
  EXPECT_EQ(outcomes_->codes, std::vector<int>{5054});
  os::testing::dismissVisibleAlerts(0);
  pick("qq");
  EXPECT_EQ(outcomes_->codes, (std::vector<int>{5054, 5054}));
  EXPECT_EQ(alertMessages(), std::vector<std::string>{"打不开手机QQ"});
  os::testing::dismissVisibleAlerts(0);

  std::vector<int> heard;
  OBSocialDataService::defaultDataService()->postSNSWithTypes(
      {"qzone"}, std::string("无QQ"), nullptr, std::nullopt, nullptr, nullptr,
      [&](const std::shared_ptr<OBSocialResponseEntity>& r) { heard.push_back(r->responseCode); });
  os::RunLoop::main()->runUntilIdle();
  EXPECT_EQ(heard, std::vector<int>{5054});
  os::testing::dismissVisibleAlerts(0);

  // No scheme for QQ's answers: nothing is asked of QQ, and the caller hears so.
  sandbox_.setInfoDictionary(os::Dictionary{{"CFBundleIdentifier", "com.example.newsreader"},
                                            {"CFBundleURLTypes", os::Array{os::Dictionary{
                                                                     {"CFBundleURLSchemes", os::Array{kReplyScheme}}}}}});
  os::Bundle::mainBundle()->reload();
  qq_ = sandbox_.launchPeerApplication("com.velmora.mqq", {"mqq", "mqqapi"});
  pick("qq");
  EXPECT_EQ(outcomes_->codes, (std::vector<int>{5054, 5054, 5054}));
  EXPECT_TRUE(qq_->openedURLs().empty());
  EXPECT_TRUE(a->codes.size() == 1 && heard.size() == 1);
  EXPECT_FALSE(OBSocialSnsHandler::shareInstance()->currentSnsHandler());
  EXPECT_EQ(count(5), 0);
}

TEST_F(QQHandlerTest, LoginCompletesExactlyOnceWhateverTheOutcome) {
  OBSocialQQHandler::setQQWithAppId(kAppId, std::string("KEY"), std::nullopt);
  std::vector<int> codes;
  auto login = [&] {
    OBSocialSnsPlatformManager::getSocialPlatformWithName("qq")->loginClickHandler(
        nullptr, service_, true, [&](const std::shared_ptr<OBSocialResponseEntity>& r) { codes.push_back(r->responseCode); });
    os::RunLoop::main()->runUntilIdle();
  };
  // No QQ to sign on with and no network for the web login.
  login();
  EXPECT_EQ(codes, std::vector<int>{5050});

  qq_ = sandbox_.launchPeerApplication("com.velmora.mqq", {"mqq", "mqqOpensdkSSoLogin", "mqqopensdkapiV2"});
  auto reply = [&](const os::Dictionary& answer) {
    qq_->generalPasteboard()->setData(os::KeyedArchiver::archivedData(os::Value(answer)), "com.velmora." + kReplyScheme);
    qq_->openURL(kReplyScheme + "://qzapp/anything/0?generalpastboard=1");
    os::RunLoop::main()->runUntilIdle();
  };
  login();
  reply(os::Dictionary{{"user_cancelled", "YES"}});
  EXPECT_EQ(codes, (std::vector<int>{5050, 5052}));

  login();
  reply(os::Dictionary{{"openid", "OID"}, {"access_token", "TOK"}, {"expires_in", 7776000}});
  ASSERT_TRUE(settle([&] { return codes.size() == 3; }));
  EXPECT_EQ(codes.back(), 200);
  EXPECT_EQ(count(15), 1);
  // The same session signs on again (a renewal): the finished login is not ended twice.
  auto handler = OBSocialQQHandler::shareInstance();
  ASSERT_TRUE(handler->velmoraQQ->authorize(OBSocialQQHandler::permissions(), kAppId, false));
  OBSocialSnsHandler::shareInstance()->setCurrentSnsHandler(handler);
  reply(os::Dictionary{{"openid", "OID"}, {"access_token", "TOK2"}, {"expires_in", 7776000}});
  // The renewal's account goes up and the accounts come back; nobody is told a second time.
  const int listed = count(10);
  ASSERT_TRUE(settle([&] { return count(15) == 2 && count(10) > listed; }));
  // One request at a time: once a later one is answered, the account list's answer was handled.
  ASSERT_TRUE(perform(16));
  EXPECT_EQ(codes.size(), 3u);
}

// QQ Connect cannot start a login without a QQ application id it reads, nor with a good id whose
// answering scheme the reader does not declare (another QQ Connect scheme is): it alerts about the
// configuration only. The login's caller hears once that it ended, and nothing waits for QQ.
TEST_F(QQHandlerTest, ALoginThatCannotStartEndsOnceAndLeavesNothingWaiting) {
  std::vector<std::shared_ptr<OBSocialResponseEntity>> heard;
  auto login = [&] {
    OBSocialSnsPlatformManager::getSocialPlatformWithName("qq")->loginClickHandler(
        nullptr, service_, true, [&](const std::shared_ptr<OBSocialResponseEntity>& r) { heard.push_back(r); });
    os::RunLoop::main()->runUntilIdle();
  };
  auto expectEndedOnce = [&](const char* road) {
    SCOPED_TRACE(road);
    EXPECT_EQ(heard.size(), 1u) << "the caller is never answered";
    for (const auto& response : heard) {
      EXPECT_EQ(response->responseCode, 5052);
      EXPECT_EQ(response->viewControllerType, 7);
      EXPECT_EQ(response->message.value_or(""), "the QQ login could not start");
    }
    EXPECT_FALSE(OBSocialSnsHandler::shareInstance()->currentSnsHandler());
    EXPECT_FALSE(OBSocialQQHandler::shareInstance()->awaitsAnswer());
    EXPECT_EQ(alertMessages(), std::vector<std::string>{kVelmoraConfigAlertMessage});
    os::testing::dismissVisibleAlerts(0);
    heard.clear();
  };

  // No id given, and the service's application information holds none for QZone.
  OBSocialQQHandler::setQQWithAppId(std::nullopt, std::string("KEY"), std::nullopt);
  os::RunLoop::main()->runUntilIdle();
  ASSERT_FALSE(OBSocialQQHandler::shareInstance()->qqAppId);
  login();
  expectEndedOnce("no id");

  // An id that is no QQ application id.
  OBSocialQQHandler::setQQWithAppId(std::string("not-an-id"), std::string("KEY"), std::nullopt);
  os::RunLoop::main()->runUntilIdle();
  login();
  expectEndedOnce("unreadable id");

  // A good id; the reader declares a QQ Connect scheme, but not this id's.
  sandbox_.setInfoDictionary(os::Dictionary{
      {"CFBundleIdentifier", "com.example.newsreader"},
      {"CFBundleDisplayName", "军事新闻"},
      {"CFBundleURLTypes", os::Array{os::Dictionary{{"CFBundleURLSchemes", os::Array{kPluginScheme, kReplyScheme + "9"}}}}}});
  os::Bundle::mainBundle()->reload();
  OBSocialQQHandler::setQQWithAppId(kAppId, std::string("KEY"), std::nullopt);
  os::RunLoop::main()->runUntilIdle();
  login();
  expectEndedOnce("scheme of another id");
}

// A login that ends at once for want of a network, whose caller starts another login from that
// answer once the network is back: the first ends once, and the second waits for its own page.
TEST_F(QQHandlerTest, ALoginStartedFromTheAnswerOfOneThatCouldNotStartIsLeftToWait) {
  OBSocialQQHandler::setQQWithAppId(kAppId, std::string("KEY"), std::nullopt);
  os::RunLoop::main()->runUntilIdle();
  std::vector<int> first, second;
  auto qq = OBSocialSnsPlatformManager::getSocialPlatformWithName("qq");
  qq->loginClickHandler(nullptr, service_, true, [&](const std::shared_ptr<OBSocialResponseEntity>& r) {
    first.push_back(r->responseCode);
    if (first.size() > 1) return;
    reachability_->setFlags("openmobile.velmora.example", os::kReachabilityFlagsReachable);
    qq->loginClickHandler(nullptr, service_, true,
                          [&](const std::shared_ptr<OBSocialResponseEntity>& r2) { second.push_back(r2->responseCode); });
  });
  os::RunLoop::main()->runUntilIdle();
  EXPECT_EQ(first, std::vector<int>{5050});
  EXPECT_TRUE(second.empty());
  EXPECT_TRUE(OBSocialQQHandler::shareInstance()->awaitsAnswer());
  EXPECT_TRUE(alertMessages().empty());
}

// The reader starts a QQ login, comes back without answering in QQ and starts another: QQ answers
// the newest request only, so the first login's caller hears at once that it ended, and QQ's
// answer signs in the second caller, once. Between them a share to QQ goes out: the login still
// waiting keeps its answer, and the share keeps its own.
TEST_F(QQHandlerTest, EachLoginAndAShareBetweenThemHearOnlyTheirOwnEnd) {
  OBSocialQQHandler::setQQWithAppId(kAppId, std::string("KEY"), std::string("http://n/1"));
  qq_ = sandbox_.launchPeerApplication("com.velmora.mqq", {"mqq", "mqqapi", "mqqOpensdkSSoLogin", "mqqopensdkapiV2"});
  std::vector<int> first, second;
  auto login = [&](std::vector<int>& codes) {
    OBSocialSnsPlatformManager::getSocialPlatformWithName("qq")->loginClickHandler(
        nullptr, service_, true,
        [&codes](const std::shared_ptr<OBSocialResponseEntity>& r) { codes.push_back(r->responseCode); });
    os::RunLoop::main()->runUntilIdle();
  };
  auto reply = [&](const os::Dictionary& answer) {
    const auto archived = os::KeyedArchiver::archivedData(os::Value(answer));
    qq_->generalPasteboard()->setData(archived, "com.velmora." + kReplyScheme);
    qq_->openURL(kReplyScheme + "://qzapp/anything/0?generalpastboard=1");
    os::RunLoop::main()->runUntilIdle();
  };
  login(first);
  login(second);
  EXPECT_EQ(first, std::vector<int>{5052});
  EXPECT_TRUE(second.empty());

  const auto sharer = shareFromOwnServices("qq", 1).front();
  EXPECT_TRUE(sharer->codes.empty());
  EXPECT_TRUE(second.empty());

  reply(os::Dictionary{{"openid", "OID"}, {"access_token", "TOK"}, {"expires_in", 7776000}});
  ASSERT_TRUE(settle([&] { return !second.empty(); }));
  EXPECT_EQ(second, std::vector<int>{200});
  EXPECT_EQ(first, std::vector<int>{5052});
  EXPECT_TRUE(sharer->codes.empty());
  answerShare("0");
  EXPECT_EQ(sharer->codes, std::vector<int>{200});
  // One request at a time: once a later one is answered, every upload was sent.
  ASSERT_TRUE(perform(16));
  EXPECT_EQ(count(15), 1);
  EXPECT_EQ(first, std::vector<int>{5052});
  EXPECT_EQ(second, std::vector<int>{200});
  EXPECT_FALSE(OBSocialSnsHandler::shareInstance()->currentSnsHandler());
}

// A share waits for the messenger's answer when the reader asks for a QQ login that ends at once
// (no QQ to sign on with, no network for the page): the messenger's answer still reaches the
// share's caller.
TEST_F(QQHandlerTest, ALoginThatEndsAtOnceLeavesAnotherApplicationsWaitingShareItsAnswer) {
  const std::string wxAppId = "wx5a1c0ffee";
  acceptMessengerAnswers(wxAppId);
  wechat_test::WeChatPeer messenger(sandbox_);
  OBSocialWechatHandler::setWXAppId(wxAppId, "secret", std::string("http://n/1"));
  OBSocialQQHandler::setQQWithAppId(kAppId, std::string("KEY"), std::nullopt);
  const auto sharer = shareFromOwnServices("wxsession", 1).front();
  ASSERT_EQ(messenger.openedWith().size(), 1u);

  std::vector<int> codes;
  OBSocialSnsPlatformManager::getSocialPlatformWithName("qq")->loginClickHandler(
      nullptr, service_, true,
      [&](const std::shared_ptr<OBSocialResponseEntity>& r) { codes.push_back(r->responseCode); });
  os::RunLoop::main()->runUntilIdle();
  EXPECT_EQ(codes, std::vector<int>{5050});

  messenger.answer(wxAppId, os::Dictionary{{"command", os::Value("2010")}, {"result", os::Value("0")},
                                           {"returnFromApp", os::Value("1")}});
  EXPECT_EQ(sharer->codes, std::vector<int>{200});
  EXPECT_EQ(codes, std::vector<int>{5050});
  EXPECT_FALSE(OBSocialSnsHandler::shareInstance()->currentSnsHandler());
}

// A share to QQ waits when the reader shares through the messenger, and the other way round:
// whichever application answers first, each share hears its own application's answer, once.
TEST_F(QQHandlerTest, SharesWaitingOnQQAndOnTheMessengerEachHearTheirOwnAnswer) {
  const std::string wxAppId = "wx5a1c0ffee";
  acceptMessengerAnswers(wxAppId);
  wechat_test::WeChatPeer messenger(sandbox_);
  qq_ = sandbox_.launchPeerApplication("com.velmora.mqq", {"mqq", "mqqapi"});
  OBSocialWechatHandler::setWXAppId(wxAppId, "secret", std::string("http://n/1"));
  OBSocialQQHandler::setQQWithAppId(kAppId, std::string("KEY"), std::string("http://n/1"));
  const auto messengerAnswer = [&](const char* result) {
    messenger.answer(wxAppId, os::Dictionary{{"command", os::Value("2010")}, {"result", os::Value(result)},
                                             {"returnFromApp", os::Value("1")}});
  };

  // QQ's share first; the messenger answers first.
  auto toQQ = shareFromOwnServices("qq", 1).front();
  auto toMessenger = shareFromOwnServices("wxsession", 1).front();
  messengerAnswer("0");
  answerShare("-4");
  EXPECT_EQ(toMessenger->codes, std::vector<int>{200});
  EXPECT_EQ(toQQ->codes, std::vector<int>{5052});

  // The messenger's share first; QQ answers first, then again.
  toMessenger = shareFromOwnServices("wxsession", 1).front();
  toQQ = shareFromOwnServices("qq", 1).front();
  answerShare("0");
  answerShare("0");
  EXPECT_EQ(toQQ->codes, std::vector<int>{200});
  EXPECT_TRUE(toMessenger->codes.empty());
  messengerAnswer("-2");
  messengerAnswer("0");
  EXPECT_EQ(toMessenger->codes, std::vector<int>{5052});
  EXPECT_EQ(toQQ->codes, std::vector<int>{200});
  EXPECT_FALSE(OBSocialSnsHandler::shareInstance()->currentSnsHandler());
}

// A web login whose page gave a token but no open id waits for the open id from the QQ portal;
// the reader logs out meanwhile. The portal's answer then signs nobody in: the login's caller
// hears it ended unfinished, and no account goes up to the sharing service.
TEST_F(QQHandlerTest, ALogoutBeforeTheOpenIdComesUploadsNoAccount) {
  auto pages = os::testing::ScriptedWebPages::install();
  pages->route("https://openmobile.velmora.example/oauth2.0/m_authorize",
               os::testing::ScriptedPage::page("", {os::testing::ScriptedPage::go(
                                                       "auth://openmobile.velmora.example#access_token=T&expires_in=3600")}));
  os::testing::HttpTestServer portal;
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  portal.route("GET", "/oauth2.0/m_me", [released](const os::testing::RecordedRequest&) {
    released.wait();
    return os::testing::CannedResponse::text("callback( {\"openid\":\"OID\"} );\n");
  });
  reachability_->setFlags("openmobile.velmora.example", os::kReachabilityFlagsReachable);
  auto window = os::testing::showKeyWindow();
  OBSocialQQHandler::setQQWithAppId(kAppId, std::string("KEY"), std::nullopt);
  auto handler = OBSocialQQHandler::shareInstance();
  handler->endpoints.openApiBase = portal.url("/");

  std::vector<int> codes;
  OBSocialSnsPlatformManager::getSocialPlatformWithName("qq")->loginClickHandler(
      nullptr, service_, true, [&](const std::shared_ptr<OBSocialResponseEntity>& r) { codes.push_back(r->responseCode); });
  const bool asked = settle([&] { return !portal.requests().empty(); });
  handler->logOut();
  release.set_value();
  ASSERT_TRUE(asked);
  ASSERT_TRUE(settle([&] { return !codes.empty(); }));
  EXPECT_EQ(codes, std::vector<int>{5052});
  // One request at a time: once a later one is answered, an upload would have been sent.
  ASSERT_TRUE(perform(16));
  EXPECT_EQ(count(15), 0);
  EXPECT_FALSE(handler->velmoraQQ->accessToken());
  os::testing::hideKeyWindow(window);
}

// A token whose expires_in is "0" never expires: the account keeps the distant future, and the
// accounts saved with it read back from disk with that date.
TEST_F(QQHandlerTest, ANeverExpiringTokenIsSavedAndReadBackWithItsDate) {
  OBSocialQQHandler::setQQWithAppId(kAppId, std::string("KEY"), std::nullopt);
  qq_ = sandbox_.launchPeerApplication("com.velmora.mqq", {"mqq", "mqqOpensdkSSoLogin", "mqqopensdkapiV2"});
  std::vector<int> codes;
  OBSocialSnsPlatformManager::getSocialPlatformWithName("qq")->loginClickHandler(
      nullptr, service_, true, [&](const std::shared_ptr<OBSocialResponseEntity>& r) { codes.push_back(r->responseCode); });
  os::RunLoop::main()->runUntilIdle();
  qq_->generalPasteboard()->setData(
      os::KeyedArchiver::archivedData(os::Value(os::Dictionary{{"openid", "OID"}, {"access_token", "TOK"}, {"expires_in", "0"}})),
      "com.velmora." + kReplyScheme);
  qq_->openURL(kReplyScheme + "://qzapp/anything/0?generalpastboard=1");
  ASSERT_TRUE(settle([&] { return !codes.empty(); }));
  EXPECT_EQ(codes.back(), 200);
  auto account = OBSUserManager::shareInstance()->accountForPlatform("qq");
  ASSERT_TRUE(account && account->expirationDate);
  EXPECT_EQ(*account->expirationDate, os::Date::distantFuture());

  auto cache = OBCache::currentCache();
  cache->waitUntilWritten();
  ASSERT_TRUE(cache->saveCacheDictionary());
  OBCache reopened(cache->directory());
  auto bytes = reopened.dataForKey("OBSocialAccountEntity");
  ASSERT_TRUE(bytes);
  os::ArchiveClassRegistry registry;
  OBSocialAccountEntity::addToRegistry(registry);
  auto saved = os::KeyedUnarchiver::unarchiveObject(*bytes, registry);
  ASSERT_TRUE(saved && saved->entries());
  std::shared_ptr<OBSocialAccountEntity> qq;
  for (const auto& [name, entry] : *saved->entries())
    if (name == "qq") qq = entry.objectAs<OBSocialAccountEntity>();
  ASSERT_TRUE(qq && qq->expirationDate);
  EXPECT_EQ(*qq->expirationDate, os::Date::distantFuture());
  EXPECT_EQ(qq->accessToken, std::optional<std::string>("TOK"));
}

// A grant as long as the range allows goes up to the sharing service as the longest lifetime, not
// as one long past, and the account the service lists back is still good; a grant out of range
// lasts the 30 days of one without a lifetime, whether QQ wrote it as an integer or a text.
TEST_F(QQHandlerTest, AGrantAtTheTopOfTheRangeStaysGoodThroughTheService) {
  OBSocialQQHandler::setQQWithAppId(kAppId, std::string("KEY"), std::nullopt);
  qq_ = sandbox_.launchPeerApplication("com.velmora.mqq", {"mqq", "mqqOpensdkSSoLogin", "mqqopensdkapiV2"});
  for (const os::Value& lifetime : {os::Value("9223372036854774784"), os::Value(std::numeric_limits<long long>::max())}) {
    SCOPED_TRACE(lifetime.description());
    std::vector<int> codes;
    const int uploads = count(15), lists = count(10);
    OBSocialSnsPlatformManager::getSocialPlatformWithName("qq")->loginClickHandler(
        nullptr, service_, true, [&](const std::shared_ptr<OBSocialResponseEntity>& r) { codes.push_back(r->responseCode); });
    os::RunLoop::main()->runUntilIdle();
    qq_->generalPasteboard()->setData(
        os::KeyedArchiver::archivedData(os::Value(os::Dictionary{{"openid", "OID"}, {"access_token", "TOK"}, {"expires_in", lifetime}})),
        "com.velmora." + kReplyScheme);
    qq_->openURL(kReplyScheme + "://qzapp/anything/0?generalpastboard=1");
    ASSERT_TRUE(settle([&] { return !codes.empty() && count(15) > uploads && count(10) > lists; }));
    ASSERT_TRUE(perform(16));  // one request at a time: the account list's answer was handled
    EXPECT_EQ(codes.back(), 200);
    std::string sent;
    for (const auto& request : server_.requests())
      if (request.action == 15) sent = request.parameters["expires_in"].stringOr();
    ASSERT_FALSE(sent.empty());
    EXPECT_NE(sent.front(), '-') << sent;
    EXPECT_TRUE(OBSocialAccountManager::isOauthAndTokenNotExpired("qq"));
    auto account = OBSUserManager::shareInstance()->accountForPlatform("qq");
    ASSERT_TRUE(account && account->expirationDate);
    EXPECT_GE(account->expirationDate->timeIntervalSince1970(), os::Date::now().timeIntervalSince1970() + 2592000);
  }
}

// A music or a video resource goes to QQ as its own kind of link, the resource's address as the
// link and the picture as its preview.
TEST_F(QQHandlerTest, MusicAndVideoResourcesGoOutAsTheirOwnKinds) {
  qq_ = sandbox_.launchPeerApplication("com.velmora.mqq", {"mqq", "mqqapi"});
  OBSocialQQHandler::setQQWithAppId(kAppId, std::string("KEY"), std::string("http://n/1"));
  service_->socialData()->setShareImage(os::Image::create(os::Bitmap(300, 200)));
  service_->socialData()->extConfig()->title = std::string("军歌");
  for (auto [type, kind, url] : {std::tuple{3, "audio", "http://m.example/march.mp3"},
                                 std::tuple{2, "video", "http://v.example/parade.mp4"}}) {
    SCOPED_TRACE(kind);
    service_->socialData()->setUrlResource(OBSocialUrlResource::initWithSnsResourceType(type, std::string(url)));
    const std::size_t before = qq_->openedURLs().size();
    pick("qq");
    ASSERT_EQ(qq_->openedURLs().size(), before + 1);
    auto share = lastShare();
    EXPECT_EQ(share["file_type"].stringOr(), kind);
    EXPECT_EQ(base64DecodedString(share["url"].stringOr()), url);
    EXPECT_EQ(base64DecodedString(share["title"].stringOr()), "军歌");
    EXPECT_EQ(base64DecodedString(share["description"].stringOr()), "一条新闻");
    auto preview = QQApiDatastore::instance().getApiLargeData();
    ASSERT_TRUE(preview);
    EXPECT_TRUE((*preview)["previewimagedata"].data());
    answerShare("0");
  }
  EXPECT_EQ(outcomes_->codes, (std::vector<int>{200, 200}));
}

// QZone asks for an application that can sign on only when the web authorisation is chosen
// instead of the QQ Connect login; every other platform counts as installed.
TEST_F(QQHandlerTest, QZoneIsInstalledOnlyWithAnApplicationThatCanSignOnWhenTheWebViewIsChosen) {
  auto handler = OBSocialQQHandler::shareInstance();
  EXPECT_TRUE(handler->isClientInstall("qq"));
  EXPECT_TRUE(handler->isClientInstall("qzone"));
  OBSocialQQHandler::setSupportWebView(true);
  EXPECT_TRUE(handler->isClientInstall("qq"));
  EXPECT_FALSE(handler->isClientInstall("qzone"));
  auto qzone = sandbox_.launchPeerApplication("com.velmora.qzone", {"mqzone", "mqzoneopensdk"});  // too old to sign on
  EXPECT_FALSE(handler->isClientInstall("qzone"));
  qq_ = sandbox_.launchPeerApplication("com.velmora.mqq", {"mqq", "mqqOpensdkSSoLogin", "mqqopensdkapiV2"});
  EXPECT_TRUE(handler->isClientInstall("qzone"));
  OBSocialQQHandler::setSupportWebView(false);
}

}  // namespace

namespace {

// Without QQ on the device a link goes to QQ's share page in the browser, which answers through
// the reader's own QQ Connect scheme: that answer reaches the share's caller, once.
TEST_F(QQHandlerTest, AShareThroughQQsWebPageHearsThePagesAnswer) {
  OBSocialQQHandler::setQQWithAppId(kAppId, std::string("KEY"), std::string("http://n/1"));
  service_->socialData()->setShareImage(os::Image::create(os::Bitmap(30, 20)));
  auto browser = sandbox_.launchPeerApplication("com.example.browser", {"http", "https"});
  pick("qq");
  ASSERT_EQ(browser->openedURLs().size(), 1u);
  EXPECT_TRUE(outcomes_->codes.empty());
  const std::string back = kReplyScheme + "://" + QQApiDatastore::instance().endpoints.webAuthorisationHost +
                           "/?#action=shareToQQ&result=";
  browser->openURL(back + "complete&response=" + os::percentEscape(R"({"ret":0,"msg":"ok"})"));
  os::RunLoop::main()->runUntilIdle();
  EXPECT_EQ(outcomes_->codes, std::vector<int>{200});
  browser->openURL(back + "cancel");
  os::RunLoop::main()->runUntilIdle();
  EXPECT_EQ(outcomes_->codes, std::vector<int>{200});

  pick("qq");
  ASSERT_EQ(browser->openedURLs().size(), 2u);
  browser->openURL(back + "cancel");
  os::RunLoop::main()->runUntilIdle();
  EXPECT_EQ(outcomes_->codes, (std::vector<int>{200, 5052}));
}

}  // namespace

namespace {

using os::testing::CannedResponse;
using os::testing::HttpTestServer;

// The news link shared with its picture on a server: QQ gets it once the picture has been fetched.
class QQPreviewShareTest : public QQHandlerTest {
 protected:
  void SetUp() override {
    QQHandlerTest::SetUp();
    CannedResponse picture;
    auto png = os::encodePNG(*os::Image::create(os::Bitmap(60, 40)));
    ASSERT_TRUE(png);
    picture.body.assign(png->begin(), png->end());
    picture.contentType = "image/png";
    pictures_.route("GET", "/p.png", picture);
    CannedResponse stalled = CannedResponse::text("never in time");
    stalled.delay = 8;  // beyond the preview fetch's time-out
    pictures_.route("GET", "/slow.png", stalled);
    qq_ = sandbox_.launchPeerApplication("com.velmora.mqq", {"mqq", "mqqapi"});
    // QQ answers every share it is opened with, unless told to keep still.
    qq_->setOpenURLHandler([this](os::TestPeerApplication& peer, const os::TestPeerApplication::OpenedURL&) {
      if (qqAnswer_.empty()) return true;
      peer.openURL(kPluginScheme + "://response_from_qq?source=qq&error=" + qqAnswer_);
      return true;
    });
    OBSocialQQHandler::setQQWithAppId(kAppId, std::string("KEY"), std::string("http://n/1"));
  }
  void TearDown() override {
    os::RunLoop::main()->runUntil([] { return !QQApiTask::runningTask() && QQApiTask::waitingTaskCount() == 0; }, 30);
    QQHandlerTest::TearDown();
  }
  // The reader shares the news link with its picture at `address` from the sheet.
  void shareWithPicture(const std::string& address) {
    service_->socialData()->setUrlResource(OBSocialUrlResource::initWithSnsResourceType(OBSocialUrlResourceTypeImage, address));
    pick("qq");
  }
  bool previewSettled() {
    return settle([] { return !QQApiTask::runningTask() && QQApiTask::waitingTaskCount() == 0; });
  }

  HttpTestServer pictures_;
  std::string qqAnswer_ = "0";
};

// However the picture's fetch ends, the share then goes to QQ once and its caller hears QQ's
// answer once; a QQ that does not open leaves nothing to wait for, and the caller hears that the
// share did not go, with the alert a share QQ refuses at once brings.
TEST_F(QQPreviewShareTest, TheCallerHearsTheEndOfTheSendMadeOnceThePictureIsFetched) {
  shareWithPicture(pictures_.url("/p.png"));
  ASSERT_TRUE(settle([&] { return !outcomes_->codes.empty(); }));
  EXPECT_EQ(outcomes_->codes, std::vector<int>{200});
  ASSERT_EQ(qq_->openedURLs().size(), 1u);
  EXPECT_EQ(lastShare()["file_type"].stringOr(), "news");
  auto preview = QQApiDatastore::instance().getApiLargeData();
  ASSERT_TRUE(preview);
  EXPECT_TRUE((*preview)["previewimagedata"].data());

  qqAnswer_ = "-4";
  shareWithPicture(pictures_.url("/p.png"));
  ASSERT_TRUE(settle([&] { return outcomes_->codes.size() == 2; }));
  EXPECT_EQ(outcomes_->codes, (std::vector<int>{200, 5052}));

  // The picture cannot be fetched: the share goes without it.
  qqAnswer_ = "0";
  shareWithPicture("http://127.0.0.1:" + std::to_string(HttpTestServer::refusedPort()) + "/p.png");
  ASSERT_TRUE(settle([&] { return outcomes_->codes.size() == 3; }));
  EXPECT_EQ(outcomes_->codes, (std::vector<int>{200, 5052, 200}));
  EXPECT_EQ(qq_->openedURLs().size(), 3u);

  // The QQ Connect client registers meanwhile an open id no share URL can carry: the send made
  // once the picture came is refused.
  QQApi::registerQQConnectOpenId("open&id");
  shareWithPicture(pictures_.url("/p.png"));
  ASSERT_TRUE(settle([&] { return outcomes_->codes.size() == 4; }));
  EXPECT_EQ(outcomes_->codes, (std::vector<int>{200, 5052, 200, 5054}));
  EXPECT_EQ(alertMessages(), std::vector<std::string>{"打不开手机QQ"});
  EXPECT_FALSE(OBSocialSnsHandler::shareInstance()->currentSnsHandler());
  EXPECT_FALSE(OBSocialQQHandler::shareInstance()->awaitsAnswer());
  EXPECT_EQ(qq_->openedURLs().size(), 3u);
  ASSERT_TRUE(previewSettled());
  os::RunLoop::main()->runUntilIdle();
  EXPECT_EQ(outcomes_->codes.size(), 4u);
  ASSERT_TRUE(settle([&] { return count(5) == 2; }));
}

// A share still waiting on its picture when another reaches QQ is answered as replaced at once,
// and is then not sent: QQ would show it after the newer one and its answer would be taken for
// the newer one's.
TEST_F(QQPreviewShareTest, AShareReplacedWhileItsPictureIsFetchedIsNeverSent) {
  shareWithPicture(pictures_.url("/slow.png"));
  ASSERT_TRUE(settle([&] { return pictures_.requestCount() == 1; }));
  EXPECT_TRUE(qq_->openedURLs().empty());
  EXPECT_TRUE(outcomes_->codes.empty());

  const auto later = shareFromOwnServices("qq", 1).front();
  EXPECT_EQ(outcomes_->codes, std::vector<int>{5052});
  ASSERT_TRUE(settle([&] { return later->codes.size() == 1; }));
  EXPECT_EQ(later->codes, std::vector<int>{200});

  // The first share's fetch times out.
  ASSERT_TRUE(previewSettled());
  os::RunLoop::main()->runUntilIdle();
  EXPECT_EQ(qq_->openedURLs().size(), 1u);
  EXPECT_EQ(outcomes_->codes, std::vector<int>{5052});
  EXPECT_EQ(later->codes, std::vector<int>{200});
  EXPECT_TRUE(alertMessages().empty());
}

// QQ answers an earlier share while the newer one still waits on its picture: that answer is not
// the newer share's, which hears only QQ's answer to itself once it has gone.
TEST_F(QQPreviewShareTest, AnAnswerComingBeforeTheShareIsSentIsNotItsAnswer) {
  qqAnswer_.clear();
  const auto earlier = shareFromOwnServices("qq", 1).front();
  ASSERT_TRUE(settle([&] { return qq_->openedURLs().size() == 1; }));
  shareWithPicture(pictures_.url("/slow.png"));
  EXPECT_EQ(earlier->codes, std::vector<int>{5052});
  answerShare("0");
  EXPECT_TRUE(outcomes_->codes.empty());
  EXPECT_TRUE(OBSocialQQHandler::shareInstance()->awaitsAnswer());

  qqAnswer_ = "-4";
  ASSERT_TRUE(settle([&] { return !outcomes_->codes.empty(); }));  // sent once the fetch times out
  EXPECT_EQ(outcomes_->codes, std::vector<int>{5052});
  EXPECT_EQ(qq_->openedURLs().size(), 2u);
  EXPECT_EQ(earlier->codes, std::vector<int>{5052});
  EXPECT_EQ(count(5), 0);
}

}  // namespace
