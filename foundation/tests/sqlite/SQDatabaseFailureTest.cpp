// The database layer in a hostile world: other connections holding locks, other processes writing the
// same file, a full disk, values SQLite refuses and damaged files. Each failure must reach the caller
// and leave nothing half-done behind.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "foundation/sqlite/SQDatabase.h"
#include "foundation/sqlite/SQDatabaseQueue.h"
#include "foundation/sqlite/SQResultSet.h"
#include "foundation/tests/sqlite/SQTestSupport.h"

namespace {

using sqtest::LogCapture;
using sqtest::TempDir;

std::shared_ptr<SQDatabase> openDatabase(const std::string& path) {
  auto db = SQDatabase::databaseWithPath(path);
  EXPECT_TRUE(db->open());
  return db;
}

TEST(SQDatabaseFailure, TransactionsThatCannotBeginOrCommitSayItAndLeaveNothingOpen) {
  TempDir dir;
  LogCapture log;
  std::string path = dir.file("t.db");
  auto queue = SQDatabaseQueue::databaseQueueWithPath(path);
  ASSERT_TRUE(queue);
  queue->inDatabase([](SQDatabase& db) {
    db.setMaxBusyRetryTimeInterval(0.05);
    ASSERT_TRUE(db.executeUpdate("create table t (n integer)"));
  });
  auto other = openDatabase(path);

  // A busy begin: the block must not run in autocommit, where its rollback would undo nothing.
  ASSERT_TRUE(other->beginImmediateTransaction());
  bool ran = false;
  auto error = queue->inTransaction([&](SQDatabase& db, bool&) {
    ran = true;
    db.executeUpdate("insert into t values (1)");
  });
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, SQLITE_BUSY);
  EXPECT_FALSE(ran);
  ASSERT_TRUE(other->commit());

  // A busy commit (a reader in the middle of its rows): reported, rolled back, and the next write
  // is no part of it.
  ASSERT_TRUE(other->executeUpdate("insert into t values (0)"));
  auto reader = other->executeQuery("select n from t");
  ASSERT_TRUE(reader && reader->next());
  error = queue->inTransaction([](SQDatabase& db, bool&) { ASSERT_TRUE(db.executeUpdate("insert into t values (2)")); });
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, SQLITE_BUSY);
  bool stillInTransaction = true, autocommit = false;
  queue->inDatabase([&](SQDatabase& db) {
    stillInTransaction = db.inTransaction();
    autocommit = sqlite3_get_autocommit(db.sqliteHandle()) != 0;
  });
  EXPECT_FALSE(stillInTransaction);
  EXPECT_TRUE(autocommit);
  reader->close();
  queue->inDatabase([](SQDatabase& db) { ASSERT_TRUE(db.executeUpdate("insert into t values (3)")); });
  queue->close();
  EXPECT_EQ(other->stringForQuery("select group_concat(n) from t"), "0,3");

  // A block that asks for rollback gets nothing back when the rollback went through.
  EXPECT_FALSE(queue->inDeferredTransaction([](SQDatabase& db, bool& rollback) {
    db.executeUpdate("insert into t values (4)");
    rollback = true;
  }));
  EXPECT_EQ(other->intForQuery("select count(*) from t where n = 4"), 0);
}

