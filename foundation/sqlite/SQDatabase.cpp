#include "foundation/sqlite/SQDatabase.h"

#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <cassert>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "foundation/sqlite/SQResultSet.h"
#include "foundation/sqlite/SQStatement.h"
#include "os/core/Log.h"
#include "os/crypto/Random.h"

namespace {

// Names the savepoints of inSavePoint across every connection of the process.
std::atomic<std::int32_t> gSavePointCounter{0};

std::string pointerText(const void* p) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "<SQDatabase: %p>", p);
  return buf;
}

// Short waits all along, each drawn at random up to a bound that grows a little with the count. A
// writer that commits starts its next transaction microseconds later, so the lock is free only for
// moments: polling every few milliseconds catches them, and the jitter keeps waiters from waking
// in step with each other.
int pollDelay(int count) {
  static constexpr int kBounds[] = {1, 2, 2, 3, 3, 4, 4, 5};
  constexpr int kSteps = static_cast<int>(sizeof kBounds / sizeof kBounds[0]);
  int bound = kBounds[count < kSteps ? count : kSteps - 1];
  return 1 + static_cast<int>(os::randomUniform(static_cast<std::uint32_t>(bound)));
}

// A writer kept waiting this long claims the next turn: newcomers hold back until it has begun.
constexpr double kClaimAfterSeconds = 0.02;

// The busy wait runs on real time: it waits for another connection, which the virtual clock of
// tests does not move.
double steadySeconds() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

std::string escapeSavePointName(const std::string& name) {
  std::string out;
  for (char c : name) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out;
}

}  // namespace

std::shared_ptr<SQDatabase> SQDatabase::databaseWithPath(std::optional<std::string> path) {
  return std::make_shared<SQDatabase>(Private{}, std::move(path));
}

SQDatabase::SQDatabase(Private, std::optional<std::string> path) : databasePath_(std::move(path)) {
  if (sqlite3_threadsafe() == 0) {
    std::fprintf(stderr, "SQDatabase:31: failed assertion 'sqlite3_threadsafe()'\n");
    std::abort();
  }
}

SQDatabase::~SQDatabase() {
  if (!close() && db_) {
    // Let SQLite release the connection once whatever still holds it is finished.
    sqlite3_close_v2(db_);
    db_ = nullptr;
  }
}

std::string SQDatabase::SQDBUserVersion() { return "2.3"; }

std::uint32_t SQDatabase::SQDBVersion() {
  static const std::uint32_t version = [] {
    std::string v = SQDBUserVersion();
    if (std::count(v.begin(), v.end(), '.') < 2) v += ".0";
    v.erase(std::remove(v.begin(), v.end(), '.'), v.end());
    return static_cast<std::uint32_t>(std::strtoul(v.c_str(), nullptr, 16));
  }();
  return version;
}

std::string SQDatabase::sqliteLibVersion() { return sqlite3_libversion(); }

bool SQDatabase::isSQLiteThreadSafe() { return sqlite3_threadsafe() != 0; }

std::string SQDatabase::sqlitePath() const {
  if (!databasePath_) return ":memory:";
  return *databasePath_;
}

bool SQDatabase::open() { return openWithFlags(SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE); }

bool SQDatabase::openWithFlags(int flags) {
  if (db_) return true;
  sqlite3* handle = nullptr;
  int rc = sqlite3_open_v2(sqlitePath().c_str(), &handle, flags, nullptr);
  if (rc != SQLITE_OK) {
    os::logf("error opening!: %d", rc);
    // SQLite hands back a handle even when opening fails; it must still be released.
    if (handle) sqlite3_close(handle);
    return false;
  }
  db_ = handle;
  if (maxBusyRetryTimeInterval_ > 0) installBusyHandler();
  if (databasePath_ && !databasePath_->empty() && *databasePath_ != ":memory:" && databasePath_->rfind("file:", 0) != 0)
    writers_ = std::make_unique<os::PriorityClaim>(*databasePath_ + "-writers");
  return true;
}

