#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>
#include <poll.h>

#include "foundation/http/TLHTTPRequestOperation.h"
#include "foundation/tests/http/HTTPTestSupport.h"
#include "os/net/URLError.h"
#include "os/runtime/DispatchQueue.h"
#include "os/runtime/NotificationCenter.h"
#include "os/runtime/OperationQueue.h"
#include "os/runtime/Thread.h"
#include "os/runtime/WakeFlag.h"
#include "os/testing/NotificationCounter.h"
#include "os/testing/TcpTestPeer.h"

using os::testing::CannedResponse;
using os::testing::HttpTestServer;
using os::testing::RecordedRequest;

namespace {

struct Outcome {
  std::atomic<int> successes{0}, failures{0};
  os::Value object;
  std::optional<os::Error> error;
  bool onMainThread = false;
  bool onChosenQueue = false;
  bool done() const { return successes + failures > 0; }
};

void observe(const std::shared_ptr<TLHTTPRequestOperation>& op, Outcome& out,
             std::shared_ptr<os::DispatchQueue> chosen = nullptr) {
  op->setCompletionBlockWithSuccess(
      [&out, chosen](const TLHTTPRequestOperation::Pointer&, const os::Value& object) {
        out.onMainThread = os::RunLoop::isMainThread();
        out.onChosenQueue = chosen && chosen->isCurrent();
        out.object = object;
        ++out.successes;
      },
      [&out](const TLHTTPRequestOperation::Pointer&, const os::Error& error) {
        out.onMainThread = os::RunLoop::isMainThread();
        out.error = error;
        ++out.failures;
      });
}

std::shared_ptr<TLHTTPRequestOperation> startWithOutcome(const std::string& url, Outcome& out) {
  auto op = TLHTTPRequestOperation::create(os::URLRequest(url));
  observe(op, out);
  op->start();
  return op;
}

std::string text(const os::Data& d) { return std::string(d.begin(), d.end()); }

// The start and finish broadcasts of one operation, in the order they came, from any thread.
class Broadcasts {
 public:
  explicit Broadcasts(const TLHTTPRequestOperation& op)
      : started_(kTLNetworkingOperationDidStartNotification, note(), &op),
        finished_(kTLNetworkingOperationDidFinishNotification, note(), &op) {}
  int started() const { return started_.count(); }
  int finished() const { return finished_.count(); }
  std::vector<std::string> names() const {
    std::lock_guard lock(mutex_);
    return names_;
  }

