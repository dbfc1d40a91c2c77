// The libcurl transport itself: one worker for every exchange, kept-alive connections reused,
// cancel and time-out of one exchange leaving the others alone.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <mutex>
#include <thread>

#include "os/net/HostLookup.h"
#include "os/net/Stream.h"
#include "os/net/URLConnection.h"
#include "os/runtime/RunLoop.h"
#include "os/runtime/Thread.h"
#include "os/testing/HttpTestServer.h"

namespace os {
namespace {

using testing::CannedResponse;
using testing::HttpTestServer;

// A loopback HTTP/1.1 peer that keeps every connection alive and follows a script, one step per
// request in arrival order: answer "ok", or close the request's connection unanswered (a server
// dropping an idle connection just as the client reuses it). Past the script it answers.
class KeepAlivePeer {
 public:
  enum class Step { Answer, Drop };
  struct Seen {
    int connection;  // 1 for the first accepted
    std::string head, body;
  };

  explicit KeepAlivePeer(std::vector<Step> script = {}) : script_(std::move(script)) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listenFd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(listenFd_, 8);
    socklen_t len = sizeof a;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    acceptor_ = std::thread([this] { accept(); });
  }

  ~KeepAlivePeer() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
      for (int fd : open_) ::shutdown(fd, SHUT_RDWR);
    }
    ::shutdown(listenFd_, SHUT_RDWR);
    acceptor_.join();
    for (auto& t : handlers_) t.join();
    ::close(listenFd_);
  }

  std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }

  int connections() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return accepted_;
  }
  std::vector<Seen> requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return seen_;
  }

 private:
  void accept() {
    for (;;) {
      int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
      std::lock_guard<std::mutex> lock(mutex_);
      if (fd < 0 || stopping_) {
        if (fd >= 0) ::close(fd);
        return;
      }
      open_.push_back(fd);
      handlers_.emplace_back([this, fd, n = ++accepted_] { serve(fd, n); });
    }
  }

  void serve(int fd, int connection) {
    std::string in;
    char buffer[4096];
    for (;;) {
      std::size_t end = in.find("\r\n\r\n");
      std::size_t length = 0;
      if (end != std::string::npos) {
        std::string head = in.substr(0, end);
        std::string lower = head;
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        auto at = lower.find("content-length:");
        if (at != std::string::npos) length = std::strtoul(head.c_str() + at + 15, nullptr, 10);
        if (in.size() >= end + 4 + length) {
          Step step;
          {
            std::lock_guard<std::mutex> lock(mutex_);
            seen_.push_back(Seen{connection, head, in.substr(end + 4, length)});
            step = next_ < script_.size() ? script_[next_] : Step::Answer;
            ++next_;
          }
          in.erase(0, end + 4 + length);
          if (step == Step::Drop) break;
          static const std::string answer = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
          if (::send(fd, answer.data(), answer.size(), MSG_NOSIGNAL) < 0) break;
          continue;
        }
      }
      ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      in.append(buffer, static_cast<std::size_t>(n));
    }
    std::lock_guard<std::mutex> lock(mutex_);
    std::erase(open_, fd);
    ::close(fd);
  }

  int listenFd_ = -1;
  std::uint16_t port_ = 0;
  std::vector<Step> script_;
  mutable std::mutex mutex_;
  std::size_t next_ = 0;
  int accepted_ = 0;
  std::vector<Seen> seen_;
  std::vector<int> open_;
  bool stopping_ = false;
  std::vector<std::thread> handlers_;
  std::thread acceptor_;
};

// Records transport events, which arrive on the transport's worker.
class Events : public URLTransportClient {
 public:
  std::function<void()> onResponse;

  void transportDidSendBodyData(std::int64_t, std::int64_t, std::int64_t) override {}
  void transportDidReceiveResponse(const HTTPURLResponse&) override {
    record("response");
    if (onResponse) onResponse();
  }
  void transportDidReceiveData(Data data) override {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back("data");
    body_.insert(body_.end(), data.begin(), data.end());
    changed_.notify_all();
  }
  void transportDidFinish() override { record("finish"); }
  void transportDidFail(const Error& error) override {
    std::lock_guard<std::mutex> lock(mutex_);
    error_ = error;
    events_.push_back("fail");
    changed_.notify_all();
  }

