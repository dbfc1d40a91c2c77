// Requests written out by hand as the protocol gives them, not as any client builds them: the base
// query "mac=...&sharedudid=...&pcv=2.0&en=...&de=...&os=...&dt=...&tp=...&ak=..." with the action's
// pairs appended, the title of the bar request last and raw; JSON bodies under "ud_post"; the cipher
// (AES-128-CBC, the key the first 16 of the application key's upper-case MD5 digits, the vector
// "qxvdk.w4/Tz+R591", 1 to 16 zero bytes of padding, standard Base64) and the escaping worked out
// here on their own.
#include <gtest/gtest.h>
#include <httplib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "os/core/DetachedValue.h"
#include "os/core/String.h"
#include "os/crypto/Cipher.h"
#include "os/crypto/Digest.h"
#include "os/testing/RawHttpClient.h"
#include "tools/sharingd/server/SharingServer.h"
#include "tools/sharingd/server/SharingWire.h"

namespace sharingd {
namespace {

constexpr const char* kAppKey = "5a1d3c0b9e8f47261c0d2e3f";
constexpr const char* kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string base64(const os::Data& bytes) {
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
    unsigned group = 0;
    for (std::size_t k = 0; k < 3; ++k) group = group << 8 | (k < n ? bytes[i + k] : 0u);
    for (std::size_t k = 0; k < 4; ++k) out += k <= n ? kAlphabet[group >> (18 - 6 * k) & 63] : '=';
  }
  return out;
}

os::Data unbase64(const std::string& text) {
  os::Data out;
  unsigned group = 0;
  int bits = 0;
  for (char c : text) {
    if (c == '=') break;
    group = group << 6 | static_cast<unsigned>(std::string_view(kAlphabet).find(c));
    if ((bits += 6) >= 8) out.push_back(static_cast<std::uint8_t>(group >> (bits -= 8) & 0xFF));
  }
  return out;
}

os::Data keyOf(const std::string& appKey) {
  std::string digits = os::md5Hex(appKey);
  for (char& c : digits) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return os::Data(digits.begin(), digits.begin() + 16);
}

std::string encipherByHand(const std::string& text, const std::string& appKey = kAppKey) {
  os::Data bytes(text.begin(), text.end());
  bytes.resize(bytes.size() + 16 - bytes.size() % 16, 0);
  auto cipher =
      os::aes128CBCEncrypt(bytes, keyOf(appKey), os::dataFromString("qxvdk.w4/Tz+R591"), os::CipherPadding::None);
  return cipher ? base64(*cipher) : "";
}

std::string decipherByHand(const std::string& text, const std::string& appKey = kAppKey) {
  auto plain = os::aes128CBCDecrypt(unbase64(text), keyOf(appKey), os::dataFromString("qxvdk.w4/Tz+R591"),
                                    os::CipherPadding::None);
  if (!plain) return "";
  std::string out(plain->begin(), plain->end());
  return out.substr(0, out.find('\0'));
}

// Every byte but A-Z a-z 0-9 - . _ ~ as "%" and two upper-case hexadecimal digits.
std::string escapeByHand(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      char escape[4];
      std::snprintf(escape, sizeof escape, "%%%02X", c);
      out += escape;
    }
  }
  return out;
}

std::string baseQuery(const std::string& dt = "1700000000000") {
  return "mac=&sharedudid=dev-1&pcv=2.0&en=WiFi&de=x86_64&os=iOS&dt=" + dt + "&tp=0&ak=" + kAppKey + "&sdkv=4.1";
}

std::string baseJSON() {
  return std::string("\"mac\":\"\",\"sharedudid\":\"dev-1\",\"sdkv\":\"4.1\",\"pcv\":\"2.0\",\"en\":\"WiFi\",") +
         "\"de\":\"x86_64\",\"os\":\"iOS\",\"dt\":\"1700000000000\",\"tp\":\"0\",\"ak\":\"" + kAppKey + "\"";
}

// The "st", "msg" and "data" of an answer, deciphered by hand.
os::Dictionary answerOf(const httplib::Result& result) {
  if (!result || result->status != 200) return {};
  return parseJSONObject(decipherByHand(result->body)).value_or(os::Dictionary{});
}

