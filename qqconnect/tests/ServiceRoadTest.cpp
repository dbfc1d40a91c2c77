// The QQ Connect client against the local QQ Connect service, each reading its own side: the web
// login through the service's authorisation page with its test account, then OpenAPI operations
// with the token the page granted, and the usage report that follows a share.
#include <gtest/gtest.h>

#include "QQConnectTestSupport.h"
#include "UsageReportsSupport.h"
#include "os/console/ScreenDump.h"
#include "os/console/TouchDriver.h"
#include "os/core/String.h"
#include "os/net/URLConnection.h"
#include "os/views/Button.h"
#include "os/views/TextField.h"
#include "os/views/WebView.h"
#include "qqconnect_core/web/TCWebViewKit.h"
#include "os/views/Window.h"

namespace qctest {
namespace {

using qqconnectd::QQConnectService;

struct Answers : Recorder {
  std::vector<std::pair<std::string, Response>> answers;
  void getUserInfoResponse(const Response& r) override { answers.emplace_back("user info", r); }
  void addShareResponse(const Response& r) override { answers.emplace_back("add_share", r); }
};

class ServiceRoadTest : public ReportingServiceTest {
 protected:
  void SetUp() override {
    ReportingServiceTest::SetUp();
    appWindow = os::testing::showKeyWindow();
    // Only the addresses move to the loopback service; paths and parameters are the client's own.
    VelmoraOAuthEndpoints endpoints;
    endpoints.loginPage.authorizeBase = server.url("/oauth2.0/");
    endpoints.openApiBase = server.url("/");
    session = VelmoraOAuth::initWithAppId(kAppId, delegate, endpoints);
  }
  void TearDown() override {
    os::TouchDriver::advance(0.5);  // the login page's window slides away
    session.reset();
    appWindow.reset();
    settle();
    ReportingServiceTest::TearDown();
  }
  // The control of this session's login page that shows `text` (a field by its placeholder, a
  // button by its title), or null.
  std::shared_ptr<os::View> control(const std::string& text) {
    auto kit = session->loginViewKit();
    auto screen = kit ? kit->webViewController() : nullptr;
    if (!screen || !screen->webview()) return nullptr;
    for (const auto& view : screen->webview()->pageControls()) {
      if (auto field = std::dynamic_pointer_cast<os::TextField>(view); field && field->placeholder() == text) return view;
      if (auto button = std::dynamic_pointer_cast<os::Button>(view); button && button->currentTitle() == text)
        return view;
    }
    return nullptr;
  }
  // Types into a field in place of what it holds (a refused sign-in shows the account typed).
  bool fill(const std::string& placeholder, const std::string& text) {
    auto field = std::dynamic_pointer_cast<os::TextField>(control(placeholder));
    if (!field) return false;
    field->setText("");
    return os::TouchDriver::typeText(*field, text);
  }
  bool signIn(const std::string& password) {
    if (!run([&] { return control("登录并授权") != nullptr; })) return false;
    return fill("帐号", QQConnectService::kTestAccount) && fill("密码", password) &&
           os::TouchDriver::tap(*control("登录并授权"));
  }
  bool loggedIn() {
    EXPECT_TRUE(session->authorize({"get_user_info", "add_share"}, true));
    EXPECT_TRUE(signIn(QQConnectService::kTestPassword));
    EXPECT_TRUE(run([&] { return !delegate->calls.empty(); }));
    return delegate->calls == std::vector<std::string>{"login"};
  }
  bool answered(std::size_t count) { return run([&] { return delegate->answers.size() >= count; }); }

