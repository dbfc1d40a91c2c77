// The web kit's window and bridge, and the web login through the scripted authorisation page.
#include <gtest/gtest.h>

#include "QQConnectTestSupport.h"
#include "qqconnect_core/login/TcApiTool.h"
#include "qqconnect/web/TCLoginViewKit.h"
#include "qqconnect_core/web/TCWebViewKit.h"
#include "os/graphics/ImageCodec.h"
#include "os/net/URLError.h"
#include "os/testing/ScriptedWebPages.h"
#include "os/testing/ScreenHelpers.h"
#include "os/views/BarButtonItem.h"
#include "os/views/Device.h"
#include "os/views/NavigationBar.h"
#include "os/views/Screen.h"
#include "os/views/Switch.h"
#include "os/views/Window.h"

namespace qctest {
namespace {

using os::testing::ScriptedPage;

const std::string kPage = "https://pages.velmora.example/story";
const std::string kAuthorize = "https://openmobile.velmora.example/oauth2.0/m_authorize";

struct KitRecorder : TCWebViewKitDelegate {
  std::vector<std::string> events;
  void webViewKitDidFinishedWithError(TCWebViewKit&, const std::optional<os::Error>&) override { events.push_back("finished"); }
  void webViewKitDidLoadWithContentError(TCWebViewKit&, const os::Error&) override { events.push_back("content"); }
  void webViewKitDidLoadWithNetworkError(TCWebViewKit&, const os::Error&) override { events.push_back("network"); }
};

class WebKitTest : public QQConnectTest {
 protected:
  void SetUp() override {
    QQConnectTest::SetUp();
    appWindow = os::testing::showKeyWindow();
  }
  void TearDown() override {
    kit.reset();
    appWindow.reset();
    settle();
    pages.reset();
    QQConnectTest::TearDown();
  }
  void advance(double seconds) {
    os::Clock::advance(seconds);
    settle();
  }
  std::shared_ptr<os::testing::ScriptedWebPages> pages = os::testing::ScriptedWebPages::install();
  std::shared_ptr<os::Window> appWindow;
  std::shared_ptr<TCWebViewKit> kit = std::make_shared<TCWebViewKit>();
  std::shared_ptr<KitRecorder> recorder = std::make_shared<KitRecorder>();
};

TEST_F(WebKitTest, WindowSlidesInMovesTheOthersOutAndBackOnce) {
  auto parked = std::make_shared<os::Window>(os::Rect{-2000, 0, 320, 480});  // already off the screen
  parked->setHidden(false);
  pages->route(kPage, ScriptedPage::page("<title>t</title>"));
  os::Bitmap corner(4, 4);  // one colour at its top left, another at its bottom right
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) {
      const std::array<std::uint8_t, 4> c = x == 3 && y == 3 ? std::array<std::uint8_t, 4>{200, 100, 50, 255}
                                                            : std::array<std::uint8_t, 4>{10, 20, 30, 255};
      std::copy(c.begin(), c.end(), corner.pixel(x, y));
    }
  const os::Data bar = *os::encodePNG(*os::Image::create(std::move(corner)));
  sandbox.writeBundleFile("VelmoraOpenApi_IOS_Bundle.bundle/velmoraSDKNavigationBar.png", std::string(bar.begin(), bar.end()));
  ASSERT_TRUE(kit->openWithUrl(kPage, "故事", recorder));
  advance(0.5);
  auto* nav = kit->webViewController()->navigationController();
  ASSERT_TRUE(nav);
  // Stretched from its corner over the whole bar: its own pixels, then its edge carried on.
  auto background = nav->navigationBar()->backgroundImage();
  ASSERT_TRUE(background);
  const os::Size barSize = nav->navigationBar()->frame().size;
  EXPECT_EQ(background->size(), (os::Size{std::floor(barSize.width), std::floor(barSize.height)}));
  EXPECT_GT(barSize.width, 4);
  const os::Bitmap& stretched = background->bitmap();
  EXPECT_EQ(stretched.rgba(0, 0), (std::array<std::uint8_t, 4>{10, 20, 30, 255}));
  EXPECT_EQ(stretched.rgba(stretched.width - 1, stretched.height - 1), (std::array<std::uint8_t, 4>{200, 100, 50, 255}));
  EXPECT_EQ(kit->window()->frame(), os::Screen::main().bounds());
  EXPECT_EQ(appWindow->frame().origin.x, os::Screen::main().bounds().size.width);
  EXPECT_EQ(kit->webViewController()->navigationItem()->leftBarButtonItem()->title(), "关闭");

