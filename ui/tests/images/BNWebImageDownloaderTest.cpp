#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "os/net/URLError.h"
#include "os/runtime/Thread.h"
#include "os/testing/HttpTestServer.h"
#include "os/testing/NotificationCounter.h"
#include "os/testing/ScriptedURLTransport.h"
#include "ui/images/BNWebImageDownloader.h"
#include "ui/images/BNWebImageDownloaderOperation.h"
#include "ui/tests/images/ImageTestSupport.h"

using namespace imagetest;
using os::testing::CannedResponse;
using os::testing::HttpTestServer;

namespace {

CannedResponse imageAnswer(const os::Data& data, std::string type = "image/png") {
  CannedResponse answer;
  answer.body = text(data);
  answer.contentType = std::move(type);
  return answer;
}

struct Result {
  bool called = false;
  int calls = 0;
  BNImagePtr image;
  std::optional<os::Data> data;
  std::optional<os::Error> error;
  bool finished = false;
};

BNWebImageDownloader::CompletedBlock recordInto(Result& result) {
  return [&result](BNImagePtr image, std::optional<os::Data> data, std::optional<os::Error> error, bool finished) {
    result.called = true;
    ++result.calls;
    result.image = image;
    result.data = data;
    result.error = error;
    result.finished = finished;
  };
}

class DownloaderTest : public ::testing::Test {
 protected:
  HttpTestServer server_;
  std::shared_ptr<BNWebImageDownloader> downloader_ = BNWebImageDownloader::create();
  std::optional<os::URL> url(const std::string& path) { return os::URL::parse(server_.url(path)); }
  // The downloads' closures run on download threads: wait for the whole queue to empty.
  void waitForQueue() {
    ASSERT_TRUE(runUntil([&] { return downloader_->currentDownloadCount() == 0; }));
  }
};

TEST_F(DownloaderTest, DownloadsDecodesAndSendsTheImageAcceptHeader) {
  auto bytes = png(6, 4);
  server_.route("GET", "/a.png", imageAnswer(bytes));
  Result result;
  std::vector<std::pair<std::int64_t, std::int64_t>> progress;
  std::mutex progressMutex;
  auto token = downloader_->downloadImageWithURL(
      url("/a.png"), 0,
      [&](std::int64_t received, std::int64_t expected) {
        std::lock_guard lock(progressMutex);
        progress.emplace_back(received, expected);
      },
      recordInto(result));
  ASSERT_TRUE(token);
  ASSERT_TRUE(token->operation());
  EXPECT_EQ(token->operation()->request().timeoutInterval(), 15.0);
  waitForQueue();
  ASSERT_TRUE(result.called);
  EXPECT_TRUE(result.finished);
  EXPECT_FALSE(result.error);
  ASSERT_TRUE(result.image);
  EXPECT_EQ(result.image->pixelWidth(), 6);
  EXPECT_EQ(result.data, bytes);
  ASSERT_EQ(server_.requestCount(), 1u);
  // Only formats the decoder reads are asked for by name; WebP is not among them.
  auto accept = server_.requests()[0].headers.value("Accept");
  EXPECT_EQ(accept, "image/png,image/jpeg,image/gif,image/*;q=0.8");
  EXPECT_EQ(accept.value_or("").find("webp"), std::string::npos);
  std::lock_guard lock(progressMutex);
  ASSERT_GE(progress.size(), 2u);
  EXPECT_EQ(progress.front(), (std::pair<std::int64_t, std::int64_t>(0, -1)));
  EXPECT_EQ(progress.back(), (std::pair<std::int64_t, std::int64_t>(bytes.size(), bytes.size())));
}

TEST_F(DownloaderTest, ProgressiveDownloadReadsTheHeaderOnceAndFinishes) {
  server_.route("GET", "/p.png", imageAnswer(png(6, 4)));
  Result result;
  auto token = downloader_->downloadImageWithURL(url("/p.png"), BNDownloadProgressive, nullptr, recordInto(result));
  auto operation = token->operation();
  waitForQueue();
  ASSERT_TRUE(runUntil([&] { return result.finished; }));
  EXPECT_TRUE(result.image);
  EXPECT_EQ(operation->width(), 6);
  EXPECT_EQ(operation->height(), 4);
}

TEST_F(DownloaderTest, CallersOfOneURLShareOneDownload) {
  server_.route("GET", "/shared.png", imageAnswer(png(3, 3)));
  downloader_->setSuspended(true);
  Result first, second;
  auto a = downloader_->downloadImageWithURL(url("/shared.png"), 0, nullptr, recordInto(first));
  auto b = downloader_->downloadImageWithURL(url("/shared.png"), 0, nullptr, recordInto(second));
  ASSERT_TRUE(a && b);
  EXPECT_TRUE(a->operation());
  EXPECT_FALSE(b->operation());  // joined, started nothing
  EXPECT_EQ(downloader_->callbackCountForURL(server_.url("/shared.png")), 2u);
  downloader_->setSuspended(false);
  waitForQueue();
  EXPECT_EQ(server_.requestCount(), 1u);
  ASSERT_TRUE(first.image && second.image);
  EXPECT_EQ(first.image, second.image);
  EXPECT_EQ(downloader_->callbackCountForURL(server_.url("/shared.png")), 0u);
}

TEST_F(DownloaderTest, OneCallerCancellingLeavesTheOthersDownload) {
  server_.route("GET", "/cell.png", imageAnswer(png(3, 3)));
  downloader_->setSuspended(true);
  Result leaving, staying;
  auto a = downloader_->downloadImageWithURL(url("/cell.png"), 0, nullptr, recordInto(leaving));
  auto b = downloader_->downloadImageWithURL(url("/cell.png"), 0, nullptr, recordInto(staying));
  a->cancel();
  a->cancel();  // twice is harmless
  downloader_->setSuspended(false);
  waitForQueue();
  EXPECT_FALSE(leaving.called);
  ASSERT_TRUE(staying.called);
  EXPECT_TRUE(staying.image);
  EXPECT_EQ(server_.requestCount(), 1u);
}

TEST_F(DownloaderTest, LastCallerLeavingCancelsTheDownloadAndANewRequestStartsAfresh) {
  server_.route("GET", "/gone.png", imageAnswer(png(3, 3)));
  downloader_->setSuspended(true);
  Result one, two;
  auto a = downloader_->downloadImageWithURL(url("/gone.png"), 0, nullptr, recordInto(one));
  auto b = downloader_->downloadImageWithURL(url("/gone.png"), 0, nullptr, recordInto(two));
  auto operation = a->operation();
  a->cancel();
  b->cancel();
  EXPECT_TRUE(operation->isCancelled());
  EXPECT_EQ(downloader_->callbackCountForURL(server_.url("/gone.png")), 0u);
  Result again;
  auto c = downloader_->downloadImageWithURL(url("/gone.png"), 0, nullptr, recordInto(again));
  ASSERT_TRUE(c->operation());
  EXPECT_NE(c->operation(), operation);
  downloader_->setSuspended(false);
  waitForQueue();
  EXPECT_FALSE(one.called);
  EXPECT_FALSE(two.called);
  EXPECT_TRUE(again.image);
  EXPECT_EQ(server_.requestCount(), 1u);  // the cancelled one never went out
}

TEST_F(DownloaderTest, CancelWhileTheConnectionRunsEndsWithoutACompletion) {
  CannedResponse slow = imageAnswer(png(3, 3));
  slow.delay = 30;  // cut short when the server stops
  server_.route("GET", "/slow.png", slow);
  Result result;
  std::atomic<int> stops{0};
  os::testing::NotificationCounter stopped(BNWebImageDownloadStopNotification, [&](const os::Notification& n) {
    if (n.object) ++stops;  // a cancel names the operation; the other stops name no sender
  });
  auto token = downloader_->downloadImageWithURL(url("/slow.png"), 0, nullptr, recordInto(result));
  ASSERT_TRUE(server_.waitForRequests(1, 10));
  token->cancel();
  waitForQueue();
  EXPECT_FALSE(result.called);
  EXPECT_EQ(stops.load(), 1);  // the cancelled operation announced its stop
}

// An operation whose cancel can be held just after it first looks at the operation's state, as a
// thread switch there would hold it.
class HeldCancelOperation : public BNWebImageDownloaderOperation {
 public:
  using BNWebImageDownloaderOperation::BNWebImageDownloaderOperation;
  // `hold` runs once, inside that first look by `canceller`. Set before other threads use the
  // operation.
  void holdCancelOf(std::thread::id canceller, std::function<void()> hold) {
    canceller_ = canceller;
    hold_ = std::move(hold);
  }
  bool isFinished() const override {
    if (std::this_thread::get_id() == canceller_ && hold_) std::exchange(hold_, nullptr)();
    return BNWebImageDownloaderOperation::isFinished();
  }

