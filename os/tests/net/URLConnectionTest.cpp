// The URL connection through the real libcurl path against the loopback test server.
#include <gtest/gtest.h>
#include <zlib.h>

#include <atomic>
#include <cstring>
#include <future>
#include <thread>

#include "os/net/HTTPCookieStorage.h"
#include "os/net/URLConnection.h"
#include "os/runtime/RunLoop.h"
#include "os/runtime/Thread.h"
#include "os/testing/HttpTestServer.h"
#include "os/testing/TcpTestPeer.h"

namespace os {
namespace {

using testing::CannedResponse;
using testing::HttpTestServer;
using testing::RecordedRequest;

// Records every callback in order, with the thread it arrived on.
class Recorder : public URLConnectionDelegate {
 public:
  std::vector<std::string> events;
  std::vector<std::thread::id> threads;
  std::optional<HTTPURLResponse> response;
  std::vector<HTTPURLResponse> redirects;
  std::vector<URLRequest> proposed;
  Data body;
  int dataCallbacks = 0;
  std::optional<Error> error;
  bool finished = false;
  std::int64_t lastTotalWritten = 0, lastExpected = 0, sumWritten = 0;
  std::function<std::optional<URLRequest>(const URLRequest&)> onRedirect;
  std::function<void(URLConnection&)> onData;
  std::function<void()> onEnd;

  bool done() const { return finished || error.has_value(); }

  void note(const char* what) {
    events.push_back(what);
    threads.push_back(std::this_thread::get_id());
  }
  bool connectionShouldUseCredentialStorage(URLConnection&) override {
    note("storage");
    return true;
  }
  std::optional<URLRequest> willSendRequest(URLConnection&, const URLRequest& request, const HTTPURLResponse& r) override {
    note("redirect");
    redirects.push_back(r);
    proposed.push_back(request);
    return onRedirect ? onRedirect(request) : std::optional<URLRequest>(request);
  }
  void didSendBodyData(URLConnection&, std::int64_t written, std::int64_t total, std::int64_t expected) override {
    if (events.empty() || events.back() != "sent") note("sent");
    sumWritten += written;
    lastTotalWritten = total;
    lastExpected = expected;
  }
  void didReceiveResponse(URLConnection&, const HTTPURLResponse& r) override {
    note("response");
    response = r;
  }
  void didReceiveData(URLConnection& c, const Data& d) override {
    if (events.empty() || events.back() != "data") note("data");
    ++dataCallbacks;
    body.insert(body.end(), d.begin(), d.end());
    if (onData) onData(c);
  }
  std::optional<CachedURLResponse> willCacheResponse(URLConnection&, const CachedURLResponse& c) override {
    note("cache");
    return c;
  }
  void didFinishLoading(URLConnection&) override {
    note("finish");
    finished = true;
    if (onEnd) onEnd();
  }
  void didFailWithError(URLConnection&, const Error& e) override {
    note("fail");
    error = e;
    if (onEnd) onEnd();
  }
};

class URLConnectionTest : public ::testing::Test {
 protected:
  void SetUp() override { HTTPCookieStorage::shared().removeAllCookies(); }
  void TearDown() override { HTTPCookieStorage::shared().removeAllCookies(); }

  // Loads on this thread's run loop until the delegate hears the end.
  std::shared_ptr<URLConnection> load(const URLRequest& request, const std::shared_ptr<Recorder>& recorder) {
    auto connection = URLConnection::create(request, recorder);
    EXPECT_TRUE(RunLoop::current()->runUntil([&] { return recorder->done(); }, 20));
    return connection;
  }

  HttpTestServer server;
};

TEST_F(URLConnectionTest, SendsMethodHeadersAndBodyAndReadsTheAnswerHead) {
  CannedResponse answer = CannedResponse::text("{\"ok\":1}", 201);
  answer.contentType = "application/json; charset=ISO-8859-1";
  answer.headers.set("X-Reply", "yes");
  server.route("POST", "/api/items", answer);

  URLRequest request(server.url("/api/items?a=1&b=two"));
  request.setHTTPMethod("POST");
  request.setValueForHTTPHeaderField("application/x-www-form-urlencoded; charset=utf-8", "Content-Type");
  request.setValueForHTTPHeaderField("first", "X-Custom");
  request.setValueForHTTPHeaderField("second", "x-CUSTOM");  // same field, replaced
  request.setHTTPBody(dataFromString("c=a%20b&p=x%2By"));
  auto recorder = std::make_shared<Recorder>();
  load(request, recorder);

  ASSERT_TRUE(recorder->finished) << (recorder->error ? recorder->error->localizedDescription() : "");
  auto log = server.requests();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].method, "POST");
  EXPECT_EQ(log[0].path, "/api/items");
  EXPECT_EQ(log[0].query, "a=1&b=two");
  EXPECT_EQ(log[0].body, "c=a%20b&p=x%2By");
  EXPECT_EQ(log[0].headers.value("x-custom"), "second");
  EXPECT_EQ(log[0].headers.value("Content-Type"), "application/x-www-form-urlencoded; charset=utf-8");
  EXPECT_EQ(log[0].headers.value("Content-Length"), "15");
  EXPECT_FALSE(log[0].headers.contains("Expect"));

  ASSERT_TRUE(recorder->response);
  EXPECT_EQ(recorder->response->statusCode(), 201);
  EXPECT_EQ(recorder->response->MIMEType(), "application/json");
  EXPECT_EQ(recorder->response->textEncodingName(), "ISO-8859-1");
  EXPECT_EQ(recorder->response->expectedContentLength(), 8);
  EXPECT_EQ(recorder->response->valueForHTTPHeaderField("x-reply"), "yes");
  EXPECT_EQ(stringFromData(recorder->body), "{\"ok\":1}");
  EXPECT_EQ(recorder->events, (std::vector<std::string>{"storage", "sent", "response", "data", "finish"}));
  for (auto id : recorder->threads) EXPECT_EQ(id, std::this_thread::get_id());
}

