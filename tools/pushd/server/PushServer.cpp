#include "tools/pushd/server/PushServer.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <list>
#include <sstream>
#include <utility>

#include "foundation/formats/JSONTideDeserializing.h"
#include "os/crypto/Digest.h"
#include "os/net/Socket.h"
#include "os/runtime/Clock.h"
#include "os/runtime/Process.h"
#include "os/runtime/RunLoop.h"
#include "os/runtime/Thread.h"
#include "os/runtime/Timer.h"
#include "os/store/FileManager.h"
#include "tools/pushd/server/NewestKeys.h"

namespace pushd {

namespace {


struct Identity {
  std::uint32_t uid = 0;
  std::string password;
  std::string registrationID;
  std::string appkey;
  // Its line in the identity file, made once: the file is written whole at each registration.
  std::string line;
  // Its place among the identities by their last registration or login.
  std::list<const Identity*>::iterator use;
};

// Big-endian reading of one request frame; past the end every read is empty.
struct Reader {
  const os::Data& bytes;
  std::size_t at;
  bool failed = false;
  std::uint64_t number(std::size_t width) {
    if (at + width > bytes.size()) {
      failed = true;
      at = bytes.size();
      return 0;
    }
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < width; ++i) value = (value << 8) | bytes[at + i];
    at += width;
    return value;
  }
  bool atEnd() const { return !failed && at == bytes.size(); }
  std::string text() {
    std::size_t count = number(2);
    if (at + count > bytes.size()) {
      failed = true;
      at = bytes.size();
      return {};
    }
    std::string out(bytes.begin() + static_cast<long>(at), bytes.begin() + static_cast<long>(at + count));
    at += count;
    return out;
  }
};

struct Writer {
  os::Data bytes;
  Writer(std::uint8_t version, std::uint8_t command, std::uint16_t rid) {
    bytes = {0, 0, version, command, static_cast<std::uint8_t>(rid >> 8), static_cast<std::uint8_t>(rid)};
  }
  Writer& number(std::uint64_t value, std::size_t width) {
    for (std::size_t i = width; i-- > 0;) bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    return *this;
  }
  Writer& text(const std::string& s) {
    number(s.size(), 2);
    bytes.insert(bytes.end(), s.begin(), s.end());
    return *this;
  }
  os::Data frame() {
    bytes[0] = static_cast<std::uint8_t>(bytes.size() >> 8);
    bytes[1] = static_cast<std::uint8_t>(bytes.size());
    return bytes;
  }
};

std::vector<std::string> split(const std::string& text, const std::string& separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (auto at = text.find(separator); at != std::string::npos; at = text.find(separator, start)) {
    parts.push_back(text.substr(start, at - start));
    start = at + separator.size();
  }
  parts.push_back(text.substr(start));
  return parts;
}

// The status the service answers a registration, login or token report with whose body is not
// the command's (its app key aside, which has a status of its own).
constexpr std::uint16_t kStatusMalformed = 1001;
constexpr std::uint16_t kStatusAppKeyIllegal = 1008;
// The status of a registration whose identity could not be written: the client registers again
// later, while a uid answered as kept would be unknown after a restart.
constexpr std::uint16_t kStatusNotKept = 1002;
// Frames longer than this cannot be written: the length field has 16 bits.
constexpr std::size_t kMaximumFrame = 65535;
// What a connection's unwritten answers may reach before nothing more is read from it.
constexpr std::size_t kAnswersHeld = std::size_t{256} << 10;
// Pushed messages are framed into a connection's unwritten bytes only below this: they never
// hold its reading back on their own, and the rest wait, in order, among its unreceipted ones.
constexpr std::size_t kPushesWritten = kAnswersHeld / 2;
// A tags and alias request stays below this, header included.
constexpr std::size_t kMaximumTagsFrame = 1024;

bool isLowerHex(const std::string& text, std::size_t length) {
  return text.size() == length && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

bool plausibleAppKey(const std::string& key) {
  if (key.empty()) return false;
  for (unsigned char c : key)
    if (!std::isalnum(c)) return false;
  return true;
}

// A message pushed to a device and not yet receipted.
struct Pushed {
  std::uint16_t rid = 0;
  std::uint8_t type = 0;
  std::uint32_t id = 0;
  std::string content;
  // What it counts against the bound: its content, its entry and its share of the queue's blocks.
  std::size_t charge() const { return content.size() + 64; }
};

// Messages waiting for their receipts, oldest first, and what they count together. On a
// connection the first `sent` of them have gone out; the rest wait for the peer to take what it
// was sent, so a device that does not read holds no more than its bound here.
struct PushedQueue {
  std::deque<Pushed> messages;
  std::size_t bytes = 0;
  std::size_t sent = 0;
};

}  // namespace

struct Connection {
  std::shared_ptr<os::TcpSocket> socket;
  os::Data in;
  os::Data out;
  // Where the bytes of `out` not yet written begin; the written ones are cut off in bulk.
  std::size_t outAt = 0;
  // A registration taken here waits for its identity to reach the file: its answer and every
  // frame behind it wait too, so answers keep the order of their requests.
  bool awaitingIdentityWrite = false;
  // Answers are gathered while a read's frames are handled and written together after them.
  bool corked = false;
  // A frame too short for a request's header ended the reading: the connection ends once the
  // answers to the frames before it are written.
  bool closing = false;
  // Nothing more is read: for good once the connection is closing, and while its peer leaves too
  // many answers unread.
  bool readingEnded = false;
  bool readingHeld = false;
  std::uint32_t uid = 0;
  bool loggedIn = false;
  std::uint32_t session = 0;
  // Accepted at the backup core address.
  bool viaBackup = false;
  // Messages pushed on this connection and not yet receipted, in the order they went. A receipt
  // repeats its message's rid, type and id, and settles the messages before it too: the client
  // reads in order and may leave out the receipts of a burst. What is left when the connection
  // ends waits for the device's next one.
  PushedQueue unreceipted;
};

struct PushServer::Impl {
  ServerOptions options;
  std::shared_ptr<os::Thread> thread;
  std::shared_ptr<os::UdpSocket> lookup;
  std::shared_ptr<os::TcpListener> core, backupCore, control;
  std::vector<std::shared_ptr<Connection>> connections;
  // The push connections open at once, at both core addresses.
  std::size_t connectionLimit = 0;
  // Written on the service's thread only, under identityMutex, which the report service's threads
  // take to read: they never wait for this thread, which may itself be waiting for them.
  std::map<std::uint32_t, Identity> identities;
  mutable std::mutex identityMutex;
  std::uint32_t nextUid = 1001;
  std::uint32_t nextSession = 1;
  std::uint32_t nextMessageId = 5001;
  std::uint16_t nextRid = 1;
  bool silent = false;
  double delay = 0;
  std::uint16_t corePort = 0, backupCorePort = 0, lookupPort = 0;
  // The primary is down: its lookup is silent and its core port takes no connection; the backup
  // core address serves on.
  bool primaryDown = false;
  std::unique_ptr<ReportService> reports;
  // By uid: the messages a device's connections ended without receipting, for its next login.
  std::map<std::uint32_t, PushedQueue> kept;

