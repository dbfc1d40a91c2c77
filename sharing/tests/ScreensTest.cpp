#include <algorithm>

#include "os/core/String.h"
#include "os/graphics/Image.h"
#include "os/runtime/NotificationCenter.h"
#include "os/console/ScreenDump.h"
#include "os/console/TouchDriver.h"
#include "os/testing/Collect.h"
#include "os/testing/HttpTestServer.h"
#include "os/testing/NotificationCounter.h"
#include "os/testing/ScreenHelpers.h"
#include "os/views/Application.h"
#include "os/views/Button.h"
#include "os/views/Label.h"
#include "os/views/Screen.h"
#include "os/views/MailComposeViewController.h"
#include "os/views/NavigationController.h"
#include "os/views/Window.h"
#include "sharing/screens/OBSOauthViewController.h"
#include "sharing/screens/OBSShareListController.h"
#include "sharing/screens/OBSocialFriendViewController.h"
#include "sharing/screens/OBShareEditViewController.h"
#include "sharing/screens/OBSViewControllerFactory.h"
#include "sharing/screens/OBSocialControllerService.h"
#include "sharing/handlers/OBSocialWechatHandler.h"
#include "sharing/screens/OBSocialIconActionSheet.h"
#include "sharing/service/OBSBarEntity.h"
#include "sharing/service/OBSUserManager.h"
#include "sharing/service/OBSocialAccountEntity.h"
#include "sharing/service/OBSocialAccountManager.h"
#include "sharing/service/OBSocialConfig.h"
#include "sharing/service/OBSocialData.h"
#include "sharing/service/OBSocialDataService.h"
#include "sharing/service/OBSocialSnsPlatform.h"
#include "sharing/service/OBSocialSnsPlatformManager.h"
#include "sharing/service/OBSocialSnsService.h"
#include "sharing/service/OBSocialUIDelegate.h"
#include "sharing/tests/ServiceFixture.h"
#include "tools/sharingd/server/SharingWire.h"
#include "sharing/widgets/OBSocialXToast.h"
#include "ui/widgets/KHProgressHUD.h"

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
                             "\"button_send\" = \"发布\";\n\"shareEdit_post_finish\" = \"分享成功\";\n"
                             "\"shareList_title\" = \"分享到\";\n\"shareEdit_used\" = \"最近\";\n\"shareEdit_C\" = \"其他\";\n");
    app_->makeShared();
    navigation_ = std::make_shared<os::NavigationController>(screen_);
    window_ = os::testing::showKeyWindow(navigation_);
    os::TouchDriver::settle();
  }
  void TearDown() override {
    os::testing::hideKeyWindow(window_);
    ServiceFixture::TearDown();
  }
  std::vector<int> actions() const {
    return os::testing::collect<int>(server_.requests(), [](const auto& r) { return r.action; });
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

  // Signed in to sina, the controller service's editor for `text`, on screen.
  std::shared_ptr<OBShareEditViewController> openSinaEditor(const std::string& text) {
    authorise("sina");
    auto service = OBSocialControllerService::defaultControllerService();
    service->socialData()->setShareText(text);
    auto carrier = std::dynamic_pointer_cast<os::NavigationController>(service->getSocialShareEditController("sina"));
    if (!carrier) return nullptr;
    screen_->presentViewController(carrier, false);
    os::TouchDriver::settle();
    return std::dynamic_pointer_cast<OBShareEditViewController>(carrier->topViewController());
  }

  // The sheet's screen sits in a navigation controller, which presents for it.
  std::shared_ptr<os::ViewController> presented() const { return navigation_->presentedViewController(); }
  // The sign-in page on top of what is presented over the screen, once the touch driver settles.
  bool signInPageShows() const {
    os::TouchDriver::settle();
    auto carrier = std::dynamic_pointer_cast<os::NavigationController>(presented());
    return carrier && std::dynamic_pointer_cast<OBSOauthViewController>(carrier->topViewController());
  }

  std::shared_ptr<os::Application> app_ = os::Application::create(nullptr);
  std::shared_ptr<os::Window> window_;
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
  os::testing::NotificationCounter barUpdates(kOBSocialUpdateSocialBarNotification);
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
  const auto asked = actions();
  EXPECT_NE(std::find(asked.begin(), asked.end(), 9), asked.end());
  // The web screen stays below the editor it led to.
  auto carrier = std::dynamic_pointer_cast<os::NavigationController>(presented());
  EXPECT_TRUE(std::dynamic_pointer_cast<OBSOauthViewController>(carrier->viewControllers().front()));
  EXPECT_EQ(editor->text(), "一条新闻 http://n/1");

  editor->itemClicked("@张三");
  EXPECT_EQ(editor->text(), "一条新闻 http://n/1 @张三 ");
  ASSERT_TRUE(editor->postShare());
  ASSERT_TRUE(settle([&] { return barUpdates.count() == 1; }));
  auto sent = server_.requests();
  auto share = std::find_if(sent.begin(), sent.end(), [](const auto& r) { return r.action == 5; });
  ASSERT_NE(share, sent.end());
  EXPECT_EQ(share->parameters["ct"].stringOr(), "一条新闻 http://n/1 @张三 ");
  ASSERT_FALSE(caller_->responses.empty());
  EXPECT_EQ(caller_->responses.back()->responseCode, 200);
  EXPECT_EQ(caller_->responses.back()->viewControllerType, 3);
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
  const auto sent = actions();
  EXPECT_NE(std::find(sent.begin(), sent.end(), 5), sent.end());
}

// With a stored token the direct share posts, refreshes the bar, tells the reader and the bar.
TEST_F(ScreensTest, DirectShareWithAStoredTokenRefreshesTheBarAndToasts) {
  // Stored here and known to the service.
  std::shared_ptr<OBSocialResponseEntity> uploaded;
  OBSocialAccountManager::postSnsAccount(authorise("sina"), [&](const auto& r) { uploaded = r; });
  ASSERT_TRUE(settle([&] { return uploaded != nullptr; }));
  caller_->direct = true;
  os::testing::NotificationCounter barUpdates(kOBSocialUpdateSocialBarNotification);
  OBSocialSnsService::presentSnsIconSheetView(screen_, std::nullopt, "直接", nullptr, std::vector<std::string>{"sina"},
                                              caller_);
  os::TouchDriver::advance(0.5);
  server_.clearRequests();
  ASSERT_TRUE(os::TouchDriver::tapText("新浪微博"));
  ASSERT_TRUE(settle([&] { return barUpdates.count() == 1; }));
  EXPECT_EQ(actions(), (std::vector<int>{5, 3}));
  os::TouchDriver::advance(0.3);
  EXPECT_TRUE(os::findVisibleText("分享成功")) << os::dumpScreen();
}

// A direct share to a platform that signs in on a web page and is not signed in yet: the sign-in
// page opens first, and the share goes out after it.
TEST_F(ScreensTest, DirectShareWithoutATokenSignsInThenPosts) {
  caller_->direct = true;
  os::testing::NotificationCounter barUpdates(kOBSocialUpdateSocialBarNotification);
  OBSocialSnsService::presentSnsIconSheetView(screen_, std::nullopt, "直接", nullptr, std::vector<std::string>{"sina"},
                                              caller_);
  os::TouchDriver::advance(0.5);
  ASSERT_TRUE(os::TouchDriver::tapText("新浪微博"));
  // The login's completion comes half a second after the sign-in page has answered.
  ASSERT_TRUE(settle([&] {
    os::TouchDriver::advance(0.1);
    return barUpdates.count() == 1;
  })) << ::testing::PrintToString(actions());
  EXPECT_TRUE(OBSocialAccountManager::isOauthAndTokenNotExpired("sina"));
  // Only the sign-in screen's web view asks for the authorisation page (action 9). The screen itself
  // may come and go between two looks at the screen, so the page's request is what shows it opened.
  auto sent = actions();
  auto signIn = std::find(sent.begin(), sent.end(), 9);
  auto share = std::find(sent.begin(), sent.end(), 5);
  ASSERT_NE(signIn, sent.end());
  ASSERT_NE(share, sent.end());
  EXPECT_LT(signIn, share);
  ASSERT_FALSE(caller_->responses.empty());
  EXPECT_EQ(caller_->responses.back()->responseCode, 200);

  // The same through the data service's own entry, for another platform of the service's.
  std::shared_ptr<OBSocialResponseEntity> shared;
  server_.clearRequests();
  OBSocialDataService::defaultDataService()->postSNSWithTypes({"renren"}, "人人", nullptr, std::nullopt, nullptr, screen_,
                                                              [&](const auto& r) { shared = r; });
  ASSERT_TRUE(settle([&] {
    os::TouchDriver::advance(0.1);
    return shared != nullptr;
  }));
  EXPECT_EQ(shared->responseCode, 200);
  EXPECT_TRUE(OBSocialAccountManager::isOauthAndTokenNotExpired("renren"));
  EXPECT_EQ(server_.requests().back().parameters["ct"].stringOr(), "人人");
}

