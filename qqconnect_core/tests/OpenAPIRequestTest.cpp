// The OpenAPI request and call object against a loopback OpenAPI server: what goes on the wire,
// how answers become results, errors and responses.
#include <gtest/gtest.h>

#include "qqconnect_core/requests/APIBase.h"
#include "qqconnect_core/requests/VelmoraRequest.h"
#include "os/graphics/Image.h"
#include "os/runtime/RunLoop.h"
#include "os/net/HostLookup.h"
#include "os/testing/HandOverWatch.h"
#include "os/testing/HttpTestServer.h"
#include "os/testing/TcpTestPeer.h"
#include "os/testing/Waits.h"
#include "os/testing/TestCertificateAuthority.h"

namespace {

using os::testing::CannedResponse;
using os::testing::HttpTestServer;

struct Recorder : VelmoraRequestDelegate {
  std::vector<std::string> calls;
  std::optional<os::Value> result;
  os::Error error;
  void requestLoading(VelmoraRequest&) override { calls.push_back("loading"); }
  void requestDidReceiveResponse(VelmoraRequest&, const os::HTTPURLResponse&) override { calls.push_back("response"); }
  void requestDidLoadRawResponse(VelmoraRequest&, const os::Data&) override { calls.push_back("raw"); }
  void requestDidLoad(VelmoraRequest&, const std::optional<os::Value>& r, const os::Data&) override {
    calls.push_back("load");
    result = r;
  }
  void requestDidFailWithError(VelmoraRequest&, const os::Error& e) override {
    calls.push_back("fail");
    error = e;
  }
  bool done() const { return !calls.empty() && (calls.back() == "load" || calls.back() == "fail"); }
};

// The OpenAPI server under a name of its own, over https as in a deployment.
class OpenAPIRequest : public ::testing::Test {
 protected:
  void SetUp() override { os::testing::TestCertificateAuthority::shared().trust(); }
  void TearDown() override {
    os::testing::TestCertificateAuthority::untrustAll();
    os::HostLookup::removeAllOverrides();
  }
  std::string url(const std::string& path) const { return server.urlForHost("openapi.example.test", path); }

  bool run(const std::function<bool()>& condition) { return os::RunLoop::main()->runUntil(condition, 10); }

  // One request to `path` answered with `answer`; the recorder afterwards.
  std::shared_ptr<Recorder> load(const std::string& method, VelmoraParams params, const std::string& answer,
                                 const std::string& path = "/user/get_user_info") {
    server.route(method, path, CannedResponse::text(answer));
    auto recorder = std::make_shared<Recorder>();
    auto request = VelmoraRequest::getRequestWithParams(std::move(params), method, recorder, url(path));
    request->connect();
    EXPECT_TRUE(run([&] { return recorder->done(); }));
    return recorder;
  }