class SharingRequestTest : public ::testing::Test {
 protected:
  void SetUp() override { start(); }
  void TearDown() override {
    if (server_) server_->stop();
    std::remove(statePath_.c_str());
  }

  void start(bool keepState = false) {
    if (server_) server_->stop();
    server_ = std::make_unique<SharingServer>(ServerOptions{});
    if (keepState) {
      ASSERT_TRUE(server_->service().keepStateIn(statePath_));
    }
    auto port = server_->start();
    ASSERT_TRUE(port);
    client_ = std::make_unique<httplib::Client>("127.0.0.1", *port);
    os::testing::patient(*client_);
    client_->set_url_encode(false);
  }

  httplib::Result get(const std::string& path, const std::string& query) {
    return client_->Get(path + "?ud_get=" + escapeByHand(encipherByHand(query)));
  }
  httplib::Result post(const std::string& path, const std::string& json) {
    return client_->Post(path, "ud_post=" + escapeByHand(encipherByHand(json)), "application/x-www-form-urlencoded");
  }

  std::string statePath_ = ::testing::TempDir() + "sharingd-request-state-" + std::to_string(::getpid());
  std::unique_ptr<SharingServer> server_;
  std::unique_ptr<httplib::Client> client_;
};

// The title is appended last and as it is: everything after "&name=" is the title, "&", "=",
// "+", "%", "#", "?" and a second "&name=" included.
TEST_F(SharingRequestTest, TheBarRequestsTitleIsReadToTheEndOfTheQueryExactly) {
  const std::string title = "A&B=C+D% 50% 中文 ?#&name=x";
  // A time stamp whose cipher holds "+" and "/", so both arrive escaped.
  std::string query, cipher;
  for (int i = 0; cipher.find('+') == std::string::npos || cipher.find('/') == std::string::npos; ++i) {
    query = baseQuery(std::to_string(1700000000000LL + i)) + "&dc=news%2F1&ni=0&opid=1&name=" + title;
    cipher = encipherByHand(query);
  }
  auto answer = answerOf(client_->Get(std::string("/bar/get/") + kAppKey + "/?ud_get=" + escapeByHand(cipher)));
  EXPECT_EQ(answer["st"].intValue(), 200);
  EXPECT_FALSE(answer["data"]["ek"].stringOr().empty());
  ASSERT_EQ(server_->requests().size(), 1u);
  const os::Dictionary read = server_->requests()[0].parameters;
  EXPECT_EQ(read["name"].stringOr(), title);
  EXPECT_EQ(read["dc"].stringOr(), "news/1");
  EXPECT_EQ(read["opid"].stringOr(), "1");
  EXPECT_EQ(read["pcv"].stringOr(), "2.0");
  EXPECT_EQ(read["mac"].stringOr(), "");

  // A title holding what an escaper would write stays as it was typed.
  server_->clearRequests();
  get(std::string("/bar/get/") + kAppKey + "/", baseQuery() + "&dc=news%2F1&ni=0&opid=1&name=50%25 %26 more");
  ASSERT_EQ(server_->requests().size(), 1u);
  EXPECT_EQ(server_->requests()[0].parameters["name"].stringOr(), "50%25 %26 more");
}

TEST(SharingWireTest, QueryValuesStandAsTheyAreAndOnlyTheEscapedDescriptorIsTaken) {
  auto read = parseEncipheredQuery(baseQuery() + "&x=%41+b&platforms=sina,qq&dc=news%2F1%20%E5%86%9B&ni=0&opid=1");
  EXPECT_EQ(read["x"].stringOr(), "%41+b");
  EXPECT_EQ(read["platforms"].stringOr(), "sina,qq");
  EXPECT_EQ(read["dc"].stringOr(), "news/1 军");
  EXPECT_FALSE(read["name"].isString());
  // The descriptor arrives escaped, letters, digits, "-", "." and "_" as they are, every other
  // byte as upper-case "%XX"; any other form is not taken.
  for (const char* other : {"news/1", "a~b", "%zz", "news%2f1", "%41bc", "a b"})
    EXPECT_FALSE(parseEncipheredQuery(std::string("dc=") + other + "&opid=1")["dc"].isString()) << other;
  EXPECT_EQ(parseEncipheredQuery("dc=a-b.c_d%7E&opid=1")["dc"].stringOr(), "a-b.c_d~");
}

