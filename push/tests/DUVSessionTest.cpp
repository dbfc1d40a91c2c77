// The TCP session against a raw core peer and a raw lookup peer: the frames on the wire are
// written and read here byte by byte, as the protocol lays them out, not through a push service
// that could share the client's reading of them.
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "os/net/URLReceiveWindow.h"
#include "os/runtime/Clock.h"
#include "os/runtime/Thread.h"
#include "os/runtime/NotificationCenter.h"
#include "os/runtime/RunLoop.h"
#include "os/store/FileManager.h"
#include "os/store/PropertyList.h"
#include "os/store/Sandbox.h"
#include "os/testing/FakeReachabilityProvider.h"
#include "os/testing/LogCapture.h"
#include "os/testing/NotificationCounter.h"
#include "os/testing/TcpTestPeer.h"
#include "os/testing/TestSandbox.h"
#include "os/testing/UdpTestPeer.h"
#include "os/testing/Waits.h"
#include "push/model/DUVMessageCenter.h"
#include "push/model/DUVNotifications.h"
#include "push/model/DUVTagAlias.h"
#include "push/network/DUVNetworkService.h"
#include "push/network/DUVSession.h"
#include "push/protocol/tcp/DUVDeviceTokenReport.h"
#include "push/protocol/tcp/DUVMessageDispatch.h"
#include "push/protocol/tcp/DUVSetTagAlias.h"
#include "push/protocol/tcp/base/DUVPacketCodec.h"
#include "push/utilities/DUVUserDefaults.h"

namespace {

using os::testing::runUntil;

constexpr const char* kBundle = "com.example.newsreader";

std::uint16_t u16At(const os::Data& frame, std::size_t at) {
  return static_cast<std::uint16_t>((frame[at] << 8) | frame[at + 1]);
}
std::uint32_t u32At(const os::Data& frame, std::size_t at) {
  return (std::uint32_t{frame[at]} << 24) | (std::uint32_t{frame[at + 1]} << 16) | (std::uint32_t{frame[at + 2]} << 8) |
         frame[at + 3];
}

class DUVSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    endpoints_.lookupHosts = {"127.0.0.1"};
    endpoints_.lookupPort = lookup_.port();
    endpoints_.lookupBackupPort = lookup_.port();
    endpoints_.defaultCoreHost = "127.0.0.1";
    endpoints_.corePort = core_.port();
    endpoints_.defaultCoreAddress = "127.0.0.1:" + std::to_string(core_.port());
  }
  void TearDown() override {
    if (session_) session_->close();
    session_.reset();
    // The session's notifications go out through the main queue: delivered here, not to the
    // next test's observers.
    os::RunLoop::current()->runUntilIdle();
  }

  DUVSession& start() {
    if (!identity_) identity_ = DUVUserDefaults::create(kBundle, "abc123", center_);
    DUVSessionEnvironment environment;
    environment.identity = identity_;
    environment.endpoints = &endpoints_;
    environment.networkStatus = [] { return 2L; };
    environment.deviceTokenUpdated = [this] { return tokenUpdated_; };
    environment.packetFacts = [this] {
      DUVPacketContext context;
      context.uid = identity_->uid();
      context.password = identity_->password();
      context.appkey = identity_->appkey();
      context.currentDeviceToken = identity_->currentDeviceToken();
      return context;
    };
    environment.onMessage = [this](const DUVMessageDispatch& message) {
      messages_.push_back(message.messageID());
      if (window_) window_->handedOver(kHandedOver);
    };
    environment.messageWindow = window_;
    environment.onTagAliasAnswer = [tags = tags_](const std::string& json) {
      tags->doSetTagsAliasCallbackWithRetJson(json);
    };
    session_ = DUVSession::create(environment);
    return *session_;
  }
  // Answers the lookup request number `n` (from 1) with the core peer and a report address.
  void answerLookup(std::size_t n) {
    ASSERT_TRUE(runUntil([&] { return lookup_.datagrams().size() >= n; }));
    std::string core = "127.0.0.1:" + std::to_string(core_.port());
    std::string report = "127.0.0.1:" + std::to_string(lookup_.port());
    lookup_.reply(os::dataFromString(R"({"ips":[")" + core + R"(","",")" + report + R"("]})"));
  }
  // The frame number `n` (from 0) the client wrote on the current connection.
  os::Data frame(std::size_t n) {
    EXPECT_TRUE(runUntil([&] { return core_.receivedFrames().size() > n; }));
    auto frames = core_.receivedFrames();
    return frames.size() > n ? frames[n] : os::Data(10, 0);
  }
  // Writes an incoming frame: length, version 1, command, rid, body.
  void answer(std::uint8_t command, std::uint16_t rid, const os::Data& body) {
    os::ByteWriter writer;
    writer.u16(0).u8(1).u8(command).u16(rid).bytes(body);
    DUVMakePacket::setPacketLen(writer);
    ASSERT_TRUE(core_.write(writer.take()));
  }
  // The service's answer to a tags and alias request: a message of their type holding `json`.
  void tagAnswer(std::uint32_t id, const std::string& json) {
    answer(3, static_cast<std::uint16_t>(id),
           os::ByteWriter().u32(0).u8(DUVMessageDispatch::kTagAliasMessageType).u32(id)
               .u16(static_cast<std::uint16_t>(json.size())).text(json).take());
  }
  // Pushes message `id` on the current connection.
  void push(std::uint32_t id) {
    answer(3, static_cast<std::uint16_t>(id), os::ByteWriter().u32(1).u8(0).u32(id).u16(2).text("{}").take());
  }
  // Connects (the `n`-th lookup and connection) and logs in with the stored identity; the server
  // speaks version 1.
  void logIn(std::size_t n = 1) {
    answerLookup(n);
    ASSERT_TRUE(runUntil([&] { return core_.acceptedCount() == n; }));
    os::Data login = frame(0);
    ASSERT_EQ(login[3], 1);
    answer(1, u16At(login, 4), os::ByteWriter().u16(0).u32(9).u16(1).take());
    ASSERT_TRUE(runUntil([&] { return session_->isLogin(); }));
  }

  os::VirtualClockScope clock_;
  os::TestSandbox sandbox_;
  os::NotificationCenter center_;
  os::testing::TcpTestPeer core_;
  os::testing::UdpTestPeer lookup_;
  DUVServiceEndpoints endpoints_;
  std::shared_ptr<DUVUserDefaults> identity_;
  std::shared_ptr<DUVSession> session_;
  bool tokenUpdated_ = true;
  std::vector<std::uint32_t> messages_;
  // When set, each message handed to the application takes kHandedOver of it.
  static constexpr std::size_t kHandedOver = 2048;
  std::shared_ptr<os::URLReceiveWindow> window_;
  std::shared_ptr<DUVTagAlias> tags_ = std::make_shared<DUVTagAlias>();
};

