// What a peer's reply may cost the client: no more than the reply bound is read of any reply, and
// no more than a window waits for a caller whose thread is busy. Real peers on loopback send the
// replies; the test thread stands for the caller.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <memory>
#include <thread>
#include <vector>

#include "os/net/URLConnection.h"
#include "os/net/URLReceiveWindow.h"
#include "os/runtime/RunLoop.h"
#include "os/testing/HandOverWatch.h"
#include "os/testing/HttpTestServer.h"
#include "os/testing/TcpTestPeer.h"

namespace os {
namespace {

using testing::CannedResponse;
using testing::HandOverWatch;
using testing::HttpTestServer;
using testing::TcpTestPeer;

constexpr std::uint64_t kMiB = 1 << 20;
constexpr std::size_t kBound = URLRequest::kDefaultMaximumReplyLength;

// Counts what arrives and keeps none of it.
class Tally : public URLConnectionDelegate {
 public:
  void didReceiveResponse(URLConnection&, const HTTPURLResponse& r) override { status = r.statusCode(); }
  void didReceiveData(URLConnection&, const Data& d) override {
    bytes += d.size();
    ++dataCallbacks;
    for (auto b : d) mismatched += b != fill;
  }
  void didFinishLoading(URLConnection&) override { finished = true; }
  void didFailWithError(URLConnection&, const Error& e) override { error = e; }
  bool done() const { return finished || error.has_value(); }