// A commit that finds the disk full: the child writes into a file it may not grow, and tells by its
// exit status what it saw.
TEST(SQDatabaseFailure, ACommitOnAFullDiskFailsAndLeavesNoTransactionOpen) {
  TempDir dir;
  std::string path = dir.file("full.db");
  {
    auto db = openDatabase(path);
    ASSERT_TRUE(db->executeUpdate("create table t (payload blob)"));
  }
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    auto db = SQDatabase::databaseWithPath(path);
    if (!db->open() || !db->executeStatements("pragma journal_mode = memory")) ::_exit(10);
    struct rlimit limit {};
    limit.rlim_cur = limit.rlim_max = 64 * 1024;
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(11);
    os::Error error;
    auto failure = db->runInTransaction(false, [](SQDatabase& d, bool&) {
      for (int i = 0; i < 64; ++i) d.executeUpdate("insert into t values (?)", os::Data(4096, 0x5a));
    });
    if (!failure) ::_exit(1);  // the full disk went unnoticed
    if (db->inTransaction() || !sqlite3_get_autocommit(db->sqliteHandle())) ::_exit(2);
    // The next write stands on its own: it is not swallowed by a transaction left open.
    if (!db->executeUpdate("delete from t")) ::_exit(3);
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  auto db = openDatabase(path);
  EXPECT_EQ(db->intForQuery("select count(*) from t"), 0);
  EXPECT_FALSE(db->quickCheck());
}

// One clock for every process of the machine, to put their requests in order.
double secondsNow() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Three processes writing one file (in the journal mode the news database uses) through their own
// queues, each holding the lock for a few milliseconds of work and beginning again at once: every
// transaction must get its turn within the busy time-out, however the three are scheduled.
TEST(SQDatabaseFailure, WritersInSeveralProcessesAllGetTheirTurn) {
  TempDir dir;
  std::string path = dir.file("shared.db");
  {
    auto db = openDatabase(path);
    ASSERT_TRUE(db->executeStatements("pragma journal_mode = wal"));
    ASSERT_TRUE(db->executeUpdate("create table t (writer integer, n integer, asked real, began real)"));
    ASSERT_TRUE(db->executeUpdate("create table scratch (text text)"));
  }
  constexpr int kWriters = 3;
  constexpr int kTransactions = 100;
  std::vector<pid_t> children;
  for (int w = 0; w < kWriters; ++w) {
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      auto queue = SQDatabaseQueue::databaseQueueWithPath(path);
      if (!queue) ::_exit(100);
      // Commits don't wait for the disk, which would measure the disk rather than the turns.
      queue->inDatabase([](SQDatabase& db) { db.executeStatements("pragma synchronous = normal"); });
      int failures = 0;
      for (int n = 0; n < kTransactions; ++n) {
        double asked = secondsNow();
        auto error = queue->inTransaction([&](SQDatabase& db, bool&) {
          int before = db.intForQuery("select count(*) from t where writer = ?", w);
          db.executeUpdate("insert into t values (?, ?, ?, ?)", w, before, asked, secondsNow());
          // Work that keeps the lock a few milliseconds: rows written and taken back, and a wait.
          for (int i = 0; i < 10; ++i) db.executeUpdate("insert into scratch values (?)", std::string(200, 'w'));
          db.executeUpdate("delete from scratch");
          sqlite3_sleep(3);
        });
        if (error) ++failures;
      }
      ::_exit(failures > 99 ? 99 : failures);
    }
    children.push_back(child);
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "transactions that gave up";
  }
  auto db = openDatabase(path);
  EXPECT_EQ(db->intForQuery("select count(*) from t"), kWriters * kTransactions);
  // Every writer saw its own rows, so each numbered them without a gap.
  EXPECT_EQ(db->intForQuery("select count(distinct writer || ':' || n) from t"), kWriters * kTransactions);

  // Turns: no writer that asked was overtaken by many transactions of the others begun after it
  // asked. (A waiter that always slept through the moment the lock was free saw a hundred or more;
  // taking turns, it sees about what the others begin in the few milliseconds before it claims.)
  EXPECT_LE(db->intForQuery("select max((select count(*) from t o where o.rowid < r.rowid and o.writer != r.writer "
                            "and o.began > r.asked)) from t r"),
            50);
}

