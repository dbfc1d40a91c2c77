// Small GET requests (2,000, 4x and 16x that) over loopback through the HTTP client (request
// building, operation, network thread, completion closure). One at a time, they are compared with one plain libcurl
// easy handle in a loop reusing its kept-alive connection, and once more while offering the
// codings the client offers ("gzip, deflate": the test server then compresses every answer, as it
// does for the client's). Queued all at once, the client runs kParallel of them at a time; they
// are compared with libcurl's multi interface keeping the same number of transfers under way on
// as many reused connections. The floor for one at a time is the coded loop run on another thread,
// each request handed to it and its answer handed back. The floor and the multi baseline send the
// very request the client sends: its codings and its default header lines.
// Prints the time ratios at the end.
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/ProcessCpu.h"
#include "foundation/http/TLHTTPClient.h"
#include "os/net/URLConnection.h"
#include "os/runtime/DispatchQueue.h"
#include "os/runtime/RunLoop.h"
#include "os/testing/HttpTestServer.h"

namespace {

// Requests of a run, the case's argument: 2,000, 4x and 16x that.
void requestCounts(benchmark::internal::Benchmark* b) {
  for (int n : {2000, 8000, 32000}) b->Arg(n);
}
// Requests under way at once when queued: the client's operation queue and the multi baseline
// alike (the queue's own default is the number of processor cores).
constexpr int kParallel = 8;

os::testing::HttpTestServer& server() {
  static auto* s = [] {
    auto* srv = new os::testing::HttpTestServer();
    srv->route("GET", "/small", os::testing::CannedResponse::text("{\"ok\":1}"));
    for (int mib : {1, 4, 16})
      srv->route("GET", "/body/" + std::to_string(mib), os::testing::CannedResponse::generated(std::uint64_t(mib) << 20, false));
    return srv;
  }();
  return *s;
}

// Every repetition's time by the number of requests; the summary compares medians, as the
// aggregates do.
std::map<std::int64_t, std::vector<double>> gClientSequential, gClientQueued, gConnection, gCurlReuse, gCurlReuseCoded,
    gCurlMulti, gCurlHandOver;

double median(std::vector<double> times) {
  if (times.empty()) return 0;
  std::sort(times.begin(), times.end());
  std::size_t n = times.size();
  return n % 2 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2;
}

double seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

std::shared_ptr<TLHTTPClient> makeClient() {
  return std::make_shared<TLHTTPClient>(*os::URL::parse(server().url("/")), TLHTTPClientEnvironment{});
}

// One after another, as the news client's synchronous requests run.
void BM_ClientSequential(benchmark::State& state) {
  const int kRequests = static_cast<int>(state.range(0));
  auto client = makeClient();
  auto callbacks = os::DispatchQueue::global();
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    std::atomic<int> ok{0};
    for (int i = 0; i < kRequests; ++i) {
      auto request = client->requestWithMethod("GET", "small", os::Value(os::Dictionary{{"i", i}}));
      auto op = client->HTTPRequestOperationWithRequest(
          *request, [&ok](const auto&, const auto&) { ++ok; }, nullptr);
      op->setSuccessCallbackQueue(callbacks);
      op->start();
      op->waitUntilFinished();
      // The operations' broadcasts go to the main queue.
      if (i % 64 == 0) os::RunLoop::main()->runUntilIdle();
    }
    os::RunLoop::main()->runUntil([&] { return ok.load() == kRequests; }, 30);
    gClientSequential[kRequests].push_back(seconds(start));
    if (ok.load() != kRequests) state.SkipWithError("not every request succeeded");
  }
  state.counters["requests"] = kRequests;
}
BENCHMARK(BM_ClientSequential)->Apply(requestCounts)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// All at once on the client's operation queue, kParallel at a time.
void BM_ClientQueued(benchmark::State& state) {
  const int kRequests = static_cast<int>(state.range(0));
  auto client = makeClient();
  client->operationQueue()->setMaxConcurrentOperationCount(kParallel);
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    std::atomic<int> done{0};
    for (int i = 0; i < kRequests; ++i)
      client->getPath("small", os::Value(os::Dictionary{{"i", i}}), [&done](const auto&, const auto&) { ++done; },
                      [&done](const auto&, const auto&) { ++done; });
    os::RunLoop::main()->runUntil([&] { return done.load() == kRequests; }, 60);
    gClientQueued[kRequests].push_back(seconds(start));
    if (done.load() != kRequests) state.SkipWithError("not every request ended");
  }
  state.counters["requests"] = kRequests;
}
BENCHMARK(BM_ClientQueued)->Apply(requestCounts)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// The platform's synchronous load alone, without the client: what the transport itself costs.
void BM_URLConnectionSynchronous(benchmark::State& state) {
  const int kRequests = static_cast<int>(state.range(0));
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    int ok = 0;
    for (int i = 0; i < kRequests; ++i) {
      os::HTTPURLResponse response;
      os::Error error;
      if (os::URLConnection::sendSynchronousRequest(os::URLRequest(server().url("/small") + "?i=" + std::to_string(i)),
                                                    &response, &error) &&
          response.statusCode() == 200)
        ++ok;
    }
    gConnection[kRequests].push_back(seconds(start));
    if (ok != kRequests) state.SkipWithError("not every request succeeded");
  }
  state.counters["requests"] = kRequests;
}
BENCHMARK(BM_URLConnectionSynchronous)->Apply(requestCounts)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

