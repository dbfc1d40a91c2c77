// What the QQ Connect service keeps of what peers send stays within bounds however much they send:
// a field past the form limit is refused however the body carries it, the kept shares are bounded
// by their bytes as well as their count, the live tokens by their count and what each keeps, and a
// token past its lifetime is forgotten.
#include <gtest/gtest.h>
#include <httplib.h>

#include "foundation/formats/JSONDecoder.h"
#include "os/core/Compression.h"
#include "os/core/String.h"
#include "os/crypto/Cipher.h"
#include "os/runtime/Clock.h"
#include "os/testing/RawHttpClient.h"
#include "tools/qqconnectd/server/QQConnectServer.h"
#include "tools/qqconnectd/tests/QQConnectTestSupport.h"

namespace qqconnectd {
namespace {

const std::string kApp = "1101284736";
const std::string kBoundary = "od2ER5ioefd682HE14eh2n82n9M7rEu2nH85XQY1";

std::string pageTarget(const std::string& scope) {
  return "/oauth2.0/m_authorize?response_type=token&client_id=" + kApp +
         "&redirect_uri=auth://openmobile.velmora.example&display=mobile&scope=" + scope;
}

class QQConnectBoundTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server.start(0)); }
  void TearDown() override { server.stop(); }

  // Signs in through the page as a browser posts its form; the token and open id, or empty ones.
  std::pair<std::string, std::string> signIn(const std::string& scope = "get_user_info,add_share") {
    httplib::Client client("127.0.0.1", server.port());
    os::testing::patient(client);
    auto answer = client.Post(pageTarget(scope).c_str(),
                              httplib::Params{{"username", QQConnectService::kTestAccount},
                                              {"password", QQConnectService::kTestPassword}});
    if (!answer || answer->status != 302) return {};
    auto members = fragmentOf(answer->get_header_value("Location"));
    return {members["access_token"], members["openid"]};
  }

  // add_share as the client sends it with a picture: every field a part, the picture a file; in
  // chunks, with no length given up front, when asked.
  httplib::Result addShare(const std::pair<std::string, std::string>& grant,
                           const std::vector<std::pair<std::string, std::string>>& fields,
                           const std::string& picture = "\xff\xd8\xff\xd9", bool chunked = false) {
    auto part = [](const std::string& name, const std::string& value) {
      return "Content-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value + "\r\n--" + kBoundary + "\r\n";
    };
    std::string body = "--" + kBoundary + "\r\n" + part("access_token", grant.first) + part("oauth_consumer_key", kApp) +
                       part("openid", grant.second) + part("format", "json");
    for (const auto& [name, value] : fields) body += part(name, value);
    body += "Content-Disposition: form-data; name=\"images\"; filename=\"picture\"\r\n"
            "Content-Type: image/jpeg\r\n\r\n" + picture + "\r\n--" + kBoundary + "--\r\n";
    httplib::Client client("127.0.0.1", server.port());
    os::testing::patient(client);
    const std::string contentType = "multipart/form-data; boundary=" + kBoundary;
    if (!chunked) return client.Post("/share/add_share", body, contentType.c_str());
    return client.Post("/share/add_share", os::testing::inChunks(std::move(body)), contentType);
  }

  // "ret" of user info asked with the grant.
  long long userInfoRet(const std::pair<std::string, std::string>& grant) {
    httplib::Client client("127.0.0.1", server.port());
    os::testing::patient(client);
    auto answer = client.Get((std::string(QQConnectService::kUserInfoPath) + "?access_token=" + grant.first +
                              "&oauth_consumer_key=" + kApp + "&openid=" + grant.second)
                                 .c_str());
    return answer ? object(answer->body)["ret"].intValue() : -999;
  }

  os::VirtualClockScope clock{1.8e9};
  QQConnectServer server;
};

TEST_F(QQConnectBoundTest, AFieldPastTheFormLimitInAMultipartBodyIsRefusedAndKeptNowhere) {
  const auto grant = signIn();
  ASSERT_FALSE(grant.first.empty());
  const std::size_t before = server.service().keptBytes();

  auto answer = addShare(grant, {{"title", std::string(1u << 20, 't')}, {"url", "http://news.example/1"}});
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->status, 413);
  EXPECT_TRUE(server.service().shares().empty());
  EXPECT_LT(server.service().keptBytes(), before + 4096);

  // At the limit it is a share like any other.
  answer = addShare(grant, {{"title", std::string(QQConnectService::kFieldLimit, 't')}, {"url", "http://news.example/1"}});
  ASSERT_TRUE(answer);
  EXPECT_EQ(object(answer->body)["ret"].intValue(), 0) << answer->body.substr(0, 200);
  ASSERT_EQ(server.service().shares().size(), 1u);

  // A scope past the limit signs no one in.
  EXPECT_TRUE(signIn(std::string(QQConnectService::kFieldLimit + 1, 's')).first.empty());
  EXPECT_EQ(server.service().grants().size(), 1u);
}