// The cipher under "ud_get" arrives escaped: "+", "/" and "=" as %2B, %2F and %3D. A raw cipher,
// lower-case escapes, an escaped letter or more pairs beside it are not the request's form.
TEST_F(SharingRequestTest, OnlyTheEscapedCipherIsTakenAsTheQuery) {
  std::string query, cipher;
  for (int i = 0; cipher.find('+') == std::string::npos || cipher.find('/') == std::string::npos; ++i) {
    query = baseQuery(std::to_string(1700000000000LL + i));
    cipher = encipherByHand(query);
  }
  ASSERT_TRUE(cipher.ends_with("="));
  const std::string path = std::string("/share/keysecret/") + kAppKey + "/";
  const std::string escaped = escapeByHand(cipher);
  EXPECT_EQ(answerOf(client_->Get(path + "?ud_get=" + escaped))["st"].intValue(), 200);

  std::string lower = escaped;
  for (std::size_t at = lower.find('%'); at != std::string::npos; at = lower.find('%', at + 1))
    for (std::size_t k = at + 1; k <= at + 2; ++k) lower[k] = static_cast<char>(std::tolower(lower[k]));
  const std::size_t letter = cipher.find_first_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  const std::string letterEscaped = escapeByHand(cipher.substr(0, letter)) + os::format("%%%02X", cipher[letter]) +
                                    escapeByHand(cipher.substr(letter + 1));
  for (const std::string& other :
       {path + "?ud_get=" + cipher, path + "?ud_get=" + lower, path + "?ud_get=" + letterEscaped,
        path + "?ud_get=" + escaped + "&x=1", path + "?x=1&ud_get=" + escaped, path}) {
    auto answer = answerOf(client_->Get(other));
    EXPECT_EQ(answer["st"].intValue(), kStatusBadParameters) << other;
  }
}

// The segments the client fills into a path (application key, entity key, user id, usid) arrive
// escaped like the cipher; a segment in any other form names no action.
TEST_F(SharingRequestTest, PathSegmentsArriveEscapedAndAreReadUnescaped) {
  const std::string usid = "a+b/c 张";
  server_->service().setAccount(kAppKey, "u9", "sina",
                                os::Dictionary{{"usid", os::Value(usid)}, {"username", os::Value("某人")}});
  const std::string path = std::string("/share/userinfo/") + escapeByHand(kAppKey) + "/" + escapeByHand(usid) + "/";
  auto answer = answerOf(get(path, baseQuery() + "&sns=sina&opid=12"));
  EXPECT_EQ(answer["st"].intValue(), 200);
  EXPECT_EQ(answer["data"]["username"].stringOr(), "某人");
  ASSERT_EQ(server_->requests().size(), 1u);
  EXPECT_EQ(server_->requests()[0].pathArguments, (std::vector<std::string>{usid}));
  EXPECT_EQ(server_->requests()[0].appKey, kAppKey);

  for (const std::string& raw : {std::string("a+b"), std::string("a%2bb"), std::string("%61b")}) {
    auto refused = get(std::string("/share/userinfo/") + kAppKey + "/" + raw + "/", baseQuery() + "&sns=sina&opid=12");
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 404) << raw;
  }
  EXPECT_EQ(server_->requests().size(), 1u);
}

