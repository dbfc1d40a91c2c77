// The local QQ Connect service's pages and answers in the forms the platform defines them: the
// authorisation page's parameters and redirects (in the application and in an outside browser),
// the open id answer's "callback( ... );" wrapping, the OpenAPI's "ret" and members, the policy
// and report CGIs and the analytics upload's framing and cipher. The expectations are written
// from those forms, not from our client, so a misreading the two share fails here.
#include <gtest/gtest.h>

#include "foundation/formats/JSONDecoder.h"
#include "os/core/String.h"
#include "tools/qqconnectd/server/QQConnectService.h"

namespace qqconnectd {
namespace {

const std::string kApp = "1101284736";
const std::string kPage = "/oauth2.0/m_authorize?response_type=token&client_id=1101284736"
                          "&redirect_uri=auth://openmobile.velmora.example&display=mobile&state=test&switch=1"
                          "&scope=get_user_info,add_share";

ServiceRequest request(std::string method, std::string target, std::multimap<std::string, std::string> fields = {}) {
  ServiceRequest r;
  r.method = std::move(method);
  r.target = target;
  const auto mark = target.find('?');
  r.path = target.substr(0, mark);
  if (mark != std::string::npos)
    for (const auto& pair : os::split(target.substr(mark + 1), "&")) {
      const auto eq = pair.find('=');
      r.query.emplace(pair.substr(0, eq), eq == std::string::npos ? "" : pair.substr(eq + 1));
    }
  r.query.insert(fields.begin(), fields.end());
  return r;
}

os::Dictionary object(const std::string& text) {
  auto value = JSONDecoder::decoder()->objectWithUTF8String(text.data(), text.size());
  return value && value->dictionary() ? *value->dictionary() : os::Dictionary{};
}

// The fragment's members, as the client's login reads them after the "#".
std::map<std::string, std::string> fragmentOf(const std::string& location) {
  std::map<std::string, std::string> members;
  const auto hash = location.find('#');
  if (hash == std::string::npos) return members;
  for (const auto& pair : os::split(location.substr(hash + 1), "&")) {
    const auto eq = pair.find('=');
    members[pair.substr(0, eq)] = os::percentUnescape(pair.substr(eq + 1)).value_or("");
  }
  return members;
}

class QQConnectServiceTest : public ::testing::Test {
 protected:
  ServiceAnswer signIn(const std::string& password) {
    return service.handle(request("POST", kPage, {{"username", QQConnectService::kTestAccount}, {"password", password}}));
  }
  // Signs in and answers the grant's token and open id.
  std::pair<std::string, std::string> granted() {
    auto members = fragmentOf(signIn(QQConnectService::kTestPassword).location);
    return {members["access_token"], members["openid"]};
  }
  QQConnectService service;
};

TEST_F(QQConnectServiceTest, OnlyATokenLoginOfAnApplicationIdToARedirectAddressIsShown) {
  EXPECT_EQ(service.handle(request("GET", kPage)).status, 200);
  for (const std::string& bad : {std::string("/oauth2.0/m_authorize?response_type=code&client_id=1&redirect_uri=auth://x"),
                                 std::string("/oauth2.0/m_authorize?response_type=token&client_id=QQ41A4E500&redirect_uri=auth://x"),
                                 std::string("/oauth2.0/m_authorize?response_type=token&client_id=1")})
    EXPECT_EQ(service.handle(request("GET", bad)).status, 400) << bad;
}

TEST_F(QQConnectServiceTest, SignInRedirectsToTheRedirectAddressWithTheTokenInTheFragment) {
  ServiceAnswer answer = signIn(QQConnectService::kTestPassword);
  EXPECT_EQ(answer.status, 302);
  // The client watches for "auth://" + its redirect host and reads the members after "#".
  EXPECT_EQ(answer.location.rfind("auth://openmobile.velmora.example#", 0), 0u);
  auto members = fragmentOf(answer.location);
  EXPECT_EQ(members["expires_in"], "7776000");
  EXPECT_EQ(members["state"], "test");
  EXPECT_EQ(members["access_token"].size(), 32u);
  EXPECT_EQ(members["openid"].size(), 32u);
  auto grants = service.grants();
  ASSERT_EQ(grants.size(), 1u);
  EXPECT_EQ(grants[0].token, members["access_token"]);
  EXPECT_EQ(grants[0].appid, kApp);
  EXPECT_EQ(grants[0].scope, "get_user_info,add_share");
}

// A login handed to an outside browser sends "browser", "token_key" and "serial" and redirects to
// the application's own scheme; the client takes the answer only when it names the serial, and
// reads the token by undoing, pair of hex digits by pair, an XOR with the key's characters.
TEST_F(QQConnectServiceTest, BrowserLoginReturnsTheSerialAndTheTokenEncipheredWithItsKey) {
  const std::string key = "3fa09c";
  const std::string page = "/oauth2.0/m_authorize?response_type=token&client_id=1101284736"
                           "&redirect_uri=velmora1101284736://openmobile.velmora.example&display=mobile&state=test"
                           "&browser=1&switch=1&b_time=1700000000000&token_key=" + key + "&serial=1007";
  ServiceAnswer answer = service.handle(
      request("POST", page, {{"username", QQConnectService::kTestAccount}, {"password", QQConnectService::kTestPassword}}));
  ASSERT_EQ(answer.status, 302);
  EXPECT_EQ(answer.location.rfind("velmora1101284736://openmobile.velmora.example#", 0), 0u);
  auto members = fragmentOf(answer.location);
  EXPECT_EQ(members["serial"], "1007");
  EXPECT_EQ(members["expires_in"], "7776000");
  const std::string& coded = members["access_token"];
  ASSERT_EQ(coded.size() % 2, 0u);
  std::string token;
  for (std::size_t j = 0; j * 2 < coded.size(); ++j)
    token += static_cast<char>(std::stoi(coded.substr(j * 2, 2), nullptr, 16) ^ key[j % key.size()]);
  auto grants = service.grants();
  ASSERT_EQ(grants.size(), 1u);
  EXPECT_NE(coded, grants[0].token);
  EXPECT_EQ(token, grants[0].token);
  // The deciphered token is the one the OpenAPI takes.
  auto info = object(service.handle(request("GET", "/user/get_user_info?access_token=" + token + "&oauth_consumer_key=" +
                                                         kApp + "&openid=" + members["openid"] + "&format=json"))
                         .body);
  EXPECT_EQ(info["ret"].intValue(), 0);
}

TEST_F(QQConnectServiceTest, OpenIdAnswerIsWrappedAsTheClientUnwrapsIt) {
  auto [token, openid] = granted();
  ServiceAnswer answer = service.handle(request("GET", "/oauth2.0/m_me?access_token=" + token + "&format=json"));
  // The client takes the characters from index 10 up to the last three as the JSON text.
  ASSERT_GT(answer.body.size(), 13u);
  EXPECT_EQ(answer.body.rfind("callback", 0), 0u);
  auto members = object(answer.body.substr(10, answer.body.size() - 13));
  EXPECT_EQ(members["openid"].stringOr(), openid);
  EXPECT_EQ(members["client_id"].stringOr(), kApp);

  auto unknown = service.handle(request("GET", "/oauth2.0/m_me?access_token=NOPE"));
  EXPECT_FALSE(object(unknown.body.substr(10, unknown.body.size() - 13))["openid"].string());
}

TEST_F(QQConnectServiceTest, OpenApiAnswersOnlyTheGrantedTokenOfItsApplicationAndAccount) {
  auto [token, openid] = granted();
  const std::string common = "access_token=" + token + "&oauth_consumer_key=" + kApp + "&openid=" + openid + "&format=json";
  auto info = object(service.handle(request("GET", "/user/get_user_info?" + common)).body);
  EXPECT_EQ(info["ret"].intValue(), 0);
  EXPECT_EQ(info["nickname"].stringOr(), QQConnectService::kTestNickname);

  for (const std::string& other : {"access_token=NOPE&oauth_consumer_key=" + kApp + "&openid=" + openid,
                                   "access_token=" + token + "&oauth_consumer_key=222222&openid=" + openid,
                                   "access_token=" + token + "&oauth_consumer_key=" + kApp + "&openid=OTHER"})
    EXPECT_EQ(object(service.handle(request("GET", "/user/get_user_info?" + other)).body)["ret"].intValue(),
              QQConnectService::kRetTokenInvalid)
        << other;

  // add_share is posted: its form fields come with the call's own.
  auto shared = object(service.handle(request("POST", "/share/add_share?" + common,
                                              {{"title", "标题"}, {"url", "http://news.example/1"}, {"site", "军事新闻"}}))
                           .body);
  EXPECT_EQ(shared["ret"].intValue(), 0);
  EXPECT_EQ(shared["share_id"].stringOr(), "1");
  auto missing = object(service.handle(request("POST", "/share/add_share?" + common, {{"title", "标题"}})).body);
  EXPECT_EQ(missing["ret"].intValue(), QQConnectService::kRetParameterMissing);
  auto shares = service.shares();
  ASSERT_EQ(shares.size(), 1u);
  EXPECT_EQ(shares[0].title, "标题");
  EXPECT_EQ(shares[0].openid, openid);
}

}  // namespace
}  // namespace qqconnectd