// A caller that lets go of its data service while the sign-in page is up still hears how its
// share ended, through either entry: the share goes out once the sign-in has answered.
TEST_F(ScreensTest, ACallerThatLetsItsServiceGoDuringTheSignInStillHearsItsShare) {
  for (const bool viaDictionary : {false, true}) {
    if (viaDictionary) {
      auto users = OBSUserManager::shareInstance();
      auto accounts = users->snsAccountDictionary();
      accounts.erase("renren");
      users->setSnsAccountDictionary(accounts);
    }
    ASSERT_FALSE(OBSocialAccountManager::isOauthAndTokenNotExpired("renren"));
    server_.clearRequests();
    std::vector<std::shared_ptr<OBSocialResponseEntity>> heard;
    auto service = std::make_shared<OBSocialDataService>(std::make_shared<OBSocialData>("its-own"));
    if (viaDictionary) {
      OBSocialShareRequest request;
      request.snsType = "renren";
      request.content = "甩手";
      request.controller = screen_;
      request.completion = [&](const auto& r) { heard.push_back(r); };
      service->postSnsWithDictionary(request);
    } else {
      service->postSNSWithTypes({"renren"}, "甩手", nullptr, std::nullopt, nullptr, screen_,
                                [&](const auto& r) { heard.push_back(r); });
    }
    service.reset();
    ASSERT_TRUE(settle([&] {
      os::TouchDriver::advance(0.1);
      return !heard.empty();
    })) << "the caller is never answered" << (viaDictionary ? " (dictionary)" : "");
    os::TouchDriver::advance(1);
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0]->responseCode, 200);
    const auto requests = server_.requests();
    EXPECT_EQ(std::count_if(requests.begin(), requests.end(),
                            [](const auto& r) { return r.parameters["ct"].stringOr() == "甩手"; }),
              1);
    os::TouchDriver::advance(2);
  }
}

// Two direct shares to a platform not signed in, the second asked for before the sign-in page
// answered the first: the first caller hears once that another login took its place, and the
// sign-in and its share are the second caller's.
TEST_F(ScreensTest, ASecondSignInBeforeTheFirstAnsweredEndsTheFirstForItsCallerOnly) {
  server_.setFault(9, sharingd::Fault{sharingd::Fault::Kind::Hold, 0});
  std::vector<std::shared_ptr<OBSocialResponseEntity>> first, second;
  auto service = OBSocialDataService::defaultDataService();
  service->postSNSWithTypes({"renren"}, "第一条", nullptr, std::nullopt, nullptr, screen_,
                            [&](const auto& r) { first.push_back(r); });
  ASSERT_TRUE(settle([&] {
    const auto sent = actions();
    return std::count(sent.begin(), sent.end(), 9) == 1;
  }));
  service->postSNSWithTypes({"renren"}, "第二条", nullptr, std::nullopt, nullptr, screen_,
                            [&](const auto& r) { second.push_back(r); });
  ASSERT_EQ(first.size(), 1u) << "the first caller is never answered";
  EXPECT_EQ(first[0]->responseCode, 5052);
  EXPECT_EQ(first[0]->message, std::string("another login took its place"));
  ASSERT_TRUE(first[0]->data);
  EXPECT_TRUE(first[0]->data->contains("renren"));
  EXPECT_TRUE(second.empty());

  server_.releaseHeld();
  ASSERT_TRUE(settle([&] {
    os::TouchDriver::advance(0.1);
    return !second.empty();
  }));
  os::TouchDriver::advance(1);
  EXPECT_EQ(first.size(), 1u);
  ASSERT_EQ(second.size(), 1u);
  EXPECT_EQ(second[0]->responseCode, 200);
  EXPECT_EQ(server_.requests().back().parameters["ct"].stringOr(), "第二条");
}

// A platform signed in once, whose token has run out: a share to it signs in again first.
void storeExpiredAccount(const std::string& platform) {
  auto account = std::make_shared<OBSocialAccountEntity>(platform);
  account->usid = "42";
  account->accessToken = "old";
  account->expirationDate = os::Date::now().addingTimeInterval(-60);
  OBSocialAccountManager::setSnsAccount(account);
}

// The reader closes the sign-in page that a share to a platform whose token ran out opened: the
// share's caller hears the cancel once, and nothing is shared.
TEST_F(ScreensTest, ClosingTheSignInPageOfAnExpiredAccountEndsTheShareOnce) {
  storeExpiredAccount("renren");
  ASSERT_TRUE(OBSocialAccountManager::isOauthWithPlatform("renren"));
  // The page never answers: only the reader ends the sign-in.
  server_.setFault(9, sharingd::Fault{sharingd::Fault::Kind::Stall, 0});
  std::vector<std::shared_ptr<OBSocialResponseEntity>> heard;
  OBSocialDataService::defaultDataService()->postSNSWithTypes({"renren"}, "过期", nullptr, std::nullopt, nullptr, screen_,
                                                              [&](const auto& r) { heard.push_back(r); });
  ASSERT_TRUE(settle([&] { return signInPageShows(); }));
  ASSERT_TRUE(os::TouchDriver::tapText("关闭"));
  ASSERT_TRUE(settle([&] {
    os::TouchDriver::advance(0.1);
    return !heard.empty();
  })) << "the caller is never answered";
  os::TouchDriver::advance(1);
  ASSERT_EQ(heard.size(), 1u);
  EXPECT_EQ(heard[0]->responseCode, 5052);
  EXPECT_EQ(heard[0]->message.value_or(""), "user cancel the operation");
  EXPECT_FALSE(presented());
  EXPECT_FALSE(OBSocialSnsPlatformManager::getSocialPlatformWithName("renren")->platformInternal()->loginCompletion);
  const auto sent = actions();
  EXPECT_EQ(std::count(sent.begin(), sent.end(), 5), 0);
}

// The same through the icon sheet: the caller's UI delegate hears the cancel once and opens no
// editor.
TEST_F(ScreensTest, ClosingTheSignInPageOfAnExpiredAccountFromTheSheetTellsTheCallerOnce) {
  storeExpiredAccount("renren");
  server_.setFault(9, sharingd::Fault{sharingd::Fault::Kind::Stall, 0});
  OBSocialSnsService::presentSnsIconSheetView(screen_, std::nullopt, "过期", nullptr, std::vector<std::string>{"renren"},
                                              caller_);
  os::TouchDriver::advance(0.5);
  ASSERT_TRUE(os::TouchDriver::tapText("renren"));
  EXPECT_EQ(caller_->selected, std::vector<std::string>{"renren"});
  ASSERT_TRUE(settle([&] { return signInPageShows(); }));
  ASSERT_TRUE(os::TouchDriver::tapText("关闭"));
  ASSERT_TRUE(settle([&] {
    os::TouchDriver::advance(0.1);
    return !caller_->responses.empty();
  })) << "the caller is never answered";
  os::TouchDriver::advance(1);
  ASSERT_EQ(caller_->responses.size(), 1u);
  EXPECT_EQ(caller_->responses[0]->responseCode, 5052);
  EXPECT_EQ(caller_->responses[0]->message.value_or(""), "user cancel the operation");
  EXPECT_FALSE(presented());
  const auto sent = actions();
  EXPECT_EQ(std::count(sent.begin(), sent.end(), 5), 0);
}

// A caller that keeps the sign-in page after it signed in, in place of a run-out token: closing
// it then cancels nothing, the sign-in stands.
TEST_F(ScreensTest, ClosingTheSignInPageAfterASignInReportsNoCancel) {
  class Keeper : public Caller {
   public:
    bool closeOauthWebViewController(const std::shared_ptr<os::NavigationController>&,
                                     const std::shared_ptr<OBSocialControllerService>&) override {
      return true;
    }
  };
  auto keeper = std::make_shared<Keeper>();
  storeExpiredAccount("renren");
  auto service = OBSocialControllerService::defaultControllerService();
  service->setSocialUIDelegate(keeper);
  auto oauth = std::dynamic_pointer_cast<os::NavigationController>(service->getSocialOauthController("renren"));
  ASSERT_TRUE(oauth);
  screen_->presentViewController(oauth, false);
  ASSERT_TRUE(settle([&] {
    os::TouchDriver::settle();
    return !keeper->responses.empty();
  }));
  ASSERT_EQ(keeper->responses.size(), 1u);
  EXPECT_EQ(keeper->responses[0]->responseCode, 200);
  ASSERT_TRUE(OBSocialAccountManager::isOauthAndTokenNotExpired("renren"));
  // Still up: the caller took it over.
  ASSERT_EQ(presented(), oauth);
  ASSERT_TRUE(os::TouchDriver::tapText("关闭"));
  os::TouchDriver::advance(1);
  EXPECT_EQ(keeper->responses.size(), 1u);
  EXPECT_EQ(keeper->closed, std::vector<int>{7});
  EXPECT_FALSE(presented());
}

