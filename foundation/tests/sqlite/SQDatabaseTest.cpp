#include <gtest/gtest.h>
#include <sqlite3.h>

#include "foundation/sqlite/SQDatabase.h"
#include "foundation/sqlite/SQResultSet.h"
#include "foundation/tests/sqlite/SQTestSupport.h"

namespace {

using sqtest::LogCapture;
using sqtest::TempDir;

class SQDatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db = SQDatabase::databaseWithPath(dir.file("test.db"));
    ASSERT_TRUE(db->open());
    ASSERT_TRUE(db->executeUpdate("create table t (a integer, b text, c blob, d real)"));
  }
  int rowCount() { return db->intForQuery("select count(*) from t"); }

  TempDir dir;
  LogCapture log;
  std::shared_ptr<SQDatabase> db;
};

TEST_F(SQDatabaseTest, OpenIsIdempotentAndAFailedOpenNeverReportsSuccess) {
  EXPECT_TRUE(db->open());
  EXPECT_EQ(db->maxBusyRetryTimeInterval(), 2.0);
  EXPECT_EQ(SQDatabase::SQDBVersion(), 0x230u);

  auto broken = SQDatabase::databaseWithPath(dir.file("missing/folder/x.db"));
  EXPECT_FALSE(broken->open());
  EXPECT_TRUE(log.contains("error opening!: 14"));
  EXPECT_EQ(broken->sqliteHandle(), nullptr);
  EXPECT_FALSE(broken->open());
  EXPECT_FALSE(broken->executeUpdate("create table x (a)"));
  EXPECT_TRUE(log.contains("is not open."));
}

TEST_F(SQDatabaseTest, CloseThatSQLiteRefusesKeepsTheConnection) {
  // An unfinished backup reading from the connection keeps SQLite from closing it.
  ASSERT_TRUE(db->executeUpdate("insert into t (a) values (?)", 1));
  sqlite3* target = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &target), SQLITE_OK);
  sqlite3_backup* backup = sqlite3_backup_init(target, "main", db->sqliteHandle(), "main");
  ASSERT_NE(backup, nullptr);
  EXPECT_FALSE(db->close());
  EXPECT_TRUE(log.contains("error closing!: 5"));
  ASSERT_NE(db->sqliteHandle(), nullptr);
  EXPECT_EQ(rowCount(), 1);
  sqlite3_backup_finish(backup);
  sqlite3_close(target);
  EXPECT_TRUE(db->close());
  EXPECT_EQ(db->sqliteHandle(), nullptr);
  EXPECT_TRUE(db->close());
}

TEST_F(SQDatabaseTest, BindCountMustMatchThePlaceholders) {
  EXPECT_EQ(db->executeQuery("select * from t where a = ? and b = ?", 1), nullptr);
  EXPECT_TRUE(log.contains("Error: the bind count is not correct for the # of variables (executeQuery)"));

  os::Error error;
  EXPECT_FALSE(db->executeUpdateWithErrorAndBindings("insert into t (a, b) values (?, ?)", &error, 1));
  EXPECT_TRUE(log.contains("Error: the bind count (1) is not correct for the # of variables in the query (2)"));
  EXPECT_EQ(error.domain, kSQDatabaseErrorDomain);
  EXPECT_EQ(rowCount(), 0);

  // Surplus arguments are left unread.
  EXPECT_TRUE(db->executeUpdate("insert into t (a) values (?)", 1, 2, 3));
  EXPECT_EQ(rowCount(), 1);
  // The connection is free again after every refusal.
  EXPECT_TRUE(db->executeUpdate("delete from t"));
}