bool SQDatabase::close() {
  clearCachedStatements();
  closeOpenResultSets();
  if (!db_) return true;
  int rc = sqlite3_close(db_);
  if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) {
    bool leaked = false;
    while (sqlite3_stmt* statement = sqlite3_next_stmt(db_, nullptr)) {
      os::log("Closing leaked statement");
      sqlite3_finalize(statement);
      leaked = true;
    }
    if (leaked) rc = sqlite3_close(db_);
  }
  if (rc != SQLITE_OK) {
    // The handle is still SQLite's open connection: keep it, so that the caller can try again.
    os::logf("error closing!: %d", rc);
    return false;
  }
  db_ = nullptr;
  inTransaction_ = false;
  return true;
}

bool SQDatabase::goodConnection() {
  if (!db_) return false;
  auto rs = executeQuery("select name from sqlite_master where type='table'");
  if (!rs) return false;
  rs->close();
  return true;
}

bool SQDatabase::databaseExists() const {
  if (!db_) {
    os::log("The SQDatabase " + pointerText(this) + " is not open.");
    return false;
  }
  return true;
}

void SQDatabase::closeOpenResultSets() {
  auto copy = std::move(openResultSets_);
  openResultSets_.clear();
  for (SQResultSet* rs : copy) {
    // Detach first so the result set does not call back into a list being walked.
    auto keepAlive = rs->parentDB();
    rs->setParentDB(nullptr);
    rs->close();
  }
}

void SQDatabase::clearCachedStatements() {
  if (!cachedStatements_) return;
  for (auto& [sql, statements] : *cachedStatements_)
    for (auto& statement : statements) statement->close();
  cachedStatements_->clear();
  lastCached_ = nullptr;
}

void SQDatabase::resultSetDidClose(SQResultSet* resultSet) {
  // Result sets mostly close in the reverse order they opened.
  auto it = std::find(openResultSets_.rbegin(), openResultSets_.rend(), resultSet);
  if (it != openResultSets_.rend()) openResultSets_.erase(std::next(it).base());
}

void SQDatabase::setShouldCacheStatements(bool on) {
  shouldCacheStatements_ = on;
  if (on && !cachedStatements_) cachedStatements_.emplace();
  if (!on && cachedStatements_) {
    clearCachedStatements();
    cachedStatements_.reset();
  }
}

std::size_t SQDatabase::cachedStatementCount() const {
  std::size_t n = 0;
  if (cachedStatements_)
    for (auto& [sql, statements] : *cachedStatements_) n += statements.size();
  return n;
}

std::shared_ptr<SQStatement> SQDatabase::cachedStatementForQuery(std::string_view sql) {
  if (!cachedStatements_) return nullptr;
  StatementCache::value_type* entry = lastCached_;
  if (!entry || entry->first != sql) {
    auto it = cachedStatements_->find(sql);
    if (it == cachedStatements_->end()) return nullptr;
    entry = lastCached_ = &*it;
  }
  for (auto& statement : entry->second)
    if (!statement->inUse() && statement->statement()) return statement;
  return nullptr;
}

void SQDatabase::removeCachedStatement(const std::shared_ptr<SQStatement>& statement) {
  if (!cachedStatements_) return;
  for (auto& [sql, statements] : *cachedStatements_)
    statements.erase(std::remove(statements.begin(), statements.end(), statement), statements.end());
}

// --- busy handler ---

int SQDatabase::busyHandler(void* context, int count) {
  auto* self = static_cast<SQDatabase*>(context);
  if (count == 0) {
    // A begin counts its time-out from its first try, through its retries.
    if (!self->waitingToWrite_) self->startBusyRetryTime_ = steadySeconds();
    return 1;
  }
  double waited = steadySeconds() - self->startBusyRetryTime_;
  double left = self->maxBusyRetryTimeInterval_ - waited;
  if (left <= 0) return 0;
  if (self->waitingToWrite_ && self->writers_ && waited >= kClaimAfterSeconds) self->writers_->claim();
  int delay = pollDelay(count);
  sqlite3_sleep(std::max(1, std::min(delay, static_cast<int>(left * 1000))));
  return 1;
}

