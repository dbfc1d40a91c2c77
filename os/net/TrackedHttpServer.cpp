#include "os/net/TrackedHttpServer.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <future>
#include <list>
#include <optional>
#include <unordered_map>
#include <utility>

#include "os/net/Socket.h"
#include "os/runtime/Process.h"

namespace os {

namespace {

using Clock = std::chrono::steady_clock;
using Instant = Clock::time_point;

bool wouldBlock() { return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR; }

Clock::duration after(double seconds) {
  // Held to a year, lest a time past the clock's range wrap round.
  return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(std::clamp(seconds, 0.0, 365 * 86400.0)));
}

// TLS records travel through the connection's socket itself, so that its sends never raise
// SIGPIPE on a connection the peer or a stop has ended.
int bioWrite(BIO* bio, const char* data, int length) {
  auto* socket = static_cast<TcpSocket*>(BIO_get_data(bio));
  BIO_clear_retry_flags(bio);
  const long n = socket->send(data, static_cast<std::size_t>(length));
  if (n < 0 && wouldBlock()) BIO_set_retry_write(bio);
  return static_cast<int>(n);
}

int bioRead(BIO* bio, char* data, int length) {
  auto* socket = static_cast<TcpSocket*>(BIO_get_data(bio));
  BIO_clear_retry_flags(bio);
  const long n = socket->receive(data, static_cast<std::size_t>(length));
  if (n < 0 && wouldBlock()) BIO_set_retry_read(bio);
  return static_cast<int>(n);
}

long bioControl(BIO*, int command, long, void*) { return command == BIO_CTRL_FLUSH ? 1 : 0; }

int bioCreate(BIO* bio) {
  BIO_set_init(bio, 1);
  return 1;
}

const BIO_METHOD* socketMethod() {
  static BIO_METHOD* method = [] {
    BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "connection socket");
    BIO_meth_set_write(m, bioWrite);
    BIO_meth_set_read(m, bioRead);
    BIO_meth_set_ctrl(m, bioControl);
    BIO_meth_set_create(m, bioCreate);
    return m;
  }();
  return method;
}

std::string lowered(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return out;
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

// A request line whose target is a whole address ("GET http://host:port/path?query HTTP/1.1", as
// a client sends through a proxy, and as a server must take) in the form the HTTP layer routes,
// with the address's host and port, which stand for the Host header: nothing when the target is a
// path already; an empty line when the address is unusable (no host, or a user's name in it).
struct OriginForm {
  std::string line;
  std::string host;
};
std::optional<OriginForm> originForm(std::string_view line) {
  const std::size_t first = line.find(' ');
  const std::size_t last = line.rfind(' ');
  if (first == std::string_view::npos || last <= first) return std::nullopt;
  const std::string_view target = line.substr(first + 1, last - first - 1);
  std::size_t scheme = 0;
  for (std::string_view prefix : {"http://", "https://"})
    if (target.size() >= prefix.size() && lowered(target.substr(0, prefix.size())) == prefix) scheme = prefix.size();
  if (scheme == 0) return std::nullopt;
  const std::string_view rest = target.substr(scheme);
  const std::size_t pathAt = std::min(rest.find_first_of("/?"), rest.size());
  const std::string_view host = rest.substr(0, pathAt);
  if (host.empty() || host.find('@') != std::string_view::npos) return OriginForm{};
  std::string path(rest.substr(pathAt));
  if (path.empty() || path.front() != '/') path.insert(0, "/");
  return OriginForm{std::string(line.substr(0, first + 1)) + path + std::string(line.substr(last)), std::string(host)};
}

// The one range of bytes a Range value asks for, written as the HTTP layer reads it ("bytes=F-L",
// either end left out), or nothing when it asks for none it could serve. The layer answers 416 to
// any value it cannot read, before the route runs: a POST carrying one would be refused unserved,
// a missing page answered as if it were there. A value in another unit, a range whose ends are
// reversed or absent, is ignored, as a server may: the answer goes whole. A position past what a
// 64-bit count holds is past any answer: it is held to the largest the layer reads.
std::optional<std::string> byteRange(std::string_view value) {
  const std::size_t equals = value.find('=');
  if (equals == std::string_view::npos || lowered(trimmed(value.substr(0, equals))) != "bytes") return std::nullopt;
  const std::string_view asked = trimmed(value.substr(equals + 1));
  const std::size_t dash = asked.find('-');
  if (dash == std::string_view::npos) return std::nullopt;
  constexpr std::size_t kDigits = 18;
  std::optional<std::uint64_t> ends[2];
  std::string written[2];
  const std::string_view parts[2] = {asked.substr(0, dash), asked.substr(dash + 1)};
  for (int i = 0; i < 2; ++i) {
    std::string_view digits = parts[i];
    if (digits.find_first_not_of("0123456789") != std::string_view::npos) return std::nullopt;
    if (digits.empty()) continue;
    while (digits.size() > 1 && digits.front() == '0') digits.remove_prefix(1);
    written[i] = digits.size() > kDigits ? std::string(kDigits, '9') : std::string(digits);
    ends[i] = std::stoull(written[i]);
  }
  if (!ends[0] && !ends[1]) return std::nullopt;
  if (ends[0] && ends[1] && *ends[0] > *ends[1]) return std::nullopt;
  return "bytes=" + written[0] + "-" + written[1];
}

// Whether a Connection value names "close" among its options, in any case.
bool asksToClose(std::string_view value) {
  while (!value.empty()) {
    const std::size_t comma = std::min(value.find(','), value.size());
    if (lowered(trimmed(value.substr(0, comma))) == "close") return true;
    value.remove_prefix(std::min(comma + 1, value.size()));
  }
  return false;
}

// What is wrong with a request line, as a status: 0 when nothing is. A method is one the HTTP layer
// routes (names are case-sensitive), the version 1.0 or 1.1.
int requestLineRefusal(std::string_view line) {
  const std::size_t first = line.find(' ');
  const std::size_t last = line.rfind(' ');
  if (first == std::string_view::npos || first == 0 || last <= first) return 400;
  const std::string_view method = line.substr(0, first);
  const std::string_view version = line.substr(last + 1);
  if (line.substr(first + 1, last - first - 1).find_first_not_of(' ') == std::string_view::npos) return 400;
  if (version.size() != 8 || !version.starts_with("HTTP/") || !std::isdigit(static_cast<unsigned char>(version[5])) ||
      version[6] != '.' || !std::isdigit(static_cast<unsigned char>(version[7])))
    return 400;
  if (version != "HTTP/1.1" && version != "HTTP/1.0") return 505;
  for (std::string_view known : {"GET", "HEAD", "POST", "PUT", "PATCH", "DELETE", "OPTIONS"})
    if (method == known) return 0;
  return 501;
}

const char* reason(int status) {
  switch (status) {
    case 400:
      return "Bad Request";
    case 413:
      return "Payload Too Large";
    case 414:
      return "URI Too Long";
    case 415:
      return "Unsupported Media Type";
    case 431:
      return "Request Header Fields Too Large";
    case 503:
      return "Service Unavailable";
    case 505:
      return "HTTP Version Not Supported";
    default:
      return "Not Implemented";
  }
}

// What a worker's stack holds, whatever the process's stack limit makes a thread's default (2 MiB
// when it has none). The HTTP layer matches a path to each route's pattern by recursion, a few
// hundred bytes of stack for each byte: the longest path it takes (8 KiB) needs about 5 MiB.
constexpr std::size_t kWorkerStack = std::size_t{32} << 20;

// What the loop reads from a connection at once.
constexpr std::size_t kReadBlock = 64 * 1024;

// The server and connection the calling thread serves a request of.
thread_local TrackedHttpServer* tServer = nullptr;
thread_local const std::shared_ptr<TcpSocket>* tConnection = nullptr;

}  // namespace

struct TrackedHttpServer::Connection {
  enum class State { Handshake, Idle, Head, Body, Working, Sending, Refusing, Lingering };
  enum class Framing { None, Length, Chunked };
  enum class ChunkPart { Size, Data, DataEnd, Trailer };

  ~Connection() {
    if (inflater) inflateEnd(inflater.get());
    if (tls) SSL_free(tls);
  }

