// The Renren client end to end: API calls to the local Renren service on named hosts (MAC over
// http, bearer over https), single sign-on with the Renren application as a peer, the web login
// with scripted pages, and the stored token's expiry.
#include <gtest/gtest.h>

#include <atomic>

#include "os/net/HostLookup.h"
#include "os/runtime/Clock.h"
#include "os/runtime/RunLoop.h"
#include "os/store/Sandbox.h"
#include "os/store/UserDefaults.h"
#include "os/testing/Collect.h"
#include "os/testing/HttpTestServer.h"
#include "os/testing/ScriptedWebPages.h"
#include "os/testing/TestCertificateAuthority.h"
#include "os/testing/TestPeerApplication.h"
#include "os/testing/TestSandbox.h"
#include "os/views/Application.h"
#include "os/views/Button.h"
#include "os/views/Window.h"
#include "platforms/renren/OAuth2SignatureMethod.h"
#include "platforms/renren/RennAuthorizeView.h"
#include "platforms/renren/RennClient.h"
#include "platforms/renren/RennLoginService.h"
#include "platforms/renren/RennParams.h"
#include "tools/renrend/server/RenrenApi.h"

namespace {

using os::testing::CannedResponse;
using os::testing::HttpTestServer;
using os::testing::RecordedRequest;

const char* kApiHost = "api.renren.example";
const std::string kCallback = "rm4242com.example.newsreader";

struct Calls : RennServiveDelegate {
  std::vector<os::Value> responses;
  std::vector<os::Error> errors;
  void rennServiceRequestSuccessWithResponse(RennService&, const os::Value& r) override { responses.push_back(r); }
  void rennServiceRequestFailWithError(RennService&, const os::Error& e) override { errors.push_back(e); }
  std::size_t count() const { return responses.size() + errors.size(); }
};

struct Login : RennLoginDelegate {
  std::vector<std::string> events;
  std::vector<os::Error> errors;
  void rennLoginSuccess() override { events.push_back("success"); }
  void rennLoginCancelded() override { events.push_back("cancelled"); }
  void rennLogoutSuccess() override { events.push_back("logout"); }
  void rennLoginDidFailWithError(const os::Error& e) override {
    events.push_back("failed");
    errors.push_back(e);
  }
};

// The reader: URLs it is opened with go to the Renren client.
struct Reader : os::ApplicationDelegate {
  std::vector<bool> handled;
  bool openURL(os::Application&, const os::URL& url, const std::string&, const os::Value&) override {
    handled.push_back(RennClient::handleOpenURL(url));
    return handled.back();
  }
};

renrend::ApiRequest toApiRequest(const RecordedRequest& r, bool secure) {
  renrend::ApiRequest api;
  api.method = r.method;
  api.path = r.path;
  api.rawQuery = r.query;
  api.query.insert(r.queryParameters.begin(), r.queryParameters.end());
  api.authorization = r.headers.value("Authorization").value_or("");
  api.host = r.headers.value("Host").value_or("");
  api.secure = secure;
  if (const auto* file = r.part("file")) api.uploadedFile = file->content;
  return api;
}

RennAccessToken bearer(const std::string& access, double requestTime, std::int64_t lifetime) {
  RennAccessToken t;
  t.setTokenType("bearer");
  t.setAccessToken(access);
  t.setRequestTime(requestTime);
  t.setExpiresIn(lifetime);
  return t;
}

// A MAC token; without a key it cannot sign.
RennAccessToken macToken(const std::string& access, std::optional<std::string> key) {
  RennAccessToken t;
  t.setTokenType("mac");
  t.setAccessToken(access);
  t.setMacKey(std::move(key));
  return t;
}

class RennClientTest : public ::testing::Test {
 protected:
  RennClientTest() {
    app = os::Application::create(reader, "com.example.newsreader");
    app->registerURLSchemes({kCallback});
    app->makeShared();
    app->launch();
    window->makeKeyAndVisible();
    RennClient::initWithAppId("4242", "apikey1", "secret1");
    RennClient::setScope("a b");
    RennClient::setTokenType("bearer");
    RennClient::enableSSO(true);
    RennLoginService::sharedRennLoginService().setHosts(RennHosts{});
    RennClient::setAccessToken(std::nullopt);
  }
  ~RennClientTest() override {
    os::RunLoop::main()->runUntilIdle();
    RennClient::cancelLogin();
    os::testing::TestCertificateAuthority::untrustAll();
    os::HostLookup::removeAllOverrides();
  }
  double now() const { return os::Clock::now(); }

