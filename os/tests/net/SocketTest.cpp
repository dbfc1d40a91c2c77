// TCP and UDP sockets driven by a run loop, against each other and against the test peers.
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <optional>
#include <thread>
#include <vector>

#include "os/net/HostLookup.h"
#include "os/net/Socket.h"
#include "os/runtime/RunLoop.h"
#include "os/testing/HttpTestServer.h"
#include "os/testing/NoDescriptorLeft.h"
#include "os/testing/TcpTestPeer.h"
#include "os/net/TrackedHttpServer.h"
#include "os/testing/UdpTestPeer.h"

namespace os {
namespace {

std::atomic<int> gSigpipes{0};

class SigpipeCounter {
 public:
  SigpipeCounter() {
    struct sigaction sa {};
    sa.sa_handler = [](int) { ++gSigpipes; };
    sigaction(SIGPIPE, &sa, &old_);
    gSigpipes = 0;
  }
  ~SigpipeCounter() { sigaction(SIGPIPE, &old_, nullptr); }

 private:
  struct sigaction old_ {};
};

// Cuts a byte stream into 2-byte length-prefixed frames (the length counts itself).
struct FrameReader {
  Data pending;
  std::vector<std::string> frames;
  void feed(const std::uint8_t* p, std::size_t n) {
    pending.insert(pending.end(), p, p + n);
    while (pending.size() >= 2) {
      std::size_t length = (std::size_t(pending[0]) << 8) | pending[1];
      if (pending.size() < length) break;
      frames.emplace_back(pending.begin() + 2, pending.begin() + length);
      pending.erase(pending.begin(), pending.begin() + length);
    }
  }
};

TEST(TcpSocket, ClientAndServerExchangeFramesThroughRunLoopSources) {
  auto loop = RunLoop::current();
  auto listener = TcpListener::listen("127.0.0.1", 0);
  ASSERT_TRUE(listener);
  std::shared_ptr<TcpSocket> serverSide;
  FrameReader atServer, atClient;
  ASSERT_TRUE(listener->schedule(loop, [&](std::shared_ptr<TcpSocket> s) {
    serverSide = s;
    Socket::Callbacks cb;
    cb.readable = [&] {
      std::uint8_t buf[7];  // small reads: frames arrive in pieces
      long n;
      while ((n = serverSide->receive(buf, sizeof buf)) > 0) atServer.feed(buf, static_cast<std::size_t>(n));
      if (atServer.frames.size() == 2 && atClient.frames.empty()) {
        Data reply = testing::TcpTestPeer::frame(dataFromString("pong"));
        serverSide->send(reply.data(), reply.size());
      }
    };
    serverSide->schedule(loop, cb);
  }));

  auto client = TcpSocket::create();
  ASSERT_TRUE(client);
  int connectError = -1;
  int writableCalls = 0;
  Socket::Callbacks cb;
  cb.connected = [&](int error) {
    connectError = error;
    client->enableWriteCallback();
  };
  cb.writable = [&] {
    ++writableCalls;
    Data out = testing::TcpTestPeer::frame(dataFromString("hello"));
    Data second = testing::TcpTestPeer::frame(dataFromString("world!"));
    out.insert(out.end(), second.begin(), second.end());
    EXPECT_EQ(client->send(out.data(), out.size()), static_cast<long>(out.size()));
  };
  cb.readable = [&] {
    std::uint8_t buf[64];
    long n = client->receive(buf, sizeof buf);
    if (n > 0) atClient.feed(buf, static_cast<std::size_t>(n));
  };
  ASSERT_TRUE(client->schedule(loop, cb));
  ASSERT_TRUE(client->connect(*makeIPv4Address("127.0.0.1", listener->port())));

  ASSERT_TRUE(loop->runUntil([&] { return !atClient.frames.empty(); }, 10));
  EXPECT_EQ(connectError, 0);
  EXPECT_EQ(writableCalls, 1) << "the write callback is one-shot";
  EXPECT_EQ(atServer.frames, (std::vector<std::string>{"hello", "world!"}));
  EXPECT_EQ(atClient.frames, (std::vector<std::string>{"pong"}));
  EXPECT_EQ(client->localAddress(), "127.0.0.1");
  EXPECT_EQ(client->remoteAddress(), "127.0.0.1");
  EXPECT_EQ(serverSide->localPort(), listener->port());

  client->close();
  EXPECT_FALSE(client->isValid());
  EXPECT_FALSE(client->remoteAddress());
  serverSide->close();
  listener->close();
}

TEST(TcpSocket, AResetPeerFailsSendsWithoutRaisingSigpipe) {
  SigpipeCounter counter;
  auto loop = RunLoop::current();
  testing::TcpTestPeer peer;
  auto client = TcpSocket::create();
  bool connected = false, sawEnd = false;
  Socket::Callbacks cb;
  cb.connected = [&](int error) { connected = error == 0; };
  cb.readable = [&] {
    std::uint8_t buf[16];
    long n = client->receive(buf, sizeof buf);
    if (n <= 0) sawEnd = true;
  };
  client->schedule(loop, cb);
  ASSERT_TRUE(client->connect(*makeIPv4Address("127.0.0.1", peer.port())));
  ASSERT_TRUE(loop->runUntil([&] { return connected && peer.isConnected(); }, 10));
  peer.resetConnection();
  ASSERT_TRUE(loop->runUntil([&] { return sawEnd; }, 10));
  std::uint8_t byte = 1;
  long result = 0;
  for (int i = 0; i < 3 && result >= 0; ++i) result = client->send(&byte, 1);
  EXPECT_EQ(result, -1);
  EXPECT_TRUE(errno == EPIPE || errno == ECONNRESET) << errno;
  EXPECT_EQ(gSigpipes.load(), 0);
  client->close();
}

TEST(TcpSocket, ARefusedConnectReportsItsErrno) {
  auto loop = RunLoop::current();
  auto client = TcpSocket::create();
  int error = -1;
  Socket::Callbacks cb;
  cb.connected = [&](int e) { error = e; };
  client->schedule(loop, cb);
  auto address = makeIPv4Address("127.0.0.1", static_cast<std::uint16_t>(testing::HttpTestServer::refusedPort()));
  ASSERT_TRUE(client->connect(*address));
  ASSERT_TRUE(loop->runUntil([&] { return error != -1; }, 10));
  EXPECT_EQ(error, ECONNREFUSED);
}

TEST(TcpSocket, NoCallbackAfterClose) {
  auto loop = RunLoop::current();
  testing::TcpTestPeer peer;
  auto client = TcpSocket::create();
  int reads = 0;
  bool connected = false;
  Socket::Callbacks cb;
  cb.connected = [&](int) { connected = true; };
  cb.readable = [&] { ++reads; };
  client->schedule(loop, cb);
  client->connect(*makeIPv4Address("127.0.0.1", peer.port()));
  ASSERT_TRUE(loop->runUntil([&] { return connected && peer.isConnected(); }, 10));
  ASSERT_TRUE(peer.write(dataFromString("data waiting")));
  client->close();
  loop->runUntil([] { return false; }, 0.2);
  EXPECT_EQ(reads, 0);
}

TEST(UdpSocket, SendsReceivesAndCutsLongDatagrams) {
  auto loop = RunLoop::current();
  testing::UdpTestPeer peer;
  auto socket = UdpSocket::create();
  ASSERT_TRUE(socket);
  std::vector<Data> received;
  Socket::Callbacks cb;
  cb.readable = [&] {
    while (auto d = socket->receiveFrom(16)) received.push_back(*d);
  };
  socket->schedule(loop, cb);
  auto to = *makeIPv4Address("127.0.0.1", peer.port());
  ASSERT_EQ(socket->sendTo("ask", 3, to), 3);
  ASSERT_TRUE(peer.waitForDatagrams(1, 10));
  EXPECT_EQ(stringFromData(peer.datagrams()[0]), "ask");
  ASSERT_TRUE(peer.reply(dataFromString("short")));
  ASSERT_TRUE(peer.reply(dataFromString("a datagram longer than sixteen bytes")));
  ASSERT_TRUE(loop->runUntil([&] { return received.size() == 2; }, 10));
  EXPECT_EQ(stringFromData(received[0]), "short");
  EXPECT_EQ(stringFromData(received[1]), "a datagram longe");

  // Connected: plain send reaches the fixed peer.
  EXPECT_FALSE(socket->isConnected());
  ASSERT_TRUE(socket->connectTo(to));
  EXPECT_TRUE(socket->isConnected());
  ASSERT_EQ(socket->send("again", 5), 5);
  ASSERT_TRUE(peer.waitForDatagrams(2, 10));
  EXPECT_EQ(stringFromData(peer.datagrams()[1]), "again");
  socket->close();
  EXPECT_EQ(socket->sendTo("x", 1, to), -1);
}

TEST(SocketAddress, OnlyDottedLiteralsMakeAddresses) {
  EXPECT_TRUE(makeIPv4Address("10.0.0.1", 80));
  EXPECT_FALSE(makeIPv4Address("example.invalid", 80));
  EXPECT_FALSE(makeIPv4Address("", 80));
  EXPECT_EQ(IPv4AddressText(*makeIPv4Address("192.168.1.20", 1)), "192.168.1.20");
}

TEST(HostLookup, LiteralsAnswerThemselvesAndOverridesWinOverTheResolver) {
  EXPECT_EQ(HostLookup::firstIPv4Address("127.0.0.1"), "127.0.0.1");
  EXPECT_FALSE(HostLookup::firstIPv4Address(""));
  HostLookup::setOverride("Push.Example.Test", "127.0.0.1");
  HostLookup::setOverride("gone.example.test", std::nullopt);
  EXPECT_EQ(HostLookup::firstIPv4Address("push.example.test"), "127.0.0.1");
  EXPECT_FALSE(HostLookup::firstIPv4Address("gone.example.test"));
  HostLookup::removeAllOverrides();
  EXPECT_FALSE(HostLookup::firstIPv4Address("push.example.test"));  // reserved top-level domain
}

std::size_t connectsQueued(int family, std::uint16_t port, std::size_t count, std::vector<int>& fds) {
  sockaddr_storage address{};
  socklen_t length = 0;
  if (family == AF_INET6) {
    auto* a = reinterpret_cast<sockaddr_in6*>(&address);
    a->sin6_family = AF_INET6;
    a->sin6_addr = in6addr_loopback;
    a->sin6_port = htons(port);
    length = sizeof *a;
  } else {
    *reinterpret_cast<sockaddr_in*>(&address) = *makeIPv4Address("127.0.0.1", port);
    length = sizeof(sockaddr_in);
  }
  std::vector<pollfd> pending;
  for (std::size_t i = 0; i < count; ++i) {
    int fd = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    fds.push_back(fd);
    if (fd >= 0 && (::connect(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 || errno == EINPROGRESS))
      pending.push_back({fd, POLLOUT, 0});
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
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

// A service's HTTP server listens with a queue as wide as the system allows: it takes a burst of
// connections before it accepts the first, whichever family its host names: "::1" as well as
// "127.0.0.1".
TEST(ListenQueue, WideningReachesListenersOfBothFamilies) {
  for (int family : {AF_INET, AF_INET6}) {
    SCOPED_TRACE(family == AF_INET6 ? "IPv6" : "IPv4");
    TrackedHttpServer http;
    const int port = http.bind(family == AF_INET6 ? "::1" : "127.0.0.1", 0).value_or(0);
    if (port <= 0 && family == AF_INET6) GTEST_SKIP() << "no IPv6 loopback address here";
    ASSERT_GT(port, 0);
    constexpr std::size_t kPending = 24;
    std::vector<int> fds;
    EXPECT_EQ(connectsQueued(family, static_cast<std::uint16_t>(port), kPending, fds), kPending);
    for (int fd : fds)
      if (fd >= 0) ::close(fd);
  }
}

// A burst of clients connecting at once to a listener that is busy elsewhere: every handshake
// waits in the queue, and the listener takes them all in one turn of its loop, not one a turn.
TEST(ListenQueue, AListenerQueuesABurstOfClientsAndTakesThemAllInOneTurn) {
  auto loop = RunLoop::current();
  auto listener = TcpListener::listen("127.0.0.1", 0);
  ASSERT_TRUE(listener);
  std::vector<std::shared_ptr<TcpSocket>> accepted;
  ASSERT_TRUE(listener->schedule(loop, [&](std::shared_ptr<TcpSocket> socket) { accepted.push_back(socket); }));
  constexpr std::size_t kBurst = 64;
  std::vector<int> fds;
  EXPECT_EQ(connectsQueued(AF_INET, listener->port(), kBurst, fds), kBurst);
  EXPECT_TRUE(loop->runOnce(Date::now().addingTimeInterval(5)));
  EXPECT_EQ(accepted.size(), kBurst);
  for (auto& socket : accepted) socket->close();
  for (int fd : fds)
    if (fd >= 0) ::close(fd);
  listener->close();
}

// While the process has no descriptor left, a waiting peer cannot be taken in: it is refused and
// hears its connection end, rather than left in the queue for a loop that would find the listener
// readable turn after turn. Peers before and after are taken in.
TEST(ListenQueue, APeerWaitingWhileNoDescriptorIsLeftIsRefusedAndTheNextIsTakenIn) {
  auto loop = RunLoop::current();
  auto listener = TcpListener::listen("127.0.0.1", 0);
  ASSERT_TRUE(listener);
  std::vector<std::shared_ptr<TcpSocket>> accepted;
  ASSERT_TRUE(listener->schedule(loop, [&](std::shared_ptr<TcpSocket> s) { accepted.push_back(std::move(s)); }));
  std::vector<int> fds;
  const auto takeOneIn = [&] {
    const std::size_t before = accepted.size();
    EXPECT_EQ(connectsQueued(AF_INET, listener->port(), 1, fds), 1u);
    EXPECT_TRUE(loop->runOnce(Date::now().addingTimeInterval(5)));
    EXPECT_EQ(accepted.size(), before + 1);
  };
  // The first peer also walks the accepting code once while the sanitizers can still check it:
  // their checks need descriptors of their own.
  takeOneIn();

  // Made before the descriptors run out: connecting takes none.
  const int peer = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(peer, 0);
  sockaddr_in address = *makeIPv4Address("127.0.0.1", listener->port());
  {
    testing::NoDescriptorLeft exhausted;
    ASSERT_EQ(::connect(peer, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    loop->runOnce(Date::now().addingTimeInterval(5));
  }
  EXPECT_EQ(accepted.size(), 1u);
  pollfd ended{peer, POLLIN, 0};
  ASSERT_EQ(::poll(&ended, 1, 10000), 1) << "the refused peer never heard its connection end";
  char byte;
  EXPECT_EQ(::recv(peer, &byte, 1, 0), 0);
  ::close(peer);

  takeOneIn();
  for (auto& socket : accepted) socket->close();
  for (int fd : fds)
    if (fd >= 0) ::close(fd);
  listener->close();
}

// A socket served on a thread of its own: the thread waits to read until bytes come or another
// thread ends the reading side, which wakes it to the end while its answer can still go out.
TEST(TcpSocketTest, EndingTheReadingSideWakesAWaitingReaderAndLeavesWritingOpen) {
  auto listener = TcpListener::listen("127.0.0.1", 0);
  ASSERT_TRUE(listener);
  std::shared_ptr<TcpSocket> accepted;
  ASSERT_TRUE(listener->schedule(RunLoop::current(), [&](std::shared_ptr<TcpSocket> s) { accepted = std::move(s); }));
  auto client = TcpSocket::create();
  ASSERT_TRUE(client);
  std::optional<int> connected;
  client->schedule(RunLoop::current(), {[&](int error) { connected = error; }, nullptr, nullptr});
  ASSERT_TRUE(client->connect(*makeIPv4Address("127.0.0.1", listener->port())));
  ASSERT_TRUE(RunLoop::current()->runUntil([&] { return connected.has_value() && accepted != nullptr; }, 20));
  ASSERT_EQ(connected, 0);
  client->setReadCallbackEnabled(false);

  const char request[] = "ask";
  ASSERT_EQ(client->send(request, 3), 3);
  ASSERT_TRUE(accepted->waitUntilReadable(60));
  char buffer[16];
  EXPECT_EQ(accepted->receive(buffer, sizeof buffer), 3);

  bool woke = false;
  std::thread reader([&] { woke = accepted->waitUntilReadable(60); });
  accepted->shutdownReading();
  reader.join();
  EXPECT_TRUE(woke);
  EXPECT_EQ(accepted->receive(buffer, sizeof buffer), 0);
  ASSERT_TRUE(accepted->waitUntilWritable(60));
  EXPECT_EQ(accepted->send("answer", 6), 6);
  ASSERT_TRUE(client->waitUntilReadable(60));
  EXPECT_EQ(client->receive(buffer, sizeof buffer), 6);
  EXPECT_EQ(std::string(buffer, 6), "answer");
  EXPECT_EQ(client->remotePort(), listener->port());
  EXPECT_EQ(accepted->localPort(), listener->port());
}

}  // namespace
}  // namespace os