TEST_F(SQDatabaseTest, ParameterDictionaryBindsByNameAndSkipsUnknownKeys) {
  EXPECT_TRUE(db->executeUpdateWithParameterDictionary("insert into t (a, b) values (:a, :b)",
                                                       os::Dictionary{{"a", 5}, {"b", "five"}, {"zzz", 1}}));
  EXPECT_TRUE(log.contains("Could not find index for zzz"));
  EXPECT_EQ(db->stringForQuery("select b from t where a = ?", 5), "five");
  EXPECT_FALSE(db->executeUpdateWithParameterDictionary("insert into t (a, b) values (:a, :b)", os::Dictionary{{"a", 6}}));
  auto rs = db->executeQueryWithParameterDictionary("select b from t where a = :a", os::Dictionary{{"a", 5}});
  ASSERT_TRUE(rs);
  ASSERT_TRUE(rs->next());
  EXPECT_EQ(rs->stringForColumn("b"), "five");
}

TEST_F(SQDatabaseTest, ASelectRunAsAnUpdateFails) {
  ASSERT_TRUE(db->executeUpdate("insert into t (a) values (1)"));
  os::Error error;
  EXPECT_FALSE(db->executeUpdateWithErrorAndBindings("select * from t", &error));
  EXPECT_TRUE(log.contains("Unknown error calling sqlite3_step (100:"));
  EXPECT_TRUE(log.contains("DB Query: select * from t"));
  EXPECT_EQ(error.code, SQLITE_ROW);
  EXPECT_TRUE(db->executeUpdate("insert into t (a) values (2)"));
}

TEST_F(SQDatabaseTest, FailedPreparationFillsTheErrorSlot) {
  os::Error error;
  EXPECT_FALSE(db->executeUpdateWithErrorAndBindings("insert into nowhere values (1)", &error));
  EXPECT_EQ(error.code, SQLITE_ERROR);
  EXPECT_NE(error.localizedDescription().find("no such table"), std::string::npos);
  EXPECT_TRUE(db->hadError());
  EXPECT_EQ(db->lastError().domain, "SQDatabase");
  EXPECT_EQ(db->executeQuery("selec nothing"), nullptr);
  EXPECT_TRUE(log.contains("DB Error: 1"));
  EXPECT_FALSE(db->validateSQL("selec nothing", &error));
  EXPECT_TRUE(db->validateSQL("select 1"));
}

TEST_F(SQDatabaseTest, ClosedDatabaseRefusesWorkAndClosesItsResultSets) {
  ASSERT_TRUE(db->executeUpdate("insert into t (a) values (1), (2)"));
  auto rs = db->executeQuery("select a from t");
  ASSERT_TRUE(rs->next());
  EXPECT_TRUE(db->hasOpenResultSets());
  EXPECT_TRUE(db->close());
  EXPECT_TRUE(rs->isClosed());
  EXPECT_FALSE(rs->next());
  EXPECT_EQ(rs->intForColumnIndex(0), 0);
  EXPECT_FALSE(db->executeUpdate("insert into t (a) values (3)"));
  EXPECT_EQ(db->executeQuery("select 1"), nullptr);
  EXPECT_FALSE(db->goodConnection());
  rs.reset();
  ASSERT_TRUE(db->open());
  EXPECT_TRUE(db->goodConnection());
  EXPECT_EQ(rowCount(), 2);
}