  HttpTestServer server{true, {"openapi.example.test"}};
};

TEST_F(OpenAPIRequest, GetQueries) {
  EXPECT_EQ(VelmoraRequest::serializeURL("http://h/a", {}), "http://h/a?");
  EXPECT_EQ(VelmoraRequest::serializeURL("http://h/a?x=1", {{"k", os::Value("a b@'")}, {"d", os::Value(os::Data{1})}}),
            "http://h/a?x=1&k=a%20b%40%27");
  auto r = load("GET", {}, "{\"ret\":0}");
  EXPECT_EQ(r->calls, (std::vector<std::string>{"loading", "response", "raw", "load"}));
  const auto sent = server.requests().back();
  EXPECT_EQ(sent.query, "");
  EXPECT_EQ(sent.headers.value("User-Agent"), "VelmoraConnect");
}

TEST_F(OpenAPIRequest, PostBodies) {
  load("POST", {{"a", os::Value("1 2")}, {"b", os::Value("x")}}, "{}", "/form");
  auto form = server.requests().back();
  EXPECT_EQ(form.body, "a=1%202&b=x");
  EXPECT_EQ(form.headers.value("Content-Type").value_or("").find("multipart"), std::string::npos);

  auto image = std::shared_ptr<const os::Image>(os::Image::create(os::Bitmap(4, 4)));
  load("POST", {{"a", os::Value("1")}, {"pic", image}}, "{}", "/upload");
  auto upload = server.requests().back();
  ASSERT_EQ(upload.parts.size(), 2u);
  ASSERT_TRUE(upload.part("pic"));
  EXPECT_EQ(upload.part("pic")->filename, "picture");
  EXPECT_EQ(upload.part("pic")->contentType, "image/jpeg");
  EXPECT_EQ(upload.part("pic")->content.substr(0, 2), "\xFF\xD8");
  EXPECT_EQ(upload.part("a")->content, "1");

  load("POST", {{"filename", os::Value("head.jpg")}, {"d", os::Value(os::Data{'z'})}}, "{}", "/upload");
  auto named = server.requests().back();
  ASSERT_EQ(named.parts.size(), 1u);
  EXPECT_EQ(named.parts[0].filename, "head.jpg");
  EXPECT_EQ(named.parts[0].content, "z");
}

TEST_F(OpenAPIRequest, AnswersBecomeResultsOrErrors) {
  EXPECT_EQ(load("GET", {}, "true")->result, os::Value(os::Dictionary{{"result", "true"}}));
  auto f = load("GET", {}, "false");
  EXPECT_EQ(f->error.code, 10000);
  auto coded = load("GET", {}, R"({"error_code":100030,"msg":"x"})");
  EXPECT_EQ(coded->error.domain, "velmoraErrDomain");
  EXPECT_EQ(coded->error.code, 100030);
  EXPECT_EQ(coded->error.userInfo["msg"], os::Value("x"));
  EXPECT_EQ(load("GET", {}, R"({"ret":0,"error_msg":"m"})")->error.code, 10000);
  EXPECT_EQ(load("GET", {}, R"({"error":"x"})")->error.code, 10000);
  EXPECT_EQ(load("GET", {}, "[1,2]")->result, os::Value(os::Array{1, 2}));
  auto broken = load("GET", {}, "{\"a\":1 \"b\":2}");
  EXPECT_EQ(broken->calls.back(), "load");
  EXPECT_FALSE(broken->result);
  // GB 18030 answers are read too.
  EXPECT_EQ(load("GET", {}, "{\"m\":\"\xC4\xE3\"}")->result, os::Value(os::Dictionary{{"m", "你"}}));
}

TEST_F(OpenAPIRequest, CookiesAndHeadersNeverCarryLineBreaks) {
  load("GET", {{"skey", os::Value("s")}, {"uin", os::Value("42")}}, "{}");
  EXPECT_EQ(server.requests().back().headers.value("Cookie"), "_uin=42;_oskey=s");
  EXPECT_EQ(server.requests().back().queryParameters.count("skey"), 1u);
  load("GET", {{"skey", os::Value("s")}}, "{}");
  EXPECT_FALSE(server.requests().back().headers.value("Cookie"));
  load("GET", {{"skey", os::Value("s")}, {"uin", os::Value("")}}, "{}");
  EXPECT_FALSE(server.requests().back().headers.value("Cookie"));
  load("GET", {{"skey", os::Value("s\r\nX-Evil: 1")}, {"uin", os::Value("42")}}, "{}");
  EXPECT_FALSE(server.requests().back().headers.value("Cookie"));
  EXPECT_FALSE(server.requests().back().headers.value("X-Evil"));

  server.route("GET", "/h", CannedResponse::text("{}"));
  auto recorder = std::make_shared<Recorder>();
  auto request = VelmoraRequest::getRequestWithParams({}, "GET", recorder, url("/h"));
  request->httpHeaders().set("X-Ok", "1");
  request->httpHeaders().set("X-Bad", "1\nX-Evil: 2");
  request->httpHeaders().set("User-Agent", "Mine");
  request->connect();
  ASSERT_TRUE(run([&] { return recorder->done(); }));
  const auto headers = server.requests().back().headers;
  EXPECT_EQ(headers.value("X-Ok"), "1");
  EXPECT_FALSE(headers.value("X-Bad"));
  EXPECT_FALSE(headers.value("X-Evil"));
  EXPECT_EQ(headers.value("User-Agent"), "Mine");
}

TEST_F(OpenAPIRequest, CancelSilencesEverything) {
  CannedResponse slow = CannedResponse::text("{\"ret\":0}");
  slow.delay = 0.3;  // the answer is on its way when the caller gives up
  server.route("GET", "/slow", slow);
  auto recorder = std::make_shared<Recorder>();
  auto request = VelmoraRequest::getRequestWithParams({}, "GET", recorder, url("/slow"));
  request->connect();
  EXPECT_TRUE(request->loading());
  ASSERT_TRUE(run([&] { return server.requestCount() == 1; }));
  request->cancel();
  EXPECT_FALSE(request->loading());
  os::RunLoop::main()->runUntil([] { return false; }, 0.6);
  EXPECT_EQ(recorder->calls, std::vector<std::string>{"loading"});
}

TEST_F(OpenAPIRequest, TransportFailuresPassThrough) {
  auto recorder = std::make_shared<Recorder>();
  auto request = VelmoraRequest::getRequestWithParams(
      {}, "GET", recorder, "http://127.0.0.1:" + std::to_string(HttpTestServer::refusedPort()) + "/x");
  request->connect();
  ASSERT_TRUE(run([&] { return recorder->done(); }));
  EXPECT_EQ(recorder->error.domain, os::kURLErrorDomain);
  EXPECT_EQ(recorder->error.code, os::kURLErrorCannotConnectToHost);
}

// A reply served over a raw loopback connection a piece at a time, each piece let through the
// request before the next goes out, so what the server managed to write shows when the request
// stopped taking it.
struct PiecewiseReply {
  static constexpr std::size_t kPiece = 1 << 20;
  os::testing::TcpTestPeer server;
  std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
  std::shared_ptr<VelmoraRequest> request;
  std::size_t written = 0;  // body bytes the server wrote before the request was done

