#pragma once
// One SQLite connection to one database file: statements with bound arguments, transactions and
// savepoints, an optional prepared-statement cache, a time-limited busy handler and error reporting.
// A connection is for one thread at a time; SQDatabaseQueue and SQDatabasePool share it safely.
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "os/core/Data.h"
#include "os/core/Date.h"
#include "os/core/Error.h"
#include "os/core/Value.h"
#include "os/store/PriorityClaim.h"

struct sqlite3;
struct sqlite3_stmt;
struct sqlite3_context;
struct sqlite3_value;

class SQResultSet;
class SQStatement;

// Error domain of SQDatabase errors.
inline constexpr const char* kSQDatabaseErrorDomain = "SQDatabase";

class SQDatabase : public std::enable_shared_from_this<SQDatabase> {
  struct Private {};

 public:
  using FunctionBlock = std::function<void(sqlite3_context* context, int argc, sqlite3_value** argv)>;
  using ExecuteStatementsBlock = std::function<int(const os::Dictionary& row)>;
  using SavePointBlock = std::function<void(SQDatabase& db, bool& rollback)>;

  // No path: a memory database; an empty path: a temporary database on disk.
  static std::shared_ptr<SQDatabase> databaseWithPath(std::optional<std::string> path = std::nullopt);
  SQDatabase(Private, std::optional<std::string> path);
  ~SQDatabase();
  SQDatabase(const SQDatabase&) = delete;
  SQDatabase& operator=(const SQDatabase&) = delete;

  static std::string SQDBUserVersion();
  static std::uint32_t SQDBVersion();
  static std::string sqliteLibVersion();
  static bool isSQLiteThreadSafe();

  const std::optional<std::string>& databasePath() const { return databasePath_; }
  std::string sqlitePath() const;
  sqlite3* sqliteHandle() const { return db_; }

  // Read-write, create.
  bool open();
  bool openWithFlags(int flags);
  // False (and the connection stays open) when SQLite refuses to close it.
  bool close();
  bool goodConnection();
  bool databaseExists() const;
  bool hasOpenResultSets() const { return !openResultSets_.empty(); }
  void closeOpenResultSets();
  void clearCachedStatements();
  void resultSetDidClose(SQResultSet* resultSet);

  bool logsErrors() const { return logsErrors_; }
  void setLogsErrors(bool on) { logsErrors_ = on; }
  bool crashOnErrors() const { return crashOnErrors_; }
  void setCrashOnErrors(bool on) { crashOnErrors_ = on; }
  bool traceExecution() const { return traceExecution_; }
  void setTraceExecution(bool on) { traceExecution_ = on; }
  bool checkedOut() const { return checkedOut_; }
  void setCheckedOut(bool on) { checkedOut_ = on; }
  bool shouldCacheStatements() const { return shouldCacheStatements_; }
  void setShouldCacheStatements(bool on);
  std::size_t cachedStatementCount() const;

  double maxBusyRetryTimeInterval() const { return maxBusyRetryTimeInterval_; }
  void setMaxBusyRetryTimeInterval(double seconds);
  // Retired: use maxBusyRetryTimeInterval.
  int busyRetryTimeout();
  void setBusyRetryTimeout(int timeout);

  std::string lastErrorMessage() const;
  int lastErrorCode() const;
  bool hadError() const;
  os::Error lastError() const;
  os::Error errorWithMessage(const std::string& message) const;

  std::int64_t lastInsertRowId();
  int changes();

  // Queries: one value per `?` placeholder, in order; the statement decides how many are read.
  template <class... Args>
  std::shared_ptr<SQResultSet> executeQuery(std::string_view sql, Args&&... args) {
    // The values stay on the stack: a keyed read is otherwise dominated by building their array.
    const std::array<os::Value, sizeof...(Args)> values{os::Value(std::forward<Args>(args))...};
    return executeQueryWithValues(sql, values);
  }
  std::shared_ptr<SQResultSet> executeQueryWithArgumentsInArray(std::string_view sql, const os::Array& arguments) {
    return executeQueryWithValues(sql, arguments);
  }
  // Keys are `:name` placeholders without their colon.
  std::shared_ptr<SQResultSet> executeQueryWithParameterDictionary(std::string_view sql, const os::Dictionary& arguments);
  // printf-like specifiers become bound `?` parameters (never pasted into the SQL).
  template <class... Args>
  std::shared_ptr<SQResultSet> executeQueryWithFormat(std::string_view format, Args&&... args) {
    auto [sql, values] = sqlFromFormat(format, os::Array{os::Value(std::forward<Args>(args))...});
    return executeQueryWithArgumentsInArray(sql, values);
  }

