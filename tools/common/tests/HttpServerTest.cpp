// What a peer can make the local services' HTTP server hold before any service sees its request:
// the head of a request, however many header lines or however long a line it sends, is held to a
// bound; a request within it is served as before.
#include "tools/common/HttpServer.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <string>

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
    auto bound = host.start("127.0.0.1", 0);
    ASSERT_TRUE(bound);
    port = *bound;
  }
  void TearDown() override { host.stop(); }

  // The answer to one request on a connection of its own, up to the server's close.
  std::string exchange(const std::string& request) {
    const int fd = os::testing::connectTo("127.0.0.1", port);
    if (fd < 0) return "";
    // The server may stop reading part way: what it answered before is still read.
    [[maybe_unused]] auto sent = ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    std::string answer;
    char buffer[4096];
    for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) answer.append(buffer, static_cast<std::size_t>(n));
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

}  // namespace
