// The local QQ Connect service's pages and answers in the forms the platform defines them: the
// authorisation page's parameters and redirects (in the application and in an outside browser),
// the open id answer's "callback( ... );" wrapping, the OpenAPI's "ret" and members, the policy
// and report CGIs and the analytics upload's framing and cipher. The expectations are written
// from those forms, not from our client, so a misreading the two share fails here.
#include <gtest/gtest.h>
#include <httplib.h>

#include "foundation/formats/JSONDecoder.h"
#include "os/core/Compression.h"
#include "os/core/String.h"
#include "tools/qqconnectd/server/QQConnectServer.h"
#include "tools/qqconnectd/tests/QQConnectTestSupport.h"
#include "tools/qqconnectd/server/QQConnectService.h"
#include "os/testing/RawHttpClient.h"

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

// A POST whose parameters include a picture goes as a multipart body, every field a part of its
// own and the picture a part with a file name; add_share reads its fields from the parts as from a
// plain form.
TEST(QQConnectServerTest, AddShareTakesItsFieldsFromAMultipartBody) {
  QQConnectServer server;
  ASSERT_TRUE(server.start(0));
  auto location = server.service()
                      .handle(request("POST", kPage, {{"username", QQConnectService::kTestAccount},
                                                      {"password", QQConnectService::kTestPassword}}))
                      .location;
  auto members = fragmentOf(location);
  const std::string boundary = "od2ER5ioefd682HE14eh2n82n9M7rEu2nH85XQY1";
  auto part = [&](const std::string& name, const std::string& value) {
    return "Content-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value + "\r\n--" + boundary + "\r\n";
  };
  const std::string body = "--" + boundary + "\r\n" + part("access_token", members["access_token"]) +
                           part("oauth_consumer_key", kApp) + part("openid", members["openid"]) + part("format", "json") +
                           part("title", "标题") + part("url", "http://news.example/1") +
                           "Content-Disposition: form-data; name=\"images\"; filename=\"picture\"\r\n"
                           "Content-Type: image/jpeg\r\n\r\n\xff\xd8\xff\xd9\r\n--" + boundary + "--\r\n";
  httplib::Client client("127.0.0.1", server.port());
  os::testing::patient(client);
  auto answer = client.Post("/share/add_share", body, ("multipart/form-data; boundary=" + boundary).c_str());
  ASSERT_TRUE(answer);
  EXPECT_EQ(object(answer->body)["ret"].intValue(), 0) << answer->body;
  auto shares = server.service().shares();
  ASSERT_EQ(shares.size(), 1u);
  EXPECT_EQ(shares[0].title, "标题");
  EXPECT_EQ(shares[0].url, "http://news.example/1");
  EXPECT_EQ(shares[0].parameters.count("images"), 0u);  // the picture is no text field
  server.stop();
}

// The online policy: a GET with "client_id" (the application id in whichever form the session got
// it) answered by a JSON dictionary whose "ret" 0 and numeric "Common_ta_enable",
// "Common_frequency" and "Common_SSO" the client stores.
TEST_F(QQConnectServiceTest, PolicyFetchAnswersThePolicyDictionary) {
  const std::string query = "?client_id=QQ41A4E500&sdkv=2.3&sdkp=i&status_os=7.1.2&status_version=7"
                            "&status_machine=iPhone6,2&format=json&oauth_consumer_key=QQ41A4E500";
  ServiceAnswer answer = service.handle(request("GET", "/qqconnectopen/openapi/policy_conf" + query));
  EXPECT_EQ(answer.status, 200);
  auto policy = object(answer.body);
  EXPECT_EQ(policy["ret"].intValue(), 0);
  for (const char* member : {"Common_ta_enable", "Common_frequency", "Common_SSO"})
    EXPECT_TRUE(policy[member].isNumber()) << member;
  service.setPolicy("{\"ret\":0,\"Common_frequency\":12}");
  EXPECT_EQ(object(service.handle(request("GET", "/qqconnectopen/openapi/policy_conf" + query)).body)["Common_frequency"]
                .intValue(),
            12);
  EXPECT_EQ(service.policyFetches(), (std::vector<std::string>{"QQ41A4E500", "QQ41A4E500"}));
}

// Action reports: "strValue" the application id, "nValue" the action, "qver", "tag" "0", and "elt"
// in whole seconds on timed reports only.
TEST_F(QQConnectServiceTest, ActionReportsKeepTheirNumberedFields) {
  EXPECT_EQ(service.handle(request("GET", "/report/report?strValue=1101284736&nValue=10786&qver=ios.SDK.1.8&tag=0")).status,
            200);
  EXPECT_EQ(service.handle(request("GET", "/report/report?strValue=1101284736&nValue=10784&qver=ios.SDK.1.8&tag=0"
                                          "&elt=1700000000"))
                .status,
            200);
  EXPECT_EQ(service.handle(request("GET", "/report/report?strValue=1101284736&qver=ios.SDK.1.8&tag=0")).status, 400);
  auto reports = service.actionReports();
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[0].appid, kApp);
  EXPECT_EQ(reports[0].action, "10786");
  EXPECT_EQ(reports[0].version, "ios.SDK.1.8");
  EXPECT_EQ(reports[0].tag, "0");
  EXPECT_FALSE(reports[0].elapsed);
  EXPECT_EQ(reports[1].elapsed.value_or(""), "1700000000");
}