 private:
  std::function<void(const os::Notification&)> note() {
    return [this](const os::Notification& n) {
      std::lock_guard lock(mutex_);
      names_.push_back(n.name);
    };
  }
  mutable std::mutex mutex_;
  std::vector<std::string> names_;
  os::testing::NotificationCounter started_, finished_;
};

const std::vector<std::string> kStartThenFinish{kTLNetworkingOperationDidStartNotification,
                                                kTLNetworkingOperationDidFinishNotification};

// A subclass with settings of its own, to change class-level settings without touching the base.
class LenientOperation : public TLHTTPRequestOperation {
 public:
  using TLHTTPRequestOperation::TLHTTPRequestOperation;
  static TLHTTPOperationClass& operationClass() {
    static TLHTTPOperationClass cls("LenientOperation", &TLHTTPRequestOperation::operationClass(),
                                    [](const os::URLRequest& r) { return std::make_shared<LenientOperation>(r); });
    return cls;
  }
  const TLHTTPOperationClass& objectClass() const override { return operationClass(); }
};

TEST(TLHTTPRequestOperationTest, NotFoundFailsWithExpectedCodesAndBodyAsSuggestion) {
  HttpTestServer server;
  server.route("GET", "/missing", CannedResponse::text("no such page", 404));
  Outcome out;
  auto op = startWithOutcome(server.url("/missing"), out);
  ASSERT_TRUE(httptest::runUntil([&] { return out.done(); }));
  EXPECT_EQ(out.failures, 1);
  EXPECT_EQ(out.successes, 0);
  EXPECT_TRUE(out.onMainThread);
  ASSERT_TRUE(out.error);
  EXPECT_EQ(out.error->domain, "TLNetworkingErrorDomain");
  EXPECT_EQ(out.error->code, -1011);
  EXPECT_EQ(out.error->localizedDescription(), "Expected status code in (200-299), got 404");
  EXPECT_EQ(out.error->localizedRecoverySuggestion(), "no such page");
  EXPECT_EQ(out.error->failingURLString(), server.url("/missing"));
}

TEST(TLHTTPRequestOperationTest, AddedStatusCodesHoldForTheClassAndItsDescription) {
  LenientOperation::operationClass().addAcceptableStatusCodes({404});
  EXPECT_EQ(TLStatusCodeRangesDescription(*LenientOperation::operationClass().acceptableStatusCodes()), "200-299,404");
  // The parent keeps its own answer.
  EXPECT_EQ(TLStatusCodeRangesDescription(*TLHTTPRequestOperation::acceptableStatusCodes()), "200-299");

  HttpTestServer server;
  server.route("GET", "/missing", CannedResponse::text("gone", 404));
  server.route("GET", "/broken", CannedResponse::text("oops", 500));
  Outcome notFound, broken;
  auto a = std::make_shared<LenientOperation>(os::URLRequest(server.url("/missing")));
  auto b = std::make_shared<LenientOperation>(os::URLRequest(server.url("/broken")));
  observe(a, notFound);
  observe(b, broken);
  a->start();
  b->start();
  ASSERT_TRUE(httptest::runUntil([&] { return notFound.done() && broken.done(); }));
  EXPECT_EQ(notFound.successes, 1);
  EXPECT_EQ(text(*notFound.object.data()), "gone");
  ASSERT_EQ(broken.failures, 1);
  EXPECT_EQ(broken.error->localizedDescription(), "Expected status code in (200-299,404), got 500");
}

TEST(TLHTTPRequestOperationTest, NoContentSucceedsWithEmptyData) {
  HttpTestServer server;
  CannedResponse empty;
  empty.status = 204;
  empty.contentType = "application/x-unknown";
  server.route("DELETE", "/item", empty);
  os::URLRequest request(server.url("/item"));
  request.setHTTPMethod("DELETE");
  auto op = TLHTTPRequestOperation::create(request);
  Outcome out;
  observe(op, out);
  op->start();
  ASSERT_TRUE(httptest::runUntil([&] { return out.done(); }));
  EXPECT_EQ(out.successes, 1);
  ASSERT_TRUE(out.object.data());
  EXPECT_TRUE(out.object.data()->empty());
}

TEST(TLHTTPRequestOperationTest, ExactlyOneClosureRunsOnceOnTheChosenQueue) {
  HttpTestServer server;
  server.route("GET", "/ok", CannedResponse::text("fine"));
  auto queue = os::DispatchQueue::create("test.http.success");
  Outcome out;
  auto op = TLHTTPRequestOperation::create(os::URLRequest(server.url("/ok")));
  op->setSuccessCallbackQueue(queue);
  observe(op, out, queue);
  op->start();
  op->waitUntilFinished();
  ASSERT_TRUE(httptest::runUntil([&] { return out.done(); }));
  // Nothing further arrives once the queue and the main loop have drained.
  queue->sync([] {});
  os::RunLoop::main()->runUntilIdle();
  EXPECT_EQ(out.successes, 1);
  EXPECT_EQ(out.failures, 0);
  EXPECT_TRUE(out.onChosenQueue);
  EXPECT_FALSE(out.onMainThread);
  EXPECT_TRUE(op->isFinished());
  EXPECT_EQ(op->responseString(), "fine");
}

TEST(TLHTTPRequestOperationTest, CancelBeforeStartFinishesWithCancelledErrorAndNoRequest) {
  HttpTestServer server;
  server.route("GET", "/ok", CannedResponse::text("fine"));
  auto op = TLHTTPRequestOperation::create(os::URLRequest(server.url("/ok")));
  Outcome out;
  observe(op, out);
  Broadcasts broadcasts(*op);
  op->cancel();
  op->cancel();  // a second cancel changes nothing
  EXPECT_TRUE(op->isReady());
  op->start();
  ASSERT_TRUE(httptest::runUntil([&] { return out.done() && broadcasts.names().size() == 2; }));
  EXPECT_EQ(out.failures, 1);
  EXPECT_EQ(out.error->domain, os::kURLErrorDomain);
  EXPECT_EQ(out.error->code, os::kURLErrorCancelled);
  EXPECT_EQ(broadcasts.names(), kStartThenFinish);
  EXPECT_EQ(server.requestCount(), 0u);
}

TEST(TLHTTPRequestOperationTest, CancelAfterFinishKeepsTheOutcome) {
  HttpTestServer server;
  server.route("GET", "/ok", CannedResponse::text("fine"));
  Outcome out;
  auto op = startWithOutcome(server.url("/ok"), out);
  op->waitUntilFinished();
  op->cancel();
  op->pause();
  ASSERT_TRUE(httptest::runUntil([&] { return out.done(); }));
  EXPECT_EQ(out.successes, 1);
  EXPECT_FALSE(op->error());
  EXPECT_TRUE(op->isFinished());
}

TEST(TLHTTPRequestOperationTest, ContentTypesAndTextEncodings) {
  HttpTestServer server;
  CannedResponse latin = CannedResponse::text("caf\xe9");
  latin.contentType = "text/plain";
  server.route("GET", "/latin", latin);
  CannedResponse json = CannedResponse::text("{\"a\":\"\xe5\x86\x9b\"}");
  json.contentType = "application/json";
  server.route("GET", "/json", json);
  Outcome a, b;
  auto opA = startWithOutcome(server.url("/latin"), a);
  auto opB = startWithOutcome(server.url("/json"), b);
  ASSERT_TRUE(httptest::runUntil([&] { return a.done() && b.done(); }));
  EXPECT_EQ(opA->responseStringEncoding(), os::StringEncoding::ISOLatin1);
  EXPECT_EQ(opA->responseString(), "caf\xc3\xa9");
  EXPECT_EQ(opB->responseStringEncoding(), os::StringEncoding::UTF8);
  EXPECT_EQ(opB->responseString(), "{\"a\":\"\xe5\x86\x9b\"}");
}

TEST(TLHTTPRequestOperationTest, AcceptHeaderDecidesWhetherASubclassCanProcessARequest) {
  TLHTTPOperationClass jsonOnly("AcceptTestJSONOnly", &TLHTTPRequestOperation::operationClass(), nullptr);
  jsonOnly.declareAcceptableContentTypes(TLHTTPOperationClass::ContentTypes{"application/json"});
  os::URLRequest request("http://example.com/x");
  EXPECT_FALSE(jsonOnly.canProcessRequest(request));
  request.setValueForHTTPHeaderField("text/html;q=0.9, application/json", "Accept");
  EXPECT_TRUE(jsonOnly.canProcessRequest(request));
  EXPECT_TRUE(TLHTTPRequestOperation::canProcessRequest(os::URLRequest("http://example.com/x")));

  // Adding to "any type" leaves only the added types.
  TLHTTPOperationClass anyType("AcceptTestAnyType", &TLHTTPRequestOperation::operationClass(), nullptr);
  EXPECT_FALSE(anyType.acceptableContentTypes());
  anyType.addAcceptableContentTypes({"text/csv"});
  EXPECT_EQ(anyType.acceptableContentTypes(), TLHTTPOperationClass::ContentTypes{"text/csv"});
}

TEST(TLHTTPRequestOperationTest, UnacceptableContentTypeFailsOnlyWithABody) {
  static TLHTTPOperationClass cls("ContentTypeTestOperation", &TLHTTPRequestOperation::operationClass(), nullptr);
  cls.declareAcceptableContentTypes(TLHTTPOperationClass::ContentTypes{"application/json"});
  struct Op : TLHTTPRequestOperation {
    using TLHTTPRequestOperation::TLHTTPRequestOperation;
    const TLHTTPOperationClass& objectClass() const override { return cls; }
  };
  HttpTestServer server;
  server.route("GET", "/html", CannedResponse::text("<p>"));
  CannedResponse empty = CannedResponse::text("");
  server.route("GET", "/empty", empty);
  Outcome html, none;
  auto a = std::make_shared<Op>(os::URLRequest(server.url("/html")));
  auto b = std::make_shared<Op>(os::URLRequest(server.url("/empty")));
  observe(a, html);
  observe(b, none);
  a->start();
  b->start();
  ASSERT_TRUE(httptest::runUntil([&] { return html.done() && none.done(); }));
  ASSERT_EQ(html.failures, 1);
  EXPECT_EQ(html.error->code, -1016);
  EXPECT_EQ(html.error->localizedDescription(), "Expected content type {(\n    application/json\n)}, got text/plain");
  EXPECT_EQ(none.successes, 1);
}

// A stream that takes at most a few bytes per write, and can be told to refuse.
class StingyOutputStream : public os::OutputStream {
 public:
  explicit StingyOutputStream(std::size_t perWrite, long failAfter = -1) : perWrite_(perWrite), failAfter_(failAfter) {}
  long write(const std::uint8_t* buffer, std::size_t length) override {
    if (failAfter_ >= 0 && static_cast<long>(data_.size()) >= failAfter_) return -1;
    std::size_t n = std::min(length, perWrite_);
    data_.insert(data_.end(), buffer, buffer + n);
    return static_cast<long>(n);
  }
  std::optional<os::Data> dataWritten() const override { return data_; }

