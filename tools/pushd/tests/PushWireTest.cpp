// The push service read as the other side of the protocol: frames, datagrams and report bodies
// built here by hand from the command and record tables, and what the service makes of each.
#include <gtest/gtest.h>
#include <httplib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <future>
#include <map>
#include <optional>
#include <sstream>
#include <thread>

#include "foundation/formats/Base64.h"
#include "foundation/formats/JSONTideDeserializing.h"
#include "os/core/Compression.h"
#include "os/core/String.h"
#include "os/crypto/Digest.h"
#include "os/net/Socket.h"
#include "os/runtime/RunLoop.h"
#include "os/store/FileManager.h"
#include "os/testing/CutShortWrite.h"
#include "os/testing/HttpTestServer.h"
#include "os/testing/RawHttpClient.h"
#include "os/testing/UdpTestPeer.h"
#include "os/testing/Waits.h"
#include "tools/common/NewestKept.h"
#include "tools/pushd/server/PushServer.h"

namespace {

using os::testing::runUntil;
using namespace std::string_literals;

// Big-endian writing of a request: the 10-byte header (length, version, command, rid, session id)
// and the body.
struct Frame {
  os::Data bytes;
  Frame(std::uint8_t version, std::uint8_t command, std::uint16_t rid, std::uint32_t session) {
    bytes = {0, 0, version, command};
    number(rid, 2).number(session, 4);
  }
  Frame& number(std::uint64_t value, std::size_t width) {
    for (std::size_t i = width; i-- > 0;) bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    return *this;
  }
  Frame& text(const std::string& s) {
    number(s.size(), 2);
    bytes.insert(bytes.end(), s.begin(), s.end());
    return *this;
  }
  os::Data done() {
    bytes[0] = static_cast<std::uint8_t>(bytes.size() >> 8);
    bytes[1] = static_cast<std::uint8_t>(bytes.size());
    return bytes;
  }
};

// Reading an answer: 6-byte header, then the body.
struct Answer {
  os::Data bytes;
  std::size_t at = 6;
  std::uint8_t version() const { return bytes[2]; }
  std::uint8_t command() const { return bytes[3]; }
  std::uint16_t rid() const { return static_cast<std::uint16_t>((bytes[4] << 8) | bytes[5]); }
  std::uint64_t number(std::size_t width) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < width; ++i) value = (value << 8) | bytes.at(at++);
    return value;
  }
  std::string text() {
    std::size_t count = number(2);
    std::string s(bytes.begin() + static_cast<long>(at), bytes.begin() + static_cast<long>(at + count));
    at += count;
    return s;
  }
};

// One TCP connection to a port of the service, driven by this thread's run loop.
class Wire {
 public:
  // Connected once made, unless told not to wait (many made at once are waited for together).
  explicit Wire(std::uint16_t port, bool wait = true) {
    socket_->schedule(os::RunLoop::current(), {[this](int error) { connected_ = error == 0; },
                                               [this] {
                                                 std::uint8_t buffer[65536];
                                                 long n;
                                                 while ((n = socket_->receive(buffer, sizeof buffer)) > 0)
                                                   in_.insert(in_.end(), buffer, buffer + n);
                                               },
                                               [this] { flush(); }});
    socket_->connect(*os::makeIPv4Address("127.0.0.1", port));
    if (wait) runUntil([&] { return connected_; });
  }
  bool connected() const { return connected_; }
  ~Wire() { socket_->close(); }
  void write(const os::Data& bytes) { socket_->send(bytes.data(), bytes.size()); }
  // Writes all of the bytes: what the socket does not take at once goes as it drains, while the
  // run loop runs.
  void writeAll(const os::Data& bytes) {
    out_.insert(out_.end(), bytes.begin(), bytes.end());
    flush();
  }
  // The next `count` whole frames, taken at once, or nothing within the time.
  std::optional<std::vector<Answer>> frames(std::size_t count, double seconds = 20) {
    std::size_t at = 0, whole = 0;
    auto ready = [&] {
      while (whole < count && in_.size() - at >= 2) {
        const std::size_t length = (std::size_t{in_[at]} << 8) | in_[at + 1];
        if (length < 2 || in_.size() - at < length) break;
        at += length;
        ++whole;
      }
      return whole == count;
    };
    if (!runUntil(ready, seconds)) return std::nullopt;
    std::vector<Answer> answers;
    for (std::size_t from = 0; from < at;) {
      const std::size_t length = (std::size_t{in_[from]} << 8) | in_[from + 1];
      const auto begin = in_.begin() + static_cast<long>(from);
      answers.push_back(Answer{os::Data(begin, begin + static_cast<long>(length))});
      from += length;
    }
    in_.erase(in_.begin(), in_.begin() + static_cast<long>(at));
    return answers;
  }
  void write(const std::string& text) { socket_->send(text.data(), text.size()); }
  // The next whole frame, or nothing within a few seconds.
  std::optional<Answer> next(double seconds = 5) {
    auto whole = [&] { return in_.size() >= 2 && in_.size() >= ((std::size_t{in_[0]} << 8) | in_[1]); };
    if (!runUntil(whole, seconds)) return std::nullopt;
    std::size_t length = (std::size_t{in_[0]} << 8) | in_[1];
    Answer answer{os::Data(in_.begin(), in_.begin() + static_cast<long>(length))};
    in_.erase(in_.begin(), in_.begin() + static_cast<long>(length));
    return answer;
  }
  bool quiet(double seconds = 0.3) { return !next(seconds); }
  // The next text line (the control port's answers), without its newline.
  std::optional<std::string> line() {
    auto end = [&] { return std::find(in_.begin(), in_.end(), '\n'); };
    if (!runUntil([&] { return end() != in_.end(); })) return std::nullopt;
    std::string text(in_.begin(), end());
    in_.erase(in_.begin(), end() + 1);
    return text;
  }
  // Whether a connection to the port is taken.
  static bool reachable(std::uint16_t port) {
    auto socket = os::TcpSocket::create();
    std::optional<int> ended;
    socket->schedule(os::RunLoop::current(), {[&](int error) { ended = error; }, nullptr, nullptr});
    if (!socket->connect(*os::makeIPv4Address("127.0.0.1", port))) return false;
    runUntil([&] { return ended.has_value(); });
    socket->close();
    return ended == 0;
  }

 private:
  void flush() {
    while (outAt_ < out_.size()) {
      long n = socket_->send(out_.data() + outAt_, out_.size() - outAt_);
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return socket_->enableWriteCallback();
      if (n <= 0) break;  // the connection ended: the test sees no answers
      outAt_ += static_cast<std::size_t>(n);
    }
    out_.clear();
    outAt_ = 0;
  }

  std::shared_ptr<os::TcpSocket> socket_ = os::TcpSocket::create();
  bool connected_ = false;
  os::Data in_;
  os::Data out_;
  std::size_t outAt_ = 0;
};

// The registration body of the command table, field by field.
struct Registration {
  std::string device = "0123456789abcdef0123456789abcdef01234567$$ $$com.example.newsreader$$abc123";
  std::string bundleVersion = "27";
  std::string system = "6.1.4$$iPhone5,2$$ $$ $$11$$1.8.1";
  std::string token = " ";
  std::uint8_t last = 1;
  std::uint8_t version = 8;
  std::uint32_t session = 0;
  os::Data frame(std::uint16_t rid = 1) const {
    return Frame(version, 0, rid, session).text(device).text(bundleVersion).text(system).text(token)
        .number(0, 1).number(0, 1).number(last, 1).done();
  }
};

class PushWireTest : public ::testing::Test {
 protected:
  // A service on free ports keeping its identities in a fresh file of the test's own.
  static pushd::ServerOptions withFreshIdentityFile(const std::string& name) {
    auto options = pushd::ServerOptions::onFreePorts();
    options.identityFile = ::testing::TempDir() + "/pushd-" + name + "-" + std::to_string(::getpid());
    os::FileManager::defaultManager().removeItemAtPath(options.identityFile);
    return options;
  }
  struct Login {
    std::uint32_t uid = 0, session = 0;
    std::string password;
  };
  std::optional<Answer> registerWith(Wire& wire, const Registration& registration) {
    wire.write(registration.frame());
    return wire.next();
  }
  // Registers and logs in as the tables say; the uid, password and session id the service gave.
  Login logIn(Wire& wire, const std::string& token = " ") {
    Registration registration;
    registration.token = token;
    auto registered = registerWith(wire, registration);
    EXPECT_TRUE(registered);
    if (!registered) return {};
    EXPECT_EQ(registered->number(2), 0u);
    Login login;
    login.uid = static_cast<std::uint32_t>(registered->number(4));
    login.password = registered->text();
    wire.write(loginFrame(login.uid, os::md5Hex(login.password)));
    auto answer = wire.next();
    EXPECT_TRUE(answer);
    if (!answer) return login;
    EXPECT_EQ(answer->command(), 1);
    EXPECT_EQ(answer->number(2), 0u);
    login.session = static_cast<std::uint32_t>(answer->number(4));
    EXPECT_EQ(answer->number(2), 1u);  // the server version
    return login;
  }
  static os::Data loginFrame(std::uint32_t uid, const std::string& hashed, std::uint32_t source = 0x69000000,
                             std::uint32_t session = 0, const std::string& appkey = "abc123") {
    return Frame(10, 1, 2, session).number(uid, 4).number(source, 4).text(hashed).number(27, 4).text(appkey)
        .number(1, 1).done();
  }
  struct Given {
    std::uint32_t uid = 0;
    std::string password;
  };
  // Sends `count` registrations back to back; the identities given, in order (fewer when one is
  // not answered as kept).
  static std::vector<Given> registerMany(Wire& wire, std::size_t count, const Registration& registration = {}) {
    os::Data frames;
    for (std::size_t i = 0; i < count; ++i) {
      const os::Data frame = registration.frame(static_cast<std::uint16_t>(i + 1));
      frames.insert(frames.end(), frame.begin(), frame.end());
    }
    wire.writeAll(frames);
    std::vector<Given> given;
    auto answers = wire.frames(count);
    if (!answers) return given;
    for (Answer& answer : *answers) {
      if (answer.number(2) != 0) return given;
      const auto uid = static_cast<std::uint32_t>(answer.number(4));
      given.push_back({uid, answer.text()});
    }
    return given;
  }
  // The login answer's status, -1 without one.
  static int loginStatus(Wire& wire, const Given& identity, const std::string& appkey = "abc123") {
    wire.write(loginFrame(identity.uid, os::md5Hex(identity.password), 0x69000000, 0, appkey));
    auto answer = wire.next();
    return answer ? static_cast<int>(answer->number(2)) : -1;
  }
  static std::size_t lineCount(const std::string& path) {
    auto bytes = os::FileManager::defaultManager().contentsAtPath(path);
    if (!bytes) return 0;
    const std::string text = os::stringFromData(*bytes);
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
  }

  std::unique_ptr<pushd::PushServer> server_ = pushd::PushServer::start(pushd::ServerOptions::onFreePorts());
};

