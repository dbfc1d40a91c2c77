#pragma once
// The local push service: the UDP address lookup and the TCP push server speaking the frame
// protocol (register, login, heartbeat, tags and alias, device token, acks, pushed messages and
// their receipts), with identities kept in a small file, faults on request, and a text control
// port from which messages are pushed. Runs on a thread of its own; loopback only.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "os/core/Data.h"
#include "tools/common/NewestKept.h"
#include "tools/pushd/server/ReportService.h"

namespace os {
class Thread;
class TcpListener;
class TcpSocket;
class UdpSocket;
}  // namespace os

namespace pushd {

struct ServerOptions {
  // 0 picks a free port. The lookup's default is the push client's built-in one.
  std::uint16_t lookupPort = 19000;
  std::uint16_t corePort = 0;
  std::uint16_t controlPort = 0;
  std::uint16_t reportPort = 0;
  // The backup core address and the report service's backup address, which the lookup names.
  std::uint16_t backupCorePort = 0;
  std::uint16_t backupReportPort = 0;
  // A port above that cannot be bound (taken, or not the user's to take) gives way to a free one;
  // the ports the server tells are those it listens on.
  bool freeIfTaken = false;
  // Identities given at registration, one "uid password registrationID appkey" line each; empty:
  // kept in memory only. Written once for the registrations of a turn of the service's loop,
  // before they are answered; when it cannot be written they are refused (status 1002). Nothing
  // else writes it. Its lines go from the least recently registered or logged in to the most.
  std::string identityFile;
  // The identities kept at most, and what their lines may hold together: past either bound the
  // least recently registered or logged in is let go (the newest is kept whatever its size). A
  // device whose identity was let go is refused at its login and registers anew; without a bound
  // a peer registering over and over would grow the service's memory and file for ever.
  std::size_t identityLimit = 100000;
  std::size_t identityBytes = tools::kRecordByteLimit;
  // The records the report service accepted, kept over restarts; empty: in memory only.
  std::string reportStore;
  // The protocol version the login answer names; heartbeats and tags are acknowledged when it is
  // not 0.
  std::uint16_t serverVersion = 1;
  // The push connections open at once, at both core addresses together (at most half the
  // descriptors the process may open). Past it a new connection takes the place of the oldest
  // that has not logged in, or, with every one logged in, is closed at once.
  std::size_t connectionLimit = 10000;
  // What the messages waiting for one device's receipts may hold (their contents and a little for
  // each): past it the oldest are let go. They wait on the connection they went on and, when it
  // ends, for the device's next login, where they go again first, in order. A connection is
  // written only a little ahead of what its peer reads: the rest wait here, so a device that
  // never reads holds no more than this bound.
  std::size_t keptBytes = std::size_t{64} << 20;
  bool verbose = false;
  // Told (on the server's thread) after each login it accepts.
  std::function<void()> onLogin;

  // Every port a free one (tests and benchmarks).
  static ServerOptions onFreePorts() {
    ServerOptions options;
    options.lookupPort = 0;
    return options;
  }
};

// What the server saw, in order, for tests and the log: "lookup", "register <uid>",
// "register refused", "login <uid>", "login refused <uid>", "heartbeat <uid>",
// "token <uid> <token>", "device <token>", "refused lookup: <why>", "unknown uid byte in lookup <byte>",
// "primary down", "primary up", "connection refused: <count> open" and "control refused: <count> open"
// (past the bounds on connections), "control closed",
// "notify", "tags <uid> <json>", "receipt <uid> <message id>", "push <message id>",
// "identity let go <uid>" (past the identities' bound), "closed <uid>", "kept <uid> <count>"
// (unreceipted at the close), "resent <uid> <count>" (at the login), "forgot <uid> <message id>"
// (past the bound), "reading held <uid>" and "reading resumed <uid>" (a peer leaving its
// answers unread); a command whose fields are not its own is seen as "<command> refused ...".
class PushServer {
 public:
  static std::unique_ptr<PushServer> start(const ServerOptions& options, std::string* error = nullptr);
  ~PushServer();
  PushServer(const PushServer&) = delete;
  PushServer& operator=(const PushServer&) = delete;

  std::uint16_t lookupPort() const { return lookupPort_; }
  std::uint16_t corePort() const { return corePort_; }
  std::uint16_t controlPort() const { return controlPort_; }
  std::uint16_t reportPort() const;
  std::uint16_t backupCorePort() const { return backupCorePort_; }
  std::uint16_t backupReportPort() const;
  // The HTTP report service, named in the lookup's reply as the report and user-service address.
  ReportService& reportService();

  // Pushes a message (command 3) to every logged-in connection; the id is the next one unless
  // given. Returns the id; nothing for content that does not fit a frame.
  std::optional<std::uint32_t> pushMessage(const std::string& content, std::optional<std::uint32_t> messageId = {},
                            std::uint8_t messageType = 0);
  // Plays the platform's push channel: the payload (a remote notification's JSON) goes to every
  // device linked through the control port ("device TOKEN") whose token a push client reported
  // over its session. Returns how many devices it reached.
  std::size_t notify(const std::string& payload);
  // Faults: end every connection (with a reset instead of a close), stop answering, break the
  // framing of every connection (a length prefix that does not cover itself), hold every answer
  // for some seconds of os::Clock.
  void closeConnections(bool reset = false);
  void setSilent(bool silent);
  void sendGarbage();
  void setReplyDelay(double seconds);
  // Text commands of the control port: "push JSON", "push-id ID JSON", "notify JSON", "close", "reset",
  // "silence on|off", "garbage", "delay SECONDS", "report ok|403|500|stall|garbage|crash|stall-after-store",
  // "primary down|up" (down: the lookup is silent and the primary core and report ports take no
  // connection; the backup addresses serve on). Answers "ok ..." or "error: <why>", also for JSON
  // that is not a message or a notification.
  std::string control(const std::string& line);
  // Why the JSON is not a message of "push" or a notification of "notify", if it is not.
  static std::optional<std::string> messageFault(const std::string& json);
  static std::optional<std::string> notificationFault(const std::string& json);

  // The newest events, at most kEventLimit of them: the oldest go first.
  static constexpr std::size_t kEventLimit = 10000;
  std::vector<std::string> events() const;
  bool hasEvent(const std::string& prefix) const;
  std::size_t connectionCount() const;
  std::size_t loggedInCount() const;
  // The bytes framed for the push connections and not yet written, together.
  std::size_t unwrittenBytes() const;

  struct Impl;

 private:
  explicit PushServer(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
  std::uint16_t lookupPort_ = 0, corePort_ = 0, backupCorePort_ = 0, controlPort_ = 0;
};

}  // namespace pushd
