#include <gtest/gtest.h>

#include "os/net/URLError.h"
#include "os/testing/HttpTestServer.h"
#include "os/testing/ScriptedWebPages.h"
#include "os/views/Button.h"
#include "os/views/Label.h"
#include "os/views/ScrollView.h"
#include "os/views/TextField.h"
#include "os/views/WebView.h"
#include "ViewsTestSupport.h"

namespace os::test {
namespace {

struct WebTrace : WebViewDelegate {
  Trace trace;
  std::string refusePrefix;
  bool shouldStartLoadWithRequest(WebView&, const URLRequest& r, WebViewNavigationType type) override {
    trace.add("should " + r.url() + " " + std::to_string(static_cast<int>(type)));
    return refusePrefix.empty() || r.url().rfind(refusePrefix, 0) != 0;
  }
  void webViewDidStartLoad(WebView&) override { trace.add("start"); }
  void webViewDidFinishLoad(WebView& w) override { trace.add("finish " + w.title()); }
  void didFailLoadWithError(WebView&, const Error& e) override { trace.add("fail " + std::to_string(e.code)); }
  bool settled() const { return !trace.events.empty() && (trace.events.back().rfind("finish", 0) == 0 || trace.events.back().rfind("fail", 0) == 0); }
};

class WebViewTest : public ScreenTest {
 protected:
  void SetUp() override {
    ScreenTest::SetUp();
    delegate = std::make_shared<WebTrace>();
    web = makeView<WebView>(Rect(0, 0, 320, 480));
    web->setDelegate(delegate);
    window->addSubview(web);
  }
  bool waitForEnd() {
    return RunLoop::main()->runUntil([&] { return delegate->settled(); }, 10);
  }
  std::shared_ptr<WebTrace> delegate;
  std::shared_ptr<WebView> web;
};

TEST_F(WebViewTest, LoadsAPageAndAnswersItsTitle) {
  testing::HttpTestServer server;
  auto page = testing::CannedResponse::text("<html><head><TITLE>\n  Ad &amp; offer </TITLE></head><body>x</body></html>");
  page.contentType = "text/html";
  server.route("GET", "/ad", page);
  web->loadRequest(URLRequest(server.url("/ad")));
  EXPECT_TRUE(web->isLoading());
  ASSERT_TRUE(waitForEnd());
  EXPECT_EQ(delegate->trace.events,
            (std::vector<std::string>{"should " + server.url("/ad") + " 5", "start", "finish Ad & offer"}));
  EXPECT_EQ(web->stringByEvaluatingJavaScriptFromString("document.title"), "Ad & offer");
  EXPECT_EQ(web->stringByEvaluatingJavaScriptFromString("window.location.href;"), server.url("/ad"));
  EXPECT_EQ(web->stringByEvaluatingJavaScriptFromString("doSomething()"), "");
  EXPECT_EQ(web->evaluatedScripts().size(), 3u);
  EXPECT_FALSE(web->isLoading());
}

TEST_F(WebViewTest, ARefusedRedirectStopsTheLoadAsAnInterruptedFrame) {
  testing::HttpTestServer server;
  server.route("GET", "/authorize", testing::CannedResponse::redirect(302, server.url("/callback?code=42")));
  delegate->refusePrefix = server.url("/callback");
  web->loadRequest(URLRequest(server.url("/authorize")));
  ASSERT_TRUE(waitForEnd());
  ASSERT_EQ(delegate->trace.events.size(), 4u);
  EXPECT_EQ(delegate->trace.events[2], "should " + server.url("/callback?code=42") + " 5");
  EXPECT_EQ(delegate->trace.events[3], "fail " + std::to_string(kWebViewErrorFrameLoadInterrupted));
  EXPECT_EQ(server.requestCount(), 1u);  // the callback address was never fetched
}

TEST_F(WebViewTest, AFailedLoadReportsTheError) {
  web->loadRequest(URLRequest("http://127.0.0.1:1/nothing"));
  ASSERT_TRUE(waitForEnd());
  EXPECT_EQ(delegate->trace.events.back().rfind("fail ", 0), 0u);
  EXPECT_FALSE(web->canGoBack());
}

TEST_F(WebViewTest, HTMLStringsKeepAHistory) {
  web->loadHTMLString("<title>one</title>");
  ASSERT_TRUE(waitForEnd());
  delegate->trace.clear();
  web->loadHTMLString("<p>no title</p><title>two</title>");
  ASSERT_TRUE(waitForEnd());
  EXPECT_EQ(web->title(), "two");
  EXPECT_TRUE(web->canGoBack());
  web->goBack();
  EXPECT_EQ(web->stringByEvaluatingJavaScriptFromString("document.title"), "one");
  EXPECT_TRUE(web->canGoForward());
  // A link the delegate refuses leaves the page alone.
  delegate->refusePrefix = "app://";
  delegate->trace.clear();
  web->clickLink(URLRequest("app://close"));
  EXPECT_EQ(delegate->trace.events, std::vector<std::string>{"should app://close 0"});
  EXPECT_EQ(web->title(), "one");
}

}  // namespace
}  // namespace os::test