  mutable std::mutex mutex;
  // The newest events only: a service that runs for long would otherwise keep every frame it saw.
  std::deque<std::string> events;

  void note(const std::string& event) {
    {
      std::lock_guard lock(mutex);
      events.push_back(event);
      if (events.size() > PushServer::kEventLimit) events.pop_front();
    }
    if (options.verbose) std::fprintf(stderr, "pushd: %s\n", event.c_str());
  }

  // ---- identities ----
  // The uids, least recently registered or logged in first: past the bounds the first go. A login
  // moves its uid here only; the file takes the order at its next write.
  std::list<const Identity*> identityUse;
  // What the identities' lines in the file hold together.
  std::size_t identityLineBytes = 0;
  // Answers to registrations whose identities are not yet in the file, in the order taken. The
  // file is written once for all the registrations of one turn of the loop, then they are
  // answered: an answered registration is on disk.
  struct UnwrittenRegistration {
    std::shared_ptr<Connection> connection;
    std::uint32_t uid = 0;
    os::Data answer;
  };
  std::vector<UnwrittenRegistration> unwrittenRegistrations;

  static std::string identityLine(const Identity& identity) {
    return std::to_string(identity.uid) + " " + identity.password + " " + identity.registrationID + " " +
           identity.appkey + "\n";
  }
  void loadIdentities() {
    if (options.identityFile.empty()) return;
    // What a server killed while writing the file anew left beside it.
    os::FileManager::defaultManager().removeAbandonedTemporaryFiles(options.identityFile);
    auto bytes = os::FileManager::defaultManager().contentsAtPath(options.identityFile);
    if (!bytes) return;
    std::istringstream lines(os::stringFromData(*bytes));
    Identity identity;
    // Oldest use first, so the bounds let go of the same ones they would have; a uid the bounds
    // let go of here is still never given again.
    while (lines >> identity.uid >> identity.password >> identity.registrationID >> identity.appkey) {
      keepIdentity(identity);
      nextUid = std::max(nextUid, identity.uid + 1);
    }
  }
  // Keeps the identity as the most recently used, letting go of the least recently used past the
  // bounds, and of the messages that waited for them: no one can log in as them again.
  void keepIdentity(Identity identity) {
    std::lock_guard lock(identityMutex);
    if (auto known = identities.find(identity.uid); known != identities.end()) forgetIdentity(known);
    const std::uint32_t uid = identity.uid;
    Identity& stored = identities.emplace(uid, std::move(identity)).first->second;
    stored.line = identityLine(stored);
    stored.use = identityUse.insert(identityUse.end(), &stored);
    identityLineBytes += stored.line.size();
    while (identities.size() > 1 &&
           (identities.size() > options.identityLimit || identityLineBytes > options.identityBytes)) {
      const std::uint32_t oldest = identityUse.front()->uid;
      note("identity let go " + std::to_string(oldest));
      kept.erase(oldest);
      forgetIdentity(identities.find(oldest));
    }
  }
  // Under identityMutex.
  void forgetIdentity(std::map<std::uint32_t, Identity>::iterator identity) {
    identityLineBytes -= identity->second.line.size();
    identityUse.erase(identity->second.use);
    identities.erase(identity);
  }
  // A login uses the identity: it goes last among those the bounds let go of.
  void useIdentity(Identity& identity) { identityUse.splice(identityUse.end(), identityUse, identity.use); }
  // Answers a registration once its identity is on disk (at once without a file).
  void answerRegistration(const std::shared_ptr<Connection>& connection, std::uint32_t uid, os::Data answer) {
    if (options.identityFile.empty()) return send(connection, answer);
    // Posted tasks run after the sources of the turn that is being handled.
    if (unwrittenRegistrations.empty()) thread->runLoop()->post([this] { writeIdentities(); });
    unwrittenRegistrations.push_back({connection, uid, std::move(answer)});
    connection->awaitingIdentityWrite = true;
  }
  // Writes the file, then answers the registrations waiting for it: as kept once it is written,
  // else refused, their identities forgotten so that no later write brings them back.
  void writeIdentities() {
    auto waiting = std::exchange(unwrittenRegistrations, {});
    if (waiting.empty()) return;
    std::string text;
    text.reserve(identityLineBytes);
    for (const Identity* identity : identityUse) text += identity->line;
    const bool written = os::FileManager::defaultManager().writeData(os::dataFromString(text), options.identityFile,
                                                                     {.atomic = true, .mode = 0600});
    if (!written) {
      note("identities not written to " + options.identityFile);
      std::lock_guard lock(identityMutex);
      for (const auto& registration : waiting)
        if (auto refused = identities.find(registration.uid); refused != identities.end()) forgetIdentity(refused);
    }
    for (const auto& registration : waiting) {
      registration.connection->awaitingIdentityWrite = false;
      if (written) {
        send(registration.connection, registration.answer);
        continue;
      }
      note("register not kept " + std::to_string(registration.uid));
      const os::Data& kept = registration.answer;
      send(registration.connection, Writer(kept[2], 0, static_cast<std::uint16_t>((kept[4] << 8) | kept[5]))
                                         .number(kStatusNotKept, 2)
                                         .text("registration could not be kept")
                                         .frame());
    }
    // Then the frames that came behind each registration, in their order.
    for (const auto& registration : waiting) consume(registration.connection);
  }
  Identity makeIdentity(const std::string& appkey) {
    Identity identity;
    identity.uid = nextUid++;
    // Deterministic for a given uid, so a restarted service with the same file agrees.
    identity.password = os::md5Hex("pushd-password-" + std::to_string(identity.uid)).substr(0, 16);
    identity.registrationID = "0" + os::md5Hex("pushd-registration-" + std::to_string(identity.uid)).substr(0, 10);
    identity.appkey = appkey;
    keepIdentity(identity);
    return identity;
  }