  // Real-time waits: the transport works on the real clock.
  bool waitFor(const std::string& event) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(20), [&] {
      return std::find(events_.begin(), events_.end(), event) != events_.end();
    });
  }
  std::vector<std::string> events() {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
  }
  std::string body() {
    std::lock_guard<std::mutex> lock(mutex_);
    return stringFromData(body_);
  }
  std::optional<Error> error() {
    std::lock_guard<std::mutex> lock(mutex_);
    return error_;
  }

 private:
  void record(const char* event) {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back(event);
    changed_.notify_all();
  }
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> events_;
  Data body_;
  std::optional<Error> error_;
};

std::size_t threadCount() {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) ++n;
  return n;
}

// A request body that notes the thread that reads it: the thread running the exchange.
class ThreadNotingStream : public InputStream {
 public:
  explicit ThreadNotingStream(const std::string& text) : inner_(InputStream::withData(dataFromString(text))) {}
  void open() override { inner_->open(); }
  void close() override { inner_->close(); }
  StreamStatus streamStatus() const override { return inner_->streamStatus(); }
  long read(std::uint8_t* buffer, std::size_t maxLength) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      readers_.push_back(std::this_thread::get_id());
    }
    return inner_->read(buffer, maxLength);
  }
  std::vector<std::thread::id> readers() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return readers_;
  }

 private:
  std::shared_ptr<InputStream> inner_;
  mutable std::mutex mutex_;
  std::vector<std::thread::id> readers_;
};

std::optional<Data> fetch(const URLRequest& request, Error* error = nullptr) {
  HTTPURLResponse response;
  Error ignored;
  return URLConnection::sendSynchronousRequest(request, &response, error ? error : &ignored);
}

TEST(CurlTransport, RequestsToOneHostReuseTheKeptAliveConnection) {
  KeepAlivePeer peer;
  for (int i = 0; i < 3; ++i) {
    auto body = fetch(URLRequest(peer.url("/n" + std::to_string(i))));
    ASSERT_TRUE(body);
    EXPECT_EQ(stringFromData(*body), "ok");
  }
  EXPECT_EQ(peer.requests().size(), 3u);
  EXPECT_EQ(peer.connections(), 1);

  // Another host (here: port) has connections of its own.
  KeepAlivePeer other;
  ASSERT_TRUE(fetch(URLRequest(other.url("/"))));
  ASSERT_TRUE(fetch(URLRequest(peer.url("/again"))));
  EXPECT_EQ(other.connections(), 1);
  EXPECT_EQ(peer.connections(), 1);
}

TEST(CurlTransport, AnExchangeCarriesNothingOfTheOneBeforeIt) {
  KeepAlivePeer peer;
  URLRequest put(peer.url("/put"));
  put.setHTTPMethod("PUT");
  put.setHTTPBody(dataFromString("payload"));
  put.setValueForHTTPHeaderField("yes", "X-Only-Once");
  ASSERT_TRUE(fetch(put));
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(fetch(URLRequest(peer.url("/get"))));
  auto seen = peer.requests();
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen[0].head.rfind("PUT /put ", 0), 0u);
  EXPECT_EQ(seen[0].body, "payload");
  for (std::size_t i = 1; i < seen.size(); ++i) {
    EXPECT_EQ(seen[i].head.rfind("GET /get ", 0), 0u) << seen[i].head;
    EXPECT_EQ(seen[i].head.find("X-Only-Once"), std::string::npos) << seen[i].head;
    EXPECT_EQ(seen[i].head.find("Content-Length"), std::string::npos) << seen[i].head;
    EXPECT_TRUE(seen[i].body.empty());
  }
}