TEST_F(PushWireTest, RegistrationAndLoginAreTakenOnlyInTheirOwnForm) {
  Wire wire(server_->corePort());
  auto status = [&](const Registration& r) {
    auto answer = registerWith(wire, r);
    return answer && answer->command() == 0 ? static_cast<int>(answer->number(2)) : -1;
  };
  EXPECT_EQ(status(Registration{}), 0);
  Registration r;
  r.token = "";  // no token yet is a single space, never an empty field
  EXPECT_EQ(status(r), 1001);
  r = {};
  r.device = "udid$$com.example.newsreader$$abc123";  // the blank second part is missing
  EXPECT_EQ(status(r), 1001);
  r = {};
  r.system = "6.1.4$$iPhone5,2$$ $$ $$11";  // no SDK version
  EXPECT_EQ(status(r), 1001);
  r = {};
  r.last = 0;
  EXPECT_EQ(status(r), 1001);
  r = {};
  r.version = 7;
  EXPECT_EQ(status(r), 1001);
  r = {};
  r.session = 5;  // before a login the session id is 0
  EXPECT_EQ(status(r), 1001);
  r = {};
  r.device = "udid$$ $$com.example.newsreader$$";
  EXPECT_EQ(status(r), 1008);

  // Login: uid, the source 0x69 0 0 0, the password's MD5 in 32 lower-case digits, the bundle
  // version, the app key, 1.
  Registration good;
  auto registered = registerWith(wire, good);
  ASSERT_TRUE(registered);
  ASSERT_EQ(registered->number(2), 0u);
  auto uid = static_cast<std::uint32_t>(registered->number(4));
  std::string password = registered->text();
  auto loginStatus = [&](const os::Data& frame) {
    wire.write(frame);
    auto answer = wire.next();
    return answer ? static_cast<int>(answer->number(2)) : -1;
  };
  EXPECT_EQ(loginStatus(loginFrame(uid, os::uppercaseASCII(os::md5Hex(password)))), 1001);
  EXPECT_EQ(loginStatus(loginFrame(uid, os::md5Hex(password), 0x00000069)), 1001);
  EXPECT_EQ(loginStatus(loginFrame(uid, os::md5Hex(password), 0x69000000, 9)), 1001);
  EXPECT_EQ(loginStatus(loginFrame(uid, os::md5Hex("other"))), 2);
  EXPECT_EQ(loginStatus(loginFrame(uid, os::md5Hex(password))), 0);
  EXPECT_EQ(server_->loggedInCount(), 1u);
}

TEST_F(PushWireTest, SessionCommandsCarryTheLoginsSessionIdAndTheirOwnVersion) {
  Wire wire(server_->corePort());
  Login login = logIn(wire);
  ASSERT_NE(login.session, 0u);

  // Heartbeat: version 2, the uid alone (14 bytes); answered with an ack of command 2. One that
  // names another uid is refused: the next ack is the following heartbeat's.
  wire.write(Frame(2, 2, 39, login.session).number(login.uid + 1, 4).done());
  wire.write(Frame(2, 2, 40, login.session).number(login.uid, 4).done());
  auto ack = wire.next();
  ASSERT_TRUE(ack);
  EXPECT_EQ(ack->command(), 19);
  EXPECT_EQ(ack->rid(), 40);
  EXPECT_TRUE(server_->hasEvent("heartbeat refused " + std::to_string(login.uid + 1)));
  EXPECT_EQ(ack->number(1), 2u);
  wire.write(Frame(2, 2, 41, 0).number(login.uid, 4).done());
  EXPECT_TRUE(wire.quiet());
  wire.write(Frame(2, 2, 42, login.session).number(login.uid, 4).number(0, 1).done());
  EXPECT_TRUE(wire.quiet());
  EXPECT_TRUE(server_->hasEvent("heartbeat refused"));

  // Device token: version 2, uid, token, two environment bytes; status 0, else not stored.
  wire.write(Frame(2, 13, 43, login.session).number(login.uid, 4).text("beef").number(0, 1).number(0, 1).done());
  auto token = wire.next();
  ASSERT_TRUE(token);
  EXPECT_EQ(token->command(), 13);
  EXPECT_EQ(token->number(2), 0u);
  wire.write(Frame(1, 13, 44, login.session).number(login.uid, 4).text("cafe").number(0, 1).number(0, 1).done());
  token = wire.next();
  ASSERT_TRUE(token);
  EXPECT_NE(token->number(2), 0u);
  EXPECT_FALSE(server_->hasEvent("token " + std::to_string(login.uid) + " cafe"));

  // Tags and alias: version 4, uid, app key, the JSON with "platform" "i"; an ack, then the answer
  // as a message of type 20 naming the request's rid.
  auto tags = [&](std::uint16_t rid, const std::string& json) {
    wire.write(Frame(4, 10, rid, login.session).number(login.uid, 4).text("abc123").text(json).done());
    auto acked = wire.next();
    EXPECT_TRUE(acked && acked->command() == 19 && acked->rid() == rid);
    auto message = wire.next();
    EXPECT_TRUE(message);
    if (!message) return os::Value();
    EXPECT_EQ(message->command(), 3);
    message->number(4);
    EXPECT_EQ(message->number(1), 20u);
    message->number(4);
    return objectFromJSONString(message->text()).value_or(os::Value());
  };
  auto answer = tags(45, R"({"platform":"i","tags":"a,b","alias":"x"})");
  EXPECT_EQ(answer["sequence"].intValue(), 45);
  EXPECT_EQ(answer["code"].intValue(), 0);
  EXPECT_NE(tags(46, R"({"tags":"a,b"})")["code"].intValue(), 0);

  // A request frame stays below 1024 bytes: header 10, uid 4, the app key's count and 6 bytes,
  // the JSON's count and the JSON.
  auto ofFrameSize = [](std::size_t size) {
    std::string json = R"({"platform":"i","tags":")";
    while (json.size() < size - 24 - 2) json += json.size() % 8 == 7 ? ',' : 'a';
    return json + "\"}";
  };
  ASSERT_EQ(ofFrameSize(1023).size() + 24, 1023u);
  EXPECT_EQ(tags(47, ofFrameSize(1023))["code"].intValue(), 0);
  EXPECT_NE(tags(48, ofFrameSize(1024))["code"].intValue(), 0);
  EXPECT_TRUE(server_->hasEvent("tags refused " + std::to_string(login.uid)));
}

// A burst of frames sent back to back, far more than one read takes, the last one split across
// two writes: every one is answered, in the order sent, and the half frame waits for its rest.
TEST_F(PushWireTest, ABurstOfFramesIsAnsweredWholeAndInOrder) {
  Wire wire(server_->corePort());
  const Login login = logIn(wire);
  constexpr std::size_t kBurst = 40000;
  auto heartbeat = [&](std::size_t i) {
    return Frame(2, 2, static_cast<std::uint16_t>(i), login.session).number(login.uid, 4).done();
  };
  os::Data burst;
  for (std::size_t i = 0; i < kBurst; ++i) {
    const os::Data frame = heartbeat(i);
    burst.insert(burst.end(), frame.begin(), frame.end());
  }
  const os::Data last = heartbeat(kBurst);
  burst.insert(burst.end(), last.begin(), last.begin() + 5);
  wire.writeAll(burst);
  auto answers = wire.frames(kBurst);
  ASSERT_TRUE(answers);
  std::size_t outOfOrder = 0;
  for (std::size_t i = 0; i < kBurst; ++i)
    outOfOrder += (*answers)[i].command() != 19 || (*answers)[i].rid() != static_cast<std::uint16_t>(i);
  EXPECT_EQ(outOfOrder, 0u);
  EXPECT_TRUE(wire.quiet());
  wire.writeAll(os::Data(last.begin() + 5, last.end()));
  auto rest = wire.next();
  ASSERT_TRUE(rest);
  EXPECT_EQ(rest->rid(), static_cast<std::uint16_t>(kBurst));
  EXPECT_TRUE(server_->hasEvent("heartbeat " + std::to_string(login.uid)));
}

// A peer sending `piece` over and over on a blocking socket of its own thread, at loopback speed,
// `kPoured` bytes in all and then `last`. Ended before the service stops, however the test ends.
class Pourer {
 public:
  // Past what the kernel's buffers between the two ends hold: once this much is sent the service
  // is reading what is poured.
  static constexpr std::size_t kUnderWay = std::size_t{16} << 20;
  static constexpr std::size_t kPoured = std::size_t{32} << 20;

  // With `draining`, what is answered meanwhile is read and let go: a peer leaving its answers
  // unread would be read no further.
  Pourer(std::uint16_t port, os::Data piece, os::Data last, bool draining = false)
      : fd_(os::testing::connectTo("127.0.0.1", port)) {
    if (fd_ < 0) return;
    if (draining)
      drain_ = std::thread([this] {
        char buffer[65536];
        while (::recv(fd_, buffer, sizeof buffer, 0) > 0) {
        }
      });
    thread_ = std::thread([this, piece = std::move(piece), last = std::move(last)] {
      std::size_t wire = 0;
      bool told = false, sent = true;
      auto send = [&](const os::Data& bytes) {
        sent = sent && ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
        wire += bytes.size();
        if (!told && wire >= kUnderWay) {
          told = true;
          underWay_.set_value();
        }
      };
      while (sent && wire < kPoured) send(piece);
      allSent_ = sent;
      send(last);
      if (!told) underWay_.set_value();
    });
  }
  ~Pourer() {
    if (thread_.joinable()) thread_.join();
    if (drain_.joinable()) {
      ::shutdown(fd_, SHUT_RDWR);
      drain_.join();
    }
    if (fd_ >= 0) ::close(fd_);
  }
  bool connected() const { return fd_ >= 0; }
  void waitUntilUnderWay() { underWay_.get_future().wait(); }
  bool allSent() const { return allSent_; }
  // The first `count` bytes answered, once all is poured.
  os::Data answer(std::size_t count) {
    thread_.join();
    os::Data received(count);
    std::size_t got = 0;
    while (got < count) {
      const long n = ::recv(fd_, received.data() + got, count - got, 0);
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    received.resize(got);
    return received;
  }

 private:
  int fd_;
  std::thread thread_, drain_;
  std::promise<void> underWay_;
  std::atomic<bool> allSent_{false};
};

// A peer pouring frames at loopback speed always has more ready than the service has read: it
// takes its turns with the other peers, and one registering meanwhile is answered while the stream
// is still being sent, not once it has ended. The stream, read a little at a time, is still taken
// frame by frame, frames split across reads as they come: the registration at its end is answered.
// A peer pouring commands on the control port takes turns the same way.
TEST_F(PushWireTest, APeerThatNeverLetsUpTakesTurnsWithOtherPeers) {
  // Of a command the service does not know, so each costs it little; of a length that does not
  // divide a read, so frames are split across reads.
  os::Data frame = Frame(1, 99, 1, 0).done();
  frame.resize(1001);
  frame[0] = static_cast<std::uint8_t>(frame.size() >> 8);
  frame[1] = static_cast<std::uint8_t>(frame.size());
  os::Data frames;
  for (int i = 0; i < 1000; ++i) frames.insert(frames.end(), frame.begin(), frame.end());
  // Lines the control port answers with an error.
  os::Data lines;
  for (int i = 0; i < 1000; ++i) {
    lines.insert(lines.end(), 1000, 'x');
    lines.push_back('\n');
  }
  for (const bool control : {false, true}) {
    SCOPED_TRACE(control ? "commands on the control port" : "frames on a push connection");
    Pourer pourer(control ? server_->controlPort() : server_->corePort(), control ? lines : frames,
                  control ? os::dataFromString("silence off\n") : Registration{}.frame(7), control);
    ASSERT_TRUE(pourer.connected());
    pourer.waitUntilUnderWay();
    Wire other(server_->corePort());
    auto answer = registerWith(other, Registration{});
    const bool pouredWhole = pourer.allSent();
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->number(2), 0u);
    EXPECT_FALSE(pouredWhole) << "a peer registering waited for another's bytes to be sent whole";
    if (control) continue;
    // The stream's own registration, behind all its frames.
    const os::Data received = pourer.answer(6);
    ASSERT_EQ(received.size(), 6u);
    EXPECT_EQ(received[3], 0);
    EXPECT_EQ((received[4] << 8) | received[5], 7);
  }
}