TEST_F(URLConnectionTest, CallbacksArriveOnTheRunLoopTheConnectionIsScheduledOn) {
  server.route("GET", "/x", CannedResponse::text("hello"));
  auto network = Thread::create("network");
  network->start();
  auto recorder = std::make_shared<Recorder>();
  std::promise<void> ended;
  recorder->onEnd = [&] { ended.set_value(); };
  std::shared_ptr<URLConnection> connection;
  network->perform([&] {
    connection = URLConnection::create(URLRequest(server.url("/x")), recorder, false);
    connection->scheduleInRunLoop(RunLoop::current());
    connection->start();
  }, true);
  std::thread::id networkId;
  network->perform([&] { networkId = std::this_thread::get_id(); }, true);
  ASSERT_EQ(ended.get_future().wait_for(std::chrono::seconds(20)), std::future_status::ready);
  network->perform([&] {
    EXPECT_TRUE(recorder->finished);
    EXPECT_EQ(stringFromData(recorder->body), "hello");
    for (auto id : recorder->threads) EXPECT_EQ(id, networkId);
    connection.reset();
  }, true);
  network->cancel();
  network->join();
}

TEST_F(URLConnectionTest, RedirectIsTheDelegatesDecision) {
  server.route("GET", "/old", CannedResponse::redirect(302, "/new?from=old"));
  server.route("GET", "/new", CannedResponse::text("moved here"));

  auto follow = std::make_shared<Recorder>();
  load(URLRequest(server.url("/old")), follow);
  ASSERT_TRUE(follow->finished);
  ASSERT_EQ(follow->redirects.size(), 1u);
  EXPECT_EQ(follow->redirects[0].statusCode(), 302);
  EXPECT_EQ(follow->proposed[0].url(), server.url("/new?from=old"));
  EXPECT_EQ(follow->response->statusCode(), 200) << "only the final head reaches didReceiveResponse";
  EXPECT_EQ(follow->response->url(), server.url("/new?from=old"));
  EXPECT_EQ(stringFromData(follow->body), "moved here");
  EXPECT_EQ(follow->events, (std::vector<std::string>{"storage", "redirect", "response", "data", "cache", "finish"}));

  // A changed request is what goes on the wire.
  auto change = std::make_shared<Recorder>();
  change->onRedirect = [&](const URLRequest& r) {
    URLRequest changed = r;
    changed.setValueForHTTPHeaderField("1", "X-Redirected");
    return std::optional<URLRequest>(changed);
  };
  load(URLRequest(server.url("/old")), change);
  ASSERT_TRUE(change->finished);
  EXPECT_EQ(server.requests().back().headers.value("X-Redirected"), "1");

  // No request: the redirect answer itself is the result.
  std::size_t before = server.requestCount();
  auto stop = std::make_shared<Recorder>();
  stop->onRedirect = [](const URLRequest&) { return std::optional<URLRequest>(); };
  load(URLRequest(server.url("/old")), stop);
  ASSERT_TRUE(stop->finished);
  EXPECT_EQ(stop->response->statusCode(), 302);
  EXPECT_EQ(stop->response->valueForHTTPHeaderField("Location"), "/new?from=old");
  EXPECT_EQ(server.requestCount(), before + 1);
}

// The loader reads URLs with the same parser as the rest of the system: a URL that parser finds
// no host in is never handed to the transport, whose own reading could find one.
TEST_F(URLConnectionTest, HostlessURLsAreRefusedAtTheStartAndOnRedirect) {
  const std::string hostPort = "127.0.0.1:" + std::to_string(server.port());
  server.route("GET", "/old", CannedResponse::redirect(302, "http:x/..//" + hostPort + "/evil"));
  server.route("GET", "/evil", CannedResponse::text("should not be reached"));

  auto redirected = std::make_shared<Recorder>();
  load(URLRequest(server.url("/old")), redirected);
  ASSERT_TRUE(redirected->error);
  EXPECT_EQ(redirected->error->code, kURLErrorBadURL);
  ASSERT_EQ(redirected->proposed.size(), 1u);
  EXPECT_EQ(redirected->proposed[0].url(), "http:/.//" + hostPort + "/evil");

  auto direct = std::make_shared<Recorder>();
  load(URLRequest("http:/.//" + hostPort + "/evil"), direct);
  ASSERT_TRUE(direct->error);
  EXPECT_EQ(direct->error->code, kURLErrorBadURL);
  EXPECT_EQ(direct->events, (std::vector<std::string>{"fail"}));

  for (const RecordedRequest& r : server.requests()) EXPECT_NE(r.path, "/evil");
  EXPECT_EQ(server.requestCount(), 1u);
}

TEST_F(URLConnectionTest, SeeOtherAfterPostBecomesAGetWithoutBody) {
  server.route("POST", "/form", CannedResponse::redirect(303, "/result"));
  server.route("GET", "/result", CannedResponse::text("done"));
  URLRequest request(server.url("/form"));
  request.setHTTPMethod("POST");
  request.setValueForHTTPHeaderField("text/plain", "Content-Type");
  request.setHTTPBody(dataFromString("payload"));
  auto recorder = std::make_shared<Recorder>();
  load(request, recorder);
  ASSERT_TRUE(recorder->finished);
  auto log = server.requests();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[1].method, "GET");
  EXPECT_EQ(log[1].body, "");
  EXPECT_FALSE(log[1].headers.contains("Content-Type"));
}

TEST_F(URLConnectionTest, LargeBodyArrivesInSeveralDataCallbacks) {
  std::string big;
  for (int i = 0; i < 60 * 1024; ++i) big.push_back(static_cast<char>('a' + i % 26));
  CannedResponse answer;
  answer.chunks = {big.substr(0, 20000), big.substr(20000, 20000), big.substr(40000)};
  answer.chunkDelay = 0.02;
  server.route("GET", "/big", answer);
  auto recorder = std::make_shared<Recorder>();
  load(URLRequest(server.url("/big")), recorder);
  ASSERT_TRUE(recorder->finished);
  EXPECT_GT(recorder->dataCallbacks, 1);
  EXPECT_EQ(stringFromData(recorder->body), big);
  EXPECT_EQ(recorder->response->expectedContentLength(), -1) << "chunked answers have no length";
}