  std::shared_ptr<TcpSocket> socket;
  SSL* tls = nullptr;
  State state = State::Idle;
  std::string in;  // bytes received and not yet taken
  std::size_t scanned = 0;  // how far the head's end was looked for
  std::size_t served = 0;

  // The request read so far: its head as handed on (the same lines, less an expectation already
  // met) and its body, out of its chunks.
  std::string head, body;
  Framing framing = Framing::None;
  std::uint64_t lengthLeft = 0;
  ChunkPart chunkPart = ChunkPart::Size;
  std::uint64_t chunkLeft = 0;
  std::size_t trailerBytes = 0;
  std::uint64_t sent = 0;  // body bytes as sent, within the framing
  std::string tail;  // what follows the body as handed on
  std::unique_ptr<z_stream> inflater;  // only counts what the body inflates to
  std::uint64_t inflated = 0;
  bool inflateEnded = false;

  Instant requestDue = Instant::max();  // the request now arriving is whole by then
  Instant due = Instant::max();         // when the connection is let go, unless something comes
  bool timed = false;
  std::list<Connection*>::iterator idleAt;
  bool idle = false;
  unsigned watched = 0;  // the events the loop watches; 0 when it does not
  bool registered = false;
  std::size_t held = 0;  // what the loop last counted of its request's bytes

  std::string out;  // a refusal, or an answer the worker left for the loop to write
  std::size_t outAt = 0;
  std::uint64_t lingered = 0;  // bytes read past after it

  // Set by the worker that answered.
  bool keep = false;
  bool answerKept = false;  // its answer was left for the loop, which ends a TLS session after it

  void resetRequest() {
    head.clear();
    body.clear();
    tail.clear();
    inflated = 0;
    body.shrink_to_fit();
    framing = Framing::None;
    lengthLeft = chunkLeft = sent = 0;
    chunkPart = ChunkPart::Size;
    trailerBytes = 0;
    if (inflater) inflateEnd(inflater.get());
    inflater.reset();
    inflateEnded = false;
    scanned = 0;
  }
};

namespace {

// A request read whole, as the HTTP layer reads it (from memory), and the answer it writes, to
// the connection, each wait for room bounded by the write time-out.
class AnswerStream final : public httplib::Stream {
 public:
  // An answer up to `keptLimit` (the bound on what the server holds) is kept whole for the loop to
  // write as the peer takes it, counted with the requests under way, so that a peer reading
  // slowly, or not at all, holds no worker. A larger one, which the server could not keep anyway,
  // and a body made as it goes out (see writeAsMade), are written by the worker as they come, each
  // wait for room bounded by the write time-out.
  AnswerStream(TrackedHttpServer::Connection& c, double writeTimeout, std::size_t keptLimit)
      : c_(c), writeTimeout_(writeTimeout), keptLimit_(keptLimit), head_(c.head.data()), headSize_(c.head.size()) {}

  bool is_readable() const override { return at_ < c_.head.size() + c_.body.size() + c_.tail.size(); }
  bool is_writable() const override {
    return !failed_ && (!direct_ || c_.socket->waitUntilWritable(writeTimeout_));
  }

  // The answer's body is made as it goes out: each piece is written as it is made, to a peer that
  // may be waiting for it. Before anything was written.
  void writeAsMade() { direct_ = true; }

  ssize_t read(char* ptr, size_t size) override {
    // The HTTP layer reads a head a byte at a time: those reads take the short way.
    if (at_ < headSize_) {
      if (size == 1) {
        *ptr = head_[at_++];
        return 1;
      }
      const size_t n = size < headSize_ - at_ ? size : headSize_ - at_;
      std::memcpy(ptr, head_ + at_, n);
      at_ += n;
      return static_cast<ssize_t>(n);
    }
    size_t from = at_;
    for (const std::string* part : {&c_.head, &c_.body, &c_.tail}) {
      if (from < part->size()) {
        const size_t n = std::min(size, part->size() - from);
        std::memcpy(ptr, part->data() + from, n);
        at_ += n;
        return static_cast<ssize_t>(n);
      }
      from -= part->size();
    }
    return 0;
  }

  ssize_t write(const char* ptr, size_t size) override {
    if (failed_) return -1;
    if (!direct_) {
      if (size <= keptLimit_ - std::min(keptLimit_, c_.out.size())) {
        // A large piece goes out at once as far as the socket takes it, after what was kept, so
        // that the answer to a peer that reads is not copied whole; only the rest is kept, and no
        // wait is made for room. Through TLS a write cut short must be made again as it was: kept.
        std::size_t sent = 0;
        if (!c_.tls && size >= kSentAtOnce) {
          c_.out.erase(0, sendAtOnce(c_.out.data(), c_.out.size()));
          if (!failed_ && c_.out.empty()) sent = sendAtOnce(ptr, size);
          if (failed_) return -1;
        }
        c_.out.append(ptr + sent, size - sent);
        return static_cast<ssize_t>(size);
      }
      // Too large to keep: what was kept goes out first, then the rest as it comes.
      if (!goDirect()) return -1;
    }
    return send(ptr, size);
  }

  // Whether the answer was left for the loop to write (in the connection's out).
  bool kept() const { return !direct_ && !failed_; }

 private:
  // Pieces from this size on are sent at once as far as they go.
  static constexpr std::size_t kSentAtOnce = std::size_t{64} << 10;

  // What the socket takes now of the bytes, in the clear, with no wait.
  std::size_t sendAtOnce(const char* ptr, std::size_t size) {
    std::size_t at = 0;
    while (at < size) {
      const long n = c_.socket->send(ptr + at, size - at);
      if (n < 0) {
        if (!wouldBlock()) fail();
        break;
      }
      at += static_cast<std::size_t>(n);
    }
    return at;
  }

  // From here on the worker writes: what was kept goes out first.
  bool goDirect() {
    direct_ = true;
    for (std::size_t at = 0; at < c_.out.size();) {
      const ssize_t n = send(c_.out.data() + at, c_.out.size() - at);
      if (n < 0) return false;
      at += static_cast<std::size_t>(n);
    }
    c_.out.clear();
    c_.out.shrink_to_fit();
    return true;
  }

  ssize_t send(const char* ptr, size_t size) {
    if (c_.tls) {
      for (;;) {
        const int n = SSL_write(c_.tls, ptr, static_cast<int>(std::min<size_t>(size, INT_MAX)));
        if (n > 0) return n;
        const int error = SSL_get_error(c_.tls, n);
        const bool waited = error == SSL_ERROR_WANT_WRITE  ? c_.socket->waitUntilWritable(writeTimeout_)
                            : error == SSL_ERROR_WANT_READ ? c_.socket->waitUntilReadable(writeTimeout_)
                                                           : false;
        if (!waited) return fail();
      }
    }
    for (;;) {
      const long n = c_.socket->send(ptr, size);
      if (n >= 0) return n;
      if (!wouldBlock() || !c_.socket->waitUntilWritable(writeTimeout_)) return fail();
    }
  }

 public:
  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    ip = c_.socket->remoteAddress().value_or("");
    port = c_.socket->remotePort().value_or(0);
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    ip = c_.socket->localAddress().value_or("");
    port = c_.socket->localPort().value_or(0);
  }
  socket_t socket() const override { return c_.socket->nativeHandle(); }

  bool failed() const { return failed_; }
  // Nothing more goes out: what was kept is let go, and the connection ends.
  void abandon() { failed_ = true; }

 private:
  ssize_t fail() {
    failed_ = true;
    return -1;
  }

  TrackedHttpServer::Connection& c_;
  double writeTimeout_;
  std::size_t keptLimit_;
  const char* head_;
  size_t headSize_;
  size_t at_ = 0;
  bool failed_ = false;
  bool direct_ = false;  // the answer goes straight to the socket
};

// The answer the calling thread is writing, for the HTTP layer's hook between routing and writing.
thread_local AnswerStream* tStream = nullptr;

}  // namespace

