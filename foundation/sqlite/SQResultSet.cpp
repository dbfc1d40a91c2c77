#include "foundation/sqlite/SQResultSet.h"

#include <sqlite3.h>

#include <cctype>

#include "foundation/sqlite/SQDatabase.h"
#include "foundation/sqlite/SQStatement.h"
#include "os/core/Log.h"

namespace {
std::string lowercased(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// The process runs in the C locale, where tolower folds ASCII letters alone.
char folded(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool namesEqual(const char* name, const std::string& wanted) {
  if (!name) return wanted.empty();
  std::size_t i = 0;
  for (; name[i] && i < wanted.size(); ++i)
    if (folded(name[i]) != folded(wanted[i])) return false;
  return name[i] == 0 && i == wanted.size();
}
}  // namespace

std::shared_ptr<SQResultSet> SQResultSet::resultSetWithStatement(std::shared_ptr<SQStatement> statement,
                                                                 std::shared_ptr<SQDatabase> parentDatabase) {
  return std::make_shared<SQResultSet>(Private{}, std::move(statement), std::move(parentDatabase));
}

SQResultSet::SQResultSet(Private, std::shared_ptr<SQStatement> statement, std::shared_ptr<SQDatabase> parentDatabase)
    : parentDB_(std::move(parentDatabase)), statement_(std::move(statement)) {
  if (statement_) statement_->setInUse(true);
}

SQResultSet::~SQResultSet() { close(); }

void SQResultSet::close() {
  if (statement_) {
    statement_->reset();
    statement_.reset();
  }
  if (parentDB_) {
    auto parent = std::move(parentDB_);
    parentDB_.reset();
    parent->resultSetDidClose(this);
  }
}

bool SQResultSet::next() {
  if (!statement_ || !statement_->statement()) return false;
  sqlite3_stmt* statement = statement_->statement();
  int rc = sqlite3_step(statement);
  lastStepCode_ = rc;
  if (rc == SQLITE_ROW) return true;
  sqlite3* handle = sqlite3_db_handle(statement);
  if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) {
    os::logf("%s:%d Database busy (%s)", "-[SQResultSet next]", 154,
             parentDB_ && parentDB_->databasePath() ? parentDB_->databasePath()->c_str() : "(null)");
    os::log("Database busy");
  } else if (rc == SQLITE_ERROR || rc == SQLITE_MISUSE) {
    os::logf("Error calling sqlite3_step (%d: %s) rs", rc, sqlite3_errmsg(handle));
  } else if (rc != SQLITE_DONE) {
    os::logf("Unknown error calling sqlite3_step (%d: %s) rs", rc, sqlite3_errmsg(handle));
  }
  if (rc != SQLITE_DONE) {
    if (parentDB_) parentDB_->noteResult(rc);
    // Keep the failure: the end of the rows must not be mistaken for it once the statement is reset.
    stepError_ = os::Error::withDescription(kSQDatabaseErrorDomain, rc, sqlite3_errmsg(handle));
  }
  close();
  return false;
}

bool SQResultSet::hasAnotherRow() const { return parentDB_ && parentDB_->lastErrorCode() == SQLITE_ROW; }

int SQResultSet::columnCount() const {
  return statement_ && statement_->statement() ? sqlite3_column_count(statement_->statement()) : 0;
}

const std::map<std::string, int>& SQResultSet::columnNameToIndexMap() {
  if (!columnNameToIndexMap_) {
    columnNameToIndexMap_.emplace();
    int count = columnCount();
    for (int i = 0; i < count; ++i) {
      const char* name = sqlite3_column_name(statement_->statement(), i);
      (*columnNameToIndexMap_)[lowercased(name ? name : "")] = i;
    }
  }
  return *columnNameToIndexMap_;
}

int SQResultSet::columnIndexForName(const std::string& columnName) {
  if (columnNameToIndexMap_) {
    auto it = columnNameToIndexMap_->find(lowercased(columnName));
    if (it != columnNameToIndexMap_->end()) return it->second;
  } else if (statement_ && statement_->statement()) {
    // Read straight from the statement: building the map costs more than the row it reads from.
    // From the last column back, so that of two equal names the later one answers, as in the map.
    sqlite3_stmt* statement = statement_->statement();
    for (int i = columnCount() - 1; i >= 0; --i)
      if (namesEqual(sqlite3_column_name(statement, i), columnName)) return i;
  }
  os::log("Warning: I could not find the column named '" + lowercased(columnName) + "'.");
  return -1;
}

std::optional<std::string> SQResultSet::columnNameForIndex(int columnIndex) const {
  if (!validColumn(columnIndex)) return std::nullopt;
  const char* name = sqlite3_column_name(statement_->statement(), columnIndex);
  if (!name) return std::nullopt;
  return std::string(name);
}

bool SQResultSet::validColumn(int columnIndex) const {
  return statement_ && statement_->statement() && columnIndex >= 0 && columnIndex < columnCount();
}

int SQResultSet::intForColumnIndex(int columnIndex) const {
  return validColumn(columnIndex) ? sqlite3_column_int(statement_->statement(), columnIndex) : 0;
}

long SQResultSet::longForColumnIndex(int columnIndex) const {
  return validColumn(columnIndex) ? static_cast<long>(sqlite3_column_int64(statement_->statement(), columnIndex)) : 0;
}

long long SQResultSet::longLongIntForColumnIndex(int columnIndex) const {
  return validColumn(columnIndex) ? sqlite3_column_int64(statement_->statement(), columnIndex) : 0;
}

unsigned long long SQResultSet::unsignedLongLongIntForColumnIndex(int columnIndex) const {
  return static_cast<unsigned long long>(longLongIntForColumnIndex(columnIndex));
}

bool SQResultSet::boolForColumnIndex(int columnIndex) const { return intForColumnIndex(columnIndex) != 0; }

double SQResultSet::doubleForColumnIndex(int columnIndex) const {
  return validColumn(columnIndex) ? sqlite3_column_double(statement_->statement(), columnIndex) : 0;
}

const char* SQResultSet::UTF8StringForColumnIndex(int columnIndex) const {
  if (!validColumn(columnIndex) || columnIndexIsNull(columnIndex)) return nullptr;
  return reinterpret_cast<const char*>(sqlite3_column_text(statement_->statement(), columnIndex));
}

std::optional<std::string> SQResultSet::stringForColumnIndex(int columnIndex) const {
  const char* text = UTF8StringForColumnIndex(columnIndex);
  if (!text) return std::nullopt;
  int bytes = sqlite3_column_bytes(statement_->statement(), columnIndex);
  return std::string(text, static_cast<std::size_t>(bytes));
}

std::optional<std::span<const std::uint8_t>> SQResultSet::dataNoCopyForColumnIndex(int columnIndex) const {
  if (!validColumn(columnIndex) || columnIndexIsNull(columnIndex)) return std::nullopt;
  sqlite3_stmt* statement = statement_->statement();
  const void* bytes = sqlite3_column_blob(statement, columnIndex);
  int size = sqlite3_column_bytes(statement, columnIndex);
  if (!bytes || size <= 0) return std::span<const std::uint8_t>();
  return std::span<const std::uint8_t>(static_cast<const std::uint8_t*>(bytes), static_cast<std::size_t>(size));
}

std::optional<os::Data> SQResultSet::dataForColumnIndex(int columnIndex) const {
  auto bytes = dataNoCopyForColumnIndex(columnIndex);
  if (!bytes) return std::nullopt;
  return os::Data(bytes->begin(), bytes->end());
}

std::optional<os::Date> SQResultSet::dateForColumnIndex(int columnIndex) const {
  if (!validColumn(columnIndex) || columnIndexIsNull(columnIndex)) return std::nullopt;
  return os::Date::fromTimeIntervalSince1970(doubleForColumnIndex(columnIndex));
}

bool SQResultSet::columnIndexIsNull(int columnIndex) const {
  // Without a column there is no value: read it as NULL.
  if (!validColumn(columnIndex)) return true;
  return sqlite3_column_type(statement_->statement(), columnIndex) == SQLITE_NULL;
}

os::Value SQResultSet::objectForColumnIndex(int columnIndex) const {
  if (!validColumn(columnIndex)) return os::Value();
  switch (sqlite3_column_type(statement_->statement(), columnIndex)) {
    case SQLITE_BLOB:
      return os::Value(*dataForColumnIndex(columnIndex));
    case SQLITE_FLOAT:
      return os::Value::real('d', doubleForColumnIndex(columnIndex));
    case SQLITE_INTEGER:
      return os::Value::number('q', longLongIntForColumnIndex(columnIndex));
    case SQLITE_NULL:
      return os::Value();
    default: {
      auto text = stringForColumnIndex(columnIndex);
      return text ? os::Value(*text) : os::Value();
    }
  }
}

std::optional<os::Dictionary> SQResultSet::resultDictionary() const {
  int count = statement_ && statement_->statement() ? sqlite3_data_count(statement_->statement()) : 0;
  if (count == 0) {
    os::log("Warning: There seem to be no columns in this set.");
    return std::nullopt;
  }
  os::Dictionary row;
  for (int i = 0; i < columnCount(); ++i) row.set(columnNameForIndex(i).value_or(""), objectForColumnIndex(i));
  return row;
}

std::optional<os::Dictionary> SQResultSet::resultDict() {
  int count = statement_ && statement_->statement() ? sqlite3_data_count(statement_->statement()) : 0;
  if (count == 0) {
    os::log("Warning: There seem to be no columns in this set.");
    return std::nullopt;
  }
  os::Dictionary row;
  for (const auto& [name, index] : columnNameToIndexMap()) row.set(name, objectForColumnIndex(index));
  return row;
}
