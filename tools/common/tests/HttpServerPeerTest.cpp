// What a peer on the same machine can do to the local services' HTTP server, tried as it would:
// ask for a port a service holds, keep hundreds of slow and thousands of idle connections open,
// send bodies past the bound in every method and every coding, send heads by the kilobyte.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "os/testing/RawHttpClient.h"
#include "os/testing/TestCertificateAuthority.h"
#include "tools/common/HttpServer.h"
#include "tools/common/ServiceHost.h"

namespace {

// `length` zero bytes, compressed as a gzip member.
std::string gzipOfZeros(std::size_t length) {
  z_stream z{};
  deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY);
  const std::string zeros(1 << 20, '\0');
  std::string out;
  char buffer[1 << 16];
  for (std::size_t left = length;;) {
    const std::size_t take = std::min(left, zeros.size());
    left -= take;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zeros.data()));
    z.avail_in = static_cast<uInt>(take);
    int rc;
    do {
      z.next_out = reinterpret_cast<Bytef*>(buffer);
      z.avail_out = sizeof buffer;
      rc = deflate(&z, left == 0 ? Z_FINISH : Z_NO_FLUSH);
      out.append(buffer, sizeof buffer - z.avail_out);
    } while (z.avail_out == 0 || (left == 0 && rc != Z_STREAM_END));
    if (left == 0) break;
  }
  deflateEnd(&z);
  return out;
}

// A large answer at "/big" and a small one at "/", for the peers that do not read below.
void routeBigAndSmall(httplib::Server& http, const std::string& big) {
  http.Get("/big", [&big](const httplib::Request&, httplib::Response& response) { response.set_content(big, "text/plain"); });
  http.Get("/", [](const httplib::Request&, httplib::Response& response) { response.set_content("ok", "text/plain"); });
}

// A loopback certificate and its key for a server through TLS, and a client context to reach
// it; let go as the test ends, however it ends.
struct TlsMaterial {
  X509* certificate = nullptr;
  EVP_PKEY* key = nullptr;
  SSL_CTX* client = SSL_CTX_new(TLS_client_method());
  TlsMaterial() {
    const auto issued = os::testing::TestCertificateAuthority::shared().issue({"127.0.0.1"});
    BIO* certBio = BIO_new_mem_buf(issued.certificatePEM.data(), static_cast<int>(issued.certificatePEM.size()));
    BIO* keyBio = BIO_new_mem_buf(issued.privateKeyPEM.data(), static_cast<int>(issued.privateKeyPEM.size()));
    certificate = PEM_read_bio_X509(certBio, nullptr, nullptr, nullptr);
    key = PEM_read_bio_PrivateKey(keyBio, nullptr, nullptr, nullptr);
    BIO_free(certBio);
    BIO_free(keyBio);
  }
  ~TlsMaterial() {
    SSL_CTX_free(client);
    X509_free(certificate);
    EVP_PKEY_free(key);
  }
  TlsMaterial(const TlsMaterial&) = delete;
  TlsMaterial& operator=(const TlsMaterial&) = delete;
};

// Peers' sockets, closed as the test ends however it ends, before the server stops: a worker
// waiting on one of them lets go.
struct PeerSockets {
  std::vector<int> fds;
  ~PeerSockets() {
    for (int fd : fds) ::close(fd);
  }
};

std::string chunk(const std::string& data) {
  char size[32];
  std::snprintf(size, sizeof size, "%zx\r\n", data.size());
  return size + data + "\r\n";
}

bool answered(const std::string& answer, int status) { return answer.rfind("HTTP/1.1 " + std::to_string(status), 0) == 0; }