 private:
  std::thread::id canceller_;
  mutable std::function<void()> hold_;
};

// A cancel that began before start and goes on once the connection runs is still performed on
// the connection's thread: that thread sleeps until something reaches its loop, so an end reached
// elsewhere would keep it (and a download slot) until the loop's next look at the clock.
TEST_F(DownloaderTest, ACancelOvertakenByStartEndsTheDownloadOnItsThread) {
  CannedResponse slow = imageAnswer(png(3, 3));
  slow.delay = 30;  // cut short when the server stops
  server_.route("GET", "/held.png", slow);

  std::mutex mutex;
  std::condition_variable changed;
  bool startMayRun = false, connectionRuns = false, completed = false;
  std::thread::id downloadThread, cancelThread;
  auto op = std::make_shared<HeldCancelOperation>(
      os::URLRequest(server_.url("/held.png")), 0,
      [&](std::int64_t, std::int64_t expected) {
        if (expected != -1) return;
        std::lock_guard lock(mutex);
        connectionRuns = true;  // reported once the connection started, before the loop turns
        changed.notify_all();
      },
      [&](BNImagePtr, std::optional<os::Data>, std::optional<os::Error>, bool) { completed = true; },
      [&] { cancelThread = std::this_thread::get_id(); });
  bool held = false, ranWhileHeld = false;
  op->holdCancelOf(std::this_thread::get_id(), [&] {
    held = true;
    std::unique_lock lock(mutex);
    startMayRun = true;
    changed.notify_all();
    // Bounded only so that a cancel holding the lock here fails the test instead of hanging it.
    ranWhileHeld = changed.wait_for(lock, std::chrono::seconds(20), [&] { return connectionRuns; });
  });
  auto thread = os::Thread::create("held.download", [&] {
    {
      std::unique_lock lock(mutex);
      changed.wait(lock, [&] { return startMayRun; });
      downloadThread = std::this_thread::get_id();
    }
    op->start();
  });
  thread->start();

  op->cancel();
  {
    // Should the cancel never look, start still runs, and the checks below say so.
    std::lock_guard lock(mutex);
    startMayRun = true;
    changed.notify_all();
  }
  thread->join();  // start returns once the download ended
  EXPECT_TRUE(held);
  EXPECT_TRUE(ranWhileHeld) << "start could not run while the cancel was held";
  EXPECT_EQ(cancelThread, downloadThread);
  EXPECT_TRUE(op->isFinished());
  EXPECT_TRUE(op->isCancelled());
  EXPECT_FALSE(completed);
}

TEST_F(DownloaderTest, FailuresCompleteFinishedWithTheirErrors) {
  server_.route("GET", "/junk", CannedResponse::text("<html>not a picture</html>"));
  server_.route("GET", "/busy", CannedResponse::text("later", 503));
  Result missing, junk, busy, refused, nilURL;
  downloader_->downloadImageWithURL(url("/missing.png"), 0, nullptr, recordInto(missing));
  downloader_->downloadImageWithURL(url("/junk"), 0, nullptr, recordInto(junk));
  downloader_->downloadImageWithURL(url("/busy"), 0, nullptr, recordInto(busy));
  downloader_->downloadImageWithURL(os::URL::parse("http://127.0.0.1:" + std::to_string(HttpTestServer::refusedPort()) + "/x.png"),
                                    0, nullptr, recordInto(refused));
  EXPECT_EQ(downloader_->downloadImageWithURL(std::nullopt, 0, nullptr, recordInto(nilURL)), nullptr);
  waitForQueue();

  ASSERT_TRUE(missing.error);
  EXPECT_EQ(missing.error->domain, os::kURLErrorDomain);
  EXPECT_EQ(missing.error->code, 404);
  EXPECT_FALSE(missing.error->userInfo.contains(os::kErrorDescriptionKey));
  EXPECT_TRUE(missing.finished);

  ASSERT_TRUE(junk.error);
  EXPECT_EQ(junk.error->domain, BNWebImageErrorDomain);
  EXPECT_EQ(junk.error->code, 0);
  EXPECT_EQ(junk.error->localizedDescription(), "Downloaded image has 0 pixels");

  ASSERT_TRUE(busy.error);
  EXPECT_EQ(busy.error->code, 503);
  ASSERT_TRUE(refused.error);
  EXPECT_EQ(refused.error->code, os::kURLErrorCannotConnectToHost);

  // No URL: an error, and finished, so a caller waiting for the end does not wait for ever.
  EXPECT_TRUE(nilURL.called);
  EXPECT_TRUE(nilURL.finished);
  ASSERT_TRUE(nilURL.error);
  EXPECT_EQ(nilURL.error->domain, BNWebImageErrorDomain);
  for (auto* r : {&missing, &junk, &busy, &refused}) EXPECT_EQ(r->calls, 1);
}

TEST_F(DownloaderTest, OversizedAnswersAreRefusedBeforeTheyAreBuffered) {
  CannedResponse huge;
  huge.contentType = "image/png";
  huge.headers.set("X-Note", "lies about its length");
  // A body whose stated length exceeds what an image may have.
  huge.body = std::string(static_cast<std::size_t>(kBNMaxImageDownloadBytes) + 1, 'x');
  server_.route("GET", "/huge.png", huge);
  Result result;
  downloader_->downloadImageWithURL(url("/huge.png"), 0, nullptr, recordInto(result));
  waitForQueue();
  ASSERT_TRUE(result.error);
  EXPECT_EQ(result.error->domain, BNWebImageErrorDomain);
  EXPECT_EQ(result.error->code, BNWebImageErrorTooLarge);
  EXPECT_TRUE(result.finished);

  // Without a stated length the running count stops it.
  CannedResponse streamed;
  streamed.contentType = "image/png";
  streamed.chunks.assign(static_cast<std::size_t>(kBNMaxImageDownloadBytes / (4 << 20)) + 1, std::string(4 << 20, 'y'));
  server_.route("GET", "/streamed.png", streamed);
  Result endless;
  downloader_->downloadImageWithURL(url("/streamed.png"), 0, nullptr, recordInto(endless));
  waitForQueue();
  ASSERT_TRUE(endless.error);
  EXPECT_EQ(endless.error->code, BNWebImageErrorTooLarge);
  EXPECT_EQ(endless.calls, 1);
}

TEST_F(DownloaderTest, HeadersFilterPriorityAndTimeout) {
  server_.route("GET", "/h.png", imageAnswer(png(2, 2)));
  downloader_->setValueForHTTPHeaderField("yes", "X-Extra");
  downloader_->setValueForHTTPHeaderField(std::nullopt, "Accept");
  EXPECT_EQ(downloader_->valueForHTTPHeaderField("X-Extra"), "yes");
  EXPECT_EQ(downloader_->valueForHTTPHeaderField("Accept"), std::nullopt);
  downloader_->setHeadersFilter([](const std::string& url, const os::HTTPHeaderFields& headers) {
    auto copy = headers;
    copy.set("X-Filtered", url.substr(url.rfind('/') + 1));
    return copy;
  });
  downloader_->setDownloadTimeout(0);
  Result result;
  auto token = downloader_->downloadImageWithURL(url("/h.png"), BNDownloadHighPriority, nullptr, recordInto(result));
  EXPECT_EQ(token->operation()->request().timeoutInterval(), 15.0);
  EXPECT_EQ(token->operation()->queuePriority(), os::Operation::QueuePriority::High);
  waitForQueue();
  ASSERT_EQ(server_.requestCount(), 1u);
  auto request = server_.requests()[0];
  EXPECT_EQ(request.headers.value("X-Extra"), "yes");
  EXPECT_EQ(request.headers.value("X-Filtered"), "h.png");
  // Removed from the defaults (the transport may still send a generic one of its own).
  EXPECT_NE(request.headers.value("Accept"), std::optional<std::string>("image/png,image/jpeg,image/gif,image/*;q=0.8"));
}

TEST_F(DownloaderTest, AnswersAPasswordChallengeOnceWithTheCredentials) {
  auto picture = text(png(2, 2));
  server_.route("GET", "/private.png", [picture](const os::testing::RecordedRequest& request) {
    if (request.headers.value("Authorization") == std::optional<std::string>("Basic dXNlcjpzZWNyZXQ=")) {
      CannedResponse answer;
      answer.body = picture;
      answer.contentType = "image/png";
      return answer;
    }
    CannedResponse refusal = CannedResponse::text("who are you", 401);
    refusal.headers.set("WWW-Authenticate", "Basic realm=\"pictures\"");
    return refusal;
  });
  Result anonymous;
  downloader_->downloadImageWithURL(url("/private.png"), 0, nullptr, recordInto(anonymous));
  waitForQueue();
  ASSERT_TRUE(anonymous.error);
  EXPECT_EQ(anonymous.error->code, 401);

  downloader_->setUsername("user");
  downloader_->setPassword("secret");
  Result known;
  downloader_->downloadImageWithURL(url("/private.png"), 0, nullptr, recordInto(known));
  waitForQueue();
  EXPECT_TRUE(known.image);

  downloader_->setPassword("wrong");
  Result refused;
  downloader_->downloadImageWithURL(url("/private.png"), 0, nullptr, recordInto(refused));
  waitForQueue();
  ASSERT_TRUE(refused.error);  // no endless retry with a refused credential
  EXPECT_EQ(refused.error->code, 401);
}

TEST_F(DownloaderTest, LastInFirstOutStartsTheNewestFirst) {
  for (auto path : {"/1.png", "/2.png", "/3.png"}) server_.route("GET", path, imageAnswer(png(2, 2)));
  downloader_->setMaxConcurrentDownloads(1);
  downloader_->setExecutionOrder(BNDownloadOrderLIFO);
  downloader_->setSuspended(true);
  Result r1, r2, r3;
  downloader_->downloadImageWithURL(url("/1.png"), 0, nullptr, recordInto(r1));
  downloader_->downloadImageWithURL(url("/2.png"), 0, nullptr, recordInto(r2));
  downloader_->downloadImageWithURL(url("/3.png"), 0, nullptr, recordInto(r3));
  downloader_->setSuspended(false);
  waitForQueue();
  auto requests = server_.requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].path, "/3.png");
  EXPECT_EQ(requests[1].path, "/2.png");
  EXPECT_EQ(requests[2].path, "/1.png");
}

