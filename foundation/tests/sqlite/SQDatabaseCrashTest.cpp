// A writer process killed outright part-way through its work must leave a database that opens,
// checks clean and holds whole transactions only. The writer is a forked child that talks to the
// test through a pipe: it says when it is in the middle of its work, and the test kills it then.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <string>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "foundation/sqlite/SQDatabase.h"
#include "foundation/sqlite/SQResultSet.h"
#include "foundation/tests/sqlite/SQTestSupport.h"

namespace {

using sqtest::TempDir;

enum class Work {
  // One transaction of inserts, never committed.
  Uncommitted,
  // One committed transaction, then a second one left open.
  CommittedThenOpen,
  // Transaction after transaction, committed one by one, until the kill lands wherever it lands.
  CommitsWithoutPause,
};

constexpr int kRows = 2000;       // rows of one transaction in the first two kinds of work
constexpr int kBatchRows = 150;   // rows of one transaction of CommitsWithoutPause
constexpr int kMaxBatches = 400;  // a writer whose parent never kills it stops here
const std::string kPayload(300, 'x');

constexpr char kReady = 'R';
constexpr char kFailed = 'F';

bool insertBatch(SQDatabase& db, int batch, int rows) {
  for (int n = 0; n < rows; ++n)
    if (!db.executeUpdate("insert into t (batch, n, payload) values (?, ?, ?)", batch, n, kPayload)) return false;
  return true;
}

// The child's whole life. It never returns: it leaves with _exit so that nothing of the test
// process (destructors, exit handlers, the test framework) runs a second time in the copy.
[[noreturn]] void runWriter(const std::string& path, Work work, int readyFd, int holdFd) {
  auto say = [&](char c) {
    while (::write(readyFd, &c, 1) < 0 && errno == EINTR) {
    }
  };
  auto fail = [&] {
    say(kFailed);
    ::_exit(1);
  };
  auto db = SQDatabase::databaseWithPath(path);
  if (!db->open()) fail();
  // A tiny page cache makes the writer spill uncommitted pages to disk long before it commits, so the
  // kill leaves half-done work in the files that only the journal can undo.
  if (!db->executeStatements("pragma cache_size = 8")) fail();

  switch (work) {
    case Work::Uncommitted:
      if (!db->beginTransaction() || !insertBatch(*db, 1, kRows)) fail();
      say(kReady);
      break;
    case Work::CommittedThenOpen:
      if (!db->beginTransaction() || !insertBatch(*db, 1, kRows) || !db->commit()) fail();
      if (!db->beginTransaction() || !insertBatch(*db, 2, kRows)) fail();
      say(kReady);
      break;
    case Work::CommitsWithoutPause:
      for (int batch = 1; batch <= kMaxBatches; ++batch) {
        if (!db->beginTransaction() || !insertBatch(*db, batch, kBatchRows) || !db->commit()) fail();
        if (batch == 1) say(kReady);
      }
      break;
  }
  // Wait for the kill. The test never writes to this pipe; should it go away, the read ends.
  char c;
  while (::read(holdFd, &c, 1) < 0 && errno == EINTR) {
  }
  ::_exit(0);
}

// The forked writer; reaped in every case, also when an assertion leaves the test early.
class Writer {
 public:
  Writer(const std::string& path, Work work) {
    int ready[2], hold[2];
    if (::pipe2(ready, O_CLOEXEC) != 0) return;
    if (::pipe2(hold, O_CLOEXEC) != 0) {
      ::close(ready[0]);
      ::close(ready[1]);
      return;
    }
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(ready[0]);
      ::close(hold[1]);
      runWriter(path, work, ready[1], hold[0]);
    }
    ::close(ready[1]);
    ::close(hold[0]);
    readyFd_ = ready[0];
    holdFd_ = hold[1];
  }
  ~Writer() {
    if (pid_ > 0) killAndReap();
    if (readyFd_ >= 0) ::close(readyFd_);
    if (holdFd_ >= 0) ::close(holdFd_);
  }
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;

  bool started() const { return pid_ > 0; }
  // What the child said first: kReady, kFailed, or 0 when it ended without a word.
  char awaitWord() {
    char c = 0;
    ssize_t n;
    while ((n = ::read(readyFd_, &c, 1)) < 0 && errno == EINTR) {
    }
    return n == 1 ? c : 0;
  }
  // The signal that ended the child, 0 when it exited on its own.
  int killAndReap() {
    ::kill(pid_, SIGKILL);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    return WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  }

 private:
  pid_t pid_ = -1;
  int readyFd_ = -1;
  int holdFd_ = -1;
};

class SQDatabaseCrashTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    path = dir.file("crash.db");
    auto db = SQDatabase::databaseWithPath(path);
    ASSERT_TRUE(db->open());
    ASSERT_EQ(db->stringForQuery(std::string("pragma journal_mode = ") + journalMode()), journalMode());
    ASSERT_TRUE(db->executeUpdate("create table t (batch integer, n integer, payload text)"));
    // No connection of this process may be open across the fork.
    ASSERT_TRUE(db->close());
    sizeBeforeWriter = std::filesystem::file_size(path);
  }

  std::string journalMode() const { return GetParam(); }
  bool rollbackJournal() const { return journalMode() == "delete"; }

  // Starts the writer and kills it once it reports being mid-work.
  void killWriterMidWork(Work work) {
    Writer writer(path, work);
    ASSERT_TRUE(writer.started());
    char word = writer.awaitWord();
    ASSERT_EQ(word, kReady) << "the writer failed before it reached the middle of its work";
    EXPECT_EQ(writer.killAndReap(), SIGKILL);
  }

  // The file after the kill, opened afresh: it must pass the integrity check and stay writable.
  std::shared_ptr<SQDatabase> reopenChecked() {
    auto db = SQDatabase::databaseWithPath(path);
    EXPECT_TRUE(db->open());
    EXPECT_EQ(db->stringForQuery("pragma integrity_check"), "ok");
    return db;
  }

  void expectStillWritable(SQDatabase& db) {
    EXPECT_TRUE(db.beginTransaction());
    EXPECT_TRUE(db.executeUpdate("insert into t (batch, n) values (?, ?)", 999, 0));
    EXPECT_TRUE(db.commit());
    EXPECT_EQ(db.intForQuery("select count(*) from t where batch = 999"), 1);
  }

  TempDir dir;
  std::string path;
  std::uintmax_t sizeBeforeWriter = 0;
};

TEST_P(SQDatabaseCrashTest, AnUncommittedTransactionLeavesNothing) {
  ASSERT_NO_FATAL_FAILURE(killWriterMidWork(Work::Uncommitted));
  if (rollbackJournal()) {
    // The premise: the dead writer had already put uncommitted pages into the file, next to its journal.
    EXPECT_TRUE(std::filesystem::exists(path + "-journal"));
    EXPECT_GT(std::filesystem::file_size(path), sizeBeforeWriter);
  } else {
    EXPECT_TRUE(std::filesystem::exists(path + "-wal"));
  }

  auto db = reopenChecked();
  EXPECT_EQ(db->intForQuery("select count(*) from t"), 0);
  expectStillWritable(*db);
  EXPECT_EQ(db->stringForQuery("pragma integrity_check"), "ok");
}

TEST_P(SQDatabaseCrashTest, ACommittedTransactionSurvivesTheKillOfTheNextOne) {
  ASSERT_NO_FATAL_FAILURE(killWriterMidWork(Work::CommittedThenOpen));

  auto db = reopenChecked();
  EXPECT_EQ(db->intForQuery("select count(*) from t where batch = 1"), kRows);
  EXPECT_EQ(db->intForQuery("select count(distinct n) from t where batch = 1"), kRows);
  EXPECT_EQ(db->intForQuery("select count(*) from t where batch = 2"), 0);
  EXPECT_EQ(db->stringForQuery("select payload from t where batch = 1 and n = ?", kRows - 1), kPayload);
  expectStillWritable(*db);
}

TEST_P(SQDatabaseCrashTest, AKillAtAnyMomentKeepsTransactionsWhole) {
  ASSERT_NO_FATAL_FAILURE(killWriterMidWork(Work::CommitsWithoutPause));

  auto db = reopenChecked();
  int batches = db->intForQuery("select count(distinct batch) from t");
  EXPECT_GE(batches, 1);
  // Transactions commit in order: what survived is batches 1..k, each complete.
  EXPECT_EQ(db->intForQuery("select max(batch) from t"), batches);
  EXPECT_EQ(db->intForQuery("select count(*) from t"), batches * kBatchRows);
  auto partial = db->executeQuery("select batch from t group by batch having count(*) != ?", kBatchRows);
  ASSERT_TRUE(partial);
  EXPECT_FALSE(partial->next()) << "batch " << partial->intForColumnIndex(0) << " survived in part";
  partial->close();
  expectStillWritable(*db);
}

INSTANTIATE_TEST_SUITE_P(JournalModes, SQDatabaseCrashTest, ::testing::Values("delete", "wal"),
                         [](const ::testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

}  // namespace