// The picture beside the fields is held to the payload bound as well when its body comes in
// chunks, with no length for the HTTP layer to check first.
TEST_F(QQConnectBoundTest, APicturePastThePayloadBoundInAChunkedBodyIsRefusedAndKeptNowhere) {
  const auto grant = signIn();
  ASSERT_FALSE(grant.first.empty());
  const std::vector<std::pair<std::string, std::string>> fields{{"title", "t"}, {"url", "http://news.example/1"}};

  auto answer = addShare(grant, fields, std::string(QQConnectServer::kMaxPayload + 1, 'p'), true);
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->status, 413);
  EXPECT_TRUE(server.service().shares().empty());

  // A picture within the bound, in chunks as well, comes with a share like any other.
  answer = addShare(grant, fields, std::string(1024, 'p'), true);
  ASSERT_TRUE(answer);
  EXPECT_EQ(object(answer->body)["ret"].intValue(), 0) << answer->body.substr(0, 200);
  EXPECT_EQ(server.service().shares().size(), 1u);
}

// An analytics upload names the length its batch inflates to: a few kilobytes on the wire that
// would inflate past the bound are refused before they are inflated.
TEST_F(QQConnectBoundTest, AnUploadNamingALengthPastTheBoundIsRefusedUninflated) {
  const std::string key = QQConnectService::kAnalyticsKey;
  auto post = [&](std::size_t length) {
    // An empty batch, padded out with white space to the length it names.
    const std::string batch = "[" + std::string(length - 2, ' ') + "]";
    auto zipped = os::gzipData(os::Data(batch.begin(), batch.end()));
    os::Data framed{static_cast<std::uint8_t>(length >> 24), static_cast<std::uint8_t>(length >> 16),
                    static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length)};
    if (zipped) framed.insert(framed.end(), zipped->begin(), zipped->end());
    const os::Data body = os::rc4(framed, os::Data(key.begin(), key.end()));
    httplib::Client client("127.0.0.1", server.port());
    os::testing::patient(client);
    auto answer = client.Post(QQConnectService::kAnalyticsPath, httplib::Headers{{"Content-Encoding", "rc4,gzip"}},
                              std::string(body.begin(), body.end()), "application/octet-stream");
    return answer ? answer->status : -1;
  };
  EXPECT_EQ(post(QQConnectService::kUploadLimit), 200);
  EXPECT_EQ(post(QQConnectService::kUploadLimit + 1), 400);
}

// Shares whose every field is near the limit fill the byte bound long before the count bound.
TEST_F(QQConnectBoundTest, SharesOfLargeFieldsKeepTheNewestWithinTheByteBound) {
  const auto grant = signIn();
  ASSERT_FALSE(grant.first.empty());
  const std::string large(QQConnectService::kFieldLimit - 16, 'x');
  const int total = 400;
  for (int i = 0; i < total; ++i) {
    auto answer = addShare(grant, {{"title", std::to_string(i) + large},
                                   {"url", "http://news.example/" + std::to_string(i)},
                                   {"summary", large},
                                   {"comment", large},
                                   {"site", large},
                                   {"fromurl", large}});
    ASSERT_TRUE(answer);
    ASSERT_EQ(object(answer->body)["ret"].intValue(), 0);
  }
  const auto shares = server.service().shares();
  ASSERT_FALSE(shares.empty());
  std::size_t bytes = 0;
  for (const auto& share : shares) {
    bytes += share.title.size() + share.url.size();
    for (const auto& [name, value] : share.parameters) bytes += name.size() + value.size();
  }
  EXPECT_LE(bytes, tools::kRecordByteLimit);
  EXPECT_EQ(shares.back().title, std::to_string(total - 1) + large);
  std::size_t logBytes = 0;
  for (const auto& line : server.service().log()) logBytes += line.size();
  EXPECT_LE(logBytes, tools::kRecordByteLimit);
  EXPECT_LE(server.service().keptBytes(), 2 * tools::kRecordByteLimit);
}

TEST_F(QQConnectBoundTest, ATokenPastItsLifetimeIsRefused) {
  const auto first = signIn();
  os::Clock::advance(QQConnectService::kTokenLifetime / 2);
  const auto second = signIn();
  EXPECT_EQ(userInfoRet(first), 0);
  os::Clock::advance(QQConnectService::kTokenLifetime / 2 + 60);
  EXPECT_EQ(userInfoRet(first), QQConnectService::kRetTokenInvalid);
  EXPECT_EQ(userInfoRet(second), 0);
  os::Clock::advance(QQConnectService::kTokenLifetime);
  EXPECT_EQ(userInfoRet(second), QQConnectService::kRetTokenInvalid);
}