 private:
  std::size_t perWrite_;
  long failAfter_;
  os::Data data_;
};

TEST(TLHTTPRequestOperationTest, ReceivedDataIsWrittenWhollyAndAWriteFailureFailsTheLoad) {
  HttpTestServer server;
  std::string body(5000, 'x');
  server.route("GET", "/body", CannedResponse::text(body));
  Outcome whole, refused;
  auto a = TLHTTPRequestOperation::create(os::URLRequest(server.url("/body")));
  a->setOutputStream(std::make_shared<StingyOutputStream>(7));
  observe(a, whole);
  auto b = TLHTTPRequestOperation::create(os::URLRequest(server.url("/body")));
  b->setOutputStream(std::make_shared<StingyOutputStream>(7, 100));
  observe(b, refused);
  a->start();
  b->start();
  ASSERT_TRUE(httptest::runUntil([&] { return whole.done() && refused.done(); }));
  ASSERT_EQ(whole.successes, 1);
  EXPECT_EQ(text(a->responseData()), body);
  ASSERT_EQ(refused.failures, 1);
  EXPECT_EQ(refused.error->code, -3003);
}

const std::string kFileBody = std::string(1000, 'a') + std::string(500, 'b');

void pauseAfterFirstPart(const std::shared_ptr<TLHTTPRequestOperation>& op) {
  ASSERT_TRUE(httptest::runUntil([&] { return op->totalBytesRead() >= 1000; }));
  op->pause();
  EXPECT_TRUE(op->isPaused());
  EXPECT_EQ(op->request().valueForHTTPHeaderField("Range"), "bytes=1000-");
  EXPECT_EQ(op->request().valueForHTTPHeaderField("If-Range"), "\"v1\"");
  op->resume();
}

bool hasRequestHead(const os::testing::TcpTestPeer& peer) {
  auto bytes = peer.received();
  return std::string(bytes.begin(), bytes.end()).find("\r\n\r\n") != std::string::npos;
}

os::Data bytesOf(const std::string& s) { return os::Data(s.begin(), s.end()); }

// Answers the first request with the first 1000 bytes and a stall, lets the operation pause and
// resume, checks the ranged request, and answers it with `secondAnswer`.
std::shared_ptr<TLHTTPRequestOperation> downloadWithPause(os::testing::TcpTestPeer& peer, Outcome& out,
                                                          const std::string& secondAnswer) {
  auto op = TLHTTPRequestOperation::create(os::URLRequest("http://127.0.0.1:" + std::to_string(peer.port()) + "/file"));
  observe(op, out);
  op->start();
  EXPECT_TRUE(httptest::runUntil([&] { return hasRequestHead(peer); }));
  std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 1500\r\nETag: \"v1\"\r\nContent-Type: application/octet-stream\r\n\r\n";
  EXPECT_TRUE(peer.write(bytesOf(head + kFileBody.substr(0, 1000))));
  pauseAfterFirstPart(op);
  EXPECT_TRUE(httptest::runUntil([&] { return peer.acceptedCount() == 2 && hasRequestHead(peer); }));
  auto second = peer.received();
  std::string request(second.begin(), second.end());
  EXPECT_NE(request.find("Range: bytes=1000-\r\n"), std::string::npos);
  EXPECT_NE(request.find("If-Range: \"v1\"\r\n"), std::string::npos);
  EXPECT_TRUE(peer.write(bytesOf(secondAnswer)));
  EXPECT_TRUE(httptest::runUntil([&] { return out.done(); }));
  return op;
}

TEST(TLHTTPRequestOperationTest, PauseAndResumeAsksForTheRestAndAppendsIt) {
  os::testing::TcpTestPeer peer;
  Outcome out;
  auto op = downloadWithPause(peer, out,
                              "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 1000-1499/1500\r\n"
                              "Content-Length: 500\r\n\r\n" + kFileBody.substr(1000));
  ASSERT_EQ(out.successes, 1);
  EXPECT_EQ(text(op->responseData()), kFileBody);
}

TEST(TLHTTPRequestOperationTest, ResumeAnsweredWithTheWholeBodyStartsTheOutputAfresh) {
  os::testing::TcpTestPeer peer;
  Outcome out;
  auto op = downloadWithPause(peer, out, "HTTP/1.1 200 OK\r\nContent-Length: 1500\r\n\r\n" + kFileBody);
  ASSERT_EQ(out.successes, 1);
  EXPECT_EQ(text(op->responseData()), kFileBody);
}

// A resumed download appends only a part that starts where the received bytes end, and asks for
// the body uncoded so that its byte offsets mean what the received count means.
TEST(TLHTTPRequestOperationTest, AResumedPartThatDoesNotContinueTheBodyFailsTheLoad) {
  os::testing::TcpTestPeer peer;
  Outcome out;
  auto op = downloadWithPause(peer, out,
                              "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 0-499/1500\r\n"
                              "Content-Length: 500\r\n\r\n" + kFileBody.substr(0, 500));
  auto second = peer.received();
  EXPECT_NE(std::string(second.begin(), second.end()).find("Accept-Encoding: identity\r\n"), std::string::npos);
  ASSERT_EQ(out.failures, 1);
  EXPECT_EQ(out.error->code, -1011);
  EXPECT_EQ(out.successes, 0);

  os::testing::TcpTestPeer codedPeer;
  Outcome coded;
  downloadWithPause(codedPeer, coded,
                    "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 1000-1499/1500\r\nContent-Encoding: gzip\r\n"
                    "Content-Length: 500\r\n\r\n" + kFileBody.substr(1000));
  ASSERT_EQ(coded.failures, 1);
  EXPECT_EQ(coded.error->code, -1011);
}

// Cancel ends a paused operation once, with the cancelled error, and its queue lets it go.
TEST(TLHTTPRequestOperationTest, CancellingAPausedOperationFinishesIt) {
  os::testing::TcpTestPeer peer;
  auto queue = os::OperationQueue::create();
  auto op = TLHTTPRequestOperation::create(os::URLRequest("http://127.0.0.1:" + std::to_string(peer.port()) + "/file"));
  Outcome out;
  observe(op, out);
  queue->addOperation(op);
  ASSERT_TRUE(httptest::runUntil([&] { return hasRequestHead(peer); }));
  std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 1500\r\n\r\n";
  ASSERT_TRUE(peer.write(bytesOf(head + kFileBody.substr(0, 1000))));
  ASSERT_TRUE(httptest::runUntil([&] { return op->totalBytesRead() >= 1000; }));
  op->pause();
  ASSERT_TRUE(op->isPaused());
  op->cancel();
  ASSERT_TRUE(httptest::runUntil([&] { return out.done() && queue->operationCount() == 0; }));
  EXPECT_TRUE(op->isFinished());
  EXPECT_FALSE(op->isPaused());
  ASSERT_EQ(out.failures, 1);
  EXPECT_EQ(out.error->code, os::kURLErrorCancelled);
  op->cancel();
  op->resume();
  os::RunLoop::main()->runUntilIdle();
  EXPECT_EQ(out.failures, 1);
  EXPECT_EQ(out.successes, 0);
}

// Every start broadcast is answered by one finish broadcast, however pause, resume and cancel
// follow one another, so whoever counts loads under way (the activity indicator) comes back to 0.
TEST(TLHTTPRequestOperationTest, StartAndFinishBroadcastsPairUpThroughPauseResumeAndCancel) {
  // Paused while its body comes, then cancelled: the pause announced the end already.
  {
    os::testing::TcpTestPeer peer;
    auto op =
        TLHTTPRequestOperation::create(os::URLRequest("http://127.0.0.1:" + std::to_string(peer.port()) + "/file"));
    Outcome out;
    observe(op, out);
    Broadcasts broadcasts(*op);
    op->start();
    ASSERT_TRUE(httptest::runUntil([&] { return hasRequestHead(peer); }));
    ASSERT_TRUE(peer.write(bytesOf("HTTP/1.1 200 OK\r\nContent-Length: 1500\r\n\r\n" + kFileBody.substr(0, 1000))));
    ASSERT_TRUE(httptest::runUntil([&] { return op->totalBytesRead() >= 1000; }));
    op->pause();
    op->cancel();
    ASSERT_TRUE(httptest::runUntil([&] { return out.done() && broadcasts.finished() > 0; }));
    os::RunLoop::main()->runUntilIdle();
    EXPECT_EQ(broadcasts.started(), 1);
    EXPECT_EQ(broadcasts.finished(), 1);
    EXPECT_EQ(out.failures, 1);
  }
  // Paused and resumed before the network thread took up the start: one request, one start and
  // one end announced, the end after the start.
  {
    HttpTestServer server;
    server.route("GET", "/ok", CannedResponse::text("fine"));
    auto op = TLHTTPRequestOperation::create(os::URLRequest(server.url("/ok")));
    Outcome out;
    observe(op, out);
    Broadcasts broadcasts(*op);
    std::promise<void> release;
    std::promise<void> holding;
    TLURLConnectionOperation::networkRequestThread()->runLoop()->post(
        [&, released = release.get_future().share()] {
          holding.set_value();
          released.wait();
        });
    holding.get_future().wait();
    op->start();
    op->pause();
    op->resume();
    release.set_value();
    ASSERT_TRUE(httptest::runUntil([&] { return out.done() && broadcasts.finished() > 0; }));
    os::RunLoop::main()->runUntilIdle();
    EXPECT_EQ(out.successes, 1);
    EXPECT_EQ(server.requestCount(), 1u);
    EXPECT_EQ(broadcasts.names(), kStartThenFinish);
  }
}

TEST(TLHTTPRequestOperationTest, ConnectionFailureReachesFailureClosure) {
  Outcome out;
  auto op = startWithOutcome("http://127.0.0.1:" + std::to_string(HttpTestServer::refusedPort()) + "/", out);
  ASSERT_TRUE(httptest::runUntil([&] { return out.done(); }));
  ASSERT_EQ(out.failures, 1);
  EXPECT_EQ(out.error->domain, os::kURLErrorDomain);
  EXPECT_EQ(out.error->code, os::kURLErrorCannotConnectToHost);
}

}  // namespace