// A service left running keeps only its newest requests, and each answer still marks its own.
TEST_F(SharingRequestTest, TheRequestLogKeepsTheNewestAndMarksEachAnswerOnItsOwnEntry) {
  server_->service().setAccount(kAppKey, "u9", "sina", os::Dictionary{{"usid", os::Value("u")}});
  client_->set_keep_alive(true);
  const std::string path = std::string("/share/userinfo/") + kAppKey + "/u/";
  const std::size_t total = SharingServer::kRequestLimit + 3;
  std::int64_t heard = 0;
  for (std::size_t i = 0; i < total; ++i) {
    auto answer = get(path, baseQuery() + "&sns=sina&opid=" + std::to_string(i));
    ASSERT_TRUE(answer);
    ASSERT_EQ(answer->status, 200);
    if (i + 1 == total) heard = answerOf(answer)["st"].intValue();
  }
  ASSERT_NE(heard, 0);
  // The newest of them, as many as the count bound and the bytes they really hold allow.
  const auto logged = server_->requests();
  ASSERT_LE(logged.size(), SharingServer::kRequestLimit);
  ASSERT_GT(logged.size(), SharingServer::kRequestLimit / 2);
  EXPECT_EQ(logged.front().parameters["opid"].stringOr(), std::to_string(total - logged.size()));
  EXPECT_EQ(logged.back().parameters["opid"].stringOr(), std::to_string(total - 1));
  EXPECT_EQ(logged.front().st, heard);
  EXPECT_EQ(logged.back().st, heard);
}

// Bodies of some megabytes each: the log keeps the newest requests within its byte bound, long
// before its count bound.
TEST_F(SharingRequestTest, TheRequestLogKeepsTheNewestOfLargeBodiesWithinItsByteBound) {
  client_->set_keep_alive(true);
  const std::string path = std::string("/share/add/") + kAppKey + "/u/";
  const std::string large(3u << 20, 'c');
  const int total = 10;
  for (int i = 0; i < total; ++i) {
    auto answer = post(path, "{" + baseJSON() + ",\"sns\":\"sina\",\"content\":\"" + std::to_string(i) + large + "\"}");
    ASSERT_TRUE(answer);
    ASSERT_EQ(answer->status, 200);
  }
  const auto logged = server_->requests();
  ASSERT_FALSE(logged.empty());
  std::size_t contents = 0;
  for (const auto& request : logged) contents += request.parameters["content"].stringOr().size();
  EXPECT_LE(contents, tools::kRecordByteLimit);
  EXPECT_EQ(logged.back().parameters["content"].stringOr(), std::to_string(total - 1) + large);
  EXPECT_LE(server_->requestBytes(), tools::kRecordByteLimit);
}

// Operation reports are only taken note of: a reader sending large ones for weeks leaves the
// newest within the byte bound.
TEST_F(SharingRequestTest, OperationReportsKeepTheNewestWithinTheByteBound) {
  client_->set_keep_alive(true);
  const std::string path = std::string("/app/oper/") + kAppKey;
  const std::string large(3u << 20, 'r');
  const int total = 10;
  for (int i = 0; i < total; ++i) {
    const std::string param = "{\\\"n\\\":\\\"" + std::to_string(i) + large + "\\\"}";
    auto answer = post(path, "{\"param\":\"" + param + "\"}");
    ASSERT_TRUE(answer);
    ASSERT_EQ(answerOf(answer)["st"].intValue(), 200);
  }
  const auto reports = server_->service().operationReports(kAppKey);
  ASSERT_FALSE(reports.empty());
  std::size_t bytes = 0;
  for (const auto& report : reports) bytes += report["n"].stringOr().size();
  EXPECT_LE(bytes, tools::kRecordByteLimit);
  EXPECT_EQ(reports.back()["n"].stringOr(), std::to_string(total - 1) + large);
}