  kit->doClose();
  kit->doClose();
  advance(0.5);
  EXPECT_FALSE(kit->window());
  EXPECT_EQ(appWindow->frame().origin.x, 0);
  EXPECT_EQ(parked->frame().origin.x, -2000);
}

TEST_F(WebKitTest, IndicatorTurnsWhileThePageLoads) {
  std::optional<bool> turningDuringLoad;
  pages->route(kPage, [&](const os::URLRequest&) {
    turningDuringLoad = kit->webViewController()->activityIndicatorView()->isAnimating();
    return ScriptedPage::page("<title>t</title>");
  });
  ASSERT_TRUE(kit->openWithUrl(kPage, "", recorder));
  ASSERT_TRUE(run([&] { return turningDuringLoad.has_value(); }));
  advance(0.5);
  auto indicator = kit->webViewController()->activityIndicatorView();
  EXPECT_EQ(turningDuringLoad, true);
  EXPECT_FALSE(indicator->isAnimating());
  EXPECT_TRUE(indicator->hidesWhenStopped());
  EXPECT_EQ(indicator->style(), os::ActivityIndicatorViewStyle::Gray);
  const os::Size web = kit->webViewController()->webview()->bounds().size;
  EXPECT_EQ(indicator->center(), (os::Point{web.width / 2, web.height / 2}));
}

TEST_F(WebKitTest, PageBridgeSetsTheTitleAndBindsScriptsToBarButtons) {
  pages->route(kPage, ScriptedPage::page("<title>t</title>",
                                         {ScriptedPage::go("TCWebViewKit://setNavigationTitle-/Hello%20World"),
                                          ScriptedPage::go("TCWebViewKit://setRightNavigationBarButton-bindingJS-/完成/done()"),
                                          ScriptedPage::go("TCWebViewKit://setLeftNavigationBarButton-bindingJS-/取消/cancel()"),
                                          ScriptedPage::go("TCWebViewKit://deleteEverything-/x")}));
  ASSERT_TRUE(kit->openWithUrl(kPage, "", recorder));
  ASSERT_TRUE(run([&] { return kit->webViewController()->navigationItem()->leftBarButtonItem()->systemItem().has_value(); }));
  auto item = kit->webViewController()->navigationItem();
  EXPECT_EQ(item->title(), "Hello World");
  EXPECT_EQ(item->rightBarButtonItem()->systemItem(), os::BarButtonSystemItem::Done);
  item->rightBarButtonItem()->trigger();
  item->leftBarButtonItem()->trigger();
  const auto& scripts = kit->webViewController()->webview()->evaluatedScripts();
  EXPECT_EQ(std::vector<std::string>(scripts.end() - 2, scripts.end()), (std::vector<std::string>{"done()", "cancel()"}));
  EXPECT_EQ(kit->webViewController()->webview()->request()->url(), kPage);  // the page never left

  // A cancelled load is content, a failed one network.
  TCWebViewController& screen = *kit->webViewController();
  kit->webViewControllerDidFailLoadWithError(screen, os::Error(os::kURLErrorDomain, os::kURLErrorCancelled));
  kit->webViewControllerDidFailLoadWithError(screen, os::Error(os::kURLErrorDomain, -1009));
  EXPECT_EQ(recorder->events, (std::vector<std::string>{"content", "network"}));
}

// The web login of a session whose QQ cannot do single sign-on, the network reachable.
class WebLoginTest : public WebKitTest {
 protected:
  void SetUp() override {
    WebKitTest::SetUp();
    reachability->setDefaultFlags(os::kReachabilityFlagsReachable);
    session = VelmoraOAuth::initWithAppId(kAppId, delegate);
  }
  void TearDown() override {
    session.reset();
    WebKitTest::TearDown();
  }
  bool login() {
    delegate->calls.clear();
    return session->authorize({"get_user_info"}, true);
  }
  bool outcome() { return run([&] { return !delegate->calls.empty(); }); }
  std::shared_ptr<Recorder> delegate = std::make_shared<Recorder>();
  std::shared_ptr<VelmoraOAuth> session;
};

TEST_F(WebLoginTest, PageRedirectCarriesTheTokenOnlyToTheExactRedirectHost) {
  pages->route(kAuthorize, ScriptedPage::page("", {ScriptedPage::go(
      "auth://openmobile.velmora.example#access_token=T&openid=O&expires_in=7776000&state=test&pf=x")}));
  ASSERT_TRUE(login());
  ASSERT_TRUE(outcome());
  EXPECT_EQ(delegate->calls, std::vector<std::string>{"login"});
  EXPECT_EQ(session->accessToken(), "T");
  EXPECT_EQ(session->openId(), "O");
  EXPECT_EQ(session->expirationDate(), os::Date::now().addingTimeInterval(7776000));
  EXPECT_EQ(session->passData(), (os::Dictionary{{"pf", "x"}}));
  const std::string sent = pages->requests().front().url();
  EXPECT_NE(sent.find("redirect_uri=auth%3A%2F%2Fopenmobile.velmora.example"), std::string::npos);
  EXPECT_NE(sent.find("scope=get_user_info"), std::string::npos);

  // A look-alike host is just another page (which this device cannot show).
  pages->route(kAuthorize, ScriptedPage::page("", {ScriptedPage::go("auth://openmobile.velmora.example.evil#access_token=X&openid=E")}));
  ASSERT_TRUE(login());
  ASSERT_TRUE(outcome());
  EXPECT_EQ(delegate->calls, std::vector<std::string>{"failed"});
  EXPECT_EQ(session->accessToken(), "T");

  // Without expires_in the single sign-on rule holds, not "expired at once".
  pages->route(kAuthorize, ScriptedPage::page("", {ScriptedPage::go("auth://openmobile.velmora.example#access_token=U&openid=O")}));
  ASSERT_TRUE(login());
  ASSERT_TRUE(outcome());
  EXPECT_EQ(session->accessToken(), "U");
  EXPECT_EQ(session->expirationDate(), os::Date::now().addingTimeInterval(2592000));
}

// The page's redirect reads expires_in as the sign-on reply does, huge exponents included.
TEST_F(WebLoginTest, HugeExponentsInThePageRedirectReadAsHugeOrTiny) {
  for (const HugeExponent& c : hugeExponentCases()) {
    std::string escaped;
    for (char ch : c.text) escaped += ch == '+' ? std::string("%2B") : std::string(1, ch);
    pages->route(kAuthorize, ScriptedPage::page("", {ScriptedPage::go(
        "auth://openmobile.velmora.example#access_token=T&openid=O&expires_in=" + escaped)}));
    ASSERT_TRUE(login());
    ASSERT_TRUE(outcome());
    EXPECT_EQ(session->accessToken(), "T");
    EXPECT_EQ(session->expirationDate(), c.expiry()) << c.text.substr(0, 40);
  }
}

TEST_F(WebLoginTest, BrowserRedirectChecksTheSerialBeforeItsScript) {
  pages->route(kAuthorize, ScriptedPage::page("", {ScriptedPage::go("auth://browser")}));
  ASSERT_TRUE(login());
  ASSERT_TRUE(run([&] { return session->loginViewKit()->isUseSafari(); }));
  const std::string serial = *session->loginViewKit()->serial();
  const std::string base = std::string(kReplyScheme) + "://openmobile.velmora.example#serial=";

  EXPECT_FALSE(VelmoraOAuth::HandleOpenURL(base + serial + "&cb=alert(document.cookie)&error=x"));
  EXPECT_FALSE(VelmoraOAuth::HandleOpenURL(base + "999&cb=done&error=x"));
  settle();
  EXPECT_TRUE(delegate->calls.empty());

  EXPECT_TRUE(VelmoraOAuth::HandleOpenURL(base + serial + "&error=access_denied"));
  EXPECT_EQ(delegate->calls, std::vector<std::string>{"cancelled"});
  EXPECT_FALSE(VelmoraOAuth::HandleOpenURL(base + serial + "&error=access_denied"));  // used up

  // A token that is not enciphered with the key fails the login.
  delegate->calls.clear();
  pages->route(kAuthorize, ScriptedPage::page("", {ScriptedPage::go("auth://browser")}));
  ASSERT_TRUE(login());
  ASSERT_TRUE(run([&] { return session->loginViewKit()->isUseSafari(); }));
  EXPECT_TRUE(VelmoraOAuth::HandleOpenURL(base + *session->loginViewKit()->serial() + "&access_token=xyz&openid=O"));
  EXPECT_EQ(delegate->calls, std::vector<std::string>{"failed"});
  EXPECT_FALSE(session->isSessionValid());
}

TEST_F(WebLoginTest, BrowserLoginComesBackWithTheTokenEnciphered) {
  auto browser = sandbox.launchPeerApplication("com.velmora.browser", {"mqqbrowser", "mttbrowser"});
  pages->route(kAuthorize, ScriptedPage::page("", {ScriptedPage::go("auth://browser")}));
  ASSERT_TRUE(login());
  ASSERT_TRUE(run([&] { return browser->openedURLs().size() == 2; }));  // both editions are asked
  const std::string handed = browser->openedURLs()[1].url.absoluteString();
  ASSERT_EQ(handed.rfind("mttbrowser://url=", 0), 0u);
  auto query = [&](const std::string& name) {
    const std::size_t at = handed.find(name + "=");
    return handed.substr(at + name.size() + 1, handed.find('&', at) - at - name.size() - 1);
  };
  const std::string key = query("token_key"), serial = query("serial");
  EXPECT_FALSE(key.empty());
  EXPECT_NE(handed.find("redirect_uri=" + std::string(kReplyScheme)), std::string::npos);

  const std::string token = *TcApiTool::encryAccessToken("REALTOKEN", key);
  browser->openURL(std::string(kReplyScheme) + "://openmobile.velmora.example#serial=" + serial + "&access_token=" +
                   token + "&openid=BO&expires_in=3600");
  ASSERT_TRUE(outcome());
  EXPECT_EQ(delegate->calls, std::vector<std::string>{"login"});
  EXPECT_EQ(session->accessToken(), "REALTOKEN");
  EXPECT_EQ(session->openId(), "BO");
}

// The old edition of the browser takes the login from system 6.0 on, 6.0 itself included.
TEST_F(WebLoginTest, TheOldBrowserEditionIsAskedFromSystemSixOn) {
  auto browser = sandbox.launchPeerApplication("com.velmora.oldbrowser", {"mttbrowser"});
  for (const char* version : {"5.1.1", "6.0"}) {
    os::DeviceProfile profile = os::Device::current().profile();
    profile.systemVersion = version;
    os::DeviceProfileScope scope(profile);
    pages->route(kAuthorize, ScriptedPage::page("", {ScriptedPage::go("auth://browser")}));
    const std::size_t loaded = pages->requests().size();
    ASSERT_TRUE(login()) << version;
    ASSERT_TRUE(run([&] { return pages->requests().size() > loaded; })) << version;
    settle();
  }
  ASSERT_EQ(browser->openedURLs().size(), 1u);
  EXPECT_EQ(browser->openedURLs()[0].url.absoluteString().rfind("mttbrowser://url=", 0), 0u);
  EXPECT_TRUE(session->loginViewKit()->isUseSafari());
}

TEST_F(WebLoginTest, WithoutMultitaskingNoBrowserIsAskedAndThePageCarriesOn) {
  auto browser = sandbox.launchPeerApplication("com.velmora.browser", {"mqqbrowser", "mttbrowser"});
  os::DeviceProfile profile = os::Device::current().profile();
  profile.multitaskingSupported = false;
  os::DeviceProfileScope scope(profile);
  std::vector<std::string> loads;
  pages->route(kAuthorize, [&](const os::URLRequest& request) {
    loads.push_back(request.url());
    return loads.size() == 1 ? ScriptedPage::page("", {ScriptedPage::go("auth://browser?fall_to_wv=1")})
                             : ScriptedPage::page("");
  });
  ASSERT_TRUE(login());
  ASSERT_TRUE(run([&] { return loads.size() == 2; }));
  settle();
  EXPECT_NE(loads[1].find("browser_error=1"), std::string::npos);
  EXPECT_TRUE(browser->openedURLs().empty());
  EXPECT_FALSE(session->loginViewKit()->isUseSafari());
}

TEST_F(WebLoginTest, NavigationLoopIsCutOffAtTheTwentyFirst) {
  int loads = 0;
  pages->route(kAuthorize, [&](const os::URLRequest& request) {
    ++loads;
    return ScriptedPage::page("", {ScriptedPage::go(request.url())});
  });
  ASSERT_TRUE(login());
  for (int i = 0; i < 60; ++i) settle();
  EXPECT_EQ(loads, 21);
}

// A second web login started while the first one's page is still open takes the kit over: the
// first caller hears once that its login was cancelled and is let go; the second's answer is its
// own.
TEST_F(WebLoginTest, ASecondLoginCancelsTheFirstWhosePageIsStillOpen) {
  int loads = 0;
  pages->route(kAuthorize, [&](const os::URLRequest&) {
    ++loads;
    return loads == 1 ? ScriptedPage::page("")
                      : ScriptedPage::page("", {ScriptedPage::go(
                            "auth://openmobile.velmora.example#access_token=T&openid=O&expires_in=3600")});
  });
  auto first = std::make_shared<Recorder>(), second = std::make_shared<Recorder>();
  ASSERT_TRUE(session->authorizeWithPermissions({"get_user_info"}, std::nullopt, first, false));
  ASSERT_TRUE(run([&] { return loads == 1; }));
  settle();
  EXPECT_TRUE(first->calls.empty());
  EXPECT_EQ(session->loginDict().size(), 1u);

  ASSERT_TRUE(session->authorizeWithPermissions({"get_user_info"}, std::nullopt, second, false));
  EXPECT_EQ(first->calls, std::vector<std::string>{"cancelled"});
  ASSERT_TRUE(run([&] { return !second->calls.empty(); }));
  settle();
  EXPECT_EQ(first->calls, std::vector<std::string>{"cancelled"});
  EXPECT_EQ(second->calls, std::vector<std::string>{"login"});
  EXPECT_TRUE(session->loginDict().empty());
  EXPECT_EQ(first.use_count(), 1);
  EXPECT_EQ(session->accessToken(), "T");

  // The session as its own login delegate both times: its delegate hears the first end as
  // cancelled, then the second one's outcome.
  loads = 0;
  ASSERT_TRUE(login());
  ASSERT_TRUE(run([&] { return loads == 1; }));
  settle();
  ASSERT_TRUE(session->authorize({"get_user_info"}, true));
  ASSERT_TRUE(run([&] { return delegate->calls.size() == 2; }));
  settle();
  EXPECT_EQ(delegate->calls, (std::vector<std::string>{"cancelled", "login"}));
  EXPECT_TRUE(session->loginDict().empty());
}

// Login A goes to the browser and login B, on the kit's own page, replaces it: A hears it was
// cancelled. The browser's late answer for A, a token or an error, decides nothing of B: B's page
// stays up, B hears nothing then, and when B's page closes, B ends with its own outcome and no
// token of A's.
TEST_F(WebLoginTest, AReplacedBrowserLoginsLateAnswerDecidesNothingOfTheNewLogin) {
  auto browser = sandbox.launchPeerApplication("com.velmora.browser", {"mqqbrowser", "mttbrowser"});
  int loads = 0;
  pages->route(kAuthorize, [&](const os::URLRequest&) {
    ++loads;
    return loads % 2 == 1 ? ScriptedPage::page("", {ScriptedPage::go("auth://browser")}) : ScriptedPage::page("");
  });
  for (const bool withToken : {true, false}) {
    SCOPED_TRACE(withToken ? "token" : "error");
    auto first = std::make_shared<Recorder>(), second = std::make_shared<Recorder>();
    const std::size_t handedBefore = browser->openedURLs().size();
    ASSERT_TRUE(session->authorizeWithPermissions({"get_user_info"}, std::nullopt, first, false));
    ASSERT_TRUE(run([&] { return browser->openedURLs().size() == handedBefore + 2; }));
    const std::string handed = browser->openedURLs().back().url.absoluteString();
    auto query = [&](const std::string& name) {
      const std::size_t at = handed.find(name + "=");
      return handed.substr(at + name.size() + 1, handed.find('&', at) - at - name.size() - 1);
    };
    const std::string key = query("token_key"), serial = query("serial");

    const int loaded = loads;
    ASSERT_TRUE(session->authorizeWithPermissions({"get_user_info"}, std::nullopt, second, false));
    ASSERT_TRUE(run([&] { return loads == loaded + 1; }));
    advance(0.5);
    EXPECT_EQ(first->calls, std::vector<std::string>{"cancelled"});
    ASSERT_TRUE(session->loginViewKit()->window());

    const std::string answer = withToken ? "&access_token=" + *TcApiTool::encryAccessToken("TOKEN_OF_A", key) +
                                               "&openid=AO&expires_in=3600"
                                         : std::string("&error=server_error");
    browser->openURL(std::string(kReplyScheme) + "://openmobile.velmora.example#serial=" + serial + answer);
    advance(0.5);
    EXPECT_TRUE(second->calls.empty());
    EXPECT_EQ(first->calls, std::vector<std::string>{"cancelled"});
    EXPECT_TRUE(session->loginViewKit()->window());
    EXPECT_FALSE(session->accessToken());
    EXPECT_EQ(session->loginDict().size(), 1u);

    // B's page closes unfinished: B ends once, not signed in, holding nothing of A's.
    session->loginViewKit()->doClose();
    advance(0.5);
    ASSERT_EQ(second->calls.size(), 1u);
    EXPECT_NE(second->calls[0], "login");
    EXPECT_FALSE(session->accessToken());
    EXPECT_FALSE(session->loginViewKit()->accessToken());
  }
}

// However many web logins were started, one loss of the network shows one alert.
TEST_F(WebLoginTest, OneOutageIsOneAlertHoweverManyLoginsWereStarted) {
  pages->route(kAuthorize, ScriptedPage::page(""));
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(login());
    settle();
  }
  EXPECT_TRUE(alertTitles().empty());
  reachability->setDefaultFlags(0);
  ASSERT_TRUE(run([&] { return !alertTitles().empty(); }));
  settle();
  EXPECT_EQ(alertTitles(), std::vector<std::string>{"网络错误"});
}

}  // namespace
}  // namespace qctest