void SQDatabase::installBusyHandler() {
  if (!db_) return;
  if (maxBusyRetryTimeInterval_ > 0)
    sqlite3_busy_handler(db_, &SQDatabase::busyHandler, this);
  else
    sqlite3_busy_handler(db_, nullptr, nullptr);
}

void SQDatabase::setMaxBusyRetryTimeInterval(double seconds) {
  maxBusyRetryTimeInterval_ = seconds;
  installBusyHandler();
}

int SQDatabase::busyRetryTimeout() {
  os::logf("%s:%d", "-[SQDatabase busyRetryTimeout]", 267);
  os::log("SQDB: busyRetryTimeout no longer works, please use maxBusyRetryTimeInterval");
  return -1;
}

void SQDatabase::setBusyRetryTimeout(int) {
  os::logf("%s:%d", "-[SQDatabase setBusyRetryTimeout:]", 273);
  os::log("SQDB: setBusyRetryTimeout does nothing, please use setMaxBusyRetryTimeInterval:");
}

// --- errors ---

std::string SQDatabase::lastErrorMessage() const { return db_ ? sqlite3_errmsg(db_) : "out of memory"; }

int SQDatabase::lastErrorCode() const { return db_ ? sqlite3_errcode(db_) : SQLITE_MISUSE; }

bool SQDatabase::hadError() const {
  int code = lastErrorCode();
  return code > SQLITE_OK && code < SQLITE_ROW;
}

os::Error SQDatabase::lastError() const { return errorWithMessage(lastErrorMessage()); }

os::Error SQDatabase::errorWithMessage(const std::string& message) const {
  return os::Error::withDescription(kSQDatabaseErrorDomain, lastErrorCode(), message);
}

std::int64_t SQDatabase::lastInsertRowId() {
  if (isExecutingStatement_) {
    os::log("The SQDatabase " + pointerText(this) + " is currently in use.");
    return 0;
  }
  return db_ ? sqlite3_last_insert_rowid(db_) : 0;
}

int SQDatabase::changes() {
  if (isExecutingStatement_) {
    os::log("The SQDatabase " + pointerText(this) + " is currently in use.");
    return 0;
  }
  return db_ ? sqlite3_changes(db_) : 0;
}

// --- binding ---

bool SQDatabase::bindObject(const os::Value& value, int column, sqlite3_stmt* statement) {
  switch (value.type()) {
    case os::Value::Type::Null:
      return sqlite3_bind_null(statement, column) == SQLITE_OK;
    case os::Value::Type::Data: {
      const os::Data& bytes = *value.data();
      // A null pointer would bind NULL: an empty value must stay an empty blob.
      if (bytes.empty()) return sqlite3_bind_zeroblob(statement, column, 0) == SQLITE_OK;
      return sqlite3_bind_blob64(statement, column, bytes.data(), bytes.size(), SQLITE_TRANSIENT) == SQLITE_OK;
    }
    case os::Value::Type::Date:
      return sqlite3_bind_double(statement, column, value.date()->timeIntervalSince1970()) == SQLITE_OK;
    case os::Value::Type::Boolean:
      return sqlite3_bind_int(statement, column, value.boolValue() ? 1 : 0) == SQLITE_OK;
    case os::Value::Type::Number:
      switch (value.typeCode()) {
        case 'f':
        case 'd':
          return sqlite3_bind_double(statement, column, value.doubleValue()) == SQLITE_OK;
        case 'c':
        case 'C':
        case 's':
        case 'S':
        case 'i':
        case 'B':
          return sqlite3_bind_int(statement, column, static_cast<int>(value.intValue())) == SQLITE_OK;
        default:
          if (value.isUnsigned())
            return sqlite3_bind_int64(statement, column, static_cast<sqlite3_int64>(value.unsignedValue())) == SQLITE_OK;
          return sqlite3_bind_int64(statement, column, value.intValue()) == SQLITE_OK;
      }
    case os::Value::Type::String: {
      const std::string& s = *value.string();
      return sqlite3_bind_text64(statement, column, s.data(), s.size(), SQLITE_TRANSIENT, SQLITE_UTF8) == SQLITE_OK;
    }
    default: {
      std::string s = value.description();
      return sqlite3_bind_text64(statement, column, s.data(), s.size(), SQLITE_TRANSIENT, SQLITE_UTF8) == SQLITE_OK;
    }
  }
}

