#include "qqconnect/analytics/VMA4QCStore.h"

#include <algorithm>

#include "foundation/sqlite/SQDatabaseQueue.h"
#include "foundation/sqlite/SQResultSet.h"
#include "os/runtime/Semaphore.h"
#include "os/store/FileManager.h"

namespace {
constexpr int kWaiting = 1;
constexpr int kSending = 2;
constexpr int kCorrupt = 11;   // SQLITE_CORRUPT
constexpr int kNotADatabase = 26;  // SQLITE_NOTADB: a file whose header is damaged

const char* const kCreateTables[] = {
    "create table if not exists events(event_id INTEGER PRIMARY KEY AUTOINCREMENT NOT NULL, content TEXT, "
    "status INTEGER, send_count INTEGER, ts INTEGER)",
    "create table if not exists user(uid TEXT, user_type INTEGER, app_ver TEXT, ts INTEGER, PRIMARY KEY(uid))",
    "create table if not exists config(type INTEGER, content TEXT, md5sum TEXT, version INTEGER, PRIMARY KEY(type))"};
}  // namespace

VMA4QCStore::VMA4QCStore(VMA4QCConfig& config, std::string path, Sender sender)
    : config_(config), path_(std::move(path)), sender_(std::move(sender)) {
  initDB();
}

VMA4QCStore::~VMA4QCStore() {
  while (!queue_.idle()) queue_.drain();
  close();
}

std::shared_ptr<SQDatabaseQueue> VMA4QCStore::database() {
  std::lock_guard lock(dbMutex_);
  if (db_) return db_;
  db_ = SQDatabaseQueue::databaseQueueWithPath(path_);
  if (!db_) {
    // Only before the first open: a reopen after close finds rows this run is sending, which must
    // not wait again.
    if (!opened_) openFailed_ = true;
    return db_;
  }
  opened_ = true;
  if (openFailed_) {
    openFailed_ = false;
    // An open that failed (at the start, no descriptor left) skipped what the start does on the
    // file: the tables, the rows an earlier run left being sent, the count. Done now, under the
    // lock, before any statement of this run meets the file.
    db_->inDatabase([&](SQDatabase& connection) {
      for (const char* sql : kCreateTables) connection.executeUpdate(sql);
      connection.executeUpdate("update events set status = ? where status = ?", kWaiting, kSending);
      auto rows = connection.executeQuery("select count(*) from events where status=?", kWaiting);
      if (rows && rows->next()) numStoredEvents_ = static_cast<std::uint32_t>(std::max(0, rows->intForColumnIndex(0)));
    });
  }
  return db_;
}

void VMA4QCStore::close() {
  std::shared_ptr<SQDatabaseQueue> db;
  {
    std::lock_guard lock(dbMutex_);
    db = std::move(db_);
  }
  if (db) db->close();
}

void VMA4QCStore::initDB(bool replaceDamaged) {
  auto run = [this, replaceDamaged](const std::string& sql, const os::Array& values = {}) {
    return replaceDamaged ? updateDatabase(sql, values) : execute(sql, values);
  };
  for (const char* sql : kCreateTables) run(sql);
  queue_.async([this, run] {
    run("update events set status = ? where status = ?", {os::Value(kWaiting), os::Value(kSending)});
    recount();
  });
}

int VMA4QCStore::execute(const std::string& sql, const os::Array& values) {
  auto db = database();
  if (!db) return -1;
  int code = 0;
  db->inDatabase([&](SQDatabase& connection) {
    if (!connection.executeUpdateWithArgumentsInArray(sql, values)) code = connection.lastErrorCode();
  });
  return code;
}

int VMA4QCStore::updateDatabase(const std::string& sql, const os::Array& values) {
  int code = execute(sql, values);
  if (code != kCorrupt && code != kNotADatabase) return code;
  // A damaged file would fail every later statement: start over with an empty database.
  close();
  os::FileManager::defaultManager().removeItemAtPath(path_);
  initDB(false);
  // What found the damage (an event being stored, a configuration) is not lost with the old file.
  return execute(sql, values);
}

void VMA4QCStore::recount() { numStoredEvents_ = getStoredEventsNum(); }

std::uint32_t VMA4QCStore::getStoredEventsNum() {
  auto db = database();
  if (!db) return 0;
  std::uint32_t count = 0;
  db->inDatabase([&](SQDatabase& connection) {
    auto rows = connection.executeQuery("select count(*) from events where status=?", kWaiting);
    if (rows && rows->next()) count = static_cast<std::uint32_t>(std::max(0, rows->intForColumnIndex(0)));
  });
  return count;
}