// A share through a platform's own screen (here the mail composer) shows this share's content,
// reports the screen's result to the caller's completion, and gives the share data its own
// content back.
TEST_F(ScreensTest, ShareWithAScreenReportsTheScreensResult) {
  os::MailComposeViewController::clearMailboxes();
  auto service = OBSocialDataService::defaultDataService();
  service->socialData()->setShareText("原来的");
  std::vector<int> codes;
  service->postSNSWithTypes({"email"}, "屏幕里的", nullptr, std::nullopt, nullptr, screen_,
                            [&](const auto& r) { codes.push_back(r->responseCode); });
  EXPECT_EQ(service->socialData()->shareText(), "原来的");
  os::TouchDriver::settle();
  auto composer = std::dynamic_pointer_cast<os::MailComposeViewController>(presented());
  ASSERT_TRUE(composer);
  EXPECT_EQ(composer->message().body, "屏幕里的");
  composer->send();
  ASSERT_TRUE(settle([&] { return !codes.empty(); }));
  EXPECT_EQ(codes, std::vector<int>{200});
}

// The factory lives as long as the reader: its record of the screens it built keeps the newest
// 100 kinds, however many shares a person starts.
TEST_F(ScreensTest, TheFactoryKeepsTheNewestKindsItBuilt) {
  auto service = std::make_shared<OBSocialControllerService>();
  for (int i = 0; i < 103; ++i) ASSERT_TRUE(service->getSocialViewController(2, std::nullopt));
  ASSERT_TRUE(service->getSocialViewController(9, std::nullopt));
  const auto& kinds = OBSViewControllerFactory::sharedInstance()->createdTypes();
  ASSERT_EQ(kinds.size(), 100u);
  EXPECT_EQ(kinds.front(), 2);
  EXPECT_EQ(kinds.back(), 9);
}

// The service's answer at the end of the sign-in page: recognised by the end of its path, not its
// start; an answer without a usid is a failure; the answer's uid never replaces the reader's.
TEST_F(ScreensTest, SignInAnswerIsRecognisedByItsEndAndReadWithCare) {
  OBSUserManager::shareInstance()->setUid("reader-uid");
  auto service = std::make_shared<OBSocialControllerService>();
  service->setSocialUIDelegate(caller_);
  auto open = [&] {
    service->currentSnsPlatformName = "sina";
    auto screen = std::dynamic_pointer_cast<OBSOauthViewController>(service->getSocialViewController(7, "sina"));
    screen->view();
    return screen;
  };
  auto answer = [&](const std::string& path, os::Dictionary data) {
    std::string body = sharingd::answerBody(200, "ok", data, kTestAppKey);
    return os::URLRequest(server_.baseURL() + path + "?ud_get=" + os::percentEscape(body));
  };
  auto go = [](const std::shared_ptr<OBSOauthViewController>& screen, const os::URLRequest& request) {
    return screen->shouldStartLoadWithRequest(*screen->webView(), request, os::WebViewNavigationType::Other);
  };

  auto screen = open();
  EXPECT_TRUE(go(screen, answer("/sina2/main/next", {{"usid", "u1"}})));  // a page below it
  EXPECT_TRUE(caller_->responses.empty());
  EXPECT_FALSE(go(screen, answer("/gateway/sina2/main", {{"uid", "service-uid"}})));  // no usid
  ASSERT_EQ(caller_->responses.size(), 1u);
  EXPECT_NE(caller_->responses[0]->responseCode, 200);
  EXPECT_FALSE(OBSocialAccountManager::isOauthWithPlatform("sina"));

  screen = open();
  EXPECT_FALSE(go(screen, answer("/sina2/main", {{"usid", "u9"}, {"access_token", "t9"}, {"uid", "service-uid"}})));
  ASSERT_EQ(caller_->responses.size(), 2u);
  EXPECT_EQ(caller_->responses[1]->responseCode, 200);
  ASSERT_TRUE(OBSocialAccountManager::isOauthWithPlatform("sina"));
  EXPECT_EQ(OBSUserManager::shareInstance()->accountForPlatform("sina")->usid, "u9");
  EXPECT_EQ(OBSUserManager::shareInstance()->uid(), "reader-uid");
}

