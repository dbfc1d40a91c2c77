// The local services' HTTP server (os::TrackedHttpServer) answering GET requests one after
// another over kept-alive loopback connections, with a short head and with a 4 KB one, alone and
// beside a crowd of 200 slow peers (part of a head sent, the rest never) and 1,000 idle
// connections. The baseline, "blocking", is the HTTP layer's own server with as many workers,
// each reading the connection it serves; beside the crowd it answers nothing for minutes, so it
// runs alone only. Each row reports answers a second and the 99th percentile of one answer's time,
// at 2,000, 8,000 and 32,000 requests. Bodies in chunks of one byte against one chunk: below.
#include <benchmark/benchmark.h>
#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "os/net/TrackedHttpServer.h"
#include "os/testing/RawHttpClient.h"

namespace {

constexpr int kRequests = 2000;
constexpr int kWorkers = 8;
constexpr int kSlow = 200, kIdle = 1000;

// Through the server's own routes: ours keeps them in sight and runs each handler in its own way.
template <class Server>
void route(Server& server) {
  server.Get("/", [](const httplib::Request&, httplib::Response& response) { response.set_content("ok", "text/plain"); });
  server.Post("/", [](const httplib::Request& request, httplib::Response& response) {
    response.set_content(request.body.size() > 0 ? "ok" : "no", "text/plain");
  });
}

struct Ours {
  os::TrackedHttpServer http;
  std::thread thread;
  int port = 0;
  Ours() {
    route(http);
    http.setWorkerCount(kWorkers);
    port = http.bind("127.0.0.1", 0).value_or(0);
    thread = std::thread([this] { http.serve(); });
  }
  ~Ours() {
    http.stop();
    http.endConnections(true);
    thread.join();
  }
};

struct Blocking {
  httplib::Server http;
  std::thread thread;
  int port = 0;
  Blocking() {
    route(http);
    http.new_task_queue = [] { return new httplib::ThreadPool(kWorkers); };
    // As the services' server writes: no wait for the client's delayed ACK between head and body.
    http.set_tcp_nodelay(true);
    port = http.bind_to_any_port("127.0.0.1");
    // Listening since the bind: a connection waits in the queue until the loop takes it.
    thread = std::thread([this] { http.listen_after_bind(); });
  }
  ~Blocking() {
    http.stop();
    thread.join();
  }
};

// Peers that hold connections without a whole request: slow ones sent the start of a head.
struct Crowd {
  std::vector<int> fds;
  explicit Crowd(int port) {
    const std::string start = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: ";
    for (int i = 0; i < kSlow + kIdle; ++i) {
      const int fd = os::testing::connectTo("127.0.0.1", port);
      if (fd < 0) continue;
      if (i < kSlow) ::send(fd, start.data(), start.size(), MSG_NOSIGNAL);
      fds.push_back(fd);
    }
  }
  ~Crowd() {
    for (int fd : fds) ::close(fd);
  }
};

std::string request(bool longHead) {
  return "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUser-Agent: " + std::string(longHead ? 4000 : 16, 'u') + "\r\n\r\n";
}

std::map<std::string, double> gRates;

// kRequests answers times the load (the benchmark's argument), each timed; reconnects when the
// server ends a connection.
void answers(benchmark::State& state, int port, bool longHead, const std::string& row) {
  const std::string ask = request(longHead);
  std::vector<double> times;
  double rate = 0;
  for (auto _ : state) {
    times.clear();
    int fd = os::testing::connectTo("127.0.0.1", port);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kRequests * state.range(0) && fd >= 0; ++i) {
      const auto sent = std::chrono::steady_clock::now();
      const std::string answer = os::testing::answerOn(fd, ask, 2);
      times.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - sent).count());
      if (answer.rfind("HTTP/1.1 200", 0) != 0) {
        state.SkipWithError("no answer");
        break;
      }
      if (answer.find("Connection: close") != std::string::npos) {
        ::close(fd);
        fd = os::testing::connectTo("127.0.0.1", port);
      }
    }
    if (fd >= 0) ::close(fd);
    rate = static_cast<double>(times.size()) / std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  std::sort(times.begin(), times.end());
  state.counters["answers/s"] = rate;
  state.counters["p99_us"] = times.empty() ? 0 : times[times.size() * 99 / 100];
  if (state.range(0) == 1) gRates[row] = rate;
}