void VMA4QCStore::storeEvent(std::string content, std::uint32_t ts, std::function<void()> done) {
  queue_.async([this, content = std::move(content), ts, done = std::move(done)] {
    const std::uint32_t bound = config_.get().maxStoreEventCount;
    if (numStoredEvents_ >= bound) {
      // Make room by the oldest waiting events only: rows being sent are not ours to drop. A run
      // stopped mid-batch leaves its batch waiting beside the newer events at the next start, so
      // the table may stand past the bound by more than one.
      const std::uint32_t excess = numStoredEvents_ - (bound > 0 ? bound - 1 : 0);
      updateDatabase(
          "delete from events where event_id in (select event_id from events where status = ? order by ts, event_id "
          "limit ?)",
          {os::Value(kWaiting), os::Value(static_cast<long long>(excess))});
      recount();
    }
    if (updateDatabase("insert into events(content, status, send_count,ts) values(?, ?, ?, ?)",
                       {os::Value(content), os::Value(kWaiting), os::Value(0), os::Value(ts)}) == 0)
      ++numStoredEvents_;
    if (done) done();
  });
}

void VMA4QCStore::storeSendingEvent(std::string content, std::uint32_t ts,
                                    std::function<void(std::optional<long long> row)> then) {
  queue_.async([this, content = std::move(content), ts, then = std::move(then)] {
    std::optional<long long> row;
    if (auto db = database()) {
      db->inDatabase([&](SQDatabase& connection) {
        if (connection.executeUpdate("insert into events(content, status, send_count,ts) values(?, ?, ?, ?)", content,
                                     kSending, 0, ts))
          row = connection.lastInsertRowId();
      });
    }
    then(row);
  });
}

void VMA4QCStore::settleSendingEvent(long long row, bool sent, std::string content, std::uint32_t ts) {
  queue_.async([this, row, sent, content = std::move(content), ts]() mutable {
    auto db = database();
    bool waiting = false;
    if (db) {
      db->inDatabase([&](SQDatabase& connection) {
        if (sent) {
          connection.executeUpdate("delete from events where event_id = ?", row);
        } else {
          waiting = connection.executeUpdate("update events set status = ? where event_id = ? and status = ?", kWaiting,
                                             row, kSending) &&
                    connection.changes() > 0;
        }
      });
    }
    if (sent) return;
    if (waiting) {
      recount();
      return;
    }
    // The row went with a replaced file: the event is stored as an event that failed at once is.
    storeEvent(std::move(content), ts);
  });
}

std::vector<VMA4QCStoreEvent> VMA4QCStore::loadCachedEvents() {
  std::vector<VMA4QCStoreEvent> events;
  auto db = database();
  if (!db) return events;
  int limit = static_cast<int>(config_.get().maxLoadEventCount);
  db->inDatabase([&](SQDatabase& connection) {
    auto rows = connection.executeQuery(
        "select event_id, content, status, send_count,ts from events where status = ? order by ts, event_id limit ?",
        kWaiting, limit);
    while (rows && rows->next()) {
      auto content = rows->stringForColumnIndex(1);
      if (rows->columnCount() != 5 || rows->columnIndexIsNull(0) || !content) continue;
      events.push_back({static_cast<std::uint32_t>(rows->longLongIntForColumnIndex(0)), *content,
                        static_cast<std::uint32_t>(rows->intForColumnIndex(2)),
                        static_cast<std::uint32_t>(rows->intForColumnIndex(3)),
                        static_cast<std::uint32_t>(rows->longLongIntForColumnIndex(4))});
    }
  });
  return events;
}

void VMA4QCStore::forEach(const std::vector<VMA4QCStoreEvent>& events,
                          const std::function<bool(SQDatabase&, const VMA4QCStoreEvent&)>& statement) {
  auto db = database();
  if (!db || events.empty()) return;
  db->inTransaction([&](SQDatabase& connection, bool&) {
    for (const auto& event : events)
      if (!statement(connection, event)) break;
  });
}

void VMA4QCStore::deleteEvents(const std::vector<VMA4QCStoreEvent>& events) {
  forEach(events, [](SQDatabase& db, const VMA4QCStoreEvent& e) {
    return db.executeUpdate("delete from events where event_id = ?", e.eventId);
  });
  recount();
}

void VMA4QCStore::updateEvents(const std::vector<VMA4QCStoreEvent>& events, std::uint32_t status) {
  forEach(events, [status](SQDatabase& db, const VMA4QCStoreEvent& e) {
    return db.executeUpdate("update events set status = ? where event_id = ?", status, e.eventId);
  });
  recount();
}