// The thread that accepts connections and reads their requests. Everything here runs on it,
// apart from what the server's mutex guards.
class TrackedHttpServer::Loop {
 public:
  explicit Loop(TrackedHttpServer& server) : s_(server), buffer_(kReadBlock) {
    const std::size_t limit = raiseOpenFileLimit();
    // Descriptors kept for what the handlers open (files, databases, connections of their own).
    capacity_ = limit - std::min(limit / 2, std::max<std::size_t>(limit / 8, 64));
  }

  void run() {
    add(s_.wake_, EPOLLIN, &wakeTag_);
    add(s_.listener_, EPOLLIN, &listenerTag_);
    std::vector<epoll_event> events(256);
    for (;;) {
      if (s_.stopping_ && s_.listener_ >= 0) closeListener();
      if (s_.stopping_ && connections_.empty()) break;
      const int n = ::epoll_wait(s_.epoll_, events.data(), static_cast<int>(events.size()), waitMilliseconds());
      for (int i = 0; i < n; ++i) {
        void* tag = events[static_cast<std::size_t>(i)].data.ptr;
        if (tag == &wakeTag_) {
          std::uint64_t count;
          [[maybe_unused]] auto r = ::read(s_.wake_, &count, sizeof count);
        } else if (tag == &listenerTag_) {
          acceptAll();
        } else {
          auto found = connections_.find(static_cast<Connection*>(tag));
          // Held here: serving may end the connection.
          if (found != connections_.end()) serve(std::shared_ptr<Connection>(found->second));
        }
      }
      takeReturned();
      expire();
    }
    if (s_.listener_ >= 0) closeListener();
  }

 private:
  // The longest line of a chunk's size (with its extensions) that is read.
  static constexpr std::size_t kChunkLineLimit = 4096;
  // Blocks read from one connection in a turn of the loop: a peer that always has more bytes
  // ready (an upload at loopback speed, cut in chunks that each cost a little to read) takes turns
  // with the others instead of keeping the loop to itself until its request is whole.
  static constexpr std::size_t kReadsPerTurn = 4;

  void add(int fd, unsigned events, void* tag) {
    epoll_event e{};
    e.events = events;
    e.data.ptr = tag;
    ::epoll_ctl(s_.epoll_, EPOLL_CTL_ADD, fd, &e);
  }

  void watch(Connection& c, unsigned events) {
    if (c.registered && c.watched == events) return;
    epoll_event e{};
    e.events = events;
    e.data.ptr = &c;
    ::epoll_ctl(s_.epoll_, c.registered ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, c.socket->nativeHandle(), &e);
    c.registered = true;
    c.watched = events;
  }

  void unwatch(Connection& c) {
    if (!c.registered) return;
    ::epoll_ctl(s_.epoll_, EPOLL_CTL_DEL, c.socket->nativeHandle(), nullptr);
    c.registered = false;
    c.watched = 0;
  }

  void closeListener() {
    if (!listenerPaused_) ::epoll_ctl(s_.epoll_, EPOLL_CTL_DEL, s_.listener_, nullptr);
    ::close(s_.listener_);
    s_.listener_ = -1;
  }

  int waitMilliseconds() const {
    if (timers_.empty()) return -1;
    const auto left = timers_.begin()->first - Clock::now();
    if (left <= Clock::duration::zero()) return 0;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return static_cast<int>(std::min<long long>(ms, INT_MAX));
  }

  void setDue(Connection& c, Instant due) {
    if (c.timed) timers_.erase({c.due, &c});
    c.due = due;
    c.timed = due != Instant::max();
    if (c.timed) timers_.insert({due, &c});
  }

  void setIdle(Connection& c, bool idle) {
    if (idle == c.idle) return;
    if (idle)
      c.idleAt = idle_.insert(idle_.end(), &c);
    else
      idle_.erase(c.idleAt);
    c.idle = idle;
  }

  void expire() {
    const Instant now = Clock::now();
    while (!timers_.empty() && timers_.begin()->first <= now) {
      Connection* c = timers_.begin()->second;
      drop(*c);
    }
  }

  // Frees a descriptor for a new connection: the one idle longest, else the one whose request
  // began earliest. False when every connection is being answered.
  bool evictOne() {
    if (!idle_.empty()) {
      drop(*idle_.front());
      return true;
    }
    Connection* oldest = nullptr;
    for (auto& [c, kept] : connections_)
      if ((c->state == Connection::State::Head || c->state == Connection::State::Body) &&
          (!oldest || c->requestDue < oldest->requestDue))
        oldest = c;
    if (!oldest) return false;
    drop(*oldest);
    return true;
  }