// A login's answer reaches the login's completion half a second after the sign-in screen gave
// it; the share editor's answer goes to the caller at once.
TEST_F(ScreensTest, LoginCompletionComesHalfASecondAfterTheSignInScreen) {
  auto internal = OBSocialSnsPlatformManager::getSocialPlatformWithName("sina")->platformInternal();
  std::vector<int> heard;
  internal->loginCompletion = [&](const auto& r) { heard.push_back(r->responseCode); };
  internal->socialUIDelegate = caller_;
  auto signedIn = std::make_shared<OBSocialResponseEntity>();
  signedIn->responseCode = 200;
  signedIn->viewControllerType = OBSocialViewControllerTypeOauth;
  internal->didFinishGetOBSocialDataInViewController(signedIn);
  os::TouchDriver::advance(0.45);
  EXPECT_TRUE(heard.empty());
  os::TouchDriver::advance(0.1);
  EXPECT_EQ(heard, std::vector<int>{200});
  EXPECT_TRUE(caller_->responses.empty());

  auto posted = std::make_shared<OBSocialResponseEntity>();
  posted->responseCode = 200;
  posted->viewControllerType = OBSocialViewControllerTypeShareEdit;
  internal->didFinishGetOBSocialDataInViewController(posted);
  EXPECT_EQ(caller_->responses.size(), 1u);
  os::TouchDriver::advance(1);
  EXPECT_EQ(heard.size(), 1u);
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

// Closing a screen stops only its own data's requests; a cancelled request reports nothing.
TEST_F(ScreensTest, CloseCancelsOnlyThisServicesQueueAndTheCancelledStaySilent) {
  server_.setFault(3, sharingd::Fault{sharingd::Fault::Kind::Stall, 0});
  auto other = std::make_shared<OBSocialDataService>(std::make_shared<OBSocialData>("another-article"));
  auto service = OBSocialControllerService::defaultControllerService();
  int mine = 0;
  std::shared_ptr<OBSocialResponseEntity> theirs;
  // The data's own first request for its bar, which is no screen's.
  const auto queued = OBSDataManager::currentDataManager()->actionArray().size();
  service->socialDataService()->requestSocialDataWithCompletion([&](const auto&) { ++mine; });
  service->socialDataService()->requestCommentList(0, [&](const auto&) { ++mine; });
  OBSDataManager::getDataManager("another-article")->requestBarInfo([&](const auto& r) { theirs = r; });
  service->setCurrentViewControllerType(7);
  service->close();
  EXPECT_EQ(OBSDataManager::currentDataManager()->actionArray().size(), queued);
  EXPECT_FALSE(theirs);
  server_.clearFaults();
  ASSERT_TRUE(settle([&] { return theirs != nullptr; }));
  os::TouchDriver::advance(1);
  EXPECT_EQ(mine, 0);
}

// With synchronous sharing the editor waits for the answer; closed before it comes, the caller
// hears its cancel and its close once, and one screen comes off the stack.
TEST_F(ScreensTest, ASynchronousEditorClosedBeforeTheAnswerReportsOnce) {
  OBSocialConfig::setShouldShareSynchronous(true);
  server_.setFault(5, sharingd::Fault{sharingd::Fault::Kind::Stall, 0});
  auto service = OBSocialControllerService::defaultControllerService();
  service->setSocialUIDelegate(caller_);
  // The share list lies below the editor.
  service->currentViewControllerArray.push_back(2);
  auto editor = openSinaEditor("一条新闻");
  ASSERT_TRUE(editor);
  ASSERT_EQ(service->currentViewControllerArray, (std::vector<int>{2, 3}));
  ASSERT_TRUE(editor->postShare());
  auto close = std::dynamic_pointer_cast<os::Button>(editor->navigationItem()->leftBarButtonItem()->customView());
  ASSERT_TRUE(close);
  close->sendActionsForControlEvents(os::kControlEventTouchUpInside);
  os::TouchDriver::advance(1);
  server_.clearFaults();
  os::TouchDriver::advance(1);
  auto codes = os::testing::collect<int>(caller_->responses, [](const auto& r) { return r->responseCode; });
  EXPECT_EQ(codes, std::vector<int>{5052});
  EXPECT_EQ(caller_->closed.size(), 1u);
  EXPECT_EQ(service->currentViewControllerArray, std::vector<int>{2});
  EXPECT_EQ(service->currentViewControllerType, 2);
  EXPECT_FALSE(presented());
}

// The editor's post, whether it waits for the answer before it closes or not: the share goes
// out, the bar is asked for afresh after it, the reader sees the share went, and the bar hears of
// it once.
TEST_F(ScreensTest, AnEditorsShareRefreshesTheBarOnceWhetherItWaitsOrNot) {
  // Signed in, here and at the service.
  std::shared_ptr<OBSocialResponseEntity> uploaded;
  OBSocialAccountManager::postSnsAccount(authorise("sina"), [&](const auto& r) { uploaded = r; });
  ASSERT_TRUE(settle([&] { return uploaded != nullptr; }));
  for (const bool synchronous : {false, true}) {
    OBSocialConfig::setShouldShareSynchronous(synchronous);
    server_.clearRequests();
    os::testing::NotificationCounter barUpdates(kOBSocialUpdateSocialBarNotification);
    auto editor = openSinaEditor("一条新闻");
    ASSERT_TRUE(editor);
    ASSERT_TRUE(editor->postShare());
    ASSERT_TRUE(settle([&] { return barUpdates.count() == 1; })) << synchronous << ::testing::PrintToString(actions());
    os::TouchDriver::advance(0.3);
    EXPECT_TRUE(os::findVisibleText("分享成功")) << synchronous << os::dumpScreen();
    EXPECT_FALSE(presented()) << synchronous;
    // Long enough for the toast to go and for a second refresh to show.
    os::TouchDriver::advance(5);
    auto sent = actions();
    std::erase(sent, 18);  // the operation counts, which go when they will
    EXPECT_EQ(sent, (std::vector<int>{5, 3})) << synchronous;
    EXPECT_EQ(barUpdates.count(), 1) << synchronous;
  }
}

// A platform the application adds shares through a screen of its own, which keeps its controller
// service only weakly, as a delegate is kept. The service lives on until the screen has answered;
// the answer reaches the caller, and the service is let go after its report, not inside it.
TEST_F(ScreensTest, AShareThroughAnAddedPlatformsScreenReachesItsCaller) {
  std::weak_ptr<OBSocialControllerService> handed;
  auto page = std::make_shared<os::ViewController>();
  auto platform = std::make_shared<OBSocialSnsPlatform>("notebook");
  platform->snsClickHandler = [&handed, page](const std::shared_ptr<os::ViewController>& controller,
                                              const std::shared_ptr<OBSocialControllerService>& service, bool) {
    handed = service;
    controller->presentViewController(page, false);
  };
  OBSocialConfig::addSocialSnsPlatform({platform});

  std::vector<int> codes;
  bool heldWhileReporting = false;
  OBSocialDataService::defaultDataService()->postSNSWithTypes(
      {"notebook"}, std::string("自家的"), nullptr, std::nullopt, nullptr, screen_,
      [&](const std::shared_ptr<OBSocialResponseEntity>& response) {
        codes.push_back(response->responseCode);
        heldWhileReporting = !handed.expired();
      });
  os::TouchDriver::settle();
  EXPECT_EQ(presented(), page);
  ASSERT_FALSE(handed.expired());

  // The page posts and closes through the service it was handed, holding nothing of it.
  auto posted = std::make_shared<OBSocialResponseEntity>();
  posted->responseCode = 200;
  posted->viewControllerType = OBSocialViewControllerTypeShareEdit;
  OBSocialControllerService* service = handed.lock().get();
  service->closeWithResponse(posted);
  EXPECT_EQ(codes, std::vector<int>{200});
  EXPECT_TRUE(heldWhileReporting);
  os::RunLoop::main()->runUntilIdle();
  EXPECT_TRUE(handed.expired());
}

// Every screen of the reader serves the same data, whose queue they all share. A screen's close
// stops what that screen queued and nothing else: a share posted from an editor that has closed
// reaches its answer (the caller hears it, the reader sees it went, the bar is refreshed) while
// another screen opens and closes, and while the list the editor was opened from closes.
TEST_F(ScreensTest, ClosingAScreenStopsOnlyItsOwnRequestsNotAnotherScreensShare) {
  std::shared_ptr<OBSocialResponseEntity> uploaded;
  OBSocialAccountManager::postSnsAccount(authorise("sina"), [&](const auto& r) { uploaded = r; });
  ASSERT_TRUE(settle([&] { return uploaded != nullptr; }));
  server_.clearRequests();
  server_.setFault(5, sharingd::Fault{sharingd::Fault::Kind::Hold, 0});
  os::testing::NotificationCounter barUpdates(kOBSocialUpdateSocialBarNotification);
  auto service = OBSocialControllerService::defaultControllerService();
  service->setSocialUIDelegate(caller_);

  // The share list, and over it Sina's editor, which posts without waiting and closes.
  auto list = service->getSocialShareListController();
  ASSERT_TRUE(list);
  screen_->presentViewController(list, false);
  service->socialData()->setShareText("一条新闻");
  auto carrier = std::dynamic_pointer_cast<os::NavigationController>(service->getSocialShareEditController("sina"));
  ASSERT_TRUE(carrier);
  list->presentViewController(carrier, false);
  os::TouchDriver::settle();
  auto editor = std::dynamic_pointer_cast<OBShareEditViewController>(carrier->topViewController());
  ASSERT_TRUE(editor);
  ASSERT_TRUE(editor->postShare());
  ASSERT_TRUE(settle([&] {
    const auto sent = actions();
    return std::count(sent.begin(), sent.end(), 5) == 1;
  }));

  // Douban's sign-in screen opens while the share is held (its page still loading), asks for
  // friends, and is closed.
  server_.setFault(9, sharingd::Fault{sharingd::Fault::Kind::Stall, 0});
  auto oauth = service->getSocialOauthController("douban");
  ASSERT_TRUE(oauth);
  list->presentViewController(oauth, false);
  os::TouchDriver::settle();
  bool friendsHeard = false;
  service->socialDataService()->requestSnsFriendsInternal("sina", [&](const auto&) { friendsHeard = true; });
  service->closeWithCancelResponse();
  os::TouchDriver::settle();
  // Then the list the editor came from.
  service->close();
  os::TouchDriver::settle();
  EXPECT_FALSE(presented());

  server_.releaseHeld();
  ASSERT_TRUE(settle([&] { return barUpdates.count() == 1; })) << ::testing::PrintToString(actions());
  os::TouchDriver::advance(0.3);
  EXPECT_TRUE(os::findVisibleText("分享成功")) << os::dumpScreen();
  auto codes = os::testing::collect<int>(caller_->responses, [](const auto& r) { return r->responseCode; });
  EXPECT_EQ(codes, (std::vector<int>{5052, 200}));
  // The closed sign-in screen's own request never went, and nobody heard of it.
  os::TouchDriver::advance(5);
  const auto sent = actions();
  EXPECT_EQ(std::count(sent.begin(), sent.end(), 12), 0) << ::testing::PrintToString(sent);
  EXPECT_FALSE(friendsHeard);
}

// A share through a platform's screen whose handler answers inside its click (a messenger that
// is not installed, an added platform answering at once): its caller may let go of the data
// service in that answer, and the service still puts the share data back as it was.
TEST_F(ScreensTest, ACallerMayLetGoOfItsDataServiceInAnAnswerGivenAtOnce) {
  auto platform = std::make_shared<OBSocialSnsPlatform>("notebook");
  platform->snsClickHandler = [](const std::shared_ptr<os::ViewController>&,
                                 const std::shared_ptr<OBSocialControllerService>& service, bool) {
    if (auto delegate = service->socialUIDelegate())
      delegate->didFinishGetOBSocialDataInViewController(OBSocialResponseEntity::failure(5050, "busy", 5));
  };
  OBSocialConfig::addSocialSnsPlatform({platform});
  // The messenger's platform, with no messenger on the device.
  OBSocialWechatHandler::setWXAppId("wx5a1c0ffee", "secret", std::nullopt);
  for (const std::string name : {"notebook", "wxsession"}) {
    auto data = std::make_shared<OBSocialData>("article-" + name);
    data->setShareText("原来的");
    // Made apart from its count, as a caller may make it: its memory goes the moment it is let go.
    std::shared_ptr<OBSocialDataService> service(new OBSocialDataService(data));
    std::vector<int> codes;
    service->postSNSWithTypes({name}, std::string("这一条"), nullptr, std::nullopt, nullptr, screen_,
                              [&](const std::shared_ptr<OBSocialResponseEntity>& response) {
                                codes.push_back(response->responseCode);
                                service.reset();
                              });
    EXPECT_EQ(codes, std::vector<int>{5050}) << name;
    EXPECT_FALSE(service) << name;
    EXPECT_EQ(data->shareText(), "原来的") << name;
    os::RunLoop::main()->runUntilIdle();
  }
}

// A share to a name no platform answers: its caller hears at once that nothing went, and the
// share data is held by nothing more than before, however many such shares are asked for.
TEST_F(ScreensTest, AShareNoPlatformTakesFailsAtOnceAndHoldsNothing) {
  auto data = OBSocialData::defaultData();
  auto service = OBSocialDataService::defaultDataService();
  const long held = data.use_count();
  std::vector<int> codes;
  for (int i = 0; i < 1000; ++i)
    service->postSNSWithTypes({"nosuch"}, std::string("x"), nullptr, std::nullopt, nullptr, screen_,
                              [&](const std::shared_ptr<OBSocialResponseEntity>& response) {
                                codes.push_back(response->responseCode);
                              });
  os::RunLoop::main()->runUntilIdle();
  ASSERT_EQ(codes.size(), 1000u);
  EXPECT_EQ(std::count(codes.begin(), codes.end(), 5054), 1000);
  EXPECT_EQ(data.use_count(), held);
  // The icon sheet's entry with no platform name at all: its caller hears the same.
  std::shared_ptr<OBSocialResponseEntity> heard;
  OBSocialShareRequest request;
  request.controller = screen_;
  request.completion = [&](const auto& response) { heard = response; };
  service->postSnsWithDictionary(request);
  ASSERT_TRUE(heard);
  EXPECT_EQ(heard->responseCode, 5054);
  const auto sent = actions();
  EXPECT_EQ(std::count(sent.begin(), sent.end(), 5), 0);
}

// A friend picker for a platform the service keeps no friends for: no panel waits for an answer
// that never comes, and the reader is told why the list stays empty.
TEST_F(ScreensTest, AFriendPickerForAPlatformWithoutFriendsSaysSoInsteadOfWaiting) {
  for (const std::string name : {"facebook", "email"}) {
    auto service = std::make_shared<OBSocialControllerService>();
    auto picker = std::dynamic_pointer_cast<OBSocialFriendViewController>(service->getSocialViewController(9, name));
    ASSERT_TRUE(picker) << name;
    navigation_->pushViewController(picker, false);
    os::TouchDriver::advance(0.3);
    EXPECT_EQ(picker->hudView()->alpha(), 0) << name;
    EXPECT_TRUE(os::findVisibleText("该平台没有好友列表")) << name << os::dumpScreen();
    EXPECT_TRUE(picker->filterFriendArray().empty()) << name;
    navigation_->popViewController(false);
    os::TouchDriver::advance(5);
  }
  const auto sent = actions();
  EXPECT_EQ(std::count(sent.begin(), sent.end(), 12), 0);
}

TEST_F(ScreensTest, RequestsThatCannotBeBuiltStillComplete) {
  OBSDataManagerSet::shareInstance()->setAppkey("");
  std::shared_ptr<OBSocialResponseEntity> bar, friends;
  OBSocialDataService::defaultDataService()->requestSocialDataWithCompletion([&](const auto& r) { bar = r; });
  OBSocialDataService::defaultDataService()->requestSnsFriends("sina", [&](const auto& r) { friends = r; });
  ASSERT_TRUE(bar && friends);
  EXPECT_EQ(bar->responseCode, 5054);
  EXPECT_EQ(friends->responseCode, 5054);
}

// A share to a platform the service posts to, not authorised and with no screen to log in from:
// nothing is sent, the caller hears once that it was not, and the reader sees no toast.
TEST_F(ScreensTest, AnUnauthorisedShareWithoutAScreenIsNotSentAndItsCallerHearsSo) {
  sandbox_.writeBundleFile("OBSocialLocalizable.strings", "\"shareEdit_error_no_auth\" = \"尚未授权\";\n");
  std::vector<std::shared_ptr<OBSocialResponseEntity>> heard;
  OBSocialShareRequest request;
  request.snsType = "sina";
  request.completion = [&](const auto& response) { heard.push_back(response); };
  OBSocialDataService::defaultDataService()->postSnsWithDictionary(request);
  os::TouchDriver::advance(1);
  ASSERT_EQ(heard.size(), 1u);
  EXPECT_EQ(heard[0]->responseCode, 5054);
  ASSERT_TRUE(heard[0]->data);
  EXPECT_TRUE(heard[0]->data->contains("sina"));
  EXPECT_FALSE(os::findVisibleText("尚未授权"));
  const auto sent = actions();
  EXPECT_EQ(std::count(sent.begin(), sent.end(), 5), 0);
}

TEST_F(ScreensTest, ShareListShowsThePlatformsBySectionAndOpensTheirRoad) {
  authorise("sina");
  OBSocialSnsService::presentSnsController(screen_, std::nullopt, "一条新闻", nullptr,
                                           std::vector<std::string>{"sina", "qzone", "nosuch"}, caller_);
  os::TouchDriver::advance(0.5);
  auto carrier = std::dynamic_pointer_cast<os::NavigationController>(presented());
  ASSERT_TRUE(carrier);
  EXPECT_EQ(carrier->modalPresentationStyle(), os::ModalPresentationStyle::FullScreen);
  auto list = std::dynamic_pointer_cast<OBSShareListController>(carrier->topViewController());
  ASSERT_TRUE(list);
  EXPECT_EQ(list->title(), "分享到");
  auto table = list->tableView();
  ASSERT_EQ(table->numberOfSections(), 1);
  EXPECT_EQ(table->numberOfRowsInSection(0), 3);
  EXPECT_TRUE(os::findVisibleText("QQ空间")) << os::dumpScreen();
  // A name the registry does not know: a row without text or picture.
  auto unknown = table->cellForRowAtIndexPath(os::IndexPath::forRow(2, 0));
  ASSERT_TRUE(unknown);
  EXPECT_EQ(unknown->textLabel()->text(), "");
  EXPECT_FALSE(unknown->imageView()->image());

  list->setAllSnsArray(os::Array{os::Array{"qzone"}, os::Array{"email", "sina"}});
  os::TouchDriver::settle();
  ASSERT_EQ(table->numberOfSections(), 2);
  EXPECT_EQ(table->numberOfRowsInSection(1), 2);
  // An authorised platform's editor comes next on the list's own navigation.
  ASSERT_TRUE(os::TouchDriver::tapText("新浪微博"));
  ASSERT_TRUE(settle([&] {
    os::TouchDriver::settle();
    return std::dynamic_pointer_cast<OBShareEditViewController>(carrier->topViewController()) != nullptr;
  }));
  EXPECT_EQ(caller_->selected, std::vector<std::string>{"sina"});
}

TEST_F(ScreensTest, OnAPadTheScreensShowAsAFormSheetOverTheReader) {
  os::DeviceProfile pad;
  pad.idiom = os::UserInterfaceIdiom::Pad;
  pad.screenSize = os::Size{768, 1024};
  os::DeviceProfileScope device(pad);
  auto reader = std::make_shared<os::ViewController>();
  auto readerNavigation = std::make_shared<os::NavigationController>(reader);
  auto padWindow = os::testing::showKeyWindow(readerNavigation, os::Rect(0, 0, 768, 1024));
  os::TouchDriver::settle();
  auto open = [&] {
    OBSocialSnsService::presentSnsController(reader, std::nullopt, "一条新闻", nullptr,
                                             std::vector<std::string>{"sina", "qzone"}, caller_);
    os::TouchDriver::advance(0.5);
    return std::dynamic_pointer_cast<os::NavigationController>(readerNavigation->presentedViewController());
  };
  auto carrier = open();
  ASSERT_TRUE(carrier);
  EXPECT_EQ(carrier->modalPresentationStyle(), os::ModalPresentationStyle::FormSheet);
  EXPECT_EQ(carrier->modalTransitionStyle(), os::ModalTransitionStyle::CoverVertical);
  // The list sizes its sheet, 533 x 545 when nothing is configured, about the window's centre;
  // the reader stays on screen behind it.
  EXPECT_EQ(carrier->view()->convertRectToView(carrier->view()->bounds(), nullptr), os::Rect(117.5, 239.5, 533, 545));
  EXPECT_EQ(reader->view()->window(), padWindow.get());
  EXPECT_TRUE(os::findVisibleText("QQ空间")) << os::dumpScreen();
  // The reader behind takes no touch while the sheet is up; the sheet's close button does.
  EXPECT_FALSE(padWindow->hitTest(os::Point{20, 100}, nullptr)->isDescendantOfView(readerNavigation->view().get()));
  auto close = carrier->topViewController()->navigationItem()->leftBarButtonItem()->customView();
  ASSERT_TRUE(close);
  ASSERT_TRUE(os::TouchDriver::tap(*close));
  os::TouchDriver::advance(1);
  EXPECT_FALSE(readerNavigation->presentedViewController());
  EXPECT_EQ(padWindow->subviews(), (std::vector<std::shared_ptr<os::View>>{readerNavigation->view()}));

  // A configured size is the one the sheet takes.
  OBSocialConfig::setBoundsSizeForiPad(os::Size{540, 620});
  carrier = open();
  ASSERT_TRUE(carrier);
  EXPECT_EQ(carrier->view()->convertRectToView(carrier->view()->bounds(), nullptr), os::Rect(114, 202, 540, 620));
  os::testing::hideKeyWindow(padWindow);
}

// With the sharing service down, a platform that signs in on the service's web page cannot
// share: the reader is told so, and the caller hears the failure.
TEST_F(ScreensTest, WithTheServiceDownAWebSignInPlatformSaysTheShareFailed) {
  sandbox_.writeBundleFile("OBSocialLocalizable.strings",
                           "\"sina\" = \"新浪微博\";\n\"douban\" = \"豆瓣\";\n\"button_close\" = \"关闭\";\n"
                           "\"shareEdit_error_network_fail_message\" = \"网络错误，分享失败\";\n");
  // Down: nothing listens where the reader looks for the service. A port held unlistened, not the
  // service's own stopped, which another program's listener or connection may take meanwhile.
  sandbox_.writeBundlePropertyList(
      "SocialSDK-config.plist",
      os::Value(os::Dictionary{{"baseURL", os::Value("http://127.0.0.1:" + std::to_string(os::testing::HttpTestServer::refusedPort()))}}));
  for (const std::string name : {"新浪微博", "豆瓣"}) {
    caller_->responses.clear();
    OBSocialSnsService::presentSnsIconSheetView(screen_, std::nullopt, "一条新闻", nullptr,
                                                std::vector<std::string>{"sina", "douban"}, caller_);
    os::TouchDriver::advance(0.5);
    ASSERT_TRUE(os::TouchDriver::tapText(name)) << os::dumpScreen();
    ASSERT_TRUE(settle([&] {
      os::TouchDriver::advance(0.1);
      return os::findVisibleText("网络错误，分享失败") != nullptr;
    })) << name << os::dumpScreen();
    ASSERT_FALSE(caller_->responses.empty()) << name;
    EXPECT_NE(caller_->responses.back()->responseCode, 200) << name;
    os::TouchDriver::advance(3);
    EXPECT_FALSE(presented()) << name;
  }
}

// The close button of the sharing screens says what it does; closing the sign-in page before
// signing in tells the caller of the cancel and the close.
TEST_F(ScreensTest, TheCloseButtonIsLabelledAndItsCloseIsReported) {
  auto service = OBSocialControllerService::defaultControllerService();
  service->setSocialUIDelegate(caller_);
  auto oauth = std::dynamic_pointer_cast<os::NavigationController>(service->getSocialOauthController("sina"));
  ASSERT_TRUE(oauth);
  // Closed before the page has granted anything: it never answers.
  server_.setFault(9, sharingd::Fault{sharingd::Fault::Kind::Stall, 0});
  screen_->presentViewController(oauth, false);
  os::TouchDriver::settle();
  auto close = std::dynamic_pointer_cast<os::Button>(oauth->topViewController()->navigationItem()->leftBarButtonItem()->customView());
  ASSERT_TRUE(close);
  EXPECT_EQ(close->titleForState(os::kControlStateNormal).value_or(""), "关闭");
  close->sendActionsForControlEvents(os::kControlEventTouchUpInside);
  os::TouchDriver::advance(1);
  ASSERT_EQ(caller_->responses.size(), 1u);
  EXPECT_EQ(caller_->responses[0]->responseCode, 5052);
  EXPECT_EQ(caller_->responses[0]->message.value_or(""), "user cancel the operation");
  EXPECT_EQ(caller_->closed, std::vector<int>{7});
  EXPECT_FALSE(presented());
}

// A text over the limit (the counter reads below zero) is not sent, and not reported as shared.
TEST_F(ScreensTest, TheEditorRefusesATextOverTheLimit) {
  auto service = OBSocialControllerService::defaultControllerService();
  service->setSocialUIDelegate(caller_);
  auto editor = openSinaEditor(std::string(212, 'x'));
  ASSERT_TRUE(editor);
  EXPECT_TRUE(os::findVisibleText("-72")) << os::dumpScreen();
  server_.clearRequests();
  EXPECT_FALSE(editor->postShare());
  os::TouchDriver::advance(0.3);
  EXPECT_FALSE(os::findVisibleText("分享成功"));
  EXPECT_TRUE(os::findVisibleText("字数超出限制")) << os::dumpScreen();
  os::TouchDriver::advance(2);
  EXPECT_TRUE(caller_->responses.empty());
  const auto sent = actions();
  EXPECT_EQ(std::count(sent.begin(), sent.end(), 5), 0);
  EXPECT_TRUE(presented());
  // Shortened to the limit, it goes.
  editor->setText(std::string(140, 'x'));
  EXPECT_TRUE(editor->postShare());
}

TEST_F(ScreensTest, TheEditorsCounterCountsDownAsTheReaderTypes) {
  auto editor = openSinaEditor("一条新闻");
  ASSERT_TRUE(editor);
  EXPECT_TRUE(os::findVisibleText("136")) << os::dumpScreen();
  auto field = std::dynamic_pointer_cast<os::TextView>(os::findVisibleText("一条新闻"));
  ASSERT_TRUE(field);
  ASSERT_TRUE(os::TouchDriver::typeText(*field, "，快看"));
  EXPECT_EQ(editor->remainingCharacters(), 133);
  EXPECT_TRUE(os::findVisibleText("133")) << os::dumpScreen();
  os::TouchDriver::pressReturn();
  EXPECT_TRUE(os::findVisibleText("132")) << os::dumpScreen();
}

// The editor's "@": the picker loads the friends from the service, groups them, searches, and
// hands the mention back.
TEST_F(ScreensTest, FriendPickerGroupsEveryFriendSearchesAndHandsTheMentionBack) {
  const auto person = [](const char* name, os::Value pinyin) {
    return os::Value(os::Dictionary{{"name", os::Value(name)}, {"link_name", os::Value(name)}, {"pinyin", pinyin}});
  };
  // A friend without pinyin comes before others in the answer: none of them may be lost.
  server_.service().setFriends(os::Dictionary{{"f1", person("李四", os::Value("lisi"))},
                                              {"f2", person("无名", os::Value())},
                                              {"f3", person("王五", os::Value("wangwu"))},
                                              {"f4", person("007", os::Value("007"))},
                                              {"f5", person("张三", os::Value("zhangsan"))}});
  auto editor = openSinaEditor("一条新闻");
  ASSERT_TRUE(editor && editor->friendsButton() && editor->navigationController());
  os::NavigationController* carrier = editor->navigationController();
  ASSERT_TRUE(os::TouchDriver::tap(*editor->friendsButton()));
  std::shared_ptr<OBSocialFriendViewController> picker;
  ASSERT_TRUE(settle([&] {
    os::TouchDriver::settle();
    picker = std::dynamic_pointer_cast<OBSocialFriendViewController>(carrier->topViewController());
    return picker && !picker->filterFriendArray().empty();
  }));
  auto keys = os::testing::collect(picker->filterFriendArray(), [](const auto& section) { return section.key; });
  EXPECT_EQ(keys, (std::vector<std::string>{"L", "W", "Z", "其他"}));
  EXPECT_EQ(picker->filterFriendArray().back().friends.size(), 2u);
  EXPECT_EQ(picker->sectionIndexTitles(), keys);

  picker->searchBar()->setText("李");
  EXPECT_EQ(picker->tableView()->numberOfRowsInSection(0), 1);
  picker->searchBar()->setText("nobody");
  EXPECT_EQ(picker->tableView()->numberOfSections(), 1);
  EXPECT_EQ(picker->tableView()->numberOfRowsInSection(0), 0);
  picker->searchBar()->setText("");
  EXPECT_EQ(picker->tableView()->numberOfSections(), 4);

  // The first hit of a search, at row 0, is the one picked.
  picker->searchBar()->setText("王");
  ASSERT_EQ(picker->tableView()->numberOfRowsInSection(0), 1);
  os::TouchDriver::settle();
  ASSERT_TRUE(os::TouchDriver::tapText("王五")) << os::dumpScreen();
  os::TouchDriver::advance(1);
  EXPECT_EQ(carrier->topViewController(), editor);
  EXPECT_EQ(editor->text(), "一条新闻 @王五 ");
  editor->setText("一条新闻");
  ASSERT_TRUE(os::TouchDriver::tap(*editor->friendsButton()));
  ASSERT_TRUE(settle([&] {
    os::TouchDriver::settle();
    picker = std::dynamic_pointer_cast<OBSocialFriendViewController>(carrier->topViewController());
    return picker && !picker->filterFriendArray().empty();
  }));

  os::TouchDriver::settle();
  ASSERT_TRUE(os::TouchDriver::tapText("李四")) << os::dumpScreen();
  os::TouchDriver::advance(1);
  EXPECT_EQ(carrier->topViewController(), editor);
  EXPECT_EQ(editor->text(), "一条新闻 @李四 ");
  auto recent = OBSUserManager::shareInstance()->atFriendsDictionaryWithSnsName("sina");
  ASSERT_TRUE(recent && recent->size() == 2);
  EXPECT_EQ((*recent)[1]["name"].stringOr(), "李四");
}

TEST_F(ScreensTest, RecentFriendsShowTheNewestFiveAndARepickMovesWithoutDuplicate) {
  auto users = OBSUserManager::shareInstance();
  os::Array recent;
  OBSFriendDictionary friends;
  for (int i = 1; i <= 7; ++i) {
    auto entity = std::make_shared<OBSFriendEntity>();
    entity->usid = "r" + std::to_string(i);
    entity->name = entity->linkName = "近" + std::to_string(i);
    entity->pinyin = "jin";
    friends[*entity->usid] = entity;
    recent.emplace_back(entity->cacheValue());
  }
  users->setFriendsDictionary(friends, "sina");
  users->setAtFriendsArray(recent, "sina");
  auto service = OBSocialControllerService::defaultControllerService();
  auto picker = std::dynamic_pointer_cast<OBSocialFriendViewController>(service->getSocialViewController(9, "sina"));
  ASSERT_TRUE(picker);
  navigation_->pushViewController(picker, false);
  os::TouchDriver::settle();
  const auto& used = picker->filterFriendArray().front();
  EXPECT_EQ(used.key, "最近");
  auto names = os::testing::collect(used.friends, [](const auto& f) { return *f->name; });
  EXPECT_EQ(names, (std::vector<std::string>{"近7", "近6", "近5", "近4", "近3"}));
  EXPECT_EQ(picker->sectionIndexTitles(), (std::vector<std::string>{"最近", "J"}));

  picker->tableView()->userSelectRowAtIndexPath(os::IndexPath::forRow(2, 0));
  auto stored = *users->atFriendsDictionaryWithSnsName("sina");
  auto order = os::testing::collect(stored, [](const auto& entry) { return entry["usid"].stringOr(); });
  EXPECT_EQ(order, (std::vector<std::string>{"r1", "r2", "r3", "r4", "r6", "r7", "r5"}));
}

// A share's answer goes to the caller whose post it is. The first caller's post is held by the
// service while the facade serves a second caller on the same screens; let go, the first caller
// hears its answer once and the second only what its own share did, whether the editor waits for
// the answer or not.
TEST_F(ScreensTest, AnEditorsLateAnswerReachesItsOwnCallerNotTheNextOne) {
  authorise("sina");
  for (const bool synchronous : {false, true}) {
    OBSocialConfig::setShouldShareSynchronous(synchronous);
    server_.clearRequests();
    server_.setFault(5, sharingd::Fault{sharingd::Fault::Kind::Hold, 0});
    auto first = std::make_shared<Caller>();
    auto second = std::make_shared<Caller>();
    auto service = OBSocialControllerService::defaultControllerService();
    service->setSocialUIDelegate(first);
    auto editor = openSinaEditor("第一条");
    ASSERT_TRUE(editor) << synchronous;
    ASSERT_TRUE(editor->postShare()) << synchronous;
    ASSERT_TRUE(settle([&] {
      const auto sent = actions();
      return std::count(sent.begin(), sent.end(), 5) == 1;
    })) << synchronous;
    os::TouchDriver::advance(1);

    OBSocialSnsService::presentSnsIconSheetView(screen_, std::nullopt, "第二条", nullptr, std::vector<std::string>{"sina"},
                                                second);
    os::TouchDriver::advance(0.5);
    if (!synchronous) {
      // The first editor has closed: the second caller opens its own and leaves it.
      ASSERT_TRUE(os::TouchDriver::tapText("新浪微博")) << os::dumpScreen();
      os::TouchDriver::advance(0.5);
      auto carrier = std::dynamic_pointer_cast<os::NavigationController>(presented());
      ASSERT_TRUE(carrier);
      auto close = std::dynamic_pointer_cast<os::Button>(
          carrier->topViewController()->navigationItem()->leftBarButtonItem()->customView());
      ASSERT_TRUE(close);
      close->sendActionsForControlEvents(os::kControlEventTouchUpInside);
    } else {
      // The first editor waits on screen: the second caller's sheet opens beneath it and is left.
      auto panel = std::dynamic_pointer_cast<OBSocialIconActionSheet>(navigation_->view()->viewWithTag(kOBSocialIconActionSheetTag));
      ASSERT_TRUE(panel);
      panel->dismiss();
    }
    os::TouchDriver::advance(1);
    EXPECT_TRUE(first->responses.empty()) << synchronous;

    server_.releaseHeld();
    EXPECT_TRUE(os::RunLoop::main()->runUntil([&] { return !first->responses.empty(); }, 10)) << synchronous;
    os::TouchDriver::advance(5);
    auto codes = [](const Caller& caller) {
      return os::testing::collect<int>(caller.responses, [](const auto& r) { return r->responseCode; });
    };
    ASSERT_EQ(first->responses.size(), 1u) << synchronous;
    EXPECT_EQ(first->responses[0]->viewControllerType, 3) << synchronous;
    const std::vector<int> secondHeard = synchronous ? std::vector<int>{} : std::vector<int>{5052};
    const std::vector<int> secondClosed = synchronous ? std::vector<int>{10} : std::vector<int>{10, 3};
    EXPECT_EQ(codes(*second), secondHeard) << synchronous;
    EXPECT_EQ(second->closed, secondClosed) << synchronous;
    if (synchronous) {
      EXPECT_EQ(first->closed, std::vector<int>{3});
    }
    EXPECT_FALSE(presented()) << synchronous;
    server_.clearFaults();
  }
}

// A sheet's closing is told to the caller it was opened for, though the facade has opened another
// caller's sheet since.
TEST_F(ScreensTest, ASheetsCloseIsToldToItsOwnCaller) {
  OBSocialSnsService::presentSnsIconSheetView(screen_, std::nullopt, "第一条", nullptr, std::vector<std::string>{"sina"}, caller_);
  os::TouchDriver::advance(0.5);
  auto first = sheet();
  ASSERT_TRUE(first);
  auto later = std::make_shared<Caller>();
  OBSocialSnsService::presentSnsIconSheetView(screen_, std::nullopt, "第二条", nullptr, std::vector<std::string>{"sina"}, later);
  os::TouchDriver::advance(0.5);
  first->dismiss();
  os::TouchDriver::advance(1);
  EXPECT_EQ(caller_->closed, std::vector<int>{10});
  EXPECT_TRUE(later->closed.empty());
}

// A's editor is up when B asks for a sheet: the editor's close button tells A of the cancel and of
// the close, and B hears nothing of a screen that is not its own.
TEST_F(ScreensTest, AnEditorsCloseIsToldToItsOwnCallerThoughAnotherAskedForASheetSince) {
  auto service = OBSocialControllerService::defaultControllerService();
  service->setSocialUIDelegate(caller_);
  auto editor = openSinaEditor("第一条");
  ASSERT_TRUE(editor);
  auto later = std::make_shared<Caller>();
  OBSocialSnsService::presentSnsIconSheetView(screen_, std::nullopt, "第二条", nullptr, std::vector<std::string>{"sina"}, later);
  os::TouchDriver::advance(0.5);
  auto close = std::dynamic_pointer_cast<os::Button>(editor->navigationItem()->leftBarButtonItem()->customView());
  ASSERT_TRUE(close);
  close->sendActionsForControlEvents(os::kControlEventTouchUpInside);
  os::TouchDriver::advance(1);
  auto codes = [](const Caller& caller) {
    return os::testing::collect<int>(caller.responses, [](const auto& r) { return r->responseCode; });
  };
  EXPECT_EQ(codes(*caller_), std::vector<int>{5052});
  EXPECT_EQ(caller_->closed, std::vector<int>{3});
  EXPECT_TRUE(codes(*later).empty());
  EXPECT_TRUE(later->closed.empty());
}

// A's sign-in page is loading when B asks for a sheet: the sign-in is A's. A hears it, B hears
// nothing, and the editor the page leads to serves A.
TEST_F(ScreensTest, TheSignInPageAnswersTheCallerThatOpenedIt) {
  auto service = OBSocialControllerService::defaultControllerService();
  service->setSocialUIDelegate(caller_);
  service->socialData()->setShareText("第一条");
  server_.setFault(9, sharingd::Fault{sharingd::Fault::Kind::Hold, 0});
  auto carrier = std::dynamic_pointer_cast<os::NavigationController>(service->getSocialShareEditController("sina"));
  ASSERT_TRUE(carrier && std::dynamic_pointer_cast<OBSOauthViewController>(carrier->topViewController()));
  screen_->presentViewController(carrier, false);
  os::TouchDriver::settle();
  ASSERT_TRUE(settle([&] {
    const auto sent = actions();
    return std::count(sent.begin(), sent.end(), 9) == 1;
  }));
  auto later = std::make_shared<Caller>();
  OBSocialSnsService::presentSnsIconSheetView(screen_, std::nullopt, "第二条", nullptr, std::vector<std::string>{"sina"}, later);
  os::TouchDriver::advance(0.5);

  server_.releaseHeld();
  std::shared_ptr<OBShareEditViewController> editor;
  ASSERT_TRUE(settle([&] {
    os::TouchDriver::settle();
    editor = std::dynamic_pointer_cast<OBShareEditViewController>(carrier->topViewController());
    return editor != nullptr;
  }));
  ASSERT_EQ(caller_->responses.size(), 1u);
  EXPECT_EQ(caller_->responses[0]->responseCode, 200);
  EXPECT_EQ(caller_->responses[0]->viewControllerType, 7);
  EXPECT_TRUE(later->responses.empty());

  ASSERT_TRUE(editor->postShare());
  ASSERT_TRUE(settle([&] { return caller_->responses.size() == 2; }));
  os::TouchDriver::advance(1);
  EXPECT_EQ(caller_->responses[1]->viewControllerType, 3);
  EXPECT_TRUE(later->responses.empty());
}

// A's editor waits for its share's answer when B's editor is shown over it. The answer is A's:
// A hears it and the close of its editor. Taking A's editor down takes B's, shown over it, too,
// and B hears its cancel and its close.
TEST_F(ScreensTest, AWaitingEditorsAnswerClosesThatEditorForItsOwnCaller) {
  OBSocialConfig::setShouldShareSynchronous(true);
  server_.setFault(5, sharingd::Fault{sharingd::Fault::Kind::Hold, 0});
  auto service = OBSocialControllerService::defaultControllerService();
  service->setSocialUIDelegate(caller_);
  auto first = openSinaEditor("第一条");
  ASSERT_TRUE(first);
  ASSERT_TRUE(first->postShare());
  ASSERT_TRUE(settle([&] {
    const auto sent = actions();
    return std::count(sent.begin(), sent.end(), 5) == 1;
  }));

  auto later = std::make_shared<Caller>();
  service->setShareText(std::string("第二条"), nullptr, later);
  auto second = std::dynamic_pointer_cast<os::NavigationController>(service->getSocialShareEditController("sina"));
  ASSERT_TRUE(second);
  first->navigationController()->presentViewController(second, false);
  os::TouchDriver::settle();
  ASSERT_TRUE(std::dynamic_pointer_cast<OBShareEditViewController>(second->topViewController()));

  server_.releaseHeld();
  ASSERT_TRUE(settle([&] { return !caller_->responses.empty(); }));
  os::TouchDriver::advance(1);
  auto codes = [](const Caller& caller) {
    return os::testing::collect<int>(caller.responses, [](const auto& r) { return r->responseCode; });
  };
  ASSERT_EQ(caller_->responses.size(), 1u);
  EXPECT_EQ(caller_->responses[0]->viewControllerType, 3);
  EXPECT_EQ(caller_->closed, std::vector<int>{3});
  EXPECT_FALSE(first->view()->window());
  EXPECT_EQ(codes(*later), std::vector<int>{5052});
  EXPECT_EQ(later->closed, std::vector<int>{3});
  EXPECT_FALSE(presented());
  EXPECT_TRUE(service->currentViewControllerArray.empty());
}

// A close whose own request is the one on its way: that request is dropped, and the request
// queued behind it, another caller's, goes next and is answered.
TEST_F(ScreensTest, ClosingAScreenWhoseRequestIsInFlightSendsTheNextInTheQueue) {
  auto service = OBSocialControllerService::defaultControllerService();
  service->setSocialUIDelegate(caller_);
  auto list = service->getSocialShareListControllerInternal();
  ASSERT_TRUE(list);
  screen_->presentViewController(list, false);
  os::TouchDriver::settle();
  // The data's own first request for its bar goes first.
  auto queue = OBSDataManager::currentDataManager();
  ASSERT_TRUE(settle([&] { return queue->actionArray().empty(); }));
  bool mineHeard = false;
  service->socialDataService()->requestSocialDataWithCompletionInternal([&](const auto&) { mineHeard = true; });
  ASSERT_EQ(queue->actionArray().size(), 1u);
  std::shared_ptr<OBSocialResponseEntity> theirs;
  queue->requestBarInfo([&](const auto& r) { theirs = r; });
  ASSERT_EQ(queue->actionArray().size(), 2u);
  service->closeWithCancelResponse();
  EXPECT_TRUE(os::RunLoop::main()->runUntil([&] { return theirs != nullptr; }, 10)) << ::testing::PrintToString(actions());
  os::TouchDriver::advance(1);
  EXPECT_FALSE(mineHeard);
  EXPECT_TRUE(queue->actionArray().empty());
}

// The service's record of its screens follows what is on screen. A share list the facade could
// not show (no screen given, or the screen already covered by the editor) leaves nothing behind:
// the editor then closes as the editor, and the post it leaves running is answered.
TEST_F(ScreensTest, AScreenThatNeverOpensLeavesNoRecord) {
  auto service = OBSocialControllerService::defaultControllerService();
  OBSocialSnsService::presentSnsController(nullptr, std::nullopt, "无处可去", nullptr, std::nullopt, caller_);
  EXPECT_TRUE(service->currentViewControllerArray.empty());

  server_.setFault(5, sharingd::Fault{sharingd::Fault::Kind::Hold, 0});
  auto editor = openSinaEditor("一条新闻");
  ASSERT_TRUE(editor);
  OBSocialSnsService::presentSnsController(screen_, std::nullopt, "一条新闻", nullptr, std::nullopt, caller_);
  os::TouchDriver::settle();
  EXPECT_EQ(service->currentViewControllerArray, std::vector<int>{3});
  EXPECT_EQ(service->currentViewControllerType, 3);
  ASSERT_TRUE(editor->postShare());
  ASSERT_TRUE(settle([&] {
    const auto sent = actions();
    return std::count(sent.begin(), sent.end(), 5) == 1;
  }));
  os::TouchDriver::advance(1);
  EXPECT_FALSE(presented());
  EXPECT_EQ(caller_->closed, std::vector<int>{3});
  server_.releaseHeld();
  EXPECT_TRUE(os::RunLoop::main()->runUntil([&] { return !caller_->responses.empty(); }, 10));
  EXPECT_TRUE(service->currentViewControllerArray.empty());
}

// A platform picked with no screen to show its editor or sign-in page on leaves no record either.
TEST_F(ScreensTest, APlatformsScreenWithNowhereToShowLeavesNoRecord) {
  auto service = OBSocialControllerService::defaultControllerService();
  service->setSocialUIDelegate(caller_);
  server_.setFault(9, sharingd::Fault{sharingd::Fault::Kind::Stall, 0});
  OBSocialSnsPlatformManager::getSocialPlatformWithName("douban")->snsClickHandler(nullptr, service, true);
  EXPECT_TRUE(service->currentViewControllerArray.empty());
  authorise("sina");
  OBSocialSnsPlatformManager::getSocialPlatformWithName("sina")->snsClickHandler(nullptr, service, true);
  EXPECT_TRUE(service->currentViewControllerArray.empty());
  EXPECT_FALSE(presented());
}

// The reader may take a sharing screen down itself, without the service's close: the record lets
// go of it, and the next screen's close is reported as that screen's.
TEST_F(ScreensTest, AScreenTakenDownWithoutTheServiceLeavesNoRecord) {
  auto service = OBSocialControllerService::defaultControllerService();
  service->setSocialUIDelegate(caller_);
  auto editor = openSinaEditor("一条新闻");
  ASSERT_TRUE(editor);
  screen_->dismissViewController(false);
  os::TouchDriver::settle();
  EXPECT_FALSE(presented());
  EXPECT_TRUE(service->currentViewControllerArray.empty());

  OBSocialSnsService::presentSnsController(screen_, std::nullopt, "一条新闻", nullptr, std::nullopt, caller_);
  os::TouchDriver::settle();
  auto list = std::dynamic_pointer_cast<os::NavigationController>(presented());
  ASSERT_TRUE(list);
  auto close = std::dynamic_pointer_cast<os::Button>(list->topViewController()->navigationItem()->leftBarButtonItem()->customView());
  ASSERT_TRUE(close);
  close->sendActionsForControlEvents(os::kControlEventTouchUpInside);
  os::TouchDriver::advance(1);
  EXPECT_FALSE(presented());
  EXPECT_TRUE(caller_->responses.empty());
  EXPECT_EQ(caller_->closed, std::vector<int>{2});
  EXPECT_TRUE(service->currentViewControllerArray.empty());
}

}  // namespace
