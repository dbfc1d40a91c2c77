// The life of a local HTTP service as its clients see it.
#include "tools/common/ServiceHost.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "os/net/Socket.h"
#include "os/testing/RawHttpClient.h"
#include "tools/common/HttpServer.h"

namespace {

// A non-blocking connect to the loopback port; -1 when it failed at once.
int startConnect(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  auto address = os::makeIPv4Address("127.0.0.1", static_cast<std::uint16_t>(port));
  if (fd < 0 || !address) return -1;
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&*address), sizeof *address) != 0 && errno != EINPROGRESS) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// How many of the connects have ended with a connection once each has ended, or the wait (a
// safety net) has run out.
std::size_t connectedWithin(const std::vector<int>& fds, std::chrono::seconds wait) {
  const auto deadline = std::chrono::steady_clock::now() + wait;
  std::vector<pollfd> pending;
  for (int fd : fds) pending.push_back({fd, POLLOUT, 0});
  std::size_t connected = 0;
  while (!pending.empty()) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0 || ::poll(pending.data(), pending.size(), static_cast<int>(left)) <= 0) break;
    std::erase_if(pending, [&](const pollfd& p) {
      if (p.revents == 0) return false;
      int error = 0;
      socklen_t len = sizeof error;
      connected += ::getsockopt(p.fd, SOL_SOCKET, SO_ERROR, &error, &len) == 0 && error == 0;
      return true;
    });
    for (auto& p : pending) p.revents = 0;
  }
  return connected;
}

// The whole answer to one request on a connected blocking socket, up to the server's close.
std::string exchange(int fd, const std::string& request) {
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  timeval safety{60, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &safety, sizeof safety);
  return os::testing::answerToClose(fd, request);
}