  void acceptAll() {
    for (;;) {
      if (connections_.size() >= capacity_ && !evictOne()) return pauseListener();
      const int fd = ::accept4(s_.listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd < 0) {
        if (errno == EINTR || errno == ECONNABORTED) continue;
        if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
          if (evictOne()) continue;
          pauseListener();
        }
        return;
      }
      accepted(fd);
    }
  }

  void pauseListener() {
    if (listenerPaused_ || s_.listener_ < 0) return;
    ::epoll_ctl(s_.epoll_, EPOLL_CTL_DEL, s_.listener_, nullptr);
    listenerPaused_ = true;
  }

  void resumeListener() {
    if (!listenerPaused_ || s_.listener_ < 0) return;
    listenerPaused_ = false;
    add(s_.listener_, EPOLLIN, &listenerTag_);
  }

  void accepted(int fd) {
    auto socket = TcpSocket::adopt(fd);
    if (!socket) {
      ::close(fd);
      return;
    }
    // Head and body go out in separate writes: without this a kept-alive connection waits for
    // the client's delayed ACK before the body.
    int yes = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    auto c = std::make_shared<Connection>();
    c->socket = std::move(socket);
    {
      std::lock_guard lock(s_.mutex_);
      if (s_.ending_) {
        c->socket->shutdown();
        c->socket->close();
        return;
      }
      s_.open_.insert(c);
    }
    connections_.emplace(c.get(), c);
    const Instant now = Clock::now();
    // The first request's time runs from here, through the handshake and the wait for its start.
    c->requestDue = now + after(s_.requestDeadline_.load());
    if (s_.tls_ && (c->tls = SSL_new(s_.tls_)) != nullptr) {
      BIO* bio = BIO_new(socketMethod());
      BIO_set_data(bio, c->socket.get());
      SSL_set_bio(c->tls, bio, bio);
      c->state = Connection::State::Handshake;
    } else if (s_.tls_ || s_.tlsWanted_) {
      return drop(*c);
    }
    setIdle(*c, true);
    // Waiting for its first byte as long as a kept-alive connection waits for its next request.
    setDue(*c, c->state == Connection::State::Handshake
                   ? c->requestDue
                   : std::min(c->requestDue, now + std::chrono::seconds(s_.keep_alive_timeout_sec_)));
    watch(*c, EPOLLIN);
  }

  void serve(const std::shared_ptr<Connection>& c) {
    switch (c->state) {
      case Connection::State::Working:
        return;
      case Connection::State::Sending:
        return send(*c);
      case Connection::State::Refusing:
        return flush(*c);
      case Connection::State::Lingering:
        return linger(*c);
      case Connection::State::Handshake:
        return handshake(*c);
      default:
        return readAndParse(*c);
    }
  }

  void handshake(Connection& c) {
    const int rc = SSL_accept(c.tls);
    if (rc == 1) {
      c.state = Connection::State::Idle;
      setDue(c, std::min(c.requestDue, Clock::now() + std::chrono::seconds(s_.keep_alive_timeout_sec_)));
      watch(c, EPOLLIN);
      return readAndParse(c);
    }
    switch (SSL_get_error(c.tls, rc)) {
      case SSL_ERROR_WANT_READ:
        return watch(c, EPOLLIN);
      case SSL_ERROR_WANT_WRITE:
        return watch(c, EPOLLOUT);
      default:
        return drop(c);
    }
  }

  // Bytes read into the buffer: more than 0, 0 at the peer's end, -1 with nothing now, -2 failed.
  long receive(Connection& c) {
    char* data = buffer_.data();
    if (c.tls) {
      const int n = SSL_read(c.tls, data, static_cast<int>(buffer_.size()));
      if (n > 0) {
        c.in.append(data, static_cast<std::size_t>(n));
        return n;
      }
      switch (SSL_get_error(c.tls, n)) {
        case SSL_ERROR_ZERO_RETURN:
          return 0;
        case SSL_ERROR_WANT_READ:
          watch(c, EPOLLIN);
          return -1;
        case SSL_ERROR_WANT_WRITE:
          watch(c, EPOLLOUT);
          return -1;
        default:
          return -2;
      }
    }
    ++s_.receives_;
    const long n = c.socket->receive(data, buffer_.size());
    if (n > 0) c.in.append(data, static_cast<std::size_t>(n));
    if (n < 0) return wouldBlock() ? -1 : -2;
    return n;
  }

  void readAndParse(Connection& c) {
    for (std::size_t reads = 0;; ++reads) {
      const bool more = parse(c);
      if (!account(c) || !more || !interimOut(c)) return;
      // Its turn is over: the loop comes back for the rest, still waiting in the socket (not in
      // the TLS session, which then keeps no more than it handed over).
      if (reads == kReadsPerTurn && !(c.tls && SSL_has_pending(c.tls))) return;
      const long n = receive(c);
      if (n == -1) return;
      if (n <= 0) return drop(c);  // the peer ended or failed with a request unfinished
      if (!account(c)) return;
    }
  }

  // Writes the interim line left in out while a request's body is awaited: true once it is out
  // (or there is none), false while it waits for room, or for the peer's bytes under TLS, or when
  // the connection was dropped. A write cut short is taken up where it stopped, with the same
  // bytes, as TLS needs.
  bool interimOut(Connection& c) {
    if (c.out.empty()) return true;
    if (!writeOut(c)) {
      if (!connections_.count(&c)) return false;
      // Watched for room first: a write that now waits for the peer's bytes watches for them.
      watch(c, EPOLLOUT);
      if (!writeOut(c)) return false;
    }
    c.out.clear();
    c.outAt = 0;
    watch(c, EPOLLIN);
    return account(c);
  }

  // Counts what the connection's request holds now, with an answer waiting for its peer (as long
  // as it is kept, whatever of it went out), and keeps the connections within their bound: false
  // when this connection is no longer reading its request or writing its answer.
  bool account(Connection& c) {
    if (!connections_.count(&c)) return false;
    // A worker may be writing the answer still.
    const std::size_t out = c.state == Connection::State::Working ? 0 : c.out.size();
    const std::size_t now = c.in.size() + c.head.size() + c.body.size() + c.tail.size() + out;
    held_ = held_ - c.held + now;
    c.held = now;
    const std::size_t limit = s_.heldLimit();
    while (held_ > limit) {
      // The one holding most goes: a few peers filling many connections, or asking answers they
      // do not read, cannot have the server refuse every other upload, and no request still
      // arriving is held up by them.
      Connection* largest = nullptr;
      for (auto& [other, kept] : connections_)
        if ((other->state == Connection::State::Head || other->state == Connection::State::Body ||
             other->state == Connection::State::Sending) &&
            (!largest || other->held > largest->held))
          largest = other;
      if (!largest) break;
      if (largest->state == Connection::State::Sending) {
        drop(*largest);
        continue;
      }
      // Let go of its count first: the refusal may end its connection at once (a peer that has
      // ended its side already), and then it is gone.
      forget(*largest);
      refuse(*largest, 503, "server busy");
    }
    return connections_.count(&c) && c.state != Connection::State::Refusing && c.state != Connection::State::Lingering;
  }

  // The connection holds nothing of a request any more.
  void forget(Connection& c) {
    held_ -= c.held;
    c.held = 0;
  }

  // Takes what the buffer holds: true while the connection waits for more of its request.
  bool parse(Connection& c) {
    for (;;) {
      switch (c.state) {
        case Connection::State::Idle: {
          // Empty lines before a request are allowed.
          std::size_t skip = 0;
          while (skip < c.in.size() && (c.in[skip] == '\r' || c.in[skip] == '\n')) ++skip;
          c.in.erase(0, skip);
          if (c.in.empty()) return true;
          // A later request's time runs from its first byte.
          if (c.served > 0) c.requestDue = Clock::now() + after(s_.requestDeadline_.load());
          setIdle(c, false);
          setDue(c, c.requestDue);
          c.state = Connection::State::Head;
          break;
        }
        case Connection::State::Head: {
          const std::size_t end = c.in.find("\r\n\r\n", c.scanned >= 3 ? c.scanned - 3 : 0);
          if (end == std::string::npos || end + 4 > kHeadLimit) {
            if (c.in.size() >= kHeadLimit) return refuse(c, 431, "request head too large");
            c.scanned = c.in.size();
            return true;
          }
          const std::string head = c.in.substr(0, end + 2);
          c.in.erase(0, end + 4);
          if (!begin(c, head)) return false;
          break;
        }
        case Connection::State::Body:
          if (!body(c)) return false;
          if (c.state == Connection::State::Body) return true;
          break;
        default:
          return false;
      }
    }
  }

  // The head arrived (its lines, each ended): how the body travels, and what it inflates to.
  bool begin(Connection& c, std::string_view head) {
    // Lines end in CR LF and nothing else: the HTTP layer ends one at a line feed alone as well,
    // and keeps a carriage return alone where this reading trims it, so either would let a header
    // line (a coding, say) reach it otherwise than it is read here.
    for (std::size_t end = head.find_first_of("\r\n"); end != std::string_view::npos;
         end = head.find_first_of("\r\n", end + 2))
      if (head[end] != '\r' || end + 1 == head.size() || head[end + 1] != '\n') return refuse(c, 400, "request unreadable");
    std::size_t at = head.find("\r\n") + 2;
    // The HTTP layer answers a request line it cannot read, a method it does not route among them,
    // with a bare 400 on a connection it keeps, whatever the request asked of it: a peer that asked
    // for the connection to end waits out the keep-alive time for it.
    if (const int status = requestLineRefusal(head.substr(0, at - 2))) {
      return refuse(c, status, status == 501   ? "method not implemented"
                               : status == 505 ? "protocol version not supported"
                                               : "request unreadable");
    }
    c.head.assign(head.substr(0, at));
    const std::optional<OriginForm> origin = originForm(head.substr(0, at - 2));
    if (origin) {
      if (origin->line.empty()) return refuse(c, 400, "request unreadable");
      // The HTTP layer's answer to a target past its bound, made before the host leaves the line.
      if (at > CPPHTTPLIB_REQUEST_URI_MAX_LENGTH) return refuse(c, 414, "request target too long");
      // The address's host is the request's: a Host header beside it is not handed on.
      c.head = origin->line + "\r\nHost: " + origin->host + "\r\n";
    }
    std::optional<std::uint64_t> contentLength;
    bool chunked = false, expectContinue = false, badLength = false;
    std::string transfer, coding;
    bool ifRange = false;
    std::size_t codingLines = 0, rangeLines = 0;
    std::string_view range;
    while (at < head.size()) {
      std::size_t next = head.find("\r\n", at);
      if (next == std::string_view::npos) next = head.size();
      const std::string_view line = head.substr(at, next - at);
      at = next + 2;
      // The HTTP layer reads no longer header line (its end counted), and would call the request
      // malformed: it is too large.
      if (line.size() + 2 > CPPHTTPLIB_HEADER_MAX_LENGTH) return refuse(c, 431, "request header too large");
      const std::size_t colon = line.find(':');
      // A blank before the colon, or a line folded onto the one before, names no header to the
      // HTTP layer: a framing or coding read from it here would not be its.
      if (!line.empty() && (line.front() == ' ' || line.front() == '\t')) return refuse(c, 400, "request unreadable");
      if (colon != std::string_view::npos && colon > 0 && (line[colon - 1] == ' ' || line[colon - 1] == '\t'))
        return refuse(c, 400, "request unreadable");
      const std::string name = lowered(line.substr(0, colon == std::string_view::npos ? 0 : colon));
      const std::string_view value = colon == std::string_view::npos ? std::string_view() : trimmed(line.substr(colon + 1));
      if (origin && name == "host") continue;
      if (name == "expect") {
        // Answered here, before the body, if at all.
        expectContinue = lowered(value) == "100-continue";
        continue;
      }
      if (name == "range") {
        // Handed on below, when it asks for one range alone.
        ++rangeLines;
        range = value;
        continue;
      }
      if (name == "connection" && asksToClose(value)) {
        // The HTTP layer ends the connection only for the token in lower case, alone: a peer
        // writing it otherwise, or beside another, would wait out the keep-alive time.
        c.head.append("Connection: close\r\n");
        continue;
      }
      c.head.append(line).append("\r\n");
      if (name == "if-range") ifRange = true;
      if (name == "content-length") {
        std::uint64_t n = 0;
        bool digits = !value.empty();
        for (char ch : value) {
          if (ch < '0' || ch > '9' || n > (UINT64_MAX - 9) / 10) {
            digits = false;
            break;
          }
          n = n * 10 + static_cast<std::uint64_t>(ch - '0');
        }
        // Digits past the range are a length past any bound.
        if (!digits && !value.empty() && value.find_first_not_of("0123456789") == std::string_view::npos) n = UINT64_MAX, digits = true;
        if (!digits || (contentLength && *contentLength != n)) badLength = true;
        contentLength = n;
      } else if (name == "transfer-encoding") {
        transfer += (transfer.empty() ? "" : ",") + lowered(value);
      } else if (name == "content-encoding") {
        ++codingLines;
        coding += (coding.empty() ? "" : ",") + lowered(value);
      }
    }
    // The HTTP layer answers several ranges with each one's bytes, overlapping or not, all made in
    // memory: a few kilobytes of ranges would ask for a picture a thousand times over. Such a
    // request gets the whole answer once, as a server may; one range (a download resumed) is kept.
    // Only a GET (or HEAD) is answered in part; and not when the part is asked for only if the
    // answer is unchanged: the HTTP layer compares no validator, and would send the part of
    // whatever the answer is now, to be joined to what the peer has of an earlier one.
    const std::string_view method = head.substr(0, head.find(' '));
    if (rangeLines == 1 && !ifRange && (method == "GET" || method == "HEAD"))
      if (auto asked = byteRange(range)) c.head.append("Range: ").append(*asked).append("\r\n");
    if (!transfer.empty()) {
      if (transfer != "chunked") return refuse(c, 501, "transfer coding not understood");
      chunked = true;
    } else if (badLength) {
      return refuse(c, 400, "request unreadable");
    }
    const std::uint64_t bound = s_.payload_max_length_;
    // The codings the HTTP layer undoes: what it will make of the body is counted as the body
    // arrives. Others reach the handler as sent, but for those it would undo with no count kept:
    // it takes the first of several coding lines, decodes percent-escapes in the value, and undoes
    // brotli wherever the value names it.
    if (codingLines > 1 || coding.find('%') != std::string::npos || coding.find("br") != std::string::npos)
      return refuse(c, 415, "content coding not understood");
    if (coding == "gzip" || coding == "deflate") {
      c.inflater = std::make_unique<z_stream>();
      // Either wrapping, told by its header.
      if (inflateInit2(c.inflater.get(), 15 + 32) != Z_OK) {
        c.inflater.reset();
        return refuse(c, 400, "request unreadable");
      }
    }
    c.framing = chunked ? Connection::Framing::Chunked
                        : contentLength && *contentLength > 0 ? Connection::Framing::Length
                                                              : Connection::Framing::None;
    if (c.framing == Connection::Framing::Length) {
      // A length past the bound need not be read to be refused.
      if (*contentLength > bound) return refuse(c, 413, "request too large");
      c.lengthLeft = *contentLength;
    }
    if (c.framing == Connection::Framing::None) return finish(c);
    c.state = Connection::State::Body;
    // Only then will such a client send its body. It goes out as answers do: the socket may have
    // no room for it yet (the peer not reading the answers before), and nothing more is read
    // until it is out.
    if (expectContinue && c.in.empty()) {
      c.out = "HTTP/1.1 100 Continue\r\n\r\n";
      c.outAt = 0;
    }
    return true;
  }

  // Takes body bytes from the buffer: false once the connection is no longer reading.
  bool body(Connection& c) {
    const std::uint64_t bound = s_.payload_max_length_;
    if (c.framing == Connection::Framing::Length) {
      const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(c.lengthLeft, c.in.size()));
      if (!decode(c, c.in.data(), take)) return false;
      c.in.erase(0, take);
      c.lengthLeft -= take;
      return c.lengthLeft > 0 || finish(c);
    }
    // Where the chunks read so far end in the buffer; what they took goes in one piece as this
    // returns, so that a peer sending many small chunks together costs one copy of the buffer, not
    // one a chunk.
    std::size_t at = 0;
    const auto taken = [&c, &at](bool reading) {
      c.in.erase(0, at);
      return reading;
    };
    for (;;) {
      switch (c.chunkPart) {
        case Connection::ChunkPart::Size: {
          const std::size_t end = c.in.find('\n', at);
          if (end == std::string::npos)
            return taken(c.in.size() - at <= kChunkLineLimit) || refuse(c, 400, "request unreadable");
          const std::string_view line = trimmed(std::string_view(c.in).substr(at, end - at));
          std::uint64_t size = 0;
          std::size_t digits = 0;
          bool tooLarge = false;
          for (; digits < line.size() && std::isxdigit(static_cast<unsigned char>(line[digits])); ++digits) {
            const char ch = line[digits];
            const unsigned value = ch <= '9' ? unsigned(ch - '0') : unsigned((ch | 0x20) - 'a' + 10);
            if (size > (UINT64_MAX >> 4)) tooLarge = true;
            size = (size << 4) | value;
          }
          const std::string_view rest = trimmed(line.substr(digits));
          if (digits == 0 || (!rest.empty() && rest.front() != ';')) return refuse(c, 400, "request unreadable");
          if (tooLarge || size > bound - std::min(bound, c.sent)) return refuse(c, 413, "request too large");
          at = end + 1;
          c.chunkLeft = size;
          c.chunkPart = size == 0 ? Connection::ChunkPart::Trailer : Connection::ChunkPart::Data;
          break;
        }
        case Connection::ChunkPart::Data: {
          const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(c.chunkLeft, c.in.size() - at));
          if (take == 0) return taken(true);
          if (!decode(c, c.in.data() + at, take)) return false;
          at += take;
          c.chunkLeft -= take;
          if (c.chunkLeft > 0) return taken(true);
          c.chunkPart = Connection::ChunkPart::DataEnd;
          break;
        }
        case Connection::ChunkPart::DataEnd: {
          const std::string_view left = std::string_view(c.in).substr(at);
          if (left.empty() || left == "\r") return taken(true);
          if (left.starts_with("\r\n"))
            at += 2;
          else if (left.starts_with("\n"))
            at += 1;
          else
            return refuse(c, 400, "request unreadable");
          c.chunkPart = Connection::ChunkPart::Size;
          break;
        }
        case Connection::ChunkPart::Trailer: {
          // Trailer fields are allowed and read past, held to the head's bound.
          const std::size_t end = c.in.find('\n', at);
          if (end == std::string::npos)
            return taken(c.trailerBytes + c.in.size() - at <= kHeadLimit) || refuse(c, 431, "request head too large");
          c.trailerBytes += end + 1 - at;
          if (c.trailerBytes > kHeadLimit) return refuse(c, 431, "request head too large");
          const bool last = trimmed(std::string_view(c.in).substr(at, end - at)).empty();
          at = end + 1;
          if (last) return taken(true) && finish(c);
          break;
        }
      }
    }
  }

  // Body bytes as sent, kept; a compressed body is inflated as it comes as well, what it makes
  // counted against the bound and the inflating against the request's deadline.
  bool decode(Connection& c, const char* data, std::size_t length) {
    const std::uint64_t bound = s_.payload_max_length_;
    c.sent += length;
    c.body.append(data, length);
    if (!c.inflater) return true;
    z_stream& z = *c.inflater;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
    z.avail_in = static_cast<uInt>(length);
    char out[16 * 1024];
    for (;;) {
      if (c.inflateEnded) {
        if (z.avail_in == 0) return true;
        // Another member follows.
        inflateReset(&z);
        c.inflateEnded = false;
      }
      z.next_out = reinterpret_cast<Bytef*>(out);
      z.avail_out = sizeof out;
      const int rc = inflate(&z, Z_NO_FLUSH);
      c.inflated += sizeof out - z.avail_out;
      if (c.inflated > bound) return refuse(c, 413, "request too large");
      if (Clock::now() >= c.requestDue) {
        drop(c);
        return false;
      }
      if (rc == Z_STREAM_END) {
        c.inflateEnded = true;
        continue;
      }
      if (rc == Z_BUF_ERROR) return true;
      if (rc != Z_OK) return refuse(c, 400, "request unreadable");
      if (z.avail_in == 0 && z.avail_out != 0) return true;
    }
  }

  // The request is whole: to a worker.
  bool finish(Connection& c) {
    if (c.inflater && !c.inflateEnded) return refuse(c, 400, "request unreadable");
    c.head += "\r\n";
    if (c.framing == Connection::Framing::Chunked) {
      // As one chunk, the trailer fields left out.
      char size[32];
      std::snprintf(size, sizeof size, "%zx\r\n", c.body.size());
      if (!c.body.empty()) c.head += size;
      c.tail = c.body.empty() ? "0\r\n\r\n" : "\r\n0\r\n\r\n";
    }
    c.state = Connection::State::Working;
    unwatch(c);
    setDue(c, Instant::max());
    s_.hand(connections_.at(&c));
    return false;
  }

  // Answers `status` and ends the connection once the answer is out; the rest is never read.
  bool refuse(Connection& c, int status, const std::string& text) {
    c.out = "HTTP/1.1 " + std::to_string(status) + " " + reason(status) +
            "\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: " + std::to_string(text.size()) +
            "\r\nConnection: close\r\n\r\n" + text;
    c.outAt = 0;
    c.state = Connection::State::Refusing;
    c.resetRequest();
    c.in.clear();
    c.in.shrink_to_fit();
    setIdle(c, false);
    setDue(c, Clock::now() + after(s_.writeTimeout()));
    watch(c, EPOLLOUT);
    flush(c);
    return false;
  }

  // Writes what the peer takes of the connection's out: false while some of it waits for room
  // (or for the peer's bytes, under TLS), or when the connection was dropped.
  bool writeOut(Connection& c) {
    while (c.outAt < c.out.size()) {
      const char* data = c.out.data() + c.outAt;
      const std::size_t left = c.out.size() - c.outAt;
      long n;
      if (c.tls) {
        n = SSL_write(c.tls, data, static_cast<int>(std::min<std::size_t>(left, INT_MAX)));
        if (n <= 0) {
          const int error = SSL_get_error(c.tls, static_cast<int>(n));
          if (error == SSL_ERROR_WANT_WRITE) return false;
          if (error == SSL_ERROR_WANT_READ) {
            watch(c, EPOLLIN);
            return false;
          }
          drop(c);
          return false;
        }
      } else {
        n = c.socket->send(data, left);
        if (n < 0) {
          if (!wouldBlock()) drop(c);
          return false;
        }
      }
      c.outAt += static_cast<std::size_t>(n);
    }
    return true;
  }

  void flush(Connection& c) {
    if (!writeOut(c)) return;
    // The answer is out and nothing more follows it. A client that sends its whole body before it
    // reads any answer would find its connection reset instead of the refusal: what it sends on
    // is read past, never kept, up to the bound once more and for the write time-out at most.
    c.out.clear();
    c.out.shrink_to_fit();
    c.socket->shutdownWriting();
    c.state = Connection::State::Lingering;
    setIdle(c, true);  // first to go when descriptors run short
    watch(c, EPOLLIN);
    linger(c);
  }

  void linger(Connection& c) {
    for (std::size_t reads = 0; reads < kReadsPerTurn; ++reads) {
      ++s_.receives_;
      const long n = c.socket->receive(buffer_.data(), buffer_.size());
      if (n < 0 && wouldBlock()) return;
      if (n <= 0) return drop(c);
      c.lingered += static_cast<std::uint64_t>(n);
      if (c.lingered > s_.payload_max_length_) return drop(c);
    }
  }

  // Answered connections back from the workers, and the server's ending of connections.
  void takeReturned() {
    std::vector<std::shared_ptr<Connection>> returned;
    bool ending;
    {
      std::lock_guard lock(s_.mutex_);
      returned.swap(s_.returned_);
      ending = s_.ending_;
    }
    const bool endingNow = ending && !ended_;
    ended_ = ending;
    for (auto& c : returned) {
      if (!c->out.empty()) {
        // The answer the worker left goes out as the peer takes it, before anything else; the
        // request it answers is let go, and what the connection holds is counted afresh.
        c->outAt = 0;
        c->state = Connection::State::Sending;
        c->resetRequest();
        if (!account(*c)) continue;
        setIdle(*c, false);
        setDue(*c, Clock::now() + after(s_.writeTimeout()));
        watch(*c, EPOLLOUT);
        send(*c);
        continue;
      }
      answered(*c, ending);
    }
    if (endingNow) {
      std::vector<Connection*> waiting;
      for (auto& [c, kept] : connections_)
        if (c->state != Connection::State::Working && c->state != Connection::State::Sending) waiting.push_back(c);
      for (Connection* c : waiting) drop(*c);
    }
  }

  // Writes what the peer takes of a kept answer; its time-out runs from the last progress.
  void send(Connection& c) {
    const std::size_t before = c.outAt;
    if (!writeOut(c)) {
      // Dropped or not, a connection that made progress has its time-out counted afresh; not once
      // the server ends its connections: then an answer has the write time-out in all, from the
      // ending or from its hand-back, however its peer reads, lest a peer taking a little now and
      // then hold the stop for as long as it likes.
      if (c.outAt > before && connections_.count(&c) && !ended_) setDue(c, Clock::now() + after(s_.writeTimeout()));
      return;
    }
    c.out.clear();
    c.out.shrink_to_fit();
    c.outAt = 0;
    bool ending;
    {
      std::lock_guard lock(s_.mutex_);
      ending = s_.ending_;
    }
    answered(c, ending);
  }

  // The answer is out: the connection waits for its next request, or ends.
  void answered(Connection& c, bool ending) {
    if (!c.keep || ending) {
      if (c.tls && c.answerKept) SSL_shutdown(c.tls);  // the peer's close_notify is not awaited
      return drop(c);
    }
    ++c.served;
    c.resetRequest();
    c.state = Connection::State::Idle;
    setIdle(c, true);
    setDue(c, Clock::now() + std::chrono::seconds(s_.keep_alive_timeout_sec_));
    watch(c, EPOLLIN);
    // Bytes of the next request may have come along with this one's.
    readAndParse(c);
  }

  void drop(Connection& c) {
    auto found = connections_.find(&c);
    if (found == connections_.end()) return;
    std::shared_ptr<Connection> kept = found->second;
    forget(c);
    unwatch(c);
    setDue(c, Instant::max());
    setIdle(c, false);
    connections_.erase(found);
    s_.closeConnection(kept);
    resumeListener();
  }

  TrackedHttpServer& s_;
  std::vector<char> buffer_;
  std::size_t capacity_ = 0;
  std::size_t held_ = 0;  // what the requests under way hold together
  std::unordered_map<Connection*, std::shared_ptr<Connection>> connections_;
  std::set<std::pair<Instant, Connection*>> timers_;
  std::list<Connection*> idle_;  // connections with no request under way, longest idle first
  bool listenerPaused_ = false;
  bool ended_ = false;  // the server ends its connections
  char wakeTag_ = 0, listenerTag_ = 0;
};