TEST_F(DownloaderTest, FirstInFirstOutStartsTheOldestFirst) {
  for (auto path : {"/1.png", "/2.png", "/3.png"}) server_.route("GET", path, imageAnswer(png(2, 2)));
  EXPECT_EQ(downloader_->executionOrder(), BNDownloadOrderFIFO);
  downloader_->setMaxConcurrentDownloads(1);
  downloader_->setSuspended(true);
  Result r1, r2, r3;
  downloader_->downloadImageWithURL(url("/1.png"), 0, nullptr, recordInto(r1));
  downloader_->downloadImageWithURL(url("/2.png"), 0, nullptr, recordInto(r2));
  downloader_->downloadImageWithURL(url("/3.png"), 0, nullptr, recordInto(r3));
  downloader_->setSuspended(false);
  waitForQueue();
  auto requests = server_.requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].path, "/1.png");
  EXPECT_EQ(requests[1].path, "/2.png");
  EXPECT_EQ(requests[2].path, "/3.png");
}

TEST_F(DownloaderTest, AtMostTwoDownloadsRunAtOnce) {
  // The server holds every answer until the test opens the gate, counting the requests it holds.
  struct Gate {
    std::mutex mutex;
    std::condition_variable changed;
    bool open = false;
    int inFlight = 0, most = 0;
  };
  auto gate = std::make_shared<Gate>();
  auto picture = text(png(2, 2));
  for (int i = 0; i < 5; ++i)
    server_.route("GET", "/held-" + std::to_string(i) + ".png", [gate, picture](const os::testing::RecordedRequest&) {
      std::unique_lock lock(gate->mutex);
      gate->most = std::max(gate->most, ++gate->inFlight);
      gate->changed.wait_for(lock, std::chrono::seconds(20), [&] { return gate->open; });
      --gate->inFlight;
      CannedResponse answer;
      answer.body = picture;
      answer.contentType = "image/png";
      return answer;
    });
  EXPECT_EQ(downloader_->maxConcurrentDownloads(), 2);
  std::vector<Result> results(5);
  for (int i = 0; i < 5; ++i)
    downloader_->downloadImageWithURL(url("/held-" + std::to_string(i) + ".png"), 0, nullptr, recordInto(results[i]));
  ASSERT_TRUE(server_.waitForRequests(2, 15));
  settle();  // room for a third to start, were it allowed to
  EXPECT_EQ(server_.requestCount(), 2u);
  EXPECT_EQ(downloader_->currentDownloadCount(), 5u);
  {
    std::lock_guard lock(gate->mutex);
    gate->open = true;
  }
  gate->changed.notify_all();
  waitForQueue();
  EXPECT_EQ(server_.requestCount(), 5u);
  EXPECT_EQ(gate->most, 2);
  for (const auto& result : results) EXPECT_TRUE(result.image);
}

