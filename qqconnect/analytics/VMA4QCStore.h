#pragma once
// Keeps the analytics events that wait for a batch, the user record and the online
// configurations in SQLite, and sends stored events in batches through a sender.
//
// Events move: waiting (1) -> being sent (2) -> deleted on success, or waiting again with one more
// failure, or deleted after the configured number of failures. Rows left being sent by a process
// that died wait again at the next start, so nothing is lost.
#include <cstdint>
#include <functional>
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "os/core/Value.h"
#include "qqconnect/analytics/VMA4QCConfig.h"
#include "qqconnect/analytics/VMA4QCTaskQueue.h"

class SQDatabaseQueue;
class SQDatabase;

struct VMA4QCStoreEvent {
  std::uint32_t eventId = 0;
  std::string content;
  std::uint32_t status = 0;
  std::uint32_t sendCount = 0;
  std::uint32_t ts = 0;
};

struct VMA4QCUser {
  std::string uid;
  std::int32_t userType = 0;
  std::string appVer;
  std::uint32_t tagTime = 0;
};

class VMA4QCStore {
 public:
  using Callback = std::function<void(bool success)>;
  // Uploads a batch of event texts and reports the outcome once.
  using Sender = std::function<void(std::vector<std::string> batch, Callback done)>;

  static constexpr const char* kDatabaseName = "velmora_analysis_qc.db";

  // Opens (or creates) the database at `path` and puts rows left being sent back to waiting.
  VMA4QCStore(VMA4QCConfig& config, std::string path, Sender sender);
  ~VMA4QCStore();

  // On the store's queue; `done` runs whatever happened.
  void storeEvent(std::string content, std::uint32_t ts, std::function<void()> done = {});
  // On the store's queue: a batch of waiting events; count -1 sends everything, n keeps sending
  // while at least n wait.
  void sendCachedEvents(int count);
  // On the store's queue: an event about to be sent at once is kept as being sent, so that a
  // process ending before the answer leaves it for the next start. `then` gets its row, or none
  // when it could not be kept.
  void storeSendingEvent(std::string content, std::uint32_t ts, std::function<void(std::optional<long long> row)> then);
  // On the store's queue: the answer for such a row. Sent: the row goes. Not sent: it waits like a
  // stored event, or is stored afresh when the row is gone.
  void settleSendingEvent(long long row, bool sent, std::string content, std::uint32_t ts);
  void storeUser(const VMA4QCUser& user);
  void storeConfig(const VMA4QCDataConfig& config);

  // On the caller's thread.
  std::vector<VMA4QCStoreEvent> loadCachedEvents();
  std::uint32_t getStoredEventsNum();
  std::uint32_t storedEventCount() const { return numStoredEvents_; }
  // False when the configurations could not be read (no database).
  bool loadConfig(const std::function<void(const VMA4QCDataConfig&)>& each);
  // The one user row, made (with uid and appVer, tagged now) when there is none; none when the
  // table cannot be read or holds more than one row. Runs on the store's queue; the caller waits.
  std::optional<VMA4QCUser> loadUser(const std::string& uid, const std::string& appVer, std::uint32_t now);
  void close();

  // Runs one statement with bound values: 0, the SQLite result code, or -1 without a database.
  // A corrupt database (11) is replaced by an empty one, and the statement runs again there.
  int updateDatabase(const std::string& sql, const os::Array& values = {});

  VMA4QCTaskQueue& queue() { return queue_; }
  const std::string& path() const { return path_; }

 private:
  // Makes the tables; a damaged file found meanwhile is replaced only when asked.
  void initDB(bool replaceDamaged = true);
  // One statement as it is: no replacement of a damaged file.
  int execute(const std::string& sql, const os::Array& values);
  void deleteEvents(const std::vector<VMA4QCStoreEvent>& events);
  void updateEvents(const std::vector<VMA4QCStoreEvent>& events, std::uint32_t status);
  void updateSendFailedEvents(const std::vector<VMA4QCStoreEvent>& events);
  // Runs statements for each event, in one transaction; stops at the first failure.
  void forEach(const std::vector<VMA4QCStoreEvent>& events,
               const std::function<bool(SQDatabase&, const VMA4QCStoreEvent&)>& statement);
  void recount();
  std::shared_ptr<SQDatabaseQueue> database();

  VMA4QCConfig& config_;
  const std::string path_;
  const Sender sender_;
  std::mutex dbMutex_;
  std::shared_ptr<SQDatabaseQueue> db_;
  bool openFailed_ = false;  // the first open failed: the next one that succeeds makes the tables
  bool opened_ = false;      // an open has succeeded
  std::atomic<std::uint32_t> numStoredEvents_{0};
  VMA4QCTaskQueue queue_{"VMA4QCStatStore"};
};