  char fill = 'x';
  int status = 0;
  std::uint64_t bytes = 0, mismatched = 0;
  int dataCallbacks = 0;
  bool finished = false;
  std::optional<Error> error;
};

// Loads on this thread's loop until the delegate hears the end.
std::shared_ptr<URLConnection> load(const URLRequest& request, const std::shared_ptr<Tally>& tally) {
  auto connection = URLConnection::create(request, tally);
  EXPECT_TRUE(RunLoop::current()->runUntil([&] { return tally->done(); }, 120));
  return connection;
}

bool isTooLarge(const std::optional<Error>& e) {
  return e && e->domain == kURLErrorDomain && e->code == kURLErrorDataLengthExceedsMaximum;
}

// Starts the load on this thread's loop; once the answer's head is in, the thread is busy and runs
// nothing of its loop until the transfer waits on it (or the peer is done).
void startThenBusy(std::shared_ptr<URLConnection>& connection, const URLRequest& request,
                   const std::shared_ptr<Tally>& tally, HandOverWatch& watch, double seconds = 120) {
  connection = URLConnection::create(request, tally);
  ASSERT_TRUE(RunLoop::current()->runUntil([&] { return tally->status != 0 || tally->done(); }, 60));
  ASSERT_TRUE(watch.blockUntilTransferWaitsOrPeerIsDone(seconds));
}

// The busy thread takes its events at last, up to the load's end.
bool takeToTheEnd(const std::shared_ptr<Tally>& tally) {
  return RunLoop::current()->runUntil([&] { return tally->done(); }, 120);
}

// `plainBytes` zero bytes, gzip-coded: about a thousandth of their size.
std::string gzipOfZeros(std::uint64_t plainBytes) {
  z_stream z{};
  deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, 16 + MAX_WBITS, 9, Z_DEFAULT_STRATEGY);
  std::string in(kMiB, '\0'), out;
  char buffer[1 << 16];
  for (std::uint64_t left = plainBytes;;) {
    std::size_t now = static_cast<std::size_t>(std::min<std::uint64_t>(left, in.size()));
    left -= now;
    z.next_in = reinterpret_cast<Bytef*>(in.data());
    z.avail_in = static_cast<uInt>(now);
    int flush = left ? Z_NO_FLUSH : Z_FINISH;
    int rc;
    do {
      z.next_out = reinterpret_cast<Bytef*>(buffer);
      z.avail_out = sizeof buffer;
      rc = deflate(&z, flush);
      out.append(buffer, sizeof buffer - z.avail_out);
    } while (z.avail_out == 0);
    if (rc == Z_STREAM_END || !left) break;
  }
  deflateEnd(&z);
  return out;
}

// ---- the bound ----

// A peer answering with a 256 MiB body, chunked (no length to judge by): the load fails with the
// bound's own error once the body passes it, having handed over no more than the bound, and the
// transfer is stopped: the peer makes little more than the bound and its socket's buffers.
TEST(ReplyBoundTest, ABodyPastTheBoundFailsTheLoadAndStopsTheTransfer) {
  HttpTestServer server;
  std::atomic<std::uint64_t> made{0};
  server.route("GET", "/huge", CannedResponse::generated(256 * kMiB, true, 64 * 1024, 'x', [&](std::uint64_t m) { made = m; }));
  auto tally = std::make_shared<Tally>();
  load(URLRequest(server.url("/huge")), tally);

  ASSERT_TRUE(isTooLarge(tally->error)) << (tally->error ? tally->error->localizedDescription() : "finished");
  EXPECT_NE(tally->error->localizedDescription().find(std::to_string(kBound)), std::string::npos)
      << tally->error->localizedDescription();
  EXPECT_EQ(tally->status, 200);
  EXPECT_LE(tally->bytes, kBound);
  EXPECT_EQ(tally->mismatched, 0u);
  EXPECT_LT(made.load(), kBound + 64 * kMiB) << "the peer went on sending";
}

// A length past the bound is refused at the head, before any of the body is read; a request may
// ask for a smaller bound (never a larger one), and a body within it arrives whole.
TEST(ReplyBoundTest, AStatedLengthPastTheBoundIsRefusedAtOnceAndRequestsMayAskForLess) {
  HttpTestServer server;
  server.route("GET", "/sized", CannedResponse::generated(256 * kMiB, false));
  server.route("GET", "/small", CannedResponse::generated(4096, false));
  server.route("GET", "/small-chunked", CannedResponse::generated(4096, true, 100));

  auto tally = std::make_shared<Tally>();
  load(URLRequest(server.url("/sized")), tally);
  EXPECT_TRUE(isTooLarge(tally->error));
  EXPECT_EQ(tally->bytes, 0u);

  URLRequest strict(server.url("/small"));
  strict.setMaximumReplyLength(4095);
  tally = std::make_shared<Tally>();
  load(strict, tally);
  EXPECT_TRUE(isTooLarge(tally->error));

  URLRequest chunked(server.url("/small-chunked"));
  chunked.setMaximumReplyLength(4095);
  tally = std::make_shared<Tally>();
  load(chunked, tally);
  EXPECT_TRUE(isTooLarge(tally->error));
  EXPECT_LE(tally->bytes, 4095u);

  URLRequest exact(server.url("/small-chunked"));
  exact.setMaximumReplyLength(4096);
  tally = std::make_shared<Tally>();
  load(exact, tally);
  EXPECT_TRUE(tally->finished);
  EXPECT_EQ(tally->bytes, 4096u);

  URLRequest greedy(server.url("/small"));
  greedy.setMaximumReplyLength(kBound * 4);
  EXPECT_EQ(greedy.maximumReplyLength(), kBound);
}

// The bound counts what the body decodes to: a 256 KiB gzip body that inflates to 256 MiB is
// refused once its decoded bytes pass the bound.
TEST(ReplyBoundTest, AnInflatingBodyIsBoundedByWhatItDecodesTo) {
  HttpTestServer server;
  CannedResponse bomb;
  bomb.body = gzipOfZeros(256 * kMiB);
  bomb.headers.set("Content-Encoding", "gzip");
  ASSERT_LT(bomb.body.size(), 2 * kMiB);
  server.route("GET", "/bomb", bomb);
  auto tally = std::make_shared<Tally>();
  tally->fill = '\0';
  load(URLRequest(server.url("/bomb")), tally);
  ASSERT_TRUE(isTooLarge(tally->error)) << (tally->error ? tally->error->localizedDescription() : "finished");
  EXPECT_LE(tally->bytes, kBound);
  EXPECT_EQ(tally->mismatched, 0u);
}

// The same body while the caller is busy: inflating a thousandfold, it is still held back within
// the window (the peer's whole body sits in the client's socket meanwhile), and refused at the
// bound once the caller takes its events.
TEST(ReplyBoundTest, AnInflatingBodyForABusyCallerIsHeldWithinTheWindow) {
  HttpTestServer server;
  HandOverWatch watch;
  CannedResponse bomb;
  bomb.body = gzipOfZeros(256 * kMiB);
  bomb.headers.set("Content-Encoding", "gzip");
  bomb.contentType = "application/octet-stream";  // the server codes it no further
  server.route("GET", "/bomb", bomb);
  auto tally = std::make_shared<Tally>();
  tally->fill = '\0';
  std::shared_ptr<URLConnection> connection;
  // The peer's whole body fits its socket's buffers: only the transfer's wait wakes this caller.
  ASSERT_NO_FATAL_FAILURE(startThenBusy(connection, URLRequest(server.url("/bomb")), tally, watch, 60));
  ASSERT_TRUE(takeToTheEnd(tally));
  EXPECT_TRUE(isTooLarge(tally->error));
  EXPECT_LE(tally->bytes, kBound);
  EXPECT_TRUE(watch.transferWaited());
  // A slice of the coded body inflates to at most about a thousand times its size.
  EXPECT_LE(HandOverWatch::peakHeld(), URLReceiveWindow::kDefaultCapacity + HandOverWatch::kWindowSlack + kMiB + kMiB / 32);
}

// A synchronous load is held to the same bound: no 256 MiB body comes back whole.
TEST(ReplyBoundTest, ASynchronousLoadIsBoundedToo) {
  HttpTestServer server;
  std::atomic<std::uint64_t> made{0};
  server.route("POST", "/upload", CannedResponse::generated(256 * kMiB, true, 64 * 1024, 'x', [&](std::uint64_t m) { made = m; }));
  URLRequest request(server.url("/upload"));
  request.setHTTPMethod("POST");
  request.setHTTPBody(dataFromString("events"));
  HTTPURLResponse response;
  Error error;
  auto body = URLConnection::sendSynchronousRequest(request, &response, &error);
  EXPECT_FALSE(body) << body->size();
  EXPECT_EQ(error.code, kURLErrorDataLengthExceedsMaximum);
  EXPECT_EQ(response.statusCode(), 200);
  EXPECT_LT(made.load(), kBound + 64 * kMiB);
}

// ---- the hand-over to a busy caller ----

// A 30 MiB body (within the bound) while the caller's thread is busy: the transfer waits once a
// window is handed over, the peer waits in its socket, and once the caller takes its events the
// body arrives whole. What was held for the caller never passed the window.
TEST(ReplyBoundTest, ATransferWaitsForABusyCallerWithinTheWindow) {
  constexpr std::uint64_t kTotal = 30 * kMiB;
  HttpTestServer server;
  HandOverWatch watch;
  server.route("GET", "/big", CannedResponse::generated(kTotal, false, 64 * 1024, 'x',
                                                        [&](std::uint64_t m) { watch.peerMade(m, kTotal); }));
  auto tally = std::make_shared<Tally>();
  std::shared_ptr<URLConnection> connection;
  ASSERT_NO_FATAL_FAILURE(startThenBusy(connection, URLRequest(server.url("/big")), tally, watch));
  EXPECT_TRUE(watch.transferWaited());
  EXPECT_LT(watch.madeWhenWoken(), kTotal) << "the peer was never held back";
  ASSERT_TRUE(takeToTheEnd(tally));

  EXPECT_TRUE(tally->finished) << (tally->error ? tally->error->localizedDescription() : "");
  EXPECT_EQ(tally->bytes, kTotal);
  EXPECT_EQ(tally->mismatched, 0u);
  EXPECT_LE(HandOverWatch::peakHeld(), URLReceiveWindow::kDefaultCapacity + HandOverWatch::kWindowSlack);
  EXPECT_EQ(URLReceiveWindow::counts().held, 0u);
}

// A caller busy for longer than the request's inactivity limit: the transfer waiting on it is not
// an idle peer, and the load goes on to its end once the caller takes its events.
TEST(ReplyBoundTest, ATransferWaitingOnItsCallerDoesNotTimeOut) {
  constexpr std::uint64_t kTotal = 8 * kMiB;
  HttpTestServer server;
  HandOverWatch watch;
  server.route("GET", "/big", CannedResponse::generated(kTotal, false, 64 * 1024, 'x',
                                                        [&](std::uint64_t m) { watch.peerMade(m, kTotal); }));
  auto tally = std::make_shared<Tally>();
  URLRequest request(server.url("/big"));
  request.setTimeoutInterval(0.3);
  std::shared_ptr<URLConnection> connection;
  ASSERT_NO_FATAL_FAILURE(startThenBusy(connection, request, tally, watch, 60));
  ASSERT_TRUE(watch.transferWaited());
  // Busy with other work for several times the limit.
  std::this_thread::sleep_for(std::chrono::seconds(1));
  ASSERT_TRUE(takeToTheEnd(tally));
  EXPECT_TRUE(tally->finished) << (tally->error ? tally->error->localizedDescription() : "");
  EXPECT_EQ(tally->bytes, kTotal);
}

// 10 MiB sent as a chunk per byte while the caller is busy: the pieces are handed over together
// (each hand-over costs the caller's queue more than the byte it carries), and what waits for
// the caller stays within the window however many pieces there are.
TEST(ReplyBoundTest, ABodyInOneBytePiecesIsHandedOverTogetherWithinTheWindow) {
  constexpr std::uint64_t kTotal = 10 * kMiB;
  TcpTestPeer peer;
  HandOverWatch watch;
  auto tally = std::make_shared<Tally>();
  std::shared_ptr<URLConnection> connection;
  std::thread writer([&] {
    if (!peer.waitForConnection(60) || !peer.waitForBytes(4, 60)) return;
    peer.write(dataFromString("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n"));
    std::string block;
    for (int i = 0; i < 65536; ++i) block += "1\r\nx\r\n";
    const Data bytes = dataFromString(block);
    for (std::uint64_t sent = 0; sent < kTotal; sent += 65536) {
      if (!peer.write(bytes)) return;
      watch.peerMade(sent + 65536, kTotal);
    }
    peer.write(dataFromString("0\r\n\r\n"));
  });
  startThenBusy(connection, URLRequest("http://127.0.0.1:" + std::to_string(peer.port()) + "/tiny"), tally, watch);
  EXPECT_TRUE(watch.transferWaited());
  const bool ended = takeToTheEnd(tally);
  writer.join();
  ASSERT_TRUE(ended);

  EXPECT_TRUE(tally->finished) << (tally->error ? tally->error->localizedDescription() : "");
  EXPECT_EQ(tally->bytes, kTotal);
  EXPECT_EQ(tally->mismatched, 0u);
  EXPECT_LE(tally->dataCallbacks, static_cast<int>(kTotal / 1024)) << "pieces were handed over one by one";
  EXPECT_LE(HandOverWatch::peakHeld(), URLReceiveWindow::kDefaultCapacity + HandOverWatch::kWindowSlack);
}

// A 256 MiB body while the caller is busy: held back by the window, then refused at the bound;
// the caller never held more than the window, and the transfer stopped.
TEST(ReplyBoundTest, AHugeBodyForABusyCallerIsHeldBackThenRefused) {
  constexpr std::uint64_t kTotal = 256 * kMiB;
  HttpTestServer server;
  HandOverWatch watch;
  server.route("GET", "/huge", CannedResponse::generated(kTotal, true, 64 * 1024, 'x',
                                                         [&](std::uint64_t m) { watch.peerMade(m, kTotal); }));
  auto tally = std::make_shared<Tally>();
  std::shared_ptr<URLConnection> connection;
  ASSERT_NO_FATAL_FAILURE(startThenBusy(connection, URLRequest(server.url("/huge")), tally, watch));
  EXPECT_TRUE(watch.transferWaited());
  ASSERT_TRUE(takeToTheEnd(tally));

  EXPECT_TRUE(isTooLarge(tally->error));
  EXPECT_LE(tally->bytes, kBound);
  EXPECT_LE(HandOverWatch::peakHeld(), URLReceiveWindow::kDefaultCapacity + HandOverWatch::kWindowSlack);
  EXPECT_LT(watch.made(), kBound + 64 * kMiB);
}

// ---- the windows' counts ----

// Each window keeps its own figures and the counts gather them: what the windows alive hold, the
// most one window held, and every wait, a gone window's included; what a window never gave back
// leaves with it. The observer hears each change while it is set, and nothing after.
TEST(URLReceiveWindowTest, CountsGatherWhatEachWindowKeeps) {
  URLReceiveWindow::resetPeak();
  const auto before = URLReceiveWindow::counts();
  std::vector<URLReceiveWindow::Counts> seen;
  URLReceiveWindow::setObserver([&](const URLReceiveWindow::Counts& counts) { seen.push_back(counts); });
  auto kept = std::make_unique<URLReceiveWindow>(1000);
  {
    URLReceiveWindow busy(1000);
    int opened = 0;
    busy.setOnOpen([&] { ++opened; });
    kept->handedOver(600);
    busy.handedOver(700);
    EXPECT_EQ(URLReceiveWindow::counts().held, before.held + 1300);
    EXPECT_EQ(URLReceiveWindow::counts().peak, std::max<std::size_t>(before.peak, 700)) << "the most one window held";
    EXPECT_FALSE(busy.full());
    busy.handedOver(400);
    EXPECT_TRUE(busy.full());
    EXPECT_TRUE(busy.full());  // one wait, however often it is asked
    EXPECT_EQ(URLReceiveWindow::counts().waits, before.waits + 1);
    busy.taken(599);
    EXPECT_EQ(opened, 0) << "opened before half the window was free";
    busy.taken(1);
    EXPECT_EQ(opened, 1);
    EXPECT_FALSE(busy.waiting());
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back().held, before.held + 600 + 500);
  }
  // The gone window's 500 left with it; its wait stays counted.
  EXPECT_EQ(seen.back().held, before.held + 600);
  EXPECT_EQ(URLReceiveWindow::counts().waits, before.waits + 1);
  EXPECT_EQ(URLReceiveWindow::counts().peak, std::max<std::size_t>(before.peak, 1100));
  URLReceiveWindow::setObserver(nullptr);
  const std::size_t heard = seen.size();
  kept->taken(600);
  EXPECT_EQ(seen.size(), heard);
  EXPECT_EQ(URLReceiveWindow::counts().held, before.held);
}

}  // namespace
}  // namespace os
