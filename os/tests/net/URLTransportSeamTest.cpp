// The connection's own rules (redirect rewriting, body streams sent again, cancel) against a
// scripted transport, so no wire is involved.
#include <gtest/gtest.h>

#include "os/net/URLConnection.h"
#include "os/runtime/RunLoop.h"

namespace os {
namespace {

struct Answer {
  int status;
  HTTPHeaderFields headers;
  std::string body;
};

// Answers each exchange with the next scripted answer, synchronously from start().
class ScriptedTransport : public URLTransport, public std::enable_shared_from_this<ScriptedTransport> {
 public:
  std::vector<Answer> answers;
  std::vector<URLRequest> seen;
  std::vector<std::string> bodiesRead;

  std::unique_ptr<URLTransportTask> start(const URLRequest& request, const URLTransportOptions&,
                                          std::shared_ptr<URLTransportClient> client) override {
    seen.push_back(request);
    std::string body = stringFromData(request.HTTPBody());
    if (auto stream = request.HTTPBodyStream()) {
      stream->open();
      std::uint8_t buf[64];
      long n;
      while ((n = stream->read(buf, sizeof buf)) > 0) body.append(reinterpret_cast<char*>(buf), n);
    }
    bodiesRead.push_back(body);
    if (answers.empty()) {
      client->transportDidFail(makeURLError(kURLErrorCannotConnectToHost, request.url()));
    } else {
      Answer a = answers.front();
      answers.erase(answers.begin());
      client->transportDidReceiveResponse(HTTPURLResponse(request.url(), a.status, a.headers));
      client->transportDidReceiveData(dataFromString(a.body));
      client->transportDidFinish();
    }
    struct Task : URLTransportTask {
      void cancel() override {}
    };
    return std::make_unique<Task>();
  }
};

class Delegate : public URLConnectionDelegate {
 public:
  int newStreams = 0;
  bool refuseStream = false;
  std::optional<Error> error;
  std::optional<HTTPURLResponse> response;
  bool finished = false;
  std::shared_ptr<InputStream> needNewBodyStream(URLConnection& c, const URLRequest& r) override {
    ++newStreams;
    return refuseStream ? nullptr : URLConnectionDelegate::needNewBodyStream(c, r);
  }
  void didReceiveResponse(URLConnection&, const HTTPURLResponse& r) override { response = r; }
  void didFinishLoading(URLConnection&) override { finished = true; }
  void didFailWithError(URLConnection&, const Error& e) override { error = e; }
};

class URLTransportSeamTest : public ::testing::Test {
 protected:
  void SetUp() override { URLTransport::setShared(transport); }
  void TearDown() override { URLTransport::setShared(nullptr); }
  void run(const URLRequest& request) {
    connection = URLConnection::create(request, delegate);
    RunLoop::current()->runUntilIdle();
  }
  std::shared_ptr<ScriptedTransport> transport = std::make_shared<ScriptedTransport>();
  std::shared_ptr<Delegate> delegate = std::make_shared<Delegate>();
  std::shared_ptr<URLConnection> connection;
};

TEST_F(URLTransportSeamTest, TemporaryRedirectSendsAStreamedBodyAgainFromAFreshStream) {
  transport->answers = {{307, {{"Location", "http://b.test/next"}}, ""}, {200, {}, "ok"}};
  URLRequest r("http://a.test/up");
  r.setHTTPMethod("PUT");
  r.setHTTPBodyStream(InputStream::withData(dataFromString("payload")));
  run(r);
  ASSERT_TRUE(delegate->finished);
  EXPECT_EQ(delegate->newStreams, 1);
  ASSERT_EQ(transport->seen.size(), 2u);
  EXPECT_EQ(transport->seen[1].HTTPMethod(), "PUT");
  EXPECT_EQ(transport->seen[1].url(), "http://b.test/next");
  EXPECT_EQ(transport->bodiesRead, (std::vector<std::string>{"payload", "payload"}));
}

TEST_F(URLTransportSeamTest, AStreamThatCannotBeRenewedFailsTheLoad) {
  transport->answers = {{308, {{"Location", "/again"}}, ""}, {200, {}, "never"}};
  delegate->refuseStream = true;
  URLRequest r("http://a.test/up");
  r.setHTTPMethod("POST");
  r.setHTTPBodyStream(InputStream::withData(dataFromString("payload")));
  run(r);
  ASSERT_TRUE(delegate->error);
  EXPECT_EQ(delegate->error->code, kURLErrorRequestBodyStreamExhausted);
  EXPECT_EQ(transport->seen.size(), 1u);
}

TEST_F(URLTransportSeamTest, FoundAfterPostBecomesGetAndRelativeLocationsResolve) {
  transport->answers = {{302, {{"Location", "../done?x=1"}}, "moved"}, {200, {}, "fine"}};
  URLRequest r("http://a.test/api/v1/post");
  r.setHTTPMethod("POST");
  r.setHTTPBody(dataFromString("k=v"));
  r.setValueForHTTPHeaderField("application/x-www-form-urlencoded", "Content-Type");
  run(r);
  ASSERT_TRUE(delegate->finished);
  ASSERT_EQ(transport->seen.size(), 2u);
  EXPECT_EQ(transport->seen[1].url(), "http://a.test/api/done?x=1");
  EXPECT_EQ(transport->seen[1].HTTPMethod(), "GET");
  EXPECT_TRUE(transport->seen[1].HTTPBody().empty());
  EXPECT_FALSE(transport->seen[1].valueForHTTPHeaderField("Content-Type"));
  EXPECT_EQ(connection->currentRequest().url(), "http://a.test/api/done?x=1");
  EXPECT_EQ(connection->originalRequest().url(), "http://a.test/api/v1/post");
}

TEST_F(URLTransportSeamTest, RedirectLoopsEndWithTooManyRedirects) {
  for (int i = 0; i < 40; ++i) transport->answers.push_back({302, {{"Location", "/loop"}}, ""});
  run(URLRequest("http://a.test/loop"));
  ASSERT_TRUE(delegate->error);
  EXPECT_EQ(delegate->error->code, kURLErrorHTTPTooManyRedirects);
  EXPECT_LE(transport->seen.size(), 17u);
}

TEST_F(URLTransportSeamTest, ServerTrustIsAskedForHttpsAndCancelStopsTheLoad) {
  class Refuser : public Delegate {
   public:
    std::vector<std::string> methods;
    bool canAuthenticateAgainstProtectionSpace(URLConnection&, const URLProtectionSpace& s) override {
      methods.push_back(s.authenticationMethod);
      return true;
    }
    void didReceiveAuthenticationChallenge(URLConnection&, URLAuthenticationChallenge& c) override { c.cancel(); }
  };
  auto refuser = std::make_shared<Refuser>();
  delegate = refuser;
  transport->answers = {{200, {}, "x"}};
  run(URLRequest("https://secure.test/"));
  EXPECT_EQ(refuser->methods, (std::vector<std::string>{kAuthenticationMethodServerTrust}));
  ASSERT_TRUE(refuser->error);
  EXPECT_EQ(refuser->error->code, kURLErrorUserCancelledAuthentication);
  EXPECT_TRUE(transport->seen.empty());

  // The default delegate leaves server trust to normal verification: no question asked.
  delegate = std::make_shared<Delegate>();
  run(URLRequest("https://secure.test/"));
  EXPECT_TRUE(delegate->finished);
  EXPECT_FALSE(connection->allowsAnyCertificate());
}

TEST_F(URLTransportSeamTest, BadURLsFailWithoutReachingTheTransport) {
  run(URLRequest("not a url"));
  ASSERT_TRUE(delegate->error);
  EXPECT_EQ(delegate->error->code, kURLErrorBadURL);
  EXPECT_EQ(delegate->error->failingURLString(), "not a url");
  delegate = std::make_shared<Delegate>();
  run(URLRequest(""));
  ASSERT_TRUE(delegate->error);
  EXPECT_EQ(delegate->error->code, kURLErrorUnsupportedURL);
  EXPECT_TRUE(transport->seen.empty());
}

}  // namespace
}  // namespace os