// Answers that lack their last fields still count: a registration without its registration id
// logs in, a message without content is acknowledged, and a refusal without error text clears
// the identity so that the next connection registers anew.
TEST_F(DUVSessionTest, AnswersWithMissingFieldsAreActedOn) {
  os::testing::NotificationCounter registered(kDUVNetworkDidRegisterNotification);
  start().setup();
  answerLookup(1);
  os::Data registration = frame(0);
  ASSERT_EQ(registration[3], 0);
  answer(0, u16At(registration, 4), os::ByteWriter().u16(0).u32(77).u16(6).text("secret").take());
  os::Data login = frame(1);
  ASSERT_EQ(login[3], 1);
  EXPECT_EQ(u32At(login, 10), 77u);
  EXPECT_EQ(identity_->password(), "secret");
  EXPECT_EQ(identity_->registrationID(), "");
  ASSERT_TRUE(runUntil([&] { return registered.count() == 1; }));
  answer(1, u16At(login, 4), os::ByteWriter().u16(0).u32(9).u16(1).take());
  ASSERT_TRUE(runUntil([&] { return session_->isLogin(); }));
  EXPECT_EQ(session_->sessionID(), 9u);

  // A message of type 0 with id 0x0A0B0C0D and no content field.
  answer(3, 0x0102, os::ByteWriter().u32(1).u8(0).u32(0x0A0B0C0D).take());
  os::Data receipt = frame(2);
  EXPECT_EQ(receipt, (os::Data{0, 21, 1, 4, 0x01, 0x02, 0, 0, 0, 9, 0, 0, 0, 0, 0, 77, 0, 0x0A, 0x0B, 0x0C, 0x0D}));
  EXPECT_EQ(messages_, (std::vector<std::uint32_t>{0x0A0B0C0D}));

  // The server drops the connection; the next login is refused with a bare status.
  core_.closeConnection();
  ASSERT_TRUE(runUntil([&] { return session_->pendingSetupDelay() == 2; }));
  os::Clock::advance(2);
  answerLookup(2);
  ASSERT_TRUE(runUntil([&] { return core_.acceptedCount() == 2; }));
  login = frame(0);
  ASSERT_EQ(login[3], 1);
  answer(1, u16At(login, 4), {0, 2});
  ASSERT_TRUE(runUntil([&] { return identity_->uid() == 0 && session_->pendingSetupDelay() == 5; }));
  EXPECT_EQ(identity_->password(), std::nullopt);
  os::Clock::advance(5);
  answerLookup(3);
  ASSERT_TRUE(runUntil([&] { return core_.acceptedCount() == 3; }));
  EXPECT_EQ(frame(0)[3], 0);  // registration
}

