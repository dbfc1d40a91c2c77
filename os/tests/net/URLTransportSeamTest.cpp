// The connection's own rules (redirect rewriting, body streams sent again, cancel) against a
// scripted transport, so no wire is involved.
#include <gtest/gtest.h>

#include "os/net/URLConnection.h"
#include "os/runtime/RunLoop.h"
#include "os/testing/ScriptedURLTransport.h"

namespace os {
namespace {

using testing::ScriptedURLTransport;
using Answer = ScriptedURLTransport::Answer;

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
  std::shared_ptr<ScriptedURLTransport> transport = std::make_shared<ScriptedURLTransport>();
  std::shared_ptr<Delegate> delegate = std::make_shared<Delegate>();
  std::shared_ptr<URLConnection> connection;
};

TEST_F(URLTransportSeamTest, TemporaryRedirectSendsAStreamedBodyAgainFromAFreshStream) {
  transport->enqueue(Answer::ok("", 307, {{"Location", "http://b.test/next"}}));
  transport->enqueue(Answer::ok("ok"));
  URLRequest r("http://a.test/up");
  r.setHTTPMethod("PUT");
  r.setHTTPBodyStream(InputStream::withData(dataFromString("payload")));
  run(r);
  ASSERT_TRUE(delegate->finished);
  EXPECT_EQ(delegate->newStreams, 1);
  auto sent = transport->sent();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[1].request.HTTPMethod(), "PUT");
  EXPECT_EQ(sent[1].request.url(), "http://b.test/next");
  EXPECT_EQ(sent[0].body, "payload");
  EXPECT_EQ(sent[1].body, "payload");
}

TEST_F(URLTransportSeamTest, AStreamThatCannotBeRenewedFailsTheLoad) {
  transport->enqueue(Answer::ok("", 308, {{"Location", "/again"}}));
  transport->enqueue(Answer::ok("never"));
  delegate->refuseStream = true;
  URLRequest r("http://a.test/up");
  r.setHTTPMethod("POST");
  r.setHTTPBodyStream(InputStream::withData(dataFromString("payload")));
  run(r);
  ASSERT_TRUE(delegate->error);
  EXPECT_EQ(delegate->error->code, kURLErrorRequestBodyStreamExhausted);
  EXPECT_EQ(transport->sent().size(), 1u);
}

TEST_F(URLTransportSeamTest, FoundAfterPostBecomesGetAndRelativeLocationsResolve) {
  transport->enqueue(Answer::ok("moved", 302, {{"Location", "../done?x=1"}}));
  transport->enqueue(Answer::ok("fine"));
  URLRequest r("http://a.test/api/v1/post");
  r.setHTTPMethod("POST");
  r.setHTTPBody(dataFromString("k=v"));
  r.setValueForHTTPHeaderField("application/x-www-form-urlencoded", "Content-Type");
  run(r);
  ASSERT_TRUE(delegate->finished);
  auto sent = transport->sent();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[1].request.url(), "http://a.test/api/done?x=1");
  EXPECT_EQ(sent[1].request.HTTPMethod(), "GET");
  EXPECT_TRUE(sent[1].body.empty());
  EXPECT_FALSE(sent[1].request.valueForHTTPHeaderField("Content-Type"));
  EXPECT_EQ(connection->currentRequest().url(), "http://a.test/api/done?x=1");
  EXPECT_EQ(connection->originalRequest().url(), "http://a.test/api/v1/post");
}

TEST_F(URLTransportSeamTest, RedirectLoopsEndWithTooManyRedirects) {
  for (int i = 0; i < 40; ++i) transport->enqueue(Answer::ok("", 302, {{"Location", "/loop"}}));
  run(URLRequest("http://a.test/loop"));
  ASSERT_TRUE(delegate->error);
  EXPECT_EQ(delegate->error->code, kURLErrorHTTPTooManyRedirects);
  EXPECT_EQ(transport->sent().size(), 17u) << "the first request and sixteen redirects";
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
  transport->enqueue(Answer::ok("x"));
  transport->enqueue(Answer::ok("x"));
  run(URLRequest("https://secure.test/"));
  EXPECT_EQ(refuser->methods, (std::vector<std::string>{kAuthenticationMethodServerTrust}));
  ASSERT_TRUE(refuser->error);
  EXPECT_EQ(refuser->error->code, kURLErrorUserCancelledAuthentication);
  EXPECT_TRUE(transport->sent().empty());

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
  EXPECT_TRUE(transport->sent().empty());
}

TEST_F(URLTransportSeamTest, ScriptedFailuresKeepTheirCodeAndGainTheFailingURL) {
  transport->enqueue(Answer::fail(kURLErrorNotConnectedToInternet));
  run(URLRequest("http://offline.test/a"));
  ASSERT_TRUE(delegate->error);
  EXPECT_EQ(delegate->error->domain, kURLErrorDomain);
  EXPECT_EQ(delegate->error->code, kURLErrorNotConnectedToInternet);
  EXPECT_EQ(delegate->error->failingURLString(), "http://offline.test/a");
}

}  // namespace
}  // namespace os
