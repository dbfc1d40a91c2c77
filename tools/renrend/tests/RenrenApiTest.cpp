// The local Renren API checked against the platform's forms, not against our client: the MAC over
// the seven lines (time stamp, nonce, method, path and query, host, the port always "80", an
// empty extension), with the signatures below worked out independently of this code base; the
// bearer token over https only; the call table's paths and methods; and the answer forms
// {"response": ...} and {"error": {"code": ..., "message": ...}}.
#include <gtest/gtest.h>

#include "foundation/formats/JSONDecoder.h"
#include "os/core/String.h"
#include "os/runtime/Clock.h"
#include "tools/renrend/server/RenrenApi.h"

namespace renrend {
namespace {

os::Dictionary object(const std::string& text) {
  auto value = JSONDecoder::decoder()->objectWithUTF8String(text.data(), text.size());
  return value && value->dictionary() ? *value->dictionary() : os::Dictionary{};
}

ApiRequest call(std::string method, std::string path, std::string rawQuery, std::string authorization,
                std::string host = "127.0.0.1:8080", bool secure = false) {
  ApiRequest r;
  r.method = std::move(method);
  r.path = std::move(path);
  r.rawQuery = rawQuery;
  for (const auto& pair : os::split(rawQuery, "&")) {
    if (pair.empty()) continue;
    const auto eq = pair.find('=');
    r.query.emplace(pair.substr(0, eq), os::percentUnescape(pair.substr(eq + 1)).value_or(""));
  }
  r.authorization = std::move(authorization);
  r.host = std::move(host);
  r.secure = secure;
  return r;
}

std::string macHeader(const std::string& id, const std::string& ts, const std::string& nonce, const std::string& mac) {
  return "MAC id=\"" + id + "\",ts=\"" + ts + "\",nonce=\"" + nonce + "\",mac=\"" + mac + "\"";
}

// user/get signed with the MAC token x.456.y (key "mackey") at the clock's time, with `nonce`.
ApiRequest signedCall(const std::string& nonce) {
  const std::string ts = std::to_string(static_cast<long long>(os::Clock::now()));
  const std::string uri = "/v2/user/get?userId=9";
  return call("GET", "/v2/user/get", "userId=9",
              macHeader("x.456.y", ts, nonce, macSignature("mackey", ts, nonce, "GET", uri, "api.renren.example")),
              "api.renren.example");
}

// The error object's "code" and "message", or empty texts when the answer is not one.
std::pair<std::string, std::string> errorOf(const ApiAnswer& answer) {
  const os::Dictionary body = object(answer.body);
  const os::Value& error = body["error"];
  if (!error.dictionary()) return {};
  return {(*error.dictionary())["code"].stringOr(), (*error.dictionary())["message"].stringOr()};
}

TEST(RenrenApiTest, MacSignsTheSevenLinesWithPort80AndAnEmptyExtension) {
  EXPECT_EQ(macSignature("key", "1700000000", "abcdefgh", "GET", "/v2/user/get?userId=1", "api.renren.example"),
            "tH4fP0gukYBEN6pNR11NGvfks1s=");
}

TEST(RenrenApiTest, MacSignedCallIsAnsweredOnlyWhenItsSignatureHolds) {
  os::VirtualClockScope clock(1700000000);
  RenrenApi api;
  api.addMacToken("x.456.y", "mackey", "456");
  // A POST keeps its parameters in the query; the signature names port 80 whatever the connection's.
  const std::string query = "content=%E4%BD%A0%E5%A5%BD";
  ApiAnswer answer = api.handle(call("POST", "/v2/status/put", query,
                                     macHeader("x.456.y", "1700000000", "nonce002", "P/y7tqgzv7A3cTLSbR8//LjC6nU=")));
  EXPECT_EQ(answer.status, 200) << answer.body;
  auto body = object(answer.body);
  ASSERT_TRUE(body["response"].dictionary());
  EXPECT_EQ((*body["response"].dictionary())["user"].stringOr(), "456");

  // The same signature over another query, method or host does not hold.
  for (const ApiRequest& other :
       {call("POST", "/v2/status/put", "content=x", macHeader("x.456.y", "1700000000", "nonce003", "P/y7tqgzv7A3cTLSbR8//LjC6nU=")),
        call("POST", "/v2/status/put", query, macHeader("x.456.y", "1700000000", "nonce004", "P/y7tqgzv7A3cTLSbR8//LjC6nU="),
             "127.0.0.1:9090")}) {
    ApiAnswer refused = api.handle(other);
    EXPECT_NE(refused.status, 200);
    EXPECT_FALSE(errorOf(refused).first.empty()) << refused.body;
    EXPECT_FALSE(object(refused.body)["response"].dictionary());
  }
  EXPECT_EQ(api.acceptedCalls(), (std::vector<std::string>{"POST /v2/status/put 456"}));
}

// A client signing call after call for weeks: the service remembers each nonce only while its time
// stamp could still be taken (a replay inside the window is still refused), and keeps the newest
// accepted calls only.
TEST(RenrenApiTest, NoncesAreForgottenOnceTheirTimeStampLeavesTheWindowAndAcceptedCallsKeepTheNewest) {
  os::VirtualClockScope clock(1700000000);
  RenrenApi api;
  api.addMacToken("x.456.y", "mackey", "456");
  for (int minute = 0; minute < 60; ++minute) {
    for (int i = 0; i < 5; ++i) {
      const std::string nonce = "n" + std::to_string(minute) + "-" + std::to_string(i);
      ASSERT_EQ(api.handle(signedCall(nonce)).status, 200) << nonce;
      EXPECT_NE(api.handle(signedCall(nonce)).status, 200) << "a replay inside the window was taken";
    }
    os::Clock::advance(60);
  }
  // Five minutes' worth at most (the window's edge included), not the hour's three hundred.
  EXPECT_LE(api.rememberedNonces(), 6u * 5u);
  EXPECT_GE(api.rememberedNonces(), 5u);

  api.addBearerToken("a-b-123", "123");
  const std::size_t total = tools::kRecordLimit + 25;
  for (std::size_t i = 0; i < total; ++i)
    ASSERT_EQ(api.handle(call("GET", "/v2/user/get", "userId=" + std::to_string(i), "Bearer a-b-123", "api.renren.example", true)).status,
              200);
  const auto accepted = api.acceptedCalls();
  EXPECT_EQ(accepted.size(), tools::kRecordLimit);
  EXPECT_EQ(accepted.back(), "GET /v2/user/get 123");
}

// Signed calls, each with a nonce as long as a header line allows, or a great many of them, come
// faster than their time stamps leave the window: the nonces remembered against replays stay
// within their bounds, the calls past them are refused as the service being busy (never taken
// with their nonce forgotten), and once the window moves on calls are taken again.
TEST(RenrenApiTest, NoncesRememberedAgainstReplaysStayWithinTheirBounds) {
  os::VirtualClockScope clock(1700000000);
  RenrenApi api;
  api.addMacToken("x.456.y", "mackey", "456");
  for (const std::string& padding : {std::string(7800, 'n'), std::string()}) {
    std::size_t taken = 0;
    int status = 200;
    for (int i = 0; status == 200 && taken <= RenrenApi::kNonceLimit; ++i) {
      status = api.handle(signedCall(std::to_string(i) + padding)).status;
      taken += status == 200;
    }
    EXPECT_EQ(status, 503);
    EXPECT_EQ(api.rememberedNonces(), taken);
    EXPECT_LE(taken, RenrenApi::kNonceLimit);
    EXPECT_LE(taken * padding.size(), RenrenApi::kNonceByteLimit);
    // A replay is still refused as one.
    EXPECT_EQ(api.handle(signedCall("0" + padding)).status, 401);

    os::Clock::advance(2 * RenrenApi::kTimestampWindow + 1);
    EXPECT_EQ(api.handle(signedCall("again" + padding)).status, 200);
    EXPECT_EQ(api.rememberedNonces(), 1u);
    os::Clock::advance(2 * RenrenApi::kTimestampWindow + 1);
  }
}

TEST(RenrenApiTest, BearerTokenIsTakenOverHttpsOnly) {
  RenrenApi api;
  api.addBearerToken("a-b-123", "123");
  EXPECT_EQ(api.handle(call("GET", "/v2/user/get", "userId=9", "Bearer a-b-123", "api.renren.example", true)).status, 200);
  EXPECT_NE(api.handle(call("GET", "/v2/user/get", "userId=9", "Bearer a-b-123", "api.renren.example", false)).status, 200);
  EXPECT_NE(api.handle(call("GET", "/v2/user/get", "userId=9", "Bearer other", "api.renren.example", true)).status, 200);
}

TEST(RenrenApiTest, CallTableHoldsThePlatformsPathsMethodsAndParameters) {
  EXPECT_EQ(apiTable().size(), 46u);
  const struct {
    const char* path;
    const char* method;
    std::vector<std::string> parameters;
  } samples[] = {
      {"/v2/news/count/clear", "GET", {"newType"}},
      {"/v2/news/counts/get", "GET", {"newTypes"}},
      {"/v2/photo/head/set", "POST", {"photoId"}},
      {"/v2/photo/upload", "POST", {"albumId", "description", "file"}},
      {"/v2/like/ugc/info/get", "GET", {"limit", "withLikeUsers", "likeUGCType", "ugcId"}},
      {"/v2/user/login/get", "GET", {}},
      {"/v2/friend/list", "GET", {"userId", "pageSize", "pageNumber"}},
  };
  for (const auto& sample : samples) {
    const ApiCall* found = findCall(sample.path);
    ASSERT_TRUE(found) << sample.path;
    EXPECT_EQ(found->method, sample.method) << sample.path;
    EXPECT_EQ(found->parameters, sample.parameters) << sample.path;
  }

  RenrenApi api;
  api.addBearerToken("a-b-123", "123");
  auto secure = [&](std::string method, std::string path, std::string query) {
    return api.handle(call(std::move(method), std::move(path), std::move(query), "Bearer a-b-123", "api.renren.example", true));
  };
  EXPECT_EQ(secure("GET", "/v2/news/count/clear", "newType=1").status, 200);
  EXPECT_NE(secure("POST", "/v2/news/count/clear", "newType=1").status, 200);
  EXPECT_NE(secure("GET", "/v2/user/get", "uid=1").status, 200);
  EXPECT_NE(secure("GET", "/v2/nothing", "").status, 200);
  // An upload without its file part.
  EXPECT_NE(secure("POST", "/v2/photo/upload", "albumId=1").status, 200);
}

// A HEAD of a GET call, signed as the HEAD it is, is answered as the GET; a HEAD of a POST call
// is not.
TEST(RenrenApiTest, AHeadOfAGetCallIsAnsweredAsTheGet) {
  RenrenApi api;
  api.addMacToken("x.456.y", "mackey", "456");
  const std::string ts = std::to_string(static_cast<long long>(os::Clock::now()));
  const std::string uri = "/v2/user/get?userId=9";
  const ApiAnswer answer = api.handle(call("HEAD", "/v2/user/get", "userId=9",
                                           macHeader("x.456.y", ts, "headnonce", macSignature("mackey", ts, "headnonce", "HEAD", uri,
                                                                                              "api.renren.example")),
                                           "api.renren.example"));
  EXPECT_EQ(answer.status, 200) << answer.body;
  EXPECT_EQ(api.handle(call("HEAD", "/v2/photo/upload", "", "")).status, 405);
}

}  // namespace
}  // namespace renrend
