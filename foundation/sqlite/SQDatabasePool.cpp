#include "foundation/sqlite/SQDatabasePool.h"

#include <algorithm>
#include <atomic>
#include <cstdio>

#include "os/core/Log.h"

namespace {
std::atomic<long> gPoolSavePointCounter{0};

void removeFrom(std::vector<std::shared_ptr<SQDatabase>>& list, const std::shared_ptr<SQDatabase>& db) {
  list.erase(std::remove(list.begin(), list.end(), db), list.end());
}
bool contains(const std::vector<std::shared_ptr<SQDatabase>>& list, const std::shared_ptr<SQDatabase>& db) {
  return std::find(list.begin(), list.end(), db) != list.end();
}

// Runs the block; when it raises, `undo` runs and the connection goes back to the pool before the
// exception travels on, so that a caller's mistake neither leaks a connection nor leaves half-done
// work for the connection's next user to commit.
template <class Block, class Undo>
void runGuarded(SQDatabasePool& pool, const std::shared_ptr<SQDatabase>& database, Block&& block, Undo&& undo) {
  try {
    block();
  } catch (...) {
    undo();
    pool.pushDatabaseBackInPool(database);
    throw;
  }
}
}  // namespace

std::shared_ptr<SQDatabasePool> SQDatabasePool::databasePoolWithPath(std::optional<std::string> path, int flags) {
  return std::make_shared<SQDatabasePool>(Private{}, std::move(path), flags);
}

SQDatabasePool::SQDatabasePool(Private, std::optional<std::string> path, int flags) : path_(std::move(path)), openFlags_(flags) {}

std::string SQDatabasePool::description() const {
  char buf[64];
  std::snprintf(buf, sizeof buf, "<SQDatabasePool: %p>", static_cast<const void*>(this));
  return buf;
}

std::shared_ptr<SQDatabase> SQDatabasePool::db() {
  std::lock_guard lock(lockQueue_);
  std::shared_ptr<SQDatabase> database;
  bool isNew = false;
  if (!databaseInPool_.empty()) {
    database = databaseInPool_.back();
    databaseInPool_.pop_back();
    databaseOutPool_.push_back(database);
  } else {
    if (maximumNumberOfDatabasesToCreate_ != 0 &&
        databaseInPool_.size() + databaseOutPool_.size() >= maximumNumberOfDatabasesToCreate_) {
      os::logf("Maximum number of databases (%ld) has already been reached!",
               static_cast<long>(maximumNumberOfDatabasesToCreate_));
      return nullptr;
    }
    database = SQDatabase::databaseWithPath(path_);
    isNew = true;
  }
  if (!database->openWithFlags(openFlags_)) {
    os::log("Could not open up the database at path " + path_.value_or("(null)"));
    removeFrom(databaseOutPool_, database);
    return nullptr;
  }
  auto delegate = delegate_.lock();
  if (delegate && !delegate->databasePoolShouldAddDatabaseToPool(*this, *database)) {
    // A refused connection belongs to neither list.
    database->close();
    removeFrom(databaseOutPool_, database);
    return nullptr;
  }
  if (!contains(databaseOutPool_, database)) databaseOutPool_.push_back(database);
  if (isNew && delegate) delegate->databasePoolDidAddDatabase(*this, *database);
  return database;
}

void SQDatabasePool::pushDatabaseBackInPool(const std::shared_ptr<SQDatabase>& database) {
  if (!database) return;
  std::lock_guard lock(lockQueue_);
  if (contains(databaseInPool_, database))
    throw os::Exception("Database already in pool", "The SQDatabase being put back into the pool is already present in the pool");
  databaseInPool_.push_back(database);
  removeFrom(databaseOutPool_, database);
}

void SQDatabasePool::inDatabase(const DatabaseBlock& block) {
  auto database = db();
  if (!database) return;
  runGuarded(*this, database, [&] { block(*database); }, [] {});
  pushDatabaseBackInPool(database);
}

std::optional<os::Error> SQDatabasePool::beginTransaction(bool deferred, const TransactionBlock& block) {
  auto database = db();
  if (!database) return os::Error::withDescription(kSQDatabaseErrorDomain, 21, "No database is available from the pool.");
  std::optional<os::Error> result;
  runGuarded(*this, database, [&] { result = database->runInTransaction(deferred, block); }, [] {});
  pushDatabaseBackInPool(database);
  return result;
}

std::optional<os::Error> SQDatabasePool::inTransaction(const TransactionBlock& block) { return beginTransaction(false, block); }

std::optional<os::Error> SQDatabasePool::inDeferredTransaction(const TransactionBlock& block) {
  return beginTransaction(true, block);
}

std::optional<os::Error> SQDatabasePool::inSavePoint(const TransactionBlock& block) {
  std::string name = "savePoint" + std::to_string(gPoolSavePointCounter++);
  auto database = db();
  if (!database) return os::Error::withDescription(kSQDatabaseErrorDomain, 21, "No database is available from the pool.");
  os::Error error;
  if (!database->startSavePointWithName(name, &error)) {
    pushDatabaseBackInPool(database);
    return error;
  }
  bool rollback = false;
  runGuarded(*this, database, [&] { block(*database, rollback); }, [&] {
    database->rollbackToSavePointWithName(name);
    database->releaseSavePointWithName(name);
  });
  std::optional<os::Error> result;
  if (rollback && !database->rollbackToSavePointWithName(name, &error)) result = error;
  if (!database->releaseSavePointWithName(name, &error)) result = error;
  pushDatabaseBackInPool(database);
  return result;
}

std::size_t SQDatabasePool::countOfCheckedInDatabases() {
  std::lock_guard lock(lockQueue_);
  return databaseInPool_.size();
}

std::size_t SQDatabasePool::countOfCheckedOutDatabases() {
  std::lock_guard lock(lockQueue_);
  return databaseOutPool_.size();
}

std::size_t SQDatabasePool::countOfOpenDatabases() {
  std::lock_guard lock(lockQueue_);
  return databaseInPool_.size() + databaseOutPool_.size();
}

void SQDatabasePool::releaseAllDatabases() {
  std::lock_guard lock(lockQueue_);
  databaseInPool_.clear();
  databaseOutPool_.clear();
}

void SQDatabasePool::executeLocked(const std::function<void()>& block) {
  std::lock_guard lock(lockQueue_);
  block();
}