// A lookup that nobody answers leaves the session without a report address: it does not go on
// to register or log in, and tries again on the back-off schedule.
TEST_F(DUVSessionTest, NoReportAddressNoSession) {
  os::testing::NotificationCounter setups(kDUVNetworkDidSetupNotification);
  start().setup();
  ASSERT_TRUE(runUntil([&] { return lookup_.datagrams().size() == 1; }));
  os::Clock::advance(8);  // no answer on the first port
  ASSERT_TRUE(runUntil([&] { return lookup_.datagrams().size() == 2; }));
  os::Clock::advance(4);  // nor on the second
  ASSERT_TRUE(runUntil([&] { return session_->pendingSetupDelay() == 2; }));
  os::RunLoop::current()->runUntilIdle();
  EXPECT_FALSE(session_->isConnected());
  EXPECT_EQ(setups.count(), 0);
  EXPECT_TRUE(core_.receivedFrames().empty());
  EXPECT_FALSE(session_->addressController()->reportAddress());
}

// Failed registrations close the session: 1008 with the app key message, any other status with
// the service error; a registration answer after the login changes nothing.
TEST_F(DUVSessionTest, RegistrationFailuresAndLateAnswers) {
  os::testing::LogCapture log;
  start().setup();
  answerLookup(1);
  answer(0, u16At(frame(0), 4), {0x03, 0xF0});  // 1008
  ASSERT_TRUE(runUntil([&] { return session_->pendingSetupDelay() == 2; }));
  EXPECT_TRUE(log.contains("ZUrarLog: app_key 参数非法"));
  EXPECT_EQ(identity_->uid(), 0u);

  os::Clock::advance(2);
  answerLookup(2);
  ASSERT_TRUE(runUntil([&] { return core_.acceptedCount() == 2; }));
  os::ByteWriter failed;
  failed.u16(3);
  DUVMakePacket::appendString(failed, "busy");
  answer(0, u16At(frame(0), 4), failed.take());
  ASSERT_TRUE(runUntil([&] { return session_->pendingSetupDelay() == 5; }));
  EXPECT_TRUE(log.contains("Zurar register error: service failed with error code : 3; retry...."));

  identity_->setUid(5, "pw", "reg-5");
  os::Clock::advance(5);
  logIn(3);
  answer(0, 0x7777, os::ByteWriter().u16(0).u32(999).u16(1).text("x").u16(1).text("y").take());
  // A message after it: once its receipt is out, the registration answer has been read.
  answer(3, 0x7778, os::ByteWriter().u32(1).u8(0).u32(1).take());
  EXPECT_EQ(frame(1)[3], 4);
  EXPECT_TRUE(session_->isLogin());
  EXPECT_EQ(identity_->uid(), 5u);
  EXPECT_EQ(identity_->registrationID(), "reg-5");
}

