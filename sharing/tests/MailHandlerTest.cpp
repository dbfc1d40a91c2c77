#include <algorithm>
#include <initializer_list>

#include "os/graphics/Image.h"
#include "os/console/TouchDriver.h"
#include "os/testing/ScreenHelpers.h"
#include "os/views/AlertView.h"
#include "os/views/Application.h"
#include "os/views/Device.h"
#include "os/views/MessageComposeViewController.h"
#include "os/views/SocialComposeViewController.h"
#include "os/views/NavigationController.h"
#include "os/views/Screen.h"
#include "os/views/Window.h"
#include "sharing/handlers/OBSocialMailHandler.h"
#include "sharing/screens/OBSocialControllerService.h"
#include "sharing/service/OBSocialData.h"
#include "sharing/service/OBSocialDataService.h"
#include "sharing/service/OBSocialResponseEntity.h"
#include "sharing/service/OBSocialSnsPlatform.h"
#include "sharing/service/OBSocialSnsPlatformManager.h"
#include "sharing/service/OBSocialUIDelegate.h"
#include "sharing/tests/ServiceFixture.h"

namespace {

class MailHandlerTest : public ServiceFixture {
 protected:
  void SetUp() override {
    ServiceFixture::SetUp();
    app_->makeShared();
    window_ = os::testing::showKeyWindow(screen_);
    os::MailComposeViewController::clearMailboxes();
    service_->setSocialUIDelegate(outcomes_);
  }
  void TearDown() override {
    os::testing::hideKeyWindow(window_);
    ServiceFixture::TearDown();
  }
  std::shared_ptr<os::MailComposeViewController> pickEmail() {
    OBSocialSnsPlatformManager::getSocialPlatformWithName("email")->snsClickHandler(screen_, service_, true);
    os::TouchDriver::settle();
    return std::dynamic_pointer_cast<os::MailComposeViewController>(screen_->presentedViewController());
  }
  int shares() const {
    auto all = server_.requests();
    return static_cast<int>(std::count_if(all.begin(), all.end(), [](const auto& r) { return r.action == 5; }));
  }
  // A share to each platform through the data service, with no screen to show a composer on:
  // each caller hears at once that nothing went.
  void expectEachAnswersAtOnceThatNothingWent(std::initializer_list<const char*> platforms) {
    auto data = OBSocialDataService::defaultDataService();
    for (const std::string name : platforms) {
      std::vector<int> codes;
      data->postSNSWithTypes(
          {name}, std::string("无处可显"), nullptr, std::nullopt, nullptr, nullptr,
          [&codes](const std::shared_ptr<OBSocialResponseEntity>& r) { codes.push_back(r->responseCode); });
      os::RunLoop::main()->runUntilIdle();
      EXPECT_EQ(codes, std::vector<int>{5054}) << name;
    }
  }

