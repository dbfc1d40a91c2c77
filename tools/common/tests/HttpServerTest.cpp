// What a peer can make the local services' HTTP server hold before any service sees its request:
// the head of a request, however many header lines or however long a line it sends, is held to a
// bound; a request within it is served as before.
#include "tools/common/HttpServer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "os/testing/RawHttpClient.h"
#include "tools/common/ServiceHost.h"

namespace {

class HttpServerHeadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    http.Get("/", [this](const httplib::Request& request, httplib::Response& response) {
      ++served;
      response.set_content(std::to_string(request.headers.size()), "text/plain");
    });
    http.Post("/", [this](const httplib::Request& request, httplib::Response& response) {
      ++served;
      response.set_content("[" + request.body + "]", "text/plain");
    });
    auto bound = host.start("127.0.0.1", 0);
    ASSERT_TRUE(bound);
    port = *bound;
  }
  void TearDown() override { host.stop(); }

  // The answer to one request on a connection of its own, up to the server's close.
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
  std::atomic<int> served{0};
};

TEST_F(HttpServerHeadTest, AHeadPastTheBoundIsNeverServedAndLaterRequestsAre) {
  const std::string request = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n";
  // Header line after header line, each well within the length of one.
  std::string lines;
  for (int i = 0; lines.size() <= tools::HttpServer::kHeadLimit; ++i) lines += "X-Filler-" + std::to_string(i) + ": " + std::string(64, 'f') + "\r\n";
  std::string answer = exchange(request + lines + "\r\n");
  EXPECT_EQ(answer.rfind("HTTP/1.1 200", 0), std::string::npos) << answer.substr(0, 64);
  // A request line that never ends.
  answer = exchange("GET /" + std::string(4 * tools::HttpServer::kHeadLimit, 'a'));
  EXPECT_EQ(answer.rfind("HTTP/1.1 200", 0), std::string::npos) << answer.substr(0, 64);
  EXPECT_EQ(served, 0);

  // Within the bound, as many lines as fit are served.
  lines.resize(tools::HttpServer::kHeadLimit / 2);
  lines.resize(lines.rfind("\r\n") + 2);
  answer = exchange(request + lines + "\r\n");
  EXPECT_EQ(answer.rfind("HTTP/1.1 200", 0), 0u) << answer.substr(0, 64);
  EXPECT_EQ(served, 1);
}

// Requests a peer writes together on one connection are read in one piece: each is answered, in
// order, the later ones without waiting for more bytes that never come, the body of one never
// taken for the head of the next.
TEST_F(HttpServerHeadTest, RequestsWrittenTogetherAreEachAnswered) {
  const std::string get = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  const std::string withBody = "POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 18\r\n\r\nGET / HTTP/1.1\r\n\r\n";
  const std::string last = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
  const std::string answer = exchange(get + withBody + last);
  std::size_t answers = 0;
  for (std::size_t at = answer.find("HTTP/1.1 200"); at != std::string::npos; at = answer.find("HTTP/1.1 200", at + 1))
    ++answers;
  EXPECT_EQ(answers, 3u) << answer;
  EXPECT_NE(answer.find("[GET / HTTP/1.1\r\n\r\n]"), std::string::npos) << answer;
  EXPECT_EQ(served, 3);
}

}  // namespace

// A peer that sends its request a byte at a time holds a worker of the server for as long as the
// request takes: the server gives each request a time to arrive whole, then ends its connection.
namespace {

constexpr double kDeadline = 1.0;
constexpr std::size_t kWorkers = 2;

// A peer that sends the start of a request, then one more byte every 200 ms until the server ends
// its connection (or, at most, for a minute's worth of bytes), keeping whatever was answered.
struct Dribbler {
  std::string start;
  int fd = -1;
  bool ended = false;
  std::string answer;
  std::thread thread;

