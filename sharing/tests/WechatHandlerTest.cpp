#include <gtest/gtest.h>

#include "os/views/Application.h"
#include "platforms/tests/wechat/WeChatPeer.h"
#include "sharing/handlers/OBSocialSnsHandler.h"
#include "sharing/handlers/OBSocialWechatHandler.h"
#include "sharing/screens/OBSocialControllerService.h"
#include "sharing/service/OBSocialData.h"
#include "sharing/service/OBSocialResponseEntity.h"
#include "sharing/service/OBSocialSnsPlatform.h"
#include "sharing/service/OBSocialSnsPlatformManager.h"
#include "sharing/service/OBSocialSnsService.h"
#include "sharing/service/OBSocialUIDelegate.h"
#include "sharing/tests/ServiceFixture.h"

namespace {

const std::string kAppId = "wx5a1c0ffee";

class WechatHandlerTest : public ServiceFixture {
 protected:
  void SetUp() override {
    ServiceFixture::SetUp();
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

}  // namespace