// The clock set back a day between two sign-ins: the later token ends a day before the earlier
// one, and is refused from then on, by every operation, though the earlier one still holds.
TEST_F(QQConnectBoundTest, ATokenIsRefusedPastItsOwnLifetimeWhateverTheClockDid) {
  const auto earlier = signIn();
  ASSERT_FALSE(earlier.first.empty());
  os::Clock::useVirtual(os::Clock::now() - 86400);
  const auto later = signIn();
  ASSERT_FALSE(later.first.empty());
  os::Clock::advance(QQConnectService::kTokenLifetime + 86400 / 2);
  EXPECT_EQ(userInfoRet(later), QQConnectService::kRetTokenInvalid);
  httplib::Client client("127.0.0.1", server.port());
  os::testing::patient(client);
  auto openId = client.Get((std::string(QQConnectService::kOpenIdPath) + "?access_token=" + later.first).c_str());
  ASSERT_TRUE(openId);
  EXPECT_NE(openId->body.find("\"error\""), std::string::npos) << openId->body;
  EXPECT_EQ(userInfoRet(earlier), 0);
  os::Clock::advance(86400);
  EXPECT_EQ(userInfoRet(earlier), QQConnectService::kRetTokenInvalid);
}

// Another client signs in again and again with the largest fields a form may carry: a token the
// reader was granted before lives on, as it would beside as many small sign-ins. An application
// id longer than any application's is refused; a long scope is kept with the record of grants,
// not with the live token.
TEST_F(QQConnectBoundTest, SignInsWithLargeFieldsLeaveEarlierTokensTheirLifetime) {
  const auto mine = signIn();
  ASSERT_FALSE(mine.first.empty());
  const std::string scope = "get_user_info," + std::string(QQConnectService::kFieldLimit - 100, 's');
  const std::string longApp(QQConnectService::kFieldLimit - 100, '7');
  httplib::Client other("127.0.0.1", server.port());
  os::testing::patient(other);
  other.set_keep_alive(true);
  // Every field a part, each within the form limit.
  auto signInAs = [&](const std::string& app) {
    return other.Post(QQConnectService::kAuthorizePath,
                      httplib::MultipartFormDataItems{{"response_type", "token", "", ""},
                                                      {"client_id", app, "", ""},
                                                      {"redirect_uri", "auth://x", "", ""},
                                                      {"scope", scope, "", ""},
                                                      {"username", QQConnectService::kTestAccount, "", ""},
                                                      {"password", QQConnectService::kTestPassword, "", ""}});
  };
  std::string last;
  int refused = 0;
  for (int i = 0; i < 2200; ++i) {
    if (i < 1100) {
      auto longer = signInAs(longApp);
      ASSERT_TRUE(longer);
      refused += longer->status == 400;
    }
    auto granted = signInAs(kApp);
    ASSERT_TRUE(granted);
    ASSERT_EQ(granted->status, 302) << i;
    last = fragmentOf(granted->get_header_value("Location"))["access_token"];
  }
  EXPECT_EQ(refused, 1100);
  EXPECT_EQ(userInfoRet(mine), 0);
  EXPECT_EQ(userInfoRet({last, mine.second}), 0);
  EXPECT_EQ(server.service().grants().back().scope, scope);
  EXPECT_LE(server.service().keptBytes(), 3 * tools::kRecordByteLimit);
}

// Sign-in after sign-in within a token's lifetime, each with a kilobyte of scope: the live tokens
// stay within their bounds, the oldest going first.
TEST_F(QQConnectBoundTest, SignInsWithinTheLifetimeKeepTheNewestTokensWithinTheirBounds) {
  const std::string scope = "get_user_info," + std::string(1000, 's');
  const auto first = signIn(scope);
  ASSERT_FALSE(first.first.empty());
  auto& service = server.service();
  std::multimap<std::string, std::string> form{{"response_type", "token"},   {"client_id", kApp},
                                               {"redirect_uri", "auth://x"}, {"scope", scope},
                                               {"username", QQConnectService::kTestAccount},
                                               {"password", QQConnectService::kTestPassword}};
  for (std::size_t i = 0; i < QQConnectService::kTokenLimit + 10; ++i)
    ASSERT_EQ(service.handle(ServiceRequest{"POST", QQConnectService::kAuthorizePath, form, "", "", ""}).status, 302);
  const auto last = signIn(scope);
  EXPECT_EQ(userInfoRet(first), QQConnectService::kRetTokenInvalid);
  EXPECT_EQ(userInfoRet(last), 0);
  EXPECT_LE(service.keptBytes(), 3 * tools::kRecordByteLimit);
}

}  // namespace
}  // namespace qqconnectd