  // `quit` becomes readable when the test gives up on the server.
  void run(int quit) {
    if (::send(fd, start.data(), start.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(start.size())) {
      ended = true;
      return;
    }
    for (int i = 0; i < 300; ++i) {
      if (::send(fd, "a", 1, MSG_NOSIGNAL) != 1) {
        ended = true;
        return;
      }
      // The pause before the next byte, cut short by what the server sends, or its end.
      pollfd watched[2] = {{fd, POLLIN, 0}, {quit, POLLIN, 0}};
      if (::poll(watched, 2, 200) < 0 || watched[1].revents != 0) return;
      if (watched[0].revents == 0) continue;
      char buffer[4096];
      const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) {
        ended = true;
        return;
      }
      answer.append(buffer, static_cast<std::size_t>(n));
    }
  }
};

class HttpServerDeadlineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    http.Get("/", [](const httplib::Request&, httplib::Response& response) { response.set_content("ok", "text/plain"); });
    http.Post("/upload", [this](const httplib::Request&, httplib::Response& response) {
      ++uploaded;
      response.set_content("ok", "text/plain");
    });
    http.setRequestDeadline(kDeadline);
    // A pool of known size, whatever the machine's cores.
    http.setWorkerCount(kWorkers);
    auto bound = host.start("127.0.0.1", 0);
    ASSERT_TRUE(bound);
    port = *bound;
  }
  void TearDown() override { host.stop(); }

  tools::HttpServer http;
  tools::ServiceHost host{http};
  int port = 0;
  std::atomic<int> uploaded{0};
};