// --- statements ---

std::shared_ptr<SQStatement> SQDatabase::prepareAndBind(std::string_view sql, std::span<const os::Value> values,
                                                        const os::Dictionary* dictionary, bool forUpdate, os::Error* error) {
  if (!databaseExists()) {
    if (error) *error = os::Error::withDescription(kSQDatabaseErrorDomain, SQLITE_MISUSE, "The database is not open.");
    return nullptr;
  }
  if (isExecutingStatement_) {
    os::log("The SQDatabase " + pointerText(this) + " is currently in use.");
    return nullptr;
  }
  isExecutingStatement_ = true;
  if (traceExecution_) os::log(pointerText(this) + (forUpdate ? " executeUpdate: " : " executeQuery: ") + std::string(sql));

  std::shared_ptr<SQStatement> wrapper;
  sqlite3_stmt* statement = nullptr;
  if (shouldCacheStatements_) {
    wrapper = cachedStatementForQuery(sql);
    if (wrapper) {
      // Its last run's values are not cleared one by one: every parameter is bound anew below,
      // and a run that would leave one unbound is refused and its statement dropped, so no value
      // of an earlier run reaches a later one. Clearing would also give up the buffers SQLite
      // keeps for the next text of the same size.
      statement = wrapper->statement();
      // Every run ends with a reset; one that somehow did not is reset here.
      if (!wrapper->isReset()) wrapper->reset();
    }
  }
  if (!statement) {
    int rc = sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &statement, nullptr);
    if (rc != SQLITE_OK) {
      noteResult(rc);
      if (logsErrors_) {
        os::logf("DB Error: %d \"%s\"", lastErrorCode(), lastErrorMessage().c_str());
        os::log("DB Query: " + std::string(sql));
        os::log("DB Path: " + sqlitePath());
      }
      if (error) *error = errorWithMessage(lastErrorMessage());
      sqlite3_finalize(statement);
      isExecutingStatement_ = false;
      return nullptr;
    }
  }

  int parameterCount = sqlite3_bind_parameter_count(statement);
  int bound = 0;
  bool bindFailed = false;
  if (dictionary) {
    for (const auto& [key, value] : *dictionary) {
      std::string name = ":" + key;
      if (traceExecution_) os::log(name + " = " + value.description());
      int index = sqlite3_bind_parameter_index(statement, name.c_str());
      if (index > 0) {
        if (!bindObject(value, index, statement)) {
          bindFailed = true;
          break;
        }
        ++bound;
      } else {
        os::log("Could not find index for " + key);
      }
    }
  } else {
    for (int position = 1; position <= parameterCount; ++position) {
      if (static_cast<std::size_t>(position - 1) >= values.size()) break;
      const os::Value& value = values[position - 1];
      if (traceExecution_) {
        if (value.isData())
          os::logf("data: %ld bytes", static_cast<long>(value.data()->size()));
        else
          os::log("obj: " + value.description());
      }
      if (!bindObject(value, position, statement)) {
        bindFailed = true;
        break;
      }
      ++bound;
    }
  }

  if (bindFailed) {
    // A value SQLite refused (over its length limit, say) would otherwise run as NULL.
    int code = sqlite3_errcode(db_);
    std::string message = lastErrorMessage();
    if (logsErrors_) {
      os::logf("Error binding argument %d (%d: %s)", bound + 1, code, message.c_str());
      os::log("DB Query: " + std::string(sql));
    }
    if (error) *error = os::Error::withDescription(kSQDatabaseErrorDomain, code, message);
  } else if (bound != parameterCount) {
    if (forUpdate)
      os::logf("Error: the bind count (%d) is not correct for the # of variables in the query (%d) (%s) (executeUpdate)", bound,
               parameterCount, std::string(sql).c_str());
    else
      os::log("Error: the bind count is not correct for the # of variables (executeQuery)");
    if (error)
      *error = os::Error::withDescription(kSQDatabaseErrorDomain, SQLITE_RANGE,
                                          "bind count " + std::to_string(bound) + " does not match " +
                                              std::to_string(parameterCount) + " placeholders");
  }
  if (bindFailed || bound != parameterCount) {
    if (wrapper) {
      // A finalized statement must not stay where the next lookup would find it.
      removeCachedStatement(wrapper);
      wrapper->close();
    } else {
      sqlite3_finalize(statement);
    }
    isExecutingStatement_ = false;
    return nullptr;
  }

  if (!wrapper) {
    wrapper = std::make_shared<SQStatement>();
    wrapper->setStatement(statement);
    wrapper->setQuery(std::string(sql));
    if (shouldCacheStatements_ && cachedStatements_) {
      auto it = cachedStatements_->find(sql);
      if (it == cachedStatements_->end()) it = cachedStatements_->emplace(std::string(sql), std::vector<std::shared_ptr<SQStatement>>{}).first;
      it->second.push_back(wrapper);
      lastCached_ = &*it;
    }
  }
  wrapper->willStep();
  return wrapper;
}