TEST_F(DownloaderTest, HTTPSCertificatesAreVerified) {
  HttpTestServer secure(true);  // a self-signed certificate
  secure.route("GET", "/s.png", imageAnswer(png(2, 2)));
  Result result;
  downloader_->downloadImageWithURL(os::URL::parse(secure.url("/s.png")), BNDownloadAllowInvalidCertificates, nullptr,
                                    recordInto(result));
  waitForQueue();
  ASSERT_TRUE(result.called);
  EXPECT_FALSE(result.image);
  ASSERT_TRUE(result.error);
  EXPECT_EQ(result.error->domain, os::kURLErrorDomain);
  EXPECT_LE(result.error->code, os::kURLErrorSecureConnectionFailed);
}

TEST_F(DownloaderTest, ADownloadTimeOutOtherThanTheDefaultReachesTheRequest) {
  auto transport = std::make_shared<os::testing::ScriptedURLTransport>();
  os::URLTransport::setShared(transport);
  struct Restore {
    ~Restore() { os::URLTransport::setShared(nullptr); }
  } restore;
  os::HTTPHeaderFields pngType;
  pngType.set("Content-Type", "image/png");
  for (double seconds : {3.5, 60.0}) {
    transport->enqueue(os::testing::ScriptedURLTransport::Answer::ok(text(png(2, 2)), 200, pngType));
    downloader_->setDownloadTimeout(seconds);
    EXPECT_EQ(downloader_->downloadTimeout(), seconds);
    Result result;
    downloader_->downloadImageWithURL(os::URL::parse("http://images.example/t.png"), 0, nullptr, recordInto(result));
    waitForQueue();
    EXPECT_TRUE(result.image);
  }
  auto sent = transport->sent();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].request.timeoutInterval(), 3.5);
  EXPECT_EQ(sent[1].request.timeoutInterval(), 60.0);
}

}  // namespace