TEST_F(SQDatabaseTest, BusyTimeOutGivesUpWithTheBusyError) {
  ASSERT_TRUE(db->executeUpdate("insert into t (a) values (1)"));
  auto other = SQDatabase::databaseWithPath(dir.file("test.db"));
  ASSERT_TRUE(other->open());
  EXPECT_EQ(other->maxBusyRetryTimeInterval(), 2.0);
  other->setMaxBusyRetryTimeInterval(0.1);
  auto reader = other->executeQuery("select a from t");
  ASSERT_TRUE(reader);

  ASSERT_TRUE(db->beginTransaction());
  EXPECT_TRUE(db->inTransaction());
  ASSERT_TRUE(db->executeUpdate("insert into t (a) values (2)"));

  EXPECT_FALSE(other->executeUpdate("insert into t (a) values (3)"));
  EXPECT_EQ(other->lastErrorCode(), SQLITE_BUSY);

  // A refused read is an error, not the end of the rows.
  EXPECT_FALSE(reader->next());
  EXPECT_EQ(reader->lastStepCode(), SQLITE_BUSY);
  ASSERT_TRUE(reader->stepError());
  EXPECT_EQ(reader->stepError()->code, SQLITE_BUSY);
  EXPECT_TRUE(log.contains("Database busy"));

  ASSERT_TRUE(db->commit());
  EXPECT_FALSE(db->inTransaction());
  EXPECT_EQ(other->intForQuery("select count(*) from t"), 2);

  auto finished = other->executeQuery("select a from t");
  while (finished->next()) {
  }
  EXPECT_EQ(finished->lastStepCode(), SQLITE_DONE);
  EXPECT_FALSE(finished->stepError());
}

TEST_F(SQDatabaseTest, FormatPlaceholdersBecomeBoundValues) {
  const std::string hostile = "x'); drop table t; --";
  ASSERT_TRUE(db->executeUpdateWithFormat("insert into t (a, b, d) values (%d, %@, %f)", 7, hostile, 2.5));
  EXPECT_EQ(db->stringForQuery("select b from t where a = 7"), hostile);
  ASSERT_TRUE(db->executeUpdateWithFormat("insert into t (a, b) values (%lld, %s)", 1LL << 40, "text"));
  EXPECT_EQ(db->longForQuery("select a from t where b = 'text'"), 1LL << 40);

  auto [sql, values] = SQDatabase::sqlFromFormat("insert into t values (%@, %d)", os::Array{os::Value(), 3});
  EXPECT_EQ(sql, "insert into t values (NULL, ?)");
  ASSERT_EQ(values.size(), 1u);
  EXPECT_EQ(values[0].intValue(), 3);

  // "%%" is a literal percent sign and takes no argument, so later placeholders keep theirs.
  auto [percent, percentValues] = SQDatabase::sqlFromFormat("select b from t where b like '10%%d' and a = %d", os::Array{4});
  EXPECT_EQ(percent, "select b from t where b like '10%d' and a = ?");
  ASSERT_EQ(percentValues.size(), 1u);
  EXPECT_EQ(percentValues[0].intValue(), 4);

  auto [mixed, mixedValues] = SQDatabase::sqlFromFormat("%hi %qu %lu %llz %c %u", os::Array{1, 2, 3, 65, 5});
  EXPECT_EQ(mixed, "? ? ? lz ? ?");
  ASSERT_EQ(mixedValues.size(), 5u);
  EXPECT_EQ(mixedValues[0].typeCode(), 's');
  EXPECT_EQ(mixedValues[1].typeCode(), 'Q');
  EXPECT_EQ(mixedValues[3].stringOr(), "A");

  auto rs = db->executeQueryWithFormat("select b from t where a = %d", 7);
  ASSERT_TRUE(rs && rs->next());
  EXPECT_EQ(rs->stringForColumnIndex(0), hostile);
}

TEST_F(SQDatabaseTest, ColumnNamesAreCaseInsensitive) {
  ASSERT_TRUE(db->executeUpdate("insert into t (a, b) values (?, ?)", 42, "x"));
  auto rs = db->executeQuery("select a as Answer, b from t");
  ASSERT_TRUE(rs->next());
  EXPECT_EQ(rs->intForColumn("ANSWER"), 42);
  EXPECT_EQ(rs->intForColumn("answer"), 42);
  EXPECT_EQ(rs->columnNameForIndex(0), "Answer");
  EXPECT_EQ(rs->intForColumn("nope"), 0);
  EXPECT_TRUE(log.contains("Warning: I could not find the column named 'nope'."));
  EXPECT_FALSE(rs->stringForColumn("nope"));
  auto dict = rs->resultDictionary();
  ASSERT_TRUE(dict);
  EXPECT_EQ((*dict)["Answer"].intValue(), 42);
  EXPECT_TRUE(rs->resultDict()->contains("answer"));
  EXPECT_FALSE(rs->next());
}