// The service answers one registration twice before the login is answered, or answers a
// registration nobody sent while the stored identity's login waits: the registration is taken and
// announced once, and the identity stays the one the answered registration gave.
TEST_F(DUVSessionTest, ARegistrationIsAnsweredOnceWhateverTheServiceRepeats) {
  os::testing::NotificationCounter registered(kDUVNetworkDidRegisterNotification);
  start().setup();
  answerLookup(1);
  os::Data registration = frame(0);
  ASSERT_EQ(registration[3], 0);
  answer(0, u16At(registration, 4), os::ByteWriter().u16(0).u32(77).u16(2).text("pw").u16(3).text("r77").take());
  answer(0, u16At(registration, 4), os::ByteWriter().u16(0).u32(88).u16(2).text("xx").u16(3).text("r88").take());
  os::Data firstLogin = frame(1);
  ASSERT_EQ(firstLogin[3], 1);
  answer(1, u16At(firstLogin, 4), os::ByteWriter().u16(0).u32(9).u16(1).take());
  ASSERT_TRUE(runUntil([&] { return session_->isLogin(); }));
  // A message after the login: once its receipt is out, everything before it has been written.
  answer(3, 0x7778, os::ByteWriter().u32(1).u8(0).u32(1).take());
  ASSERT_TRUE(runUntil([&] {
    auto all = core_.receivedFrames();
    return std::any_of(all.begin(), all.end(), [](const os::Data& f) { return f[3] == 4; });
  }));
  os::RunLoop::current()->runUntilIdle();
  EXPECT_EQ(registered.count(), 1);
  EXPECT_EQ(identity_->uid(), 77u);
  EXPECT_EQ(identity_->registrationID(), "r77");
  auto frames = core_.receivedFrames();
  EXPECT_EQ(std::count_if(frames.begin(), frames.end(), [](const os::Data& f) { return f[3] == 1; }), 1);

  // The next connection logs in with that identity; a registration answer then changes nothing.
  core_.closeConnection();
  ASSERT_TRUE(runUntil([&] { return session_->pendingSetupDelay() > 0; }));
  os::Clock::advance(session_->pendingSetupDelay());
  answerLookup(2);
  ASSERT_TRUE(runUntil([&] { return core_.acceptedCount() == 2; }));
  os::Data login = frame(0);
  ASSERT_EQ(login[3], 1);
  answer(0, u16At(login, 4), os::ByteWriter().u16(0).u32(99).u16(2).text("zz").u16(3).text("r99").take());
  answer(1, u16At(login, 4), os::ByteWriter().u16(0).u32(9).u16(1).take());
  ASSERT_TRUE(runUntil([&] { return session_->isLogin(); }));
  os::RunLoop::current()->runUntilIdle();
  EXPECT_EQ(registered.count(), 1);
  EXPECT_EQ(identity_->uid(), 77u);
  EXPECT_EQ(identity_->registrationID(), "r77");
}

// The service answers a login nobody sent: while the registration waits, a welcome does not log
// the session in (which would leave the registration's answer unheard and the device without an
// identity); while the stored identity's own login waits, a refusal does not wipe that identity.
TEST_F(DUVSessionTest, ALoginAnswerForNoLoginSentChangesNothing) {
  start().setup();
  answerLookup(1);
  os::Data registration = frame(0);
  ASSERT_EQ(registration[3], 0);
  const std::uint16_t stray = static_cast<std::uint16_t>(u16At(registration, 4) + 100);
  answer(1, stray, os::ByteWriter().u16(0).u32(9).u16(1).take());
  answer(0, u16At(registration, 4), os::ByteWriter().u16(0).u32(77).u16(2).text("pw").u16(3).text("r77").take());
  os::Data login = frame(1);
  ASSERT_EQ(login[3], 1);
  EXPECT_FALSE(session_->isLogin());
  EXPECT_EQ(identity_->uid(), 77u);
  EXPECT_EQ(identity_->registrationID(), "r77");

  // A refusal under another rid, then the login's own welcome.
  answer(1, static_cast<std::uint16_t>(u16At(login, 4) + 1), {0, 2});
  answer(1, u16At(login, 4), os::ByteWriter().u16(0).u32(10).u16(1).take());
  ASSERT_TRUE(runUntil([&] { return session_->isLogin(); }));
  EXPECT_EQ(session_->sessionID(), 10u);
  EXPECT_EQ(identity_->uid(), 77u);
  EXPECT_EQ(identity_->password(), "pw");
}