  template <class... Args>
  bool executeUpdate(std::string_view sql, Args&&... args) {
    const std::array<os::Value, sizeof...(Args)> values{os::Value(std::forward<Args>(args))...};
    return executeUpdateWithValues(sql, values, nullptr);
  }
  bool executeUpdateWithArgumentsInArray(std::string_view sql, const os::Array& arguments, os::Error* error = nullptr) {
    return executeUpdateWithValues(sql, arguments, error);
  }
  bool executeUpdateWithParameterDictionary(std::string_view sql, const os::Dictionary& arguments, os::Error* error = nullptr);
  template <class... Args>
  bool executeUpdateWithFormat(std::string_view format, Args&&... args) {
    auto [sql, values] = sqlFromFormat(format, os::Array{os::Value(std::forward<Args>(args))...});
    return executeUpdateWithArgumentsInArray(sql, values);
  }
  template <class... Args>
  bool executeUpdateWithErrorAndBindings(std::string_view sql, os::Error* error, Args&&... args) {
    const std::array<os::Value, sizeof...(Args)> values{os::Value(std::forward<Args>(args))...};
    return executeUpdateWithValues(sql, values, error);
  }
  // Older name of executeUpdateWithErrorAndBindings.
  template <class... Args>
  bool update(std::string_view sql, os::Error* error, Args&&... args) {
    return executeUpdateWithErrorAndBindings(sql, error, std::forward<Args>(args)...);
  }

  // Several statements in one text, run by SQLite's exec; the block sees each row (column -> text or null)
  // and stops the run by answering non-zero.
  bool executeStatements(std::string_view sql);
  bool executeStatements(std::string_view sql, ExecuteStatementsBlock block);

  bool beginTransaction();
  bool beginDeferredTransaction();
  // Takes the write lock at once, so that a writer waits at the start rather than failing midway.
  bool beginImmediateTransaction();
  // A failed commit rolls the transaction back: nothing is left open for later writes to join.
  bool commit(os::Error* error = nullptr);
  bool rollback();
  bool inTransaction() const { return inTransaction_; }
  // Begins (immediate, or deferred for readers), runs the block, then commits or rolls back as the
  // block asks. A failed begin skips the block; every failure comes back as the error, and no
  // transaction stays open. A block that raises is rolled back and the exception goes on.
  std::optional<os::Error> runInTransaction(bool deferred, const SavePointBlock& block);
  bool startSavePointWithName(const std::string& name, os::Error* error = nullptr);
  bool releaseSavePointWithName(const std::string& name, os::Error* error = nullptr);
  bool rollbackToSavePointWithName(const std::string& name, os::Error* error = nullptr);
  // Runs the block inside a savepoint; answers the error of a failed start, release or rollback.
  std::optional<os::Error> inSavePoint(const SavePointBlock& block);

  // This build has no encrypted databases: all four answer false.
  bool setKey(const std::string& key);
  bool setKeyWithData(const os::Data& key);
  bool rekey(const std::string& key);
  bool rekeyWithData(const os::Data& key);

  bool makeFunctionNamed(const std::string& name, int maximumArguments, FunctionBlock block);

  // --- single values, schema and versions ---
  template <class... Args>
  std::optional<std::string> stringForQuery(std::string_view sql, Args&&... args) {
    return stringForQueryWithArgumentsInArray(sql, os::Array{os::Value(std::forward<Args>(args))...});
  }
  template <class... Args>
  int intForQuery(std::string_view sql, Args&&... args) {
    return intForQueryWithArgumentsInArray(sql, os::Array{os::Value(std::forward<Args>(args))...});
  }
  template <class... Args>
  std::int64_t longForQuery(std::string_view sql, Args&&... args) {
    return longForQueryWithArgumentsInArray(sql, os::Array{os::Value(std::forward<Args>(args))...});
  }
  template <class... Args>
  bool boolForQuery(std::string_view sql, Args&&... args) {
    return intForQueryWithArgumentsInArray(sql, os::Array{os::Value(std::forward<Args>(args))...}) != 0;
  }
  template <class... Args>
  double doubleForQuery(std::string_view sql, Args&&... args) {
    return doubleForQueryWithArgumentsInArray(sql, os::Array{os::Value(std::forward<Args>(args))...});
  }
  template <class... Args>
  std::optional<os::Data> dataForQuery(std::string_view sql, Args&&... args) {
    return dataForQueryWithArgumentsInArray(sql, os::Array{os::Value(std::forward<Args>(args))...});
  }
  template <class... Args>
  std::optional<os::Date> dateForQuery(std::string_view sql, Args&&... args) {
    return dateForQueryWithArgumentsInArray(sql, os::Array{os::Value(std::forward<Args>(args))...});
  }
  std::optional<std::string> stringForQueryWithArgumentsInArray(std::string_view sql, const os::Array& arguments);
  int intForQueryWithArgumentsInArray(std::string_view sql, const os::Array& arguments);
  std::int64_t longForQueryWithArgumentsInArray(std::string_view sql, const os::Array& arguments);
  double doubleForQueryWithArgumentsInArray(std::string_view sql, const os::Array& arguments);
  std::optional<os::Data> dataForQueryWithArgumentsInArray(std::string_view sql, const os::Array& arguments);
  std::optional<os::Date> dateForQueryWithArgumentsInArray(std::string_view sql, const os::Array& arguments);

