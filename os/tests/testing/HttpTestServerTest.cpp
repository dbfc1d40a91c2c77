// The loopback test server's stop as the clients and the other servers of the process see it.
#include "os/testing/HttpTestServer.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "os/net/Socket.h"
#include "os/testing/RawHttpClient.h"

namespace os::testing {
namespace {

// Another listener of the process on the same port number at another loopback address, as a
// second home's service may be: stopping the test server ends its own connections, a kept-alive
// one included, and leaves the other listener's connection open.
TEST(HttpTestServerStop, EndsTheConnectionsItAcceptedAndNoOther) {
  for (bool tls : {false, true}) {
    SCOPED_TRACE(tls ? "TLS" : "in the clear");
    auto server = std::make_unique<HttpTestServer>(tls);
    server->route("GET", "/", CannedResponse::text("ok"));
    const int port = server->port();

    int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    auto other = makeIPv4Address("127.0.0.2", static_cast<std::uint16_t>(port));
    ASSERT_EQ(::bind(listener, reinterpret_cast<const sockaddr*>(&*other), sizeof *other), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    const int client = connectTo("127.0.0.2", port);
    ASSERT_GE(client, 0);
    const int accepted = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    ASSERT_GE(accepted, 0);
    timeval safety{60, 0};
    ::setsockopt(accepted, SOL_SOCKET, SO_RCVTIMEO, &safety, sizeof safety);

    // A kept-alive connection to the test server, idle when the stop comes.
    const int kept = connectTo("127.0.0.1", port);
    ASSERT_GE(kept, 0);
    if (!tls) {
      EXPECT_EQ(answerOn(kept, "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", 2).rfind("HTTP/1.1 200", 0), 0u);
    }

    server->stop();
    char byte = 0;
    // Ended, or reset when the stop came before the handshake was accepted.
    EXPECT_LE(::recv(kept, &byte, 1, 0), 0) << "the test server's connection was left open";
    ASSERT_EQ(::send(client, "x", 1, MSG_NOSIGNAL), 1);
    EXPECT_EQ(::recv(accepted, &byte, 1, 0), 1) << "the other listener's connection was ended";
    EXPECT_EQ(byte, 'x');
    server.reset();
    for (int fd : {kept, client, accepted, listener}) ::close(fd);
  }
}

// Stops while clients keep coming and going, each connection closed by the thread that serves it
// and its descriptor number taken again by the next as the stop ends the others: each is ended by
// its own socket.
TEST(HttpTestServerStop, AStopAmidConnectionsComingAndGoingEndsEachByItsOwnSocket) {
  for (bool tls : {false, true}) {
    SCOPED_TRACE(tls ? "TLS" : "in the clear");
    HttpTestServer server(tls);
    server.route("GET", "/", CannedResponse::text("ok"));
    // The HTTP library's client sets up its shared parts on first use, out of the thread checker's
    // sight: once here, before the client threads, lest it take them for racing.
    if (tls) {
      httplib::SSLClient first("127.0.0.1", server.port());
      first.enable_server_certificate_verification(false);
      ASSERT_TRUE(first.Get("/"));
    } else {
      ASSERT_TRUE(httplib::Client("127.0.0.1", server.port()).Get("/"));
    }
    constexpr int kClients = 4, kEach = 30;
    std::mutex mutex;
    std::condition_variable halfway;
    int served = 0, finished = 0;
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c)
      clients.emplace_back([&, c] {
        for (int i = 0; i < kEach; ++i) {
          // Half of them keep their connection for a second request, as connection caches do.
          bool answered = false;
          if (tls) {
            httplib::SSLClient client("127.0.0.1", server.port());
            client.enable_server_certificate_verification(false);
            client.set_keep_alive(c % 2 == 0);
            auto res = client.Get("/");
            answered = res && res->status == 200;
            if (c % 2 == 0) client.Get("/");
          } else {
            httplib::Client client("127.0.0.1", server.port());
            client.set_keep_alive(c % 2 == 0);
            auto res = client.Get("/");
            answered = res && res->status == 200;
            if (c % 2 == 0) client.Get("/");
          }
          std::lock_guard lock(mutex);
          served += answered;
          halfway.notify_all();
        }
        std::lock_guard lock(mutex);
        ++finished;
        halfway.notify_all();
      });
    {
      std::unique_lock lock(mutex);
      halfway.wait(lock, [&] { return served >= kClients * kEach / 2 || finished == kClients; });
    }
    server.stop();
    for (auto& client : clients) client.join();
    EXPECT_GE(served, kClients * kEach / 2);
  }
}

}  // namespace
}  // namespace os::testing