// Tags and alias answers the service gets wrong settle no call: one for a request never made, one
// without its code (which would read as set), one whose sequence only wraps round to the call's, or
// one with a code of no number. The call's own answer reaches the caller once, on the main queue,
// and a repeat of it nothing.
TEST_F(DUVSessionTest, ATagsAnswerSettlesOnlyItsOwnCallOnceAndOnlyWithACode) {
  identity_ = DUVUserDefaults::create(kBundle, "abc123", center_);
  identity_->setUid(5, "pw", "reg-5");
  start().setup();
  logIn();
  std::vector<int> codes;
  auto remember = [&](int code, const auto&, const auto&) { codes.push_back(code); };
  tags_->setTagAlias({0, DUVTags{"news"}, std::nullopt, remember, nullptr}, session_.get());
  os::Data request = frame(1);
  ASSERT_EQ(request[3], 10);
  const std::uint16_t rid = u16At(request, 4);
  const std::string sequence = std::to_string(rid);
  tagAnswer(1, R"({"sequence":)" + std::to_string(static_cast<std::uint16_t>(rid + 1)) + R"(,"code":0})");
  tagAnswer(2, R"({"sequence":)" + sequence + "}");
  tagAnswer(3, R"({"sequence":)" + std::to_string(rid + 65536) + R"(,"code":0})");
  tagAnswer(4, R"({"sequence":)" + sequence + R"(,"code":"busy"})");
  tagAnswer(5, R"({"sequence":)" + sequence + R"(,"code":6011})");
  tagAnswer(6, R"({"sequence":)" + sequence + R"(,"code":0})");
  push(7);  // once its receipt is out, every answer before it has been read
  ASSERT_TRUE(runUntil([&] {
    auto all = core_.receivedFrames();
    return std::any_of(all.begin(), all.end(), [](const os::Data& f) { return f[3] == 4; });
  }));
  os::RunLoop::current()->runUntilIdle();
  EXPECT_EQ(codes, std::vector<int>{6011});
  EXPECT_EQ(tags_->pendingCount(), 0u);
}

// The blocked queue keeps at most 21: a new request pushes the front one out; a high-priority one
// then takes the front itself. On a disconnect the requests still waiting for their answer go
// back ahead of the ones that were waiting to be sent, in their order.
TEST_F(DUVSessionTest, QueueLimitsAndRequeueingOnClose) {
  identity_ = DUVUserDefaults::create(kBundle, "abc123", center_);
  identity_->setUid(5, "pw", "reg-5");
  auto& session = start();
  auto receipt = [&](std::uint16_t rid) {
    os::Data bytes{0, 15, 1, 3, static_cast<std::uint8_t>(rid >> 8), static_cast<std::uint8_t>(rid), 0, 0, 0, 0, 0,
                   0, 0, 0, 1};
    auto message = std::dynamic_pointer_cast<DUVMessageDispatch>(DUVReceivedPacket::packetWithBuffer(bytes.data(), 15));
    return std::make_shared<DUVMessageReceipt>(*message, 5);
  };
  for (std::uint16_t rid = 1; rid <= 21; ++rid) session.sendRequest(receipt(rid));
  session.sendRequest(receipt(22));
  ASSERT_EQ(session.blockedQueue().size(), 21u);
  EXPECT_EQ(session.blockedQueue().front()->rid(), 2);
  EXPECT_EQ(session.blockedQueue().back()->rid(), 22);
  auto urgent = receipt(23);
  urgent->setControlFlag(kDUVLoginRequired | kDUVCanBeQueuedIfNotLogin | kDUVHighPriority);
  session.sendRequest(urgent);
  ASSERT_EQ(session.blockedQueue().size(), 21u);
  EXPECT_EQ(session.blockedQueue().front()->rid(), 23);
  EXPECT_EQ(session.blockedQueue()[1]->rid(), 3);

  session.setup();
  logIn();
  ASSERT_TRUE(runUntil([&] { return session.blockedQueue().empty() && core_.receivedFrames().size() == 22; }));
  // Two tags requests wait for their acks (the server speaks version 1) ...
  session.sendRequest(std::make_shared<DUVSetTagAlias>(session.getRId(), std::vector<std::string>{"a"}, std::nullopt));
  ASSERT_TRUE(runUntil([&] { return session.sendingQueue().size() == 1; }));
  session.sendRequest(std::make_shared<DUVSetTagAlias>(session.getRId(), std::nullopt, std::string("b")));
  ASSERT_TRUE(runUntil([&] { return session.sendingQueue().size() == 2; }));
  auto first = session.sendingQueue()[0], second = session.sendingQueue()[1];
  // ... while a token report waits to be sent, when the session closes.
  auto token = std::make_shared<DUVDeviceTokenReportRequest>(session.getRId());
  session.sendRequest(token);
  session.close();
  ASSERT_EQ(session.blockedQueue().size(), 3u);
  EXPECT_EQ(session.blockedQueue()[0], first);
  EXPECT_EQ(session.blockedQueue()[1], second);
  EXPECT_EQ(session.blockedQueue()[2], token);
  EXPECT_TRUE(session.sendingQueue().empty());
  EXPECT_FALSE(first->isWaitingForAck());

  os::Clock::advance(2);
  logIn(2);
  ASSERT_TRUE(runUntil([&] { return core_.receivedFrames().size() == 4; }));
  auto frames = core_.receivedFrames();
  EXPECT_EQ(u16At(frames[1], 4), first->rid());
  EXPECT_EQ(u16At(frames[2], 4), second->rid());
  EXPECT_EQ(frames[3][3], 13);
}

