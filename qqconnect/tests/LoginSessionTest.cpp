// The QQ login session and single sign-on through the QQ application, played as a peer.
#include <gtest/gtest.h>

#include <limits>

#include "QQConnectTestSupport.h"
#include "qqconnect/login/OpenApi.h"
#include "qqconnect/login/VelmoraOAuth.h"
#include "qqconnect/analytics/VMA4QC.h"
#include "qqconnect_core/login/APIResponse.h"
#include "tools/qqconnectd/server/QQConnectServer.h"
#include "os/core/URL.h"
#include "os/crypto/Digest.h"
#include "os/testing/HttpTestServer.h"
#include "os/store/Bundle.h"
#include "os/store/KeyedArchive.h"
#include "os/store/Pasteboard.h"
#include "os/views/Device.h"

namespace qctest {
namespace {

class LoginTest : public QQConnectTest {
 protected:
  void SetUp() override {
    QQConnectTest::SetUp();
    session = VelmoraOAuth::initWithAppId(kAppId, delegate);
  }
  void TearDown() override {
    session.reset();
    QQConnectTest::TearDown();
  }
  // QQ with general pasteboard support, which answers a login request by putting `reply` on the
  // general pasteboard and opening the reader's reply URL.
  void installAnsweringQQ() {
    qq = installQQ({"mqq", "mqqOpensdkSSoLogin", "mqqopensdkapiV2"});
  }
  void reply(const os::Dictionary& answer, const std::string& command = "0") { reply(*qq, answer, command); }
  void reply(os::TestPeerApplication& peer, const os::Dictionary& answer, const std::string& command) {
    const std::string type = std::string("com.velmora.") + kReplyScheme;
    peer.generalPasteboard()->setData(os::KeyedArchiver::archivedData(os::Value(answer)), type);
    peer.openURL(std::string(kReplyScheme) + "://qzapp/anything/" + command + "?generalpastboard=1");
    settle();
  }
  bool login() {
    delegate->calls.clear();
    return session->authorize({"get_user_info"}, "local", true);
  }

