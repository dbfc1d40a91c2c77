#include <gtest/gtest.h>
#include <sqlite3.h>

#include <thread>
#include <vector>

#include "foundation/sqlite/SQDatabasePool.h"
#include "foundation/sqlite/SQDatabaseQueue.h"
#include "foundation/sqlite/SQResultSet.h"
#include "foundation/tests/sqlite/SQTestSupport.h"

namespace {

using sqtest::LogCapture;
using sqtest::TempDir;

TEST(SQDatabaseQueue, SerialisesWorkFromManyThreads) {
  TempDir dir;
  auto queue = SQDatabaseQueue::databaseQueueWithPath(dir.file("q.db"));
  ASSERT_TRUE(queue);
  EXPECT_EQ(queue->openFlags(), 6);
  queue->inDatabase([](SQDatabase& db) { ASSERT_TRUE(db.executeUpdate("create table t (n integer)")); });
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 25; ++i) queue->inDatabase([&](SQDatabase& db) { db.executeUpdate("insert into t values (?)", t * 100 + i); });
    });
  for (auto& thread : threads) thread.join();
  int count = 0;
  queue->inDatabase([&](SQDatabase& db) { count = db.intForQuery("select count(*) from t"); });
  EXPECT_EQ(count, 100);
}

TEST(SQDatabaseQueue, ReopensAfterCloseAndRollsBackOnRequest) {
  TempDir dir;
  LogCapture log;
  auto queue = SQDatabaseQueue::databaseQueueWithPath(dir.file("q.db"));
  queue->inDatabase([](SQDatabase& db) { db.executeUpdate("create table t (n integer)"); });
  queue->close();
  int count = -1;
  queue->inDatabase([&](SQDatabase& db) { count = db.intForQuery("select count(*) from t"); });
  EXPECT_EQ(count, 0);

  queue->inTransaction([](SQDatabase& db, bool& rollback) {
    db.executeUpdate("insert into t values (1)");
    rollback = true;
  });
  queue->inDeferredTransaction([](SQDatabase& db, bool&) { db.executeUpdate("insert into t values (2)"); });
  auto error = queue->inSavePoint([](SQDatabase& db, bool& rollback) {
    db.executeUpdate("insert into t values (3)");
    rollback = true;
  });
  EXPECT_FALSE(error);
  std::optional<std::string> values;
  queue->inDatabase([&](SQDatabase& db) { values = db.stringForQuery("select group_concat(n) from t"); });
  EXPECT_EQ(values, "2");

  std::shared_ptr<SQResultSet> leaked;
  queue->inDatabase([&](SQDatabase& db) { leaked = db.executeQuery("select n from t"); });
  EXPECT_TRUE(log.contains("Warning: there is at least one open result set around after performing [SQDatabaseQueue inDatabase:]"));
}

// A mistake raised inside a block reaches the caller; its half-done work is undone so that the next
// piece of work does not commit it.
TEST(SQDatabaseQueue, ABlockThatRaisesReachesTheCallerAndLeavesNothingHalfDone) {
  TempDir dir;
  auto queue = SQDatabaseQueue::databaseQueueWithPath(dir.file("q.db"));
  queue->inDatabase([](SQDatabase& db) { db.executeUpdate("create table t (n integer)"); });
  auto raising = [](SQDatabase& db, bool&) {
    db.executeUpdate("insert into t values (1)");
    throw os::Exception("Misuse", "raised inside the block");
  };
  EXPECT_THROW(queue->inTransaction(raising), os::Exception);
  EXPECT_THROW(queue->inDeferredTransaction(raising), os::Exception);
  EXPECT_THROW(queue->inSavePoint(raising), os::Exception);
  EXPECT_THROW(queue->inDatabase([](SQDatabase&) { throw os::Exception("Misuse", "again"); }), os::Exception);

  queue->inTransaction([](SQDatabase& db, bool&) { db.executeUpdate("insert into t values (2)"); });
  std::optional<std::string> values;
  bool inTransaction = true;
  queue->inDatabase([&](SQDatabase& db) {
    values = db.stringForQuery("select group_concat(n) from t");
    inTransaction = !sqlite3_get_autocommit(db.sqliteHandle());
  });
  EXPECT_EQ(values, "2");
  EXPECT_FALSE(inTransaction);
}

TEST(SQDatabaseQueue, FailsToOpenWithoutAFolder) {
  TempDir dir;
  LogCapture log;
  EXPECT_EQ(SQDatabaseQueue::databaseQueueWithPath(dir.file("none/q.db")), nullptr);
  EXPECT_TRUE(log.contains("Could not create database queue for path"));
}

TEST(SQDatabaseQueueDeathTest, ReentrantUseStopsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  TempDir dir;
  auto queue = SQDatabaseQueue::databaseQueueWithPath(dir.file("q.db"));
  EXPECT_DEATH(queue->inDatabase([&](SQDatabase&) { queue->inDatabase([](SQDatabase&) {}); }), "reentrantly");
}

class RefusingDelegate : public SQDatabasePoolDelegate {
 public:
  bool databasePoolShouldAddDatabaseToPool(SQDatabasePool&, SQDatabase&) override { return accept; }
  void databasePoolDidAddDatabase(SQDatabasePool&, SQDatabase&) override { ++added; }
  bool accept = true;
  int added = 0;
};

