// The local push service taking a burst of frames sent back to back on one connection: 25,000,
// 100,000 and 400,000 heartbeats after a login, each answered by an acknowledgement, timed from
// the first byte written to the last acknowledgement read. The baseline sends the same bytes
// through an echo on loopback that only copies them back: both grow with the burst's length
// alone, so the ratio stays flat from 1x to 16x.
//
// Registrations arriving together: 100 and 400 connections each sending five registrations back to
// back, with the identity file that scripts/run gives the service, timed until every one is
// answered. The baseline is the same registrations to a service that keeps its identities in
// memory only: the difference is what keeping them on disk costs.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bench/ProcessCpu.h"
#include "os/crypto/Digest.h"
#include "os/store/FileManager.h"
#include "os/net/Socket.h"
#include "os/runtime/RunLoop.h"
#include "os/runtime/Thread.h"
#include "os/testing/TestSandbox.h"
#include "tools/pushd/server/PushServer.h"

namespace {

bool runUntil(const std::function<bool()>& condition) { return os::RunLoop::current()->runUntil(condition, 120); }

// One connection driven by this thread's run loop: writes whatever it is given as the socket takes
// it, and counts the bytes and whole length-prefixed frames that come back. Setup keeps the frames
// to read them; a burst only counts them.
class Peer {
 public:
  // Connected once made, unless told not to wait (many made at once are waited for together).
  explicit Peer(std::uint16_t port, bool wait = true) {
    socket_->schedule(os::RunLoop::current(), {[this](int error) { connected_ = error == 0; }, [this] { read(); },
                                               [this] { flush(); }});
    socket_->connect(*os::makeIPv4Address("127.0.0.1", port));
    if (wait) runUntil([&] { return connected_; });
  }
  ~Peer() { socket_->close(); }
  bool connected() const { return connected_; }
  void write(const os::Data& bytes) {
    out_.insert(out_.end(), bytes.begin(), bytes.end());
    flush();
  }
  std::size_t frames() const { return frames_; }
  std::size_t bytes() const { return bytes_; }
  // The kept frame at `index` (setup only).
  os::Data frame(std::size_t index) const {
    std::size_t at = 0;
    for (std::size_t i = 0; i < index; ++i) at += (std::size_t{in_[at]} << 8) | in_[at + 1];
    const std::size_t length = (std::size_t{in_[at]} << 8) | in_[at + 1];
    return os::Data(in_.begin() + static_cast<long>(at), in_.begin() + static_cast<long>(at + length));
  }
  void stopKeeping() {
    keep_ = false;
    in_.erase(in_.begin(), in_.begin() + static_cast<long>(scan_));
    scan_ = 0;
  }

 private:
  void read() {
    std::uint8_t buffer[65536];
    long n;
    while ((n = socket_->receive(buffer, sizeof buffer)) > 0) {
      in_.insert(in_.end(), buffer, buffer + n);
      bytes_ += static_cast<std::size_t>(n);
    }
    while (in_.size() - scan_ >= 2) {
      const std::size_t length = (std::size_t{in_[scan_]} << 8) | in_[scan_ + 1];
      if (length < 2 || in_.size() - scan_ < length) break;
      scan_ += length;
      ++frames_;
    }
    if (!keep_) stopKeeping();
  }
  void flush() {
    while (outAt_ < out_.size()) {
      long n = socket_->send(out_.data() + outAt_, out_.size() - outAt_);
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return socket_->enableWriteCallback();
      if (n <= 0) break;
      outAt_ += static_cast<std::size_t>(n);
    }
    out_.clear();
    outAt_ = 0;
  }