  std::shared_ptr<Recorder> delegate = std::make_shared<Recorder>();
  std::shared_ptr<VelmoraOAuth> session;
  std::shared_ptr<os::TestPeerApplication> qq;
};

TEST_F(LoginTest, CreationConvertsTheIdAndRegistersWithTheQQClient) {
  EXPECT_EQ(session->appId(), kAppId);
  EXPECT_EQ(session->getOwnBaseUrl(), std::string(kReplyScheme) + "://openmobile.velmora.example");
  EXPECT_EQ(QQApiDatastore::instance().appId, kAppId);
  EXPECT_EQ(OpenApi::appSchema(), kReplyScheme);
  auto same = VelmoraOAuth::initWithAppId("QQ05FBE048", delegate);  // 100393032 in hexadecimal
  EXPECT_EQ(same->appId(), kAppId);
  auto inert = VelmoraOAuth::initWithAppId("abc", delegate);
  EXPECT_FALSE(inert->appId());
  EXPECT_FALSE(inert->sessionDelegate());

  session->setOpenId("OPEN");
  EXPECT_EQ(QQApiDatastore::instance().openId, "OPEN");
  session->setAccessToken("t");
  session->setExpirationDate(os::Date::now());
  EXPECT_FALSE(session->isSessionValid());  // expiring now is expired
  session->setExpirationDate(os::Date::now().addingTimeInterval(1));
  EXPECT_TRUE(session->isSessionValid());

  auto fallback = std::make_shared<Recorder>();
  delegate->takesLogout = false;
  session->logout(fallback);
  EXPECT_EQ(fallback->calls, std::vector<std::string>{"logout"});
  EXPECT_FALSE(session->isSessionValid());
  EXPECT_FALSE(session->openId());
}

TEST_F(LoginTest, SingleSignOnReplyFillsTheSessionOnlyWhileALoginWaits) {
  installAnsweringQQ();
  // A reply nobody asked for plants nothing.
  reply(os::Dictionary{{"openid", "EVIL"}, {"access_token", "planted"}});
  EXPECT_FALSE(session->accessToken());
  EXPECT_TRUE(delegate->calls.empty());

  ASSERT_TRUE(login());
  ASSERT_TRUE(run([&] { return !qq->openedURLs().empty(); }));
  const std::string type = std::string("com.velmora.") + kReplyScheme;
  EXPECT_EQ(qq->openedURLs()[0].url.absoluteString(),
            std::string("mqqOpensdkSSoLogin://SSoLogin/") + kReplyScheme + "/" + type + "?generalpastboard=1");
  auto request = os::KeyedUnarchiver::unarchiveValue(*qq->generalPasteboard()->dataForPasteboardType(type));
  ASSERT_TRUE(request);
  EXPECT_EQ((*request)["scope"], os::Value("get_user_info"));
  EXPECT_EQ((*request)["app_name"], os::Value("军事新闻"));
  EXPECT_EQ((*request)["response_type"], os::Value("token"));
  EXPECT_EQ((*request)["sdkv"], os::Value("2.3"));

  reply(os::Dictionary{{"openid", "OID"}, {"access_token", "TOK"}, {"expires_in", 7776000}, {"encrytoken", "E"},
                       {"pay_token", "P"}});
  EXPECT_EQ(delegate->calls, std::vector<std::string>{"login"});
  EXPECT_EQ(session->openId(), "OID");
  EXPECT_EQ(session->accessToken(), "TOK");
  EXPECT_EQ(session->encryToken(), "E");
  EXPECT_EQ(session->expirationDate(), os::Date::now().addingTimeInterval(7776000));
  EXPECT_EQ(session->passData(), (os::Dictionary{{"pay_token", "P"}}));
  EXPECT_FALSE(qq->generalPasteboard()->dataForPasteboardType(type));  // read once

  // The same reply again finds no login waiting.
  reply(os::Dictionary{{"openid", "OID2"}, {"access_token", "TOK2"}});
  EXPECT_EQ(session->accessToken(), "TOK");
  EXPECT_EQ(delegate->calls.size(), 1u);
}

// QQ answers a login on the general pasteboard with nothing there, or with bytes that are no
// archive: the login fails once, nothing is planted, and the same reply again finds no login.
TEST_F(LoginTest, AnUnreadableSingleSignOnReplyFailsTheLoginOnce) {
  installAnsweringQQ();
  const std::string type = std::string("com.velmora.") + kReplyScheme;
  const std::string url = std::string(kReplyScheme) + "://qzapp/anything/0?generalpastboard=1";
  const std::vector<std::optional<os::Data>> leftBehind = {std::nullopt, os::Data{'b', 'a', 'd'}};
  for (const std::optional<os::Data>& left : leftBehind) {
    SCOPED_TRACE(left ? "bytes" : "nothing");
    ASSERT_TRUE(login());
    settle();
    qq->generalPasteboard()->setData(left, type);
    qq->openURL(url);
    settle();
    EXPECT_EQ(delegate->calls, std::vector<std::string>{"failed"});
    EXPECT_FALSE(session->accessToken());
    EXPECT_FALSE(OpenApi::isLoginOutstanding());
    reply(os::Dictionary{{"openid", "OID"}, {"access_token", "TOK"}});
    EXPECT_EQ(delegate->calls, std::vector<std::string>{"failed"});
    EXPECT_FALSE(session->accessToken());
  }
}

// Two sessions sign on through QQ one after the other, before QQ answers: QQ answers the newest
// request only, so the first login's caller hears at once that it was cancelled, and QQ's answer
// is the second's.
TEST_F(LoginTest, ASecondSingleSignOnLoginCancelsTheFirst) {
  installAnsweringQQ();
  ASSERT_TRUE(login());
  auto other = std::make_shared<Recorder>();
  auto second = VelmoraOAuth::initWithAppId(kAppId, other);
  ASSERT_TRUE(second->authorize({"get_user_info"}, "local", true));
  EXPECT_EQ(delegate->calls, std::vector<std::string>{"cancelled"});
  EXPECT_TRUE(other->calls.empty());

  reply(os::Dictionary{{"openid", "OID"}, {"access_token", "TOK"}, {"expires_in", 7776000}});
  EXPECT_EQ(other->calls, std::vector<std::string>{"login"});
  EXPECT_EQ(second->accessToken(), "TOK");
  EXPECT_EQ(delegate->calls, std::vector<std::string>{"cancelled"});
  EXPECT_FALSE(session->accessToken());

  // The same session asking again is still one login: nobody is cancelled.
  other->calls.clear();
  ASSERT_TRUE(second->authorize({"get_user_info"}, "local", true));
  ASSERT_TRUE(second->authorize({"get_user_info"}, "local", true));
  EXPECT_TRUE(other->calls.empty());
}

// A request for more permissions through QQ ends once for its caller whatever the reader does:
// refused with QQ's error (no token in the reply), cancelled, replaced by a second request before
// QQ answers, or granted. Only a grant changes the session; the others keep the token held before.
TEST_F(LoginTest, MorePermissionsThroughQQEndOnceAndOnlyAGrantChangesTheSession) {
  struct Updates : Recorder {
    void velmoraDidUpdate(VelmoraOAuth&) override { calls.push_back("updated"); }
    void velmoraFailedUpdate(int reason) override { calls.push_back("failed update " + std::to_string(reason)); }
  };
  auto updates = std::make_shared<Updates>();
  auto held = VelmoraOAuth::initWithAppId(kAppId, updates);
  held->setAccessToken("TOK");
  held->setOpenId("OID");
  held->setExpirationDate(os::Date::now().addingTimeInterval(3600));
  installAnsweringQQ();

  ASSERT_TRUE(held->incrAuthWithPermissions({"add_topic"}));
  reply(os::Dictionary{{"ret", "100044"}, {"msg", "refused"}});
  EXPECT_EQ(updates->calls, std::vector<std::string>{"failed update 1"});
  EXPECT_EQ(held->accessToken(), "TOK");
  EXPECT_EQ(held->openId(), "OID");
  EXPECT_TRUE(held->isSessionValid());

  updates->calls.clear();
  ASSERT_TRUE(held->incrAuthWithPermissions({"add_topic"}));
  reply(os::Dictionary{{"user_cancelled", "YES"}});
  EXPECT_EQ(updates->calls, std::vector<std::string>{"failed update 2"});
  EXPECT_EQ(held->accessToken(), "TOK");

  updates->calls.clear();
  ASSERT_TRUE(held->incrAuthWithPermissions({"add_topic"}));
  ASSERT_TRUE(held->incrAuthWithPermissions({"add_one_blog"}));
  EXPECT_EQ(updates->calls, std::vector<std::string>{"failed update 2"});
  reply(os::Dictionary{{"openid", "OID"}, {"access_token", "TOK2"}, {"expires_in", 7776000}});
  reply(os::Dictionary{{"openid", "OID"}, {"access_token", "TOK3"}, {"expires_in", 7776000}});  // once only
  EXPECT_EQ(updates->calls, (std::vector<std::string>{"failed update 2", "updated"}));
  EXPECT_EQ(held->accessToken(), "TOK2");
}

// "expires_in" is read for its whole seconds, a fraction or trailing characters dropped; words and
// values that are no usable number count as absent.
TEST_F(LoginTest, ExpiryFollowsExpiresInWithWordsAndOutOfRangeNumbersCountingAsAbsent) {
  installAnsweringQQ();
  const os::Date month = os::Date::now().addingTimeInterval(2592000);
  struct Case {
    os::Value expires;
    os::Date expected;
  } cases[] = {{os::Value("0"), os::Date::distantFuture()},
               {os::Value(), month},
               {os::Value("never"), month},
               {os::Value("3600abc"), os::Date::now().addingTimeInterval(3600)},
               {os::Value("120.5"), os::Date::now().addingTimeInterval(120)},
               {os::Value("3600.5"), os::Date::now().addingTimeInterval(3600)},
               {os::Value(3600.5), os::Date::now().addingTimeInterval(3600)},
               // Less than a second is over at once, not a token that never expires.
               {os::Value("0.5"), os::Date::now()},
               {os::Value("1e300"), month},
               {os::Value("inf"), month},
               {os::Value("nan"), month},
               {os::Value(1e300), month},
               {os::Value(std::numeric_limits<double>::infinity()), month},
               {os::Value(std::numeric_limits<double>::quiet_NaN()), month},
               {os::Value(-1e300), month},
               {os::Value(120.0), os::Date::now().addingTimeInterval(120)},
               {os::Value("3600"), os::Date::now().addingTimeInterval(3600)}};
  for (const Case& c : cases) {
    ASSERT_TRUE(login());
    os::Dictionary answer{{"openid", "O"}, {"access_token", "T"}};
    if (!c.expires.isNull()) answer.set("expires_in", c.expires);
    reply(answer);
    EXPECT_EQ(session->expirationDate(), c.expected) << c.expires.description();
  }
  ASSERT_TRUE(login());
  reply(os::Dictionary{{"user_cancelled", "YES"}});
  EXPECT_EQ(delegate->calls, std::vector<std::string>{"cancelled"});
  ASSERT_TRUE(login());
  reply(os::Dictionary{{"access_token", "T"}});  // no open id
  EXPECT_EQ(delegate->calls, std::vector<std::string>{"failed"});
}

// The range holds for an integer, an unsigned and a floating-point expires_in as for a text: the
// largest integer is out of it like 2^63 is, the largest double below 2^63 is in. A value too
// small for a double is less than a second like any other, and "1e3" reads as the thousand seconds
// it writes, as the number 1e3 does.
TEST_F(LoginTest, ExpiresInReadsAlikeAtTheEdgesOfItsRangeWhateverItsType) {
  installAnsweringQQ();
  const os::Date month = os::Date::now().addingTimeInterval(2592000);
  const double topSeconds = 9223372036854774784.0;  // the largest double below 2^63
  struct Case {
    os::Value expires;
    os::Date expected;
  } cases[] = {{os::Value(std::numeric_limits<long long>::max()), month},
               {os::Value("9223372036854775807"), month},
               {os::Value(std::numeric_limits<long long>::min()), month},
               {os::Value(9223372036854774784LL), os::Date::now().addingTimeInterval(topSeconds)},
               {os::Value("9223372036854774784"), os::Date::now().addingTimeInterval(topSeconds)},
               {os::Value(3600ULL), os::Date::now().addingTimeInterval(3600)},
               {os::Value("1e-400"), os::Date::now()},
               {os::Value("-1e-400"), os::Date::now()},
               {os::Value("0." + std::string(400, '0') + "1"), os::Date::now()},
               {os::Value("1e-300"), os::Date::now()},
               {os::Value("1e400"), month},
               {os::Value("1" + std::string(400, '0')), month},
               {os::Value("1e3"), os::Date::now().addingTimeInterval(1000)},
               {os::Value(1e3), os::Date::now().addingTimeInterval(1000)},
               {os::Value("0e-400"), os::Date::distantFuture()}};
  for (const Case& c : cases) {
    ASSERT_TRUE(login());
    reply(os::Dictionary{{"openid", "O"}, {"access_token", "T"}, {"expires_in", c.expires}});
    EXPECT_EQ(session->expirationDate(), c.expected) << c.expires.description();
  }
  // An unsigned number past the signed range, which a reply carried in an archive cannot hold.
  const os::Value unsignedTop(std::numeric_limits<unsigned long long>::max());
  EXPECT_EQ(VelmoraExpiryDate(&unsignedTop), month);
}

// The sign-on reply reads an exponent past any integer by its sign, never by what a wrapped sum says.
TEST_F(LoginTest, HugeExponentsInExpiresInReadAsHugeOrTiny) {
  installAnsweringQQ();
  for (const HugeExponent& c : hugeExponentCases()) {
    ASSERT_TRUE(login());
    reply(os::Dictionary{{"openid", "O"}, {"access_token", "T"}, {"expires_in", c.text}});
    EXPECT_EQ(session->expirationDate(), c.expiry()) << c.text.substr(0, 40);
  }
}

TEST_F(LoginTest, WithoutSingleSignOnTheWebLoginChecksSchemeAndNetworkOnce) {
  // QQ too old for single sign-on, no network to the portal: the session delegate hears it once.
  installQQ({"mqq"});
  EXPECT_FALSE(login());
  EXPECT_EQ(delegate->calls, std::vector<std::string>{"no network"});

  // Reachable, but the reply scheme is not declared: a configuration alert and nothing else.
  reachability->setDefaultFlags(os::kReachabilityFlagsReachable);
  sandbox.setInfoDictionary(os::Dictionary{{"CFBundleIdentifier", "com.example.newsreader"}});
  os::Bundle::mainBundle()->reload();
  EXPECT_FALSE(login());
  EXPECT_TRUE(delegate->calls.empty());
  EXPECT_EQ(alertTitles(), std::vector<std::string>{"配置错误"});
}

// The install probes: QZone counts as installed for commands from its single sign-on schemes on,
// and single sign-on asks a level higher from system 7 on.
TEST_F(LoginTest, InstallProbesReadTheLevelsOfQQAndQZone) {
  EXPECT_FALSE(OpenApi::isQZoneInstalled());
  EXPECT_FALSE(VelmoraOAuth::iphoneQZoneInstalled());
  EXPECT_FALSE(VelmoraOAuth::iphoneQQInstalled());
  auto qzone = installQZone({"mqzone"});
  EXPECT_FALSE(OpenApi::isQZoneInstalled());
  EXPECT_TRUE(VelmoraOAuth::iphoneQZoneInstalled());
  qzone->registerURLSchemes({"mqzoneopensdk"});
  EXPECT_TRUE(OpenApi::isQZoneInstalled());
  qzone->registerURLSchemes({"mqzoneopensdkapi"});
  {
    os::DeviceProfileScope six(os::DeviceProfile{.systemVersion = "6.1"});
    EXPECT_TRUE(VelmoraOAuth::iphoneQZoneSupportSSOLogin());  // level 3
  }
  {
    os::DeviceProfileScope seven(os::DeviceProfile{.systemVersion = "7.0"});
    EXPECT_FALSE(VelmoraOAuth::iphoneQZoneSupportSSOLogin());
    qzone->registerURLSchemes({"mqzoneopensdkapiV2"});
    EXPECT_TRUE(VelmoraOAuth::iphoneQZoneSupportSSOLogin());  // level 5
    auto qq = installQQ({"mqq", "mqqOpensdkSSoLogin"});
    EXPECT_TRUE(VelmoraOAuth::iphoneQQInstalled());
    EXPECT_FALSE(VelmoraOAuth::iphoneQQSupportSSOLogin());  // level 2
    os::DeviceProfileScope six(os::DeviceProfile{.systemVersion = "6.1"});
    EXPECT_TRUE(VelmoraOAuth::iphoneQQSupportSSOLogin());
  }
}

TEST_F(LoginTest, QZoneWithOnlyItsNewerCommandSchemeIsInstalled) {
  auto qzone = installQZone({"mqzoneopensdkapi"});
  EXPECT_TRUE(OpenApi::isQZoneInstalled());
}

TEST_F(LoginTest, QZoneAnswersReachTheDelegateByCommandName) {
  auto qzone = installQZone({"mqzone", "mqzoneopensdkapi", "mqzoneopensdkapiV2"});
  ASSERT_TRUE(OpenApi::sendCommandToQZone("AppGiftRequest", os::Dictionary{{"type", "request"}}));
  ASSERT_TRUE(run([&] { return !qzone->openedURLs().empty(); }));
  EXPECT_EQ(qzone->openedURLs()[0].url.absoluteString(), std::string("mqzoneopensdkapi://qzapp/") + kReplyScheme +
                                                             "/com.velmora." + kReplyScheme + "/AppGiftRequest?generalpastboard=1");
  auto response = std::make_shared<APIResponse>();
  response->setRetCode(0);
  auto archived = os::KeyedArchiver::archivedData(response);
  ASSERT_TRUE(OpenApi::sendCommandToQZone("01", os::Dictionary{}));
  reply(*qzone, os::Dictionary{{"response_data", *archived}}, "AppGiftRequest");
  reply(*qzone, os::Dictionary{{"response_data", *archived}}, "01");
  EXPECT_EQ(delegate->calls,
            (std::vector<std::string>{"appGiftRequestResponse:", "01Response:", "received 01"}));

  // A reply whose path lacks the segment goes to the session, which finds no app-to-app record.
  EXPECT_FALSE(VelmoraOAuth::HandleOpenURL(std::string(kReplyScheme) + "://qzapp/0?generalpastboard=1"));
  EXPECT_TRUE(VelmoraOAuth::CanHandleOpenURL(std::string(kReplyScheme) + "://qzapp/x/0"));
  EXPECT_FALSE(VelmoraOAuth::CanHandleOpenURL("other://qzapp/x/0"));
}

// Any application can open the reply URL: a command or story answers its caller once, and a
// reply to one never sent, or a second reply, reaches nobody and is not taken. An unreadable
// reply leaves the command waiting for QZone's real answer.
TEST_F(LoginTest, QZoneRepliesAnswerOnlyCommandsSentAndEachOnce) {
  auto qzone = installQZone({"mqzone", "mqzoneopensdkapi", "mqzoneopensdkapiV2"});
  auto response = std::make_shared<APIResponse>();
  response->setRetCode(0);
  const os::Data archived = *os::KeyedArchiver::archivedData(response);
  const std::string type = std::string("com.velmora.") + kReplyScheme;
  auto replyTaken = [&](const std::string& command, const os::Value& data) {
    const os::Dictionary answer{{"response_data", data}};
    qzone->generalPasteboard()->setData(os::KeyedArchiver::archivedData(os::Value(answer)), type);
    return VelmoraOAuth::HandleOpenURL(std::string(kReplyScheme) + "://qzapp/x/" + command + "?generalpastboard=1");
  };

  // Never sent: neither a command nor a story.
  EXPECT_FALSE(replyTaken("AppChallenge", os::Value(archived)));
  EXPECT_FALSE(replyTaken("1", os::Value(archived)));
  EXPECT_TRUE(delegate->calls.empty());

  ASSERT_TRUE(OpenApi::sendCommandToQZone("AppChallenge", os::Dictionary{{"type", "pk"}}));
  ASSERT_TRUE(OpenApi::shareWithQZoneWithData(os::Dictionary{{"type", "21"}}));
  settle();
  EXPECT_TRUE(replyTaken("AppChallenge", os::Value(os::dataFromString("not an archive"))));
  EXPECT_TRUE(replyTaken("1", os::Value("no data")));
  EXPECT_TRUE(delegate->calls.empty());
  EXPECT_TRUE(replyTaken("AppChallenge", os::Value(archived)));
  EXPECT_TRUE(replyTaken("1", os::Value(archived)));
  EXPECT_EQ(delegate->calls, (std::vector<std::string>{"appChallengeResponse:", "received SendStory"}));
  // Answered already.
  EXPECT_FALSE(replyTaken("AppChallenge", os::Value(archived)));
  EXPECT_FALSE(replyTaken("1", os::Value(archived)));
  EXPECT_EQ(delegate->calls.size(), 2u);

  // Two commands sent, two answers.
  ASSERT_TRUE(OpenApi::sendCommandToQZone("AppInvitation", os::Dictionary{}));
  ASSERT_TRUE(OpenApi::sendCommandToQZone("AppInvitation", os::Dictionary{}));
  settle();
  EXPECT_TRUE(replyTaken("AppInvitation", os::Value(archived)));
  EXPECT_TRUE(replyTaken("AppInvitation", os::Value(archived)));
  EXPECT_FALSE(replyTaken("AppInvitation", os::Value(archived)));
  EXPECT_EQ(delegate->calls.size(), 4u);
}

// The policy and report CGIs on loopback: what a session tells them as it is made and used.
class SessionReportsTest : public LoginTest {
 protected:
  void SetUp() override {
    QQConnectTest::SetUp();
    ASSERT_TRUE(server.start(0));
    endpoints.policyURL = server.url(qqconnectd::QQConnectService::kPolicyPath);
    endpoints.reportURL = server.url(qqconnectd::QQConnectService::kReportPath);
  }
  static VMA4QCSettings analytics() { return VMA4QC::getInstance().config().get(); }