// A peer on a blocking socket of its own, which reads only when it is told to.
class RawPeer {
 public:
  // A receive window of `window` bytes, unless 0.
  explicit RawPeer(std::uint16_t port, int window = 0) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    if (window > 0) ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &window, sizeof window);
    timeval safety{60, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &safety, sizeof safety);
    const auto address = os::makeIPv4Address("127.0.0.1", port);
    connected_ = fd_ >= 0 && ::connect(fd_, reinterpret_cast<const sockaddr*>(&*address), sizeof *address) == 0;
  }
  ~RawPeer() { ::close(fd_); }
  bool connected() const { return connected_; }
  int fd() const { return fd_; }
  bool send(const os::Data& bytes) const {
    return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
  }
  // The next whole frame, or nothing at the end.
  std::optional<Answer> next() const {
    const os::Data head = take(2);
    if (head.size() < 2) return std::nullopt;
    const std::size_t length = (std::size_t{head[0]} << 8) | head[1];
    const os::Data rest = take(length - 2);
    if (rest.size() < length - 2) return std::nullopt;
    Answer answer{head};
    answer.bytes.insert(answer.bytes.end(), rest.begin(), rest.end());
    return answer;
  }
  // Registers and logs in as the tables say: the uid, password and session id given, session 0
  // when refused.
  struct Login {
    std::uint32_t uid = 0;
    std::string password;
    std::uint32_t session = 0;
  };
  Login logIn() const {
    Login login;
    auto registered = send(Registration{}.frame()) ? next() : std::nullopt;
    if (!registered || registered->number(2) != 0) return login;
    login.uid = static_cast<std::uint32_t>(registered->number(4));
    login.password = registered->text();
    const os::Data frame = Frame(10, 1, 2, 0).number(login.uid, 4).number(0x69000000, 4)
                               .text(os::md5Hex(login.password)).number(27, 4).text("abc123").number(1, 1).done();
    auto answer = send(frame) ? next() : std::nullopt;
    if (answer && answer->command() == 1 && answer->number(2) == 0)
      login.session = static_cast<std::uint32_t>(answer->number(4));
    return login;
  }

 private:
  os::Data take(std::size_t count) const {
    os::Data bytes(count);
    std::size_t got = 0;
    while (got < count) {
      const long n = ::recv(fd_, bytes.data() + got, count - got, 0);
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    bytes.resize(got);
    return bytes;
  }

  int fd_;
  bool connected_ = false;
};

// A peer that sends requests and leaves their answers unread is read no further once its unread
// answers reach their bound, so the service does not hold ever more of them; once it reads them
// it is read again, and every request gets its answer, in order.
TEST_F(PushWireTest, APeerThatLeavesItsAnswersUnreadIsReadNoFurtherUntilItReadsThem) {
  constexpr std::size_t kHeartbeats = 400000;
  // A small window, so that few answers wait in the kernel's buffers between the two ends.
  RawPeer peer(server_->corePort(), 4096);
  ASSERT_TRUE(peer.connected());
  const auto [uid, password, session] = peer.logIn();
  ASSERT_NE(session, 0u);
  os::Data heartbeats;
  for (std::size_t i = 0; i < kHeartbeats; ++i) {
    const os::Data frame = Frame(2, 2, static_cast<std::uint16_t>(i), session).number(uid, 4).done();
    heartbeats.insert(heartbeats.end(), frame.begin(), frame.end());
  }
  std::thread pouring([&] { peer.send(heartbeats); });
  const bool held = runUntil([&] { return server_->hasEvent("reading held " + std::to_string(uid)); });
  EXPECT_TRUE(held) << "the service read on while the peer's answers piled up";
  std::size_t answered = 0, outOfOrder = 0;
  for (; answered < kHeartbeats; ++answered) {
    auto answer = peer.next();
    if (!answer) break;
    outOfOrder += answer->command() != 19 || answer->rid() != static_cast<std::uint16_t>(answered);
  }
  pouring.join();
  EXPECT_EQ(answered, kHeartbeats);
  EXPECT_EQ(outOfOrder, 0u);
}

// A device that receipts a message and ends its connection at once: the receipt, read in the
// same turn as the end, still settles its message, which then does not come again at the next
// login. The service is kept busy by another peer meanwhile, so both are waiting when it reads.
TEST_F(PushWireTest, AReceiptSentJustBeforeTheConnectionEndsSettlesItsMessage) {
  RawPeer device(server_->corePort());
  ASSERT_TRUE(device.connected());
  const auto [uid, password, session] = device.logIn();
  ASSERT_NE(session, 0u);
  const auto id = server_->pushMessage(R"({"message":"first"})");
  ASSERT_TRUE(id);
  auto message = device.next();
  ASSERT_TRUE(message);
  ASSERT_EQ(message->command(), 3);
  // Heartbeats without a login: each refused, and noted, with no answer.
  os::Data refused;
  for (std::size_t i = 0; i < 150000; ++i) {
    const os::Data frame = Frame(2, 2, 1, 0).number(1, 4).done();
    refused.insert(refused.end(), frame.begin(), frame.end());
  }
  RawPeer busy(server_->corePort());
  ASSERT_TRUE(busy.connected());
  std::thread keepingBusy([&] { busy.send(refused); });
  ASSERT_TRUE(runUntil([&] { return server_->hasEvent("heartbeat refused"); }));
  ASSERT_TRUE(device.send(Frame(1, 4, message->rid(), session).number(0, 2).number(uid, 4).number(0, 1)
                              .number(*id, 4).done()));
  ::shutdown(device.fd(), SHUT_WR);
  EXPECT_FALSE(device.next());  // the service ends the connection
  keepingBusy.join();

  Wire again(server_->corePort());
  again.write(loginFrame(uid, os::md5Hex(password)));
  auto login = again.next();
  ASSERT_TRUE(login);
  ASSERT_EQ(login->number(2), 0u);
  const auto second = server_->pushMessage(R"({"message":"second"})");
  ASSERT_TRUE(second);
  auto next = again.next();
  ASSERT_TRUE(next);
  next->number(4);
  next->number(1);
  EXPECT_EQ(next->number(4), *second) << "a receipted message came again";
}

// Messages pushed to a logged-in device that reads nothing wait among its unreceipted ones rather
// than in bytes written ahead for it: the service holds little more for it than a read's worth.
// When it reads, each comes whole and in order; when its connection ends unread, each comes at its
// next login; a receipt naming a message not yet sent settles nothing.
TEST_F(PushWireTest, MessagesPushedToADeviceThatDoesNotReadWaitForItWithinTheirBound) {
  constexpr std::size_t kMessages = 2000;
  const std::string content = R"({"message":")" + std::string(2000, 'm') + R"("})";
  auto pushAll = [&] {
    std::vector<std::uint32_t> ids;
    for (std::size_t i = 0; i < kMessages; ++i) ids.push_back(*server_->pushMessage(content));
    return ids;
  };
  auto idOf = [](Answer message) {
    EXPECT_EQ(message.command(), 3);
    message.number(4);
    message.number(1);
    return static_cast<std::uint32_t>(message.number(4));
  };
  auto reading = std::make_unique<RawPeer>(server_->corePort(), 4096);
  RawPeer& reader = *reading;
  ASSERT_TRUE(reader.connected());
  const auto [uid, password, session] = reader.logIn();
  ASSERT_NE(session, 0u);
  std::vector<std::uint32_t> ids = pushAll();
  EXPECT_LT(server_->unwrittenBytes(), std::size_t{256} << 10) << "the messages were all framed for a peer not reading";
  auto first = reader.next();
  ASSERT_TRUE(first);
  // The rid of the last message, counted on from the first's: not yet sent, so not receipted.
  const auto lastRid = static_cast<std::uint16_t>(first->rid() + kMessages - 1);
  ASSERT_TRUE(reader.send(Frame(1, 4, lastRid, session).number(0, 2).number(uid, 4).number(0, 1).number(ids.back(), 4)
                              .done()));
  ASSERT_TRUE(runUntil([&] { return server_->hasEvent("receipt refused " + std::to_string(uid)); }));
  std::vector<std::uint32_t> got{idOf(*first)};
  for (std::size_t i = 1; i < kMessages; ++i) {
    auto message = reader.next();
    if (!message) break;
    got.push_back(idOf(*message));
    if (i == kMessages - 1) {
      EXPECT_EQ(message->rid(), lastRid);
    }
  }
  EXPECT_EQ(got, ids);
  // Sent now, the last settles them all.
  ASSERT_TRUE(reader.send(Frame(1, 4, lastRid, session).number(0, 2).number(uid, 4).number(0, 1).number(ids.back(), 4)
                              .done()));
  const std::string settled = "receipt " + std::to_string(uid) + " " + std::to_string(ids.back());
  ASSERT_TRUE(runUntil([&] { return server_->hasEvent(settled); }));
  reading.reset();
  ASSERT_TRUE(runUntil([&] { return server_->connectionCount() == 0; }));

  // Unread when its connection ends: every one comes after its next login, in order.
  std::vector<std::uint32_t> unread;
  {
    RawPeer silent(server_->corePort(), 4096);
    ASSERT_TRUE(silent.connected());
    ASSERT_TRUE(silent.send(loginFrame(uid, os::md5Hex(password))));
    ASSERT_TRUE(silent.next());
    unread = pushAll();
    EXPECT_LT(server_->unwrittenBytes(), std::size_t{256} << 10);
  }
  const std::string kept = "kept " + std::to_string(uid) + " " + std::to_string(kMessages);
  ASSERT_TRUE(runUntil([&] { return server_->hasEvent(kept); }));
  RawPeer again(server_->corePort());
  ASSERT_TRUE(again.send(loginFrame(uid, os::md5Hex(password))));
  auto login = again.next();
  ASSERT_TRUE(login);
  ASSERT_EQ(login->command(), 1);
  got.clear();
  for (std::size_t i = 0; i < kMessages; ++i) {
    auto message = again.next();
    if (!message) break;
    got.push_back(idOf(*message));
  }
  EXPECT_EQ(got, unread);
}

// The service's record of what it saw keeps the newest events up to its bound: one that serves
// for long does not grow with every frame it ever took.
TEST_F(PushWireTest, EventsPastTheirBoundDropTheOldest) {
  Wire wire(server_->corePort());
  const Login login = logIn(wire);
  constexpr std::size_t kLimit = pushd::PushServer::kEventLimit;
  constexpr std::size_t kRefused = kLimit + 100;
  // Each names another uid: refused, and seen as an event of its own.
  os::Data burst;
  for (std::size_t i = 0; i < kRefused; ++i) {
    const os::Data frame = Frame(2, 2, 1, login.session).number(login.uid + 1 + i, 4).done();
    burst.insert(burst.end(), frame.begin(), frame.end());
  }
  const os::Data good = Frame(2, 2, 2, login.session).number(login.uid, 4).done();
  burst.insert(burst.end(), good.begin(), good.end());
  wire.writeAll(burst);
  auto ack = wire.next();
  ASSERT_TRUE(ack);
  EXPECT_EQ(ack->rid(), 2);
  const auto events = server_->events();
  ASSERT_EQ(events.size(), kLimit);
  EXPECT_EQ(events.back(), "heartbeat " + std::to_string(login.uid));
  const std::size_t firstKept = kRefused - (kLimit - 1);
  EXPECT_EQ(events.front(), "heartbeat refused " + std::to_string(login.uid + 1 + firstKept));
  EXPECT_FALSE(server_->hasEvent("login "));
}