namespace {

TEST(TLURLConnectionOperationTest, CredentialAnswersAChallengeAndRedirectClosureDecides) {
  HttpTestServer server;
  server.route("GET", "/private", [](const RecordedRequest& r) {
    if (r.headers.value("Authorization") == "Basic dXNlcjpwYXNz") return CannedResponse::text("secret");
    CannedResponse challenge = CannedResponse::text("who?", 401);
    challenge.headers.set("WWW-Authenticate", "Basic realm=\"news\"");
    return challenge;
  });
  server.route("GET", "/old", CannedResponse::redirect(302, "/new"));
  server.route("GET", "/new", CannedResponse::text("moved"));

  auto withCredential = TLHTTPRequestOperation::create(os::URLRequest(server.url("/private")));
  withCredential->setCredential(os::URLCredential::withUser("user", "pass", os::URLCredential::Persistence::None));
  auto without = TLHTTPRequestOperation::create(os::URLRequest(server.url("/private")));
  int redirects = 0;
  auto stopped = TLHTTPRequestOperation::create(os::URLRequest(server.url("/old")));
  stopped->setRedirectResponseBlock([&](os::URLConnection&, const os::URLRequest&, const os::HTTPURLResponse& redirect) {
    ++redirects;
    EXPECT_EQ(redirect.statusCode(), 302);
    return std::optional<os::URLRequest>();
  });
  auto followed = TLHTTPRequestOperation::create(os::URLRequest(server.url("/old")));
  for (auto& op : {withCredential, without, stopped, followed}) op->start();
  for (auto& op : {withCredential, without, stopped, followed}) op->waitUntilFinished();
  EXPECT_EQ(withCredential->responseString(), "secret");
  ASSERT_TRUE(without->error());
  EXPECT_EQ(without->response()->statusCode(), 401);
  EXPECT_EQ(redirects, 1);
  EXPECT_EQ(stopped->response()->statusCode(), 302);
  EXPECT_EQ(followed->responseString(), "moved");
}

TEST(TLURLConnectionOperationTest, ProgressClosuresRunOnTheMainQueue) {
  HttpTestServer server;
  // Not a text type, which the server might compress (the expected length is then the encoded one).
  CannedResponse answer = CannedResponse::text(std::string(3000, 'd'));
  answer.contentType = "application/octet-stream";
  server.route("POST", "/up", answer);
  os::URLRequest request(server.url("/up"));
  request.setHTTPMethod("POST");
  request.setHTTPBody(os::Data(2000, 'u'));
  auto op = TLHTTPRequestOperation::create(request);
  std::int64_t sent = 0, received = 0, expected = 0;
  bool allOnMain = true;
  op->setUploadProgressBlock([&](std::uint64_t, std::int64_t total, std::int64_t) {
    allOnMain = allOnMain && os::RunLoop::isMainThread();
    sent = total;
  });
  op->setDownloadProgressBlock([&](std::uint64_t, std::int64_t total, std::int64_t totalExpected) {
    allOnMain = allOnMain && os::RunLoop::isMainThread();
    received = total;
    expected = totalExpected;
  });
  op->start();
  ASSERT_TRUE(httptest::runUntil([&] { return received == 3000 && sent == 2000; }));
  EXPECT_TRUE(allOnMain);
  EXPECT_EQ(expected, 3000);
}

TEST(TLURLConnectionOperationTest, CopyIsAFreshOperationOfTheSameClass) {
  HttpTestServer server;
  server.route("GET", "/ok", CannedResponse::text("fine"));
  auto original = std::make_shared<LenientOperation>(os::URLRequest(server.url("/ok")));
  original->setAllowsInvalidSSLCertificate(true);
  original->start();
  original->waitUntilFinished();
  auto copy = std::dynamic_pointer_cast<LenientOperation>(original->copy());
  ASSERT_TRUE(copy);
  EXPECT_TRUE(copy->isReady());
  EXPECT_TRUE(copy->allowsInvalidSSLCertificate());
  EXPECT_FALSE(copy->response());
  EXPECT_EQ(copy->request().url(), server.url("/ok"));
  EXPECT_NE(copy->description().find("LenientOperation"), std::string::npos);
  EXPECT_NE(copy->description().find("state: isReady, cancelled: NO"), std::string::npos);
}

}  // namespace