size_t collect(char* data, size_t size, size_t n, void* out) {
  static_cast<std::string*>(out)->append(data, size * n);
  return size * n;
}

// The baselines the client is held to send the request the client sends: its codings and the
// header lines every request of the client carries, so that both sides pay the same for the
// exchange on the wire (libcurl formatting the lines, the server reading them) and differ only by
// what the client itself does.
curl_slist* clientHeaderLines() {
  static curl_slist* lines = [] {
    curl_slist* list = nullptr;
    const auto client = makeClient();
    for (const auto& [name, value] : client->defaultHeaders()) list = curl_slist_append(list, (name + ": " + value).c_str());
    return list;
  }();
  return lines;
}

void sendClientRequest(CURL* easy) {
  curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "gzip, deflate");
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, clientHeaderLines());
}

// The baseline one at a time: one easy handle for every request, keeping the server's connection
// alive between requests (the test server answers without delayed acknowledgements, so a reused
// connection costs no stall).
double curlEasyLoop(benchmark::State& state, bool offerCodings) {
  const int kRequests = static_cast<int>(state.range(0));
  double elapsed = 0;
  CURL* easy = curl_easy_init();
  std::string body;
  if (offerCodings) curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "gzip, deflate");
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &collect);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &body);
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    int ok = 0;
    for (int i = 0; i < kRequests; ++i) {
      body.clear();
      std::string url = server().url("/small") + "?i=" + std::to_string(i);
      curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
      long status = 0;
      if (curl_easy_perform(easy) == CURLE_OK && curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK &&
          status == 200)
        ++ok;
    }
    elapsed = seconds(start);
    if (ok != kRequests) state.SkipWithError("not every request succeeded");
  }
  curl_easy_cleanup(easy);
  state.counters["requests"] = kRequests;
  return elapsed;
}