TEST_F(SQDatabaseTest, OfTwoEqualColumnNamesTheLaterAnswers) {
  ASSERT_TRUE(db->executeUpdate("insert into t (a, b) values (?, ?)", 1, "2"));
  auto rs = db->executeQuery("select a as X, b as x from t");
  ASSERT_TRUE(rs->next());
  EXPECT_EQ(rs->columnIndexForName("x"), 1);
  EXPECT_EQ(rs->columnNameToIndexMap().at("x"), 1);
  EXPECT_EQ(rs->columnIndexForName("X"), 1);
}

TEST_F(SQDatabaseTest, CachedStatementsStartAfreshAndAreFinalizedByClose) {
  db->setShouldCacheStatements(true);
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(db->executeUpdate("insert into t (a, b) values (?, ?)", i, "row"));
  // A reader dropped half-way leaves its statement to the next run of the same text, which must
  // start from the first row with its own argument.
  for (int round = 0; round < 2; ++round) {
    auto rs = db->executeQuery("select a from t where a >= ? order by a", round);
    ASSERT_TRUE(rs->next());
    EXPECT_EQ(rs->intForColumn("a"), round);
  }
  auto open = db->executeQuery("select a from t where a >= ? order by a", 0);
  ASSERT_TRUE(open->next());
  EXPECT_EQ(db->cachedStatementCount(), 2u);
  // Closing finalizes every cached statement, the open reader's included: nothing leaks.
  EXPECT_TRUE(db->close());
  EXPECT_FALSE(log.contains("Closing leaked statement"));
  EXPECT_EQ(db->cachedStatementCount(), 0u);
  EXPECT_FALSE(open->next());
  ASSERT_TRUE(db->open());
  EXPECT_EQ(db->intForQuery("select count(*) from t where a >= ?", 1), 2);

  // A run that would leave a parameter holding the last run's value is refused.
  const char* insert = "insert into t (a, b) values (:a, :b)";
  ASSERT_TRUE(db->executeUpdateWithParameterDictionary(insert, os::Dictionary{{"a", os::Value(7)}, {"b", os::Value("seven")}}));
  EXPECT_FALSE(db->executeUpdateWithParameterDictionary(insert, os::Dictionary{{"a", os::Value(8)}}));
  EXPECT_TRUE(db->executeUpdateWithParameterDictionary(insert, os::Dictionary{{"a", os::Value(9)}, {"b", os::Value("nine")}}));
  EXPECT_EQ(db->intForQuery("select count(*) from t where b = 'seven'"), 1);
  EXPECT_EQ(db->intForQuery("select count(*) from t where a = 8"), 0);
}

TEST_F(SQDatabaseTest, NullAndEmptyBlobsStayApart) {
  ASSERT_TRUE(db->executeUpdate("insert into t (a, b, c) values (1, NULL, NULL)"));
  ASSERT_TRUE(db->executeUpdate("insert into t (a, b, c) values (?, ?, ?)", 2, "", os::Data{}));
  ASSERT_TRUE(db->executeUpdate("insert into t (a, c) values (?, ?)", 3, os::Data{0, 1, 2}));
  EXPECT_EQ(db->stringForQuery("select typeof(c) from t where a = 2"), "blob");

  auto rs = db->executeQuery("select a, b, c from t order by a");
  EXPECT_FALSE(rs->resultDictionary());
  EXPECT_TRUE(log.contains("Warning: There seem to be no columns in this set."));
  ASSERT_TRUE(rs->next());
  EXPECT_FALSE(rs->stringForColumn("b"));
  EXPECT_FALSE(rs->dataForColumn("c"));
  EXPECT_TRUE(rs->columnIsNull("c"));
  EXPECT_TRUE(rs->objectForColumnName("c").isNull());
  EXPECT_EQ(rs->intForColumn("b"), 0);
  EXPECT_EQ(rs->objectForColumnIndex(0).typeCode(), 'q');
  ASSERT_TRUE(rs->next());
  EXPECT_EQ(rs->stringForColumn("b"), "");
  ASSERT_TRUE(rs->dataForColumn("c"));
  EXPECT_TRUE(rs->dataForColumn("c")->empty());
  ASSERT_TRUE(rs->next());
  EXPECT_EQ(rs->dataForColumn("c"), (os::Data{0, 1, 2}));
  EXPECT_TRUE(rs->objectForColumnName("c").isData());
  EXPECT_FALSE(rs->next());
}