TEST_F(URLConnectionTest, GzipBodiesAreDecodedTransparently) {
  std::string plain(5000, 'z');
  Data packed(plain.size() + 64);
  z_stream z{};
  deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
  z.next_in = reinterpret_cast<Bytef*>(plain.data());
  z.avail_in = static_cast<uInt>(plain.size());
  z.next_out = packed.data();
  z.avail_out = static_cast<uInt>(packed.size());
  deflate(&z, Z_FINISH);
  packed.resize(z.total_out);
  deflateEnd(&z);
  CannedResponse answer = CannedResponse::text(stringFromData(packed));
  answer.headers.set("Content-Encoding", "gzip");
  server.route("GET", "/gz", answer);
  auto recorder = std::make_shared<Recorder>();
  load(URLRequest(server.url("/gz")), recorder);
  ASSERT_TRUE(recorder->finished);
  EXPECT_EQ(stringFromData(recorder->body), plain);
  EXPECT_TRUE(server.requests()[0].headers.value("Accept-Encoding").value_or("").find("gzip") != std::string::npos);
}

TEST_F(URLConnectionTest, FailuresCarryTheDomainCodeAndFailingURL) {
  CannedResponse stall = CannedResponse::text("late");
  stall.delay = 10;
  server.route("GET", "/stall", stall);
  URLRequest slow(server.url("/stall"));
  slow.setTimeoutInterval(0.5);
  auto timedOut = std::make_shared<Recorder>();
  load(slow, timedOut);
  ASSERT_TRUE(timedOut->error);
  EXPECT_EQ(timedOut->error->domain, kURLErrorDomain);
  EXPECT_EQ(timedOut->error->code, kURLErrorTimedOut);
  EXPECT_EQ(timedOut->error->failingURLString(), server.url("/stall"));
  EXPECT_FALSE(timedOut->response);

  std::string refusedURL = "http://127.0.0.1:" + std::to_string(HttpTestServer::refusedPort()) + "/x";
  auto refused = std::make_shared<Recorder>();
  load(URLRequest(refusedURL), refused);
  ASSERT_TRUE(refused->error);
  EXPECT_EQ(refused->error->code, kURLErrorCannotConnectToHost);
  EXPECT_EQ(refused->error->failingURLString(), refusedURL);
  EXPECT_EQ(refused->events, (std::vector<std::string>{"storage", "fail"}));

  testing::TcpTestPeer dropper("\r\n\r\n");
  std::string droppedURL = "http://127.0.0.1:" + std::to_string(dropper.port()) + "/drop";
  auto dropped = std::make_shared<Recorder>();
  load(URLRequest(droppedURL), dropped);
  ASSERT_TRUE(dropped->error);
  EXPECT_EQ(dropped->error->code, kURLErrorNetworkConnectionLost);

  auto unsupported = std::make_shared<Recorder>();
  load(URLRequest("ftp://127.0.0.1/file"), unsupported);
  ASSERT_TRUE(unsupported->error);
  EXPECT_EQ(unsupported->error->code, kURLErrorUnsupportedURL);
}

bool isInFlight(std::uint64_t serial) {
  for (const auto& load : URLConnection::loadsInFlight())
    if (load.serial == serial) return true;
  return false;
}

// A load is listed from its start until its delegate has heard the end, and leaves then, while
// whoever made it still holds the connection.
TEST_F(URLConnectionTest, ALoadLeavesTheLoadsInFlightOnceItsDelegateHeardTheEnd) {
  server.route("GET", "/ok", CannedResponse::text("ok"));
  const std::string refusedURL = "http://127.0.0.1:" + std::to_string(HttpTestServer::refusedPort()) + "/refused";
  for (const std::string& url : {server.url("/ok"), refusedURL, std::string("ftp://127.0.0.1/file")}) {
    auto recorder = std::make_shared<Recorder>();
    std::uint64_t serial = 0;
    bool listedAtTheEnd = false;
    recorder->onEnd = [&] { listedAtTheEnd = isInFlight(serial); };
    auto connection = URLConnection::create(URLRequest(url), recorder);
    serial = URLConnection::lastLoadSerial();
    EXPECT_TRUE(isInFlight(serial)) << url;
    EXPECT_TRUE(RunLoop::current()->runUntil([&] { return recorder->done(); }, 20)) << url;
    EXPECT_EQ(recorder->error.has_value(), url != server.url("/ok")) << url;
    EXPECT_TRUE(listedAtTheEnd) << url;
    EXPECT_FALSE(isInFlight(serial)) << url;
  }

  CannedResponse stall = CannedResponse::text("late");
  stall.delay = 10;
  server.route("GET", "/stall", stall);
  auto cancelled = URLConnection::create(URLRequest(server.url("/stall")), std::make_shared<Recorder>());
  std::uint64_t serial = URLConnection::lastLoadSerial();
  ASSERT_TRUE(RunLoop::current()->runUntil([&] { return server.requests().size() == 2; }, 20));
  EXPECT_TRUE(isInFlight(serial));
  cancelled->cancel();
  EXPECT_FALSE(isInFlight(serial));
}

TEST_F(URLConnectionTest, NoCallbackFollowsCancel) {
  std::atomic<bool> serverDone{false};
  CannedResponse slow;
  slow.chunks = {"first", "second", "third"};
  slow.chunkDelay = 0.1;
  server.route("GET", "/slow", [&](const RecordedRequest&) { return slow; });
  server.route("GET", "/after", [&](const RecordedRequest&) {
    serverDone = true;
    return CannedResponse::text("ok");
  });
  auto recorder = std::make_shared<Recorder>();
  recorder->onData = [](URLConnection& c) { c.cancel(); };
  auto connection = URLConnection::create(URLRequest(server.url("/slow")), recorder);
  ASSERT_TRUE(RunLoop::current()->runUntil([&] { return recorder->dataCallbacks > 0; }, 20));
  // The other chunks are written while the loop keeps running for a second load.
  auto later = std::make_shared<Recorder>();
  URLConnection::create(URLRequest(server.url("/after")), later);
  ASSERT_TRUE(RunLoop::current()->runUntil([&] { return later->done() && serverDone; }, 20));
  RunLoop::current()->runUntil([] { return false; }, 0.4);
  EXPECT_EQ(recorder->dataCallbacks, 1);
  EXPECT_EQ(recorder->events, (std::vector<std::string>{"storage", "response", "data"}));

  // Cancelled before it ran: nothing at all.
  auto never = std::make_shared<Recorder>();
  auto c = URLConnection::create(URLRequest(server.url("/slow")), never);
  c->cancel();
  RunLoop::current()->runUntilIdle();
  EXPECT_TRUE(never->events.empty());
}