// A peer comments on a share bar, each comment as long as a body allows: what the service keeps
// stays within its bound, the comments past it refused; letting go of a binding is still answered.
TEST_F(SharingRequestTest, CommentsPastTheStateBoundAreRefused) {
  client_->set_keep_alive(true);
  auto bar = answerOf(get(std::string("/bar/get/") + kAppKey + "/", baseQuery() + "&dc=news%2F1&ni=0&opid=1&name=n"));
  const std::string entity = bar["data"]["ek"].stringOr();
  ASSERT_FALSE(entity.empty());
  const std::string path = std::string("/comment/add/") + kAppKey + "/" + entity;
  const std::string large(3u << 20, 'c');
  int taken = 0, full = 0;
  const int total = 7;
  for (int i = 0; i < total; ++i) {
    auto answer = post(path, "{" + baseJSON() + ",\"opid\":\"5\",\"ct\":\"" + std::to_string(i) + large + "\"}");
    ASSERT_TRUE(answer);
    const long long st = answerOf(answer)["st"].intValue();
    taken += st == 200;
    full += st == kStatusServiceFull;
  }
  EXPECT_GT(full, 0);
  EXPECT_EQ(taken + full, total);
  EXPECT_LE(server_->service().keptBytes(), SharingService::kStateByteLimit + SharingServer::kMaxPayload);
  EXPECT_EQ(server_->service().comments(kAppKey, entity).size(), static_cast<std::size_t>(taken));
  auto unbound = post(std::string("/comment/unbinding/") + kAppKey, "{" + baseJSON() + ",\"opid\":\"16\"}");
  EXPECT_EQ(answerOf(unbound)["st"].intValue(), 200);
}

// What the service keeps long of a request (its log entry, a comment) is its own copy, not the
// blocks the request's body was read into, which would each stay alive for a few bytes of it.
TEST_F(SharingRequestTest, WhatIsKeptOfARequestHoldsItsOwnStorage) {
  auto bar = answerOf(get(std::string("/bar/get/") + kAppKey + "/", baseQuery() + "&dc=news%2F1&ni=0&opid=1&name=n"));
  const std::string entity = bar["data"]["ek"].stringOr();
  ASSERT_FALSE(entity.empty());
  auto answer = post(std::string("/comment/add/") + kAppKey + "/" + entity,
                     "{" + baseJSON() + R"(,"opid":"5","ct":"a comment long enough to stand outside its string","lc":"Beijing and around it","tpt":"a topic of some length"})");
  ASSERT_EQ(answerOf(answer)["st"].intValue(), 200);
  const auto logged = server_->requests();
  ASSERT_FALSE(logged.empty());
  for (const auto& [key, value] : logged.back().parameters) EXPECT_FALSE(os::inSharedBlock(value)) << key;
  const auto comments = server_->service().comments(kAppKey, entity);
  ASSERT_EQ(comments.size(), 1u);
  EXPECT_EQ(comments[0]["tpt"].stringOr(), "a topic of some length");
  for (const auto& [key, value] : comments[0]) EXPECT_FALSE(os::inSharedBlock(value)) << key;
}

// A peer names application after application, each enciphering with its own key: the service
// keeps no more of them than its bound (each one more is one more key every request that does not
// decipher is tried under), and the applications it knows are served as before.
TEST_F(SharingRequestTest, ApplicationsPastTheirBoundAreRefused) {
  client_->set_keep_alive(true);
  auto bar = [&](const std::string& appKey) {
    std::string query = baseQuery() + "&dc=news%2F1&ni=0&opid=1&name=n";
    query.replace(query.find(kAppKey), std::string(kAppKey).size(), appKey);
    auto answer = client_->Get("/bar/get/" + appKey + "/?ud_get=" + escapeByHand(encipherByHand(query, appKey)));
    if (!answer || answer->status != 200) return -1LL;
    return parseJSONObject(decipherByHand(answer->body, appKey)).value_or(os::Dictionary{})["st"].intValue();
  };
  std::size_t taken = 0;
  long long st = 200;
  for (int i = 0; st == 200 && taken <= SharingService::kAppLimit; ++i) {
    st = bar("app" + std::to_string(i));
    taken += st == 200;
  }
  EXPECT_EQ(st, kStatusServiceFull);
  EXPECT_EQ(taken, SharingService::kAppLimit);
  EXPECT_EQ(server_->service().appKeys().size(), SharingService::kAppLimit);
  EXPECT_EQ(bar("app0"), 200);
}