TEST_F(SQDatabaseTest, ValuesBindByTheirTypeCode) {
  ASSERT_TRUE(db->executeUpdate("insert into t (a, c, d) values (?, ?, ?)", true, os::Date::fromTimeIntervalSince1970(86400.5),
                                os::Value::real('f', 1.5)));
  ASSERT_TRUE(db->executeUpdate("insert into t (a) values (?)", os::Value::unsignedNumber('I', 4000000000u)));
  EXPECT_EQ(db->stringForQuery("select typeof(c) from t where a = 1"), "real");
  EXPECT_EQ(db->dateForQuery("select c from t where a = 1")->timeIntervalSince1970(), 86400.5);
  EXPECT_EQ(db->doubleForQuery("select d from t where a = 1"), 1.5);
  EXPECT_EQ(db->longForQuery("select a from t where a > 1"), 4000000000LL);
  EXPECT_EQ(db->intForQuery("select a from t where a = 99"), 0);
  EXPECT_FALSE(db->hasOpenResultSets());
  EXPECT_TRUE(db->executeUpdate("insert into t (a) values (5)"));
  EXPECT_GT(db->lastInsertRowId(), 0);
  EXPECT_EQ(db->changes(), 1);
}

TEST_F(SQDatabaseTest, TransactionsAndSavepointsRollBack) {
  ASSERT_TRUE(db->executeUpdate("insert into t (a) values (1)"));
  ASSERT_TRUE(db->beginDeferredTransaction());
  ASSERT_TRUE(db->executeUpdate("insert into t (a) values (2)"));
  ASSERT_TRUE(db->rollback());
  EXPECT_EQ(rowCount(), 1);

  auto error = db->inSavePoint([](SQDatabase& d, bool& rollback) {
    d.executeUpdate("insert into t (a) values (3)");
    rollback = true;
  });
  EXPECT_FALSE(error);
  EXPECT_EQ(rowCount(), 1);

  error = db->inSavePoint([](SQDatabase& d, bool&) { d.executeUpdate("insert into t (a) values (4)"); });
  EXPECT_FALSE(error);
  EXPECT_EQ(rowCount(), 2);

  // Quotes in a savepoint name are escaped, not closing the name.
  os::Error out;
  ASSERT_TRUE(db->startSavePointWithName("it's", &out));
  ASSERT_TRUE(db->executeUpdate("insert into t (a) values (5)"));
  ASSERT_TRUE(db->rollbackToSavePointWithName("it's", &out));
  ASSERT_TRUE(db->releaseSavePointWithName("it's", &out));
  EXPECT_EQ(rowCount(), 2);
  EXPECT_FALSE(db->releaseSavePointWithName("never", &out));
  EXPECT_EQ(out.code, SQLITE_ERROR);
}