namespace {

// Another component's copy of the family: its own names and its own two differences.
const TLNetworkingEdition& otherEdition() {
  static const TLNetworkingEdition edition{"OtherNetworkingErrorDomain", "OtherRequestKey", "OtherResponseKey", "Other",
                                           "OtherNetworking", false, false};
  return edition;
}

TEST(TLNetworkingEditionTest, AnotherEditionKeepsItsOwnNamesThreadAndRules) {
  HttpTestServer server;
  server.route("GET", "/missing", CannedResponse::text("caf\xc3\xa9", 404));
  auto failed = std::make_shared<TLHTTPRequestOperation>(os::URLRequest(server.url("/missing")), otherEdition());
  Outcome out;
  observe(failed, out);
  failed->start();
  ASSERT_TRUE(httptest::runUntil([&] { return out.done(); }));
  EXPECT_EQ(out.error->domain, "OtherNetworkingErrorDomain");
  EXPECT_TRUE(out.error->userInfo.contains("OtherRequestKey"));
  // No Latin-1 default for text in this edition.
  EXPECT_EQ(failed->responseString(), "caf\xc3\xa9");
  EXPECT_NE(TLURLConnectionOperation::networkRequestThread(otherEdition()), TLURLConnectionOperation::networkRequestThread());
  EXPECT_EQ(TLURLConnectionOperation::networkRequestThread(otherEdition())->name(), "OtherNetworking");

  // A cancelled operation of this edition calls neither closure.
  auto cancelled = std::make_shared<TLHTTPRequestOperation>(os::URLRequest(server.url("/missing")), otherEdition());
  Outcome none;
  observe(cancelled, none);
  cancelled->cancel();
  cancelled->start();
  cancelled->waitUntilFinished();
  os::RunLoop::main()->runUntilIdle();
  EXPECT_FALSE(none.done());
}

}  // namespace