void BM_Ours_Short(benchmark::State& state) {
  Ours server;
  answers(state, server.port, false, "ours short");
}
void BM_Ours_4KBHead(benchmark::State& state) {
  Ours server;
  answers(state, server.port, true, "ours 4KB");
}
void BM_Blocking_Short(benchmark::State& state) {
  Blocking server;
  answers(state, server.port, false, "blocking short");
}
void BM_Blocking_4KBHead(benchmark::State& state) {
  Blocking server;
  answers(state, server.port, true, "blocking 4KB");
}
void BM_Ours_Short_BesideCrowd(benchmark::State& state) {
  Ours server;
  Crowd crowd(server.port);
  answers(state, server.port, false, "ours short, crowd");
}
void BM_Ours_4KBHead_BesideCrowd(benchmark::State& state) {
  Ours server;
  Crowd crowd(server.port);
  answers(state, server.port, true, "ours 4KB, crowd");
}

// A body sent in chunks of one byte each, against the same body in one chunk: what the server
// spends on a chunk should not grow with what else the peer sent in the same read. Bodies of
// 64 KiB, 256 KiB and 1 MiB (1x, 4x, 16x), 20 requests on one kept-alive connection.
std::string chunked(std::size_t length, std::size_t piece) {
  std::string body;
  char size[32];
  for (std::size_t at = 0; at < length; at += piece) {
    const std::size_t n = std::min(piece, length - at);
    std::snprintf(size, sizeof size, "%zx\r\n", n);
    body.append(size).append(n, 'b').append("\r\n");
  }
  return "POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: text/plain\r\nTransfer-Encoding: chunked\r\n\r\n" + body +
         "0\r\n\r\n";
}

void bodies(benchmark::State& state, std::size_t piece) {
  const auto length = static_cast<std::size_t>(state.range(0));
  Ours server;
  server.http.set_payload_max_length(std::size_t{16} << 20);
  const std::string ask = chunked(length, piece);
  constexpr int kBodies = 20;
  for (auto _ : state) {
    const int fd = os::testing::connectTo("127.0.0.1", server.port);
    for (int i = 0; i < kBodies && fd >= 0; ++i)
      if (os::testing::answerOn(fd, ask, 2).rfind("HTTP/1.1 200", 0) != 0) {
        state.SkipWithError("no answer");
        break;
      }
    if (fd >= 0) ::close(fd);
  }
  const double bytes = static_cast<double>(length) * kBodies * static_cast<double>(state.iterations());
  state.counters["body_bytes/s"] = benchmark::Counter(bytes, benchmark::Counter::kIsRate);
}
void BM_Ours_OneByteChunks(benchmark::State& state) { bodies(state, 1); }
void BM_Ours_OneChunk(benchmark::State& state) { bodies(state, std::size_t{16} << 20); }

// Bodies of 64 KiB, 4x and 16x that.
void bodySizes(benchmark::internal::Benchmark* b) {
  b->Unit(benchmark::kMillisecond)->Arg(64 << 10)->Arg(256 << 10)->Arg(1 << 20)->Iterations(3)->UseRealTime();
}
BENCHMARK(BM_Ours_OneChunk)->Apply(bodySizes);
BENCHMARK(BM_Ours_OneByteChunks)->Apply(bodySizes);
BENCHMARK(BM_Blocking_Short)->Unit(benchmark::kMillisecond)->Arg(1)->Arg(4)->Arg(16)->Iterations(3);
BENCHMARK(BM_Blocking_4KBHead)->Unit(benchmark::kMillisecond)->Arg(1)->Arg(4)->Arg(16)->Iterations(3);
BENCHMARK(BM_Ours_Short)->Unit(benchmark::kMillisecond)->Arg(1)->Arg(4)->Arg(16)->Iterations(3);
BENCHMARK(BM_Ours_4KBHead)->Unit(benchmark::kMillisecond)->Arg(1)->Arg(4)->Arg(16)->Iterations(3);
BENCHMARK(BM_Ours_Short_BesideCrowd)->Unit(benchmark::kMillisecond)->Arg(1)->Arg(4)->Arg(16)->Iterations(3);
BENCHMARK(BM_Ours_4KBHead_BesideCrowd)->Unit(benchmark::kMillisecond)->Arg(1)->Arg(4)->Arg(16)->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  auto ratio = [](const char* a, const char* b) {
    return gRates.count(a) && gRates.count(b) && gRates[b] > 0 ? gRates[a] / gRates[b] : 0.0;
  };
  std::printf("4 KB head against a short one (time ratio): ours %.2fx, blocking %.2fx\n", ratio("ours short", "ours 4KB"),
              ratio("blocking short", "blocking 4KB"));
  std::printf("ours against blocking (answers a second): short %.2fx, 4 KB head %.2fx\n", ratio("ours short", "blocking short"),
              ratio("ours 4KB", "blocking 4KB"));
  std::printf("ours beside 200 slow and 1,000 idle connections, against alone: short %.2fx, 4 KB head %.2fx\n",
              ratio("ours short, crowd", "ours short"), ratio("ours 4KB, crowd", "ours 4KB"));
  benchmark::Shutdown();
  return 0;
}
