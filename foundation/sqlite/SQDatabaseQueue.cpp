#include "foundation/sqlite/SQDatabaseQueue.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "foundation/sqlite/SQResultSet.h"
#include "os/core/Log.h"

namespace {
std::atomic<long> gQueueSavePointCounter{0};
}

std::shared_ptr<SQDatabase> SQDatabaseQueue::databaseClass(const std::optional<std::string>& path) {
  return SQDatabase::databaseWithPath(path);
}

std::shared_ptr<SQDatabaseQueue> SQDatabaseQueue::databaseQueueWithPath(std::optional<std::string> path, int flags) {
  auto db = databaseClass(path);
  if (!db->openWithFlags(flags)) {
    os::log("Could not create database queue for path " + path.value_or("(null)"));
    return nullptr;
  }
  auto queue = std::make_shared<SQDatabaseQueue>(Private{}, std::move(path), flags);
  queue->db_ = std::move(db);
  return queue;
}

SQDatabaseQueue::SQDatabaseQueue(Private, std::optional<std::string> path, int flags)
    : path_(std::move(path)), openFlags_(flags) {}

SQDatabaseQueue::~SQDatabaseQueue() = default;

std::string SQDatabaseQueue::description() const {
  char buf[64];
  std::snprintf(buf, sizeof buf, "<SQDatabaseQueue: %p>", static_cast<const void*>(this));
  return buf;
}

template <class F>
void SQDatabaseQueue::sync(F&& work) {
  // The queue is serial and synchronous: work runs on the caller's thread while it holds the queue.
  std::unique_lock lock(queue_);
  if (runningThread_ == std::this_thread::get_id()) {
    std::fprintf(stderr,
                 "SQDatabaseQueue:143: failed assertion 'currentSyncQueue != self && \"inDatabase: was called reentrantly "
                 "on the same queue, which would lead to a deadlock\"'\n");
    std::abort();
  }
  runningThread_ = std::this_thread::get_id();
  struct Reset {
    std::thread::id& id;
    ~Reset() { id = std::thread::id(); }
  } reset{runningThread_};
  work();
}

std::shared_ptr<SQDatabase> SQDatabaseQueue::database() {
  if (!db_) {
    auto db = databaseClass(path_);
    if (!db->openWithFlags(openFlags_)) {
      os::log("SQDatabaseQueue could not reopen database for path " + path_.value_or("(null)"));
      return nullptr;
    }
    db_ = std::move(db);
  }
  return db_;
}

void SQDatabaseQueue::inDatabase(const DatabaseBlock& block) {
  sync([&] {
    auto db = database();
    if (!db) return;
    block(*db);
    if (db->hasOpenResultSets())
      os::log("Warning: there is at least one open result set around after performing [SQDatabaseQueue inDatabase:]");
  });
}

std::optional<os::Error> SQDatabaseQueue::beginTransaction(bool deferred, const TransactionBlock& block) {
  std::optional<os::Error> result;
  sync([&] {
    auto db = database();
    if (!db) {
      result = os::Error::withDescription(kSQDatabaseErrorDomain, 21, "The database could not be opened.");
      return;
    }
    result = db->runInTransaction(deferred, block);
  });
  return result;
}

std::optional<os::Error> SQDatabaseQueue::inTransaction(const TransactionBlock& block) { return beginTransaction(false, block); }

std::optional<os::Error> SQDatabaseQueue::inDeferredTransaction(const TransactionBlock& block) {
  return beginTransaction(true, block);
}

std::optional<os::Error> SQDatabaseQueue::inSavePoint(const TransactionBlock& block) {
  std::optional<os::Error> result;
  sync([&] {
    auto db = database();
    if (!db) {
      result = os::Error::withDescription(kSQDatabaseErrorDomain, 21, "The database could not be opened.");
      return;
    }
    std::string name = "savePoint" + std::to_string(gQueueSavePointCounter++);
    os::Error error;
    if (!db->startSavePointWithName(name, &error)) {
      result = error;
      return;
    }
    bool rollback = false;
    try {
      block(*db, rollback);
    } catch (...) {
      db->rollbackToSavePointWithName(name);
      db->releaseSavePointWithName(name);
      throw;
    }
    if (rollback && !db->rollbackToSavePointWithName(name, &error)) result = error;
    if (!db->releaseSavePointWithName(name, &error)) result = error;
  });
  return result;
}

void SQDatabaseQueue::close() {
  sync([&] {
    if (db_) db_->close();
    db_.reset();
  });
}