TrackedHttpServer::TrackedHttpServer() : epoll_(::epoll_create1(EPOLL_CLOEXEC)), wake_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
  // The HTTP layer's own count ends a connection every few requests, so a client connects anew
  // that often; a kept-alive connection here costs no worker while it waits.
  set_keep_alive_max_count(kRequestsPerConnection);
  // Between routing and writing: a body made as it goes out is written as it is made.
  set_post_routing_handler([](const httplib::Request&, httplib::Response& response) {
    if (response.content_provider_ && tStream) tStream->writeAsMade();
  });
  // Called for every answer of 400 on: a 404 that no route of the request's method gave, where a
  // route of another method would have served, says so. A route's own 404 is left as it is.
  set_error_handler(HandlerWithResponse([this](const httplib::Request& request, httplib::Response& response) {
    if (response.status != 404 || request.path.empty()) return HandlerResponse::Unhandled;
    const std::string method = request.method == "HEAD" ? "GET" : request.method;
    for (const auto& [routeMethod, pattern] : routes_)
      if (routeMethod == method && std::regex_match(request.path, pattern)) return HandlerResponse::Unhandled;
    const std::string allowed = allowedAt(request.path);
    if (allowed.empty()) return HandlerResponse::Unhandled;
    response.status = 405;
    response.set_header("Allow", allowed);
    response.set_content("method not allowed", "text/plain; charset=utf-8");
    // As the layer's own refusals: no range is served on it.
    return HandlerResponse::Unhandled;
  }));
  // A handler that throws is answered plainly: the HTTP layer's own answer would put the
  // exception's text, words meant for this program's developer, in a header for the peer.
  set_exception_handler([](const httplib::Request&, httplib::Response& response, std::exception_ptr) {
    response.status = 500;
    response.headers.clear();
    response.set_content("internal error", "text/plain; charset=utf-8");
  });
}

