#pragma once
// Several connections to one file, one per concurrent user: handed out on demand and taken back
// afterwards. Only the two lists are locked; each connection is used by one caller at a time.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "foundation/sqlite/SQDatabase.h"
#include "os/core/Error.h"

class SQDatabasePool;

// Both operations are optional.
class SQDatabasePoolDelegate {
 public:
  virtual ~SQDatabasePoolDelegate() = default;
  virtual bool databasePoolShouldAddDatabaseToPool(SQDatabasePool& pool, SQDatabase& database) { return true; }
  virtual void databasePoolDidAddDatabase(SQDatabasePool& pool, SQDatabase& database) {}
};

class SQDatabasePool : public std::enable_shared_from_this<SQDatabasePool> {
  struct Private {};

 public:
  using DatabaseBlock = std::function<void(SQDatabase& db)>;
  using TransactionBlock = std::function<void(SQDatabase& db, bool& rollback)>;
  static constexpr int kDefaultOpenFlags = 6;  // read-write, create

  static std::shared_ptr<SQDatabasePool> databasePoolWithPath(std::optional<std::string> path, int flags = kDefaultOpenFlags);
  SQDatabasePool(Private, std::optional<std::string> path, int flags);

  // A connection moved to the handed-out list; nothing at the maximum, when opening fails or when the
  // delegate refuses it.
  std::shared_ptr<SQDatabase> db();
  // Raises "Database already in pool" for a connection that is already idle.
  void pushDatabaseBackInPool(const std::shared_ptr<SQDatabase>& database);

  void inDatabase(const DatabaseBlock& block);
  // As SQDatabaseQueue's: the error of a begin, a commit or a rollback, nothing when all went through.
  std::optional<os::Error> inTransaction(const TransactionBlock& block);
  std::optional<os::Error> inDeferredTransaction(const TransactionBlock& block);
  std::optional<os::Error> beginTransaction(bool deferred, const TransactionBlock& block);
  std::optional<os::Error> inSavePoint(const TransactionBlock& block);

  std::size_t countOfCheckedInDatabases();
  std::size_t countOfCheckedOutDatabases();
  std::size_t countOfOpenDatabases();
  void releaseAllDatabases();
  void executeLocked(const std::function<void()>& block);

  const std::optional<std::string>& path() const { return path_; }
  void setPath(std::optional<std::string> path) { path_ = std::move(path); }
  std::shared_ptr<SQDatabasePoolDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<SQDatabasePoolDelegate> delegate) { delegate_ = std::move(delegate); }
  std::uint32_t maximumNumberOfDatabasesToCreate() const { return maximumNumberOfDatabasesToCreate_; }
  void setMaximumNumberOfDatabasesToCreate(std::uint32_t maximum) { maximumNumberOfDatabasesToCreate_ = maximum; }
  int openFlags() const { return openFlags_; }
  std::string description() const;

 private:
  std::optional<std::string> path_;
  std::recursive_mutex lockQueue_;
  std::vector<std::shared_ptr<SQDatabase>> databaseInPool_;
  std::vector<std::shared_ptr<SQDatabase>> databaseOutPool_;
  std::weak_ptr<SQDatabasePoolDelegate> delegate_;
  std::uint32_t maximumNumberOfDatabasesToCreate_ = 0;
  int openFlags_ = kDefaultOpenFlags;
};