  // The service on its named host: https by the host's any-port route, http on port 80.
  void startService() {
    secure = std::make_unique<HttpTestServer>(true, std::vector<std::string>{kApiHost});
    plain = std::make_unique<HttpTestServer>();
    for (const renrend::ApiCall& call : renrend::apiTable()) {
      secure->route(call.method, call.path, [this](const RecordedRequest& r) { return answer(r, true); });
      plain->route(call.method, call.path, [this](const RecordedRequest& r) { return answer(r, false); });
    }
    os::HostLookup::mapHost(kApiHost, 80, "127.0.0.1", plain->port());
    os::testing::TestCertificateAuthority::shared().trust();
  }
  CannedResponse answer(const RecordedRequest& r, bool isSecure) {
    renrend::ApiAnswer a = api.handle(toApiRequest(r, isSecure));
    return CannedResponse::json(a.body, a.status);
  }
  bool waitFor(const Calls& calls, std::size_t n) {
    return os::RunLoop::main()->runUntil([&] { return calls.count() >= n; }, 20);
  }

  // A virtual clock past 2038, where 32-bit seconds no longer hold the time.
  os::VirtualClockScope clock_{2200000000.0};
  os::TestSandbox device_;
  std::shared_ptr<Reader> reader = std::make_shared<Reader>();
  std::shared_ptr<os::Application> app;
  std::shared_ptr<os::Window> window = std::make_shared<os::Window>();
  renrend::RenrenApi api;
  std::unique_ptr<HttpTestServer> secure, plain;
};

TEST_F(RennClientTest, MacOverHttpAndBearerOverHttps) {
  startService();
  api.addMacToken("mac.456.tok", "mackey", "456");
  api.addBearerToken("a-b-123", "123");
  auto calls = std::make_shared<Calls>();

  RennAccessToken mac;
  mac.setTokenType("mac");
  mac.setAccessToken("mac.456.tok");
  mac.setMacKey("mackey");
  mac.setMacAlgorithm("hmac-sha-1");
  RennClient::setAccessToken(mac);
  EXPECT_EQ(RennClient::uid(), "456");
  GetUserParam user;
  user.setUserId("42");
  auto service = RennClient::sendAsynRequest(user, calls);
  EXPECT_EQ(service->type(), "GetUser");
  EXPECT_EQ(RennClient::serviceArray().size(), 1u);
  ASSERT_TRUE(waitFor(*calls, 1));
  ASSERT_EQ(calls->responses.size(), 1u) << calls->errors[0].domain;
  EXPECT_EQ(calls->responses[0]["id"].stringOr(), "42");
  ASSERT_EQ(plain->requestCount(), 1u);
  const std::string header = plain->requests()[0].headers.value("Authorization").value_or("");
  EXPECT_EQ(header.rfind("MAC id=\"mac.456.tok\",ts=\"2200000000\",nonce=\"", 0), 0u) << header;
  EXPECT_TRUE(RennClient::serviceArray().empty());
  // A POST carries its parameters in the query as well.
  PutStatusParam status;
  status.setContent("你好 & more");
  RennClient::sendAsynRequest(status, calls);
  ASSERT_TRUE(waitFor(*calls, 2));
  ASSERT_EQ(calls->responses.size(), 2u);
  EXPECT_EQ(calls->responses[1]["parameters"]["content"].stringOr(), "你好 & more");

  RennClient::setAccessToken(bearer("a-b-123", now(), 3600));
  EXPECT_EQ(RennClient::uid(), "123");
  BatchUserParam batch;
  batch.setUserIds({"1", "2"});
  RennClient::sendAsynRequest(batch, calls);
  ASSERT_TRUE(waitFor(*calls, 3));
  ASSERT_EQ(calls->responses.size(), 3u);
  EXPECT_EQ(calls->responses[2].count(), 2u);  // the reply's array itself
  ASSERT_EQ(secure->requestCount(), 1u);
  EXPECT_EQ(secure->requests()[0].headers.value("Authorization"), "Bearer a-b-123");
  EXPECT_EQ(secure->requests()[0].query, "userIds=1%2C2");

  // A photo goes as the multipart body, its other fields in the query.
  UploadPhotoParam photo;
  photo.setAlbumId("9");
  photo.setFile(os::Data{1, 2, 3, 4});
  RennClient::sendAsynRequest(photo, calls);
  ASSERT_TRUE(waitFor(*calls, 4));
  ASSERT_EQ(calls->responses.size(), 4u);
  EXPECT_EQ(calls->responses[3]["size"].intValue(), 4);
  const RecordedRequest upload = secure->requests().back();
  ASSERT_TRUE(upload.part("file"));
  const auto& part = *upload.part("file");
  EXPECT_EQ(part.filename, "file.png");
  EXPECT_EQ(part.contentType, "image/png");

  // The service's refusal (HTTP 401) arrives as an error named by its message.
  RennClient::setAccessToken(bearer("x-y-1", now(), 3600));
  RennClient::sendAsynRequest(GetAppParam(), calls);
  ASSERT_TRUE(waitFor(*calls, 5));
  ASSERT_EQ(calls->errors.size(), 1u);
  EXPECT_EQ(calls->errors[0].domain, "unknown bearer token");
  EXPECT_EQ(calls->errors[0].code, 0);
  EXPECT_EQ(calls->errors[0].userInfo["code"].stringOr(), "INVALID_AUTHORIZATION");
}

// Signing is HMAC-SHA1 in Base64 over ASCII only; a key it cannot sign with keeps the request
// home, and a request without any token never goes over plain http.
TEST_F(RennClientTest, SigningNeedsASCIIAndTokenlessCallsStayOnHttps) {
  EXPECT_EQ(OAuth2SignatureMethod::sign("The quick brown fox jumps over the lazy dog", "key"),
            "3nybhbi3iqa8ino29wqQcBydtNk=");
  EXPECT_FALSE(OAuth2SignatureMethod::sign("GET\n", "密钥"));
  EXPECT_FALSE(OAuth2SignatureMethod::sign("路径\n", "key"));

  startService();
  auto calls = std::make_shared<Calls>();
  RennClient::sendAsynRequest(GetUserParam(), calls);
  ASSERT_TRUE(waitFor(*calls, 1));
  EXPECT_EQ(secure->requestCount(), 1u);
  EXPECT_EQ(plain->requestCount(), 0u);

  RennClient::setAccessToken(macToken("mac.456.tok", "钥匙"));
  RennClient::sendAsynRequest(GetUserParam(), calls);
  ASSERT_TRUE(waitFor(*calls, 2));
  EXPECT_EQ(calls->errors.back().domain, "renren");
  EXPECT_EQ(plain->requestCount(), 0u);
  EXPECT_EQ(secure->requestCount(), 1u);
}

TEST_F(RennClientTest, RepliesThatAreNotTheApisAndCancelling) {
  HttpTestServer server(false, {kApiHost});
  server.route("GET", "/v2/status/get", CannedResponse::text("[1,2]"));
  server.route("GET", "/v2/status/list", CannedResponse::text("{\"error\": \"flat\"}", 500));
  server.route("GET", "/v2/share/get", CannedResponse::text("{\"a\": tru}"));
  server.route("GET", "/v2/app/get", CannedResponse::text("{\"response\": [7]}"));
  CannedResponse slow = CannedResponse::text("{\"response\": 1}");
  slow.delay = 0.3;
  server.route("GET", "/v2/user/get", slow);
  RennClient::setAccessToken(macToken("m.1.t", "k"));

  auto calls = std::make_shared<Calls>();
  RennClient::sendAsynRequest(GetStatusParam(), calls);
  RennClient::sendAsynRequest(ListStatusParam(), calls);
  RennClient::sendAsynRequest(GetShareParam(), calls);
  RennClient::sendAsynRequest(GetAppParam(), calls);
  ASSERT_TRUE(waitFor(*calls, 4)) << calls->count() << " " << server.requestCount();
  ASSERT_EQ(calls->errors.size(), 3u);
  ASSERT_EQ(calls->responses.size(), 1u);
  EXPECT_EQ(calls->responses[0].at(0).intValue(), 7);
  auto domains = os::testing::collect(calls->errors, [](const auto& e) { return e.domain; });
  std::sort(domains.begin(), domains.end());
  EXPECT_EQ(domains, (std::vector<std::string>{"no response and error", "no response and error",
                                               "org.vantorell.JSON.ErrorDomain"}));

  // Cancelled while the service is still answering: the delegate hears nothing.
  auto other = std::make_shared<Calls>();
  RennClient::sendAsynRequest(GetUserParam(), calls);
  RennClient::sendAsynRequest(GetUserParam(), other);
  RennClient::sendAsynRequest(GetUserParam(), calls);
  ASSERT_TRUE(os::RunLoop::main()->runUntil([&] { return server.requestCount() >= 7; }, 10));
  RennClient::cancelForDelegate(calls.get());
  EXPECT_EQ(RennClient::serviceArray().size(), 1u);
  ASSERT_TRUE(waitFor(*other, 1));
  os::RunLoop::main()->runUntilIdle();
  EXPECT_EQ(calls->count(), 4u);
  EXPECT_TRUE(RennClient::serviceArray().empty());

  // A MAC token that cannot sign fails without going out.
  RennClient::setAccessToken(macToken("m.2.t", std::nullopt));
  const std::size_t sent = server.requestCount();
  RennClient::sendAsynRequest(GetAppParam(), other);
  ASSERT_TRUE(waitFor(*other, 2));
  EXPECT_EQ(other->errors.back().domain, "renren");
  EXPECT_EQ(server.requestCount(), sent);

  // An API host no address can be formed with: the call fails, once, instead of never ending.
  RennClient::setAccessToken(macToken("m.1.t", "k"));
  RennHosts hosts;
  hosts.apiHost = std::string(kApiHost) + ":99999";
  RennLoginService::sharedRennLoginService().setHosts(hosts);
  RennClient::sendAsynRequest(GetAppParam(), other);
  ASSERT_TRUE(waitFor(*other, 3));
  os::RunLoop::main()->runUntilIdle();
  EXPECT_EQ(other->count(), 3u);
  EXPECT_EQ(other->errors.back().domain, "renren");
  EXPECT_EQ(server.requestCount(), sent);
  EXPECT_TRUE(RennClient::serviceArray().empty());
}

// A call whose reply runs to 256 MiB is not taken whole: it fails with the reply bound's error,
// the transfer stopped near the bound, and the client holds nothing of it afterwards.
TEST_F(RennClientTest, AHugeReplyFailsTheCallAtTheReplyBound) {
  HttpTestServer server(false, {kApiHost});
  constexpr std::uint64_t kTotal = std::uint64_t{256} << 20;
  std::atomic<std::uint64_t> made{0};
  server.route("GET", "/v2/app/get",
               CannedResponse::generated(kTotal, true, 64 * 1024, ' ', [&](std::uint64_t m) { made = m; }));
  RennClient::setAccessToken(macToken("m.1.t", "k"));

  auto calls = std::make_shared<Calls>();
  RennClient::sendAsynRequest(GetAppParam(), calls);
  ASSERT_TRUE(os::RunLoop::main()->runUntil([&] { return calls->count() >= 1; }, 60));
  ASSERT_EQ(calls->errors.size(), 1u);
  EXPECT_EQ(calls->errors[0].domain, os::kURLErrorDomain);
  EXPECT_EQ(calls->errors[0].code, os::kURLErrorDataLengthExceedsMaximum);
  EXPECT_LT(made.load(), os::URLRequest::kDefaultMaximumReplyLength + (std::uint64_t{64} << 20));
  os::RunLoop::main()->runUntilIdle();
  EXPECT_TRUE(RennClient::serviceArray().empty());
}

TEST_F(RennClientTest, SingleSignOnThroughTheRenrenApplication) {
  auto renren = device_.launchPeerApplication("com.example.renren", {"renrenapi", "renrenios"});
  auto login = std::make_shared<Login>();
  ASSERT_TRUE(RennLoginService::sharedRennLoginService().canLaunchRenrenSSO());

  // Nothing was asked: a success reply planted by any application is refused.
  renren->openURL(kCallback + "://success#access_token=evil-1&scope=all");
  os::RunLoop::main()->runUntilIdle();
  EXPECT_EQ(reader->handled, std::vector<bool>{false});
  EXPECT_FALSE(RennClient::accessToken());

  RennClient::loginWithDelegate(login);
  os::RunLoop::main()->runUntilIdle();
  ASSERT_EQ(renren->openedURLs().size(), 1u);
  const std::string asked = renren->openedURLs()[0].url.absoluteString();
  EXPECT_EQ(asked,
            "renrenios://authorize?scope=a%20b&sdk_version=5.0.0&api_version=2.0&client_id=apikey1&app_id=4242"
            "&token_type=bearer&url_scheme=" +
                kCallback);
  // A reply without a token ends the login as failed, once; a reply after it was not asked for.
  renren->openURL(kCallback + "://success?state=1");
  renren->openURL(kCallback + "://success#access_token=late-1-7");
  os::RunLoop::main()->runUntilIdle();
  EXPECT_EQ(reader->handled, (std::vector<bool>{false, false, false}));
  EXPECT_EQ(login->events, std::vector<std::string>{"failed"});
  EXPECT_EQ(login->errors.at(0).domain, "renren");
  EXPECT_FALSE(RennClient::accessToken());
  login->events.clear();

  // An empty token is no token either.
  RennClient::loginWithDelegate(login);
  renren->openURL(kCallback + "://success#access_token=&scope=all");
  os::RunLoop::main()->runUntilIdle();
  EXPECT_EQ(reader->handled, (std::vector<bool>{false, false, false, false}));
  EXPECT_EQ(login->events, std::vector<std::string>{"failed"});
  EXPECT_FALSE(RennClient::accessToken());
  login->events.clear();

  // Asked again, the real reply completes it.
  RennClient::loginWithDelegate(login);
  renren->openURL(kCallback + "://success#access_token=t-1-999&scope=a+b&refresh_token=r");
  os::RunLoop::main()->runUntilIdle();
  EXPECT_EQ(reader->handled, (std::vector<bool>{false, false, false, false, true}));
  EXPECT_EQ(login->events, std::vector<std::string>{"success"});
  auto token = RennClient::accessToken();
  ASSERT_TRUE(token);
  EXPECT_EQ(token->accessScope(), "a b");
  EXPECT_EQ(token->tokenType(), "bearer");
  EXPECT_EQ(token->refreshToken(), "r");
  EXPECT_EQ(RennClient::uid(), "999");
  EXPECT_FALSE(
      os::Sandbox::current()->standardUserDefaults()->dictionaryForKey(kRennAccessTokenKey)->contains("expires_in"));

  // With lifetime 0 the token is past a second later; the next login asks again, and is cancelled.
  EXPECT_TRUE(RennClient::isAuthorizeValid());
  os::Clock::advance(1);
  EXPECT_FALSE(RennClient::isAuthorizeValid());
  RennClient::loginWithDelegate(login);
  renren->openURL(kCallback + "://cancel");
  os::RunLoop::main()->runUntilIdle();
  EXPECT_EQ(login->events, (std::vector<std::string>{"success", "cancelled"}));

  RennClient::logoutWithDelegate(login);
  EXPECT_EQ(login->events.back(), "logout");
  EXPECT_FALSE(RennClient::accessToken());
  EXPECT_FALSE(RennClient::uid());
}

// A sign-on still waiting for the Renren application is given up by a new login, a registration
// or a logout: its caller hears it cancelled, once, and the reply that comes late is the new
// login's or nobody's. A caller that cancels its own login hears nothing.
TEST_F(RennClientTest, ASignOnStillWaitingEndsOnceWhenGivenUp) {
  auto renren = device_.launchPeerApplication("com.example.renren", {"renrenapi", "renrenios"});
  auto pages = os::testing::ScriptedWebPages::install();
  pages->route("https://oauth.renren.example/oauth/v2/wap/authorize",
               [](const os::URLRequest&) { return os::testing::ScriptedPage::page("<html>sign in</html>"); });
  auto first = std::make_shared<Login>();
  auto second = std::make_shared<Login>();

  RennClient::loginWithDelegate(first);
  RennClient::loginWithDelegate(second);
  EXPECT_EQ(first->events, std::vector<std::string>{"cancelled"});
  EXPECT_TRUE(second->events.empty());
  renren->openURL(kCallback + "://success#access_token=t-1-8");
  os::RunLoop::main()->runUntilIdle();
  EXPECT_EQ(second->events, std::vector<std::string>{"success"});
  EXPECT_EQ(first->events, std::vector<std::string>{"cancelled"});

  // A logout while a sign-on waits: logged out, then that login cancelled; the late reply is refused.
  os::Clock::advance(1);  // the token's lifetime is 0: the next login asks again
  RennClient::loginWithDelegate(second);
  RennClient::logoutWithDelegate(second);
  EXPECT_EQ(second->events, (std::vector<std::string>{"success", "logout", "cancelled"}));
  renren->openURL(kCallback + "://success#access_token=late-1-9");
  os::RunLoop::main()->runUntilIdle();
  EXPECT_EQ(second->events.size(), 3u);
  EXPECT_FALSE(RennClient::accessToken());

  // A registration gives it up too; a caller that cancels hears nothing.
  RennClient::loginWithDelegate(first);
  RennClient::quickRegister(second);
  EXPECT_EQ(first->events, (std::vector<std::string>{"cancelled", "cancelled"}));
  RennClient::enableSSO(true);
  RennClient::loginWithDelegate(first);
  RennClient::cancelLogin();
  os::RunLoop::main()->runUntilIdle();
  EXPECT_EQ(first->events, (std::vector<std::string>{"cancelled", "cancelled"}));
}

TEST_F(RennClientTest, TokenExpiry) {
  const double t = now();
  RennClient::setAccessToken(bearer("a-b-1", t - 3600, 3600));
  EXPECT_TRUE(RennClient::isAuthorizeValid());
  os::Clock::advance(0.5);
  EXPECT_TRUE(RennClient::isAuthorizeExpired());
  // Whole seconds: a deadline of t + 0.9 counts as t.
  RennClient::setAccessToken(bearer("a-b-1", t - 3600 + 0.9, 3600));
  EXPECT_TRUE(RennClient::isAuthorizeExpired());
  // Lifetimes beyond 32 bits.
  RennClient::setAccessToken(bearer("a-b-1", t, 5000000000LL));
  EXPECT_TRUE(RennClient::isAuthorizeValid());
  EXPECT_EQ(RennClient::accessToken()->expiresIn(), 5000000000LL);

  RennAccessToken mac;
  mac.setTokenType("mac");
  mac.setAccessToken("short");
  mac.setRequestTime(1);
  RennClient::setAccessToken(mac);
  EXPECT_FALSE(RennClient::isAuthorizeExpired());
  EXPECT_FALSE(RennClient::uid());  // no piece names the user
  RennClient::setAccessToken(std::nullopt);
  EXPECT_TRUE(RennClient::isAuthorizeExpired());
  EXPECT_FALSE(RennClient::isLogin());
}

TEST_F(RennClientTest, WebLoginWhenSingleSignOnIsOff) {
  device_.launchPeerApplication("com.example.renren", {"renrenapi", "renrenios"});
  RennClient::enableSSO(false);
  auto pages = os::testing::ScriptedWebPages::install();
  using os::testing::ScriptedPage;
  const std::string success = "http://oauth.renren.example/oauth/login_success.html";
  int logins = 0;
  pages->route("https://oauth.renren.example/oauth/v2/wap/authorize", [&](const os::URLRequest&) {
    ++logins;
    if (logins == 1)
      return ScriptedPage::redirect(success +
                                    "#access_token=w-2-77&expires_in=86400&scope=read_user_feed+publish_feed&mac_key=");
    return ScriptedPage::redirect(success + "?error_code=1&error=access_denied&error_description=no");
  });
  auto login = std::make_shared<Login>();
  RennClient::loginWithDelegate(login);
  ASSERT_EQ(window->subviews().size(), 1u);  // the dialog's container
  ASSERT_TRUE(os::RunLoop::main()->runUntil([&] { return !login->events.empty(); }, 10));
  EXPECT_EQ(login->events, std::vector<std::string>{"success"});
  EXPECT_EQ(pages->requests()[0].url(),
            "https://oauth.renren.example/oauth/v2/wap/authorize?client_id=apikey1"
            "&redirect_uri=http%3A%2F%2Foauth.renren.example%2Foauth%2Flogin_success.html"
            "&token_type=bearer&scope=a%20b");
  auto token = RennClient::accessToken();
  ASSERT_TRUE(token);
  EXPECT_EQ(token->tokenType(), "bearer");  // an empty MAC key
  EXPECT_EQ(token->accessScope(), "read_user_feed publish_feed");
  EXPECT_EQ(token->expiresIn(), 86400);
  os::RunLoop::main()->runUntilIdle();
  EXPECT_TRUE(window->subviews().empty());

  // A denial: the user info keeps every part that came, though "error_uri" did not.
  RennClient::setAccessToken(std::nullopt);
  RennClient::loginWithDelegate(login);
  ASSERT_TRUE(os::RunLoop::main()->runUntil([&] { return login->events.size() == 2; }, 10));
  ASSERT_EQ(login->errors.size(), 1u);
  EXPECT_EQ(login->errors[0].domain, "renren");
  EXPECT_EQ(login->errors[0].userInfo.keys(), (std::vector<std::string>{"error", "error_code", "error_description"}));
  EXPECT_FALSE(RennClient::accessToken());
  // The denied dialog is still on screen for this turn: its close button ends nothing more.
  auto denied = std::dynamic_pointer_cast<RennAuthorizeView>(window->subviews().at(0)->subviews().at(0));
  ASSERT_TRUE(denied);
  denied->closeButton()->sendActionsForControlEvents(os::kControlEventTouchUpInside);
  EXPECT_EQ(login->events.size(), 2u);
  os::RunLoop::main()->runUntilIdle();
  EXPECT_TRUE(window->subviews().empty());

  // The close button cancels.
  RennClient::loginWithDelegate(login);
  auto dialog = std::dynamic_pointer_cast<RennAuthorizeView>(window->subviews().at(0)->subviews().at(0));
  ASSERT_TRUE(dialog);
  EXPECT_FALSE(dialog->shouldRotateToOrientation(1));  // already laid out for portrait
  EXPECT_TRUE(dialog->shouldRotateToOrientation(3));
  EXPECT_FALSE(dialog->shouldRotateToOrientation(5));
  const std::size_t before = login->events.size();
  dialog->closeButton()->sendActionsForControlEvents(os::kControlEventTouchUpInside);
  EXPECT_EQ(login->events.back(), "cancelled");
  // Until the dialog has left the screen, a second tap or a late redirect ends nothing again.
  dialog->closeButton()->sendActionsForControlEvents(os::kControlEventTouchUpInside);
  EXPECT_FALSE(dialog->shouldStartLoadWithRequest(
      *dialog->webView(), os::URLRequest(success + "#access_token=late-3-5"), os::WebViewNavigationType::Other));
  EXPECT_EQ(login->events.size(), before + 1);
  EXPECT_FALSE(RennClient::accessToken());
  os::RunLoop::main()->runUntilIdle();
  EXPECT_TRUE(window->subviews().empty());
  EXPECT_EQ(login->events.size(), before + 1);

  // A denial and then the close button before the dialog has gone: the login ends once.
  RennClient::loginWithDelegate(login);
  dialog = std::dynamic_pointer_cast<RennAuthorizeView>(window->subviews().at(0)->subviews().at(0));
  ASSERT_TRUE(dialog);
  EXPECT_FALSE(dialog->shouldStartLoadWithRequest(*dialog->webView(), os::URLRequest(success + "?error_code=2&error=x"),
                                                  os::WebViewNavigationType::Other));
  dialog->closeButton()->sendActionsForControlEvents(os::kControlEventTouchUpInside);
  ASSERT_EQ(login->events.size(), before + 2);
  EXPECT_EQ(login->events.back(), "failed");
  os::RunLoop::main()->runUntilIdle();
  EXPECT_TRUE(window->subviews().empty());
  EXPECT_EQ(login->events.size(), before + 2);

  // Quick registration opens the mobile sign-up page, which leads to the authorize page.
  RennClient::quickRegister(login);
  os::RunLoop::main()->runUntilIdle();
  EXPECT_EQ(pages->requests().back().url(),
            "http://m.renren.example/opReg?url=https://oauth.renren.example/oauth/authorize?display=touch"
            "&client_id=apikey1&response_type=token"
            "&redirect_uri=http%3A%2F%2Foauth.renren.example%2Foauth%2Flogin_success.html&scope=a%20b");
}

// However the authorize page ends, the login hears it once, as what it was: an empty token is a
// failure that stores nothing and keeps the token held before; a page that fails to load or a
// redirect with neither token nor error leaves the dialog up until it is closed.
TEST_F(RennClientTest, AWebLoginEndsOnceAsWhatItsPageAnswered) {
  RennClient::enableSSO(false);
  RennClient::setAccessToken(bearer("old-1-9", 1000, 3600));  // long expired, so login asks again
  auto pages = os::testing::ScriptedWebPages::install();
  using os::testing::ScriptedPage;
  const std::string success = "http://oauth.renren.example/oauth/login_success.html";
  std::vector<ScriptedPage> answers{
      ScriptedPage::redirect(success + "#access_token=&expires_in=86400&scope=a"),
      ScriptedPage::redirect(success + "?access_token"),
      ScriptedPage::failure(os::Error("network", -1009)),
      ScriptedPage::redirect(success + "#expires_in=86400"),
  };
  std::size_t next = 0;
  pages->route("https://oauth.renren.example/oauth/v2/wap/authorize",
               [&](const os::URLRequest&) { return answers.at(next++); });
  auto login = std::make_shared<Login>();
  auto dialogOnScreen = [&]() -> std::shared_ptr<RennAuthorizeView> {
    if (window->subviews().empty()) return nullptr;
    return std::dynamic_pointer_cast<RennAuthorizeView>(window->subviews().at(0)->subviews().at(0));
  };

  // An empty token: failed, once; the dialog goes and the token held before stays.
  RennClient::loginWithDelegate(login);
  ASSERT_TRUE(os::RunLoop::main()->runUntil([&] { return !login->events.empty(); }, 10));
  os::RunLoop::main()->runUntilIdle();
  EXPECT_EQ(login->events, std::vector<std::string>{"failed"});
  EXPECT_EQ(login->errors.at(0).domain, "renren");
  EXPECT_FALSE(dialogOnScreen());
  ASSERT_TRUE(RennClient::accessToken());
  EXPECT_EQ(RennClient::accessToken()->accessToken(), "old-1-9");
  EXPECT_FALSE(RennClient::isAuthorizeValid());

  // A token key without a value is no token either: the dialog stays for the person to close.
  login->events.clear();
  RennClient::loginWithDelegate(login);
  os::RunLoop::main()->runUntilIdle();
  EXPECT_TRUE(login->events.empty());
  auto dialog = dialogOnScreen();
  ASSERT_TRUE(dialog);
  dialog->closeButton()->sendActionsForControlEvents(os::kControlEventTouchUpInside);
  os::RunLoop::main()->runUntilIdle();
  EXPECT_EQ(login->events, std::vector<std::string>{"cancelled"});
  EXPECT_EQ(RennClient::accessToken()->accessToken(), "old-1-9");

  // A page that does not load, and a redirect with neither token nor error: each waits, then
  // is cancelled once when closed.
  for (int i = 0; i < 2; ++i) {
    login->events.clear();
    RennClient::loginWithDelegate(login);
    os::RunLoop::main()->runUntilIdle();
    EXPECT_TRUE(login->events.empty());
    dialog = dialogOnScreen();
    ASSERT_TRUE(dialog);
    dialog->closeButton()->sendActionsForControlEvents(os::kControlEventTouchUpInside);
    dialog->closeButton()->sendActionsForControlEvents(os::kControlEventTouchUpInside);
    os::RunLoop::main()->runUntilIdle();
    EXPECT_EQ(login->events, std::vector<std::string>{"cancelled"});
    EXPECT_FALSE(dialogOnScreen());
  }
  EXPECT_EQ(next, answers.size());
  EXPECT_EQ(RennClient::accessToken()->accessToken(), "old-1-9");
}

// A login or a registration started while an earlier login's dialog is still up ends that login
// as cancelled, once: one dialog stays on screen, and the page's answer is the newest login's.
TEST_F(RennClientTest, ANewWebLoginCancelsTheDialogStillUp) {
  RennClient::enableSSO(false);
  auto pages = os::testing::ScriptedWebPages::install();
  using os::testing::ScriptedPage;
  const std::string success = "http://oauth.renren.example/oauth/login_success.html";
  pages->route("https://oauth.renren.example/oauth/v2/wap/authorize", [&](const os::URLRequest&) {
    return ScriptedPage::page("<html>sign in</html>");
  });
  auto first = std::make_shared<Login>();
  auto second = std::make_shared<Login>();
  auto dialogs = [&] {
    os::RunLoop::main()->runUntilIdle();
    return window->subviews().size();
  };

  RennClient::loginWithDelegate(first);
  ASSERT_EQ(dialogs(), 1u);
  RennClient::loginWithDelegate(second);
  EXPECT_EQ(dialogs(), 1u);
  EXPECT_EQ(first->events, std::vector<std::string>{"cancelled"});
  EXPECT_TRUE(second->events.empty());

  // The same caller asking again hears its earlier login cancelled, then the new one's outcome.
  RennClient::loginWithDelegate(second);
  EXPECT_EQ(dialogs(), 1u);
  EXPECT_EQ(second->events, std::vector<std::string>{"cancelled"});
  auto dialog = std::dynamic_pointer_cast<RennAuthorizeView>(window->subviews().at(0)->subviews().at(0));
  ASSERT_TRUE(dialog);
  EXPECT_FALSE(dialog->shouldStartLoadWithRequest(*dialog->webView(), os::URLRequest(success + "#access_token=n-1-5"),
                                                  os::WebViewNavigationType::Other));
  EXPECT_EQ(second->events, (std::vector<std::string>{"cancelled", "success"}));
  EXPECT_EQ(dialogs(), 0u);

  // A registration replaces a login's dialog as well.
  RennClient::setAccessToken(std::nullopt);
  RennClient::loginWithDelegate(first);
  ASSERT_EQ(dialogs(), 1u);
  RennClient::quickRegister(second);
  EXPECT_EQ(dialogs(), 1u);
  EXPECT_EQ(first->events, (std::vector<std::string>{"cancelled", "cancelled"}));
  EXPECT_EQ(second->events, (std::vector<std::string>{"cancelled", "success"}));
  EXPECT_FALSE(RennClient::accessToken());

  // A sign-on through the Renren application replaces the dialog still up as well.
  auto renren = device_.launchPeerApplication("com.example.renren", {"renrenapi", "renrenios"});
  RennClient::enableSSO(true);
  RennClient::loginWithDelegate(first);
  EXPECT_EQ(dialogs(), 0u);
  ASSERT_EQ(renren->openedURLs().size(), 1u);
  EXPECT_EQ(second->events, (std::vector<std::string>{"cancelled", "success", "cancelled"}));
  EXPECT_EQ(first->events, (std::vector<std::string>{"cancelled", "cancelled"}));
  renren->openURL(kCallback + "://success#access_token=s-1-6");
  os::RunLoop::main()->runUntilIdle();
  EXPECT_EQ(first->events, (std::vector<std::string>{"cancelled", "cancelled", "success"}));
}

}  // namespace