std::shared_ptr<SQResultSet> SQDatabase::openResultSet(std::string_view sql, std::shared_ptr<SQStatement> statement) {
  statement->setUseCount(statement->useCount() + 1);
  auto rs = SQResultSet::resultSetWithStatement(std::move(statement), shared_from_this());
  rs->setQuery(std::string(sql));
  openResultSets_.push_back(rs.get());
  isExecutingStatement_ = false;
  return rs;
}

std::shared_ptr<SQResultSet> SQDatabase::executeQueryWithValues(std::string_view sql, std::span<const os::Value> values) {
  auto statement = prepareAndBind(sql, values, nullptr, false, nullptr);
  if (!statement) return nullptr;
  return openResultSet(sql, std::move(statement));
}

std::shared_ptr<SQResultSet> SQDatabase::executeQueryWithParameterDictionary(std::string_view sql, const os::Dictionary& arguments) {
  auto statement = prepareAndBind(sql, {}, &arguments, false, nullptr);
  if (!statement) return nullptr;
  return openResultSet(sql, std::move(statement));
}

namespace {

bool runUpdate(SQDatabase& db, const std::shared_ptr<SQStatement>& wrapper, bool cached, std::string_view sql, os::Error* error) {
  sqlite3_stmt* statement = wrapper->statement();
  int rc = sqlite3_step(statement);
  if (rc != SQLITE_DONE) {
    if (db.logsErrors()) {
      const char* message = sqlite3_errmsg(db.sqliteHandle());
      if (rc == SQLITE_ERROR)
        os::logf("Error calling sqlite3_step (%d: %s) SQLITE_ERROR", rc, message);
      else if (rc == SQLITE_MISUSE)
        os::logf("Error calling sqlite3_step (%d: %s) SQLITE_MISUSE", rc, message);
      else
        os::logf("Unknown error calling sqlite3_step (%d: %s) eu", rc, message);
      os::log("DB Query: " + std::string(sql));
    }
    if (error) {
      if (rc == SQLITE_ROW)
        *error = os::Error::withDescription(kSQDatabaseErrorDomain, rc, "the statement returned rows");
      else
        *error = os::Error::withDescription(kSQDatabaseErrorDomain, rc, sqlite3_errmsg(db.sqliteHandle()));
    }
  }
  int closeRc;
  if (cached) {
    wrapper->setUseCount(wrapper->useCount() + 1);
    closeRc = wrapper->reset();
  } else {
    closeRc = wrapper->close();
  }
  // The rows of a SELECT are no error of the reset.
  if (closeRc != SQLITE_OK && rc == SQLITE_DONE && db.logsErrors()) {
    os::logf("Unknown error finalizing or resetting statement (%d: %s)", closeRc, sqlite3_errmsg(db.sqliteHandle()));
    os::log("DB Query: " + std::string(sql));
  }
  return rc == SQLITE_DONE || rc == SQLITE_OK;
}

}  // namespace