TEST_F(HttpServerDeadlineTest, PeersSendingTheirRequestsAByteAtATimeAreEndedAndOthersServed) {
  const std::string body = "POST /upload HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: text/plain\r\nContent-Length: 100000\r\n\r\n";
  std::vector<Dribbler> peers(2 * kWorkers);
  // Two that never end their head, one that never ends a body read as it comes, one that never
  // ends a body read whole before any handler runs.
  peers[0].start = peers[3].start = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: ";
  peers[1].start = body;
  peers[2].start = "POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 100000\r\n\r\n";
  int quit[2];
  ASSERT_EQ(::pipe2(quit, O_CLOEXEC), 0);
  for (auto& peer : peers) {
    peer.fd = os::testing::connectTo("127.0.0.1", port);
    ASSERT_GE(peer.fd, 0);
    peer.thread = std::thread([&peer, &quit] { peer.run(quit[0]); });
  }

  // Queued behind the slow peers: answered once they are ended, well within its own patience.
  const int fd = os::testing::connectTo("127.0.0.1", port);
  ASSERT_GE(fd, 0);
  timeval patience{static_cast<time_t>(8 * kDeadline), 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
  const std::string answer = os::testing::answerOn(fd, "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", 2);
  EXPECT_EQ(answer.rfind("HTTP/1.1 200", 0), 0u) << "a normal client waited behind peers sending a byte at a time";
  ::close(fd);

  // The slow peers end by the server's doing; only a server that never ends them is given up on.
  if (answer.rfind("HTTP/1.1 200", 0) != 0) [[maybe_unused]] auto written = ::write(quit[1], "q", 1);
  for (std::size_t i = 0; i < peers.size(); ++i) {
    peers[i].thread.join();
    EXPECT_TRUE(peers[i].ended) << "slow peer " << i << " was never ended";
    EXPECT_EQ(peers[i].answer, "") << "slow peer " << i;
    ::close(peers[i].fd);
  }
  EXPECT_EQ(uploaded, 0);
  ::close(quit[0]);
  ::close(quit[1]);
}

// The time counts from a request's first byte: a kept-alive connection idle for longer between
// its requests carries the next one as before, and so does an upload sent at a usual pace.
TEST_F(HttpServerDeadlineTest, AKeptAliveConnectionIdleLongerThanTheDeadlineCarriesItsNextRequest) {
  const int fd = os::testing::connectTo("127.0.0.1", port);
  ASSERT_GE(fd, 0);
  const std::string request = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  EXPECT_EQ(os::testing::answerOn(fd, request, 2).rfind("HTTP/1.1 200", 0), 0u);
  // The client's own pause, within the server's kept-alive wait.
  std::this_thread::sleep_for(std::chrono::duration<double>(1.5 * kDeadline));
  EXPECT_EQ(os::testing::answerOn(fd, request, 2).rfind("HTTP/1.1 200", 0), 0u);
  const std::string upload(std::size_t{4} << 20, 'u');
  EXPECT_EQ(os::testing::answerOn(fd,
                                  "POST /upload HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: text/plain\r\nContent-Length: " +
                                      std::to_string(upload.size()) + "\r\n\r\n" + upload,
                                  2)
                .rfind("HTTP/1.1 200", 0),
            0u);
  EXPECT_EQ(uploaded, 1);
  ::close(fd);
}

// A request whose target is a whole address, as a client sends through a proxy, is routed by its
// path and query, whatever case its scheme is written in; the address's host is the request's
// Host, whatever header came beside it. An address with no host, or a user's name in it, is
// refused; a plain path is taken as ever.
TEST(HttpServerTargetTest, ARequestNamingAWholeAddressIsServedByItsPath) {
  tools::HttpServer http;
  http.Get("/where", [](const httplib::Request& request, httplib::Response& response) {
    response.set_content(request.path + "|" + request.get_param_value("q") + "|" + request.get_header_value("Host") + "|" +
                             std::to_string(request.get_header_value_count("Host")),
                         "text/plain");
  });
  http.Get("/", [](const httplib::Request& request, httplib::Response& response) {
    response.set_content("root|" + request.get_param_value("q") + "|" + request.get_header_value("Host"), "text/plain");
  });
  http.Post("/where", [](const httplib::Request& request, httplib::Response& response) {
    response.set_content(request.body + "|" + request.get_header_value("Host"), "text/plain");
  });
  tools::ServiceHost host{http};
  const auto port = host.start("127.0.0.1", 0);
  ASSERT_TRUE(port);
  auto bodyOf = [&](const std::string& request, const std::string& body = "") {
    const int fd = os::testing::connectTo("127.0.0.1", *port);
    if (fd < 0) return std::string("no connection");
    const std::string answer = os::testing::answerToClose(fd, request + "Connection: close\r\n\r\n" + body);
    ::close(fd);
    if (answer.rfind("HTTP/1.1 200", 0) != 0) return answer.substr(0, 12);
    return answer.substr(answer.find("\r\n\r\n") + 4);
  };
  const std::string self = "127.0.0.1:" + std::to_string(*port);
  EXPECT_EQ(bodyOf("GET http://" + self + "/where?q=1 HTTP/1.1\r\nHost: elsewhere.test\r\n"), "/where|1|" + self + "|1");
  EXPECT_EQ(bodyOf("GET HTTP://news.test:8080/where?q=2 HTTP/1.1\r\n"), "/where|2|news.test:8080|1");
  EXPECT_EQ(bodyOf("GET https://news.test?q=3 HTTP/1.1\r\nHost: elsewhere.test\r\n"), "root|3|news.test");
  EXPECT_EQ(bodyOf("GET http://news.test HTTP/1.1\r\n"), "root||news.test");
  EXPECT_EQ(bodyOf("POST http://news.test/where HTTP/1.1\r\nHost: elsewhere.test\r\nContent-Length: 4\r\n", "body"),
            "body|news.test");
  EXPECT_EQ(bodyOf("GET http:///where HTTP/1.1\r\nHost: news.test\r\n"), "HTTP/1.1 400");
  EXPECT_EQ(bodyOf("GET http://reader@news.test/where HTTP/1.1\r\nHost: news.test\r\n"), "HTTP/1.1 400");
  EXPECT_EQ(bodyOf("GET /where?q=4 HTTP/1.1\r\nHost: news.test\r\n"), "/where|4|news.test|1");
}


// A method no route takes at a path another method's route serves is answered 405 with the
// methods that are (HEAD beside GET), on a connection that carries the next request; a path no
// route serves at all, and a route's own 404, stay 404.
TEST(HttpServerMethodTest, AMethodNoRouteTakesWhereAnotherDoesIsNotAllowed) {
  tools::HttpServer http;
  http.Get("/page", [](const httplib::Request&, httplib::Response& response) { response.set_content("page", "text/plain"); });
  http.Get("/gone", [](const httplib::Request&, httplib::Response& response) {
    response.status = 404;
    response.set_content("gone", "text/plain");
  });
  http.Post("/form", [](const httplib::Request&, httplib::Response& response) { response.set_content("form", "text/plain"); });
  http.Put("/form", [](const httplib::Request&, httplib::Response& response, const httplib::ContentReader&) {
    response.set_content("put", "text/plain");
  });
  tools::ServiceHost host{http};
  const auto port = host.start("127.0.0.1", 0);
  ASSERT_TRUE(port);
  const int fd = os::testing::connectTo("127.0.0.1", *port);
  ASSERT_GE(fd, 0);
  // The status line, the Allow header and the body of the answer to `method path` on the one connection.
  auto ask = [&](const std::string& method, const std::string& path, std::size_t length) {
    const std::string answer = os::testing::answerOn(
        fd, method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 0\r\n\r\n", length);
    const auto allow = answer.find("\r\nAllow: ");
    const auto end = answer.find("\r\n\r\n");
    if (end == std::string::npos) return std::string("no answer");
    return answer.substr(0, answer.find("\r\n")) + "|" +
           (allow == std::string::npos ? "" : answer.substr(allow + 9, answer.find("\r\n", allow + 9) - allow - 9)) + "|" +
           answer.substr(end + 4);
  };
  EXPECT_EQ(ask("DELETE", "/page", 18), "HTTP/1.1 405 Method Not Allowed|GET, HEAD|method not allowed");
  EXPECT_EQ(ask("OPTIONS", "/page", 18), "HTTP/1.1 405 Method Not Allowed|GET, HEAD|method not allowed");
  EXPECT_EQ(ask("GET", "/form", 18), "HTTP/1.1 405 Method Not Allowed|POST, PUT|method not allowed");
  EXPECT_EQ(ask("HEAD", "/form", 0), "HTTP/1.1 405 Method Not Allowed|POST, PUT|");
  EXPECT_EQ(ask("PATCH", "/form", 18), "HTTP/1.1 405 Method Not Allowed|POST, PUT|method not allowed");
  EXPECT_EQ(ask("DELETE", "/gone", 18), "HTTP/1.1 405 Method Not Allowed|GET, HEAD|method not allowed");
  EXPECT_EQ(ask("GET", "/gone", 4), "HTTP/1.1 404 Not Found||gone");
  EXPECT_EQ(ask("DELETE", "/nowhere", 0), "HTTP/1.1 404 Not Found||");
  EXPECT_EQ(ask("PUT", "/form", 3), "HTTP/1.1 200 OK||put");
  EXPECT_EQ(ask("GET", "/page", 4), "HTTP/1.1 200 OK||page");
  ::close(fd);
}

// What the server writes after `request` on the connection, and whether it ended the connection
// then, well within the keep-alive time a connection kept would be held for.
std::pair<std::string, bool> answerAndEnd(int fd, const std::string& request) {
  timeval patience{3, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
  if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) return {"", false};
  std::string answer;
  char buffer[4096];
  ssize_t n;
  while ((n = ::recv(fd, buffer, sizeof buffer, 0)) > 0) answer.append(buffer, static_cast<std::size_t>(n));
  return {answer, n == 0};
}

// A method no route of the HTTP layer's can take (names are case-sensitive) is not implemented, a
// version past 1.x not supported and a line that names none unreadable, wherever it asks: each is
// told so and its connection ends at once, as a peer asking it to end expects.
TEST(HttpServerMethodTest, AMethodOrVersionTheServerDoesNotKnowIsToldSoAndTheConnectionEnds) {
  tools::HttpServer http;
  http.Get("/page", [](const httplib::Request&, httplib::Response& response) { response.set_content("page", "text/plain"); });
  tools::ServiceHost host{http};
  const auto port = host.start("127.0.0.1", 0);
  ASSERT_TRUE(port);
  const std::pair<const char*, const char*> cases[] = {
      {"FOO /page HTTP/1.1", "501 Not Implemented"},         {"get /page HTTP/1.1", "501 Not Implemented"},
      {"TRACE /page HTTP/1.1", "501 Not Implemented"},       {"CONNECT 127.0.0.1:80 HTTP/1.1", "501 Not Implemented"},
      {"FOO /nowhere HTTP/1.1", "501 Not Implemented"},      {"GET /page HTTP/2.0", "505 HTTP Version Not Supported"},
      {"GET /page", "400 Bad Request"},                      {"GET /page HTTP/1.x", "400 Bad Request"},
      {"GET /page HTTP/1.1", "200 OK"},                      {"GET /page HTTP/1.0", "200 OK"}};
  for (const auto& [line, status] : cases) {
    const int fd = os::testing::connectTo("127.0.0.1", *port);
    ASSERT_GE(fd, 0);
    const auto [answer, ended] = answerAndEnd(fd, std::string(line) + "\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(answer.substr(0, answer.find("\r\n")), std::string("HTTP/1.1 ") + status) << line;
    EXPECT_TRUE(ended)        << line << ": the connection was not ended";
    ::close(fd);
  }
}

// A peer asking for its connection to end, in whatever case and beside whatever other option, has
// it ended once its answer is out, not after the keep-alive time.
TEST(HttpServerMethodTest, AConnectionAskedToCloseEndsWithItsAnswerHoweverItIsAsked) {
  tools::HttpServer http;
  http.Get("/page", [](const httplib::Request&, httplib::Response& response) { response.set_content("page", "text/plain"); });
  tools::ServiceHost host{http};
  const auto port = host.start("127.0.0.1", 0);
  ASSERT_TRUE(port);
  for (const char* value : {"close", "Close", "CLOSE", "keep-alive, close", "close , TE"}) {
    const int fd = os::testing::connectTo("127.0.0.1", *port);
    ASSERT_GE(fd, 0);
    const auto [answer, ended] = answerAndEnd(fd, std::string("GET /page HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: ") + value + "\r\n\r\n");
    EXPECT_EQ(answer.substr(0, answer.find("\r\n")), "HTTP/1.1 200 OK") << value;
    EXPECT_TRUE(ended) << value << ": the connection was kept";
    ::close(fd);
  }
}

// A range is served only on what would be a 200 to a GET: a handler's own 200 becomes 206 with
// the part asked for; a handler's 404, a handler that throws, a refused method and the answer to
// a POST each go whole, with their status and no Content-Range.
TEST(HttpServerMethodTest, ARangeIsServedOnlyOnWhatWouldBeAWholeAnswerToAGet) {
  tools::HttpServer http;
  const std::string text = "0123456789";
  http.Get("/plain", [&](const httplib::Request&, httplib::Response& response) { response.set_content(text, "text/plain"); });
  http.Get("/ok", [&](const httplib::Request&, httplib::Response& response) {
    response.status = 200;
    response.set_content(text, "text/plain");
  });
  http.Get("/missing", [](const httplib::Request&, httplib::Response& response) {
    response.status = 404;
    response.set_content("nothing here", "text/plain");
  });
  http.Get("/throws", [](const httplib::Request&, httplib::Response&) { throw std::runtime_error("out of range"); });
  http.Post("/form", [&](const httplib::Request&, httplib::Response& response) { response.set_content(text, "text/plain"); });
  tools::ServiceHost host{http};
  const auto port = host.start("127.0.0.1", 0);
  ASSERT_TRUE(port);
  // The status line, whether a Content-Range came, and the body of the answer to `method path`.
  auto ask = [&](const std::string& method, const std::string& path) {
    const int fd = os::testing::connectTo("127.0.0.1", *port);
    if (fd < 0) return std::string("no connection");
    const std::string answer = os::testing::answerToClose(
        fd, method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nRange: bytes=0-1\r\nContent-Length: 0\r\n" +
                "Connection: close\r\n\r\n");
    ::close(fd);
    const auto end = answer.find("\r\n\r\n");
    if (end == std::string::npos) return std::string("no answer");
    const bool ranged = answer.substr(0, end).find("\r\nContent-Range:") != std::string::npos;
    return answer.substr(0, answer.find("\r\n")) + (ranged ? "|ranged|" : "|whole|") + answer.substr(end + 4);
  };
  EXPECT_EQ(ask("GET", "/plain"), "HTTP/1.1 206 Partial Content|ranged|01");
  EXPECT_EQ(ask("GET", "/ok"), "HTTP/1.1 206 Partial Content|ranged|01");
  EXPECT_EQ(ask("GET", "/missing"), "HTTP/1.1 404 Not Found|whole|nothing here");
  EXPECT_EQ(ask("GET", "/throws"), "HTTP/1.1 500 Internal Server Error|whole|internal error");
  EXPECT_EQ(ask("POST", "/form"), "HTTP/1.1 200 OK|whole|0123456789");
  EXPECT_EQ(ask("DELETE", "/plain"), "HTTP/1.1 405 Method Not Allowed|whole|method not allowed");
}

}  // namespace