  qqconnectd::QQConnectServer server;
  VelmoraOAuthEndpoints endpoints;
};

TEST_F(SessionReportsTest, CreationFetchesThePolicyAndSingleSignOnIsReported) {
  installAnsweringQQ();
  // Policy and analytics know the id as the host gave it; reports carry the decimal one.
  session = VelmoraOAuth::initWithAppId("QQ05FBE048", delegate, endpoints);
  ASSERT_TRUE(run([&] { return !server.service().policyFetches().empty(); }));
  EXPECT_EQ(server.service().policyFetches(), std::vector<std::string>{"QQ05FBE048"});
  ASSERT_TRUE(analytics().appkey);
  EXPECT_TRUE(analytics().appkey->ends_with("QQ05FBE048"));
  EXPECT_TRUE(server.service().actionReports().empty());

  ASSERT_TRUE(login());
  ASSERT_TRUE(run([&] { return !server.service().actionReports().empty(); }));
  const auto report = server.service().actionReports().at(0);
  EXPECT_EQ(report.action, "10786");
  EXPECT_EQ(report.appid, kAppId);
  EXPECT_EQ(report.version, "ios.SDK.1.8");
  EXPECT_FALSE(report.elapsed);

  // An empty open id logs in but names no account.
  reply(os::Dictionary{{"openid", ""}, {"access_token", "TOK"}});
  EXPECT_EQ(delegate->calls, std::vector<std::string>{"login"});
  EXPECT_NE(analytics().qq, std::optional<std::string>(""));
  ASSERT_TRUE(login());
  reply(os::Dictionary{{"openid", "REPORTED"}, {"access_token", "TOK"}});
  EXPECT_EQ(delegate->calls, std::vector<std::string>{"login"});
  EXPECT_EQ(analytics().qq, "REPORTED");
  ASSERT_TRUE(run([&] { return server.service().actionReports().size() == 2; }));
  EXPECT_EQ(server.service().policyFetches().size(), 1u);
}

// The OpenAPI server on loopback: the login statistics and the open id answer.
class OpenApiLoginTest : public LoginTest {
 protected:
  void SetUp() override {
    QQConnectTest::SetUp();
    session = loggedInSession(server, delegate);
  }
  bool answered() {
    return run([&] { return !delegate->calls.empty(); });
  }
  os::testing::HttpTestServer server;
};

TEST_F(OpenApiLoginTest, StoredSessionIsCheckedAndEveryAnswerEndsTheLogin) {
  server.route("GET", "/user/user_login_statis", os::testing::CannedResponse::text("_Callback({\"ret\":0});"));
  ASSERT_TRUE(session->authorize(std::vector<std::string>{"all"}));
  ASSERT_TRUE(answered());
  EXPECT_EQ(delegate->calls, std::vector<std::string>{"login"});
  const auto sent = server.requests().back().queryParameters;
  EXPECT_EQ(sent.find("encrytoken")->second,
            os::md5Hex(std::string("wirnoln&pqe&bravu***58273%%TOK") + kAppId + "OIDvexil7.2"));
  EXPECT_EQ(sent.find("access_token")->second, "TOK");

  server.route("GET", "/user/user_login_statis", os::testing::CannedResponse::text("<html>busy</html>"));
  delegate->calls.clear();
  ASSERT_TRUE(session->authorize(std::vector<std::string>{"all"}));
  ASSERT_TRUE(answered());
  EXPECT_EQ(delegate->calls, std::vector<std::string>{"failed"});
  EXPECT_TRUE(session->apiRequests().empty());

  // A stale session goes on to a new login: here no QQ and no network.
  server.route("GET", "/user/user_login_statis", os::testing::CannedResponse::text("{\"ret\":100015}"));
  delegate->calls.clear();
  ASSERT_TRUE(session->authorize(std::vector<std::string>{"all"}));
  ASSERT_TRUE(answered());
  settle();
  EXPECT_EQ(delegate->calls, std::vector<std::string>{"no network"});

  // Nor can one start when the reader does not declare its reply scheme: the login fails once,
  // besides the alert about the configuration.
  sandbox.setInfoDictionary(os::Dictionary{{"CFBundleIdentifier", "com.example.newsreader"},
                                           {"CFBundleDisplayName", "军事新闻"}});
  delegate->calls.clear();
  ASSERT_TRUE(session->authorize(std::vector<std::string>{"all"}));
  ASSERT_TRUE(answered());
  settle();
  EXPECT_EQ(delegate->calls, std::vector<std::string>{"failed"});
  EXPECT_EQ(session->accessToken(), "TOK");
}

// The reader logs out while a login's request is out (the stored-login check, the open id): the
// answer that comes after signs nobody in. The login ends as cancelled, with no token held.
TEST_F(OpenApiLoginTest, ALogoutWhileALoginsRequestIsOutEndsThatLogin) {
  server.route("GET", "/user/user_login_statis", os::testing::CannedResponse::text("_Callback({\"ret\":0});"));
  ASSERT_TRUE(session->authorize(std::vector<std::string>{"all"}));
  session->logout(nullptr);
  ASSERT_TRUE(run([&] { return delegate->calls.size() == 2; }));
  EXPECT_EQ(delegate->calls, (std::vector<std::string>{"logout", "cancelled"}));
  EXPECT_FALSE(session->accessToken());

  server.route("GET", "/oauth2.0/m_me", os::testing::CannedResponse::text("callback( {\"openid\":\"NEW\"} );\n"));
  session->setAccessToken("TOK");
  session->setExpirationDate(os::Date::now().addingTimeInterval(3600));
  auto waiting = std::make_shared<Recorder>();
  session->loginDict()["4321"] = waiting;
  ASSERT_TRUE(session->getOpenId("4321"));
  session->logout(nullptr);
  ASSERT_TRUE(run([&] { return !waiting->calls.empty(); }));
  EXPECT_EQ(waiting->calls, std::vector<std::string>{"cancelled"});
  EXPECT_FALSE(session->openId());
  EXPECT_TRUE(session->loginDict().empty());

  // A login asked after the logout is answered as before.
  delegate->calls.clear();
  session->setAccessToken("TOK");
  session->setExpirationDate(os::Date::now().addingTimeInterval(3600));
  ASSERT_TRUE(session->authorize(std::vector<std::string>{"all"}));
  ASSERT_TRUE(answered());
  EXPECT_EQ(delegate->calls, std::vector<std::string>{"login"});
}

TEST_F(OpenApiLoginTest, OpenIdAnswerIsUnwrappedAndAnEmptyOneFailsTheLogin) {
  auto waiting = std::make_shared<Recorder>();
  server.route("GET", "/oauth2.0/m_me", os::testing::CannedResponse::text("callback( {\"openid\":\"NEW\"} );\n"));
  session->loginDict()["4321"] = waiting;
  ASSERT_TRUE(session->getOpenId("4321"));
  ASSERT_TRUE(run([&] { return !waiting->calls.empty(); }));
  EXPECT_EQ(waiting->calls, std::vector<std::string>{"login"});
  EXPECT_EQ(session->openId(), "NEW");
  EXPECT_TRUE(session->loginDict().empty());

  server.route("GET", "/oauth2.0/m_me", os::testing::CannedResponse::text("callback( {} );\n"));
  waiting->calls.clear();
  session->loginDict()["4322"] = waiting;
  ASSERT_TRUE(session->getOpenId("4322"));
  ASSERT_TRUE(run([&] { return !waiting->calls.empty(); }));
  EXPECT_EQ(waiting->calls, std::vector<std::string>{"failed"});

  EXPECT_FALSE(session->getOpenId("0"));
  session->setUserGetUserInfo(false);
  EXPECT_FALSE(session->getOpenId("4323"));
}

}  // namespace
}  // namespace qctest