TEST(CurlTransport, PlainExchangesOneAfterAnotherEachSendTheirOwnMethodAndLines) {
  // GETs and HEADs go out on handles kept from the exchanges before them: each still sends its
  // own method and header lines, and a GET after a HEAD reads its body.
  HttpTestServer server;
  server.route("GET", "/page", CannedResponse::text("body"));
  server.route("HEAD", "/page", CannedResponse::text("body"));
  URLRequest first(server.url("/page"));
  first.setValueForHTTPHeaderField("yes", "X-Only-Once");
  auto firstBody = fetch(first);
  ASSERT_TRUE(firstBody);
  EXPECT_EQ(stringFromData(*firstBody), "body");
  URLRequest head(server.url("/page"));
  head.setHTTPMethod("HEAD");
  auto headBody = fetch(head);
  ASSERT_TRUE(headBody);
  EXPECT_TRUE(headBody->empty());
  URLRequest last(server.url("/page"));
  last.setValueForHTTPHeaderField("2", "X-Last");
  for (int i = 0; i < 2; ++i) {
    auto lastBody = fetch(last);
    ASSERT_TRUE(lastBody);
    EXPECT_EQ(stringFromData(*lastBody), "body");
  }
  URLRequest plainest(server.url("/page"));
  ASSERT_TRUE(fetch(plainest));
  auto seen = server.requests();
  ASSERT_EQ(seen.size(), 5u);
  EXPECT_EQ(seen[0].method, "GET");
  EXPECT_EQ(seen[1].method, "HEAD");
  EXPECT_EQ(seen[2].method, "GET");
  EXPECT_EQ(seen[0].headers.value("X-Only-Once"), "yes");
  for (std::size_t i = 1; i < seen.size(); ++i) EXPECT_FALSE(seen[i].headers.contains("X-Only-Once")) << i;
  EXPECT_EQ(seen[2].headers.value("X-Last"), "2");
  EXPECT_EQ(seen[3].headers.value("X-Last"), "2");
  EXPECT_FALSE(seen[4].headers.contains("X-Last"));
  for (const auto& request : seen) EXPECT_EQ(request.headers.value("Accept-Encoding"), "gzip, deflate");
}

// A handle kept from a plain exchange comes with its header lines; an exchange that takes it and
// fails before it goes out (a host known to have no address) still frees them, which the leak
// check at the end of the test's process would otherwise report.
TEST(CurlTransport, AnExchangeThatFailsOnItsRouteFreesTheLinesOfTheHandleItTook) {
  HttpTestServer server;
  server.route("GET", "/page", CannedResponse::text("body"));
  ASSERT_TRUE(fetch(URLRequest(server.url("/page"))));
  os::HostLookup::setOverride("nowhere.invalid", std::nullopt);
  EXPECT_FALSE(fetch(URLRequest("http://nowhere.invalid/page")));
  os::HostLookup::removeOverride("nowhere.invalid");
}

TEST(CurlTransport, OnlyAnIdempotentRequestGoesAgainWhenItsKeptAliveConnectionDies) {
  // The server reads the request whole, then closes the connection without answering: it may have
  // acted on it. A PUT may go again (with its whole body); a POST must not be sent twice.
  using Step = KeepAlivePeer::Step;
  KeepAlivePeer peer({Step::Answer, Step::Drop, Step::Answer, Step::Drop, Step::Answer});
  ASSERT_TRUE(fetch(URLRequest(peer.url("/first"))));

  URLRequest put(peer.url("/put"));
  put.setHTTPMethod("PUT");
  put.setHTTPBody(dataFromString("the whole payload"));
  Error error;
  ASSERT_TRUE(fetch(put, &error)) << error.localizedDescription();
  auto seen = peer.requests();
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[1].connection, 1) << "sent on the kept-alive connection";
  EXPECT_EQ(seen[2].connection, 2);
  EXPECT_EQ(seen[2].body, "the whole payload");

  URLRequest post(peer.url("/post"));
  post.setHTTPMethod("POST");
  post.setHTTPBody(dataFromString("share once"));
  EXPECT_FALSE(fetch(post, &error));
  EXPECT_EQ(error.domain, kURLErrorDomain);
  EXPECT_EQ(error.code, kURLErrorNetworkConnectionLost);
  seen = peer.requests();
  ASSERT_EQ(seen.size(), 4u) << "the POST reached the server once";
  EXPECT_EQ(seen[3].body, "share once");

  // The caller decides to send it again; it goes on a new connection.
  ASSERT_TRUE(fetch(post, &error)) << error.localizedDescription();
  seen = peer.requests();
  ASSERT_EQ(seen.size(), 5u);
  EXPECT_GT(seen[4].connection, seen[3].connection);
}