TEST(SQDatabaseFailure, AValueSQLiteRefusesFailsTheStatement) {
  TempDir dir;
  LogCapture log;
  auto db = openDatabase(dir.file("b.db"));
  ASSERT_TRUE(db->executeUpdate("create table t (c blob)"));
  sqlite3_limit(db->sqliteHandle(), SQLITE_LIMIT_LENGTH, 1000);
  os::Error error;
  EXPECT_FALSE(db->executeUpdateWithArgumentsInArray("insert into t values (?)", os::Array{os::Data(2000, 1)}, &error));
  EXPECT_EQ(error.code, SQLITE_TOOBIG);
  EXPECT_FALSE(db->executeUpdateWithParameterDictionary("insert into t values (:c)",
                                                       os::Dictionary{{"c", os::Value(std::string(2000, 'x'))}}));
  EXPECT_EQ(db->executeQuery("select * from t where c = ?", os::Data(2000, 1)), nullptr);
  EXPECT_TRUE(log.contains("Error binding argument 1"));
  EXPECT_EQ(db->intForQuery("select count(*) from t"), 0);
  EXPECT_TRUE(db->executeUpdate("insert into t values (?)", os::Data(10, 1)));
}

// Writes a database of a few hundred rows, then lets `damage` spoil the closed file.
template <class Damage>
std::shared_ptr<SQDatabase> damagedDatabase(const TempDir& dir, const std::string& name, Damage damage) {
  std::string path = dir.file(name);
  {
    auto db = openDatabase(path);
    db->executeUpdate("create table t (n integer, text text)");
    db->runInTransaction(false, [](SQDatabase& d, bool&) {
      for (int i = 0; i < 400; ++i) d.executeUpdate("insert into t values (?, ?)", i, std::string(200, 'a' + i % 26));
    });
  }
  std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
  damage(file);
  file.close();
  return openDatabase(path);
}

TEST(SQDatabaseFailure, ADamagedFileIsFoundAtOpenAndOnRead) {
  TempDir dir;
  LogCapture log;
  auto garbage = [](std::fstream& file, std::streamoff at, std::size_t bytes) {
    file.seekp(at);
    std::string noise(bytes, '\0');
    for (std::size_t i = 0; i < bytes; ++i) noise[i] = static_cast<char>((i * 37 + 11) & 0xff);
    file.write(noise.data(), static_cast<std::streamsize>(noise.size()));
  };

  auto header = damagedDatabase(dir, "header.db", [&](std::fstream& f) { garbage(f, 0, 100); });
  auto error = header->quickCheck();
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, SQLITE_NOTADB);

  auto zeroed = damagedDatabase(dir, "zeroed.db", [](std::fstream& f) {
    f.seekg(0, std::ios::end);
    std::string zeros(static_cast<std::size_t>(f.tellg()), '\0');
    f.seekp(0);
    f.write(zeros.data(), static_cast<std::streamsize>(zeros.size()));
  });
  EXPECT_TRUE(zeroed->quickCheck());

  // Inner pages spoilt: the header reads fine, the walk over the rows does not.
  auto inner = damagedDatabase(dir, "inner.db", [&](std::fstream& f) { garbage(f, 4096 * 3, 4096 * 4); });
  EXPECT_TRUE(inner->quickCheck());
  auto rs = inner->executeQuery("select n, text from t");
  ASSERT_TRUE(rs);
  int rows = 0;
  while (rs->next()) ++rows;
  EXPECT_LT(rows, 400);
  ASSERT_TRUE(rs->stepError()) << "a walk that ended on a damaged page is no normal end";
  EXPECT_EQ(rs->stepError()->code, SQLITE_CORRUPT);

  TempDir other;
  std::string truncatedPath;
  auto truncated = damagedDatabase(other, "cut.db", [](std::fstream&) {});
  truncatedPath = other.file("cut.db");
  truncated->close();
  ASSERT_EQ(::truncate(truncatedPath.c_str(), 4096 * 5), 0);
  truncated = openDatabase(truncatedPath);
  EXPECT_TRUE(truncated->quickCheck());

  auto sound = damagedDatabase(dir, "sound.db", [](std::fstream&) {});
  EXPECT_FALSE(sound->quickCheck());
}

}  // namespace