namespace {

// Runs a route's handler so that the range a request asks for is served only where it may be: on
// the answer to a GET (or HEAD) that would otherwise be a 200. The HTTP layer would cut any
// answer to the range, its status kept: a 404's text, a failure's, a POST's answer, or an answer
// its handler called 200 would each reach the peer cut short, whole to its eyes.
// Makes the one range asked of an answer that would be a 200 exact against the answer's length,
// which the HTTP layer does not: it names the range as asked in Content-Range (an end past the
// answer's included), sends as many bytes as that says of a body made as it goes, so that a peer
// waits for bytes that never come, and answers any range of an empty body 206 with no range
// named. A range that starts past the answer, or asks for none of its last bytes, is answered 416
// with the answer's length, as a peer reads it. A body whose length is not told goes whole.
void settleRange(httplib::Ranges& ranges, httplib::Response& response) {
  const bool provided = static_cast<bool>(response.content_provider_);
  if (ranges.size() != 1 || (provided && response.content_length_ == 0)) return ranges.clear();
  const auto length = static_cast<std::uint64_t>(provided ? response.content_length_ : response.body.size());
  const auto [first, last] = ranges.front();  // -1 for an end left out
  std::optional<std::pair<std::uint64_t, std::uint64_t>> exact;
  if (first >= 0 && static_cast<std::uint64_t>(first) < length)
    exact.emplace(first, last < 0 || static_cast<std::uint64_t>(last) >= length ? length - 1 : static_cast<std::uint64_t>(last));
  else if (first < 0 && last > 0 && length > 0)
    exact.emplace(length - std::min(static_cast<std::uint64_t>(last), length), length - 1);
  if (exact) {
    ranges.front() = {static_cast<ssize_t>(exact->first), static_cast<ssize_t>(exact->second)};
    return;
  }
  ranges.clear();
  response.status = 416;
  response.body.clear();
  response.content_provider_ = nullptr;
  response.content_length_ = 0;
  // What the handler said of its body is not said of this answer; only its end of the connection.
  const std::string connection = response.get_header_value("Connection");
  response.headers.clear();
  if (!connection.empty()) response.set_header("Connection", connection);
  response.set_header("Content-Range", "bytes */" + std::to_string(length));
}

template <class Call>
void servedInRange(const httplib::Request& request, httplib::Response& response, const Call& call) {
  // The layer's own request, made for this one answer: only its ranges change.
  auto& ranges = const_cast<httplib::Request&>(request).ranges;
  if (request.method != "GET" && request.method != "HEAD") ranges.clear();
  try {
    call();
  } catch (...) {
    ranges.clear();
    throw;
  }
  if (response.status == 200)
    response.status = -1;  // the layer's: 206 when it serves the range, else 200
  else if (response.status != -1)
    ranges.clear();
  if (!ranges.empty()) settleRange(ranges, response);
}

}  // namespace