TEST(CurlTransport, AStreamedBodyGoesOnAFreshConnection) {
  // A stream cannot always be read twice, so it never rides on a connection that may have died.
  KeepAlivePeer peer;
  ASSERT_TRUE(fetch(URLRequest(peer.url("/first"))));
  URLRequest post(peer.url("/up"));
  post.setHTTPMethod("PUT");
  post.setValueForHTTPHeaderField("6", "Content-Length");
  post.setHTTPBodyStream(InputStream::withData(dataFromString("stream")));
  ASSERT_TRUE(fetch(post));
  auto seen = peer.requests();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[1].connection, 2);
  EXPECT_EQ(seen[1].body, "stream");
}

// Starts each exchange on `loop`'s thread, offering it that loop; on the transport's own thread
// without one.
void cancelAndTimeOutLeaveTheOthersRunning(const std::shared_ptr<Thread>& loopThread) {
  HttpTestServer server;
  CannedResponse stall = CannedResponse::text("late");
  stall.delay = 10;
  server.route("GET", "/stall", stall);
  CannedResponse slow;
  slow.chunks = {"one ", "two ", "three"};
  slow.chunkDelay = 0.1;
  slow.contentType = "application/octet-stream";  // a compressed answer would arrive all at the end
  server.route("GET", "/slow", slow);

  auto transport = URLTransport::makeCurlTransport();
  auto timedOut = std::make_shared<Events>(), cancelled = std::make_shared<Events>(), whole = std::make_shared<Events>();
  std::thread::id eventThread;
  whole->onResponse = [&] { eventThread = std::this_thread::get_id(); };
  URLRequest stalled(server.url("/stall"));
  stalled.setTimeoutInterval(0.3);
  std::unique_ptr<URLTransportTask> a, b, c;
  std::thread::id loopThreadId;
  auto startAll = [&] {
    URLTransportOptions options;
    if (loopThread) options.runLoop = RunLoop::current();
    loopThreadId = std::this_thread::get_id();
    a = transport->start(stalled, options, timedOut);
    b = transport->start(URLRequest(server.url("/slow")), options, cancelled);
    c = transport->start(URLRequest(server.url("/slow")), options, whole);
  };
  if (loopThread) loopThread->perform(startAll, true);
  else startAll();

  ASSERT_TRUE(cancelled->waitFor("data"));
  b->cancel();  // from another thread than the exchange's
  std::size_t eventsAtCancel = cancelled->events().size();
  ASSERT_TRUE(timedOut->waitFor("fail"));
  ASSERT_TRUE(whole->waitFor("finish"));

  EXPECT_EQ(timedOut->error()->code, kURLErrorTimedOut);
  EXPECT_EQ(whole->body(), "one two three");
  EXPECT_EQ(cancelled->events().size(), eventsAtCancel);
  for (const auto& e : cancelled->events()) EXPECT_TRUE(e == "response" || e == "data") << e;
  EXPECT_EQ(eventThread == loopThreadId, loopThread != nullptr);
}

TEST(CurlTransport, CancelAndTimeOutOfOneExchangeLeaveTheOthersRunning) {
  cancelAndTimeOutLeaveTheOthersRunning(nullptr);
  // The same on a thread that only runs its loop, which then runs the exchanges too; twice, so
  // the second loop's exchanges start after the first loop has gone.
  for (int i = 0; i < 2; ++i) {
    auto loopThread = Thread::create("exchanges");
    loopThread->start();
    cancelAndTimeOutLeaveTheOthersRunning(loopThread);
    loopThread->cancel();
    loopThread->join();
  }
}

