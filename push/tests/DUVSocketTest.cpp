#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "os/runtime/Clock.h"
#include "os/runtime/RunLoop.h"
#include "os/testing/Collect.h"
#include "os/testing/LogCapture.h"
#include "os/testing/HttpTestServer.h"
#include "os/testing/TcpTestPeer.h"
#include "os/testing/UdpTestPeer.h"
#include "os/testing/Waits.h"
#include "push/network/socket/DUVTcpSocket.h"
#include "push/network/socket/DUVUdpSocket.h"
#include "push/protocol/tcp/base/DUVPacketCodec.h"
#include "push/protocol/tcp/base/DUVReceivedPacket.h"

namespace {

struct TcpEvents : DUVTcpSocketDelegate {
  int setups = 0, closes = 0;
  std::vector<std::shared_ptr<DUVReceivedPacket>> elements;
  std::vector<os::Data> sent;
  // Off: elements are only counted, with the most tasks seen waiting on the loop as one arrives.
  bool keepElements = true;
  std::size_t counted = 0, mostWaiting = 0;
  void connectionDidSetup(DUVTcpSocket&) override { ++setups; }
  void connectionDidClose(DUVTcpSocket&) override { ++closes; }
  void connectionDidReceiveElement(DUVTcpSocket&, const std::shared_ptr<DUVReceivedPacket>& e) override {
    ++counted;
    mostWaiting = std::max(mostWaiting, os::RunLoop::current()->pendingTaskCount());
    if (keepElements) elements.push_back(e);
  }
  void connectionDidSendData(DUVTcpSocket&, const os::Data& d) override { sent.push_back(d); }
};

// An ack frame (command 19) of `size` bytes for request id `rid`.
os::Data ackFrame(std::uint16_t rid, std::size_t size = 17) {
  os::Data frame(size, 0);
  frame[0] = static_cast<std::uint8_t>(size >> 8);
  frame[1] = static_cast<std::uint8_t>(size);
  frame[3] = 19;
  frame[4] = static_cast<std::uint8_t>(rid >> 8);
  frame[5] = static_cast<std::uint8_t>(rid);
  return frame;
}

using os::testing::runUntil;

class DUVTcpSocketTest : public ::testing::Test {
 protected:
  void connect() {
    socket_ = DUVTcpSocket::create("localhost", peer_.port(), events_);
    EXPECT_FALSE(socket_->sendData({1}));  // not connected yet
    ASSERT_TRUE(socket_->setup());
    ASSERT_TRUE(runUntil([&] { return events_->setups == 1; }));
    ASSERT_TRUE(peer_.waitForConnection(10));
  }
  os::testing::TcpTestPeer peer_;
  std::shared_ptr<TcpEvents> events_ = std::make_shared<TcpEvents>();
  std::shared_ptr<DUVTcpSocket> socket_;
};

TEST_F(DUVTcpSocketTest, FramesArriveWholeHoweverTheStreamIsCut) {
  connect();
  os::Data first = ackFrame(1);
  peer_.write(os::Data(first.begin(), first.begin() + 1));  // one byte of the prefix
  os::RunLoop::current()->runUntilIdle();
  peer_.write(os::Data(first.begin() + 1, first.begin() + 9));
  os::RunLoop::current()->runUntilIdle();
  EXPECT_TRUE(events_->elements.empty());
  peer_.write(os::Data(first.begin() + 9, first.end()));
  ASSERT_TRUE(runUntil([&] { return events_->elements.size() == 1; }));

  os::Data two = ackFrame(2);
  os::Data third = ackFrame(3);
  two.insert(two.end(), third.begin(), third.end());
  peer_.write(two);
  ASSERT_TRUE(runUntil([&] { return events_->elements.size() == 3; }));
  peer_.write(ackFrame(4, 3000));
  ASSERT_TRUE(runUntil([&] { return events_->elements.size() == 4; }));
  EXPECT_EQ(socket_->receiveBufferCapacity(), 3000u);
  auto rids = os::testing::collect<int>(events_->elements, [](const auto& e) { return e->rid(); });
  EXPECT_EQ(rids, (std::vector<int>{1, 2, 3, 4}));

  os::Data big(70000, 7);
  ASSERT_TRUE(socket_->sendData(big));
  ASSERT_TRUE(runUntil([&] { return events_->sent.size() == 1; }));
  EXPECT_EQ(events_->sent[0].size(), 70000u);
  EXPECT_TRUE(peer_.waitForBytes(70000, 10));

  socket_->close();
  socket_->close();
  runUntil([&] { return events_->closes > 0; });
  os::RunLoop::current()->runUntilIdle();
  EXPECT_EQ(events_->closes, 1);
  EXPECT_FALSE(socket_->sendData({1}));
}

// Frames of 2 to 5 bytes are read and yield nothing; the frames after them arrive and the
// connection stays. Only a length that does not cover its own two bytes breaks the stream.
TEST_F(DUVTcpSocketTest, FramesShorterThanTheHeaderAreSkippedAndBrokenLengthsClose) {
  connect();
  os::testing::LogCapture log;
  os::Data stream{0, 2, 0, 3, 1, 0, 4, 1, 19, 0, 5, 1, 19, 0};
  os::Data ack = ackFrame(9);
  stream.insert(stream.end(), ack.begin(), ack.end());
  peer_.write(stream);
  ASSERT_TRUE(runUntil([&] { return events_->elements.size() == 1; }));
  EXPECT_EQ(events_->elements[0]->rid(), 9);
  EXPECT_EQ(events_->closes, 0);
  EXPECT_FALSE(log.contains("ERROR"));

  peer_.write({0, 1, 0});
  ASSERT_TRUE(runUntil([&] { return events_->closes == 1; }));
  EXPECT_EQ(events_->elements.size(), 1u);
}

TEST_F(DUVTcpSocketTest, PeerClosingOrRefusingEndsInOneClose) {
  connect();
  peer_.closeConnection();
  ASSERT_TRUE(runUntil([&] { return events_->closes == 1; }));

  // A port held unlistened: one let go could be given to another program's listener meanwhile.
  const auto port = static_cast<std::uint16_t>(os::testing::HttpTestServer::refusedPort());
  auto refused = DUVTcpSocket::create("127.0.0.1", port, events_);
  ASSERT_TRUE(refused->setup());
  ASSERT_TRUE(runUntil([&] { return events_->closes == 2; }));
  EXPECT_EQ(events_->setups, 1);
  EXPECT_FALSE(DUVTcpSocket::create("push.example", 1, events_)->setup());
}

TEST_F(DUVTcpSocketTest, APeerThatNeverStopsSendingIsReadAWakeUpsWorthAtATime) {
  connect();
  events_->keepElements = false;
  // 4 MiB of the smallest frames that make an element, written as fast as the connection takes
  // them. Read to the end at each wake-up, a flood faster than the reader would be held whole in
  // the loop's posts before the first of them reached the delegate.
  const os::Data one = ackFrame(1);
  os::Data chunk;
  for (int i = 0; i < 3855; ++i) chunk.insert(chunk.end(), one.begin(), one.end());
  const int chunks = 64;
  std::thread flood([&] {
    for (int i = 0; i < chunks; ++i)
      if (!peer_.write(chunk)) return;
  });
  const bool all = runUntil([&] { return events_->counted == 3855u * chunks; }, 120);
  flood.join();
  ASSERT_TRUE(all) << events_->counted;
  EXPECT_EQ(events_->closes, 0);
  // 64 KiB of these frames is 3855 of them.
  EXPECT_LE(events_->mostWaiting, 3856u) << "what waits for the loop is what one wake-up read";
}

// A burst the peer wrote at once is read a buffer at a time and reaches the delegate in one
// hand-over to the loop: as the first frame arrives nothing else of the burst waits on the loop,
// and the receipts the delegate queues meanwhile go back together.
TEST_F(DUVTcpSocketTest, ABurstReadTogetherReachesTheDelegateInOneHandOver) {
  connect();
  constexpr int kFrames = 500;
  os::Data burst;
  for (int i = 1; i <= kFrames; ++i) {
    const os::Data frame = ackFrame(static_cast<std::uint16_t>(i));
    burst.insert(burst.end(), frame.begin(), frame.end());
  }
  // Written as one piece, it is all in the socket when the loop first hears of it.
  ASSERT_TRUE(peer_.write(burst));
  ASSERT_TRUE(runUntil([&] { return events_->elements.size() == static_cast<std::size_t>(kFrames); }));
  EXPECT_LE(events_->mostWaiting, 1u) << "tasks waiting on the loop beside the burst's frames";
  auto rids = os::testing::collect<int>(events_->elements, [](const auto& e) { return e->rid(); });
  for (int i = 0; i < kFrames; ++i) ASSERT_EQ(rids[static_cast<std::size_t>(i)], i + 1);

  // A receipt for each, queued before the socket can write: all of them go out, in order, and the
  // delegate hears of each.
  for (int i = 1; i <= kFrames; ++i) ASSERT_TRUE(socket_->sendData(ackFrame(static_cast<std::uint16_t>(i))));
  ASSERT_TRUE(runUntil([&] { return events_->sent.size() == static_cast<std::size_t>(kFrames); }));
  ASSERT_TRUE(peer_.waitForBytes(burst.size(), 10));
  EXPECT_EQ(peer_.received(), burst);
}

struct UdpEvents : DUVUdpSocketDelegate {
  std::vector<os::Data> sent, notSent, received;
  std::vector<os::Error> errors;
  void didSendData(const os::Data& d, DUVUdpSocket&) override { sent.push_back(d); }
  void didNotSendData(const os::Data& d, DUVUdpSocket&) override { notSent.push_back(d); }
  void didReceivedData(const os::Data& d, DUVUdpSocket&) override { received.push_back(d); }
  void didNotReceivedData(DUVUdpSocket&, const os::Error& e) override { errors.push_back(e); }
};

TEST(DUVUdpSocket, DatagramsAndTimeOuts) {
  os::VirtualClockScope clock;
  os::testing::UdpTestPeer peer;
  auto events = std::make_shared<UdpEvents>();
  auto socket = DUVUdpSocket::create(events);
  ASSERT_TRUE(socket->sendData({1, 2, 3}, "localhost", peer.port(), 4.0));
  ASSERT_TRUE(runUntil([&] { return events->sent.size() == 1; }));
  ASSERT_TRUE(peer.waitForDatagrams(1, 10));
  peer.reply(os::Data(20000, 9));
  ASSERT_TRUE(runUntil([&] { return events->received.size() == 1; }));
  EXPECT_EQ(events->received[0].size(), kDUVUdpReceiveBufferSize);

  socket->receiveDataWithTimeout(8);
  os::Clock::advance(8);
  ASSERT_TRUE(runUntil([&] { return events->errors.size() == 1; }));
  EXPECT_EQ(events->errors[0].domain, kDUVUdpTimeOutDomain);

  // Closing leaves a receive time-out running: it still reports, with the closed socket.
  socket->receiveDataWithTimeout(1);
  socket->close();
  os::Clock::advance(2);
  ASSERT_TRUE(runUntil([&] { return events->errors.size() == 2; }));
  EXPECT_EQ(events->errors[1].domain, kDUVUdpTimeOutDomain);

  // Closed and then dropped: its receive time-out leaves the run loop with it and never reports.
  auto dropped = DUVUdpSocket::create(events);
  const std::size_t timers = os::RunLoop::current()->timerCount();
  dropped->receiveDataWithTimeout(1);
  dropped->close();
  dropped.reset();
  EXPECT_EQ(os::RunLoop::current()->timerCount(), timers);
  os::Clock::advance(2);
  os::RunLoop::current()->runUntilIdle();
  EXPECT_EQ(events->errors.size(), 2u);

  EXPECT_FALSE(socket->sendData({1}, "localhost", peer.port(), 0));
  EXPECT_FALSE(DUVUdpSocket::create(events)->connectToHost("push.example", 80));
}

}  // namespace