// Registrations that arrive together, from many connections and several from each, are each
// answered, and an answered one is on disk: a service started afresh on the same file logs every
// one of them in.
TEST_F(PushWireTest, RegistrationsArrivingTogetherAreEachAnsweredAndAllKeptOnDisk) {
  auto options = withFreshIdentityFile("identities");
  const std::string path = options.identityFile;
  auto server = pushd::PushServer::start(options);
  ASSERT_TRUE(server);
  constexpr std::size_t kClients = 100, kEach = 5;
  std::vector<std::unique_ptr<Wire>> wires;
  for (std::size_t c = 0; c < kClients; ++c) wires.push_back(std::make_unique<Wire>(server->corePort(), false));
  auto allConnected = [&] { return std::all_of(wires.begin(), wires.end(), [](auto& w) { return w->connected(); }); };
  ASSERT_TRUE(runUntil(allConnected));
  for (auto& wire : wires) {
    os::Data registrations;
    for (std::size_t i = 0; i < kEach; ++i) {
      const os::Data frame = Registration{}.frame(static_cast<std::uint16_t>(i + 1));
      registrations.insert(registrations.end(), frame.begin(), frame.end());
    }
    wire->writeAll(registrations);
  }
  std::map<std::uint32_t, std::string> given;
  for (auto& wire : wires) {
    auto answers = wire->frames(kEach);
    ASSERT_TRUE(answers);
    for (std::size_t i = 0; i < kEach; ++i) {
      Answer& answer = (*answers)[i];
      EXPECT_EQ(answer.rid(), i + 1);
      ASSERT_EQ(answer.number(2), 0u);
      const auto uid = static_cast<std::uint32_t>(answer.number(4));
      given[uid] = answer.text();
    }
  }
  EXPECT_EQ(given.size(), kClients * kEach);
  wires.clear();
  server.reset();

  auto restarted = pushd::PushServer::start(options);
  ASSERT_TRUE(restarted);
  Wire wire(restarted->corePort());
  os::Data logins;
  for (const auto& [uid, password] : given) {
    const os::Data frame = loginFrame(uid, os::md5Hex(password));
    logins.insert(logins.end(), frame.begin(), frame.end());
  }
  wire.writeAll(logins);
  auto answers = wire.frames(given.size());
  ASSERT_TRUE(answers);
  std::size_t refused = 0;
  for (auto& answer : *answers) refused += answer.number(2) != 0;
  EXPECT_EQ(refused, 0u);
  // New identities carry on after the ones read back.
  Wire fresh(restarted->corePort());
  auto registered = registerWith(fresh, Registration{});
  ASSERT_TRUE(registered);
  ASSERT_EQ(registered->number(2), 0u);
  EXPECT_GT(registered->number(4), given.rbegin()->first);
  restarted.reset();
  std::remove(path.c_str());
}

// A blocking connection to the core port that reads only when asked, as much as asked: the peer
// that leaves the service's answers queued, or that sends all it has in one write.
class BlockingWire {
 public:
  // A receive buffer of `receiveBuffer` bytes when given: the service's writes then stop short.
  explicit BlockingWire(std::uint16_t port, int receiveBuffer = 0) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (receiveBuffer > 0) ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    timeval safety{60, 0};  // against a hang, not a measure
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &safety, sizeof safety);
    auto address = os::makeIPv4Address("127.0.0.1", port);
    connected_ = ::connect(fd_, reinterpret_cast<const sockaddr*>(&*address), sizeof *address) == 0;
  }
  ~BlockingWire() { ::close(fd_); }
  bool connected() const { return connected_; }
  bool write(const os::Data& bytes) {
    for (std::size_t at = 0; at < bytes.size();) {
      const long n = ::send(fd_, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
      if (n <= 0) return false;
      at += static_cast<std::size_t>(n);
    }
    return true;
  }
  // The next `count` whole frames, read `chunk` bytes at a time; nothing when the connection
  // ended first or a frame's length cannot be one of an answer.
  std::optional<std::vector<Answer>> frames(std::size_t count, std::size_t chunk = 65536) {
    std::vector<Answer> answers;
    while (answers.size() < count) {
      if (auto answer = take()) {
        answers.push_back(std::move(*answer));
        continue;
      }
      if (broken_ || !receive(chunk)) return std::nullopt;
    }
    return answers;
  }
  // Every whole frame until the service ends the connection.
  std::vector<Answer> untilClosed() {
    std::vector<Answer> answers;
    for (;;) {
      while (auto answer = take()) answers.push_back(std::move(*answer));
      if (broken_ || !receive(65536)) return answers;
    }
  }

 private:
  // The frame at the front of what was read, once whole.
  std::optional<Answer> take() {
    if (in_.size() - inAt_ < 2) return std::nullopt;
    const std::size_t length = (std::size_t{in_[inAt_]} << 8) | in_[inAt_ + 1];
    if (length < 6) {
      broken_ = true;
      return std::nullopt;
    }
    if (in_.size() - inAt_ < length) return std::nullopt;
    const auto begin = in_.begin() + static_cast<long>(inAt_);
    Answer answer{os::Data(begin, begin + static_cast<long>(length))};
    inAt_ += length;
    if (inAt_ == in_.size()) {
      in_.clear();
      inAt_ = 0;
    }
    return answer;
  }
  bool receive(std::size_t chunk) {
    std::vector<std::uint8_t> buffer(chunk);
    const long n = ::recv(fd_, buffer.data(), buffer.size(), 0);
    if (n <= 0) return false;
    in_.insert(in_.end(), buffer.begin(), buffer.begin() + n);
    return true;
  }

  int fd_ = -1;
  bool connected_ = false;
  bool broken_ = false;
  os::Data in_;
  std::size_t inAt_ = 0;
};

// A peer that sends a frame too short for a request's header is cut off, but what it asked
// before that frame in the same write is answered first: three refused logins, then the
// connection ends. The same with a registration kept on disk before its answer.
TEST_F(PushWireTest, FramesBeforeOneTooShortForAHeaderAreAnsweredBeforeTheConnectionEnds) {
  const os::Data tooShort{0, 5, 1, 2, 3};
  os::Data stream;
  for (int i = 0; i < 3; ++i) {
    const os::Data refused = loginFrame(999, os::md5Hex("not the password"));
    stream.insert(stream.end(), refused.begin(), refused.end());
  }
  stream.insert(stream.end(), tooShort.begin(), tooShort.end());
  BlockingWire wire(server_->corePort());
  ASSERT_TRUE(wire.connected());
  ASSERT_TRUE(wire.write(stream));
  auto answers = wire.untilClosed();
  ASSERT_EQ(answers.size(), 3u);
  for (auto& answer : answers) {
    EXPECT_EQ(answer.command(), 1);
    EXPECT_EQ(answer.number(2), 2u);
  }

  auto options = withFreshIdentityFile("short-frame");
  const std::string path = options.identityFile;
  auto server = pushd::PushServer::start(options);
  ASSERT_TRUE(server);
  BlockingWire registering(server->corePort());
  ASSERT_TRUE(registering.connected());
  stream = Registration{}.frame(7);
  const os::Data refused = loginFrame(999, os::md5Hex("not the password"));
  stream.insert(stream.end(), refused.begin(), refused.end());
  stream.insert(stream.end(), tooShort.begin(), tooShort.end());
  ASSERT_TRUE(registering.write(stream));
  answers = registering.untilClosed();
  ASSERT_EQ(answers.size(), 2u);
  EXPECT_EQ(answers[0].command(), 0);
  EXPECT_EQ(answers[0].rid(), 7);
  EXPECT_EQ(answers[0].number(2), 0u);
  const auto uid = answers[0].number(4);
  EXPECT_EQ(answers[1].command(), 1);
  EXPECT_EQ(answers[1].number(2), 2u);
  server.reset();
  auto kept = os::FileManager::defaultManager().contentsAtPath(path);
  ASSERT_TRUE(kept);
  EXPECT_EQ(os::stringFromData(*kept).rfind(std::to_string(uid) + " ", 0), 0u);
  std::remove(path.c_str());
}

// A peer that lets the answers pile up behind a small receive buffer, then reads them a little at
// a time: the service's writes stop short again and again, and each goes on where the last one
// stopped. Every acknowledgement arrives, whole and in order.
TEST_F(PushWireTest, AnswersQueuedForAPeerThatReadsSlowlyArriveWholeAndInOrder) {
  BlockingWire wire(server_->corePort(), 4096);
  ASSERT_TRUE(wire.connected());
  ASSERT_TRUE(wire.write(Registration{}.frame()));
  auto registered = wire.frames(1);
  ASSERT_TRUE(registered);
  Answer& registration = registered->front();
  ASSERT_EQ(registration.number(2), 0u);
  const auto uid = static_cast<std::uint32_t>(registration.number(4));
  const std::string password = registration.text();
  ASSERT_TRUE(wire.write(loginFrame(uid, os::md5Hex(password))));
  auto loggedIn = wire.frames(1);
  ASSERT_TRUE(loggedIn);
  ASSERT_EQ(loggedIn->front().number(2), 0u);
  const auto session = static_cast<std::uint32_t>(loggedIn->front().number(4));

  // Some megabytes of acknowledgements, far beyond what the two sockets hold.
  constexpr std::size_t kHeartbeats = 200000;
  os::Data burst;
  for (std::size_t i = 0; i < kHeartbeats; ++i) {
    const os::Data frame = Frame(2, 2, static_cast<std::uint16_t>(i), session).number(uid, 4).done();
    burst.insert(burst.end(), frame.begin(), frame.end());
  }
  ASSERT_TRUE(wire.write(burst));
  auto acks = wire.frames(kHeartbeats, 1000);
  ASSERT_TRUE(acks) << "an answer came cut or the connection ended";
  std::size_t outOfPlace = 0;
  for (std::size_t i = 0; i < kHeartbeats; ++i)
    outOfPlace += (*acks)[i].command() != 19 || (*acks)[i].rid() != static_cast<std::uint16_t>(i) ||
                  (*acks)[i].bytes.size() != 17;
  EXPECT_EQ(outOfPlace, 0u);
}

// A registration is answered only once its identity is in the file: one that cannot be written
// is refused, not answered as kept, and an answered uid logs in after a restart. The answer
// never comes before the file holds it.
TEST_F(PushWireTest, ARegistrationIsAnsweredAsKeptOnlyOnceItsIdentityIsOnDisk) {
  auto& files = os::FileManager::defaultManager();
  const std::string folder = ::testing::TempDir() + "/pushd-unwritable-" + std::to_string(::getpid());
  files.removeItemAtPath(folder);
  ASSERT_TRUE(files.createDirectoryAtPath(folder, true));
  // A file where the identity file's folder should be: no one can write there, root included.
  const std::string blocked = folder + "/identities";
  ASSERT_TRUE(files.writeData(os::dataFromString("not a folder"), blocked));
  auto options = pushd::ServerOptions::onFreePorts();
  options.identityFile = blocked + "/pushd";
  auto server = pushd::PushServer::start(options);
  ASSERT_TRUE(server);
  BlockingWire wire(server->corePort());
  ASSERT_TRUE(wire.connected());
  ASSERT_TRUE(wire.write(Registration{}.frame(1)));
  auto answer = wire.frames(1);
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->front().rid(), 1);
  EXPECT_NE(answer->front().number(2), 0u) << "answered as kept while its identity is not on disk";

  // The folder can be written now: the next registration is kept, and it is in the file by the
  // time its answer arrives.
  ASSERT_TRUE(files.removeItemAtPath(blocked));
  ASSERT_TRUE(files.createDirectoryAtPath(blocked, false));
  for (std::uint16_t rid = 2; rid <= 41; ++rid) {
    ASSERT_TRUE(wire.write(Registration{}.frame(rid)));
    answer = wire.frames(1);
    ASSERT_TRUE(answer);
    ASSERT_EQ(answer->front().number(2), 0u);
    const auto uid = answer->front().number(4);
    auto kept = files.contentsAtPath(options.identityFile);
    ASSERT_TRUE(kept);
    ASSERT_NE(os::stringFromData(*kept).find(std::to_string(uid) + " "), std::string::npos)
        << "uid " << uid << " answered before it was in the file";
  }
  // The refused registration left nothing behind: the file holds the forty kept ones.
  server.reset();
  auto kept = files.contentsAtPath(options.identityFile);
  ASSERT_TRUE(kept);
  const std::string text = os::stringFromData(*kept);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 40);

  auto restarted = pushd::PushServer::start(options);
  ASSERT_TRUE(restarted);
  std::istringstream lines(text);
  std::uint32_t uid = 0;
  std::string password;
  ASSERT_TRUE(lines >> uid >> password);
  BlockingWire again(restarted->corePort());
  ASSERT_TRUE(again.write(loginFrame(uid, os::md5Hex(password))));
  auto login = again.frames(1);
  ASSERT_TRUE(login);
  EXPECT_EQ(login->front().number(2), 0u);
  restarted.reset();
  files.removeItemAtPath(folder);
}