void VMA4QCStore::updateSendFailedEvents(const std::vector<VMA4QCStoreEvent>& events) {
  const std::uint32_t retries = config_.get().maxSendRetryCount;
  forEach(events, [retries](SQDatabase& db, const VMA4QCStoreEvent& e) {
    std::uint32_t failures = e.sendCount + 1;
    if (failures < retries)
      return db.executeUpdate("update events set status=?,send_count=? where event_id = ?", kWaiting, failures,
                              e.eventId);
    return db.executeUpdate("delete from events where event_id = ?", e.eventId);
  });
  recount();
}

void VMA4QCStore::sendCachedEvents(int count) {
  queue_.async([this, count] {
    if (!config_.get().statEnable || numStoredEvents_ == 0) return;
    auto events = loadCachedEvents();
    if (events.empty()) return;
    updateEvents(events, kSending);
    std::vector<std::string> batch;
    for (const auto& e : events) batch.push_back(e.content);
    const int size = static_cast<int>(events.size());
    sender_(std::move(batch), [this, events = std::move(events), count, size](bool success) {
      queue_.async([this, events, count, size, success] {
        if (!success) {
          updateSendFailedEvents(events);
          return;
        }
        deleteEvents(events);
        if (count < 0)
          sendCachedEvents(-1);
        else if (count >= 1 && count > size)
          sendCachedEvents(count - size);
        else if (count >= 1 && numStoredEvents_ >= static_cast<std::uint32_t>(count))
          sendCachedEvents(count);
      });
    });
  });
}

void VMA4QCStore::storeUser(const VMA4QCUser& user) {
  queue_.async([this, user] {
    updateDatabase("update user set user_type = ?, app_ver = ?, ts = ? where uid = ?",
                   {os::Value(user.userType), os::Value(user.appVer), os::Value(user.tagTime), os::Value(user.uid)});
  });
}

void VMA4QCStore::storeConfig(const VMA4QCDataConfig& config) {
  queue_.async([this, config] {
    updateDatabase("replace into config(type, content, md5sum, version) values(?, ?, ?, ?)",
                   {os::Value(config.type), os::Value(config.content), os::Value(config.md5), os::Value(config.version)});
  });
}

bool VMA4QCStore::loadConfig(const std::function<void(const VMA4QCDataConfig&)>& each) {
  auto db = database();
  if (!db) return false;
  std::vector<VMA4QCDataConfig> configs;
  bool read = false;
  db->inDatabase([&](SQDatabase& connection) {
    auto rows = connection.executeQuery("select type, content, md5sum, version from config;");
    read = rows != nullptr;
    while (rows && rows->next()) {
      if (rows->columnCount() != 4 || rows->columnIndexIsNull(0)) continue;
      configs.push_back({static_cast<std::uint32_t>(rows->intForColumnIndex(0)), rows->stringForColumnIndex(1).value_or(""),
                         rows->stringForColumnIndex(2).value_or(""),
                         static_cast<std::uint32_t>(rows->longLongIntForColumnIndex(3))});
    }
  });
  for (const auto& config : configs) each(config);
  return read;
}

std::optional<VMA4QCUser> VMA4QCStore::loadUser(const std::string& uid, const std::string& appVer, std::uint32_t now) {
  std::optional<VMA4QCUser> user;
  queue_.sync([&] {
    auto db = database();
    if (!db) return;
    bool readable = false;
    std::vector<VMA4QCUser> rows;
    db->inDatabase([&](SQDatabase& connection) {
      auto result = connection.executeQuery("select uid,user_type,app_ver,ts from user");
      if (!result) return;
      readable = true;
      while (result->next())
        if (!result->columnIndexIsNull(0))
          rows.push_back({result->stringForColumnIndex(0).value_or(""), result->intForColumnIndex(1),
                          result->stringForColumnIndex(2).value_or(""),
                          static_cast<std::uint32_t>(result->longLongIntForColumnIndex(3))});
    });
    if (!readable || rows.size() > 1) return;
    if (rows.size() == 1) {
      user = rows.front();
      return;
    }
    VMA4QCUser fresh{uid, 0, appVer, now};
    updateDatabase("insert into user values(?, ?, ?, ?)",
                   {os::Value(fresh.uid), os::Value(fresh.userType), os::Value(fresh.appVer), os::Value(fresh.tagTime)});
    user = fresh;
  });
  return user;
}