TEST(CurlTransport, ATaskDestroyedInsideItsOwnEventEndsItQuietly) {
  HttpTestServer server;
  CannedResponse slow;
  slow.chunks = {"a", "b", "c"};
  slow.chunkDelay = 0.05;
  slow.contentType = "application/octet-stream";
  server.route("GET", "/slow", slow);
  server.route("GET", "/next", CannedResponse::text("next"));

  auto transport = URLTransport::makeCurlTransport();
  std::mutex taskMutex;
  std::unique_ptr<URLTransportTask> task;
  auto first = std::make_shared<Events>();
  // The event runs on the worker: destroying the task there must neither wait for the worker
  // nor deadlock on the event being delivered.
  first->onResponse = [&] {
    std::lock_guard<std::mutex> lock(taskMutex);
    task.reset();
  };
  {
    std::lock_guard<std::mutex> lock(taskMutex);
    task = transport->start(URLRequest(server.url("/slow")), {}, first);
  }
  ASSERT_TRUE(first->waitFor("response"));

  // The worker goes on; the dropped exchange left before this one was added.
  auto second = std::make_shared<Events>();
  auto next = transport->start(URLRequest(server.url("/next")), {}, second);
  ASSERT_TRUE(second->waitFor("finish"));
  EXPECT_EQ(second->body(), "next");
  EXPECT_EQ(first->events(), (std::vector<std::string>{"response"}));
}

TEST(CurlTransport, ExchangesInFlightDoNotEachTakeAThread) {
  HttpTestServer server;
  CannedResponse held = CannedResponse::text("held");
  held.delay = 0.5;
  server.route("GET", "/held", held);
  ASSERT_TRUE(fetch(URLRequest(server.url("/warm"))));  // the worker exists from here on

  auto transport = URLTransport::makeCurlTransport();
  std::size_t before = threadCount();
  std::vector<std::unique_ptr<URLTransportTask>> tasks;
  for (int i = 0; i < 6; ++i)
    tasks.push_back(transport->start(URLRequest(server.url("/held")), {}, std::make_shared<Events>()));
  ASSERT_TRUE(server.waitForRequests(1 + 6, 20));
  EXPECT_LT(threadCount(), before + 3);
}

// A synchronous load's caller sleeps until the end anyway, so the exchange runs on its thread,
// and its time-out is kept there too.
TEST(CurlTransport, ASynchronousLoadRunsOnTheCallersThreadWithItsTimeOut) {
  HttpTestServer server;
  CannedResponse held = CannedResponse::text("held");
  held.delay = 3;
  server.route("PUT", "/held", held);
  server.route("PUT", "/quick", CannedResponse::text("quick"));
  auto put = [&](const std::string& path, const std::shared_ptr<ThreadNotingStream>& body) {
    URLRequest request(server.url(path));
    request.setHTTPMethod("PUT");
    request.setValueForHTTPHeaderField("4", "Content-Length");
    request.setHTTPBodyStream(body);
    return request;
  };

  auto quickBody = std::make_shared<ThreadNotingStream>("body");
  auto body = fetch(put("/quick", quickBody));
  ASSERT_TRUE(body);
  EXPECT_EQ(stringFromData(*body), "quick");
  ASSERT_FALSE(quickBody->readers().empty());
  for (auto reader : quickBody->readers()) EXPECT_EQ(reader, std::this_thread::get_id());

  auto slowBody = std::make_shared<ThreadNotingStream>("body");
  URLRequest slow = put("/held", slowBody);
  slow.setTimeoutInterval(0.2);
  Error error;
  EXPECT_FALSE(fetch(slow, &error));
  EXPECT_EQ(error.code, kURLErrorTimedOut);
  ASSERT_FALSE(slowBody->readers().empty());
  for (auto reader : slowBody->readers()) EXPECT_EQ(reader, std::this_thread::get_id());

  // Without a body to send, nothing but the time-out wakes the caller while the server stays
  // silent (here until the test ends, far past any wait the loop may cap itself at): the load
  // ends at its time-out, not when the server finally answers.
  CannedResponse silent = CannedResponse::text("late");
  silent.delay = 60;
  server.route("GET", "/silent", silent);
  URLRequest get(server.url("/silent"));
  get.setTimeoutInterval(0.5);
  Error getError;
  auto started = std::chrono::steady_clock::now();
  EXPECT_FALSE(fetch(get, &getError));
  auto took = std::chrono::steady_clock::now() - started;
  EXPECT_EQ(getError.code, kURLErrorTimedOut);
  EXPECT_GE(took, std::chrono::milliseconds(500));
  EXPECT_LT(took, std::chrono::seconds(20));  // well before the server's answer
}