void BM_CurlEasyLoopReuse(benchmark::State& state) { gCurlReuse[state.range(0)].push_back(curlEasyLoop(state, false)); }
BENCHMARK(BM_CurlEasyLoopReuse)->Apply(requestCounts)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CurlEasyLoopReuseCoded(benchmark::State& state) { gCurlReuseCoded[state.range(0)].push_back(curlEasyLoop(state, true)); }
BENCHMARK(BM_CurlEasyLoopReuseCoded)->Apply(requestCounts)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// The floor under any client that runs its transfers on a thread of its own: each request handed
// to another thread, which sends it as the client does, and its answer
// handed back to the caller waiting for it; two hand-overs between threads a request and nothing
// else besides curl's own work.
void BM_CurlHandOverCoded(benchmark::State& state) {
  const int kRequests = static_cast<int>(state.range(0));
  struct Worker {
    std::mutex mutex;
    std::condition_variable changed;
    std::string url;      // the request handed over; empty: none waiting
    int status = -1;      // the answer handed back; -1: none yet
    bool stopping = false;
  } w;
  std::thread thread([&w] {
    CURL* easy = curl_easy_init();
    std::string body;
    sendClientRequest(easy);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &collect);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &body);
    std::unique_lock<std::mutex> lock(w.mutex);
    for (;;) {
      w.changed.wait(lock, [&] { return w.stopping || !w.url.empty(); });
      if (w.stopping) break;
      std::string url = std::move(w.url);
      w.url.clear();
      lock.unlock();
      body.clear();
      curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
      long status = 0;
      if (curl_easy_perform(easy) != CURLE_OK || curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK)
        status = 0;
      lock.lock();
      w.status = static_cast<int>(status);
      w.changed.notify_all();
    }
    lock.unlock();
    curl_easy_cleanup(easy);
  });
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    int ok = 0;
    for (int i = 0; i < kRequests; ++i) {
      std::unique_lock<std::mutex> lock(w.mutex);
      w.url = server().url("/small") + "?i=" + std::to_string(i);
      w.status = -1;
      w.changed.notify_all();
      w.changed.wait(lock, [&] { return w.status >= 0; });
      if (w.status == 200) ++ok;
    }
    gCurlHandOver[kRequests].push_back(seconds(start));
    if (ok != kRequests) state.SkipWithError("not every request succeeded");
  }
  {
    std::lock_guard<std::mutex> lock(w.mutex);
    w.stopping = true;
    w.changed.notify_all();
  }
  thread.join();
  state.counters["requests"] = kRequests;
}
BENCHMARK(BM_CurlHandOverCoded)->Apply(requestCounts)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// The baseline for queued requests: one multi handle keeping kParallel transfers under way, each
// finished one replaced by the next request, on at most kParallel connections that are kept alive
// and reused; sending the client's request, so both get the same answers.
void BM_CurlMultiParallel(benchmark::State& state) {
  const int kRequests = static_cast<int>(state.range(0));
  CURLM* multi = curl_multi_init();
  curl_multi_setopt(multi, CURLMOPT_MAX_TOTAL_CONNECTIONS, static_cast<long>(kParallel));
  curl_multi_setopt(multi, CURLMOPT_MAXCONNECTS, static_cast<long>(kParallel));
  struct Transfer {
    CURL* easy = curl_easy_init();
    std::string body, url;
  };
  std::vector<Transfer> transfers(kParallel);
  for (auto& t : transfers) {
    sendClientRequest(t.easy);
    curl_easy_setopt(t.easy, CURLOPT_WRITEFUNCTION, &collect);
    curl_easy_setopt(t.easy, CURLOPT_WRITEDATA, &t.body);
    curl_easy_setopt(t.easy, CURLOPT_PRIVATE, &t);
  }
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    int next = 0, ok = 0, done = 0;
    const auto launch = [&](Transfer& t) {
      t.body.clear();
      t.url = server().url("/small") + "?i=" + std::to_string(next++);
      curl_easy_setopt(t.easy, CURLOPT_URL, t.url.c_str());
      curl_multi_add_handle(multi, t.easy);
    };
    for (auto& t : transfers) launch(t);
    while (done < kRequests) {
      int running = 0;
      curl_multi_perform(multi, &running);
      int queued = 0;
      while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
        if (message->msg != CURLMSG_DONE) continue;
        Transfer* t = nullptr;
        curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &t);
        long status = 0;
        if (message->data.result == CURLE_OK &&
            curl_easy_getinfo(message->easy_handle, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK && status == 200)
          ++ok;
        ++done;
        curl_multi_remove_handle(multi, message->easy_handle);
        if (next < kRequests) launch(*t);
      }
      if (done < kRequests) curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
    }
    gCurlMulti[kRequests].push_back(seconds(start));
    if (ok != kRequests) state.SkipWithError("not every request succeeded");
  }
  for (auto& t : transfers) curl_easy_cleanup(t.easy);
  curl_multi_cleanup(multi);
  state.counters["requests"] = kRequests;
  state.counters["parallel"] = kParallel;
}
BENCHMARK(BM_CurlMultiParallel)->Apply(requestCounts)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// Bodies of 1, 4 and 16 MiB (the argument), ten of each, through an asynchronous URL load whose
// events the main loop takes: the transfer hands its bytes over in pieces charged to a window it
// waits on. The baseline reads the same bodies with one libcurl easy handle into one string.
constexpr int kBodies = 10;