// A write of the identities killed part-way leaves its temporary file beside theirs: the service
// started again on the file removes it, and the identities written whole log in.
TEST_F(PushWireTest, ARestartRemovesWhatAWriteOfTheIdentitiesCutShortLeft) {
  auto& files = os::FileManager::defaultManager();
  auto options = withFreshIdentityFile("cut-short");
  const std::string path = options.identityFile;
  auto server = pushd::PushServer::start(options);
  ASSERT_TRUE(server);
  Wire wire(server->corePort());
  const auto registered = registerMany(wire, 2);
  ASSERT_EQ(registered.size(), 2u);
  server.reset();
  const auto written = files.contentsAtPath(path);
  const std::string cutShort = os::testing::plantCutShortWrite(path, 9);
  const std::string others = os::testing::plantCutShortWrite(path + "-other", 9);
  ASSERT_FALSE(cutShort.empty() || others.empty());

  auto restarted = pushd::PushServer::start(options);
  ASSERT_TRUE(restarted);
  EXPECT_FALSE(files.fileExistsAtPath(cutShort));
  EXPECT_TRUE(files.fileExistsAtPath(others));
  EXPECT_EQ(files.contentsAtPath(path), written);
  Wire again(restarted->corePort());
  for (const auto& identity : registered) EXPECT_EQ(loginStatus(again, identity), 0);
  restarted.reset();
  files.removeItemAtPath(path);
  files.removeItemAtPath(others);
}

// A peer registering over and over keeps the service's identities, and its file, within their
// bound: past it the least recently registered or logged in is let go and refused at its login,
// while the newest log in, also after a restart, which keeps the order of use from the file.
TEST_F(PushWireTest, RegistrationsPastTheBoundLetGoOfTheLeastRecentlyUsed) {
  auto& files = os::FileManager::defaultManager();
  auto options = withFreshIdentityFile("bounded");
  const std::string path = options.identityFile;
  options.identityLimit = 10;
  auto server = pushd::PushServer::start(options);
  ASSERT_TRUE(server);
  Wire wire(server->corePort());
  const auto first = registerMany(wire, 10);
  ASSERT_EQ(first.size(), 10u);
  // The oldest logs in: the second oldest is now the least recently used, and the next
  // registration lets it go.
  EXPECT_EQ(loginStatus(wire, first[0]), 0);
  ASSERT_EQ(registerMany(wire, 1).size(), 1u);
  EXPECT_EQ(loginStatus(wire, first[1]), 2) << "kept past the bound";
  EXPECT_TRUE(server->hasEvent("identity let go " + std::to_string(first[1].uid)));
  EXPECT_EQ(loginStatus(wire, first[0]), 0);
  EXPECT_EQ(loginStatus(wire, first[2]), 0);

  // A flood: every registration is answered as kept, the file holds the newest ten only.
  const auto flooded = registerMany(wire, 200);
  ASSERT_EQ(flooded.size(), 200u);
  EXPECT_EQ(lineCount(path), 10u);
  EXPECT_EQ(loginStatus(wire, first[0]), 2);
  EXPECT_EQ(loginStatus(wire, flooded[189]), 2);
  // The oldest kept logs in, then one more registration lets the next oldest go: the file has
  // the one logged in as used after the rest of the flood.
  EXPECT_EQ(loginStatus(wire, flooded[190]), 0);
  ASSERT_EQ(registerMany(wire, 1).size(), 1u);
  server.reset();
  EXPECT_EQ(lineCount(path), 10u);

  auto restarted = pushd::PushServer::start(options);
  ASSERT_TRUE(restarted);
  Wire again(restarted->corePort());
  ASSERT_EQ(registerMany(again, 1).size(), 1u);
  EXPECT_EQ(loginStatus(again, flooded[192]), 2) << "the least recently used was kept after the restart";
  EXPECT_EQ(loginStatus(again, flooded[190]), 0);
  for (std::size_t i = 193; i < flooded.size(); ++i) EXPECT_EQ(loginStatus(again, flooded[i]), 0) << i;
  restarted.reset();
  EXPECT_EQ(lineCount(path), 10u);
  files.removeItemAtPath(path);
}

// Identities whose app keys are long keep the file within its bytes: the newest that fit are kept
// and log in; one larger than the bound alone is kept alone.
TEST_F(PushWireTest, LongAppKeysKeepTheIdentityFileWithinItsBytes) {
  auto& files = os::FileManager::defaultManager();
  auto options = withFreshIdentityFile("bytes");
  const std::string path = options.identityFile;
  options.identityBytes = 1000;
  auto server = pushd::PushServer::start(options);
  ASSERT_TRUE(server);
  Wire wire(server->corePort());
  const std::string key(200, 'k');
  Registration longKey;
  longKey.device = "udid$$ $$com.example.newsreader$$" + key;
  const auto given = registerMany(wire, 30, longKey);
  ASSERT_EQ(given.size(), 30u);
  auto size = [&] { return files.attributesOfItemAtPath(path).value_or(os::FileAttributes{}).size; };
  EXPECT_LE(size(), 1000u);
  EXPECT_EQ(lineCount(path), 4u);  // each line is a little over 230 bytes
  EXPECT_EQ(loginStatus(wire, given[29], key), 0);
  EXPECT_EQ(loginStatus(wire, given[26], key), 0);
  EXPECT_EQ(loginStatus(wire, given[25], key), 2);

  const std::string huge(2000, 'h');
  longKey.device = "udid$$ $$com.example.newsreader$$" + huge;
  const auto alone = registerMany(wire, 1, longKey);
  ASSERT_EQ(alone.size(), 1u);
  EXPECT_EQ(lineCount(path), 1u);
  EXPECT_EQ(loginStatus(wire, alone[0], huge), 0);
  EXPECT_EQ(loginStatus(wire, given[29], key), 2);
  server.reset();
  files.removeItemAtPath(path);
}

// The identity file is written for the registrations it keeps and for nothing else: logins,
// heartbeats, tokens, tags, messages and refused requests leave it as it is.
TEST_F(PushWireTest, TurnsThatChangeNoIdentityLeaveTheFileAlone) {
  auto& files = os::FileManager::defaultManager();
  auto options = withFreshIdentityFile("unchanged");
  const std::string path = options.identityFile;
  auto server = pushd::PushServer::start(options);
  ASSERT_TRUE(server);
  Wire wire(server->corePort());
  const Login login = logIn(wire);
  ASSERT_NE(login.session, 0u);
  // The service never reads the file back while it runs: a write of it would show as this text gone.
  const std::string marker = "written by the test\n";
  ASSERT_TRUE(files.writeData(os::dataFromString(marker), path));
  auto untouched = [&] { return os::stringFromData(files.contentsAtPath(path).value_or(os::Data{})) == marker; };

  EXPECT_EQ(loginStatus(wire, {login.uid, login.password}), 0);
  EXPECT_EQ(loginStatus(wire, {login.uid, "not the password"}), 2);
  wire.write(Frame(10, 1, 2, 0).number(login.uid, 4).done());  // malformed
  ASSERT_TRUE(wire.next());
  Registration malformed;
  malformed.last = 0;
  ASSERT_TRUE(registerWith(wire, malformed));
  EXPECT_TRUE(untouched());

  wire.write(loginFrame(login.uid, os::md5Hex(login.password)));
  auto answer = wire.next();
  ASSERT_TRUE(answer);
  answer->number(2);
  const auto session = static_cast<std::uint32_t>(answer->number(4));
  wire.write(Frame(2, 2, 3, session).number(login.uid, 4).done());
  ASSERT_TRUE(wire.next());
  wire.write(Frame(2, 13, 4, session).number(login.uid, 4).text("beef").number(0, 1).number(0, 1).done());
  ASSERT_TRUE(wire.next());
  wire.write(Frame(4, 10, 5, session).number(login.uid, 4).text("abc123").text(R"({"platform":"i"})").done());
  ASSERT_TRUE(wire.frames(2));
  ASSERT_TRUE(server->pushMessage(R"({"message":"m"})"));
  ASSERT_TRUE(wire.next());
  EXPECT_TRUE(untouched());

  // A registration is written, and is in the file by the time it is answered.
  auto registered = registerWith(wire, Registration{});
  ASSERT_TRUE(registered);
  ASSERT_EQ(registered->number(2), 0u);
  EXPECT_FALSE(untouched());
  EXPECT_EQ(lineCount(path), 2u);
  server.reset();
  files.removeItemAtPath(path);
}

TEST_F(PushWireTest, TheControlPortAnswersJsonItCannotSendWithAnError) {
  Wire control(server_->controlPort());
  auto answer = [&](const std::string& line) {
    control.write(line + "\n");
    return control.line().value_or("no answer");
  };
  for (const char* line : {"notify {not json", "notify [1]", R"(notify {"alert":"x"})", R"(notify {"aps":"x"})",
                           "push {not json", R"(push {"title":"t"})", R"(push {"message":"m","extras":[]})",
                           "push-id 7 {not json"})
    EXPECT_EQ(answer(line).rfind("error: ", 0), 0u) << line;
  EXPECT_EQ(answer(R"(notify {"aps":{"alert":"头条"},"id":20001})"), "ok 0");
  EXPECT_EQ(answer(R"(push {"title":"t","message":"m","extras":{"id":1}})").rfind("ok ", 0), 0u);
  EXPECT_EQ(answer(R"(push-id 7 {"message":"m"})"), "ok 7");
  EXPECT_EQ(server_->events(), (std::vector<std::string>{"notify", "push 5001", "push 7"}));
}

TEST_F(PushWireTest, AReceiptRepeatsItsMessageAndNoneFollowsATagsAnswer) {
  Wire wire(server_->corePort());
  Login login = logIn(wire);
  auto id = server_->pushMessage(R"({"message":"头条"})");
  ASSERT_TRUE(id);
  auto message = wire.next();
  ASSERT_TRUE(message);
  ASSERT_EQ(message->command(), 3);
  EXPECT_EQ(message->number(4), 0u);
  const auto type = static_cast<std::uint8_t>(message->number(1));
  EXPECT_EQ(message->number(4), *id);
  auto receipt = [&](std::uint16_t rid, std::uint32_t messageId, std::uint8_t version = 1) {
    return Frame(version, 4, rid, login.session).number(0, 2).number(login.uid, 4).number(type, 1)
        .number(messageId, 4).done();
  };
  const std::string seen = "receipt " + std::to_string(login.uid) + " " + std::to_string(*id);
  wire.write(receipt(message->rid(), *id + 1));  // not the message's id
  wire.write(receipt(message->rid(), *id, 2));   // not the message's version
  ASSERT_TRUE(runUntil([&] { return server_->hasEvent("receipt refused"); }));
  EXPECT_EQ(receipt(message->rid(), *id).size(), 21u);
  wire.write(receipt(message->rid(), *id));
  ASSERT_TRUE(runUntil([&] { return server_->hasEvent(seen); }));

  // The answer to a tags request is a type-20 message: it takes no receipt.
  wire.write(Frame(4, 10, 7, login.session).number(login.uid, 4).text("abc123").text(R"({"platform":"i"})").done());
  ASSERT_TRUE(wire.next());  // the ack
  auto tagsAnswer = wire.next();
  ASSERT_TRUE(tagsAnswer);
  tagsAnswer->number(4);
  tagsAnswer->number(1);
  auto tagsId = static_cast<std::uint32_t>(tagsAnswer->number(4));
  wire.write(Frame(1, 4, tagsAnswer->rid(), login.session).number(0, 2).number(login.uid, 4).number(20, 1)
                 .number(tagsId, 4).done());
  ASSERT_TRUE(runUntil([&] { return server_->hasEvent("receipt refused " + std::to_string(login.uid) + " " +
                                                      std::to_string(tagsId)); }));

  // A frame is at most 65535 bytes: 17 of them are the header and the message's fixed fields.
  EXPECT_FALSE(server_->pushMessage(std::string(65535 - 16, 'x')));
  EXPECT_EQ(server_->control("push " + std::string(65535 - 16, 'x')).rfind("error", 0), 0u);
  ASSERT_TRUE(server_->pushMessage(std::string(65535 - 17, 'x')));
  auto longest = wire.next();
  ASSERT_TRUE(longest);
  EXPECT_EQ(longest->bytes.size(), 65535u);
}