// A body in parts, with its length given or sent in chunks with none for the HTTP layer to check
// first: its fields are held to the payload bound all the same, while the picture beside them,
// read through and never kept, may be as large as a photo the reader encodes.
TEST_F(SharingRequestTest, TheFieldsOfABodyInPartsAreHeldToThePayloadBoundAndNotThePicture) {
  const std::string boundary = "sharingboundary42";
  const std::string path = std::string("/share/add/") + kAppKey + "/u/";
  const std::string cipher = encipherByHand("{" + baseJSON() + ",\"sns\":\"sina\",\"content\":\"c\"}");
  const std::string contentType = "multipart/form-data; boundary=" + boundary;
  for (const bool chunked : {false, true}) {
    SCOPED_TRACE(chunked ? "in chunks" : "with its length");
    server_->clearRequests();
    auto share = [&](const std::string& field, const std::string& picture) {
      std::string body = "--" + boundary + "\r\nContent-Disposition: form-data; name=\"ud_post\"\r\n\r\n" + cipher +
                         "\r\n--" + boundary + "\r\nContent-Disposition: form-data; name=\"more\"\r\n\r\n" + field +
                         "\r\n--" + boundary +
                         "\r\nContent-Disposition: form-data; name=\"pic\"; filename=\"p.jpg\"\r\n"
                         "Content-Type: image/jpeg\r\n\r\n" + picture + "\r\n--" + boundary + "--\r\n";
      return chunked ? client_->Post(path, os::testing::inChunks(std::move(body)), contentType)
                     : client_->Post(path, body, contentType);
    };
    auto within = share("m", std::string(3 * SharingServer::kMaxPayload, 'p'));
    ASSERT_TRUE(within);
    EXPECT_EQ(within->status, 200);
    ASSERT_EQ(server_->requests().size(), 1u);
    EXPECT_TRUE(server_->requests().back().hasPicture);

    auto past = share(std::string(SharingServer::kMaxPayload + 1, 'm'), "p");
    ASSERT_TRUE(past);
    EXPECT_EQ(past->status, 413);
    EXPECT_EQ(server_->requests().size(), 1u);
  }
}

// Fields and parts are counted with what each costs to keep, not their bytes alone: a plain form
// of empty fields, or a body of parts with short names each its own, within the byte bound is
// refused rather than split into fields by the million; a share with a few fields is served.
TEST_F(SharingRequestTest, FieldsAndPartsAreCountedWithWhatEachCostsToKeep) {
  const std::string path = std::string("/share/add/") + kAppKey + "/u/";
  const std::string boundary = "b";
  std::string parts;
  for (std::size_t i = 0; parts.size() < SharingServer::kMaxPayload / 2; ++i)
    parts += "--b\r\nContent-Disposition: form-data; name=\"" + std::to_string(i) + "\"\r\n\r\n\r\n";
  parts += "--b--\r\n";
  for (const bool chunked : {false, true}) {
    SCOPED_TRACE(chunked ? "in chunks" : "with its length");
    server_->clearRequests();
    const std::string form(SharingServer::kMaxPayload / 2, '&');
    auto empty = chunked ? client_->Post(path, os::testing::inChunks(form), "application/x-www-form-urlencoded")
                         : client_->Post(path, form, "application/x-www-form-urlencoded");
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->status, 413);
    auto many = chunked ? client_->Post(path, os::testing::inChunks(parts), "multipart/form-data; boundary=" + boundary)
                        : client_->Post(path, parts, "multipart/form-data; boundary=" + boundary);
    ASSERT_TRUE(many);
    EXPECT_EQ(many->status, 413);
    EXPECT_TRUE(server_->requests().empty());

    const std::string cipher = encipherByHand("{" + baseJSON() + ",\"sns\":\"sina\",\"content\":\"c\"}");
    const std::string few = "ud_post=" + escapeByHand(cipher) + "&more=" + std::string(1 << 20, 'm');
    auto served = chunked ? client_->Post(path, os::testing::inChunks(few), "application/x-www-form-urlencoded")
                          : client_->Post(path, few, "application/x-www-form-urlencoded");
    ASSERT_TRUE(served);
    EXPECT_EQ(served->status, 200);
    EXPECT_EQ(server_->requests().size(), 1u);
  }
}