TEST(SQDatabasePool, StopsAtItsMaximumAndReusesIdleConnections) {
  TempDir dir;
  LogCapture log;
  auto pool = SQDatabasePool::databasePoolWithPath(dir.file("p.db"));
  auto delegate = std::make_shared<RefusingDelegate>();
  pool->setDelegate(delegate);
  pool->setMaximumNumberOfDatabasesToCreate(1);
  auto first = pool->db();
  ASSERT_TRUE(first);
  EXPECT_EQ(delegate->added, 1);
  EXPECT_EQ(pool->db(), nullptr);
  EXPECT_TRUE(log.contains("Maximum number of databases (1) has already been reached!"));
  EXPECT_EQ(pool->countOfCheckedOutDatabases(), 1u);

  pool->pushDatabaseBackInPool(first);
  EXPECT_EQ(pool->countOfCheckedInDatabases(), 1u);
  try {
    pool->pushDatabaseBackInPool(first);
    FAIL() << "a second push must raise";
  } catch (const os::Exception& e) {
    EXPECT_EQ(e.name(), "Database already in pool");
  }
  auto again = pool->db();
  EXPECT_EQ(again, first);
  EXPECT_EQ(delegate->added, 1);
  pool->pushDatabaseBackInPool(again);
  pool->releaseAllDatabases();
  EXPECT_EQ(pool->countOfOpenDatabases(), 0u);
}

TEST(SQDatabasePool, ARefusedConnectionIsNotCountedAsHandedOut) {
  TempDir dir;
  auto pool = SQDatabasePool::databasePoolWithPath(dir.file("p.db"));
  auto delegate = std::make_shared<RefusingDelegate>();
  delegate->accept = false;
  pool->setDelegate(delegate);
  pool->setMaximumNumberOfDatabasesToCreate(1);
  EXPECT_EQ(pool->db(), nullptr);
  EXPECT_EQ(pool->countOfOpenDatabases(), 0u);
  // The refusal did not use up the maximum.
  delegate->accept = true;
  auto db = pool->db();
  ASSERT_TRUE(db);
  pool->pushDatabaseBackInPool(db);

  // A refused idle connection leaves the idle list too.
  delegate->accept = false;
  EXPECT_EQ(pool->db(), nullptr);
  EXPECT_EQ(pool->countOfOpenDatabases(), 0u);
}

TEST(SQDatabasePool, ABlockThatRaisesGivesTheConnectionBackWithNothingHalfDone) {
  TempDir dir;
  auto pool = SQDatabasePool::databasePoolWithPath(dir.file("p.db"));
  pool->setMaximumNumberOfDatabasesToCreate(1);
  pool->inDatabase([](SQDatabase& db) { db.executeUpdate("create table t (n integer)"); });
  auto raising = [](SQDatabase& db, bool&) {
    db.executeUpdate("insert into t values (1)");
    throw os::Exception("Misuse", "raised inside the block");
  };
  EXPECT_THROW(pool->inTransaction(raising), os::Exception);
  EXPECT_THROW(pool->inSavePoint(raising), os::Exception);
  EXPECT_THROW(pool->inDatabase([](SQDatabase&) { throw os::Exception("Misuse", "again"); }), os::Exception);
  EXPECT_EQ(pool->countOfCheckedOutDatabases(), 0u);

  // The one connection is available again and starts clean.
  pool->inTransaction([](SQDatabase& db, bool&) { db.executeUpdate("insert into t values (2)"); });
  std::optional<std::string> values;
  pool->inDatabase([&](SQDatabase& db) {
    EXPECT_TRUE(sqlite3_get_autocommit(db.sqliteHandle()));
    values = db.stringForQuery("select group_concat(n) from t");
  });
  EXPECT_EQ(values, "2");
}

TEST(SQDatabasePool, TransactionsAndSavepointsReturnTheConnection) {
  TempDir dir;
  auto pool = SQDatabasePool::databasePoolWithPath(dir.file("p.db"));
  pool->inDatabase([](SQDatabase& db) { db.executeUpdate("create table t (n integer)"); });
  pool->inTransaction([](SQDatabase& db, bool& rollback) {
    db.executeUpdate("insert into t values (1)");
    rollback = true;
  });
  pool->inDeferredTransaction([](SQDatabase& db, bool&) { db.executeUpdate("insert into t values (2)"); });
  EXPECT_FALSE(pool->inSavePoint([](SQDatabase& db, bool& rollback) {
    db.executeUpdate("insert into t values (3)");
    rollback = true;
  }));
  int count = 0;
  pool->inDatabase([&](SQDatabase& db) { count = db.intForQuery("select count(*) from t"); });
  EXPECT_EQ(count, 1);
  EXPECT_EQ(pool->countOfCheckedOutDatabases(), 0u);
  EXPECT_EQ(pool->countOfCheckedInDatabases(), 1u);
  bool ran = false;
  pool->executeLocked([&] { ran = true; });
  EXPECT_TRUE(ran);
}

}  // namespace
