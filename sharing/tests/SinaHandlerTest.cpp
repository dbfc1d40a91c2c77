// The Sina Weibo handler's single sign-on: the login road through the Sina Weibo application,
// played as a peer on the same device, and its answer on the application's "sina." scheme.
#include <gtest/gtest.h>

#include "os/store/Bundle.h"
#include "os/testing/TestPeerApplication.h"
#include "os/views/Application.h"
#include "sharing/handlers/OBSocialSinaHandler.h"
#include "sharing/handlers/OBSocialSnsHandler.h"
#include "sharing/handlers/OBSocialWechatHandler.h"
#include "platforms/tests/wechat/WeChatPeer.h"
#include "sharing/screens/OBSocialControllerService.h"
#include "sharing/service/OBSocialAccountEntity.h"
#include "sharing/service/OBSocialAccountManager.h"
#include "sharing/service/OBSocialOpAnalytics.h"
#include "sharing/service/OBSocialResponseEntity.h"
#include "sharing/service/OBSocialSnsPlatform.h"
#include "sharing/service/OBSocialSnsPlatformManager.h"
#include "sharing/tests/ServiceFixture.h"

namespace {

const std::string kAnswerScheme = "sina.com.example.newsreader";

class SinaHandlerTest : public ServiceFixture {
 protected:
  void SetUp() override {
    ServiceFixture::SetUp();
    sandbox_.setInfoDictionary(os::Dictionary{
        {"CFBundleIdentifier", "com.example.newsreader"},
        {"CFBundleURLTypes", os::Array{os::Dictionary{{"CFBundleURLSchemes", os::Array{kAnswerScheme}}}}}});
    app_->registerURLSchemes({kAnswerScheme});
    app_->makeShared();
    app_->launch();
    OBSocialSinaHandler::openSSOWithRedirectURL("http://example.test/sina/callback");
  }
  void login() {
    OBSocialSnsPlatformManager::getSocialPlatformWithName("sina")->loginClickHandler(
        nullptr, service_, true, [this](const std::shared_ptr<OBSocialResponseEntity>& r) { results_.push_back(r); });
    os::RunLoop::main()->runUntilIdle();
  }
  void answer(const std::string& query) {
    weibo_->openURL(kAnswerScheme + "://sso?" + query);
    settle([this] { return !results_.empty(); });
  }