// A receipt settles its message and those before it; the messages a connection ends without
// receipting wait for the device and come first on its next connection, in order, each once.
TEST_F(PushWireTest, MessagesNotReceiptedWhenAConnectionEndsComeAtTheDevicesNextConnection) {
  Login login;
  auto receipt = [&](Answer message) {
    message.number(4);
    const auto type = message.number(1);
    const auto id = message.number(4);
    return Frame(1, 4, message.rid(), login.session).number(0, 2).number(login.uid, 4).number(type, 1).number(id, 4)
        .done();
  };
  // Logs in again as the device: the messages that follow the answer.
  auto logInAgain = [&](Wire& wire, std::size_t messages) {
    wire.write(loginFrame(login.uid, os::md5Hex(login.password)));
    auto frames = wire.frames(1 + messages);
    if (!frames) {
      ADD_FAILURE() << "no login answer and " << messages << " messages";
      return std::vector<Answer>{};
    }
    Answer answer = frames->front();
    EXPECT_EQ(answer.command(), 1);
    EXPECT_EQ(answer.number(2), 0u);
    login.session = static_cast<std::uint32_t>(answer.number(4));
    return std::vector<Answer>(frames->begin() + 1, frames->end());
  };
  using Got = std::vector<std::pair<std::uint32_t, std::string>>;
  auto read = [](std::vector<Answer> messages) {
    Got got;
    for (auto& message : messages) {
      EXPECT_EQ(message.command(), 3);
      message.number(4);
      message.number(1);
      const auto id = static_cast<std::uint32_t>(message.number(4));
      got.emplace_back(id, message.text());
    }
    return got;
  };
  auto content = [](int n) { return R"({"message":")" + std::to_string(n) + R"("})"; };
  auto ended = [&] { return runUntil([&] { return server_->connectionCount() == 0; }); };
  auto settled = [&](std::uint32_t id) { return "receipt " + std::to_string(login.uid) + " " + std::to_string(id); };

  std::vector<std::uint32_t> ids;
  std::vector<Answer> first;
  {
    Wire wire(server_->corePort());
    login = logIn(wire);
    for (int n = 0; n < 5; ++n) ids.push_back(*server_->pushMessage(content(n)));
    auto frames = wire.frames(5);
    ASSERT_TRUE(frames);
    first = *frames;
    wire.write(receipt(first[1]));  // settles the first two
    ASSERT_TRUE(runUntil([&] { return server_->hasEvent(settled(ids[1])); }));
  }
  ASSERT_TRUE(ended());
  std::vector<Answer> second;
  {
    Wire wire(server_->corePort());
    second = logInAgain(wire, 3);
    ASSERT_EQ(read(second), (Got{{ids[2], content(2)}, {ids[3], content(3)}, {ids[4], content(4)}}));
    EXPECT_TRUE(wire.quiet());
    // A late receipt of the connection that ended names a message this one did not send.
    wire.write(receipt(first[4]));
    ASSERT_TRUE(runUntil([&] { return server_->hasEvent("receipt refused"); }));
    wire.write(receipt(second[1]));
    ASSERT_TRUE(runUntil([&] { return server_->hasEvent(settled(ids[3])); }));
  }
  ASSERT_TRUE(ended());
  {
    Wire wire(server_->corePort());
    auto third = logInAgain(wire, 1);
    ASSERT_EQ(read(third), (Got{{ids[4], content(4)}}));
    EXPECT_TRUE(wire.quiet());
    wire.write(receipt(third[0]));
    ASSERT_TRUE(runUntil([&] { return server_->hasEvent(settled(ids[4])); }));
  }
  ASSERT_TRUE(ended());
  Wire wire(server_->corePort());
  EXPECT_TRUE(logInAgain(wire, 0).empty());
  EXPECT_TRUE(wire.quiet());
  const auto id = server_->pushMessage(content(5));
  auto pushed = wire.next();
  ASSERT_TRUE(pushed);
  EXPECT_EQ(read({*pushed}), (Got{{*id, content(5)}}));
}

// What waits for a device's receipts stays within its bound: the oldest messages go first.
TEST_F(PushWireTest, MessagesWaitingForADevicesReceiptsKeepTheNewestWithinTheirBound) {
  const std::string content(1000, 'm');
  auto options = pushd::ServerOptions::onFreePorts();
  options.keptBytes = 3 * (content.size() + 64);
  server_.reset();
  server_ = pushd::PushServer::start(options);
  std::vector<std::uint32_t> ids;
  Login login;
  {
    Wire wire(server_->corePort());
    login = logIn(wire);
    for (int n = 0; n < 5; ++n) ids.push_back(*server_->pushMessage(content));
    ASSERT_TRUE(wire.frames(5));
  }
  ASSERT_TRUE(runUntil([&] { return server_->connectionCount() == 0; }));
  const std::string uid = std::to_string(login.uid);
  EXPECT_TRUE(server_->hasEvent("forgot " + uid + " " + std::to_string(ids[0])));
  EXPECT_TRUE(server_->hasEvent("forgot " + uid + " " + std::to_string(ids[1])));
  EXPECT_FALSE(server_->hasEvent("forgot " + uid + " " + std::to_string(ids[2])));
  Wire wire(server_->corePort());
  wire.write(loginFrame(login.uid, os::md5Hex(login.password)));
  auto frames = wire.frames(4);
  ASSERT_TRUE(frames);
  for (std::size_t i = 1; i < 4; ++i) {
    Answer message = (*frames)[i];
    message.number(4);
    message.number(1);
    EXPECT_EQ(message.number(4), ids[i + 1]);
  }
  EXPECT_TRUE(wire.quiet());
}

TEST_F(PushWireTest, ATokenGivenAtRegistrationCountsAsReported) {
  Wire wire(server_->corePort());
  logIn(wire, "beef");
  Wire device(server_->controlPort());
  device.write(std::string("device beef\n"));
  ASSERT_TRUE(runUntil([&] { return server_->hasEvent("device beef"); }));
  EXPECT_EQ(server_->notify(R"({"aps":{"alert":"头条"}})"), 1u);
}

// The tokens the service knows are those reported lately: a peer reporting ever new ones does not
// grow it without end, and a token reported again is known again.
TEST_F(PushWireTest, TokensPastTheirBoundLetGoOfTheOldest) {
  Wire wire(server_->corePort());
  const Login login = logIn(wire, "beef");
  Wire device(server_->controlPort());
  device.write(std::string("device beef\n"));
  ASSERT_TRUE(runUntil([&] { return server_->hasEvent("device beef"); }));
  auto report = [&](const std::string& token) {
    return Frame(2, 13, 1, login.session).number(login.uid, 4).text(token).number(0, 1).number(0, 1).done();
  };
  auto flood = [&](std::size_t first, std::size_t count) {
    os::Data burst;
    for (std::size_t i = first; i < first + count; ++i) {
      const os::Data frame = report("token-" + std::to_string(i));
      burst.insert(burst.end(), frame.begin(), frame.end());
    }
    wire.writeAll(burst);
    auto answers = wire.frames(count);
    return answers && std::all_of(answers->begin(), answers->end(), [](Answer& a) { return a.number(2) == 0; });
  };
  const std::string notification = R"({"aps":{"alert":"头条"}})";

  ASSERT_TRUE(flood(0, tools::kRecordLimit - 1));
  EXPECT_EQ(server_->notify(notification), 1u);
  ASSERT_TRUE(flood(tools::kRecordLimit, 1));
  EXPECT_EQ(server_->notify(notification), 0u);

  wire.writeAll(report("beef"));
  ASSERT_TRUE(wire.next());
  EXPECT_EQ(server_->notify(notification), 1u);
}

// The next line a blocking socket reads, without its newline; nothing at the end.
std::optional<std::string> lineFrom(int fd) {
  std::string line;
  char c = 0;
  while (::recv(fd, &c, 1, 0) == 1) {
    if (c == '\n') return line;
    line += c;
  }
  return std::nullopt;
}

// A line of the control port is bounded: one past it is answered with an error as soon as it
// passes the bound, whether its end has come or not, the rest of it is passed over, and the
// lines after it are served. The longest message a frame carries still fits a line.
TEST_F(PushWireTest, TheControlPortRefusesALineLongerThanItsBoundAndServesTheNext) {
  Wire control(server_->controlPort());
  const std::string refused = "error: a line is at most 1048576 bytes";
  control.writeAll(os::dataFromString("notify " + std::string(3 << 20, 'x')));
  EXPECT_EQ(control.line(), refused);
  control.writeAll(os::dataFromString(std::string(1000, 'x') + "\n" + R"(push-id 7 {"message":"m"})" + "\n"));
  EXPECT_EQ(control.line(), "ok 7");
  // Whole, with its end, in one write.
  control.writeAll(
      os::dataFromString("push " + std::string(2 << 20, 'y') + "\n" + R"(push-id 8 {"message":"m"})" + "\n"));
  EXPECT_EQ(control.line(), refused);
  EXPECT_EQ(control.line(), "ok 8");
  const std::string longest = R"({"message":")" + std::string(65535 - 17 - 14, 'z') + R"("})";
  control.writeAll(os::dataFromString("push-id 9 " + longest + "\n"));
  EXPECT_EQ(control.line(), "ok 9");
}

// The control port takes a bounded number of connections: past it a newcomer is told why and its
// connection ends, while those open are served on.
TEST_F(PushWireTest, ControlConnectionsPastTheirBoundAreRefusedWithAnAnswer) {
  std::vector<std::unique_ptr<RawPeer>> open;
  for (int i = 0; i < 256; ++i) open.push_back(std::make_unique<RawPeer>(server_->controlPort()));
  RawPeer late(server_->controlPort());
  ASSERT_TRUE(late.connected());
  EXPECT_EQ(lineFrom(late.fd()), "error: too many control connections");
  EXPECT_EQ(lineFrom(late.fd()), std::nullopt);
  ASSERT_TRUE(open.back()->send(os::dataFromString(R"(push-id 7 {"message":"m"})" "\n")));
  EXPECT_EQ(lineFrom(open.back()->fd()), "ok 7");
  open.pop_back();
  ASSERT_TRUE(runUntil([&] { return server_->hasEvent("control closed"); }));
  RawPeer next(server_->controlPort());
  ASSERT_TRUE(next.send(os::dataFromString(R"(push-id 8 {"message":"m"})" "\n")));
  EXPECT_EQ(lineFrom(next.fd()), "ok 8");
}