  // ---- sockets ----
  void send(const std::shared_ptr<Connection>& connection, const os::Data& frame) {
    auto write = [this, connection, frame] {
      if (!connection->socket) return;
      connection->out.insert(connection->out.end(), frame.begin(), frame.end());
      if (!connection->corked) flush(connection);
    };
    if (delay > 0) {
      os::Timer::scheduled(*thread->runLoop(), delay, false, [write](os::Timer&) { write(); });
      return;
    }
    write();
  }
  // Frames the pushed messages waiting on the connection while its unwritten bytes leave room;
  // held by a reply delay, each goes as an answer does.
  void frameWaitingPushes(const std::shared_ptr<Connection>& connection) {
    PushedQueue& queue = connection->unreceipted;
    while (connection->socket && !connection->closing && queue.sent < queue.messages.size() &&
           (delay > 0 || connection->out.size() - connection->outAt < kPushesWritten)) {
      const Pushed& message = queue.messages[queue.sent++];
      os::Data frame = Writer(1, 3, message.rid).number(0, 4).number(message.type, 1).number(message.id, 4)
                           .text(message.content).frame();
      if (delay > 0) {
        send(connection, frame);
        continue;
      }
      connection->out.insert(connection->out.end(), frame.begin(), frame.end());
    }
  }
  void flush(const std::shared_ptr<Connection>& connection) {
    os::Data& out = connection->out;
    frameWaitingPushes(connection);
    while (connection->socket && connection->outAt < out.size()) {
      long written = connection->socket->send(out.data() + connection->outAt, out.size() - connection->outAt);
      if (written < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK) return drop(connection, false);
        connection->socket->enableWriteCallback();
        break;
      }
      connection->outAt += static_cast<std::size_t>(written);
      if (connection->outAt == out.size()) {
        out.clear();
        connection->outAt = 0;
        frameWaitingPushes(connection);
      }
    }
    // The written bytes are cut off once most of the buffer is written, not after every send.
    if (connection->outAt == out.size()) {
      out.clear();
      connection->outAt = 0;
      if (connection->closing) return drop(connection, false);
    } else if (connection->outAt >= out.size() / 2) {
      out.erase(out.begin(), out.begin() + static_cast<long>(connection->outAt));
      connection->outAt = 0;
    }
    if (!connection->socket) return;
    // A peer that sends requests and leaves their answers unread is read no further until it has
    // taken most of them: its answers would otherwise grow without bound.
    const bool backedUp = out.size() - connection->outAt >= kAnswersHeld;
    if (backedUp == connection->readingHeld || connection->readingEnded) return;
    connection->readingHeld = backedUp;
    connection->socket->setReadCallbackEnabled(!backedUp);
    note((backedUp ? "reading held " : "reading resumed ") + std::to_string(connection->uid));
  }
  void drop(const std::shared_ptr<Connection>& connection, bool reset) {
    if (!connection->socket) return;
    if (reset) {
      linger option{1, 0};
      ::setsockopt(connection->socket->nativeHandle(), SOL_SOCKET, SO_LINGER, &option, sizeof option);
    }
    connection->socket->close();
    connection->socket.reset();
    note("closed " + std::to_string(connection->uid));
    // A device whose identity was let go meanwhile never logs in again: nothing waits for it.
    if (connection->loggedIn && identities.contains(connection->uid))
      keep(connection->uid, std::exchange(connection->unreceipted, {}));
    std::erase(connections, connection);
  }

  // ---- messages waiting for receipts ----
  // Adds a message to a device's waiting ones; past the bound the oldest are let go.
  void await(std::uint32_t uid, PushedQueue& queue, Pushed message) {
    queue.bytes += message.charge();
    queue.messages.push_back(std::move(message));
    while (queue.bytes > options.keptBytes && !queue.messages.empty()) {
      note("forgot " + std::to_string(uid) + " " + std::to_string(queue.messages.front().id));
      queue.bytes -= queue.messages.front().charge();
      queue.messages.pop_front();
      if (queue.sent > 0) --queue.sent;
    }
  }
  // A connection's messages that were never receipted wait for the device, after any it had.
  void keep(std::uint32_t uid, PushedQueue unreceipted) {
    // Sent or still waiting to be, each goes again at the next login.
    if (unreceipted.messages.empty()) return;
    note("kept " + std::to_string(uid) + " " + std::to_string(unreceipted.messages.size()));
    auto& waiting = kept[uid];
    for (auto& message : unreceipted.messages) await(uid, waiting, std::move(message));
  }
  // What waited for the device goes first on the connection it has just logged in on.
  void resend(const std::shared_ptr<Connection>& connection) {
    auto waiting = kept.extract(connection->uid);
    if (waiting.empty()) return;
    note("resent " + std::to_string(connection->uid) + " " + std::to_string(waiting.mapped().messages.size()));
    for (const auto& message : waiting.mapped().messages) pushTo(connection, message.content, message.id, message.type);
  }

  std::shared_ptr<os::TcpListener> listenForCore(std::uint16_t port, bool backup) {
    auto listener = os::TcpListener::listen("127.0.0.1", port);
    if (listener)
      listener->schedule(thread->runLoop(),
                         [this, backup](std::shared_ptr<os::TcpSocket> socket) { accept(std::move(socket), backup); });
    return listener;
  }

  // Takes the primary down (its connections end) or brings it back on the same port.
  bool setPrimaryDown(bool down) {
    if (down && core) {
      core->close();
      core.reset();
      for (const auto& connection : std::vector(connections))
        if (!connection->viaBackup) drop(connection, false);
    }
    if (!down && !core && !(core = listenForCore(corePort, false))) return false;
    primaryDown = down;
    note(down ? "primary down" : "primary up");
    return reports->setPrimaryDown(down);
  }

  void accept(std::shared_ptr<os::TcpSocket> socket, bool backup) {
    // Past the bound a newcomer takes the place of the oldest connection that never logged in: a
    // peer opening connection after connection keeps no device out for long, and the service
    // never runs out of descriptors. With every one logged in, the newcomer is refused.
    if (connections.size() >= connectionLimit) {
      auto idle = std::find_if(connections.begin(), connections.end(), [](const auto& c) { return !c->loggedIn; });
      if (idle == connections.end()) {
        note("connection refused: " + std::to_string(connections.size()) + " open");
        return socket->close();
      }
      drop(std::shared_ptr<Connection>(*idle), false);
    }
    auto connection = std::make_shared<Connection>();
    connection->socket = socket;
    connection->viaBackup = backup;
    connections.push_back(connection);
    std::weak_ptr<Connection> weak = connection;
    os::Socket::Callbacks callbacks;
    callbacks.readable = [this, weak] {
      if (auto c = weak.lock()) read(c);
    };
    callbacks.writable = [this, weak] {
      if (auto c = weak.lock()) flush(c);
    };
    socket->schedule(thread->runLoop(), callbacks);
  }