TEST(ServiceHostTest, ABurstOfConnectionsWaitsForTheServiceAndIsServedWhole) {
  // A client that posts several requests at once opens a connection for each before the service
  // has accepted any: while its accepting thread is held up (a loaded machine), every one must
  // wait in the listener's queue, handshake done, rather than be dropped or reset.
  tools::HttpServer http;
  http.Get("/", [](const httplib::Request&, httplib::Response& response) { response.set_content("ok", "text/plain"); });
  tools::ServiceHost host(http);
  auto port = host.bind("127.0.0.1", 0);
  ASSERT_TRUE(port);
  constexpr std::size_t kBurst = 32;
  std::vector<int> fds;
  for (std::size_t i = 0; i < kBurst; ++i) fds.push_back(startConnect(*port));
  ASSERT_EQ(std::count(fds.begin(), fds.end(), -1), 0);
  // Nothing accepts yet: the handshakes end in the system's queue or not at all.
  EXPECT_EQ(connectedWithin(fds, std::chrono::seconds(20)), kBurst);

  std::thread serving([&] { host.serve(); });
  std::size_t answered = 0;
  for (int fd : fds) {
    std::string answer = exchange(fd, "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    answered += answer.rfind("HTTP/1.1 200", 0) == 0;
    ::close(fd);
  }
  EXPECT_EQ(answered, kBurst);
  host.stop();
  serving.join();
}

// Two services on the same port number at two loopback addresses, as two homes' services in one
// process may be: stopping one ends the connections it accepted and no other. A kept-alive
// connection to the other carries its next request as before.
TEST(ServiceHostTest, StoppingAServiceEndsOnlyTheConnectionsItAccepted) {
  auto ok = [](const httplib::Request&, httplib::Response& response) { response.set_content("ok", "text/plain"); };
  tools::HttpServer stopped, kept;
  stopped.Get("/", ok);
  kept.Get("/", ok);
  tools::ServiceHost stopping(stopped), staying(kept);
  auto port = stopping.start("127.0.0.1", 0);
  ASSERT_TRUE(port);
  ASSERT_EQ(staying.start("127.0.0.2", *port), port);

  const int fd = os::testing::connectTo("127.0.0.2", *port);
  ASSERT_GE(fd, 0);
  const std::string request = "GET / HTTP/1.1\r\nHost: 127.0.0.2\r\n\r\n";
  EXPECT_EQ(os::testing::answerOn(fd, request, 2).rfind("HTTP/1.1 200", 0), 0u);

  stopping.stop();
  EXPECT_EQ(os::testing::answerOn(fd, request, 2).rfind("HTTP/1.1 200", 0), 0u) << "the other service's connection was ended";
  ::close(fd);
  staying.stop();
}

// A stop while clients keep coming and going, each connection closed by the thread that serves
// it as the stop ends the others: each is ended by its own socket, never by a number another
// thread may have closed and taken again meanwhile.
TEST(ServiceHostTest, AStopAmidConnectionsComingAndGoingEndsEachByItsOwnSocket) {
  tools::HttpServer http;
  http.Get("/", [](const httplib::Request&, httplib::Response& response) { response.set_content("ok", "text/plain"); });
  tools::ServiceHost host(http);
  auto port = host.start("127.0.0.1", 0);
  ASSERT_TRUE(port);
  constexpr int kClients = 6, kEach = 40;
  std::vector<std::thread> clients;
  std::mutex mutex;
  std::condition_variable halfway;
  int served = 0;
  for (int c = 0; c < kClients; ++c)
    clients.emplace_back([&] {
      for (int i = 0; i < kEach; ++i) {
        const int fd = startConnect(*port);
        if (fd < 0) continue;
        const bool answered = exchange(fd, "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n")
                                  .rfind("HTTP/1.1 200", 0) == 0;
        ::close(fd);
        std::lock_guard lock(mutex);
        served += answered;
        halfway.notify_all();
      }
    });
  {
    std::unique_lock lock(mutex);
    halfway.wait(lock, [&] { return served >= kClients * kEach / 2; });
  }
  host.stop();
  for (auto& client : clients) client.join();
  EXPECT_GE(served, kClients * kEach / 2);
}

// A port left waiting out the end of a connection that went out from it and that this side ended
// first, as any program's outgoing connection may leave a port a service keeps; 0 when none could.
int lingeringPort() {
  int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  auto any = os::makeIPv4Address("127.0.0.1", 0);
  sockaddr_in bound{};
  socklen_t len = sizeof bound;
  if (listener < 0 || ::bind(listener, reinterpret_cast<const sockaddr*>(&*any), sizeof *any) != 0 ||
      ::listen(listener, 1) != 0 || ::getsockname(listener, reinterpret_cast<sockaddr*>(&bound), &len) != 0)
    return 0;
  int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in local{};
  len = sizeof local;
  if (::connect(client, reinterpret_cast<const sockaddr*>(&bound), sizeof bound) != 0 ||
      ::getsockname(client, reinterpret_cast<sockaddr*>(&local), &len) != 0)
    return 0;
  int accepted = ::accept(listener, nullptr, nullptr);
  ::close(client);
  char byte;
  // Our end first, then theirs: the wait stays with the client's port.
  const bool ended = accepted >= 0 && ::recv(accepted, &byte, 1, 0) == 0;
  ::close(accepted);
  ::close(listener);
  return ended ? ntohs(local.sin_port) : 0;
}

TEST(ServiceHostTest, APortThatCannotBeBoundGivesWayToAFreeOneOnlyWhenAskedTo) {
  const int lingering = lingeringPort();
  ASSERT_NE(lingering, 0);
  tools::HttpServer http;
  http.Get("/", [](const httplib::Request&, httplib::Response& response) { response.set_content("ok", "text/plain"); });
  tools::ServiceHost host(http);
  EXPECT_FALSE(host.bind("127.0.0.1", lingering));
  auto port = host.bind("127.0.0.1", lingering, true);
  ASSERT_TRUE(port);
  EXPECT_NE(*port, lingering);
  EXPECT_EQ(host.port(), *port);
  // The port told is the one that answers.
  std::thread serving([&] { host.serve(); });
  int fd = startConnect(*port);
  ASSERT_EQ(connectedWithin({fd}, std::chrono::seconds(20)), 1u);
  EXPECT_EQ(exchange(fd, "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n").rfind("HTTP/1.1 200", 0), 0u);
  ::close(fd);
  host.stop();
  serving.join();
}

// A handler reaches the connection it serves through the server itself (to watch for its client
// leaving, or to cut the line without an answer): the very socket whose peer sent the request.
TEST(ServiceHostTest, AHandlerReachesTheConnectionItServes) {
  tools::HttpServer http;
  http.Get("/", [&](const httplib::Request& request, httplib::Response& response) {
    const auto connection = http.connectionServed();
    const bool same = connection && connection->remotePort() == request.remote_port &&
                      connection->localPort() == request.local_port;
    response.set_content(same ? "same" : "other", "text/plain");
  });
  tools::ServiceHost host(http);
  auto port = host.start("127.0.0.1", 0);
  ASSERT_TRUE(port);
  EXPECT_EQ(http.connectionServed(), nullptr) << "a thread serving nothing was given a connection";
  for (int i = 0; i < 3; ++i) {
    const int fd = startConnect(*port);
    ASSERT_GE(fd, 0);
    const std::string answer = exchange(fd, "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    EXPECT_NE(answer.find("\r\n\r\nsame"), std::string::npos) << answer;
    ::close(fd);
  }
  host.stop();
}

}  // namespace