bool SQDatabase::executeUpdateWithValues(std::string_view sql, std::span<const os::Value> values, os::Error* error) {
  auto statement = prepareAndBind(sql, values, nullptr, true, error);
  if (!statement) return false;
  bool ok = runUpdate(*this, statement, shouldCacheStatements_, sql, error);
  if (!ok) noteResult(lastErrorCode());
  isExecutingStatement_ = false;
  return ok;
}

bool SQDatabase::executeUpdateWithParameterDictionary(std::string_view sql, const os::Dictionary& arguments, os::Error* error) {
  auto statement = prepareAndBind(sql, {}, &arguments, true, error);
  if (!statement) return false;
  bool ok = runUpdate(*this, statement, shouldCacheStatements_, sql, error);
  if (!ok) noteResult(lastErrorCode());
  isExecutingStatement_ = false;
  return ok;
}

namespace {
int execCallback(void* context, int columns, char** values, char** names) {
  auto* block = static_cast<SQDatabase::ExecuteStatementsBlock*>(context);
  os::Dictionary row;
  for (int i = 0; i < columns; ++i) row.set(names[i] ? names[i] : "", values[i] ? os::Value(values[i]) : os::Value());
  return (*block)(row);
}
}  // namespace

bool SQDatabase::executeStatements(std::string_view sql) { return executeStatements(sql, nullptr); }

bool SQDatabase::executeStatements(std::string_view sql, ExecuteStatementsBlock block) {
  if (!databaseExists()) return false;
  std::string text(sql);
  char* message = nullptr;
  int rc = sqlite3_exec(db_, text.c_str(), block ? execCallback : nullptr, block ? &block : nullptr, &message);
  if (message && logsErrors_) os::logf("Error inserting batch: %s", message);
  sqlite3_free(message);
  return rc == SQLITE_OK;
}

// --- transactions ---

bool SQDatabase::beginTransaction() { return beginWriting("begin exclusive transaction"); }

// Nothing in SQLite queues writers: one that has just committed takes the lock again before a
// sleeping waiter wakes, and under load a waiter can starve for its whole busy time-out. So a
// writer kept waiting claims the next turn and others hold back while the claim stands, and a begin
// refused early (the lock freed and taken again between polls) is tried again while the time-out
// lasts.
bool SQDatabase::beginWriting(const char* sql) {
  double started = steadySeconds();
  if (writers_ && maxBusyRetryTimeInterval_ > 0) {
    for (int polls = 1; writers_->claimedByOther() && steadySeconds() - started < maxBusyRetryTimeInterval_; ++polls)
      sqlite3_sleep(pollDelay(polls));
  }
  waitingToWrite_ = true;
  startBusyRetryTime_ = started;
  bool ok = executeUpdate(sql);
  for (int attempt = 1; !ok && db_ && (sqlite3_errcode(db_) & 0xff) == SQLITE_BUSY && maxBusyRetryTimeInterval_ > 0 &&
                        steadySeconds() - started < maxBusyRetryTimeInterval_;
       ++attempt) {
    sqlite3_sleep(pollDelay(attempt));
    ok = executeUpdate(sql);
  }
  waitingToWrite_ = false;
  if (writers_) writers_->release();
  if (ok) inTransaction_ = true;
  return ok;
}