  // Blocks read from one connection in a turn of the loop, and their size: a peer that always has
  // more bytes ready (a stream of frames at loopback speed) takes turns with the others, and what
  // a connection holds stays within a frame and what one turn reads. The rest waits in the socket,
  // which is watched level-triggered, for the next turn. Turns of a quarter of this made a burst of
  // small frames up to twice as slow.
  static constexpr std::size_t kReadsPerTurn = 4;
  static constexpr std::size_t kReadBlock = 64 * 1024;
  // The block every read of the loop goes into.
  std::vector<std::uint8_t> readBlock = std::vector<std::uint8_t>(kReadBlock);

  void read(const std::shared_ptr<Connection>& connection) {
    // The frames behind a registration wait for its identity's write at the end of this turn:
    // nothing more is read meanwhile, or a peer sending registrations back to back would pile up
    // what it sent faster than one is answered a turn.
    if (connection->awaitingIdentityWrite) return;
    std::uint8_t* buffer = readBlock.data();
    for (std::size_t reads = 0; connection->socket && reads < kReadsPerTurn; ++reads) {
      long count = connection->socket->receive(buffer, kReadBlock);
      if (count == 0) {
        // The frames that came before the peer's end are still its own: a receipt among them
        // settles its message, which would otherwise go again at the device's next login.
        consume(connection);
        return drop(connection, false);
      }
      if (count < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK) break;
        return drop(connection, false);
      }
      connection->in.insert(connection->in.end(), buffer, buffer + count);
    }
    consume(connection);
  }

  // Handles the whole frames at the front of the input in order, by an offset, and cuts them off
  // once: a burst of frames costs its length, not its length times its count.
  void consume(const std::shared_ptr<Connection>& connection) {
    const os::Data& in = connection->in;
    std::size_t at = 0;
    connection->corked = true;
    while (connection->socket && !connection->awaitingIdentityWrite && in.size() - at >= 2) {
      const std::size_t length = (std::size_t{in[at]} << 8) | in[at + 1];
      if (length < 10) return endAfterAnswers(connection);  // shorter than a request header
      if (in.size() - at < length) break;
      const auto begin = in.begin() + static_cast<long>(at);
      os::Data frame(begin, begin + static_cast<long>(length));
      at += length;
      if (!silent) handle(connection, frame);
    }
    connection->corked = false;
    if (!connection->socket) return;
    connection->in.erase(connection->in.begin(), connection->in.begin() + static_cast<long>(at));
    flush(connection);
  }

  // Reads nothing more from the connection and ends it once the answers gathered so far, and those
  // still held by a reply delay, are written.
  void endAfterAnswers(const std::shared_ptr<Connection>& connection) {
    connection->in.clear();
    connection->corked = false;
    connection->readingEnded = true;
    connection->socket->setReadCallbackEnabled(false);
    auto end = [this, connection] {
      if (!connection->socket) return;
      connection->closing = true;
      flush(connection);
    };
    if (delay > 0) {
      os::Timer::scheduled(*thread->runLoop(), delay, false, [end](os::Timer&) { end(); });
      return;
    }
    end();
  }

  // Commands and the versions they are sent with; a frame of another version is not read.
  static std::optional<std::uint8_t> versionOf(std::uint8_t command) {
    switch (command) {
      case 0: return 8;   // registration
      case 1: return 10;  // login
      case 2: return 2;   // heartbeat
      case 10: return 4;  // tags and alias
      case 13: return 2;  // device token
      default: return std::nullopt;
    }
  }

  void handle(const std::shared_ptr<Connection>& connection, const os::Data& frame) {
    std::uint8_t version = frame[2], command = frame[3];
    std::uint16_t rid = static_cast<std::uint16_t>((frame[4] << 8) | frame[5]);
    Reader body{frame, 6};
    const auto session = static_cast<std::uint32_t>(body.number(4));
    if (command == 4) return receipt(connection, frame, version, rid, session);
    const auto expected = versionOf(command);
    if (!expected) return note("unknown command " + std::to_string(command));
    const bool versionOk = version == *expected;
    // Registration and login come before a session: they carry session id 0. Everything else
    // needs the login of this connection and carries the session id it gave.
    const bool sessionOk = command <= 1 ? session == 0 : connection->loggedIn && session == connection->session;
    switch (command) {
      case 0: {  // register
        auto device = split(body.text(), "$$");
        std::string bundleVersion = body.text();
        auto system = split(body.text(), "$$");
        std::string token = body.text();
        body.number(1);
        body.number(1);
        const bool last = body.number(1) == 1;
        std::string appkey = device.size() == 4 ? device[3] : "";
        Writer answer(version, 0, rid);
        const bool wellFormed = versionOk && sessionOk && last && body.atEnd() && device.size() == 4 && device[1] == " " &&
                                !bundleVersion.empty() && system.size() == 6 && system[2] == " " && system[3] == " " &&
                                system[5] == "1.8.1" && !token.empty();
        if (!wellFormed) {
          note("register refused");
          return send(connection, answer.number(kStatusMalformed, 2).text("registration request is malformed").frame());
        }
        if (!plausibleAppKey(appkey)) {
          note("register refused");
          return send(connection, answer.number(kStatusAppKeyIllegal, 2).text("app_key is illegal").frame());
        }
        Identity identity = makeIdentity(appkey);
        note("register " + std::to_string(identity.uid));
        // A device that registers with its token has reported it: the client counts it uploaded.
        if (token != " ") reportedTokens.add(token);
        answer.number(0, 2).number(identity.uid, 4).text(identity.password).text(identity.registrationID);
        return answerRegistration(connection, identity.uid, answer.frame());
      }
      case 1: {  // login
        std::uint32_t uid = static_cast<std::uint32_t>(body.number(4));
        const bool fromPhone = body.number(4) == 0x69000000;
        std::string hashed = body.text();
        body.number(4);
        std::string appkey = body.text();
        const bool last = body.number(1) == 1;
        auto known = identities.find(uid);
        Writer answer(version, 1, rid);
        if (!versionOk || !sessionOk || !fromPhone || !last || !body.atEnd() || !isLowerHex(hashed, 32)) {
          note("login refused " + std::to_string(uid));
          return send(connection, answer.number(kStatusMalformed, 2).text("login request is malformed").frame());
        }
        if (known == identities.end() || os::md5Hex(known->second.password) != hashed || known->second.appkey != appkey) {
          note("login refused " + std::to_string(uid));
          return send(connection, answer.number(2, 2).text("login refused").frame());
        }
        useIdentity(known->second);
        connection->uid = uid;
        connection->loggedIn = true;
        connection->session = nextSession++;
        note("login " + std::to_string(uid));
        send(connection, answer.number(0, 2).number(connection->session, 4).number(options.serverVersion, 2).frame());
        resend(connection);
        if (options.onLogin) options.onLogin();
        return;
      }
      case 2: {  // heartbeat: the uid alone, 14 bytes in all
        std::uint32_t uid = static_cast<std::uint32_t>(body.number(4));
        if (!versionOk || !sessionOk || !body.atEnd() || uid != connection->uid)
          return note("heartbeat refused " + std::to_string(uid));
        note("heartbeat " + std::to_string(uid));
        return ack(connection, command, rid);
      }
      case 10: {  // tags and alias
        std::uint32_t uid = static_cast<std::uint32_t>(body.number(4));
        std::string appkey = body.text();
        std::string json = body.text();
        if (!versionOk || !sessionOk || !body.atEnd() || uid != connection->uid)
          return note("tags refused " + std::to_string(uid));
        // A request of 1024 bytes or more is one the client has already failed to its caller: it
        // is acknowledged, and refused.
        const bool fits = frame.size() < kMaximumTagsFrame;
        note(fits ? "tags " + std::to_string(uid) + " " + json : "tags refused " + std::to_string(uid) + " too long");
        ack(connection, command, rid);
        // The answer travels as a message of the tags/alias type, naming the request's sequence;
        // a request that is not the app's own or whose JSON is not the command's gets a code of
        // the service's.
        auto request = objectFromJSONString(json);
        const os::Dictionary* fields = request ? request->dictionary() : nullptr;
        const bool valid = fits && fields && (*fields)["platform"] == os::Value("i") &&
                           (!fields->contains("tags") || (*fields)["tags"].isString()) &&
                           (!fields->contains("alias") || (*fields)["alias"].isString()) &&
                           identities.contains(uid) && identities.at(uid).appkey == appkey;
        std::string answer =
            R"({"sequence":)" + std::to_string(rid) + R"(,"code":)" + (valid ? "0" : std::to_string(kStatusMalformed)) + "}";
        return pushTo(connection, answer, nextMessageId++, 20);
      }
      case 13: {  // device token
        std::uint32_t uid = static_cast<std::uint32_t>(body.number(4));
        std::string token = body.text();
        body.number(1);
        body.number(1);
        if (!versionOk || !sessionOk || !body.atEnd() || uid != connection->uid || token.empty()) {
          note("token refused " + std::to_string(uid));
          return send(connection, Writer(version, 13, rid).number(kStatusMalformed, 2).text("token report is malformed").frame());
        }
        note("token " + std::to_string(uid) + " " + token);
        reportedTokens.add(token);
        return send(connection, Writer(version, 13, rid).number(0, 2).frame());
      }
    }
  }

  // The receipt of a pushed message: command 4 with the message's version and rid, 21 bytes in
  // all: status 0, this device's uid, the message's type and id. Messages of the tags/alias type
  // get none.
  void receipt(const std::shared_ptr<Connection>& connection, const os::Data& frame, std::uint8_t version,
               std::uint16_t rid, std::uint32_t session) {
    Reader body{frame, 10};
    const auto status = body.number(2);
    const auto uid = static_cast<std::uint32_t>(body.number(4));
    const auto type = static_cast<std::uint8_t>(body.number(1));
    const auto id = static_cast<std::uint32_t>(body.number(4));
    auto& waiting = connection->unreceipted;
    // Only a message that went out can be receipted: one still waiting was never seen.
    const auto sentEnd = waiting.messages.begin() + static_cast<long>(waiting.sent);
    auto pushed =
        std::find_if(waiting.messages.begin(), sentEnd, [rid](const Pushed& message) { return message.rid == rid; });
    const bool valid = connection->loggedIn && session == connection->session && body.atEnd() && status == 0 &&
                       uid == connection->uid && version == 1 && pushed != sentEnd && pushed->type == type &&
                       pushed->id == id;
    if (!valid) return note("receipt refused " + std::to_string(uid) + " " + std::to_string(id));
    for (auto settled = waiting.messages.begin(); settled != pushed + 1; ++settled) waiting.bytes -= settled->charge();
    waiting.sent -= static_cast<std::size_t>(pushed + 1 - waiting.messages.begin());
    waiting.messages.erase(waiting.messages.begin(), pushed + 1);
    note("receipt " + std::to_string(uid) + " " + std::to_string(id));
  }

  // A message (command 3, version 1) to one connection: from-uid 0, type, id, content.
  void pushTo(const std::shared_ptr<Connection>& connection, const std::string& content, std::uint32_t id,
              std::uint8_t type) {
    const std::uint16_t rid = nextRid++;
    if (type == 20)
      return send(connection, Writer(1, 3, rid).number(0, 4).number(type, 1).number(id, 4).text(content).frame());
    // Goes out behind those waiting before it, as the peer takes what it was sent.
    await(connection->uid, connection->unreceipted, {rid, type, id, content});
    if (!connection->corked) flush(connection);
  }

  void ack(const std::shared_ptr<Connection>& connection, std::uint8_t command, std::uint16_t rid) {
    if (options.serverVersion == 0) return;
    auto now = static_cast<std::uint64_t>(os::Clock::now() * 1000);
    send(connection, Writer(1, 19, rid).number(command, 1).number(0, 1).number(0, 1).number(now, 8).frame());
  }

  void answerLookup() {
    sockaddr_in from{};
    auto datagram = lookup->receiveFrom(2048, &from);
    if (!datagram || silent) return;
    if (primaryDown) return note("refused lookup: the primary is down");
    if (auto fault = lookupFault(*datagram)) return note("refused lookup: " + *fault);
    // The uid's low byte names a device that registered here, unless the service forgot it (a
    // restart without an identity file): answered, and said.
    const std::uint8_t uidByte = (*datagram)[4] == 0 ? (*datagram)[6] : 0;
    bool known = uidByte == 0;
    {
      std::lock_guard lock(identityMutex);
      for (const auto& [uid, identity] : identities) known = known || (uid & 0xff) == uidByte;
    }
    if (!known) note("unknown uid byte in lookup " + std::to_string(uidByte));
    note("lookup");
    // [0] the core address, [1] the backup core address, [2] the report address, which the client
    // takes as its reports' backup address (the backup report port), as "user" for its badge.
    std::string core = "127.0.0.1:" + std::to_string(corePort);
    std::string backup = "127.0.0.1:" + std::to_string(backupCorePort);
    std::string report = "127.0.0.1:" + std::to_string(reports ? reports->backupPort() : lookupPort);
    std::string reply = R"({"ips":[")" + core + R"(",")" + backup + R"(",")" + report + R"("],"user":")" + report + R"("})";
    lookup->sendTo(reply.data(), reply.size(), from);
  }

  // What is wrong with a lookup request, if anything. 128 bytes, zero where nothing is written:
  // the length (little-endian), "UE", 0, the network type (4 on Wi-Fi, a carrier code 0 to 3) and
  // the uid's low byte; a carrier name may be written over them from byte 4, up to byte 41 unless
  // the app key overwrites it. The app key from byte 42, and the SDK version at 92 unless a key of
  // more than 50 bytes ran over it.
  static std::optional<std::string> lookupFault(const os::Data& d) {
    if (d.size() != 128 || d[0] != 0x80 || d[1] != 0 || d[2] != 'U' || d[3] != 'E') return "not the protocol's header";
    auto zeros = [&](std::size_t from, std::size_t to) {
      return std::all_of(d.begin() + static_cast<long>(from), d.begin() + static_cast<long>(to),
                         [](std::uint8_t b) { return b == 0; });
    };
    const bool carrier = d[4] != 0;
    if (!carrier && (d[5] > 4 || !zeros(7, 42))) return "network type or uid byte out of place";
    // The key's length is what makes the rest of the datagram what the writing order leaves: the
    // version at 92 where the key did not reach, zeros elsewhere (a long carrier name may stand on
    // after the key, before the version).
    for (std::size_t length = 1; length <= 86; ++length) {
      if (!plausibleAppKey(std::string(d.begin() + 42, d.begin() + 42 + static_cast<long>(length)))) break;
      bool rest = true;
      for (std::size_t i = 42 + length; i < 128 && rest; ++i)
        rest = d[i] == (i >= 92 && i < 97 ? static_cast<std::uint8_t>("1.8.1"[i - 92]) : 0) || (carrier && i < 92);
      if (rest) return std::nullopt;
    }
    return "no app key at byte 42, or no SDK version at byte 92 after it";
  }

  // The control port: one text command per line, one answer line each. A line "device TOKEN"
  // turns its connection into a device's link to the platform's push channel instead.
  struct ControlLink {
    std::shared_ptr<os::TcpSocket> socket;
    std::string in;
    // How much of `in` was looked through for a line's end.
    std::size_t scanned = 0;
    // A line past kControlLineLimit was refused: the rest of it, up to its end, is not read.
    bool skipping = false;
    // Answers, and for a device the notifications, as the peer takes them.
    std::string out;
    std::size_t outAt = 0;
    bool readingHeld = false;
    // The peer ended its side: the link ends once its answers are written.
    bool closing = false;
    std::string token;  // a device's link
  };
  // The longest line taken: a "push-id" line with the longest message a frame carries fits well;
  // a notification travels as a line of its own and has no frame to bound it.
  static constexpr std::size_t kControlLineLimit = std::size_t{1} << 20;
  // The links open at once: an operator's and the tests' few, and the devices they play.
  static constexpr std::size_t kControlLinkLimit = 256;
  std::vector<std::shared_ptr<ControlLink>> controlLinks;
  // The tokens push clients reported lately: each report is one more, so only the newest are kept.
  NewestKeys reportedTokens;

  // The platform's side of a remote notification: it reaches the devices whose token a push
  // client reported, as one line "remote JSON". A device that leaves as much unread as its
  // answers may hold is not reached.
  std::size_t notifyDevices(const std::string& payload) {
    note("notify");
    std::size_t reached = 0;
    const std::string line = "remote " + payload + "\n";
    for (const auto& link : std::vector(controlLinks)) {
      if (link->token.empty() || !reportedTokens.contains(link->token) || link->closing ||
          link->out.size() - link->outAt >= kAnswersHeld)
        continue;
      link->out += line;
      ++reached;
      flushControl(link);
    }
    return reached;
  }
  // The port asked for, or with freeIfTaken a free one when that cannot be had.
  template <class Listen>
  auto orFree(std::uint16_t port, Listen listen) {
    auto listener = listen(port);
    if (!listener && port != 0 && options.freeIfTaken) listener = listen(0);
    return listener;
  }

  void endControl(const std::shared_ptr<ControlLink>& link) {
    if (!link->socket) return;
    link->socket->close();
    link->socket.reset();
    std::erase(controlLinks, link);
    note("control closed");
  }
  // Writes what the peer takes; a peer leaving its answers unread is read no further until it
  // takes most of them, as on a push connection.
  void flushControl(const std::shared_ptr<ControlLink>& link) {
    while (link->socket && link->outAt < link->out.size()) {
      const long written = link->socket->send(link->out.data() + link->outAt, link->out.size() - link->outAt);
      if (written < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK) return endControl(link);
        link->socket->enableWriteCallback();
        break;
      }
      link->outAt += static_cast<std::size_t>(written);
    }
    if (!link->socket) return;
    if (link->outAt == link->out.size()) {
      link->out.clear();
      link->outAt = 0;
      if (link->closing) return endControl(link);
    } else if (link->outAt >= link->out.size() / 2) {
      link->out.erase(0, link->outAt);
      link->outAt = 0;
    }
    const bool backedUp = link->out.size() - link->outAt >= kAnswersHeld;
    if (backedUp == link->readingHeld || link->closing) return;
    link->readingHeld = backedUp;
    link->socket->setReadCallbackEnabled(!backedUp);
  }
  // The whole lines read so far, each absent when it passed kControlLineLimit; the rest of `in`
  // waits for its end.
  static std::vector<std::optional<std::string>> takeLines(ControlLink& link) {
    std::vector<std::optional<std::string>> lines;
    std::string& in = link.in;
    std::size_t start = 0;
    for (auto end = in.find('\n', link.scanned); end != std::string::npos; end = in.find('\n', start)) {
      if (link.skipping)
        link.skipping = false;  // the end of a line refused already
      else if (end - start > kControlLineLimit)
        lines.emplace_back();
      else
        lines.emplace_back(in.substr(start, end - start));
      start = end + 1;
    }
    // Cut once, so a burst of lines costs its length.
    in.erase(0, start);
    if (in.size() > kControlLineLimit || (link.skipping && !in.empty())) {
      if (!link.skipping) lines.emplace_back();
      link.skipping = true;
      in.clear();
    }
    link.scanned = in.size();
    return lines;
  }

  std::uint16_t listenForControl(PushServer* server) {
    control = orFree(options.controlPort, [](std::uint16_t port) { return os::TcpListener::listen("127.0.0.1", port); });
    if (!control) return 0;
    control->schedule(thread->runLoop(), [this, server](std::shared_ptr<os::TcpSocket> socket) {
      if (controlLinks.size() >= kControlLinkLimit) {
        note("control refused: " + std::to_string(controlLinks.size()) + " open");
        const std::string answer = "error: too many control connections\n";
        socket->send(answer.data(), answer.size());
        return socket->close();
      }
      auto link = std::make_shared<ControlLink>();
      link->socket = socket;
      controlLinks.push_back(link);
      std::weak_ptr<ControlLink> weak = link;
      os::Socket::Callbacks callbacks;
      callbacks.readable = [this, server, weak] {
        auto l = weak.lock();
        if (!l || !l->socket) return;
        char* chunk = reinterpret_cast<char*>(readBlock.data());
        long count = 0;
        // A few blocks a turn, as from a push connection: a peer pouring commands takes turns.
        for (std::size_t reads = 0; reads < kReadsPerTurn && (count = l->socket->receive(chunk, kReadBlock)) > 0;
             ++reads)
          l->in.append(chunk, static_cast<std::size_t>(count));
        // Taken before the commands run: their work may leave errno changed.
        const bool ended = count == 0 || (count < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
        for (const auto& command : takeLines(*l)) {
          if (!command) {
            l->out += "error: a line is at most " + std::to_string(kControlLineLimit) + " bytes\n";
            continue;
          }
          if (command->starts_with("device ") && command->size() > 7) {
            l->token = command->substr(7);
            note("device " + l->token);
            continue;
          }
          l->out += server->control(*command) + "\n";
        }
        if (ended) {
          l->closing = true;
          l->socket->setReadCallbackEnabled(false);
        }
        flushControl(l);
      };
      callbacks.writable = [this, weak] {
        if (auto l = weak.lock()) flushControl(l);
      };
      socket->schedule(thread->runLoop(), callbacks);
    });
    return control->port();
  }

  std::optional<std::uint32_t> push(const std::string& content, std::optional<std::uint32_t> id, std::uint8_t type) {
    // Header, from-uid, type, id and the content's count: 17 bytes beside the content.
    if (content.size() + 17 > kMaximumFrame) return std::nullopt;
    std::uint32_t messageId = id.value_or(nextMessageId++);
    note("push " + std::to_string(messageId));
    for (const auto& connection : std::vector(connections))
      if (connection->loggedIn) pushTo(connection, content, messageId, type);
    return messageId;
  }
};

