#pragma once
// The report service of the local push service: takes the push client's gzipped report packets on
// "/v2/report" and its badge values on "/v1/user/", checks their Authorization against the
// identities the push server gave, and keeps the records it accepted. A packet or badge body that
// is not the protocol's (its envelope, its records' kinds, fields and times, its size, its headers)
// is answered 400, one signed for another uid or app key, or over
// other bytes than those that arrived, 401. It serves on two addresses, the primary and a backup;
// faults on request: answer 403 or 500, stall, answer garbage, or take the primary down.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "os/core/Value.h"
#include "tools/common/NewestKept.h"
#include "tools/common/ServiceHost.h"
#include "tools/pushd/server/NewestKeys.h"

namespace httplib {
class Server;
}

namespace pushd {

class ReportService {
 public:
  // CrashAfterStore keeps the records and then fails the request, as a service that dies between
  // storing and answering: the client sends them again.
  // StallAfterStore keeps the records and then holds the answer, so the service can be killed
  // between the two.
  enum class Mode { Accept, Forbidden, ServerError, Stall, Garbage, CrashAfterStore, StallAfterStore };
  // What the push server gave a uid at registration; nothing for an unknown uid (0 included: a
  // device reports only once it has registered).
  struct Identity {
    std::string password;
    std::string appkey;
  };
  using IdentityOf = std::function<std::optional<Identity>(std::uint32_t uid)>;

  ReportService(IdentityOf identityOf, bool verbose);
  ~ReportService();
  // Listens on 127.0.0.1 at the primary port and at the backup port (0: a free one); false when
  // either cannot be bound. With freeIfTaken, a port that cannot be bound gives way to a free one.
  bool start(std::uint16_t port, std::uint16_t backupPort = 0, bool freeIfTaken = false);
  std::uint16_t port() const { return primaryPort_; }
  std::uint16_t backupPort() const { return backupPort_; }
  // While down, the primary port takes no connection (the backup serves on); up listens there
  // again. False when the port cannot be bound again.
  bool setPrimaryDown(bool down);

  // Keeps accepted records in a file as well, one "uid JSON" line each, the record's JSON as it
  // arrived, written before the answer (a packet whose records cannot be written is answered 500,
  // and none of them is kept), and takes back the newest of those already there (as many as
  // records() keeps): a service restarted on the same file knows what it has. A file past
  // kStoreByteLimit is written anew with its newest lines alone, after lines that keep the
  // identities of the records let go: a resend is known the same before and after a restart.
  // False when the file cannot be opened.
  bool setStoreFile(const std::string& path);
  void setMode(Mode mode);
  // The status the user service answers badge uploads with (200 by default).
  void setUserStatus(int status);
  // The badge values the user service accepted, in order (the newest kAnswerLimit).
  std::vector<long long> badges() const;
  // Each record once, the newest tools::kRecordLimit within tools::kRecordByteLimit, oldest first:
  // a record sent again (after an answer was lost) while it is among the newest kRecordLimit is
  // recognised and not kept twice. Equal records in one packet are events of their own (two
  // statuses of one message in one second): each is kept.
  std::vector<os::Dictionary> records() const;
  // How many times records arrived that were already kept.
  std::size_t repeats() const;
  // How many packets carried equal records (each kept).
  std::size_t duplicates() const;
  // How many accepted packets had a record newer than their first: the kind's own record, made at
  // packing, stands first in a packet that carries it.
  std::size_t disorders() const;
  // The answers given, by status (the newest kAnswerLimit): what the client was told.
  std::vector<int> answers() const;
  // How many answers and badges are kept at most; older ones are let go first.
  static constexpr std::size_t kAnswerLimit = tools::kRecordLimit;
  // How many bytes the store file may reach before it is written anew with the newest records.
  static constexpr std::size_t kStoreByteLimit = 4 * tools::kRecordByteLimit;

  // The authorization a packet must carry.
  static std::string expectedAuthorization(std::uint32_t uid, const std::string& password, const std::string& body);

 private:
  IdentityOf identityOf_;
  bool verbose_;
  struct Endpoint;
  std::unique_ptr<Endpoint> listen(std::uint16_t port, bool freeIfTaken = false);
  void serveReports(Endpoint& endpoint);

  // Guards the endpoints alone: stopping one waits for its handlers, which take mutex_.
  std::mutex endpointMutex_;
  std::unique_ptr<Endpoint> primary_, backup_;
  std::uint16_t primaryPort_ = 0, backupPort_ = 0;
  mutable std::mutex mutex_;
  std::condition_variable changed_;  // the mode changed or the service (or an address) stops
  Mode mode_ = Mode::Accept;
  // A service beside a reader for weeks hears a status for every notification: only the newest
  // records are kept, and the identities of the newest, by which a record sent again is known.
  tools::NewestKept<os::Dictionary> records_;
  NewestKeys seen_;
  std::string storeFile_;
  std::size_t storeBytes_ = 0;  // the store file's size, as written
  // Writes the store file anew with the newest of its lines, when it has passed kStoreByteLimit
  // or an append to it failed.
  void trimStore(bool afterFailure);
  std::size_t repeats_ = 0;
  std::size_t duplicates_ = 0;
  std::size_t disorders_ = 0;
  // The newest kAnswerLimit of each, oldest first: a record the tests read, which must
  // not grow with every upload of a long run.
  tools::NewestKept<int> answers_;
  int userStatus_ = 200;
  tools::NewestKept<long long> badges_;
  bool stopping_ = false;
};

}  // namespace pushd