// A device's link that does not read is sent each notification whole or not at all: what it
// reads later is whole lines, as many as the notifications said to reach it.
TEST_F(PushWireTest, ADeviceThatDoesNotReadGetsWholeNotificationsOrNone) {
  Wire wire(server_->corePort());
  logIn(wire, "beef");
  RawPeer device(server_->controlPort(), 4096);
  ASSERT_TRUE(device.send(os::dataFromString("device beef\n")));
  ASSERT_TRUE(runUntil([&] { return server_->hasEvent("device beef"); }));
  const std::string notification = R"({"aps":{"alert":")" + std::string(10000, 'n') + R"("}})";
  std::size_t reached = 0;
  for (std::size_t sent = 0; sent < 1000; ++sent) reached += server_->notify(notification);
  ASSERT_GT(reached, 0u);
  ASSERT_LT(reached, 1000u) << "a device that reads nothing was reached by every notification";
  ::shutdown(device.fd(), SHUT_WR);
  std::string got;
  char buffer[65536];
  for (long n; (n = ::recv(device.fd(), buffer, sizeof buffer, 0)) > 0;)
    got.append(buffer, static_cast<std::size_t>(n));
  std::size_t whole = 0, broken = 0;
  for (const auto& line : os::split(got, "\n")) ++(line == "remote " + notification ? whole : broken);
  EXPECT_EQ(broken, 1u) << "not only the empty text after the last line";
  EXPECT_EQ(whole, reached);
  EXPECT_TRUE(got.ends_with("\n"));
}

// The push connections open at once are bounded: past the bound a newcomer takes the place of
// the oldest connection that has not logged in, and with every one logged in it is refused,
// while the devices logged in are served on.
TEST_F(PushWireTest, PushConnectionsPastTheirBoundLetGoOfOneNotLoggedInOrAreRefused) {
  auto options = pushd::ServerOptions::onFreePorts();
  options.connectionLimit = 3;
  server_.reset();
  server_ = pushd::PushServer::start(options);
  RawPeer first(server_->corePort()), second(server_->corePort());
  const auto one = first.logIn(), two = second.logIn();
  ASSERT_NE(one.session, 0u);
  ASSERT_NE(two.session, 0u);
  RawPeer idle(server_->corePort());
  ASSERT_TRUE(runUntil([&] { return server_->connectionCount() == 3; }));
  // At the backup address, counted with the others.
  RawPeer third(server_->backupCorePort());
  EXPECT_FALSE(idle.next()) << "the connection that never logged in was kept";
  const auto three = third.logIn();
  ASSERT_NE(three.session, 0u);
  RawPeer refused(server_->corePort());
  ASSERT_TRUE(refused.connected());
  refused.send(Registration{}.frame());
  EXPECT_FALSE(refused.next()) << "a connection past the bound was taken";
  EXPECT_TRUE(server_->hasEvent("connection refused: 3 open"));
  EXPECT_EQ(server_->loggedInCount(), 3u);
  for (const auto* peer : {&first, &second, &third}) {
    const auto& login = peer == &first ? one : peer == &second ? two : three;
    ASSERT_TRUE(peer->send(Frame(2, 2, 9, login.session).number(login.uid, 4).done()));
    auto ack = peer->next();
    ASSERT_TRUE(ack);
    EXPECT_EQ(ack->command(), 19);
  }
}

// The lookup request of the table, written in its order: the header, the network type and the
// uid's low byte, a carrier name from byte 4, the SDK version at 92, the app key from byte 42.
struct Lookup {
  std::uint8_t network = 4, uidByte = 0;
  std::string carrier, key = "abc123", version = "1.8.1";
  os::Data datagram() const {
    os::Data d(128, 0);
    d[0] = 0x80;
    d[2] = 'U';
    d[3] = 'E';
    d[5] = network;
    d[6] = uidByte;
    std::copy(carrier.begin(), carrier.end(), d.begin() + 4);
    std::copy(version.begin(), version.end(), d.begin() + 92);
    std::copy(key.begin(), key.end(), d.begin() + 42);
    return d;
  }
};

TEST_F(PushWireTest, TheLookupAnswersOnlyTheProtocolsDatagram) {
  Wire wire(server_->corePort());
  const Login login = logIn(wire);
  auto lookup = [](auto change) {
    Lookup l;
    change(l);
    return l.datagram();
  };
  std::vector<os::Data> refused{
      lookup([](Lookup&) {}), lookup([](Lookup& l) { l.version = ""; }), lookup([](Lookup& l) { l.network = 5; }),
      lookup([](Lookup& l) { l.key = "\0abc123"s; })};
  refused[0][0] = 0;  // the length big-endian
  refused[0][1] = 0x80;
  auto uidLate = lookup([](Lookup&) {});
  uidLate[7] = static_cast<std::uint8_t>(login.uid);  // the uid's byte one place late
  auto trailing = lookup([](Lookup&) {});
  trailing[100] = 1;
  refused.push_back(uidLate);
  refused.push_back(trailing);
  const std::vector<os::Data> answered{
      lookup([&](Lookup& l) { l.uidByte = static_cast<std::uint8_t>(login.uid); }),
      lookup([](Lookup& l) { l.carrier = "CMCC"; }),
      lookup([](Lookup& l) { l.key = std::string(52, 'k'); }),  // over the version's first two bytes
      lookup([&](Lookup& l) { l.uidByte = static_cast<std::uint8_t>(login.uid + 1); })};

  os::testing::UdpTestPeer peer;
  auto to = *os::makeIPv4Address("127.0.0.1", server_->lookupPort());
  for (const auto& d : refused) peer.sendTo(d, to);
  for (const auto& d : answered) peer.sendTo(d, to);
  ASSERT_TRUE(peer.waitForDatagrams(answered.size(), 30));
  auto events = server_->events();
  EXPECT_EQ(std::count_if(events.begin(), events.end(), [](auto& e) { return e.starts_with("refused lookup"); }),
            static_cast<long>(refused.size()));
  // A uid byte the service never gave is answered (the service may have forgotten), and said.
  EXPECT_EQ(std::count_if(events.begin(), events.end(), [](auto& e) { return e.starts_with("unknown uid byte"); }), 1);
  EXPECT_TRUE(server_->hasEvent("unknown uid byte in lookup " + std::to_string((login.uid + 1) & 0xff)));

  auto reply = objectFromJSONData(peer.datagrams()[0]);
  ASSERT_TRUE(reply);
  const os::Array* ips = (*reply)["ips"].array();
  ASSERT_TRUE(ips);
  ASSERT_EQ(ips->size(), 3u);
  EXPECT_EQ((*ips)[0].stringOr(), "127.0.0.1:" + std::to_string(server_->corePort()));
  // The backups are addresses of their own: a client that takes them reaches them.
  EXPECT_EQ((*ips)[1].stringOr(), "127.0.0.1:" + std::to_string(server_->backupCorePort()));
  EXPECT_EQ((*ips)[2].stringOr(), "127.0.0.1:" + std::to_string(server_->backupReportPort()));
  EXPECT_EQ((*reply)["user"].stringOr(), "127.0.0.1:" + std::to_string(server_->backupReportPort()));
  EXPECT_NE(server_->backupCorePort(), server_->corePort());
  EXPECT_NE(server_->backupReportPort(), server_->reportPort());
}

TEST_F(PushWireTest, WithThePrimaryDownTheBackupsServeOn) {
  // The primary listens again on its own ports: ports no other program is given while it is down.
  auto options = pushd::ServerOptions::onFreePorts();
  options.corePort = static_cast<std::uint16_t>(os::testing::HttpTestServer::portOutsideTheGivenRange());
  options.reportPort = static_cast<std::uint16_t>(os::testing::HttpTestServer::portOutsideTheGivenRange({options.corePort}));
  server_.reset();
  server_ = pushd::PushServer::start(options);
  ASSERT_TRUE(server_);
  Wire primary(server_->corePort());
  const Login first = logIn(primary);
  ASSERT_EQ(server_->control("primary down"), "ok");
  ASSERT_TRUE(runUntil([&] { return server_->hasEvent("closed " + std::to_string(first.uid)); }));
  EXPECT_FALSE(Wire::reachable(server_->corePort()));
  EXPECT_FALSE(Wire::reachable(server_->reportPort()));
  EXPECT_TRUE(Wire::reachable(server_->backupReportPort()));
  os::testing::UdpTestPeer peer;
  peer.sendTo(Lookup{}.datagram(), *os::makeIPv4Address("127.0.0.1", server_->lookupPort()));
  ASSERT_TRUE(runUntil([&] { return server_->hasEvent("refused lookup: the primary is down"); }));

  // The backup core address is a push server of its own standing.
  Wire backup(server_->backupCorePort());
  EXPECT_NE(logIn(backup).session, 0u);

  ASSERT_EQ(server_->control("primary up"), "ok");
  EXPECT_TRUE(Wire::reachable(server_->reportPort()));
  Wire again(server_->corePort());
  EXPECT_NE(logIn(again).session, 0u);
  peer.sendTo(Lookup{}.datagram(), *os::makeIPv4Address("127.0.0.1", server_->lookupPort()));
  EXPECT_TRUE(peer.waitForDatagrams(1, 30));
  EXPECT_EQ(server_->loggedInCount(), 2u);
}

// A gzip member made here, not by a compressor: a header naming a file and a time, the text in
// stored deflate blocks, then its CRC-32 and length. No compressor at its default gives these bytes.
os::Data storedGzip(const std::string& text) {
  os::Data out{0x1f, 0x8b, 8, 0x08, 0x00, 0xf1, 0x53, 0x65, 0, 3};  // FNAME, a time, Unix
  const std::string name = "report.json";
  out.insert(out.end(), name.begin(), name.end());
  out.push_back(0);
  auto little = [&](std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
  };
  std::size_t at = 0;
  do {
    const std::size_t count = std::min<std::size_t>(text.size() - at, 1000);  // several blocks for a long text
    out.push_back(at + count == text.size() ? 1 : 0);
    little(static_cast<std::uint32_t>(count), 2);
    little(static_cast<std::uint32_t>(~count & 0xffff), 2);
    out.insert(out.end(), text.begin() + static_cast<long>(at), text.begin() + static_cast<long>(at + count));
    at += count;
  } while (at < text.size());
  std::uint32_t crc = 0xffffffff;
  for (unsigned char c : text) {
    crc ^= c;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xedb88320 & (0 - (crc & 1)));
  }
  little(~crc, 4);
  little(static_cast<std::uint32_t>(text.size()), 4);
  return out;
}