  std::shared_ptr<os::Application> app_ = os::Application::create(nullptr);
  std::shared_ptr<os::Window> window_;
  std::shared_ptr<os::ViewController> screen_ = std::make_shared<os::ViewController>();
  std::shared_ptr<OBSocialControllerService> service_ = OBSocialControllerService::defaultControllerService();
  std::shared_ptr<Outcomes> outcomes_ = std::make_shared<Outcomes>();
};

TEST_F(MailHandlerTest, MailCarriesEscapedTextAndTheImageLinkOrAJPEG) {
  auto data = service_->socialData();
  data->setShareText("a<b & \"c\"");
  data->setShareImage(os::Image::create(os::Bitmap(4, 4)));
  auto composer = pickEmail();
  ASSERT_TRUE(composer);
  EXPECT_EQ(composer->message().subject, "分享给你");
  EXPECT_EQ(composer->message().body, "a&lt;b &amp; &quot;c&quot;");
  ASSERT_EQ(composer->message().attachments.size(), 1u);
  EXPECT_EQ(composer->message().attachments[0].mimeType, "image/jpeg");
  composer->cancel(false);
  os::TouchDriver::settle();

  data->setUrlResource(OBSocialUrlResource::initWithSnsResourceType(1, "http://img/a.jpg?x='1'"));
  composer = pickEmail();
  ASSERT_TRUE(composer);
  const std::string& body = composer->message().body;
  const std::string tail = "<br><img src='http://img/a.jpg?x=&#39;1&#39;'>";
  ASSERT_GE(body.size(), tail.size());
  EXPECT_EQ(body.substr(body.size() - tail.size()), tail);
  EXPECT_TRUE(composer->message().attachments.empty());
  composer->cancel(false);
  os::TouchDriver::settle();
  EXPECT_EQ(outcomes_->codes, (std::vector<int>{5052, 5052}));
}

TEST_F(MailHandlerTest, ADraftReportsOneAndASentMailIsRecordedWithTheService) {
  service_->socialData()->setShareText("看看");
  auto composer = pickEmail();
  ASSERT_TRUE(composer);
  composer->cancel(true);
  os::TouchDriver::settle();
  composer = pickEmail();
  ASSERT_TRUE(composer);
  composer->send();
  ASSERT_TRUE(settle([&] { return shares() == 1; }));
  EXPECT_EQ(outcomes_->codes, (std::vector<int>{1, 200}));
  EXPECT_FALSE(screen_->presentedViewController());
}

// A text message: the body is the share text; cancelled reports 5052 with its text, a failure its
// own code 2, and a sent one 200 after the share is recorded with the service.
TEST_F(MailHandlerTest, TextMessageOutcomes) {
  auto data = service_->socialData();
  data->setShareText("短信分享");
  data->extConfig()->smsData->shareText = "短信自己的";
  auto pickSms = [this] {
    OBSocialSnsPlatformManager::getSocialPlatformWithName("sms")->snsClickHandler(screen_, service_, true);
    os::TouchDriver::settle();
    return std::dynamic_pointer_cast<os::MessageComposeViewController>(screen_->presentedViewController());
  };
  auto composer = pickSms();
  ASSERT_TRUE(composer);
  EXPECT_EQ(composer->message().body, "短信自己的");
  composer->cancel();
  os::TouchDriver::settle();
  EXPECT_FALSE(screen_->presentedViewController());
  composer = pickSms();
  ASSERT_TRUE(composer);
  composer->fail();
  os::TouchDriver::settle();
  EXPECT_EQ(outcomes_->codes, (std::vector<int>{5052, 2}));
  EXPECT_EQ(shares(), 0);
  composer = pickSms();
  ASSERT_TRUE(composer);
  composer->send();
  ASSERT_TRUE(settle([&] { return shares() == 1; }));
  EXPECT_EQ(outcomes_->codes, (std::vector<int>{5052, 2, 200}));
  EXPECT_FALSE(screen_->presentedViewController());
}

// Each composer carries its own share. With an e-mail composer up, a text message asked for on
// the same screen cannot be shown there, and its caller is told so; the e-mail's outcome then
// reaches the e-mail's caller, not the caller of the composer built after it.
TEST_F(MailHandlerTest, EachComposersOutcomeReachesItsOwnCaller) {
  auto data = OBSocialDataService::defaultDataService();
  std::vector<std::string> heard;
  auto caller = [&heard](std::string who) {
    return [&heard, who](const std::shared_ptr<OBSocialResponseEntity>& r) {
      std::string platform = r->data && !r->data->empty() ? r->data->entries().front().first : "";
      heard.push_back(who + " " + std::to_string(r->responseCode) + " " + platform);
    };
  };
  data->postSNSWithTypes({"email"}, std::string("邮件"), nullptr, std::nullopt, nullptr, screen_, caller("mail"));
  os::TouchDriver::settle();
  auto composer = std::dynamic_pointer_cast<os::MailComposeViewController>(screen_->presentedViewController());
  ASSERT_TRUE(composer);
  data->postSNSWithTypes({"sms"}, std::string("短信"), nullptr, std::nullopt, nullptr, screen_, caller("sms"));
  os::TouchDriver::settle();
  EXPECT_EQ(screen_->presentedViewController(), composer);
  composer->send();
  ASSERT_TRUE(settle([&] { return shares() == 1; }));
  os::TouchDriver::settle();
  EXPECT_EQ(heard, (std::vector<std::string>{"sms 5054 sms", "mail 200 email"}));
  EXPECT_FALSE(screen_->presentedViewController());
  // The share recorded with the service is the e-mail's own text.
  auto all = server_.requests();
  auto recorded = std::find_if(all.begin(), all.end(), [](const auto& r) { return r.action == 5; });
  ASSERT_NE(recorded, all.end());
  EXPECT_EQ(recorded->parameters["ct"].stringOr(), "邮件");
}

// Facebook and Twitter go through the system's compose screen, which needs an account on the
// device.
TEST_F(MailHandlerTest, SocialComposeNeedsASystemAccountAndReportsItsOutcome) {
  service_->socialData()->setShareText("新闻");
  OBSocialSnsPlatformManager::getSocialPlatformWithName("twitter")->snsClickHandler(screen_, service_, true);
  os::TouchDriver::settle();
  EXPECT_EQ(outcomes_->codes, std::vector<int>{5053});
  EXPECT_FALSE(os::AlertView::visibleAlertViews().empty());
  ASSERT_TRUE(os::TouchDriver::pressAlertButton(0));

  auto profile = os::Device::current().profile();
  profile.socialAccounts = {"com.apple.social.facebook"};
  os::DeviceProfileScope withAccount(profile);
  OBSocialSnsPlatformManager::getSocialPlatformWithName("facebook")->snsClickHandler(screen_, service_, true);
  os::TouchDriver::settle();
  auto composer = std::dynamic_pointer_cast<os::SocialComposeViewController>(screen_->presentedViewController());
  ASSERT_TRUE(composer);
  EXPECT_EQ(composer->post().text, "新闻");
  composer->cancel();
  os::TouchDriver::settle();
  EXPECT_EQ(outcomes_->codes, (std::vector<int>{5053, 5052}));
  EXPECT_EQ(shares(), 0);
}

// A share through the compose screen asked of a data service: the controller service it makes is
// gone from the caller's hands, yet the screen's outcome reaches the caller's completion, once.
TEST_F(MailHandlerTest, AComposeShareAskedOfTheDataServiceHearsTheOutcomeOnce) {
  auto profile = os::Device::current().profile();
  profile.socialAccounts = {"com.apple.social.facebook", "com.apple.social.twitter"};
  os::DeviceProfileScope withAccounts(profile);
  for (const std::string name : {"facebook", "twitter"}) {
    std::vector<std::shared_ptr<OBSocialResponseEntity>> heard;
    auto data = std::make_shared<OBSocialDataService>(std::make_shared<OBSocialData>("article-" + name));
    data->postSNSWithTypes({name}, std::string("新闻"), nullptr, std::nullopt, nullptr, screen_,
                           [&heard](const std::shared_ptr<OBSocialResponseEntity>& r) { heard.push_back(r); });
    os::TouchDriver::settle();
    auto composer = std::dynamic_pointer_cast<os::SocialComposeViewController>(screen_->presentedViewController());
    ASSERT_TRUE(composer) << name;
    EXPECT_EQ(composer->post().text, "新闻");
    composer->send();
    ASSERT_TRUE(settle([&] { return !heard.empty(); })) << name;
    os::TouchDriver::settle();
    ASSERT_EQ(heard.size(), 1u) << name;
    EXPECT_EQ(heard[0]->responseCode, 200) << name;
    ASSERT_TRUE(heard[0]->data) << name;
    EXPECT_TRUE(heard[0]->data->contains(name)) << name;
    EXPECT_FALSE(screen_->presentedViewController()) << name;
  }
}

// With no screen to show the composer on, the share's caller hears at once that nothing went, as
// when the composer is refused, and nothing of the share is held afterwards.
TEST_F(MailHandlerTest, AComposeShareWithNoScreenAnswersAtOnceAndHoldsNothing) {
  auto shared = OBSocialData::defaultData();
  // The service holds the shared data too: it is made first, so the count is of the shares alone.
  [[maybe_unused]] auto data = OBSocialDataService::defaultDataService();
  const long held = shared.use_count();
  expectEachAnswersAtOnceThatNothingWent({"email", "sms"});
  EXPECT_EQ(shared.use_count(), held);
  // The platform picked on the shared screens with no screen to show on: their caller hears it.
  OBSocialSnsPlatformManager::getSocialPlatformWithName("sms")->snsClickHandler(nullptr, service_, true);
  EXPECT_EQ(outcomes_->codes, std::vector<int>{5054});
  EXPECT_EQ(shares(), 0);
}

// The same for the system's compose screen of Facebook and Twitter: with no screen to show it on,
// or a screen that already shows another, the share's caller hears at once that nothing went,
// and the refused compose screen holds nothing of the share.
TEST_F(MailHandlerTest, ASocialComposeShareWithNowhereToShowAnswersAtOnceAndHoldsNothing) {
  auto profile = os::Device::current().profile();
  profile.socialAccounts = {"com.apple.social.facebook", "com.apple.social.twitter"};
  os::DeviceProfileScope withAccounts(profile);
  const long held = service_.use_count();
  expectEachAnswersAtOnceThatNothingWent({"facebook", "twitter"});
  // Picked on the shared screens while another screen is up over the reader's.
  screen_->presentViewController(std::make_shared<os::ViewController>(), false);
  os::TouchDriver::settle();
  OBSocialSnsPlatformManager::getSocialPlatformWithName("twitter")->snsClickHandler(screen_, service_, true);
  os::TouchDriver::settle();
  EXPECT_EQ(outcomes_->codes, std::vector<int>{5054});
  EXPECT_EQ(service_.use_count(), held);
  EXPECT_EQ(shares(), 0);
}

// A device that cannot send the kind (no mail account, no text messages, a system without the
// social compose screens) opens no composer, so nothing would ever answer: the share's caller
// hears at once, once, that nothing went, and the reader sees why. Through the data service the
// share's completion hears the same.
TEST_F(MailHandlerTest, ADeviceThatCannotSendTheKindAnswersTheCallerOnce) {
  auto profile = os::Device::current().profile();
  profile.canSendMail = false;
  profile.canSendText = false;
  std::erase(profile.frameworks, std::string(os::kSocialFrameworkPath));
  profile.socialAccounts = {"com.apple.social.facebook", "com.apple.social.twitter"};
  os::DeviceProfileScope unable(profile);
  int expected = 0;
  for (const std::string name : {"email", "sms", "facebook", "twitter"}) {
    OBSocialSnsPlatformManager::getSocialPlatformWithName(name)->snsClickHandler(screen_, service_, true);
    os::TouchDriver::settle();
    ++expected;
    EXPECT_EQ(outcomes_->codes, std::vector<int>(expected, 5054)) << name;
    EXPECT_FALSE(screen_->presentedViewController()) << name;
    EXPECT_EQ(os::AlertView::visibleAlertViews().size(), 1u) << name;
    os::testing::dismissVisibleAlerts(0);

    std::vector<int> heard;
    auto data = std::make_shared<OBSocialDataService>(std::make_shared<OBSocialData>("article-" + name));
    data->postSNSWithTypes({name}, std::string("新闻"), nullptr, std::nullopt, nullptr, screen_,
                           [&heard](const std::shared_ptr<OBSocialResponseEntity>& r) { heard.push_back(r->responseCode); });
    os::TouchDriver::settle();
    EXPECT_EQ(heard, std::vector<int>{5054}) << name;
    os::testing::dismissVisibleAlerts(0);
  }
  EXPECT_EQ(shares(), 0);
}

// A composer's outcome goes to the caller whose composer it is, though the facade has served
// another caller on the same screens since it was opened.
TEST_F(MailHandlerTest, AComposersOutcomeReachesTheCallerThatOpenedIt) {
  auto composer = pickEmail();
  ASSERT_TRUE(composer);
  auto later = std::make_shared<Outcomes>();
  OBSocialSnsService::presentSnsIconSheetView(screen_, std::nullopt, "另一条", nullptr, std::vector<std::string>{"sina"}, later);
  composer->cancel(false);
  os::TouchDriver::settle();
  EXPECT_EQ(outcomes_->codes, std::vector<int>{5052});
  EXPECT_TRUE(later->codes.empty());

  // The same for the system's compose screen of Facebook.
  service_->setSocialUIDelegate(outcomes_);
  auto profile = os::Device::current().profile();
  profile.socialAccounts = {"com.apple.social.facebook"};
  os::DeviceProfileScope withAccount(profile);
  OBSocialSnsPlatformManager::getSocialPlatformWithName("facebook")->snsClickHandler(screen_, service_, true);
  os::TouchDriver::settle();
  auto social = std::dynamic_pointer_cast<os::SocialComposeViewController>(screen_->presentedViewController());
  ASSERT_TRUE(social);
  service_->setSocialUIDelegate(later);
  social->cancel();
  os::TouchDriver::settle();
  EXPECT_EQ(outcomes_->codes, (std::vector<int>{5052, 5052}));
  EXPECT_TRUE(later->codes.empty());
}

}  // namespace