TEST_F(URLConnectionTest, StreamedUploadReportsProgressAgainstTheDeclaredLength) {
  server.route("POST", "/upload", CannedResponse::text("stored"));
  std::string payload(200 * 1024, 'u');
  URLRequest request(server.url("/upload"));
  request.setHTTPMethod("POST");
  request.setValueForHTTPHeaderField(std::to_string(payload.size()), "Content-Length");
  request.setValueForHTTPHeaderField("application/octet-stream", "Content-Type");
  request.setHTTPBodyStream(InputStream::withData(dataFromString(payload)));
  auto recorder = std::make_shared<Recorder>();
  load(request, recorder);
  ASSERT_TRUE(recorder->finished) << (recorder->error ? recorder->error->localizedDescription() : "");
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(recorder->lastTotalWritten, static_cast<std::int64_t>(payload.size()));
  EXPECT_EQ(recorder->sumWritten, static_cast<std::int64_t>(payload.size()));
  EXPECT_EQ(recorder->lastExpected, static_cast<std::int64_t>(payload.size()));
  EXPECT_EQ(server.requests()[0].body.size(), payload.size());
  EXPECT_EQ(recorder->events, (std::vector<std::string>{"storage", "sent", "response", "data", "finish"}))
      << "every upload report comes before the answer";

  // Without a declared length the body goes out chunked and the total is unknown.
  URLRequest chunked(server.url("/upload"));
  chunked.setHTTPMethod("POST");
  chunked.setHTTPBodyStream(InputStream::withData(dataFromString("abc123")));
  auto second = std::make_shared<Recorder>();
  load(chunked, second);
  ASSERT_TRUE(second->finished);
  EXPECT_EQ(second->lastExpected, -1);
  ASSERT_EQ(server.requests().size(), 2u);
  EXPECT_EQ(server.requests()[1].body, "abc123");
  EXPECT_EQ(server.requests()[1].headers.value("Transfer-Encoding"), "chunked");
}

// A body stream that gives some bytes (or none) and then fails to read.
class BreakingStream : public InputStream {
 public:
  explicit BreakingStream(std::size_t goodBytes) : left_(goodBytes) {}
  long read(std::uint8_t* buffer, std::size_t maxLength) override {
    if (left_ == 0) {
      fail(Error("DiskErrorDomain", 5, Dictionary{{kErrorDescriptionKey, Value("the disk went away")}}));
      return -1;
    }
    std::size_t n = std::min(left_, maxLength);
    std::memset(buffer, 'b', n);
    left_ -= n;
    return static_cast<long>(n);
  }

 private:
  std::size_t left_;
};

// A body that breaks off fails the load as a body that could not be sent, never as a cancel the
// caller did not make (callers pass over cancels in silence), whether the load waits or not.
TEST_F(URLConnectionTest, ABodyStreamThatBreaksFailsTheLoadAndIsNoCancel) {
  server.route("POST", "/upload", CannedResponse::text("stored"));
  server.route("PUT", "/upload", CannedResponse::text("stored"));
  for (const char* method : {"POST", "PUT"}) {
    for (std::size_t goodBytes : {std::size_t{0}, std::size_t{100000}}) {
      for (bool declared : {true, false}) {
        URLRequest request(server.url("/upload"));
        request.setHTTPMethod(method);
        if (declared) request.setValueForHTTPHeaderField("200000", "Content-Length");
        request.setHTTPBodyStream(std::make_shared<BreakingStream>(goodBytes));
        std::string road =
            std::string(method) + " after " + std::to_string(goodBytes) + (declared ? " of 200000" : " chunked");

        auto recorder = std::make_shared<Recorder>();
        load(request, recorder);
        ASSERT_TRUE(recorder->error) << road;
        EXPECT_FALSE(recorder->finished) << road;
        EXPECT_EQ(recorder->error->domain, kURLErrorDomain) << road;
        EXPECT_EQ(recorder->error->code, kURLErrorRequestBodyStreamExhausted) << road;
        EXPECT_NE(recorder->error->localizedDescription().find("the disk went away"), std::string::npos) << road;

        request.setHTTPBodyStream(std::make_shared<BreakingStream>(goodBytes));
        HTTPURLResponse response;
        Error error;
        EXPECT_FALSE(URLConnection::sendSynchronousRequest(request, &response, &error)) << road;
        EXPECT_EQ(error.code, kURLErrorRequestBodyStreamExhausted) << road;
      }
    }
  }
}

TEST_F(URLConnectionTest, MultipartBodiesAreParsedByTheServer) {
  server.route("POST", "/form", CannedResponse::text("ok"));
  std::string b = "XyZ";
  std::string body = "--" + b + "\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\nx\r\n--" + b +
                     "\r\nContent-Disposition: form-data; name=\"f\"; filename=\"p.png\"\r\nContent-Type: image/png\r\n\r\nPNG\r\n--" +
                     b + "--\r\n";
  URLRequest request(server.url("/form"));
  request.setHTTPMethod("POST");
  request.setValueForHTTPHeaderField("multipart/form-data; boundary=" + b, "Content-Type");
  request.setHTTPBody(dataFromString(body));
  auto recorder = std::make_shared<Recorder>();
  load(request, recorder);
  ASSERT_TRUE(recorder->finished);
  auto log = server.requests();
  ASSERT_EQ(log.size(), 1u);
  ASSERT_NE(log[0].part("a"), nullptr);
  EXPECT_EQ(log[0].part("a")->content, "x");
  ASSERT_NE(log[0].part("f"), nullptr);
  EXPECT_EQ(log[0].part("f")->filename, "p.png");
  EXPECT_EQ(log[0].part("f")->contentType, "image/png");
  EXPECT_EQ(log[0].part("f")->content, "PNG");
}