bool SQDatabase::beginDeferredTransaction() {
  bool ok = executeUpdate("begin deferred transaction");
  if (ok) inTransaction_ = true;
  return ok;
}

bool SQDatabase::beginImmediateTransaction() { return beginWriting("begin immediate transaction"); }

bool SQDatabase::commit(os::Error* error) {
  bool ok = executeUpdate("commit transaction");
  if (!ok && error) *error = lastError();
  if (!ok && db_ && !sqlite3_get_autocommit(db_)) {
    // A commit that failed (busy, disk full) leaves the transaction open, and whatever the caller
    // wrote next would silently join it and vanish at close: undo it now.
    sqlite3_exec(db_, "rollback transaction", nullptr, nullptr, nullptr);
  }
  inTransaction_ = db_ && !sqlite3_get_autocommit(db_);
  return ok;
}

bool SQDatabase::rollback() {
  bool ok = executeUpdate("rollback transaction");
  inTransaction_ = db_ && !sqlite3_get_autocommit(db_);
  return ok;
}

std::optional<os::Error> SQDatabase::runInTransaction(bool deferred, const SavePointBlock& block) {
  if (!(deferred ? beginDeferredTransaction() : beginImmediateTransaction())) {
    // Running the block now would write in autocommit, where its rollback could undo nothing.
    return lastError();
  }
  bool rollbackRequested = false;
  try {
    block(*this, rollbackRequested);
  } catch (...) {
    // Half-done work of a block that raised must not be committed by the next piece of work.
    rollback();
    throw;
  }
  if (rollbackRequested) {
    if (!rollback()) return lastError();
    return std::nullopt;
  }
  os::Error error;
  if (!commit(&error)) return error;
  return std::nullopt;
}

bool SQDatabase::startSavePointWithName(const std::string& name, os::Error* error) {
  bool ok = executeUpdate("savepoint '" + escapeSavePointName(name) + "';");
  if (!ok && error) *error = lastError();
  return ok;
}

bool SQDatabase::releaseSavePointWithName(const std::string& name, os::Error* error) {
  bool ok = executeUpdate("release savepoint '" + escapeSavePointName(name) + "';");
  if (!ok && error) *error = lastError();
  return ok;
}

bool SQDatabase::rollbackToSavePointWithName(const std::string& name, os::Error* error) {
  bool ok = executeUpdate("rollback transaction to savepoint '" + escapeSavePointName(name) + "';");
  if (!ok && error) *error = lastError();
  return ok;
}

std::optional<os::Error> SQDatabase::inSavePoint(const SavePointBlock& block) {
  std::string name = "dbSavePoint" + std::to_string(gSavePointCounter++);
  os::Error error;
  if (!startSavePointWithName(name, &error)) return error;
  bool rollback = false;
  block(*this, rollback);
  std::optional<os::Error> result;
  if (rollback && !rollbackToSavePointWithName(name, &error)) result = error;
  if (!releaseSavePointWithName(name, &error)) result = error;
  return result;
}

// --- keys and functions ---

bool SQDatabase::setKeyWithData(const os::Data&) { return false; }
bool SQDatabase::rekeyWithData(const os::Data&) { return false; }
bool SQDatabase::setKey(const std::string& key) { return setKeyWithData(os::dataFromString(key)); }
bool SQDatabase::rekey(const std::string& key) { return rekeyWithData(os::dataFromString(key)); }

namespace {
void functionTrampoline(sqlite3_context* context, int argc, sqlite3_value** argv) {
  auto* block = static_cast<SQDatabase::FunctionBlock*>(sqlite3_user_data(context));
  (*block)(context, argc, argv);
}
}  // namespace