std::unique_ptr<PushServer> PushServer::start(const ServerOptions& options, std::string* error) {
  auto impl = std::make_unique<Impl>();
  impl->options = options;
  // Half the descriptors the process may open at most: the rest serve the report service, the
  // control port and the files.
  impl->connectionLimit = std::max<std::size_t>(1, std::min(options.connectionLimit, os::raiseOpenFileLimit() / 2));
  impl->loadIdentities();
  impl->thread = os::Thread::create("pushd");
  impl->thread->start();
  Impl* raw = impl.get();
  std::string failure;
  impl->thread->perform(
      [raw, &failure] {
        auto loop = raw->thread->runLoop();
        raw->lookup = raw->orFree(raw->options.lookupPort, [](std::uint16_t port) {
          auto socket = os::UdpSocket::create();
          auto address = os::makeIPv4Address("127.0.0.1", port);
          return socket && socket->bindTo(*address) ? socket : nullptr;
        });
        raw->lookupPort = raw->lookup ? raw->lookup->localPort().value_or(0) : 0;
        if (raw->lookupPort == 0) {
          failure = "cannot bind the lookup port: " + std::string(std::strerror(errno));
          return;
        }
        raw->lookup->schedule(loop, {nullptr, [raw] { raw->answerLookup(); }, nullptr});
        auto listenForCore = [raw](bool backup) {
          return [raw, backup](std::uint16_t port) { return raw->listenForCore(port, backup); };
        };
        raw->core = raw->orFree(raw->options.corePort, listenForCore(false));
        raw->backupCore = raw->core ? raw->orFree(raw->options.backupCorePort, listenForCore(true)) : nullptr;
        if (!raw->core || !raw->backupCore) {
          failure = "cannot listen on the core ports: " + std::string(std::strerror(errno));
          return;
        }
        raw->corePort = raw->core->port();
        raw->backupCorePort = raw->backupCore->port();
      },
      true);
  raw->reports = std::make_unique<ReportService>(
      [raw](std::uint32_t uid) -> std::optional<ReportService::Identity> {
        std::lock_guard lock(raw->identityMutex);
        if (auto it = raw->identities.find(uid); it != raw->identities.end())
          return ReportService::Identity{it->second.password, it->second.appkey};
        return std::nullopt;
      },
      options.verbose);
  if (failure.empty() && !options.reportStore.empty() && !raw->reports->setStoreFile(options.reportStore))
    failure = "cannot open the report store " + options.reportStore;
  if (failure.empty() && !raw->reports->start(options.reportPort, options.backupReportPort, options.freeIfTaken))
    failure = "cannot listen on the report ports";
  std::unique_ptr<PushServer> server(new PushServer(std::move(impl)));
  if (!failure.empty()) {
    if (error) *error = failure;
    return nullptr;
  }
  server->lookupPort_ = server->impl_->lookupPort;
  server->corePort_ = server->impl_->corePort;
  server->backupCorePort_ = server->impl_->backupCorePort;
  PushServer* self = server.get();
  int controlError = 0;
  server->impl_->thread->perform(
      [self, &controlError] {
        self->controlPort_ = self->impl_->listenForControl(self);
        controlError = errno;
      },
      true);
  // Never a port it does not listen on: a client told port 0 would take it for none at all.
  if (self->controlPort_ == 0) {
    if (error) *error = "cannot listen on the control port: " + std::string(std::strerror(controlError));
    return nullptr;
  }
  return server;
}

