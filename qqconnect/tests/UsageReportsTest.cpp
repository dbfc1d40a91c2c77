// What the QQ Connect service on loopback hears of a session's use: the numbered action reports
// and the analytics client's "requireApi" events for the OpenAPI operations.
#include <gtest/gtest.h>

#include <algorithm>

#include "QQConnectTestSupport.h"
#include "UsageReportsSupport.h"
#include "os/graphics/Image.h"
#include "os/store/KeyedArchive.h"
#include "os/store/Pasteboard.h"
#include "os/testing/ScreenHelpers.h"
#include "os/testing/ScriptedWebPages.h"
#include "qqconnect/web/SetHeadImageViewController.h"

namespace qctest {
namespace {

using os::testing::CannedResponse;

struct CloseRecorder : Recorder {
  std::vector<std::shared_ptr<os::ViewController>> closed;
  void velmoraOAuthDoCloseViewController(VelmoraOAuth&, const std::shared_ptr<os::ViewController>& screen) override {
    closed.push_back(screen);
  }
  void velmoraDidUpdate(VelmoraOAuth&) override { calls.push_back("updated"); }
};

class UsageReportsTest : public ReportingServiceTest {
 protected:
  void SetUp() override {
    ReportingServiceTest::SetUp();
    VelmoraOAuthEndpoints endpoints;  // the deployment's policy and report hosts: the service
    endpoints.openApiBase = openApi.url("/");
    session = VelmoraOAuth::initWithAppId(kAppId, delegate, endpoints);
    session->setAccessToken("TOK");
    session->setExpirationDate(os::Date::now().addingTimeInterval(3600));
    session->setOpenId("OID");
    openApi.route("POST", "/share/add_share", CannedResponse::text("{\"ret\":0}"));
    openApi.route("POST", "/photo/upload_pic", CannedResponse::text("{\"ret\":0}"));
    openApi.route("POST", "/shuoshuo/add_topic", CannedResponse::text("{\"ret\":0}"));
    openApi.route("POST", "/user/set_user_face", CannedResponse::text("{\"ret\":0}"));
    openApi.route("GET", "/user/get_user_info", CannedResponse::text("{\"ret\":0,\"nickname\":\"n\"}"));
  }
  void TearDown() override {
    session.reset();
    settle();
    ReportingServiceTest::TearDown();
  }

