// The session's OpenAPI operations against the OpenAPI server on loopback, and its QZone commands.
#include <gtest/gtest.h>

#include "QQConnectTestSupport.h"
#include "qqconnect_core/login/TCOpenSDKErrorUtil.h"
#include "os/core/String.h"
#include "os/store/Bundle.h"
#include "os/store/FileManager.h"
#include "os/store/KeyedArchive.h"
#include "os/store/Pasteboard.h"
#include "os/testing/HttpTestServer.h"

namespace qctest {
namespace {

using os::testing::CannedResponse;

struct ApiRecorder : Recorder {
  std::vector<VelmoraSessionDelegate::Response> answers;
  std::optional<bool> incrAuth;
  void getUserInfoResponse(const Response& r) override { answers.push_back(r), calls.push_back("user info"); }
  void addShareResponse(const Response& r) override { answers.push_back(r), calls.push_back("add share"); }
  void getVipInfoResponse(const Response& r) override { answers.push_back(r), calls.push_back("vip"); }
  bool sendStoryResponse(const Response& r) override {
    answers.push_back(r), calls.push_back("story");
    return true;
  }
  void responseDidReceived(const Response& r, const std::string& message) override {
    answers.push_back(r), calls.push_back("received " + message);
  }
  bool handlesUpdates() const override { return incrAuth.has_value(); }
  std::optional<bool> velmoraNeedPerformIncrAuth(VelmoraOAuth&, const std::vector<std::string>& p) override {
    calls.push_back("more " + p.at(0));
    return incrAuth;
  }
};

class OpenApiOperationsTest : public QQConnectTest {
 protected:
  void SetUp() override {
    QQConnectTest::SetUp();
    session = loggedInSession(server, delegate);
  }
  void TearDown() override {
    session.reset();
    QQConnectTest::TearDown();
  }
  os::testing::HttpTestServer server;
  std::shared_ptr<ApiRecorder> delegate = std::make_shared<ApiRecorder>();
  std::shared_ptr<VelmoraOAuth> session;
};

TEST_F(OpenApiOperationsTest, CallsCarryTheSessionAndAnswerTheirDelegateOperation) {
  server.route("GET", "/user/get_user_info", CannedResponse::text("{\"ret\":0,\"nickname\":\"老&quot;兵&lt;\"}"));
  server.route("POST", "/share/add_share", CannedResponse::text("{\"ret\":0,\"share_id\":7}"));
  server.route("GET", "/user/get_vip_info", CannedResponse::text("{\"ret\":100014,\"msg\":\"x\"}"));
  ASSERT_TRUE(session->getUserInfo());
  ASSERT_TRUE(session->addShareWithParams(os::Dictionary{{"title", "标题"}, {"url", "http://n.example/1"}}));
  ASSERT_TRUE(session->getVipInfo());
  ASSERT_TRUE(run([&] { return delegate->answers.size() == 3; }));
  EXPECT_EQ(session->userNick(), "老\"兵<");
  EXPECT_TRUE(session->apiRequests().empty());
  for (const auto& r : server.requests()) {
    EXPECT_EQ(r.path == "/share/add_share" ? r.body.find("access_token=TOK") != std::string::npos
                                           : r.queryParameters.find("access_token")->second == "TOK",
              true)
        << r.path;
  }
  const auto& vip = delegate->answers[std::find(delegate->calls.begin(), delegate->calls.end(), "vip") - delegate->calls.begin()];
  EXPECT_EQ(vip->detailRetCode(), kTCOpenSDKErrorReLogin);  // mapped from the server's code

  session->setOpenId(std::nullopt);
  EXPECT_FALSE(session->getUserInfo());
}

TEST_F(OpenApiOperationsTest, CancelledCallsStaySilentAndMissingPermissionsAskTheDelegate) {
  server.route("POST", "/share/add_share", CannedResponse::text("{\"ret\":0}"));
  ASSERT_TRUE(session->addShareWithParams(os::Dictionary{{"userData", "mine"}}));
  EXPECT_TRUE(session->cancel(os::Value("mine")));
  EXPECT_FALSE(session->cancel(os::Value("mine")));
  server.route("GET", "/user/get_user_info", CannedResponse::text("{\"ret\":100030,\"msg\":\"need auth\"}"));
  delegate->incrAuth = false;  // the delegate takes over: the answer is not delivered
  ASSERT_TRUE(session->getUserInfo());
  ASSERT_TRUE(run([&] { return !delegate->calls.empty(); }));
  settle();
  EXPECT_EQ(delegate->calls, std::vector<std::string>{"more get_user_info"});
  EXPECT_TRUE(delegate->answers.empty());

  // Asking for more permissions with QQ absent and no network ends as an update that failed.
  EXPECT_FALSE(session->incrAuthWithPermissions({}));
  delegate->calls.clear();
  EXPECT_FALSE(session->incrAuthWithPermissions({"add_topic"}));
  EXPECT_EQ(delegate->calls, std::vector<std::string>{"no network"});
}

TEST_F(OpenApiOperationsTest, QZoneCommandsCarryTheirTypeIdsAndChecks) {
  auto qzone = installQZone({"mqzone", "mqzoneopensdkapi", "mqzoneopensdkapi19", "mqzoneopensdkapiV2"});
  const std::string type = std::string("com.velmora.") + kReplyScheme;
  auto sent = [&]() { return *os::KeyedUnarchiver::unarchiveValue(*qzone->generalPasteboard()->dataForPasteboardType(type)); };
  ASSERT_TRUE(session->sendGiftRequest("F1", "", "", 0, "request", "t", " hi ", "http://p", "s"));
  EXPECT_EQ(sent()["typeid"], os::Value("50"));
  EXPECT_EQ(sent()["sendmsg"], os::Value("hi"));
  ASSERT_TRUE(session->sendGiftRequest("F1", "", "", 1, "freegift", "t", "m", "", ""));
  EXPECT_EQ(sent()["typeid"], os::Value("1"));
  EXPECT_EQ(sent()["only"], os::Value("1"));
  ASSERT_TRUE(session->sendChallenge("F2", "pk", "", "m", ""));
  EXPECT_EQ(sent()["typeid"], os::Value("53"));
  ASSERT_TRUE(session->sendAppInvitationWithDescription("来玩", "http://p", "s"));
  EXPECT_EQ(sent()["keystr"], os::Value("TOK"));
  settle();
  ASSERT_EQ(qzone->openedURLs().size(), 4u);
  EXPECT_EQ(qzone->openedURLs()[3].url.lastPathComponent(), "AppInvitation");

  EXPECT_FALSE(session->sendGiftRequest("F1", "", "", 0, "bribe", "", "", "", ""));
  EXPECT_FALSE(session->sendChallenge("", "pk", "", "", ""));
  EXPECT_EQ(alertTitles(), (std::vector<std::string>{"请求/赠送礼物", "挑战炫耀"}));
}

// QZone takes commands from level 4 ("mqzoneopensdkapi19") on; a brag is challenge type 52.
TEST_F(OpenApiOperationsTest, PinnedQZoneLevelAndChallengeTypes) {
  sandbox.writeBundleFile("VelmoraOpenApi_IOS_Bundle.bundle/local.html", "<html></html>");
  auto qzone = installQZone({"mqzone", "mqzoneopensdk", "mqzoneopensdkapi"});
  EXPECT_EQ(OpenApi::qzoneVersion(), 3u);
  ASSERT_TRUE(session->sendChallenge("F1", "brag", "", "m", ""));
  ASSERT_TRUE(session->tcUiKit() && session->tcUiKit()->webViewKit());
  EXPECT_EQ(session->tcUiKit()->webViewKit()->webTitle(), "向TA炫耀");  // level 3: the page
  EXPECT_NE(session->tcUiKit()->webViewKit()->requestUrl().find("type=brag"), std::string::npos);
  settle();
  EXPECT_TRUE(qzone->openedURLs().empty());

  qzone->registerURLSchemes({"mqzoneopensdkapi19"});
  EXPECT_EQ(OpenApi::qzoneVersion(), 4u);
  ASSERT_TRUE(session->sendChallenge("F1", "brag", "", "m", ""));
  settle();
  ASSERT_EQ(qzone->openedURLs().size(), 1u);
  const os::URL opened = qzone->openedURLs()[0].url;
  EXPECT_EQ(opened.lastPathComponent(), "AppChallenge");
  // Without general pasteboard support the command waits on the named pasteboard in its path.
  const auto path = os::split(opened.path(), "/");
  ASSERT_GE(path.size(), 3u);
  auto board = qzone->pasteboardWithName(path[path.size() - 2], false);
  ASSERT_TRUE(board);
  auto sent = *os::KeyedUnarchiver::unarchiveValue(*board->dataForPasteboardType("qzappDataType"));
  EXPECT_EQ(sent["typeid"], os::Value("52"));
  EXPECT_EQ(sent["receiver"], os::Value("F1"));
}

// Each web dialog ends in one answer to the delegate, however it ends: the person closes it, it
// answers and then slides away, it answers on a path of its own, or another dialog takes its
// place. Without its page nothing is shown, and the call says so.
TEST_F(OpenApiOperationsTest, AWebDialogEndsInOneAnswerHoweverItEnds) {
  sandbox.writeBundleFile("VelmoraOpenApi_IOS_Bundle.bundle/local.html", "<html></html>");
  auto page = [&]() -> std::shared_ptr<TCWebViewController> {
    auto kit = session->tcUiKit() ? session->tcUiKit()->webViewKit() : nullptr;
    auto screen = kit ? kit->webViewController() : nullptr;
    if (!screen || !run([&] { return screen->webview() != nullptr; })) return nullptr;
    return screen;
  };
  auto answer = [&](const std::string& rest) {
    auto screen = page();
    ASSERT_TRUE(screen);
    screen->webview()->clickLink(os::URLRequest(std::string(kReplyScheme) + "://" + rest));
  };
  // Past the page's slide out of the screen, after which its window goes.
  auto slideAway = [&] {
    os::Clock::advance(1);
    settle();
  };

  ASSERT_TRUE(session->sendStory(os::Dictionary{{"title", "t"}}, {}));
  ASSERT_TRUE(page());
  session->tcUiKit()->webViewKit()->onClickClose();
  slideAway();
  ASSERT_EQ(delegate->calls, std::vector<std::string>{"story"}) << "a closed page leaves its caller waiting";
  EXPECT_EQ(delegate->answers[0]->retCode(), 1);
  EXPECT_EQ(delegate->answers[0]->detailRetCode(), kTCOpenSDKErrorUserCancel);

  ASSERT_TRUE(session->sendChallenge("F1", "pk", "", "m", ""));
  answer("AppChallenge/success?id=1");
  slideAway();
  ASSERT_EQ(delegate->calls.size(), 2u) << "the answered page slid away and answered again";
  EXPECT_EQ(delegate->calls[1], "received AppChallenge");
  EXPECT_EQ(delegate->answers[1]->detailRetCode(), kTCOpenSDKErrorSuccess);

  ASSERT_TRUE(session->sendGiftRequest("F1", "", "", 0, "request", "t", "m", "", ""));
  answer("AppGiftRequest/later");
  slideAway();
  ASSERT_EQ(delegate->calls.size(), 3u) << "an answer on an unknown path ends the page without a word";
  EXPECT_EQ(delegate->calls[2], "received AppGiftRequest");
  EXPECT_EQ(delegate->answers[2]->retCode(), 0);
  EXPECT_EQ(delegate->answers[2]->detailRetCode(), kTCOpenSDKErrorServer);

  ASSERT_TRUE(session->sendAppInvitationWithDescription("来玩", "", ""));
  ASSERT_TRUE(page());
  ASSERT_TRUE(session->sendChallenge("F2", "brag", "", "m", ""));
  slideAway();
  ASSERT_EQ(delegate->calls.size(), 4u) << "the replaced page's caller is never answered";
  EXPECT_EQ(delegate->calls[3], "received AppInvitation");
  EXPECT_EQ(delegate->answers[3]->detailRetCode(), kTCOpenSDKErrorUserCancel);
  answer("AppChallenge/cancel");
  slideAway();
  ASSERT_EQ(delegate->calls.size(), 5u);
  EXPECT_EQ(delegate->calls[4], "received AppChallenge");
  EXPECT_EQ(delegate->answers[4]->detailRetCode(), kTCOpenSDKErrorUserCancel);

  os::FileManager::defaultManager().removeItemAtPath(os::Bundle::mainBundle()->bundlePath() +
                                                     "/VelmoraOpenApi_IOS_Bundle.bundle/local.html");
  EXPECT_FALSE(session->sendStory(os::Dictionary{{"title", "t"}}, {}));
  EXPECT_FALSE(session->sendAppInvitationWithDescription("来玩", "", ""));
  EXPECT_FALSE(session->sendChallenge("F1", "pk", "", "m", ""));
  EXPECT_FALSE(session->sendGiftRequest("F1", "", "", 0, "request", "t", "m", "", ""));
  slideAway();
  EXPECT_EQ(delegate->calls.size(), 5u);
}

TEST_F(OpenApiOperationsTest, StoryGoesToQZoneOrToItsPageWhichAnswersThroughTheOwnScheme) {
  const std::vector<os::Value> friends{os::Value(5), os::Value("A"), os::Value("B")};
  EXPECT_FALSE(session->sendStory(os::Dictionary{{"title", "  "}}, friends));
  EXPECT_EQ(alertTitles(), std::vector<std::string>{"分享失败"});

  // No QZone: the page, with the text members of the list as receivers.
  sandbox.writeBundleFile("VelmoraOpenApi_IOS_Bundle.bundle/local.html", "<html><title>分享</title></html>");
  ASSERT_TRUE(session->sendStory(os::Dictionary{{"title", " 标题 "}, {"summary", "s"}}, friends));
  ASSERT_TRUE(session->tcUiKit() && session->tcUiKit()->webViewKit());
  auto screen = session->tcUiKit()->webViewKit()->webViewController();
  ASSERT_TRUE(screen);
  EXPECT_NE(screen->requestURLStr().find("receiver=A%2CB"), std::string::npos);
  EXPECT_NE(screen->requestURLStr().find("title=%E6%A0%87%E9%A2%98&"), std::string::npos);
  ASSERT_TRUE(run([&] { return screen->webview() != nullptr; }));
  screen->webview()->clickLink(os::URLRequest(std::string(kReplyScheme) + "://SendStory/fail?why=busy%21"));
  ASSERT_EQ(delegate->calls, std::vector<std::string>{"story"});
  EXPECT_EQ(delegate->answers[0]->retCode(), 0);
  EXPECT_EQ(delegate->answers[0]->detailRetCode(), kTCOpenSDKErrorServer);
  EXPECT_EQ(delegate->answers[0]->jsonResponse(), (os::Dictionary{{"why", "busy!"}}));

  // With QZone the list itself travels.
  auto qzone = installQZone({"mqzone", "mqzoneopensdkapi", "mqzoneopensdkapiV2"});
  ASSERT_TRUE(session->sendStory(os::Dictionary{{"title", "t"}}, friends));
  auto sent = *os::KeyedUnarchiver::unarchiveValue(
      *qzone->generalPasteboard()->dataForPasteboardType(std::string("com.velmora.") + kReplyScheme));
  EXPECT_EQ(sent["receiver"], os::Value(os::Array(friends.begin(), friends.end())));
  EXPECT_EQ(sent["type"], os::Value("21"));
  settle();

  // A story QZone cannot be handed, as the reader no longer declares its reply scheme, is no
  // story sent: no answer would ever come.
  sandbox.setInfoDictionary(os::Dictionary{{"CFBundleIdentifier", "com.example.newsreader"},
                                           {"CFBundleDisplayName", "军事新闻"}});
  const std::size_t opened = qzone->openedURLs().size();
  EXPECT_FALSE(session->sendStory(os::Dictionary{{"title", "t"}}, friends));
  settle();
  EXPECT_EQ(qzone->openedURLs().size(), opened);
}

TEST_F(OpenApiOperationsTest, PlainRequestsAndTheDialogLoginFetchTheOpenId) {
  EXPECT_FALSE(session->requestWithParams(os::Dictionary{{"a", "1"}}, {}));
  server.route("GET", "/oauth2.0/m_me", CannedResponse::text("callback( {\"openid\":\"DLG\"} );\n"));
  session->velmoraDialogLogin("DTOK", os::Date::now().addingTimeInterval(60));
  ASSERT_TRUE(run([&] { return !delegate->calls.empty(); }));
  EXPECT_EQ(delegate->calls, std::vector<std::string>{"login"});
  EXPECT_EQ(session->openId(), "DLG");
  const auto sent = server.requests().back().queryParameters;
  EXPECT_EQ(sent.find("access_token")->second, "DTOK");
  EXPECT_EQ(sent.find("oauth_consumer_key")->second, kAppId);
  EXPECT_EQ(sent.find("format")->second, "json");
}

// A dialog login whose open id fetch fails ends as failed, once: the server answers with an error,
// or nothing listens where the OpenAPI lives.
TEST_F(OpenApiOperationsTest, ADialogLoginWhoseOpenIdFetchFailsEndsAsFailed) {
  server.route("GET", "/oauth2.0/m_me", CannedResponse::text("{\"error\":100016,\"error_description\":\"bad token\"}"));
  session->velmoraDialogLogin("DTOK", os::Date::now().addingTimeInterval(60));
  ASSERT_TRUE(run([&] { return !delegate->calls.empty(); }));
  settle();
  EXPECT_EQ(delegate->calls, std::vector<std::string>{"failed"});
  EXPECT_EQ(session->openId(), "OID");

  auto refusedDelegate = std::make_shared<ApiRecorder>();
  VelmoraOAuthEndpoints endpoints;
  endpoints.openApiBase = "http://127.0.0.1:" + std::to_string(os::testing::HttpTestServer::refusedPort()) + "/";
  auto refused = VelmoraOAuth::initWithAppId(kAppId, refusedDelegate, endpoints);
  refused->velmoraDialogLogin("DTOK", os::Date::now().addingTimeInterval(60));
  ASSERT_TRUE(run([&] { return !refusedDelegate->calls.empty(); }));
  settle();
  EXPECT_EQ(refusedDelegate->calls, std::vector<std::string>{"failed"});
}

// The open id server refuses a token inside the same callback wrapper it answers with, or answers
// without naming anybody: each such answer fails the dialog login once and keeps the open id.
TEST_F(OpenApiOperationsTest, ADialogLoginWhoseAnswerNamesNoOpenIdEndsAsFailed) {
  for (const std::string body : {"callback( {\"error\":100016,\"error_description\":\"bad token\"} );\n",
                                 "{\"ret\":100014,\"msg\":\"token expired\"}", "callback( {\"openid\":\"\"} );\n",
                                 "{\"client_id\":\"1\",\"openid\":42}"}) {
    SCOPED_TRACE(body);
    delegate->calls.clear();
    server.route("GET", "/oauth2.0/m_me", CannedResponse::text(body));
    session->velmoraDialogLogin("DTOK", os::Date::now().addingTimeInterval(60));
    ASSERT_TRUE(run([&] { return !delegate->calls.empty(); }));
    settle();
    EXPECT_EQ(delegate->calls, std::vector<std::string>{"failed"});
    EXPECT_EQ(session->openId(), "OID");
  }
}

struct PlainReceiver : VelmoraRequestDelegate {
  std::vector<std::string> loaded;
  int failed = 0;
  void requestDidLoad(VelmoraRequest&, const std::optional<os::Value>& result, const os::Data&) override {
    loaded.push_back(result ? (*result)["name"].stringOr() : "");
  }
  void requestDidFailWithError(VelmoraRequest&, const os::Error&) override { ++failed; }
};

// A caller sends a plain request and another sends its own before the first is answered, neither
// keeping the request it was handed: each hears its own answer, once, and nobody else's.
TEST_F(OpenApiOperationsTest, PlainRequestsInFlightTogetherEachAnswerTheirOwnCaller) {
  server.route("GET", "/first", CannedResponse::text("{\"name\":\"one\"}"));
  server.route("GET", "/second", CannedResponse::text("{\"name\":\"two\"}"));
  auto first = std::make_shared<PlainReceiver>();
  auto second = std::make_shared<PlainReceiver>();
  session->requestWithMethodName("first", {}, "GET", first);
  session->requestWithMethodName("second", {}, "GET", second);
  ASSERT_TRUE(run([&] { return first->loaded.size() + second->loaded.size() == 2; }));
  EXPECT_EQ(first->loaded, std::vector<std::string>{"one"});
  EXPECT_EQ(second->loaded, std::vector<std::string>{"two"});
  EXPECT_EQ(first->failed + second->failed, 0);
  EXPECT_EQ(server.requests().size(), 2u);
}

struct CgiReceiver : TCAPIRequestDelegate {
  std::vector<std::shared_ptr<APIResponse>> answers;
  void cgiRequestDidResponse(TCAPIRequest&, const std::shared_ptr<APIResponse>& r) override { answers.push_back(r); }
};

TEST_F(OpenApiOperationsTest, GenericCgiCallCarriesItsNamedParametersOnce) {
  EXPECT_FALSE(TCAPIRequest::classInfo("TCAPIRequest", "NSObject"));
  auto info = TCAPIRequest::classInfo("Foo_get_info_GET", "Foo_Base");
  EXPECT_EQ(info->path, "get_info");
  EXPECT_EQ(info->method, "GET");
  auto request = TCAPIRequest::initWithClass(server.url("/cgi"), "Foo_get_info_POST", "Foo_Base");
  EXPECT_EQ(request->apiURL(), server.url("/cgi/get_info"));
  request->setParam("zone", "north");
  request->setParam("level", 3);
  request->setParam("gone", "x");
  request->setParam("gone", os::Value());
  EXPECT_EQ(request->count(), 2u);

  server.route("POST", "/cgi/get_info", CannedResponse::text("{\"ret\":0,\"v\":1}"));
  auto receiver = std::make_shared<CgiReceiver>();
  ASSERT_TRUE(session->sendAPIRequest(request, receiver));
  EXPECT_FALSE(session->sendAPIRequest(request, receiver));  // not idle any more
  ASSERT_TRUE(run([&] { return !receiver->answers.empty(); }));
  EXPECT_NE(server.requests().back().body.find("zone=north&level=3"), std::string::npos);
  EXPECT_EQ(request->state(), TCAPIRequest::kAnswered);
  request->cancel();  // after the answer: nothing to tell anyone
  EXPECT_EQ(request->state(), TCAPIRequest::kAnswered);

  EXPECT_FALSE(session->cgiRequestWithURL(server.url("/cgi/x"), "PUT", {}, receiver));
  auto pending = session->cgiRequestWithURL(server.url("/cgi/get_info"), "post", os::Dictionary{{"a", "1"}}, receiver);
  ASSERT_TRUE(pending);
  pending->cancel();
  EXPECT_TRUE(session->apiRequests().empty());
  settle();
  EXPECT_EQ(receiver->answers.size(), 1u);
}

}  // namespace
}  // namespace qctest