namespace {

// Whoever waits for a command's work to end (the reader answering a tap) looks for loads in flight
// and background work: an operation handed to the network thread, whose connection that thread has
// not made yet, must show as one or the other from the moment start returns.
TEST(TLHTTPRequestOperationTest, AnOperationHandedToTheNetworkThreadCountsAsWorkUntilItsLoadStarts) {
  HttpTestServer server;
  server.route("GET", "/page", CannedResponse::text("ok", 200));
  auto network = TLURLConnectionOperation::networkRequestThread()->runLoop();
  std::mutex held;
  std::unique_lock hold(held);
  std::atomic<bool> blocked{false};
  // The network thread is kept busy, so the operation's hand-over waits in its loop.
  network->post([&] {
    blocked = true;
    std::lock_guard wait(held);
  });
  ASSERT_TRUE(httptest::runUntil([&] { return blocked.load(); }));
  Outcome out;
  auto op = startWithOutcome(server.url("/page"), out);
  EXPECT_GE(os::DispatchQueue::backgroundTaskCount(), 1u);
  hold.unlock();
  ASSERT_TRUE(httptest::runUntil([&] { return out.done(); }));
  EXPECT_EQ(out.successes, 1);
}

}  // namespace

namespace {

// The network thread's waits (each pass of its loop ends in one), counted while a test looks.
struct NetworkThreadWaits {
  static inline std::atomic<int> count{0};
  static int wait(::pollfd* fds, unsigned long n, int timeoutMs) {
    ++count;
    return ::poll(fds, n, timeoutMs);
  }
  static void watch(os::RunLoop::WaitFunction f) {
    auto network = TLURLConnectionOperation::networkRequestThread()->runLoop();
    network->perform([network, f] { network->setWaitFunctionForTesting(f); }, true);
  }
};

}  // namespace