namespace os::test {
namespace {

// A loader that answers from a script, so navigation can be tested without a network.
class ScriptedLoader : public WebPageLoader {
 public:
  std::vector<std::string> started;
  Callbacks pending;
  void start(const URLRequest& request, Callbacks callbacks) override {
    started.push_back(request.url());
    pending = std::move(callbacks);
  }
  void cancel() override { pending = Callbacks{}; }
  void finish(const std::string& html) {
    auto done = std::move(pending.finished);
    pending = Callbacks{};
    if (done) done(Page{started.back(), 200, "text/html", Data(html.begin(), html.end()), {}});
  }
};

TEST_F(WebViewTest, StopAndReloadGoThroughTheLoader) {
  auto loader = std::make_shared<ScriptedLoader>();
  web->setLoader(loader);
  web->loadRequest(URLRequest("http://news.example/a"));
  loader->finish("<title>A</title>");
  EXPECT_EQ(web->title(), "A");
  web->loadRequest(URLRequest("http://news.example/b"));
  EXPECT_TRUE(web->isLoading());
  web->stopLoading();
  EXPECT_FALSE(web->isLoading());
  loader->finish("<title>B</title>");  // too late: the load was stopped
  EXPECT_EQ(web->title(), "A");
  EXPECT_FALSE(web->canGoBack());
  delegate->trace.clear();
  web->reload();
  EXPECT_EQ(loader->started.back(), "http://news.example/a");
  EXPECT_EQ(delegate->trace.events.front(), "should http://news.example/a 3");
  loader->finish("<title>A2</title>");
  EXPECT_EQ(web->title(), "A2");
  EXPECT_FALSE(web->canGoBack());  // a reload replaces the page, it adds none
}

}  // namespace
}  // namespace os::test