bool SQDatabase::makeFunctionNamed(const std::string& name, int maximumArguments, FunctionBlock block) {
  if (!databaseExists()) return false;
  if (!openFunctions_) openFunctions_.emplace();
  auto kept = std::make_shared<FunctionBlock>(std::move(block));
  openFunctions_->push_back(kept);
  return sqlite3_create_function(db_, name.c_str(), maximumArguments, SQLITE_UTF8, kept.get(), functionTrampoline, nullptr,
                                 nullptr) == SQLITE_OK;
}

// --- format strings ---

std::pair<std::string, os::Array> SQDatabase::sqlFromFormat(std::string_view format, const os::Array& arguments) {
  std::string sql;
  os::Array values;
  std::size_t nextArgument = 0;
  auto take = [&]() -> os::Value { return nextArgument < arguments.size() ? arguments[nextArgument++] : os::Value(); };
  char last = '\0';
  const std::size_t n = format.size();
  for (std::size_t i = 0; i < n; ++i) {
    char c = format[i];
    std::string add(1, c);
    if (last == '%') {
      auto peek = [&](std::size_t k) { return i + k < n ? format[i + k] : '\0'; };
      switch (c) {
        case '@': {
          os::Value v = take();
          if (v.isNull()) {
            add = "NULL";
          } else {
            values.push_back(v);
            add = "?";
          }
          break;
        }
        case 'c':
          values.push_back(os::Value(std::string(1, static_cast<char>(take().intValue()))));
          add = "?";
          break;
        case 's':
          values.push_back(os::Value(take().stringOr()));
          add = "?";
          break;
        case 'd':
        case 'D':
        case 'i':
          values.push_back(os::Value::number('i', static_cast<std::int32_t>(take().intValue())));
          add = "?";
          break;
        case 'u':
        case 'U':
          values.push_back(os::Value::unsignedNumber('I', static_cast<std::uint32_t>(take().unsignedValue())));
          add = "?";
          break;
        case 'f':
          values.push_back(os::Value::real('d', take().doubleValue()));
          add = "?";
          break;
        case 'g':
          values.push_back(os::Value::real('f', static_cast<float>(take().doubleValue())));
          add = "?";
          break;
        case 'h':
        case 'q':
          if (peek(1) == 'i' || peek(1) == 'u') {
            bool isUnsigned = peek(1) == 'u';
            os::Value v = take();
            if (c == 'h')
              values.push_back(isUnsigned ? os::Value::unsignedNumber('S', static_cast<std::uint16_t>(v.unsignedValue()))
                                          : os::Value::number('s', static_cast<std::int16_t>(v.intValue())));
            else
              values.push_back(isUnsigned ? os::Value::unsignedNumber('Q', v.unsignedValue()) : os::Value::number('q', v.intValue()));
            add = "?";
            ++i;
          }
          break;
        case 'l':
          if (peek(1) == 'd' || peek(1) == 'u') {
            os::Value v = take();
            values.push_back(peek(1) == 'u' ? os::Value::unsignedNumber('L', v.unsignedValue()) : os::Value::number('l', v.intValue()));
            add = "?";
            ++i;
          } else if (peek(1) == 'l') {
            if (peek(2) == 'd' || peek(2) == 'u') {
              os::Value v = take();
              values.push_back(peek(2) == 'u' ? os::Value::unsignedNumber('Q', v.unsignedValue()) : os::Value::number('q', v.intValue()));
              add = "?";
            }
            i += 1 + ((peek(2) == 'd' || peek(2) == 'u') ? 1 : 0);
          }
          break;
        default:
          break;
      }
    } else if (c == '%') {
      add.clear();
    }
    sql += add;
    // "%%" is one literal percent sign: the character after it is plain text, not a specifier
    // (reading it as one would shift every later argument onto the wrong placeholder).
    last = (last == '%' && c == '%') ? '\0' : format[i];
  }
  return {sql, values};
}