// The report and badge uploads: gzipped JSON envelopes of records on "/v2/report", plain JSON
// badge bodies on "/v1/user/", each signed "Basic " + Base64 of "uid:" + MD5(uid, MD5(password),
// MD5(body)).
class PushReportWireTest : public PushWireTest {
 protected:
  void SetUp() override {
    Wire wire(server_->corePort());
    login_ = logIn(wire);
  }
  std::string sign(const os::Data& body, std::uint32_t uid) const {
    std::string id = std::to_string(static_cast<std::int32_t>(uid));
    return "Basic " + *base64EncodedString(id + ":" + os::md5Hex(id + os::md5Hex(login_.password) + os::md5Hex(body)));
  }
  std::string envelope(const std::string& records, std::uint32_t uid, const std::string& appKey = "abc123") const {
    return R"({"platform":"i","uid":)" + std::to_string(uid) + R"(,"sdk_ver":"1.8.1","app_key":")" + appKey +
           R"(","content":[)" + records + "]}";
  }
  // Posts the bytes as they are, with the headers of a report packet; -1 when nothing answers.
  int post(const os::Data& body, const std::string& authorization, const std::string& appKey = "abc123",
           bool gzipped = true, std::uint16_t port = 0) {
    httplib::Client client("127.0.0.1", port ? port : server_->reportPort());
    os::testing::patient(client);
    httplib::Headers headers{{"X-App-Key", appKey}, {"Authorization", authorization}};
    if (gzipped) headers.emplace("Content-Encoding", "gzip");
    auto answer = client.Post("/v2/report", headers, std::string(body.begin(), body.end()), "application/json");
    return answer ? answer->status : -1;
  }
  int report(const std::string& json, std::optional<std::uint32_t> uid = {}, const std::string& appKey = "abc123",
             bool gzipped = true) {
    const os::Data body = gzipped ? storedGzip(json) : os::dataFromString(json);
    return post(body, sign(body, uid.value_or(login_.uid)), appKey, gzipped);
  }
  int badge(const std::string& json, const std::string& contentType = "text/plain") {
    httplib::Client client("127.0.0.1", server_->reportPort());
    os::testing::patient(client);
    httplib::Headers headers{{"Authorization", sign(os::dataFromString(json), login_.uid)}};
    auto answer = client.Post("/v1/user/", headers, json, contentType.c_str());
    return answer ? answer->status : -1;
  }
  std::string records(const std::string& r) const { return envelope(r, login_.uid); }

  Login login_;
};

TEST_F(PushReportWireTest, ReportPacketsCarryTheEnvelopeAndRecordsOfTheTables) {
  const std::string launch =
      R"({"type":"active_launch","itime":1700000000,"session_id":"s","date":"2023-11-14","time":"22:13:20"})";
  const std::string status = R"({"type":"msg_status","itime":1700000000,"result":2001,"msg_id":"5001"})";
  const std::string location = R"({"type":"loc_info","itime":1700000000,"wifi":[{"ssid":"x"}],"cell":"","gps":""})";
  EXPECT_EQ(report(records(launch + "," + status + "," + location)), 200);
  EXPECT_EQ(server_->reportService().records().size(), 3u);

  // "msg_id" is a string; "result" one of 2000 to 2004; lists or "".
  EXPECT_EQ(report(records(R"({"type":"msg_status","itime":1700000000,"result":2001,"msg_id":5001})")), 400);
  EXPECT_EQ(report(records(R"({"type":"msg_status","itime":1700000000,"result":1,"msg_id":""})")), 400);
  EXPECT_EQ(report(records(R"({"type":"loc_info","itime":1700000000,"wifi":"","cell":{},"gps":""})")), 400);
  EXPECT_EQ(report(records(R"({"type":"page_view","itime":1700000000})")), 400);
  // An envelope with no record is never posted.
  EXPECT_EQ(report(records("")), 400);
  EXPECT_EQ(report(R"({"platform":"a","uid":)" + std::to_string(login_.uid) +
                   R"(,"sdk_ver":"1.8.1","app_key":"abc123","content":[)" + launch + "]}"),
            400);
  // Not gzipped; the header's app key not the envelope's.
  EXPECT_EQ(report(records(launch), {}, "abc123", false), 400);
  EXPECT_EQ(report(records(launch), {}, "other"), 400);
  // Signed for a uid the service never gave (0: not registered), or for another app key.
  EXPECT_EQ(report(envelope(launch, 0), 0u), 401);
  EXPECT_EQ(report(envelope(launch, login_.uid, "other"), {}, "other"), 401);
  EXPECT_EQ(server_->reportService().records().size(), 3u);
}

TEST_F(PushReportWireTest, BadgeBodiesArePlainJsonWithAValueOfZeroOrMore) {
  const std::string uid = std::to_string(login_.uid);
  auto body = [&](const std::string& badge) {
    return R"({"uid":)" + uid + R"(,"platform":"i","app_key":"abc123","itime":1700000000.25,"content":{"badge":)" +
           badge + "}}";
  };
  EXPECT_EQ(badge(body("3")), 200);
  EXPECT_EQ(badge(body("0")), 200);
  EXPECT_EQ(badge(body("-3")), 400);  // a negative value goes as 0
  EXPECT_EQ(badge(body("\"3\"")), 400);
  EXPECT_EQ(badge(body("3"), "application/json"), 400);
  EXPECT_EQ(badge(R"({"uid":)" + uid + R"(,"platform":"i","app_key":"abc123","content":{"badge":3}})"), 400);
  EXPECT_EQ(server_->reportService().badges(), (std::vector<long long>{3, 0}));
}

// A long run uploads a badge at every change: the service keeps the newest answers and badges,
// not one of each for its life.
TEST_F(PushReportWireTest, AnswersAndBadgesKeepTheNewest) {
  const std::string uid = std::to_string(login_.uid);
  const std::size_t sent = pushd::ReportService::kAnswerLimit + 3;
  for (std::size_t i = 0; i < sent; ++i)
    ASSERT_EQ(badge(R"({"uid":)" + uid + R"(,"platform":"i","app_key":"abc123","itime":1700000000,"content":{"badge":)" +
                    std::to_string(i) + "}}"),
              200);
  auto badges = server_->reportService().badges();
  ASSERT_EQ(badges.size(), pushd::ReportService::kAnswerLimit);
  EXPECT_EQ(badges.front(), 3);
  EXPECT_EQ(badges.back(), static_cast<long long>(sent - 1));
  EXPECT_EQ(server_->reportService().answers().size(), pushd::ReportService::kAnswerLimit);
}

std::string launchAt(long long itime, const std::string& session = "s") {
  return R"({"type":"active_launch","itime":)" + std::to_string(itime) + R"(,"session_id":")" + session +
         R"(","date":"2023-11-14","time":"22:13:20"})";
}

TEST_F(PushReportWireTest, TheSignatureCoversTheGzipBytesAsTheyArrived) {
  const std::string json = records(launchAt(1700000000));
  const os::Data body = storedGzip(json);
  EXPECT_EQ(post(body, sign(os::dataFromString(json), login_.uid)), 401);  // over the text, not what was sent
  EXPECT_EQ(post(body, sign(body, login_.uid)), 200);
  EXPECT_EQ(post(storedGzip(json), sign(body, login_.uid + 1)), 401);
  // The uid is a signed 32-bit number: one past that range is not this device's, whatever its low bits.
  std::string wide = json;
  const std::string uid = std::to_string(login_.uid);
  wide.replace(wide.find(uid), uid.size(), std::to_string(login_.uid + 4294967296ull));
  EXPECT_EQ(report(wide), 400);
  EXPECT_EQ(server_->reportService().records().size(), 1u);
}

TEST_F(PushReportWireTest, TimesAreTenDigitsAndNumbersAreReadWithinTheirRange) {
  for (const char* itime : {"999999999", "10000000000", "1700000000.5", "\"1700000000\"", "1e300", "-1e300"}) {
    std::string record = launchAt(1700000000);
    record.replace(record.find("1700000000"), 10, itime);
    EXPECT_EQ(report(records(record)), 400) << itime;
  }
  EXPECT_EQ(report(records(R"({"type":"msg_status","itime":1700000000,"result":1e300,"msg_id":"1"})")), 400);
  EXPECT_EQ(report(records(R"({"type":"active_terminate","itime":1700000000,"duration":1e300,"session_id":"s",)"
                           R"("activities":"","date":"2023-11-14","time":"22:13:20"})")),
            400);
  EXPECT_EQ(report(R"({"platform":"i","uid":1e300,"sdk_ver":"1.8.1","app_key":"abc123","content":[)" +
                   launchAt(1700000000) + "]}"),
            400);
  EXPECT_EQ(badge(R"({"uid":)" + std::to_string(login_.uid) +
                  R"(,"platform":"i","app_key":"abc123","itime":1700000000.25,"content":{"badge":1e300}})"),
            400);
  EXPECT_TRUE(server_->reportService().records().empty());
}

TEST_F(PushReportWireTest, ADeviceRecordIsTheElevenKeysOfTheDeviceDescription) {
  auto device = [](const std::string& change) {
    std::string r = R"({"itime":1700000000,"type":"device_info","os_version":"6.1.4","sdk_version":"1.8.1",)"
                    R"("timezone":"Asia/Shanghai","app_versioncode":"27","app_versionname":"27","language":"zh-Hans",)"
                    R"("resolution":"640*1136","Channel":"","model":"iPhone5,2"})";
    if (!change.empty()) r.replace(r.find(R"("model")"), 19, change);
    return r;
  };
  EXPECT_EQ(report(records(device(""))), 200);
  EXPECT_EQ(report(records(device(R"("brand":"x")"))), 400);                      // another key in its place
  EXPECT_EQ(report(records(device(R"("model":"iPhone5,2","brand":"x")"))), 400);  // a twelfth key
  EXPECT_EQ(report(records(device(R"("model":5)"))), 400);
  std::string renamed = device("");
  renamed.replace(renamed.find(R"("app_versionname":"27")"), 22, R"("app_versionname":"28")");
  EXPECT_EQ(report(records(renamed)), 400);
  EXPECT_EQ(server_->reportService().records().size(), 1u);
}

TEST_F(PushReportWireTest, APacketIsCompactWithinItsBudgetAndCarriesEachRecordOnce) {
  // No white space outside strings.
  std::string spaced = records(launchAt(1700000000, "a b"));
  spaced.replace(spaced.find(R"(,"date")"), 1, ", ");
  EXPECT_EQ(report(spaced), 400);

  // The budget: the envelope's JSON without "content", the last record's JSON and 10, then each
  // further record's JSON and 1, at most 1024 in all once there are two records.
  const std::string bare = R"({"platform":"i","uid":)" + std::to_string(login_.uid) +
                           R"(,"sdk_ver":"1.8.1","app_key":"abc123"})";
  const std::string newest = launchAt(1700000100, "n");
  auto older = [&](std::size_t total) {
    const std::size_t padding = total - (bare.size() + newest.size() + 10 + 1) - launchAt(1700000000, "").size();
    return launchAt(1700000000, std::string(padding, 'p'));
  };
  ASSERT_EQ(bare.size() + newest.size() + 10 + older(1024).size() + 1, 1024u);
  EXPECT_EQ(report(records(newest + "," + older(1025))), 400);
  EXPECT_EQ(report(records(newest + "," + older(1024))), 200);
  EXPECT_EQ(report(records(launchAt(1700000200, std::string(3000, 'q')))), 200);  // one record is taken whole
  EXPECT_EQ(server_->reportService().records().size(), 3u);

  // Equal records in a packet are events of their own (two statuses of one message in one
  // second): each is taken and kept. Sent again in a later packet (its answer lost): taken,
  // counted, kept once.
  auto& service = server_->reportService();
  const std::string a = launchAt(1700000300, "a"), b = launchAt(1700000299, "b");
  EXPECT_EQ(report(records(a + "," + b + "," + b)), 200);
  EXPECT_EQ(service.duplicates(), 1u);
  EXPECT_EQ(service.records().size(), 6u);
  EXPECT_EQ(report(records(a + "," + b + "," + b)), 200);
  EXPECT_EQ(report(records(b)), 200);
  EXPECT_EQ(service.repeats(), 4u);
  EXPECT_EQ(service.records().size(), 6u);

  // Last-added first: the first record is the newest, unless it closes a session (dated at the
  // close). A packet out of that order is counted.
  const std::string close = R"({"type":"active_terminate","itime":1700000400,"duration":5,"session_id":"c",)"
                            R"("activities":"","date":"2023-11-14","time":"22:20:00"})";
  EXPECT_EQ(report(records(close + "," + launchAt(1700000401, "l"))), 200);
  EXPECT_EQ(service.disorders(), 0u);
  EXPECT_EQ(report(records(launchAt(1700000500, "x") + "," + launchAt(1700000501, "y"))), 200);
  EXPECT_EQ(service.disorders(), 1u);
}

}  // namespace