  // Declares `declared` body bytes and writes `body` (at most `limit` bytes of it).
  void serve(std::size_t declared, const std::string& body, std::size_t limit) {
    request = VelmoraRequest::getRequestWithParams({}, "GET", recorder,
                                                   "http://127.0.0.1:" + std::to_string(server.port()) + "/policy");
    request->connect();
    ASSERT_TRUE(os::testing::runUntil([&] {
      const os::Data in = server.received();
      return os::stringFromData(in).find("\r\n\r\n") != std::string::npos;
    }));
    ASSERT_TRUE(server.write(os::dataFromString("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
                                                std::to_string(declared) + "\r\n\r\n")));
    while (written < std::min(limit, body.size()) && !recorder->done()) {
      const std::size_t n = std::min(kPiece, body.size() - written);
      if (!server.write(os::dataFromString(std::string_view(body).substr(written, n)))) break;
      written += n;
      ASSERT_TRUE(os::testing::runUntil([&] {
        return recorder->done() || (request->responseText() && request->responseText()->size() == written);
      }));
    }
    ASSERT_TRUE(os::testing::runUntil([&] { return recorder->done(); }, 10));
  }
};

// An answer past the bound fails with an error of its own as soon as the bound is passed: the
// connection is dropped while the server is still sending, and nothing of the answer is kept. One
// exactly at the bound is read whole.
TEST(VelmoraRequestReplies, AreBoundedAndDroppedAsSoonAsTheyPassTheBound) {
  {
    PiecewiseReply reply;
    const std::size_t declared = std::size_t{256} << 20;
    reply.serve(declared, std::string(kVelmoraMaxReplySize + 4 * PiecewiseReply::kPiece, ' '), declared);
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_EQ(reply.recorder->calls, (std::vector<std::string>{"loading", "response", "fail"}));
    EXPECT_EQ(reply.recorder->error.domain, kVelmoraErrorDomain);
    EXPECT_EQ(reply.recorder->error.code, kVelmoraErrorReplyTooLarge);
    EXPECT_FALSE(reply.recorder->error.localizedDescription().empty());
    EXPECT_LE(reply.written, kVelmoraMaxReplySize + PiecewiseReply::kPiece);
    EXPECT_FALSE(reply.request->loading());
    EXPECT_FALSE(reply.request->responseText());
    EXPECT_TRUE(os::testing::runUntil([&] { return reply.server.peerClosed(); }, 10));
  }
  {
    PiecewiseReply reply;
    const std::string body = "{\"a\":\"" + std::string(kVelmoraMaxReplySize - 8, 'x') + "\"}";
    ASSERT_EQ(body.size(), kVelmoraMaxReplySize);
    reply.serve(body.size(), body, body.size());
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_EQ(reply.recorder->calls.back(), "load");
    ASSERT_TRUE(reply.recorder->result && reply.recorder->result->dictionary());
    EXPECT_EQ((*reply.recorder->result)["a"].stringOr().size(), kVelmoraMaxReplySize - 8);
    EXPECT_FALSE(reply.request->responseText());
  }
}

// A 256 MiB reply, chunked (no length to refuse it by), while the caller's thread is busy: what
// waits for the caller stays within the transfer's window instead of piling up until the caller
// counts it, the transfer stops at the bound with the request's own error, and the server is cut
// off near the bound.
TEST(VelmoraRequestReplies, AHugeReplyForABusyCallerIsHeldWithinAWindowAndStoppedAtTheBound) {
  constexpr std::uint64_t kTotal = std::uint64_t{256} << 20;
  HttpTestServer server;
  os::testing::HandOverWatch watch;
  server.route("GET", "/huge", CannedResponse::generated(kTotal, true, 64 * 1024, ' ',
                                                         [&](std::uint64_t m) { watch.peerMade(m, kTotal); }));
  auto recorder = std::make_shared<Recorder>();
  auto request = VelmoraRequest::getRequestWithParams({}, "GET", recorder, server.url("/huge"));
  request->connect();
  ASSERT_TRUE(os::RunLoop::main()->runUntil([&] { return recorder->calls.size() > 1; }, 10));
  // Busy with other work from the answer's head on.
  ASSERT_TRUE(watch.blockUntilTransferWaitsOrPeerIsDone(60));
  ASSERT_TRUE(os::RunLoop::main()->runUntil([&] { return recorder->done(); }, 60));

  EXPECT_EQ(recorder->calls, (std::vector<std::string>{"loading", "response", "fail"}));
  EXPECT_EQ(recorder->error.domain, kVelmoraErrorDomain);
  EXPECT_EQ(recorder->error.code, kVelmoraErrorReplyTooLarge);
  EXPECT_TRUE(watch.transferWaited());
  EXPECT_LE(os::testing::HandOverWatch::peakHeld(),
            os::URLReceiveWindow::kDefaultCapacity + os::testing::HandOverWatch::kWindowSlack);
  EXPECT_LT(watch.made(), kVelmoraMaxReplySize + (std::uint64_t{64} << 20)) << "the server went on sending";
  EXPECT_FALSE(request->loading());
  EXPECT_FALSE(request->responseText());
}

// ---- call objects ----

struct Session : APIBaseSession {
  bool allow = true;
  std::vector<std::vector<std::string>> asked;
  std::vector<std::string> deleted;
  std::vector<std::shared_ptr<APIResponse>> delivered;
  bool velmoraNeedPerformIncrAuth(const std::optional<std::string>&, const std::vector<std::string>& p) override {
    asked.push_back(p);
    return allow;
  }
  void deleteAPIRequestBySeq(const std::string& seq) override { deleted.push_back(seq); }
};

TEST(APIBaseSeq, FirstNumberIs1001) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");  // a fresh process: the counter starts anew
  EXPECT_EXIT(std::exit(APIBase::getApiBaseSeq() == 1001 && APIBase::getApiBaseSeq() == 1002 ? 0 : 1),
              ::testing::ExitedWithCode(0), "");
}