// A picture sent in chunks, with no length for anyone to check first, is counted as its bytes
// arrive: past the picture bound the share is refused and the rest of the picture is never kept
// (read past only for as long as a client sending on before it reads needs to hear the refusal).
TEST_F(SharingRequestTest, APictureInChunksIsHeldToThePictureBound) {
  const std::string boundary = "sharingboundary42";
  const std::string cipher = encipherByHand("{" + baseJSON() + ",\"sns\":\"sina\",\"content\":\"c\"}");
  const std::string start = "--" + boundary + "\r\nContent-Disposition: form-data; name=\"ud_post\"\r\n\r\n" + cipher +
                            "\r\n--" + boundary +
                            "\r\nContent-Disposition: form-data; name=\"pic\"; filename=\"p.jpg\"\r\n"
                            "Content-Type: image/jpeg\r\n\r\n";
  // Chunks of a picture's bytes, on and on: the first carries the parts before the picture.
  const std::string block = "10000\r\n" + std::string(0x10000, 'p') + "\r\n";
  const std::string first = [&] {
    char size[32];
    std::snprintf(size, sizeof size, "%zx\r\n", start.size());
    return size + start + "\r\n";
  }();
  const std::uint64_t sending = first.size() + 4 * SharingServer::kMaxPictureUpload / 0x10000 * block.size();
  const int fd = os::testing::connectTo("127.0.0.1", server_->port());
  ASSERT_GE(fd, 0);
  const auto result = os::testing::answerWhileSending(
      fd,
      std::string("POST /share/add/") + kAppKey + "/u/ HTTP/1.1\r\nHost: 127.0.0.1\r\nTransfer-Encoding: chunked\r\n"
          "Content-Type: multipart/form-data; boundary=" + boundary + "\r\n\r\n",
      sending, [&](std::uint64_t at) {
        return at < first.size() ? first.substr(at) : block.substr((at - first.size()) % block.size());
      });
  ::close(fd);
  EXPECT_EQ(result.answer.rfind("HTTP/1.1 413", 0), 0u) << result.answer.substr(0, 64);
  EXPECT_LT(result.sent, sending * 3 / 4) << "the server read on past the picture bound";
  EXPECT_TRUE(server_->requests().empty());
}

// A body whose chunks or parts break their framing is unreadable, which is no body too large.
TEST_F(SharingRequestTest, ABodyBrokenInItsFramingIsUnreadableNotTooLarge) {
  const std::string path = std::string("/share/add/") + kAppKey + "/u/";
  const std::string chunked = "POST " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
                              "Content-Type: application/x-www-form-urlencoded\r\nTransfer-Encoding: chunked\r\n\r\n"
                              "5\r\nud_post=x\r\n0\r\n\r\n";
  const std::string parts = "--b\r\nContent-Disposition: form-data; name=\"ud_post\"\r\n\r\nabc\r\n--b";
  const std::string multipart = "POST " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
                                "Content-Type: multipart/form-data; boundary=b\r\nContent-Length: " +
                                std::to_string(parts.size()) + "\r\n\r\n" + parts;
  for (const auto& request : {chunked, multipart}) {
    const int fd = os::testing::connectTo("127.0.0.1", server_->port());
    ASSERT_GE(fd, 0);
    const std::string answer = os::testing::answerToClose(fd, request);
    ::close(fd);
    EXPECT_EQ(answer.rfind("HTTP/1.1 400", 0), 0u) << answer.substr(0, 64);
  }
  EXPECT_TRUE(server_->requests().empty());
}