  bool tableExists(const std::string& tableName);
  std::shared_ptr<SQResultSet> getSchema();
  std::shared_ptr<SQResultSet> getTableSchema(const std::string& tableName);
  bool columnExists(const std::string& columnName, const std::string& tableName);
  // Older form: table first, then column.
  bool columnExistsColumnName(const std::string& tableName, const std::string& columnName);
  std::uint32_t userVersion();
  void setUserVersion(std::uint32_t version);
  bool validateSQL(std::string_view sql, os::Error* error = nullptr);
  // SQLite's quick check of the whole file: nothing when it is sound; else the error (not a database,
  // corrupt) that tells the owner to set the file aside. Opening alone reads nothing, so a damaged
  // file only shows itself here or on a later read.
  std::optional<os::Error> quickCheck();
  // True once SQLite said, on any statement of this connection, that the file is damaged (corrupt,
  // or no database at all): its owner should set the file aside rather than keep failing on it.
  bool damageDetected() const { return damageDetected_; }

  // The SQL and bound values of a format with printf-like specifiers (exposed for tests and callers
  // that build statements ahead of time).
  static std::pair<std::string, os::Array> sqlFromFormat(std::string_view format, const os::Array& arguments);

 private:
  friend class SQResultSet;
  std::shared_ptr<SQResultSet> executeQueryWithValues(std::string_view sql, std::span<const os::Value> values);
  bool executeUpdateWithValues(std::string_view sql, std::span<const os::Value> values, os::Error* error);
  std::shared_ptr<SQResultSet> openResultSet(std::string_view sql, std::shared_ptr<SQStatement> statement);
  // Binds `values` by position, or `dictionary` by name when it is given.
  std::shared_ptr<SQStatement> prepareAndBind(std::string_view sql, std::span<const os::Value> values,
                                              const os::Dictionary* dictionary, bool forUpdate, os::Error* error);
  bool bindObject(const os::Value& value, int column, sqlite3_stmt* statement);
  std::shared_ptr<SQStatement> cachedStatementForQuery(std::string_view sql);
  void removeCachedStatement(const std::shared_ptr<SQStatement>& statement);
  void installBusyHandler();
  static int busyHandler(void* context, int count);
  bool beginWriting(const char* sql);
  // Remembers a result code that tells of a damaged file (SQLITE_CORRUPT 11, SQLITE_NOTADB 26).
  void noteResult(int rc) {
    if ((rc & 0xff) == 11 || (rc & 0xff) == 26) damageDetected_ = true;
  }
  template <class T, class Read>
  T singleValue(std::string_view sql, const os::Array& arguments, T fallback, Read read);

  sqlite3* db_ = nullptr;
  std::optional<std::string> databasePath_;
  bool logsErrors_ = true;
  bool crashOnErrors_ = false;
  bool traceExecution_ = false;
  bool checkedOut_ = false;
  bool shouldCacheStatements_ = false;
  bool isExecutingStatement_ = false;
  bool inTransaction_ = false;
  bool damageDetected_ = false;
  double maxBusyRetryTimeInterval_ = 2.0;
  double startBusyRetryTime_ = 0;
  // A writer of this file, in any process, that has waited long claims the next turn; only a file
  // has one.
  std::unique_ptr<os::PriorityClaim> writers_;
  bool waitingToWrite_ = false;
  // Looked up by the caller's text as it is, without a copy.
  using StatementCache = std::map<std::string, std::vector<std::shared_ptr<SQStatement>>, std::less<>>;
  std::optional<StatementCache> cachedStatements_;
  // The entry the last lookup found: a loop runs one text over and over.
  StatementCache::value_type* lastCached_ = nullptr;
  // Few at a time, most recent last: a vector costs no allocation per query.
  std::vector<SQResultSet*> openResultSets_;
  std::optional<std::vector<std::shared_ptr<FunctionBlock>>> openFunctions_;
};