  os::testing::HttpTestServer openApi;
  std::shared_ptr<CloseRecorder> delegate = std::make_shared<CloseRecorder>();
  std::shared_ptr<VelmoraOAuth> session;
};

TEST_F(UsageReportsTest, EveryReportedOperationNamesItsApiAndTheOthersStayQuiet) {
  ASSERT_TRUE(session->addShareWithParams(os::Dictionary{{"title", "t"}}));
  ASSERT_TRUE(session->uploadPicWithParams(VelmoraParams{{"photodesc", os::Value("d")}}));
  ASSERT_TRUE(session->addTopicWithParams(os::Dictionary{{"con", "c"}}));
  ASSERT_TRUE(session->getUserInfo());  // no usage report of its own
  SetHeadImageViewController picker("", {}, "www.velmora.example");
  EXPECT_NE(session->didFinishedSetUserLocalPic(picker, os::Image::create(os::Bitmap(8, 8)), ""), -1);
  auto qzone = installQZone({"mqzone", "mqzoneopensdkapi", "mqzoneopensdkapiV2"});
  ASSERT_TRUE(session->sendStory(os::Dictionary{{"title", "t"}}, {}));
  ASSERT_TRUE(run([&] { return usageReports().size() == 5; }));
  settle();
  EXPECT_EQ(usageReports(), (std::vector<std::string>{"share/add_share", "photo/upload_pic", "shuoshuo/add_topic",
                                                      "user/set_user_face", "story"}));
  // A story without friends is no timed report.
  EXPECT_TRUE(service().actionReports().empty());
}

TEST_F(UsageReportsTest, AStoryToFriendsIsATimedReport) {
  auto qzone = installQZone({"mqzone", "mqzoneopensdkapi", "mqzoneopensdkapiV2"});
  const double now = os::Clock::now();
  ASSERT_TRUE(session->sendStory(os::Dictionary{{"title", "t"}}, {os::Value("F1")}));
  ASSERT_TRUE(run([&] { return !service().actionReports().empty(); }));
  const auto report = service().actionReports().at(0);
  EXPECT_EQ(report.action, "10784");
  EXPECT_EQ(report.appid, kAppId);
  EXPECT_EQ(report.tag, "0");
  EXPECT_EQ(report.version, "ios.SDK.1.8");
  EXPECT_EQ(report.elapsed, std::to_string(static_cast<long long>(now)));
}

TEST_F(UsageReportsTest, MorePermissionsThroughQQReportTheirAction) {
  auto qq = installQQ({"mqq", "mqqOpensdkSSoLogin", "mqqopensdkapiV2"});
  ASSERT_TRUE(session->incrAuthWithPermissions({"add_topic"}));
  const std::string type = std::string("com.velmora.") + kReplyScheme;
  qq->generalPasteboard()->setData(
      os::KeyedArchiver::archivedData(os::Value(os::Dictionary{{"openid", "OID"}, {"access_token", "TOK2"}})), type);
  qq->openURL(std::string(kReplyScheme) + "://qzapp/anything/0?generalpastboard=1");
  ASSERT_TRUE(run([&] { return service().actionReports().size() == 2; }));
  EXPECT_EQ(delegate->calls, std::vector<std::string>{"updated"});
  // Handed to QQ (10786) and granted (10788); each report travels on a request of its own, so
  // they may arrive either way round.
  auto reports = service().actionReports();
  std::sort(reports.begin(), reports.end(), [](const auto& a, const auto& b) { return a.action < b.action; });
  EXPECT_EQ(reports.at(0).action, "10786");
  EXPECT_EQ(reports.at(1).action, "10788");
  EXPECT_EQ(reports.at(1).appid, kAppId);
  EXPECT_FALSE(reports.at(1).elapsed);
}

// Without QQ the same request goes on in the web page: the login there is the web login's, which
// reports no action of the application's.
TEST_F(UsageReportsTest, MorePermissionsThroughTheWebPageReportNoApplicationAction) {
  auto appWindow = os::testing::showKeyWindow();
  auto pages = os::testing::ScriptedWebPages::install();
  pages->route("https://openmobile.velmora.example/oauth2.0/m_authorize",
               os::testing::ScriptedPage::page(
                   "", {os::testing::ScriptedPage::go("auth://openmobile.velmora.example#access_token=TOK2&openid=OID&expires_in=3600")}));
  ASSERT_TRUE(session->incrAuthWithPermissions({"add_topic"}));
  ASSERT_TRUE(run([&] { return !delegate->calls.empty(); }));
  EXPECT_EQ(delegate->calls, std::vector<std::string>{"updated"});
  EXPECT_EQ(session->accessToken(), "TOK2");
  // A report sent after the login arrives alone: nothing was reported for the login itself.
  TCDataReport::shared().reportData(0, "10653", kAppId, std::nullopt);
  ASSERT_TRUE(run([&] { return !service().actionReports().empty(); }));
  os::Clock::advance(0.5);  // the page's window slides away
  settle();
  EXPECT_EQ(actions(), std::vector<std::string>{"10653"});
  pages.reset();
}

TEST_F(UsageReportsTest, CancelledHeadPictureClosesThroughTheDelegateWithItsScreen) {
  auto appWindow = os::testing::showKeyWindow();
  std::shared_ptr<os::ViewController> screen;
  ASSERT_TRUE(session->setUserHeadpic(os::Image::create(os::Bitmap(64, 48)), "face", screen));
  auto picker = std::dynamic_pointer_cast<SetHeadImageViewController>(screen);
  ASSERT_TRUE(picker);
  EXPECT_FALSE(session->tcUiKit()->window());  // handed out, not shown in a window of its own
  EXPECT_EQ(picker->fileName(), "face");
  session->didCancelled(picker->seq());
  os::Clock::advance(0.1);
  settle();
  ASSERT_EQ(delegate->closed.size(), 1u);
  EXPECT_EQ(delegate->closed[0], screen);
  EXPECT_FALSE(session->tcUiKit()->headImageViewController());

  std::shared_ptr<os::ViewController> none;
  session->setOpenId(std::nullopt);
  EXPECT_FALSE(session->setUserHeadpic(os::Image::create(os::Bitmap(8, 8)), "face", none));
  EXPECT_FALSE(none);
}

TEST_F(UsageReportsTest, AppToAppClassOperationsAnswerAsTheInterface) {
  EXPECT_FALSE(VelmoraOAuth::getVelmoraAppInstallUrl(1));
  EXPECT_EQ(VelmoraOAuth::sendRespMessageToVelmoraApp(nullptr),
            VelmoraApiInterface::sendRespMessageToVelmoraApp(nullptr));
}

}  // namespace
}  // namespace qctest