void BM_URLConnectionBody(benchmark::State& state) {
  struct Sink : os::URLConnectionDelegate {
    std::size_t bytes = 0;
    bool done = false, failed = false;
    void didReceiveData(os::URLConnection&, const os::Data& d) override { bytes += d.size(); }
    void didFinishLoading(os::URLConnection&) override { done = true; }
    void didFailWithError(os::URLConnection&, const os::Error&) override { done = failed = true; }
  };
  const std::string url = server().url("/body/" + std::to_string(state.range(0)));
  const std::size_t expected = std::size_t(state.range(0)) << 20;
  for (auto _ : state) {
    for (int i = 0; i < kBodies; ++i) {
      auto sink = std::make_shared<Sink>();
      auto connection = os::URLConnection::create(os::URLRequest(url), sink);
      os::RunLoop::main()->runUntil([&] { return sink->done; }, 60);
      if (sink->failed || sink->bytes != expected) state.SkipWithError("a body did not arrive whole");
    }
  }
  state.SetBytesProcessed(state.iterations() * kBodies * static_cast<std::int64_t>(expected));
}
BENCHMARK(BM_URLConnectionBody)->Arg(1)->Arg(4)->Arg(16)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CurlEasyBody(benchmark::State& state) {
  const std::string url = server().url("/body/" + std::to_string(state.range(0)));
  const std::size_t expected = std::size_t(state.range(0)) << 20;
  CURL* easy = curl_easy_init();
  std::string body;
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &collect);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &body);
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  for (auto _ : state) {
    for (int i = 0; i < kBodies; ++i) {
      body.clear();
      if (curl_easy_perform(easy) != CURLE_OK || body.size() != expected) state.SkipWithError("a body did not arrive whole");
    }
  }
  curl_easy_cleanup(easy);
  state.SetBytesProcessed(state.iterations() * kBodies * static_cast<std::int64_t>(expected));
}
BENCHMARK(BM_CurlEasyBody)->Arg(1)->Arg(4)->Arg(16)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  curl_global_init(CURL_GLOBAL_ALL);
  if (int status = bench::runCases(argc, argv)) return status;
  using Times = std::map<std::int64_t, std::vector<double>>;
  const auto ratio = [](const char* what, const Times& ours, const Times& base) {
    for (const auto& [requests, times] : ours)
      if (auto b = base.find(requests); b != base.end() && median(b->second) > 0)
        std::printf("%s, %lld requests: %.2f\n", what, static_cast<long long>(requests), median(times) / median(b->second));
  };
  ratio("client sequential / curl easy loop", gClientSequential, gCurlReuse);
  ratio("URL connection    / curl easy loop (the transport alone)", gConnection, gCurlReuse);
  ratio("client sequential / curl easy loop offering gzip", gClientSequential, gCurlReuseCoded);
  ratio("client queued     / curl multi, as many at once", gClientQueued, gCurlMulti);
  ratio("client sequential / curl on another thread, handed over and back", gClientSequential, gCurlHandOver);
  return 0;
}