  std::shared_ptr<os::Window> appWindow;
  std::shared_ptr<Answers> delegate = std::make_shared<Answers>();
  std::shared_ptr<VelmoraOAuth> session;
};

TEST_F(ServiceRoadTest, TheTestAccountSignsInOnThePageAndTheSessionHoldsWhatWasGranted) {
  ASSERT_TRUE(session->authorize({"get_user_info", "add_share"}, true));
  // The page names its account; a wrong password shows the form again and grants nothing.
  ASSERT_TRUE(run([] { return os::findVisibleText("测试帐号 10001 密码 qq123456") != nullptr; }));
  ASSERT_TRUE(signIn("nope"));
  ASSERT_TRUE(run([] { return os::findVisibleText("帐号或密码错误，请重新输入") != nullptr; }));
  EXPECT_TRUE(delegate->calls.empty());
  EXPECT_TRUE(service().grants().empty());

  ASSERT_TRUE(signIn(QQConnectService::kTestPassword));
  ASSERT_TRUE(run([&] { return !delegate->calls.empty(); }));
  EXPECT_EQ(delegate->calls, std::vector<std::string>{"login"});
  auto grants = service().grants();
  ASSERT_EQ(grants.size(), 1u);
  EXPECT_EQ(grants[0].appid, kAppId);
  EXPECT_EQ(grants[0].scope, "get_user_info,add_share");
  EXPECT_EQ(session->accessToken(), grants[0].token);
  EXPECT_EQ(session->openId(), grants[0].openid);
  // Ninety days from the redirect, which came a moment before now.
  ASSERT_TRUE(session->expirationDate());
  const double left = session->expirationDate()->timeIntervalSince(os::Date::now());
  EXPECT_LE(left, QQConnectService::kTokenLifetime);
  EXPECT_GT(left, QQConnectService::kTokenLifetime - 60);
  EXPECT_TRUE(session->isSessionValid());
  // The page closed with the redirect: its window slides away and the reader's is back.
  os::TouchDriver::advance(0.5);
  EXPECT_FALSE(session->loginViewKit()->window());
  EXPECT_EQ(appWindow->frame().origin.x, 0);
}

TEST_F(ServiceRoadTest, OpenApiCallsWithTheGrantedTokenAreAnsweredAndAShareIsReported) {
  ASSERT_TRUE(loggedIn());
  ASSERT_TRUE(session->getUserInfo());
  ASSERT_TRUE(answered(1));
  auto [name, info] = delegate->answers[0];
  EXPECT_EQ(name, "user info");
  EXPECT_EQ(info->retCode(), 0);
  ASSERT_TRUE(info->jsonResponse());
  EXPECT_EQ((*info->jsonResponse())["ret"].intValue(), 0);
  EXPECT_EQ((*info->jsonResponse())["nickname"].stringOr(), QQConnectService::kTestNickname);

  ASSERT_TRUE(session->addShareWithParams(os::Dictionary{{"title", "新闻标题"}, {"url", "http://news.example/1"},
                                                         {"summary", "摘要"}}));
  ASSERT_TRUE(answered(2));
  EXPECT_EQ(delegate->answers[1].first, "add_share");
  ASSERT_TRUE(delegate->answers[1].second->jsonResponse());
  EXPECT_EQ((*delegate->answers[1].second->jsonResponse())["ret"].intValue(), 0);
  auto shares = service().shares();
  ASSERT_EQ(shares.size(), 1u);
  EXPECT_EQ(shares[0].title, "新闻标题");
  EXPECT_EQ(shares[0].url, "http://news.example/1");
  EXPECT_EQ(shares[0].openid, session->openId());
  EXPECT_EQ(usageReports(), std::vector<std::string>{"share/add_share"});

  // A token the service never granted is refused with the platform's code, not a user.
  session->setAccessToken("FORGED");
  ASSERT_TRUE(session->getUserInfo());
  ASSERT_TRUE(answered(3));
  ASSERT_TRUE(delegate->answers[2].second->jsonResponse());
  EXPECT_EQ((*delegate->answers[2].second->jsonResponse())["ret"].intValue(), QQConnectService::kRetTokenInvalid);
}

// An outside browser on the device: it loads what it is handed over HTTP, signs in with the test
// account as a person would there, and notes where the service then sends it.
struct OutsideBrowser : os::URLConnectionDelegate {
  std::optional<std::string> sentTo;
  bool finished = false;
  std::optional<os::URLRequest> willSendRequest(os::URLConnection&, const os::URLRequest& request,
                                                const os::HTTPURLResponse&) override {
    if (os::hasPrefix(request.url(), "http://")) return request;
    sentTo = request.url();  // another application's scheme: the browser hands it to the system
    return std::nullopt;
  }
  void didFinishLoading(os::URLConnection&) override { finished = true; }
  void didFailWithError(os::URLConnection&, const os::Error&) override { finished = true; }
};

// The login the page hands to an outside browser: the attempt's serial and token key go out with
// the page address, the service signs in there and sends the browser back to the reader's scheme
// with the serial and the token enciphered, and the session holds the token the service granted.
TEST_F(ServiceRoadTest, ALoginHandedToAnOutsideBrowserComesBackWithItsSerialAndTheGrantedToken) {
  auto browserApp = sandbox.launchPeerApplication("com.velmora.mqqbrowser", {"mqqbrowser"});
  ASSERT_TRUE(session->authorize({"get_user_info", "add_share"}, true));
  ASSERT_TRUE(run([&] { return control("登录并授权") != nullptr; }));
  // The page offers the outside browser.
  session->loginViewKit()->webViewController()->webview()->clickLink(os::URLRequest("auth://browser"));
  ASSERT_TRUE(run([&] { return !browserApp->openedURLs().empty(); }));
  const std::string handed = browserApp->openedURLs().back().url.absoluteString();
  const std::string prefix = "mqqbrowser://url=";
  ASSERT_EQ(handed.rfind(prefix, 0), 0u) << handed;
  const std::string page = handed.substr(prefix.size());
  EXPECT_EQ(page.rfind(server.url("/oauth2.0/m_authorize?"), 0), 0u) << page;
  for (const char* member : {"&token_key=", "&serial=", "&browser=1"})
    EXPECT_NE(page.find(member), std::string::npos) << member;
  EXPECT_TRUE(delegate->calls.empty());

  os::URLRequest signIn(page);
  signIn.setHTTPMethod("POST");
  signIn.setValueForHTTPHeaderField("application/x-www-form-urlencoded", "Content-Type");
  signIn.setHTTPBody(os::dataFromString(std::string("username=") + QQConnectService::kTestAccount +
                                        "&password=" + QQConnectService::kTestPassword));
  auto browser = std::make_shared<OutsideBrowser>();
  auto connection = os::URLConnection::create(signIn, browser);
  ASSERT_TRUE(run([&] { return browser->finished; }));
  ASSERT_TRUE(browser->sentTo);
  EXPECT_EQ(browser->sentTo->rfind(std::string(kReplyScheme) + "://", 0), 0u) << *browser->sentTo;
  auto grants = service().grants();
  ASSERT_EQ(grants.size(), 1u);
  EXPECT_EQ(browser->sentTo->find(grants[0].token), std::string::npos);  // never in the clear

  browserApp->openURL(*browser->sentTo);
  ASSERT_TRUE(run([&] { return !delegate->calls.empty(); }));
  EXPECT_EQ(delegate->calls, std::vector<std::string>{"login"});
  EXPECT_EQ(session->accessToken(), grants[0].token);
  EXPECT_EQ(session->openId(), grants[0].openid);
  ASSERT_TRUE(session->expirationDate());
  const double left = session->expirationDate()->timeIntervalSince(os::Date::now());
  EXPECT_LE(left, QQConnectService::kTokenLifetime);
  EXPECT_GT(left, QQConnectService::kTokenLifetime - 60);
  // The attempt is used up: the same answer again is not taken.
  EXPECT_FALSE(VelmoraOAuth::HandleOpenURL(*browser->sentTo));

  // The granted token opens the OpenAPI.
  ASSERT_TRUE(session->getUserInfo());
  ASSERT_TRUE(answered(1));
  ASSERT_TRUE(delegate->answers[0].second->jsonResponse());
  EXPECT_EQ((*delegate->answers[0].second->jsonResponse())["ret"].intValue(), 0);
}

}  // namespace
}  // namespace qctest