// A blocking connection to the loopback port whose receive window stays small, so an answer
// cannot all go into the kernel's buffers between the two ends; -1 when it failed.
int connectWithSmallWindow(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int window = 4096;
  ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &window, sizeof window);
  timeval safety{60, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &safety, sizeof safety);
  auto address = os::makeIPv4Address("127.0.0.1", static_cast<std::uint16_t>(port));
  if (!address || ::connect(fd, reinterpret_cast<const sockaddr*>(&*address), sizeof *address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// A service on a bound of 1 MiB with the routes services have: GET and POST, the POST reading its
// body as the services' handlers do.
class HttpServerPeerTest : public ::testing::Test {
 protected:
  static constexpr std::size_t kBound = std::size_t{1} << 20;

  void SetUp() override {
    http.set_payload_max_length(kBound);
    http.Get("/", [this](const httplib::Request&, httplib::Response& response) {
      ++handled;
      response.set_content("ok", "text/plain");
    });
    http.Post("/", [this](const httplib::Request& request, httplib::Response& response) {
      ++handled;
      response.set_content(std::to_string(request.body.size()) + " " + std::to_string(request.files.size()), "text/plain");
    });
    // A route that takes its body as the HTTP layer reads it, coding undone, with no reader of its own.
    http.Patch("/", [this](const httplib::Request& request, httplib::Response& response) {
      ++handled;
      response.set_content(std::to_string(request.body.size()), "text/plain");
    });
    http.Get("/throws", [](const httplib::Request& request, httplib::Response&) {
      throw std::runtime_error("state of " + request.path + " at 0x1234: index out of range");
    });
    auto bound = host.start("127.0.0.1", 0);
    ASSERT_TRUE(bound);
    port = *bound;
  }
  void TearDown() override { host.stop(); }

  std::string exchange(const std::string& request) {
    const int fd = os::testing::connectTo("127.0.0.1", port);
    if (fd < 0) return "";
    std::string answer = os::testing::answerToClose(fd, request);
    ::close(fd);
    return answer;
  }

  tools::HttpServer http;
  tools::ServiceHost host{http};
  int port = 0;
  std::atomic<int> handled{0};
};

// Two services asked for one port: the second never listens beside the first (the kernel would
// share the first one's connections between them), and takes a free port only when told to.
TEST(HttpServerPortTest, APortOneServiceListensOnIsNeverTakenByAnother) {
  tools::HttpServer first, second, third;
  tools::ServiceHost one{first}, two{second}, three{third};
  const auto port = one.start("127.0.0.1", 0);
  ASSERT_TRUE(port);
  EXPECT_FALSE(two.bind("127.0.0.1", *port)) << "a second service listens on a port the first holds";
  const auto elsewhere = three.bind("127.0.0.1", *port, true);
  ASSERT_TRUE(elsewhere);
  EXPECT_NE(*elsewhere, *port);
}

// 200 peers that have sent part of a request and 10,000 that have sent nothing, held open by
// another process: a normal client is answered all the same, long before any of them times out.
TEST_F(HttpServerPeerTest, ANormalRequestIsAnsweredBesideSlowAndIdlePeers) {
  constexpr int kSlow = 200, kIdle = 10000;
  int ready[2], quit[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(quit), 0);
  const pid_t peers = ::fork();
  ASSERT_GE(peers, 0);
  if (peers == 0) {
    ::close(quit[1]);
    ::close(ready[0]);
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
    const std::string start = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: ";
    int opened = 0;
    for (int i = 0; i < kSlow + kIdle; ++i) {
      const int fd = os::testing::connectTo("127.0.0.1", port);
      if (fd < 0) break;
      if (i < kSlow) ::send(fd, start.data(), start.size(), MSG_NOSIGNAL);
      ++opened;
    }
    [[maybe_unused]] auto told = ::write(ready[1], &opened, sizeof opened);
    char end;
    [[maybe_unused]] auto waited = ::read(quit[0], &end, 1);
    ::_exit(0);
  }
  int opened = 0;
  ASSERT_EQ(::read(ready[0], &opened, sizeof opened), static_cast<ssize_t>(sizeof opened));
  EXPECT_EQ(opened, kSlow + kIdle);

  const int fd = os::testing::connectTo("127.0.0.1", port);
  ASSERT_GE(fd, 0);
  // Patience well short of the slow peers' 30 s and the idle ones' 5 s times a crowd.
  timeval patience{4, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
  EXPECT_TRUE(answered(os::testing::answerOn(fd, "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", 2), 200))
      << "a normal client waited behind slow and idle peers";
  ::close(fd);

  ::close(quit[1]);
  ::waitpid(peers, nullptr, 0);
  for (int end : {ready[0], ready[1], quit[0]}) ::close(end);
}

// A head of kilobytes is read in a few blocks, not a byte at a time.
TEST_F(HttpServerPeerTest, AHeadIsReadInBlocks) {
  int fd = os::testing::connectTo("127.0.0.1", port);
  ASSERT_GE(fd, 0);
  const std::string request = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUser-Agent: " + std::string(4000, 'u') + "\r\n\r\n";
  constexpr int kRequests = 100;
  const std::size_t before = http.receiveCount();
  for (int i = 0; i < kRequests; ++i) {
    // A new connection, should the server end this one.
    std::string answer = os::testing::answerOn(fd, request, 2);
    ASSERT_TRUE(answered(answer, 200)) << i;
    if (answer.find("Connection: close") != std::string::npos) {
      ::close(fd);
      ASSERT_GE(fd = os::testing::connectTo("127.0.0.1", port), 0);
    }
  }
  ::close(fd);
  EXPECT_LE(http.receiveCount() - before, std::size_t{4} * kRequests) << "receive calls for " << kRequests << " requests";
}

// A client that keeps its connection reads on through it: a list and its pictures, a page after
// another, never one new connection every few requests.
TEST_F(HttpServerPeerTest, AKeptAliveConnectionCarriesRequestAfterRequest) {
  int fd = os::testing::connectTo("127.0.0.1", port);
  ASSERT_GE(fd, 0);
  const std::string request = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  for (int i = 0; i < 200; ++i) {
    const std::string answer = os::testing::answerOn(fd, request, 2);
    ASSERT_TRUE(answered(answer, 200)) << i;
    ASSERT_EQ(answer.find("Connection: close"), std::string::npos) << "the server ended the connection after request " << i + 1;
  }
  ::close(fd);
  EXPECT_EQ(handled.load(), 200);
}

// Peers that ask for a large answer and read none of it hold no worker: with one worker, and a
// write time-out far longer than the peer's patience below, another peer is answered at once.
// Once they read, the stalled peers get their answers whole. Answers of 3 MiB and of 12 MiB, past
// what a worker once kept for the loop.
TEST(HttpServerSlowReaderTest, PeersThatDoNotReadTheirAnswersHoldNoWorker) {
  for (const std::size_t size : {std::size_t{3} << 20, std::size_t{12} << 20}) {
    SCOPED_TRACE(size);
    tools::HttpServer http;
    http.setWorkerCount(1);
    http.set_write_timeout(300, 0);
    const std::string big(size, 'x');
    routeBigAndSmall(http, big);
    tools::ServiceHost host{http};
    const auto port = host.start("127.0.0.1", 0);
    ASSERT_TRUE(port);
    PeerSockets peers;
    std::vector<int>& stalled = peers.fds;
    for (int i = 0; i < 2; ++i) {
      const int fd = connectWithSmallWindow(*port);
      ASSERT_GE(fd, 0);
      const std::string request = "GET /big HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
      ASSERT_EQ(::send(fd, request.data(), request.size(), MSG_NOSIGNAL), static_cast<ssize_t>(request.size()));
      stalled.push_back(fd);
    }
    // The peers' requests are taken before the next one comes.
    char first;
    for (int fd : stalled) ASSERT_EQ(::recv(fd, &first, 1, MSG_PEEK), 1);
    const int fd = os::testing::connectTo("127.0.0.1", *port);
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(answered(os::testing::answerOn(fd, "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", 2), 200))
        << "the one worker was held by a peer that does not read";
    ::close(fd);
    for (int peer : stalled) {
      const std::string answer = os::testing::answerOn(peer, "", big.size());
      EXPECT_TRUE(answered(answer, 200));
      EXPECT_EQ(answer.size() - answer.find("\r\n\r\n") - 4, big.size());
    }
  }
}

// A peer through TLS that asks a large answer and reads none of it holds no worker either: with
// one worker and a long write time-out, another peer through TLS is answered at once, and the
// stalled peers get their answers whole once they read. Answers of 3 MiB and of 12 MiB.
TEST(HttpServerSlowReaderTest, PeersThroughTlsThatDoNotReadTheirAnswersHoldNoWorker) {
  const TlsMaterial material;
  X509* certificate = material.certificate;
  EVP_PKEY* key = material.key;
  SSL_CTX* client = material.client;
  for (const std::size_t size : {std::size_t{3} << 20, std::size_t{12} << 20}) {
    SCOPED_TRACE(size);
    os::TrackedHttpServer http(certificate, key);
    ASSERT_TRUE(http.is_valid());
    http.setWorkerCount(1);
    http.set_write_timeout(300, 0);
    const std::string big(size, 'x');
    routeBigAndSmall(http, big);
    const auto port = http.bind("127.0.0.1", 0);
    ASSERT_TRUE(port);
    std::thread serving([&] { http.serve(); });
    struct Peer {
      int fd = -1;
      SSL* tls = nullptr;
    };
    std::vector<Peer> peers;
    // Ended before the server stops, however the test ends: a worker waiting on them lets go.
    struct Ender {
      std::vector<Peer>& peers;
      os::TrackedHttpServer& http;
      std::thread& serving;
      ~Ender() {
        for (Peer& peer : peers) {
          SSL_free(peer.tls);
          ::close(peer.fd);
        }
        http.stop();
        http.endConnections(true);
        serving.join();
      }
    } ender{peers, http, serving};
    auto connect = [&](bool smallWindow) {
      Peer peer;
      peer.fd = smallWindow ? connectWithSmallWindow(*port) : os::testing::connectTo("127.0.0.1", *port);
      if (peer.fd < 0) return false;
      peer.tls = SSL_new(client);
      SSL_set_fd(peer.tls, peer.fd);
      peers.push_back(peer);
      return SSL_connect(peer.tls) == 1;
    };
    auto answerOn = [](Peer& peer, const std::string& request, std::size_t length) {
      if (!request.empty() && SSL_write(peer.tls, request.data(), static_cast<int>(request.size())) <= 0)
        return std::string();
      std::string answer;
      char buffer[1 << 16];
      for (;;) {
        const auto head = answer.find("\r\n\r\n");
        if (head != std::string::npos && answer.size() >= head + 4 + length) return answer;
        const int n = SSL_read(peer.tls, buffer, sizeof buffer);
        if (n <= 0) return answer;
        answer.append(buffer, static_cast<std::size_t>(n));
      }
    };
    const std::string request = "GET /big HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    for (int i = 0; i < 2; ++i) {
      ASSERT_TRUE(connect(true));
      ASSERT_EQ(SSL_write(peers.back().tls, request.data(), static_cast<int>(request.size())),
                static_cast<int>(request.size()));
    }
    // The peers' requests are taken before the next one comes: their answers' first records arrive.
    char first;
    for (const Peer& peer : peers) ASSERT_EQ(::recv(peer.fd, &first, 1, MSG_PEEK), 1);
    ASSERT_TRUE(connect(false));
    EXPECT_TRUE(answered(answerOn(peers.back(), "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", 2), 200))
        << "the one worker was held by a peer that does not read";
    for (int i = 0; i < 2; ++i) {
      const std::string answer = answerOn(peers[static_cast<std::size_t>(i)], "", big.size());
      EXPECT_TRUE(answered(answer, 200));
      EXPECT_EQ(answer.size() - answer.find("\r\n\r\n") - 4, big.size());
    }
  }
}

// Answers waiting for peers that do not read them count with the requests under way: past the
// bound the one holding most is cut off, so however many connections a peer asks answers on, the
// server keeps no more. A peer sending requests one after another without reading has one answer
// kept at a time, never a queue of them. Three pipelining peers fit the bound and get every answer
// whole once they read; a fourth peer's answer takes the server past it, and one of the four is
// let go while the others, and a normal client, are served.
TEST(HttpServerSlowReaderTest, AnswersWaitingForTheirPeersAreHeldToTheServersBoundWithRequests) {
  // Far past what the kernel's buffers take of an answer (a few MiB), so most of each waits.
  constexpr std::size_t kAnswer = std::size_t{32} << 20;
  constexpr int kPipelined = 2;
  tools::HttpServer http;
  http.set_payload_max_length(std::size_t{1} << 20);
  http.setHeldRequestLimit(3 * kAnswer + (std::size_t{1} << 20));
  http.set_write_timeout(300, 0);
  const std::string big(kAnswer, 'x');
  routeBigAndSmall(http, big);
  tools::ServiceHost host{http};
  const auto port = host.start("127.0.0.1", 0);
  ASSERT_TRUE(port);
  PeerSockets sockets;
  std::vector<int>& peers = sockets.fds;
  std::string requests;
  for (int i = 0; i < kPipelined; ++i) requests += "GET /big HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  for (int i = 0; i < 4; ++i) {
    const int fd = connectWithSmallWindow(*port);
    ASSERT_GE(fd, 0);
    peers.push_back(fd);
    ASSERT_EQ(::send(fd, requests.data(), requests.size(), MSG_NOSIGNAL), static_cast<ssize_t>(requests.size()));
    // Its first answer is kept (or, for the one let go, ended) before the next peer asks.
    char first;
    const ssize_t seen = ::recv(fd, &first, 1, MSG_PEEK);
    ASSERT_TRUE(seen >= 0 || errno == ECONNRESET) << "no answer came";
  }
  int whole = 0;
  for (const int fd : peers) {
    // Each answer's body read and let go as it comes.
    std::uint64_t body = 0;
    int answers = 0;
    std::string head;
    char buffer[1 << 16];
    for (ssize_t n; answers < kPipelined && (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) {
      for (std::size_t at = 0; at < static_cast<std::size_t>(n);) {
        if (head.find("\r\n\r\n") == std::string::npos) {
          head += buffer[at++];
          continue;
        }
        const std::size_t take = std::min<std::size_t>(static_cast<std::size_t>(n) - at, kAnswer - body);
        body += take;
        at += take;
        if (body == kAnswer) {
          EXPECT_TRUE(answered(head, 200)) << head;
          ++answers;
          body = 0;
          head.clear();
        }
      }
    }
    if (answers == kPipelined) ++whole;
  }
  EXPECT_EQ(whole, 3);
  const int fd = os::testing::connectTo("127.0.0.1", *port);
  ASSERT_GE(fd, 0);
  EXPECT_TRUE(answered(os::testing::answerOn(fd, "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", 2), 200));
  ::close(fd);
}

// Both sides of the head's bound: a head of exactly the bound is served, one byte more is not.
TEST_F(HttpServerPeerTest, AHeadOfExactlyTheBoundIsServedAndOneMoreByteIsNot) {
  // Header lines of a usual length, the last one filled out to the length asked for.
  auto headOf = [](std::size_t length) {
    std::string head = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n";
    for (int i = 0; head.size() + 200 < length; ++i) head += "X-Fill-" + std::to_string(i) + ": " + std::string(64, 'f') + "\r\n";
    head += "X-Last: " + std::string(length - head.size() - 12, 'l') + "\r\n\r\n";
    return head;
  };
  ASSERT_EQ(headOf(tools::HttpServer::kHeadLimit).size(), tools::HttpServer::kHeadLimit);
  EXPECT_TRUE(answered(exchange(headOf(tools::HttpServer::kHeadLimit)), 200));
  const std::string past = exchange(headOf(tools::HttpServer::kHeadLimit + 1));
  EXPECT_FALSE(answered(past, 200)) << past.substr(0, 64);
  EXPECT_EQ(handled, 1);
}

// Every method, routed or not, and every way a body travels is held to the bound as the bytes
// arrive: 413, the connection ended with the rest of the body never kept, no handler run.
TEST_F(HttpServerPeerTest, EveryMethodAndEveryCodingIsHeldToTheBoundAsTheBytesArrive) {
  constexpr std::uint64_t kSent = std::uint64_t{256} << 20;  // far past the bound and any socket buffer
  const std::string zip = gzipOfZeros(64 << 20);             // 64 MiB once inflated
  for (const std::string method : {"POST", "PUT", "PATCH", "DELETE", "GET", "BREW"}) {
    struct Way {
      const char* name;
      std::string headers;
      std::uint64_t length;
      std::function<std::string(std::uint64_t)> piece;
    };
    // Each way's bytes repeat a unit, so a piece can start anywhere a send left off.
    const std::string block(64 << 10, 'b'), chunked = chunk(block);
    std::string zipChunks;
    for (std::size_t at = 0; at < zip.size(); at += 4096) zipChunks += chunk(zip.substr(at, 4096));
    zipChunks += "0\r\n\r\n";
    auto from = [](const std::string& unit, bool repeat) {
      return [&unit, repeat](std::uint64_t at) {
        return repeat ? unit.substr(at % unit.size()) : unit.substr(at, 64 << 10);
      };
    };
    const std::vector<Way> ways = {
        {"with its length", "Content-Length: " + std::to_string(kSent) + "\r\n", kSent, from(block, true)},
        {"in chunks", "Transfer-Encoding: chunked\r\n", kSent, from(chunked, true)},
        {"compressed, with its length",
         "Content-Encoding: gzip\r\nContent-Length: " + std::to_string(zip.size()) + "\r\n", zip.size(), from(zip, false)},
        {"compressed, in chunks", "Content-Encoding: gzip\r\nTransfer-Encoding: chunked\r\n", zipChunks.size(),
         from(zipChunks, false)},
    };
    for (const auto& way : ways) {
      SCOPED_TRACE(method + " " + way.name);
      const int fd = os::testing::connectTo("127.0.0.1", port);
      ASSERT_GE(fd, 0);
      const auto result = os::testing::answerWhileSending(
          fd, method + " / HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/octet-stream\r\n" + way.headers + "\r\n",
          way.length, way.piece);
      ::close(fd);
      // A method no route can take is refused before its body is read at all.
      EXPECT_TRUE(answered(result.answer, method == "BREW" ? 501 : 413)) << result.answer.substr(0, 64);
      if (way.length == kSent) {
        EXPECT_LT(result.sent, kSent / 4) << "the server read on past the bound";
      }
    }
  }
  EXPECT_EQ(handled, 0);
}

// Parts are counted with what each costs to keep: a body of empty parts within the byte bound
// still cannot make the server keep parts by the ten thousand.
TEST_F(HttpServerPeerTest, AMultipartPartIsCountedWithItsHead) {
  std::string body;
  for (int i = 0; i < 15000; ++i) body += "--b\r\nContent-Disposition: form-data; name=\"\"\r\n\r\n\r\n";
  body += "--b--\r\n";
  ASSERT_LT(body.size(), kBound);
  const std::string answer = exchange("POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: multipart/form-data; boundary=b\r\n"
                                      "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
  EXPECT_TRUE(answered(answer, 413)) << answer.substr(0, 64);
  EXPECT_EQ(handled, 0);
}

// A coding the HTTP layer undoes is counted against the bound however it is written: named twice,
// percent-encoded, named within another word, or in a header line behind a lone line feed. None
// of these gives a handler a body past the bound; a coding written plainly is still undone.
TEST_F(HttpServerPeerTest, ACodingTheHttpLayerUndoesIsCountedHoweverItIsWritten) {
  const std::string zip = gzipOfZeros(4 * kBound);
  // 4 MiB of zeros in 14 bytes of brotli.
  const std::string brotli("\x9f\xff\xff\x3f\xf8\x27\x00\xe2\xb1\x40\x20\xf7\xfe\x07", 14);
  auto patch = [&](const std::string& headers, const std::string& body) {
    return exchange("PATCH / HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" + headers +
                    "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
  };
  const std::vector<std::pair<std::string, const std::string*>> ways = {
      {"Content-Encoding: gzip\r\nContent-Encoding: identity\r\n", &zip},
      {"Content-Encoding: %67zip\r\n", &zip},
      {"Content-Encoding: x-br\r\n", &brotli},
      {"X-Note: a\nContent-Encoding: gzip\r\n", &zip},
  };
  for (const auto& [headers, body] : ways) {
    const std::string answer = patch(headers, *body);
    EXPECT_TRUE(answered(answer, 415) || answered(answer, 400)) << headers << ": " << answer.substr(0, 64);
  }
  EXPECT_EQ(handled, 0);
  const std::string plain = patch("Content-Encoding: gzip\r\n", gzipOfZeros(1000));
  EXPECT_TRUE(answered(plain, 200)) << plain.substr(0, 64);
  EXPECT_NE(plain.find("\r\n\r\n1000"), std::string::npos) << plain;
}

// A carriage return alone ends no line and is trimmed from no value: a body in chunks by one
// reading and by its length by another would reach the handler as neither.
TEST_F(HttpServerPeerTest, ACarriageReturnAloneInAHeadIsUnreadable) {
  const std::string answer = exchange("PATCH / HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
                                      "Transfer-Encoding: chunked\r\r\nContent-Length: 12\r\n\r\n5\r\nhello\r\n0\r\n\r\n");
  EXPECT_TRUE(answered(answer, 400)) << answer;
  EXPECT_EQ(handled, 0);
}

// A blank between a header's name and its colon, or a line folded onto the one before, is
// unreadable: the HTTP layer would not take such a line as the header it names, and the body
// would reach the handler with its chunks' framing in it.
TEST_F(HttpServerPeerTest, ABlankBeforeAColonOrAFoldedLineIsUnreadable) {
  for (const std::string line :
       {"Transfer-Encoding : chunked", "Transfer-Encoding\t: chunked", "X-Note: a\r\n Transfer-Encoding: chunked"}) {
    const std::string answer = exchange("POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" + line +
                                        "\r\n\r\n5\r\nhello\r\n0\r\n\r\n");
    EXPECT_TRUE(answered(answer, 400)) << line << ": " << answer;
  }
  EXPECT_EQ(handled, 0);
}

// A body in chunks that breaks the framing is unreadable, not too large; trailer fields after the
// last chunk are allowed and the body arrives whole.
TEST_F(HttpServerPeerTest, ABrokenChunkIsUnreadableAndTrailersAreAccepted) {
  const std::string head = "POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\nTransfer-Encoding: chunked\r\n\r\n";
  for (const std::string broken : {"zz\r\nabc\r\n0\r\n\r\n", "3\r\nabcdef\r\n0\r\n\r\n", "3;\r\nabc\r\n-1\r\n\r\n"}) {
    const std::string answer = exchange(head + broken);
    EXPECT_TRUE(answered(answer, 400)) << broken << ": " << answer.substr(0, 64);
  }
  EXPECT_EQ(handled, 0);
  const std::string answer = exchange(head + "3\r\nabc\r\n4;ext=1\r\ndefg\r\n0\r\nX-Checksum: 7\r\nX-More: 8\r\n\r\n");
  EXPECT_TRUE(answered(answer, 200)) << answer.substr(0, 64);
  EXPECT_NE(answer.find("\r\n\r\n7 0"), std::string::npos) << answer;
}

// A handler that throws: the peer hears of an internal error and nothing of what was thrown, and
// the connection still carries its next request.
TEST_F(HttpServerPeerTest, AHandlerThatThrowsIsAnsweredWithoutItsMessage) {
  const int fd = os::testing::connectTo("127.0.0.1", port);
  ASSERT_GE(fd, 0);
  const std::string answer = os::testing::answerToClose(
      fd, "GET /throws HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\nGET / HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
  ::close(fd);
  EXPECT_TRUE(answered(answer, 500)) << answer;
  EXPECT_EQ(answer.find("index out of range"), std::string::npos) << answer;
  EXPECT_EQ(answer.find("EXCEPTION"), std::string::npos) << answer;
  EXPECT_NE(answer.find("internal error"), std::string::npos) << answer;
  EXPECT_NE(answer.find("HTTP/1.1 200", 1), std::string::npos) << "the next request went unanswered: " << answer;
}

// A Range header the HTTP layer cannot read is ignored, not answered 416 before the route runs:
// a POST carrying one is served, a missing page is still missing, a GET in another unit, or with
// its ends reversed, gets the whole answer. A range it can read is served as before, its unit in
// any case; one past any answer is unsatisfiable only where there is an answer.
TEST_F(HttpServerPeerTest, ARangeIsTakenOnlyWhereItCanBeServed) {
  auto request = [&](const std::string& line, const std::string& range, const std::string& body = "") {
    return exchange(line + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\nRange: " + range +
                    "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
  };
  std::string answer = request("POST /", "bytes=x", "abc");
  EXPECT_TRUE(answered(answer, 200)) << answer;
  EXPECT_EQ(handled.load(), 1);
  answer = request("POST /", "bytes=0-0", "abc");
  EXPECT_TRUE(answered(answer, 200)) << answer;
  EXPECT_NE(answer.find("\r\n\r\n3 0"), std::string::npos) << answer;
  for (const std::string range : {"items=0-1", "bytes=1-0", "bytes=-", "bytes=0-x", "bytes 0-1"}) {
    SCOPED_TRACE(range);
    answer = request("GET /", range);
    EXPECT_TRUE(answered(answer, 200)) << answer;
    EXPECT_NE(answer.find("\r\n\r\nok"), std::string::npos) << answer;
    EXPECT_TRUE(answered(request("GET /missing", range), 404));
  }
  answer = request("GET /", "BYTES = 1-");
  EXPECT_TRUE(answered(answer, 206)) << answer;
  EXPECT_NE(answer.find("\r\n\r\nk"), std::string::npos) << answer;
  EXPECT_TRUE(answered(request("GET /", "bytes=99999999999999999999999-"), 416));
  EXPECT_TRUE(answered(request("GET /missing", "bytes=99999999999999999999999-"), 404));
  answer = request("GET /", "bytes=-99999999999999999999999");
  EXPECT_TRUE(answered(answer, 206)) << answer;
  EXPECT_NE(answer.find("\r\n\r\nok"), std::string::npos) << answer;
  // A part asked for only if the answer is unchanged: no answer here has a validator to compare,
  // so the whole goes, as for a changed one.
  for (const std::string condition : {"\"v1\"", "Thu, 01 Jan 2026 00:00:00 GMT"}) {
    answer = request("GET /", "bytes=1-\r\nIf-Range: " + condition);
    EXPECT_TRUE(answered(answer, 200)) << answer;
    EXPECT_NE(answer.find("\r\n\r\nok"), std::string::npos) << answer;
  }
}

// A header line longer than the HTTP layer reads is too large, as the head past its bound is, not
// malformed; one just within it is served. A whole-address target longer than the layer reads is
// too long, as the same target written as a path is, wherever its length lies.
TEST_F(HttpServerPeerTest, AHeaderLineOrTargetPastWhatTheHttpLayerReadsIsTooLarge) {
  auto withLine = [&](std::size_t length) {
    // The line with its end, as long as asked.
    const std::string line = "X-Filler: " + std::string(length - 12, 'f');
    return exchange("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" + line + "\r\n\r\n");
  };
  EXPECT_TRUE(answered(withLine(CPPHTTPLIB_HEADER_MAX_LENGTH), 200));
  std::string answer = withLine(CPPHTTPLIB_HEADER_MAX_LENGTH + 1);
  EXPECT_TRUE(answered(answer, 431)) << answer;
  for (const std::string& target : {"http://" + std::string(9000, 'h') + ".example/", "http://127.0.0.1/" + std::string(9000, 'p')}) {
    answer = exchange("GET " + target + " HTTP/1.1\r\nConnection: close\r\n\r\n");
    EXPECT_TRUE(answered(answer, 414)) << answer;
  }
  EXPECT_EQ(handled.load(), 1);
}

}  // namespace

// An answer whose body is made as it goes out and throws part way, whether its length was told or
// it goes in chunks: its connection ends with the answer cut short, and the server (the whole
// process, before) goes on serving.
TEST(HttpServerThrowTest, AnAnswerThatThrowsAsItIsWrittenEndsItsConnectionNotTheServer) {
  tools::HttpServer http;
  http.Get("/made", [](const httplib::Request&, httplib::Response& response) {
    response.set_content_provider(10, "text/plain", [](std::size_t offset, std::size_t, httplib::DataSink& sink) -> bool {
      if (offset > 0) throw std::runtime_error("made no further");
      sink.write("01234", 5);
      return true;
    });
  });
  http.Get("/chunks", [](const httplib::Request&, httplib::Response& response) {
    response.set_chunked_content_provider("text/plain", [](std::size_t offset, httplib::DataSink& sink) -> bool {
      if (offset > 0) throw std::runtime_error("made no further");
      sink.write("01234", 5);
      return true;
    });
  });
  http.Get("/", [](const httplib::Request&, httplib::Response& response) { response.set_content("ok", "text/plain"); });
  tools::ServiceHost host{http};
  const auto port = host.start("127.0.0.1", 0);
  ASSERT_TRUE(port);
  for (const std::string path : {"/made", "/chunks"}) {
    SCOPED_TRACE(path);
    const int fd = os::testing::connectTo("127.0.0.1", *port);
    ASSERT_GE(fd, 0);
    // Kept alive: the end of the connection is the end of what was made.
    const std::string answer = os::testing::answerToClose(fd, "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    ::close(fd);
    EXPECT_TRUE(answered(answer, 200)) << answer;
    const auto head = answer.find("\r\n\r\n");
    ASSERT_NE(head, std::string::npos);
    EXPECT_EQ(answer.find("\r\n0\r\n\r\n", head), std::string::npos) << "the chunks were ended as if whole: " << answer;
    EXPECT_LT(answer.size() - head - 4, path == "/made" ? 10u : 12u) << answer;
  }
  const int fd = os::testing::connectTo("127.0.0.1", *port);
  ASSERT_GE(fd, 0);
  const std::string answer = os::testing::answerToClose(fd, "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
  ::close(fd);
  EXPECT_TRUE(answered(answer, 200)) << answer;
}

// Ranges: several in one request, overlapping as a peer likes, never multiply an answer (the whole
// of it goes once, as if no range were asked); one range, as a resumed download asks, still gets
// its part. At 64, 256 and 1024 ranges the answer stays one picture long.
TEST(HttpServerRangeTest, SeveralRangesGetTheWholeAnswerOnceAndOneRangeGetsItsPart) {
  tools::HttpServer http;
  const std::string picture(64 << 10, 'p');
  http.Get("/picture", [&](const httplib::Request&, httplib::Response& response) {
    response.set_content(picture, "image/gif");
  });
  tools::ServiceHost host{http};
  const auto port = host.start("127.0.0.1", 0);
  ASSERT_TRUE(port);
  auto get = [&](const std::string& headers) {
    const int fd = os::testing::connectTo("127.0.0.1", *port);
    if (fd < 0) return std::string();
    std::string answer = os::testing::answerToClose(
        fd, "GET /picture HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" + headers + "\r\n");
    ::close(fd);
    return answer;
  };
  auto bodySize = [](const std::string& answer) {
    const auto end = answer.find("\r\n\r\n");
    return end == std::string::npos ? 0 : answer.size() - end - 4;
  };
  for (const int count : {64, 256, 1024}) {
    SCOPED_TRACE(count);
    std::string ranges = "bytes=0-";
    for (int i = 1; i < count; ++i) ranges += ",0-";
    const std::string answer = get("Range: " + ranges + "\r\n");
    EXPECT_TRUE(answered(answer, 200)) << answer.substr(0, 64);
    EXPECT_EQ(bodySize(answer), picture.size());
  }
  // Two ranges on lines of their own: neither is the one asked for.
  std::string answer = get("Range: bytes=0-9\r\nRange: bytes=10-19\r\n");
  EXPECT_TRUE(answered(answer, 200)) << answer.substr(0, 64);
  EXPECT_EQ(bodySize(answer), picture.size());
  answer = get("Range: bytes=1000-\r\n");
  EXPECT_TRUE(answered(answer, 206)) << answer.substr(0, 64);
  EXPECT_NE(answer.find("Content-Range: bytes 1000-65535/65536\r\n"), std::string::npos) << answer.substr(0, 256);
  EXPECT_EQ(bodySize(answer), picture.size() - 1000);
}

// One range is answered exactly against the answer's length, whether the body is kept or made as
// it goes out: an end past the answer is the answer's end (in Content-Range, and in the bytes a
// made body is said to have), a range starting past it, asking for none of its last bytes, or of
// an empty body is unsatisfiable, with the answer's length. On a kept-alive connection the next
// answer follows the part at once.
TEST(HttpServerRangeTest, OneRangeIsAnsweredExactlyAgainstTheAnswersLength) {
  tools::HttpServer http;
  http.Get("/kept", [](const httplib::Request&, httplib::Response& response) {
    response.set_content("0123456789", "text/plain");
    response.set_header("Cache-Control", "max-age=604800");
  });
  http.Get("/made", [](const httplib::Request&, httplib::Response& response) {
    response.set_content_provider(10, "text/plain", [](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
      const std::string part = std::string("0123456789").substr(offset, length);
      return sink.write(part.data(), part.size());
    });
  });
  http.Get("/empty", [](const httplib::Request&, httplib::Response& response) { response.set_content("", "text/plain"); });
  tools::ServiceHost host{http};
  const auto port = host.start("127.0.0.1", 0);
  ASSERT_TRUE(port);
  auto get = [&](const std::string& path, const std::string& range) {
    const int fd = os::testing::connectTo("127.0.0.1", *port);
    if (fd < 0) return std::string();
    // The part, then a request after it on the same connection.
    std::string answer = os::testing::answerToClose(fd, "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nRange: " + range +
                                                            "\r\n\r\nGET /kept HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    ::close(fd);
    return answer;
  };
  for (const std::string path : {"/kept", "/made"}) {
    SCOPED_TRACE(path);
    std::string answer = get(path, "bytes=5-100");
    EXPECT_TRUE(answered(answer, 206)) << answer;
    EXPECT_NE(answer.find("Content-Range: bytes 5-9/10\r\n"), std::string::npos) << answer;
    EXPECT_NE(answer.find("Content-Length: 5\r\n"), std::string::npos) << answer;
    EXPECT_NE(answer.find("\r\n\r\n56789HTTP/1.1 200 OK\r\n"), std::string::npos) << answer;
    answer = get(path, "bytes=-3");
    EXPECT_NE(answer.find("Content-Range: bytes 7-9/10\r\n"), std::string::npos) << answer;
    EXPECT_NE(answer.find("\r\n\r\n789HTTP/1.1 200 OK\r\n"), std::string::npos) << answer;
    for (const std::string range : {"bytes=10-", "bytes=10-20", "bytes=-0"}) {
      SCOPED_TRACE(range);
      answer = get(path, range);
      EXPECT_TRUE(answered(answer, 416)) << answer;
      EXPECT_NE(answer.find("Content-Range: bytes */10\r\n"), std::string::npos) << answer;
      EXPECT_GT(answer.find("Cache-Control"), answer.find("\r\n\r\n")) << answer;
      EXPECT_NE(answer.find("\r\n\r\nHTTP/1.1 200 OK\r\n"), std::string::npos) << answer;
    }
  }
  for (const std::string range : {"bytes=0-0", "bytes=0-", "bytes=-1"}) {
    SCOPED_TRACE(range);
    const std::string answer = get("/empty", range);
    EXPECT_TRUE(answered(answer, 416)) << answer;
    EXPECT_NE(answer.find("Content-Range: bytes */0\r\n"), std::string::npos) << answer;
  }
}

// A worker's stack does not depend on the process's limit (with none, a thread gets 2 MiB): the
// HTTP layer matches the longest path it takes, and a part's longest head, by deep recursion.
// Paths and part names of 1x, 4x and 16x 512 bytes (the last about the most the layer takes) are
// answered on threads whose default stack is 2 MiB.
TEST(HttpServerStackTest, TheLongestPathAndPartHeadAreServedWhateverTheDefaultStack) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  auto serveOnSmallStacks = [] {
    pthread_attr_t small;
    pthread_attr_init(&small);
    pthread_attr_setstacksize(&small, std::size_t{2} << 20);
    pthread_setattr_default_np(&small);
    tools::HttpServer http;
    http.Get(".*", [](const httplib::Request&, httplib::Response& response) { response.set_content("ok", "text/plain"); });
    http.Post(".*", [](const httplib::Request& request, httplib::Response& response) {
      response.set_content(std::to_string(request.files.size()), "text/plain");
    });
    tools::ServiceHost host{http};
    const auto port = host.start("127.0.0.1", 0);
    if (!port) std::_Exit(2);
    auto exchange = [&](const std::string& request) {
      const int fd = os::testing::connectTo("127.0.0.1", *port);
      std::string answer = os::testing::answerToClose(fd, request);
      ::close(fd);
      return answer;
    };
    for (const std::size_t length : {std::size_t{512}, std::size_t{2048}, std::size_t{8176}}) {
      // The request line at its longest: 8 KiB with the method and version.
      const std::string path = "/" + std::string(length - 1, 'a');
      if (!answered(exchange("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n"), 200))
        std::_Exit(3);
      const std::string body = "--b\r\nContent-Disposition: form-data; name=\"" + std::string(length - 64, 'n') +
                               "\"\r\n\r\nvalue\r\n--b--\r\n";
      if (!answered(exchange("POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
                             "Content-Type: multipart/form-data; boundary=b\r\nContent-Length: " +
                             std::to_string(body.size()) + "\r\n\r\n" + body),
                    200))
        std::_Exit(4);
    }
    host.stop();
    std::_Exit(0);
  };
  EXPECT_EXIT(serveOnSmallStacks(), ::testing::ExitedWithCode(0), "");
}

// A plain form is held to the payload bound, not the HTTP layer's few kilobytes: a field of 8, 32
// and 128 KiB arrives whole. Its fields are counted with what each costs to keep, so a body of
// empty fields within the byte bound is refused rather than kept as fields by the hundred thousand.
TEST_F(HttpServerPeerTest, APlainFormIsHeldToThePayloadBoundWithEachFieldCounted) {
  tools::HttpServer forms;
  forms.set_payload_max_length(kBound);
  forms.Post("/form", [](const httplib::Request& request, httplib::Response& response) {
    response.set_content(std::to_string(request.params.size()) + " " + std::to_string(request.get_param_value("t").size()),
                         "text/plain");
  });
  tools::ServiceHost formHost{forms};
  const auto formPort = formHost.start("127.0.0.1", 0);
  ASSERT_TRUE(formPort);
  auto post = [&](const std::string& body) {
    const int fd = os::testing::connectTo("127.0.0.1", *formPort);
    std::string answer = os::testing::answerToClose(
        fd, "POST /form HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
            "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                std::to_string(body.size()) + "\r\n\r\n" + body);
    ::close(fd);
    return answer;
  };
  for (const std::size_t size : {std::size_t{8} << 10, std::size_t{32} << 10, std::size_t{128} << 10}) {
    SCOPED_TRACE(size);
    const std::string answer = post("u=1&t=" + std::string(size, 't'));
    EXPECT_TRUE(answered(answer, 200)) << answer.substr(0, 64);
    EXPECT_TRUE(answer.ends_with("\r\n\r\n2 " + std::to_string(size))) << answer.substr(answer.size() - 32);
  }
  for (const std::size_t fields : {kBound / 64, kBound / 16, kBound / 2}) {
    SCOPED_TRACE(fields);
    const std::string answer = post(std::string(fields, '&'));
    EXPECT_TRUE(answered(answer, 413)) << answer.substr(0, 64);
  }
}

// Peers that fill connection after connection with bodies near the bound and stop short of their
// ends cannot have the server hold more than its bound on requests under way: past it, the one
// holding most is answered 503 and let go, while every other peer, a normal one among them, is
// served. Bodies with their length and in chunks alike.
TEST_F(HttpServerPeerTest, RequestsUnderWayAreHeldToTheServersBoundTogether) {
  // Three requests at the body bound fit, four do not.
  http.setHeldRequestLimit(3 * kBound + (64 << 10));
  const std::string data(kBound - 1, 'h');
  for (const bool chunked : {false, true}) {
    SCOPED_TRACE(chunked ? "in chunks" : "with its length");
    const std::string head = "POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" +
                             (chunked ? std::string("Transfer-Encoding: chunked\r\n\r\nfffff\r\n")
                                      : "Content-Length: " + std::to_string(kBound) + "\r\n\r\n");
    const std::string rest = chunked ? "\r\n0\r\n\r\n" : "h";
    std::vector<int> holders;
    for (int i = 0; i < 4; ++i) {
      const int fd = os::testing::connectTo("127.0.0.1", port);
      ASSERT_GE(fd, 0);
      holders.push_back(fd);
      const std::string start = head + data;
      ASSERT_EQ(::send(fd, start.data(), start.size(), MSG_NOSIGNAL), static_cast<ssize_t>(start.size()));
      // Answered while the holders keep their requests unfinished; by then the server has read
      // what they sent before.
      const std::string normal = exchange("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
      EXPECT_TRUE(answered(normal, 200)) << normal.substr(0, 64);
    }
    int ok = 0, busy = 0;
    for (const int fd : holders) {
      [[maybe_unused]] auto sent = ::send(fd, rest.data(), rest.size(), MSG_NOSIGNAL);
      ::shutdown(fd, SHUT_WR);
      const std::string answer = os::testing::readToClose(fd);
      ::close(fd);
      if (answered(answer, 200)) {
        ++ok;
        EXPECT_TRUE(answer.ends_with("\r\n\r\n" + std::to_string(chunked ? kBound - 1 : kBound) + " 0")) << answer;
      } else {
        EXPECT_TRUE(answered(answer, 503)) << answer.substr(0, 64);
        ++busy;
      }
    }
    EXPECT_EQ(ok, 3);
    EXPECT_EQ(busy, 1);
  }
}

namespace {

// A peer's connection to a server in the clear or through TLS: what it sends, and what it reads.
struct Peer {
  int fd = -1;
  SSL* tls = nullptr;
  ~Peer() {
    if (tls) SSL_free(tls);
    if (fd >= 0) ::close(fd);
  }
  bool send(std::string_view bytes) const {
    if (tls) return SSL_write(tls, bytes.data(), static_cast<int>(bytes.size())) == static_cast<int>(bytes.size());
    return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
  }
  long receive(char* buffer, std::size_t size) const {
    if (tls) return SSL_read(tls, buffer, static_cast<int>(size));
    return ::recv(fd, buffer, size, 0);
  }
  // The answer whose body has `length` bytes, or what came of it before the end.
  std::string answer(std::size_t length) const {
    std::string answer;
    char buffer[1 << 16];
    for (;;) {
      const auto head = answer.find("\r\n\r\n");
      if (head != std::string::npos && answer.size() >= head + 4 + length) return answer;
      const long n = receive(buffer, sizeof buffer);
      if (n <= 0) return answer;
      answer.append(buffer, static_cast<std::size_t>(n));
    }
  }
};

}  // namespace

// A peer uploading a body in chunks of one byte each, at loopback speed, always has more ready
// than the server has read: it takes its turns with the other peers, and a normal client asking
// meanwhile is answered while the upload is still being sent, not once it is whole. The upload,
// read a little at a time, still arrives whole, one chunk split across reads as it comes. In the
// clear and through TLS.
TEST(HttpServerTurnTest, AnUploadThatNeverLetsUpTakesTurnsWithOtherPeers) {
  constexpr std::size_t kBody = std::size_t{16} << 20;
  const TlsMaterial material;
  X509* certificate = material.certificate;
  EVP_PKEY* key = material.key;
  SSL_CTX* client = material.client;
  for (const bool tls : {false, true}) {
    SCOPED_TRACE(tls ? "through TLS" : "in the clear");
    auto http =
        tls ? std::make_unique<os::TrackedHttpServer>(certificate, key) : std::make_unique<os::TrackedHttpServer>();
    ASSERT_TRUE(http->is_valid());
    http->set_payload_max_length(kBody);
    http->Get("/", [](const httplib::Request&, httplib::Response& response) {
      response.set_content("ok", "text/plain");
    });
    http->Post("/", [](const httplib::Request& request, httplib::Response& response) {
      response.set_content(std::to_string(request.body.size()), "text/plain");
    });
    const auto port = http->bind("127.0.0.1", 0);
    ASSERT_TRUE(port);
    std::thread serving([&] { http->serve(); });
    Peer uploader, normal;
    // Ended before the server stops, however the test ends.
    struct Ender {
      os::TrackedHttpServer& http;
      std::thread& serving;
      Peer& uploader;
      ~Ender() {
        if (uploader.fd >= 0) ::shutdown(uploader.fd, SHUT_RDWR);
        http.stop();
        http.endConnections(true);
        serving.join();
      }
    } ender{*http, serving, uploader};
    auto connect = [&](Peer& peer) {
      peer.fd = os::testing::connectTo("127.0.0.1", *port);
      if (peer.fd < 0 || !tls) return peer.fd >= 0;
      peer.tls = SSL_new(client);
      SSL_set_fd(peer.tls, peer.fd);
      return SSL_connect(peer.tls) == 1;
    };
    ASSERT_TRUE(connect(uploader));
    // Past what the kernel's buffers between the two ends hold: once this much is sent the server
    // is reading the upload.
    constexpr std::size_t kUnderWay = std::size_t{16} << 20;
    std::promise<void> underWay;
    std::atomic<bool> allSent{false};
    std::thread upload([&] {
      std::string piece;
      for (int i = 0; i < 10000; ++i) piece += "1\r\nu\r\n";
      bool told = false;
      std::size_t wire = 0;
      auto send = [&](std::string_view bytes) {
        if (!uploader.send(bytes)) return false;
        wire += bytes.size();
        if (!told && wire >= kUnderWay) {
          told = true;
          underWay.set_value();
        }
        return true;
      };
      bool sent = send("POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\nTransfer-Encoding: chunked\r\n\r\n");
      // At every piece's end a chunk's size line is cut before its line feed, between two sends.
      for (std::size_t body = 0; sent && body < kBody; body += 10000) {
        const std::size_t count = std::min<std::size_t>(10000, kBody - body);
        const std::string_view chunks = std::string_view(piece).substr(0, count * 6);
        sent = send(chunks.substr(0, chunks.size() - 4)) && send(chunks.substr(chunks.size() - 4));
      }
      allSent = sent;
      if (sent) send("0\r\n\r\n");
      if (!told) underWay.set_value();
    });
    underWay.get_future().wait();
    bool uploadWasWhole = true;
    std::string asked;
    if (connect(normal) && normal.send("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")) {
      asked = normal.answer(2);
      uploadWasWhole = allSent;
    }
    EXPECT_TRUE(answered(asked, 200)) << asked.substr(0, 64);
    EXPECT_FALSE(uploadWasWhole) << "a normal client waited for an upload to be sent whole";
    upload.join();
    const std::string answer = uploader.answer(std::to_string(kBody).size());
    EXPECT_TRUE(answered(answer, 200)) << answer.substr(0, 64);
    EXPECT_TRUE(answer.ends_with("\r\n\r\n" + std::to_string(kBody))) << answer.substr(0, 200);
  }
}

// A client that asks to be told before it sends its body gets the interim line, written as the
// server writes its answers, and nothing else before it; it then sends its body and is answered.
// In the clear and through TLS.
TEST(HttpServerContinueTest, AClientThatWaitsToSendItsBodyIsToldToGoOn) {
  const TlsMaterial material;
  X509* certificate = material.certificate;
  EVP_PKEY* key = material.key;
  SSL_CTX* client = material.client;
  for (const bool tls : {false, true}) {
    SCOPED_TRACE(tls ? "through TLS" : "in the clear");
    auto http =
        tls ? std::make_unique<os::TrackedHttpServer>(certificate, key) : std::make_unique<os::TrackedHttpServer>();
    ASSERT_TRUE(http->is_valid());
    http->Post("/", [](const httplib::Request& request, httplib::Response& response) {
      response.set_content(request.body, "text/plain");
    });
    const auto port = http->bind("127.0.0.1", 0);
    ASSERT_TRUE(port);
    std::thread serving([&] { http->serve(); });
    {
      Peer peer;
      peer.fd = os::testing::connectTo("127.0.0.1", *port);
      ASSERT_GE(peer.fd, 0);
      if (tls) {
        peer.tls = SSL_new(client);
        SSL_set_fd(peer.tls, peer.fd);
        ASSERT_EQ(SSL_connect(peer.tls), 1);
      }
      ASSERT_TRUE(peer.send("POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nExpect: 100-continue\r\nContent-Length: 5\r\n"
                            "Connection: close\r\n\r\n"));
      std::string interim;
      char byte;
      while (!interim.ends_with("\r\n\r\n") && peer.receive(&byte, 1) == 1) interim += byte;
      EXPECT_EQ(interim, "HTTP/1.1 100 Continue\r\n\r\n");
      ASSERT_TRUE(peer.send("hello"));
      const std::string answer = peer.answer(5);
      EXPECT_TRUE(answered(answer, 200)) << answer.substr(0, 64);
      EXPECT_TRUE(answer.ends_with("\r\n\r\nhello")) << answer;
    }
    http->stop();
    serving.join();
  }
}

// A stop while answers are under way: one to a peer reading as fast as it can goes out whole,
// while one to a peer taking a little at a time, often enough that the server's writes never wait
// out the write time-out, is cut off once the stop has given it the write time-out in all. Before,
// the stop waited on such a peer for as long as its answer lasted. The time-out is long enough for
// the whole fast answer on a loaded machine; at the slow peer's pace half its answer takes five
// times as long, and the other half is more than the kernel's buffers hold, so a stop that waited
// for the answer to be written cannot return before half of it was read.
TEST(HttpServerSlowReaderTest, AStopGivesAnAnswerUnderWayTheWriteTimeOutInAll) {
  constexpr std::size_t kAnswer = std::size_t{32} << 20;
  constexpr time_t kWriteTimeout = 20;
  constexpr std::size_t kSlowPiece = std::size_t{16} << 10;
  static_assert(kAnswer / 2 / kSlowPiece / 10 >= 5 * kWriteTimeout, "half the answer must take the slow peer far longer than the time-out");
  tools::HttpServer http;
  http.set_write_timeout(kWriteTimeout, 0);
  const std::string big(kAnswer, 'x');
  routeBigAndSmall(http, big);
  tools::ServiceHost host{http};
  const auto port = host.start("127.0.0.1", 0);
  ASSERT_TRUE(port);
  PeerSockets sockets;
  const std::string request = "GET /big HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  for (int i = 0; i < 2; ++i) {
    const int fd = i == 0 ? os::testing::connectTo("127.0.0.1", *port) : connectWithSmallWindow(*port);
    ASSERT_GE(fd, 0);
    sockets.fds.push_back(fd);
    ASSERT_EQ(::send(fd, request.data(), request.size(), MSG_NOSIGNAL), static_cast<ssize_t>(request.size()));
    // The answer is under way before the stop.
    char first;
    ASSERT_EQ(::recv(fd, &first, 1, MSG_PEEK), 1);
  }
  const int fast = sockets.fds[0], slow = sockets.fds[1];
  int stopped[2];
  ASSERT_EQ(::pipe2(stopped, O_CLOEXEC), 0);
  std::thread stopping([&] {
    host.stop();
    ::close(stopped[1]);
  });
  const std::string whole = os::testing::readToClose(fast);
  EXPECT_TRUE(answered(whole, 200)) << whole.substr(0, 64);
  EXPECT_EQ(whole.size() - std::min(whole.size(), whole.find("\r\n\r\n") + 4), kAnswer);
  // A piece every 100 ms until the stop returns, the server cuts the answer off, or half the answer
  // was read (the stop waited on the peer: what the test catches).
  bool stopReturnedWhileReading = false;
  std::size_t read = 0;
  while (read < kAnswer / 2) {
    pollfd watched{stopped[0], POLLIN, 0};
    if (::poll(&watched, 1, 100) > 0) {
      stopReturnedWhileReading = true;
      break;
    }
    char buffer[kSlowPiece];
    const ssize_t n = ::recv(slow, buffer, sizeof buffer, MSG_WAITALL);
    if (n <= 0) {
      // Cut off: the stop ends next.
      stopReturnedWhileReading = ::read(stopped[0], buffer, 1) == 0;
      break;
    }
    read += static_cast<std::size_t>(n);
  }
  ::shutdown(slow, SHUT_RDWR);
  stopping.join();
  ::close(stopped[0]);
  EXPECT_TRUE(stopReturnedWhileReading) << "the stop waited on a peer reading slowly, " << read << " bytes read";
  EXPECT_LT(read, kAnswer / 2);
}

// Past the bound on what requests under way hold together, the one holding most is answered 503
// and let go. When that peer has ended its side already (its end not yet seen by the server), the
// refusal ends its connection at once, which the server must not touch afterwards. Each round: a
// peer holding most half-closes just as another's bytes take the server past the bound; the peer
// let go hears 503, and the server goes on serving.
TEST(HttpServerBoundTest, APeerLetGoAtTheBoundThatHasEndedItsSideIsLetGoOnce) {
  constexpr std::size_t kBody = std::size_t{64} << 10;
  tools::HttpServer http;
  http.set_payload_max_length(kBody);
  // The least it can be: one request at the body bound, with room for two heads and two reads.
  http.setHeldRequestLimit(0);
  http.Get("/", [](const httplib::Request&, httplib::Response& response) { response.set_content("ok", "text/plain"); });
  http.Post("/", [](const httplib::Request& request, httplib::Response& response) {
    response.set_content(std::to_string(request.body.size()), "text/plain");
  });
  tools::ServiceHost host{http};
  const auto port = host.start("127.0.0.1", 0);
  ASSERT_TRUE(port);
  const std::string head =
      "POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: " + std::to_string(kBody) + "\r\n\r\n";
  const std::string get = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  PeerSockets sockets;
  auto holding = [&](std::size_t bytes) {
    const int fd = os::testing::connectTo("127.0.0.1", *port);
    if (fd < 0) return -1;
    sockets.fds.push_back(fd);
    const std::string start = head + std::string(bytes, 'h');
    return ::send(fd, start.data(), start.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(start.size()) ? fd : -1;
  };
  // Four holders fill most of the bound, and stay.
  for (int i = 0; i < 4; ++i) ASSERT_GE(holding(60 << 10), 0);
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE(round);
    // The one that holds most.
    const int most = holding(63 << 10);
    ASSERT_GE(most, 0);
    // A peer served once, so that its next bytes are read as they come.
    const int pusher = os::testing::connectTo("127.0.0.1", *port);
    ASSERT_GE(pusher, 0);
    sockets.fds.push_back(pusher);
    ASSERT_TRUE(answered(os::testing::answerOn(pusher, get, 2), 200));
    const std::string push = head + std::string(20 << 10, 'p');
    ASSERT_EQ(::send(pusher, push.data(), push.size(), MSG_NOSIGNAL), static_cast<ssize_t>(push.size()));
    ::shutdown(most, SHUT_WR);
    const std::string answer = os::testing::readToClose(most);
    EXPECT_TRUE(answer.empty() || answered(answer, 503)) << answer.substr(0, 64);
    // The pusher's request fits once the other is gone; it ends its body and is answered.
    const std::string rest(kBody - (20 << 10), 'p');
    const std::string pushed = os::testing::answerOn(pusher, rest, 5);
    EXPECT_TRUE(answered(pushed, 200)) << pushed.substr(0, 64);
  }
}