namespace os::test {
namespace {

TEST_F(WebViewTest, ScriptedPagesRedirectToACallbackAndCallTheBridge) {
  auto pages = testing::ScriptedWebPages::install();
  using testing::ScriptedPage;
  // A login page that sends its form on load; the server answers with the callback address.
  pages->route("https://auth.example.test/authorize",
               ScriptedPage::page("<title>Login</title>", {ScriptedPage::submit("https://auth.example.test/login", "u=a&p=b")}));
  pages->route("https://auth.example.test/login", [](const URLRequest& r) {
    return ScriptedPage::redirect(stringFromData(r.HTTPBody()) == "u=a&p=b" ? "app42://done?code=42" : "/authorize");
  });
  delegate->refusePrefix = "app42:";
  web->loadRequest(URLRequest("https://auth.example.test/authorize?client_id=1"));
  ASSERT_TRUE(RunLoop::main()->runUntil([&] { return delegate->trace.events.back() == "fail 102"; }, 30));
  EXPECT_EQ(delegate->trace.events,
            (std::vector<std::string>{"should https://auth.example.test/authorize?client_id=1 5", "start", "finish Login",
                                      "should https://auth.example.test/login 1", "start",
                                      "should app42://done?code=42 5", "fail 102"}));
  ASSERT_EQ(pages->requests().size(), 2u);
  EXPECT_EQ(pages->requests()[1].HTTPMethod(), "POST");

  // A page calls its host through a custom scheme, which the delegate takes and refuses, then
  // moves on; what it would do after a page that replaced it never happens.
  delegate->trace.clear();
  delegate->refusePrefix = "bridge:";
  pages->route("https://m.example.test/a", ScriptedPage::page("<title>A</title>", {ScriptedPage::go("bridge://share?id=7"),
                                                                                  ScriptedPage::go("https://m.example.test/b"),
                                                                                  ScriptedPage::go("https://m.example.test/c")}));
  pages->route("https://m.example.test/b", ScriptedPage::page("<title>B</title>"));
  web->loadRequest(URLRequest("https://m.example.test/a"));
  RunLoop::main()->runUntilIdle();
  EXPECT_EQ(delegate->trace.events,
            (std::vector<std::string>{"should https://m.example.test/a 5", "start", "finish A", "should bridge://share?id=7 5",
                                      "should https://m.example.test/b 5", "start", "finish B"}));
  EXPECT_TRUE(web->canGoBack());

  // Unknown hosts and schemes fail as the loader would.
  delegate->refusePrefix.clear();
  web->loadRequest(URLRequest("https://nowhere.example.test/"));
  ASSERT_TRUE(waitForEnd());
  EXPECT_EQ(delegate->trace.events.back(), "fail " + std::to_string(kURLErrorCannotFindHost));
  web->loadRequest(URLRequest("app42://x"));
  ASSERT_TRUE(RunLoop::main()->runUntil([&] { return delegate->trace.events.back() != "start"; }, 30));
  EXPECT_EQ(delegate->trace.events.back(), "fail " + std::to_string(kURLErrorUnsupportedURL));
}

// A sign-in page: its text and form fields become controls in the scroll view; the button sends
// the form, hidden inputs and typed fields form-encoded, by its method, to its action read against
// the page; the server's redirect then goes through the delegate like any other.
TEST_F(WebViewTest, AFormIsShownAsControlsAndItsButtonSendsIt) {
  testing::HttpTestServer server;
  auto page = testing::CannedResponse::text(
      "<html><head><title>Sign in</title></head><body><h1>Sign in &amp; share</h1><p>Test account <b>a</b></p>"
      "<form method=\"post\" action=\"../auth/go?x=1&amp;y=2\"><input type=hidden name=state value=\"s 1\">"
      "<input type=\"text\" name=\"username\" placeholder=\"Account\">"
      "<input type='password' name='password' placeholder='Password' value=\"old\">"
      "<input type=\"submit\" value=\"Sign in\"></form>"
      "<form action=\"/search\"><input name=q value=\"a b\"><button>Find</button></form></body></html>");
  page.contentType = "text/html";
  server.route("GET", "/web/page", page);
  server.route("POST", "/auth/go", testing::CannedResponse::redirect(302, server.url("/callback?code=42")));
  delegate->refusePrefix = server.url("/callback");
  web->loadRequest(URLRequest(server.url("/web/page")));
  ASSERT_TRUE(waitForEnd());

  std::vector<std::string> shown;
  for (const auto& control : web->pageControls()) {
    EXPECT_EQ(control->superview().get(), web->scrollView().get());
    if (auto label = std::dynamic_pointer_cast<Label>(control)) shown.push_back("label " + label->text());
    if (auto field = std::dynamic_pointer_cast<TextField>(control))
      shown.push_back(std::string(field->isSecureTextEntry() ? "secure " : "field ") + field->placeholder() + "|" + field->text());
    if (auto button = std::dynamic_pointer_cast<Button>(control)) shown.push_back("button " + button->currentTitle().value_or(""));
  }
  EXPECT_EQ(shown, (std::vector<std::string>{"label Sign in & share", "label Test account a", "field Account|",
                                             "secure Password|old", "button Sign in", "field |a b", "button Find"}));

  auto account = std::dynamic_pointer_cast<TextField>(web->pageControls()[2]);
  auto password = std::dynamic_pointer_cast<TextField>(web->pageControls()[3]);
  account->setText("reader");
  password->setText("p&ss word");
  delegate->trace.events.clear();
  std::dynamic_pointer_cast<Button>(web->pageControls()[4])->sendActionsForControlEvents(kControlEventTouchUpInside);
  ASSERT_TRUE(waitForEnd());
  ASSERT_EQ(server.requestCount(), 2u);
  auto sent = server.requests()[1];
  EXPECT_EQ(sent.method, "POST");
  EXPECT_EQ(sent.path, "/auth/go");
  EXPECT_EQ(sent.query, "x=1&y=2");
  EXPECT_EQ(sent.body, "state=s+1&username=reader&password=p%26ss+word");
  EXPECT_EQ(delegate->trace.events.front(), "should " + server.url("/auth/go?x=1&y=2") + " 1");
  EXPECT_EQ(delegate->trace.events.back(), "fail 102");  // the refused callback

  // A form without a method goes by GET, its fields as the query.
  EXPECT_TRUE(web->submitForm(1));
  EXPECT_EQ(web->request()->url(), server.url("/search?q=a+b"));
  EXPECT_FALSE(web->submitForm(2));
}

// The return key in a field sends the field's own form, as a browser does: a sign-in page is
// signed in from its password field.
TEST_F(WebViewTest, ReturnInAFieldSendsItsForm) {
  testing::HttpTestServer server;
  auto page = testing::CannedResponse::text(
      "<html><body><form action='/search'><input name=q value='x'><button>Find</button></form>"
      "<form method='post' action='/auth/go'><input name='username' placeholder='Account'>"
      "<input type='password' name='password' placeholder='Password'><input type='submit' value='Sign in'></form>"
      "</body></html>");
  page.contentType = "text/html";
  server.route("GET", "/web/page", page);
  server.route("POST", "/auth/go", testing::CannedResponse::text("signed in"));
  web->loadRequest(URLRequest(server.url("/web/page")));
  ASSERT_TRUE(waitForEnd());
  ASSERT_EQ(web->pageControls().size(), 5u);
  auto account = std::dynamic_pointer_cast<TextField>(web->pageControls()[2]);
  auto password = std::dynamic_pointer_cast<TextField>(web->pageControls()[3]);
  ASSERT_TRUE(account && password);
  account->setText("reader");
  password->setText("reader123");
  delegate->trace.events.clear();
  EXPECT_TRUE(password->pressReturn());
  ASSERT_TRUE(waitForEnd());
  ASSERT_EQ(server.requestCount(), 2u);
  EXPECT_EQ(server.requests()[1].path, "/auth/go");
  EXPECT_EQ(server.requests()[1].body, "username=reader&password=reader123");
  EXPECT_EQ(delegate->trace.events.front(), "should " + server.url("/auth/go") + " 1");
}

}  // namespace
}  // namespace os::test