  std::shared_ptr<os::TcpSocket> socket_ = os::TcpSocket::create();
  bool connected_ = false;
  bool keep_ = true;
  os::Data in_, out_;
  std::size_t scan_ = 0, outAt_ = 0, frames_ = 0, bytes_ = 0;
};

void text(os::Data& frame, const std::string& s) {
  frame.push_back(static_cast<std::uint8_t>(s.size() >> 8));
  frame.push_back(static_cast<std::uint8_t>(s.size()));
  frame.insert(frame.end(), s.begin(), s.end());
}

os::Data sized(os::Data frame) {
  frame[0] = static_cast<std::uint8_t>(frame.size() >> 8);
  frame[1] = static_cast<std::uint8_t>(frame.size());
  return frame;
}

std::uint32_t bigEndian(const os::Data& bytes, std::size_t at) {
  return (std::uint32_t{bytes[at]} << 24) | (std::uint32_t{bytes[at + 1]} << 16) | (std::uint32_t{bytes[at + 2]} << 8) |
         bytes[at + 3];
}

// `count` heartbeats (version 2, command 2, the session id and the uid) back to back.
os::Data heartbeats(std::size_t count, std::uint32_t session, std::uint32_t uid) {
  os::Data burst;
  burst.reserve(count * 14);
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t frame[14] = {0,
                                    14,
                                    2,
                                    2,
                                    static_cast<std::uint8_t>(i >> 8),
                                    static_cast<std::uint8_t>(i),
                                    static_cast<std::uint8_t>(session >> 24),
                                    static_cast<std::uint8_t>(session >> 16),
                                    static_cast<std::uint8_t>(session >> 8),
                                    static_cast<std::uint8_t>(session),
                                    static_cast<std::uint8_t>(uid >> 24),
                                    static_cast<std::uint8_t>(uid >> 16),
                                    static_cast<std::uint8_t>(uid >> 8),
                                    static_cast<std::uint8_t>(uid)};
    burst.insert(burst.end(), frame, frame + 14);
  }
  return burst;
}

// A registration as the command tables say, written by hand.
os::Data registrationFrame() {
  os::Data registration{0, 0, 8, 0, 0, 1, 0, 0, 0, 0};
  text(registration, "udid$$ $$bundle$$abc123");
  text(registration, "1");
  text(registration, "6.1$$Phone$$ $$ $$c$$1.8.1");
  text(registration, " ");
  registration.insert(registration.end(), {0, 0, 1});
  return sized(registration);
}

void FrameBurst(benchmark::State& state) {
  const auto count = static_cast<std::size_t>(state.range(0));
  auto server = pushd::PushServer::start(pushd::ServerOptions::onFreePorts());
  Peer peer(server->corePort());
  peer.write(registrationFrame());
  if (!runUntil([&] { return peer.frames() == 1; })) return state.SkipWithError("no registration answer");
  const os::Data answer = peer.frame(0);  // header, status, uid, password
  const std::uint32_t uid = bigEndian(answer, 8);
  os::Data login{0, 0, 10, 1, 0, 2, 0, 0, 0, 0};
  login.insert(login.end(), answer.begin() + 8, answer.begin() + 12);
  login.insert(login.end(), {0x69, 0, 0, 0});
  const std::size_t passwordLength = (std::size_t{answer[12]} << 8) | answer[13];
  text(login, os::md5Hex(std::string(answer.begin() + 14, answer.begin() + 14 + static_cast<long>(passwordLength))));
  login.insert(login.end(), {0, 0, 0, 1});
  text(login, "abc123");
  login.push_back(1);
  peer.write(sized(login));
  if (!runUntil([&] { return peer.frames() == 2; })) return state.SkipWithError("no login answer");
  const std::uint32_t session = bigEndian(peer.frame(1), 8);
  peer.stopKeeping();
  const os::Data burst = heartbeats(count, session, uid);
  for (auto _ : state) {
    const std::size_t target = peer.frames() + count;
    peer.write(burst);
    if (!runUntil([&] { return peer.frames() >= target; })) return state.SkipWithError("acknowledgements lost");
  }
  state.counters["frames_per_second"] =
      benchmark::Counter(static_cast<double>(state.iterations() * count), benchmark::Counter::kIsRate);
}
BENCHMARK(FrameBurst)->Arg(25000)->Arg(100000)->Arg(400000)->Unit(benchmark::kMillisecond)->UseRealTime();

// An echo on a thread of its own that copies every byte it reads back to its sender.
class Echo {
 public:
  Echo() {
    thread_->start();
    thread_->perform(
        [this] {
          listener_ = os::TcpListener::listen("127.0.0.1", 0);
          listener_->schedule(thread_->runLoop(), [this](std::shared_ptr<os::TcpSocket> socket) {
            socket_ = std::move(socket);
            socket_->schedule(thread_->runLoop(), {nullptr, [this] { read(); }, [this] { flush(); }});
          });
        },
        true);
  }
  ~Echo() {
    thread_->perform(
        [this] {
          if (socket_) socket_->close();
          listener_->close();
        },
        true);
    thread_->cancel();
    thread_->join();
  }
  std::uint16_t port() const { return listener_->port(); }