  std::shared_ptr<os::Application> app_ = os::Application::create(std::make_shared<Reader>(), "com.example.newsreader");
  std::shared_ptr<os::TestPeerApplication> weibo_ = sandbox_.launchPeerApplication("com.example.weibo", {"sinaweibosso"});
  std::shared_ptr<OBSocialControllerService> service_ = OBSocialControllerService::defaultControllerService();
  std::vector<std::shared_ptr<OBSocialResponseEntity>> results_;
};

TEST_F(SinaHandlerTest, TheApplicationsAccountIsUploadedAndStored) {
  login();
  ASSERT_EQ(weibo_->openedURLs().size(), 1u);
  EXPECT_EQ(weibo_->openedURLs()[0].url.absoluteString(),
            "sinaweibosso://login?redirect_uri=http%3A%2F%2Fexample.test%2Fsina%2Fcallback&callback_uri=" + kAnswerScheme +
                "%3A%2F%2F");

  answer("access_token=2.00abcdef&uid=1234567&expires_in=3600&user_name=junshi");
  ASSERT_EQ(results_.size(), 1u);
  EXPECT_EQ(results_[0]->responseCode, 200);
  ASSERT_TRUE(results_[0]->data);
  const os::Value& stored = (*results_[0]->data)["sina"];
  EXPECT_EQ(stored["usid"].stringOr(), "1234567");
  EXPECT_EQ(stored["accessToken"].stringOr(), "2.00abcdef");
  EXPECT_TRUE(OBSocialAccountManager::isOauthAndTokenNotExpired("sina"));
  // The accounts fetched after the upload are not an operation of the application's.
  EXPECT_FALSE(OBSocialOpAnalytics::shareInstance()->opDictionary().contains("20"))
      << os::Value(OBSocialOpAnalytics::shareInstance()->opDictionary()).description();
  EXPECT_TRUE(OBSocialOpAnalytics::shareInstance()->opDictionary().contains("4-11"));
  // One answer per wait.
  EXPECT_FALSE(OBSocialSnsHandler::shareInstance()->currentSnsHandler());
}

// The reader asks for a login through Sina Weibo, comes back without answering and asks again:
// the application answers the newest only, so the first login's caller hears at once that it
// ended, and the application's answer signs in the second, once.
TEST_F(SinaHandlerTest, ASecondLoginBeforeTheAnswerEndsTheFirstForItsCallerOnly) {
  login();
  std::vector<std::shared_ptr<OBSocialResponseEntity>> second;
  OBSocialSnsPlatformManager::getSocialPlatformWithName("sina")->loginClickHandler(
      nullptr, service_, true,
      [&second](const std::shared_ptr<OBSocialResponseEntity>& r) { second.push_back(r); });
  os::RunLoop::main()->runUntilIdle();
  EXPECT_EQ(weibo_->openedURLs().size(), 2u);
  ASSERT_EQ(results_.size(), 1u);
  EXPECT_EQ(results_[0]->responseCode, 5052);
  EXPECT_TRUE(second.empty());

  weibo_->openURL(kAnswerScheme + "://sso?access_token=2.00abcdef&uid=1234567&expires_in=3600");
  ASSERT_TRUE(settle([&] { return !second.empty(); }));
  EXPECT_EQ(second.size(), 1u);
  EXPECT_EQ(second[0]->responseCode, 200);
  EXPECT_EQ(results_.size(), 1u);
  EXPECT_TRUE(OBSocialAccountManager::isOauthAndTokenNotExpired("sina"));
}

// A login waits for the Sina Weibo application while the reader shares to the messenger, whose
// share now holds the dispatcher's wait. Each application's answer still reaches its own caller,
// once: the login signs in, and the share ends with the messenger's word.
TEST_F(SinaHandlerTest, ALoginStillHearsItsAnswerAfterAShareToAnotherApplication) {
  const std::string wxAppId = "wx5a1c0ffee";
  sandbox_.setInfoDictionary(os::Dictionary{
      {"CFBundleIdentifier", "com.example.newsreader"},
      {"CFBundleURLTypes", os::Array{os::Dictionary{{"CFBundleURLSchemes", os::Array{kAnswerScheme, wxAppId}}}}}});
  os::Bundle::mainBundle()->reload();
  app_->registerURLSchemes({wxAppId});
  wechat_test::WeChatPeer messenger(sandbox_);
  OBSocialWechatHandler::setWXAppId(wxAppId, "secret", std::string("http://n/1"));

  login();
  ASSERT_EQ(weibo_->openedURLs().size(), 1u);
  const auto sharer = shareFromOwnServices("wxsession", 1).front();
  ASSERT_EQ(messenger.openedWith().size(), 1u);

  answer("access_token=2.00abcdef&uid=1234567&expires_in=3600");
  ASSERT_EQ(results_.size(), 1u);
  EXPECT_EQ(results_[0]->responseCode, 200);
  EXPECT_TRUE(OBSocialAccountManager::isOauthAndTokenNotExpired("sina"));
  EXPECT_TRUE(sharer->codes.empty());

  messenger.answer(wxAppId, os::Dictionary{{"command", os::Value("2010")}, {"result", os::Value("0")},
                                           {"returnFromApp", os::Value("1")}});
  EXPECT_EQ(sharer->codes, std::vector<int>{200});
  // A second answer of the Sina Weibo application finds no login waiting.
  weibo_->openURL(kAnswerScheme + "://sso?access_token=other&uid=99&expires_in=3600");
  os::RunLoop::main()->runUntilIdle();
  EXPECT_EQ(results_.size(), 1u);
  EXPECT_EQ(OBSocialAccountManager::socialAccountDictionary().at("sina")->usid, "1234567");
  EXPECT_FALSE(OBSocialSnsHandler::shareInstance()->currentSnsHandler());
}

// The request's values arrive whole, whatever they hold.
TEST_F(SinaHandlerTest, TheRequestCarriesARedirectWithAQueryWhole) {
  OBSocialSinaHandler::openSSOWithRedirectURL("http://x/cb?a=1&b=2");
  login();
  ASSERT_EQ(weibo_->openedURLs().size(), 1u);
  std::map<std::string, std::string> values;
  for (const auto& [key, value] : weibo_->openedURLs()[0].url.queryItems()) values[key] = value;
  EXPECT_EQ(values.size(), 2u);
  EXPECT_EQ(values["redirect_uri"], "http://x/cb?a=1&b=2");
  EXPECT_EQ(values["callback_uri"], kAnswerScheme + "://");
}

// The application may answer in the fragment, as a web page would.
TEST_F(SinaHandlerTest, AnAnswerInTheFragmentSignsIn) {
  login();
  weibo_->openURL(kAnswerScheme + "://sso#access_token=2.00fragment&uid=7654321&expires_in=3600");
  ASSERT_TRUE(settle([this] { return !results_.empty(); }));
  ASSERT_EQ(results_.size(), 1u);
  EXPECT_EQ(results_[0]->responseCode, 200);
  EXPECT_EQ((*results_[0]->data)["sina"]["usid"].stringOr(), "7654321");
  auto stored = OBSocialAccountManager::socialAccountDictionary()["sina"];
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->accessToken.value_or(""), "2.00fragment");
  EXPECT_TRUE(OBSocialAccountManager::isOauthAndTokenNotExpired("sina"));
}

TEST_F(SinaHandlerTest, ARefusalOrAnAnswerWithoutAnAccountSignsNobodyIn) {
  for (const std::string query : {"error=user_cancelled&error_code=21330", "uid=1234567", "access_token=t&uid="}) {
    results_.clear();
    login();
    answer(query);
    ASSERT_EQ(results_.size(), 1u) << query;
    EXPECT_EQ(results_[0]->responseCode, 5052) << query;
  }
  EXPECT_FALSE(OBSocialAccountManager::isOauthAndTokenNotExpired("sina"));
  // The lifetime must be a positive number of seconds to count.
  auto account = OBSocialSinaHandler::accountOf({{"access_token", "t"}, {"uid", "1"}, {"expires_in", "-5"}});
  ASSERT_TRUE(account);
  EXPECT_FALSE(account->expirationDate);
  EXPECT_FALSE(OBSocialSinaHandler::accountOf({{"access_token", "t"}, {"uid", "1"}, {"error", "denied"}}));
}

}  // namespace