TEST_F(SQDatabaseTest, SchemaLookupsBindTheTableName) {
  EXPECT_TRUE(db->tableExists("T"));
  EXPECT_FALSE(db->tableExists("u"));
  EXPECT_TRUE(db->columnExists("B", "t"));
  EXPECT_TRUE(db->columnExistsColumnName("t", "a"));
  EXPECT_FALSE(db->columnExists("z", "t"));
  auto hostile = db->getTableSchema("t'); drop table t; --");
  ASSERT_TRUE(hostile);
  EXPECT_FALSE(hostile->next());
  EXPECT_TRUE(db->tableExists("t"));
  auto schema = db->getSchema();
  ASSERT_TRUE(schema->next());
  EXPECT_EQ(schema->stringForColumn("name"), "t");

  EXPECT_EQ(db->userVersion(), 0u);
  db->setUserVersion(7);
  EXPECT_EQ(db->userVersion(), 7u);
  db->setUserVersion(4000000000u);
  EXPECT_EQ(db->userVersion(), 4000000000u);
}

TEST_F(SQDatabaseTest, CachedStatementsAreReusedAndSurviveABadBind) {
  db->setShouldCacheStatements(true);
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(db->executeUpdate("insert into t (a) values (?)", i));
  EXPECT_EQ(db->cachedStatementCount(), 1u);
  EXPECT_FALSE(db->executeUpdate("insert into t (a) values (?)"));
  EXPECT_TRUE(db->executeUpdate("insert into t (a) values (?)", 9));
  // Two open readers of one SQL text need two statements.
  auto first = db->executeQuery("select a from t order by a");
  auto second = db->executeQuery("select a from t order by a");
  ASSERT_TRUE(first->next());
  ASSERT_TRUE(second->next());
  ASSERT_TRUE(second->next());
  EXPECT_EQ(first->intForColumnIndex(0), 0);
  EXPECT_EQ(second->intForColumnIndex(0), 1);
  first.reset();
  second.reset();
  EXPECT_EQ(rowCount(), 4);
  db->setShouldCacheStatements(false);
  EXPECT_EQ(db->cachedStatementCount(), 0u);
}

TEST_F(SQDatabaseTest, StatementsFunctionsAndRowBlocks) {
  EXPECT_TRUE(db->executeStatements("insert into t (a) values (1); insert into t (a) values (2);"));
  int rows = 0;
  EXPECT_TRUE(db->executeStatements("select a, b from t", [&](const os::Dictionary& row) {
    ++rows;
    EXPECT_TRUE(row["b"].isNull());
    return 0;
  }));
  EXPECT_EQ(rows, 2);
  EXPECT_FALSE(db->executeStatements("insert into nowhere values (1)"));
  EXPECT_TRUE(log.contains("Error inserting batch: no such table: nowhere"));

  ASSERT_TRUE(db->makeFunctionNamed("twice", 1, [](sqlite3_context* context, int, sqlite3_value** argv) {
    sqlite3_result_int64(context, 2 * sqlite3_value_int64(argv[0]));
  }));
  EXPECT_EQ(db->intForQuery("select twice(21)"), 42);
  EXPECT_FALSE(db->setKey("secret"));
}

TEST_F(SQDatabaseTest, ResultSetOutlivingItsCallerKeepsTheDatabase) {
  ASSERT_TRUE(db->executeUpdate("insert into t (a) values (1)"));
  auto rs = db->executeQuery("select a from t");
  std::weak_ptr<SQDatabase> weak = db;
  db.reset();
  ASSERT_FALSE(weak.expired());
  ASSERT_TRUE(rs->next());
  EXPECT_EQ(rs->intForColumnIndex(0), 1);
  rs.reset();
  EXPECT_TRUE(weak.expired());
}

TEST(SQDatabaseMemory, NoPathIsAMemoryDatabase) {
  auto db = SQDatabase::databaseWithPath();
  EXPECT_EQ(db->sqlitePath(), ":memory:");
  ASSERT_TRUE(db->open());
  EXPECT_TRUE(db->executeUpdate("create table m (x)"));
  EXPECT_EQ(SQDatabase::databaseWithPath("")->sqlitePath(), "");
}

}  // namespace
