// Single-value queries, schema look-ups, the user version and SQL validation on SQDatabase.
#include <sqlite3.h>

#include <cctype>

#include "foundation/sqlite/SQDatabase.h"
#include "foundation/sqlite/SQResultSet.h"

namespace {
std::string lowercased(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}
}  // namespace

template <class T, class Read>
T SQDatabase::singleValue(std::string_view sql, const os::Array& arguments, T fallback, Read read) {
  auto rs = executeQueryWithArgumentsInArray(sql, arguments);
  if (!rs) return fallback;
  T result = fallback;
  if (rs->next()) result = read(*rs);
  rs->close();
  rs->setParentDB(nullptr);
  return result;
}

std::optional<std::string> SQDatabase::stringForQueryWithArgumentsInArray(std::string_view sql, const os::Array& arguments) {
  return singleValue<std::optional<std::string>>(sql, arguments, std::nullopt,
                                                 [](SQResultSet& rs) { return rs.stringForColumnIndex(0); });
}

int SQDatabase::intForQueryWithArgumentsInArray(std::string_view sql, const os::Array& arguments) {
  return singleValue<int>(sql, arguments, 0, [](SQResultSet& rs) { return rs.intForColumnIndex(0); });
}

std::int64_t SQDatabase::longForQueryWithArgumentsInArray(std::string_view sql, const os::Array& arguments) {
  return singleValue<std::int64_t>(sql, arguments, 0, [](SQResultSet& rs) { return rs.longLongIntForColumnIndex(0); });
}

double SQDatabase::doubleForQueryWithArgumentsInArray(std::string_view sql, const os::Array& arguments) {
  return singleValue<double>(sql, arguments, 0.0, [](SQResultSet& rs) { return rs.doubleForColumnIndex(0); });
}

std::optional<os::Data> SQDatabase::dataForQueryWithArgumentsInArray(std::string_view sql, const os::Array& arguments) {
  return singleValue<std::optional<os::Data>>(sql, arguments, std::nullopt, [](SQResultSet& rs) { return rs.dataForColumnIndex(0); });
}

std::optional<os::Date> SQDatabase::dateForQueryWithArgumentsInArray(std::string_view sql, const os::Array& arguments) {
  return singleValue<std::optional<os::Date>>(sql, arguments, std::nullopt, [](SQResultSet& rs) { return rs.dateForColumnIndex(0); });
}

bool SQDatabase::tableExists(const std::string& tableName) {
  auto rs = executeQuery("select [sql] from sqlite_master where [type] = 'table' and lower(name) = ?", lowercased(tableName));
  if (!rs) return false;
  bool found = rs->next();
  rs->close();
  return found;
}

std::shared_ptr<SQResultSet> SQDatabase::getSchema() {
  return executeQuery(
      "SELECT type, name, tbl_name, rootpage, sql FROM (SELECT * FROM sqlite_master UNION ALL SELECT * FROM sqlite_temp_master) "
      "WHERE type != 'meta' AND name NOT LIKE 'sqlite_%' ORDER BY tbl_name, type DESC, name");
}

std::shared_ptr<SQResultSet> SQDatabase::getTableSchema(const std::string& tableName) {
  // The table name is a bound value, never part of the SQL text.
  return executeQuery("select * from pragma_table_info(?)", tableName);
}

bool SQDatabase::columnExists(const std::string& columnName, const std::string& tableName) {
  std::string column = lowercased(columnName);
  auto rs = getTableSchema(lowercased(tableName));
  if (!rs) return false;
  bool found = false;
  while (rs->next()) {
    if (lowercased(rs->stringForColumn("name").value_or("")) == column) {
      found = true;
      break;
    }
  }
  rs->close();
  return found;
}

bool SQDatabase::columnExistsColumnName(const std::string& tableName, const std::string& columnName) {
  return columnExists(columnName, tableName);
}

std::uint32_t SQDatabase::userVersion() {
  auto rs = executeQuery("pragma user_version");
  if (!rs) return 0;
  std::uint32_t version = 0;
  if (rs->next()) version = static_cast<std::uint32_t>(rs->longLongIntForColumnIndex(0));
  rs->close();
  return version;
}

void SQDatabase::setUserVersion(std::uint32_t version) {
  // A pragma takes no bound values; the number is formatted by us, not by the caller.
  auto rs = executeQuery("pragma user_version = " + std::to_string(static_cast<std::int32_t>(version)));
  if (!rs) return;
  rs->next();
  rs->close();
}

bool SQDatabase::validateSQL(std::string_view sql, os::Error* error) {
  if (!databaseExists()) return false;
  std::string text(sql);
  sqlite3_stmt* statement = nullptr;
  int rc = sqlite3_prepare_v2(db_, text.c_str(), -1, &statement, nullptr);
  bool ok = rc == SQLITE_OK;
  if (!ok && error) *error = os::Error::withDescription("NSCocoaErrorDomain", lastErrorCode(), lastErrorMessage());
  sqlite3_finalize(statement);
  return ok;
}

std::optional<os::Error> SQDatabase::quickCheck() {
  if (!databaseExists()) return os::Error::withDescription(kSQDatabaseErrorDomain, SQLITE_MISUSE, "The database is not open.");
  auto rs = executeQuery("pragma quick_check");
  if (!rs) return lastError();
  std::optional<std::string> verdict;
  if (rs->next()) verdict = rs->stringForColumnIndex(0);
  // Read the whole answer: a damaged page can surface after the first line.
  while (rs->next()) verdict = "damaged";
  if (rs->stepError()) return rs->stepError();
  rs->close();
  if (verdict != "ok") {
    damageDetected_ = true;
    return os::Error::withDescription(kSQDatabaseErrorDomain, SQLITE_CORRUPT, "The database file is damaged: " + verdict.value_or("no answer"));
  }
  return std::nullopt;
}