// The session on a client thread of its own, as the program runs it, and a server that pushes
// messages as fast as the connection takes them while the application's main thread is busy: what
// waits for the main thread stays within the message window, the server waits in its socket, and
// once the main thread runs again every message reaches it.
TEST_F(DUVSessionTest, ABusyApplicationHoldsNoMoreThanItsWindowOfPushedMessages) {
  identity_ = DUVUserDefaults::create(kBundle, "abc123", center_);
  identity_->setUid(5, "pw", "reg-5");
  auto messages = std::make_shared<DUVMessageCenter>();
  auto client = os::Thread::create("push client");
  client->start();
  std::shared_ptr<DUVSession> session;
  client->perform([&] {
    DUVSessionEnvironment environment;
    environment.identity = identity_;
    environment.endpoints = &endpoints_;
    environment.networkStatus = [] { return 2L; };
    environment.deviceTokenUpdated = [] { return true; };
    environment.packetFacts = [identity = identity_] {
      DUVPacketContext context;
      context.uid = identity->uid();
      context.password = identity->password();
      context.appkey = identity->appkey();
      return context;
    };
    environment.onMessage = [messages](const DUVMessageDispatch& message) { messages->dispatchMessage(message); };
    environment.messageWindow = messages->window();
    session = DUVSession::create(environment);
    session->setup();
  }, true);
  struct Stop {
    std::shared_ptr<os::Thread> thread;
    std::shared_ptr<DUVSession>& session;
    ~Stop() {
      os::URLReceiveWindow::setObserver(nullptr);
      thread->perform([this] {
        if (session) session->close();
        session.reset();
      }, true);
      thread->cancel();
      thread->join();
    }
  } stop{client, session};

  os::testing::NotificationCounter loggedIn(kDUVNetworkDidLoginNotification);
  ASSERT_TRUE(lookup_.waitForDatagrams(1, 10));
  lookup_.reply(os::dataFromString(R"({"ips":["127.0.0.1:)" + std::to_string(core_.port()) + R"(","","127.0.0.1:)" +
                                   std::to_string(lookup_.port()) + R"("]})"));
  ASSERT_TRUE(core_.waitForConnection(10));
  ASSERT_TRUE(core_.waitForBytes(2, 10));
  const std::size_t loginLength = u16At(core_.received(), 0);
  ASSERT_TRUE(core_.waitForBytes(loginLength, 10));
  answer(1, u16At(core_.received(), 4), os::ByteWriter().u16(0).u32(9).u16(1).take());
  ASSERT_TRUE(runUntil([&] { return loggedIn.count() == 1; }));

  // The flood, written while this (the main) thread runs nothing.
  constexpr int kMessages = 600;
  const std::string content = R"({"message":")" + std::string(8000, 'm') + R"("})";
  os::Data flood;
  for (int id = 1; id <= kMessages; ++id) {
    os::ByteWriter writer;
    writer.u16(0).u8(1).u8(3).u16(static_cast<std::uint16_t>(id)).u32(1).u8(0).u32(static_cast<std::uint32_t>(id));
    writer.u16(static_cast<std::uint16_t>(content.size())).text(content);
    DUVMakePacket::setPacketLen(writer);
    os::Data frame = writer.take();
    flood.insert(flood.end(), frame.begin(), frame.end());
  }
  // Woken when the session finds the window full, or when every message is waiting for the main
  // thread.
  const std::size_t perMessage = os::URLReceiveWindow::charge(content.size());
  std::mutex mutex;
  std::condition_variable woken;
  bool wake = false;
  const std::uint64_t waitsBefore = os::URLReceiveWindow::counts().waits;
  os::URLReceiveWindow::setObserver([&](const os::URLReceiveWindow::Counts& counts) {
    if (counts.waits == waitsBefore && counts.held < perMessage * kMessages) return;
    std::lock_guard lock(mutex);
    wake = true;
    woken.notify_all();
  });
  std::thread server([&] { core_.write(flood); });
  {
    std::unique_lock lock(mutex);
    woken.wait_for(lock, std::chrono::seconds(120), [&] { return wake; });
  }
  // What the client thread had already taken in reaches the window too.
  client->perform([] {}, true);
  client->perform([] {}, true);
  bool reading = true;
  client->perform([&] { reading = session->isReading(); }, true);
  EXPECT_FALSE(reading);
  // The window's worth, what one read of the connection holds beyond it, and a few others.
  const std::size_t bound = os::URLReceiveWindow::kDefaultCapacity / perMessage + 64 * 1024 / perMessage + 4;
  EXPECT_LE(os::RunLoop::main()->pendingTaskCount(), bound);

  os::testing::NotificationCounter delivered(kDUVNetworkDidReceiveMessageNotification);
  const bool allDelivered = runUntil([&] { return delivered.count() == kMessages; }, 120);
  server.join();
  EXPECT_TRUE(allDelivered) << delivered.count();
}