PushServer::PushServer(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

PushServer::~PushServer() {
  auto* impl = impl_.get();
  impl->reports.reset();
  impl->thread->perform(
      [impl] {
        // Identities made in the last turn reach the file even as the service ends.
        impl->writeIdentities();
        for (const auto& connection : std::vector(impl->connections)) impl->drop(connection, false);
        if (impl->lookup) impl->lookup->close();
        if (impl->core) impl->core->close();
        if (impl->backupCore) impl->backupCore->close();
        if (impl->control) impl->control->close();
        for (const auto& link : std::vector(impl->controlLinks)) impl->endControl(link);
      },
      true);
  impl->thread->cancel();
  impl->thread->join();
}

std::optional<std::uint32_t> PushServer::pushMessage(const std::string& content, std::optional<std::uint32_t> messageId,
                                                     std::uint8_t messageType) {
  std::optional<std::uint32_t> id;
  impl_->thread->perform([&] { id = impl_->push(content, messageId, messageType); }, true);
  return id;
}

std::size_t PushServer::notify(const std::string& payload) {
  std::size_t reached = 0;
  impl_->thread->perform([&] { reached = impl_->notifyDevices(payload); }, true);
  return reached;
}

void PushServer::closeConnections(bool reset) {
  impl_->thread->perform(
      [&] {
        for (const auto& connection : std::vector(impl_->connections)) impl_->drop(connection, reset);
      },
      true);
}

void PushServer::setSilent(bool silent) {
  impl_->thread->perform([&] { impl_->silent = silent; }, true);
}

void PushServer::sendGarbage() {
  impl_->thread->perform(
      [&] {
        for (const auto& connection : std::vector(impl_->connections)) impl_->send(connection, os::Data{0, 1, 0xEE});
      },
      true);
}

void PushServer::setReplyDelay(double seconds) {
  impl_->thread->perform([&] { impl_->delay = seconds; }, true);
}

// A pushed message: "message" a string; "title" a string and "extras" an object when given.
std::optional<std::string> PushServer::messageFault(const std::string& json) {
  auto parsed = objectFromJSONString(json);
  if (!parsed) return "the message is not readable JSON";
  const os::Dictionary* message = parsed->dictionary();
  if (!message) return "the message is not a JSON object";
  if (!(*message)["message"].isString()) return "the message has no \"message\" text";
  if (message->contains("title") && !(*message)["title"].isString()) return "the message's \"title\" is not a text";
  if (message->contains("extras") && !(*message)["extras"].dictionary()) return "the message's \"extras\" is not an object";
  return std::nullopt;
}

// A remote notification: an object with its "aps" object.
std::optional<std::string> PushServer::notificationFault(const std::string& json) {
  auto parsed = objectFromJSONString(json);
  if (!parsed) return "the notification is not readable JSON";
  if (!parsed->dictionary()) return "the notification is not a JSON object";
  if (!(*parsed)["aps"].dictionary()) return "the notification has no \"aps\" object";
  return std::nullopt;
}

std::string PushServer::control(const std::string& line) {
  std::istringstream words(line);
  std::string command;
  words >> command;
  std::string rest;
  std::getline(words >> std::ws, rest);
  auto pushed = [](std::optional<std::uint32_t> id) {
    return id ? "ok " + std::to_string(*id) : std::string("error: the message does not fit a frame");
  };
  if (command == "push" && !rest.empty()) {
    if (auto fault = messageFault(rest)) return "error: " + *fault;
    return pushed(pushMessage(rest));
  }
  if (command == "push-id") {
    std::istringstream args(rest);
    std::uint32_t id = 0;
    std::string content;
    if (args >> id && std::getline(args >> std::ws, content) && !content.empty()) {
      if (auto fault = messageFault(content)) return "error: " + *fault;
      return pushed(pushMessage(content, id));
    }
  }
  if (command == "notify" && !rest.empty()) {
    if (auto fault = notificationFault(rest)) return "error: " + *fault;
    return "ok " + std::to_string(notify(rest));
  }
  if (command == "primary" && (rest == "down" || rest == "up")) {
    bool done = false;
    impl_->thread->perform([&] { done = impl_->setPrimaryDown(rest == "down"); }, true);
    return done ? "ok" : "error: the primary's ports cannot be listened on again";
  }
  if (command == "close" || command == "reset") return closeConnections(command == "reset"), "ok";
  if (command == "silence" && (rest == "on" || rest == "off")) return setSilent(rest == "on"), "ok";
  if (command == "garbage") return sendGarbage(), "ok";
  if (command == "delay") {
    char* end = nullptr;
    double seconds = std::strtod(rest.c_str(), &end);
    if (end != rest.c_str() && seconds >= 0) return setReplyDelay(seconds), "ok";
  }
  if (command == "report") {
    using Mode = ReportService::Mode;
    std::map<std::string, Mode> modes{{"ok", Mode::Accept},
                                      {"403", Mode::Forbidden},
                                      {"500", Mode::ServerError},
                                      {"stall", Mode::Stall},
                                      {"garbage", Mode::Garbage},
                                      {"crash", Mode::CrashAfterStore},
                                      {"stall-after-store", Mode::StallAfterStore}};
    if (auto it = modes.find(rest); it != modes.end()) return impl_->reports->setMode(it->second), "ok";
  }
  return "error: push JSON | push-id ID JSON | notify JSON | close | reset | silence on|off | garbage | delay SECONDS | "
         "report ok|403|500|stall|garbage|crash|stall-after-store | primary down|up";
}

std::uint16_t PushServer::reportPort() const { return impl_->reports->port(); }

std::uint16_t PushServer::backupReportPort() const { return impl_->reports->backupPort(); }

ReportService& PushServer::reportService() { return *impl_->reports; }

std::vector<std::string> PushServer::events() const {
  std::lock_guard lock(impl_->mutex);
  return {impl_->events.begin(), impl_->events.end()};
}

bool PushServer::hasEvent(const std::string& prefix) const {
  for (const auto& event : events())
    if (event.rfind(prefix, 0) == 0) return true;
  return false;
}

std::size_t PushServer::connectionCount() const {
  std::size_t count = 0;
  impl_->thread->perform([&] { count = impl_->connections.size(); }, true);
  return count;
}

std::size_t PushServer::loggedInCount() const {
  std::size_t count = 0;
  impl_->thread->perform(
      [&] {
        for (const auto& c : impl_->connections) count += c->loggedIn;
      },
      true);
  return count;
}

std::size_t PushServer::unwrittenBytes() const {
  std::size_t bytes = 0;
  impl_->thread->perform(
      [&] {
        for (const auto& c : impl_->connections) bytes += c->out.size() - c->outAt;
      },
      true);
  return bytes;
}

}  // namespace pushd
