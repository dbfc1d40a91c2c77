#include <algorithm>

#include "os/graphics/Image.h"
#include "os/runtime/NotificationCenter.h"
#include "os/console/ScreenDump.h"
#include "os/console/TouchDriver.h"
#include "os/views/Application.h"
#include "os/views/Button.h"
#include "os/views/Label.h"
#include "os/views/Screen.h"
#include "os/views/NavigationController.h"
#include "os/views/Window.h"
#include "sharing/screens/OBSOauthViewController.h"
#include "sharing/screens/OBShareEditViewController.h"
#include "sharing/screens/OBSocialControllerService.h"
#include "sharing/screens/OBSocialIconActionSheet.h"
#include "sharing/service/OBSUserManager.h"
#include "sharing/service/OBSocialAccountEntity.h"
#include "sharing/service/OBSocialAccountManager.h"
#include "sharing/service/OBSocialConfig.h"
#include "sharing/service/OBSocialData.h"
#include "sharing/service/OBSocialDataService.h"
#include "sharing/service/OBSocialSnsService.h"
#include "sharing/service/OBSocialUIDelegate.h"
#include "sharing/tests/ServiceFixture.h"
#include "sharing/widgets/OBSocialXToast.h"

namespace {

class Caller : public OBSocialUIDelegate {
 public:
  void didCloseUIViewController(int type) override { closed.push_back(type); }
  void didFinishGetOBSocialDataInViewController(const std::shared_ptr<OBSocialResponseEntity>& response) override {
    responses.push_back(response);
  }
  void didSelectSocialPlatform(const std::string& name, const std::shared_ptr<OBSocialData>&) override {
    selected.push_back(name);
  }
  bool isDirectShareInIconActionSheet() override { return direct; }
  bool direct = false;
  std::vector<int> closed;
  std::vector<std::string> selected;
  std::vector<std::shared_ptr<OBSocialResponseEntity>> responses;
};

class ScreensTest : public ServiceFixture {
 protected:
  void SetUp() override {
    ServiceFixture::SetUp();
    sandbox_.writeBundleFile("OBSocialLocalizable.strings",
                             "\"sina\" = \"新浪微博\";\n\"qzone\" = \"QQ空间\";\n\"button_close\" = \"关闭\";\n"
                             "\"button_send\" = \"发布\";\n\"shareEdit_post_finish\" = \"分享成功\";\n");
    app_->makeShared();
    navigation_ = std::make_shared<os::NavigationController>(screen_);
    window_->setRootViewController(navigation_);
    window_->makeKeyAndVisible();
    os::TouchDriver::settle();
  }
  void TearDown() override {
    window_->setHidden(true);
    ServiceFixture::TearDown();
  }
  std::vector<int> actions() const {
    std::vector<int> out;
    for (const auto& r : server_.requests()) out.push_back(r.action);
    return out;
  }
  std::shared_ptr<OBSocialIconActionSheet> sheet() const {
    return std::dynamic_pointer_cast<OBSocialIconActionSheet>(window_->viewWithTag(kOBSocialIconActionSheetTag));
  }
  std::shared_ptr<OBSocialAccountEntity> authorise(const std::string& platform) {
    auto account = std::make_shared<OBSocialAccountEntity>(platform);
    account->usid = "42";
    account->accessToken = "t";
    account->expirationDate = os::Date::now().addingTimeInterval(3600);
    OBSocialAccountManager::setSnsAccount(account);
    return account;
  }

  // The sheet's screen sits in a navigation controller, which presents for it.
  std::shared_ptr<os::ViewController> presented() const { return navigation_->presentedViewController(); }