TEST_F(OpenAPIRequest, CallsCarryStandardParametersAndUserData) {
  server.route("GET", "/user/get_user_info", CannedResponse::text("{\"ret\":0,\"nickname\":\"x\"}"));
  auto session = std::make_shared<Session>();
  const auto deliver = [](APIBaseTarget& t, const std::shared_ptr<APIResponse>& r) {
    static_cast<Session&>(t).delivered.push_back(r);
  };
  auto api = APIBase::initWithTarget(session, deliver, "GET");
  auto next = APIBase::initWithTarget(session, deliver, "GET");
  EXPECT_EQ(next->seq(), api->seq() + 1);
  api->openUrl(url("/user/get_user_info"), "TOKEN", "OPENID", "100393032",
               {{"userData", os::Value("mine")}, {"k", os::Value("v")}});
  ASSERT_TRUE(run([&] { return !session->delivered.empty(); }));
  const auto q = server.requests().back().queryParameters;
  for (const char* key : {"format", "oauth_consumer_key", "access_token", "openid", "sdkv", "sdkp", "status_os",
                          "status_machine", "status_version", "k"}) {
    EXPECT_EQ(q.count(key), 1u) << key;
  }
  EXPECT_EQ(q.count("userData"), 0u);
  EXPECT_EQ(q.find("format")->second, "json");
  const auto& r = session->delivered[0];
  EXPECT_EQ(r->retCode(), 0);
  EXPECT_EQ(r->seq(), api->seq());
  EXPECT_EQ(r->userData(), os::Value("mine"));
  EXPECT_EQ(r->message(), "{\"ret\":0,\"nickname\":\"x\"}");
}

TEST_F(OpenAPIRequest, IncrementalAuthorisationAndBadAnswers) {
  auto session = std::make_shared<Session>();
  const auto deliver = [](APIBaseTarget& t, const std::shared_ptr<APIResponse>& r) {
    static_cast<Session&>(t).delivered.push_back(r);
  };
  server.route("GET", "/user/get_user_info", CannedResponse::text("{\"ret\":100030}"));
  session->allow = false;
  auto refused = APIBase::initWithTarget(session, deliver, "GET");
  refused->openUrl(url("/user/get_user_info"), "T", "O", "1", {});
  ASSERT_TRUE(run([&] { return !session->deleted.empty(); }));
  EXPECT_EQ(session->asked, std::vector<std::vector<std::string>>{{"get_user_info"}});
  EXPECT_EQ(session->deleted[0], std::to_string(refused->seq()));
  EXPECT_TRUE(session->delivered.empty());

  server.route("POST", "/empty", CannedResponse::text("{}"));
  auto empty = APIBase::initWithTarget(session, deliver, "POST");
  empty->openUrlBySkey(url("/empty"), "SKEY", "42", "1", {});
  ASSERT_TRUE(run([&] { return !session->delivered.empty(); }));
  EXPECT_EQ(session->delivered[0]->retCode(), 1);
  EXPECT_EQ(session->delivered[0]->errorMsg(), "服务器返回内容不正确");
  EXPECT_EQ(server.requests().back().headers.value("Cookie"), "_uin=42;_oskey=SKEY");
}

}  // namespace