// RC4 written out here (key schedule over the key's bytes, then the output generator), so that a
// service that read the key differently from the upload's description fails.
os::Data rc4(const std::string& text, const std::string& key) {
  std::uint8_t box[256];
  for (int i = 0; i < 256; ++i) box[i] = static_cast<std::uint8_t>(i);
  for (int i = 0, j = 0; i < 256; ++i) {
    j = (j + box[i] + static_cast<std::uint8_t>(key[i % key.size()])) & 255;
    std::swap(box[i], box[j]);
  }
  os::Data out;
  for (std::size_t n = 0, i = 0, j = 0; n < text.size(); ++n) {
    i = (i + 1) & 255;
    j = (j + box[i]) & 255;
    std::swap(box[i], box[j]);
    out.push_back(static_cast<std::uint8_t>(text[n]) ^ box[(box[i] + box[j]) & 255]);
  }
  return out;
}

// A batch text of exactly `size` bytes: one event padded out.
std::string batchOf(std::size_t size, const std::string& id) {
  const std::string head = "[{\"ei\":\"" + id + "\",\"pad\":\"", tail = "\"}]";
  return head + std::string(size - head.size() - tail.size(), 'x') + tail;
}

ServiceRequest upload(const std::string& encoding, const os::Data& body) {
  ServiceRequest r = request("POST", "/qqconnectutil/sdk");
  r.contentEncoding = encoding;
  r.body.assign(body.begin(), body.end());
  return r;
}

// The upload: below 256 bytes the batch text itself ("rc4"), from 256 bytes its big-endian length
// and its gzip stream ("rc4,gzip"), enciphered with RC4 under the 32 ASCII bytes of the key text.
TEST_F(QQConnectServiceTest, AnalyticsUploadIsReadAsFramedAndEnciphered) {
  const std::string key = "4b7e0c9a2f5d8e1b6a3c7f0e9d2b5a48";
  EXPECT_EQ(service.handle(upload("rc4", rc4(batchOf(255, "short"), key))).status, 200);

  const std::string long_ = batchOf(256, "long");
  auto zipped = os::gzipData(os::Data(long_.begin(), long_.end()));
  ASSERT_TRUE(zipped);
  std::string framed{'\0', '\0', '\1', '\0'};
  framed.append(zipped->begin(), zipped->end());
  EXPECT_EQ(service.handle(upload("rc4,gzip", rc4(framed, key))).status, 200);

  // The 16 bytes the key's digits spell are not the key.
  std::string spelled;
  for (std::size_t i = 0; i < key.size(); i += 2) spelled += static_cast<char>(std::stoi(key.substr(i, 2), nullptr, 16));
  EXPECT_NE(service.handle(upload("rc4", rc4(batchOf(255, "wrong"), spelled))).status, 200);

  auto events = service.analyticsEvents();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0]["ei"].stringOr(), "short");
  EXPECT_EQ(events[1]["ei"].stringOr(), "long");
}

// A service left running keeps only the newest of each record, and share ids go on counting past
// the shares it let go.
TEST_F(QQConnectServiceTest, RecordsKeepTheNewestEntriesAndShareIdsKeepCounting) {
  const std::size_t total = QQConnectService::kRecordLimit + 3;
  for (std::size_t i = 0; i < total; ++i) {
    const std::string n = std::to_string(i);
    ASSERT_EQ(service.handle(request("GET", "/qqconnectopen/openapi/policy_conf?client_id=c" + n)).status, 200);
    ASSERT_EQ(service.handle(request("GET", "/report/report?strValue=" + kApp + "&nValue=" + n + "&tag=0")).status, 200);
  }
  const auto fetches = service.policyFetches();
  ASSERT_EQ(fetches.size(), QQConnectService::kRecordLimit);
  EXPECT_EQ(fetches.front(), "c3");
  EXPECT_EQ(fetches.back(), "c" + std::to_string(total - 1));
  const auto reports = service.actionReports();
  ASSERT_EQ(reports.size(), QQConnectService::kRecordLimit);
  EXPECT_EQ(reports.front().action, "3");
  EXPECT_EQ(reports.back().action, std::to_string(total - 1));
  EXPECT_EQ(service.log().size(), QQConnectService::kRecordLimit);
  EXPECT_EQ(service.log().back(), "report " + std::to_string(total - 1));

  const auto [token, openid] = granted();
  const std::string call = "/share/add_share?access_token=" + token + "&oauth_consumer_key=" + kApp + "&openid=" + openid +
                           "&url=http://news.example/1&title=t";
  std::string lastId;
  for (std::size_t i = 0; i < total; ++i) lastId = object(service.handle(request("POST", call)).body)["share_id"].stringOr();
  EXPECT_EQ(lastId, std::to_string(total));
  EXPECT_EQ(service.shares().size(), QQConnectService::kRecordLimit);
  EXPECT_EQ(service.grants().size(), 1u);
  EXPECT_EQ(service.log().size(), QQConnectService::kRecordLimit);
}

// A HEAD of a page or answer a GET is given is answered as that GET, its body left out: not
// refused as a method the path does not take.
TEST(QQConnectServerTest, AHeadIsAnsweredAsTheGetOfTheSameAddress) {
  QQConnectServer server;
  ASSERT_TRUE(server.start(0));
  httplib::Client client("127.0.0.1", server.port());
  os::testing::patient(client);
  for (const std::string& path : {std::string(kPage), std::string("/oauth2.0/m_me?access_token=NOPE"),
                                 std::string("/qqconnectopen/openapi/policy_conf?client_id=") + kApp}) {
    SCOPED_TRACE(path);
    auto get = client.Get(path);
    auto head = client.Head(path);
    ASSERT_TRUE(get);
    ASSERT_TRUE(head);
    EXPECT_EQ(head->status, get->status);
    EXPECT_EQ(head->get_header_value("Content-Length"), std::to_string(get->body.size()));
    EXPECT_TRUE(head->body.empty());
  }
  server.stop();
}

}  // namespace
}  // namespace qqconnectd