  std::shared_ptr<os::Application> app_ = os::Application::create(nullptr);
  std::shared_ptr<os::Window> window_ = std::make_shared<os::Window>(os::Screen::main().bounds());
  std::shared_ptr<os::ViewController> screen_ = std::make_shared<os::ViewController>();
  std::shared_ptr<os::NavigationController> navigation_;
  std::shared_ptr<Caller> caller_ = std::make_shared<Caller>();
};

TEST(IconSheetGrid, ColumnsGrowUntilTheRowsFitOrTheCellsGetNarrow) {
  auto portrait = OBSocialIconActionSheet::gridFor(7, 320, 460, 110, 320);
  EXPECT_EQ(portrait.columns, 4);
  EXPECT_EQ(portrait.rows, 2);
  auto pad = OBSocialIconActionSheet::gridFor(20, 768, 1004, 110, 320);
  EXPECT_EQ(pad.columns, 5);
  EXPECT_EQ(pad.rows, 4);
  EXPECT_DOUBLE_EQ(pad.cellWidth, 153.6);
  // A fifth column on a phone would be 64 points wide: the search stops there, too tall or not.
  auto narrow = OBSocialIconActionSheet::gridFor(20, 320, 460, 110, 320);
  EXPECT_EQ(narrow.columns, 5);
  EXPECT_DOUBLE_EQ(narrow.cellWidth, 64);
}

TEST_F(ScreensTest, IconSheetLaysOutAtTheBottomAndTheBackdropClosesIt) {
  OBSocialSnsService::presentSnsIconSheetView(screen_, std::nullopt, "分享", nullptr,
                                              std::vector<std::string>{"sina", "qzone", "velmora", "renren", "douban", "email", "sms"},
                                              caller_);
  os::TouchDriver::advance(0.5);
  auto panel = sheet();
  ASSERT_TRUE(panel);
  EXPECT_EQ(panel->columns(), 4);
  EXPECT_EQ(panel->rows(), 2);
  EXPECT_EQ(panel->frame().size.height, 160);
  EXPECT_EQ(panel->frame().origin.y, panel->superview()->bounds().size.height - 160);
  auto sina = panel->viewWithTag(111);
  auto douban = panel->viewWithTag(114);
  auto sms = panel->viewWithTag(119);
  ASSERT_TRUE(sina && douban && sms);
  EXPECT_EQ(sina->frame().origin.x, 0);
  EXPECT_EQ(sina->frame().origin.y, -8);
  EXPECT_EQ(douban->frame().origin.x, 0);
  EXPECT_EQ(douban->frame().origin.y, 72);
  EXPECT_EQ(sms->frame().origin.x, 160);

  ASSERT_TRUE(os::TouchDriver::tap(os::Point{160, 100}));
  os::TouchDriver::advance(0.5);
  EXPECT_FALSE(sheet());
  EXPECT_EQ(caller_->closed, std::vector<int>{10});
  EXPECT_TRUE(caller_->selected.empty());
}

// The share road: the sheet, the platform's name tapped, the service's authorisation page, the
// editor it leads to, and the post.
TEST_F(ScreensTest, TappingAPlatformGoesThroughOAuthToTheEditorAndPosts) {
  int barUpdates = 0;
  auto token = os::NotificationCenter::defaultCenter().addObserver(kOBSocialUpdateSocialBarNotification, nullptr,
                                                                   [&](const os::Notification&) { ++barUpdates; });
  OBSocialSnsService::presentSnsIconSheetView(screen_, std::nullopt, "一条新闻 http://n/1", nullptr,
                                              std::vector<std::string>{"sina", "qzone"}, caller_);
  os::TouchDriver::advance(0.5);
  ASSERT_TRUE(os::TouchDriver::tapText("新浪微博"));
  EXPECT_EQ(caller_->selected, std::vector<std::string>{"sina"});

  std::shared_ptr<OBShareEditViewController> editor;
  ASSERT_TRUE(settle([&] {
    os::TouchDriver::settle();
    auto carrier = std::dynamic_pointer_cast<os::NavigationController>(presented());
    if (carrier) editor = std::dynamic_pointer_cast<OBShareEditViewController>(carrier->topViewController());
    return editor != nullptr;
  }));
  EXPECT_TRUE(OBSocialAccountManager::isOauthAndTokenNotExpired("sina")) << ::testing::PrintToString(actions());
  EXPECT_NE(std::find(actions().begin(), actions().end(), 9), actions().end());
  // The web screen stays below the editor it led to.
  auto carrier = std::dynamic_pointer_cast<os::NavigationController>(presented());
  EXPECT_TRUE(std::dynamic_pointer_cast<OBSOauthViewController>(carrier->viewControllers().front()));
  EXPECT_EQ(editor->text(), "一条新闻 http://n/1");

  editor->itemClicked("@张三");
  EXPECT_EQ(editor->text(), "一条新闻 http://n/1 @张三 ");
  ASSERT_TRUE(editor->postShare());
  ASSERT_TRUE(settle([&] { return barUpdates == 1; }));
  auto sent = server_.requests();
  auto share = std::find_if(sent.begin(), sent.end(), [](const auto& r) { return r.action == 5; });
  ASSERT_NE(share, sent.end());
  EXPECT_EQ(share->parameters["ct"].stringOr(), "一条新闻 http://n/1 @张三 ");
  ASSERT_FALSE(caller_->responses.empty());
  EXPECT_EQ(caller_->responses.back()->responseCode, 200);
  EXPECT_EQ(caller_->responses.back()->viewControllerType, 3);
  os::NotificationCenter::defaultCenter().removeObserver(token);
}

// A caller that shares straight from the sheet: nothing opens, the share goes to the service.
TEST_F(ScreensTest, DirectShareFromTheSheetPostsWithoutAScreen) {
  authorise("sina");
  caller_->direct = true;
  OBSocialSnsService::presentSnsIconSheetView(screen_, std::nullopt, "直接", nullptr, std::vector<std::string>{"sina"},
                                              caller_);
  os::TouchDriver::advance(0.5);
  ASSERT_TRUE(os::TouchDriver::tapText("新浪微博"));
  ASSERT_TRUE(settle([&] { return !caller_->responses.empty(); }));
  EXPECT_FALSE(presented());
  EXPECT_NE(std::find(actions().begin(), actions().end(), 5), actions().end());
}

// With a stored token the direct share posts, refreshes the bar, tells the reader and the bar.
TEST_F(ScreensTest, DirectShareWithAStoredTokenRefreshesTheBarAndToasts) {
  // Stored here and known to the service.
  std::shared_ptr<OBSocialResponseEntity> uploaded;
  OBSocialAccountManager::postSnsAccount(authorise("sina"), [&](const auto& r) { uploaded = r; });
  ASSERT_TRUE(settle([&] { return uploaded != nullptr; }));
  caller_->direct = true;
  int barUpdates = 0;
  auto token = os::NotificationCenter::defaultCenter().addObserver(kOBSocialUpdateSocialBarNotification, nullptr,
                                                                   [&](const os::Notification&) { ++barUpdates; });
  OBSocialSnsService::presentSnsIconSheetView(screen_, std::nullopt, "直接", nullptr, std::vector<std::string>{"sina"},
                                              caller_);
  os::TouchDriver::advance(0.5);
  server_.clearRequests();
  ASSERT_TRUE(os::TouchDriver::tapText("新浪微博"));
  ASSERT_TRUE(settle([&] { return barUpdates == 1; }));
  os::NotificationCenter::defaultCenter().removeObserver(token);
  EXPECT_EQ(actions(), (std::vector<int>{5, 3}));
  os::TouchDriver::advance(0.3);
  EXPECT_TRUE(os::findVisibleText("分享成功")) << os::dumpScreen();
}

TEST_F(ScreensTest, ControllerServiceDetoursThroughAuthorisationAndReportsCancels) {
  auto service = OBSocialControllerService::defaultControllerService();
  service->setSocialUIDelegate(caller_);
  // A platform the editor does not serve opens nothing and leaves no code behind.
  EXPECT_FALSE(service->getSocialShareEditController("qq"));
  EXPECT_TRUE(service->currentViewControllerArray.empty());
  // Not authorised: the OAuth screen comes first, the editor next.
  auto oauth = std::dynamic_pointer_cast<os::NavigationController>(service->getSocialShareEditController("sina"));
  ASSERT_TRUE(oauth);
  EXPECT_TRUE(std::dynamic_pointer_cast<OBSOauthViewController>(oauth->topViewController()));
  EXPECT_EQ(service->nextViewController, 3);
  EXPECT_EQ(service->currentSnsPlatformName, "sina");
  // E-mail's editor comes bare.
  auto mail = service->getSocialShareEditController("email");
  EXPECT_TRUE(std::dynamic_pointer_cast<OBShareEditViewController>(mail));
  EXPECT_EQ(service->currentSnsPlatformName, "sina");

  authorise("sina");
  auto edit = service->getSocialShareEditController("sina");
  screen_->presentViewController(edit, false);
  os::TouchDriver::settle();
  EXPECT_EQ(service->currentViewControllerType, 3);
  // The editor's close button: the caller hears the cancel, then the close.
  auto close = std::dynamic_pointer_cast<os::Button>(
      std::dynamic_pointer_cast<os::NavigationController>(edit)->topViewController()->navigationItem()->leftBarButtonItem()->customView());
  ASSERT_TRUE(close);
  close->sendActionsForControlEvents(os::kControlEventTouchUpInside);
  os::TouchDriver::advance(1);
  auto cancel = std::find_if(caller_->responses.begin(), caller_->responses.end(),
                             [](const auto& r) { return r->responseCode == 5052; });
  ASSERT_NE(cancel, caller_->responses.end());
  EXPECT_EQ((*cancel)->viewControllerType, 3);
  EXPECT_FALSE(caller_->closed.empty());
  EXPECT_FALSE(presented());
}

// Closing a screen stops only its own data's requests, and their callers hear it.
TEST_F(ScreensTest, CloseCancelsOnlyThisServicesQueueAndReportsTheCancel) {
  server_.setFault(3, sharingd::Fault{sharingd::Fault::Kind::Stall, 0});
  auto other = std::make_shared<OBSocialDataService>(std::make_shared<OBSocialData>("another-article"));
  auto service = OBSocialControllerService::defaultControllerService();
  std::shared_ptr<OBSocialResponseEntity> mine, theirs;
  service->socialDataService()->requestSocialDataWithCompletion([&](const auto& r) { mine = r; });
  OBSDataManager::getDataManager("another-article")->requestBarInfo([&](const auto& r) { theirs = r; });
  service->setCurrentViewControllerType(7);
  service->close();
  ASSERT_TRUE(mine);
  EXPECT_EQ(mine->responseCode, 5052);
  EXPECT_FALSE(theirs);
  server_.clearFaults();
  ASSERT_TRUE(settle([&] { return theirs != nullptr; }));
}

TEST_F(ScreensTest, RequestsThatCannotBeBuiltStillComplete) {
  OBSDataManagerSet::shareInstance()->setAppkey("");
  std::shared_ptr<OBSocialResponseEntity> bar, friends;
  OBSocialDataService::defaultDataService()->requestSocialDataWithCompletion([&](const auto& r) { bar = r; });
  OBSocialDataService::defaultDataService()->requestSnsFriends("wxsession", [&](const auto& r) { friends = r; });
  ASSERT_TRUE(bar && friends);
  EXPECT_EQ(bar->responseCode, 5054);
  EXPECT_EQ(friends->responseCode, 5054);
  // Not authorised, and no screen to log in from.
  std::shared_ptr<OBSocialResponseEntity> shared;
  OBSocialShareRequest request;
  request.snsType = "sina";
  request.completion = [&](const auto& r) { shared = r; };
  OBSocialDataService::defaultDataService()->postSnsWithDictionary(request);
  ASSERT_TRUE(shared);
  EXPECT_EQ(shared->responseCode, 510);
}

}  // namespace