// The application's platform keys (posted with its secret, the application key backwards) are
// kept with the users: after a restart on the same state file the application information
// still answers them and the QQ token check still asks for them.
TEST_F(SharingRequestTest, PostedPlatformKeysOutliveARestartOnTheSameStateFile) {
  std::remove(statePath_.c_str());
  start(true);
  std::string secret(kAppKey);
  std::reverse(secret.begin(), secret.end());
  auto posted =
      answerOf(post(std::string("/share/keysecret/") + kAppKey + "/",
                    "{" + baseJSON() + ",\"qzone_key\":\"100424468\",\"qzone_secret\":\"qqkey\",\"ombra_secret\":\"" +
                        secret + "\"}"));
  ASSERT_EQ(posted["st"].intValue(), 200);
  struct stat info {};
  ASSERT_EQ(::stat(statePath_.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  start(true);
  auto keys = answerOf(get(std::string("/share/keysecret/") + kAppKey + "/", baseQuery()));
  ASSERT_EQ(keys["st"].intValue(), 200);
  EXPECT_EQ(keys["data"]["qzone"]["key"].stringOr(), "100424468");
  EXPECT_EQ(keys["data"]["qzone"]["secret"].stringOr(), "qqkey");
  // Only what the handlers read: platform name -> {"key", "secret"}.
  EXPECT_EQ(keys["data"].dictionary()->size(), 1u);

  const std::string token = std::string("/share/token/") + kAppKey + "/";
  const std::string account =
      "{" + baseJSON() + ",\"to\":\"qzone\",\"access_token\":\"t\",\"usid\":\"o2\",\"openid\":\"o2\"";
  EXPECT_EQ(answerOf(post(token, account + "}"))["st"].intValue(), kStatusBadParameters);
  EXPECT_EQ(answerOf(post(token, account + ",\"app_id\":\"1\",\"app_secret\":\"qqkey\"}"))["st"].intValue(),
            kStatusBadParameters);
  EXPECT_EQ(answerOf(post(token, account + ",\"app_id\":\"100424468\",\"app_secret\":\"qqkey\"}"))["st"].intValue(),
            200);
}

std::string contentsOf(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// A damaged state file is refused with a reason, and neither read nor written over: the users it
// may still hold are not lost to an empty state.
TEST(SharingStateFileTest, ADamagedStateFileIsRefusedAndLeftAsItIs) {
  const std::string path = ::testing::TempDir() + "sharingd-damaged-" + std::to_string(::getpid());
  for (const std::string& damaged :
       {std::string("{\"app\":[1,"), std::string("[1]"), std::string(""), std::string("{\"app\":[1]}"),
        std::string("{\"app\":{\"devices\":[\"u1\"]}}"), std::string("{\"app\":{\"app_info\":\"k\"}}")}) {
    {
      std::ofstream out(path, std::ios::trunc);
      out << damaged;
    }
    SharingService service;
    std::string error;
    EXPECT_FALSE(service.keepStateIn(path, &error)) << damaged;
    EXPECT_NE(error.find(path), std::string::npos) << error;
    EXPECT_NE(error.find("damaged"), std::string::npos) << error;
    service.setAccount("app", "u1", "sina", os::Dictionary{{"usid", os::Value("1")}});
    EXPECT_EQ(contentsOf(path), damaged);
  }
  std::remove(path.c_str());

  // No file yet: a first run, the file is made at the first change.
  SharingService first;
  ASSERT_TRUE(first.keepStateIn(path));
  first.setAccount("app", "u1", "sina", os::Dictionary{{"usid", os::Value("1")}});
  SharingService again;
  ASSERT_TRUE(again.keepStateIn(path));
  EXPECT_TRUE(again.account("app", "u1", "sina"));
  std::remove(path.c_str());
}

// A HEAD of an action a GET takes is answered as that GET, its body left out: not as an action
// that does not exist.
TEST_F(SharingRequestTest, AHeadOfAGetActionIsAnsweredAsTheGet) {
  const std::string path = std::string("/bar/get/") + kAppKey + "/?ud_get=" +
                           escapeByHand(encipherByHand(baseQuery("1700000000000") + "&dc=news%2F1&ni=0&opid=1&name=t"));
  auto get = client_->Get(path);
  auto head = client_->Head(path);
  ASSERT_TRUE(get);
  ASSERT_TRUE(head);
  EXPECT_EQ(head->status, 200);
  EXPECT_EQ(head->status, get->status);
  EXPECT_EQ(head->get_header_value("Content-Length"), std::to_string(get->body.size()));
  EXPECT_TRUE(head->body.empty());
}

}  // namespace
}  // namespace sharingd