// Synchronous loads on several threads at once each get an exchange of their own, and what they
// leave behind is kept: never more connections than loads ever ran at the same time.
TEST(CurlTransport, SynchronousLoadsOnSeveralThreadsShareTheKeptConnections) {
  KeepAlivePeer peer;
  constexpr int kThreads = 4, kEach = 5;
  std::atomic<int> ok{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        auto body = fetch(URLRequest(peer.url("/t" + std::to_string(t) + "/" + std::to_string(i))));
        if (body && stringFromData(*body) == "ok") ++ok;
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(ok.load(), kThreads * kEach);
  EXPECT_EQ(peer.requests().size(), static_cast<std::size_t>(kThreads * kEach));
  EXPECT_LE(peer.connections(), kThreads);
  // One load after the others finds a connection already open.
  ASSERT_TRUE(fetch(URLRequest(peer.url("/after"))));
  EXPECT_LE(peer.connections(), kThreads);
}

// Exits while an exchange that `begin` started from a stalling route is under way: the exit must
// end cleanly, never inside the TLS library as it cleans up. The server and the exchange are left
// running, as a process may leave them at exit (held by statics, not leaked).
void exitWithAnExchangeInFlight(const std::function<void(const std::string& url)>& begin) {
  static HttpTestServer* server = new HttpTestServer();
  CannedResponse stall = CannedResponse::text("late");
  stall.delay = 5;
  server->route("GET", "/stall", stall);
  begin(server->url("/stall"));
  server->waitForRequests(1, 20);
  std::exit(3);
}

TEST(CurlTransportDeathTest, ExitingWithAnExchangeInFlightEndsCleanly) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(exitWithAnExchangeInFlight([](const std::string& url) {
                static auto task = URLTransport::shared()->start(URLRequest(url), {}, std::make_shared<Events>());
              }),
              ::testing::ExitedWithCode(3), "");
}

TEST(CurlTransportDeathTest, ExitingWithASynchronousLoadInFlightEndsCleanly) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // The loading thread sleeps in the exchange while the process exits under it.
  EXPECT_EXIT(exitWithAnExchangeInFlight(
                  [](const std::string& url) { std::thread([url] { fetch(URLRequest(url)); }).detach(); }),
              ::testing::ExitedWithCode(3), "");
}

// Where the exit finds a load it started after the transport stopped for it.
URLTransportTask* gStartedDuringExit = nullptr;

TEST(CurlTransportDeathTest, ASynchronousLoadTheExitCatchesLosesNothing) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // A synchronous load that finds the transport stopped for the exit is dropped where it stands;
  // what it holds of libcurl stays reachable, as everything the process holds at exit does (the
  // leak check at exit sees it). Registered before the transport's own exit handler, this one runs
  // after it, when every synchronous load is left where it is.
  EXPECT_EXIT(
      {
        std::atexit([] {
          URLTransportOptions options;
          options.blocking = true;
          gStartedDuringExit =
              URLTransport::shared()->start(URLRequest("http://127.0.0.1:9/"), options, std::make_shared<Events>()).release();
        });
        exitWithAnExchangeInFlight(
            [](const std::string& url) { std::thread([url] { fetch(URLRequest(url)); }).detach(); });
      },
      ::testing::ExitedWithCode(3), "");
}

}  // namespace
}  // namespace os