// A request one at a time costs the network thread two passes of its loop: one taking the
// operation handed over and sending its request, one reading the answer and finishing. Each pass
// more is a wait and a look at every source more, on the way of every request; so is each
// wake-up more than the caller's and the closure's worker's.
TEST(TLHTTPRequestOperationTest, ARequestOneAtATimeCostsTwoNetworkPassesAndTwoWakeUps) {
  HttpTestServer server;
  server.route("GET", "/small", CannedResponse::text("{\"ok\":1}"));
  auto closures = os::DispatchQueue::global();
  const auto oneRequest = [&](int i) {
    Outcome out;
    auto op = TLHTTPRequestOperation::create(os::URLRequest(server.url("/small?i=" + std::to_string(i))));
    op->setSuccessCallbackQueue(closures);
    observe(op, out);
    op->start();
    op->waitUntilFinished();
    return httptest::runUntil([&] { return out.done(); }) && out.successes == 1;
  };
  // The connection is made and kept alive first.
  ASSERT_TRUE(oneRequest(0));
  constexpr int kRequests = 32;
  NetworkThreadWaits::count = 0;
  NetworkThreadWaits::watch(&NetworkThreadWaits::wait);
  const auto sleeps = os::WakeFlag::sleepCalls(), wakes = os::WakeFlag::wakeCalls();
  int ok = 0;
  for (int i = 1; i <= kRequests; ++i) ok += oneRequest(i);
  // Each request wakes at most the caller waiting for it and a worker for its closure, each once
  // (a spare few for a sleep the kernel cut short).
  EXPECT_LE(os::WakeFlag::wakeCalls() - wakes, 2u * kRequests);
  EXPECT_LE(os::WakeFlag::sleepCalls() - sleeps, 2u * kRequests + 4);
  NetworkThreadWaits::watch(nullptr);
  EXPECT_EQ(ok, kRequests);
  // A few spare for wake-ups nothing in the test asked for (a timer of the transfer library's).
  EXPECT_LE(NetworkThreadWaits::count.load(), 2 * kRequests + kRequests / 4);
  EXPECT_GE(NetworkThreadWaits::count.load(), kRequests);
}