TEST_F(URLConnectionTest, CookiesAreStoredAndSentOnlyWhenTheRequestAsks) {
  CannedResponse setter = CannedResponse::text("set");
  setter.headers.set("Set-Cookie", "sid=42; Path=/");
  server.route("GET", "/login", setter);
  server.route("GET", "/page", CannedResponse::text("page"));

  URLRequest noCookies(server.url("/login"));
  noCookies.setHTTPShouldHandleCookies(false);
  load(noCookies, std::make_shared<Recorder>());
  EXPECT_TRUE(HTTPCookieStorage::shared().cookies().empty());

  load(URLRequest(server.url("/login")), std::make_shared<Recorder>());
  load(URLRequest(server.url("/page")), std::make_shared<Recorder>());
  URLRequest withoutSending(server.url("/page"));
  withoutSending.setHTTPShouldHandleCookies(false);
  load(withoutSending, std::make_shared<Recorder>());
  auto log = server.requests();
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[2].headers.value("Cookie"), "sid=42");
  EXPECT_FALSE(log[3].headers.contains("Cookie"));
}

TEST_F(URLConnectionTest, SynchronousRequestBlocksTheCallerAndFollowsRedirects) {
  server.route("GET", "/a", CannedResponse::redirect(301, "/b"));
  server.route("GET", "/b", CannedResponse::text("bee", 404));
  HTTPURLResponse response;
  Error error;
  std::optional<Data> body;
  std::thread worker([&] { body = URLConnection::sendSynchronousRequest(URLRequest(server.url("/a")), &response, &error); });
  worker.join();
  ASSERT_TRUE(body);
  EXPECT_EQ(stringFromData(*body), "bee");
  EXPECT_EQ(response.statusCode(), 404) << "a status is not a transport failure";

  std::string refusedURL = "http://127.0.0.1:" + std::to_string(HttpTestServer::refusedPort()) + "/";
  EXPECT_FALSE(URLConnection::sendSynchronousRequest(URLRequest(refusedURL), nullptr, &error));
  EXPECT_EQ(error.code, kURLErrorCannotConnectToHost);
}

TEST_F(URLConnectionTest, BasicChallengesAreAnsweredByTheDelegate) {
  server.route("GET", "/private", [](const RecordedRequest& r) {
    if (r.headers.value("Authorization") == "Basic dXNlcjpzZWNyZXQ=") return CannedResponse::text("welcome");
    CannedResponse no = CannedResponse::text("who are you", 401);
    no.headers.set("WWW-Authenticate", "Basic realm=\"news\"");
    return no;
  });
  class Answering : public Recorder {
   public:
    std::string password;
    std::vector<int> failures;
    std::vector<std::string> realms;
    void didReceiveAuthenticationChallenge(URLConnection&, URLAuthenticationChallenge& c) override {
      note("challenge");
      failures.push_back(c.previousFailureCount());
      realms.push_back(c.protectionSpace().realm);
      EXPECT_EQ(c.protectionSpace().authenticationMethod, kAuthenticationMethodHTTPBasic);
      if (c.previousFailureCount() == 0)
        c.useCredential(URLCredential::withUser("user", password, URLCredential::Persistence::ForSession));
      else
        c.continueWithoutCredential();
    }
  };
  auto right = std::make_shared<Answering>();
  right->password = "secret";
  load(URLRequest(server.url("/private")), right);
  ASSERT_TRUE(right->finished);
  EXPECT_EQ(right->response->statusCode(), 200);
  EXPECT_EQ(stringFromData(right->body), "welcome");
  EXPECT_EQ(right->realms, (std::vector<std::string>{"news"}));

  auto wrong = std::make_shared<Answering>();
  wrong->password = "guess";
  load(URLRequest(server.url("/private")), wrong);
  ASSERT_TRUE(wrong->finished);
  EXPECT_EQ(wrong->failures, (std::vector<int>{0, 1}));
  EXPECT_EQ(wrong->response->statusCode(), 401) << "given up: the refusal is the answer";
  EXPECT_EQ(stringFromData(wrong->body), "who are you");

  // A delegate that ignores challenges just gets the 401.
  auto plain = std::make_shared<Recorder>();
  load(URLRequest(server.url("/private")), plain);
  ASSERT_TRUE(plain->finished);
  EXPECT_EQ(plain->response->statusCode(), 401);
}

TEST_F(URLConnectionTest, UntrustedCertificatesFailUnlessTheCallerAcceptsAnyCertificate) {
  HttpTestServer secure(true);
  secure.route("GET", "/s", CannedResponse::text("secret"));

  auto verified = std::make_shared<Recorder>();
  load(URLRequest(secure.url("/s")), verified);
  ASSERT_TRUE(verified->error);
  EXPECT_EQ(verified->error->code, kURLErrorServerCertificateUntrusted);
  EXPECT_EQ(secure.requestCount(), 0u);

  auto flagged = std::make_shared<Recorder>();
  auto connection = URLConnection::create(URLRequest(secure.url("/s")), flagged, false);
  connection->setAllowsAnyCertificate(true);
  connection->start();
  ASSERT_TRUE(RunLoop::current()->runUntil([&] { return flagged->done(); }, 20));
  ASSERT_TRUE(flagged->finished);
  EXPECT_EQ(stringFromData(flagged->body), "secret");

  // The accepted connection may be kept alive, but a verifying load never rides on it.
  auto again = std::make_shared<Recorder>();
  load(URLRequest(secure.url("/s")), again);
  ASSERT_TRUE(again->error);
  EXPECT_EQ(again->error->code, kURLErrorServerCertificateUntrusted);

  class Trusting : public Recorder {
   public:
    bool canAuthenticateAgainstProtectionSpace(URLConnection&, const URLProtectionSpace& s) override {
      return s.authenticationMethod == kAuthenticationMethodServerTrust;
    }
    void didReceiveAuthenticationChallenge(URLConnection&, URLAuthenticationChallenge& c) override {
      note("challenge");
      c.useCredential(URLCredential::forTrust());
    }
  };
  auto trusting = std::make_shared<Trusting>();
  load(URLRequest(secure.url("/s")), trusting);
  ASSERT_TRUE(trusting->finished);
  EXPECT_EQ(trusting->events.front(), "challenge");
  EXPECT_EQ(stringFromData(trusting->body), "secret");
}