httplib::Server::Handler TrackedHttpServer::ranged(Handler handler) {
  return [handler = std::move(handler)](const httplib::Request& request, httplib::Response& response) {
    servedInRange(request, response, [&] { handler(request, response); });
  };
}

httplib::Server::HandlerWithContentReader TrackedHttpServer::ranged(HandlerWithContentReader handler) {
  return [handler = std::move(handler)](const httplib::Request& request, httplib::Response& response,
                                        const httplib::ContentReader& reader) {
    servedInRange(request, response, [&] { handler(request, response, reader); });
  };
}

const std::string& TrackedHttpServer::routed(const char* method, const std::string& pattern) {
  routes_.emplace_back(method, pattern);
  return pattern;
}

TrackedHttpServer& TrackedHttpServer::Get(const std::string& pattern, Handler handler) {
  httplib::Server::Get(routed("GET", pattern), ranged(std::move(handler)));
  return *this;
}

TrackedHttpServer& TrackedHttpServer::Post(const std::string& pattern, Handler handler) {
  httplib::Server::Post(routed("POST", pattern), ranged(std::move(handler)));
  return *this;
}

TrackedHttpServer& TrackedHttpServer::Post(const std::string& pattern, HandlerWithContentReader handler) {
  httplib::Server::Post(routed("POST", pattern), ranged(std::move(handler)));
  return *this;
}

TrackedHttpServer& TrackedHttpServer::Put(const std::string& pattern, Handler handler) {
  httplib::Server::Put(routed("PUT", pattern), ranged(std::move(handler)));
  return *this;
}

TrackedHttpServer& TrackedHttpServer::Put(const std::string& pattern, HandlerWithContentReader handler) {
  httplib::Server::Put(routed("PUT", pattern), ranged(std::move(handler)));
  return *this;
}

TrackedHttpServer& TrackedHttpServer::Patch(const std::string& pattern, Handler handler) {
  httplib::Server::Patch(routed("PATCH", pattern), ranged(std::move(handler)));
  return *this;
}

TrackedHttpServer& TrackedHttpServer::Patch(const std::string& pattern, HandlerWithContentReader handler) {
  httplib::Server::Patch(routed("PATCH", pattern), ranged(std::move(handler)));
  return *this;
}

TrackedHttpServer& TrackedHttpServer::Delete(const std::string& pattern, Handler handler) {
  httplib::Server::Delete(routed("DELETE", pattern), ranged(std::move(handler)));
  return *this;
}

TrackedHttpServer& TrackedHttpServer::Delete(const std::string& pattern, HandlerWithContentReader handler) {
  httplib::Server::Delete(routed("DELETE", pattern), ranged(std::move(handler)));
  return *this;
}

TrackedHttpServer& TrackedHttpServer::Options(const std::string& pattern, Handler handler) {
  httplib::Server::Options(routed("OPTIONS", pattern), ranged(std::move(handler)));
  return *this;
}

std::string TrackedHttpServer::allowedAt(const std::string& path) const {
  std::string allowed;
  for (const char* method : {"GET", "HEAD", "POST", "PUT", "PATCH", "DELETE", "OPTIONS"}) {
    const std::string_view routed = std::string_view(method) == "HEAD" ? "GET" : method;
    for (const auto& [routeMethod, pattern] : routes_)
      if (routeMethod == routed && std::regex_match(path, pattern)) {
        allowed += (allowed.empty() ? "" : ", ") + std::string(method);
        break;
      }
  }
  return allowed;
}

TrackedHttpServer::TrackedHttpServer(X509* certificate, EVP_PKEY* privateKey) : TrackedHttpServer() {
  tlsWanted_ = true;
  tls_ = SSL_CTX_new(TLS_server_method());
  if (!tls_) return;
  SSL_CTX_set_min_proto_version(tls_, TLS1_2_VERSION);
  if (SSL_CTX_use_certificate(tls_, certificate) != 1 || SSL_CTX_use_PrivateKey(tls_, privateKey) != 1 ||
      SSL_CTX_check_private_key(tls_) != 1) {
    SSL_CTX_free(tls_);
    tls_ = nullptr;
  }
}