// A pause while the application is busy belongs to its connection: the next one reads, and pauses
// in turn while the window is still full. The window opening resumes whichever connection the
// session has then, and once the session is gone it touches nothing.
TEST_F(DUVSessionTest, APauseForABusyApplicationNeverOutlivesItsConnectionOrSession) {
  identity_ = DUVUserDefaults::create(kBundle, "abc123", center_);
  identity_->setUid(5, "pw", "reg-5");
  window_ = std::make_shared<os::URLReceiveWindow>(kHandedOver / 2);
  start().setup();
  logIn();
  push(1);
  ASSERT_TRUE(runUntil([&] { return messages_.size() == 1; }));
  EXPECT_FALSE(session_->isReading());

  // Reconnected while the application is still busy.
  session_->close();
  os::Clock::advance(2);
  logIn(2);
  EXPECT_TRUE(session_->isReading());
  push(2);
  ASSERT_TRUE(runUntil([&] { return messages_.size() == 2; }));
  EXPECT_FALSE(session_->isReading());

  // The application takes both: the new connection reads again, and what is pushed now arrives.
  window_->taken(2 * kHandedOver);
  ASSERT_TRUE(runUntil([&] { return session_->isReading(); }));
  push(3);
  ASSERT_TRUE(runUntil([&] { return messages_.size() == 3; }));
  EXPECT_FALSE(session_->isReading());

  // Gone before the application takes the last one.
  session_->close();
  session_.reset();
  window_->taken(kHandedOver);
  os::RunLoop::current()->runUntilIdle();
  EXPECT_FALSE(window_->waiting());
  EXPECT_EQ(messages_, (std::vector<std::uint32_t>{1, 2, 3}));
}

// Until the stored identity is verified neither a reachability change nor a try starts the
// session; the verification does.
TEST(DUVNetworkServiceTest, AnUnverifiedIdentityHoldsTheSessionBack) {
  os::VirtualClockScope clock;
  os::TestSandbox sandbox;
  os::testing::SharedFakeReachability reachability;
  reachability->setDefaultFlags(os::kReachabilityFlagsReachable);
  // A record of the older release waits a second for the device token before it is trusted.
  std::string folder = sandbox.sandbox()->libraryDirectory() + "/" + kDUVLegacyFolderName + "/" + kBundle;
  os::FileManager::defaultManager().createDirectoryAtPath(folder, true);
  os::PropertyList::writeFile(os::Value(os::Dictionary{{"APP_KEY", os::Value("abc123")}}),
                              folder + "/APUserDefaults.plist", os::PropertyListFormat::XML);
  os::NotificationCenter center;
  auto identity = DUVUserDefaults::create(kBundle, "abc123", center);
  ASSERT_FALSE(identity->verified());
  int setups = 0, closes = 0;
  auto service = DUVNetworkService::create(center, identity, {[&] { ++setups; }, [&] { ++closes; }, nullptr});
  service->trySetupSession();
  reachability->setDefaultFlags(os::kReachabilityFlagsReachable | os::kReachabilityFlagsIsWWAN);
  ASSERT_TRUE(runUntil([&] { return closes == 1; }));
  EXPECT_EQ(setups, 0);
  os::Clock::advance(1);
  ASSERT_TRUE(runUntil([&] { return setups == 1; }));
  EXPECT_TRUE(identity->verified());
}

}  // namespace