TEST_F(URLConnectionTest, ADelegateThatGoesAwayEndsNothingBadly) {
  CannedResponse answer = CannedResponse::text("body");
  answer.delay = 0.1;
  server.route("GET", "/d", answer);
  auto recorder = std::make_shared<Recorder>();
  std::weak_ptr<URLConnection> weak = URLConnection::create(URLRequest(server.url("/d")), recorder);
  recorder.reset();
  EXPECT_FALSE(weak.expired()) << "a started connection keeps itself alive";
  ASSERT_TRUE(RunLoop::current()->runUntil([&] { return weak.expired(); }, 20));
}

// Credentials belong to their origin: neither the caller's Authorization header nor a credential
// given for a 401 may follow a redirect to another scheme, host or port.
TEST_F(URLConnectionTest, CredentialsStayWithTheirOrigin) {
  HttpTestServer elsewhere;
  elsewhere.route("GET", "/land", CannedResponse::text("landed"));
  server.route("GET", "/away", CannedResponse::redirect(302, elsewhere.url("/land")));
  server.route("GET", "/near", CannedResponse::redirect(302, "/here"));
  server.route("GET", "/here", CannedResponse::text("here"));
  server.route("GET", "/private", [&](const RecordedRequest& r) {
    if (r.headers.value("Authorization") == "Basic dXNlcjpzZWNyZXQ=") return CannedResponse::redirect(302, elsewhere.url("/land"));
    CannedResponse no = CannedResponse::text("who are you", 401);
    no.headers.set("WWW-Authenticate", "Basic realm=\"news\"");
    return no;
  });

  URLRequest away(server.url("/away"));
  away.setValueForHTTPHeaderField("Bearer token", "Authorization");
  auto first = std::make_shared<Recorder>();
  load(away, first);
  ASSERT_TRUE(first->finished);
  ASSERT_EQ(elsewhere.requests().size(), 1u);
  EXPECT_FALSE(elsewhere.requests()[0].headers.contains("Authorization"));

  URLRequest near(server.url("/near"));
  near.setValueForHTTPHeaderField("Bearer token", "Authorization");
  load(near, std::make_shared<Recorder>());
  EXPECT_EQ(server.requests().back().headers.value("Authorization"), "Bearer token") << "the same origin keeps it";

  class Answering : public Recorder {
   public:
    void didReceiveAuthenticationChallenge(URLConnection&, URLAuthenticationChallenge& c) override {
      c.useCredential(URLCredential::withUser("user", "secret", URLCredential::Persistence::ForSession));
    }
  };
  auto answering = std::make_shared<Answering>();
  load(URLRequest(server.url("/private")), answering);
  ASSERT_TRUE(answering->finished);
  EXPECT_EQ(stringFromData(answering->body), "landed");
  ASSERT_EQ(elsewhere.requests().size(), 2u);
  EXPECT_FALSE(elsewhere.requests()[1].headers.contains("Authorization")) << "the credential was given for the first origin";
}

// Answers one request on a raw TCP peer with `answer` and closes; what the connection made of it.
std::shared_ptr<Recorder> loadRawAnswer(const std::string& answer) {
  testing::TcpTestPeer peer;
  auto recorder = std::make_shared<Recorder>();
  auto connection = URLConnection::create(URLRequest("http://127.0.0.1:" + std::to_string(peer.port()) + "/raw"), recorder);
  EXPECT_TRUE(RunLoop::current()->runUntil(
      [&] {
        auto bytes = peer.received();
        return std::string(bytes.begin(), bytes.end()).find("\r\n\r\n") != std::string::npos;
      },
      20));
  peer.write(Data(answer.begin(), answer.end()));
  peer.closeConnection();
  EXPECT_TRUE(RunLoop::current()->runUntil([&] { return recorder->done(); }, 20));
  return recorder;
}

std::string gzipped(const std::string& plain) {
  Data packed(plain.size() + 64);
  z_stream z{};
  deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(plain.data()));
  z.avail_in = static_cast<uInt>(plain.size());
  z.next_out = packed.data();
  z.avail_out = static_cast<uInt>(packed.size());
  deflate(&z, Z_FINISH);
  packed.resize(z.total_out);
  deflateEnd(&z);
  return std::string(packed.begin(), packed.end());
}

std::string zlibWrapped(const std::string& plain) {
  uLongf size = compressBound(static_cast<uLong>(plain.size()));
  std::string packed(size, '\0');
  compress(reinterpret_cast<Bytef*>(packed.data()), &size, reinterpret_cast<const Bytef*>(plain.data()),
           static_cast<uLong>(plain.size()));
  packed.resize(size);
  return packed;
}

// A chunked body, one chunk a piece, as a server that flushes early sends it.
std::string chunked(const std::vector<std::string>& pieces) {
  std::string out;
  char size[32];
  for (const std::string& piece : pieces) {
    std::snprintf(size, sizeof size, "%zx\r\n", piece.size());
    out += size + piece + "\r\n";
  }
  return out + "0\r\n\r\n";
}

