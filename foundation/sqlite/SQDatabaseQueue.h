#pragma once
// One connection used from several threads: every piece of work runs on it one after another, and the
// caller waits until its work is done.
//
// The serial queue is a lock rather than an os::DispatchQueue: every call is synchronous, so a worker
// thread would only run the block while the caller sat waiting for it. Running the block on the
// caller's own thread gives the same one-at-a-time order and the same re-entry check (the thread that
// holds the queue), and besides lets an os::Exception raised inside the block reach its caller
// instead of ending the process on a worker thread.
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "foundation/sqlite/SQDatabase.h"
#include "os/core/Error.h"

class SQDatabaseQueue : public std::enable_shared_from_this<SQDatabaseQueue> {
  struct Private {};

 public:
  using DatabaseBlock = std::function<void(SQDatabase& db)>;
  using TransactionBlock = std::function<void(SQDatabase& db, bool& rollback)>;

  static constexpr int kDefaultOpenFlags = 6;  // read-write, create

  // Nothing when the database cannot be opened.
  static std::shared_ptr<SQDatabaseQueue> databaseQueueWithPath(std::optional<std::string> path,
                                                                int flags = kDefaultOpenFlags);
  SQDatabaseQueue(Private, std::optional<std::string> path, int flags);
  ~SQDatabaseQueue();

  // Makes the queue's connection.
  static std::shared_ptr<SQDatabase> databaseClass(const std::optional<std::string>& path);

  // Runs the block on the connection; calling it again from inside the block stops the process.
  void inDatabase(const DatabaseBlock& block);
  // The error of a begin, a commit or the rollback the block asked for; nothing when all went through.
  // A transaction that could not begin does not run the block; one that could not commit is rolled back.
  std::optional<os::Error> inTransaction(const TransactionBlock& block);
  std::optional<os::Error> inDeferredTransaction(const TransactionBlock& block);
  std::optional<os::Error> beginTransaction(bool deferred, const TransactionBlock& block);
  std::optional<os::Error> inSavePoint(const TransactionBlock& block);
  void close();

  const std::optional<std::string>& path() const { return path_; }
  void setPath(std::optional<std::string> path) { path_ = std::move(path); }
  int openFlags() const { return openFlags_; }
  std::string description() const;

 private:
  // The connection, reopened after close; nothing when that fails. Called with the queue held.
  std::shared_ptr<SQDatabase> database();
  template <class F>
  void sync(F&& work);

  std::optional<std::string> path_;
  std::recursive_mutex queue_;  // recursive only so that re-entry is detected rather than deadlocking
  std::thread::id runningThread_;
  std::shared_ptr<SQDatabase> db_;
  int openFlags_ = kDefaultOpenFlags;
};