TrackedHttpServer::~TrackedHttpServer() {
  if (listener_ >= 0) ::close(listener_);
  if (epoll_ >= 0) ::close(epoll_);
  if (wake_ >= 0) ::close(wake_);
  if (tls_) SSL_CTX_free(tls_);
}

bool TrackedHttpServer::is_valid() const { return epoll_ >= 0 && wake_ >= 0 && (tls_ != nullptr || !tlsWanted_); }

std::size_t TrackedHttpServer::heldLimit() const {
  return std::max<std::size_t>(heldRequestLimit_.load(), payload_max_length_ + 2 * kHeadLimit + 2 * kReadBlock);
}

double TrackedHttpServer::writeTimeout() const {
  return static_cast<double>(write_timeout_sec_) + static_cast<double>(write_timeout_usec_) / 1e6;
}

std::optional<int> TrackedHttpServer::bind(const std::string& host, int port) {
  if (listener_ >= 0 || port < 0 || port > 65535) return std::nullopt;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.empty() ? nullptr : host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return std::nullopt;
  for (addrinfo* a = found; a && listener_ < 0; a = a->ai_next) {
    const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) continue;
    // A port whose last connections wait out their end may be taken again; a port a listener
    // holds never is (no sharing option: a second listener would split its connections).
    int yes = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (::bind(fd, a->ai_addr, a->ai_addrlen) == 0 && ::listen(fd, SOMAXCONN) == 0)
      listener_ = fd;
    else
      ::close(fd);
  }
  ::freeaddrinfo(found);
  if (listener_ < 0) return std::nullopt;
  sockaddr_storage name{};
  socklen_t length = sizeof name;
  ::getsockname(listener_, reinterpret_cast<sockaddr*>(&name), &length);
  const auto bound = name.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&name)->sin6_port
                                                : reinterpret_cast<sockaddr_in*>(&name)->sin_port;
  return static_cast<int>(ntohs(bound));
}

void TrackedHttpServer::serve() {
  if (listener_ < 0 || stopping_ || !is_valid()) return;
  // The HTTP layer writes an answer made as it goes (in chunks, or from a provider) only while it
  // counts itself running, which only its own accepting loop makes it. That loop runs meanwhile
  // on one end of a socket pair, which no peer can reach; ending that end ends the loop.
  int pair[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return;
  svr_sock_ = pair[0];
  set_idle_interval(3600);  // waits on the pair for its end, never in an accept
  std::promise<void> running;
  new_task_queue = [&running] {
    running.set_value();
    return new httplib::ThreadPool(0);
  };
  std::thread layer([this] { listen_after_bind(); });
  running.get_future().wait();

  bool started;
  {
    std::lock_guard lock(mutex_);
    for (std::size_t i = 0; i < workerCount_; ++i)
      if (auto worker = startWorker()) workers_.push_back(*worker);
    started = !workers_.empty();
  }
  // With no worker nothing would be answered: the server ends as if stopped.
  if (started) Loop(*this).run();
  std::vector<pthread_t> workers;
  {
    std::lock_guard lock(mutex_);
    workersDone_ = true;
    workers.swap(workers_);
  }
  workAvailable_.notify_all();
  for (pthread_t worker : workers) ::pthread_join(worker, nullptr);
  ::shutdown(pair[0], SHUT_RDWR);  // the layer's loop wakes, fails to accept, closes it and ends
  layer.join();
  ::close(pair[1]);
}

void TrackedHttpServer::stop() {
  stopping_ = true;
  const std::uint64_t one = 1;
  [[maybe_unused]] auto written = ::write(wake_, &one, sizeof one);
}

void TrackedHttpServer::endConnections(bool wholly) {
  {
    std::lock_guard lock(mutex_);
    endWholly_ = endWholly_ || wholly;
    ending_ = true;
    // An answer under way is cut off; the loop ends the rest.
    if (endWholly_)
      for (const auto& c : open_) c->socket->shutdown();
  }
  const std::uint64_t one = 1;
  [[maybe_unused]] auto written = ::write(wake_, &one, sizeof one);
}

std::shared_ptr<TcpSocket> TrackedHttpServer::connectionServed() const {
  return tServer == this && tConnection ? *tConnection : nullptr;
}

void TrackedHttpServer::hand(const std::shared_ptr<Connection>& connection) {
  {
    std::lock_guard lock(mutex_);
    work_.push_back(connection);
  }
  workAvailable_.notify_one();
}

std::optional<pthread_t> TrackedHttpServer::startWorker() {
  pthread_attr_t attributes;
  if (::pthread_attr_init(&attributes) != 0) return std::nullopt;
  ::pthread_attr_setstacksize(&attributes, kWorkerStack);
  pthread_t thread;
  const int rc = ::pthread_create(
      &thread, &attributes,
      [](void* server) -> void* {
        static_cast<TrackedHttpServer*>(server)->work();
        return nullptr;
      },
      this);
  ::pthread_attr_destroy(&attributes);
  if (rc != 0) return std::nullopt;
  return thread;
}

TrackedHttpServer::HeldRequest::HeldRequest() : server_(tServer) {
  if (!server_) return;
  std::lock_guard lock(server_->mutex_);
  ++server_->heldWorkers_;
  // Workers that are not held stay as many as the server was given.
  if (!server_->workersDone_ && server_->heldWorkers_ <= kMostHeld &&
      server_->workers_.size() - std::min(server_->workers_.size(), server_->heldWorkers_) < server_->workerCount_)
    if (auto worker = server_->startWorker()) server_->workers_.push_back(*worker);
}

TrackedHttpServer::HeldRequest::~HeldRequest() {
  if (!server_) return;
  std::lock_guard lock(server_->mutex_);
  --server_->heldWorkers_;
}

void TrackedHttpServer::work() {
  for (;;) {
    std::shared_ptr<Connection> c;
    {
      std::unique_lock lock(mutex_);
      workAvailable_.wait(lock, [this] { return !work_.empty() || workersDone_; });
      if (work_.empty()) return;
      c = std::move(work_.front());
      work_.pop_front();
    }
    answer(*c);
    giveBack(c);
  }
}

void TrackedHttpServer::answer(Connection& c) {
  bool last;
  {
    std::lock_guard lock(mutex_);
    last = ending_ || c.served + 1 >= keep_alive_max_count_;
  }
  AnswerStream stream(c, writeTimeout(), heldLimit());
  TrackedHttpServer* const outerServer = tServer;
  const auto* outerConnection = tConnection;
  tServer = this;
  tConnection = &c.socket;
  AnswerStream* const outerStream = tStream;
  tStream = &stream;
  bool closed = false;
  SSL* tls = c.tls;
  bool served = false;
  try {
    served = process_request(stream, last, closed, [tls](httplib::Request& request) { request.ssl = tls; });
  } catch (...) {
    // Thrown past the layer's exception handler, which sees only the route's handler: by a body
    // made as it goes out, say. On this thread it would end the process: the answer is cut off
    // instead, and the connection ends.
    stream.abandon();
  }
  tServer = outerServer;
  tConnection = outerConnection;
  tStream = outerStream;
  c.keep = served && !closed && !last && !stream.failed();
  // An answer kept for the loop ends its TLS session there, once written.
  c.answerKept = served && stream.kept();
  if (stream.failed()) c.out.clear();  // nothing more goes out on it
  if (!c.keep && c.tls && served && !stream.kept()) SSL_shutdown(c.tls);  // the peer's close_notify is not awaited
}

void TrackedHttpServer::giveBack(const std::shared_ptr<Connection>& connection) {
  {
    std::lock_guard lock(mutex_);
    returned_.push_back(connection);
  }
  const std::uint64_t one = 1;
  [[maybe_unused]] auto written = ::write(wake_, &one, sizeof one);
}

void TrackedHttpServer::closeConnection(const std::shared_ptr<Connection>& connection) {
  std::lock_guard lock(mutex_);
  open_.erase(connection);
  connection->socket->shutdown();
  connection->socket->close();
}

}  // namespace os