std::string answerWith(const std::string& head, const std::string& body) {
  return head + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

TEST_F(URLConnectionTest, AnswersThatCannotBeReadAreBadServerResponses) {
  for (const std::string& answer : {std::string("garbage that is no status line\r\n\r\nbody"),
                                    std::string("HTTP/1.1 2x0 OK\r\nContent-Length: 2\r\n\r\nok"),
                                    std::string("HTTP/1.1 200 OK\r\nContent-Length: 2\r\nContent-Length: 4\r\n\r\nokok"),
                                    std::string("HTTP/1.1 200 OK\r\nContent-Length: 2, 4\r\n\r\nokok")}) {
    auto recorder = loadRawAnswer(answer);
    ASSERT_TRUE(recorder->error) << answer;
    EXPECT_EQ(recorder->error->code, kURLErrorBadServerResponse) << answer;
    EXPECT_FALSE(recorder->response) << answer;
  }
  // Repeating the same length is harmless.
  auto same = loadRawAnswer("HTTP/1.1 200 OK\r\nContent-Length: 2\r\nContent-Length: 2\r\n\r\nok");
  ASSERT_TRUE(same->finished);
  EXPECT_EQ(stringFromData(same->body), "ok");
}

TEST_F(URLConnectionTest, AGzipBodyCutShortOrWithABadCheckSumIsAnError) {
  std::string plain(5000, 'z');
  for (char& c : plain) c = static_cast<char>('a' + (&c - plain.data()) * 7 % 26);
  std::string packed = gzipped(plain);
  const std::string head = "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Type: text/plain\r\n";

  auto whole = loadRawAnswer(answerWith(head, packed));
  ASSERT_TRUE(whole->finished);
  EXPECT_EQ(stringFromData(whole->body), plain);

  // Without its 8-byte trailer, under a Content-Length that matches what was sent.
  auto cut = loadRawAnswer(answerWith(head, packed.substr(0, packed.size() - 8)));
  ASSERT_TRUE(cut->error);
  EXPECT_EQ(cut->error->code, kURLErrorCannotDecodeContentData);

  std::string badSum = packed;
  badSum[badSum.size() - 6] ^= 0x55;  // inside the CRC-32 of the trailer
  auto damaged = loadRawAnswer(answerWith(head, badSum));
  ASSERT_TRUE(damaged->error);
  EXPECT_EQ(damaged->error->code, kURLErrorCannotDecodeContentData);

  // A raw deflate stream (no zlib wrapper) under "deflate" still reads.
  Data raw(plain.size() + 64);
  z_stream z{};
  deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  z.next_in = reinterpret_cast<Bytef*>(plain.data());
  z.avail_in = static_cast<uInt>(plain.size());
  z.next_out = raw.data();
  z.avail_out = static_cast<uInt>(raw.size());
  deflate(&z, Z_FINISH);
  raw.resize(z.total_out);
  deflateEnd(&z);
  std::string rawText(raw.begin(), raw.end());
  auto deflated = loadRawAnswer(answerWith("HTTP/1.1 200 OK\r\nContent-Encoding: deflate\r\n", rawText));
  ASSERT_TRUE(deflated->finished);
  EXPECT_EQ(stringFromData(deflated->body), plain);
  // Either form of "deflate" whose first piece is one byte: the wrapper shows only in two.
  std::string wrapped = zlibWrapped(plain);
  for (const std::string& coded : {rawText, wrapped}) {
    auto trickled = loadRawAnswer("HTTP/1.1 200 OK\r\nContent-Encoding: deflate\r\nTransfer-Encoding: chunked\r\n\r\n" +
                                  chunked({coded.substr(0, 1), coded.substr(1, 1), coded.substr(2)}));
    ASSERT_TRUE(trickled->finished) << (trickled->error ? trickled->error->localizedDescription() : "");
    EXPECT_EQ(stringFromData(trickled->body), plain);
  }

  // A coding the loader does not know (an enciphered upload answer) reaches the caller untouched,
  // gzip layer and all, for its own reader to undo.
  auto foreign = loadRawAnswer(answerWith("HTTP/1.1 200 OK\r\nContent-Encoding: rc4,gzip\r\n", packed));
  ASSERT_TRUE(foreign->finished);
  EXPECT_EQ(stringFromData(foreign->body), packed);
}

// Deflates `plain` with the given window bits: -15 raw, 15 zlib-wrapped, 31 gzip.
std::string deflated(const std::string& plain, int windowBits) {
  std::string packed(compressBound(static_cast<uLong>(plain.size())) + 64, '\0');
  z_stream z{};
  deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY);
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(plain.data()));
  z.avail_in = static_cast<uInt>(plain.size());
  z.next_out = reinterpret_cast<Bytef*>(packed.data());
  z.avail_out = static_cast<uInt>(packed.size());
  deflate(&z, Z_FINISH);
  packed.resize(z.total_out);
  deflateEnd(&z);
  return packed;
}

// A long run of one byte codes into a few dozen bytes whose matches end on the window's and the
// decode buffer's edges: the whole body must come out however the coded bytes arrive.
TEST_F(URLConnectionTest, EveryValidCodedBodyLoadsWholeWhateverItsLength) {
  struct Form {
    const char* coding;
    int windowBits;
  };
  const Form forms[] = {{"deflate", -15}, {"deflate", 15}, {"gzip", 31}};
  const std::size_t lengths[] = {1,     16383, 16384, 16385, 32767, 32768, 32769,
                                 32770, 40000, 65535, 65536, 65537, 98304, 98305};
  for (const Form& form : forms) {
    for (std::size_t length : lengths) {
      const std::string plain(length, 'a');
      const std::string coded = deflated(plain, form.windowBits);
      const std::string head = std::string("HTTP/1.1 200 OK\r\nContent-Encoding: ") + form.coding + "\r\n";
      // All at once, one coded byte a chunk, and the last byte apart from the rest.
      std::vector<std::string> bytewise;
      for (char c : coded) bytewise.emplace_back(1, c);
      const std::string answers[] = {
          answerWith(head, coded),
          head + "Transfer-Encoding: chunked\r\n\r\n" + chunked(bytewise),
          head + "Transfer-Encoding: chunked\r\n\r\n" +
              chunked({coded.substr(0, coded.size() - 1), coded.substr(coded.size() - 1)}),
      };
      for (const std::string& answer : answers) {
        auto recorder = loadRawAnswer(answer);
        ASSERT_TRUE(recorder->finished) << form.coding << " " << form.windowBits << " of " << length << " bytes ("
                                        << coded.size() << " coded): "
                                        << (recorder->error ? recorder->error->localizedDescription() : "");
        EXPECT_EQ(recorder->body.size(), length);
        EXPECT_TRUE(stringFromData(recorder->body) == plain);
      }
    }
  }
}