 private:
  void read() {
    std::uint8_t buffer[16384];
    long n;
    while ((n = socket_->receive(buffer, sizeof buffer)) > 0) out_.insert(out_.end(), buffer, buffer + n);
    flush();
  }
  void flush() {
    while (outAt_ < out_.size()) {
      long n = socket_->send(out_.data() + outAt_, out_.size() - outAt_);
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return socket_->enableWriteCallback();
      if (n <= 0) break;
      outAt_ += static_cast<std::size_t>(n);
    }
    out_.clear();
    outAt_ = 0;
  }

  std::shared_ptr<os::Thread> thread_ = os::Thread::create("echo");
  std::shared_ptr<os::TcpListener> listener_;
  std::shared_ptr<os::TcpSocket> socket_;
  os::Data out_;
  std::size_t outAt_ = 0;
};

// Baseline: the same burst copied back by the echo, timed to its last byte.
void BaselineCopyBurst(benchmark::State& state) {
  const auto count = static_cast<std::size_t>(state.range(0));
  Echo echo;
  Peer peer(echo.port());
  peer.stopKeeping();
  const os::Data burst = heartbeats(count, 1, 1001);
  for (auto _ : state) {
    const std::size_t target = peer.bytes() + burst.size();
    peer.write(burst);
    if (!runUntil([&] { return peer.bytes() >= target; })) return state.SkipWithError("bytes lost");
  }
  state.counters["frames_per_second"] =
      benchmark::Counter(static_cast<double>(state.iterations() * count), benchmark::Counter::kIsRate);
}
BENCHMARK(BaselineCopyBurst)->Arg(25000)->Arg(100000)->Arg(400000)->Unit(benchmark::kMillisecond)->UseRealTime();

constexpr std::size_t kRegistrationsEach = 5;

// The connections' registrations, all sent at once, until every one is answered; a fresh service
// (and identity file) each round, made and connected outside the timing.
void registerTogether(benchmark::State& state, bool onDisk) {
  const auto clients = static_cast<std::size_t>(state.range(0));
  os::Data registrations;
  for (std::size_t i = 0; i < kRegistrationsEach; ++i) {
    const os::Data frame = registrationFrame();
    registrations.insert(registrations.end(), frame.begin(), frame.end());
  }
  os::TestSandbox sandbox;
  auto options = pushd::ServerOptions::onFreePorts();
  if (onDisk) options.identityFile = sandbox.root() + "/identities";
  for (auto _ : state) {
    state.PauseTiming();
    os::FileManager::defaultManager().removeItemAtPath(options.identityFile);
    auto server = pushd::PushServer::start(options);
    std::vector<std::unique_ptr<Peer>> peers;
    for (std::size_t c = 0; c < clients; ++c) peers.push_back(std::make_unique<Peer>(server->corePort(), false));
    auto connected = [&] { return std::all_of(peers.begin(), peers.end(), [](auto& p) { return p->connected(); }); };
    if (!runUntil(connected)) return state.SkipWithError("not connected");
    for (auto& peer : peers) peer->stopKeeping();
    state.ResumeTiming();
    for (auto& peer : peers) peer->write(registrations);
    auto answered = [&] {
      return std::all_of(peers.begin(), peers.end(), [](auto& p) { return p->frames() == kRegistrationsEach; });
    };
    if (!runUntil(answered)) return state.SkipWithError("registrations unanswered");
    state.PauseTiming();
    peers.clear();
    server.reset();
    state.ResumeTiming();
  }
  state.counters["registrations_per_second"] = benchmark::Counter(
      static_cast<double>(state.iterations() * clients * kRegistrationsEach), benchmark::Counter::kIsRate);
}

void RegisterTogether(benchmark::State& state) { registerTogether(state, true); }
BENCHMARK(RegisterTogether)->Arg(100)->Arg(400)->Unit(benchmark::kMillisecond)->UseRealTime();

// Baseline: the same registrations to a service without an identity file.
void BaselineRegisterInMemory(benchmark::State& state) { registerTogether(state, false); }
BENCHMARK(BaselineRegisterInMemory)->Arg(100)->Arg(400)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

NEWSREADER_BENCH_MAIN()