// Decoders take up what earlier bodies left, a damaged one's included: each body still decodes
// whole, whatever coding came before it.
TEST_F(URLConnectionTest, ACodedBodyAfterADamagedOneOfAnotherCodingDecodesWhole) {
  const std::string plain(50000, 'b');
  const std::string gzip = deflated(plain, 31), raw = deflated(plain, -15), wrapped = deflated(plain, 15);
  std::string damaged = gzip;
  damaged[damaged.size() / 2] ^= 0x5a;
  const std::pair<const char*, std::string> bodies[] = {{"gzip", damaged}, {"deflate", raw},     {"gzip", gzip},
                                                        {"deflate", wrapped}, {"gzip", damaged}, {"deflate", raw}};
  for (const auto& [coding, coded] : bodies) {
    auto recorder = loadRawAnswer(answerWith(std::string("HTTP/1.1 200 OK\r\nContent-Encoding: ") + coding + "\r\n", coded));
    if (coded == damaged) {
      EXPECT_FALSE(recorder->finished);
      continue;
    }
    ASSERT_TRUE(recorder->finished) << coding << ": " << (recorder->error ? recorder->error->localizedDescription() : "");
    EXPECT_TRUE(stringFromData(recorder->body) == plain) << coding;
  }
}

TEST_F(URLConnectionTest, EachSetCookieLineIsOneCookie) {
  // Joined with ", " the bad second line would become part of the first cookie's value.
  loadRawAnswer("HTTP/1.1 200 OK\r\nSet-Cookie: good=1\r\nSet-Cookie: bad value; x=y\r\n"
                "Set-Cookie: late=2; Expires=Wed, 09 Jun 2100 10:18:14 GMT\r\nContent-Length: 0\r\n\r\n");
  auto cookies = HTTPCookieStorage::shared().cookies();
  ASSERT_EQ(cookies.size(), 2u);
  EXPECT_EQ(cookies[0].name, "good");
  EXPECT_EQ(cookies[0].value, "1");
  EXPECT_EQ(cookies[1].name, "late");
  EXPECT_TRUE(cookies[1].expiresDate);
}

TEST_F(URLConnectionTest, TheAnswerKeepsEachReceivedLineOfAField) {
  // No name twice: each field is its one line.
  auto single = loadRawAnswer("HTTP/1.1 200 OK\r\nX-One: 1\r\nWarning: 199 - \"a, b\"\r\nContent-Length: 0\r\n\r\n");
  ASSERT_TRUE(single->response);
  EXPECT_EQ(single->response->valuesForHTTPHeaderField("x-one"), std::vector<std::string>{"1"});
  EXPECT_EQ(single->response->valuesForHTTPHeaderField("Warning"), std::vector<std::string>{"199 - \"a, b\""});
  EXPECT_TRUE(single->response->valuesForHTTPHeaderField("X-None").empty());
  // A name that comes again: the fields join its lines, and each line stays apart, those before
  // and after the repeat too.
  auto repeated = loadRawAnswer(
      "HTTP/1.1 200 OK\r\nX-One: 1\r\nX-Two: a\r\nX-Two: b\r\nX-Three: 3\r\nX-Two: c\r\nContent-Length: 0\r\n\r\n");
  ASSERT_TRUE(repeated->response);
  EXPECT_EQ(repeated->response->valueForHTTPHeaderField("X-Two"), "a, b, c");
  EXPECT_EQ(repeated->response->valuesForHTTPHeaderField("X-Two"), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(repeated->response->valuesForHTTPHeaderField("X-One"), std::vector<std::string>{"1"});
  EXPECT_EQ(repeated->response->valuesForHTTPHeaderField("X-Three"), std::vector<std::string>{"3"});
  // An answer made here rather than read has no received lines.
  EXPECT_TRUE(HTTPURLResponse("http://h.test/", 200, {{"X-One", "1"}}).valuesForHTTPHeaderField("X-One").empty());
}

TEST_F(URLConnectionTest, AServerSettingANewCookieWithEveryAnswerFillsTheJarOnlyToItsBounds) {
  // Each answer sets a cookie of a name never seen before, and every tenth one a cookie too large
  // to keep: a jar that kept them all would send every one of them back on each request.
  std::atomic<int> answered{0};
  server.route("GET", "/feed", [&](const RecordedRequest&) {
    const int n = answered++;
    CannedResponse answer = CannedResponse::text("ok");
    if (n % 10 == 9)
      answer.headers.set("Set-Cookie", "huge" + std::to_string(n) + "=" + std::string(5000, 'h') + "; Path=/");
    else
      answer.headers.set("Set-Cookie", "c" + std::to_string(n) + "=" + std::string(100, 'v') + "; Path=/");
    return answer;
  });
  const int loads = 150;
  for (int i = 0; i < loads; ++i) {
    auto recorder = std::make_shared<Recorder>();
    load(URLRequest(server.url("/feed")), recorder);
    ASSERT_TRUE(recorder->finished) << i;
    ASSERT_EQ(recorder->response->statusCode(), 200) << i;
  }
  auto kept = HTTPCookieStorage::shared().cookies();
  ASSERT_EQ(kept.size(), HTTPCookieStorage::kMaxCookiesPerDomain);
  EXPECT_EQ(kept.back().name, "c" + std::to_string(loads - 2)) << "the newest stays";
  for (const auto& cookie : kept) EXPECT_EQ(cookie.name.front(), 'c') << "a cookie past the size bound is refused";
  auto log = server.requests();
  ASSERT_EQ(log.size(), static_cast<std::size_t>(loads));
  const std::string sent = log.back().headers.value("Cookie").value_or("");
  EXPECT_EQ(std::count(sent.begin(), sent.end(), '='), static_cast<long>(HTTPCookieStorage::kMaxCookiesPerDomain));
  EXPECT_EQ(sent.find("c0="), std::string::npos) << "the oldest went";
}

}  // namespace
}  // namespace os
